// SPDX-License-Identifier: MIT
#include "error_box.h"

#include <QApplication>
#include <QLabel>
#include <QLibraryInfo>
#include <QScreen>
#include <QTranslator>

#include <algorithm>

namespace convert {

ErrorBox::ErrorBox(QWidget *parent)
    : parent_(parent), runner_([](QMessageBox &box) { box.exec(); }) {}

namespace {

// QMessageBox wraps its text at a fixed width, and Japanese wraps between any
// two characters: each label is made at least as wide as its longest line
// (within most of the screen), so that every line stays whole.
void widenToLongestLine(QMessageBox &box) {
    const QScreen *screen = box.screen() ? box.screen() : QGuiApplication::primaryScreen();
    const int limit = screen ? screen->availableGeometry().width() * 3 / 4 : 800;
    for (const char *name : {"qt_msgbox_label", "qt_msgbox_informativelabel"}) {
        auto *label = box.findChild<QLabel *>(QString::fromLatin1(name));
        if (!label) continue;
        const bool wrap = label->wordWrap();
        label->setWordWrap(false); // the hint is then the unbroken width
        label->setMinimumWidth(std::min(label->sizeHint().width(), limit));
        label->setWordWrap(wrap);
    }
}

} // namespace

void ErrorBox::show(const std::string &text, const std::string &title, const std::string &details) {
    const QString shownText = QString::fromStdString(text);
    const QString shownDetails = QString::fromStdString(details);
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title), shownText, QMessageBox::Ok,
                    parent_);
    box.setTextFormat(Qt::PlainText);
    // Shown at once below the text, without a click on a details button, as
    // plain text like the text itself.
    if (!shownDetails.isEmpty()) {
        box.setInformativeText(shownDetails);
        if (auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
            label->setTextFormat(Qt::PlainText);
    }
    widenToLongestLine(box);
    runner_(box);
}

bool installJapanese() {
    auto *app = QCoreApplication::instance();
    if (!app) return false;
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    auto *translator = new QTranslator(app);
    if (!translator->load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

void setWaitCursor(bool on) {
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

} // namespace convert
