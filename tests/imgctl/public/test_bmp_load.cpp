// SPDX-License-Identifier: MIT
// Loading BMP files through the C interface: an RLE file stays compressed
// until RLEtoDIB, and a refused file names its cause.
#include "corpus.h"
#include "imgctl.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string path(const char *relative) {
    return testing_support::corpus(std::string("bmpsuite/") + relative).string();
}

TEST(BmpLoad, RleStaysCompressedUntilRLEtoDIB) {
    struct Case {
        const char *file;
        uint16_t bits;
        uint32_t compression;
        uint32_t colours;
    };
    for (Case c : {Case{"g/pal8rle.bmp", 8, IMGCTL_BI_RLE8, 252},
                   Case{"g/pal4rle.bmp", 4, IMGCTL_BI_RLE4, 12}}) {
        int32_t h = ToDIB(path(c.file).c_str());
        ASSERT_GT(h, 0) << c.file << ": " << ImgctlLastError();
        BITMAPINFOHEADER head{};
        ASSERT_EQ(HeadDIB(h, &head), 1);
        EXPECT_EQ(head.biWidth, 127) << c.file;
        EXPECT_EQ(head.biHeight, 64) << c.file;
        EXPECT_EQ(head.biBitCount, c.bits) << c.file;
        EXPECT_EQ(head.biCompression, c.compression) << c.file;
        EXPECT_EQ(head.biClrUsed, c.colours) << c.file;
        // The compressed stream is far smaller than the expanded rows.
        const uint32_t expanded = (127u * c.bits + 31) / 32 * 4 * 64;
        EXPECT_GT(head.biSizeImage, 0u) << c.file;
        EXPECT_LT(head.biSizeImage, expanded) << c.file;

        int32_t plain = RLEtoDIB(h);
        ASSERT_GT(plain, 0) << ImgctlLastError();
        ASSERT_EQ(HeadDIB(plain, &head), 1);
        EXPECT_EQ(head.biCompression, IMGCTL_BI_RGB) << c.file;
        EXPECT_EQ(head.biBitCount, c.bits) << c.file;
        EXPECT_EQ(head.biSizeImage, expanded) << c.file;
        DeleteDIB(plain);
    }
}

TEST(BmpLoad, RefusedFilesNameTheirCause) {
    EXPECT_EQ(ToDIB(path("b/reallybig.bmp").c_str()), 0);
    EXPECT_NE(std::string(ImgctlLastError()).find("65535"), std::string::npos) << ImgctlLastError();
    EXPECT_EQ(ToDIB(path("q/rgba64.bmp").c_str()), 0);
    EXPECT_NE(std::string(ImgctlLastError()).find("64-bit"), std::string::npos)
        << ImgctlLastError();
    EXPECT_EQ(ToDIB(path("b/shortfile.bmp").c_str()), 0);
    EXPECT_NE(std::string(ImgctlLastError()).find("offset 62"), std::string::npos)
        << ImgctlLastError();
}

} // namespace
