// SPDX-License-Identifier: MIT
// The window's Qt-free rules: the details toggle's decision and the mapping
// of the form's outer heights onto the window. (The panels are checked
// through the real widgets in window_test.cpp.)
#include "window_rules.h"

#include <gtest/gtest.h>

using namespace nubaro;

namespace {

TEST(DetailsToggle, DecidesOnHeightAlone) {
    // Exactly the collapsed height expands; any other, even one just off, collapses.
    for (int before : {1575, 4200, 1590, 1560, 3000, 0}) {
        const ToggleOutcome outcome = detailsToggle(before);
        const bool expands = before == 1575;
        EXPECT_EQ(outcome.heightTwips, expands ? 4200 : 1575) << before;
        EXPECT_EQ(outcome.caption, expands ? "詳細隠す(&S)" : "詳細表示(&S)");
        EXPECT_EQ(outcome.detailsShown, expands ? -1 : 0);
    }
}

TEST(WindowHeights, FormHeightsGiveTheFormsClientAreas) {
    // Whatever the menu bar's height, the client area is 61 pixels collapsed
    // (915 twips: below the command band's bottom at 855, above the options
    // area's top at 960) and 236 pixels expanded (3540 twips); reading the
    // height back gives the height set.
    for (int menuBar : {18, 19, 25}) {
        EXPECT_EQ(windowHeightForOuterTwips(1575, menuBar), 61 + menuBar);
        EXPECT_EQ(windowHeightForOuterTwips(4200, menuBar), 236 + menuBar);
        for (int twips : {1575, 4200, 3000, 2010})
            EXPECT_EQ(outerTwipsForWindowHeight(windowHeightForOuterTwips(twips, menuBar), menuBar),
                      twips);
    }
}

} // namespace
