// SPDX-License-Identifier: MIT
// 8-bit RGB and RGBA PNGs read without libpng, by the whole-stream reader
// (libdeflate) and by the two-thread reader (rows inflated ahead into a ring
// of bands): every filter type over many bands against Qt's decoder, and
// files cut or damaged anywhere in the image data.
#include "core/ops.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <random>
#include <tuple>

using namespace imgctl;

namespace {

// A noisy picture whose rows Qt's writer filters in varied ways; PNG bytes.
QByteArray qtPng(int width, int height, bool alpha, int seed) {
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    std::mt19937 rng(static_cast<unsigned>(seed));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int n = static_cast<int>(rng() % 24);
            image.setPixel(x, y,
                           qRgba((x * 3 + n) & 255, (y + n) & 255, (x ^ y) & 255,
                                 alpha ? (x + y * 7) & 255 : 255));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "PNG", 50));
    return bytes;
}

// (alpha, whole-stream reader): the other reader is switched off.
class PngReadBands : public ::testing::TestWithParam<std::tuple<bool, bool>> {
  protected:
    static Tuning tuning() {
        Tuning t = Tuning::everyPath();
        if (!std::get<1>(GetParam())) t.pngWholeInflateMinPixels = kNever;
        return t;
    }
};

TEST_P(PngReadBands, ManyBandsMatchQt) {
    const bool alpha = std::get<0>(GetParam());
    // 397 rows: 25 bands of 16 rows, the ring of 8 wrapping three times, the
    // last band short.
    const QByteArray png = qtPng(203, 397, alpha, 5);
    auto decoded = decodePng(reinterpret_cast<const uint8_t *>(png.constData()),
                             static_cast<size_t>(png.size()), tuning());
    ASSERT_TRUE(decoded) << decoded.status().message();
    const Image &image = decoded.value();
    ASSERT_EQ(image.bitCount, alpha ? 32 : 24);
    const QImage qt = QImage::fromData(png).convertToFormat(QImage::Format_ARGB32);
    const int bpp = alpha ? 4 : 3;
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t *row = image.row(y);
        for (uint32_t x = 0; x < image.width; ++x) {
            const QRgb want = qt.pixel(static_cast<int>(x), static_cast<int>(y));
            const uint8_t *p = row + x * bpp;
            ASSERT_EQ(p[0], qBlue(want)) << x << "," << y;
            ASSERT_EQ(p[1], qGreen(want)) << x << "," << y;
            ASSERT_EQ(p[2], qRed(want)) << x << "," << y;
            if (alpha) {
                ASSERT_EQ(p[3], qAlpha(want)) << x << "," << y;
            }
        }
    }
}

TEST_P(PngReadBands, CutOrDamagedDataFailsCleanly) {
    const QByteArray png = qtPng(150, 300, std::get<0>(GetParam()), 9);
    for (int cut : {png.size() / 5, png.size() / 2, png.size() - 20}) {
        auto decoded = decodePng(reinterpret_cast<const uint8_t *>(png.constData()),
                                 static_cast<size_t>(cut), tuning());
        EXPECT_FALSE(decoded) << "cut at " << cut;
    }
    for (int at : {png.size() / 3, png.size() * 2 / 3}) {
        QByteArray damaged = png;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
        auto decoded = decodePng(reinterpret_cast<const uint8_t *>(damaged.constData()),
                                 static_cast<size_t>(damaged.size()), tuning());
        ASSERT_FALSE(decoded) << "flipped byte " << at;
        EXPECT_NE(decoded.status().message().find("PNG"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, PngReadBands,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param) ? "Rgba" : "Rgb") +
                                    (std::get<1>(info.param) ? "Whole" : "TwoThreads");
                         });

} // namespace
