// Arbitrary bytes through the decoders, chosen by the first bytes exactly as
// loading a file chooses them (the seeds hold all three formats).
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto image = fuzzing::decodeAny(data, size);
    if (image) {
        // A decoded image must describe its own buffer.
        const imgctl::Image &im = image.value();
        if (im.width == 0 || im.height == 0 || im.width > imgctl::kMaxDimension ||
            im.height > imgctl::kMaxDimension || im.pixels.size() < size_t{im.height} * im.stride ||
            im.stride < imgctl::strideFor(im.width, im.bitCount))
            __builtin_trap();
        if (im.isPalette() && (im.palette.empty() || im.palette.size() > (1u << im.bitCount)))
            __builtin_trap();
    } else if (image.status().message().empty()) {
        __builtin_trap(); // every failure names its cause
    }
    return 0;
}
