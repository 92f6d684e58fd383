// SPDX-License-Identifier: MIT
// The spinner's stepping: bounds without wrap, step 1, how it takes a typed
// number as its position, and the held arrow's pace.
#include "spinner_logic.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace nubaro;

namespace {

TEST(SpinnerLogic, TakesAWholeNumberInRangeAsItsPosition) {
    // From a spinner 0..255 whose own position is 10: the box's text, the
    // arrow (up or not) and the position after the step, by one, stopping at
    // either bound without wrapping. (The window's own spinners are stepped
    // through their widgets in window_test.cpp.)
    const std::tuple<const char *, bool, int> kTyped[] = {
        {"100", true, 101}, {"100", false, 99}, {"255", true, 255}, {"0", false, 0}};
    for (const auto &[text, up, expected] : kTyped)
        EXPECT_EQ(SpinnerLogic(255, 0, 10).step(text, up), expected) << '"' << text << '"';
    // Not a whole number within the range: the own position counts.
    for (const char *text : {"256", "-1", "2.9", "", "-", "abc", " 50", "50 ", "+50"}) {
        EXPECT_EQ(SpinnerLogic(255, 0, 10).step(text, true), 11) << '"' << text << '"';
        EXPECT_EQ(SpinnerLogic(255, 0, 10).step(text, false), 9) << '"' << text << '"';
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
