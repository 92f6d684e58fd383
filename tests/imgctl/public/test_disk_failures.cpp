// SPDX-License-Identifier: MIT
// Saving through each of the four saves: targets the disk refuses (a
// read-only file system, a full disk, the file-size limit, a file that may
// not be written, missing folders, a folder, very long paths) fail naming the
// cause, keep an existing target byte for byte and leave no temporary file
// beside it; a good save replaces the target in place, through a link too,
// keeping its permissions.
#include "corpus.h"
#include "imgctl.h"
#include "mount_child.h"

#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <utility>

using testing_support::listing;
using testing_support::readFile;
using testing_support::readText;
using testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

struct Save {
    const char *name;
    std::function<int32_t(const char *, int32_t)> call;
};

void PrintTo(const Save &s, std::ostream *os) {
    *os << s.name;
}

const Save kSaves[] = {
    {"Bmp", [](const char *p, int32_t h) { return DIBtoBMP(p, h); }},
    {"Jpeg", [](const char *p, int32_t h) { return DIBtoJPG(p, h, 90, 0); }},
    {"Png", [](const char *p, int32_t h) { return DIBtoPNG(p, h, 0); }},
    {"PngEx",
     [](const char *p, int32_t h) {
         PngOptions o{};
         o.flags = IMGCTL_PNG_INTERLACED;
         o.level = 9;
         return DIBtoPNGex(p, h, &o);
     }},
};

const std::string kOld = "the old file, which a failed save must keep";

// In the child: the save must fail with `cause` in the message and the
// category `code`, keep the old target and leave nothing else in the folder.
std::string expectRefused(const Save &save, int32_t image, const fs::path &folder,
                          const std::string &cause, int32_t code) {
    fs::path target = folder / "target.img";
    if (save.call(target.c_str(), image) != 0) return "the save succeeded";
    std::string message = ImgctlLastError();
    std::string problems;
    if (message.find(cause) == std::string::npos)
        problems += "message \"" + message + "\" lacks \"" + cause + "\"; ";
    if (ImgctlLastErrorCode() != code)
        problems += "category " + std::to_string(ImgctlLastErrorCode()) + "; ";
    if (message.find(target.string()) == std::string::npos)
        problems += "message \"" + message + "\" does not name the target; ";
    if (readText(target) != kOld) problems += "the old target changed; ";
    if (listing(folder) != std::set<std::string>{"target.img"})
        problems += "a temporary file was left behind; ";
    return problems;
}

class DiskFailure : public ::testing::TestWithParam<Save> {
  protected:
    void SetUp() override {
        image = ToDIB(testing_support::corpus("jpeg/baseline-444.jpg").c_str());
        ASSERT_GT(image, 0) << ImgctlLastError();
        fs::create_directory(dir / "mnt");
    }
    void TearDown() override { DeleteDIB(image); }
    std::string writeOld() {
        std::ofstream(dir / "mnt" / "target.img", std::ios::binary) << kOld;
        return fs::file_size(dir / "mnt" / "target.img") == kOld.size() ? "" : "cannot write";
    }

    TempDir dir;
    int32_t image = 0;
};

TEST_P(DiskFailure, ReadOnlyFileSystem) {
    auto outcome = mount_child::run((dir / "mnt").string(), 1024, true, [&] { return writeOld(); },
                                    [&] {
                                        return expectRefused(GetParam(), image, dir / "mnt",
                                                             "read-only", IMGCTL_ERR_PERMISSION);
                                    });
    if (outcome.skipped) GTEST_SKIP() << "this machine refuses the mount: " << outcome.failure;
    EXPECT_EQ(outcome.failure, "");
}

// 64 KB of tmpfs holds the old file but not the new one.
TEST_P(DiskFailure, FullDisk) {
    auto outcome = mount_child::run(
        (dir / "mnt").string(), 64, false,
        [&] {
            // Fill all but a few KB, so that the save runs out of room part way.
            std::ofstream f(dir / "mnt" / "filler", std::ios::binary);
            f << std::string(56 * 1024, 'x');
            f.close();
            return writeOld();
        },
        [&] {
            fs::path target = dir / "mnt" / "target.img";
            if (GetParam().call(target.c_str(), image) != 0) return std::string("succeeded");
            std::string message = ImgctlLastError(), problems;
            if (message.find("no space left") == std::string::npos)
                problems += "message \"" + message + "\" lacks \"no space left\"; ";
            if (ImgctlLastErrorCode() != IMGCTL_ERR_DISK_FULL)
                problems += "category " + std::to_string(ImgctlLastErrorCode()) + "; ";
            if (readText(target) != kOld) problems += "the old target changed; ";
            if (listing(dir / "mnt") != std::set<std::string>{"filler", "target.img"})
                problems += "a temporary file was left behind; ";
            return problems;
        });
    if (outcome.skipped) GTEST_SKIP() << "this machine refuses the mount: " << outcome.failure;
    EXPECT_EQ(outcome.failure, "");
}

// A file that may not be written is not replaced, even in a folder that may
// be: the rename would go around its permissions. Root may write any file,
// so the save runs as an ordinary user in a child process.
TEST_P(DiskFailure, ReadOnlyTargetIsKept) {
    const fs::path folder = dir / "mnt";
    std::ofstream(folder / "target.img", std::ios::binary) << kOld;
    ASSERT_EQ(chmod((folder / "target.img").c_str(), 0444), 0);
    if (geteuid() == 0) {
        constexpr uid_t kNobody = 65534;
        ASSERT_EQ(chown(dir.path().c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(chown(folder.c_str(), kNobody, kNobody), 0);
    }
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        std::string problems =
            expectRefused(GetParam(), image, folder, "permission denied", IMGCTL_ERR_PERMISSION);
        if (!problems.empty()) std::fprintf(stderr, "%s\n", problems.c_str());
        _exit(problems.empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readText(folder / "target.img"), kOld);
}

// A path of 4,000 characters through folders that exist is an ordinary
// target, and its temporary name (longer still) must fit too.
TEST_P(DiskFailure, PathOf4000CharactersWorks) {
    fs::path folder = dir.path();
    const std::string part(120, 'd');
    while (folder.string().size() + 1 + part.size() + 1 + 40 < 4000)
        folder /= part;
    fs::create_directories(folder);
    std::string name(4000 - folder.string().size() - 1, 'f');
    fs::path target = folder / name;
    ASSERT_EQ(target.string().size(), 4000u);
    ASSERT_NE(GetParam().call(target.c_str(), image), 0) << ImgctlLastError();
    EXPECT_EQ(listing(folder), std::set<std::string>{name});
    QImage back(QString::fromStdString(target.string()));
    EXPECT_EQ(back.width(), 256) << "Qt cannot read the file back";
}

// A write past the file-size limit raises SIGXFSZ, which would end the
// process: the save runs in a child with a 4 KB limit.
TEST_P(DiskFailure, FileSizeLimit) {
    std::ofstream(dir / "mnt" / "target.img", std::ios::binary) << kOld;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string problems =
            expectRefused(GetParam(), image, dir / "mnt", "file-size limit", IMGCTL_ERR_DISK_FULL);
        if (!problems.empty()) std::fprintf(stderr, "%s\n", problems.c_str());
        _exit(problems.empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The existing file is replaced, keeps its permissions and its links, even
// when it is the file the image was loaded from; a new file follows the
// umask.
TEST_P(DiskFailure, AGoodSaveReplacesTheTargetInPlace) {
    const fs::path real = dir / "mnt" / "file.img";
    fs::copy_file(testing_support::corpus("jpeg/baseline-444.jpg"), real);
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    fs::create_symlink("mnt/file.img", dir / "link.img");
    const int32_t loaded = ToDIB((dir / "link.img").c_str());
    ASSERT_GT(loaded, 0) << ImgctlLastError();
    ASSERT_NE(GetParam().call((dir / "link.img").c_str(), loaded), 0) << ImgctlLastError();
    DeleteDIB(loaded);
    EXPECT_TRUE(fs::is_symlink(dir / "link.img"));
    EXPECT_EQ(listing(dir / "mnt"), std::set<std::string>{"file.img"});
    EXPECT_EQ(QImage(QString::fromStdString(real.string())).width(), 256);
    struct stat st {};
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    const mode_t old = umask(027);
    const int32_t saved = GetParam().call((dir / "new.img").c_str(), image);
    umask(old);
    ASSERT_NE(saved, 0) << ImgctlLastError();
    ASSERT_EQ(stat((dir / "new.img").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// Missing folders, a file where a folder should be, a folder as the target;
// a 4,000-character file name passes the 255-byte limit of a name, a path
// of 5,000 characters the limit of a path; a 4,000-character path through a
// missing folder fails as any missing folder does.
TEST_P(DiskFailure, TargetsThatCannotBeWrittenAreRefused) {
    std::ofstream(dir / "target.img", std::ios::binary) << kOld;
    std::ofstream(dir / "mnt" / "inside", std::ios::binary) << kOld;
    const std::tuple<fs::path, const char *, int32_t> cases[] = {
        {dir / "missing" / "out.img", "does not exist", IMGCTL_ERR_NO_FOLDER},
        {dir / "mnt", "is a folder", IMGCTL_ERR_CANNOT_WRITE},
        {dir / std::string(4000, 'n'), "too long", IMGCTL_ERR_CANNOT_WRITE},
        {fs::path(dir.path().string() + std::string(5000, '/') + "target.img"), "too long",
         IMGCTL_ERR_CANNOT_WRITE},
        {dir / std::string(200, 'm') / std::string(200, 'm') /
             std::string(3990 - dir.path().string().size() - 402, 'f'),
         "does not exist", IMGCTL_ERR_NO_FOLDER},
        {dir / "target.img" / "out.img", "not a folder", IMGCTL_ERR_NO_FOLDER},
    };
    for (const auto &[target, cause, code] : cases) {
        ASSERT_EQ(GetParam().call(target.c_str(), image), 0) << target.string().size();
        std::string message = ImgctlLastError();
        EXPECT_NE(message.find(cause), std::string::npos) << message;
        EXPECT_EQ(ImgctlLastErrorCode(), code) << message;
        EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"mnt", "target.img"}));
        EXPECT_EQ(listing(dir / "mnt"), std::set<std::string>{"inside"});
        EXPECT_EQ(readText(dir / "target.img"), kOld);
    }
}

INSTANTIATE_TEST_SUITE_P(Saves, DiskFailure, ::testing::ValuesIn(kSaves),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
