// SPDX-License-Identifier: MIT
// Small helper for the window scripts, so they need no image tools:
//
//   gui_probe shot OUT.png [WINDOW_ID]   grabs the X screen (or one window)
//   gui_probe jpeg FILE                  prints "WxH progressive=0|1 quality=Q"
//   gui_probe image FILE                 prints "WxH depth=D colours=N"
//
// The JPEG's quality is estimated from its quantisation tables: the quality
// whose luminance table, scaled from the standard example table by the usual
// libjpeg formula, equals the file's.
// Qt's reader (an independent decoder) must read every file it is given.
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QScreen>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {

// The example tables, in natural (row-major) order.
constexpr std::array<int, 64> kLuma = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
// Position in natural order of the k-th coefficient in zigzag (file) order.
constexpr std::array<int, 64> kZigzag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

std::array<int, 64> scaled(const std::array<int, 64> &base, int quality) {
    const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
    std::array<int, 64> out{};
    for (int i = 0; i < 64; ++i)
        out[i] = std::clamp((base[i] * scale + 50) / 100, 1, 255);
    return out;
}

struct JpegFacts {
    bool progressive = false;
    std::optional<std::array<int, 64>> luma; // natural order
};

// Walks the segments up to the scan: the frame's kind and the 8-bit
// luminance table (table 0).
bool parseJpeg(const QByteArray &bytes, JpegFacts &facts) {
    const auto *d = reinterpret_cast<const uint8_t *>(bytes.constData());
    const size_t size = size_t(bytes.size());
    if (size < 4 || d[0] != 0xFF || d[1] != 0xD8) return false;
    for (size_t pos = 2; pos + 4 <= size && d[pos] == 0xFF;) {
        const uint8_t marker = d[pos + 1];
        const size_t length = size_t(d[pos + 2]) << 8 | d[pos + 3];
        if (length < 2 || pos + 2 + length > size) return false;
        const uint8_t *seg = d + pos + 4;
        for (size_t i = 0; marker == 0xDB && i + 65 <= length - 2 && seg[i] >> 4 == 0; i += 65) {
            if ((seg[i] & 15) != 0) continue;
            facts.luma.emplace();
            for (int k = 0; k < 64; ++k)
                (*facts.luma)[kZigzag[k]] = seg[i + 1 + k];
        }
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) facts.progressive = marker == 0xC2;
        if (marker == 0xDA) return facts.luma.has_value();
        pos += 2 + length;
    }
    return false;
}

// The file as Qt reads it; null, and the reason said, if it cannot.
QImage readImage(const char *path) {
    QImageReader reader(QString::fromLocal8Bit(path));
    const QImage image = reader.read();
    if (image.isNull())
        std::fprintf(stderr, "%s: Qt cannot read it: %s\n", path, qPrintable(reader.errorString()));
    return image;
}

int jpeg(const char *path) {
    QFile file(QString::fromLocal8Bit(path));
    JpegFacts facts;
    if (!file.open(QIODevice::ReadOnly) || !parseJpeg(file.readAll(), facts)) {
        std::fprintf(stderr, "%s: not a JPEG with quantisation tables\n", path);
        return 1;
    }
    const QImage image = readImage(path);
    if (image.isNull()) return 1;
    int quality = 0;
    for (int q = 1; q <= 100 && !quality; ++q)
        if (scaled(kLuma, q) == *facts.luma) quality = q;
    std::printf("%dx%d progressive=%d quality=%d\n", image.width(), image.height(),
                facts.progressive ? 1 : 0, quality);
    return quality ? 0 : 1;
}

int imageFacts(const char *path) {
    const QImage image = readImage(path);
    if (image.isNull()) return 1;
    std::printf("%dx%d depth=%d colours=%d\n", image.width(), image.height(), image.depth(),
                int(image.colorCount()));
    return 0;
}

int shot(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) return 1;
    const WId window = argc > 3 ? WId(std::strtoull(argv[3], nullptr, 0)) : 0;
    const QPixmap pixmap = screen->grabWindow(window);
    if (pixmap.isNull() || !pixmap.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "cannot grab or write %s\n", argv[2]);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc >= 3 && !std::strcmp(argv[1], "shot")) return shot(argc, argv);
    if (argc == 3 && !std::strcmp(argv[1], "jpeg")) return jpeg(argv[2]);
    if (argc == 3 && !std::strcmp(argv[1], "image")) return imageFacts(argv[2]);
    std::fprintf(stderr, "usage: gui_probe shot OUT.png [WINDOW] | jpeg FILE | image FILE\n");
    return 2;
}
