// SPDX-License-Identifier: MIT
// Many operations in a row: corpus files of every kind through every chain
// the program runs (three depths into three formats, run-length coding, the
// preview drawing) over and over. After a warm-up the resident memory must
// stay where it was: a handle or buffer that leaks on any path shows up as
// growth long before thousands of conversions are done.
#include "corpus.h"
#include "imgctl.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define NUBARO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NUBARO_ASAN 1
#endif
#endif

namespace fs = std::filesystem;

namespace {

const char *const kFiles[] = {
    "bmpsuite/g/pal1.bmp",    "bmpsuite/g/pal4rle.bmp", "bmpsuite/g/pal8rle.bmp",
    "bmpsuite/g/rgb16.bmp",   "bmpsuite/g/rgb24.bmp",   "bmpsuite/g/rgb32bf.bmp",
    "pngsuite/basn6a08.png",  "pngsuite/basn3p08.png",  "pngsuite/ibasn2c08.png",
    "jpeg/odd-33x17-420.jpg", "jpeg/grayscale.jpg",     "jpeg/orient-6.jpg",
};

long residentKb() {
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// One chain as the program runs it; false (with the cause in *why) when a
// step fails. The image is released whatever happens.
bool runChain(const std::string &source, int depth, int format, bool rle, const std::string &out,
              std::string *why) {
    int32_t h = ToDIB(source.c_str());
    if (!h) return *why = "ToDIB: " + std::string(ImgctlLastError()), false;
    auto step = [&](const char *name, int32_t next) {
        if (next == h) return true;
        *why = std::string(name) + ": " + ImgctlLastError();
        return false;
    };
    bool ok = true;
    if (format == 0) {
        ok = step("RLEtoDIB", RLEtoDIB(h));
        int32_t rounding = 1;
        if (ok && depth == 24) ok = step("DIBto24Bit", DIBto24Bit(h));
        if (ok && depth == 16) ok = step("DIBto16Bit", DIBto16Bit(h, &rounding));
        if (ok && depth == 8) ok = step("DIBto8Bit", DIBto8Bit(h, 0, rle ? 0 : 1));
        if (ok && depth == 8 && rle) ok = step("DIBtoRLE", DIBtoRLE(h));
        if (ok) ok = step("GrayDIB", GrayDIB(h, 100));
        if (ok && !DIBtoBMP(out.c_str(), h)) ok = false, *why = ImgctlLastError();
    } else if (format == 1) {
        if (!DIBtoJPG(out.c_str(), h, 80, depth == 8)) ok = false, *why = ImgctlLastError();
    } else {
        PngOptions options{};
        options.level = static_cast<int16_t>(depth == 8 ? 1 : 6);
        options.flags = depth == 16 ? IMGCTL_PNG_INTERLACED : 0;
        if (!DIBtoPNGex(out.c_str(), h, &options)) ok = false, *why = ImgctlLastError();
    }
    // The preview the window draws after loading.
    BITMAPINFOHEADER header{};
    uint32_t box[40 * 30];
    ImgctlSurface surface{box, 40, 30, 160};
    if (ok && (!HeadDIB(h, &header) || !DIBtoDCex2(&surface, 0, 0, 40, 30, h, 0, 0, header.biWidth,
                                                   header.biHeight, IMGCTL_SRCCOPY, 4)))
        ok = false, *why = std::string("preview: ") + ImgctlLastError();
    if (DeleteDIB(h) != 1) ok = false, *why = "DeleteDIB failed";
    return ok;
}

TEST(Soak, ThousandsOfConversionsKeepMemoryFlat) {
    // tmpfs where there is one: the saves flush to disk each time.
    fs::path base =
        access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path folder = base / ("nubaro-soak-" + std::to_string(getpid()));
    fs::create_directories(folder);
    struct Cleanup {
        fs::path p;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(p, ec);
        }
    } cleanup{folder};
    std::vector<std::string> sources;
    for (const char *f : kFiles)
        sources.push_back(testing_support::corpus(f).string());

    size_t conversions = 0;
    auto round = [&]() {
        for (const auto &source : sources)
            for (int format = 0; format < 3; ++format)
                for (int depth : {24, 16, 8})
                    for (bool rle : {false, true}) {
                        if (rle && !(format == 0 && depth == 8)) continue;
                        std::string why;
                        const std::string out =
                            (folder / ("out" + std::to_string(format))).string();
                        if (!runChain(source, depth, format, rle, out, &why))
                            return source + " depth " + std::to_string(depth) + " format " +
                                   std::to_string(format) + ": " + why;
                        ++conversions;
                    }
        return std::string();
    };
#if defined(NUBARO_ASAN)
    // The sanitizer's quarantine holds freed memory, so the resident size says
    // nothing here; LeakSanitizer checks the same loop at exit instead.
    const int warmup = 1, rounds = 3;
#else
    const int warmup = 3, rounds = 30;
#endif
    for (int i = 0; i < warmup; ++i)
        round();
    const long before = residentKb();
    for (int i = 0; i < rounds; ++i)
        round();
    const long after = residentKb();
    RecordProperty("conversions", static_cast<int>(conversions));
    RecordProperty("resident_growth_kb", static_cast<int>(after - before));
#if !defined(NUBARO_ASAN)
    EXPECT_GT(conversions, 3000u);
    ASSERT_GT(before, 0);
    EXPECT_LT(after - before, 8 * 1024) << "resident memory grew from " << before << " kB to "
                                        << after << " kB over " << conversions << " conversions";
#endif
}

} // namespace
