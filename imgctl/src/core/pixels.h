// SPDX-License-Identifier: MIT
// The pixel rules every reader, writer and conversion shares, each defined
// once: widening a bit field to 8 bits, laying a colour over white, the gray
// ramp and padding a short palette.
#pragma once

#include "core/image.h"

#include <array>
#include <cstdint>
#include <vector>

namespace imgctl {

// round(x / 255) for 0 <= x <= 65535, without a division.
inline uint32_t div255(uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

// One channel of a colour with alpha a laid over white, rounded.
inline uint8_t overWhite(uint32_t c, uint32_t a) {
    return static_cast<uint8_t>(div255(c * a + 255 * (255 - a)));
}

// A palette entry laid over white: an opaque entry.
inline PaletteEntry overWhite(const PaletteEntry &e) {
    if (e.a == 255) return e;
    return {overWhite(e.b, e.a), overWhite(e.g, e.a), overWhite(e.r, e.a), 255};
}

// A bit field of max + 1 levels (max > 0) widened to 8 bits, rounded:
// round(v * 255 / max).
inline constexpr uint8_t widenField(uint32_t v, uint32_t max) {
    return static_cast<uint8_t>((uint64_t{v} * 510 + max) / (uint64_t{max} * 2));
}

// The 32 levels of a 5-bit field widened to 8 bits.
inline constexpr std::array<uint8_t, 32> kFiveToEight = [] {
    std::array<uint8_t, 32> t{};
    for (uint32_t v = 0; v < 32; ++v)
        t[v] = widenField(v, 31);
    return t;
}();

// The nearest of the 32 levels of a 5-bit field for an 8-bit channel.
inline uint32_t nearestFive(uint32_t c) {
    return (c * 31 + 127) / 255;
}

// Entry i of the gray ramp of `levels` entries (2 to 256): i * 255 / (levels - 1).
inline uint8_t grayLevel(uint32_t i, uint32_t levels) {
    return static_cast<uint8_t>(i * 255 / (levels - 1));
}

// The gray ramp of `levels` opaque entries.
std::vector<PaletteEntry> grayRamp(uint32_t levels);

// True when the palette is exactly the gray ramp of its own size.
bool isGrayRamp(const std::vector<PaletteEntry> &palette);

// The highest palette index any pixel of a 1, 4 or 8-bit image uses.
uint32_t highestIndex(const Image &image);

// A palette shorter than the indices its pixels use is padded with opaque
// black, so that every index names an entry.
void padPalette(Image &image);

} // namespace imgctl
