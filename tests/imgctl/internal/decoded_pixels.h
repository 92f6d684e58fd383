// Decoded images as plain RGBA, ours and Qt's, and a tolerant comparison, for
// the decoder tests.
#pragma once

#include "image.h"

#include <QImage>
#include <QImageReader>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace decoded_pixels {

struct Rgba {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> px; // R, G, B, A per pixel, rows top-down
    const uint8_t *at(int x, int y) const { return px.data() + (size_t(y) * width + x) * 4; }
};

// Our image as RGBA. A palette index without an entry fails the calling test.
inline Rgba toRgba(const imgctl::Image &img) {
    Rgba out;
    out.width = static_cast<int>(img.width);
    out.height = static_cast<int>(img.height);
    out.px.resize(size_t(img.width) * img.height * 4);
    uint8_t *d = out.px.data();
    bool badIndex = false;
    for (uint32_t y = 0; y < img.height; ++y) {
        const uint8_t *row = img.row(y);
        for (uint32_t x = 0; x < img.width; ++x, d += 4) {
            switch (img.bitCount) {
            case 1:
            case 4:
            case 8: {
                uint8_t i = imgctl::paletteIndex(row, x, img.bitCount);
                if (i >= img.palette.size()) {
                    badIndex = true;
                    d[0] = d[1] = d[2] = d[3] = 0;
                    break;
                }
                const imgctl::PaletteEntry &e = img.palette[i];
                d[0] = e.r, d[1] = e.g, d[2] = e.b, d[3] = e.a;
                break;
            }
            case 16: {
                unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
                auto five = [](unsigned c) { return uint8_t((c << 3) | (c >> 2)); };
                d[0] = five((v >> 10) & 31), d[1] = five((v >> 5) & 31), d[2] = five(v & 31);
                d[3] = 255;
                break;
            }
            case 24:
                d[0] = row[3 * x + 2], d[1] = row[3 * x + 1], d[2] = row[3 * x], d[3] = 255;
                break;
            default:
                d[0] = row[4 * x + 2], d[1] = row[4 * x + 1], d[2] = row[4 * x];
                d[3] = row[4 * x + 3];
                break;
            }
        }
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

// Qt's decode of a file; width 0 when Qt fails.
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
    for (int y = 0; y < actual.height; ++y)
        for (int x = 0; x < actual.width; ++x) {
            const uint8_t *a = actual.at(x, y), *e = expected.at(x, y);
            int da = std::abs(a[3] - e[3]);
            int dc = 0;
            if (e[3] != 0)
                for (int c = 0; c < 3; ++c)
                    dc = std::max(dc, std::abs(a[c] - e[c]));
            worst = std::max({worst, dc, da});
            if (dc > colourTolerance || da > alphaTolerance) {
                if (bad++ == 0)
                    first = "(" + std::to_string(x) + "," + std::to_string(y) + ") is " +
                            std::to_string(a[0]) + "," + std::to_string(a[1]) + "," +
                            std::to_string(a[2]) + "," + std::to_string(a[3]) + ", expected " +
                            std::to_string(e[0]) + "," + std::to_string(e[1]) + "," +
                            std::to_string(e[2]) + "," + std::to_string(e[3]);
            }
        }
    if (bad)
        return ::testing::AssertionFailure()
               << bad << " pixels differ, largest difference " << worst << "; first " << first;
    return ::testing::AssertionSuccess();
}

// The corpus folder, found without the test framework (for listing files
// while tests are being registered).
inline std::filesystem::path corpusRoot() {
    if (const char *env = std::getenv("NUBARO_CORPUS_DIR")) return env;
    return NUBARO_CORPUS_DIR;
}

// Paths (relative to the corpus) of the files ending in `ext` directly in
// `folder`, sorted.
inline std::vector<std::string> listFiles(const std::string &folder, const std::string &ext) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(corpusRoot() / folder, ec))
        if (entry.is_regular_file() && entry.path().extension() == ext)
            names.push_back(folder + "/" + entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A test name made of a corpus path.
inline std::string testName(const std::string &path) {
    std::string s = path;
    for (char &c : s)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return s;
}

} // namespace decoded_pixels
