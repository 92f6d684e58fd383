// SPDX-License-Identifier: MIT
// The rules by which the control events write the settings record: the number
// rule (including text that is no number), the check rule and the start values.
#include "settings_rules.h"

#include <gtest/gtest.h>

#include <optional>

using namespace nubaro;

namespace {

TEST(NumberRule, RoundsDownOrKeepsTheLastValue) {
    // Numbers, rounded down, up to the edges of a signed 16-bit field.
    using N = std::pair<const char *, int16_t>;
    const N kNumbers[] = {
        N{"0", 0},           N{"60", 60},          N{"2.9", 2},       N{"-1.5", -2},
        N{"-0.5", -1},       N{"-0", 0},           N{".5", 0},        N{"+7", 7},
        N{" 42 ", 42},       N{"\t7\r\n", 7},      N{"1e2", 100},     N{"2.5E1", 25},
        N{"1e+1", 10},       N{"25e-1", 2},        N{"32767", 32767}, N{"32767.99", 32767},
        N{"-32768", -32768}, N{"-32767.5", -32768}};
    // Out of that range once rounded, or no number at all.
    const char *kRefused[] = {"32768", "-32768.5", "99999999999999999999",
                              "1e400", "",         " ",
                              "-",     "+",        ".",
                              "-.",    "abc",      "12a",
                              "1 2",   "1.2.3",    "--1",
                              "1e",    "1e+",      "0x10",
                              "inf",   "nan",      "1,5",
                              "６０"};
    for (const auto &[text, number] : kNumbers) {
        EXPECT_EQ(numberFromText(text), number) << '"' << text << '"';
        int16_t field = 1234;
        applyNumberRule(field, text);
        EXPECT_EQ(field, number) << '"' << text << '"';
    }
    for (const char *text : kRefused) {
        EXPECT_EQ(numberFromText(text), std::nullopt) << '"' << text << '"';
        int16_t field = 1234; // the last value that converted stays
        applyNumberRule(field, text);
        EXPECT_EQ(field, 1234) << '"' << text << '"';
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
