#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace velmarune {

// Characters (UTF-8 code points) in `text`: what lengths shown to people and
// written to the diagnostic log count, not bytes.
inline int64_t utf8Characters(std::string_view text) {
    return std::count_if(text.begin(), text.end(),
                         [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
}

}  // namespace velmarune
