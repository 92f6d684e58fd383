// SPDX-License-Identifier: MIT
// Every valid corpus picture loads with the size and pixels that another
// decoder sees in it (tests/corpus-pixels.tsv, whose header says how each
// kind of file is compared), drawn one to one as the preview draws it; a
// palette file stays a palette image of at least its own depth, and the
// pictures keep their colours through the depth conversions and into PNG and
// BMP files (read back by Qt). And the resolution a picture reports is its
// file's own.
#include "corpus.h"
#include "file_fields.h"
#include "hostile_files.h"
#include "imgctl.h"
#include "pixel_sum.h"

#include <QImage>
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using testing_support::PixelSum;

namespace {

struct Row {
    std::string file, hash, tolerance;
    int width = 0, height = 0, depth = 0;
    double means[12] = {};
};

void PrintTo(const Row &r, std::ostream *os) {
    *os << r.file;
}

std::vector<Row> manifest() {
    std::vector<Row> rows;
    for (const auto &cols : testing_support::readTsv(NUBARO_CORPUS_PIXELS)) {
        Row r;
        if (cols.size() < 7) continue;
        r.file = cols[0], r.width = std::stoi(cols[1]), r.height = std::stoi(cols[2]);
        r.depth = std::stoi(cols[3]), r.hash = cols[4], r.tolerance = cols[6];
        std::string means = cols[5];
        for (char &c : means)
            c = c == '/' ? ' ' : c;
        std::istringstream in(means);
        for (double &m : r.means)
            in >> m;
        rows.push_back(r);
    }
    return rows;
}

class CorpusPixels : public ::testing::TestWithParam<Row> {};

TEST_P(CorpusPixels, LoadAsAnotherDecoderSeesThem) {
    const Row &r = GetParam();
    const int32_t h = ToDIB(testing_support::corpus(r.file).c_str());
    if (!h && r.file.starts_with("bmpsuite/q/")) GTEST_SKIP() << "refused: " << ImgctlLastError();
    ASSERT_GT(h, 0) << ImgctlLastError();
    BITMAPINFOHEADER head{};
    ASSERT_EQ(HeadDIB(h, &head), 1);
    EXPECT_EQ(head.biWidth, r.width);
    EXPECT_EQ(head.biHeight, r.height);
    if (r.depth <= 8) {
        EXPECT_LE(head.biBitCount, 8);
        EXPECT_GE(head.biBitCount, r.depth);
    }
    // The picture drawn one to one, or a file written from it as Qt reads
    // it, compared with the manifest's row.
    QImage drawn(r.width, r.height, QImage::Format_RGB32);
    auto matches = [&](const char *after, const QImage &q) {
        SCOPED_TRACE(after);
        ASSERT_EQ(q.size(), QSize(r.width, r.height));
        const PixelSum sum = testing_support::sumOf(q);
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
                             std::string name = info.param.file;
                             for (char &c : name)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

// Rows of each PNG filter type, the first row (whose row above counts as
// zeros) included, read as Qt reads the same bytes; the same file cut inside
// its image data's check value is refused as cut short.
TEST(PngFilters, EveryTypeReadsAsQtReadsIt) {
    const int w = 5, h = 3;
    testing_support::TempDir dir;
    for (uint8_t filter = 0; filter <= 4; ++filter) {
        hostile::Bytes raw;
        for (int y = 0; y < h; ++y) {
            raw.push_back(filter);
            for (int i = 0; i < 3 * w; ++i)
                raw.push_back(uint8_t(37 * i + 101 * y + 53 * filter + 200));
        }
        const hostile::Bytes png = hostile::png(w, h, 2, hostile::zlibStored(raw));
        const std::string path = (dir / "f.png").string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(png.data()), std::streamsize(png.size()));
        const QImage qt =
            QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(qt.size(), QSize(w, h)) << "Qt cannot read filter " << int(filter);
        const int32_t image = ToDIB(path.c_str());
        ASSERT_GT(image, 0) << ImgctlLastError();
        QImage ours(w, h, QImage::Format_RGB32);
        ImgctlSurface surface{reinterpret_cast<uint32_t *>(ours.bits()), w, h,
                              int32_t(ours.bytesPerLine())};
        EXPECT_EQ(DIBtoDCex2(&surface, 0, 0, w, h, image, 0, 0, w, h, IMGCTL_SRCCOPY, 1), 1);
        DeleteDIB(image);
        EXPECT_TRUE(ours == qt) << "filter " << int(filter);
        // Cut two bytes into the image data's check value, the file ends early.
        const std::string cut = (dir / "cut.png").string();
        std::ofstream(cut, std::ios::binary)
            .write(reinterpret_cast<const char *>(png.data()), std::streamsize(png.size() - 14));
        EXPECT_EQ(ToDIB(cut.c_str()), 0);
        EXPECT_NE(std::string(ImgctlLastError()).find("ends early"), std::string::npos)
            << ImgctlLastError();
    }
}

// The BMP header's fields; a pHYs chunk in metres, and one that gives only
// the aspect ratio (unit 0), which says nothing about the resolution.
TEST(LoadedResolution, IsTheFilesOwn) {
    auto withPhys = [](uint32_t x, uint32_t y, uint8_t unit) {
        hostile::Bytes png = hostile::png(4, 2, 0, hostile::zlibStored(hostile::Bytes(2 * 5, 0)));
        hostile::Bytes phys, chunk;
        hostile::put32be(phys, x);
        hostile::put32be(phys, y);
        phys.push_back(unit);
        hostile::pngChunk(chunk, "pHYs", phys);
        png.insert(png.begin() + 33, chunk.begin(), chunk.end()); // after IHDR
        return png;
    };
    const auto bmp =
        testing_support::readFile(testing_support::corpus("bmpsuite/g/pal8nonsquare.bmp"));
    ASSERT_GE(bmp.size(), 54u);
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        uint32_t x, y;
    };
    const Case cases[] = {
        {"nonsquare.bmp", bmp, testing_support::le32(bmp, 38), testing_support::le32(bmp, 42)},
        {"metres.png", withPhys(3000, 1500, 1), 3000, 1500},
        {"aspect.png", withPhys(3000, 1500, 0), 0, 0},
    };
    testing_support::TempDir dir;
    for (const Case &c : cases) {
        const std::string path = (dir / c.name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(c.bytes.data()), std::streamsize(c.bytes.size()));
        const int32_t h = ToDIB(path.c_str());
        ASSERT_GT(h, 0) << c.name << ": " << ImgctlLastError();
        BITMAPINFOHEADER head{};
        ASSERT_EQ(HeadDIB(h, &head), 1);
        EXPECT_EQ(head.biXPelsPerMeter, int32_t(c.x)) << c.name;
        EXPECT_EQ(head.biYPelsPerMeter, int32_t(c.y)) << c.name;
        DeleteDIB(h);
    }
}

} // namespace
