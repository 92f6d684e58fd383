// SPDX-License-Identifier: MIT
// The BMP, PNG and JPEG writers at every depth: files read back by Qt with
// the same pixels (JPEG within a tolerance), and header fields checked in the
// files' own bytes.
#include "corpus.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QImageReader>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>

#include <jpeglib.h>
#include <zlib.h>

using namespace imgctl;
using namespace test_images;
using testing_support::readFile;
using testing_support::TempDir;

namespace {

constexpr uint32_t kW = 37, kH = 23; // odd sizes: row padding and partial bytes

// Qt's decode as ARGB32; a null image when Qt fails.
QImage readWithQt(const std::filesystem::path &path) {
    QImage q = qtRead(path);
    return q.isNull() ? q : q.convertToFormat(QImage::Format_ARGB32);
}

// Largest channel difference between Qt's decode and the expected pixels.
int maxDifference(const QImage &q, const Image &img, bool keepAlpha) {
    int worst = 0;
    for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x) {
            QRgb a = q.pixel(static_cast<int>(x), static_cast<int>(y));
            QRgb b = expected(img, x, y, keepAlpha);
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
        }
    return worst;
}

// Peak signal-to-noise ratio of Qt's decode against the expected pixels
// (alpha over white), over R, G and B, or over luma only.
double psnr(const QImage &q, const Image &img, bool lumaOnly = false) {
    auto luma = [](QRgb c) { return 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c); };
    double sum = 0;
    for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x) {
            QRgb a = q.pixel(static_cast<int>(x), static_cast<int>(y));
            QRgb b = expected(img, x, y, false);
            if (lumaOnly) {
                double d = luma(a) - luma(b);
                sum += 3 * d * d;
                continue;
            }
            for (int d : {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b)})
                sum += double(d) * d;
        }
    double mse = sum / (3.0 * img.width * img.height);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

std::string kindName(const ::testing::TestParamInfo<Kind> &info) {
    return info.param.name;
}

// ---- BMP ----

class SaveBmp : public ::testing::TestWithParam<Kind> {};

TEST_P(SaveBmp, HeaderFieldsAndPixelsAsQtReadsThem) {
    const Kind &k = GetParam();
    Image img = build(k, kW, kH);
    TempDir dir;
    auto path = dir / "out.bmp";
    Status s = saveBmp(img, path.c_str());
    ASSERT_TRUE(s) << s.message();

    std::vector<uint8_t> f = readFile(path);
    ASSERT_GE(f.size(), 54u);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    const uint32_t biSize = le32(f, 14);
    EXPECT_EQ(biSize, k.alpha ? 124u : 40u);
    const uint32_t clrUsed = le32(f, 46);
    EXPECT_EQ(clrUsed, img.palette.size());
    const uint32_t offBits = le32(f, 10);
    EXPECT_EQ(offBits, 14 + biSize + 4 * clrUsed);
    EXPECT_EQ(le32(f, 2), f.size()) << "bfSize";
    EXPECT_EQ(le32(f, 34), f.size() - offBits) << "biSizeImage";
    EXPECT_EQ(le32(f, 34), bmpDataSize(img)) << "biSizeImage agrees with HeadDIB";
    EXPECT_EQ(le32(f, 18), kW);
    EXPECT_EQ(le32(f, 22), kH);
    EXPECT_EQ(le16(f, 26), 1u);
    EXPECT_EQ(le16(f, 28), k.bits);
    const uint32_t expectCompression = k.rle ? (k.bits == 8 ? 1u : 2u) : k.alpha ? 3u : 0u;
    EXPECT_EQ(le32(f, 30), expectCompression);
    EXPECT_EQ(le32(f, 38), 3780u);
    EXPECT_EQ(le32(f, 42), 2835u);
    if (k.alpha) {
        EXPECT_EQ(le32(f, 54), 0x00FF0000u);
        EXPECT_EQ(le32(f, 58), 0x0000FF00u);
        EXPECT_EQ(le32(f, 62), 0x000000FFu);
        EXPECT_EQ(le32(f, 66), 0xFF000000u);
        EXPECT_EQ(le32(f, 70), 0x73524742u) << "LCS_sRGB";
    }
    for (uint32_t i = 0; i < clrUsed; ++i)
        EXPECT_EQ(f[14 + biSize + 4 * i + 3], 0) << "reserved byte of palette entry " << i;

    if (k.rle) {
        EXPECT_TRUE(std::equal(img.rle.begin(), img.rle.end(), f.begin() + offBits));
    } else {
        // Padding and the unused bits of a last partial byte are zero.
        const size_t stride = strideFor(kW, k.bits);
        const uint64_t bits = uint64_t{kW} * k.bits;
        for (uint32_t line = 0; line < kH; ++line) {
            const uint8_t *row = f.data() + offBits + line * stride;
            if (bits % 8) {
                EXPECT_EQ(row[bits / 8] & (0xFF >> (bits % 8)), 0) << "tail bits, line " << line;
            }
            for (size_t i = (bits + 7) / 8; i < stride; ++i)
                ASSERT_EQ(row[i], 0) << "padding byte " << i << " of line " << line;
        }
    }

    QImage q = readWithQt(path);
    ASSERT_FALSE(q.isNull());
    ASSERT_EQ(q.width(), int(kW));
    ASSERT_EQ(q.height(), int(kH));
    // Qt widens 5-bit channels by shifting instead of replicating the top bits.
    EXPECT_LE(maxDifference(q, img, k.alpha), k.bits == 16 ? 7 : 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SaveBmp, ::testing::ValuesIn(allKinds()), kindName);

// ---- PNG ----

struct PngExpect {
    int colorType, depth, trns;
};

const std::map<std::string, PngExpect> &pngExpectations() {
    static const std::map<std::string, PngExpect> m = {
        {"Pal1", {3, 1, 0}},    {"Gray1", {0, 1, 0}},        {"Pal4", {3, 4, 0}},
        {"Pal4Of3", {3, 2, 0}}, {"Gray4", {0, 4, 0}},        {"Pal8", {3, 8, 0}},
        {"Gray8", {0, 8, 0}},   {"Gray8Partial", {3, 8, 0}}, {"Pal8Translucent", {3, 8, 35}},
        {"Rle8", {3, 8, 0}},    {"Rle4", {3, 4, 0}},         {"Rgb16", {2, 8, 0}},
        {"Rgb24", {2, 8, 0}},   {"Rgb32", {2, 8, 0}},        {"Rgb32Alpha", {6, 8, 0}},
    };
    return m;
}

class SavePng : public ::testing::TestWithParam<std::tuple<Kind, bool>> {};

TEST_P(SavePng, ColourTypeWithoutLossAndPixelsAsQtReadsThem) {
    const auto &[k, interlaced] = GetParam();
    Image img = build(k, kW, kH);
    TempDir dir;
    auto path = dir / "out.png";
    Status s = savePng(img, path.c_str(), 6, interlaced);
    ASSERT_TRUE(s) << s.message();

    std::vector<uint8_t> f = readFile(path);
    auto chunks = testing_support::pngChunks(f);
    ASSERT_TRUE(chunks.count("IHDR"));
    ASSERT_TRUE(chunks.count("IEND"));
    const size_t ihdr = chunks["IHDR"].first;
    const PngExpect want = pngExpectations().at(k.name);
    EXPECT_EQ(be32(f, ihdr), kW);
    EXPECT_EQ(be32(f, ihdr + 4), kH);
    EXPECT_EQ(f[ihdr + 8], want.depth) << "bit depth";
    EXPECT_EQ(f[ihdr + 9], want.colorType) << "colour type";
    EXPECT_EQ(f[ihdr + 12], interlaced ? 1 : 0) << "interlace method";
    EXPECT_EQ(chunks.count("PLTE"), want.colorType == 3 ? 1u : 0u);
    if (want.trns) {
        ASSERT_TRUE(chunks.count("tRNS"));
        EXPECT_EQ(chunks["tRNS"].second, uint32_t(want.trns)) << "trailing opaque entries trimmed";
    } else {
        EXPECT_FALSE(chunks.count("tRNS"));
    }
    ASSERT_TRUE(chunks.count("pHYs"));
    size_t phys = chunks["pHYs"].first;
    EXPECT_EQ(be32(f, phys), 3780u);
    EXPECT_EQ(be32(f, phys + 4), 2835u);
    EXPECT_EQ(f[phys + 8], 1) << "unit: metre";

    QImage q = readWithQt(path);
    ASSERT_FALSE(q.isNull());
    ASSERT_EQ(q.width(), int(kW));
    ASSERT_EQ(q.height(), int(kH));
    EXPECT_EQ(maxDifference(q, img, true), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SavePng,
                         ::testing::Combine(::testing::ValuesIn(allKinds()), ::testing::Bool()),
                         [](const auto &info) {
                             return std::get<0>(info.param).name +
                                    (std::get<1>(info.param) ? "_Adam7" : "");
                         });

TEST(SavePngLevels, EveryLevelDecodesToTheSamePixels) {
    Image img = build({"Rgb24", 24}, 200, 150);
    TempDir dir;
    std::vector<size_t> sizes;
    for (int level = 0; level <= 9; ++level) {
        // Appended, not "l" + text: GCC 12 at -O3 warns falsely (-Wrestrict) there.
        auto path = dir / (std::string("l").append(std::to_string(level)) + ".png");
        ASSERT_TRUE(savePng(img, path.c_str(), level, false)) << level;
        QImage q = readWithQt(path);
        ASSERT_FALSE(q.isNull()) << level;
        EXPECT_EQ(maxDifference(q, img, true), 0) << level;
        sizes.push_back(readFile(path).size());
    }
    EXPECT_LT(sizes[9], sizes[0]) << "level 0 stores, level 9 compresses";
    // Level 0 stores the rows unfiltered: filtering cannot shrink stored data.
    std::vector<uint8_t> f = readFile(dir / "l0.png"), packed, rows(151 * (200 * 3 + 1));
    for (size_t at = 8; at + 12 <= f.size(); at += 12 + size_t{be32(f, at)})
        if (std::memcmp(&f[at + 4], "IDAT", 4) == 0)
            packed.insert(packed.end(), f.begin() + long(at) + 8,
                          f.begin() + long(at + 8 + be32(f, at)));
    uLongf size = rows.size();
    ASSERT_EQ(uncompress(rows.data(), &size, packed.data(), packed.size()), Z_OK);
    ASSERT_EQ(size, 150u * (200 * 3 + 1));
    for (size_t y = 0; y < 150; ++y)
        EXPECT_EQ(rows[y * (200 * 3 + 1)], 0) << "filter type of row " << y;
}

// Pictures cut into several bands (the tuning lowered so that small ones
// are) that are compressed on their own and joined into one zlib stream.
class SavePngBands : public ::testing::TestWithParam<std::tuple<Kind, int, bool>> {};

TEST_P(SavePngBands, JoinedStreamsDecodeToEveryPixel) {
    const auto &[k, level, interlaced] = GetParam();
    Image img = build(k, 203, 141);
    if (!k.paletteSize) {
        // Grain, so that the compressor emits many blocks per band.
        std::mt19937 rng(level);
        for (uint32_t y = 0; y < img.height; ++y)
            for (uint32_t x = 0; x < img.width * (k.bits / 8); ++x)
                if (k.bits != 32 || x % 4 != 3) img.row(y)[x] ^= static_cast<uint8_t>(rng() & 7);
    }
    TempDir dir;
    auto path = dir / "big.png";
    Status s = savePng(img, path.c_str(), level, interlaced, Tuning::everyPath());
    ASSERT_TRUE(s) << s.message();
    EXPECT_EQ(readFile(path).at(28), interlaced ? 1 : 0);
    QImage q = readWithQt(path);
    ASSERT_FALSE(q.isNull());
    EXPECT_EQ(maxDifference(q, img, true), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SavePngBands,
                         ::testing::Combine(::testing::Values(Kind{"Rgb24", 24},
                                                              Kind{"Gray8", 8, 256, true, true},
                                                              Kind{"Pal4", 4, 16},
                                                              Kind{"Rgb32Alpha", 32, 0, false,
                                                                   false, false, false, true}),
                                            ::testing::Values(0, 1, 5, 9), ::testing::Bool()),
                         [](const auto &info) {
                             return std::get<0>(info.param).name + "_Level" +
                                    std::to_string(std::get<1>(info.param)) +
                                    (std::get<2>(info.param) ? "_Adam7" : "");
                         });

// Adam7 on pictures so small that some passes hold no pixels at all.
TEST(SavePngAdam7, TinyPicturesSkipEmptyPasses) {
    TempDir dir;
    for (const Kind &k : allKinds()) {
        if (k.rle) continue;
        for (auto [w, h] : {std::pair{1u, 1u}, {2u, 3u}, {5u, 1u}, {3u, 9u}, {9u, 2u}}) {
            Image img = build(k, w, h);
            auto path = dir / (k.name + std::to_string(w) + "x" + std::to_string(h) + ".png");
            ASSERT_TRUE(savePng(img, path.c_str(), 6, true)) << path;
            QImage q = readWithQt(path);
            ASSERT_FALSE(q.isNull()) << path;
            ASSERT_EQ(q.size(), QSize(int(w), int(h))) << path;
            EXPECT_EQ(maxDifference(q, img, true), 0) << path;
        }
    }
}

// ---- JPEG ----

struct JpegInfo {
    int sof = -1; // 0xC0, 0xC2, ...
    int components = 0;
    std::vector<std::pair<int, int>> sampling;
    int densityUnit = -1, xDensity = 0, yDensity = 0;
};

JpegInfo parseJpeg(const std::vector<uint8_t> &f) {
    JpegInfo info;
    info.sof = testing_support::jpegFrame(f);
    if (size_t at = info.sof < 0 ? 0 : testing_support::jpegSegment(f, uint8_t(info.sof))) {
        info.components = f.at(at + 9);
        for (int c = 0; c < info.components; ++c) {
            int hv = f.at(at + 11 + 3 * c);
            info.sampling.push_back({hv >> 4, hv & 15});
        }
    }
    size_t app0 = testing_support::jpegSegment(f, 0xE0);
    if (app0 && be16(f, app0 + 2) >= 14 && std::memcmp(&f[app0 + 4], "JFIF", 5) == 0) {
        info.densityUnit = f[app0 + 11];
        info.xDensity = int(be16(f, app0 + 12));
        info.yDensity = int(be16(f, app0 + 14));
    }
    return info;
}

class SaveJpeg : public ::testing::TestWithParam<std::tuple<Kind, bool, int>> {};

TEST_P(SaveJpeg, MarkersAndPixelsAsQtReadsThem) {
    const auto &[k, progressive, quality] = GetParam();
    Image img = build(k, kW, kH);
    TempDir dir;
    auto path = dir / "out.jpg";
    Status s = saveJpeg(img, path.c_str(), quality, progressive);
    ASSERT_TRUE(s) << s.message();

    JpegInfo info = parseJpeg(readFile(path));
    EXPECT_EQ(info.sof, progressive ? 0xC2 : 0xC0);
    const bool gray = k.gray;
    ASSERT_EQ(info.components, gray ? 1 : 3);
    if (!gray) {
        const int f = quality < 90 ? 2 : 1;
        EXPECT_EQ(info.sampling[0], std::make_pair(f, f)) << "luma sampling";
        EXPECT_EQ(info.sampling[1], std::make_pair(1, 1));
        EXPECT_EQ(info.sampling[2], std::make_pair(1, 1));
    }
    EXPECT_EQ(info.densityUnit, 2) << "dots per centimetre";
    EXPECT_EQ(info.xDensity, 38);
    EXPECT_EQ(info.yDensity, 28);

    QImage q = readWithQt(path);
    ASSERT_FALSE(q.isNull());
    ASSERT_EQ(q.width(), int(kW));
    ASSERT_EQ(q.height(), int(kH));
    // Smooth pictures come back close. The colour palette pictures are
    // 3-pixel stripes of unrelated colours, whose chroma 4:2:0 cannot keep;
    // their luma still must come back close.
    if (k.paletteSize && !gray) {
        EXPECT_GE(psnr(q, img, true), 30);
        EXPECT_GE(psnr(q, img), quality < 90 ? 14 : 24);
    } else {
        EXPECT_GE(psnr(q, img), 30);
    }
    if (gray) {
        for (int y = 0; y < q.height(); ++y)
            for (int x = 0; x < q.width(); ++x) {
                QRgb p = q.pixel(x, y);
                ASSERT_TRUE(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p));
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SaveJpeg,
                         ::testing::Combine(::testing::ValuesIn(allKinds()), ::testing::Bool(),
                                            ::testing::Values(85, 95)),
                         [](const auto &info) {
                             return std::get<0>(info.param).name +
                                    (std::get<1>(info.param) ? "_Progressive" : "") + "_Q" +
                                    std::to_string(std::get<2>(info.param));
                         });

// A photo-like picture: smooth shading with grain.
Image photoLike(uint32_t w, uint32_t h) {
    Image img = build({"Rgb24", 24}, w, h);
    std::mt19937 rng(7);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < 3 * w; ++x) {
            int v = img.row(y)[x] + int(rng() % 17) - 8;
            img.row(y)[x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
    return img;
}

TEST(SaveJpegQuality, SizeGrowsWithQualityAndBothEndsAreValid) {
    Image img = photoLike(160, 120);
    TempDir dir;
    size_t previous = 0;
    for (int quality : {1, 10, 30, 50, 70, 89, 90, 100}) {
        auto path = dir / (std::string("q").append(std::to_string(quality)) + ".jpg");
        ASSERT_TRUE(saveJpeg(img, path.c_str(), quality, false)) << quality;
        size_t size = readFile(path).size();
        EXPECT_GT(size, previous) << "quality " << quality;
        previous = size;
        QImage q = readWithQt(path);
        ASSERT_FALSE(q.isNull()) << quality;
        if (quality == 100) {
            EXPECT_GE(psnr(q, img), 40);
        }
    }
}

// The same picture through libjpeg with its standard Huffman tables.
size_t standardTablesSize(const Image &img, int quality) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = img.width;
    cinfo.image_height = img.height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(img.row(cinfo.next_scanline));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return size;
}

TEST(SaveJpegQuality, OptimisedHuffmanTablesBeatTheStandardOnes) {
    Image img = photoLike(160, 120);
    TempDir dir;
    ASSERT_TRUE(saveJpeg(img, (dir / "o.jpg").c_str(), 75, false));
    EXPECT_LT(readFile(dir / "o.jpg").size(), standardTablesSize(img, 75));
}

// The split encoder (two parts whose tables are optimised afterwards, the
// tuning lowered so that small pictures take it) gives the same
// coefficients as libjpeg's whole-image encoding, so both decode to the
// same pixels.
class SaveJpegSplit : public ::testing::TestWithParam<std::tuple<Kind, int>> {};

TEST_P(SaveJpegSplit, PartsJoinIntoTheSamePictureAsOneEncode) {
    const auto &[k, quality] = GetParam();
    Image img = build(k, 203, 141);
    if (!k.paletteSize) {
        std::mt19937 rng(quality);
        for (uint32_t y = 0; y < img.height; ++y)
            for (uint32_t x = 0; x < img.width * (k.bits / 8); ++x)
                img.row(y)[x] ^= static_cast<uint8_t>(rng() & 15);
    }
    TempDir dir;
    ASSERT_TRUE(saveJpeg(img, (dir / "s.jpg").c_str(), quality, false, Tuning::everyPath()));
    ASSERT_TRUE(saveJpeg(img, (dir / "w.jpg").c_str(), quality, false, Tuning::plainPaths()));
    auto split = readFile(dir / "s.jpg");
    EXPECT_NE(testing_support::jpegSegment(split, 0xDD), 0u) << "restart intervals: split";
    EXPECT_EQ(testing_support::jpegSegment(readFile(dir / "w.jpg"), 0xDD), 0u);
    JpegInfo info = parseJpeg(split);
    EXPECT_EQ(info.sof, 0xC0);
    EXPECT_EQ(info.components, k.gray ? 1 : 3);
    if (!k.gray) {
        const int f = quality < 90 ? 2 : 1;
        EXPECT_EQ(info.sampling[0], std::make_pair(f, f));
    }
    EXPECT_EQ(info.densityUnit, 2);
    QImage b = readWithQt(dir / "s.jpg");
    QImage p = readWithQt(dir / "w.jpg");
    ASSERT_FALSE(b.isNull());
    ASSERT_FALSE(p.isNull());
    ASSERT_EQ(b.size(), QSize(203, 141));
    EXPECT_TRUE(b == p) << "the joined parts decode like the whole-image encoding";
    if (quality >= 95) {
        EXPECT_GE(psnr(b, img), 25);
    }
    // Optimised tables: smaller than the standard ones would give (the
    // helper's default sampling is 4:2:0, as ours below quality 90).
    if (k.bits == 24 && quality < 90) {
        EXPECT_LT(split.size(), standardTablesSize(img, quality));
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SaveJpegSplit,
                         ::testing::Combine(::testing::Values(Kind{"Rgb24", 24},
                                                              Kind{"Gray8", 8, 256, true, true},
                                                              Kind{"Pal8", 8, 200},
                                                              Kind{"Rgb32Alpha", 32, 0, false,
                                                                   false, false, false, true}),
                                            ::testing::Values(1, 60, 95, 100)),
                         [](const auto &info) {
                             return std::get<0>(info.param).name + "_Q" +
                                    std::to_string(std::get<1>(info.param));
                         });

// ---- A 16-bit image keeps its colours in every format ----

// Each writer as the program uses it on a 16-bit image, and how far its
// decode may stray from the exact colours.
struct SixteenBitWriter {
    std::string name;
    std::function<Status(const Image &, const char *)> save;
    int colourTolerance; // gray stays exact in every format
};

void PrintTo(const SixteenBitWriter &w, std::ostream *os) {
    *os << w.name;
}

class SixteenBitColours : public ::testing::TestWithParam<SixteenBitWriter> {};

TEST_P(SixteenBitColours, EveryLevelWidensToTheSameColour) {
    // Rows of 8x8 blocks: gray, red, green and blue, each of the 32 levels a
    // flat block (flat 4:4:4 blocks at quality 100 come back from JPEG
    // exactly in gray, within the colour conversion's rounding otherwise).
    const Image img = makeFilled(32 * 8, 4 * 8, 16, [](uint32_t x, uint32_t y) {
        const uint32_t v = x / 8;
        const uint32_t shifts[4][3] = {{10, 5, 0}, {10, 32, 32}, {32, 5, 32}, {32, 32, 0}};
        uint32_t raw = 0;
        for (uint32_t s : shifts[y / 8])
            raw |= s < 32 ? v << s : 0;
        return raw;
    });
    TempDir dir;
    const auto path = dir / ("out." + GetParam().name);
    Status s = GetParam().save(img, path.c_str());
    ASSERT_TRUE(s) << s.message();
    QImage q = readWithQt(path);
    ASSERT_EQ(q.size(), QSize(int(img.width), int(img.height)));
    for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x) {
            const uint32_t raw = rawAt(img, x, y);
            const QRgb want = qRgb(fiveToEight((raw >> 10) & 31), fiveToEight((raw >> 5) & 31),
                                   fiveToEight(raw & 31));
            const QRgb got = q.pixel(int(x), int(y));
            const int allowed = y < 8 ? 0 : GetParam().colourTolerance;
            ASSERT_LE(std::abs(qRed(got) - qRed(want)), allowed) << x << "," << y;
            ASSERT_LE(std::abs(qGreen(got) - qGreen(want)), allowed) << x << "," << y;
            ASSERT_LE(std::abs(qBlue(got) - qBlue(want)), allowed) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, SixteenBitColours,
    ::testing::Values(
        SixteenBitWriter{"bmp",
                         [](const Image &i, const char *p) {
                             // A 16-bit BMP keeps the fields; widened by DIBto24Bit.
                             Image wide = copyOf(i);
                             if (Status s = convertTo24(wide); !s) return s;
                             return saveBmp(wide, p);
                         },
                         0},
        SixteenBitWriter{"png",
                         [](const Image &i, const char *p) { return savePng(i, p, 6, false); }, 0},
        SixteenBitWriter{
            "jpg", [](const Image &i, const char *p) { return saveJpeg(i, p, 100, false); }, 2}),
    [](const auto &info) { return info.param.name; });

} // namespace
