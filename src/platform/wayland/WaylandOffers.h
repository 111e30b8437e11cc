#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "platform/PasteboardOffer.h"

namespace velmarune {

// Reads `fd` to its end: absent when `stop` says so, on an error, or when the
// writer is silent for `replySeconds` before the first bytes or
// `chunkSeconds` between later ones.
std::optional<PasteboardBytes> readPipe(int fd, const std::function<bool()>& stop,
                                        double replySeconds, double chunkSeconds);

}  // namespace velmarune
