// SPDX-License-Identifier: MIT
// Saves that fail during Convert, with the real library: the box shows the
// conversion text, and below it the output file and the cause in Japanese;
// an existing target stays byte for byte and no temporary file is left.
#include "commands.h"
#include "corpus.h"
#include "failure_text.h"
#include "fakes.h"
#include "imgctl_library.h"
#include "qt_view.h"

#include "../imgctl/public/mount_child.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace convert_test;
using testing_support::listing;
using testing_support::readText;
using testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

struct Format {
    const char *name;
    int16_t index;
};
void PrintTo(const Format &f, std::ostream *os) {
    *os << f.name;
}

const Format kFormats[] = {{"Bmp", 0}, {"Jpeg", 1}, {"Png", 2}};

const std::string kOld = "the old file, which a failed conversion must keep";

// Runs `check` in a child process; as the user nobody when this test runs as
// root (root may write any file). What it returns comes back, "" when it passed.
std::string inChild(bool asNobody, const std::function<std::string()> &check) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    const pid_t pid = fork();
    if (pid < 0) return "fork failed";
    if (pid == 0) {
        close(fds[0]);
        std::string text = "cannot become nobody";
        if (!asNobody || (setgid(65534) == 0 && setuid(65534) == 0)) text = check();
        (void)!write(fds[1], text.data(), text.size());
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        text.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return "the child died";
    return text;
}

class SaveFailure : public ::testing::TestWithParam<Format> {
  protected:
    SaveFailure() {
        settings.formatIndex = GetParam().index;
        settings.jpegQuality = 90;
        settings.pngLevel = 5;
        view.text = testing_support::corpus("jpeg/baseline-444.jpg").string();
        dialog.Flags = 2;
        lib.DeleteDIB(0); // loaded now, before any child process
    }

    // Converts into `target`; "" when the box shows the conversion text and,
    // as its details, the target and `cause`, otherwise what was wrong.
    std::string convertFails(const fs::path &target, const std::string &cause) {
        box.shown.clear();
        dialog.answers.push_back({true, target.string(), 1});
        commands.convert();
        if (box.shown.size() != 1) return "no box; ";
        const std::string shown = box.shown[0].text + "|" + box.shown[0].details;
        const std::string want = convert::errorText(convert::kConvertFailedText) + "|ファイル：" +
                                 target.string() + "\n原因：" + cause;
        return shown == want ? "" : "the box says \"" + shown + "\", not \"" + want + "\"; ";
    }

    // The folder holds only `names`, the old target is unchanged.
    static std::string intact(const fs::path &folder, const std::set<std::string> &names,
                              const fs::path &target) {
        std::string problems;
        if (listing(folder) != names) problems += "a temporary file was left behind; ";
        if (readText(target) != kOld) problems += "the old target changed; ";
        return problems;
    }

    imagelib::ImgctlLibrary lib;
    ScriptedDialog dialog;
    RecordingBox box;
    ImageView view;
    ConversionSettings settings;
    convert::ConversionCommands commands{lib, dialog, box, view, settings};
    TempDir dir;
};

TEST_P(SaveFailure, MissingFolderFileInThePathAndFolderTarget) {
    std::ofstream(dir / "file", std::ios::binary) << kOld;
    fs::create_directory(dir / "folder.out");
    const std::string noFolder = "保存先のフォルダーがありません。";
    const std::string cannotWrite = "ファイルを書き込めません。";
    EXPECT_EQ(convertFails(dir / "missing" / "out", noFolder), "");
    EXPECT_EQ(convertFails(dir / "file" / "out", noFolder), "");
    EXPECT_EQ(convertFails(dir / "folder.out", cannotWrite), "");
    EXPECT_EQ(convertFails(dir / std::string(4000, 'n'), cannotWrite), "")
        << "a name of 4,000 characters";
    EXPECT_EQ(intact(dir.path(), {"file", "folder.out"}, dir / "file"), "");
    EXPECT_TRUE(fs::is_empty(dir / "folder.out"));
}

// A file the user may not write, in a folder the user may write: kept.
TEST_P(SaveFailure, ReadOnlyTargetIsKept) {
    const fs::path target = dir / "target";
    std::ofstream(target, std::ios::binary) << kOld;
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(dir.path().c_str(), 65534, 65534), 0);
    }
    EXPECT_EQ(inChild(root,
                      [&] {
                          return convertFails(target, "アクセスする権限がありません。") +
                                 intact(dir.path(), {"target"}, target);
                      }),
              "");
    EXPECT_EQ(readText(target), kOld);
}

TEST_P(SaveFailure, ReadOnlyFileSystem) {
    const fs::path mnt = dir / "mnt", target = mnt / "target";
    fs::create_directory(mnt);
    auto outcome = mount_child::run(
        mnt.string(), 1024, true,
        [&] {
            std::ofstream(target, std::ios::binary) << kOld;
            return std::string();
        },
        [&] {
            return convertFails(target, "アクセスする権限がありません。") +
                   intact(mnt, {"target"}, target);
        });
    if (outcome.skipped) GTEST_SKIP() << "this machine refuses the mount: " << outcome.failure;
    EXPECT_EQ(outcome.failure, "");
}

TEST_P(SaveFailure, FullDisk) {
    const fs::path mnt = dir / "mnt", target = mnt / "target";
    fs::create_directory(mnt);
    auto outcome = mount_child::run(
        mnt.string(), 64, false,
        [&] {
            std::ofstream(mnt / "filler", std::ios::binary) << std::string(56 * 1024, 'x');
            std::ofstream(target, std::ios::binary) << kOld;
            return std::string();
        },
        [&] {
            return convertFails(target, "ディスクの空きが足りません。") +
                   intact(mnt, {"filler", "target"}, target);
        });
    if (outcome.skipped) GTEST_SKIP() << "this machine refuses the mount: " << outcome.failure;
    EXPECT_EQ(outcome.failure, "");
}

// The file-size limit raises SIGXFSZ on a write past it; the library blocks
// the signal and fails the save instead. Needs no mount.
TEST_P(SaveFailure, FileSizeLimit) {
    const fs::path target = dir / "target";
    std::ofstream(target, std::ios::binary) << kOld;
    EXPECT_EQ(inChild(false,
                      [&] {
                          rlimit limit{4096, 4096};
                          setrlimit(RLIMIT_FSIZE, &limit);
                          return convertFails(target, "ディスクの空きが足りません。") +
                                 intact(dir.path(), {"target"}, target);
                      }),
              "");
    EXPECT_EQ(intact(dir.path(), {"target"}, target), "");
}

INSTANTIATE_TEST_SUITE_P(Formats, SaveFailure, ::testing::ValuesIn(kFormats),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
