// SPDX-License-Identifier: MIT
// Crash-safe saving: a failed save names its cause, leaves an existing target
// byte for byte and leaves no temporary file behind; a good save replaces the
// target, keeps its permissions, and works over the file it was loaded from.
#include "corpus.h"
#include "io/file_out.h"
#include "save_test_images.h"

#include <gtest/gtest.h>

#include <QImageReader>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace imgctl;
using namespace save_test;
using testing_support::listing;
using testing_support::readFile;
using testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

struct Saver {
    std::string name;
    std::function<Status(const Image &, const char *)> save;
};

void PrintTo(const Saver &s, std::ostream *os) {
    *os << s.name;
}

std::vector<Saver> savers() {
    return {
        {"Bmp", [](const Image &i, const char *p) { return saveBmp(i, p); }},
        {"Jpeg", [](const Image &i, const char *p) { return saveJpeg(i, p, 75, true); }},
        {"Png", [](const Image &i, const char *p) { return savePng(i, p, 6, true); }},
    };
}

void writeText(const fs::path &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

Image picture(uint32_t w = 64, uint32_t h = 48) {
    return build({"Rgb24", 24}, w, h);
}

class SaveFailure : public ::testing::TestWithParam<Saver> {};

TEST_P(SaveFailure, MissingFolder) {
    TempDir dir;
    auto path = dir / "no-such-folder" / "out.img";
    Status s = GetParam().save(picture(), path.c_str());
    ASSERT_FALSE(s);
    EXPECT_EQ(s.code(), Error::NoFolder);
    EXPECT_NE(s.message().find(path.string()), std::string::npos) << s.message();
    EXPECT_NE(s.message().find("does not exist"), std::string::npos) << s.message();
    EXPECT_TRUE(listing(dir.path()).empty());
}

TEST_P(SaveFailure, PathThroughARegularFile) {
    TempDir dir;
    writeText(dir / "file.txt", "text");
    auto path = dir / "file.txt" / "out.img";
    Status s = GetParam().save(picture(), path.c_str());
    ASSERT_FALSE(s);
    EXPECT_EQ(s.code(), Error::NoFolder);
    EXPECT_NE(s.message().find("not a folder"), std::string::npos) << s.message();
    EXPECT_EQ(listing(dir.path()), std::set<std::string>{"file.txt"});
    EXPECT_EQ(readFile(dir / "file.txt").size(), 4u);
}

TEST_P(SaveFailure, TargetIsAFolder) {
    TempDir dir;
    fs::create_directory(dir / "target");
    writeText(dir / "target" / "inside", "keep");
    Status s = GetParam().save(picture(), (dir / "target").c_str());
    ASSERT_FALSE(s);
    EXPECT_EQ(s.code(), Error::CannotWrite);
    EXPECT_NE(s.message().find("is a folder"), std::string::npos) << s.message();
    EXPECT_EQ(listing(dir.path()), std::set<std::string>{"target"});
    EXPECT_EQ(listing(dir / "target"), std::set<std::string>{"inside"});
}

// A write past RLIMIT_FSIZE raises SIGXFSZ, which would end the process. The
// save runs in a child with a small limit and reports through its exit code:
// 0 a DiskFull failure naming the limit, 1 success, 2 another failure.
TEST_P(SaveFailure, FileSizeLimit) {
    TempDir dir;
    auto path = dir / "out.img";
    writeText(path, "the old file");
    Image img = picture(400, 300); // far past the limit in every format
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        Status s = GetParam().save(img, path.c_str());
        if (s) _exit(1);
        bool named = s.code() == Error::DiskFull &&
                     s.message().find("file-size limit") != std::string::npos &&
                     s.message().find(path.string()) != std::string::npos;
        _exit(named ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(listing(dir.path()), std::set<std::string>{"out.img"});
    auto bytes = readFile(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "the old file");
}

TEST_P(SaveFailure, ReplacesAnExistingFileAndKeepsItsPermissions) {
    TempDir dir;
    auto path = dir / "out.img";
    writeText(path, "the old file");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    Status s = GetParam().save(picture(), path.c_str());
    ASSERT_TRUE(s) << s.message();
    EXPECT_EQ(listing(dir.path()), std::set<std::string>{"out.img"});
    QImageReader reader(QString::fromStdString(path.string()));
    EXPECT_EQ(reader.read().size(), QSize(64, 48));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_P(SaveFailure, SavingThroughALinkReplacesTheFileItNames) {
    TempDir dir;
    fs::create_directory(dir / "real");
    writeText(dir / "real" / "file.img", "the old file");
    fs::create_symlink("real/file.img", dir / "link.img");
    ASSERT_TRUE(GetParam().save(picture(), (dir / "link.img").c_str()));
    EXPECT_TRUE(fs::is_symlink(dir / "link.img"));
    EXPECT_GT(fs::file_size(dir / "real" / "file.img"), 100u);
    EXPECT_EQ(listing(dir / "real"), std::set<std::string>{"file.img"});
}

TEST_P(SaveFailure, NewFileFollowsTheUmask) {
    TempDir dir;
    mode_t old = umask(027);
    Status s = GetParam().save(picture(), (dir / "new.img").c_str());
    umask(old);
    ASSERT_TRUE(s) << s.message();
    struct stat st {};
    ASSERT_EQ(stat((dir / "new.img").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

INSTANTIATE_TEST_SUITE_P(Formats, SaveFailure, ::testing::ValuesIn(savers()),
                         [](const auto &info) { return info.param.name; });

TEST(SaveOverSource, SavingOverTheLoadedFileWorks) {
    TempDir dir;
    auto path = dir / "picture.bmp";
    fs::copy_file(testing_support::corpus("bmpsuite/g/rgb24.bmp"), path);
    Result<Image> loaded = loadImage(path.c_str());
    if (!loaded && loaded.status().code() == Error::Unsupported)
        GTEST_SKIP() << loaded.status().message();
    ASSERT_TRUE(loaded) << loaded.status().message();
    Image &img = loaded.value();
    ASSERT_TRUE(convertTo8(img, 0, 0)) << "a change to see in the file";
    ASSERT_TRUE(saveBmp(img, path.c_str()));
    auto f = readFile(path);
    ASSERT_GE(f.size(), 30u);
    EXPECT_EQ(le16(f, 28), 8u) << "the file holds the new 8-bit image";
    Result<Image> again = loadImage(path.c_str());
    ASSERT_TRUE(again) << again.status().message();
    EXPECT_EQ(again->bitCount, 8);
    EXPECT_EQ(listing(dir.path()), std::set<std::string>{"picture.bmp"});
}

TEST(OutputFile, AnAbandonedSaveLeavesNothing) {
    TempDir dir;
    writeText(dir / "out.bin", "old");
    {
        OutputFile out;
        ASSERT_TRUE(out.open((dir / "out.bin").c_str()));
        ASSERT_TRUE(out.write("new bytes", 9));
        EXPECT_EQ(listing(dir.path()).size(), 1u) << "the file being written has no name";
    }
    EXPECT_EQ(listing(dir.path()), std::set<std::string>{"out.bin"});
    EXPECT_EQ(readFile(dir / "out.bin").size(), 3u);
}

TEST(OutputFile, LargeAndSmallWritesArriveInOrder) {
    TempDir dir;
    std::vector<uint8_t> expect;
    OutputFile out;
    ASSERT_TRUE(out.open((dir / "out.bin").c_str()));
    uint32_t seed = 1;
    for (size_t size : {size_t{5}, size_t{3} << 20, size_t{100}, size_t{1} << 20, size_t{7}}) {
        std::vector<uint8_t> chunk(size);
        for (auto &b : chunk)
            b = static_cast<uint8_t>(seed = seed * 1103515245 + 12345);
        ASSERT_TRUE(out.write(chunk.data(), chunk.size()));
        expect.insert(expect.end(), chunk.begin(), chunk.end());
    }
    uint8_t *p = out.reserve(300000);
    ASSERT_NE(p, nullptr);
    std::memset(p, 0x5A, 300000);
    out.advance(300000);
    expect.insert(expect.end(), 300000, 0x5A);
    EXPECT_EQ(out.size(), expect.size());
    ASSERT_TRUE(out.commit());
    EXPECT_EQ(readFile(dir / "out.bin"), expect);
    EXPECT_EQ(listing(dir.path()), std::set<std::string>{"out.bin"});
}

} // namespace
