// SPDX-License-Identifier: MIT
// Every input kept in tests/regressions/ (fixed fuzzer findings, and
// pictures at the edges of the size range) through loading, every
// conversion, every save and the preview drawing. The inputs may load or
// fail; they must do either cleanly, the failure naming its cause, and the
// sanitizer build runs the same loop.
#include "corpus.h"
#include "imgctl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

using testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

fs::path regressionsDir() {
    return NUBARO_REGRESSIONS_DIR;
}

std::vector<fs::path> inputs() {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto &e : fs::recursive_directory_iterator(regressionsDir(), ec))
        if (e.is_regular_file() && e.path().extension() != ".md") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Each chain step: the same handle back, or 0 with a message.
void expectStep(int32_t h, int32_t result, const char *what) {
    if (result == 0)
        EXPECT_FALSE(std::string(ImgctlLastError()).empty()) << what << " failed silently";
    else
        EXPECT_EQ(result, h) << what;
}

void everyChain(const fs::path &file, const TempDir &out) {
    const std::string path = file.string();
    for (int chain = 0; chain < 7; ++chain) {
        SCOPED_TRACE("chain " + std::to_string(chain));
        int32_t h = ToDIB(path.c_str());
        if (!h) {
            EXPECT_FALSE(std::string(ImgctlLastError()).empty()) << "a failed load names no cause";
            return;
        }
        BITMAPINFOHEADER bi{};
        ASSERT_EQ(HeadDIB(h, &bi), 1);
        uint32_t box[16 * 12];
        ImgctlSurface surface{box, 16, 12, 64};
        expectStep(1,
                   DIBtoDCex2(&surface, -2, -2, 20, 15, h, 0, 0, bi.biWidth, bi.biHeight,
                              IMGCTL_SRCCOPY, chain % 2 ? 4 : 1),
                   "DIBtoDCex2");
        int32_t rounding = chain % 2;
        switch (chain) {
        case 0:
            expectStep(h, RLEtoDIB(h), "RLEtoDIB");
            break;
        case 1:
            expectStep(h, DIBto24Bit(h), "DIBto24Bit");
            break;
        case 2:
            expectStep(h, DIBto16Bit(h, &rounding), "DIBto16Bit");
            break;
        case 3:
            expectStep(h, DIBto8Bit(h, 0, 0), "DIBto8Bit dithered");
            break;
        case 4:
            expectStep(h, DIBto8Bit(h, 0, 1), "DIBto8Bit nearest");
            break;
        case 5:
            expectStep(h, DIBto8Bit(h, 0, 1), "DIBto8Bit");
            expectStep(h, DIBtoRLE(h), "DIBtoRLE");
            break;
        default:
            expectStep(h, GrayDIB(h, 128), "GrayDIB");
            break;
        }
        PngOptions options{};
        options.flags = chain % 2 ? IMGCTL_PNG_INTERLACED : 0;
        options.level = static_cast<int16_t>(chain);
        expectStep(1, DIBtoBMP((out / "o.bmp").c_str(), h), "DIBtoBMP");
        expectStep(1, DIBtoJPG((out / "o.jpg").c_str(), h, 10 * chain + 5, chain % 2), "DIBtoJPG");
        expectStep(1, DIBtoPNGex((out / "o.png").c_str(), h, &options), "DIBtoPNGex");
        EXPECT_EQ(DeleteDIB(h), 1);
    }
}

TEST(Regressions, EveryKeptInputLoadsOrFailsCleanly) {
    const auto files = inputs();
    ASSERT_FALSE(files.empty()) << "no inputs in " << regressionsDir();
    TempDir out;
    for (const auto &f : files) {
        SCOPED_TRACE(f.filename().string());
        everyChain(f, out);
    }
}

} // namespace
