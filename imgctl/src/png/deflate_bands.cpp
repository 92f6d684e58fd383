// SPDX-License-Identifier: MIT
// The deflate band joiner; its contract is in deflate_bands.h.
#include "png/deflate_bands.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace imgctl {
namespace {

// The libdeflate level for a zlib level when longer matches are tried: one
// step stronger from 5 up, which keeps those streams at least as small as
// zlib's at far less time.
int deflateLevel(int level) {
    static const int map[10] = {0, 1, 2, 3, 4, 6, 7, 8, 9, 10};
    return map[std::clamp(level, 0, 9)];
}

} // namespace

bool makeJoinable(std::vector<uint8_t> &s, size_t &size, std::vector<uint8_t> &scratch) {
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK) return false;
    zs.next_in = s.data();
    zs.avail_in = static_cast<uInt>(size);
    uint64_t finalHeader = UINT64_MAX, end = UINT64_MAX;
    // Raw inflate does not stop before the first header: look at it here.
    if (size > 0 && (s[0] & 1)) finalHeader = 0;
    for (;;) {
        zs.next_out = scratch.data();
        zs.avail_out = static_cast<uInt>(scratch.size());
        int rc = inflate(&zs, Z_BLOCK);
        if (rc != Z_OK) break;
        if (zs.data_type & 128) {
            // At a block boundary: the next block's header starts here.
            uint64_t bit = uint64_t(zs.next_in - s.data()) * 8 - (zs.data_type & 7);
            if (zs.data_type & 64) {
                end = bit; // after the end of the final block
                break;
            }
            if (bit / 8 < size && (s[bit / 8] >> (bit % 8) & 1)) finalHeader = bit;
        }
    }
    inflateEnd(&zs);
    if (finalHeader == UINT64_MAX || end == UINT64_MAX || end <= finalHeader) return false;
    s[finalHeader / 8] &= static_cast<uint8_t>(~(1u << (finalHeader % 8)));
    size = static_cast<size_t>((end + 7) / 8);
    const unsigned used = static_cast<unsigned>(end % 8);
    if (used) s[size - 1] &= static_cast<uint8_t>((1u << used) - 1);
    // An empty stored block: three zero header bits (in the last byte when
    // they fit), padding to the byte, then LEN 0 and NLEN 0xFFFF.
    const bool fits = used != 0 && used <= 5;
    static const uint8_t stored[5] = {0, 0, 0, 0xFF, 0xFF};
    const uint8_t *tail = fits ? stored + 1 : stored;
    const size_t tailSize = fits ? 4 : 5;
    if (s.size() < size + tailSize) s.resize(size + tailSize);
    std::memcpy(s.data() + size, tail, tailSize);
    size += tailSize;
    return true;
}

std::array<uint8_t, 2> zlibHeader(int level) {
    // Deflate with a 32 KiB window, FLEVEL from the level, and the check
    // bits that make it a multiple of 31.
    const int dlevel = deflateLevel(level);
    std::array<uint8_t, 2> h = {0x78, static_cast<uint8_t>((dlevel < 2    ? 0
                                                            : dlevel < 6  ? 1
                                                            : dlevel == 6 ? 2
                                                                          : 3)
                                                           << 6)};
    h[1] = static_cast<uint8_t>(h[1] + (31 - (h[0] * 256 + h[1]) % 31) % 31);
    return h;
}

BandDeflater::~BandDeflater() {
    libdeflate_free_compressor(compressor_);
}

Status BandDeflater::compress(const uint8_t *data, size_t size, bool last) {
    if (Status s = zlibDeflate(data, size, last); !s) return s;
    chosen_ = &zout_;
    size_ = zsize_;
    const bool tryMatches = level_ >= 8 || (level_ > 0 && zsize_ * 10 < size * 3);
    if (!tryMatches) return Status::ok();
    if (Status s = libdeflateDeflate(data, size, last); !s) return s;
    if (lsize_ != 0 && lsize_ < zsize_) {
        chosen_ = &lout_;
        size_ = lsize_;
    }
    return Status::ok();
}

// A raw deflate stream from zlib: a sync flush leaves it open and on a byte
// boundary, ready for the next band.
Status BandDeflater::zlibDeflate(const uint8_t *data, size_t size, bool last) {
    z_stream zs{};
    const int strategy = level_ == 0 ? Z_DEFAULT_STRATEGY : Z_RLE;
    const int init = deflateInit2(&zs, level_, Z_DEFLATED, -15, 9, strategy);
    if (init == Z_MEM_ERROR) return {Error::OutOfMemory, "PNG: zlib ran out of memory"};
    if (init != Z_OK) return {Error::Internal, "PNG: zlib refused level " + std::to_string(level_)};
    const size_t bound = deflateBound(&zs, static_cast<uLong>(size)) + 16;
    if (zout_.size() < bound) zout_.resize(bound);
    zs.next_in = const_cast<Bytef *>(data);
    zs.avail_in = static_cast<uInt>(size);
    zs.next_out = zout_.data();
    zs.avail_out = static_cast<uInt>(zout_.size());
    const int rc = deflate(&zs, last ? Z_FINISH : Z_SYNC_FLUSH);
    // A sync flush is complete only when it left output space unused.
    const bool done =
        last ? rc == Z_STREAM_END : rc == Z_OK && zs.avail_in == 0 && zs.avail_out > 0;
    zsize_ = zs.total_out;
    deflateEnd(&zs);
    if (!done)
        return {Error::Internal, "PNG: zlib did not finish a band (" + std::to_string(rc) + ")"};
    return Status::ok();
}

// A raw deflate stream from libdeflate, made joinable unless it ends the
// image. lsize_ stays 0 when libdeflate cannot be had (the zlib stream
// serves).
Status BandDeflater::libdeflateDeflate(const uint8_t *data, size_t size, bool last) {
    lsize_ = 0;
    if (!compressor_) compressor_ = libdeflate_alloc_compressor(deflateLevel(level_));
    if (!compressor_) return Status::ok();
    const size_t bound = libdeflate_deflate_compress_bound(compressor_, size) + 8;
    if (lout_.size() < bound) lout_.resize(bound);
    lsize_ = libdeflate_deflate_compress(compressor_, data, size, lout_.data(), lout_.size());
    if (lsize_ == 0 || last) return Status::ok();
    inflateOut_.resize(size_t{64} << 10);
    if (!makeJoinable(lout_, lsize_, inflateOut_))
        return {Error::Internal, "PNG: libdeflate's stream of a band does not parse for joining"};
    return Status::ok();
}

} // namespace imgctl
