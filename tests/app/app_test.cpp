// SPDX-License-Identifier: MIT
// The application shell: the order of the start-up steps, every way of
// unloading the window, and the icon. (What the buttons, keys and menu items
// run is traced in tests/convert/test_wiring_window.cpp.) The end of the
// program is replaced so the test process survives; it is recorded instead.
#include "application_setup.h"
#include "main_window.h"
#include "spinner.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using nubaro::MainWindow;

namespace {

class AppTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { nubaro::setUpApplication(); }

    void SetUp() override {
        window = std::make_unique<MainWindow>();
        window->onSetDialogFlags = [this](int32_t flags) {
            log.push_back("flags " + std::to_string(flags));
        };
        window->onEndProgram = [this] { log.push_back("end"); };
        for (QLineEdit *box : {window->Text3.data(), window->Text4.data(), window->Text5.data()})
            QObject::connect(box, &QObject::destroyed,
                             [this, name = box->objectName().toStdString()] {
                                 log.push_back("destroy " + name);
                             });
    }

    // The log outlives the window, whose destruction still reports into it.
    std::vector<std::string> log;
    std::unique_ptr<MainWindow> window;
};

TEST_F(AppTest, StartUpRunsItsStepsInOrder) {
    // What each step has done shows in the state seen after it: the height,
    // Check1, the BMP, JPEG and PNG panels, the spinners, the extension
    // table, the JPEG quality and the hook calls.
    std::vector<std::string> seen;
    window->onLoadStep = [&](int step) {
        const MainWindow &w = *window;
        seen.push_back(QString::asprintf("%d %d %d%d%d%d %d %s %d %d", step, w.outerHeightTwips(),
                                         w.Check1->isEnabled(), w.Frame3->isEnabled(),
                                         w.Frame5->isEnabled(), w.Frame6->isEnabled(),
                                         int(w.findChildren<nubaro::UpDownControl *>().size()),
                                         w.settings().extensions[0].c_str(),
                                         w.settings().jpegQuality, int(log.size()))
                           .toStdString());
    };
    EXPECT_EQ(window->outerHeightTwips(), 4200); // the layout's own height
    window->Form_Load();
    EXPECT_EQ(seen, (std::vector<std::string>{"1 1575 0111 0  0 0", "2 1575 1100 0  0 0",
                                              "3 1575 1100 3  0 0", "4 1575 0100 3  0 0",
                                              "5 1575 0100 3 bmp 0 0", "6 1575 0100 3 bmp 60 0",
                                              "7 1575 0100 3 bmp 60 1"}));
    EXPECT_EQ(log, (std::vector<std::string>{"flags 2"}));
}

// The File menu's 終了, a close request (never refused) and a second request
// all unload the window once: the number boxes go, then the program ends.
TEST_F(AppTest, EveryWayOfUnloadingUnloadsOnce) {
    const std::vector<std::string> unload = {"destroy Text3", "destroy Text4", "destroy Text5",
                                             "end"};
    for (int way = 0; way < 2; ++way) {
        SCOPED_TRACE(way);
        SetUp();
        window->Form_Load();
        window->show();
        log.clear();
        if (way == 0)
            window->En->trigger();
        else
            EXPECT_TRUE(window->close());
        EXPECT_EQ(log, unload);
        EXPECT_FALSE(window->isVisible());
        window->close();
        EXPECT_EQ(log, unload);
    }
}

// The program's icon and the window's are the icon image (its size and
// colours are checked on the installed files).
TEST_F(AppTest, WindowAndProgramShowTheIcon) {
    const QImage icon = nubaro::iconImage().convertToFormat(QImage::Format_ARGB32);
    for (const QIcon &shown : {QApplication::windowIcon(), window->windowIcon()})
        EXPECT_EQ(shown.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32), icon);
}

} // namespace
