// SPDX-License-Identifier: MIT
#include "error_box.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace convert {

ErrorBox::ErrorBox(QWidget *parent)
    : parent_(parent), runner_([](QMessageBox &box) { box.exec(); }) {}

void ErrorBox::show(const std::string &text, const std::string &title) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title),
                    QString::fromStdString(text), QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    runner_(box);
}

bool installJapaneseQtTranslations() {
    auto *app = QCoreApplication::instance();
    if (!app) return false;
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
