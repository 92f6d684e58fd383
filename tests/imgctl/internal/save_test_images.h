// Images for the writer tests, built in memory at every depth, and what a
// reader should see in them.
#pragma once

#include "image.h"
#include "ops.h"

#include <QColor>
#include <QImage>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace save_test {

using imgctl::Image;
using imgctl::PaletteEntry;

// One kind of test image: a name, and what it is built from.
struct Kind {
    std::string name;
    uint16_t bits;
    // Palette kinds: entries, whether gray (a full ramp when `ramp`), and
    // whether some entries are translucent.
    int paletteSize = 0;
    bool gray = false;
    bool ramp = false;
    bool translucent = false;
    // Run-length compressed after building.
    bool rle = false;
    // 32-bit: some pixels not opaque.
    bool alpha = false;
};

inline void PrintTo(const Kind &k, std::ostream *os) {
    *os << k.name;
}

inline std::vector<Kind> allKinds() {
    return {
        {"Pal1", 1, 2},
        {"Gray1", 1, 2, true, true},
        {"Pal4", 4, 16},
        {"Pal4Of3", 4, 3},
        {"Gray4", 4, 16, true, true},
        {"Pal8", 8, 200},
        {"Gray8", 8, 256, true, true},
        {"Gray8Partial", 8, 100, true, false},
        {"Pal8Translucent", 8, 40, false, false, true},
        {"Rle8", 8, 60, false, false, false, true},
        {"Rle4", 4, 12, false, false, false, true},
        {"Rgb16", 16},
        {"Rgb24", 24},
        {"Rgb32", 32},
        {"Rgb32Alpha", 32, 0, false, false, false, false, true},
    };
}

// Sets bits-per-pixel index x of a palette row.
inline void putIndex(uint8_t *row, uint32_t x, uint16_t bits, unsigned v) {
    switch (bits) {
    case 1:
        row[x >> 3] =
            static_cast<uint8_t>((row[x >> 3] & ~(0x80 >> (x & 7))) | ((v & 1) << (7 - (x & 7))));
        break;
    case 4:
        if (x & 1)
            row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0xF0) | (v & 15));
        else
            row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0x0F) | (v << 4));
        break;
    default:
        row[x] = static_cast<uint8_t>(v);
    }
}

// A smooth colour picture with some detail; the same for every depth. Bytes
// past the last pixel of each row are left as garbage (0xA5), which writers
// must not copy into files.
inline Image build(const Kind &k, uint32_t w, uint32_t h) {
    Image img = imgctl::makeImage(w, h, k.bits).value();
    img.xPelsPerMeter = 3780; // 96 dpi
    img.yPelsPerMeter = 2835; // 72 dpi
    std::memset(img.pixels.data(), 0xA5, img.pixels.size());
    if (k.paletteSize) {
        const int n = k.paletteSize;
        for (int i = 0; i < n; ++i) {
            PaletteEntry e;
            if (k.gray) {
                uint8_t v = k.ramp ? static_cast<uint8_t>(i * 255 / (n - 1))
                                   : static_cast<uint8_t>((i * 37 + 11) % 256);
                e = {v, v, v, 255};
            } else {
                e = {static_cast<uint8_t>(i * 97 % 256), static_cast<uint8_t>(i * 53 % 256),
                     static_cast<uint8_t>(255 - i * 29 % 256), 255};
            }
            // Translucent entries in the middle, opaque ones at the end.
            if (k.translucent && i < n - 5) e.a = static_cast<uint8_t>(i * 255 / n);
            img.palette.push_back(e);
        }
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                putIndex(img.row(y), x, k.bits, ((x / 3) * 7 + (y / 2) * 3) % n);
        if (k.rle) {
            imgctl::Status s = imgctl::compressRle(img);
            if (!s) std::abort();
        }
        return img;
    }
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t *row = img.row(y);
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t b = static_cast<uint8_t>(x * 255 / std::max(w - 1, 1u));
            uint8_t g = static_cast<uint8_t>(y * 255 / std::max(h - 1, 1u));
            uint8_t r = static_cast<uint8_t>((x + y) * 255 / std::max(w + h - 2, 1u));
            if (k.bits == 16) {
                uint16_t v = static_cast<uint16_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
                row[2 * x] = static_cast<uint8_t>(v);
                row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
            } else {
                uint8_t *p = row + x * (k.bits / 8);
                p[0] = b;
                p[1] = g;
                p[2] = r;
                if (k.bits == 32) p[3] = k.alpha ? static_cast<uint8_t>(255 - (x * y) % 256) : 255;
            }
        }
    }
    return img;
}

inline uint8_t fiveToEight(unsigned v) {
    return static_cast<uint8_t>((v << 3) | (v >> 2));
}

inline uint8_t overWhite(uint8_t c, uint8_t a) {
    return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

// The colour of pixel (x, y); with keepAlpha false, alpha is composited over
// white.
inline QRgb expected(const Image &img, uint32_t x, uint32_t y, bool keepAlpha) {
    const uint8_t *row = img.row(y);
    uint8_t b, g, r, a = 255;
    if (img.isPalette()) {
        const PaletteEntry &e = img.palette[imgctl::paletteIndex(row, x, img.bitCount)];
        b = e.b, g = e.g, r = e.r, a = e.a;
    } else if (img.bitCount == 16) {
        unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
        b = fiveToEight(v & 31), g = fiveToEight((v >> 5) & 31), r = fiveToEight((v >> 10) & 31);
    } else {
        const uint8_t *p = row + x * (img.bitCount / 8);
        b = p[0], g = p[1], r = p[2];
        if (img.bitCount == 32) a = p[3];
    }
    if (!keepAlpha && a != 255) {
        b = overWhite(b, a), g = overWhite(g, a), r = overWhite(r, a);
        a = 255;
    }
    return qRgba(r, g, b, a);
}

// Little-endian fields of a file.
inline uint32_t le16(const std::vector<uint8_t> &d, size_t at) {
    return d.at(at) | (d.at(at + 1) << 8);
}
inline uint32_t le32(const std::vector<uint8_t> &d, size_t at) {
    return le16(d, at) | (le16(d, at + 2) << 16);
}
inline uint32_t be16(const std::vector<uint8_t> &d, size_t at) {
    return (d.at(at) << 8) | d.at(at + 1);
}
inline uint32_t be32(const std::vector<uint8_t> &d, size_t at) {
    return (be16(d, at) << 16) | be16(d, at + 2);
}

} // namespace save_test
