// SPDX-License-Identifier: MIT
// Differential: the quantizer's mapping (quantize/map_bands.h) on one thread
// and on two, the image always cut into halves (the tuning's threshold at 0,
// only the thread count changing): both give byte-identical images, dithered
// or not. Mapping to the nearest colour does not depend on the cut, so there
// the halves also agree with one part over the whole image. The input's
// first bytes choose dithering, exact mapping of few colours and the palette
// (1 to 256 colours); the rest makes the image (16, 24 or 32 bits, up to
// 64 x 64 pixels). Building the palette is left out: it runs on one thread
// and takes far longer than the mapping.
#include "fuzz_common.h"
#include "quantize/map_bands.h"
#include "quantize/nearest_search.h"

namespace {

using namespace imgctl;

Image mapped(const Image &source, const std::vector<std::array<int, 3>> &doubled,
             const std::vector<PaletteEntry> &palette, const ExactColours *exact, bool dither,
             const Tuning &tuning) {
    Image out = makeImage(source.width, source.height, 8).value();
    std::memset(out.pixels.data(), 0, out.pixels.size());
    out.palette = palette;
    mapToPalette(BgrRows(source), doubled, exact, dither, tuning, out);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzzing::guarded([&] {
        fuzzing::Input in{data, size};
        const uint8_t how = in.byte();
        const bool dither = how & 1;
        std::vector<PaletteEntry> palette(1 + in.byte());
        std::vector<std::array<int, 3>> doubled;
        for (PaletteEntry &e : palette) {
            e = {in.byte(), in.byte(), in.byte(), 255};
            doubled.push_back({2 * e.b, 2 * e.g, 2 * e.r});
        }
        const Image source = fuzzing::rawImage(in, 64, {16, 24, 32});
        // Few colours, each mapped once, exactly (as convertTo8 does when
        // not dithering).
        ExactColours exact;
        std::vector<uint8_t> scratch(size_t{3} * source.width);
        const bool exactly =
            !dither && (how & 2) &&
            exact.count(BgrRows(source), source.width, source.height, scratch.data());
        if (exactly) {
            const NearestSearch<int> search(doubled);
            exact.assign([&](uint32_t b, uint32_t g, uint32_t r) {
                return search.find(static_cast<int>(2 * b), static_cast<int>(2 * g),
                                   static_cast<int>(2 * r));
            });
        }
        Tuning one = fuzzing::tuning();
        one.maxThreads = 1;
        const ExactColours *e = exactly ? &exact : nullptr;
        const Image two = mapped(source, doubled, palette, e, dither, fuzzing::tuning());
        const std::string what = std::string(dither ? "dithered" : "nearest") +
                                 (exactly ? " exact" : "") + ", " + std::to_string(palette.size()) +
                                 " colours: ";
        if (std::string d =
                fuzzing::difference(two, mapped(source, doubled, palette, e, dither, one));
            !d.empty())
            fuzzing::fail(what + "two threads and one differ in " + d);
        if (dither) return;
        if (std::string d = fuzzing::difference(
                two, mapped(source, doubled, palette, e, dither, Tuning::plainPaths()));
            !d.empty())
            fuzzing::fail(what + "the halves and one part differ in " + d);
    });
}
