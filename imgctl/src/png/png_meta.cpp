// SPDX-License-Identifier: MIT
#include "png/png_meta.h"

#include "core/bytes.h"
#include "meta/exif.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace imgctl {
namespace {

// A zlib stream inflated, or empty when it is damaged or inflates to more
// than kMaxMetadataBytes.
std::vector<uint8_t> inflated(const uint8_t *data, size_t size) {
    std::vector<uint8_t> out;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return out;
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = static_cast<uInt>(size);
    int rc = Z_OK;
    while (rc == Z_OK) {
        const size_t used = out.size();
        if (used >= kMaxMetadataBytes + 1) break;
        out.resize(std::min(kMaxMetadataBytes + 1, used + 65536));
        z.next_out = out.data() + used;
        z.avail_out = static_cast<uInt>(out.size() - used);
        rc = inflate(&z, Z_NO_FLUSH);
        out.resize(out.size() - z.avail_out);
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END) out.clear();
    return out;
}

// The XMP packet of an iTXt chunk's data, or null when the chunk holds
// something else or does not parse.
Blob xmpOf(const uint8_t *d, size_t n) {
    constexpr size_t kKeyword = sizeof kXmpKeyword; // with its NUL
    if (n < kKeyword + 2 || std::memcmp(d, kXmpKeyword, kKeyword) != 0) return nullptr;
    const uint8_t compressed = d[kKeyword], method = d[kKeyword + 1];
    size_t at = kKeyword + 2;
    for (int field = 0; field < 2; ++field) { // language tag, translated keyword
        const void *nul = std::memchr(d + at, 0, n - at);
        if (!nul) return nullptr;
        at = static_cast<size_t>(static_cast<const uint8_t *>(nul) - d) + 1;
    }
    if (compressed == 0) return cleanXmp(d + at, n - at);
    if (compressed != 1 || method != 0) return nullptr;
    const std::vector<uint8_t> text = inflated(d + at, n - at);
    return text.empty() ? nullptr : cleanXmp(text.data(), text.size());
}

} // namespace

Metadata readPngMetadata(const uint8_t *data, size_t size) {
    Metadata meta;
    size_t pos = 8;
    while (size - pos >= 12) {
        const uint32_t length = loadBe32(data + pos);
        if (length > size - pos - 12) break;
        const uint8_t *type = data + pos + 4, *body = data + pos + 8;
        const bool exif = std::memcmp(type, "eXIf", 4) == 0 && !meta.exif;
        const bool itxt = std::memcmp(type, "iTXt", 4) == 0 && !meta.xmp;
        if ((exif || itxt) && crc32(crc32(0L, type, 4), body, length) == loadBe32(body + length)) {
            if (exif)
                meta.exif = cleanExif(body, length);
            else
                meta.xmp = xmpOf(body, length);
        }
        if (std::memcmp(type, "IEND", 4) == 0) break;
        pos += size_t{length} + 12;
    }
    return meta;
}

} // namespace imgctl
