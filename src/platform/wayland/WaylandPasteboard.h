#pragma once

#include <memory>
#include <string>

#include "platform/Pasteboard.h"

namespace velmarune {

class WaylandEventLoop;

// The clipboard (the seat's selection) through the data-control protocol
// (ext-data-control-v1, or zwlr_data_control_manager_v1 where only that is
// offered). A write makes a data source served on the event loop: promised
// text is produced only when a client asks for it, so each `send` is a
// read. The compositor tells every selection change, which keeps the change
// count and the current selection's types in memory; snapshots read the
// selection's every type through pipes on the snapshot queue. An owner that
// quits (the selection becomes empty) wrote nothing.
class WaylandPasteboard : public Pasteboard {
  public:
    struct Bounds {
        double replySeconds = 1.0;  // for an owner to start answering
        double chunkSeconds = 1.0;  // between two chunks of a large transfer
        double writeSeconds = 1.0;  // after which a write not yet made is dropped
        size_t maxTypes = 256;      // of an owner's type list
    };

    WaylandPasteboard();
    explicit WaylandPasteboard(Bounds bounds);
    ~WaylandPasteboard() override;
    WaylandPasteboard(const WaylandPasteboard&) = delete;
    WaylandPasteboard& operator=(const WaylandPasteboard&) = delete;

    // On a connected loop that has not started yet; its owner starts it.
    // False, with the reason, when the compositor offers no data control.
    bool attach(std::shared_ptr<WaylandEventLoop> loop, std::string* error = nullptr);
    // The protocol in use ("ext-data-control-v1" or "wlr-data-control-unstable-v1").
    std::string protocolName() const;

    int64_t changeCount() const override;
    void setItems(std::vector<PasteboardItem> items) override;
    std::vector<std::shared_ptr<PasteboardItemReader>> readItems() override;
    std::string plainTextType() const override { return "text/plain;charset=utf-8"; }
    std::vector<std::string> preferredTypes() const override;

    struct Impl;

  private:
    // The loop outlives the protocol objects made on its connection.
    std::shared_ptr<WaylandEventLoop> m_loop;
    std::shared_ptr<Impl> m_impl;
};

}  // namespace velmarune
