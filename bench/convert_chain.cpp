// SPDX-License-Identifier: MIT
// Times the BMP conversion chain the window runs, through the public
// interface, step by step, and prints the peak memory of the process.
//
//   convert_chain SOURCE OUTPUT.bmp {8|16|24} [REPEATS]
#include "imgctl.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: convert_chain SOURCE OUTPUT.bmp {8|16|24} [REPEATS]\n");
        return 2;
    }
    const int depth = std::atoi(argv[3]);
    const int repeats = argc > 4 ? std::max(1, std::atoi(argv[4])) : 1;
    double best[5] = {1e9, 1e9, 1e9, 1e9, 1e9};
    for (int i = 0; i < repeats; ++i) {
        double t[6];
        t[0] = now();
        int32_t h = ToDIB(argv[1]);
        if (h <= 0) return std::fprintf(stderr, "load: %s\n", ImgctlLastError()), 1;
        t[1] = now();
        h = RLEtoDIB(h);
        int32_t one = 1;
        int32_t converted = depth == 8    ? DIBto8Bit(h, 0, 0)
                            : depth == 16 ? DIBto16Bit(h, &one)
                                          : DIBto24Bit(h);
        if (converted <= 0) return std::fprintf(stderr, "convert: %s\n", ImgctlLastError()), 1;
        t[2] = now();
        h = GrayDIB(converted, 0);
        t[3] = now();
        if (!DIBtoBMP(argv[2], h)) return std::fprintf(stderr, "save: %s\n", ImgctlLastError()), 1;
        t[4] = now();
        DeleteDIB(h);
        t[5] = now();
        for (int k = 0; k < 4; ++k)
            best[k] = std::min(best[k], t[k + 1] - t[k]);
        best[4] = std::min(best[4], t[5] - t[0]);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("load %.3f  convert %.3f  gray %.3f  save %.3f  total %.3f s (best of %d); "
                "peak %.1f MB\n",
                best[0], best[1], best[2], best[3], best[4], repeats, usage.ru_maxrss / 1024.0);
    return 0;
}
