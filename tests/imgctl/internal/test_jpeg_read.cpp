// SPDX-License-Identifier: MIT
// The JPEG decoder: EXIF orientation from blocks made here, damaged files,
// lying headers and size limits. (The corpus files' pixels are checked with
// every other format's in tests/imgctl/public/test_corpus_pixels.cpp.)
#include "core/ops.h"
#include "corpus.h"
#include "test_images.h"

#include <gtest/gtest.h>

using namespace imgctl;
using namespace test_images;
using testing_support::corpus;
using testing_support::readFile;

namespace {

Result<Image> decodeBytes(const std::vector<uint8_t> &bytes) {
    return decodeJpeg(bytes.data(), bytes.size());
}

Result<Image> decodeFile(const std::string &relative) {
    return decodeBytes(readFile(corpus(relative)));
}

// ---- EXIF written by the test: both byte orders, broken segments ----

// An APP1 segment holding an EXIF block whose IFD0 has `entries` entries,
// the last one Orientation = value (a SHORT). cut drops that many bytes from
// the end of the block.
std::vector<uint8_t> exifSegment(bool little, uint16_t value, uint16_t entries = 1,
                                 size_t cut = 0) {
    std::vector<uint8_t> tiff;
    auto u16 = [&](uint32_t v) {
        tiff.push_back(uint8_t(little ? v : v >> 8));
        tiff.push_back(uint8_t(little ? v >> 8 : v));
    };
    auto u32 = [&](uint32_t v) {
        if (little)
            u16(v & 0xFFFF), u16(v >> 16);
        else
            u16(v >> 16), u16(v & 0xFFFF);
    };
    tiff.push_back(little ? 'I' : 'M');
    tiff.push_back(little ? 'I' : 'M');
    u16(42);
    u32(8);
    u16(entries);
    for (uint16_t i = 0; i + 1 < entries; ++i) { // ImageWidth-like filler entries
        u16(0x0100);
        u16(3);
        u32(1);
        u32(0);
    }
    u16(0x0112);
    u16(3);
    u32(1);
    u16(value);
    u16(0);
    u32(0); // no next IFD
    tiff.resize(tiff.size() - cut);
    std::vector<uint8_t> seg = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    for (uint8_t b : tiff)
        seg.push_back(b);
    size_t length = seg.size() - 2;
    seg[2] = uint8_t(length >> 8);
    seg[3] = uint8_t(length);
    return seg;
}

// file with `segment` inserted right after SOI (so it is the first APP1).
std::vector<uint8_t> withSegment(const std::string &file, const std::vector<uint8_t> &segment) {
    std::vector<uint8_t> bytes = readFile(corpus(file));
    bytes.insert(bytes.begin() + 2, segment.begin(), segment.end());
    return bytes;
}

TEST(JpegRead, ExifInEitherByteOrderTurnsThePicture) {
    Rgba upright = qtRgba(corpus("jpeg/ref/orient-1.png"));
    for (bool little : {true, false})
        for (int n : {3, 6, 7}) {
            SCOPED_TRACE(std::to_string(n) + (little ? " II" : " MM"));
            std::string file = "jpeg/orient-" + std::to_string(n) + ".jpg";
            auto img = decodeBytes(withSegment(file, exifSegment(little, uint16_t(n), 3)));
            ASSERT_TRUE(img) << img.status().message();
            EXPECT_TRUE(sameRgba(toRgba(img.value()), upright, 3));
        }
}

// A broken first EXIF block, or an APP1 block that is not EXIF at all (XMP),
// is skipped; the camera's own block after it still counts.
TEST(JpegRead, BrokenExifIsIgnored) {
    Rgba upright = qtRgba(corpus("jpeg/ref/orient-1.png"));
    std::vector<uint8_t> farIfd = exifSegment(true, 6);
    farIfd[14] = 0xF0, farIfd[15] = 0xFF, farIfd[16] = 0xFF, farIfd[17] = 0xFF; // IFD0 offset
    std::vector<uint8_t> oddOrder = exifSegment(false, 6);
    oddOrder[11] = 'I'; // "MI": neither byte order
    const char xmp[] = "http://ns.adobe.com/xap/1.0/";
    std::vector<uint8_t> notExif = {0xFF, 0xE1, 0, sizeof xmp + 2};
    notExif.insert(notExif.end(), xmp, xmp + sizeof xmp);
    const std::vector<std::vector<uint8_t>> broken = {
        exifSegment(true, 6, 3, 8),                   // the Orientation entry runs past the segment
        exifSegment(false, 6, 2, 8),                  // the same, big-endian
        farIfd,                                       // IFD0 far past the segment
        exifSegment(false, 9),                        // no such orientation
        {0xFF, 0xE1, 0, 8, 'E', 'x', 'i', 'f', 0, 0}, // no TIFF header
        oddOrder,
        notExif,
    };
    for (size_t i = 0; i < broken.size(); ++i) {
        SCOPED_TRACE(i);
        auto img = decodeBytes(withSegment("jpeg/orient-8.jpg", broken[i]));
        ASSERT_TRUE(img) << img.status().message();
        EXPECT_TRUE(sameRgba(toRgba(img.value()), upright, 3));
    }
}

// Gray and CMYK files take other paths through the turning code than the
// colour orient-N files: each orientation against the reference turned by Qt
// as a viewer would turn it.
// What a viewer shows of an upright picture stored with EXIF orientation n
// (1 to 8): 5 to 8 turned a quarter clockwise, then mirrored.
QImage turned(const QImage &upright, int n) {
    constexpr bool kAcross[9] = {false, false, true, true, false, true, false, false, true};
    constexpr bool kUpDown[9] = {false, false, false, true, true, false, false, true, true};
    const QImage q = n >= 5 ? upright.transformed(QTransform().rotate(90)) : upright;
    return q.mirrored(kAcross[n], kUpDown[n]);
}

TEST(JpegRead, EveryOrientationOfGrayAndCmykFiles) {
    for (const char *name : {"grayscale", "cmyk-adobe-inverted"})
        for (int n = 2; n <= 8; ++n) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(n));
            QImage ref = qtRead(corpus(std::string("jpeg/ref/") + name + ".png"));
            ASSERT_FALSE(ref.isNull());
            ref = turned(ref, n);
            auto img = decodeBytes(withSegment(std::string("jpeg/") + name + ".jpg",
                                               exifSegment(n % 2 == 0, uint16_t(n))));
            ASSERT_TRUE(img) << img.status().message();
            EXPECT_TRUE(sameRgba(toRgba(img.value()), qtRgba(ref), 3));
        }
}

// ---- Header fields patched by the test ----

std::vector<uint8_t> withSize(const std::string &file, uint8_t sof, uint16_t w, uint16_t h) {
    std::vector<uint8_t> bytes = readFile(corpus(file));
    size_t at = testing_support::jpegSegment(bytes, sof);
    EXPECT_NE(at, 0u);
    if (at == 0) return {};
    bytes[at + 5] = uint8_t(h >> 8), bytes[at + 6] = uint8_t(h);
    bytes[at + 7] = uint8_t(w >> 8), bytes[at + 8] = uint8_t(w);
    return bytes;
}

TEST(JpegRead, JfifDensityBecomesPelsPerMetre) {
    std::vector<uint8_t> bytes = readFile(corpus("jpeg/baseline-420.jpg"));
    size_t app0 = testing_support::jpegSegment(bytes, 0xE0);
    ASSERT_NE(app0, 0u);
    // APP0: FF E0, length, "JFIF\0", version (2), units, Xdensity, Ydensity.
    bytes[app0 + 11] = 1; // dots per inch
    bytes[app0 + 12] = 300 >> 8, bytes[app0 + 13] = 300 & 255;
    bytes[app0 + 14] = 0, bytes[app0 + 15] = 72;
    auto img = decodeBytes(bytes);
    ASSERT_TRUE(img) << img.status().message();
    EXPECT_EQ(img->xPelsPerMeter, 11811);
    EXPECT_EQ(img->yPelsPerMeter, 2835);
    bytes[app0 + 11] = 2; // dots per centimetre
    img = decodeBytes(bytes);
    ASSERT_TRUE(img) << img.status().message();
    EXPECT_EQ(img->xPelsPerMeter, 30000);
    EXPECT_EQ(img->yPelsPerMeter, 7200);
}

// Past libjpeg's own limit of 65500 a side. (Headers within it but past
// ours are checked through the C interface with the other hostile files.)
TEST(JpegRead, SizesPastTheLimitsAreRefusedUpFront) {
    auto img = decodeBytes(withSize("jpeg/grayscale.jpg", 0xC0, 65535, 8));
    ASSERT_FALSE(img);
    EXPECT_EQ(img.status().code(), Error::TooLarge) << img.status().message();
}

// Within the limits (16000x16000 is 732 MiB of pixels) but the file is a few
// kilobytes, far too few for that many blocks: refused before allocating.
TEST(JpegRead, HeaderLargerThanItsDataIsRefused) {
    for (auto [file, sof] :
         {std::pair{"jpeg/baseline-420.jpg", 0xC0}, std::pair{"jpeg/progressive-420.jpg", 0xC2}}) {
        SCOPED_TRACE(file);
        auto img = decodeBytes(withSize(file, uint8_t(sof), 16000, 16000));
        ASSERT_FALSE(img);
        EXPECT_EQ(img.status().code(), Error::Corrupt) << img.status().message();
    }
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
    auto img = decodeBytes(repeated(900)); // 902 scans: decodes
    ASSERT_TRUE(img) << img.status().message();
    img = decodeBytes(repeated(1000));
    ASSERT_FALSE(img);
    EXPECT_EQ(img.status().code(), Error::Corrupt);
    EXPECT_NE(img.status().message().find("scans"), std::string::npos) << img.status().message();
}

// ---- Damaged files ----

struct BadFile {
    std::string path;
    std::string expect; // reject or any
};

std::vector<BadFile> badJpegs() {
    std::vector<BadFile> files;
    for (const auto &row : testing_support::readTsv(corpusRoot() / "jpeg/bad/EXPECT.tsv"))
        if (row.size() >= 2) files.push_back({"jpeg/" + row[0], row[1]});
    return files;
}

class DamagedJpeg : public ::testing::TestWithParam<BadFile> {};

TEST_P(DamagedJpeg, FailsCleanlyOrDecodesSafely) {
    const BadFile &f = GetParam();
    auto img = decodeFile(f.path);
    if (f.expect == "reject") {
        ASSERT_FALSE(img) << "decoded";
        EXPECT_NE(img.status().code(), Error::None);
    }
    if (img) {
        EXPECT_EQ(img->width, 256u);
        EXPECT_EQ(img->height, 192u);
    } else {
        EXPECT_EQ(img.status().message().rfind("JPEG: ", 0), 0u) << img.status().message();
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, DamagedJpeg, ::testing::ValuesIn(badJpegs()),
                         [](const auto &info) { return testName(info.param.path); });

// Recovered as libjpeg-turbo does: with the standard Huffman tables.
TEST(JpegRead, MissingHuffmanTablesFallBackToTheStandardOnes) {
    auto img = decodeFile("jpeg/bad/no-huffman-tables.jpg");
    ASSERT_TRUE(img) << img.status().message();
    EXPECT_TRUE(sameRgba(toRgba(img.value()), qtRgba(corpus("jpeg/ref/baseline-420.png")), 3));
}

} // namespace
