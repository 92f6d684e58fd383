// SPDX-License-Identifier: MIT
// The details toggle's Qt-free decision. (The heights it gives and the panels
// are checked through the real widgets in window_test.cpp.)
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

} // namespace
