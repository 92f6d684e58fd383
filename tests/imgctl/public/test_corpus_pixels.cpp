// SPDX-License-Identifier: MIT
// Every valid corpus picture loads with the size and pixels that another
// decoder sees in it (tests/corpus-pixels.tsv, whose header says how each
// kind of file is compared), drawn one to one as the preview draws it; a
// palette file stays a palette image of 1, 4 or 8 bits (the depths DIB
// readers take) and at least its own depth, and the pictures keep their
// colours through the depth conversions and into PNG and BMP files (read
// back by Qt). And the resolution a picture reports is its file's own.
#include "corpus.h"
#include "file_fields.h"
#include "hostile_files.h"
#include "imgctl.h"
#include "pixel_sum.h"

#include <QImage>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Row {
    std::string file, hash, tolerance;
    int width = 0, height = 0, depth = 0;
    double means[12] = {};
};

std::vector<Row> manifest() {
    std::vector<Row> rows;
    for (const auto &cols : testing_support::readTsv(NUBARO_CORPUS_PIXELS)) {
        Row r;
        if (cols.size() < 7) continue;
        r.file = cols[0], r.width = std::stoi(cols[1]), r.height = std::stoi(cols[2]);
        r.depth = std::stoi(cols[3]), r.hash = cols[4], r.tolerance = cols[6];
        double *m = r.means; // four quarters of red/green/blue
        std::sscanf(cols[5].c_str(), "%lf/%lf/%lf %lf/%lf/%lf %lf/%lf/%lf %lf/%lf/%lf", m, m + 1,
                    m + 2, m + 3, m + 4, m + 5, m + 6, m + 7, m + 8, m + 9, m + 10, m + 11);
        rows.push_back(r);
    }
    return rows;
}

class CorpusPixels : public ::testing::TestWithParam<Row> {};

TEST_P(CorpusPixels, LoadAsAnotherDecoderSeesThem) {
    const Row &r = GetParam();
    const int32_t h = ToDIB(testing_support::corpus(r.file).c_str());
    // The one valid picture refused: a fax-coded (Huffman 1D) BMP.
    if (!h && r.file == "bmpsuite/q/pal1huffmsb.bmp") GTEST_SKIP() << ImgctlLastError();
    ASSERT_GT(h, 0) << ImgctlLastError();
    BITMAPINFOHEADER head{};
    ASSERT_EQ(HeadDIB(h, &head), 1);
    EXPECT_EQ(head.biWidth, r.width);
    EXPECT_EQ(head.biHeight, r.height);
    if (r.depth <= 8) {
        EXPECT_TRUE(head.biBitCount == 1 || head.biBitCount == 4 || head.biBitCount == 8)
            << head.biBitCount;
        EXPECT_GE(head.biBitCount, r.depth);
    }
    // The picture drawn one to one, or a file written from it as Qt reads
    // it, compared with the manifest's row.
    QImage drawn(r.width, r.height, QImage::Format_RGB32);
    auto matches = [&](const char *after, const QImage &q) {
        SCOPED_TRACE(after);
        ASSERT_EQ(q.size(), QSize(r.width, r.height));
        const auto sum = testing_support::sumOf(q);
        if (r.tolerance == "exact") {
            EXPECT_EQ(sum.hash(), r.hash);
            return;
        }
        const double tolerance = std::stod(r.tolerance.substr(r.tolerance.find(' ') + 1));
        for (size_t q = 0; q < 4; ++q)
            for (size_t c = 0; c < 3; ++c)
                EXPECT_NEAR(sum.mean(q, c), r.means[3 * q + c], tolerance)
                    << "quarter " << q << ", channel " << c;
    };
    auto shows = [&](const char *after) {
        ImgctlSurface surface{reinterpret_cast<uint32_t *>(drawn.bits()), r.width, r.height,
                              int32_t(drawn.bytesPerLine())};
        ASSERT_EQ(DIBtoDCex2(&surface, 0, 0, r.width, r.height, h, 0, 0, r.width, r.height,
                             IMGCTL_SRCCOPY, 1),
                  1);
        matches(after, drawn);
    };
    testing_support::TempDir dir;
    auto written = [&](const char *name, int32_t saved) {
        ASSERT_EQ(saved, 1) << ImgctlLastError();
        matches(name, QImage(QString::fromStdString((dir / name).string())));
    };
    shows("loading");
    written("saved.png", DIBtoPNG((dir / "saved.png").c_str(), h, 0));
    // Widened to 24 bits every colour stays as it is shown; reduced to 8 bits
    // a picture of at most 256 colours keeps every one.
    const QImage opaque = drawn.convertToFormat(QImage::Format_RGB32);
    const size_t colours =
        std::set<uint32_t>(reinterpret_cast<const uint32_t *>(opaque.constBits()),
                           reinterpret_cast<const uint32_t *>(opaque.constBits()) +
                               size_t(r.width) * r.height)
            .size();
    ASSERT_EQ(DIBto24Bit(h), h) << ImgctlLastError();
    shows("DIBto24Bit");
    written("saved.bmp", DIBtoBMP((dir / "saved.bmp").c_str(), h));
    if (colours <= 256) {
        ASSERT_EQ(DIBto8Bit(h, 0, 0), h) << ImgctlLastError();
        shows("DIBto8Bit");
    }
    DeleteDIB(h);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusPixels, ::testing::ValuesIn(manifest()),
                         [](const auto &info) {
                             return testing_support::testName(info.param.file);
                         });

// The BMP header's fields; a pHYs chunk in metres, and one that gives only
// the aspect ratio (unit 0), which says nothing about the resolution; a
// JFIF density.
TEST(LoadedResolution, IsTheFilesOwn) {
    testing_support::TempDir dir;
    for (uint8_t unit : {0, 1}) {
        hostile::Bytes png = hostile::png(4, 2, 0, hostile::zlibStored(hostile::Bytes(2 * 5, 0)));
        hostile::Bytes phys = {0, 0, 0x0B, 0xB8, 0, 0, 0x05, 0xDC, unit}, chunk; // 3000, 1500
        hostile::pngChunk(chunk, "pHYs", phys);
        png.insert(png.begin() + 33, chunk.begin(), chunk.end()); // after IHDR
        std::ofstream(dir / std::to_string(unit), std::ios::binary)
            .write(reinterpret_cast<const char *>(png.data()), std::streamsize(png.size()));
    }
    // A JFIF marker's density in dots per inch, then per centimetre.
    std::vector<uint8_t> jpeg =
        testing_support::readFile(testing_support::corpus("jpeg/baseline-420.jpg"));
    const size_t app0 = testing_support::jpegSegment(jpeg, 0xE0);
    // APP0: FF E0, length, "JFIF\0", version (2), units, Xdensity, Ydensity.
    jpeg.at(app0 + 12) = 300 >> 8, jpeg[app0 + 13] = 300 & 255;
    jpeg[app0 + 14] = 0, jpeg[app0 + 15] = 72;
    for (uint8_t unit : {1, 2}) {
        jpeg[app0 + 11] = unit;
        std::ofstream(dir / ("jfif" + std::to_string(unit)), std::ios::binary)
            .write(reinterpret_cast<const char *>(jpeg.data()), std::streamsize(jpeg.size()));
    }
    const std::tuple<std::filesystem::path, uint32_t, uint32_t> cases[] = {
        // The values in the BMP file's header, at offsets 38 and 42.
        {testing_support::corpus("bmpsuite/g/pal8nonsquare.bmp"), 2835, 1417},
        {dir / "1", 3000, 1500},
        {dir / "0", 0, 0},
        {dir / "jfif1", 11811, 2835},
        {dir / "jfif2", 30000, 7200},
    };
    for (const auto &[path, x, y] : cases) {
        const int32_t h = ToDIB(path.c_str());
        ASSERT_GT(h, 0) << path << ": " << ImgctlLastError();
        BITMAPINFOHEADER head{};
        ASSERT_EQ(HeadDIB(h, &head), 1);
        EXPECT_EQ(head.biXPelsPerMeter, int32_t(x)) << path;
        EXPECT_EQ(head.biYPelsPerMeter, int32_t(y)) << path;
        DeleteDIB(h);
    }
}

} // namespace
