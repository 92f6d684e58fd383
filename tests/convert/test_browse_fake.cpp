// SPDX-License-Identifier: MIT
// Browse against the recording library: the open dialog's presets, the
// preview calls, cancels and library failures.
#include "fakes.h"

#include <tuple>

using namespace convert_test;

namespace {

const std::string kOpenFilter = "BMPファイル(*.bmp)|*.bmp|JPEGファイル(*.jpg,*.jpe,*.jpeg)|"
                                "*.jpg;*.jpe;*.jpeg|PINGファイル(*.png)|*.png";

TEST_F(CommandsTest, BrowsePresetsFollowTheLastPickedEntry) {
    // Each step: the dialog's answer (OK or cancel, the name returned and the
    // filter entry picked), then the FilterIndex, DefaultExt and FileName the
    // dialog opened with.
    const std::tuple<bool, const char *, int16_t, int16_t, const char *, const char *> kSteps[] = {
        {true, "/p/one.png", 3, 0, "bmp", ""},
        {true, "/p/two.jpg", 2, 3, "png", "/p/one.png"},
        {true, "/p/three.bmp", 1, 2, "jpg", "/p/two.jpg"},
        {false, "", 3, 1, "bmp", "/p/three.bmp"}, // cancelled: nothing taken
        {true, "/p/four.bmp", 1, 1, "bmp", "/p/three.bmp"},
    };
    for (const auto &[accept, pick, pickIndex, index, ext, name] : kSteps) {
        SCOPED_TRACE(name);
        dialog.answers.push_back({accept, pick, pickIndex});
        EXPECT_TRUE(commands.browse());
        const DialogShown &d = dialog.shown.back();
        EXPECT_EQ(d.flags, 2) << "Browse leaves the flags alone";
        EXPECT_EQ(d.filter, kOpenFilter);
        EXPECT_EQ(d.filterIndex, index);
        EXPECT_EQ(d.defaultExt, ext);
        EXPECT_EQ(d.fileName, name);
    }
    EXPECT_EQ(view.refreshes, 4) << "a preview for each name taken";
    // After a Convert, Browse starts with its output name and flags.
    settings.formatIndex = 2;
    dialog.answers = {{true, "/out/result.png", 3}};
    commands.convert();
    commands.browse(); // cancelled
    const DialogShown &d = dialog.shown.back();
    EXPECT_EQ(d.fileName, "/out/result.png");
    EXPECT_EQ(d.flags, 0x280002) << "the save dialog's flags stay";
    EXPECT_EQ(d.filterIndex, 1);
    EXPECT_EQ(d.defaultExt, "bmp");
    expectCleanHandles();
}

// A name taken shows in Text1 and the settings; its preview is drawn over the
// whole box, whatever its size and the image's; an unreadable source is taken
// without preview or message.
TEST_F(CommandsTest, BrowseTakesTheNameAndDrawsItsPreview) {
    view.width = 50;
    view.height = 20;
    lib.imageWidth = 7;
    lib.imageHeight = 3000;
    const std::pair<int32_t, std::string> kLoads[] = {
        {0, "DeleteDIB(0)"},
        {-1, "DeleteDIB(-1)"},
        {11, "HeadDIB(11) DIBtoDCex2(50x20,0,0,50,20,11,0,0,7,3000,0xCC0020,4) DeleteDIB(11)"}};
    for (const auto &[loaded, calls] : kLoads) {
        lib.clear();
        view.refreshes = 0;
        view.pixels.assign(50 * 20, 0);
        if (loaded <= 0) lib.results["ToDIB"] = {loaded};
        dialog.answers.push_back({true, "/p/日本 語.png", 3});
        EXPECT_TRUE(commands.browse());
        EXPECT_EQ(joined(lib), "ShowOpen ToDIB(/p/日本 語.png) " + calls);
        EXPECT_EQ(view.refreshes, loaded > 0 ? 1 : 0);
        EXPECT_EQ(view.pixels, std::vector<uint32_t>(50 * 20, loaded > 0 ? 0xFF00000Bu : 0))
            << "the whole box drawn";
        EXPECT_EQ(view.text, "/p/日本 語.png");
        EXPECT_EQ(settings.sourcePath, "/p/日本 語.png");
    }
    EXPECT_TRUE(box.shown.empty());
    expectCleanHandles();
}

struct BrowseFailure {
    const char *missing; // the function missing, or "" for the whole library
    std::string calls;   // after the open dialog, up to the box
};

const std::string kDraw = "DIBtoDCex2(33x33,0,0,33,33,11,0,0,640,480,0xCC0020,4)";
const BrowseFailure kBrowseFailures[] = {
    {"", ""},
    {"ToDIB", ""},
    {"HeadDIB", "ToDIB(/p/new.bmp) DeleteDIB(11) "},
    {"DIBtoDCex2", "ToDIB(/p/new.bmp) HeadDIB(11) DeleteDIB(11) "},
    {"DeleteDIB", "ToDIB(/p/new.bmp) HeadDIB(11) " + kDraw + " "},
};

class BrowseFails : public CommandsTest, public ::testing::WithParamInterface<BrowseFailure> {};

// The failure is named in a box, in one Japanese sentence that names the
// library file looked for and the system's reason or the missing function,
// and the window stays as it was, its preview too.
TEST_P(BrowseFails, NamesTheFailureAndRestores) {
    const std::string missing = GetParam().missing;
    if (missing.empty())
        lib.libraryMissing = true;
    else
        lib.missingFunctions = {missing};
    settings.sourcePath = view.text = "/old.bmp";
    settings.filterIndex = 2;
    dialog.answers.push_back({true, "/p/new.bmp", 1});

    EXPECT_FALSE(commands.browse());

    EXPECT_EQ(joined(lib), "ShowOpen " + GetParam().calls + "Box");
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].title, "エラー");
    EXPECT_EQ(box.shown[0].text,
              missing.empty()
                  ? "ライブラリ「libimgctl.so」を読み込めません（cannot open shared "
                    "object file (fake)）。"
                  : "ライブラリ「libimgctl.so」に関数「" + missing + "」がありません。");
    EXPECT_EQ(box.shown[0].details, "");
    EXPECT_EQ(settings.sourcePath, "/old.bmp");
    EXPECT_EQ(settings.filterIndex, 2);
    EXPECT_EQ(view.text, "/old.bmp");
    EXPECT_EQ(view.pixels, std::vector<uint32_t>(33 * 33, 0xFF123456u)) << "the preview changed";
    EXPECT_EQ(lib.liveImages.empty(), missing != "DeleteDIB");
    EXPECT_EQ(view.busyDepth, 0);
}

INSTANTIATE_TEST_SUITE_P(Library, BrowseFails, ::testing::ValuesIn(kBrowseFailures),
                         [](const auto &info) {
                             return std::string(*info.param.missing ? info.param.missing
                                                                    : "Library");
                         });

} // namespace
