// SPDX-License-Identifier: MIT
// Writes the rows of tests/corpus-pixels.tsv (scripts/corpus-pixels runs it):
// every valid corpus picture as a decoder other than ours sees it. PNG files
// through libpng's own transformations; JPEG files through Qt, which turns
// them upright by their EXIF orientation; BMP Suite files by the suite's own
// reference rendering, read by Qt. Usage: corpus_pixels CORPUS_DIR > file.
#include "corpus.h"
#include "file_fields.h"
#include "pixel_sum.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <png.h>

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using testing_support::le16;
using testing_support::le32;
using testing_support::PixelSum;

namespace {

struct View {
    int depth = 0;
    QImage image;      // RGBA8888, not premultiplied
    bool wide = false; // more than 8 bits a channel
    std::string tolerance = "exact", seenBy;
};

void print(const std::string &file, const View &v) {
    const PixelSum sum = testing_support::sumOf(v.image);
    std::printf("%s\t%d\t%d\t%d\t%s\t", file.c_str(), v.image.width(), v.image.height(), v.depth,
                sum.hash().c_str());
    for (size_t q = 0; q < 4; ++q)
        std::printf("%.2f/%.2f/%.2f%c", sum.mean(q, 0), sum.mean(q, 1), sum.mean(q, 2),
                    q < 3 ? ' ' : '\t');
    std::printf("%s\t%s\n", v.tolerance.c_str(), v.seenBy.c_str());
}

bool readPng(const fs::path &path, View &v) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows;
    bool ok = false;
    int type = 0;
    if (!setjmp(png_jmpbuf(png))) {
        png_init_io(png, f);
        png_read_info(png, info);
        type = png_get_color_type(png, info);
        v.depth = png_get_bit_depth(png, info) * png_get_channels(png, info);
        png_set_expand(png); // palette and low gray depths to 8 bits, tRNS to alpha
        png_set_scale_16(png);
        png_set_gray_to_rgb(png);
        if (!(type & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS))
            png_set_add_alpha(png, 255, PNG_FILLER_AFTER);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        v.image = QImage(int(png_get_image_width(png, info)), int(png_get_image_height(png, info)),
                         QImage::Format_RGBA8888);
        for (int y = 0; y < v.image.height(); ++y)
            rows.push_back(v.image.scanLine(y));
        png_read_image(png, rows.data());
        ok = true;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    v.seenBy = "libpng";
    // Shown in sRGB: the colour space the file declares (iCCP, sRGB, gAMA,
    // cHRM) as Qt reads it. Palette and gray pictures are taken to sRGB with
    // their alpha, before they are laid over white; colour ones after (by
    // sumOf), as the preview draws them.
    const QColorSpace space =
        QImageReader(QString::fromStdString(path.string())).read().colorSpace();
    if (ok && space.isValid() && space != QColorSpace(QColorSpace::SRgb)) {
        v.image.setColorSpace(space);
        if (type == PNG_COLOR_TYPE_PALETTE || !(type & PNG_COLOR_MASK_COLOR))
            v.image = v.image.convertToFormat(QImage::Format_ARGB32)
                          .convertedToColorSpace(QColorSpace::SRgb)
                          .convertToFormat(QImage::Format_RGBA8888);
        v.tolerance = "near 2";
        v.seenBy = "libpng, Qt's colour engine";
    }
    return ok;
}

bool readQt(const fs::path &path, View &v) {
    QImageReader reader(QString::fromStdString(path.string()));
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) return false;
    if (!v.depth) v.depth = image.isGrayscale() ? 8 : 24;
    v.wide = image.depth() == 64 || image.format() == QImage::Format_Grayscale16;
    v.image = image.convertToFormat(QImage::Format_RGBA8888);
    v.image.setColorSpace(QColorSpace()); // the references are sRGB renderings
    v.seenBy = "Qt " + path.filename().string();
    return true;
}

// Bits per pixel in a BMP header, whether some colour field is not 8 bits
// wide (16-bit pixels, or bit-field masks of other widths), and whether the
// header gives a colour space other than sRGB (calibrated, or an embedded
// profile).
int bmpDepth(const fs::path &path, bool &oddFields, bool &profile) {
    const std::vector<uint8_t> d = testing_support::readFile(path);
    if (d.size() < 70) return 0;
    const bool core = le32(d, 14) == 12;
    const int bits = int(le16(d, core ? 24 : 28));
    oddFields = bits == 16;
    profile = le32(d, 14) >= 108 && (le32(d, 70) == 0 || le32(d, 70) == 0x4D424544);
    if (!core && bits == 32 && (le32(d, 30) == 3 || le32(d, 30) == 6))
        for (size_t i = 0; i < 3; ++i)
            oddFields |= le32(d, 54 + 4 * i) != 0 && std::popcount(le32(d, 54 + 4 * i)) != 8;
    return bits;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::cerr << "usage: corpus_pixels CORPUS_DIR\n";
        return 2;
    }
    QCoreApplication app(argc, argv);
    const fs::path corpus = argv[1];
    bool failed = false;
    for (const char *folder : {"pngsuite", "pngsuite/interlaced", "pngsuite/testpngs",
                               "pngsuite/testpngs/png-3", "pngsuite/extra"})
        for (const std::string &name : testing_support::listing(corpus / folder)) {
            if (!name.ends_with(".png")) continue;
            View v;
            const std::string file = std::string(folder) + "/" + name;
            if (readPng(corpus / file, v))
                print(file, v);
            else
                failed = true, std::cerr << file << ": libpng cannot read it\n";
        }
    // Qt takes every 4-component file for Adobe's inverted CMYK; for those the
    // corpus's own decode (libjpeg and the plain ink formula) stands in.
    for (const std::string &name : testing_support::listing(corpus / "jpeg")) {
        if (!name.ends_with(".jpg")) continue;
        View v;
        v.tolerance = "near 1.5";
        fs::path seen = corpus / "jpeg" / name;
        const std::vector<uint8_t> bytes = testing_support::readFile(seen);
        const int frame = testing_support::jpegFrame(bytes);
        if (frame > 0 && bytes.at(testing_support::jpegSegment(bytes, uint8_t(frame)) + 9) == 4)
            seen = corpus / "jpeg/ref" / fs::path(name).replace_extension(".png");
        if (readQt(seen, v))
            print("jpeg/" + name, v);
        else
            failed = true, std::cerr << name << ": Qt cannot read it\n";
    }
    // The BMP Suite's references; for the RLE files that leave pixels
    // undefined, the rendering with palette colour 0 there.
    for (const char *list : {"ref-map.tsv", "ref-map-ambiguous.tsv"}) {
        std::ifstream in(corpus / "bmpsuite" / list);
        for (std::string line; std::getline(in, line);) {
            const size_t tab = line.find('\t');
            const std::string bmp = line.substr(0, tab);
            const std::string ref = line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1);
            if (tab == std::string::npos ||
                (std::string(list).starts_with("ref-map-a") && !ref.ends_with("-0.png")))
                continue;
            View v;
            bool oddFields = false, profile = false;
            v.depth = bmpDepth(corpus / "bmpsuite" / bmp, oddFields, profile);
            if (!readQt(corpus / "bmpsuite" / ref, v)) {
                failed = true, std::cerr << ref << ": Qt cannot read it\n";
                continue;
            }
            if (oddFields || v.wide) v.tolerance = "near 1";
            if (profile) v.tolerance = "near 2";
            if (ref.ends_with(".jpg")) v.tolerance = "near 1.5";
            print("bmpsuite/" + bmp, v);
        }
    }
    return failed ? 1 : 0;
}
