#pragma once

#include <array>
#include <cstddef>
#include <optional>

namespace velmarune {

struct PanelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PanelRect&) const = default;
};

// The floating panels, in their order from the top of the screen down.
enum class PanelSlot : size_t { queue, hud, didntPaste };
inline constexpr size_t kPanelSlotCount = 3;

// Where the floating panels go: top-right of the work area (panels and docks
// excluded), 20 px in, stacked top-down 8 px apart so that none covers
// another.
struct PanelStack {
    static constexpr int kInsetPx = 20;
    static constexpr int kGapPx = 8;

    using Sizes = std::array<std::optional<PanelRect>, kPanelSlotCount>;  // width and height
    // The frame of each shown panel (an absent size is a hidden panel).
    static Sizes place(const PanelRect& workArea, const Sizes& sizes);
};

}  // namespace velmarune
