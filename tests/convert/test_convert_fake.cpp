// SPDX-License-Identifier: MIT
// Convert against the recording library: the save dialog, the exact call
// sequence per format and option, the failure boxes and the handles.
#include "failure_text.h"
#include "fixture.h"

#include <functional>

using namespace convert_test;

namespace {

const std::string kHeader = "エラーが発生しました。症状は以下のとおりです。";
const std::string kLoadBox = kHeader +
                             "\nファイルを読み込み出来ませんでした。フォーマットが違うか、"
                             "ファイルが存在しません。\n";
const std::string kConvertBox = kHeader +
                                "\nファイルを変換することが出来ませんでした。このエラーが続くよう"
                                "でしたら作者にご連絡ください。\n";
const std::string kReleaseBox = kHeader + "\n\n";

struct ChainCase {
    const char *name;
    int check1;
    std::function<void(ConversionSettings &)> set;
    std::string calls; // the library calls, separated by spaces
};

// The save dialog per format: the name answered, the filter and extension.
struct SaveDialog {
    std::string output, filter, defaultExt;
};
const SaveDialog kSaveDialogs[] = {{"/o/a.bmp", "BMPファイル|*.bmp", "bmp"},
                                   {"/o/b.jpg", "JPEGファイル|*.jpg;*.jpe;*.jpeg", "jpg"},
                                   {"/o/c.png", "PINGファイル|*.png", "png"}};

// Handles: ToDIB gives 11, each replacing step the next number.
const ChainCase kChainCases[] = {
    {"Bmp24", 0, [](auto &) {},
     "ToDIB(/s/src.png) RLEtoDIB(11) DIBto24Bit(12) GrayDIB(13,0) DIBtoBMP(/o/a.bmp,14) "
     "DeleteDIB(14)"},
    {"Bmp16PassesReferenceToOne", 0, [](auto &s) { s.bitDepthIndex = 1; },
     "ToDIB(/s/src.png) RLEtoDIB(11) DIBto16Bit(12,&1) GrayDIB(13,0) DIBtoBMP(/o/a.bmp,14) "
     "DeleteDIB(14)"},
    {"Bmp8WithoutRle", 0, [](auto &s) { s.bitDepthIndex = 2; },
     "ToDIB(/s/src.png) RLEtoDIB(11) DIBto8Bit(12,0,0) GrayDIB(13,0) DIBtoBMP(/o/a.bmp,14) "
     "DeleteDIB(14)"},
    {"Bmp8WithRleAndGray", 1, [](auto &s) { s.bitDepthIndex = 2, s.grayLevel = 200; },
     "ToDIB(/s/src.png) RLEtoDIB(11) DIBto8Bit(12,0,0) DIBtoRLE(13) GrayDIB(14,200) "
     "DIBtoBMP(/o/a.bmp,15) DeleteDIB(15)"},
    {"Bmp8RleBoxGrayedCountsAsUnticked", 2, [](auto &s) { s.bitDepthIndex = 2; },
     "ToDIB(/s/src.png) RLEtoDIB(11) DIBto8Bit(12,0,0) GrayDIB(13,0) DIBtoBMP(/o/a.bmp,14) "
     "DeleteDIB(14)"},
    {"Bmp24RleTickedIsIgnored", 1, [](auto &) {},
     "ToDIB(/s/src.png) RLEtoDIB(11) DIBto24Bit(12) GrayDIB(13,0) DIBtoBMP(/o/a.bmp,14) "
     "DeleteDIB(14)"},
    {"Bmp16RleTickedIsIgnored", 1, [](auto &s) { s.bitDepthIndex = 1; },
     "ToDIB(/s/src.png) RLEtoDIB(11) DIBto16Bit(12,&1) GrayDIB(13,0) DIBtoBMP(/o/a.bmp,14) "
     "DeleteDIB(14)"},
    {"BmpGrayLevelNegativeKeepsSign", 0, [](auto &s) { s.grayLevel = -5; },
     "ToDIB(/s/src.png) RLEtoDIB(11) DIBto24Bit(12) GrayDIB(13,-5) DIBtoBMP(/o/a.bmp,14) "
     "DeleteDIB(14)"},
    {"JpegProgressiveDefaultQuality", 0, [](auto &s) { s.formatIndex = 1, s.progressive = kTrue; },
     "ToDIB(/s/src.png) DIBtoJPG(/o/b.jpg,11,60,-1) DeleteDIB(11)"},
    {"JpegBaselineWithDetailsShown", 1,
     [](auto &s) { s.formatIndex = 1, s.jpegQuality = 100, s.detailsShown = kTrue; },
     "ToDIB(/s/src.png) DIBtoJPG(/o/b.jpg,11,100,0) DeleteDIB(11)"},
    {"PngDetailsHiddenIgnoresLevelAndInterlace", 0,
     [](auto &s) { s.formatIndex = 2, s.pngLevel = 9, s.interlaced = kTrue; },
     "ToDIB(/s/src.png) DIBtoPNG(/o/c.png,11,0) DeleteDIB(11)"},
    {"PngDetailsShownLevel5", 0, [](auto &s) { s.formatIndex = 2, s.detailsShown = kTrue; },
     "ToDIB(/s/src.png) DIBtoPNGex(/o/c.png,11," + pngRecord(0x00, 5) + ") DeleteDIB(11)"},
    {"PngDetailsShownLevel5Interlaced", 0,
     [](auto &s) { s.formatIndex = 2, s.detailsShown = kTrue, s.interlaced = kTrue; },
     "ToDIB(/s/src.png) DIBtoPNGex(/o/c.png,11," + pngRecord(0x80, 5) + ") DeleteDIB(11)"},
    // Only -1 counts as interlaced.
    {"PngDetailsShownInterlacedOneIsNot", 0,
     [](auto &s) { s.formatIndex = 2, s.detailsShown = kTrue, s.interlaced = 1; },
     "ToDIB(/s/src.png) DIBtoPNGex(/o/c.png,11," + pngRecord(0x00, 5) + ") DeleteDIB(11)"},
    {"PngDetailsShownLevel0Interlaced", 0,
     [](auto &s) {
         s.formatIndex = 2, s.detailsShown = kTrue, s.interlaced = kTrue, s.pngLevel = 0;
     },
     "ToDIB(/s/src.png) DIBtoPNGex(/o/c.png,11," + pngRecord(0x80, 0) + ") DeleteDIB(11)"},
};

class ConvertChain : public CommandsTest, public ::testing::WithParamInterface<ChainCase> {};

TEST_P(ConvertChain, CallsAndSaveDialog) {
    const ChainCase &c = GetParam();
    c.set(settings);
    const ConversionSettings before = settings;
    view.text = "/s/src.png";
    view.check = c.check1;
    dialog.FileName = "/previous/source.bmp";
    const SaveDialog &save = kSaveDialogs[settings.formatIndex];
    dialog.answers.push_back({true, save.output, 1});

    commands.convert();

    ASSERT_EQ(dialog.shown.size(), 1u);
    const DialogShown &d = dialog.shown[0];
    EXPECT_TRUE(d.save);
    EXPECT_EQ(d.flags, 0x280002);
    EXPECT_EQ(d.filter, save.filter);
    EXPECT_EQ(d.defaultExt, save.defaultExt);
    EXPECT_EQ(d.fileName, "") << "the name box opens empty";
    EXPECT_EQ(joined(lib.texts()), c.calls);
    EXPECT_TRUE(box.shown.empty());
    EXPECT_EQ(view.text, "/s/src.png");
    EXPECT_EQ(view.setTextCalls, 0);
    EXPECT_EQ(settings.sourcePath, before.sourcePath);
    EXPECT_EQ(view.refreshes, 0) << "Convert does not touch the preview";
    EXPECT_GT(view.busyChanges, 0) << "no wait cursor while converting";
    expectCleanHandles();
}

INSTANTIATE_TEST_SUITE_P(Formats, ConvertChain, ::testing::ValuesIn(kChainCases),
                         [](const auto &info) { return std::string(info.param.name); });

// The source is Text1 as it reads after the save dialog, not sourcePath.
TEST_F(CommandsTest, ConvertReadsText1AgainAfterTheDialog) {
    settings.sourcePath = "/stale/path.bmp";
    view.text = "/first.bmp";
    struct EditingDialog : convert::FileDialog {
        FakeView *view;
        bool ShowOpen() override { return false; }
        bool ShowSave() override {
            view->text = "/edited.bmp";
            FileName = "/o/x.bmp";
            return true;
        }
    } editing;
    editing.view = &view;
    convert::ConversionCommands c(lib, editing, box, view, settings);
    c.convert();
    ASSERT_FALSE(lib.calls.empty());
    EXPECT_EQ(lib.calls[0].text, "ToDIB(/edited.bmp)");
}

TEST_F(CommandsTest, SilentEnds) {
    // Empty Text1: nothing at all.
    view.text = "";
    commands.convert();
    EXPECT_TRUE(dialog.shown.empty());

    // Spaces are not empty: the dialog shows; a cancel ends silently and
    // leaves the name empty for the next open dialog.
    view.text = "   ";
    dialog.FileName = "/old.bmp";
    commands.convert();
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_EQ(dialog.FileName, "");

    // A confirmed but empty name ends silently too.
    dialog.answers.push_back({true, "", 1});
    commands.convert();
    EXPECT_EQ(dialog.shown.size(), 2u);

    EXPECT_TRUE(lib.calls.empty());
    EXPECT_TRUE(box.shown.empty());
    EXPECT_EQ(view.busyChanges, 0);
}

// A dialog that fails before the output name is known ends without a box.
TEST_F(CommandsTest, DialogFailureBeforeTheNameIsSilent) {
    struct ThrowingDialog : convert::FileDialog {
        bool ShowOpen() override { throw std::runtime_error("no dialog"); }
        bool ShowSave() override { throw std::runtime_error("no dialog"); }
    } throwing;
    convert::ConversionCommands c(lib, throwing, box, view, settings);
    view.text = "/s.bmp";
    c.convert();
    EXPECT_TRUE(lib.calls.empty());
    EXPECT_TRUE(box.shown.empty());
}

struct FailureCase {
    const char *name;
    int check1;
    std::function<void(ConversionSettings &, imagelib::RecordingLibrary &)> set;
    std::string boxText;
    std::string details;                       // shown below the box's text
    std::string callsBeforeBox, callsAfterBox; // separated by spaces
    bool leaks = false;                        // the release itself failed
};

// The library asked for its account of the call that failed, at once.
const std::string kAsked = " ImgctlLastErrorCode() ImgctlLastError()";

// A failure of `function` with `code` as the library's category.
auto failing(const char *function, int32_t code) {
    return [=](imagelib::RecordingLibrary &l) {
        l.results[function] = {0};
        l.failures[function] = {code, "the library's message"};
    };
}

const FailureCase kFailureCases[] = {
    {"LoadReturnsZero", 0, [](auto &, auto &l) { failing("ToDIB", IMGCTL_ERR_NOT_FOUND)(l); },
     kLoadBox, "ファイル：/s/src.bmp\n原因：ファイルが見つかりません。",
     "ToDIB(/s/src.bmp)" + kAsked, ""},
    {"LoadReturnsNegative", 0,
     [](auto &, auto &l) {
         l.results["ToDIB"] = {-1};
         l.failures["ToDIB"] = {IMGCTL_ERR_NOT_IMAGE, "not an image"};
     },
     kLoadBox, "ファイル：/s/src.bmp\n原因：画像ファイルではありません。",
     "ToDIB(/s/src.bmp)" + kAsked, ""},
    {"LibraryMissing", 0, [](auto &, auto &l) { l.libraryMissing = true; }, kLoadBox,
     "ファイル：/s/src.bmp\n原因：ライブラリ「libimgctl.so」を読み込めません（cannot open shared "
     "object file (fake)）。",
     "", ""},
    {"ToDIBMissing", 0, [](auto &, auto &l) { l.missingFunctions = {"ToDIB"}; }, kLoadBox,
     "ファイル：/s/src.bmp\n原因：ライブラリ「libimgctl.so」に関数「ToDIB」がありません。", "", ""},
    {"RleExpandReturnsZero", 0, [](auto &, auto &l) { failing("RLEtoDIB", IMGCTL_ERR_CORRUPT)(l); },
     kConvertBox, "ファイル：/s/src.bmp\n原因：ファイルが壊れています。",
     "ToDIB(/s/src.bmp) RLEtoDIB(11)" + kAsked, "DeleteDIB(11)"},
    {"DepthStepReturnsZero", 1,
     [](auto &s, auto &l) {
         s.bitDepthIndex = 2, failing("DIBto8Bit", IMGCTL_ERR_OUT_OF_MEMORY)(l);
     },
     kConvertBox, "ファイル：/s/src.bmp\n原因：メモリが足りません。",
     "ToDIB(/s/src.bmp) RLEtoDIB(11) DIBto8Bit(12,0,0)" + kAsked, "DeleteDIB(12)"},
    {"RleMissing", 1,
     [](auto &s, auto &l) { s.bitDepthIndex = 2, l.missingFunctions = {"DIBtoRLE"}; }, kConvertBox,
     "ファイル：/s/src.bmp\n原因：ライブラリ「libimgctl.so」に関数「DIBtoRLE」がありません。",
     "ToDIB(/s/src.bmp) RLEtoDIB(11) DIBto8Bit(12,0,0)", "DeleteDIB(13)"},
    {"GrayReturnsZeroWithoutACategory", 0, [](auto &, auto &l) { l.results["GrayDIB"] = {0}; },
     kConvertBox, "ファイル：/s/src.bmp\n原因：プログラム内部のエラーです。",
     "ToDIB(/s/src.bmp) RLEtoDIB(11) DIBto24Bit(12) GrayDIB(13,0)" + kAsked, "DeleteDIB(13)"},
    {"BmpSaveRefused", 0, [](auto &, auto &l) { failing("DIBtoBMP", IMGCTL_ERR_PERMISSION)(l); },
     kConvertBox, "ファイル：/o/out\n原因：アクセスする権限がありません。",
     "ToDIB(/s/src.bmp) RLEtoDIB(11) DIBto24Bit(12) GrayDIB(13,0) DIBtoBMP(/o/out,14)" + kAsked,
     "DeleteDIB(14)"},
    {"JpegSaveOnAFullDisk", 0,
     [](auto &s, auto &l) { s.formatIndex = 1, failing("DIBtoJPG", IMGCTL_ERR_DISK_FULL)(l); },
     kConvertBox, "ファイル：/o/out\n原因：ディスクの空きが足りません。",
     "ToDIB(/s/src.bmp) DIBtoJPG(/o/out,11,60,0)" + kAsked, "DeleteDIB(11)"},
    {"PngSaveMissing", 0,
     [](auto &s, auto &l) { s.formatIndex = 2, l.missingFunctions = {"DIBtoPNG"}; }, kConvertBox,
     "ファイル：/o/out\n原因：ライブラリ「libimgctl.so」に関数「DIBtoPNG」がありません。",
     "ToDIB(/s/src.bmp)", "DeleteDIB(11)"},
    {"PngExSaveIntoAMissingFolder", 0,
     [](auto &s, auto &l) {
         s.formatIndex = 2, s.detailsShown = kTrue, failing("DIBtoPNGex", IMGCTL_ERR_NO_FOLDER)(l);
     },
     kConvertBox, "ファイル：/o/out\n原因：保存先のフォルダーがありません。",
     "ToDIB(/s/src.bmp) DIBtoPNGex(/o/out,11," + pngRecord(0, 5) + ")" + kAsked, "DeleteDIB(11)"},
    {"ReleaseMissing", 0,
     [](auto &s, auto &l) { s.formatIndex = 1, l.missingFunctions = {"DeleteDIB"}; }, kReleaseBox,
     "原因：ライブラリ「libimgctl.so」に関数「DeleteDIB」がありません。",
     "ToDIB(/s/src.bmp) DIBtoJPG(/o/out,11,60,0)", "", true},
};

class ConvertFailure : public CommandsTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ConvertFailure, BoxTextDetailsAndRelease) {
    const FailureCase &c = GetParam();
    c.set(settings, lib);
    view.text = "/s/src.bmp";
    view.check = c.check1;
    dialog.answers.push_back({true, "/o/out", 1});

    commands.convert();

    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].text, c.boxText);
    EXPECT_EQ(box.shown[0].title, "エラー");
    EXPECT_EQ(box.shown[0].details, c.details);
    std::vector<std::string> calls = lib.texts();
    const size_t split = box.shown[0].libraryCallsBefore;
    ASSERT_LE(split, calls.size());
    EXPECT_EQ(joined({calls.begin(), calls.begin() + split}), c.callsBeforeBox);
    EXPECT_EQ(joined({calls.begin() + split, calls.end()}), c.callsAfterBox);
    if (!c.leaks) expectCleanHandles();
    EXPECT_EQ(view.busyDepth, 0);
}

INSTANTIATE_TEST_SUITE_P(Stages, ConvertFailure, ::testing::ValuesIn(kFailureCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
