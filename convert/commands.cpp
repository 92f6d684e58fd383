#include "commands.h"

#include <exception>

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

} // namespace

bool ConversionCommands::browse() {
    const std::string oldSource = settings_.sourcePath;
    const int16_t oldFilterIndex = settings_.filterIndex;
    std::string oldText;
    bool textChanged = false;
    try {
        dialog_.FilterIndex = settings_.filterIndex;
        dialog_.DefaultExt = openDefaultExt(settings_, settings_.filterIndex);
        dialog_.Filter = kOpenFilter;
        if (!dialog_.ShowOpen()) return true;

        settings_.sourcePath = dialog_.FileName;
        settings_.filterIndex = dialog_.FilterIndex;
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
            box_.show(errorText(e.what()), kErrorTitle);
        } catch (const std::exception &) {
            // The window cannot even report it; keep running.
        }
        return false;
    }
}

void ConversionCommands::preview(const std::string &path) {
    Busy busy(view_);
    const int32_t image = lib_.ToDIB(path.c_str());
    try {
        if (image > 0) {
            BITMAPINFOHEADER header{};
            lib_.HeadDIB(image, &header);
            ImgctlSurface surface = view_.previewSurface();
            lib_.DIBtoDCex2(&surface, 0, 0, surface.width, surface.height, image, 0, 0,
                            header.biWidth, header.biHeight, IMGCTL_SRCCOPY, kPreviewMode);
            view_.refreshPreview();
        }
    } catch (...) {
        try {
            lib_.DeleteDIB(image);
        } catch (const std::exception &) {
            // The first failure is the one to report.
        }
        throw;
    }
    lib_.DeleteDIB(image);
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
        result = runChain(lib_, settings_, view_.check1() == 1, source, output);
    } catch (const std::exception &e) {
        result.failed = true;
        result.cause = e.what();
    }
    if (!result.failed) return;

    try {
        box_.show(errorText(stageDetail(result.stage)), kErrorTitle);
    } catch (const std::exception &) {
        // Still release what the chain holds.
    }
    releaseHeldImage(lib_, result);
}

} // namespace convert
