// SPDX-License-Identifier: MIT
// Test images built in memory, their pixels read back with plain per-pixel
// arithmetic (independent of the library's own row readers), Qt's decode of
// a file as RGBA, and tolerant comparisons.
#pragma once

#include "core/image.h"
#include "core/ops.h"
#include "file_fields.h"

#include <QImage>
#include <QImageReader>
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace test_images {

using imgctl::Image;
using imgctl::PaletteEntry;

// ---- Building images ----

// B, G, R, A.
using Bgra = std::array<uint8_t, 4>;
using Bgr = std::array<uint8_t, 3>;

inline uint32_t bgra(uint8_t b, uint8_t g, uint8_t r, uint8_t a = 255) {
    return b | (uint32_t{g} << 8) | (uint32_t{r} << 16) | (uint32_t{a} << 24);
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

// Everything a caller can see is the same (pixel bytes up to each row's last
// pixel, palette, depth, compression, stream).
inline bool sameImage(const Image &a, const Image &b) {
    if (a.width != b.width || a.height != b.height || a.bitCount != b.bitCount ||
        a.stride != b.stride || a.palette != b.palette || a.compression != b.compression ||
        a.rle != b.rle)
        return false;
    const size_t used = (size_t{a.width} * a.bitCount + 7) / 8;
    for (uint32_t y = 0; y < a.height; ++y)
        if (std::memcmp(a.row(y), b.row(y), used) != 0) return false;
    return true;
}

// RGB PSNR of `reduced` against `source`, both read over white.
inline double psnr(const Image &source, const Image &reduced) {
    double sum = 0;
    for (uint32_t y = 0; y < source.height; ++y)
        for (uint32_t x = 0; x < source.width; ++x) {
            Bgr s = shownAt(source, x, y), r = shownAt(reduced, x, y);
            for (int c = 0; c < 3; ++c)
                sum += (s[c] - r[c]) * (s[c] - r[c]);
        }
    double mse = sum / (3.0 * source.width * source.height);
    return mse == 0 ? 1000 : 10 * std::log10(255.0 * 255.0 / mse);
}

// ---- Decoded images as plain RGBA, ours and Qt's ----

using Pixel = std::array<uint8_t, 4>; // R, G, B, A

struct Rgba {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> px; // R, G, B, A per pixel, rows top-down
    const uint8_t *at(int x, int y) const { return px.data() + (size_t(y) * width + x) * 4; }
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

// A Qt image as RGBA (not premultiplied); width 0 for a null image.
inline Rgba qtRgba(QImage image) {
    Rgba out;
    if (image.isNull()) return out;
    image = image.convertToFormat(QImage::Format_RGBA8888);
    out.width = image.width();
    out.height = image.height();
    out.px.resize(size_t(out.width) * out.height * 4);
    for (int y = 0; y < out.height; ++y)
        std::copy_n(image.constScanLine(y), size_t(out.width) * 4,
                    out.px.data() + size_t(y) * out.width * 4);
    return out;
}

// Qt's decode of a file; a null image when Qt fails.
inline QImage qtRead(const std::filesystem::path &path) {
    return QImageReader(QString::fromStdString(path.string())).read();
}

inline Rgba qtRgba(const std::filesystem::path &path) {
    return qtRgba(qtRead(path));
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
    size_t bad = 0;
    int worst = 0;
    std::string first;
    auto text = [](const uint8_t *p) {
        return std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]) +
               "," + std::to_string(p[3]);
    };
    for (int y = 0; y < actual.height; ++y)
        for (int x = 0; x < actual.width; ++x) {
            const uint8_t *a = actual.at(x, y), *e = expected.at(x, y);
            int da = std::abs(a[3] - e[3]);
            int dc = 0;
            if (e[3] != 0)
                for (int c = 0; c < 3; ++c)
                    dc = std::max(dc, std::abs(a[c] - e[c]));
            worst = std::max({worst, dc, da});
            if ((dc > colourTolerance || da > alphaTolerance) && bad++ == 0)
                // Appended to "(" rather than "(" + text: GCC 12 at -O3 warns
                // falsely (-Wrestrict) on a string prepended to a temporary.
                first = std::string("(").append(std::to_string(x)) + "," + std::to_string(y) +
                        ") is " + text(a) + ", expected " + text(e);
        }
    if (bad)
        return ::testing::AssertionFailure()
               << bad << " pixels differ, largest difference " << worst << "; first " << first;
    return ::testing::AssertionSuccess();
}

// ---- Colour: rendering to sRGB with lcms2 called here, and Qt's own ----

// Pixels (R, G, B, A) in place from an RGB profile to sRGB, by the library's
// policy: perceptual where the profile has a perceptual table, otherwise
// relative colorimetric with black point compensation.
inline void renderToSrgb(const std::vector<uint8_t> &profile, uint8_t *rgba, size_t pixels) {
    cmsHPROFILE source = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
    ASSERT_NE(source, nullptr) << "lcms2 cannot open the profile";
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    const bool perceptual = cmsIsCLUT(source, INTENT_PERCEPTUAL, LCMS_USED_AS_INPUT);
    cmsHTRANSFORM t = cmsCreateTransform(
        source, TYPE_RGBA_8, srgb, TYPE_RGBA_8,
        perceptual ? INTENT_PERCEPTUAL : INTENT_RELATIVE_COLORIMETRIC,
        cmsFLAGS_COPY_ALPHA | (perceptual ? 0 : cmsFLAGS_BLACKPOINTCOMPENSATION));
    cmsCloseProfile(source);
    cmsCloseProfile(srgb);
    ASSERT_NE(t, nullptr);
    std::vector<uint8_t> in(rgba, rgba + 4 * pixels);
    cmsDoTransform(t, in.data(), rgba, cmsUInt32Number(pixels));
    cmsDeleteTransform(t);
}

// Pixels as they are shown: rendered to sRGB when a profile is given.
inline Rgba shownWith(Rgba px, const std::vector<uint8_t> &profile) {
    if (!profile.empty()) renderToSrgb(profile, px.px.data(), px.px.size() / 4);
    return px;
}

// ---- Corpus listings ----

// The corpus folder, found without the test framework (for listing files
// while tests are being registered).
inline std::filesystem::path corpusRoot() {
    if (const char *env = std::getenv("NUBARO_CORPUS_DIR")) return env;
    return NUBARO_CORPUS_DIR;
}

// Paths (relative to the corpus) of the files directly in `folder` ending in
// `ext` (any file when `ext` is empty), sorted.
inline std::vector<std::string> listFiles(const std::string &folder, const std::string &ext = "") {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(corpusRoot() / folder, ec))
        if (entry.is_regular_file() && (ext.empty() || entry.path().extension() == ext))
            names.push_back(folder + "/" + entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A test name made of a corpus path.
inline std::string testName(std::string path) {
    for (char &c : path)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return path;
}

// ---- The writer tests' images ----

// One kind of test image: a name, and what it is built from.
struct Kind {
    std::string name;
    uint16_t bits;
    // Palette kinds: entries, whether gray (a full ramp when `ramp`), and
    // whether some entries are translucent.
    int paletteSize = 0;
    bool gray = false;
    bool ramp = false;
    bool translucent = false;
    // Run-length compressed after building.
    bool rle = false;
    // 32-bit: some pixels not opaque.
    bool alpha = false;
};

inline void PrintTo(const Kind &k, std::ostream *os) {
    *os << k.name;
}

inline std::vector<Kind> allKinds() {
    return {
        {"Pal1", 1, 2},
        {"Gray1", 1, 2, true, true},
        {"Pal4", 4, 16},
        {"Pal4Of3", 4, 3},
        {"Gray4", 4, 16, true, true},
        {"Pal8", 8, 200},
        {"Gray8", 8, 256, true, true},
        {"Gray8Partial", 8, 100, true, false},
        {"Pal8Translucent", 8, 40, false, false, true},
        {"Rle8", 8, 60, false, false, false, true},
        {"Rle4", 4, 12, false, false, false, true},
        {"Rgb16", 16},
        {"Rgb24", 24},
        {"Rgb32", 32},
        {"Rgb32Alpha", 32, 0, false, false, false, false, true},
    };
}

// A smooth colour picture with some detail; the same for every depth. Bytes
// past the last pixel of each row are left as garbage (0xA5), which writers
// must not copy into files.
inline Image build(const Kind &k, uint32_t w, uint32_t h) {
    Image img = imgctl::makeImage(w, h, k.bits).value();
    img.xPelsPerMeter = 3780; // 96 dpi
    img.yPelsPerMeter = 2835; // 72 dpi
    std::memset(img.pixels.data(), 0xA5, img.pixels.size());
    if (k.paletteSize) {
        const int n = k.paletteSize;
        for (int i = 0; i < n; ++i) {
            PaletteEntry e;
            if (k.gray) {
                uint8_t v = k.ramp ? static_cast<uint8_t>(i * 255 / (n - 1))
                                   : static_cast<uint8_t>((i * 37 + 11) % 256);
                e = {v, v, v, 255};
            } else {
                e = {static_cast<uint8_t>(i * 97 % 256), static_cast<uint8_t>(i * 53 % 256),
                     static_cast<uint8_t>(255 - i * 29 % 256), 255};
            }
            // Translucent entries in the middle, opaque ones at the end.
            if (k.translucent && i < n - 5) e.a = static_cast<uint8_t>(i * 255 / n);
            img.palette.push_back(e);
        }
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                putRaw(img.row(y), x, k.bits, ((x / 3) * 7 + (y / 2) * 3) % n);
        if (k.rle) {
            imgctl::Status s = imgctl::compressRle(img);
            if (!s) std::abort();
        }
        return img;
    }
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t b = static_cast<uint8_t>(x * 255 / std::max(w - 1, 1u));
            uint8_t g = static_cast<uint8_t>(y * 255 / std::max(h - 1, 1u));
            uint8_t r = static_cast<uint8_t>((x + y) * 255 / std::max(w + h - 2, 1u));
            uint8_t a = k.alpha ? static_cast<uint8_t>(255 - (x * y) % 256) : 255;
            putRaw(img.row(y), x, k.bits,
                   k.bits == 16 ? ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3) : bgra(b, g, r, a));
        }
    return img;
}

// The colour of pixel (x, y) as the writers give it; with keepAlpha false,
// alpha is composited over white.
inline QRgb expected(const Image &img, uint32_t x, uint32_t y, bool keepAlpha) {
    Bgra c = colourAt(img, x, y);
    if (!keepAlpha && c[3] != 255)
        return qRgb(overWhite(c[2], c[3]), overWhite(c[1], c[3]), overWhite(c[0], c[3]));
    return qRgba(c[2], c[1], c[0], c[3]);
}

// Fields of a written file.
using testing_support::be16;
using testing_support::be32;
using testing_support::le16;
using testing_support::le32;

} // namespace test_images
