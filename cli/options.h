// SPDX-License-Identifier: MIT
// The command line of nubaro-convert, read into the window's settings record
// and a few choices of the command line's own.
#pragma once

#include "settings/conversion_settings.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

struct Options {
    // Starts from the window's start values; the options then set the fields
    // the window's controls would set.
    ConversionSettings settings;
    bool rle = false;       // the RLE box; counts only for 8-bit BMP output
    bool dither = true;     // 8-bit palettes: error diffusion, or nearest colour
    bool overwrite = false; // replace an existing output file
    bool strip = false;     // sRGB pixels, and no profile, EXIF or XMP in the output
    bool help = false;
    bool version = false;
    unsigned jobs = 0; // threads for many files; 0 means one per core
    std::optional<std::string> toFolder;
    std::vector<std::string> sources;
    std::string output; // the one output file when --to is not given
};

struct ParseOutcome {
    std::optional<Options> options; // empty on a usage error
    std::string error;              // names the bad option or argument
};

ParseOutcome parseArguments(const std::vector<std::string_view> &args);

// 0 BMP, 1 JPEG, 2 PNG from a file name's extension (any case), or nothing.
std::optional<int16_t> formatFromExtension(std::string_view path);

// The text of --help.
extern const char *const kUsage;

} // namespace cli
