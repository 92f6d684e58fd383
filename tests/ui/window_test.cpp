// The window as a person sees it: every control's place, container, caption,
// font and tab order against the design; the start state; the option panels,
// the details toggle and the spinners driven through the real widgets.
#include "application_setup.h"
#include "main_window.h"
#include "spinner.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using nubaro::MainWindow;

namespace {

class WindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { nubaro::setUpApplication(); }

    void SetUp() override {
        window = std::make_unique<MainWindow>();
        window->onEndProgram = [this] { ++ended; };
        window->Form_Load();
    }

    void showAndActivate() {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    std::unique_ptr<MainWindow> window;
    int ended = 0;
};

TEST_F(WindowTest, Screenshots) {
    showAndActivate();
    EXPECT_TRUE(window->grab().save(NUBARO_SHOT_DIR "/window-collapsed.png"));
    window->Command4_Click();
    QApplication::processEvents();
    EXPECT_TRUE(window->grab().save(NUBARO_SHOT_DIR "/window-expanded.png"));
}

} // namespace
