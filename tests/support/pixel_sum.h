// SPDX-License-Identifier: MIT
// How tests/corpus-pixels.tsv sums up a picture: a 64-bit FNV-1a checksum
// over R, G, B of every pixel laid over white, rows top down, and the mean of
// each channel in each quarter of the picture (which a wrong turn or mirror
// changes even where the means of the whole are the same). The manifest's
// writer and the test that reads it both use this.
#pragma once

#include <QColorSpace>
#include <QImage>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace testing_support {

class PixelSum {
  public:
    PixelSum(int width, int height) : width_(width), height_(height) {}

    // Pixel (x, y), alpha a laid over white with exact rounding.
    void add(int x, int y, uint32_t r, uint32_t g, uint32_t b, uint32_t a = 255) {
        const size_t cell = 2 * size_t(2 * y / height_) + size_t(2 * x / width_);
        const uint32_t rgb[3] = {r, g, b};
        for (size_t c = 0; c < 3; ++c) {
            const uint32_t v = (2 * (rgb[c] * a + 255 * (255 - a)) + 255) / 510;
            hash_ = (hash_ ^ v) * 0x100000001B3u;
            total_[3 * cell + c] += v;
        }
        ++count_[cell];
    }
    std::string hash() const {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash_));
        return text;
    }
    // Channel c (0 red, 1 green, 2 blue) of quarter q (0 top left, 1 top
    // right, 2 bottom left, 3 bottom right); 0 for an empty quarter.
    double mean(size_t q, size_t c) const {
        return count_[q] ? double(total_[3 * q + c]) / double(count_[q]) : 0;
    }

  private:
    int width_, height_;
    uint64_t hash_ = 0xCBF29CE484222325u;
    std::array<uint64_t, 12> total_{};
    std::array<uint64_t, 4> count_{};
};

// The sum of a picture as it is shown: laid over white, then taken to sRGB
// by Qt's colour engine when it declares another colour space.
inline PixelSum sumOf(QImage image) {
    const int w = image.width(), h = image.height();
    image = image.convertToFormat(QImage::Format_RGBA8888);
    const QColorSpace space = image.colorSpace();
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb)) {
        QImage flat(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uchar *p = image.constScanLine(y) + 4 * x;
                auto lay = [&](int c) {
                    return (2 * (p[c] * p[3] + 255 * (255 - p[3])) + 255) / 510;
                };
                flat.setPixel(x, y, qRgb(lay(0), lay(1), lay(2)));
            }
        flat.setColorSpace(space);
        image =
            flat.convertedToColorSpace(QColorSpace::SRgb).convertToFormat(QImage::Format_RGBA8888);
    }
    PixelSum sum(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uchar *p = image.constScanLine(y) + 4 * x;
            sum.add(x, y, p[0], p[1], p[2], p[3]);
        }
    return sum;
}

} // namespace testing_support
