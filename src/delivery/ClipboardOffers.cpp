#include "delivery/ClipboardOffers.h"

#include <set>

#include "foundation/Log.h"

namespace velmarune {

namespace {
const Logger log{"Pasteboard"};
// The hint Linux clipboard managers honour.
constexpr const char* kPasswordHint = "x-kde-passwordManagerHint";
}  // namespace

std::vector<PasteboardOffer> buildOffers(std::vector<PasteboardItem> items,
                                         const std::string& plainTextType) {
    std::vector<PasteboardOffer> result;
    if (items.empty()) {
        return result;
    }
    if (items.size() > 1) {
        log.info("the clipboard holds one item; %{public}ld more dropped",
                 static_cast<int64_t>(items.size() - 1));
    }
    auto& item = items.front();
    std::set<std::string> names;
    auto add = [&](PasteboardOffer offer) {
        if (names.insert(offer.name).second) {
            result.push_back(std::move(offer));
        }
    };
    bool transient = false;
    for (auto& [type, data] : item.data) {
        transient = transient || type == kTransientPasteboardType;
        add(PasteboardOffer{type, data, nullptr, {}});
    }
    for (const auto& type : item.promisedTypes) {
        if (type == plainTextType) {
            // Every text type a client may ask for, each one a read.
            add(PasteboardOffer{type, std::nullopt, item.provider, type});
            for (const char* name :
                 {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "STRING", "TEXT"}) {
                add(PasteboardOffer{name, std::nullopt, item.provider, type});
            }
        } else {
            add(PasteboardOffer{type, std::nullopt, item.provider, type});
        }
    }
    if (transient) {
        add(PasteboardOffer{kPasswordHint, PasteboardBytes("secret"), nullptr, {}});
    }
    return result;
}

}  // namespace velmarune
