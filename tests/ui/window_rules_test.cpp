// SPDX-License-Identifier: MIT
// The window's Qt-free rules: the mapping of the form's outer heights and the
// details toggle's decision. (The panel table is checked through the real
// widgets in window_test.cpp.)
#include "window_rules.h"

#include <gtest/gtest.h>

#include <ostream>

using namespace nubaro;

namespace {

struct ToggleCase {
    int heightBefore;
    int heightAfter;
    const char *caption;
    int16_t detailsShown;
};

void PrintTo(const ToggleCase &c, std::ostream *os) {
    *os << c.heightBefore;
}

class DetailsToggle : public ::testing::TestWithParam<ToggleCase> {};

TEST_P(DetailsToggle, DecidesOnHeightAlone) {
    const ToggleCase &c = GetParam();
    const ToggleOutcome outcome = detailsToggle(c.heightBefore);
    EXPECT_EQ(outcome.heightTwips, c.heightAfter);
    EXPECT_EQ(outcome.caption, c.caption);
    EXPECT_EQ(outcome.detailsShown, c.detailsShown);
}

INSTANTIATE_TEST_SUITE_P(
    Heights, DetailsToggle,
    ::testing::Values(
        ToggleCase{1575, 4200, "詳細隠す(&S)", -1}, ToggleCase{4200, 1575, "詳細表示(&S)", 0},
        // Any other height counts as expanded, even one just off.
        ToggleCase{1590, 1575, "詳細表示(&S)", 0}, ToggleCase{1560, 1575, "詳細表示(&S)", 0},
        ToggleCase{3000, 1575, "詳細表示(&S)", 0}, ToggleCase{0, 1575, "詳細表示(&S)", 0}));

TEST(WindowHeights, FormHeightsGiveTheFormsClientAreas) {
    // Whatever the menu bar's height, the client area is 61 pixels collapsed
    // (915 twips: below the command band's bottom at 855, above the options
    // area's top at 960) and 236 pixels expanded (3540 twips).
    for (int menuBar : {18, 19, 25}) {
        EXPECT_EQ(windowHeightForOuterTwips(kCollapsedHeightTwips, menuBar), 61 + menuBar);
        EXPECT_EQ(windowHeightForOuterTwips(kExpandedHeightTwips, menuBar), 236 + menuBar);
    }
}

TEST(WindowHeights, ReadingBackGivesTheHeightSet) {
    for (int menuBar : {18, 19}) {
        for (int twips : {1575, 4200, 3000, 2010}) {
            EXPECT_EQ(outerTwipsForWindowHeight(windowHeightForOuterTwips(twips, menuBar), menuBar),
                      twips)
                << twips << " with a menu bar of " << menuBar;
        }
    }
}

} // namespace
