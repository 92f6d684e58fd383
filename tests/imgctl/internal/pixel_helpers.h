// Building small images in memory and reading their pixels back, written
// independently of the library's own row readers so that tests compare the
// library against plain per-pixel arithmetic.
#pragma once

#include "image.h"

#include <QImage>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

namespace pixel_helpers {

using imgctl::Image;
using imgctl::PaletteEntry;

// B, G, R, A.
using Bgra = std::array<uint8_t, 4>;
using Bgr = std::array<uint8_t, 3>;

// An image of the given depth whose pixel (x, y) is set from fn(x, y): a
// palette index for 1/4/8 bits, a 5-5-5 value for 16, BGRA for 24/32 (A is
// ignored at 24). Row padding is zeroed.
inline Image makeFilled(uint32_t w, uint32_t h, uint16_t bits,
                        const std::function<uint32_t(uint32_t, uint32_t)> &fn) {
    Image img = imgctl::makeImage(w, h, bits).value();
    std::memset(img.pixels.data(), 0, img.stride * h);
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t *row = img.row(y);
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t v = fn(x, y);
            switch (bits) {
            case 1:
                row[x / 8] |= static_cast<uint8_t>((v & 1) << (7 - x % 8));
                break;
            case 4:
                row[x / 2] |= static_cast<uint8_t>((v & 15) << (x % 2 ? 0 : 4));
                break;
            case 8:
                row[x] = static_cast<uint8_t>(v);
                break;
            case 16:
                row[2 * x] = static_cast<uint8_t>(v);
                row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
                break;
            default:
                for (int c = 0; c < bits / 8; ++c)
                    row[x * (bits / 8) + c] = static_cast<uint8_t>(v >> (8 * c));
            }
        }
    }
    return img;
}

inline uint32_t bgra(uint8_t b, uint8_t g, uint8_t r, uint8_t a = 255) {
    return b | (uint32_t{g} << 8) | (uint32_t{r} << 16) | (uint32_t{a} << 24);
}

// Exact rounding of c * a / 255 + 255 * (255 - a) / 255.
inline uint8_t overWhite(int c, int a) {
    return static_cast<uint8_t>(std::lround((c * a + 255.0 * (255 - a)) / 255.0));
}

inline uint8_t fiveToEight(uint32_t v) {
    return static_cast<uint8_t>(std::lround(v * 255.0 / 31));
}

// The raw value of a pixel: palette index, 5-5-5 word, or BGRA (A = 255 at 24).
inline uint32_t rawAt(const Image &img, uint32_t x, uint32_t y) {
    const uint8_t *row = img.row(y);
    switch (img.bitCount) {
    case 1:
        return (row[x / 8] >> (7 - x % 8)) & 1;
    case 4:
        return (row[x / 2] >> (x % 2 ? 0 : 4)) & 15;
    case 8:
        return row[x];
    case 16:
        return row[2 * x] | (uint32_t{row[2 * x + 1]} << 8);
    case 24:
        return bgra(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
    default:
        return bgra(row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]);
    }
}

// The colour of a pixel with its alpha (palette entries included).
inline Bgra colourAt(const Image &img, uint32_t x, uint32_t y) {
    uint32_t v = rawAt(img, x, y);
    if (img.bitCount <= 8) {
        const PaletteEntry &e = img.palette.at(v);
        return {e.b, e.g, e.r, e.a};
    }
    if (img.bitCount == 16)
        return {fiveToEight(v & 31), fiveToEight((v >> 5) & 31), fiveToEight((v >> 10) & 31), 255};
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

// The colour laid over white.
inline Bgr shownAt(const Image &img, uint32_t x, uint32_t y) {
    Bgra c = colourAt(img, x, y);
    return {overWhite(c[0], c[3]), overWhite(c[1], c[3]), overWhite(c[2], c[3])};
}

// A deep copy.
inline Image copyOf(const Image &img) {
    Image c = imgctl::makeImage(img.width, img.height, img.bitCount).value();
    std::memcpy(c.pixels.data(), img.pixels.data(), img.stride * img.height);
    c.palette = img.palette;
    c.compression = img.compression;
    c.rle = img.rle;
    c.xPelsPerMeter = img.xPelsPerMeter;
    c.yPelsPerMeter = img.yPelsPerMeter;
    return c;
}

// Everything a caller can see is the same (pixel bytes up to each row's last
// pixel, palette, depth, compression, stream).
inline bool sameImage(const Image &a, const Image &b) {
    if (a.width != b.width || a.height != b.height || a.bitCount != b.bitCount ||
        a.stride != b.stride || a.palette != b.palette || a.compression != b.compression ||
        a.rle != b.rle)
        return false;
    const size_t used = (size_t{a.width} * a.bitCount + 7) / 8;
    for (uint32_t y = 0; y < a.height; ++y)
        if (std::memcmp(a.row(y), b.row(y), used) != 0) return false;
    return true;
}

// RGB PSNR of `reduced` against `source`, both read over white.
inline double psnr(const Image &source, const Image &reduced) {
    double sum = 0;
    for (uint32_t y = 0; y < source.height; ++y)
        for (uint32_t x = 0; x < source.width; ++x) {
            Bgr s = shownAt(source, x, y), r = shownAt(reduced, x, y);
            for (int c = 0; c < 3; ++c)
                sum += (s[c] - r[c]) * (s[c] - r[c]);
        }
    double mse = sum / (3.0 * source.width * source.height);
    return mse == 0 ? 1000 : 10 * std::log10(255.0 * 255.0 / mse);
}

// A 24 or 32-bit image from a QImage decoded by Qt.
inline Image fromQImage(const QImage &q, bool withAlpha) {
    QImage c = q.convertToFormat(QImage::Format_ARGB32);
    return makeFilled(static_cast<uint32_t>(c.width()), static_cast<uint32_t>(c.height()),
                      withAlpha ? 32 : 24, [&](uint32_t x, uint32_t y) {
                          QRgb p = c.pixel(static_cast<int>(x), static_cast<int>(y));
                          return bgra(
                              static_cast<uint8_t>(qBlue(p)), static_cast<uint8_t>(qGreen(p)),
                              static_cast<uint8_t>(qRed(p)), static_cast<uint8_t>(qAlpha(p)));
                      });
}

} // namespace pixel_helpers
