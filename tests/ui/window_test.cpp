// SPDX-License-Identifier: MIT
// The window as a person sees it: every caption fits its control, no control
// overlaps another or leaves its frame, both heights show the right area;
// fonts, tab order, the start state, the option panels, the details toggle,
// the spinners and the picture box driven through the real widgets; the
// application shell's start-up steps, unloading and icon. The run leaves
// window-collapsed.png and window-expanded.png in the build folder.
#include "application_setup.h"
#include "corpus.h"
#include "main_window.h"
#include "spinner.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

using nubaro::MainWindow;
using nubaro::UpDownControl;

namespace {

QWidget *widget(const MainWindow &w, const std::string &name) {
    return qobject_cast<QWidget *>(w.control(name));
}

class WindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { nubaro::setUpApplication(); }

    void SetUp() override {
        window = std::make_unique<MainWindow>();
        window->onEndProgram = [] {};
        window->Form_Load();
    }

    void showAndActivate() {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    // AppTest's record; declared first, it outlives the window, whose
    // destruction still reports into it.
    std::vector<std::string> log;
    std::unique_ptr<MainWindow> window;
};

// ---- The application shell ----------------------------------------------------

// The start-up hooks and the number boxes' destruction recorded in the log;
// the end of the program is recorded instead of ending the test process, and
// Form_Load is left to the test. (What the buttons, keys and menu items run is
// traced in tests/convert/test_wiring_window.cpp.)
class AppTest : public WindowTest {
  protected:
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
    // The window it leaves (the focus on Text1 is checked with the tab order,
    // the boxes' numbers with the spinners and the check boxes' marks with the
    // commands' wiring): the details button's caption, and Picture1 the plain
    // window-background colour, a backing image of its size.
    EXPECT_EQ(window->Command4->text(), "詳細表示(&S)");
    const QImage &image = window->Picture1->image();
    ASSERT_EQ(image.size(), window->Picture1->size());
    QImage blank(image.size(), QImage::Format_RGB32);
    blank.fill(window->palette().color(QPalette::Base));
    EXPECT_EQ(image, blank);
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

// ---- Layout -----------------------------------------------------------------

QRect groupBoxPart(const QGroupBox *frame, QStyle::SubControl part) {
    QStyleOptionGroupBox option;
    option.initFrom(frame);
    option.text = frame->title();
    return frame->style()->subControlRect(QStyle::CC_GroupBox, &option, part, frame);
}

// The part of a control that shows: an option button or check box is its
// mark and caption (their rows may reach under a neighbour), a label its
// text, anything else the whole control.
QRect drawnRect(const QWidget *w) {
    const QFontMetrics metrics(w->font());
    QRect r = w->geometry();
    if (auto *label = qobject_cast<const QLabel *>(w))
        r.setWidth(metrics.horizontalAdvance(label->text()));
    else if (auto *button = qobject_cast<const QAbstractButton *>(w);
             button && !qobject_cast<const QPushButton *>(w)) {
        const bool radio = qobject_cast<const QRadioButton *>(w);
        const QStyle *s = w->style();
        r.setWidth(
            s->pixelMetric(radio ? QStyle::PM_ExclusiveIndicatorWidth : QStyle::PM_IndicatorWidth,
                           nullptr, w) +
            s->pixelMetric(radio ? QStyle::PM_RadioButtonLabelSpacing
                                 : QStyle::PM_CheckBoxLabelSpacing,
                           nullptr, w) +
            metrics.horizontalAdvance(button->text().remove('&')));
    }
    return r;
}

// Checks every control's caption, font and place in its container; `client`
// is the height of the area the window shows.
void checkLayout(const MainWindow &window, int client) {
    QWidget *central = window.centralWidget();
    const QList<QWidget *> parents = central->findChildren<QWidget *>() << central;
    for (QWidget *parent : parents) {
        const auto *frame = qobject_cast<const QGroupBox *>(parent);
        if (!frame && parent != central) continue;
        // Inside a frame: clear of its border and caption.
        const QRect room =
            frame ? groupBoxPart(frame, QStyle::SC_GroupBoxFrame).adjusted(2, 2, -2, -2)
                  : QRect(0, 0, central->width(), client);
        const QRect caption = frame ? groupBoxPart(frame, QStyle::SC_GroupBoxLabel) : QRect();
        if (frame) {
            EXPECT_LE(caption.right(), room.right()) << frame->objectName().toStdString();
            EXPECT_EQ(groupBoxPart(frame, QStyle::SC_GroupBoxFrame).top(), caption.center().y())
                << "the border runs through the middle of the caption";
        }
        const QList<QWidget *> children =
            parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        for (QWidget *w : children) {
            const std::string name = w->objectName().toStdString();
            if (w->geometry().top() >= client) continue; // below the area shown
            SCOPED_TRACE(name);
            const QRect drawn = drawnRect(w);
            EXPECT_TRUE(room.contains(w->geometry()) && !w->geometry().intersects(caption));
            EXPECT_TRUE(w->geometry().contains(drawn)) << "the caption does not fit";
            EXPECT_GE(w->height(), QFontInfo(w->font()).pixelSize());
            if (auto *b = qobject_cast<QPushButton *>(w)) {
                QStyleOptionButton option;
                option.initFrom(b);
                EXPECT_LE(
                    QFontMetrics(w->font()).horizontalAdvance(b->text().remove('&')),
                    w->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b).width())
                    << "the caption does not fit";
            }
            for (QWidget *other : children) {
                if (other != w && other->geometry().top() < client) {
                    EXPECT_FALSE(drawn.intersects(drawnRect(other)))
                        << "overlaps " << other->objectName().toStdString();
                }
            }
            // Every character has a glyph in the font the control draws with.
            const QString text = w->property("text").toString() + w->property("title").toString();
            for (QChar c : text)
                EXPECT_TRUE(QFontMetrics(w->font()).inFont(c))
                    << "no glyph for " << int(c.unicode());
            if (qobject_cast<UpDownControl *>(w)) continue;
            EXPECT_EQ(QFontInfo(w->font()).family(), "IPAPGothic");
            const bool small = name == "Check3" || name == "Check4";
            EXPECT_EQ(w->font().family(),
                      small ? QString("ＭＳ Ｐゴシック") : QApplication::font().family());
            EXPECT_EQ(QFontInfo(w->font()).pixelSize(), small ? 11 : 12);
        }
    }
}

// Collapsed, the top area shows whole and nothing of the options; expanded,
// all of them with room to spare.
TEST_F(WindowTest, LayoutCollapsedAndExpanded) {
    showAndActivate();
    const int menuBar = window->menuBar()->height();
    EXPECT_EQ(window->height() - menuBar, 61);
    EXPECT_GT(window->Frame2->y(), 61);
    checkLayout(*window, 61);
    EXPECT_TRUE(window->grab().save(NUBARO_SHOT_DIR "/window-collapsed.png"));
    window->Command4_Click();
    QApplication::processEvents();
    EXPECT_TRUE(window->grab().save(NUBARO_SHOT_DIR "/window-expanded.png"));
    EXPECT_EQ(window->height() - menuBar, 236);
    EXPECT_LT(window->Frame2->geometry().bottom(), 236 - 2);
    checkLayout(*window, 236);
    // Neither resizable nor maximisable.
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
}

// The title is checked on the real window (tests/app).
TEST_F(WindowTest, Menu) {
    const QList<QAction *> bar = window->menuBar()->actions();
    ASSERT_EQ(bar.size(), 1);
    EXPECT_EQ(bar[0]->text(), "ファイル(&F)");
    QStringList items;
    for (QAction *item : window->File->actions())
        items << item->text() + " " + item->shortcut().toString();
    EXPECT_EQ(items,
              (QStringList{"対象ファイル名(&O) Ctrl+O", "終了(&E) ", "変換して終了(&A) Ctrl+A"}));
}

// ---- Tab order --------------------------------------------------------------

// A group of option buttons is one stop, at its chosen button; disabled
// controls are passed over, and so, while the window is collapsed, are the
// controls below the client area, which stay enabled. Each case: expanded or
// not, every control enabled with Option(2) and Option1(1) chosen or not, the
// control the keys start from, the key and the controls visited.
const std::tuple<const char *, bool, bool, const char *, Qt::Key, const char *> kTabs[] = {
    {"CollapsedSkipsTheOptionsArea", false, false, "Command1", Qt::Key_Tab,
     "Option(0) Command3 Command4 Picture1 Text1"},
    {"CollapsedBackwards", false, false, "Text1", Qt::Key_Backtab,
     "Picture1 Command4 Command3 Option(0) Command1 Text1"},
    // Command3 comes before Command4, which stands to its left.
    {"ExpandedStartState", true, false, "Command1", Qt::Key_Tab,
     "Option(0) Command3 Command4 Text3 Option1(0) Picture1"},
    {"ExpandedEveryGroupAtItsChosenButton", true, true, "Text1", Qt::Key_Tab,
     "Command1 Option(2) Command3 Command4 Text3 Check1 Option1(1) Text4 Check3 Text5 "
     "Check4 Picture1 Text1"},
    {"ExpandedBackwardsThroughAGroup", true, true, "Text4", Qt::Key_Backtab,
     "Option1(1) Check1 Text3 Command4"}};

TEST_F(WindowTest, TabOrderVisitsTheReachableControlsInTheFormsOrder) {
    for (const auto &[name, expanded, everyPanelUsable, from, key, visits] : kTabs) {
        SCOPED_TRACE(name);
        SetUp();
        if (everyPanelUsable) {
            for (QWidget *w : window->findChildren<QWidget *>())
                w->setEnabled(true);
            window->Option[2]->setChecked(true);
            window->Option1[1]->setChecked(true);
        }
        if (expanded) window->Command4_Click();
        showAndActivate();
        EXPECT_EQ(QApplication::focusWidget(), window->Text1);
        widget(*window, from)->setFocus();
        const QStringList expected = QString(visits).split(' ');
        QStringList visited;
        while (visited.size() < expected.size()) {
            QTest::keyClick(QApplication::focusWidget(), key);
            visited << QApplication::focusWidget()->objectName();
        }
        EXPECT_EQ(visited, expected);
    }
}

// Collapsing with the focus in the options area (Alt+S leaves it there)
// takes it to the details button: typing then changes no hidden setting. The
// button's caption names what it does next.
TEST_F(WindowTest, CollapsingTakesTheFocusOutOfTheOptionsArea) {
    window->Command4_Click();
    EXPECT_EQ(window->Command4->text(), "詳細隠す(&S)");
    showAndActivate();
    window->Text3->setFocus();
    QTest::keyClick(window->Text3, Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->outerHeightTwips() == 1575; }));
    EXPECT_EQ(window->Command4->text(), "詳細表示(&S)");
    EXPECT_EQ(QApplication::focusWidget(), window->Command4);
    QTest::keyClicks(QApplication::focusWidget(), "7");
    EXPECT_EQ(window->settings().grayLevel, 0);
}

// ---- Panels ------------------------------------------------------------------

// Each format's panel, in the order its procedure enables the controls.
const std::vector<std::string> kPanels[] = {
    {"Frame1", "Frame3", "Option1(0)", "Option1(1)", "Option1(2)", "Check1", "Label3", "Text3"},
    {"Frame5", "Label5", "Text4", "Check3"},
    {"Frame6", "Label6", "Text5", "Check4"}};

// Only the chosen format's panel is usable, each of its controls disabled
// by itself too (not only through its frame); Check1 comes back with BMP,
// whatever the bit depth, until the next bit-depth choice.
TEST_F(WindowTest, FormatChoiceEnablesItsPanelOnly) {
    for (int format : {2, 1, 0, 2, 0}) {
        QTest::mouseClick(window->Option[format], Qt::LeftButton);
        for (int panel = 0; panel < 3; ++panel)
            for (const std::string &name : kPanels[panel]) {
                EXPECT_EQ(widget(*window, name)->isEnabled(), panel == format) << name;
                EXPECT_EQ(widget(*window, name)->testAttribute(Qt::WA_ForceDisabled),
                          panel != format)
                    << name;
            }
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(window->Option[i]->isChecked(), i == format);
    }
    EXPECT_TRUE(window->Option1[0]->isChecked()) << "the bit depth is not touched";
    // Check1 only with 8 bits (the commands' wiring ticks it there); its mark
    // stays while it is disabled, and a grayed mark reads 2.
    window->Command4_Click();
    QTest::mouseClick(window->Option1[2], Qt::LeftButton);
    QTest::mouseClick(window->Check1, Qt::LeftButton);
    for (int depth : {0, 1}) {
        QTest::mouseClick(window->Option1[depth], Qt::LeftButton);
        EXPECT_FALSE(window->Check1->isEnabled()) << depth;
        EXPECT_EQ(window->check1Value(), 1);
    }
    window->Check1->setCheckState(Qt::PartiallyChecked); // nothing in the window does this
    EXPECT_EQ(window->check1Value(), 2);
}

// ---- Spinners and boxes -----------------------------------------------------

// Each spinner's box, the format whose panel holds it, its upper bound, its
// start value and the field it writes.
const std::tuple<const char *, int, int, int, int16_t ConversionSettings::*> kSpinners[] = {
    {"Text3", 0, 255, 0, &ConversionSettings::grayLevel},
    {"Text4", 1, 100, 60, &ConversionSettings::jpegQuality},
    {"Text5", 2, 9, 5, &ConversionSettings::pngLevel}};

TEST_F(WindowTest, SpinnerStepsByOneWithinItsBoundsOnlyWhileItsPanelIsUsable) {
    for (const auto &[name, format, upper, start, setting] : kSpinners) {
        SCOPED_TRACE(name);
        SetUp();
        auto *box = qobject_cast<QLineEdit *>(widget(*window, name));
        const auto field = [&, setting = setting] { return window->settings().*setting; };
        UpDownControl *spinner = nullptr;
        for (auto *s : box->parentWidget()->findChildren<UpDownControl *>())
            if (s->buddy() == box) spinner = s;
        ASSERT_NE(spinner, nullptr);
        const QPoint up(spinner->width() / 2, spinner->height() / 4),
            down(up.x(), spinner->height() * 3 / 4);
        const auto click = [&](QPoint arrow) {
            QTest::mouseClick(spinner, Qt::LeftButton, Qt::NoModifier, arrow);
        };
        window->Command4_Click();
        window->Option_Click((format + 1) % 3);
        click(up); // disabled with its panel
        EXPECT_EQ(field(), start);

        window->Option_Click(format);
        showAndActivate();
        box->setFocus();
        click(up);
        EXPECT_EQ(box->text(), QString::number(start + 1));
        EXPECT_EQ(field(), start + 1);
        // The step starts from the typed number, and stops at the bound.
        box->selectAll();
        QTest::keyClicks(box, QString::number(upper));
        click(up);
        EXPECT_EQ(box->text(), QString::number(upper));
        click(down);
        EXPECT_EQ(field(), upper - 1);
        // A held arrow repeats until released.
        QTest::mousePress(spinner, Qt::LeftButton, Qt::NoModifier, down);
        EXPECT_TRUE(QTest::qWaitFor([&, upper = upper] { return field() <= upper - 4; }, 10000));
        QTest::mouseRelease(spinner, Qt::LeftButton, Qt::NoModifier, down);
        const int released = field();
        QTest::qWait(600);
        EXPECT_EQ(field(), released);
    }
}

// ---- Drops -------------------------------------------------------------------

// A drop is taken when it is one local file, there, with an image extension
// in any case; what the window does with it, and with two files, is traced
// with the commands.
TEST(DroppedSourcePath, OneLocalImageFileOnly) {
    testing_support::TempDir dir;
    for (const char *name : {"写真 1.PNG", "a.bmp", "notes.txt", "png"})
        std::ofstream(dir / name) << "x";
    std::filesystem::create_directory(dir / "pictures.png");
    const auto local = [&](const char *name) {
        return QUrl::fromLocalFile(QString::fromStdString((dir / name).string()));
    };
    const std::pair<QList<QUrl>, const char *> kDrops[] = {
        {{local("写真 1.PNG")}, "写真 1.PNG"},
        {{QUrl("https://example.org/a.png")}, ""},
        {{local("pictures.png")}, ""},
        {{local("notes.txt")}, ""},
        {{local("gone.jpg")}, ""},
        {{local("png")}, ""},
        {{}, ""}, // the path as text only
    };
    for (const auto &[urls, taken] : kDrops) {
        QMimeData data;
        data.setUrls(urls);
        data.setText(QString::fromStdString((dir / "a.bmp").string()));
        EXPECT_EQ(MainWindow::droppedSourcePath(&data).toStdString(),
                  *taken ? (dir / taken).string() : "")
            << (urls.isEmpty() ? "" : urls[0].toString().toStdString());
    }
}

// ---- Picture box ------------------------------------------------------------

TEST_F(WindowTest, PictureSurvivesRepaintsAndShowsAFocusFrame) {
    showAndActivate();
    QImage &image = window->Picture1->image();
    image.fill(Qt::white);
    for (int y = 5; y < 20; ++y)
        for (int x = 3; x < 30; ++x)
            image.setPixel(x, y, qRgb(200, 30, 40));
    const QImage drawn = image;
    window->Picture1->refresh();
    const auto shown = [&] {
        return window->Picture1->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    EXPECT_EQ(shown(), drawn);
    window->Picture1->setFocus(Qt::TabFocusReason);
    EXPECT_NE(shown(), drawn);
    EXPECT_EQ(window->Picture1->image(), drawn) << "the frame went into the picture";
    window->Text1->setFocus(Qt::TabFocusReason);
    // Covered and uncovered: hidden, shown and repainted from scratch.
    window->hide();
    window->show();
    window->repaint();
    EXPECT_EQ(shown(), drawn);
}

} // namespace
