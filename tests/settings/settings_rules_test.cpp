// SPDX-License-Identifier: MIT
// The rules by which the control events write the settings record: the number
// rule (including text that is no number), the check rule, the index rule and
// the start values.
#include "settings_rules.h"

#include <gtest/gtest.h>

#include <ostream>

#include <optional>

using namespace nubaro;

namespace {

struct NumberCase {
    const char *text;
    std::optional<int16_t> number; // nothing: the field keeps its last value
};

void PrintTo(const NumberCase &c, std::ostream *os) {
    *os << '"' << c.text << '"';
}

class NumberRule : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberRule, RoundsDownOrKeepsTheLastValue) {
    const NumberCase &c = GetParam();
    EXPECT_EQ(numberFromText(c.text), c.number) << '"' << c.text << '"';

    int16_t field = 1234; // the last value that converted
    applyNumberRule(field, c.text);
    EXPECT_EQ(field, c.number.value_or(1234)) << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, NumberRule,
    ::testing::Values(
        NumberCase{"0", 0}, NumberCase{"60", 60}, NumberCase{"5", 5}, NumberCase{"300", 300},
        NumberCase{"2.9", 2}, NumberCase{"7.9", 7}, NumberCase{"-1.5", -2}, NumberCase{"-0.5", -1},
        NumberCase{"-0", 0}, NumberCase{".5", 0}, NumberCase{"3.", 3}, NumberCase{"+7", 7},
        NumberCase{" 42 ", 42}, NumberCase{"007", 7}, NumberCase{"1e2", 100},
        NumberCase{"2.5E1", 25},
        // The edges of a signed 16-bit field.
        NumberCase{"32767", 32767}, NumberCase{"32767.99", 32767}, NumberCase{"-32768", -32768},
        NumberCase{"-32767.5", -32768},
        // Outside that range: the rounded value does not fit.
        NumberCase{"32768", std::nullopt}, NumberCase{"-32768.5", std::nullopt},
        NumberCase{"99999999999999999999", std::nullopt}, NumberCase{"1e400", std::nullopt},
        // Not a number at all.
        NumberCase{"", std::nullopt}, NumberCase{" ", std::nullopt}, NumberCase{"-", std::nullopt},
        NumberCase{"+", std::nullopt}, NumberCase{".", std::nullopt},
        NumberCase{"-.", std::nullopt}, NumberCase{"abc", std::nullopt},
        NumberCase{"12a", std::nullopt}, NumberCase{"1 2", std::nullopt},
        NumberCase{"1.2.3", std::nullopt}, NumberCase{"--1", std::nullopt},
        NumberCase{"1e", std::nullopt}, NumberCase{"0x10", std::nullopt},
        NumberCase{"inf", std::nullopt}, NumberCase{"nan", std::nullopt},
        NumberCase{"1,5", std::nullopt}, NumberCase{"６０", std::nullopt}));

TEST(NumberRule, TypingKeepsAnIntegerAtEveryKeystroke) {
    // Deleting "60" and typing "-7.5": every intermediate text leaves a usable value.
    int16_t quality = 60;
    const char *texts[] = {"6", "", "-", "-7", "-7.", "-7.5"};
    const int16_t expected[] = {6, 6, 6, -7, -7, -8};
    for (size_t i = 0; i < std::size(texts); ++i) {
        applyNumberRule(quality, texts[i]);
        EXPECT_EQ(quality, expected[i]) << "after \"" << texts[i] << '"';
    }
}

TEST(CheckRule, CheckedIsMinusOneUncheckedIsZeroGrayedKeeps) {
    int16_t field = 0;
    applyCheckRule(field, 1);
    EXPECT_EQ(field, kTrue);
    applyCheckRule(field, 2);
    EXPECT_EQ(field, kTrue);
    applyCheckRule(field, 0);
    EXPECT_EQ(field, kFalse);
    applyCheckRule(field, 2);
    EXPECT_EQ(field, kFalse);
}

TEST(IndexRule, StoresTheIndexUnchanged) {
    for (int index : {0, 1, 2}) {
        int16_t field = 7;
        applyIndexRule(field, index);
        EXPECT_EQ(field, index);
    }
}

TEST(StartValues, WrittenOverAnyPreviousRun) {
    ConversionSettings settings;
    // What a previous run might have left, had anything survived it.
    settings.filterIndex = 3;
    settings.bitDepthIndex = 2;
    settings.jpegQuality = 12;
    settings.grayLevel = 200;
    settings.progressive = kTrue;
    settings.detailsShown = kTrue;
    settings.pngLevel = 9;
    settings.formatIndex = 1;
    settings.interlaced = kTrue;

    fillExtensionTable(settings);
    writeStartValues(settings);
    EXPECT_EQ(settings.extensions, (std::array<std::string, 3>{"bmp", "jpg", "png"}));
    EXPECT_EQ(settings.filterIndex, 0);
    EXPECT_EQ(settings.bitDepthIndex, 0);
    EXPECT_EQ(settings.jpegQuality, 60);
    EXPECT_EQ(settings.grayLevel, 0);
    EXPECT_EQ(settings.progressive, kFalse);
    EXPECT_EQ(settings.detailsShown, kFalse);
    EXPECT_EQ(settings.pngLevel, 5);
    // Not written by start-up: they keep what the record holds.
    EXPECT_EQ(settings.formatIndex, 1);
    EXPECT_EQ(settings.interlaced, kTrue);
}

} // namespace
