#include "ui/PanelStack.h"

#include <algorithm>

namespace velmarune {

PanelStack::Sizes PanelStack::place(const PanelRect& workArea, const Sizes& sizes) {
    Sizes frames;
    int top = workArea.y + kInsetPx;
    for (size_t i = 0; i < kPanelSlotCount; ++i) {
        if (!sizes[i]) {
            continue;
        }
        const PanelRect& size = *sizes[i];
        // A panel wider than the work area keeps its leading edge on screen.
        const int x = std::max(workArea.x, workArea.x + workArea.width - kInsetPx - size.width);
        frames[i] = PanelRect{x, top, size.width, size.height};
        top += size.height + kGapPx;
    }
    return frames;
}

}  // namespace velmarune
