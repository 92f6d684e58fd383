// The window's Qt-free rules: the mapping of the design's outer heights, the
// panel table, the format choice's panel states and the details toggle.
#include "window_rules.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

using namespace nubaro;

namespace {

std::vector<std::string> names(Panel panel) {
    std::vector<std::string> out;
    for (std::string_view name : panelControls(panel))
        out.emplace_back(name);
    return out;
}

TEST(PanelTable, EachProcedureSetsItsControlsInOrder) {
    EXPECT_EQ(names(Panel::Bmp),
              (std::vector<std::string>{"Frame1", "Frame3", "Option1(0)", "Option1(1)",
                                        "Option1(2)", "Check1", "Label3", "Text3"}));
    EXPECT_EQ(names(Panel::Jpeg),
              (std::vector<std::string>{"Frame5", "Label5", "Text4", "Check3"}));
    EXPECT_EQ(names(Panel::Png), (std::vector<std::string>{"Frame6", "Label6", "Text5", "Check4"}));
}

TEST(PanelTable, FormatChoiceEnablesOnlyItsPanel) {
    using States = std::array<bool, 3>;
    EXPECT_EQ(panelStatesForFormat(0), (States{true, false, false}));
    EXPECT_EQ(panelStatesForFormat(1), (States{false, true, false}));
    EXPECT_EQ(panelStatesForFormat(2), (States{false, false, true}));
}

TEST(PanelTable, RleOnlyForEightBit) {
    EXPECT_FALSE(rleEnabledForBitDepth(0));
    EXPECT_FALSE(rleEnabledForBitDepth(1));
    EXPECT_TRUE(rleEnabledForBitDepth(2));
}

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

TEST(WindowHeights, DesignHeightsGiveTheDesignedClientAreas) {
    // Collapsed: the client area ends at 915 twips (61 px), between the command
    // band's bottom (855) and the options area's top (960). Expanded: 3540
    // twips (236 px), 45 twips below the options area's bottom (3495).
    for (int menuBar : {18, 19, 25}) {
        EXPECT_EQ(windowHeightForOuterTwips(1575, menuBar) - menuBar, 61);
        EXPECT_EQ(windowHeightForOuterTwips(4200, menuBar) - menuBar, 236);
        EXPECT_GT(61, 855 / 15);
        EXPECT_LT(61, 960 / 15);
        EXPECT_EQ(236 - 3495 / 15, 3);
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
