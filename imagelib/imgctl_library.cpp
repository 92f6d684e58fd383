// SPDX-License-Identifier: MIT
#include "imgctl_library.h"

#include <QCoreApplication>
#include <QDir>

namespace imagelib {

namespace {

constexpr const char *kNames[] = {
    "ToDIB",     "HeadDIB",  "DIBtoDCex2", "DeleteDIB", "RLEtoDIB", "DIBto24Bit", "DIBto16Bit",
    "DIBto8Bit", "DIBtoRLE", "GrayDIB",    "DIBtoBMP",  "DIBtoJPG", "DIBtoPNG",   "DIBtoPNGex",
};

} // namespace

ImgctlLibrary::ImgctlLibrary(std::string name) : name_(std::move(name)) {}

// The library stays loaded for the life of the process: images it holds may
// outlive this object, and unloading code that other objects still call into
// gains nothing.
ImgctlLibrary::~ImgctlLibrary() = default;

std::string ImgctlLibrary::loadedFile() const {
    return library_ ? library_->fileName().toStdString() : std::string();
}

void ImgctlLibrary::load() {
    const QString name = QString::fromStdString(name_);
    auto library = std::make_unique<QLibrary>(name);
    if (!library->load() && !name.contains(QLatin1Char('/')) && QCoreApplication::instance()) {
        // Beside the program, for a build whose run path dlopen does not honour.
        const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
        auto local = std::make_unique<QLibrary>(beside);
        if (local->load()) library = std::move(local);
    }
    if (!library->isLoaded()) {
        throw LibraryError(name_, {},
                           "ライブラリ「" + name_ + "」を読み込めません。(" +
                               library->errorString().toStdString() + ")");
    }
    library_ = std::move(library);
}

QFunctionPointer ImgctlLibrary::function(Fn fn) {
    if (QFunctionPointer known = functions_[fn]) return known;
    if (!library_) load();
    QFunctionPointer found = library_->resolve(kNames[fn]);
    if (!found) {
        throw LibraryError(name_, kNames[fn],
                           "ライブラリ「" + name_ + "」に関数「" + kNames[fn] + "」がありません。");
    }
    functions_[fn] = found;
    return found;
}

int32_t ImgctlLibrary::ToDIB(const char *path) {
    return typed<decltype(::ToDIB)>(kToDIB)(path);
}

int32_t ImgctlLibrary::HeadDIB(int32_t image, BITMAPINFOHEADER *header) {
    return typed<decltype(::HeadDIB)>(kHeadDIB)(image, header);
}

int32_t ImgctlLibrary::DIBtoDCex2(ImgctlSurface *dc, int32_t dx, int32_t dy, int32_t dw, int32_t dh,
                                  int32_t image, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                                  uint32_t rop, int32_t mode) {
    return typed<decltype(::DIBtoDCex2)>(kDIBtoDCex2)(dc, dx, dy, dw, dh, image, sx, sy, sw, sh,
                                                      rop, mode);
}

int32_t ImgctlLibrary::DeleteDIB(int32_t image) {
    return typed<decltype(::DeleteDIB)>(kDeleteDIB)(image);
}

int32_t ImgctlLibrary::RLEtoDIB(int32_t image) {
    return typed<decltype(::RLEtoDIB)>(kRLEtoDIB)(image);
}

int32_t ImgctlLibrary::DIBto24Bit(int32_t image) {
    return typed<decltype(::DIBto24Bit)>(kDIBto24Bit)(image);
}

int32_t ImgctlLibrary::DIBto16Bit(int32_t image, int32_t *flag) {
    return typed<decltype(::DIBto16Bit)>(kDIBto16Bit)(image, flag);
}

int32_t ImgctlLibrary::DIBto8Bit(int32_t image, int32_t a, int32_t b) {
    return typed<decltype(::DIBto8Bit)>(kDIBto8Bit)(image, a, b);
}

int32_t ImgctlLibrary::DIBtoRLE(int32_t image) {
    return typed<decltype(::DIBtoRLE)>(kDIBtoRLE)(image);
}

int32_t ImgctlLibrary::GrayDIB(int32_t image, int32_t level) {
    return typed<decltype(::GrayDIB)>(kGrayDIB)(image, level);
}

int32_t ImgctlLibrary::DIBtoBMP(const char *path, int32_t image) {
    return typed<decltype(::DIBtoBMP)>(kDIBtoBMP)(path, image);
}

int32_t ImgctlLibrary::DIBtoJPG(const char *path, int32_t image, int32_t quality,
                                int32_t progressive) {
    return typed<decltype(::DIBtoJPG)>(kDIBtoJPG)(path, image, quality, progressive);
}

int32_t ImgctlLibrary::DIBtoPNG(const char *path, int32_t image, int32_t zero) {
    return typed<decltype(::DIBtoPNG)>(kDIBtoPNG)(path, image, zero);
}

int32_t ImgctlLibrary::DIBtoPNGex(const char *path, int32_t image, const PngOptions *options) {
    return typed<decltype(::DIBtoPNGex)>(kDIBtoPNGex)(path, image, options);
}

} // namespace imagelib
