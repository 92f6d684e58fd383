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

TEST_F(SaveApi, JpegQualityIsClampedAndProgressiveIsAnyNonZero) {
    ASSERT_EQ(DIBtoJPG(path("q0.jpg").c_str(), image, 0, 0), 1);
    ASSERT_EQ(DIBtoJPG(path("q1.jpg").c_str(), image, 1, 0), 1);
    ASSERT_EQ(DIBtoJPG(path("q101.jpg").c_str(), image, 101, -1), 1);
    ASSERT_EQ(DIBtoJPG(path("q100.jpg").c_str(), image, 100, -1), 1);
    EXPECT_EQ(readFile(dir / "q0.jpg"), readFile(dir / "q1.jpg"));
    EXPECT_EQ(readFile(dir / "q101.jpg"), readFile(dir / "q100.jpg"));
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

    options.level = 40;
    ASSERT_EQ(DIBtoPNGex(path("forty.png").c_str(), image, &options), 1);
    options.level = 9;
    ASSERT_EQ(DIBtoPNGex(path("nine.png").c_str(), image, &options), 1);
    EXPECT_EQ(readFile(dir / "forty.png"), readFile(dir / "nine.png"));

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

TEST_F(SaveApi, BadArgumentsFailWithAMessage) {
    EXPECT_EQ(DIBtoPNG(path("x.png").c_str(), image, 1), 0);
    EXPECT_NE(std::string(ImgctlLastError()).find("DIBtoPNG"), std::string::npos);
    EXPECT_EQ(DIBtoPNGex(path("x.png").c_str(), image, nullptr), 0);
    EXPECT_NE(std::string(ImgctlLastError()).find("null"), std::string::npos);
    EXPECT_EQ(DIBtoBMP("", image), 0);
    EXPECT_EQ(DIBtoJPG(path("x.jpg").c_str(), image + 1000, 60, 0), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(SaveApi, AFailedSaveNamesThePathAndKeepsTheImage) {
    std::string target = path("missing/out.bmp");
    EXPECT_EQ(DIBtoBMP(target.c_str(), image), 0);
    std::string message = ImgctlLastError();
    EXPECT_NE(message.find("no such folder"), std::string::npos) << message;
    EXPECT_EQ(ImgctlLastErrorCode(), IMGCTL_ERR_NO_FOLDER);
    EXPECT_NE(message.find(target), std::string::npos) << message;
    BITMAPINFOHEADER h{};
    EXPECT_EQ(HeadDIB(image, &h), 1) << "the image is still there";
    EXPECT_EQ(DIBtoBMP(path("out.bmp").c_str(), image), 1);
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
