// SPDX-License-Identifier: MIT
// The spinner's stepping: bounds without wrap, step 1, the text it writes,
// how it takes a typed number as its position, and the held arrow's pace.
#include "spinner_logic.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

using namespace nubaro;

namespace {

TEST(SpinnerLogic, StepsByOneAndStopsAtEachBound) {
    // The window's three spinners: upper, lower, start.
    const std::tuple<int, int, int> kSpinners[] = {{255, 0, 0}, {100, 1, 60}, {9, 0, 5}};
    for (const auto &[upper, lower, start] : kSpinners) {
        SCOPED_TRACE(upper);
        SpinnerLogic spinner(upper, lower, start);
        EXPECT_EQ(spinner.text(), std::to_string(start));
        int expected = start;
        for (int i = 0; i < upper - lower + 5; ++i) {
            expected = std::min(expected + 1, upper);
            EXPECT_EQ(spinner.step(spinner.text(), true), expected);
        }
        for (int i = 0; i < upper - lower + 5; ++i)
            spinner.step(spinner.text(), false);
        EXPECT_EQ(spinner.text(), std::to_string(lower)) << "no wrap to the top";
        EXPECT_EQ(spinner.step(spinner.text(), false), lower);
    }
}

TEST(SpinnerLogic, TakesAWholeNumberInRangeAsItsPosition) {
    // From a spinner 0..255 whose own position is 10: the box's text, the
    // arrow (up or not) and the position after the step.
    const std::tuple<const char *, bool, int> kTyped[] = {
        {"10", true, 11},
        {"100", true, 101},
        {"100", false, 99},
        {"255", true, 255},
        {"0", false, 0},
        // Not a whole number within the range: the own position counts.
        {"256", false, 9},
        {"-1", false, 9},
        {"2.9", true, 11},
        {"", true, 11},
        {"-", false, 9},
        {"abc", true, 11},
        {" 50", true, 11},
        {"50 ", true, 11},
        {"+50", true, 11}};
    for (const auto &[text, up, expected] : kTyped) {
        SpinnerLogic spinner(255, 0, 10);
        EXPECT_EQ(spinner.step(text, up), expected) << '"' << text << '"';
    }
}

TEST(SpinnerLogic, StartOutsideTheRangeIsClampedAndUpperBelowLowerCountsDown) {
    EXPECT_EQ(SpinnerLogic(9, 0, 12).position(), 9);
    EXPECT_EQ(SpinnerLogic(100, 1, 0).position(), 1);
    SpinnerLogic spinner(0, 10, 5);
    EXPECT_EQ(spinner.step("5", true), 4);
    EXPECT_EQ(spinner.step("0", true), 0);
    EXPECT_EQ(spinner.step("10", false), 10);
}

TEST(SpinnerLogic, HeldArrowRepeatsFasterAndFaster) {
    int previous = spinnerRepeatDelayMs(1);
    EXPECT_GE(previous, 250); // a click alone gives one step
    for (int repeats = 2; repeats < 100; ++repeats) {
        const int delay = spinnerRepeatDelayMs(repeats);
        EXPECT_LE(delay, previous);
        EXPECT_GT(delay, 0);
        previous = delay;
    }
    EXPECT_LT(previous, spinnerRepeatDelayMs(2));
}

} // namespace
