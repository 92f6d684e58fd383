// SPDX-License-Identifier: MIT
// The four saves through the C interface: what each argument does to the
// file, and failures reported through ImgctlLastError.
#include "corpus.h"
#include "file_fields.h"
#include "imgctl.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QImageReader>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

using namespace testing_support;

namespace {

class SaveApi : public ::testing::Test {
  protected:
    void SetUp() override {
        image = ToDIB(testing_support::corpus("bmpsuite/g/rgb24.bmp").c_str());
        ASSERT_GT(image, 0) << ImgctlLastError();
    }
    void TearDown() override { DeleteDIB(image); }
    std::string path(const std::string &name) { return (dir / name).string(); }

    TempDir dir;
    int32_t image = 0;
};

TEST_F(SaveApi, BmpFileMatchesHeadDib) {
    BITMAPINFOHEADER h{};
    ASSERT_EQ(HeadDIB(image, &h), 1);
    ASSERT_EQ(DIBtoBMP(path("o.bmp").c_str(), image), 1) << ImgctlLastError();
    auto f = readFile(dir / "o.bmp");
    ASSERT_GE(f.size(), 54u);
    EXPECT_EQ(le32(f, 2), f.size());
    EXPECT_EQ(le32(f, 10), 54u);
    EXPECT_EQ(le32(f, 34), h.biSizeImage);
    EXPECT_EQ(std::memcmp(&f[14], &h, 40), 0) << "the file's header is HeadDIB's";
}

// (Quality and level clamping are in test_misuse.cpp.)
TEST_F(SaveApi, JpegProgressiveIsAnyNonZero) {
    ASSERT_EQ(DIBtoJPG(path("q1.jpg").c_str(), image, 1, 0), 1);
    ASSERT_EQ(DIBtoJPG(path("q100.jpg").c_str(), image, 100, -1), 1);
    EXPECT_EQ(jpegFrame(readFile(dir / "q1.jpg")), 0xC0);
    EXPECT_EQ(jpegFrame(readFile(dir / "q100.jpg")), 0xC2);
    QImageReader reader(QString::fromStdString(path("q100.jpg")));
    EXPECT_EQ(reader.read().size(), QSize(127, 64));
}

TEST_F(SaveApi, PngOptionsSetLevelAndInterlacing) {
    ASSERT_EQ(DIBtoPNG(path("plain.png").c_str(), image, 0), 1) << ImgctlLastError();
    PngOptions options{};
    options.level = 6;
    ASSERT_EQ(DIBtoPNGex(path("six.png").c_str(), image, &options), 1);
    EXPECT_EQ(readFile(dir / "plain.png"), readFile(dir / "six.png")) << "DIBtoPNG is level 6";

    options.flags = IMGCTL_PNG_INTERLACED;
    options.level = 5;
    ASSERT_EQ(DIBtoPNGex(path("adam7.png").c_str(), image, &options), 1);
    auto f = readFile(dir / "adam7.png");
    ASSERT_GE(f.size(), 33u);
    EXPECT_EQ(f[28], 1) << "IHDR interlace method";
    EXPECT_EQ(readFile(dir / "plain.png").at(28), 0);
    QImageReader reader(QString::fromStdString(path("adam7.png")));
    EXPECT_EQ(reader.read().size(), QSize(127, 64));
}

// After ImgctlStopSaves (in a child process: it holds for the process's
// life) every save fails without a file, an existing target stays.
TEST_F(SaveApi, StoppedSavesFailAndWriteNothing) {
    std::ofstream(dir / "old.bmp") << "keep me";
    EXPECT_EXIT(
        {
            const bool stopped = ImgctlStopSaves() == 1;
            const bool failed = DIBtoBMP(path("new.bmp").c_str(), image) == 0 &&
                                ImgctlLastErrorCode() == IMGCTL_ERR_CANNOT_WRITE &&
                                DIBtoPNG(path("old.bmp").c_str(), image, 0) == 0;
            std::exit(stopped && failed ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(listing(dir.path()), std::set<std::string>{"old.bmp"});
    EXPECT_EQ(readText(dir / "old.bmp"), "keep me");
}

} // namespace
