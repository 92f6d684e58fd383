// SPDX-License-Identifier: MIT
// The conversion chain: one source file in, one output file out, through the
// image library, as a conversion request asks. No dialogs or windows here, so
// any front end runs this very chain.
#pragma once

#include "image_library.h"
#include "request.h"

#include <cstdint>
#include <optional>
#include <string>

namespace convert {

// How far a conversion came. A failure is reported by the stage it happened in.
enum class Stage : int16_t {
    Load = 0,    // loading the source
    Convert = 1, // every chain step and the save
    Release = 2, // releasing the image
};

struct ChainResult {
    bool failed = false;
    Stage stage = Stage::Load; // the stage reached; on failure, the stage that failed
    // What failed, for logs and command-line front ends: "DIBtoPNG returned
    // 0", or the message of a library that could not be reached.
    std::string cause;
    // The file a failure concerns: the source, or the output when the save
    // failed; empty for a failed release.
    std::string file;
    // The library's own account of a call that failed: its category (an
    // ImgctlError value) and its message. IMGCTL_OK and empty when the
    // library could not be reached; `unreachable` then says why.
    int32_t errorCode = IMGCTL_OK;
    std::string libraryMessage;
    std::optional<imagelib::LibraryError> unreachable;
    // After a failure in Stage::Convert, the image the chain still holds. The
    // caller reports the failure first and then calls releaseHeldImage.
    int32_t heldImage = 0;
};

// Loads `source`, runs the request's steps and its save into `output`, then
// releases the image. A step or save that returns 0 fails the conversion; a
// LibraryError fails the stage it is raised in. Nothing escapes but
// std::bad_alloc. releaseWhileSaving: the save may hand the image's memory
// back as it writes (ImgctlReleaseWhileSaving), for a front end that never
// looks at a failed conversion's image again.
ChainResult runChain(imagelib::ImageLibrary &lib, const ConversionRequest &request,
                     const std::string &source, const std::string &output,
                     bool releaseWhileSaving = false);

// Releases result.heldImage, if any, and clears it. A library error here is
// swallowed: the failure has already been reported.
void releaseHeldImage(imagelib::ImageLibrary &lib, ChainResult &result);

// The save dialog's one-entry filter and default extension per output format
// (formatIndex 0 BMP, 1 JPEG, 2 PNG); null for any other index.
struct SaveFormat {
    const char *filter;
    const char *defaultExt;
};
const SaveFormat *saveFormat(int formatIndex);

} // namespace convert
