// SPDX-License-Identifier: MIT
// The conversion chain: one source file in, one output file out, through the
// image library, with the user's settings. No dialogs or windows here, so any
// front end runs this very chain.
#pragma once

#include "image_library.h"
#include "settings/conversion_settings.h"

#include <cstdint>
#include <string>

namespace convert {

// How far a conversion came. A failure is reported by the stage it happened in.
enum class Stage : int16_t {
    Prepare = -1, // before the output name is known
    Load = 0,     // loading the source
    Convert = 1,  // every chain step and the save
    Release = 2,  // releasing the image
};

struct ChainResult {
    bool failed = false;
    Stage stage = Stage::Load; // the stage reached; on failure, the stage that failed
    std::string cause;         // what failed, for logs and command-line front ends
    // After a failure in Stage::Convert, the image the chain still holds. The
    // caller reports the failure first and then calls releaseHeldImage.
    int32_t heldImage = 0;
};

// The 36-byte record DIBtoPNGex receives: option bits 128 when interlaced is
// -1, the level in bytes 4-5, every other byte zero.
PngOptions makePngOptions(const ConversionSettings &settings);

// Loads `source`, runs the chain of settings.formatIndex (BMP, JPEG or PNG)
// and writes `output`, then releases the image. rleTicked is the RLE box:
// compression runs only for 8-bit BMP output with it ticked. A step or save
// that returns 0 fails the conversion; a LibraryError fails the stage it is
// raised in. Nothing escapes but std::bad_alloc. The window always dithers
// 8-bit output; the command line may ask for nearest-colour mapping instead
// (DIBto8Bit with 0, 1).
ChainResult runChain(imagelib::ImageLibrary &lib, const ConversionSettings &settings,
                     bool rleTicked, const std::string &source, const std::string &output,
                     bool dither = true);

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

// The message box's texts.
inline constexpr const char *kErrorTitle = "エラー";
inline constexpr const char *kErrorHeader = "エラーが発生しました。症状は以下のとおりです。";
inline constexpr const char *kLoadFailedText =
    "ファイルを読み込み出来ませんでした。フォーマットが違うか、ファイルが存在しません。";
inline constexpr const char *kConvertFailedText =
    "ファイルを変換することが出来ませんでした。このエラーが続くようでしたら作者にご連絡ください。";

// The box's text: the header line, a line feed, the detail, a line feed.
std::string errorText(const std::string &detail);
// The detail line for a failure in `stage` (empty for Stage::Release).
std::string stageDetail(Stage stage);

} // namespace convert
