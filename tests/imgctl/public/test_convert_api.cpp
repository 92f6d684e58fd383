// SPDX-License-Identifier: MIT
// The conversions through the C interface as the window chains them: the
// BMP chain at each depth, read back by Qt, and DIBStrip.
#include "corpus.h"
#include "imgctl.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

using testing_support::corpus;
using testing_support::TempDir;

namespace {

const std::string kPhoto = "jpeg/baseline-420.jpg";

int32_t load(const std::string &relative) {
    int32_t h = ToDIB(corpus(relative).string().c_str());
    EXPECT_GT(h, 0) << ImgctlLastError();
    return h;
}

int bitCount(int32_t h) {
    BITMAPINFOHEADER header{};
    EXPECT_EQ(HeadDIB(h, &header), 1);
    return header.biBitCount;
}

TEST(ConvertApi, BmpChainAtEachDepthWritesWhatQtReads) {
    TempDir dir;
    for (int depth : {24, 16, 8}) {
        int32_t h = load(kPhoto);
        ASSERT_GT(h, 0);
        h = RLEtoDIB(h);
        int32_t one = 1;
        h = depth == 24 ? DIBto24Bit(h) : depth == 16 ? DIBto16Bit(h, &one) : DIBto8Bit(h, 0, 0);
        ASSERT_GT(h, 0) << ImgctlLastError();
        if (depth == 8) {
            h = DIBtoRLE(h);
            ASSERT_GT(h, 0) << ImgctlLastError();
        }
        h = GrayDIB(h, 0);
        ASSERT_GT(h, 0);
        EXPECT_EQ(bitCount(h), depth);
        const std::string out = (dir / ("out" + std::to_string(depth) + ".bmp")).string();
        ASSERT_EQ(DIBtoBMP(out.c_str(), h), 1) << ImgctlLastError();
        EXPECT_EQ(DeleteDIB(h), 1);

        QImage written(QString::fromStdString(out));
        QImage source(QString::fromStdString(corpus(kPhoto).string()));
        ASSERT_FALSE(written.isNull()) << depth;
        ASSERT_EQ(written.size(), source.size());
        double sum = 0;
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x) {
                QRgb a = written.pixel(x, y), b = source.pixel(x, y);
                for (int d : {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b)})
                    sum += d * d;
            }
        const double mse = sum / (3.0 * source.width() * source.height());
        EXPECT_LT(mse, depth == 24 ? 2.0 : 40.0) << depth << "-bit";
    }
}

// DIBStrip leaves nothing in the outputs but sRGB pixels: no iCCP or sRGB
// chunk, no APP2 profile, no EXIF; the pixels are the ones the BMP writer
// converts to sRGB by itself.
TEST(ConvertApi, StripLeavesSrgbPixelsAndNoMetadata) {
    TempDir dir;
    const auto path = [&](const char *name) { return (dir / name).string(); };
    auto has = [](const std::vector<uint8_t> &f, std::string_view what) {
        return std::search(f.begin(), f.end(), what.begin(), what.end()) != f.end();
    };
    for (const std::string source : {"bmpsuite/q/rgb24prof2.bmp", "jpeg/orient-6.jpg"}) {
        SCOPED_TRACE(source);
        int32_t h = load(source);
        ASSERT_GT(h, 0);
        ASSERT_EQ(DIBtoBMP(path("kept.bmp").c_str(), h), 1);
        ASSERT_EQ(DIBtoPNG(path("kept.png").c_str(), h, 0), 1);
        ASSERT_EQ(DIBStrip(h), h) << ImgctlLastError();
        ASSERT_EQ(DIBtoPNG(path("o.png").c_str(), h, 0), 1);
        ASSERT_EQ(DIBtoJPG(path("o.jpg").c_str(), h, 90, 0), 1);
        EXPECT_EQ(DeleteDIB(h), 1);
        // The source carries a profile or EXIF, which the unstripped PNG keeps.
        const auto kept = testing_support::readFile(path("kept.png"));
        EXPECT_TRUE(has(kept, "iCCP") || has(kept, "eXIf"));
        const auto png = testing_support::readFile(path("o.png"));
        const auto jpg = testing_support::readFile(path("o.jpg"));
        for (const char *chunk : {"iCCP", "sRGB", "gAMA", "eXIf", "iTXt"})
            EXPECT_FALSE(has(png, chunk)) << chunk;
        EXPECT_FALSE(has(jpg, "ICC_PROFILE"));
        EXPECT_FALSE(has(jpg, std::string_view("Exif\0\0", 6)));
        const QImage a(QString::fromStdString(path("kept.bmp")));
        const QImage b(QString::fromStdString(path("o.png")));
        ASSERT_EQ(a.size(), b.size());
        int worst = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x) {
                const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
                for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)})
                    worst = std::max(worst, std::abs(d));
            }
        EXPECT_EQ(worst, 0);
    }
}

} // namespace
