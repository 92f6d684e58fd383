// SPDX-License-Identifier: MIT
// An ImageLibrary for tests: records every call with its arguments, returns
// scripted results and keeps books of the handles it gave out, so a test can
// see a leaked or twice-released image.
#pragma once

#include "image_library.h"

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace imagelib {

class RecordingLibrary : public ImageLibrary {
  public:
    // One call as made. `text` is the call written out, e.g.
    // "DIBto8Bit(3,0,0)", "DIBtoBMP(/tmp/a.bmp,5)", "DIBto16Bit(3,&1)" or
    // "DIBtoPNGex(/tmp/a.png,3,{80 00 00 00 05 00 ...})" with all 36 bytes.
    struct Call {
        std::string function;
        std::string text;
    };

    std::vector<Call> calls;

    // Behaviour. DIBtoDCex2 paints its destination rectangle 0xFF000000 | image.
    // Unless scripted, ToDIB and every image-returning function
    // give a fresh handle (the input handle is then consumed), and the other
    // functions return 1.
    std::map<std::string, std::deque<int32_t>> results; // next results per function
    std::set<std::string> missingFunctions;             // these raise LibraryError
    bool libraryMissing = false;                        // every call raises LibraryError
    int32_t imageWidth = 640;                           // what HeadDIB reports
    int32_t imageHeight = 480;
    uint16_t imageBitCount = 24;

    // Book-keeping.
    std::set<int32_t> liveImages;     // handed out and not yet released or consumed
    std::vector<int32_t> badReleases; // DeleteDIB of a value naming no live image (> 0 only)
    std::vector<int32_t> staleUses;   // a consumed or released handle passed to a function

    // The calls' texts, in order.
    std::vector<std::string> texts() const;
    void clear() { calls.clear(); }

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
    void enter(const std::string &function) const;
    void record(const std::string &function, const std::string &args);
    bool scripted(const std::string &function, int32_t &result);
    void use(int32_t image);
    int32_t produce(const std::string &function, int32_t input); // image-returning step
    int32_t plain(const std::string &function);                  // 1 unless scripted

    int32_t nextHandle_ = 11;
    std::set<int32_t> gone_; // released or consumed
};

} // namespace imagelib
