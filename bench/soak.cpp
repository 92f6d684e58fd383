// SPDX-License-Identifier: MIT
// Many operations in a row: corpus files of every kind through every chain
// the program runs (three depths into three formats, run-length coding, the
// preview drawing) over and over, reporting how far the resident memory grew
// after a warm-up. A handle or buffer that leaks on any path shows up as
// growth long before thousands of conversions are done (the sanitizer build's
// LeakSanitizer catches leaks in the tests themselves).
//
//   soak [ROUNDS]   (30 by default; corpus from NUBARO_CORPUS_DIR or the build's)
#include "imgctl.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

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

} // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 30;
    const char *env = std::getenv("NUBARO_CORPUS_DIR");
    const fs::path corpus = env ? env : NUBARO_CORPUS_DIR;
    // tmpfs where there is one: the saves flush to disk each time.
    fs::path base =
        access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path folder = base / ("nubaro-soak-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::vector<std::string> sources;
    for (const char *f : kFiles)
        sources.push_back((corpus / f).string());

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
    std::string failure;
    for (int i = 0; i < 3 && failure.empty(); ++i)
        failure = round();
    const long before = residentKb();
    for (int i = 0; i < rounds && failure.empty(); ++i)
        failure = round();
    const long after = residentKb();
    std::error_code ec;
    fs::remove_all(folder, ec);
    if (!failure.empty()) {
        std::fprintf(stderr, "soak: %s\n", failure.c_str());
        return 1;
    }
    std::printf("%zu conversions, resident memory %ld kB -> %ld kB (growth %ld kB)\n", conversions,
                before, after, after - before);
    return 0;
}
