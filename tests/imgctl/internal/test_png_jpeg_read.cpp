// SPDX-License-Identifier: MIT
// The PNG and JPEG decoders: a JPEG size limit, the layouts each PNG kind
// maps to and its transparency keys, and endless JPEG scans. (Densities are
// checked through HeadDIB, damaged files with the BMP ones in
// test_bmp_read.cpp, EXIF orientation with the other metadata in
// test_save_formats.cpp, the PNG readers that do without libpng against
// libpng's by the fuzz_png_fast replay, and the corpus files' pixels in
// tests/imgctl/public/test_corpus_pixels.cpp.)
#include "core/ops.h"
#include "corpus.h"
#include "hostile_files.h"
#include "test_images.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace imgctl;
using namespace test_images;
using testing_support::corpus;
using testing_support::readFile;

namespace {

// A PNG or JPEG file's bytes decoded by its reader.
Result<Image> decode(const std::vector<uint8_t> &b) {
    return b.at(0) == 0xFF ? decodeJpeg(b.data(), b.size()) : decodePng(b.data(), b.size());
}

// Recovered as libjpeg-turbo does: with the standard Huffman tables.
TEST(JpegRead, MissingHuffmanTablesFallBackToTheStandardOnes) {
    auto img = decode(readFile(corpus("jpeg/bad/no-huffman-tables.jpg")));
    ASSERT_TRUE(img) << img.status().message();
    EXPECT_TRUE(sameRgba(toRgba(img.value()), qtRgba(corpus("jpeg/ref/baseline-420.png")), 3));
}

// ---- PNG ----

struct Layout {
    const char *file; // in the PngSuite
    uint16_t bitCount;
    size_t paletteSize; // 0: no palette
    bool gray;          // every entry gray and opaque
    bool translucent;   // some entry or pixel below full alpha
};

TEST(PngRead, KeepsTheDataInTheClosestBitmapLayout) {
    const Layout layouts[] = {
        {"basn0g01", 1, 2, true, false},    {"basn0g02", 4, 4, true, false},
        {"basn0g04", 4, 16, true, false},   {"basn0g08", 8, 256, true, false},
        {"basn0g16", 8, 256, true, false},  {"basn2c08", 24, 0, false, false},
        {"basn2c16", 24, 0, false, false},  {"basn3p01", 1, 2, false, false},
        {"basn3p02", 4, 4, false, false},   {"basn3p04", 4, 15, false, false},
        {"basn3p08", 8, 256, false, false}, {"basn4a08", 32, 0, false, true},
        {"basn6a16", 32, 0, false, true},   {"ftbbn3p08", 8, 246, false, true},
        {"ftbbn2c16", 32, 0, false, true},  {"ftbwn0g16", 32, 0, false, true},
        {"ftbbn0g04", 4, 16, false, true}};
    for (const Layout &want : layouts) {
        SCOPED_TRACE(want.file);
        auto img = decode(readFile(corpus(std::string("pngsuite/") + want.file + ".png")));
        ASSERT_TRUE(img) << img.status().message();
        EXPECT_EQ(img->bitCount, want.bitCount);
        EXPECT_EQ(img->palette.size(), want.paletteSize);
        EXPECT_EQ(hasGrayPalette(img.value()), want.gray);
        EXPECT_EQ(hasTransparency(img.value()), want.translucent);
    }
}

// An 8-bit gray file's tRNS key makes its one palette entry transparent; a
// key past the 256 levels makes none.
TEST(PngRead, GrayKeyMakesOneEntryTransparent) {
    for (auto [key, transparent] : {std::pair{2, 2}, {255, 255}, {256, -1}, {0xFFFF, -1}}) {
        hostile::Bytes file = hostile::png(3, 1, 0, hostile::zlibStored({0, 1, 2, 3})), trns;
        hostile::putBe(trns, uint32_t(key), 2);
        hostile::Bytes chunk; // after IHDR
        hostile::pngChunk(chunk, "tRNS", trns);
        file.insert(file.begin() + 33, chunk.begin(), chunk.end());
        auto img = decode(file);
        ASSERT_TRUE(img) << img.status().message();
        ASSERT_EQ(img->palette.size(), 256u);
        for (size_t i = 0; i < 256; ++i) {
            const PaletteEntry &e = img->palette[i];
            EXPECT_TRUE(e.r == i && e.g == i && e.b == i) << i;
            EXPECT_EQ(e.a, int(i) == transparent ? 0 : 255) << "key " << key << ", entry " << i;
        }
    }
}

// ---- JPEG ----

// Within the limits (16000x16000 is 732 MiB of pixels) but the file is a few
// kilobytes, far too few for that many blocks: refused before allocating.
// (A baseline file is checked through the C interface with the other hostile
// files; sizes past the limits there too.)
TEST(JpegRead, ProgressiveHeaderLargerThanItsDataIsRefused) {
    std::vector<uint8_t> bytes = readFile(corpus("jpeg/progressive-420.jpg"));
    const size_t sof = testing_support::jpegSegment(bytes, 0xC2);
    ASSERT_NE(sof, 0u);
    bytes[sof + 5] = bytes[sof + 7] = 16000 >> 8, bytes[sof + 6] = bytes[sof + 8] = 16000 & 255;
    auto img = decode(bytes);
    ASSERT_FALSE(img);
    EXPECT_EQ(img.status().code(), Error::Corrupt) << img.status().message();
}

// A progressive file with one of its scans repeated past 1,000 scans: libjpeg
// would decode every one; the reader stops.
TEST(JpegRead, EndlessScansAreCut) {
    std::vector<uint8_t> bytes = readFile(corpus("jpeg/progressive-420.jpg"));
    // The second scan: from its SOS marker to the marker after its data.
    size_t first = testing_support::jpegSegment(bytes, 0xDA);
    ASSERT_NE(first, 0u);
    auto scanEnd = [&](size_t sos) {
        size_t i = sos + 2 + ((bytes[sos + 2] << 8) | bytes[sos + 3]);
        while (i + 1 < bytes.size() &&
               !(bytes[i] == 0xFF && bytes[i + 1] != 0 && (bytes[i + 1] & 0xF8) != 0xD0))
            ++i;
        return i;
    };
    size_t second = scanEnd(first);
    while (second + 1 < bytes.size() && bytes[second + 1] != 0xDA) // skip DHT between scans
        second += 2 + ((bytes[second + 2] << 8) | bytes[second + 3]);
    ASSERT_LT(second + 1, bytes.size());
    std::vector<uint8_t> scan(bytes.begin() + second, bytes.begin() + scanEnd(second));
    auto repeated = [&](int times) {
        std::vector<uint8_t> out(bytes.begin(), bytes.begin() + scanEnd(second));
        for (int i = 0; i < times; ++i)
            out.insert(out.end(), scan.begin(), scan.end());
        out.push_back(0xFF);
        out.push_back(0xD9);
        return out;
    };
    auto img = decode(repeated(900)); // 902 scans: decodes
    ASSERT_TRUE(img) << img.status().message();
    img = decode(repeated(1000));
    ASSERT_FALSE(img);
    EXPECT_EQ(img.status().code(), Error::Corrupt);
    EXPECT_NE(img.status().message().find("scans"), std::string::npos) << img.status().message();
}

} // namespace
