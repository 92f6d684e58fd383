// SPDX-License-Identifier: MIT
// The spinner's stepping: bounds without wrap, step 1, the text it writes and
// how it takes a typed number as its position.
#include "spinner_logic.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>

using namespace nubaro;

namespace {

// The three spinners of the window: upper, lower, start.
struct Range {
    const char *box;
    int upper;
    int lower;
    int start;
};

void PrintTo(const Range &r, std::ostream *os) {
    *os << r.box;
}

class SpinnerRanges : public ::testing::TestWithParam<Range> {};

TEST_P(SpinnerRanges, StepsByOneAndStopsAtEachBound) {
    const Range &r = GetParam();
    SpinnerLogic spinner(r.upper, r.lower, r.start);
    EXPECT_EQ(spinner.text(), std::to_string(r.start));

    // Up from the start to the upper bound, one at a time, then no further.
    int expected = r.start;
    for (int i = 0; i < r.upper - r.lower + 5; ++i) {
        expected = std::min(expected + 1, r.upper);
        EXPECT_EQ(spinner.step(spinner.text(), true), expected);
    }
    EXPECT_EQ(spinner.text(), std::to_string(r.upper));
    // Down to the lower bound, then no further (no wrap to the top either).
    for (int i = 0; i < r.upper - r.lower + 5; ++i)
        spinner.step(spinner.text(), false);
    EXPECT_EQ(spinner.position(), r.lower);
    EXPECT_EQ(spinner.text(), std::to_string(r.lower));
    EXPECT_EQ(spinner.step(spinner.text(), false), r.lower);
}

INSTANTIATE_TEST_SUITE_P(Window, SpinnerRanges,
                         ::testing::Values(Range{"Text3", 255, 0, 0}, Range{"Text4", 100, 1, 60},
                                           Range{"Text5", 9, 0, 5}),
                         [](const auto &info) { return std::string(info.param.box); });

struct TypedCase {
    const char *boxText;
    bool up;
    int expected; // from a spinner 0..255 whose own position is 10
};

void PrintTo(const TypedCase &c, std::ostream *os) {
    *os << '"' << c.boxText << (c.up ? "\" up" : "\" down");
}

class SpinnerTypedText : public ::testing::TestWithParam<TypedCase> {};

TEST_P(SpinnerTypedText, TakesAWholeNumberInRangeAsItsPosition) {
    const TypedCase &c = GetParam();
    SpinnerLogic spinner(255, 0, 10);
    EXPECT_EQ(spinner.step(c.boxText, c.up), c.expected) << '"' << c.boxText << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Gray, SpinnerTypedText,
    ::testing::Values(TypedCase{"10", true, 11}, TypedCase{"100", true, 101},
                      TypedCase{"100", false, 99}, TypedCase{"255", true, 255},
                      TypedCase{"0", false, 0},
                      // Not a whole number within the range: the own position counts.
                      TypedCase{"300", true, 11}, TypedCase{"-1", false, 9},
                      TypedCase{"2.9", true, 11}, TypedCase{"", true, 11}, TypedCase{"-", false, 9},
                      TypedCase{"abc", true, 11}, TypedCase{" 50", true, 11},
                      TypedCase{"50 ", true, 11}));

TEST(SpinnerLogic, StartPositionOutsideTheRangeIsClamped) {
    EXPECT_EQ(SpinnerLogic(9, 0, 12).position(), 9);
    EXPECT_EQ(SpinnerLogic(100, 1, 0).position(), 1);
}

TEST(SpinnerLogic, UpperBelowLowerMakesUpCountDown) {
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
