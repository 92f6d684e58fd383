// SPDX-License-Identifier: MIT
// The commands plugged into the real main window: its buttons and menu
// commands reach Browse and Convert, read Text1, Check1 and the settings the
// window keeps, and draw into Picture1.
#include "wired_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QRadioButton>
#include <gtest/gtest.h>

using namespace convert_test;

namespace {

using Log = std::vector<std::string>;

TEST_F(WiredWindow, StartUpHandsTheDialogItsFlags) {
    EXPECT_EQ(dialog.Flags, 2);
}

bool waitCursorOn() {
    const QCursor *c = QApplication::overrideCursor();
    return c && c->shape() == Qt::WaitCursor;
}

// Notes whether the wait cursor is on at the load and the save.
struct CursorNotingLibrary : imagelib::RecordingLibrary {
    std::vector<bool> waiting;
    int32_t ToDIB(const char *path) override {
        waiting.push_back(waitCursorOn());
        return RecordingLibrary::ToDIB(path);
    }
    int32_t DIBtoBMP(const char *path, int32_t image) override {
        waiting.push_back(waitCursorOn());
        return RecordingLibrary::DIBtoBMP(path, image);
    }
};

struct CursorNotingBox : convert::MessageBox {
    std::vector<bool> waiting;
    void show(const std::string &, const std::string &, const std::string &) override {
        waiting.push_back(waitCursorOn());
    }
};

// The wait cursor is on while the library loads, converts and saves, and off
// again before the box.
TEST(WiredWindowCursor, WaitCursorWhileTheLibraryWorks) {
    nubaro::MainWindow window;
    window.onEndProgram = [] {};
    CursorNotingLibrary lib;
    ScriptedDialog dialog;
    CursorNotingBox box;
    convert::WindowWiring wiring(window, lib, dialog, box);
    window.Form_Load();

    dialog.answers.push_back({true, "/p/in.bmp", 1});
    window.Command1_Click();
    lib.results["DIBtoBMP"] = {0};
    dialog.answers.push_back({true, "/o/out.bmp", 1});
    window.Command3_Click();

    EXPECT_EQ(lib.waiting, (std::vector<bool>{true, true, true})); // preview, load, save
    EXPECT_EQ(box.waiting, std::vector<bool>{false});
    EXPECT_FALSE(waitCursorOn());
}

TEST_F(WiredWindow, BrowseButtonAndMenuDrawThePreview) {
    for (auto click : {&nubaro::MainWindow::Command1_Click, &nubaro::MainWindow::Open_Click}) {
        lib.clear();
        dialog.answers.push_back({true, "/p/写真 1.png", 3});
        (window.get()->*click)();
        ASSERT_EQ(lib.calls.size(), 4u);
        EXPECT_EQ(lib.calls[2].text, "DIBtoDCex2(33x33,0,0,33,33," +
                                         lib.calls[1].text.substr(8, 2) +
                                         ",0,0,640,480,0xCC0020,4)");
    }
    EXPECT_EQ(window->sourceText(), QString::fromUtf8("/p/写真 1.png"));
    EXPECT_EQ(window->settings().sourcePath, "/p/写真 1.png");
    EXPECT_EQ(window->settings().filterIndex, 3);
    EXPECT_EQ(dialog.shown.back().defaultExt, "png");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "wait cursor left on";
    EXPECT_TRUE(lib.liveImages.empty());
}

TEST_F(WiredWindow, ConvertReadsTheWindowsSettingsAndCheck1) {
    window->Option1[2]->click(); // 8 bits
    window->Check1->setChecked(true);
    window->setSourceText("/p/in.bmp");
    dialog.answers.push_back({true, "/o/out.bmp", 1});
    window->Command3_Click();
    const Log calls = {"ToDIB(/p/in.bmp)", "RLEtoDIB(11)",  "DIBto8Bit(12,0,0)",
                       "DIBtoRLE(13)",     "GrayDIB(14,0)", "DIBtoBMP(/o/out.bmp,15)",
                       "DeleteDIB(15)"};
    EXPECT_EQ(lib.texts(), calls);
    EXPECT_EQ(dialog.shown.back().flags, 0x280002);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(WiredWindow, ConvertAndExitWithEmptyText1BrowsesFirst) {
    dialog.answers.push_back({true, "/p/a.jpg", 2});
    dialog.answers.push_back({true, "/o/a.bmp", 1});
    window->An_Click();
    EXPECT_EQ(log, (Log{"ShowOpen", "ShowSave", "End"}));
    EXPECT_EQ(lib.calls[4].text, "ToDIB(/p/a.jpg)");
    EXPECT_TRUE(lib.liveImages.empty());
}

TEST_F(WiredWindow, ConvertAndExitWithCancelledBrowseStillEnds) {
    window->An_Click();
    EXPECT_EQ(log, (Log{"ShowOpen", "End"}));
    EXPECT_TRUE(lib.calls.empty());
}

TEST_F(WiredWindow, ConvertAndExitWithText1SkipsBrowse) {
    window->setSourceText("/p/already.png");
    dialog.answers.push_back({true, "/o/a.bmp", 1});
    window->An_Click();
    EXPECT_EQ(log, (Log{"ShowSave", "End"}));
}

TEST_F(WiredWindow, ConvertAndExitEndsAfterTheFailureBox) {
    window->setSourceText("/p/missing.png");
    lib.results["ToDIB"] = {0};
    dialog.answers.push_back({true, "/o/a.bmp", 1});
    window->An_Click();
    EXPECT_EQ(log, (Log{"ShowSave", "Box", "End"}));
}

// A library that cannot be loaded is named in a box and the program keeps
// running with everything as it was: Browse tells An_Click that it failed.
TEST_F(WiredWindow, LibraryMissingKeepsTheProgramRunning) {
    lib.libraryMissing = true;
    window->settings().jpegQuality = 77;
    dialog.answers.push_back({true, "/p/a.jpg", 2});
    window->An_Click();
    EXPECT_EQ(log, (Log{"ShowOpen", "Box"}));
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_NE(box.shown[0].text.find("libimgctl.so"), std::string::npos);
    EXPECT_EQ(window->sourceText(), "");
    EXPECT_EQ(window->settings().filterIndex, 0);
    EXPECT_EQ(window->settings().jpegQuality, 77);

    // Convert with a source reports the loading failure; the window stays.
    window->setSourceText("/p/a.jpg");
    dialog.answers.push_back({true, "/o/a.bmp", 1});
    window->Command3_Click();
    EXPECT_EQ(log.back(), "Box");
    EXPECT_EQ(window->sourceText(), "/p/a.jpg");
}

} // namespace
