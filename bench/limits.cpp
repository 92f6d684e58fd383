// SPDX-License-Identifier: MIT
// Measures what oversized headers and decompression bombs cost: each file is
// loaded through ToDIB in a fresh child process, and the parent reports the
// wall time, the child's peak resident memory and the failure message. A
// tiny valid picture gives the baseline memory of a process that loads
// anything at all.
//
//   limits [FOLDER]   (files are written to FOLDER, by default a new folder in /tmp)
#include "hostile_files.h"
#include "imgctl.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// A real bomb: `rows` rows of `width` gray zeros deflated at level 9, about
// a thousandth of their size.
hostile::Bytes deflatedZeros(uint32_t width, uint32_t rows) {
    hostile::Bytes out;
    z_stream z{};
    deflateInit(&z, 9);
    std::vector<uint8_t> row(size_t{width} + 1, 0), buf(1 << 16);
    for (uint32_t y = 0; y < rows; ++y) {
        z.next_in = row.data();
        z.avail_in = static_cast<uInt>(row.size());
        int flush = y + 1 == rows ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = buf.data();
            z.avail_out = static_cast<uInt>(buf.size());
            deflate(&z, flush);
            out.insert(out.end(), buf.data(), buf.data() + (buf.size() - z.avail_out));
        } while (z.avail_out == 0 || (flush == Z_FINISH && z.avail_in));
    }
    deflateEnd(&z);
    return out;
}

bool writeFile(const std::string &path, const hostile::Bytes &b) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return std::fclose(f) == 0 && ok;
}

int loadOne(const char *path) {
    int32_t h = ToDIB(path);
    if (h) {
        BITMAPINFOHEADER bi{};
        HeadDIB(h, &bi);
        std::printf("loaded %dx%d", bi.biWidth, bi.biHeight);
        DeleteDIB(h);
    } else {
        std::printf("refused: %s", ImgctlLastError());
    }
    return 0;
}

void measure(const char *self, const std::string &name, const std::string &path, size_t bytes) {
    std::fflush(stdout);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        execl(self, self, "--load", path.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("\n  %-32s %9zu bytes  %8.1f ms  peak RSS %7.1f MB%s\n", name.c_str(), bytes, ms,
                ru.ru_maxrss / 1024.0,
                WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ""
                                                              : "  (child did not exit cleanly)");
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 3 && std::string(argv[1]) == "--load") return loadOne(argv[2]);

    std::string folder;
    if (argc == 2) {
        folder = argv[1];
    } else {
        char templ[] = "/tmp/nubaro-limits-XXXXXX";
        if (!mkdtemp(templ)) return 1;
        folder = templ;
    }

    std::vector<hostile::Case> cases;
    cases.push_back({"baseline-jpeg-8x8", hostile::jpeg(8, 8, 1, 16), ""});
    cases.push_back(
        {"baseline-png-1x1", hostile::png(1, 1, 2, hostile::zlibStored(hostile::Bytes(4, 0))), ""});
    for (auto &c : hostile::oversizedCases())
        cases.push_back(std::move(c));
    // 65,535 x 20,000 gray: 1.3 GB of zeros in a 1.3 MB file.
    cases.push_back({"png-bomb-65535x20000-deflated",
                     hostile::png(65535, 20000, 0, deflatedZeros(65535, 20000)), ""});
    // 16,000 x 16,000 RGBA zeros (1.02 GB, inside the limits) in a 1 MB
    // file: a picture the library may open, reported for comparison.
    cases.push_back({"png-16000x16000-rgba-deflated",
                     hostile::png(16000, 16000, 6, deflatedZeros(16000 * 4, 16000)), ""});

    std::printf("limits: each file loaded by ToDIB in a fresh process\n");
    for (const auto &c : cases) {
        std::string path = folder + "/" + c.name;
        if (!writeFile(path, c.bytes)) {
            std::printf("cannot write %s\n", path.c_str());
            return 1;
        }
        measure(argv[0], c.name, path, c.bytes.size());
        unlink(path.c_str());
    }
    if (argc != 2) rmdir(folder.c_str());
    return 0;
}
