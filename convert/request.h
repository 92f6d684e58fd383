// SPDX-License-Identifier: MIT
// One conversion request: the chain of library steps and the save call, with
// their arguments, that the user's settings ask for. The window and the
// command line both build their request here, and runChain carries it out.
#pragma once

#include "settings/conversion_settings.h"

#include <imgctl.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace convert {

// One step of the chain; each replaces the current image with its result.
struct Step {
    enum Kind { ExpandRle, To24Bit, To16Bit, To8Bit, CompressRle, Gray, Strip };
    Kind kind = {};
    // To16Bit: the 32-bit value passed by reference (1); To8Bit: the second
    // mode argument (0 dithers, 1 maps to the nearest colour); Gray: the
    // gray level. Unused by the other steps.
    int32_t argument = 0;
};

// The save call that writes the output file.
struct Save {
    enum Kind { Bmp, Jpeg, Png, PngEx };
    Kind kind = {};
    int32_t quality = 0;     // Jpeg
    int32_t progressive = 0; // Jpeg: -1 or 0
    PngOptions png{};        // PngEx: the 36-byte record
};

struct ConversionRequest {
    std::vector<Step> steps; // in order, after the load
    Save save;
};

// How 8-bit output chooses its pixels' palette entries. The window always
// dithers; the command line may ask for the nearest colour instead.
enum class Palette { Dithered, Nearest };

// The request for settings.formatIndex (BMP, JPEG or PNG): for BMP, RLE
// expansion, the depth of bitDepthIndex, RLE compression only for 8 bits with
// the RLE box ticked (rleTicked), the gray level, then DIBtoBMP; for JPEG,
// DIBtoJPG with the quality and progressive flag; for PNG, DIBtoPNGex with
// the level and interlace record while the details are shown, else DIBtoPNG.
// Nothing for a format or bit depth index outside 0 to 2.
std::optional<ConversionRequest> conversionRequest(const ConversionSettings &settings,
                                                   bool rleTicked,
                                                   Palette palette = Palette::Dithered);

// The 36-byte record DIBtoPNGex receives: option bits 128 when interlaced is
// -1, the level in bytes 4-5, every other byte zero.
PngOptions makePngOptions(const ConversionSettings &settings);

} // namespace convert
