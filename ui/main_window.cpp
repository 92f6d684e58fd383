// SPDX-License-Identifier: MIT
#include "main_window.h"

#include "application_setup.h"
#include "settings_rules.h"
#include "spinner.h"
#include "window_rules.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace nubaro {

namespace {

QString u8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Places a control from the form's geometry in twips. Inside a frame the
// position counts from the frame's outer top-left corner, which is where Qt
// puts a group box's children as well.
template <class Widget>
Widget *place(Widget *widget, const char *name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                        twipsToPixels(height));
    return widget;
}

QLabel *label(QWidget *parent, const char *name, std::string_view caption, int left, int top,
              int width, int height) {
    auto *widget = place(new QLabel(u8(caption), parent), name, left, top, width, height);
    widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return widget;
}

// A label that sizes itself to its caption, from its place on the form.
QLabel *autoSizeLabel(QWidget *parent, const char *name, std::string_view caption, int left,
                      int top, int width, int height) {
    QLabel *widget = label(parent, name, caption, left, top, width, height);
    widget->adjustSize();
    return widget;
}

QLineEdit *textBox(QWidget *parent, const char *name, const char *text, int left, int top,
                   int width, int height) {
    auto *widget =
        place(new QLineEdit(QString::fromLatin1(text), parent), name, left, top, width, height);
    widget->setMaxLength(std::numeric_limits<int>::max()); // no box limits its text
    widget->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return widget;
}

QPushButton *button(QWidget *parent, const char *name, std::string_view caption, int left, int top,
                    int width, int height) {
    auto *widget = place(new QPushButton(u8(caption), parent), name, left, top, width, height);
    // No button is the window's default or cancel button: Enter and Esc press
    // none (Enter presses only the button that has the focus, see
    // eventFilter).
    widget->setAutoDefault(false);
    widget->setDefault(false);
    return widget;
}

QGroupBox *frame(QWidget *parent, const char *name, std::string_view caption, int left, int top,
                 int width, int height) {
    return place(new QGroupBox(u8(caption), parent), name, left, top, width, height);
}

QRadioButton *optionButton(QWidget *parent, const char *name, std::string_view caption, int left,
                           int top, int width, int height) {
    return place(new QRadioButton(u8(caption), parent), name, left, top, width, height);
}

QCheckBox *checkBox(QWidget *parent, const char *name, std::string_view caption, int left, int top,
                    int width, int height) {
    return place(new QCheckBox(u8(caption), parent), name, left, top, width, height);
}

// A check box's value as the form counts it: 0 unchecked, 1 checked, 2 grayed.
int checkValue(const QCheckBox *box) {
    switch (box->checkState()) {
    case Qt::Unchecked:
        return 0;
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    }
    return 0;
}

// Ends the process at once: no further handler runs, every window goes away.
[[noreturn]] void endProcessNow() {
    std::fflush(nullptr);
    std::_Exit(0);
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(u8("ヌバロファイル変換"));
    setWindowIcon(programIcon());
    // The user can neither resize nor maximise the window: only the details
    // toggle changes its height, and its width never changes.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    onEndProgram = [] { endProcessNow(); };

    buildMenu();
    buildControls();
    applyTabOrder();
    // A file dropped anywhere on the window, the text boxes included, picks
    // the source; the boxes take no dropped text of their own.
    setAcceptDrops(true);
    for (QLineEdit *box : {Text1, Text3.data(), Text4.data(), Text5.data()})
        box->setAcceptDrops(false);
    // The layout's own height is the form's client area, 3540 twips.
    setOuterHeightTwips(kExpandedHeightTwips);
    Text1->setFocus(); // the first control in the tab order
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenu() {
    File = menuBar()->addMenu(u8("ファイル(&F)"));
    File->setObjectName(QStringLiteral("File"));
    Open = File->addAction(u8("対象ファイル名(&O)"));
    Open->setObjectName(QStringLiteral("Open"));
    Open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    En = File->addAction(u8("終了(&E)"));
    En->setObjectName(QStringLiteral("En"));
    An = File->addAction(u8("変換して終了(&A)"));
    An->setObjectName(QStringLiteral("An"));
    An->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    // The shortcuts work wherever the focus is in the window, pull-down closed.
    for (QAction *action : {Open, En, An})
        action->setShortcutContext(Qt::WindowShortcut);

    connect(Open, &QAction::triggered, this, &MainWindow::Open_Click);
    connect(En, &QAction::triggered, this, &MainWindow::En_Click);
    connect(An, &QAction::triggered, this, &MainWindow::An_Click);
}

void MainWindow::buildControls() {
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    // Positions and sizes in twips, the form's geometry. Top area: source row and
    // command band.
    Label1 = label(client, "Label1", "対象ファイルパス", 120, 45, 1320, 180);
    Text1 = textBox(client, "Text1", "", 1680, 0, 4695, 270);
    Command1 = button(client, "Command1", "参照", 6600, 0, 1095, 255);
    Label2 = label(client, "Label2", "サンプル", 120, 510, 675, 180);
    Picture1 = place(new PictureBox(client), "Picture1", 840, 360, 495, 495);
    Picture1->setFocusPolicy(Qt::TabFocus);
    Frame4 = frame(client, "Frame4", "保存種類", 1680, 360, 3615, 495);
    Option[0] = optionButton(Frame4, "Option(0)", "BMP形式", 120, 240, 1215, 180);
    Option[1] = optionButton(Frame4, "Option(1)", "JPEG形式", 1200, 240, 1215, 180);
    Option[2] = optionButton(Frame4, "Option(2)", "PING形式", 2400, 240, 1095, 180);
    Option[0]->setChecked(true);
    Command4 = button(client, "Command4", kShowDetailsCaption, 5400, 480, 1095, 375);
    Command3 = button(client, "Command3", "変換(&C)", 6600, 480, 1095, 375);

    // Options area: one panel per output format.
    Frame2 = frame(client, "Frame2", "保存オプション", 120, 960, 7695, 2535);

    Frame3 = frame(Frame2, "Frame3", "BMP保存詳細", 120, 240, 2415, 2175);
    Frame1 = frame(Frame3, "Frame1", "ビットレート", 120, 240, 2175, 1095);
    Option1[0] = optionButton(Frame1, "Option1(0)", "24ビット", 120, 240, 1215, 180);
    Option1[1] = optionButton(Frame1, "Option1(1)", "16ビット", 120, 480, 1215, 180);
    Option1[2] = optionButton(Frame1, "Option1(2)", "8ビット", 120, 720, 855, 180);
    Option1[0]->setChecked(true);
    Check1 = checkBox(Frame1, "Check1", "RLE化", 1200, 720, 855, 180);
    Check1->setEnabled(false);
    Label3 = autoSizeLabel(Frame3, "Label3", "グレースケール", 600, 1440, 1185, 180);
    Text3 = textBox(Frame3, "Text3", "0", 480, 1680, 1455, 270);

    Frame5 = frame(Frame2, "Frame5", "JPEG保存詳細", 2640, 240, 2175, 1335);
    Label5 = autoSizeLabel(Frame5, "Label5", "圧縮率1(高)～100(低)", 240, 240, 1680, 180);
    Text4 = textBox(Frame5, "Text4", "60", 480, 480, 1215, 270);
    Check3 = checkBox(Frame5, "Check3", "プログレッシブJPEG", 240, 840, 1695, 375);
    Check3->setFont(checkBoxFont());

    Frame6 = frame(Frame2, "Frame6", "PING保存詳細", 4920, 240, 2535, 1335);
    Label6 = autoSizeLabel(Frame6, "Label6", "圧縮率0(低)～9(高)", 480, 240, 1500, 180);
    Text5 = textBox(Frame6, "Text5", "5", 720, 480, 975, 270);
    Check4 = checkBox(Frame6, "Check4", "インターレースPNG", 360, 840, 1695, 375);
    Check4->setFont(checkBoxFont());

    client->setFixedSize(twipsToPixels(kClientWidthTwips),
                         twipsToPixels(kExpandedHeightTwips - kFormChromeTwips));

    // Events.
    connect(Command1, &QPushButton::clicked, this, &MainWindow::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &MainWindow::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &MainWindow::Command4_Click);
    for (int i = 0; i < 3; ++i) {
        connect(Option[i], &QRadioButton::clicked, this, [this, i] { Option_Click(i); });
        connect(Option1[i], &QRadioButton::clicked, this, [this, i] { Option1_Click(i); });
    }
    connect(Text3, &QLineEdit::textChanged, this, &MainWindow::Text3_Change);
    connect(Text4, &QLineEdit::textChanged, this, &MainWindow::Text4_Change);
    connect(Text5, &QLineEdit::textChanged, this, &MainWindow::Text5_Change);
    connect(Check3, &QCheckBox::stateChanged, this, &MainWindow::Check3_Click);
    connect(Check4, &QCheckBox::stateChanged, this, &MainWindow::Check4_Click);

    // A focused line edit claims Ctrl+A (select all) before the menu sees it.
    for (QLineEdit *box : {Text1, Text3.data(), Text4.data(), Text5.data()})
        box->installEventFilter(this);
    // Enter presses the push button that has the focus, as Space does.
    for (QPushButton *push : {Command1, Command3, Command4})
        push->installEventFilter(this);
}

void MainWindow::applyTabOrder() {
    // The form's tab order; labels and frames hold tab positions but never
    // take the focus, so they are left out of the chain.
    QWidget *const order[] = {Text1,    Command1, Option[0], Option[1],  Option[2],  Command3,
                              Command4, Text3,    Check1,    Option1[2], Option1[1], Option1[0],
                              Text4,    Check3,   Text5,     Check4,     Picture1};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

QString MainWindow::sourceText() const {
    return Text1->text();
}
void MainWindow::setSourceText(const QString &text) {
    Text1->setText(text);
}
int MainWindow::check1Value() const {
    return checkValue(Check1);
}

int MainWindow::menuBarHeight() const {
    return menuBar()->sizeHint().height();
}

int MainWindow::outerHeightTwips() const {
    return outerTwipsForWindowHeight(height(), menuBarHeight());
}

void MainWindow::setOuterHeightTwips(int twips) {
    setFixedSize(twipsToPixels(kClientWidthTwips),
                 windowHeightForOuterTwips(twips, menuBarHeight()));
}

QObject *MainWindow::control(std::string_view name) const {
    return findChild<QObject *>(u8(name));
}

// ---- Start-up and shut-down -------------------------------------------------

void MainWindow::loadStepDone(int step) {
    if (onLoadStep) onLoadStep(step);
}

void MainWindow::Form_Load() {
    setOuterHeightTwips(kCollapsedHeightTwips);
    loadStepDone(1);

    EnableBmpOptions(kTrue);
    EnableJpegOptions(kFalse);
    EnablePngOptions(kFalse);
    loadStepDone(2);

    // What CreateSpinner returns is not kept.
    CreateSpinner(Frame3, Text3, 255, 0, 0);
    CreateSpinner(Frame5, Text4, 100, 1, 60);
    CreateSpinner(Frame6, Text5, 9, 0, 5);
    loadStepDone(3);

    Check1->setEnabled(false);
    loadStepDone(4);

    fillExtensionTable(settings_);
    loadStepDone(5);

    writeStartValues(settings_);
    loadStepDone(6);

    if (onSetDialogFlags) onSetDialogFlags(2); // overwrite prompt
    loadStepDone(7);
}

void MainWindow::Form_Unload() {
    // Each box is looked up just before its window is destroyed.
    DestroyControlWindow(Text3);
    DestroyControlWindow(Text4);
    DestroyControlWindow(Text5);
    endProgram();
}

void MainWindow::unload() {
    if (unloaded_) return;
    unloaded_ = true;
    Form_Unload();
    // Only reached when the end of the program has been replaced (tests).
    hide();
}

void MainWindow::endProgram() {
    if (onEndProgram) onEndProgram();
}

void MainWindow::closeEvent(QCloseEvent *event) {
    unload(); // a close request never is refused
    event->accept();
}

QString MainWindow::droppedSourcePath(const QMimeData *data) {
    if (!data || !data->hasUrls()) return {};
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return {};
    const QString path = urls.front().toLocalFile();
    const QFileInfo info(path);
    if (!info.isFile()) return {};
    // The types of the open dialog's three entries.
    static const QStringList kSuffixes = {QStringLiteral("bmp"), QStringLiteral("jpg"),
                                          QStringLiteral("jpe"), QStringLiteral("jpeg"),
                                          QStringLiteral("png")};
    if (!kSuffixes.contains(info.suffix(), Qt::CaseInsensitive)) return {};
    return path;
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event) {
    if (droppedSourcePath(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent *event) {
    if (droppedSourcePath(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event) {
    const QString path = droppedSourcePath(event->mimeData());
    if (path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (onDropSource) onDropSource(path);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        auto *push = qobject_cast<QPushButton *>(watched);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (push && enter && !(key->modifiers() & ~Qt::KeypadModifier)) {
            if (!key->isAutoRepeat()) push->click();
            return true;
        }
    }
    if (event->type() == QEvent::ShortcutOverride) {
        // Swallowing the override leaves the key to the menu's shortcut.
        const QKeySequence pressed(static_cast<QKeyEvent *>(event)->keyCombination());
        for (const QAction *action : {Open, An})
            if (action->shortcut() == pressed) return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::focusNextPrevChild(bool next) {
    QWidget *from = focusWidget();
    if (!from || !isAncestorOf(from)) return QMainWindow::focusNextPrevChild(next);
    QWidget *to = nextTabStop(from, next);
    if (to) to->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return to != nullptr;
}

const std::array<QRadioButton *, 3> *MainWindow::groupOf(const QWidget *w) const {
    for (const auto *group : {&Option, &Option1})
        if (std::find(group->begin(), group->end(), w) != group->end()) return group;
    return nullptr;
}

bool MainWindow::liesBelowClientArea(const QWidget *w) const {
    const int clientHeight = height() - menuBarHeight();
    return w->mapTo(centralWidget(), QPoint(0, 0)).y() >= clientHeight;
}

QWidget *MainWindow::nextTabStop(QWidget *from, bool forward) const {
    const auto *fromGroup = groupOf(from);
    // The focus chain is a ring; once round it is enough.
    qsizetype left = findChildren<QWidget *>().size() + 1;
    for (QWidget *w = from; left-- > 0;) {
        w = forward ? w->nextInFocusChain() : w->previousInFocusChain();
        if (w == from) return nullptr;
        if (!(w->focusPolicy() & Qt::TabFocus) || !w->isEnabled() || !w->isVisibleTo(this) ||
            !isAncestorOf(w) || liesBelowClientArea(w))
            continue;
        if (const auto *group = groupOf(w)) {
            if (group == fromGroup) continue;
            const bool chosenTakesIt = std::any_of(group->begin(), group->end(), [](auto *b) {
                return b->isChecked() && b->isEnabled();
            });
            if (chosenTakesIt && !static_cast<QRadioButton *>(w)->isChecked()) continue;
        }
        return w;
    }
    return nullptr;
}

// ---- Commands ---------------------------------------------------------------

bool MainWindow::browse() {
    return onBrowse ? onBrowse() : true;
}

void MainWindow::Command1_Click() {
    browse();
}

void MainWindow::Command3_Click() {
    if (onConvert) onConvert();
}

void MainWindow::Open_Click() {
    browse();
}

void MainWindow::En_Click() {
    unload();
}

void MainWindow::An_Click() {
    if (Text1->text().isEmpty() && !browse()) return; // reported; the program keeps running
    Command3_Click(); // also when Browse left Text1 empty: Convert then does nothing
    unload();
}

// ---- Option panels and details toggle ---------------------------------------

void MainWindow::enablePanel(int panel, int16_t enabled) {
    for (std::string_view name : panelControls(static_cast<Panel>(panel)))
        if (auto *widget = qobject_cast<QWidget *>(control(name)))
            widget->setEnabled(enabled != kFalse);
}

void MainWindow::EnableBmpOptions(int16_t enabled) {
    enablePanel(static_cast<int>(Panel::Bmp), enabled);
}
void MainWindow::EnableJpegOptions(int16_t enabled) {
    enablePanel(static_cast<int>(Panel::Jpeg), enabled);
}
void MainWindow::EnablePngOptions(int16_t enabled) {
    enablePanel(static_cast<int>(Panel::Png), enabled);
}

void MainWindow::Option_Click(int Index) {
    applyIndexRule(settings_.formatIndex, Index);
    const auto states = panelStatesForFormat(Index);
    EnableBmpOptions(states[0] ? kTrue : kFalse);
    EnableJpegOptions(states[1] ? kTrue : kFalse);
    EnablePngOptions(states[2] ? kTrue : kFalse);
}

void MainWindow::Option1_Click(int Index) {
    applyIndexRule(settings_.bitDepthIndex, Index);
    Check1->setEnabled(rleEnabledForBitDepth(Index)); // the check mark stays
}

void MainWindow::Command4_Click() {
    const ToggleOutcome outcome = detailsToggle(outerHeightTwips());
    setOuterHeightTwips(outcome.heightTwips);
    Command4->setText(u8(outcome.caption));
    settings_.detailsShown = outcome.detailsShown;
    // The focus does not stay on a control the collapse hid (Alt+S leaves it
    // where it was): it goes to the button, as a click would put it.
    if (QWidget *focus = focusWidget(); focus && isAncestorOf(focus) && liesBelowClientArea(focus))
        Command4->setFocus(Qt::OtherFocusReason);
}

// ---- Settings writers -------------------------------------------------------

void MainWindow::Text3_Change() {
    applyNumberRule(settings_.grayLevel, Text3->text().toStdString());
}
void MainWindow::Text4_Change() {
    applyNumberRule(settings_.jpegQuality, Text4->text().toStdString());
}
void MainWindow::Text5_Change() {
    applyNumberRule(settings_.pngLevel, Text5->text().toStdString());
}
void MainWindow::Check3_Click() {
    applyCheckRule(settings_.progressive, checkValue(Check3));
}
void MainWindow::Check4_Click() {
    applyCheckRule(settings_.interlaced, checkValue(Check4));
}

} // namespace nubaro
