// SPDX-License-Identifier: MIT
// Palette quality and speed: loads an image through Qt, reduces it to 8 bits
// with and without dithering, and prints the RGB PSNR against the source and
// the time each reduction took.
//
//   quantize_quality IMAGE [REPEATS]
//   quantize_quality --make-input SOURCE OUTPUT [WIDTH HEIGHT [QUALITY]]
// The second form prepares the usual test input: the source cropped about
// its centre to 3:2, then scaled smoothly to 1920x1080 (or WIDTH x HEIGHT).
#include "core/ops.h"

#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

using namespace imgctl;

namespace {

Image fromQImage(const QImage &source) {
    QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    Image img =
        makeImage(static_cast<uint32_t>(rgb.width()), static_cast<uint32_t>(rgb.height()), 24)
            .value();
    for (uint32_t y = 0; y < img.height; ++y) {
        const uchar *s = rgb.constScanLine(static_cast<int>(y));
        uint8_t *d = img.row(y);
        for (uint32_t x = 0; x < img.width; ++x) {
            d[3 * x] = s[3 * x + 2];
            d[3 * x + 1] = s[3 * x + 1];
            d[3 * x + 2] = s[3 * x];
        }
    }
    return img;
}

// RGB PSNR of an 8-bit palette image against a 24-bit source.
double psnr(const Image &source, const Image &reduced) {
    double sum = 0;
    for (uint32_t y = 0; y < source.height; ++y) {
        const uint8_t *s = source.row(y);
        const uint8_t *r = reduced.row(y);
        for (uint32_t x = 0; x < source.width; ++x) {
            const PaletteEntry &e = reduced.palette[r[x]];
            double db = s[3 * x] - e.b, dg = s[3 * x + 1] - e.g, dr = s[3 * x + 2] - e.r;
            sum += db * db + dg * dg + dr * dr;
        }
    }
    double mse = sum / (3.0 * source.width * source.height);
    return mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
}

} // namespace

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    if (argc >= 4 && std::strcmp(argv[1], "--make-input") == 0) {
        // Optional WIDTH HEIGHT QUALITY after the names: another size, saved
        // as JPEG at that quality.
        const int outW = argc > 5 ? std::atoi(argv[4]) : 1920;
        const int outH = argc > 5 ? std::atoi(argv[5]) : 1080;
        const int quality = argc > 6 ? std::atoi(argv[6]) : -1;
        QImage src(QString::fromLocal8Bit(argv[2]));
        if (src.isNull()) return std::fprintf(stderr, "cannot read %s\n", argv[2]), 1;
        int w = src.width(), h = src.height();
        int cw = std::min(w, h * 3 / 2), ch = std::min(h, w * 2 / 3);
        QImage crop = src.copy((w - cw) / 2, (h - ch) / 2, cw, ch);
        QImage out = crop.scaled(outW, outH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        return out.save(QString::fromLocal8Bit(argv[3]), nullptr, quality) ? 0 : 1;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: quantize_quality IMAGE [REPEATS]\n");
        return 2;
    }
    QImage q(QString::fromLocal8Bit(argv[1]));
    if (q.isNull()) return std::fprintf(stderr, "cannot read %s\n", argv[1]), 1;
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    const Image source = fromQImage(q);
    std::printf("%s: %ux%u\n", argv[1], source.width, source.height);
    for (int noDither = 1; noDither >= 0; --noDither) {
        double best = INFINITY, bestCpu = INFINITY, quality = 0;
        for (int i = 0; i < repeats; ++i) {
            Image img = copyImage(source).value();
            auto t0 = std::chrono::steady_clock::now();
            std::clock_t c0 = std::clock();
            Status status = convertTo8(img, 0, noDither);
            std::clock_t c1 = std::clock();
            auto t1 = std::chrono::steady_clock::now();
            bestCpu = std::min(bestCpu, double(c1 - c0) / CLOCKS_PER_SEC);
            if (!status) return std::fprintf(stderr, "%s\n", status.message().c_str()), 1;
            best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
            quality = psnr(source, img);
        }
        std::printf("%-12s PSNR %.2f dB  %.3f s wall, %.3f s CPU (best of %d)\n",
                    noDither ? "not dithered" : "dithered", quality, best, bestCpu, repeats);
    }
    return 0;
}
