// SPDX-License-Identifier: MIT
#include "chain.h"

namespace convert {

namespace {

// Runs the steps and the save on `current`; a 0 result fails the chain,
// which goes on holding the step's input (the library leaves it intact).
class Runner {
  public:
    Runner(imagelib::ImageLibrary &lib, int32_t &current, ChainResult &result)
        : lib_(lib), current_(current), result_(result) {}

    bool step(const Step &s) {
        int32_t next = 0;
        switch (s.kind) {
        case Step::ExpandRle:
            next = lib_.RLEtoDIB(current_);
            break;
        case Step::To24Bit:
            next = lib_.DIBto24Bit(current_);
            break;
        case Step::To16Bit: {
            int32_t mode = s.argument;
            next = lib_.DIBto16Bit(current_, &mode);
            break;
        }
        case Step::To8Bit:
            next = lib_.DIBto8Bit(current_, 0, s.argument);
            break;
        case Step::CompressRle:
            next = lib_.DIBtoRLE(current_);
            break;
        case Step::Gray:
            next = lib_.GrayDIB(current_, s.argument);
            break;
        case Step::Strip:
            next = lib_.DIBStrip(current_);
            break;
        }
        if (next <= 0) return failed(kStepNames[s.kind], next);
        current_ = next;
        return true;
    }

    bool save(const Save &s, const std::string &output) {
        const char *path = output.c_str();
        result_.file = output;
        int32_t ok = 0;
        switch (s.kind) {
        case Save::Bmp:
            ok = lib_.DIBtoBMP(path, current_);
            break;
        case Save::Jpeg:
            ok = lib_.DIBtoJPG(path, current_, s.quality, s.progressive);
            break;
        case Save::Png:
            ok = lib_.DIBtoPNG(path, current_, 0);
            break;
        case Save::PngEx:
            ok = lib_.DIBtoPNGex(path, current_, &s.png);
            break;
        }
        if (ok != 0) return true;
        return failed(kSaveNames[s.kind], ok);
    }

    // Notes the library's account of the call that just failed, before any
    // other call can replace it.
    bool failed(const char *function, int32_t returned) {
        result_.errorCode = lib_.ImgctlLastErrorCode();
        const char *message = lib_.ImgctlLastError();
        result_.libraryMessage = message ? message : "";
        result_.cause = std::string(function) + " returned " + std::to_string(returned);
        return false;
    }

  private:
    // The library function of each step and save, in Step::Kind and Save::Kind order.
    static constexpr const char *kStepNames[] = {
        "RLEtoDIB", "DIBto24Bit", "DIBto16Bit", "DIBto8Bit", "DIBtoRLE", "GrayDIB", "DIBStrip"};
    static constexpr const char *kSaveNames[] = {"DIBtoBMP", "DIBtoJPG", "DIBtoPNG", "DIBtoPNGex"};

    imagelib::ImageLibrary &lib_;
    int32_t &current_;
    ChainResult &result_;
};

} // namespace

ChainResult runChain(imagelib::ImageLibrary &lib, const ConversionRequest &request,
                     const std::string &source, const std::string &output,
                     bool releaseWhileSaving) {
    ChainResult result;
    int32_t current = 0;
    Runner run(lib, current, result);
    try {
        result.stage = Stage::Load;
        result.file = source;
        current = lib.ToDIB(source.c_str());
        if (current <= 0) {
            result.failed = true;
            run.failed("ToDIB", current);
            return result;
        }

        result.stage = Stage::Convert;
        bool ok = true;
        for (const Step &step : request.steps)
            if (ok) ok = run.step(step);
        // Only lowers the memory the save needs; a refusal changes nothing else.
        if (ok && releaseWhileSaving) lib.ImgctlReleaseWhileSaving(current);
        if (!ok || !run.save(request.save, output)) {
            result.failed = true;
            result.heldImage = current;
            return result;
        }

        result.stage = Stage::Release;
        result.file.clear();
        lib.DeleteDIB(current);
        return result;
    } catch (const imagelib::LibraryError &e) {
        result.failed = true;
        result.cause = e.what();
        result.unreachable = e;
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

} // namespace convert
