// SPDX-License-Identifier: MIT
#include "options.h"

#include "settings/settings_rules.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace cli {

const char *const kUsage =
    "Usage: nubaro-convert [options] SOURCE OUTPUT\n"
    "       nubaro-convert [options] --to FOLDER SOURCE...\n"
    "\n"
    "Converts BMP, JPEG and PNG files with the same chain as the Nubaro window.\n"
    "\n"
    "  --format bmp|jpeg|png  output format (default: from OUTPUT's extension;\n"
    "                         BMP with --to)\n"
    "  --bits 24|16|8         BMP bit depth (default 24)\n"
    "  --rle                  run-length compress 8-bit BMP output\n"
    "  --no-dither            8-bit palettes map each pixel to the nearest colour\n"
    "  --gray N               BMP gray level, 0 (colour) to 255 (gray) (default 0)\n"
    "  --quality N            JPEG quality 1-100 (default 60)\n"
    "  --progressive          progressive JPEG\n"
    "  --level N              PNG compression level 0-9 (default: the library's\n"
    "                         own choice; 5 when only --interlace is given)\n"
    "  --interlace            Adam7-interlaced PNG\n"
    "  --to FOLDER            write each output in FOLDER under its source's base\n"
    "                         name with the format's extension\n"
    "  --jobs N               convert N files at once (default: one per core)\n"
    "  --overwrite            replace existing output files\n"
    "  --strip                write no colour profile, EXIF or XMP (the pixels are\n"
    "                         converted to sRGB first)\n"
    "  --help                 show this text\n"
    "  --version              show the version\n"
    "\n"
    "Exit status: 0 when every file converted, 1 when some file failed (one line\n"
    "per failure on stderr), 2 for a usage error.\n";

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

namespace {

struct Parser {
    const std::vector<std::string_view> &args;
    size_t next = 0;
    std::string error;

    // The value of an option, given as "--name VALUE" or "--name=VALUE".
    std::optional<std::string_view> value(std::string_view name,
                                          std::optional<std::string_view> inlineValue) {
        if (inlineValue) return inlineValue;
        if (next >= args.size()) {
            error = std::string(name) + " needs a value";
            return std::nullopt;
        }
        return args[next++];
    }

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
};

} // namespace

ParseOutcome parseArguments(const std::vector<std::string_view> &args) {
    Options o;
    nubaro::fillExtensionTable(o.settings);
    nubaro::writeStartValues(o.settings);
    bool formatGiven = false;
    bool detailsGiven = false;
    std::vector<std::string_view> positional;

    Parser p{args, 0, {}};
    bool optionsEnded = false;
    while (p.next < args.size()) {
        const std::string_view arg = args[p.next++];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string_view name = arg;
        std::optional<std::string_view> inlineValue;
        if (const size_t eq = arg.find('=');
            arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        const auto flag = [&](bool &field) {
            if (inlineValue) {
                p.error = std::string(name) + " takes no value";
                return false;
            }
            field = true;
            return true;
        };
        bool ok = true;
        if (name == "--help" || name == "-h") {
            ok = flag(o.help);
        } else if (name == "--version") {
            ok = flag(o.version);
        } else if (name == "--rle") {
            ok = flag(o.rle);
        } else if (name == "--overwrite") {
            ok = flag(o.overwrite);
        } else if (name == "--strip") {
            ok = flag(o.strip);
        } else if (name == "--no-dither") {
            bool noDither = false;
            ok = flag(noDither);
            o.dither = !noDither;
        } else if (name == "--progressive") {
            bool on = false;
            ok = flag(on);
            o.settings.progressive = kTrue;
        } else if (name == "--interlace") {
            bool on = false;
            ok = flag(on);
            o.settings.interlaced = kTrue;
            detailsGiven = true;
        } else if (name == "--format") {
            const auto v = p.value(name, inlineValue);
            ok = v.has_value();
            if (ok) {
                if (*v == "bmp") {
                    o.settings.formatIndex = 0;
                } else if (*v == "jpeg" || *v == "jpg") {
                    o.settings.formatIndex = 1;
                } else if (*v == "png") {
                    o.settings.formatIndex = 2;
                } else {
                    p.error = "--format needs bmp, jpeg or png, not '" + std::string(*v) + "'";
                    ok = false;
                }
                formatGiven = true;
            }
        } else if (name == "--bits") {
            const auto v = p.value(name, inlineValue);
            ok = v.has_value();
            if (ok) {
                if (*v == "24") {
                    o.settings.bitDepthIndex = 0;
                } else if (*v == "16") {
                    o.settings.bitDepthIndex = 1;
                } else if (*v == "8") {
                    o.settings.bitDepthIndex = 2;
                } else {
                    p.error = "--bits needs 24, 16 or 8, not '" + std::string(*v) + "'";
                    ok = false;
                }
            }
        } else if (name == "--gray") {
            const auto v = p.value(name, inlineValue);
            ok = v && p.number(name, *v, 0, 255, o.settings.grayLevel);
        } else if (name == "--quality") {
            const auto v = p.value(name, inlineValue);
            ok = v && p.number(name, *v, 1, 100, o.settings.jpegQuality);
        } else if (name == "--level") {
            const auto v = p.value(name, inlineValue);
            ok = v && p.number(name, *v, 0, 9, o.settings.pngLevel);
            detailsGiven = true;
        } else if (name == "--jobs" || name == "-j") {
            const auto v = p.value(name, inlineValue);
            int16_t jobs = 0;
            ok = v && p.number(name, *v, 1, 256, jobs);
            o.jobs = static_cast<unsigned>(jobs);
        } else if (name == "--to") {
            const auto v = p.value(name, inlineValue);
            ok = v.has_value();
            if (ok && v->empty()) {
                p.error = "--to needs a folder";
                ok = false;
            }
            if (ok) o.toFolder = std::string(*v);
        } else {
            p.error = "unknown option '" + std::string(arg) + "'";
            ok = false;
        }
        if (!ok) return {std::nullopt, p.error};
    }
    if (o.help || o.version) return {std::move(o), {}};

    // The window uses the level and interlace choices only with its details
    // shown; giving either here is showing them.
    o.settings.detailsShown = detailsGiven ? kTrue : kFalse;

    if (o.toFolder) {
        if (positional.empty()) return {std::nullopt, "--to needs at least one SOURCE"};
        for (std::string_view s : positional)
            o.sources.emplace_back(s);
        return {std::move(o), {}};
    }
    if (positional.size() != 2) {
        return {std::nullopt, positional.size() < 2
                                  ? "needs SOURCE and OUTPUT (or --to FOLDER SOURCE...)"
                                  : "takes one SOURCE and one OUTPUT; use --to FOLDER for many "
                                    "files"};
    }
    o.sources.emplace_back(positional[0]);
    o.output = std::string(positional[1]);
    if (!formatGiven) {
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
