// SPDX-License-Identifier: MIT
// The deflate band joiner: the PNG writer's filtered rows are cut into bands
// that are compressed on their own (on several threads) and joined into the
// one zlib stream of the IDAT chunks. Each band becomes a raw deflate stream
// that ends on a byte boundary with no final block, so that the next band's
// stream may follow it: zlib's streams end in a sync flush; libdeflate's get
// their final-block bit cleared and an empty stored block appended
// (makeJoinable). The last band's stream ends the whole stream. The zlib
// header goes before the first band and the Adler-32 of every band's bytes,
// combined, after the last.
//
// Each band is first coded with zlib's run-length strategy: Huffman coding
// of the filtered bytes with matches only at distance one. The filtered rows
// of a photograph hold few repeats, and on them this gives smaller files
// than full LZ77 matching (zlib at any level, or libdeflate) in a fraction
// of the time. A band that compresses well by it (flat areas, text,
// patterns, where longer matches pay) is also coded with libdeflate at the
// level asked for, as is every band at levels 8 and 9, and the smaller
// stream is kept. Level 0 stores.
//
// Accepts: any bytes, any number of bands, a zlib level of 0 to 9.
// Returns: the band's stream; OutOfMemory when zlib cannot start; Internal
//   naming the step when zlib does not finish a band or libdeflate's stream
//   does not parse for joining (a fault of this code, never of the image).
// Taken: by savePng for an image of more than Tuning::deflateBandMinBytes
//   filtered bytes (bands of an eighth of the image, from that size up to
//   Tuning::deflateBandMaxBytes).
// Falls back to: one band, a single stream, for smaller images.
#pragma once

#include "core/status.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

struct libdeflate_compressor;

namespace imgctl {

// Compresses bands one after another, reusing its buffers.
class BandDeflater {
  public:
    explicit BandDeflater(int level) : level_(level) {}
    ~BandDeflater();
    BandDeflater(const BandDeflater &) = delete;
    BandDeflater &operator=(const BandDeflater &) = delete;

    // Compresses one band of `size` bytes; `last` when it ends the stream.
    Status compress(const uint8_t *data, size_t size, bool last);
    // The band's stream, valid until the next compress().
    const uint8_t *data() const { return chosen_->data(); }
    size_t size() const { return size_; }

  private:
    Status zlibDeflate(const uint8_t *data, size_t size, bool last);
    Status libdeflateDeflate(const uint8_t *data, size_t size, bool last);

    int level_;
    libdeflate_compressor *compressor_ = nullptr;
    std::vector<uint8_t> zout_, lout_, inflateOut_;
    const std::vector<uint8_t> *chosen_ = &zout_;
    size_t zsize_ = 0, lsize_ = 0, size_ = 0;
};

// The two bytes of the zlib header for a stream compressed at `level`.
std::array<uint8_t, 2> zlibHeader(int level);

// Makes a complete raw deflate stream of `size` bytes in s joinable: its
// final-block bit cleared, its last byte's unused bits zeroed and an empty
// stored block appended, so another stream may follow on the next byte.
// Finds the final block with zlib's block-by-block inflate (scratch is its
// output buffer, any size). Returns false when the stream does not parse.
bool makeJoinable(std::vector<uint8_t> &s, size_t &size, std::vector<uint8_t> &scratch);

} // namespace imgctl
