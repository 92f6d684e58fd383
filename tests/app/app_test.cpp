// SPDX-License-Identifier: MIT
// The application shell: the order of the start-up steps, the menu's
// commands with their shortcuts and access keys, the keys that press nothing,
// and every way of unloading the window. The end of the program is replaced
// so the test process survives; what it would have ended is recorded instead.
#include "application_setup.h"
#include "main_window.h"
#include "spinner.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <ostream>

#include <memory>
#include <string>
#include <vector>

using nubaro::MainWindow;
using nubaro::UpDownControl;

namespace {

QString u8(const char *text) {
    return QString::fromUtf8(text);
}

class AppTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { nubaro::setUpApplication(); }

    // A window with every hook recording into `log`.
    void SetUp() override {
        window = std::make_unique<MainWindow>();
        window->onBrowse = [this] {
            log.push_back("browse");
            if (!browseResult.isEmpty()) window->setSourceText(browseResult);
            return browseSucceeds;
        };
        window->onConvert = [this] { log.push_back("convert"); };
        window->onSetDialogFlags = [this](int32_t flags) {
            log.push_back("flags " + std::to_string(flags));
        };
        window->onEndProgram = [this] { log.push_back("end"); };
        for (QLineEdit *box : {window->Text3.data(), window->Text4.data(), window->Text5.data()}) {
            const std::string name = box->objectName().toStdString();
            QObject::connect(box, &QObject::destroyed,
                             [this, name] { log.push_back("destroy " + name); });
        }
    }

    void loadShowAndActivate() {
        window->Form_Load();
        log.clear();
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    // The log outlives the window, whose destruction still reports into it.
    std::vector<std::string> log;
    QString browseResult;       // what the Browse hook puts into Text1
    bool browseSucceeds = true; // false: Browse met a failure and reported it
    std::unique_ptr<MainWindow> window;
};

using Log = std::vector<std::string>;

const std::vector<std::string> kUnload = {"destroy Text3", "destroy Text4", "destroy Text5", "end"};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What the File menu's convert-and-exit item does with a source in Text1.
const Log kAn = Log{"convert"} + kUnload;

// ---- Start-up ---------------------------------------------------------------

TEST_F(AppTest, StartUpRunsItsStepsInOrder) {
    // The state seen after each step shows which steps have run.
    struct Seen {
        int step, height;
        bool check1, bmp, jpeg, png;
        int spinners;
        bool extensions;
        int16_t quality;
        size_t logSize;
    };
    std::vector<Seen> seen;
    window->onLoadStep = [&](int step) {
        seen.push_back({step, window->outerHeightTwips(), window->Check1->isEnabled(),
                        window->Frame3->isEnabled(), window->Frame5->isEnabled(),
                        window->Frame6->isEnabled(),
                        int(window->findChildren<UpDownControl *>().size()),
                        !window->settings().extensions[0].empty(), window->settings().jpegQuality,
                        log.size()});
    };
    EXPECT_EQ(window->outerHeightTwips(), 4200); // the layout's own height
    window->Form_Load();

    ASSERT_EQ(seen.size(), 7u);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(seen[i].step, i + 1);
    // 1: the collapsed height before anything else.
    EXPECT_EQ(seen[0].height, 1575);
    EXPECT_TRUE(seen[0].jpeg); // panels still as created
    // 2: BMP panel on (Check1 with it), JPEG and PNG off.
    EXPECT_TRUE(seen[1].check1 && seen[1].bmp);
    EXPECT_FALSE(seen[1].jpeg || seen[1].png);
    EXPECT_EQ(seen[1].spinners, 0);
    // 3: the spinners.
    EXPECT_EQ(seen[2].spinners, 3);
    EXPECT_TRUE(seen[2].check1);
    // 4: Check1 off.
    EXPECT_FALSE(seen[3].check1);
    EXPECT_FALSE(seen[3].extensions);
    // 5: the extension table, 6: the start values.
    EXPECT_TRUE(seen[4].extensions);
    EXPECT_EQ(seen[4].quality, 0);
    EXPECT_EQ(seen[5].quality, 60);
    // 7: the dialog's flags, last.
    EXPECT_EQ(seen[5].logSize, 0u);
    EXPECT_EQ(log, (std::vector<std::string>{"flags 2"}));
    EXPECT_EQ(window->outerHeightTwips(), 1575);
    EXPECT_EQ(window->settings().detailsShown, 0);
}

// ---- Unloading --------------------------------------------------------------

TEST_F(AppTest, EnUnloads) {
    loadShowAndActivate();
    window->En->trigger();
    EXPECT_EQ(log, kUnload);
    EXPECT_TRUE(window->Text3.isNull() && window->Text4.isNull() && window->Text5.isNull());
    EXPECT_FALSE(window->isVisible());
}

TEST_F(AppTest, CloseRequestUnloadsAndIsNeverRefused) {
    loadShowAndActivate();
    EXPECT_TRUE(window->close());
    EXPECT_EQ(log, kUnload);
    EXPECT_FALSE(window->isVisible());
    // A second request finds the window already unloaded.
    window->close();
    EXPECT_EQ(log, kUnload);
}

struct AnCase {
    const char *name;
    const char *text1;      // Text1 before An
    const char *browseSets; // what Browse puts into Text1 ("" leaves it empty)
    std::vector<std::string> expected;
    bool browseSucceeds = true;
};

void PrintTo(const AnCase &c, std::ostream *os) {
    *os << c.name;
}

class AnClick : public AppTest, public ::testing::WithParamInterface<AnCase> {};

TEST_P(AnClick, ConvertsThenUnloads) {
    const AnCase &c = GetParam();
    loadShowAndActivate();
    window->setSourceText(u8(c.text1));
    browseResult = u8(c.browseSets);
    browseSucceeds = c.browseSucceeds;
    window->An->trigger();
    EXPECT_EQ(log, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, AnClick,
    ::testing::Values(AnCase{"PathAlreadyThere", "/pictures/a.png", "", kAn},
                      AnCase{"EmptyBrowsesFirst", "", "/pictures/b.jpg",
                             Log{"browse", "convert"} + kUnload},
                      // Browse cancelled: Convert still runs (and does nothing), then the end.
                      AnCase{"BrowseCancelled", "", "", Log{"browse", "convert"} + kUnload},
                      // Browse failed and said so: the window stays.
                      AnCase{"BrowseFailed", "", "", Log{"browse"}, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(AppTest, OpenRunsBrowseOnly) {
    loadShowAndActivate();
    window->Open->trigger();
    QTest::mouseClick(window->Command1, Qt::LeftButton);
    QTest::mouseClick(window->Command3, Qt::LeftButton);
    EXPECT_EQ(log, (std::vector<std::string>{"browse", "browse", "convert"}));
    EXPECT_TRUE(window->isVisible());
}

// ---- Keys -------------------------------------------------------------------

struct KeyCase {
    const char *name;
    const char *focus; // control holding the focus
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::vector<std::string> expected;
};

void PrintTo(const KeyCase &c, std::ostream *os) {
    *os << c.name;
}

class Keys : public AppTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(Keys, ReachTheirCommandWhereverTheFocusIs) {
    const KeyCase &c = GetParam();
    loadShowAndActivate();
    window->setSourceText(u8("/pictures/a.bmp"));
    // The unload destroys Text3, so the focus may go away under the key.
    QPointer<QWidget> focus = qobject_cast<QWidget *>(window->control(c.focus));
    ASSERT_FALSE(focus.isNull());
    focus->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), focus);
    QTest::keyPress(focus, c.key, c.modifiers);
    if (focus) QTest::keyRelease(focus, c.key, c.modifiers);
    // An access key clicks its button a moment later; let that moment pass.
    QTest::qWait(300);
    EXPECT_EQ(log, c.expected);
    if (auto *box = qobject_cast<QLineEdit *>(focus.data())) {
        EXPECT_FALSE(box->hasSelectedText()); // Ctrl+A went to the menu, not select-all
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shortcuts, Keys,
    ::testing::Values(
        KeyCase{"CtrlOInText1", "Text1", Qt::Key_O, Qt::ControlModifier, {"browse"}},
        KeyCase{"CtrlOInText3", "Text3", Qt::Key_O, Qt::ControlModifier, {"browse"}},
        KeyCase{"CtrlOOnOption", "Option(0)", Qt::Key_O, Qt::ControlModifier, {"browse"}},
        KeyCase{"CtrlAInText1", "Text1", Qt::Key_A, Qt::ControlModifier, kAn},
        KeyCase{"CtrlAInText3", "Text3", Qt::Key_A, Qt::ControlModifier, kAn},
        KeyCase{"CtrlAOnCommand4", "Command4", Qt::Key_A, Qt::ControlModifier, kAn},
        KeyCase{"AltCInText1", "Text1", Qt::Key_C, Qt::AltModifier, {"convert"}},
        KeyCase{"AltCOnCommand1", "Command1", Qt::Key_C, Qt::AltModifier, {"convert"}},
        // No button is the window's default: Enter elsewhere and Esc press
        // none. Enter presses the button that has the focus, as Space does.
        KeyCase{"EnterInText1", "Text1", Qt::Key_Return, Qt::NoModifier, {}},
        KeyCase{"EnterOnOption", "Option(0)", Qt::Key_Return, Qt::NoModifier, {}},
        KeyCase{"EnterOnCommand3", "Command3", Qt::Key_Return, Qt::NoModifier, {"convert"}},
        KeyCase{"KeypadEnterOnCommand1", "Command1", Qt::Key_Enter, Qt::KeypadModifier, {"browse"}},
        KeyCase{"CtrlEnterOnCommand3", "Command3", Qt::Key_Return, Qt::ControlModifier, {}},
        KeyCase{"EscInText1", "Text1", Qt::Key_Escape, Qt::NoModifier, {}},
        KeyCase{"EscOnCommand3", "Command3", Qt::Key_Escape, Qt::NoModifier, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(AppTest, AltSPressesTheDetailsButton) {
    loadShowAndActivate();
    window->Text1->setFocus();
    // An access key presses its button as a click would, shown pressed for a
    // moment first.
    QTest::keyClick(window->Text1, Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->outerHeightTwips() == 4200; }));
    EXPECT_EQ(window->settings().detailsShown, -1);
    QTest::keyClick(window->Text1, Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->outerHeightTwips() == 1575; }));
    EXPECT_EQ(window->Command4->text(), u8("詳細表示(&S)"));
    EXPECT_TRUE(log.empty());
}

TEST_F(AppTest, Command1HasNoAccessKey) {
    loadShowAndActivate();
    // "参照" has no "&": no Alt key reaches Browse.
    EXPECT_FALSE(window->Command1->text().contains(QLatin1Char('&')));
    EXPECT_TRUE(window->Command1->shortcut().isEmpty());
}

// The File pull-down, opened with Alt+F, chooses its items by their letters.
struct MenuCase {
    const char *name;
    Qt::Key letter;
    std::vector<std::string> expected;
};

void PrintTo(const MenuCase &c, std::ostream *os) {
    *os << c.name;
}

class MenuKeys : public AppTest, public ::testing::WithParamInterface<MenuCase> {};

TEST_P(MenuKeys, AltFThenTheItemsLetter) {
    const MenuCase &c = GetParam();
    loadShowAndActivate();
    window->setSourceText(u8("/pictures/a.bmp"));
    window->Text1->setFocus();
    QTest::keyClick(window->Text1, Qt::Key_F, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }));
    EXPECT_EQ(QApplication::activePopupWidget(), window->File);
    QTest::keyClick(window->File, c.letter);
    EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }));
    QApplication::processEvents();
    EXPECT_EQ(log, c.expected);
}

INSTANTIATE_TEST_SUITE_P(File, MenuKeys,
                         ::testing::Values(MenuCase{"Open", Qt::Key_O, {"browse"}},
                                           MenuCase{"En", Qt::Key_E, kUnload},
                                           MenuCase{"An", Qt::Key_A, kAn}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Icon -------------------------------------------------------------------

TEST_F(AppTest, IconIs32By32With256Colours) {
    const QImage icon = nubaro::iconImage();
    EXPECT_EQ(icon.size(), QSize(32, 32));
    EXPECT_EQ(icon.format(), QImage::Format_Indexed8);
    EXPECT_LE(icon.colorCount(), 256);
    EXPECT_GT(icon.colorCount(), 4); // a picture, not a blank
    // The program's icon and the window's are that image.
    EXPECT_EQ(
        QApplication::windowIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32),
        icon.convertToFormat(QImage::Format_ARGB32));
    EXPECT_EQ(window->windowIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32),
              icon.convertToFormat(QImage::Format_ARGB32));
}

} // namespace
