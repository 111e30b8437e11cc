#pragma once

#include <memory>
#include <string>

#include "platform/Pasteboard.h"

namespace velmarune {

// The CLIPBOARD selection. Ownership is held from a hidden window on a
// connection of its own, served by its own thread: promised text is produced
// only when a client asks for it. XFixes owner-change events raise the change
// count; our own writes raise it before setItems returns. Snapshots read the
// current owner's every target on a second connection.
class X11Pasteboard : public Pasteboard {
  public:
    struct Bounds {
        double replySeconds = 1.0;  // for an owner to answer one request
        double chunkSeconds = 1.0;  // between two chunks of a large transfer
        double writeSeconds = 1.0;  // for the event thread to take ownership
        size_t maxTargets = 256;    // of an owner's target list
    };

    X11Pasteboard();
    explicit X11Pasteboard(Bounds bounds);
    ~X11Pasteboard() override;
    X11Pasteboard(const X11Pasteboard&) = delete;
    X11Pasteboard& operator=(const X11Pasteboard&) = delete;

    // Connects to `display` (DISPLAY when empty) and starts the event thread.
    // False, with the reason in `error`, when the server cannot be used.
    bool start(const std::string& display, std::string* error = nullptr);
    void stop();

    int64_t changeCount() const override;
    void setItems(std::vector<PasteboardItem> items) override;
    std::vector<std::shared_ptr<PasteboardItemReader>> readItems() override;
    std::string plainTextType() const override { return "UTF8_STRING"; }
    std::vector<std::string> preferredTypes() const override;

    struct Impl;

  private:
    std::shared_ptr<Impl> m_impl;
};

}  // namespace velmarune
