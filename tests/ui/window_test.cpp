// SPDX-License-Identifier: MIT
// The window as a person sees it: every control's place, container, caption,
// font and tab order against the form; the start state; the option panels,
// the details toggle, the spinners and the picture box driven through the
// real widgets. The run leaves window-collapsed.png and window-expanded.png in
// the build folder.
#include "application_setup.h"
#include "main_window.h"
#include "spinner.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <gtest/gtest.h>

#include <ostream>

#include <map>
#include <memory>
#include <string>
#include <vector>

using nubaro::MainWindow;
using nubaro::UpDownControl;

namespace {

QWidget *widget(const MainWindow &w, const char *name) {
    return qobject_cast<QWidget *>(w.control(name));
}

QString u8(const char *text) {
    return QString::fromUtf8(text);
}

// The enabled state a control was given itself, whatever its frame's state.
bool ownEnabled(const QWidget *w) {
    return !w->testAttribute(Qt::WA_ForceDisabled);
}

UpDownControl *spinnerOf(const QLineEdit *box) {
    for (auto *spinner : box->parentWidget()->findChildren<UpDownControl *>())
        if (spinner->buddy() == box) return spinner;
    return nullptr;
}

void clickArrow(UpDownControl *spinner, bool up) {
    const QPoint at(spinner->width() / 2, up ? spinner->height() / 4 : spinner->height() * 3 / 4);
    QTest::mouseClick(spinner, Qt::LeftButton, Qt::NoModifier, at);
}

// Replaces a box's text the way typing does: select all, then type.
void typeInto(QLineEdit *box, const char *text) {
    box->setFocus();
    box->selectAll();
    if (*text == '\0')
        QTest::keyClick(box, Qt::Key_Delete);
    else
        QTest::keyClicks(box, QString::fromLatin1(text));
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
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    std::unique_ptr<MainWindow> window;
};

// ---- Layout -----------------------------------------------------------------

struct FormPlace {
    const char *name;
    const char *kind; // Qt class standing for the form's kind of control
    const char *container;
    const char *caption;     // caption or initial text
    int x, y, width, height; // pixels: the form's twips divided by 15
    bool autoSize;
};

// The form's controls, converted by hand to pixels at 96 dots per inch.
const FormPlace kForm[] = {
    {"Label1", "QLabel", "MainWindow", "対象ファイルパス", 8, 3, 88, 12, false},
    {"Text1", "QLineEdit", "MainWindow", "", 112, 0, 313, 18, false},
    {"Command1", "QPushButton", "MainWindow", "参照", 440, 0, 73, 17, false},
    {"Label2", "QLabel", "MainWindow", "サンプル", 8, 34, 45, 12, false},
    {"Picture1", "nubaro::PictureBox", "MainWindow", nullptr, 56, 24, 33, 33, false},
    {"Frame4", "QGroupBox", "MainWindow", "保存種類", 112, 24, 241, 33, false},
    {"Option(0)", "QRadioButton", "Frame4", "BMP形式", 8, 16, 81, 12, false},
    {"Option(1)", "QRadioButton", "Frame4", "JPEG形式", 80, 16, 81, 12, false},
    {"Option(2)", "QRadioButton", "Frame4", "PING形式", 160, 16, 73, 12, false},
    {"Command4", "QPushButton", "MainWindow", "詳細表示(&S)", 360, 32, 73, 25, false},
    {"Command3", "QPushButton", "MainWindow", "変換(&C)", 440, 32, 73, 25, false},
    {"Frame2", "QGroupBox", "MainWindow", "保存オプション", 8, 64, 513, 169, false},
    {"Frame3", "QGroupBox", "Frame2", "BMP保存詳細", 8, 16, 161, 145, false},
    {"Frame1", "QGroupBox", "Frame3", "ビットレート", 8, 16, 145, 73, false},
    {"Option1(0)", "QRadioButton", "Frame1", "24ビット", 8, 16, 81, 12, false},
    {"Option1(1)", "QRadioButton", "Frame1", "16ビット", 8, 32, 81, 12, false},
    {"Option1(2)", "QRadioButton", "Frame1", "8ビット", 8, 48, 57, 12, false},
    {"Check1", "QCheckBox", "Frame1", "RLE化", 80, 48, 57, 12, false},
    {"Label3", "QLabel", "Frame3", "グレースケール", 40, 96, 79, 12, true},
    {"Text3", "QLineEdit", "Frame3", "0", 32, 112, 97, 18, false},
    {"Frame5", "QGroupBox", "Frame2", "JPEG保存詳細", 176, 16, 145, 89, false},
    {"Label5", "QLabel", "Frame5", "圧縮率1(高)～100(低)", 16, 16, 112, 12, true},
    {"Text4", "QLineEdit", "Frame5", "60", 32, 32, 81, 18, false},
    {"Check3", "QCheckBox", "Frame5", "プログレッシブJPEG", 16, 56, 113, 25, false},
    {"Frame6", "QGroupBox", "Frame2", "PING保存詳細", 328, 16, 169, 89, false},
    {"Label6", "QLabel", "Frame6", "圧縮率0(低)～9(高)", 32, 16, 100, 12, true},
    {"Text5", "QLineEdit", "Frame6", "5", 48, 32, 65, 18, false},
    {"Check4", "QCheckBox", "Frame6", "インターレースPNG", 24, 56, 113, 25, false},
};

QString captionOf(const QWidget *w) {
    if (auto *label = qobject_cast<const QLabel *>(w)) return label->text();
    if (auto *box = qobject_cast<const QLineEdit *>(w)) return box->text();
    if (auto *button = qobject_cast<const QAbstractButton *>(w)) return button->text();
    if (auto *frame = qobject_cast<const QGroupBox *>(w)) return frame->title();
    return {};
}

void PrintTo(const FormPlace &d, std::ostream *os) {
    *os << d.name;
}

class ControlLayout : public ::testing::TestWithParam<FormPlace> {
  protected:
    static void SetUpTestSuite() {
        nubaro::setUpApplication();
        created = new MainWindow; // as created, before start-up attaches the spinners
    }
    static void TearDownTestSuite() {
        delete created;
        created = nullptr;
    }
    static MainWindow *created;
};
MainWindow *ControlLayout::created = nullptr;

TEST_P(ControlLayout, PlaceContainerCaptionAndFontAsOnTheForm) {
    const FormPlace &d = GetParam();
    QWidget *w = widget(*created, d.name);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->inherits(d.kind)) << w->metaObject()->className();

    const QWidget *container = w->parentWidget();
    const QString containerName =
        container == created->centralWidget() ? u8("MainWindow") : container->objectName();
    EXPECT_EQ(containerName, u8(d.container));

    if (d.autoSize) {
        // Sized to the caption at the actual font, from the form's corner.
        EXPECT_EQ(w->pos(), QPoint(d.x, d.y));
        EXPECT_EQ(w->size(), w->sizeHint());
        EXPECT_EQ(w->height(), w->fontMetrics().height());
        EXPECT_GE(w->width(), w->fontMetrics().horizontalAdvance(captionOf(w)));
    } else {
        EXPECT_EQ(w->geometry(), QRect(d.x, d.y, d.width, d.height));
    }

    if (d.caption) {
        EXPECT_EQ(captionOf(w), u8(d.caption));
        // Every character has a glyph in the font the control draws with.
        const QFontMetrics metrics(w->font());
        const QString shown = captionOf(w).remove(QLatin1Char('&'));
        for (QChar c : shown)
            EXPECT_TRUE(metrics.inFont(c)) << "no glyph for U+" << std::hex << int(c.unicode());
    }

    const std::string name = d.name;
    const QFontInfo actual(w->font());
    EXPECT_EQ(actual.family(), u8("IPAPGothic"));
    if (name == "Check3" || name == "Check4") {
        EXPECT_EQ(w->font().family(), u8("ＭＳ Ｐゴシック"));
        EXPECT_DOUBLE_EQ(w->font().pointSizeF(), 8.25);
        EXPECT_EQ(w->font().weight(), QFont::Normal);
        EXPECT_FALSE(w->font().italic() || w->font().underline() || w->font().strikeOut());
        EXPECT_EQ(actual.pixelSize(), 11);
    } else {
        EXPECT_DOUBLE_EQ(w->font().pointSizeF(), 9.0);
        EXPECT_EQ(actual.pixelSize(), 12);
    }

    if (auto *label = qobject_cast<QLabel *>(w)) {
        EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    }
    if (auto *box = qobject_cast<QLineEdit *>(w)) {
        EXPECT_EQ(box->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    }
    // The box or button of a check box or option button fits its row.
    if (qobject_cast<QRadioButton *>(w)) {
        EXPECT_LE(w->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight, nullptr, w),
                  w->height());
    }
    if (qobject_cast<QCheckBox *>(w)) {
        EXPECT_LE(w->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, w), w->height());
    }
    if (auto *button = qobject_cast<QPushButton *>(w)) {
        EXPECT_FALSE(button->isDefault() || button->autoDefault());
    }
    EXPECT_TRUE(w->toolTip().isEmpty());
    EXPECT_TRUE(w->isVisibleTo(created));
    // Only Check1 starts disabled.
    EXPECT_EQ(w->isEnabled(), name != "Check1");
}

INSTANTIATE_TEST_SUITE_P(Form, ControlLayout, ::testing::ValuesIn(kForm), [](const auto &info) {
    std::string n = info.param.name;
    for (char &c : n)
        if (c == '(' || c == ')') c = '_';
    return n;
});

TEST_F(WindowTest, WindowPropertiesAndMenu) {
    EXPECT_EQ(window->windowTitle(), u8("ヌバロファイル変換"));
    EXPECT_EQ(window->width(), 529);
    EXPECT_EQ(window->centralWidget()->width(), 529);
    // Neither resizable nor maximisable.
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(QFontInfo(QApplication::font()).family(), u8("IPAPGothic"));

    const QList<QAction *> bar = window->menuBar()->actions();
    ASSERT_EQ(bar.size(), 1);
    EXPECT_EQ(bar[0]->text(), u8("ファイル(&F)"));
    const QList<QAction *> items = window->File->actions();
    ASSERT_EQ(items.size(), 3); // no separators
    const char *captions[] = {"対象ファイル名(&O)", "終了(&E)", "変換して終了(&A)"};
    const char *shortcuts[] = {"Ctrl+O", "", "Ctrl+A"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(items[i]->text(), u8(captions[i]));
        EXPECT_EQ(items[i]->shortcut().toString(), u8(shortcuts[i]));
        EXPECT_TRUE(items[i]->isEnabled() && items[i]->isVisible() && !items[i]->isCheckable());
    }
}

TEST_F(WindowTest, FocusChainIsTheFormsTabOrder) {
    // Labels and frames hold tab positions but never take the focus.
    std::vector<std::string> chain;
    QWidget *w = window->Text1;
    do {
        if (w->focusPolicy() & Qt::TabFocus) chain.push_back(w->objectName().toStdString());
        w = w->nextInFocusChain();
    } while (w != window->Text1);
    EXPECT_EQ(chain, (std::vector<std::string>{"Text1", "Command1", "Option(0)", "Option(1)",
                                               "Option(2)", "Command3", "Command4", "Text3",
                                               "Check1", "Option1(2)", "Option1(1)", "Option1(0)",
                                               "Text4", "Check3", "Text5", "Check4", "Picture1"}));
    for (QLabel *label : window->findChildren<QLabel *>())
        EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
    for (QGroupBox *frame : window->findChildren<QGroupBox *>())
        EXPECT_EQ(frame->focusPolicy(), Qt::NoFocus);
}

std::vector<std::string> tabWalk(int presses, Qt::Key key = Qt::Key_Tab) {
    std::vector<std::string> visited;
    for (int i = 0; i < presses; ++i) {
        QTest::keyClick(QApplication::focusWidget(), key);
        visited.push_back(QApplication::focusWidget()->objectName().toStdString());
    }
    return visited;
}

struct TabCase {
    const char *name;
    bool expanded;
    bool everyPanelUsable; // every control enabled, Option(2) and Option1(1) chosen
    const char *from;
    Qt::Key key;
    std::vector<std::string> visited;
};

class TabOrder : public WindowTest, public ::testing::WithParamInterface<TabCase> {};

// A group of option buttons is one stop, at its chosen button; disabled
// controls are passed over, and so, while the window is collapsed, are the
// controls below the client area, which stay enabled.
TEST_P(TabOrder, VisitsTheReachableControlsInTheFormsOrder) {
    const TabCase &c = GetParam();
    if (c.everyPanelUsable) {
        for (QWidget *w : window->findChildren<QWidget *>())
            w->setEnabled(true);
        window->Option[2]->setChecked(true);
        window->Option1[1]->setChecked(true);
    }
    if (c.expanded) window->Command4_Click();
    showAndActivate();
    EXPECT_EQ(QApplication::focusWidget(), window->Text1);
    widget(*window, c.from)->setFocus();
    EXPECT_EQ(tabWalk(int(c.visited.size()), c.key), c.visited);
    EXPECT_TRUE(window->Text3->isEnabled()) << "passed over, not disabled";
}

INSTANTIATE_TEST_SUITE_P(
    Walks, TabOrder,
    ::testing::Values(
        TabCase{"CollapsedSkipsTheOptionsArea",
                false,
                false,
                "Command1",
                Qt::Key_Tab,
                {"Option(0)", "Command3", "Command4", "Picture1", "Text1"}},
        TabCase{"CollapsedBackwards",
                false,
                false,
                "Text1",
                Qt::Key_Backtab,
                {"Picture1", "Command4", "Command3", "Option(0)", "Command1", "Text1"}},
        TabCase{"CollapsedWithEveryPanelUsable",
                false,
                true,
                "Text1",
                Qt::Key_Tab,
                {"Command1", "Option(2)", "Command3", "Command4", "Picture1", "Text1"}},
        // Expanded, the full order; Command3 comes before Command4, which
        // stands to its left.
        TabCase{"ExpandedStartState",
                true,
                false,
                "Command1",
                Qt::Key_Tab,
                {"Option(0)", "Command3", "Command4", "Text3", "Option1(0)", "Picture1"}},
        TabCase{"ExpandedEveryGroupAtItsChosenButton",
                true,
                true,
                "Text1",
                Qt::Key_Tab,
                {"Command1", "Option(2)", "Command3", "Command4", "Text3", "Check1", "Option1(1)",
                 "Text4", "Check3", "Text5", "Check4", "Picture1", "Text1"}},
        TabCase{"ExpandedBackwardsThroughAGroup",
                true,
                true,
                "Text4",
                Qt::Key_Backtab,
                {"Option1(1)", "Check1", "Text3", "Command4"}}),
    [](const auto &info) { return std::string(info.param.name); });

// Collapsing with the focus in the options area (Alt+S leaves it there)
// takes it to the details button: typing then changes no hidden setting.
TEST_F(WindowTest, CollapsingTakesTheFocusOutOfTheOptionsArea) {
    window->Command4_Click();
    showAndActivate();
    window->Text3->setFocus();
    QTest::keyClick(window->Text3, Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->outerHeightTwips() == 1575; }));
    EXPECT_EQ(QApplication::focusWidget(), window->Command4);
    QTest::keyClicks(QApplication::focusWidget(), "7");
    EXPECT_EQ(window->Text3->text(), u8("0"));
    EXPECT_EQ(window->settings().grayLevel, 0);
}

// ---- Start state ------------------------------------------------------------

TEST_F(WindowTest, StartState) {
    EXPECT_EQ(window->outerHeightTwips(), 1575);
    EXPECT_EQ(window->Command4->text(), u8("詳細表示(&S)"));
    EXPECT_TRUE(window->sourceText().isEmpty());
    EXPECT_EQ(window->check1Value(), 0);
    EXPECT_TRUE(window->Option[0]->isChecked() && window->Option1[0]->isChecked());
    for (int i = 1; i < 3; ++i)
        EXPECT_FALSE(window->Option[i]->isChecked() || window->Option1[i]->isChecked());
    EXPECT_FALSE(window->Check1->isChecked() || window->Check3->isChecked() ||
                 window->Check4->isChecked());
    EXPECT_EQ(window->Text3->text(), u8("0"));
    EXPECT_EQ(window->Text4->text(), u8("60"));
    EXPECT_EQ(window->Text5->text(), u8("5"));

    const ConversionSettings &s = window->settings();
    EXPECT_EQ(s.formatIndex, 0);
    EXPECT_EQ(s.bitDepthIndex, 0);
    EXPECT_TRUE(s.sourcePath.empty());
    EXPECT_EQ(s.extensions, (std::array<std::string, 3>{"bmp", "jpg", "png"}));
    EXPECT_EQ(s.filterIndex, 0);
    EXPECT_EQ(s.grayLevel, 0);
    EXPECT_EQ(s.jpegQuality, 60);
    EXPECT_EQ(s.progressive, 0);
    EXPECT_EQ(s.detailsShown, 0);
    EXPECT_EQ(s.pngLevel, 5);
    EXPECT_EQ(s.interlaced, 0);

    for (const char *on : {"Frame1", "Frame3", "Option1(0)", "Option1(1)", "Option1(2)", "Label3",
                           "Text3", "Frame2", "Frame4", "Option(0)", "Option(1)", "Option(2)"})
        EXPECT_TRUE(widget(*window, on)->isEnabled()) << on;
    for (const char *off :
         {"Check1", "Frame5", "Label5", "Text4", "Check3", "Frame6", "Label6", "Text5", "Check4"}) {
        EXPECT_FALSE(widget(*window, off)->isEnabled()) << off;
        EXPECT_FALSE(ownEnabled(widget(*window, off))) << off << " is disabled by itself too";
    }

    // Picture1: the plain window-background colour, backing image of its size.
    const QImage &image = window->Picture1->image();
    EXPECT_EQ(image.size(), QSize(33, 33));
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    const QRgb background = window->palette().color(QPalette::Base).rgb();
    for (int y = 0; y < 33; ++y)
        for (int x = 0; x < 33; ++x)
            ASSERT_EQ(image.pixel(x, y), background);

    showAndActivate();
    EXPECT_EQ(QApplication::focusWidget(), window->Text1);
}

TEST_F(WindowTest, CollapsedShowsTheTopAreaAndExpandedAllOfFrame2) {
    const QWidget *client = window->centralWidget();
    auto bottomOf = [&](QWidget *w) { return w->mapTo(client, QPoint(0, w->height())).y(); };
    auto topOf = [&](QWidget *w) { return w->mapTo(client, QPoint(0, 0)).y(); };
    // The client area's height is the window's less the menu bar's.
    const int menuBar = window->menuBar()->sizeHint().height();
    EXPECT_EQ(window->height() - menuBar, 61);
    for (QWidget *w :
         {(QWidget *)window->Text1, (QWidget *)window->Command3, (QWidget *)window->Command4,
          (QWidget *)window->Frame4, (QWidget *)window->Picture1})
        EXPECT_LE(bottomOf(w), 61) << w->objectName().toStdString();
    EXPECT_GT(topOf(window->Frame2), 61);

    window->Command4_Click();
    EXPECT_EQ(window->height() - menuBar, 236);
    EXPECT_EQ(bottomOf(window->Frame2) + 3, 236); // 45 twips to spare
    EXPECT_EQ(window->width(), 529);

    // Shown, Qt's layout gives the menu bar and client area what was planned.
    showAndActivate();
    EXPECT_EQ(window->menuBar()->height(), menuBar);
    EXPECT_EQ(window->centralWidget()->height(), 236);
}

// ---- Panels -----------------------------------------------------------------

// Each format's panel, in the order its procedure enables the controls.
const std::vector<std::string> kPanels[] = {
    {"Frame1", "Frame3", "Option1(0)", "Option1(1)", "Option1(2)", "Check1", "Label3", "Text3"},
    {"Frame5", "Label5", "Text4", "Check3"},
    {"Frame6", "Label6", "Text5", "Check4"}};

class FormatChoice : public WindowTest, public ::testing::WithParamInterface<int> {};

TEST_P(FormatChoice, EnablesItsPanelOnlyAndLeavesTheRestAlone) {
    const int index = GetParam();
    // Start from another format so that every panel changes state.
    window->Option_Click(index == 0 ? 2 : 0);
    QTest::mouseClick(window->Option[index], Qt::LeftButton);
    EXPECT_TRUE(window->Option[index]->isChecked());
    EXPECT_EQ(window->settings().formatIndex, index);

    for (int panel = 0; panel < 3; ++panel)
        for (const std::string &name : kPanels[panel]) {
            QWidget *w = widget(*window, name.c_str());
            EXPECT_EQ(ownEnabled(w), panel == index) << name;
            EXPECT_EQ(w->isEnabled(), panel == index) << name;
        }
    for (const char *name : {"Frame2", "Frame4", "Option(0)", "Option(1)", "Option(2)"})
        EXPECT_TRUE(widget(*window, name)->isEnabled()) << name;
    // The bit-depth group is not touched by the format group.
    EXPECT_TRUE(window->Option1[0]->isChecked());
    EXPECT_EQ(window->settings().bitDepthIndex, 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatChoice, ::testing::Values(0, 1, 2));

// Records, in order, the controls of a list that change their enabled state.
class EnabledRecorder : public QObject {
  public:
    EnabledRecorder(const MainWindow &w, const std::vector<std::string> &names) {
        for (const std::string &name : names)
            widget(w, name.c_str())->installEventFilter(this);
    }
    std::vector<std::string> changed;

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::EnabledChange)
            changed.push_back(watched->objectName().toStdString());
        return false;
    }
};

TEST_F(WindowTest, PanelProceduresEnableInTableOrder) {
    // Enabling from disabled: the frame first (its children, disabled by
    // themselves, stay so), then each control in the table's order.
    window->EnableBmpOptions(0);
    EnabledRecorder bmp(*window, kPanels[0]), jpeg(*window, kPanels[1]), png(*window, kPanels[2]);
    window->EnableBmpOptions(-1);
    window->EnableJpegOptions(-1);
    window->EnablePngOptions(-1);
    EXPECT_EQ(bmp.changed, kPanels[0]);
    EXPECT_EQ(jpeg.changed, kPanels[1]);
    EXPECT_EQ(png.changed, kPanels[2]);
}

TEST_F(WindowTest, Check1FollowsTheBitDepthButComesBackWithBmp) {
    window->Command4_Click();
    QTest::mouseClick(window->Option1[2], Qt::LeftButton);
    EXPECT_EQ(window->settings().bitDepthIndex, 2);
    EXPECT_TRUE(window->Check1->isEnabled());
    QTest::mouseClick(window->Check1, Qt::LeftButton);
    EXPECT_EQ(window->check1Value(), 1);

    QTest::mouseClick(window->Option1[0], Qt::LeftButton);
    EXPECT_EQ(window->settings().bitDepthIndex, 0);
    EXPECT_FALSE(window->Check1->isEnabled());
    EXPECT_EQ(window->check1Value(), 1); // the check mark stays

    // With 24 bits chosen, PNG and back to BMP: Check1 is enabled again.
    QTest::mouseClick(window->Option[2], Qt::LeftButton);
    QTest::mouseClick(window->Option[0], Qt::LeftButton);
    EXPECT_TRUE(window->Check1->isEnabled());
    EXPECT_EQ(window->settings().bitDepthIndex, 0);
    // Until the next bit-depth choice.
    QTest::mouseClick(window->Option1[1], Qt::LeftButton);
    EXPECT_FALSE(window->Check1->isEnabled());
}

TEST_F(WindowTest, DisabledControlsKeepTheirValues) {
    window->Option_Click(1);
    window->Check3->setChecked(true);
    window->Text4->setText(u8("77"));
    window->Option_Click(0);
    EXPECT_FALSE(window->Check3->isEnabled());
    EXPECT_TRUE(window->Check3->isChecked());
    EXPECT_EQ(window->Text4->text(), u8("77"));
    EXPECT_EQ(window->settings().jpegQuality, 77);
    EXPECT_EQ(window->settings().progressive, -1);
    window->Option_Click(1);
    EXPECT_TRUE(window->Check3->isEnabled() && window->Check3->isChecked());
    // Choosing the format that is already chosen changes nothing.
    const ConversionSettings before = window->settings();
    QTest::mouseClick(window->Option[1], Qt::LeftButton);
    EXPECT_EQ(window->settings().formatIndex, before.formatIndex);
    EXPECT_EQ(window->settings().jpegQuality, before.jpegQuality);
}

// ---- Details toggle ---------------------------------------------------------

TEST_F(WindowTest, DetailsToggleGoesBackAndForthOnHeightAlone) {
    QTest::mouseClick(window->Command4, Qt::LeftButton);
    EXPECT_EQ(window->outerHeightTwips(), 4200);
    EXPECT_EQ(window->Command4->text(), u8("詳細隠す(&S)"));
    EXPECT_EQ(window->settings().detailsShown, -1);
    QTest::mouseClick(window->Command4, Qt::LeftButton);
    EXPECT_EQ(window->outerHeightTwips(), 1575);
    EXPECT_EQ(window->Command4->text(), u8("詳細表示(&S)"));
    EXPECT_EQ(window->settings().detailsShown, 0);

    // An odd height counts as expanded, whatever detailsShown says.
    window->setOuterHeightTwips(3000);
    EXPECT_EQ(window->outerHeightTwips(), 3000);
    QTest::mouseClick(window->Command4, Qt::LeftButton);
    EXPECT_EQ(window->outerHeightTwips(), 1575);
    EXPECT_EQ(window->Command4->text(), u8("詳細表示(&S)"));
    EXPECT_EQ(window->settings().detailsShown, 0);

    // The toggle changes no enabled state and no other field.
    window->Option_Click(2);
    const ConversionSettings before = window->settings();
    QTest::mouseClick(window->Command4, Qt::LeftButton);
    QTest::mouseClick(window->Command4, Qt::LeftButton);
    EXPECT_TRUE(window->Frame6->isEnabled());
    EXPECT_FALSE(window->Frame3->isEnabled());
    EXPECT_EQ(window->settings().pngLevel, before.pngLevel);
    EXPECT_EQ(window->settings().formatIndex, 2);
}

// ---- Spinners ---------------------------------------------------------------

struct SpinnerCase {
    const char *box;
    int format; // the format whose panel holds the box
    int lower, upper, start;
    int16_t ConversionSettings::*field;
    int formX, formWidth; // the box's place on the form, pixels
};

void PrintTo(const SpinnerCase &c, std::ostream *os) {
    *os << c.box;
}

class Spinner : public WindowTest, public ::testing::WithParamInterface<SpinnerCase> {
  protected:
    QLineEdit *box() { return qobject_cast<QLineEdit *>(widget(*window, GetParam().box)); }
    int16_t field() { return window->settings().*GetParam().field; }
};

TEST_P(Spinner, SitsAtTheBoxsRightEdgeWithinItsFormerWidth) {
    const SpinnerCase &c = GetParam();
    UpDownControl *spinner = spinnerOf(box());
    ASSERT_NE(spinner, nullptr);
    EXPECT_EQ(spinner->parentWidget(), box()->parentWidget()); // siblings in the frame
    EXPECT_EQ(box()->x(), c.formX);
    EXPECT_EQ(box()->width() + spinner->width(), c.formWidth);
    EXPECT_EQ(spinner->x(), box()->x() + box()->width());
    EXPECT_EQ(spinner->y(), box()->y());
    EXPECT_EQ(spinner->height(), box()->height());
    EXPECT_GT(spinner->width(), 8);
    EXPECT_TRUE(spinner->isVisibleTo(window.get()));
    EXPECT_EQ(spinner->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(box()->text(), QString::number(c.start));
    EXPECT_EQ(field(), c.start);
}

TEST_P(Spinner, StepsByOneWritesTheTextAndStopsAtTheBounds) {
    const SpinnerCase &c = GetParam();
    window->Command4_Click();
    window->Option_Click(c.format);
    UpDownControl *spinner = spinnerOf(box());
    ASSERT_NE(spinner, nullptr);

    clickArrow(spinner, true);
    EXPECT_EQ(box()->text(), QString::number(c.start + 1));
    EXPECT_EQ(field(), c.start + 1);
    clickArrow(spinner, false);
    clickArrow(spinner, false);
    EXPECT_EQ(box()->text(), QString::number(std::max(c.start - 1, c.lower)));
    EXPECT_EQ(field(), std::max(c.start - 1, c.lower));

    // A typed number in range becomes the position; at a bound the arrow stays.
    typeInto(box(), std::to_string(c.upper).c_str());
    clickArrow(spinner, true);
    EXPECT_EQ(box()->text(), QString::number(c.upper));
    EXPECT_EQ(field(), c.upper);
    typeInto(box(), std::to_string(c.lower).c_str());
    clickArrow(spinner, false);
    EXPECT_EQ(box()->text(), QString::number(c.lower));
    EXPECT_EQ(field(), c.lower);
    typeInto(box(), std::to_string(c.lower + 2).c_str());
    clickArrow(spinner, false);
    EXPECT_EQ(box()->text(), QString::number(c.lower + 1));

    // Text that is no position: the next click writes a number in range again.
    typeInto(box(), "x");
    EXPECT_EQ(field(), c.lower + 1); // the field kept its last value
    clickArrow(spinner, true);
    EXPECT_EQ(box()->text(), QString::number(c.lower + 2));
    EXPECT_EQ(field(), c.lower + 2);
}

TEST_P(Spinner, UpAndDownKeysInTheBoxDoNothing) {
    const SpinnerCase &c = GetParam();
    window->Option_Click(c.format);
    showAndActivate();
    box()->setFocus();
    QTest::keyClick(box(), Qt::Key_Up);
    QTest::keyClick(box(), Qt::Key_Down);
    EXPECT_EQ(box()->text(), QString::number(c.start));
    EXPECT_EQ(field(), c.start);
}

TEST_P(Spinner, TakesNoInputWhileItsFrameIsDisabled) {
    const SpinnerCase &c = GetParam();
    window->Command4_Click();
    window->Option_Click((c.format + 1) % 3);
    UpDownControl *spinner = spinnerOf(box());
    ASSERT_NE(spinner, nullptr);
    EXPECT_FALSE(spinner->isEnabled());
    clickArrow(spinner, true);
    clickArrow(spinner, false);
    clickArrow(spinner, false);
    EXPECT_EQ(box()->text(), QString::number(c.start));
    EXPECT_EQ(field(), c.start);
}

TEST_P(Spinner, HeldArrowRepeatsUntilReleased) {
    const SpinnerCase &c = GetParam();
    window->Command4_Click();
    window->Option_Click(c.format);
    UpDownControl *spinner = spinnerOf(box());
    ASSERT_NE(spinner, nullptr);
    typeInto(box(), std::to_string(c.lower).c_str());
    const QPoint up(spinner->width() / 2, spinner->height() / 4);
    QTest::mousePress(spinner, Qt::LeftButton, Qt::NoModifier, up);
    EXPECT_EQ(field(), c.lower + 1); // the press itself steps once
    EXPECT_TRUE(QTest::qWaitFor([&] { return field() >= c.lower + 3; }, 10000));
    QTest::mouseRelease(spinner, Qt::LeftButton, Qt::NoModifier, up);
    const int16_t released = field();
    EXPECT_LE(released, c.upper);
    QTest::qWait(600);
    EXPECT_EQ(field(), released);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, Spinner,
    ::testing::Values(SpinnerCase{"Text3", 0, 0, 255, 0, &ConversionSettings::grayLevel, 32, 97},
                      SpinnerCase{"Text4", 1, 1, 100, 60, &ConversionSettings::jpegQuality, 32, 81},
                      SpinnerCase{"Text5", 2, 0, 9, 5, &ConversionSettings::pngLevel, 48, 65}),
    [](const auto &info) { return std::string(info.param.box); });

// ---- Text boxes ----------------------------------------------------------------

TEST_F(WindowTest, NumberBoxesApplyTheNumberRuleOnEveryChange) {
    struct Typed {
        const char *text;
        int16_t gray;
    } const typed[] = {{"300", 300},
                       {"2.9", 2},
                       {"-1.5", -2},
                       {"", -2},
                       {"-", -2},
                       {"abc", -2},
                       // Typed key by key: 9999 still fits, the fifth 9 does not.
                       {"99999", 9999},
                       {"7", 7}};
    window->Command4_Click();
    showAndActivate();
    for (const Typed &t : typed) {
        typeInto(window->Text3, t.text);
        EXPECT_EQ(window->Text3->text(), u8(t.text));
        EXPECT_EQ(window->settings().grayLevel, t.gray) << '"' << t.text << '"';
    }
    // The other boxes feed their own fields only.
    window->Option_Click(2);
    typeInto(window->Text5, "8");
    window->Option_Click(1);
    typeInto(window->Text4, "42.5");
    EXPECT_EQ(window->settings().pngLevel, 8);
    EXPECT_EQ(window->settings().jpegQuality, 42);
    EXPECT_EQ(window->settings().grayLevel, 7);
}

TEST_F(WindowTest, CheckBoxesApplyTheCheckRule) {
    window->Command4_Click();
    window->Option_Click(1);
    QTest::mouseClick(window->Check3, Qt::LeftButton);
    EXPECT_EQ(window->settings().progressive, -1);
    QTest::mouseClick(window->Check3, Qt::LeftButton);
    EXPECT_EQ(window->settings().progressive, 0);
    window->Option_Click(2);
    QTest::mouseClick(window->Check4, Qt::LeftButton);
    EXPECT_EQ(window->settings().interlaced, -1);
    window->Check4->setCheckState(Qt::PartiallyChecked); // nothing in the window does this
    EXPECT_EQ(window->settings().interlaced, -1);
    window->Check4->setCheckState(Qt::Unchecked);
    EXPECT_EQ(window->settings().interlaced, 0);
}

TEST_F(WindowTest, Text1TakesATypedPath) {
    showAndActivate();
    window->Text1->setFocus();
    QTest::keyClicks(window->Text1, u8("/tmp/some dir/"));
    // Japanese characters one by one (keyClicks handles ASCII only).
    for (QChar ch : u8("画像.png"))
        QTest::sendKeyEvent(QTest::Click, window->Text1, Qt::Key_unknown, QString(ch),
                            Qt::NoModifier);
    EXPECT_EQ(window->sourceText(), u8("/tmp/some dir/画像.png"));
    window->setSourceText(u8("/x.bmp"));
    EXPECT_EQ(window->Text1->text(), u8("/x.bmp"));
}

// ---- Picture box ------------------------------------------------------------

TEST_F(WindowTest, PictureSurvivesRepaints) {
    showAndActivate();
    QImage &image = window->Picture1->image();
    image.fill(Qt::white);
    for (int y = 5; y < 20; ++y)
        for (int x = 3; x < 30; ++x)
            image.setPixel(x, y, qRgb(200, 30, 40));
    window->Picture1->refresh();
    QApplication::processEvents();

    const auto check = [&] {
        const QImage shown = window->Picture1->grab().toImage();
        ASSERT_EQ(shown.size(), QSize(33, 33));
        EXPECT_EQ(shown.pixel(4, 6), qRgb(200, 30, 40));
        EXPECT_EQ(shown.pixel(29, 19), qRgb(200, 30, 40));
        EXPECT_EQ(shown.pixel(2, 6), qRgb(255, 255, 255));
        EXPECT_EQ(shown.pixel(10, 25), qRgb(255, 255, 255));
    };
    check();
    // Covered and uncovered: hidden, shown and repainted from scratch.
    window->hide();
    window->show();
    window->repaint();
    check();
    // The whole window's grab shows it too, at the box's place.
    const QImage all = window->grab().toImage();
    const QPoint at = window->Picture1->mapTo(window.get(), QPoint(4, 6));
    EXPECT_EQ(all.pixel(at), qRgb(200, 30, 40));
}

TEST_F(WindowTest, Picture1ShowsAFocusFrameWhileItHasTheFocus) {
    showAndActivate();
    const QImage picture = window->Picture1->image();
    const QImage plain = window->Picture1->grab().toImage();
    window->Picture1->setFocus(Qt::TabFocusReason);
    const QImage focused = window->Picture1->grab().toImage();
    EXPECT_NE(focused, plain);
    EXPECT_EQ(window->Picture1->image(), picture) << "the frame went into the picture";
    window->Text1->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(window->Picture1->grab().toImage(), plain);
}

// ---- Frames -----------------------------------------------------------------

QRect frameRect(const QGroupBox *frame, QStyle::SubControl part) {
    QStyleOptionGroupBox option;
    option.initFrom(frame);
    option.text = frame->title();
    return frame->style()->subControlRect(QStyle::CC_GroupBox, &option, part, frame);
}

// Every frame draws its border through the middle of its caption, and no
// control inside touches the border or the caption: checked on the controls'
// places and on the drawn window, where each border line is one unbroken
// colour but for the caption's background. A disabled frame's caption is
// greyed: its darkest pixel is lighter than an enabled one's.
TEST_F(WindowTest, FramesDrawTheirBorderThroughTheCaptionClearOfEveryControl) {
    window->Command4_Click();
    showAndActivate();
    const QImage shot = window->grab().toImage();
    const QRgb background = shot.pixel(window->centralWidget()->mapTo(window.get(), QPoint(1, 1)));
    std::map<std::string, int> captionInk; // the darkest grey of each caption
    for (QGroupBox *frame : window->findChildren<QGroupBox *>()) {
        const std::string name = frame->objectName().toStdString();
        SCOPED_TRACE(name);
        const QRect border = frameRect(frame, QStyle::SC_GroupBoxFrame);
        const QRect caption = frameRect(frame, QStyle::SC_GroupBoxLabel);
        EXPECT_EQ(border.top(), caption.center().y()) << "the line runs through the middle";
        for (QWidget *inside : frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            EXPECT_TRUE(border.adjusted(2, 2, -2, -2).contains(inside->geometry()) &&
                        !inside->geometry().intersects(caption))
                << inside->objectName().toStdString() << " on the border or the caption";
        }
        const QPoint at = frame->mapTo(window.get(), QPoint(0, 0));
        const QRect line = border.translated(at), label = caption.translated(at);
        const QRgb ink = shot.pixel(line.left(), line.top());
        EXPECT_NE(ink, background);
        EXPECT_EQ(shot.pixel(label.left(), line.top()), background) << "the line is not broken";
        int off = 0;
        for (int x = line.left(); x < line.right(); ++x) {
            if (x < label.left() || x > label.right()) off += shot.pixel(x, line.top()) != ink;
            off += shot.pixel(x, line.bottom() - 1) != ink;
        }
        for (int y = line.top(); y < line.bottom(); ++y)
            off += (shot.pixel(line.left(), y) != ink) + (shot.pixel(line.right() - 1, y) != ink);
        EXPECT_EQ(off, 0) << "pixels of the border drawn over";
        int darkest = 255;
        for (int y = label.top(); y <= label.bottom(); ++y)
            for (int x = label.left(); x <= label.right(); ++x)
                darkest = std::min(darkest, qGray(shot.pixel(x, y)));
        captionInk[name] = darkest;
    }
    ASSERT_TRUE(window->Frame3->isEnabled() && !window->Frame5->isEnabled());
    EXPECT_GT(captionInk["Frame5"], captionInk["Frame3"] + 60);
}

// ---- Screenshots ------------------------------------------------------------

TEST_F(WindowTest, Screenshots) {
    showAndActivate();
    const QImage collapsed = window->grab().toImage();
    EXPECT_EQ(collapsed.size(), window->size());
    EXPECT_TRUE(collapsed.save(NUBARO_SHOT_DIR "/window-collapsed.png"));
    window->Command4_Click();
    QApplication::processEvents();
    const QImage expanded = window->grab().toImage();
    EXPECT_EQ(expanded.height() - collapsed.height(), 236 - 61);
    EXPECT_TRUE(expanded.save(NUBARO_SHOT_DIR "/window-expanded.png"));
}

} // namespace
