// SPDX-License-Identifier: MIT
// Each decoded image through the conversion chains the program runs, all
// three saves (to tmpfs where there is one) and drawing into a small surface
// with rectangles taken from the input's last bytes, with every fast path's
// threshold lowered. A step that fails must leave its image exactly as it
// was; no step or save may fail with an internal error.
#include "fuzz_common.h"

#include <string>
#include <unistd.h>

namespace {

using imgctl::Image;
using imgctl::Status;

// Larger pictures add time, not paths: the conversions are row loops. The
// replay (NUBARO_REPLAY) takes every kept picture through every chain.
#ifdef NUBARO_REPLAY
constexpr uint64_t kMaxFuzzPixels = UINT64_MAX;
constexpr bool kEveryChain = true;
#else
constexpr uint64_t kMaxFuzzPixels = 256 * 256;
constexpr bool kEveryChain = false;
#endif

void saveAll(const Image &image, const std::string &stem, uint8_t knob) {
    const std::string bmp = stem + ".bmp", jpg = stem + ".jpg", png = stem + ".png";
    const imgctl::Tuning &tuning = fuzzing::tuning();
    fuzzing::expectNotInternal(imgctl::saveBmp(image, bmp.c_str()), "saveBmp");
    fuzzing::expectNotInternal(
        imgctl::saveJpeg(image, jpg.c_str(), 1 + knob % 100, knob & 1, tuning), "saveJpeg");
    fuzzing::expectNotInternal(imgctl::savePng(image, png.c_str(), knob % 10, knob & 2, tuning),
                               "savePng");
    for (const std::string *path : {&bmp, &jpg, &png})
        unlink(path->c_str());
}

void draw(const Image &image, const uint8_t *k) {
    uint32_t pixels[16 * 12];
    ImgctlSurface surface{pixels, 16, 12, 16 * 4};
    auto s = [&](int i) { return static_cast<int32_t>(static_cast<int8_t>(k[i])); };
    int32_t sw = 1 + k[6] % image.width, sh = 1 + k[7] % image.height;
    int32_t sx = k[8] % (image.width - sw + 1), sy = k[9] % (image.height - sh + 1);
    for (int32_t mode = 1; mode <= 4; mode += 3) {
        (void)imgctl::drawImage(image, surface, s(0), s(1), s(2), s(3), sx, sy, sw, sh,
                                IMGCTL_SRCCOPY, mode);
        (void)imgctl::drawImage(image, surface, 0, 0, 16, 12, 0, 0, image.width, image.height,
                                IMGCTL_SRCCOPY, mode);
        // Enlarging a corner and a whole image squeezed into one pixel.
        (void)imgctl::drawImage(image, surface, -3, -5, 40, 30, sx, sy, sw, sh, IMGCTL_SRCCOPY,
                                mode);
        (void)imgctl::drawImage(image, surface, 15, 11, 1, 1, 0, 0, image.width, image.height,
                                IMGCTL_SRCCOPY, mode);
    }
}

// One step of a chain; a failure must leave the image untouched.
template <class Op> bool step(Image &image, Op op) {
    imgctl::Result<Image> before = imgctl::copyImage(image);
    if (!before) return false;
    Status s = op(image);
    fuzzing::expectNotInternal(s, "a conversion");
    if (!s && s.message().empty()) fuzzing::fail("a failed conversion names no cause");
    if (!s) {
        if (std::string d = fuzzing::difference(image, before.value()); !d.empty())
            fuzzing::fail("a failed conversion (" + s.message() + ") changed " + d);
    }
    return s.isOk();
}

// Runs one chain on a copy: the steps, then the saves.
template <class Steps>
void chain(const Image &source, const std::string &stem, uint8_t knob, Steps steps) {
    imgctl::Result<Image> image = imgctl::copyImage(source);
    if (!image) return;
    steps(image.value());
    saveAll(image.value(), stem, knob);
}

void convertOne(const uint8_t *data, size_t size) {
    auto decoded = fuzzing::decodeAny(data, size);
    if (!decoded) return;
    const Image &source = decoded.value();
    if (uint64_t{source.width} * source.height > kMaxFuzzPixels) return;

    uint8_t knobs[10] = {};
    for (size_t i = 0; i < sizeof knobs && i < size; ++i)
        knobs[i] = data[size - 1 - i];
    // Where the saves go: files named after the process, on tmpfs where there
    // is one (the saves flush to disk), each removed right after it is written.
    static const std::string stem = fuzzing::scratchPath("convert");

    // One chain per input, picked by the last byte (bytes after an image's
    // end are ignored by every decoder), so that one input stays fast; the
    // fuzzer reaches every chain by mutating that byte.
    draw(source, knobs);
    for (int pick = knobs[0] % 8, last = kEveryChain ? pick + 7 : pick; pick <= last; ++pick) {
        switch (pick % 8) {
        case 0:
            chain(source, stem, knobs[1], [](Image &) {});
            break; // as loaded
        case 1:
            chain(source, stem, knobs[1], [](Image &im) { step(im, imgctl::expandRle); });
            break;
        case 2:
            chain(source, stem, knobs[2], [&](Image &im) {
                step(im, imgctl::expandRle);
                step(im, imgctl::convertTo24);
                step(im, [&](Image &i) { return imgctl::grayImage(i, knobs[3]); });
            });
            break;
        case 3:
        case 4:
            chain(source, stem, knobs[4], [&](Image &im) {
                step(im, [&](Image &i) { return imgctl::convertTo16(i, pick % 8 == 4); });
                step(im, [&](Image &i) { return imgctl::grayImage(i, knobs[5]); });
                draw(im, knobs);
            });
            break;
        case 5:
        case 6:
            chain(source, stem, knobs[6], [&](Image &im) {
                step(im, imgctl::expandRle);
                if (!step(im, [&](Image &i) {
                        return imgctl::convertTo8(i, 0, pick % 8 == 6, fuzzing::tuning());
                    }))
                    return;
                step(im, [&](Image &i) { return imgctl::grayImage(i, knobs[7]); });
                if (step(im, imgctl::compressRle)) draw(im, knobs);
            });
            break;
        default:
            // 4 and 8-bit images compress as they are.
            chain(source, stem, knobs[8], [&](Image &im) {
                step(im, imgctl::expandRle);
                step(im, imgctl::compressRle); // fails for other depths
                step(im, [](Image &i) { return imgctl::grayImage(i, 255); });
            });
            break;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzzing::guarded([&] { convertOne(data, size); });
}
