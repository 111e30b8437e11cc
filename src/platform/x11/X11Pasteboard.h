#pragma once

#include <memory>
#include <string>

#include "platform/Pasteboard.h"

namespace velmarune {

class X11EventLoop;

// The CLIPBOARD selection. Ownership is held from a hidden window, served on
// an X event loop: promised text is produced only when a client asks for it.
// A write returns at once; the loop takes ownership in order with the other
// work posted to it (the paste keystroke), or not at all once `writeSeconds`
// have passed. XFixes events count the writes of other clients; an owner
// quitting is no write. Snapshots read the current owner's every target on
// a second connection.
class X11Pasteboard : public Pasteboard {
  public:
    struct Bounds {
        double replySeconds = 1.0;  // for an owner to answer one request
        double chunkSeconds = 1.0;  // between two chunks of a large transfer
        double writeSeconds = 1.0;  // after which a write not yet made is dropped
        size_t maxTargets = 256;    // of an owner's target list
    };

    X11Pasteboard();
    explicit X11Pasteboard(Bounds bounds);
    ~X11Pasteboard() override;
    X11Pasteboard(const X11Pasteboard&) = delete;
    X11Pasteboard& operator=(const X11Pasteboard&) = delete;

    // Connects to `display` (DISPLAY when empty) on an event loop of its own
    // and starts it. False, with the reason in `error`, when the server
    // cannot be used.
    bool start(const std::string& display, std::string* error = nullptr);
    // Owns the selection on a connected loop that has not started yet (its
    // owner starts it); snapshots read on a connection to `display`.
    bool attach(std::shared_ptr<X11EventLoop> loop, const std::string& display,
                std::string* error = nullptr);
    void stop();

    int64_t changeCount() const override;
    void setItems(std::vector<PasteboardItem> items) override;
    std::vector<std::shared_ptr<PasteboardItemReader>> readItems() override;
    std::string plainTextType() const override { return "UTF8_STRING"; }
    std::vector<std::string> preferredTypes() const override;

    struct Impl;

  private:
    std::shared_ptr<Impl> m_impl;
    bool m_ownLoop = false;
};

}  // namespace velmarune
