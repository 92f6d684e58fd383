// SPDX-License-Identifier: MIT
// The handle and ownership rules of the C interface, on every function.
#include "corpus.h"
#include "imgctl.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

using testing_support::TempDir;

namespace {

std::string lastError() {
    return ImgctlLastError();
}

// Every function that takes a handle, called with `h`; each must fail.
void expectAllFail(int32_t h) {
    TempDir dir;
    std::string out = (dir / "out").string();
    BITMAPINFOHEADER header{};
    uint32_t pixels[4] = {};
    ImgctlSurface surface{pixels, 2, 2, 8};
    int32_t one = 1;
    PngOptions options{};
    EXPECT_EQ(HeadDIB(h, &header), 0);
    EXPECT_EQ(header.biSize, 0u) << "a failed HeadDIB must not touch the header";
    EXPECT_EQ(DIBtoDCex2(&surface, 0, 0, 2, 2, h, 0, 0, 2, 2, IMGCTL_SRCCOPY, 4), 0);
    EXPECT_EQ(RLEtoDIB(h), 0);
    EXPECT_EQ(DIBto24Bit(h), 0);
    EXPECT_EQ(DIBto16Bit(h, &one), 0);
    EXPECT_EQ(DIBto8Bit(h, 0, 0), 0);
    EXPECT_EQ(DIBtoRLE(h), 0);
    EXPECT_EQ(GrayDIB(h, 0), 0);
    EXPECT_EQ(DIBStrip(h), 0);
    EXPECT_EQ(DIBtoBMP(out.c_str(), h), 0);
    EXPECT_EQ(DIBtoJPG(out.c_str(), h, 60, 0), 0);
    EXPECT_EQ(DIBtoPNG(out.c_str(), h, 0), 0);
    EXPECT_EQ(DIBtoPNGex(out.c_str(), h, &options), 0);
    EXPECT_EQ(DeleteDIB(h), 0);
    EXPECT_NE(lastError().find("handle"), std::string::npos) << lastError();
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "a failed save left a file";
}

TEST(Handles, InvalidHandlesFailEverywhere) {
    for (int32_t h : {0, -1, -2147483647 - 1, 2147483647, 999999}) {
        SCOPED_TRACE(h);
        expectAllFail(h);
    }
}

TEST(Handles, LoadFailureNamesTheCause) {
    EXPECT_EQ(ToDIB(nullptr), 0);
    EXPECT_EQ(ToDIB(""), 0);
    TempDir dir;
    EXPECT_EQ(ToDIB((dir / "missing.bmp").c_str()), 0);
    EXPECT_NE(lastError().find("not found"), std::string::npos) << lastError();
    EXPECT_EQ(ToDIB(dir.path().c_str()), 0) << "a folder is no image";
    std::string text = (dir / "text.png").string();
    FILE *f = fopen(text.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("hello, not a picture", f);
    fclose(f);
    EXPECT_EQ(ToDIB(text.c_str()), 0);
    EXPECT_NE(lastError().find("not an image"), std::string::npos) << lastError();
}

TEST(Handles, ReleasedHandleIsDeadAndNeverReused) {
    const std::string path = testing_support::corpus("bmpsuite/g/rgb24.bmp").string();
    int32_t first = ToDIB(path.c_str());
    ASSERT_GT(first, 0) << lastError();
    EXPECT_EQ(DeleteDIB(first), 1);
    expectAllFail(first);
    int32_t second = ToDIB(path.c_str());
    ASSERT_GT(second, 0) << lastError();
    EXPECT_GT(second, first) << "handles are issued upward and never reused";
    EXPECT_EQ(DeleteDIB(second), 1);
    EXPECT_EQ(DeleteDIB(second), 0) << "a second DeleteDIB does nothing";
}

TEST(Handles, HeadDIBDescribesTheImage) {
    const std::string path = testing_support::corpus("bmpsuite/g/rgb24.bmp").string();
    int32_t h = ToDIB(path.c_str());
    ASSERT_GT(h, 0) << lastError();
    EXPECT_EQ(HeadDIB(h, nullptr), 0);
    BITMAPINFOHEADER header{};
    ASSERT_EQ(HeadDIB(h, &header), 1);
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 127);
    EXPECT_EQ(header.biHeight, 64);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, IMGCTL_BI_RGB);
    EXPECT_EQ(header.biSizeImage, 384u * 64u); // 127 * 3 rounded up to 4
    EXPECT_EQ(header.biClrUsed, 0u);
    DeleteDIB(h);
}

// A failing conversion returns 0 and leaves its input valid and unchanged.
TEST(Handles, FailedConversionKeepsTheInput) {
    const std::string path = testing_support::corpus("bmpsuite/g/rgb24.bmp").string();
    int32_t h = ToDIB(path.c_str());
    ASSERT_GT(h, 0) << lastError();
    BITMAPINFOHEADER before{}, after{};
    ASSERT_EQ(HeadDIB(h, &before), 1);
    EXPECT_EQ(DIBtoRLE(h), 0) << "24-bit cannot be run-length coded";
    EXPECT_FALSE(lastError().empty());
    EXPECT_EQ(DIBto8Bit(h, 5, 5), 0) << "unknown palette arguments fail";
    EXPECT_EQ(DIBto16Bit(h, nullptr), 0);
    int32_t bad = 7;
    EXPECT_EQ(DIBto16Bit(h, &bad), 0);
    ASSERT_EQ(HeadDIB(h, &after), 1);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    EXPECT_EQ(DeleteDIB(h), 1);
}

// Successful conversions return the handle the caller goes on with; the chain
// the window runs for 8-bit RLE output ends with one live handle.
TEST(Handles, ConversionChainKeepsOneLiveHandle) {
    const std::string path = testing_support::corpus("bmpsuite/g/rgb24.bmp").string();
    int32_t h = ToDIB(path.c_str());
    ASSERT_GT(h, 0) << lastError();
    h = RLEtoDIB(h);
    ASSERT_GT(h, 0) << lastError();
    h = DIBto8Bit(h, 0, 0);
    ASSERT_GT(h, 0) << lastError();
    h = DIBtoRLE(h);
    ASSERT_GT(h, 0) << lastError();
    h = GrayDIB(h, 0);
    ASSERT_GT(h, 0) << lastError();
    BITMAPINFOHEADER header{};
    ASSERT_EQ(HeadDIB(h, &header), 1);
    EXPECT_EQ(header.biBitCount, 8);
    EXPECT_EQ(header.biCompression, IMGCTL_BI_RLE8);
    EXPECT_EQ(DeleteDIB(h), 1);
    EXPECT_EQ(DeleteDIB(h), 0);
}

// Several threads at once, through the C interface, on a picture large
// enough for every threaded path of the default tuning (the PNG fast reader,
// PNG bands, the split JPEG encoder): each thread loads, converts, saves and
// releases a picture of its own, while others save one shared handle that
// another converts halfway. Calls on one handle are serialised, so every
// save of the shared handle is byte for byte the file of the picture before
// the conversion or after it, never a mixture.
TEST(Handles, ThreadsConvertTheirOwnPicturesAndShareOne) {
    TempDir dir;
    QImage picture(640, 480, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y,
                             qRgb((x + (y * 7 ^ x) % 13) & 255, (y * 3) & 255, (x ^ y) & 255));
    const std::string source = (dir / "source.png").string();
    ASSERT_TRUE(picture.save(QString::fromStdString(source), "PNG"));
    const char *kinds[2] = {".png", ".jpg"};
    auto save = [](int32_t h, const std::string &stem, int kind) {
        PngOptions options{};
        options.level = 1;
        const std::string path = stem + (kind ? ".jpg" : ".png");
        return kind ? DIBtoJPG(path.c_str(), h, 80, 0) : DIBtoPNGex(path.c_str(), h, &options);
    };
    // The shared picture's files before and after the conversion.
    std::vector<uint8_t> expected[2][2];
    for (int converted = 0; converted < 2; ++converted) {
        int32_t h = ToDIB(source.c_str());
        ASSERT_GT(h, 0) << lastError();
        if (converted) {
            ASSERT_EQ(DIBto8Bit(h, 0, 1), h) << lastError();
        }
        for (int k = 0; k < 2; ++k) {
            const std::string stem = (dir / ("expected" + std::to_string(converted))).string();
            ASSERT_EQ(save(h, stem, k), 1) << lastError();
            expected[converted][k] = testing_support::readFile(stem + kinds[k]);
        }
        EXPECT_EQ(DeleteDIB(h), 1);
    }

    const int32_t shared = ToDIB(source.c_str());
    ASSERT_GT(shared, 0) << lastError();
    std::vector<std::string> failures(6);
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            std::string &failed = failures[t];
            const std::string stem = (dir / ("t" + std::to_string(t))).string();
            for (int round = 0; round < 2 && failed.empty(); ++round) {
                if (t == 0) { // converts the shared picture halfway
                    if (round == 1 && DIBto8Bit(shared, 0, 1) != shared) failed = lastError();
                } else if (t < 3) { // a picture of its own
                    int32_t h = ToDIB(source.c_str());
                    if (h <= 0 || DIBto24Bit(h) != h || save(h, stem, 0) != 1 ||
                        save(h, stem, 1) != 1 || DIBto8Bit(h, 0, 0) != h || DeleteDIB(h) != 1)
                        failed = lastError();
                } else { // the shared one
                    for (int k = 0; k < 2; ++k) {
                        if (save(shared, stem, k) != 1) failed = lastError();
                        const auto bytes = testing_support::readFile(stem + kinds[k]);
                        if (bytes != expected[0][k] && bytes != expected[1][k])
                            failed = std::string("a torn save of the shared picture: ") + kinds[k];
                    }
                }
            }
        });
    }
    for (auto &th : threads)
        th.join();
    for (const std::string &f : failures)
        EXPECT_EQ(f, "");
    EXPECT_EQ(DeleteDIB(shared), 1);
}

} // namespace
