// SPDX-License-Identifier: MIT
// The commands plugged into the real main window, over the recording library,
// a scripted dialog and a recording box: what each button, menu item, key and
// drop runs, as one trace of dialogs, library calls and boxes. Ending the
// program is traced as "End" instead of ending the test process.
#include "corpus.h"
#include "fakes.h"
#include "main_window.h"
#include "window_wiring.h"

#include <QApplication>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeySequence>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <memory>

using namespace convert_test;
using nubaro::MainWindow;
using testing_support::corpus;

namespace {

bool waitCursorOn() {
    const QCursor *c = QApplication::overrideCursor();
    return c && c->shape() == Qt::WaitCursor;
}

// The wait cursor is on while the library loads, converts and saves (the
// commands hold it over the whole chain), and off again before a box: the
// trace notes a load without it ("NoWait") and a box with it ("Wait").
struct CursorNotingLibrary : RecordingLibrary {
    int32_t ToDIB(const char *path) override {
        if (!waitCursorOn()) note(this, "NoWait");
        return RecordingLibrary::ToDIB(path);
    }
};

struct CursorNotingBox : RecordingBox {
    void show(const std::string &text, const std::string &title,
              const std::string &details) override {
        if (waitCursorOn()) note(trace, "Wait");
        RecordingBox::show(text, title, details);
    }
};

// Files dragged onto `target` as a file manager drags them (their paths as
// text as well), and dropped if the drag is taken.
void drop(QWidget *target, const QStringList &paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    data.setUrls(urls);
    data.setText(paths.join('\n'));
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    enter.ignore();
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return; // Qt delivers no drop after a refused drag
    QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropped);
}

// Works the window as an action says: steps separated by spaces, each the
// name of a control to click or a menu item to choose, or keys (separated by
// commas) pressed with the focus on a control: "Alt+F,O@Text1", or files
// (separated by commas) dropped on the window or a control: "Drop:/a.png@Text1". Each key
// goes to the open menu, if any; an access key's delayed click is waited for.
void act(MainWindow &w, const QString &action) {
    for (const QString &step : action.split(' ', Qt::SkipEmptyParts)) {
        const QStringList parts = step.split('@');
        if (step.startsWith("Drop:")) {
            drop(parts.size() > 1 ? qobject_cast<QWidget *>(w.control(parts[1].toStdString())) : &w,
                 parts[0].mid(5).split(','));
            continue;
        }
        QObject *target = w.control(parts.last().toStdString());
        if (auto *item = qobject_cast<QAction *>(target)) {
            item->trigger();
        } else if (parts.size() == 1) {
            QTest::mouseClick(qobject_cast<QWidget *>(target), Qt::LeftButton);
        } else {
            qobject_cast<QWidget *>(target)->setFocus();
            for (const QString &key : parts[0].split(',')) {
                const QKeyCombination k = QKeySequence(key)[0];
                // The unload may destroy the focus under the key.
                QPointer<QWidget> to = QApplication::activePopupWidget()
                                           ? QApplication::activePopupWidget()
                                           : QApplication::focusWidget();
                QTest::keyPress(to, k.key(), k.keyboardModifiers());
                if (to) QTest::keyRelease(to, k.key(), k.keyboardModifiers());
                QTest::qWait(300);
            }
        }
    }
}

std::string preview(const std::string &path) {
    return "ToDIB(" + path +
           ") HeadDIB(11) DIBtoDCex2(33x33,0,0,33,33,11,0,0,640,480,0xCC0020,4) DeleteDIB(11)";
}

enum Library { Works, LoadFails, Missing };

struct Action {
    const char *name;
    const char *text1; // Text1 before
    std::vector<DialogAnswer> answers;
    Library library;
    std::string action;
    std::string trace;
    const char *text1After = nullptr; // null: as before
};

const DialogAnswer kOpen{true, "/p/a.jpg", 2}, kSave{true, "/o/out", 1};
const std::string kPng = corpus("pngsuite/basn2c08.png").string();
const std::string kBmp = corpus("bmpsuite/g/pal8.bmp").string();
const std::string kOpened = "ShowOpen " + preview("/p/a.jpg");

// Convert and exit (An, Ctrl+A): Browse first when Text1 is empty; the end
// follows whatever Convert did, but not a Browse that met a failure. No
// button is the window's default: Enter elsewhere and Esc press none.
const Action kActions[] = {
    {"BrowseButton", "", {kOpen}, Works, "Command1", kOpened, "/p/a.jpg"},
    {"CtrlOInText3", "", {}, Works, "Ctrl+O@Text3", "ShowOpen"},
    {"KeypadEnterOnCommand1", "", {}, Works, "Num+Enter@Command1", "ShowOpen"},
    {"AltFThenO", "", {}, Works, "Alt+F,O@Text1", "ShowOpen"},
    {"ConvertButtonReadsTheSettingsAndCheck1",
     "/p/in.bmp",
     {kSave},
     Works,
     "Option1(2) Check1 Command3",
     "ShowSave ToDIB(/p/in.bmp) RLEtoDIB(11) DIBto8Bit(12,0,0) DIBtoRLE(13) GrayDIB(14,0) "
     "DIBtoBMP(/o/out,15) DeleteDIB(15)"},
    // Each check box writes its own field, which another format's choice keeps.
    {"Check3MakesTheJpegProgressive",
     "/p/a.bmp",
     {kSave},
     Works,
     "Option(1) Check3 Option(0) Option(1) Command3",
     "ShowSave ToDIB(/p/a.bmp) DIBtoJPG(/o/out,11,60,-1) DeleteDIB(11)"},
    {"Check4InterlacesThePngWithTheDetailsShown",
     "/p/a.bmp",
     {kSave},
     Works,
     "Command4 Option(2) Check4 Command3",
     "ShowSave ToDIB(/p/a.bmp) DIBtoPNGex(/o/out,11," + pngRecord(0x80, 5) + ") DeleteDIB(11)"},
    {"AltCInText1", "/p/a.bmp", {}, Works, "Alt+C@Text1", "ShowSave"},
    {"EnterOnCommand3", "/p/a.bmp", {}, Works, "Return@Command3", "ShowSave"},
    {"EnterInText1", "/p/a.bmp", {}, Works, "Return@Text1", ""},
    {"CtrlEnterOnCommand3", "/p/a.bmp", {}, Works, "Ctrl+Return@Command3", ""},
    {"EscOnCommand3", "/p/a.bmp", {}, Works, "Esc@Command3", ""},
    {"ConvertAndExitBrowsesFirst",
     "",
     {kOpen, kSave},
     Works,
     "An",
     kOpened + " ShowSave ToDIB(/p/a.jpg) RLEtoDIB(12) DIBto24Bit(13) GrayDIB(14,0) "
               "DIBtoBMP(/o/out,15) DeleteDIB(15) End",
     "/p/a.jpg"},
    {"ConvertAndExitBrowseCancelled", "", {}, Works, "An", "ShowOpen End"},
    {"ConvertAndExitAfterTheFailureBox",
     "/p/a.png",
     {kSave},
     LoadFails,
     "An",
     "ShowSave ToDIB(/p/a.png) ImgctlLastErrorCode() ImgctlLastError() Box End"},
    {"ConvertAndExitLibraryMissingKeepsTheWindow", "", {kOpen}, Missing, "An", "ShowOpen Box"},
    {"CtrlAInText3", "/p/a.bmp", {}, Works, "Ctrl+A@Text3", "ShowSave End"},
    {"AltFThenA", "/p/a.bmp", {}, Works, "Alt+F,A@Text1", "ShowSave End"},
    {"AltFThenE", "/p/a.bmp", {}, Works, "Alt+F,E@Text1", "End"},
    // One image file dropped is taken as the open dialog's name is, without
    // the dialog; anything else dropped is refused.
    {"DropOnTheWindow", "/p/a.bmp", {}, Works, "Drop:" + kPng, preview(kPng), kPng.c_str()},
    {"DropOnText1", "/p/a.bmp", {}, Works, "Drop:" + kBmp + "@Text1", preview(kBmp), kBmp.c_str()},
    {"DropWithTheLibraryMissing", "/p/a.bmp", {}, Missing, "Drop:" + kPng, "Box"},
    {"DropOfTwoFilesIsRefused", "/p/a.bmp", {}, Works, "Drop:" + kPng + "," + kBmp, ""},
};

class Wiring : public ::testing::TestWithParam<Action> {
  protected:
    void SetUp() override {
        window = std::make_unique<MainWindow>();
        window->onEndProgram = [this] { note(&lib, "End"); };
        dialog.trace = box.trace = &lib;
        wiring = std::make_unique<convert::WindowWiring>(*window, lib, dialog, box);
        window->Form_Load();
        ASSERT_EQ(dialog.Flags, 2) << "start-up hands the dialog its flags";
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    CursorNotingLibrary lib;
    ScriptedDialog dialog;
    CursorNotingBox box;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<convert::WindowWiring> wiring;
};

TEST_P(Wiring, TracesDialogsLibraryCallsAndBoxes) {
    const Action &a = GetParam();
    window->setSourceText(QString::fromUtf8(a.text1));
    dialog.answers.assign(a.answers.begin(), a.answers.end());
    lib.libraryMissing = a.library == Missing;
    if (a.library == LoadFails) lib.results["ToDIB"] = {0};
    act(*window, QString::fromStdString(a.action));
    EXPECT_EQ(joined(lib), a.trace);
    EXPECT_EQ(window->sourceText().toStdString(), a.text1After ? a.text1After : a.text1);
    EXPECT_EQ(window->settings().sourcePath, a.text1After ? a.text1After : "");
    // Only a Browse that took a name takes the entry picked; a drop does not.
    const bool browsed = a.text1After && !a.answers.empty();
    EXPECT_EQ(window->settings().filterIndex, browsed ? a.answers[0].filterIndex : 0);
    EXPECT_TRUE(lib.liveImages.empty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "wait cursor left on";
}

INSTANTIATE_TEST_SUITE_P(Actions, Wiring, ::testing::ValuesIn(kActions),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
