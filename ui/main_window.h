// SPDX-License-Identifier: MIT
// MainWindow: the program's one window. It holds the controls under their
// names on the form, the one ConversionSettings record, and one handler per
// control event, named after the control and the event. The rules the
// handlers apply live in Qt-free code (settings/settings_rules.h,
// ui/window_rules.h, ui/spinner_logic.h); the handlers only read the controls
// and apply them.
//
// Hooks for the conversion code. The window does not itself browse, convert or
// own the file dialog; it calls these function objects, which are empty (do
// nothing) until the program plugs its conversion code in:
//
//   onBrowse          the Browse action: Command1_Click and Open_Click run it,
//                     An_Click runs it when Text1 is empty. It returns false
//                     when it met a failure and reported it; An_Click then
//                     keeps the window open instead of going on.
//   onConvert         the Convert action: Command3_Click and An_Click run it.
//   onSetDialogFlags  start-up's last step hands CommonDialog1 its Flags (2,
//                     the overwrite prompt) through this.
//   onDropSource      one local image file dropped onto the window: the
//                     path to take as the source, as Browse takes the name
//                     its dialog returns (see droppedSourcePath()).
//   onEndProgram      the last step of Form_Unload. The default ends the
//                     process at once (nothing else runs); tests replace it
//                     so the test process survives. endProgram() calls it,
//                     for other code that has to end the program.
//
// What the conversion code reads and writes: settings(), sourceText() /
// setSourceText() (Text1), check1Value() (Check1: 0 unchecked, 1 checked),
// and Picture1 (draw into Picture1->image(), then Picture1->refresh()).
//
// Starting the program: make the window, plug in the hooks, call Form_Load(),
// then show() it.
#pragma once

#include "conversion_settings.h"
#include "picture_box.h"

#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;

class QMenu;
class QMimeData;
class QPushButton;
class QRadioButton;

namespace nubaro {

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // ---- Hooks (see above) ----
    std::function<bool()> onBrowse;
    std::function<void()> onConvert;
    std::function<void(const QString &)> onDropSource;
    std::function<void(int32_t)> onSetDialogFlags;
    std::function<void()> onEndProgram;
    // Called after each numbered step of Form_Load with the step's number
    // (1 to 7), so tests can see the state between the steps.
    std::function<void(int)> onLoadStep;
    // ---- What other code reads and writes ----
    ConversionSettings &settings() { return settings_; }
    const ConversionSettings &settings() const { return settings_; }
    QString sourceText() const;
    void setSourceText(const QString &text);
    int check1Value() const;

    // The window's outer height in twips (title bar, menu bar and borders as
    // the form counts them), read and set as the details toggle does.
    int outerHeightTwips() const;
    void setOuterHeightTwips(int twips);

    // A control or menu item by its name on the form ("Text1", "Option(2)",
    // "Option1(0)", "Open"), or null.
    QObject *control(std::string_view name) const;

    // The path a drop would take as the source: the one local file of the
    // drag, if it is a file of a type the open dialog lists; otherwise empty
    // (several files, a folder, a remote address, any other type).
    static QString droppedSourcePath(const QMimeData *data);

    // Unloads the window (runs Form_Unload once, whatever asks for it).
    void unload();
    // Ends the program through onEndProgram.
    void endProgram();

    // ---- Controls, by their names on the form ----
    QMenu *File = nullptr;
    QAction *Open = nullptr;
    QAction *En = nullptr;
    QAction *An = nullptr;

    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QPushButton *Command1 = nullptr;
    QLabel *Label2 = nullptr;
    PictureBox *Picture1 = nullptr;
    QGroupBox *Frame4 = nullptr;
    std::array<QRadioButton *, 3> Option{};
    QPushButton *Command4 = nullptr;
    QPushButton *Command3 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QGroupBox *Frame3 = nullptr;
    QGroupBox *Frame1 = nullptr;
    std::array<QRadioButton *, 3> Option1{};
    QCheckBox *Check1 = nullptr;
    QLabel *Label3 = nullptr;
    QPointer<QLineEdit> Text3; // destroyed by Form_Unload
    QGroupBox *Frame5 = nullptr;
    QLabel *Label5 = nullptr;
    QPointer<QLineEdit> Text4;
    QCheckBox *Check3 = nullptr;
    QGroupBox *Frame6 = nullptr;
    QLabel *Label6 = nullptr;
    QPointer<QLineEdit> Text5;
    QCheckBox *Check4 = nullptr;

  public slots:
    void Form_Load();
    void Form_Unload();

    void Command1_Click();
    void Command3_Click();
    void Command4_Click();
    void Option_Click(int Index);
    void Option1_Click(int Index);
    void Text3_Change();
    void Text4_Change();
    void Text5_Change();
    void Check3_Click();
    void Check4_Click();
    void Open_Click();
    void En_Click();
    void An_Click();

    // The panel procedures: set the enabled state (a 16-bit truth value) of
    // their panel's controls, in the panel table's order.
    void EnableBmpOptions(int16_t enabled);
    void EnableJpegOptions(int16_t enabled);
    void EnablePngOptions(int16_t enabled);

  protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Tab and Shift+Tab: the next stop of the form's tab order (nextTabStop).
    bool focusNextPrevChild(bool next) override;

  private:
    void buildMenu();
    void buildControls();
    void applyTabOrder();
    void enablePanel(int panel, int16_t enabled);
    void loadStepDone(int step);
    // Runs the Browse hook; false when Browse met a failure and reported it.
    bool browse();
    // The control Tab (forward) or Shift+Tab moves the focus to from `from`,
    // in the form's tab order, or null. Passed over: controls that cannot take
    // the focus now (disabled or hidden), controls that lie below the client
    // area (the options area while the window is collapsed), and the other
    // buttons of a group of option buttons, which is one stop, at its chosen
    // button.
    QWidget *nextTabStop(QWidget *from, bool forward) const;
    bool liesBelowClientArea(const QWidget *w) const;
    const std::array<QRadioButton *, 3> *groupOf(const QWidget *w) const;
    int menuBarHeight() const;

    ConversionSettings settings_;
    bool unloaded_ = false;
};

} // namespace nubaro
