// SPDX-License-Identifier: MIT
// The rules by which the window's control events write ConversionSettings.
// Qt-free: the window calls them with the controls' current text and state.
#pragma once

#include "conversion_settings.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace nubaro {

// Number rule of the number boxes (Text3, Text4, Text5): the box's whole text
// read as a decimal number (a fraction and an exponent are accepted, blanks
// around it are ignored), rounded down to the next integer. Returns nothing
// when the text is not a number (empty, a lone sign, letters) or when the
// rounded value does not fit a signed 16-bit integer.
std::optional<int16_t> numberFromText(std::string_view text);

// Applies the number rule to one field: the field takes the rounded number,
// or keeps its last value when the text gives none, so that it always holds
// an integer the conversion can use.
void applyNumberRule(int16_t &field, std::string_view text);

// Check rule (Check3, Check4): box state 1 (checked) stores -1, state 0
// (unchecked) stores 0, any other state (grayed) leaves the field alone.
void applyCheckRule(int16_t &field, int checkValue);

// Index rule (Option, Option1): the chosen button's index, stored unchanged.
void applyIndexRule(int16_t &field, int index);

// Start-up fills the extension table: "bmp", "jpg", "png" in format order.
void fillExtensionTable(ConversionSettings &settings);

// The start values that start-up writes next, in their order: filterIndex,
// bitDepthIndex, jpegQuality, grayLevel, progressive, detailsShown and
// pngLevel. formatIndex and interlaced keep the record's zero.
void writeStartValues(ConversionSettings &settings);

} // namespace nubaro
