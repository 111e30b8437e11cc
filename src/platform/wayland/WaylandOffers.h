#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "platform/PasteboardOffer.h"

namespace velmarune {

// What we offer for the items we are given: their types, every text type a
// client may ask for where text is promised, and the password-manager hint
// for a transient item. The clipboard holds one item; more are dropped.
std::vector<PasteboardOffer> buildOffers(std::vector<PasteboardItem> items);

// Reads `fd` to its end: absent when `stop` says so, on an error, or when the
// writer is silent for `replySeconds` before the first bytes or
// `chunkSeconds` between later ones.
std::optional<PasteboardBytes> readPipe(int fd, const std::function<bool()>& stop,
                                        double replySeconds, double chunkSeconds);

}  // namespace velmarune
