// SPDX-License-Identifier: MIT
#include "recording_library.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace imagelib {

std::vector<std::string> RecordingLibrary::texts() const {
    std::vector<std::string> out;
    out.reserve(calls.size());
    for (const Call &c : calls)
        out.push_back(c.text);
    return out;
}

void RecordingLibrary::enter(const std::string &function) const {
    if (libraryMissing) {
        throw LibraryError("imgctl", {}, "ライブラリ「imgctl」を読み込めません。(fake)");
    }
    if (missingFunctions.count(function)) {
        throw LibraryError("imgctl", function,
                           "ライブラリ「imgctl」に関数「" + function + "」がありません。");
    }
}

void RecordingLibrary::record(const std::string &function, const std::string &args) {
    calls.push_back({function, function + "(" + args + ")"});
}

bool RecordingLibrary::scripted(const std::string &function, int32_t &result) {
    auto it = results.find(function);
    if (it == results.end() || it->second.empty()) return false;
    result = it->second.front();
    it->second.pop_front();
    return true;
}

void RecordingLibrary::use(int32_t image) {
    if (gone_.count(image)) staleUses.push_back(image);
}

int32_t RecordingLibrary::produce(const std::string &function, int32_t input) {
    use(input);
    int32_t result = 0;
    if (!scripted(function, result)) result = liveImages.count(input) ? nextHandle_++ : 0;
    if (result > 0 && result != input) {
        // The input is consumed; the result is the image the caller goes on with.
        if (liveImages.erase(input)) gone_.insert(input);
        liveImages.insert(result);
    }
    return result;
}

int32_t RecordingLibrary::plain(const std::string &function) {
    int32_t result = 1;
    scripted(function, result);
    return result;
}

int32_t RecordingLibrary::ToDIB(const char *path) {
    enter("ToDIB");
    record("ToDIB", path ? path : "(null)");
    int32_t result = 0;
    if (!scripted("ToDIB", result)) result = nextHandle_++;
    if (result > 0) liveImages.insert(result);
    return result;
}

int32_t RecordingLibrary::HeadDIB(int32_t image, BITMAPINFOHEADER *header) {
    enter("HeadDIB");
    record("HeadDIB", std::to_string(image));
    use(image);
    if (!header || !liveImages.count(image)) return 0;
    header->biSize = 40;
    header->biWidth = imageWidth;
    header->biHeight = imageHeight;
    header->biPlanes = 1;
    header->biBitCount = imageBitCount;
    return plain("HeadDIB");
}

int32_t RecordingLibrary::DIBtoDCex2(ImgctlSurface *dc, int32_t dx, int32_t dy, int32_t dw,
                                     int32_t dh, int32_t image, int32_t sx, int32_t sy, int32_t sw,
                                     int32_t sh, uint32_t rop, int32_t mode) {
    enter("DIBtoDCex2");
    char buf[200];
    std::snprintf(buf, sizeof buf, "%s,%d,%d,%d,%d,%d,%d,%d,%d,%d,0x%X,%d",
                  dc ? (std::to_string(dc->width) + "x" + std::to_string(dc->height)).c_str()
                     : "null",
                  dx, dy, dw, dh, image, sx, sy, sw, sh, rop, mode);
    record("DIBtoDCex2", buf);
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
    return plain("DIBtoDCex2");
}

int32_t RecordingLibrary::DeleteDIB(int32_t image) {
    enter("DeleteDIB");
    record("DeleteDIB", std::to_string(image));
    if (!liveImages.erase(image)) {
        if (image > 0) badReleases.push_back(image);
        return 0;
    }
    gone_.insert(image);
    return plain("DeleteDIB");
}

int32_t RecordingLibrary::RLEtoDIB(int32_t image) {
    enter("RLEtoDIB");
    record("RLEtoDIB", std::to_string(image));
    return produce("RLEtoDIB", image);
}

int32_t RecordingLibrary::DIBto24Bit(int32_t image) {
    enter("DIBto24Bit");
    record("DIBto24Bit", std::to_string(image));
    return produce("DIBto24Bit", image);
}

int32_t RecordingLibrary::DIBto16Bit(int32_t image, int32_t *flag) {
    enter("DIBto16Bit");
    record("DIBto16Bit", std::to_string(image) + "," +
                             (flag ? "&" + std::to_string(*flag) : std::string("null")));
    return produce("DIBto16Bit", image);
}

int32_t RecordingLibrary::DIBto8Bit(int32_t image, int32_t a, int32_t b) {
    enter("DIBto8Bit");
    record("DIBto8Bit", std::to_string(image) + "," + std::to_string(a) + "," + std::to_string(b));
    return produce("DIBto8Bit", image);
}

int32_t RecordingLibrary::DIBtoRLE(int32_t image) {
    enter("DIBtoRLE");
    record("DIBtoRLE", std::to_string(image));
    return produce("DIBtoRLE", image);
}

int32_t RecordingLibrary::GrayDIB(int32_t image, int32_t level) {
    enter("GrayDIB");
    record("GrayDIB", std::to_string(image) + "," + std::to_string(level));
    return produce("GrayDIB", image);
}

int32_t RecordingLibrary::DIBtoBMP(const char *path, int32_t image) {
    enter("DIBtoBMP");
    record("DIBtoBMP", std::string(path ? path : "(null)") + "," + std::to_string(image));
    use(image);
    return plain("DIBtoBMP");
}

int32_t RecordingLibrary::DIBtoJPG(const char *path, int32_t image, int32_t quality,
                                   int32_t progressive) {
    enter("DIBtoJPG");
    record("DIBtoJPG", std::string(path ? path : "(null)") + "," + std::to_string(image) + "," +
                           std::to_string(quality) + "," + std::to_string(progressive));
    use(image);
    return plain("DIBtoJPG");
}

int32_t RecordingLibrary::DIBtoPNG(const char *path, int32_t image, int32_t zero) {
    enter("DIBtoPNG");
    record("DIBtoPNG", std::string(path ? path : "(null)") + "," + std::to_string(image) + "," +
                           std::to_string(zero));
    use(image);
    return plain("DIBtoPNG");
}

int32_t RecordingLibrary::DIBtoPNGex(const char *path, int32_t image, const PngOptions *options) {
    enter("DIBtoPNGex");
    std::string bytes = "null";
    if (options) {
        unsigned char raw[sizeof(PngOptions)];
        std::memcpy(raw, options, sizeof raw);
        bytes = "{";
        for (size_t i = 0; i < sizeof raw; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", raw[i]);
            bytes += hex;
        }
        bytes += "}";
    }
    record("DIBtoPNGex",
           std::string(path ? path : "(null)") + "," + std::to_string(image) + "," + bytes);
    use(image);
    return plain("DIBtoPNGex");
}

} // namespace imagelib
