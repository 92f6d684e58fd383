// SPDX-License-Identifier: MIT
#include "commands.h"

#include "failure_text.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <vector>

namespace convert {

namespace {

// The wait cursor for as long as the library works; off again before any box.
class Busy {
  public:
    explicit Busy(ConvertView &view) : view_(view) { view_.setBusy(true); }
    ~Busy() { view_.setBusy(false); }
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;

  private:
    ConvertView &view_;
};

// The default extension of open-dialog entry `index` (1-based); the first
// entry's while nothing was picked yet.
std::string openDefaultExt(const ConversionSettings &settings, int index) {
    static constexpr const char *kFallback[] = {"bmp", "jpg", "png"};
    const int i = (index >= 1 && index <= 3) ? index - 1 : 0;
    const std::string &ext = settings.extensions[i];
    return ext.empty() ? kFallback[i] : ext;
}

std::vector<uint32_t> copyPixels(const ImgctlSurface &s) {
    std::vector<uint32_t> out;
    if (!s.pixels || s.width <= 0 || s.height <= 0) return out;
    const size_t w = static_cast<size_t>(s.width);
    out.resize(w * static_cast<size_t>(s.height));
    for (int32_t y = 0; y < s.height; ++y) {
        const auto *row = reinterpret_cast<const uint32_t *>(
            reinterpret_cast<const unsigned char *>(s.pixels) + ptrdiff_t(y) * s.stride_bytes);
        std::copy(row, row + w, out.begin() + ptrdiff_t(y * w));
    }
    return out;
}

void restorePixels(const ImgctlSurface &s, const std::vector<uint32_t> &saved) {
    const size_t w = static_cast<size_t>(s.width);
    for (int32_t y = 0; y < s.height; ++y) {
        auto *row = reinterpret_cast<uint32_t *>(reinterpret_cast<unsigned char *>(s.pixels) +
                                                 ptrdiff_t(y) * s.stride_bytes);
        std::copy(saved.begin() + ptrdiff_t(y * w), saved.begin() + ptrdiff_t((y + 1) * w), row);
    }
}

} // namespace

bool ConversionCommands::browse() {
    const int16_t oldFilterIndex = settings_.filterIndex;
    try {
        dialog_.FilterIndex = settings_.filterIndex;
        dialog_.DefaultExt = openDefaultExt(settings_, settings_.filterIndex);
        dialog_.Filter = kOpenFilter;
        if (!dialog_.ShowOpen()) return true;
        settings_.filterIndex = dialog_.FilterIndex;
    } catch (const std::exception &e) {
        settings_.filterIndex = oldFilterIndex;
        report(e);
        return false;
    }
    return useSource(dialog_.FileName, oldFilterIndex);
}

bool ConversionCommands::takeSource(const std::string &path) {
    return useSource(path, settings_.filterIndex);
}

bool ConversionCommands::useSource(const std::string &path, int16_t oldFilterIndex) {
    const std::string oldSource = settings_.sourcePath;
    std::string oldText;
    bool textChanged = false;
    try {
        settings_.sourcePath = path;
        oldText = view_.text1();
        view_.setText1(settings_.sourcePath);
        textChanged = true;

        preview(settings_.sourcePath);
        return true;
    } catch (const std::exception &e) {
        settings_.sourcePath = oldSource;
        settings_.filterIndex = oldFilterIndex;
        try {
            if (textChanged) view_.setText1(oldText);
        } catch (const std::exception &) {
            // The box still says what went wrong.
        }
        report(e);
        return false;
    }
}

void ConversionCommands::report(const std::exception &e) {
    try {
        // A library that cannot be reached is named in one sentence.
        if (const auto *unreachable = dynamic_cast<const imagelib::LibraryError *>(&e))
            box_.show(unreachableText(*unreachable), kErrorTitle, {});
        else
            box_.show(errorText(e.what()), kErrorTitle, {});
    } catch (const std::exception &) {
        // The window cannot even report it; keep running.
    }
}

void ConversionCommands::preview(const std::string &path) {
    Busy busy(view_);
    const int32_t image = lib_.ToDIB(path.c_str());
    ImgctlSurface surface{};
    std::vector<uint32_t> before; // the box as it was, should a later call fail
    try {
        if (image > 0) {
            BITMAPINFOHEADER header{};
            lib_.HeadDIB(image, &header);
            surface = view_.previewSurface();
            before = copyPixels(surface);
            lib_.DIBtoDCex2(&surface, 0, 0, surface.width, surface.height, image, 0, 0,
                            header.biWidth, header.biHeight, IMGCTL_SRCCOPY, kPreviewMode);
            view_.refreshPreview();
        }
        lib_.DeleteDIB(image);
    } catch (...) {
        if (!before.empty()) {
            restorePixels(surface, before);
            view_.refreshPreview();
        }
        try {
            lib_.DeleteDIB(image);
        } catch (const std::exception &) {
            // The first failure is the one to report.
        }
        throw;
    }
}

void ConversionCommands::convert() {
    if (view_.text1().empty()) return;

    std::string output;
    try {
        const SaveFormat *format = saveFormat(settings_.formatIndex);
        if (!format) return;
        dialog_.Flags = kSaveFlags;
        dialog_.Filter = format->filter;
        dialog_.DefaultExt = format->defaultExt;
        dialog_.FileName.clear();
        if (!dialog_.ShowSave()) return;
        output = dialog_.FileName;
        if (output.empty()) return;
    } catch (const std::exception &) {
        return; // before the output name is known a failure ends quietly
    }

    ChainResult result;
    try {
        Busy busy(view_);
        const std::string source = view_.text1();
        const std::optional<ConversionRequest> request =
            conversionRequest(settings_, view_.check1() == 1);
        if (!request) return;
        result = runChain(lib_, *request, source, output);
    } catch (const std::exception &e) {
        result.failed = true;
        result.cause = e.what();
    }
    if (!result.failed) return;

    try {
        box_.show(errorText(stageDetail(result.stage)), kErrorTitle, failureDetails(result));
    } catch (const std::exception &) {
        // Still release what the chain holds.
    }
    releaseHeldImage(lib_, result);
}

} // namespace convert
