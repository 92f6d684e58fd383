// SPDX-License-Identifier: MIT
// Convert against the recording library: the save dialog, then every library
// call and box in order, per format, option and failing stage; the failure
// box's text and details; the handles.
#include "failure_text.h"
#include "fakes.h"

#include <functional>
#include <stdexcept>

using namespace convert_test;

namespace {

const std::string kHeader = "エラーが発生しました。症状は以下のとおりです。\n";
const std::string kBoxTexts[] = {
    "", // no box
    kHeader +
        "ファイルを読み込み出来ませんでした。フォーマットが違うか、ファイルが存在しません。\n",
    kHeader + "ファイルを変換することが出来ませんでした。このエラーが続くようでしたら作者にご連絡く"
              "ださい。\n",
    kHeader + "\n"};
enum BoxText { NoBox, LoadBox, ConvertBox, ReleaseBox };

// The save dialog per format: its one entry and its extension.
const std::pair<std::string, std::string> kSaveDialogs[] = {
    {"BMPファイル|*.bmp", "bmp"},
    {"JPEGファイル|*.jpg;*.jpe;*.jpeg", "jpg"},
    {"PINGファイル|*.png", "png"}};

struct ChainCase {
    const char *name;
    int check1;
    std::function<void(ConversionSettings &, RecordingLibrary &)> set;
    std::string trace; // after the save dialog; ToDIB gives 11, each step the next number
    BoxText box = NoBox;
    std::string details = "";
    bool leaks = false; // the release itself failed
};

const std::string kLoad = "ToDIB(/s/src) ";
const std::string kBmp = kLoad + "RLEtoDIB(11) ";
// The library asked for its account of the call that failed, at once.
const std::string kAsked = " ImgctlLastErrorCode() ImgctlLastError() Box";
const std::string kInSource = "ファイル：/s/src\n原因：";
const std::string kInOutput = "ファイル：/o/out\n原因：";
const std::string kNoFunction = "ライブラリ「libimgctl.so」に関数「";

auto failing(const char *function, int32_t code, int32_t result = 0) {
    return [=](RecordingLibrary &l) {
        l.results[function] = {result};
        l.failures[function] = {code, "the library's message"};
    };
}

const ChainCase kChainCases[] = {
    {"Bmp16PassesReferenceToOne", 0, [](auto &s, auto &) { s.bitDepthIndex = 1; },
     kBmp + "DIBto16Bit(12,&1) GrayDIB(13,0) DIBtoBMP(/o/out,14) DeleteDIB(14)"},
    {"Bmp8WithRleAndGray", 1, [](auto &s, auto &) { s.bitDepthIndex = 2, s.grayLevel = 200; },
     kBmp + "DIBto8Bit(12,0,0) DIBtoRLE(13) GrayDIB(14,200) DIBtoBMP(/o/out,15) DeleteDIB(15)"},
    {"Bmp8RleBoxGrayedCountsAsUnticked", 2, [](auto &s, auto &) { s.bitDepthIndex = 2; },
     kBmp + "DIBto8Bit(12,0,0) GrayDIB(13,0) DIBtoBMP(/o/out,14) DeleteDIB(14)"},
    {"Bmp24RleTickedIsIgnored", 1, [](auto &, auto &) {},
     kBmp + "DIBto24Bit(12) GrayDIB(13,0) DIBtoBMP(/o/out,14) DeleteDIB(14)"},
    {"JpegBaselineWithDetailsShown", 1,
     [](auto &s, auto &) { s.formatIndex = 1, s.jpegQuality = 100, s.detailsShown = kTrue; },
     kLoad + "DIBtoJPG(/o/out,11,100,0) DeleteDIB(11)"},
    {"PngDetailsHiddenIgnoresLevelAndInterlace", 0,
     [](auto &s, auto &) { s.formatIndex = 2, s.pngLevel = 9, s.interlaced = kTrue; },
     kLoad + "DIBtoPNG(/o/out,11,0) DeleteDIB(11)"},
    // Only -1 counts as interlaced.
    {"PngDetailsShownInterlacedOneIsNot", 0,
     [](auto &s, auto &) {
         s.formatIndex = 2, s.detailsShown = kTrue, s.interlaced = 1, s.pngLevel = 0;
     },
     kLoad + "DIBtoPNGex(/o/out,11," + pngRecord(0x00, 0) + ") DeleteDIB(11)"},
    // Failures: the box, then the release of the image the chain still holds.
    {"LoadReturnsZero", 0, [](auto &, auto &l) { failing("ToDIB", IMGCTL_ERR_NOT_FOUND)(l); },
     "ToDIB(/s/src)" + kAsked, LoadBox, kInSource + "ファイルが見つかりません。"},
    {"LoadReturnsNegative", 0,
     [](auto &, auto &l) { failing("ToDIB", IMGCTL_ERR_NOT_IMAGE, -1)(l); },
     "ToDIB(/s/src)" + kAsked, LoadBox, kInSource + "画像ファイルではありません。"},
    {"LibraryMissing", 0, [](auto &, auto &l) { l.libraryMissing = true; }, "Box", LoadBox,
     kInSource + "ライブラリ「libimgctl.so」を読み込めません（cannot open shared object file "
                 "(fake)）。"},
    // The first handle a library gives out is 1, released like any other.
    {"RleExpandOfImageOneReturnsZero", 0,
     [](auto &, auto &l) { l.results["ToDIB"] = {1}, failing("RLEtoDIB", IMGCTL_ERR_CORRUPT)(l); },
     kLoad + "RLEtoDIB(1)" + kAsked + " DeleteDIB(1)", ConvertBox,
     kInSource + "ファイルが壊れています。"},
    {"DepthStepReturnsZero", 1,
     [](auto &s, auto &l) {
         s.bitDepthIndex = 2, failing("DIBto8Bit", IMGCTL_ERR_OUT_OF_MEMORY)(l);
     },
     kBmp + "DIBto8Bit(12,0,0)" + kAsked + " DeleteDIB(12)", ConvertBox,
     kInSource + "メモリが足りません。"},
    {"RleMissing", 1,
     [](auto &s, auto &l) { s.bitDepthIndex = 2, l.missingFunctions = {"DIBtoRLE"}; },
     kBmp + "DIBto8Bit(12,0,0) Box DeleteDIB(13)", ConvertBox,
     kInSource + kNoFunction + "DIBtoRLE」がありません。"},
    {"GrayReturnsZeroWithoutACategory", 0, [](auto &, auto &l) { l.results["GrayDIB"] = {0}; },
     kBmp + "DIBto24Bit(12) GrayDIB(13,0)" + kAsked + " DeleteDIB(13)", ConvertBox,
     kInSource + "プログラム内部のエラーです。"},
    // A failed save names the output file.
    {"BmpSaveRefused", 0, [](auto &, auto &l) { failing("DIBtoBMP", IMGCTL_ERR_PERMISSION)(l); },
     kBmp + "DIBto24Bit(12) GrayDIB(13,0) DIBtoBMP(/o/out,14)" + kAsked + " DeleteDIB(14)",
     ConvertBox, kInOutput + "アクセスする権限がありません。"},
    {"JpegSaveOnAFullDisk", 0,
     [](auto &s, auto &l) { s.formatIndex = 1, failing("DIBtoJPG", IMGCTL_ERR_DISK_FULL)(l); },
     kLoad + "DIBtoJPG(/o/out,11,60,0)" + kAsked + " DeleteDIB(11)", ConvertBox,
     kInOutput + "ディスクの空きが足りません。"},
    {"PngSaveMissing", 0,
     [](auto &s, auto &l) { s.formatIndex = 2, l.missingFunctions = {"DIBtoPNG"}; },
     kLoad + "Box DeleteDIB(11)", ConvertBox, kInOutput + kNoFunction + "DIBtoPNG」がありません。"},
    {"PngExSaveIntoAMissingFolder", 0,
     [](auto &s, auto &l) {
         s.formatIndex = 2, s.detailsShown = kTrue, failing("DIBtoPNGex", IMGCTL_ERR_NO_FOLDER)(l);
     },
     kLoad + "DIBtoPNGex(/o/out,11," + pngRecord(0, 5) + ")" + kAsked + " DeleteDIB(11)",
     ConvertBox, kInOutput + "保存先のフォルダーがありません。"},
    {"ReleaseMissing", 0,
     [](auto &s, auto &l) { s.formatIndex = 1, l.missingFunctions = {"DeleteDIB"}; },
     kLoad + "DIBtoJPG(/o/out,11,60,0) Box", ReleaseBox,
     "原因：" + kNoFunction + "DeleteDIB」がありません。", true},
};

class ConvertChain : public CommandsTest, public ::testing::WithParamInterface<ChainCase> {};

TEST_P(ConvertChain, SaveDialogCallsAndBox) {
    const ChainCase &c = GetParam();
    c.set(settings, lib);
    // The source is Text1 as it reads after the save dialog, not sourcePath.
    settings.sourcePath = "/stale/path.bmp";
    view.text = "/first.bmp";
    view.check = c.check1;
    dialog.FileName = "/previous/source.bmp";
    dialog.answers.push_back({true, "/o/out", 1, "/s/src"});

    commands.convert();

    EXPECT_EQ(joined(lib), "ShowSave " + c.trace);
    ASSERT_EQ(dialog.shown.size(), 1u);
    const DialogShown &d = dialog.shown[0];
    EXPECT_EQ(d.flags, 0x280002);
    EXPECT_EQ(d.filter, kSaveDialogs[settings.formatIndex].first);
    EXPECT_EQ(d.defaultExt, kSaveDialogs[settings.formatIndex].second);
    EXPECT_EQ(d.fileName, "") << "the name box opens empty";
    ASSERT_EQ(box.shown.size(), c.box == NoBox ? 0u : 1u);
    if (c.box != NoBox) {
        EXPECT_EQ(box.shown[0].text, kBoxTexts[c.box]);
        EXPECT_EQ(box.shown[0].title, "エラー");
        EXPECT_EQ(box.shown[0].details, c.details);
    }
    EXPECT_EQ(view.text, "/s/src");
    EXPECT_EQ(view.refreshes, 0) << "Convert does not touch the preview";
    if (!c.leaks) expectCleanHandles();
    EXPECT_EQ(view.busyDepth, 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, ConvertChain, ::testing::ValuesIn(kChainCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(CommandsTest, SilentEnds) {
    // Empty Text1: nothing at all.
    commands.convert();
    // Spaces are not empty: the dialog shows; a cancel ends silently and
    // leaves the name empty for the next open dialog.
    view.text = "   ";
    dialog.FileName = "/old.bmp";
    commands.convert();
    EXPECT_EQ(dialog.FileName, "");
    // A confirmed but empty name ends silently too.
    dialog.answers.push_back({true, "", 1});
    commands.convert();
    // So does a dialog that fails before the output name is known.
    struct ThrowingDialog : convert::FileDialog {
        bool ShowOpen() override { throw std::runtime_error("no dialog"); }
        bool ShowSave() override { throw std::runtime_error("no dialog"); }
    } throwing;
    convert::ConversionCommands(lib, throwing, box, view, settings).convert();
    settings.formatIndex = 3; // no format of this program: not even a dialog
    commands.convert();
    EXPECT_EQ(joined(lib), "ShowSave ShowSave");
    EXPECT_TRUE(box.shown.empty());
}

// The causes not met above, and a library that gives no reason.
TEST(FailureText, CausesAndUnreachableLibrary) {
    const std::pair<int32_t, const char *> kCauses[] = {
        {IMGCTL_ERR_CANNOT_READ, "ファイルを読み取れません。"},
        {IMGCTL_ERR_UNSUPPORTED, "この種類の画像には対応していません。"},
        {IMGCTL_ERR_TOO_LARGE, "画像が大きすぎます。"},
        {IMGCTL_ERR_CANNOT_WRITE, "ファイルを書き込めません。"},
        // A handle or argument the library refuses is this program's fault.
        {IMGCTL_ERR_BAD_HANDLE, "プログラム内部のエラーです。"},
        {IMGCTL_ERR_BAD_ARGUMENT, "プログラム内部のエラーです。"},
        // No category, or one added to the library after this program.
        {IMGCTL_OK, "原因が分かりません。"},
        {IMGCTL_ERR_INTERNAL + 1, "原因が分かりません。"},
    };
    for (const auto &[category, cause] : kCauses)
        EXPECT_EQ(convert::causeText(category), cause) << category;
    EXPECT_EQ(convert::unreachableText(imagelib::LibraryError("libimgctl.so", "", "")),
              "ライブラリ「libimgctl.so」を読み込めません。");
}

} // namespace
