// SPDX-License-Identifier: MIT
// Saving through each of the four saves: targets the disk refuses (a
// read-only file system, a full disk, the file-size limit, a file that may
// not be written or replaced, missing folders, a folder, too long names)
// fail naming the cause, keep an existing target byte for byte and leave no
// temporary file beside it; a good save replaces the target in place, through
// a link too, keeping its permissions.
#include "corpus.h"
#include "imgctl.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testing_support::listing;
using testing_support::readText;
using testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

const PngOptions kInterlaced9{IMGCTL_PNG_INTERLACED, 9, {}};

struct Save {
    const char *name;
    int32_t (*call)(const char *, int32_t);
};

const Save kSaves[] = {
    {"Bmp", [](const char *p, int32_t h) { return DIBtoBMP(p, h); }},
    {"Jpeg", [](const char *p, int32_t h) { return DIBtoJPG(p, h, 90, 0); }},
    {"Png", [](const char *p, int32_t h) { return DIBtoPNG(p, h, 0); }},
    {"PngEx", [](const char *p, int32_t h) { return DIBtoPNGex(p, h, &kInterlaced9); }},
};

const std::string kOld = "the old file, which a failed save must keep";
constexpr uid_t kNobody = 65534;

// A save the disk refuses, set up and run in a child process of its own:
// with a small tmpfs on the folder (in a mount namespace of its own, so the
// machine's mounts never change), a file-size limit (whose SIGXFSZ would end
// the process) or as an ordinary user (root may write any file).
struct Refusal {
    const char *name, *cause;
    int32_t code;
    std::string target = "target.img"; // in the case's folder, which holds target.img
    std::string prepare = "";          // "fill": leave a few KB; "0444": a read-only
                                       // target; "sticky": a sticky folder and a target of
                                       // root's
    bool asNobody = false;             // the save runs as user 65534
    rlim_t sizeLimit = 0;              // 0: none
    unsigned tmpfsKb = 0;              // 0: no mount
    bool readOnly = false;             // the tmpfs remounted read-only before the save
};

const std::string kOldName = "target.img";
const Refusal kRefusals[] = {
    {"read-only file system", "read-only", IMGCTL_ERR_PERMISSION, kOldName, "", false, 0, 1024,
     true},
    {"full disk", "no space left", IMGCTL_ERR_DISK_FULL, kOldName, "fill", false, 0, 64},
    {"file-size limit", "file-size limit", IMGCTL_ERR_DISK_FULL, kOldName, "", false, 4096},
    // The rename would go around the file's permissions.
    {"read-only target", "permission denied", IMGCTL_ERR_PERMISSION, kOldName, "0444", true},
    // The file may be written, but not replaced by another user's file: the
    // rename fails after the new file was given a hidden name.
    {"another user's target in a sticky folder", "permission denied", IMGCTL_ERR_PERMISSION,
     kOldName, "sticky", true},
    {"missing folder", "does not exist", IMGCTL_ERR_NO_FOLDER, "missing/out.img"},
    {"a folder", "is a folder", IMGCTL_ERR_CANNOT_WRITE, "../a folder"},
    {"a file as a folder", "not a folder", IMGCTL_ERR_NO_FOLDER, "target.img/out.img"},
    // A name past the 255-byte limit of a name, a path past the limit of a
    // path, and a 3,400-character path through a missing folder.
    {"long name", "too long", IMGCTL_ERR_CANNOT_WRITE, std::string(4000, 'n')},
    {"long path", "too long", IMGCTL_ERR_CANNOT_WRITE, std::string(5000, '/') + "target.img"},
    {"long path through a missing folder", "does not exist", IMGCTL_ERR_NO_FOLDER,
     std::string(200, 'm') + "/" + std::string(200, 'm') + "/" + std::string(3000, 'f')},
};

// In the child: "skip: why" when the machine refuses the setup, otherwise
// the problems of the refused save, "ok" when none.
std::string refuse(const Refusal &r, const Save &save, int32_t image, const fs::path &folder) {
    const auto skip = [](const char *what) { return std::string(what) + std::strerror(errno); };
    if (r.tmpfsKb) {
        const std::string size = "size=" + std::to_string(r.tmpfsKb) + "k";
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", folder.c_str(), "tmpfs", 0, size.c_str()) != 0)
            return "skip: " + skip("mount: ");
    }
    const fs::path old = folder / kOldName;
    std::ofstream(old, std::ios::binary) << kOld;
    if (r.prepare == "fill")
        std::ofstream(folder / "filler", std::ios::binary) << std::string(56 * 1024, 'x');
    if (r.prepare == "0444") { // in a folder the user may write
        chmod(old.c_str(), 0444);
        if (geteuid() == 0) (void)!chown(folder.c_str(), kNobody, kNobody);
    }
    if (r.prepare == "sticky") {
        if (geteuid() != 0) return "skip: only root can give the target to another user";
        chmod(old.c_str(), 0666);
        chmod(folder.c_str(), 01777);
    }
    if (readText(old) != kOld) return "cannot write the old target";
    if (r.readOnly && mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
        return "skip: " + skip("remount read-only: ");
    if (r.sizeLimit) {
        const rlimit limit{r.sizeLimit, r.sizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (r.asNobody && geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0))
        return "cannot become user 65534";
    const std::set<std::string> before = listing(folder);
    const std::string target = folder.string() + "/" + r.target;
    if (save.call(target.c_str(), image) != 0) return "the save succeeded";
    const std::string message = ImgctlLastError();
    std::string problems;
    if (message.find(r.cause) == std::string::npos || message.find(target) == std::string::npos)
        problems += "message \"" + message.substr(0, 300) + "\" lacks the cause or the target; ";
    if (ImgctlLastErrorCode() != r.code)
        problems += "category " + std::to_string(ImgctlLastErrorCode()) + "; ";
    if (readText(old) != kOld) problems += "the old target changed; ";
    if (listing(folder) != before) problems += "a temporary file was left behind; ";
    return problems.empty() ? "ok" : problems;
}

class DiskFailure : public ::testing::TestWithParam<Save> {
  protected:
    void SetUp() override {
        image = ToDIB(testing_support::corpus("jpeg/baseline-444.jpg").c_str());
        ASSERT_GT(image, 0) << ImgctlLastError();
    }
    void TearDown() override { DeleteDIB(image); }

    TempDir dir;
    int32_t image = 0;
};

TEST_P(DiskFailure, RefusedSavesKeepTheTargetAndLeaveNothing) {
    ASSERT_TRUE(geteuid() != 0 || chown(dir.path().c_str(), kNobody, kNobody) == 0);
    std::string skipped;
    for (const Refusal &r : kRefusals) {
        const fs::path folder = dir / r.name;
        fs::create_directory(folder);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) { // reports on stderr, and by its exit status
            const std::string outcome = refuse(r, GetParam(), image, folder);
            std::fprintf(stderr, "%s: %s\n", r.name, outcome.c_str());
            _exit(outcome == "ok" ? 0 : outcome.starts_with("skip: ") ? 77 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << r.name << ": ended by a signal";
        if (WEXITSTATUS(status) == 77)
            skipped += std::string(r.name) + "; ";
        else
            EXPECT_EQ(WEXITSTATUS(status), 0) << r.name << " (the child's report is above)";
    }
    if (!skipped.empty()) GTEST_SKIP() << "this machine refuses " << skipped;
}

// The existing file is replaced, keeps its permissions and its links, even
// when it is the file the image was loaded from; a new file follows the
// umask.
TEST_P(DiskFailure, AGoodSaveReplacesTheTargetInPlace) {
    fs::create_directory(dir / "mnt");
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

INSTANTIATE_TEST_SUITE_P(Saves, DiskFailure, ::testing::ValuesIn(kSaves),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
