// SPDX-License-Identifier: MIT
// Micro-benchmarks of the library's hot paths (pixel conversions, scaling,
// BMP, RLE, PNG and JPEG coding) on a synthetic photo-like image (smooth
// gradients with noise, so it has far more than 256 colours).
#include "core/ops.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

using namespace imgctl;

namespace {

Image photoLike(uint32_t w, uint32_t h) {
    Image img = makeImage(w, h, 24).value();
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t *p = img.row(y);
        for (uint32_t x = 0; x < w; ++x, p += 3) {
            int b = static_cast<int>(255 * x / w), g = static_cast<int>(255 * y / h),
                r = static_cast<int>((x + y) * 255 / (w + h));
            p[0] = static_cast<uint8_t>(std::clamp(b + noise(rng), 0, 255));
            p[1] = static_cast<uint8_t>(std::clamp(g + noise(rng), 0, 255));
            p[2] = static_cast<uint8_t>(std::clamp(r + noise(rng), 0, 255));
        }
    }
    return img;
}

const Image &source() {
    static const Image img = photoLike(4000, 3000);
    return img;
}

void BM_To8(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        Image img = copyImage(source()).value();
        state.ResumeTiming();
        Status s = convertTo8(img, 0, static_cast<int32_t>(state.range(0)));
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(state.iterations() * source().width * source().height);
}
BENCHMARK(BM_To8)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_To16(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        Image img = copyImage(source()).value();
        state.ResumeTiming();
        Status s = convertTo16(img, 1);
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(state.iterations() * source().width * source().height);
}
BENCHMARK(BM_To16)->Unit(benchmark::kMillisecond);

void BM_32To24(benchmark::State &state) {
    Image img32 = makeImage(4000, 3000, 32).value();
    std::memset(img32.pixels.data(), 0x80, img32.stride * img32.height);
    for (auto _ : state) {
        state.PauseTiming();
        Image img = copyImage(img32).value();
        state.ResumeTiming();
        Status s = convertTo24(img);
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_32To24)->Unit(benchmark::kMillisecond);

void BM_AreaScale(benchmark::State &state) {
    std::vector<uint32_t> pixels(33 * 33);
    ImgctlSurface surface{pixels.data(), 33, 33, 33 * 4};
    for (auto _ : state) {
        Status s =
            drawImage(source(), surface, 0, 0, 33, 33, 0, 0, static_cast<int32_t>(source().width),
                      static_cast<int32_t>(source().height), IMGCTL_SRCCOPY, 4);
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_AreaScale)->Unit(benchmark::kMillisecond);

// ---- Coding: BMP read and write, RLE, PNG and JPEG writes, PNG read ----

// Outputs go to memory-backed storage where there is some, so that the disk's
// flush does not drown the coder's time.
std::string scratchPath(const char *name) {
    const char *dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/nubaro-bench-" + std::to_string(::getpid()) + "-" + name;
}

std::vector<uint8_t> fileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const Image &palette8() {
    static const Image img = [] {
        Image c = copyImage(source()).value();
        if (!convertTo8(c, 0, 0)) std::abort();
        return c;
    }();
    return img;
}

void BM_BmpDecode(benchmark::State &state) {
    const std::string path = scratchPath("in.bmp");
    if (!saveBmp(source(), path.c_str())) return state.SkipWithError("cannot write the input");
    const std::vector<uint8_t> bytes = fileBytes(path);
    std::remove(path.c_str());
    for (auto _ : state) {
        Result<Image> img = decodeBmp(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(img);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_BmpDecode)->Unit(benchmark::kMillisecond);

void BM_BmpEncode(benchmark::State &state) {
    const std::string path = scratchPath("out.bmp");
    for (auto _ : state) {
        Status s = saveBmp(source(), path.c_str());
        benchmark::DoNotOptimize(s);
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_BmpEncode)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RleCompress(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        Image img = copyImage(palette8()).value();
        state.ResumeTiming();
        Status s = compressRle(img);
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_RleCompress)->Unit(benchmark::kMillisecond);

// Level 5 and 9, plain and interlaced (argument: level * 2 + interlaced).
void BM_PngEncode(benchmark::State &state) {
    const std::string path = scratchPath("out.png");
    const int level = static_cast<int>(state.range(0) / 2);
    const bool interlaced = state.range(0) % 2 != 0;
    for (auto _ : state) {
        Status s = savePng(source(), path.c_str(), level, interlaced);
        benchmark::DoNotOptimize(s);
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_PngEncode)->Arg(10)->Arg(11)->Arg(18)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PngDecode(benchmark::State &state) {
    const std::string path = scratchPath("in.png");
    if (!savePng(source(), path.c_str(), 6, false))
        return state.SkipWithError("cannot write the input");
    const std::vector<uint8_t> bytes = fileBytes(path);
    std::remove(path.c_str());
    for (auto _ : state) {
        Result<Image> img = decodePng(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(img);
    }
}
BENCHMARK(BM_PngDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

// Quality 60, baseline (0) and progressive (1).
void BM_JpegEncode(benchmark::State &state) {
    const std::string path = scratchPath("out.jpg");
    for (auto _ : state) {
        Status s = saveJpeg(source(), path.c_str(), 60, state.range(0) != 0);
        benchmark::DoNotOptimize(s);
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_JpegEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
