// SPDX-License-Identifier: MIT
#include "recording_library.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace imagelib {

namespace {

// How each kind of argument is written in a call's text.
std::string describe(const char *path) {
    return path ? path : "(null)";
}
std::string describe(int32_t value) {
    return std::to_string(value);
}
std::string describe(uint32_t rop) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", rop);
    return hex;
}
std::string describe(const int32_t *flag) {
    // Appended rather than "&" + text: GCC 12 at -O3 warns falsely
    // (-Wrestrict) on a literal prepended to a temporary string.
    return flag ? std::string("&").append(std::to_string(*flag)) : "null";
}
std::string describe(const ImgctlSurface *dc) {
    return dc ? std::to_string(dc->width) + "x" + std::to_string(dc->height) : "null";
}
std::string describe(const BITMAPINFOHEADER *) {
    return {}; // filled by the call, not given to it: left out
}
std::string describe(const PngOptions *options) {
    if (!options) return "null";
    unsigned char raw[sizeof(PngOptions)];
    std::memcpy(raw, options, sizeof raw);
    std::string bytes = "{";
    for (size_t i = 0; i < sizeof raw; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", raw[i]);
        bytes += hex;
    }
    return bytes + "}";
}

} // namespace

std::vector<std::string> RecordingLibrary::texts() const {
    std::vector<std::string> out;
    out.reserve(calls.size());
    for (const Call &c : calls)
        out.push_back(c.text);
    return out;
}

void RecordingLibrary::enter(const std::string &function) const {
    if (libraryMissing) {
        throw LibraryError("libimgctl.so", {}, "cannot open shared object file (fake)");
    }
    if (missingFunctions.count(function)) throw LibraryError("libimgctl.so", function, {});
}

template <typename... A>
void RecordingLibrary::record(const char *function, const std::tuple<A...> &args) {
    std::string text = std::string(function) + "(";
    bool first = true;
    std::apply(
        [&](const auto &...arg) {
            for (const std::string &part : {std::string(), describe(arg)...}) {
                if (part.empty()) continue;
                text += (first ? "" : ",") + part;
                first = false;
            }
        },
        args);
    calls.push_back({function, text + ")"});
}

bool RecordingLibrary::scripted(std::string_view function, int32_t &result) {
    auto it = results.find(std::string(function));
    if (it == results.end() || it->second.empty()) return false;
    result = it->second.front();
    it->second.pop_front();
    return true;
}

int32_t RecordingLibrary::finish(std::string_view function, int32_t result) {
    if (result <= 0) {
        auto it = failures.find(std::string(function));
        last_ = it != failures.end()
                    ? it->second
                    : Failure{IMGCTL_ERR_INTERNAL, std::string(function) + " failed"};
    }
    return result;
}

int32_t RecordingLibrary::plain(std::string_view function) {
    int32_t result = 1;
    scripted(function, result);
    return finish(function, result);
}

void RecordingLibrary::use(int32_t image) {
    if (gone_.count(image)) staleUses.push_back(image);
}

int32_t RecordingLibrary::answer(Int, std::string_view fn, std::tuple<const char *>) {
    int32_t result = 0;
    if (!scripted(fn, result)) result = nextHandle_++;
    if (result > 0) liveImages.insert(result);
    return finish(fn, result);
}

int32_t RecordingLibrary::answer(Int, std::string_view fn,
                                 std::tuple<int32_t, BITMAPINFOHEADER *> args) {
    const auto [image, header] = args;
    use(image);
    if (!header || !liveImages.count(image)) return finish(fn, 0);
    header->biSize = 40;
    header->biWidth = imageWidth;
    header->biHeight = imageHeight;
    header->biPlanes = 1;
    header->biBitCount = imageBitCount;
    return plain(fn);
}

template <typename... A>
int32_t RecordingLibrary::answer(Int, std::string_view fn, std::tuple<ImgctlSurface *, A...> args) {
    const auto [dc, dx, dy, dw, dh, image, sx, sy, sw, sh, rop, mode] = args;
    use(image);
    // Paints the destination rectangle (clipped) in a colour naming the image,
    // so a test can see that something was drawn.
    if (dc && dc->pixels && liveImages.count(image)) {
        const uint32_t colour = 0xFF000000u | static_cast<uint32_t>(image);
        for (int32_t y = std::max(dy, 0); y < std::min(dy + dh, dc->height); ++y) {
            auto *row = reinterpret_cast<uint32_t *>(reinterpret_cast<unsigned char *>(dc->pixels) +
                                                     static_cast<ptrdiff_t>(y) * dc->stride_bytes);
            for (int32_t x = std::max(dx, 0); x < std::min(dx + dw, dc->width); ++x)
                row[x] = colour;
        }
    }
    return plain(fn);
}

// A step that replaces its image with its result.
int32_t RecordingLibrary::replace(std::string_view fn, int32_t input) {
    use(input);
    int32_t result = 0;
    if (!scripted(fn, result)) result = liveImages.count(input) ? nextHandle_++ : 0;
    if (result > 0 && result != input) {
        // The input is consumed; the result is the image the caller goes on with.
        if (liveImages.erase(input)) gone_.insert(input);
        liveImages.insert(result);
    }
    return finish(fn, result);
}

int32_t RecordingLibrary::answer(Int, std::string_view fn, std::tuple<int32_t> args) {
    const int32_t image = std::get<0>(args);
    if (fn == "ImgctlReleaseWhileSaving") {
        use(image);
        return liveImages.count(image) ? plain(fn) : finish(fn, 0);
    }
    if (fn != "DeleteDIB") return replace(fn, image);
    if (!liveImages.erase(image)) {
        if (image > 0) badReleases.push_back(image);
        return finish(fn, 0);
    }
    gone_.insert(image);
    return plain(fn);
}

template <typename... A>
int32_t RecordingLibrary::answer(Int, std::string_view fn, std::tuple<int32_t, A...> args) {
    return replace(fn, std::get<0>(args));
}

template <typename... A>
int32_t RecordingLibrary::answer(Int, std::string_view fn,
                                 std::tuple<const char *, int32_t, A...> args) {
    use(std::get<1>(args));
    return plain(fn);
}

int32_t RecordingLibrary::answer(Int, std::string_view fn, std::tuple<>) {
    return fn == "ImgctlStopSaves" ? plain(fn) : last_.code;
}

const char *RecordingLibrary::answer(Text, std::string_view, std::tuple<>) {
    return last_.message.c_str();
}

#define FAKE_RECORD(result, name, parameters, arguments)                                           \
    result RecordingLibrary::name parameters {                                                     \
        enter(#name);                                                                              \
        record(#name, std::tuple arguments);                                                       \
        return answer(std::type_identity<result>{}, #name, std::tuple arguments);                  \
    }
IMGCTL_FUNCTIONS(FAKE_RECORD)
#undef FAKE_RECORD

} // namespace imagelib
