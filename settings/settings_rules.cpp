// SPDX-License-Identifier: MIT
#include "settings_rules.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace nubaro {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Checks that `text` is a plain decimal number: digits with at most one point
// and at least one digit, then optionally an exponent. Anything else (letters,
// "inf", "nan", hexadecimal) is refused before the text reaches from_chars,
// which would accept some of those.
bool isPlainDecimal(std::string_view text) {
    size_t i = 0;
    size_t digits = 0;
    while (i < text.size() && isDigit(text[i]))
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        size_t expDigits = 0;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    return i == text.size();
}

} // namespace

std::optional<int16_t> numberFromText(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);

    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (!isPlainDecimal(text)) return std::nullopt;

    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    // A huge exponent overflows to an error, which is out of range as well.
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    if (negative) value = -value;

    const double floored = std::floor(value);
    if (floored < std::numeric_limits<int16_t>::min() ||
        floored > std::numeric_limits<int16_t>::max())
        return std::nullopt;
    return static_cast<int16_t>(floored);
}

void applyNumberRule(int16_t &field, std::string_view text) {
    if (auto number = numberFromText(text)) field = *number;
}

void applyCheckRule(int16_t &field, int checkValue) {
    if (checkValue == 1)
        field = kTrue;
    else if (checkValue == 0)
        field = kFalse;
}

void applyIndexRule(int16_t &field, int index) {
    field = static_cast<int16_t>(index);
}

void fillExtensionTable(ConversionSettings &settings) {
    settings.extensions = {"bmp", "jpg", "png"};
}

void writeStartValues(ConversionSettings &settings) {
    settings.filterIndex = 0;
    settings.bitDepthIndex = 0;
    settings.jpegQuality = 60;
    settings.grayLevel = 0;
    settings.progressive = kFalse;
    settings.detailsShown = kFalse;
    settings.pngLevel = 5;
}

} // namespace nubaro
