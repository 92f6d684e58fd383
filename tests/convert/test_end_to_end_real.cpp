// SPDX-License-Identifier: MIT
// Browse and Convert with the real libimgctl.so, reading every output back
// with Qt's own decoders and checking the file's bytes for depth,
// compression, progressive and interlace.
#include "commands.h"
#include "common_dialog.h"
#include "corpus.h"
#include "error_box.h"
#include "failure_text.h"
#include "fakes.h"
#include "file_fields.h"
#include "imgctl_library.h"
#include "modal.h"
#include "qt_view.h"

#include <gtest/gtest.h>

#include <QImageReader>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>

using namespace convert_test;
using testing_support::corpus;
using testing_support::readFile;
using testing_support::TempDir;

namespace {

namespace fs = std::filesystem;

QString q(const fs::path &p) {
    return QString::fromStdString(p.string());
}

QImage readWithQt(const fs::path &p) {
    QImageReader reader(q(p));
    QImage image = reader.read();
    EXPECT_FALSE(image.isNull()) << p << ": " << reader.errorString().toStdString();
    return image.convertToFormat(QImage::Format_RGB32);
}

struct Diff {
    int max = 0;
    double mean = 0;
};

Diff compare(const QImage &a, const QImage &b) {
    Diff d;
    if (a.size() != b.size()) {
        ADD_FAILURE() << "sizes differ";
        d.max = 255;
        return d;
    }
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *ra = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *rb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            for (int c :
                 {std::abs(qRed(ra[x]) - qRed(rb[x])), std::abs(qGreen(ra[x]) - qGreen(rb[x])),
                  std::abs(qBlue(ra[x]) - qBlue(rb[x]))}) {
                d.max = std::max(d.max, c);
                sum += c;
            }
        }
    }
    d.mean = sum / (3.0 * a.width() * a.height());
    return d;
}

// What the output file's own bytes say.
struct FileFacts {
    int bmpBits = -1, bmpCompression = -1;
    bool jpegBaseline = false, jpegProgressive = false;
    int pngInterlace = -1, pngZlibLevel = -1; // zlib header FLEVEL, 0 fastest .. 3 best
};

FileFacts inspect(const fs::path &p) {
    using namespace testing_support;
    FileFacts f;
    const std::vector<uint8_t> b = readFile(p);
    if (b.size() > 34 && b[0] == 'B' && b[1] == 'M') {
        f.bmpBits = static_cast<int>(le16(b, 28));
        f.bmpCompression = static_cast<int>(le32(b, 30));
    } else if (b.size() > 4 && b[0] == 0xFF && b[1] == 0xD8) {
        const int frame = jpegFrame(b);
        f.jpegBaseline = frame == 0xC0 || frame == 0xC1;
        f.jpegProgressive = frame == 0xC2;
    } else if (b.size() > 33 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') {
        f.pngInterlace = b[28];
        const auto chunks = pngChunks(b);
        if (auto idat = chunks.find("IDAT"); idat != chunks.end())
            f.pngZlibLevel = b.at(idat->second.first + 1) >> 6;
    }
    return f;
}

// The commands over the real library, a scripted dialog and a real-looking view.
struct RealRig {
    imagelib::ImgctlLibrary lib;
    ScriptedDialog dialog;
    RecordingBox box;
    ImageView view;
    ConversionSettings settings;
    convert::ConversionCommands commands{lib, dialog, box, view, settings};

    RealRig() {
        settings.extensions = {"bmp", "jpg", "png"};
        settings.jpegQuality = 60;
        settings.pngLevel = 5;
        dialog.Flags = 2;
    }

    void browse(const fs::path &source, int16_t entry) {
        dialog.answers.push_back({true, source.string(), entry});
        commands.browse();
    }
    void convert(const fs::path &output) {
        dialog.answers.push_back({true, output.string(), 1});
        commands.convert();
    }
};

struct FormatCase {
    const char *name;
    const char *source;
    std::function<void(ConversionSettings &)> set;
    int check1;
    const char *ext;
    // Largest channel difference to the source allowed. 16-bit: rounding to 32
    // levels, then Qt widens 5 bits by a shift (31 reads as 248).
    int maxDiff;
    double meanDiff;  // mean channel difference allowed
    FileFacts expect; // -1 / false: not checked
    bool gray = false;
};

FileFacts bmp(int bits, int compression) {
    return {.bmpBits = bits, .bmpCompression = compression};
}
FileFacts jpeg(bool progressive) {
    return {.jpegBaseline = !progressive, .jpegProgressive = progressive};
}
FileFacts png(int interlace, int zlibLevel) {
    return {.pngInterlace = interlace, .pngZlibLevel = zlibLevel};
}

const FormatCase kFormats[] = {
    {"Bmp24", "bmpsuite/g/rgb24.bmp", [](auto &) {}, 0, "bmp", 0, 0, bmp(24, 0)},
    {"Bmp16", "bmpsuite/g/rgb24.bmp", [](auto &s) { s.bitDepthIndex = 1; }, 0, "bmp", 11, 5,
     bmp(16, 0)},
    {"Bmp8KeepsFewColours", "bmpsuite/g/pal8.bmp", [](auto &s) { s.bitDepthIndex = 2; }, 0, "bmp",
     0, 0, bmp(8, 0)},
    {"Bmp8Rle", "bmpsuite/g/pal8rle.bmp", [](auto &s) { s.bitDepthIndex = 2; }, 1, "bmp", 0, 0,
     bmp(8, 1)},
    {"Bmp8DitheredFromTrueColour", "bmpsuite/g/rgb24.bmp", [](auto &s) { s.bitDepthIndex = 2; }, 0,
     "bmp", 255, 12, bmp(8, 0)},
    {"BmpFullGray", "bmpsuite/g/rgb24.bmp", [](auto &s) { s.grayLevel = 255; }, 0, "bmp", 255, 255,
     bmp(24, 0), true},
    {"JpegBaseline", "bmpsuite/g/rgb24.bmp", [](auto &s) { s.formatIndex = 1, s.jpegQuality = 95; },
     0, "jpg", 255, 4, jpeg(false)},
    {"JpegProgressive", "bmpsuite/g/rgb24.bmp",
     [](auto &s) { s.formatIndex = 1, s.jpegQuality = 95, s.progressive = kTrue; }, 0, "jpg", 255,
     4, jpeg(true)},
    // Interlace is not used while the details are hidden.
    {"PngDetailsHidden", "bmpsuite/g/rgb24.bmp",
     [](auto &s) { s.formatIndex = 2, s.interlaced = kTrue, s.pngLevel = 0; }, 0, "png", 0, 0,
     png(0, -1)},
    {"PngLevel0Interlaced", "bmpsuite/g/rgb24.bmp",
     [](auto &s) {
         s.formatIndex = 2, s.detailsShown = kTrue, s.interlaced = kTrue, s.pngLevel = 0;
     },
     0, "png", 0, 0, png(1, 0)},
    {"PngLevel9", "bmpsuite/g/pal8rle.bmp",
     [](auto &s) { s.formatIndex = 2, s.detailsShown = kTrue, s.pngLevel = 9; }, 0, "png", 0, 0,
     png(0, 3)},
};

class RealFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(RealFormats, BrowseConvertAndReadBack) {
    const FormatCase &c = GetParam();
    TempDir dir;
    RealRig rig;
    c.set(rig.settings);
    rig.view.check = c.check1;
    const fs::path source = corpus(c.source);
    const fs::path output = dir / (std::string("out.") + c.ext);

    rig.browse(source, 1);
    EXPECT_EQ(rig.view.text, source.string());
    EXPECT_EQ(rig.view.refreshes, 1) << "the preview was not drawn";
    rig.convert(output);

    ASSERT_TRUE(rig.box.shown.empty()) << rig.box.shown[0].text;
    ASSERT_TRUE(fs::exists(output));
    const QImage got = readWithQt(output);
    const QImage want = readWithQt(source);
    if (c.gray) {
        for (int y = 0; y < got.height(); ++y) {
            for (int x = 0; x < got.width(); ++x) {
                const QRgb p = got.pixel(x, y);
                ASSERT_LE(std::abs(qRed(p) - qGreen(p)) + std::abs(qGreen(p) - qBlue(p)), 2)
                    << x << "," << y;
            }
        }
        EXPECT_EQ(got.size(), want.size());
    } else {
        const Diff d = compare(got, want);
        EXPECT_LE(d.max, c.maxDiff);
        EXPECT_LE(d.mean, c.meanDiff);
    }

    const FileFacts f = inspect(output);
    const FileFacts &e = c.expect;
    if (e.bmpBits >= 0) {
        EXPECT_EQ(f.bmpBits, e.bmpBits);
        EXPECT_EQ(f.bmpCompression, e.bmpCompression);
    }
    if (e.jpegBaseline || e.jpegProgressive) {
        EXPECT_EQ(f.jpegBaseline, e.jpegBaseline);
        EXPECT_EQ(f.jpegProgressive, e.jpegProgressive);
    }
    if (e.pngInterlace >= 0) {
        EXPECT_EQ(f.pngInterlace, e.pngInterlace);
    }
    if (e.pngZlibLevel >= 0) {
        EXPECT_EQ(f.pngZlibLevel, e.pngZlibLevel);
    }
    EXPECT_EQ(rig.view.busyDepth, 0);
}

INSTANTIATE_TEST_SUITE_P(Real, RealFormats, ::testing::ValuesIn(kFormats),
                         [](const auto &info) { return std::string(info.param.name); });

// The 33x33 preview resembles the source scaled by Qt, and covers the box.
TEST(RealPreview, ResemblesTheSource) {
    for (const char *name : {"bmpsuite/g/rgb24.bmp", "bmpsuite/g/pal8rle.bmp"}) {
        SCOPED_TRACE(name);
        RealRig rig;
        rig.browse(corpus(name), 1);
        ASSERT_EQ(rig.view.refreshes, 1);
        const QImage scaled = readWithQt(corpus(name))
                                  .scaled(33, 33, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        for (int y = 0; y < 33; ++y) {
            for (int x = 0; x < 33; ++x) {
                ASSERT_NE(rig.view.picture.pixel(x, y), ImageView::kUntouched) << x << "," << y;
            }
        }
        const Diff d = compare(rig.view.picture, scaled);
        EXPECT_LE(d.mean, 12.0);
    }
}

TEST(RealFiles, JapaneseNameWithSpaces) {
    TempDir dir;
    const fs::path source = dir / "日本語 の 画像.bmp";
    fs::copy_file(corpus("bmpsuite/g/rgb24.bmp"), source);
    RealRig rig;
    rig.settings.formatIndex = 2;
    rig.browse(source, 1);
    EXPECT_EQ(rig.view.refreshes, 1);
    const fs::path output = dir / "出力 ファイル.png";
    rig.convert(output);
    ASSERT_TRUE(rig.box.shown.empty());
    EXPECT_EQ(compare(readWithQt(output), readWithQt(source)).max, 0);
}

TEST(RealFiles, UnreadableSourceIsReportedByConvertOnly) {
    TempDir dir;
    const fs::path junk = dir / "壊れた.bmp";
    { std::ofstream(junk) << "BM this is not a bitmap"; }
    RealRig rig;
    rig.browse(junk, 1);
    EXPECT_EQ(rig.view.text, junk.string());
    EXPECT_EQ(rig.view.refreshes, 0);
    EXPECT_EQ(rig.view.picture.pixel(16, 16), ImageView::kUntouched);
    EXPECT_TRUE(rig.box.shown.empty());

    // The box names the file and the library's cause below the loading text.
    const std::pair<fs::path, std::string> kSources[] = {
        {junk, "ファイルが壊れています。"}, {dir / "無い.bmp", "ファイルが見つかりません。"}};
    for (const auto &[source, cause] : kSources) {
        rig.box.shown.clear();
        rig.view.text = source.string();
        rig.convert(dir / "out.bmp");
        ASSERT_EQ(rig.box.shown.size(), 1u);
        EXPECT_EQ(rig.box.shown[0].text, convert::errorText(convert::kLoadFailedText));
        EXPECT_EQ(rig.box.shown[0].details, "ファイル：" + source.string() + "\n原因：" + cause);
        EXPECT_FALSE(fs::exists(dir / "out.bmp"));
    }
}

TEST(RealFiles, SavingOverTheSource) {
    TempDir dir;
    const fs::path source = dir / "same.bmp";
    fs::copy_file(corpus("bmpsuite/g/pal8rle.bmp"), source);
    const QImage before = readWithQt(source);
    RealRig rig;
    rig.settings.bitDepthIndex = 2;
    rig.view.check = 1;
    rig.view.text = source.string();
    rig.convert(source);
    ASSERT_TRUE(rig.box.shown.empty());
    EXPECT_EQ(compare(readWithQt(source), before).max, 0);
    EXPECT_EQ(inspect(source).bmpBits, 8);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1)
        << "a temporary file was left behind";
}

// The whole road with Qt's real dialogs: the name typed into the open
// dialog, a name without extension typed into the save dialog, then the
// same name again, confirming the overwrite question.
TEST(RealDialogs, TypedNamesAndOverwriteQuestion) {
    TempDir dir;
    const fs::path source = dir / "元 画像.bmp";
    fs::copy_file(corpus("bmpsuite/g/rgb24.bmp"), source);

    imagelib::ImgctlLibrary lib;
    convert::CommonDialog1 dialog;
    dialog.Flags = 2;
    convert::ErrorBox box;
    ImageView view;
    ConversionSettings settings;
    settings.extensions = {"bmp", "jpg", "png"};
    settings.formatIndex = 2;
    convert::ConversionCommands commands(lib, dialog, box, view, settings);

    auto watch = ModalWatch::on<QFileDialog>([&](QFileDialog *d) {
        d->setDirectory(q(dir.path()));
        typeNameAndEnter(d, "元 画像.bmp");
    });
    commands.browse();
    ASSERT_TRUE(watch->seen());
    EXPECT_EQ(view.text, source.string());
    EXPECT_EQ(settings.filterIndex, 1);
    EXPECT_EQ(view.refreshes, 1);

    int questions = 0;
    std::unique_ptr<ModalWatch> question;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        watch = ModalWatch::on<QFileDialog>([&](QFileDialog *d) {
            question = ModalWatch::on<QMessageBox>([&](QMessageBox *b) {
                ++questions;
                clickButton(b, QMessageBox::Yes);
            });
            d->setDirectory(q(dir.path()));
            typeNameAndEnter(d, "結果 画像");
        });
        commands.convert();
        ASSERT_TRUE(watch->seen());
        EXPECT_EQ(questions, round) << "asked only when the file exists";
        ASSERT_TRUE(fs::exists(dir / "結果 画像.png"));
        EXPECT_EQ(compare(readWithQt(dir / "結果 画像.png"), readWithQt(source)).max, 0);
    }
    EXPECT_EQ(dialog.FileName, (dir / "結果 画像.png").string());
}

} // namespace
