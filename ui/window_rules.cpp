// SPDX-License-Identifier: MIT
#include "window_rules.h"

namespace nubaro {

namespace {

constexpr std::string_view kBmpPanel[] = {"Frame1",     "Frame3", "Option1(0)", "Option1(1)",
                                          "Option1(2)", "Check1", "Label3",     "Text3"};
constexpr std::string_view kJpegPanel[] = {"Frame5", "Label5", "Text4", "Check3"};
constexpr std::string_view kPngPanel[] = {"Frame6", "Label6", "Text5", "Check4"};

} // namespace

std::span<const std::string_view> panelControls(Panel panel) {
    switch (panel) {
    case Panel::Bmp:
        return kBmpPanel;
    case Panel::Jpeg:
        return kJpegPanel;
    case Panel::Png:
        return kPngPanel;
    }
    return {};
}

std::array<bool, 3> panelStatesForFormat(int formatIndex) {
    return {formatIndex == 0, formatIndex == 1, formatIndex == 2};
}

ToggleOutcome detailsToggle(int currentHeightTwips) {
    if (currentHeightTwips == kCollapsedHeightTwips)
        return {kExpandedHeightTwips, kHideDetailsCaption, -1};
    return {kCollapsedHeightTwips, kShowDetailsCaption, 0};
}

} // namespace nubaro
