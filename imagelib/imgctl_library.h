// SPDX-License-Identifier: MIT
// ImageLibrary over libimgctl.so, found by its library name when the first
// image operation runs (not at start). Each function is looked up by name at
// its first call and remembered.
#pragma once

#include "image_library.h"

#include <QLibrary>

#include <memory>
#include <string>

namespace imagelib {

class ImgctlLibrary final : public ImageLibrary {
  public:
    // name: the library name handed to QLibrary ("imgctl" finds libimgctl.so
    // through the program's run path, then beside the program).
    explicit ImgctlLibrary(std::string name = "imgctl");
    ~ImgctlLibrary() override;
    ImgctlLibrary(const ImgctlLibrary &) = delete;
    ImgctlLibrary &operator=(const ImgctlLibrary &) = delete;

    // The file that was loaded; empty before the first call.
    std::string loadedFile() const;

    int32_t ToDIB(const char *path) override;
    int32_t HeadDIB(int32_t image, BITMAPINFOHEADER *header) override;
    int32_t DIBtoDCex2(ImgctlSurface *dc, int32_t dx, int32_t dy, int32_t dw, int32_t dh,
                       int32_t image, int32_t sx, int32_t sy, int32_t sw, int32_t sh, uint32_t rop,
                       int32_t mode) override;
    int32_t DeleteDIB(int32_t image) override;
    int32_t RLEtoDIB(int32_t image) override;
    int32_t DIBto24Bit(int32_t image) override;
    int32_t DIBto16Bit(int32_t image, int32_t *flag) override;
    int32_t DIBto8Bit(int32_t image, int32_t a, int32_t b) override;
    int32_t DIBtoRLE(int32_t image) override;
    int32_t GrayDIB(int32_t image, int32_t level) override;
    int32_t DIBtoBMP(const char *path, int32_t image) override;
    int32_t DIBtoJPG(const char *path, int32_t image, int32_t quality,
                     int32_t progressive) override;
    int32_t DIBtoPNG(const char *path, int32_t image, int32_t zero) override;
    int32_t DIBtoPNGex(const char *path, int32_t image, const PngOptions *options) override;

  private:
    enum Fn : int {
        kToDIB,
        kHeadDIB,
        kDIBtoDCex2,
        kDeleteDIB,
        kRLEtoDIB,
        kDIBto24Bit,
        kDIBto16Bit,
        kDIBto8Bit,
        kDIBtoRLE,
        kGrayDIB,
        kDIBtoBMP,
        kDIBtoJPG,
        kDIBtoPNG,
        kDIBtoPNGex,
        kFnCount
    };

    // The address of function `fn`, resolved on its first use; raises
    // LibraryError naming the library or the function.
    QFunctionPointer function(Fn fn);
    void load();

    template <typename Signature> Signature *typed(Fn fn) {
        return reinterpret_cast<Signature *>(function(fn));
    }

    std::string name_;
    std::unique_ptr<QLibrary> library_; // set once loaded
    QFunctionPointer functions_[kFnCount] = {};
};

} // namespace imagelib
