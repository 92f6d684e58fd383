// SPDX-License-Identifier: MIT
#include "core/pixels.h"

#include <algorithm>

namespace imgctl {

std::vector<PaletteEntry> grayRamp(uint32_t levels) {
    std::vector<PaletteEntry> ramp(levels);
    for (uint32_t i = 0; i < levels; ++i) {
        const uint8_t v = grayLevel(i, levels);
        ramp[i] = {v, v, v, 255};
    }
    return ramp;
}

bool isGrayRamp(const std::vector<PaletteEntry> &palette) {
    const size_t n = palette.size();
    if (n < 2 || n > 256) return false;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t v = grayLevel(static_cast<uint32_t>(i), static_cast<uint32_t>(n));
        if (palette[i] != PaletteEntry{v, v, v, 255}) return false;
    }
    return true;
}

uint32_t highestIndex(const Image &image) {
    const uint32_t w = image.width;
    uint32_t top = 0;
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t *row = image.row(y);
        switch (image.bitCount) {
        case 8:
            top = std::max<uint32_t>(top, *std::max_element(row, row + w));
            break;
        case 4:
            for (uint32_t i = 0; i < w / 2; ++i)
                top = std::max<uint32_t>(top, std::max(row[i] >> 4, row[i] & 15));
            if (w & 1) top = std::max<uint32_t>(top, row[w / 2] >> 4);
            break;
        default: { // 1 bit: any set bit is index 1
            uint8_t any = 0;
            for (uint32_t i = 0; i < w / 8; ++i)
                any |= row[i];
            if (w & 7) any |= row[w / 8] & static_cast<uint8_t>(0xFF00 >> (w & 7));
            if (any) return 1;
        }
        }
    }
    return top;
}

void padPalette(Image &image) {
    if (!image.isPalette() || image.palette.size() >= (size_t{1} << image.bitCount)) return;
    const uint32_t top = highestIndex(image);
    if (top >= image.palette.size())
        image.palette.resize(size_t{top} + 1, PaletteEntry{0, 0, 0, 255});
}

} // namespace imgctl
