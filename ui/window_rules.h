// SPDX-License-Identifier: MIT
// Qt-free rules of the main window: how the form's outer heights map onto
// the toolkit's window, which controls each option panel switches, which panel
// a format choice enables, and the details toggle's decision.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace nubaro {

// ---- Units and heights ------------------------------------------------------

// The form's geometry is in twips; at 96 dots per inch 15 twips are one pixel.
inline constexpr int kTwipsPerPixel = 15;

// The window's outer heights (title bar, menu bar and borders included).
inline constexpr int kCollapsedHeightTwips = 1575;
inline constexpr int kExpandedHeightTwips = 4200;

// On the form, title bar, menu bar and frame take 660 twips of the outer
// height together; the client area is what remains.
inline constexpr int kFormChromeTwips = 660;

// The client area's width on the form: 7935 twips, 529 pixels.
inline constexpr int kClientWidthTwips = 7935;

constexpr int twipsToPixels(int twips) {
    return twips / kTwipsPerPixel;
}

// The one place where the form's outer heights meet the toolkit. Qt's window
// height counts the menu bar but no title bar or border, so the client area
// keeps the form's height (outer height less 660 twips) and the real menu
// bar's height is added on top of it.
constexpr int windowHeightForOuterTwips(int outerTwips, int menuBarPixels) {
    return twipsToPixels(outerTwips - kFormChromeTwips) + menuBarPixels;
}
constexpr int outerTwipsForWindowHeight(int windowPixels, int menuBarPixels) {
    return (windowPixels - menuBarPixels) * kTwipsPerPixel + kFormChromeTwips;
}

// ---- Option panels ----------------------------------------------------------

enum class Panel { Bmp, Jpeg, Png };

// The controls whose enabled state a panel procedure sets, by name, in
// the order the procedure sets them.
std::span<const std::string_view> panelControls(Panel panel);

// The enabled state that a format choice (Option index 0 BMP, 1 JPEG, 2 PNG)
// gives each panel; the panels are called in the order BMP, JPEG, PNG.
std::array<bool, 3> panelStatesForFormat(int formatIndex);

// Check1 (RLE) is usable only for 8-bit output, Option1 index 2.
constexpr bool rleEnabledForBitDepth(int bitDepthIndex) {
    return bitDepthIndex == 2;
}

// ---- Details toggle ---------------------------------------------------------

inline constexpr std::string_view kShowDetailsCaption = "詳細表示(&S)";
inline constexpr std::string_view kHideDetailsCaption = "詳細隠す(&S)";

struct ToggleOutcome {
    int heightTwips;          // the window's new outer height
    std::string_view caption; // Command4's new caption
    int16_t detailsShown;     // -1 expanded, 0 collapsed
};

// Decides on the window's current outer height alone: exactly the collapsed
// height expands, every other height (the expanded one or any odd one)
// collapses.
ToggleOutcome detailsToggle(int currentHeightTwips);

} // namespace nubaro
