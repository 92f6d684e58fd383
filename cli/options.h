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

// The name that stands for standard input as SOURCE and standard output as
// OUTPUT, and for standard input after --files-from.
inline constexpr std::string_view kStdStream = "-";

struct Options {
    // Starts from the window's start values; the options then set the fields
    // the window's controls would set.
    ConversionSettings settings;
    bool rle = false;          // the RLE box; counts only for 8-bit BMP output
    bool dither = true;        // 8-bit palettes: error diffusion, or nearest colour
    bool overwrite = false;    // replace an existing output file
    bool skipExisting = false; // leave an existing output alone, counted as done
    bool strip = false;        // sRGB pixels, and no profile, EXIF or XMP in the output
    bool quiet = false;        // no progress or summary line
    bool verbose = false;      // a line per file, the failed step, a summary line
    bool help = false;
    bool version = false;
    bool formatGiven = false;
    unsigned jobs = 0; // files converted at once; 0 means one per processor
    std::optional<std::string> toFolder;
    std::optional<std::string> filesFrom; // a list of sources, "-" for standard input
    bool nulSeparated = false;            // the list's names end with NUL, not newline
    std::vector<std::string> sources;
    std::string output; // the one output file when --to is not given; "-" for stdout
};

struct ParseOutcome {
    std::optional<Options> options; // empty on a usage error
    std::string error;              // names the bad option or argument
};

ParseOutcome parseArguments(const std::vector<std::string_view> &args);

// The sources named in a --files-from list: names separated by newlines (an
// empty line is no name) or, with `nul`, by NUL bytes.
std::vector<std::string> splitFileList(std::string_view text, bool nul);

// 0 BMP, 1 JPEG, 2 PNG from a file name's extension (any case), or nothing.
std::optional<int16_t> formatFromExtension(std::string_view path);

// The text of --help.
extern const char *const kUsage;

} // namespace cli
