// SPDX-License-Identifier: MIT
#include "options.h"

#include "settings/settings_rules.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace cli {

const char *const kUsage =
    "Usage: nubaro-convert [options] SOURCE OUTPUT\n"
    "       nubaro-convert [options] -t FOLDER SOURCE...\n"
    "       nubaro-convert [options] -t FOLDER --files-from LIST\n"
    "\n"
    "Converts BMP, JPEG and PNG files with the same chain as the Nubaro window.\n"
    "SOURCE '-' reads standard input; OUTPUT '-' writes standard output (give\n"
    "--format; a terminal is refused).\n"
    "\n"
    "Output:\n"
    "  -f, --format bmp|jpeg|png  output format (default: from OUTPUT's\n"
    "                         extension; BMP with --to)\n"
    "  -o, --output FILE      the output file, instead of OUTPUT\n"
    "  -t, --to FOLDER        write each output in FOLDER under its source's base\n"
    "                         name with the format's extension\n"
    "  --overwrite            replace existing output files (default: an existing\n"
    "                         output fails that file)\n"
    "  --skip-existing        leave existing output files alone; they count as\n"
    "                         done (for re-running a batch)\n"
    "  --strip                write no colour profile, EXIF or XMP (the pixels are\n"
    "                         converted to sRGB first)\n"
    "BMP:\n"
    "  --bits 24|16|8         bit depth (default 24; 16 is 5-5-5)\n"
    "  --rle                  run-length compress 8-bit output (default off)\n"
    "  --no-dither            8-bit palettes map each pixel to the nearest colour\n"
    "                         (default: error diffusion)\n"
    "  --gray N               gray level, 0 (colour) to 255 (gray) (default 0)\n"
    "JPEG:\n"
    "  --quality N            quality 1-100 (default 60); colour is subsampled\n"
    "                         4:2:0 below 90 and kept whole (4:4:4) from 90 up;\n"
    "                         Huffman tables are optimised\n"
    "  --progressive          progressive JPEG (default baseline)\n"
    "PNG:\n"
    "  --level N              compression level 0-9 (default: level 6, as the\n"
    "                         window with its options hidden; 5 when only\n"
    "                         --interlace is given)\n"
    "  --interlace            Adam7-interlaced PNG (default off)\n"
    "Many files:\n"
    "  --files-from LIST      also convert the files named in LIST, one a line\n"
    "                         ('-' reads the names from standard input)\n"
    "  -0, --null             names in LIST end with a NUL byte (find -print0)\n"
    "  -j, --jobs N           use N processors: N files at once, each file's own\n"
    "                         threads sharing the same N (default: every processor)\n"
    "Messages:\n"
    "  -q, --quiet            no progress or summary line\n"
    "  -v, --verbose          a line per file converted, the library step that\n"
    "                         failed, and a summary line at the end\n"
    "  -h, --help             show this text\n"
    "  --version              show the version\n"
    "  --                     end of options: every later argument is a file\n"
    "\n"
    "Colour and metadata: a JPEG or PNG output keeps the source's colour\n"
    "profile (or sRGB tag), EXIF and XMP; a BMP output, 8-bit and 16-bit\n"
    "pictures are converted to sRGB, as BMP holds no profile. A JPEG's EXIF\n"
    "orientation is applied when it is read, so the output is upright and its\n"
    "EXIF says orientation 1; the resolution (dots per inch) is kept where the\n"
    "output format can hold it. --strip drops all of it after converting to sRGB.\n"
    "\n"
    "Each output appears only when it is complete and flushed to disk. Ctrl-C\n"
    "(SIGINT) or SIGTERM keeps the files already written, abandons the files in\n"
    "progress without leaving anything behind, prints a summary line and exits\n"
    "with 130 or 143.\n"
    "\n"
    "Exit status: 0 when every file converted (or was skipped), 1 when some file\n"
    "failed (one line per failure on stderr: 'nubaro-convert: SOURCE: cause'),\n"
    "2 for a usage error.\n";

std::optional<int16_t> formatFromExtension(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos) return std::nullopt;
    std::string ext(name.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "bmp") return int16_t{0};
    if (ext == "jpg" || ext == "jpeg" || ext == "jpe") return int16_t{1};
    if (ext == "png") return int16_t{2};
    return std::nullopt;
}

std::vector<std::string> splitFileList(std::string_view text, bool nul) {
    std::vector<std::string> names;
    const char end = nul ? '\0' : '\n';
    while (!text.empty()) {
        const size_t at = text.find(end);
        const std::string_view name = text.substr(0, at);
        if (!name.empty()) names.emplace_back(name);
        if (at == std::string_view::npos) break;
        text.remove_prefix(at + 1);
    }
    return names;
}

namespace {

// The options, by long name; `letter` is the short form or 0.
enum class Id {
    Help,
    Version,
    Rle,
    Overwrite,
    SkipExisting,
    Strip,
    NoDither,
    Progressive,
    Interlace,
    Quiet,
    Verbose,
    Null,
    Format,
    Bits,
    Gray,
    Quality,
    Level,
    Jobs,
    To,
    Output,
    FilesFrom,
};

struct OptionDef {
    std::string_view name;
    char letter;
    bool takesValue;
    Id id;
};

constexpr OptionDef kOptions[] = {
    {"--help", 'h', false, Id::Help},
    {"--version", 0, false, Id::Version},
    {"--rle", 0, false, Id::Rle},
    {"--overwrite", 0, false, Id::Overwrite},
    {"--skip-existing", 0, false, Id::SkipExisting},
    {"--strip", 0, false, Id::Strip},
    {"--no-dither", 0, false, Id::NoDither},
    {"--progressive", 0, false, Id::Progressive},
    {"--interlace", 0, false, Id::Interlace},
    {"--quiet", 'q', false, Id::Quiet},
    {"--verbose", 'v', false, Id::Verbose},
    {"--null", '0', false, Id::Null},
    {"--format", 'f', true, Id::Format},
    {"--bits", 0, true, Id::Bits},
    {"--gray", 0, true, Id::Gray},
    {"--quality", 0, true, Id::Quality},
    {"--level", 0, true, Id::Level},
    {"--jobs", 'j', true, Id::Jobs},
    {"--to", 't', true, Id::To},
    {"--output", 'o', true, Id::Output},
    {"--files-from", 0, true, Id::FilesFrom},
};

struct Parser {
    Options o;
    bool detailsGiven = false;
    std::optional<std::string> outputOption;
    std::string error;

    // A number by the window's rule for its number boxes (fractions rounded
    // down), within [low, high].
    bool number(std::string_view name, std::string_view text, int low, int high, int16_t &field) {
        const std::optional<int16_t> n = nubaro::numberFromText(text);
        if (!n || *n < low || *n > high) {
            error = std::string(name) + " needs a number from " + std::to_string(low) + " to " +
                    std::to_string(high) + ", not '" + std::string(text) + "'";
            return false;
        }
        field = *n;
        return true;
    }

    bool nonEmpty(std::string_view name, std::string_view v, std::string_view what) {
        if (!v.empty()) return true;
        error = std::string(name) + " needs " + std::string(what);
        return false;
    }

    // Applies one option; `name` is as the user wrote it (for messages).
    bool apply(const OptionDef &def, std::string_view name, std::string_view v) {
        switch (def.id) {
        case Id::Help:
            return o.help = true;
        case Id::Version:
            return o.version = true;
        case Id::Rle:
            return o.rle = true;
        case Id::Overwrite:
            return o.overwrite = true;
        case Id::SkipExisting:
            return o.skipExisting = true;
        case Id::Strip:
            return o.strip = true;
        case Id::NoDither:
            o.dither = false;
            return true;
        case Id::Progressive:
            o.settings.progressive = kTrue;
            return true;
        case Id::Interlace:
            o.settings.interlaced = kTrue;
            return detailsGiven = true;
        case Id::Quiet:
            return o.quiet = true;
        case Id::Verbose:
            return o.verbose = true;
        case Id::Null:
            return o.nulSeparated = true;
        case Id::Format:
            o.formatGiven = true;
            if (v == "bmp") return o.settings.formatIndex = 0, true;
            if (v == "jpeg" || v == "jpg") return o.settings.formatIndex = 1, true;
            if (v == "png") return o.settings.formatIndex = 2, true;
            error = std::string(name) + " needs bmp, jpeg or png, not '" + std::string(v) + "'";
            return false;
        case Id::Bits:
            if (v == "24") return o.settings.bitDepthIndex = 0, true;
            if (v == "16") return o.settings.bitDepthIndex = 1, true;
            if (v == "8") return o.settings.bitDepthIndex = 2, true;
            error = std::string(name) + " needs 24, 16 or 8, not '" + std::string(v) + "'";
            return false;
        case Id::Gray:
            return number(name, v, 0, 255, o.settings.grayLevel);
        case Id::Quality:
            return number(name, v, 1, 100, o.settings.jpegQuality);
        case Id::Level:
            detailsGiven = true;
            return number(name, v, 0, 9, o.settings.pngLevel);
        case Id::Jobs: {
            int16_t jobs = 0;
            if (!number(name, v, 1, 256, jobs)) return false;
            o.jobs = static_cast<unsigned>(jobs);
            return true;
        }
        case Id::To:
            if (!nonEmpty(name, v, "a folder")) return false;
            o.toFolder = std::string(v);
            return true;
        case Id::Output:
            if (!nonEmpty(name, v, "a file name")) return false;
            outputOption = std::string(v);
            return true;
        case Id::FilesFrom:
            if (!nonEmpty(name, v, "a file name or '-'")) return false;
            o.filesFrom = std::string(v);
            return true;
        }
        return false;
    }
};

const OptionDef *byName(std::string_view name) {
    for (const OptionDef &s : kOptions)
        if (s.name == name) return &s;
    return nullptr;
}

const OptionDef *byLetter(char letter) {
    for (const OptionDef &s : kOptions)
        if (s.letter != 0 && s.letter == letter) return &s;
    return nullptr;
}

} // namespace

ParseOutcome parseArguments(const std::vector<std::string_view> &args) {
    Parser p;
    Options &o = p.o;
    nubaro::fillExtensionTable(o.settings);
    nubaro::writeStartValues(o.settings);
    std::vector<std::string_view> positional;

    bool optionsEnded = false;
    for (size_t next = 0; next < args.size();) {
        const std::string_view arg = args[next++];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg); // "-" alone is a file: standard input or output
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // The value of a value option: the rest of its word or the next word.
        const auto valueFor =
            [&](std::string_view name,
                std::optional<std::string_view> rest) -> std::optional<std::string_view> {
            if (rest) return rest;
            if (next < args.size()) return args[next++];
            p.error = std::string(name) + " needs a value";
            return std::nullopt;
        };
        bool ok = true;
        if (arg.starts_with("--")) {
            // --name, --name VALUE, --name=VALUE
            const size_t eq = arg.find('=');
            const std::string_view name = arg.substr(0, eq);
            const OptionDef *def = byName(name);
            if (!def) return {std::nullopt, "unknown option '" + std::string(arg) + "'"};
            std::optional<std::string_view> rest;
            if (eq != std::string_view::npos) rest = arg.substr(eq + 1);
            if (!def->takesValue && rest)
                return {std::nullopt, std::string(name) + " takes no value"};
            std::optional<std::string_view> v = def->takesValue ? valueFor(name, rest) : "";
            ok = v && p.apply(*def, name, *v);
        } else {
            // -qv, -j2, -j 2, -qj2: letters of flags, the last may take a value.
            for (size_t i = 1; ok && i < arg.size(); ++i) {
                const OptionDef *def = byLetter(arg[i]);
                const std::string name = std::string("-") + arg[i];
                if (!def)
                    return {std::nullopt,
                            "unknown option '" + name + "' in '" + std::string(arg) + "'"};
                if (!def->takesValue) {
                    ok = p.apply(*def, name, "");
                    continue;
                }
                std::optional<std::string_view> rest;
                if (i + 1 < arg.size()) rest = arg.substr(i + 1);
                const std::optional<std::string_view> v = valueFor(name, rest);
                ok = v && p.apply(*def, name, *v);
                break;
            }
        }
        if (!ok) return {std::nullopt, p.error};
    }
    if (o.help || o.version) return {std::move(o), {}};

    // The window uses the level and interlace choices only with its details
    // shown; giving either here is showing them.
    o.settings.detailsShown = p.detailsGiven ? kTrue : kFalse;

    if (o.overwrite && o.skipExisting)
        return {std::nullopt, "--overwrite and --skip-existing exclude each other"};
    if (o.nulSeparated && !o.filesFrom) return {std::nullopt, "-0 (--null) needs --files-from"};
    const auto stdinUsedTwice = [&] {
        return o.filesFrom == kStdStream &&
               std::find(positional.begin(), positional.end(), kStdStream) != positional.end();
    };
    if (stdinUsedTwice())
        return {std::nullopt, "'-' cannot be a SOURCE when --files-from reads standard input"};

    if (o.toFolder) {
        if (p.outputOption) return {std::nullopt, "--output and --to exclude each other"};
        if (positional.empty() && !o.filesFrom)
            return {std::nullopt, "--to needs at least one SOURCE (or --files-from)"};
        for (std::string_view s : positional) {
            if (s == kStdStream)
                return {std::nullopt, "'-' (standard input) as SOURCE needs an OUTPUT, not --to"};
            o.sources.emplace_back(s);
        }
        return {std::move(o), {}};
    }
    if (o.filesFrom) return {std::nullopt, "--files-from needs --to FOLDER"};
    if (p.outputOption) positional.push_back(*p.outputOption);
    if (positional.size() != 2) {
        return {std::nullopt, positional.size() < 2
                                  ? "needs SOURCE and OUTPUT (or --to FOLDER SOURCE...)"
                                  : "takes one SOURCE and one OUTPUT; use --to FOLDER for many "
                                    "files"};
    }
    o.sources.emplace_back(positional[0]);
    o.output = std::string(positional[1]);
    if (o.output == kStdStream) {
        if (!o.formatGiven)
            return {std::nullopt, "OUTPUT '-' (standard output) needs --format bmp|jpeg|png"};
    } else if (!o.formatGiven) {
        const std::optional<int16_t> format = formatFromExtension(o.output);
        if (!format) {
            return {std::nullopt,
                    "cannot tell the format from '" + o.output + "'; give --format bmp|jpeg|png"};
        }
        o.settings.formatIndex = *format;
    }
    return {std::move(o), {}};
}

} // namespace cli
