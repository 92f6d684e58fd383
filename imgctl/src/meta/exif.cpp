// SPDX-License-Identifier: MIT
#include "meta/exif.h"

#include "core/bytes.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace imgctl {
namespace {

constexpr uint32_t kOrientationTag = 0x0112;
constexpr uint32_t kExifIfdTag = 0x8769, kGpsIfdTag = 0x8825, kInteropIfdTag = 0xA005;
constexpr uint32_t kThumbnailOffsetTag = 0x0201, kThumbnailLengthTag = 0x0202;
constexpr uint32_t kShort = 3, kLong = 4, kIfdType = 13;
// IFD0 and the three IFDs it may lead to, with room for odd files.
constexpr size_t kMaxIfds = 8;

// Bytes of one value of a TIFF field type; 0 for a type TIFF does not define.
size_t typeSize(uint32_t type) {
    static const uint8_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < sizeof sizes ? sizes[type] : 0;
}

// A TIFF body: its byte order and bounds-checked reads.
class Tiff {
  public:
    Tiff(const uint8_t *data, size_t size) : d_(data), n_(size) {
        if (n_ < 8) return;
        if (d_[0] == 'I' && d_[1] == 'I')
            little_ = true;
        else if (d_[0] != 'M' || d_[1] != 'M')
            return;
        ok_ = u16(2) == 42;
    }
    bool ok() const { return ok_; }
    size_t size() const { return n_; }
    // Callers check at + 2 (or + 4) <= size first.
    uint32_t u16(size_t at) const { return little_ ? loadLe16(d_ + at) : loadBe16(d_ + at); }
    uint32_t u32(size_t at) const { return little_ ? loadLe32(d_ + at) : loadBe32(d_ + at); }
    bool fits(uint64_t at, uint64_t bytes) const { return at <= n_ && bytes <= n_ - at; }
    void put16(uint8_t *p, uint32_t v) const { little_ ? storeLe16(p, v) : storeBe16(p, v); }
    void put32(uint8_t *p, uint32_t v) const { little_ ? storeLe32(p, v) : storeBe32(p, v); }

    // The IFD table at `offset` when it lies inside the body: its entry
    // count, and where its next-IFD offset is.
    bool table(uint32_t offset, uint32_t &count, size_t &next) const {
        if (offset < 8 || !fits(offset, 2)) return false;
        count = u16(offset);
        next = size_t{offset} + 2 + size_t{count} * 12;
        return fits(next, 4);
    }

  private:
    const uint8_t *d_;
    size_t n_;
    bool little_ = false;
    bool ok_ = false;
};

// The walk over the IFDs a converted file keeps.
class Walk {
  public:
    explicit Walk(const Tiff &tiff) : tiff_(tiff) {}

    // Checks the IFD at offset and the IFDs it points to; records the byte
    // ranges they use and where IFD0's Orientation value lies.
    bool ifd(uint32_t offset, bool first, size_t *nextAt) {
        if (visited_.size() == kMaxIfds ||
            std::find(visited_.begin(), visited_.end(), offset) != visited_.end())
            return false;
        visited_.push_back(offset);
        uint32_t count = 0;
        size_t next = 0;
        if (!tiff_.table(offset, count, next)) return false;
        keep(offset, next + 4 - offset);
        if (nextAt) *nextAt = next;
        for (uint32_t i = 0; i < count; ++i) {
            const size_t at = size_t{offset} + 2 + size_t{i} * 12;
            const uint32_t tag = tiff_.u16(at), type = tiff_.u16(at + 2), n = tiff_.u32(at + 4);
            const uint64_t bytes = uint64_t{n} * typeSize(type);
            if (bytes > 4) {
                const uint32_t valueAt = tiff_.u32(at + 8);
                if (!tiff_.fits(valueAt, bytes)) return false;
                keep(valueAt, bytes);
            }
            const bool pointer = (type == kLong || type == kIfdType) && n == 1;
            if (pointer && (tag == kExifIfdTag || tag == kGpsIfdTag || tag == kInteropIfdTag))
                if (!ifd(tiff_.u32(at + 8), false, nullptr)) return false;
            if (first && tag == kOrientationTag && (type == kShort || type == kLong) && n == 1)
                orientation_ = {at + 8, type};
        }
        return true;
    }

    // Whether bytes [at, at + n) touch anything kept.
    bool overlapsKept(uint64_t at, uint64_t n) const {
        for (auto [from, length] : kept_)
            if (at < from + length && from < at + n) return true;
        return false;
    }
    uint64_t end() const { return end_; }
    std::pair<size_t, uint32_t> orientation() const { return orientation_; }

  private:
    void keep(uint64_t at, uint64_t n) {
        kept_.push_back({at, n});
        end_ = std::max(end_, at + n);
    }

    const Tiff &tiff_;
    std::vector<uint32_t> visited_;
    std::vector<std::pair<uint64_t, uint64_t>> kept_;
    uint64_t end_ = 8;
    std::pair<size_t, uint32_t> orientation_{0, 0}; // value offset and type
};

// Clears IFD1 and the thumbnail it points to where they lie among kept
// bytes (usually they come last and are cut off with the tail).
void clearThumbnail(const Tiff &tiff, const Walk &walk, uint32_t ifd1, std::vector<uint8_t> &out) {
    uint32_t count = 0;
    size_t next = 0;
    if (ifd1 == 0 || !tiff.table(ifd1, count, next)) return;
    uint64_t thumbAt = 0, thumbLength = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = size_t{ifd1} + 2 + size_t{i} * 12;
        const uint32_t tag = tiff.u16(at), type = tiff.u16(at + 2);
        const uint32_t v = type == kShort ? tiff.u16(at + 8) : tiff.u32(at + 8);
        if (tag == kThumbnailOffsetTag) thumbAt = v;
        if (tag == kThumbnailLengthTag) thumbLength = v;
    }
    auto clear = [&](uint64_t at, uint64_t n) {
        if (!tiff.fits(at, n) || at >= out.size() || walk.overlapsKept(at, n)) return;
        n = std::min<uint64_t>(n, out.size() - at);
        std::memset(out.data() + at, 0, n);
    };
    clear(ifd1, next + 4 - ifd1);
    clear(thumbAt, thumbLength);
}

} // namespace

int exifOrientation(const uint8_t *data, size_t size) {
    if (size < kExifHeaderSize || std::memcmp(data, kExifHeader, kExifHeaderSize) != 0) return 0;
    const Tiff tiff(data + kExifHeaderSize, size - kExifHeaderSize);
    uint32_t count = 0;
    size_t next = 0;
    if (!tiff.ok() || !tiff.table(tiff.u32(4), count, next)) return 0;
    const size_t ifd = tiff.u32(4);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = ifd + 2 + size_t{i} * 12;
        if (tiff.u16(at) != kOrientationTag) continue;
        const uint32_t type = tiff.u16(at + 2);
        uint32_t value;
        if (type == kShort)
            value = tiff.u16(at + 8);
        else if (type == kLong) // seen from a few writers
            value = tiff.u32(at + 8);
        else
            return 0;
        return (tiff.u32(at + 4) >= 1 && value >= 1 && value <= 8) ? static_cast<int>(value) : 0;
    }
    return 0;
}

Blob cleanExif(const uint8_t *data, size_t size) {
    if (!data || size > kMaxMetadataBytes) return nullptr;
    const Tiff tiff(data, size);
    if (!tiff.ok()) return nullptr;
    Walk walk(tiff);
    size_t nextAt = 0;
    if (!walk.ifd(tiff.u32(4), true, &nextAt)) return nullptr;

    std::vector<uint8_t> out(data, data + size);
    if (auto [at, type] = walk.orientation(); at != 0) {
        if (type == kShort)
            tiff.put16(out.data() + at, 1);
        else
            tiff.put32(out.data() + at, 1);
    }
    clearThumbnail(tiff, walk, tiff.u32(nextAt), out);
    tiff.put32(out.data() + nextAt, 0); // IFD0 is the last IFD
    out.resize(static_cast<size_t>(walk.end()));
    return std::make_shared<const std::vector<uint8_t>>(std::move(out));
}

Blob cleanXmp(const uint8_t *packet, size_t size) {
    if (!packet || size == 0 || size > kMaxMetadataBytes) return nullptr;
    const std::string_view text(reinterpret_cast<const char *>(packet), size);
    if (text.find('\0') != std::string_view::npos) return nullptr;
    if (text.find("x:xmpmeta") == std::string_view::npos &&
        text.find("rdf:RDF") == std::string_view::npos)
        return nullptr;
    std::vector<uint8_t> out(packet, packet + size);
    // tiff:Orientation="N" or <tiff:Orientation>N</...>: N becomes 1.
    static constexpr std::string_view kName = "tiff:Orientation";
    for (size_t at = text.find(kName); at != std::string_view::npos;
         at = text.find(kName, at + kName.size())) {
        size_t v = at + kName.size();
        if (v < size && text[v] == '=')
            v += 2; // past =" or ='
        else if (v < size && text[v] == '>')
            v += 1;
        else
            continue;
        if (v < size && text[v] >= '1' && text[v] <= '8') out[v] = '1';
    }
    return std::make_shared<const std::vector<uint8_t>>(std::move(out));
}

} // namespace imgctl
