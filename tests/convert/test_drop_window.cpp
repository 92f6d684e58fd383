// SPDX-License-Identifier: MIT
// Dropping files onto the real main window, with the recording library: one
// local image file becomes the source as a confirmed open dialog's name does;
// anything else is refused at the drag and changes nothing when dropped.
#include "corpus.h"
#include "wired_window.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <gtest/gtest.h>

#include <fstream>

using namespace convert_test;
using testing_support::TempDir;

namespace {

void touch(const std::filesystem::path &path) {
    std::ofstream(path) << "x";
}

QUrl fileUrl(const std::filesystem::path &path) {
    return QUrl::fromLocalFile(QString::fromStdString(path.string()));
}

class DropOnWindow : public WiredWindow {
  protected:
    // Sends a drag entering the window's centre; true when the window takes it.
    bool dragEnter(const QMimeData &data) {
        QDragEnterEvent enter(window->rect().center(), Qt::CopyAction | Qt::LinkAction, &data,
                              Qt::LeftButton, Qt::NoModifier);
        enter.ignore();
        QApplication::sendEvent(window.get(), &enter);
        return enter.isAccepted();
    }

    // Drops the data on the window; true when the window takes it.
    bool drop(const QMimeData &data) {
        QDropEvent event(QPointF(window->rect().center()), Qt::CopyAction | Qt::LinkAction, &data,
                         Qt::LeftButton, Qt::NoModifier);
        event.ignore();
        QApplication::sendEvent(window.get(), &event);
        return event.isAccepted();
    }

    TempDir dir;
};

TEST_F(DropOnWindow, OneImageFileIsTakenAsBrowseTakesItsName) {
    // A Browse under the JPEG entry first: the drop must leave filterIndex and
    // the dialog as they are.
    dialog.answers.push_back({true, "/p/a.jpg", 2});
    window->Command1_Click();
    ASSERT_EQ(window->settings().filterIndex, 2);
    const auto shownBefore = dialog.shown.size();
    const std::string dialogName = dialog.FileName;
    lib.clear();

    const auto path = dir / "写真 1.PNG"; // the suffix compared without case
    touch(path);
    QMimeData data;
    data.setUrls({fileUrl(path)});
    EXPECT_TRUE(dragEnter(data));
    EXPECT_TRUE(drop(data));

    const std::string expected = path.string();
    EXPECT_EQ(window->sourceText(), QString::fromStdString(expected));
    EXPECT_EQ(window->settings().sourcePath, expected);
    EXPECT_EQ(window->settings().filterIndex, 2);
    EXPECT_EQ(dialog.shown.size(), shownBefore) << "no dialog for a drop";
    EXPECT_EQ(dialog.FileName, dialogName);
    // The same preview calls as after the open dialog.
    ASSERT_EQ(lib.calls.size(), 4u);
    EXPECT_EQ(lib.calls[0].text, "ToDIB(" + expected + ")");
    EXPECT_EQ(lib.calls[2].text.rfind("DIBtoDCex2(33x33,0,0,33,33,", 0), 0u) << lib.calls[2].text;
    EXPECT_EQ(lib.calls[3].text.rfind("DeleteDIB(", 0), 0u);
    EXPECT_TRUE(lib.liveImages.empty());
    EXPECT_TRUE(box.shown.empty());
}

// A file dropped on Text1 is a new source, not text typed into the box (a
// file manager's drag carries the path as text as well).
TEST_F(DropOnWindow, DroppingOnText1ReachesTheWindow) {
    window->setSourceText("/p/before.bmp");
    const auto path = dir / "d.bmp";
    touch(path);
    QMimeData data;
    data.setUrls({fileUrl(path)});
    data.setText(QString::fromStdString(path.string()));
    const QPoint at = window->Text1->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    enter.ignore();
    QApplication::sendEvent(window->Text1, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent event(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    event.ignore();
    QApplication::sendEvent(window->Text1, &event);
    EXPECT_EQ(window->sourceText(), QString::fromStdString(path.string()));
    EXPECT_EQ(window->settings().sourcePath, path.string());
    ASSERT_FALSE(lib.calls.empty());
    EXPECT_EQ(lib.calls[0].text, "ToDIB(" + path.string() + ")");
}

// What is refused, each on its own: a drag of this data is not taken and a
// drop of it changes nothing.
enum class Refused { TwoFiles, Remote, Folder, OtherType, Missing, TextOnly, NoSuffix };

class DropRefused : public DropOnWindow, public ::testing::WithParamInterface<Refused> {};

TEST_P(DropRefused, NothingChanges) {
    window->setSourceText("/p/before.bmp");
    window->settings().sourcePath = "/p/before.bmp";
    const auto a = dir / "a.bmp";
    const auto b = dir / "b.png";
    touch(a);
    touch(b);
    std::filesystem::create_directory(dir / "pictures.png");
    touch(dir / "notes.txt");
    touch(dir / "png");

    QMimeData data;
    switch (GetParam()) {
    case Refused::TwoFiles:
        data.setUrls({fileUrl(a), fileUrl(b)});
        break;
    case Refused::Remote:
        data.setUrls({QUrl(QStringLiteral("https://example.org/a.png"))});
        break;
    case Refused::Folder:
        data.setUrls({fileUrl(dir / "pictures.png")});
        break;
    case Refused::OtherType:
        data.setUrls({fileUrl(dir / "notes.txt")});
        break;
    case Refused::Missing:
        data.setUrls({fileUrl(dir / "gone.jpg")});
        break;
    case Refused::TextOnly:
        data.setText(QString::fromStdString(a.string()));
        break;
    case Refused::NoSuffix:
        data.setUrls({fileUrl(dir / "png")});
        break;
    }
    EXPECT_TRUE(nubaro::MainWindow::droppedSourcePath(&data).isEmpty());
    EXPECT_FALSE(dragEnter(data));
    // Qt delivers a drop only after an accepted drag; let one of a good file
    // in first, so the drop of this data reaches the window's own check.
    QMimeData good;
    good.setUrls({fileUrl(a)});
    ASSERT_TRUE(dragEnter(good));
    EXPECT_FALSE(drop(data));
    EXPECT_EQ(window->sourceText(), QStringLiteral("/p/before.bmp"));
    EXPECT_EQ(window->settings().sourcePath, "/p/before.bmp");
    EXPECT_EQ(window->settings().filterIndex, 0);
    EXPECT_TRUE(lib.calls.empty());
    EXPECT_TRUE(log.empty());
}

INSTANTIATE_TEST_SUITE_P(Drops, DropRefused,
                         ::testing::Values(Refused::TwoFiles, Refused::Remote, Refused::Folder,
                                           Refused::OtherType, Refused::Missing, Refused::TextOnly,
                                           Refused::NoSuffix));

// A library that cannot be reached: named in the box, the source as it was.
TEST_F(DropOnWindow, LibraryMissingKeepsTheOldSource) {
    window->setSourceText("/p/before.bmp");
    window->settings().sourcePath = "/p/before.bmp";
    lib.libraryMissing = true;
    const auto path = dir / "c.jpeg";
    touch(path);
    QMimeData data;
    data.setUrls({fileUrl(path)});
    EXPECT_TRUE(dragEnter(data));
    EXPECT_TRUE(drop(data));
    EXPECT_EQ(log, (std::vector<std::string>{"Box"}));
    EXPECT_EQ(window->sourceText(), QStringLiteral("/p/before.bmp"));
    EXPECT_EQ(window->settings().sourcePath, "/p/before.bmp");
}

} // namespace
