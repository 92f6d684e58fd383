// SPDX-License-Identifier: MIT
// The record of the user's conversion choices. The window holds exactly one;
// its control events write the fields, Browse and Convert read them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Truth values are 16-bit: -1 true, 0 false.
inline constexpr int16_t kTrue = -1;
inline constexpr int16_t kFalse = 0;

struct ConversionSettings {
    int16_t bitDepthIndex = 0;             // 0 "24ビット", 1 "16ビット", 2 "8ビット"
    int16_t formatIndex = 0;               // 0 BMP, 1 JPEG, 2 PNG
    std::string sourcePath;                // UTF-8, as the open dialog returned it
    std::array<std::string, 3> extensions; // "bmp", "jpg", "png" after start-up
    int16_t filterIndex = 0;      // the open dialog's 1-based filter entry, 0 before the first
    int16_t grayLevel = 0;        // from Text3
    int16_t jpegQuality = 0;      // from Text4
    int16_t progressive = kFalse; // from Check3
    int16_t detailsShown = kFalse;
    int16_t pngLevel = 0;        // from Text5
    int16_t interlaced = kFalse; // from Check4; only -1 counts as true
};
