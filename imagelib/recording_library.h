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
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

namespace imagelib {

class RecordingLibrary : public ImageLibrary {
  public:
    // One call as made. `text` is the call written out, e.g.
    // "DIBto8Bit(3,0,0)", "DIBtoBMP(/tmp/a.bmp,5)", "DIBto16Bit(3,&1)",
    // "HeadDIB(3)" (the header to fill is left out), "ImgctlLastErrorCode()" or
    // "DIBtoPNGex(/tmp/a.png,3,{80 00 00 00 05 00 ...})" with all 36 bytes.
    struct Call {
        std::string function;
        std::string text;
    };

    // What ImgctlLastErrorCode() and ImgctlLastError() report after a call
    // that failed.
    struct Failure {
        int32_t code = IMGCTL_ERR_INTERNAL;
        std::string message;
    };

    std::vector<Call> calls;

    // Behaviour. DIBtoDCex2 paints its destination rectangle 0xFF000000 | image.
    // Unless scripted, ToDIB and every image-returning function
    // give a fresh handle (the input handle is then consumed), and the other
    // functions return 1. A call that fails (a result of 0 or less) leaves the
    // cause scripted in `failures` for its function, else IMGCTL_ERR_INTERNAL
    // with "NAME failed".
    std::map<std::string, std::deque<int32_t>> results; // next results per function
    std::map<std::string, Failure> failures;            // the cause a failed call leaves
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

    IMGCTL_FUNCTIONS(IMGCTL_DECLARE_OVERRIDE)

  private:
    using Int = std::type_identity<int32_t>;
    using Text = std::type_identity<const char *>;

    void enter(const std::string &function) const;
    template <typename... A> void record(const char *function, const std::tuple<A...> &args);
    bool scripted(std::string_view function, int32_t &result);
    int32_t finish(std::string_view function, int32_t result); // notes a failure's cause
    int32_t plain(std::string_view function);                  // 1 unless scripted
    void use(int32_t image);
    int32_t replace(std::string_view function, int32_t input); // a step's new image

    // The answer of each function, told apart by its result and arguments.
    int32_t answer(Int, std::string_view fn, std::tuple<const char *> args); // ToDIB
    int32_t answer(Int, std::string_view fn, std::tuple<int32_t, BITMAPINFOHEADER *> args);
    template <typename... A>
    int32_t answer(Int, std::string_view fn, std::tuple<ImgctlSurface *, A...> args); // drawing
    // DeleteDIB, ImgctlReleaseWhileSaving or a step
    int32_t answer(Int, std::string_view fn, std::tuple<int32_t> args);
    template <typename... A>
    int32_t answer(Int, std::string_view fn, std::tuple<int32_t, A...> args); // a step
    template <typename... A>
    int32_t answer(Int, std::string_view fn, std::tuple<const char *, int32_t, A...> args); // save
    int32_t answer(Int, std::string_view fn,
                   std::tuple<> args); // ImgctlLastErrorCode, ImgctlStopSaves
    const char *answer(Text, std::string_view fn, std::tuple<> args); // ImgctlLastError

    int32_t nextHandle_ = 11;
    std::set<int32_t> gone_; // released or consumed
    Failure last_{IMGCTL_OK, {}};
};

} // namespace imagelib
