// SPDX-License-Identifier: MIT
// Saves that fail during Convert, with the real library: the chain reports a
// failure in the convert stage naming the save, holds the image for release,
// leaves an existing target byte for byte and no temporary file behind.
#include "chain.h"
#include "corpus.h"
#include "imgctl_library.h"

#include "../imgctl/public/mount_child.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <sys/resource.h>

using testing_support::listing;
using testing_support::readFile;
using testing_support::readText;
using testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

struct Format {
    const char *name;
    int16_t index;
    const char *saveFunction;
};
void PrintTo(const Format &f, std::ostream *os) {
    *os << f.name;
}

const Format kFormats[] = {{"Bmp", 0, "DIBtoBMP"}, {"Jpeg", 1, "DIBtoJPG"}, {"Png", 2, "DIBtoPNG"}};

const std::string kOld = "the old file, which a failed conversion must keep";

class ConvertFailure : public ::testing::TestWithParam<Format> {
  protected:
    ConvertFailure() {
        settings.formatIndex = GetParam().index;
        settings.bitDepthIndex = 0;
        settings.jpegQuality = 90;
        source = testing_support::corpus("jpeg/baseline-444.jpg").string();
    }

    // Runs the chain into `target`; "" when it failed as a save failure
    // should, otherwise what was wrong.
    std::string convertFails(const fs::path &target) {
        convert::ChainResult r = convert::runChain(lib, settings, false, source, target.string());
        std::string problems;
        if (!r.failed) return "the conversion succeeded";
        if (r.stage != convert::Stage::Convert) problems += "failed in another stage; ";
        if (r.cause.find(GetParam().saveFunction) == std::string::npos)
            problems += "cause \"" + r.cause + "\" does not name the save; ";
        if (r.heldImage <= 0) problems += "no image held for release; ";
        convert::releaseHeldImage(lib, r);
        return problems;
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
    ConversionSettings settings;
    std::string source;
    TempDir dir;
};

TEST_P(ConvertFailure, MissingFolderFileInThePathAndFolderTarget) {
    std::ofstream(dir / "file", std::ios::binary) << kOld;
    fs::create_directory(dir / "folder.out");
    EXPECT_EQ(convertFails(dir / "missing" / "out"), "");
    EXPECT_EQ(convertFails(dir / "file" / "out"), "");
    EXPECT_EQ(convertFails(dir / "folder.out"), "");
    EXPECT_EQ(convertFails(dir / std::string(4000, 'n')), "") << "a name of 4,000 characters";
    EXPECT_EQ(intact(dir.path(), {"file", "folder.out"}, dir / "file"), "");
    EXPECT_TRUE(fs::is_empty(dir / "folder.out"));
}

TEST_P(ConvertFailure, ReadOnlyFileSystem) {
    const fs::path mnt = dir / "mnt", target = mnt / "target";
    fs::create_directory(mnt);
    auto outcome = mount_child::run(
        mnt.string(), 1024, true,
        [&] {
            std::ofstream(target, std::ios::binary) << kOld;
            return std::string();
        },
        [&] { return convertFails(target) + intact(mnt, {"target"}, target); });
    if (outcome.skipped) GTEST_SKIP() << "this machine refuses the mount: " << outcome.failure;
    EXPECT_EQ(outcome.failure, "");
}

TEST_P(ConvertFailure, FullDisk) {
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
            return convertFails(target) + intact(mnt, {"filler", "target"}, target);
        });
    if (outcome.skipped) GTEST_SKIP() << "this machine refuses the mount: " << outcome.failure;
    EXPECT_EQ(outcome.failure, "");
}

// The file-size limit raises SIGXFSZ on a write past it; the library blocks
// the signal and fails the save instead. Needs no mount.
TEST_P(ConvertFailure, FileSizeLimit) {
    const fs::path target = dir / "target";
    std::ofstream(target, std::ios::binary) << kOld;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string text = convertFails(target) + intact(dir.path(), {"target"}, target);
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
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died";
    EXPECT_EQ(text, "");
    EXPECT_EQ(intact(dir.path(), {"target"}, target), "");
}

INSTANTIATE_TEST_SUITE_P(Formats, ConvertFailure, ::testing::ValuesIn(kFormats),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
