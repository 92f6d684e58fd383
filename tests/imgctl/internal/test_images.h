// SPDX-License-Identifier: MIT
// Test images built in memory, their pixels read back with plain per-pixel
// arithmetic (independent of the library's own row readers), Qt's decode of
// a file as RGBA, and tolerant comparisons.
#pragma once

#include "core/image.h"
#include "core/ops.h"
#include "file_fields.h"
#include "fuzz_common.h"

#include <QImage>
#include <QImageReader>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace test_images {

using imgctl::Image;
using imgctl::PaletteEntry;

// ---- Building images ----

// B, G, R, A.
using Bgra = std::array<uint8_t, 4>;
using Bgr = std::array<uint8_t, 3>;

// A pixel value of B, G, R and A, each taken modulo 256.
inline uint32_t bgra(uint32_t b, uint32_t g, uint32_t r, uint32_t a = 255) {
    return (b & 255) | (g & 255) << 8 | (r & 255) << 16 | (a & 255) << 24;
}

// Sets pixel x of a row to a raw value: a palette index for 1/4/8 bits, a
// 5-5-5 value for 16, BGRA for 24/32 (A is ignored at 24).
inline void putRaw(uint8_t *row, uint32_t x, uint16_t bits, uint32_t v) {
    switch (bits) {
    case 1: {
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
        row[x / 8] = static_cast<uint8_t>((v & 1) ? row[x / 8] | bit : row[x / 8] & ~bit);
        break;
    }
    case 4:
        row[x / 2] = static_cast<uint8_t>(x % 2 ? (row[x / 2] & 0xF0) | (v & 15)
                                                : (row[x / 2] & 0x0F) | ((v & 15) << 4));
        break;
    default:
        for (int c = 0; c < std::max(bits / 8, 1); ++c)
            row[x * std::max(bits / 8, 1) + c] = static_cast<uint8_t>(v >> (8 * c));
    }
}

// An image of the given depth whose pixel (x, y) is set from fn(x, y) (see
// putRaw). Row padding is zeroed.
inline Image makeFilled(uint32_t w, uint32_t h, uint16_t bits,
                        const std::function<uint32_t(uint32_t, uint32_t)> &fn) {
    Image img = imgctl::makeImage(w, h, bits).value();
    std::memset(img.pixels.data(), 0, img.stride * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            putRaw(img.row(y), x, bits, fn(x, y));
    return img;
}

// A deep copy.
inline Image copyOf(const Image &img) {
    return imgctl::copyImage(img).value();
}

// ---- Reading pixels back ----

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
    case 4:
    case 8:
        return imgctl::paletteIndex(row, x, img.bitCount);
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

// ---- Decoded images as plain RGBA, ours and Qt's ----

using Pixel = std::array<uint8_t, 4>; // R, G, B, A

struct Rgba {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> px; // R, G, B, A per pixel, rows top-down
    // Pixel i in reading order.
    Pixel pixel(size_t i) const {
        return {px.at(4 * i), px.at(4 * i + 1), px.at(4 * i + 2), px.at(4 * i + 3)};
    }
    friend bool operator==(const Rgba &, const Rgba &) = default;
};

// Our image as RGBA. A palette index without an entry fails the calling test.
inline Rgba toRgba(const Image &img) {
    Rgba out{static_cast<int>(img.width), static_cast<int>(img.height), {}};
    out.px.reserve(size_t(img.width) * img.height * 4);
    bool badIndex = false;
    for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x) {
            Bgra c{};
            if (img.isPalette() && rawAt(img, x, y) >= img.palette.size())
                badIndex = true;
            else
                c = colourAt(img, x, y);
            out.px.insert(out.px.end(), {c[2], c[1], c[0], c[3]});
        }
    EXPECT_FALSE(badIndex) << "a pixel uses a palette index past the palette";
    return out;
}

// A Qt image as RGBA (not premultiplied; rows of four-byte pixels carry no
// padding); width 0 for a null image.
inline Rgba qtRgba(QImage image) {
    if (image.isNull()) return {};
    image = image.convertToFormat(QImage::Format_RGBA8888);
    const uint8_t *bits = image.constBits();
    return {image.width(), image.height(), {bits, bits + image.sizeInBytes()}};
}

// Qt's decode of a file; width 0 when Qt fails.
inline Rgba qtRgba(const std::filesystem::path &path) {
    return qtRgba(QImageReader(QString::fromStdString(path.string())).read());
}

// Our image over white (what a JPEG or a 24-bit file keeps of alpha).
inline Rgba overWhiteRgba(Rgba px) {
    for (size_t p = 0; p < px.px.size(); p += 4) {
        for (int k = 0; k < 3; ++k)
            px.px[p + k] = overWhite(px.px[p + k], px.px[p + 3]);
        px.px[p + 3] = 255;
    }
    return px;
}

// Peak signal-to-noise ratio over R, G and B, or over luma only.
inline double psnr(const Rgba &a, const Rgba &b, bool lumaOnly = false) {
    auto luma = [](const Rgba &p, size_t i) {
        return 0.299 * p.px[i] + 0.587 * p.px[i + 1] + 0.114 * p.px[i + 2];
    };
    double sum = 0;
    for (size_t i = 0; i < a.px.size(); i += 4)
        for (int c = 0; c < 3; ++c) {
            const double d = lumaOnly ? luma(a, i) - luma(b, i) : a.px[i + c] - b.px[i + c];
            sum += d * d;
        }
    const double mse = sum / (a.px.size() * 3.0 / 4);
    return mse == 0 ? 1000 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Same size; alpha within alphaTolerance everywhere; colour within
// colourTolerance wherever the expected alpha is not 0 (a fully transparent
// pixel's colour carries nothing).
inline ::testing::AssertionResult sameRgba(const Rgba &actual, const Rgba &expected,
                                           int colourTolerance = 0, int alphaTolerance = 0) {
    if (actual.width != expected.width || actual.height != expected.height)
        return ::testing::AssertionFailure()
               << "size " << actual.width << "x" << actual.height << ", expected " << expected.width
               << "x" << expected.height;
    size_t bad = 0, first = 0;
    for (size_t i = 0; i < actual.px.size() / 4; ++i) {
        const Pixel a = actual.pixel(i), e = expected.pixel(i);
        bool differs = std::abs(a[3] - e[3]) > alphaTolerance;
        for (int c = 0; c < 3 && e[3] != 0; ++c)
            differs = differs || std::abs(a[c] - e[c]) > colourTolerance;
        if (differs && bad++ == 0) first = i;
    }
    if (bad)
        return ::testing::AssertionFailure()
               << bad << " pixels differ; first (" << first % actual.width << ","
               << first / actual.width << ") is " << ::testing::PrintToString(actual.pixel(first))
               << ", expected " << ::testing::PrintToString(expected.pixel(first));
    return ::testing::AssertionSuccess();
}

} // namespace test_images
