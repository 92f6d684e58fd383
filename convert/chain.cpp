// SPDX-License-Identifier: MIT
#include "chain.h"

#include <cstring>

namespace convert {

namespace {

constexpr uint32_t kSrcCopy = IMGCTL_SRCCOPY;

// Runs one step of the chain; a 0 result is a failure naming the step, and
// the chain goes on holding the input (the library leaves it intact).
struct Steps {
    imagelib::ImageLibrary &lib;
    int32_t &current;
    std::string &cause;

    template <typename F> bool step(const char *name, F &&call) {
        const int32_t next = call(current);
        if (next <= 0) {
            cause = std::string(name) + " returned " + std::to_string(next);
            return false;
        }
        current = next;
        return true;
    }

    bool save(const char *name, int32_t ok) {
        if (ok != 0) return true;
        cause = std::string(name) + " returned 0";
        return false;
    }
};

bool runFormat(Steps &s, const ConversionSettings &settings, bool rleTicked, bool dither,
               const std::string &output) {
    imagelib::ImageLibrary &lib = s.lib;
    const char *path = output.c_str();
    switch (settings.formatIndex) {
    case 0: {
        if (!s.step("RLEtoDIB", [&](int32_t h) { return lib.RLEtoDIB(h); })) return false;
        bool ok = true;
        switch (settings.bitDepthIndex) {
        case 0:
            ok = s.step("DIBto24Bit", [&](int32_t h) { return lib.DIBto24Bit(h); });
            break;
        case 1:
            ok = s.step("DIBto16Bit", [&](int32_t h) {
                int32_t rounding = 1;
                return lib.DIBto16Bit(h, &rounding);
            });
            break;
        case 2:
            ok =
                s.step("DIBto8Bit", [&](int32_t h) { return lib.DIBto8Bit(h, 0, dither ? 0 : 1); });
            break;
        default:
            s.cause = "unknown bit depth " + std::to_string(settings.bitDepthIndex);
            return false;
        }
        if (!ok) return false;
        if (settings.bitDepthIndex == 2 && rleTicked &&
            !s.step("DIBtoRLE", [&](int32_t h) { return lib.DIBtoRLE(h); })) {
            return false;
        }
        if (!s.step("GrayDIB", [&](int32_t h) {
                return lib.GrayDIB(h, static_cast<int32_t>(settings.grayLevel));
            })) {
            return false;
        }
        return s.save("DIBtoBMP", lib.DIBtoBMP(path, s.current));
    }
    case 1:
        return s.save("DIBtoJPG",
                      lib.DIBtoJPG(path, s.current, static_cast<int32_t>(settings.jpegQuality),
                                   static_cast<int32_t>(settings.progressive)));
    case 2:
        if (settings.detailsShown != kFalse) {
            const PngOptions options = makePngOptions(settings);
            return s.save("DIBtoPNGex", lib.DIBtoPNGex(path, s.current, &options));
        }
        return s.save("DIBtoPNG", lib.DIBtoPNG(path, s.current, 0));
    default:
        s.cause = "unknown output format " + std::to_string(settings.formatIndex);
        return false;
    }
}

} // namespace

PngOptions makePngOptions(const ConversionSettings &settings) {
    PngOptions options;
    std::memset(&options, 0, sizeof options);
    if (settings.interlaced == kTrue) options.flags = IMGCTL_PNG_INTERLACED;
    options.level = settings.pngLevel;
    return options;
}

ChainResult runChain(imagelib::ImageLibrary &lib, const ConversionSettings &settings,
                     bool rleTicked, const std::string &source, const std::string &output,
                     bool dither) {
    ChainResult result;
    int32_t current = 0;
    try {
        result.stage = Stage::Load;
        current = lib.ToDIB(source.c_str());
        if (current <= 0) {
            result.failed = true;
            result.cause = "ToDIB returned " + std::to_string(current);
            return result;
        }

        result.stage = Stage::Convert;
        Steps steps{lib, current, result.cause};
        if (!runFormat(steps, settings, rleTicked, dither, output)) {
            result.failed = true;
            result.heldImage = current;
            return result;
        }

        result.stage = Stage::Release;
        lib.DeleteDIB(current);
        return result;
    } catch (const imagelib::LibraryError &e) {
        result.failed = true;
        result.cause = e.what();
        // Only a failure while converting leaves an image to release; a failed
        // load has none, and a failed release cannot be retried.
        if (result.stage == Stage::Convert) result.heldImage = current;
        return result;
    }
}

void releaseHeldImage(imagelib::ImageLibrary &lib, ChainResult &result) {
    const int32_t image = result.heldImage;
    result.heldImage = 0;
    if (image <= 0) return;
    try {
        lib.DeleteDIB(image);
    } catch (const imagelib::LibraryError &) {
        // Nothing more to say: the failure was reported already.
    }
}

const SaveFormat *saveFormat(int formatIndex) {
    static constexpr SaveFormat kFormats[] = {
        {"BMPファイル|*.bmp", "bmp"},
        {"JPEGファイル|*.jpg;*.jpe;*.jpeg", "jpg"},
        {"PINGファイル|*.png", "png"},
    };
    if (formatIndex < 0 || formatIndex > 2) return nullptr;
    return &kFormats[formatIndex];
}

std::string errorText(const std::string &detail) {
    return std::string(kErrorHeader) + "\n" + detail + "\n";
}

std::string stageDetail(Stage stage) {
    switch (stage) {
    case Stage::Load:
        return kLoadFailedText;
    case Stage::Convert:
        return kConvertFailedText;
    default:
        return {};
    }
}

} // namespace convert
