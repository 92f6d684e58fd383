// SPDX-License-Identifier: MIT
// Browse and Convert with the real libimgctl.so, one row per kind of output:
// the preview drawn into a 33x33 box, the output read back with Qt's own
// decoders, and the file's bytes checked for depth, compression, progressive
// and interlace (the options the commands pass through the binding).
#include "commands.h"
#include "corpus.h"
#include "fakes.h"
#include "imgctl_library.h"

#include <gtest/gtest.h>

#include <QImageReader>

#include <cmath>
#include <functional>

using namespace convert_test;
using testing_support::corpus;
using testing_support::readFile;
using testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

QImage readWithQt(const fs::path &p) {
    QImageReader reader(QString::fromStdString(p.string()));
    QImage image = reader.read();
    EXPECT_FALSE(image.isNull()) << p << ": " << reader.errorString().toStdString();
    return image.convertToFormat(QImage::Format_RGB32);
}

// The largest and the mean channel difference.
std::pair<int, double> compare(const QImage &a, const QImage &b) {
    if (a.size() != b.size()) return {256, 256};
    int max = 0;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int shift : {0, 8, 16}) {
                const int d = std::abs(int((a.pixel(x, y) >> shift) & 0xFF) -
                                       int((b.pixel(x, y) >> shift) & 0xFF));
                max = std::max(max, d);
                sum += d;
            }
    return {max, sum / (3.0 * a.width() * a.height())};
}

// What the file's own bytes say: "bmp BITS COMPRESSION", "jpeg progressive",
// "jpeg baseline" or "png interlace N".
std::string facts(const fs::path &p) {
    const std::vector<uint8_t> b = readFile(p);
    if (b.size() > 34 && b[0] == 'B' && b[1] == 'M')
        return "bmp " + std::to_string(b[28] | b[29] << 8) + " " + std::to_string(b[30]);
    if (b.size() > 28 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G')
        return "png interlace " + std::to_string(b[28]);
    // The JPEG's frame marker: segments walked from the start.
    for (size_t i = 2; i + 4 <= b.size() && b[i] == 0xFF; i += 2 + (b[i + 2] << 8 | b[i + 3])) {
        if (b[i + 1] == 0xC0 || b[i + 1] == 0xC1) return "jpeg baseline";
        if (b[i + 1] == 0xC2) return "jpeg progressive";
    }
    return "unknown";
}

struct FormatCase {
    const char *name;
    const char *source;
    std::function<void(ConversionSettings &)> set;
    int check1;
    int maxDiff; // the largest channel difference to the source allowed
    double meanDiff;
    const char *facts;
};

const FormatCase kFormats[] = {
    // 16-bit: 32 levels, which Qt widens by a shift (31 reads as 248).
    {"Bmp16", "bmpsuite/g/rgb24.bmp", [](auto &s) { s.bitDepthIndex = 1; }, 0, 11, 5, "bmp 16 0"},
    {"Bmp8Rle", "bmpsuite/g/pal8rle.bmp", [](auto &s) { s.bitDepthIndex = 2; }, 1, 0, 0, "bmp 8 1"},
    {"JpegProgressive", "bmpsuite/g/rgb24.bmp",
     [](auto &s) { s.formatIndex = 1, s.jpegQuality = 95, s.progressive = kTrue; }, 0, 255, 4,
     "jpeg progressive"},
    {"JpegBaseline", "bmpsuite/g/rgb24.bmp", [](auto &s) { s.formatIndex = 1; }, 0, 255, 8,
     "jpeg baseline"},
    {"PngInterlaced", "bmpsuite/g/rgb24.bmp",
     [](auto &s) { s.formatIndex = 2, s.detailsShown = kTrue, s.interlaced = kTrue; }, 0, 0, 0,
     "png interlace 1"},
    {"PngDetailsHidden", "bmpsuite/g/pal8rle.bmp",
     [](auto &s) { s.formatIndex = 2, s.interlaced = kTrue; }, 0, 0, 0, "png interlace 0"},
};

class RealFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(RealFormats, BrowseConvertAndReadBack) {
    const FormatCase &c = GetParam();
    TempDir dir;
    imagelib::ImgctlLibrary lib;
    ScriptedDialog dialog;
    RecordingBox box;
    FakeView view;
    ConversionSettings settings;
    settings.extensions = {"bmp", "jpg", "png"};
    settings.jpegQuality = 60;
    settings.pngLevel = 5;
    c.set(settings);
    view.check = c.check1;
    convert::ConversionCommands commands{lib, dialog, box, view, settings};
    // Names in Japanese with spaces, on both sides.
    const fs::path source = dir / "元 画像.bmp", output = dir / "出力 ファイル";
    fs::copy_file(corpus(c.source), source);

    dialog.answers = {{true, source.string(), 1}, {true, output.string(), 1}};
    commands.browse();
    ASSERT_EQ(view.refreshes, 1) << "the preview was not drawn";
    const QImage want = readWithQt(source);
    const QImage scaled = want.scaled(33, 33, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage picture(reinterpret_cast<const uchar *>(view.pixels.data()), 33, 33,
                         QImage::Format_RGB32);
    EXPECT_LE(compare(picture, scaled).second, 12.0) << "the preview is not the picture";
    commands.convert();

    ASSERT_TRUE(box.shown.empty()) << box.shown[0].details;
    const auto [max, mean] = compare(readWithQt(output), want);
    EXPECT_LE(max, c.maxDiff);
    EXPECT_LE(mean, c.meanDiff);
    EXPECT_EQ(facts(output), c.facts);
}

INSTANTIATE_TEST_SUITE_P(Real, RealFormats, ::testing::ValuesIn(kFormats),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
