#pragma once

#include <string>
#include <vector>

#include "platform/PasteboardOffer.h"

namespace velmarune {

// What a clipboard backend offers for the items it is given: their types,
// every text type a client may ask for where `plainTextType` (the backend's
// own name for UTF-8 text, offered first) is promised, and the password
// managers' hint for a transient item. The clipboard holds one item; more
// are dropped (logged).
std::vector<PasteboardOffer> buildOffers(std::vector<PasteboardItem> items,
                                         const std::string& plainTextType);

}  // namespace velmarune
