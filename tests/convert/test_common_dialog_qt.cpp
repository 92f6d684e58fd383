// SPDX-License-Identifier: MIT
// CommonDialog1 over Qt's real widget file dialog, worked as a user would:
// typing into the name box, changing the type with the keyboard, answering
// the overwrite question.
#include "commands.h"
#include "common_dialog.h"
#include "corpus.h"
#include "error_box.h"
#include "failure_text.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <tuple>

using convert::CommonDialog1;
using testing_support::TempDir;

namespace {

// Calls `act` once with the first active, visible modal widget of type W,
// polling every 10 ms, inside whichever modal loop is running then; keep the
// watch alive for as long as the dialog may come. A dialog still open 20 s
// after the watch began is rejected, so a failed script ends the test
// instead of hanging it.
class ModalWatch {
  public:
    template <typename W> static std::unique_ptr<ModalWatch> on(std::function<void(W *)> act) {
        auto watch = std::make_unique<ModalWatch>();
        ModalWatch *self = watch.get();
        QObject::connect(&self->timer_, &QTimer::timeout, [self, act]() {
            if (auto *w = qobject_cast<W *>(QApplication::activeModalWidget());
                w && w->isVisible()) {
                self->timer_.stop();
                act(w);
            }
        });
        self->timer_.start(10);
        QObject::connect(&self->rescue_, &QTimer::timeout, []() {
            if (auto *stuck = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                ADD_FAILURE() << "a modal dialog was left open";
                stuck->reject();
            }
        });
        self->rescue_.setSingleShot(true);
        self->rescue_.start(20000);
        return watch;
    }

  private:
    QTimer timer_, rescue_;
};

// Replaces the name box's text by typing (character by character: keyClicks
// cannot send non-ASCII text), then presses Enter in it.
void typeNameAndEnter(QFileDialog *d, const QString &name) {
    auto *edit = d->findChild<QLineEdit *>("fileNameEdit");
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    for (QChar ch : name)
        QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    // A completion list may have opened over a matching name; it would take
    // the Enter key.
    if (QCompleter *completer = edit->completer(); completer && completer->popup())
        completer->popup()->hide();
    QTest::keyClick(edit, Qt::Key_Return);
}

// Filter texts as Qt name filters: one per description and pattern list; a
// description left without its patterns at the end is no entry.
TEST(CommonDialog1, FilterTextBecomesQtNameFilters) {
    const std::pair<const char *, QStringList> kFilters[] = {
        {"PINGファイル|*.png", {"PINGファイル (*.png)"}},
        {"A|*.a|B", {"A (*.a)"}},
        {"A| *.a ;;*.b|B|", {"A (*.a *.b)", "B ()"}},
        {"A", {}},
        {"", {}},
    };
    for (const auto &[filter, expected] : kFilters)
        EXPECT_EQ(CommonDialog1::qtNameFilters(filter), expected) << filter;
}

// The open dialog starts on FilterIndex (the first entry while nothing was
// picked) with FileName in the name box, shows the descriptions as written,
// accepts a name that does not exist and appends the extension of the entry
// in effect, also of one picked with the keyboard (the first entry too).
TEST(CommonDialog1, OpenStartsOnFilterIndexAndAppendsTheEntrysExtension) {
    TempDir dir;
    CommonDialog1 dialog;
    dialog.Filter = convert::kOpenFilter;
    dialog.DefaultExt = "png";
    const std::tuple<int16_t, Qt::Key, const char *, int16_t> kRounds[] = {
        {3, Qt::Key_unknown, "新しい 画像.png", 3},
        {0, Qt::Key_Down, "新しい 画像.jpg", 2},
        {2, Qt::Key_Up, "新しい 画像.bmp", 1}};
    for (const auto &[start, pick, expected, index] : kRounds) {
        dialog.FilterIndex = start;
        dialog.FileName = (dir / "前の 名前.png").string();
        QStringList shown;
        QString startName, startDir;
        auto watch = ModalWatch::on<QFileDialog>([&, pick = pick](QFileDialog *d) {
            auto *combo = d->findChild<QComboBox *>("fileTypeCombo");
            for (int i = 0; i < combo->count(); ++i)
                shown << combo->itemText(i);
            shown << QString::number(combo->currentIndex());
            startName = d->findChild<QLineEdit *>("fileNameEdit")->text();
            startDir = d->directory().absolutePath();
            combo->setFocus();
            if (pick != Qt::Key_unknown) QTest::keyClick(combo, pick);
            typeNameAndEnter(d, "新しい 画像");
        });
        ASSERT_TRUE(dialog.ShowOpen());
        EXPECT_EQ(shown,
                  (QStringList{"BMPファイル(*.bmp)", "JPEGファイル(*.jpg,*.jpe,*.jpeg)",
                               "PINGファイル(*.png)", QString::number(std::max(start - 1, 0))}));
        EXPECT_EQ(startName, "前の 名前.png");
        EXPECT_EQ(startDir, QString::fromStdString(dir.path().string()));
        EXPECT_EQ(dialog.FileName, (dir / expected).string());
        EXPECT_EQ(dialog.FilterIndex, index);
    }
}

// The save dialog appends the extension to a name typed without one; it asks
// before replacing a file only when Flags has 2. "No" keeps the dialog open,
// and the user then cancels, which leaves an empty name.
TEST(CommonDialog1, OverwriteQuestionWhenFlagsHasTwo) {
    TempDir dir;
    std::ofstream(dir / "there.png") << "x";
    CommonDialog1 dialog;
    dialog.Filter = "PINGファイル|*.png";
    dialog.DefaultExt = "png";
    const std::tuple<int32_t, const char *, QMessageBox::StandardButton, int, const char *>
        kRounds[] = {{0x280002, "there", QMessageBox::No, 1, ""},
                     {0x280002, "there", QMessageBox::Yes, 1, "there.png"},
                     {0, "there", QMessageBox::Yes, 0, "there.png"},
                     {0x280002, "写真 一.jpeg", QMessageBox::Yes, 0, "写真 一.jpeg"}};
    for (const auto &[flags, typed, button, questions, expected] : kRounds) {
        dialog.Flags = flags;
        // The name box starts with the name about to be typed: the file list,
        // filled from a thread, selects a preset file that exists and writes
        // its name into the box, maybe after the typing.
        dialog.FileName = (dir / typed).string();
        const QMessageBox::StandardButton answer = button;
        const QString name = typed;
        int asked = 0;
        std::unique_ptr<ModalWatch> question;
        auto watch = ModalWatch::on<QFileDialog>([&](QFileDialog *d) {
            question = ModalWatch::on<QMessageBox>([&, d](QMessageBox *box) {
                ++asked;
                ASSERT_NE(box->button(answer), nullptr);
                box->button(answer)->click();
                if (answer == QMessageBox::No)
                    QTimer::singleShot(50, d, [d]() {
                        EXPECT_TRUE(d->isVisible());
                        d->reject();
                    });
            });
            typeNameAndEnter(d, name);
        });
        EXPECT_EQ(dialog.ShowSave(), *expected != '\0');
        EXPECT_EQ(asked, questions) << flags;
        EXPECT_EQ(dialog.FileName, *expected ? (dir / expected).string() : "");
    }
}

// Shown for real: the title, no icon, one OK button, the text and the
// details below it as plain text, no line broken, and it waits for OK.
TEST(ErrorBox, PlainTextAndDetailsWithNoLineBroken) {
    const std::string text = convert::errorText(convert::kConvertFailedText) + "<b>太字?</b>\n";
    const std::string details =
        "ファイル：/tmp/<i>出力</i> ファイル.png\n原因：アクセスする権限がありません。";
    bool clicked = false;
    auto watch = ModalWatch::on<QMessageBox>([&](QMessageBox *b) {
        EXPECT_EQ(b->text().toStdString(), text);
        EXPECT_EQ(b->windowTitle(), "エラー");
        // At once below the text, not behind a details button.
        EXPECT_EQ(b->informativeText().toStdString(), details);
        EXPECT_EQ(b->detailedText(), "");
        EXPECT_EQ(b->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(b->buttons().size(), 1);
        ASSERT_NE(b->button(QMessageBox::Ok), nullptr);
        for (const char *name : {"qt_msgbox_label", "qt_msgbox_informativelabel"}) {
            auto *label = b->findChild<QLabel *>(name);
            ASSERT_NE(label, nullptr) << name;
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << name;
            const QFontMetrics metrics(label->font());
            for (const QString &line : label->text().split('\n'))
                EXPECT_GE(label->contentsRect().width(), metrics.horizontalAdvance(line))
                    << line.toStdString();
        }
        clicked = true;
        b->button(QMessageBox::Ok)->click();
    });
    convert::ErrorBox().show(text, "エラー", details);
    EXPECT_TRUE(clicked);
}

// In the C locale (the test runs so) the file list still shows folders,
// types and dates in Japanese, and the dialog opens wide enough for its side
// bar and every column; cancelled, it keeps the name.
TEST(CommonDialog1, FileListInJapaneseWithWholeColumns) {
    ASSERT_TRUE(convert::installJapanese());
    TempDir dir;
    std::filesystem::create_directory(dir / "写真");
    std::filesystem::copy_file(testing_support::corpus("pngsuite/basn2c08.png"), dir / "a.png");
    const QDateTime stamp(QDate(2001, 2, 3), QTime(14, 5));
    {
        QFile file(QString::fromStdString((dir / "a.png").string()));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(stamp, QFileDevice::FileModificationTime));
    }
    CommonDialog1 dialog;
    dialog.Filter = convert::kOpenFilter;
    dialog.FileName = (dir / "a.png").string();

    std::map<QString, QStringList> rows; // name: size, type, date
    QStringList headers;
    dialog.setRunner([&](QFileDialog &d) {
        d.show();
        auto *tree = d.findChild<QTreeView *>("treeView");
        auto *sideBar = d.findChild<QListView *>("sidebar");
        EXPECT_TRUE(tree && sideBar && QTest::qWaitForWindowExposed(&d));
        const QModelIndex root = tree ? tree->rootIndex() : QModelIndex();
        if (!tree || !sideBar ||
            !QTest::qWaitFor([&] { return tree->model()->rowCount(root) == 2; }))
            return int(QDialog::Rejected);
        QTest::qWait(200); // the types and dates come from a thread
        const QFontMetrics metrics(tree->font());
        int columns = 0;
        for (int c = 0; c < 4; ++c) {
            headers << tree->model()->headerData(c, Qt::Horizontal).toString();
            columns += tree->header()->sectionSize(c);
            for (int r = 0; c > 0 && r < 2; ++r) {
                const QString text = tree->model()->index(r, c, root).data().toString();
                rows[tree->model()->index(r, 0, root).data().toString()] << text;
                EXPECT_LT(metrics.horizontalAdvance(text), tree->header()->sectionSize(c))
                    << text.toStdString() << " is cut off";
            }
        }
        EXPECT_LE(columns, tree->viewport()->width()) << "the columns run past the list";
        // Each place's whole entry, its icon and name, within the side bar.
        for (int r = 0; r < sideBar->model()->rowCount(); ++r) {
            const QModelIndex place = sideBar->model()->index(r, 0);
            EXPECT_LE(sideBar->sizeHintForIndex(place).width(), sideBar->viewport()->width())
                << place.data().toString().toStdString() << " is cut off";
        }
        return int(QDialog::Rejected);
    });
    EXPECT_FALSE(dialog.ShowOpen());
    EXPECT_EQ(dialog.FileName, (dir / "a.png").string()) << "a cancel keeps the name";

    EXPECT_EQ(headers, (QStringList{"名前", "サイズ", "タイプ", "更新日"}));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows["写真"].value(1), "フォルダー");
    EXPECT_EQ(rows["写真"].value(0), "");
    EXPECT_TRUE(rows["a.png"].value(1).contains("画像")) << rows["a.png"].value(1).toStdString();
    EXPECT_EQ(rows["a.png"].value(2), "2001/02/03 14:05");
}

} // namespace
