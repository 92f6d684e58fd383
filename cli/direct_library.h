// SPDX-License-Identifier: MIT
// ImageLibrary over libimgctl.so linked in the usual way: each call goes
// straight to the C function of the same name. The command-line converter
// uses it to run the window's chain without Qt.
#pragma once

#include "image_library.h"

namespace cli {

class DirectLibrary final : public imagelib::ImageLibrary {
  public:
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
};

} // namespace cli
