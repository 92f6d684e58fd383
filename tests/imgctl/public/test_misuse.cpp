// SPDX-License-Identifier: MIT
// Misuse of the C interface that the handle tests do not cover: null and
// empty paths, drawing onto null, tiny or malformed surfaces and through
// rectangles outside them, options far outside their ranges. Nothing
// crashes, nothing is written where it must not be, and each call fails or
// clamps as the header says.
#include "corpus.h"
#include "imgctl.h"

#include <gtest/gtest.h>

#include <QImage>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using testing_support::readFile;
using testing_support::TempDir;

namespace {

std::string lastError() {
    return ImgctlLastError();
}

class Misuse : public ::testing::Test {
  protected:
    void SetUp() override {
        image = ToDIB(testing_support::corpus("bmpsuite/g/rgb24.bmp").c_str());
        ASSERT_GT(image, 0) << lastError();
    }
    void TearDown() override { EXPECT_EQ(DeleteDIB(image), 1); }
    std::string path(const std::string &name) const { return (dir / name).string(); }
    std::vector<uint8_t> pixelsOf(const std::string &file) const {
        QImage q(QString::fromStdString(path(file)));
        q = q.convertToFormat(QImage::Format_RGB32);
        return std::vector<uint8_t>(q.constBits(), q.constBits() + q.sizeInBytes());
    }

    TempDir dir;
    int32_t image = 0; // 127 x 64, 24 bits
};

TEST_F(Misuse, SavesWithNullOrEmptyPathOrBadOptionsFail) {
    PngOptions options{};
    for (const char *p : {static_cast<const char *>(nullptr), ""}) {
        SCOPED_TRACE(p ? "empty" : "null");
        EXPECT_EQ(DIBtoBMP(p, image), 0);
        EXPECT_FALSE(lastError().empty());
        EXPECT_EQ(DIBtoJPG(p, image, 75, 0), 0);
        EXPECT_FALSE(lastError().empty());
        EXPECT_EQ(DIBtoPNG(p, image, 0), 0);
        EXPECT_FALSE(lastError().empty());
        EXPECT_EQ(DIBtoPNGex(p, image, &options), 0);
        EXPECT_NE(lastError().find("path"), std::string::npos) << lastError();
    }
    EXPECT_EQ(ToDIB(nullptr), 0);
    EXPECT_EQ(DIBtoPNG(path("x.png").c_str(), image, 1), 0) << "zero must be 0";
    EXPECT_NE(lastError().find("DIBtoPNG"), std::string::npos) << lastError();
    EXPECT_EQ(DIBtoPNGex(path("x.png").c_str(), image, nullptr), 0);
    EXPECT_NE(lastError().find("null"), std::string::npos) << lastError();
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    BITMAPINFOHEADER h{};
    EXPECT_EQ(HeadDIB(image, &h), 1) << "the image survives";
}

// Quality outside 1..100 is clamped: -5 writes what 1 writes, 1000 what 100
// writes. A level outside 0..9 is clamped the same way.
TEST_F(Misuse, OptionsFarOutsideTheirRangesAreClamped) {
    ASSERT_EQ(DIBtoJPG(path("qm5.jpg").c_str(), image, -5, 0), 1) << lastError();
    ASSERT_EQ(DIBtoJPG(path("q1.jpg").c_str(), image, 1, 0), 1);
    ASSERT_EQ(DIBtoJPG(path("q1000.jpg").c_str(), image, 1000, 0), 1);
    ASSERT_EQ(DIBtoJPG(path("q100.jpg").c_str(), image, 100, 0), 1);
    ASSERT_EQ(DIBtoJPG(path("qmin.jpg").c_str(), image, INT_MIN, INT_MIN), 1);
    EXPECT_EQ(readFile(dir / "qm5.jpg"), readFile(dir / "q1.jpg"));
    EXPECT_EQ(readFile(dir / "q1000.jpg"), readFile(dir / "q100.jpg"));
    EXPECT_EQ(QImage(QString::fromStdString(path("qmin.jpg"))).size(), QSize(127, 64));

    PngOptions options{};
    options.level = 99;
    ASSERT_EQ(DIBtoPNGex(path("l99.png").c_str(), image, &options), 1) << lastError();
    options.level = 9;
    ASSERT_EQ(DIBtoPNGex(path("l9.png").c_str(), image, &options), 1);
    options.level = -32768;
    ASSERT_EQ(DIBtoPNGex(path("lneg.png").c_str(), image, &options), 1);
    options.level = 0;
    ASSERT_EQ(DIBtoPNGex(path("l0.png").c_str(), image, &options), 1);
    EXPECT_EQ(readFile(dir / "l99.png"), readFile(dir / "l9.png"));
    EXPECT_EQ(readFile(dir / "lneg.png"), readFile(dir / "l0.png"));
    EXPECT_EQ(pixelsOf("l99.png"), pixelsOf("l0.png"));
    // Every flag bit but interlacing is ignored.
    options.flags = 0xFFFFFFFFu & ~IMGCTL_PNG_INTERLACED;
    std::memset(options.reserved, 0xAB, sizeof options.reserved);
    ASSERT_EQ(DIBtoPNGex(path("flags.png").c_str(), image, &options), 1);
    EXPECT_EQ(readFile(dir / "flags.png"), readFile(dir / "l0.png"));
}

// GrayDIB reads the low 16 bits as a signed number: 40000 is -25536 there,
// clamped to 0, which changes nothing; 65791 is 255 there, pure gray.
TEST_F(Misuse, GrayLevelOutsideItsRangeIsClamped) {
    ASSERT_EQ(DIBtoBMP(path("before.bmp").c_str(), image), 1);
    ASSERT_EQ(GrayDIB(image, 40000), image) << lastError();
    ASSERT_EQ(GrayDIB(image, -1), image);
    ASSERT_EQ(GrayDIB(image, INT_MIN), image);
    ASSERT_EQ(DIBtoBMP(path("after.bmp").c_str(), image), 1);
    EXPECT_EQ(readFile(dir / "before.bmp"), readFile(dir / "after.bmp"));

    ASSERT_EQ(GrayDIB(image, 0x100FF), image);
    ASSERT_EQ(DIBtoBMP(path("gray.bmp").c_str(), image), 1);
    QImage gray(QString::fromStdString(path("gray.bmp")));
    ASSERT_FALSE(gray.isNull());
    for (int y = 0; y < gray.height(); y += 7)
        for (int x = 0; x < gray.width(); x += 5) {
            QRgb c = gray.pixel(x, y);
            ASSERT_TRUE(qRed(c) == qGreen(c) && qGreen(c) == qBlue(c)) << x << "," << y;
        }
}

// A surface inside a larger buffer whose guard words must never change.
struct GuardedSurface {
    static constexpr uint32_t kGuard = 0xDEADBEEF;
    static constexpr int kPad = 64;
    std::vector<uint32_t> buffer;
    ImgctlSurface surface{};

    GuardedSurface(int32_t width, int32_t height) {
        const int32_t stride = width + 3; // three spare words right of each row
        buffer.assign(size_t(kPad) * 2 + size_t(stride) * height, kGuard);
        surface = {buffer.data() + kPad, width, height, stride * 4};
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                at(x, y) = 0x12345678;
    }
    uint32_t &at(int32_t x, int32_t y) {
        return surface.pixels[size_t(y) * (surface.stride_bytes / 4) + x];
    }
    // True when every word outside the surface's pixels is still the guard.
    bool guardsIntact() const {
        const int32_t stride = surface.stride_bytes / 4;
        for (size_t i = 0; i < buffer.size(); ++i) {
            long off = long(i) - kPad;
            bool inside =
                off >= 0 && off < long(stride) * surface.height && off % stride < surface.width;
            if (!inside && buffer[i] != kGuard) return false;
        }
        return true;
    }
    size_t changed() {
        size_t n = 0;
        for (int32_t y = 0; y < surface.height; ++y)
            for (int32_t x = 0; x < surface.width; ++x)
                n += at(x, y) != 0x12345678;
        return n;
    }
};

TEST_F(Misuse, DrawingOntoBadSurfacesFails) {
    EXPECT_EQ(DIBtoDCex2(nullptr, 0, 0, 4, 4, image, 0, 0, 127, 64, IMGCTL_SRCCOPY, 4), 0);
    EXPECT_FALSE(lastError().empty());
    uint32_t one = 0x12345678;
    const ImgctlSurface bad[] = {
        {nullptr, 4, 4, 16},   // no pixels
        {&one, 0, 1, 4},       // no width
        {&one, 1, 0, 4},       // no height
        {&one, -1, 1, 4},      // negative width
        {&one, 1, -5, 4},      // negative height
        {&one, 1, 1, 3},       // stride not a multiple of 4
        {&one, 2, 1, 4},       // stride shorter than a row
        {&one, 1, 1, -4},      // negative stride
        {&one, INT_MAX, 1, 4}, // stride far shorter than a row
    };
    for (const ImgctlSurface &s : bad) {
        ImgctlSurface copy = s;
        SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height) + " stride " +
                     std::to_string(s.stride_bytes));
        for (int mode = 1; mode <= 4; mode += 3)
            EXPECT_EQ(DIBtoDCex2(&copy, 0, 0, 1, 1, image, 0, 0, 127, 64, IMGCTL_SRCCOPY, mode), 0);
        EXPECT_FALSE(lastError().empty());
    }
    EXPECT_EQ(one, 0x12345678u);
}

TEST_F(Misuse, DrawingWithBadSourceRectanglesRopOrModeFails) {
    GuardedSurface g(8, 8);
    const int32_t rects[][4] = {
        {-1, 0, 10, 10},    {0, -1, 10, 10},    {0, 0, 128, 64},    {0, 0, 127, 65},
        {120, 0, 8, 1},     {0, 60, 1, 5},      {0, 0, 0, 10},      {0, 0, 10, 0},
        {0, 0, -10, 10},    {0, 0, 10, -10},    {1, 1, INT_MAX, 1}, {1, 1, 1, INT_MAX},
        {INT_MAX, 0, 1, 1}, {INT_MIN, 0, 1, 1},
    };
    for (const auto &r : rects) {
        SCOPED_TRACE(::testing::Message() << r[0] << "," << r[1] << " " << r[2] << "x" << r[3]);
        EXPECT_EQ(
            DIBtoDCex2(&g.surface, 0, 0, 8, 8, image, r[0], r[1], r[2], r[3], IMGCTL_SRCCOPY, 4),
            0);
    }
    EXPECT_EQ(DIBtoDCex2(&g.surface, 0, 0, 8, 8, image, 0, 0, 127, 64, 0, 4), 0);
    for (int32_t mode : {0, 5, -1, INT_MAX})
        EXPECT_EQ(DIBtoDCex2(&g.surface, 0, 0, 8, 8, image, 0, 0, 127, 64, IMGCTL_SRCCOPY, mode),
                  0);
    // An empty destination fails too.
    EXPECT_EQ(DIBtoDCex2(&g.surface, 0, 0, 0, 8, image, 0, 0, 127, 64, IMGCTL_SRCCOPY, 4), 0);
    EXPECT_EQ(DIBtoDCex2(&g.surface, 0, 0, 8, -8, image, 0, 0, 127, 64, IMGCTL_SRCCOPY, 4), 0);
    EXPECT_EQ(g.changed(), 0u) << "a failed draw paints nothing";
    EXPECT_TRUE(g.guardsIntact());
}

// Destinations partly or wholly off a tiny surface, up to the ends of the
// 32-bit range: only pixels on the surface change, wholly off draws nothing
// and succeeds.
TEST_F(Misuse, DestinationsOffTheSurfaceAreClipped) {
    for (int32_t size : {1, 3}) {
        SCOPED_TRACE(size);
        for (int mode = 1; mode <= 4; mode += 3) {
            GuardedSurface g(size, size);
            const int32_t off[][4] = {
                {size, 0, 5, 5},
                {0, size, 5, 5},
                {-5, 0, 5, 5},
                {0, -5, 5, 5},
                {INT_MAX, 0, 1, 1},
                {INT_MIN, INT_MIN, 5, 5},
                {INT_MIN, 0, INT_MAX, 1},
                {size + 1, size + 1, INT_MAX, INT_MAX},
            };
            for (const auto &d : off) {
                EXPECT_EQ(DIBtoDCex2(&g.surface, d[0], d[1], d[2], d[3], image, 0, 0, 127, 64,
                                     IMGCTL_SRCCOPY, mode),
                          1)
                    << d[0] << "," << d[1] << " " << d[2] << "x" << d[3] << ": " << lastError();
            }
            EXPECT_EQ(g.changed(), 0u) << "nothing lies on the surface";
            EXPECT_TRUE(g.guardsIntact());

            // Huge destinations cover the whole surface and stay inside it.
            const int32_t over[][4] = {
                {-3, -3, 10, 10},
                {INT_MIN / 2, INT_MIN / 2, INT_MAX, INT_MAX},
                {0, 0, INT_MAX, INT_MAX},
                {-1, -1, 65536, 3},
            };
            for (const auto &d : over) {
                int32_t r = DIBtoDCex2(&g.surface, d[0], d[1], d[2], d[3], image, 0, 0, 127, 64,
                                       IMGCTL_SRCCOPY, mode);
                EXPECT_EQ(r, 1) << d[0] << "," << d[1] << " " << d[2] << "x" << d[3] << ": "
                                << lastError();
                EXPECT_TRUE(g.guardsIntact());
            }
            EXPECT_EQ(g.changed(), size_t(size) * size);
            for (int32_t y = 0; y < size; ++y)
                for (int32_t x = 0; x < size; ++x)
                    EXPECT_EQ(g.at(x, y) >> 24, 0xFFu);
        }
    }
}

} // namespace
