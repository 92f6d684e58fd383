// Micro-benchmarks of the pixel conversions on a synthetic photo-like image
// (smooth gradients with noise, so it has far more than 256 colours).
#include "ops.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

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

Image copyOf(const Image &img) {
    Image c = makeImage(img.width, img.height, img.bitCount).value();
    std::memcpy(c.pixels.data(), img.pixels.data(), img.stride * img.height);
    c.palette = img.palette;
    return c;
}

const Image &source() {
    static const Image img = photoLike(4000, 3000);
    return img;
}

void BM_To8(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        Image img = copyOf(source());
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
        Image img = copyOf(source());
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
        Image img = copyOf(img32);
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

} // namespace

BENCHMARK_MAIN();
