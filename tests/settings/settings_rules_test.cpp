// SPDX-License-Identifier: MIT
// The rules by which the control events write the settings record: the number
// rule (including text that is no number), the check rule and the start values.
#include "settings_rules.h"

#include <gtest/gtest.h>

#include <optional>

using namespace nubaro;

namespace {

TEST(NumberRule, RoundsDownOrKeepsTheLastValue) {
    const std::pair<const char *, std::optional<int16_t>> kNumbers[] = {
        {"0", 0},
        {"60", 60},
        {"300", 300},
        {"2.9", 2},
        {"-1.5", -2},
        {"-0.5", -1},
        {"-0", 0},
        {".5", 0},
        {"3.", 3},
        {"+7", 7},
        {" 42 ", 42},
        {"\t7\r\n", 7},
        {"007", 7},
        {"1e2", 100},
        {"2.5E1", 25},
        {"1e+1", 10},
        {"25e-1", 2},
        // The edges of a signed 16-bit field.
        {"32767", 32767},
        {"32767.99", 32767},
        {"-32768", -32768},
        {"-32767.5", -32768},
        // Outside that range: the rounded value does not fit.
        {"32768", std::nullopt},
        {"-32768.5", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"1e400", std::nullopt},
        // Not a number at all: the field keeps its last value.
        {"", std::nullopt},
        {" ", std::nullopt},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {".", std::nullopt},
        {"-.", std::nullopt},
        {"abc", std::nullopt},
        {"12a", std::nullopt},
        {"1 2", std::nullopt},
        {"1.2.3", std::nullopt},
        {"--1", std::nullopt},
        {"1e", std::nullopt},
        {"1e+", std::nullopt},
        {"0x10", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"1,5", std::nullopt},
        {"６０", std::nullopt}};
    for (const auto &[text, number] : kNumbers) {
        EXPECT_EQ(numberFromText(text), number) << '"' << text << '"';
        int16_t field = 1234; // the last value that converted
        applyNumberRule(field, text);
        EXPECT_EQ(field, number.value_or(1234)) << '"' << text << '"';
    }
}

TEST(CheckRule, CheckedIsMinusOneUncheckedIsZeroGrayedKeeps) {
    const std::pair<int, int16_t> kChecks[] = {{1, kTrue}, {2, kTrue}, {0, kFalse}, {2, kFalse}};
    int16_t field = 0;
    for (const auto &[check, expected] : kChecks) {
        applyCheckRule(field, check);
        EXPECT_EQ(field, expected) << check;
    }
}

TEST(StartValues, WrittenOverAnyPreviousRun) {
    ConversionSettings s;
    // What a previous run might have left, had anything survived it.
    s.filterIndex = 3, s.bitDepthIndex = 2, s.jpegQuality = 12, s.grayLevel = 200;
    s.progressive = s.detailsShown = s.interlaced = kTrue, s.pngLevel = 9, s.formatIndex = 1;
    fillExtensionTable(s);
    writeStartValues(s);
    EXPECT_EQ(s.extensions, (std::array<std::string, 3>{"bmp", "jpg", "png"}));
    EXPECT_EQ(std::vector<int>({s.filterIndex, s.bitDepthIndex, s.jpegQuality, s.grayLevel,
                                s.progressive, s.detailsShown, s.pngLevel}),
              std::vector<int>({0, 0, 60, 0, kFalse, kFalse, 5}));
    // Not written by start-up: they keep what the record holds.
    EXPECT_EQ(s.formatIndex, 1);
    EXPECT_EQ(s.interlaced, kTrue);
}

} // namespace
