// SPDX-License-Identifier: MIT
#include "direct_library.h"

namespace cli {

int32_t DirectLibrary::ToDIB(const char *path) {
    return ::ToDIB(path);
}
int32_t DirectLibrary::HeadDIB(int32_t image, BITMAPINFOHEADER *header) {
    return ::HeadDIB(image, header);
}
int32_t DirectLibrary::DIBtoDCex2(ImgctlSurface *dc, int32_t dx, int32_t dy, int32_t dw, int32_t dh,
                                  int32_t image, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                                  uint32_t rop, int32_t mode) {
    return ::DIBtoDCex2(dc, dx, dy, dw, dh, image, sx, sy, sw, sh, rop, mode);
}
int32_t DirectLibrary::DeleteDIB(int32_t image) {
    return ::DeleteDIB(image);
}
int32_t DirectLibrary::RLEtoDIB(int32_t image) {
    return ::RLEtoDIB(image);
}
int32_t DirectLibrary::DIBto24Bit(int32_t image) {
    return ::DIBto24Bit(image);
}
int32_t DirectLibrary::DIBto16Bit(int32_t image, int32_t *flag) {
    return ::DIBto16Bit(image, flag);
}
int32_t DirectLibrary::DIBto8Bit(int32_t image, int32_t a, int32_t b) {
    return ::DIBto8Bit(image, a, b);
}
int32_t DirectLibrary::DIBtoRLE(int32_t image) {
    return ::DIBtoRLE(image);
}
int32_t DirectLibrary::GrayDIB(int32_t image, int32_t level) {
    return ::GrayDIB(image, level);
}
int32_t DirectLibrary::DIBtoBMP(const char *path, int32_t image) {
    return ::DIBtoBMP(path, image);
}
int32_t DirectLibrary::DIBtoJPG(const char *path, int32_t image, int32_t quality,
                                int32_t progressive) {
    return ::DIBtoJPG(path, image, quality, progressive);
}
int32_t DirectLibrary::DIBtoPNG(const char *path, int32_t image, int32_t zero) {
    return ::DIBtoPNG(path, image, zero);
}
int32_t DirectLibrary::DIBtoPNGex(const char *path, int32_t image, const PngOptions *options) {
    return ::DIBtoPNGex(path, image, options);
}

} // namespace cli
