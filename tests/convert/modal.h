// SPDX-License-Identifier: MIT
// Working Qt's modal dialogs from a test: wait on a short timer until the
// wanted modal widget is active, then act on it.
#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace convert_test {

// Calls `act` once with the first active, visible modal widget of type W,
// polling every 10 ms for at most `tries` polls; `act` runs inside whichever
// modal loop is running then. Polling stops when the watch goes away, so keep
// it alive for as long as the dialog may come. Should a dialog still be open
// 20 s after the watch began, it is rejected, so a script that failed ends
// the test instead of hanging it.
class ModalWatch {
  public:
    template <typename W>
    static std::unique_ptr<ModalWatch> on(std::function<void(W *)> act, int tries = 500) {
        auto watch = std::make_unique<ModalWatch>();
        ModalWatch *self = watch.get();
        self->left_ = tries;
        self->timer_.setInterval(10);
        QObject::connect(&self->timer_, &QTimer::timeout, [self, act]() {
            if (auto *w = qobject_cast<W *>(QApplication::activeModalWidget());
                w && w->isVisible()) {
                self->timer_.stop();
                self->seen_ = true;
                act(w);
                return;
            }
            if (--self->left_ <= 0) self->timer_.stop();
        });
        self->timer_.start();
        self->rescue_.setSingleShot(true);
        QObject::connect(&self->rescue_, &QTimer::timeout, []() {
            if (auto *stuck = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                ADD_FAILURE() << "a modal dialog was left open";
                stuck->reject();
            }
        });
        self->rescue_.start(20000);
        return watch;
    }
    bool seen() const { return seen_; }

  private:
    QTimer timer_;
    QTimer rescue_;
    int left_ = 0;
    bool seen_ = false;
};

// Types text character by character into a widget (QTest::keyClicks cannot
// send non-ASCII text).
inline void typeText(QWidget *w, const QString &text) {
    for (QChar ch : text) {
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

inline QLineEdit *nameEdit(QFileDialog *d) {
    return d->findChild<QLineEdit *>("fileNameEdit");
}
inline QComboBox *typeCombo(QFileDialog *d) {
    return d->findChild<QComboBox *>("fileTypeCombo");
}

// Replaces the name box's text by typing, then presses Enter in it.
inline void typeNameAndEnter(QFileDialog *d, const QString &name) {
    QLineEdit *edit = nameEdit(d);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    typeText(edit, name);
    // A completion list may have opened over a matching name; it would take
    // the Enter key.
    if (QCompleter *completer = edit->completer(); completer && completer->popup()) {
        completer->popup()->hide();
    }
    QTest::keyClick(edit, Qt::Key_Return);
}

inline void clickButton(QMessageBox *box, QMessageBox::StandardButton which) {
    if (QAbstractButton *b = box->button(which)) b->click();
}

} // namespace convert_test
