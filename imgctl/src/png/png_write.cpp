// SPDX-License-Identifier: MIT
// Writing PNG files. The colour type is chosen without loss: a palette image
// becomes a palette PNG of 1, 2, 4 or 8 bits by palette size (tRNS for
// translucent entries), or a grayscale PNG when its palette is exactly the
// gray ramp of that depth; 16 and 24-bit become RGB, 32-bit RGBA, or RGB when
// every pixel is opaque.
//
// The file's rows (for Adam7, the rows of its seven passes one after the
// other) are cut into bands that two threads filter and compress at once,
// each band as a raw deflate stream of its own (see BandCoder), joined into
// the one zlib stream of the IDAT chunks: zlib's streams end in a sync flush;
// libdeflate's get their final-block bit cleared and an empty stored block,
// which puts the next band on a byte boundary.
#include "io/file_out.h"
#include "core/ops.h"
#include "core/pixel_rows.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <libdeflate.h>
#include <zlib.h>

namespace imgctl {
namespace {

// ---- Colour type and rows ----

// The IHDR colour types.
constexpr int kGray = 0, kRgb = 2, kPalette = 3, kRgba = 6;

enum class RowKind {
    Bgr,     // 24-bit: B, G, R to R, G, B
    Bgra,    // 32-bit with alpha: B, G, R, A to R, G, B, A
    Bgrx,    // 32-bit opaque: B, G, R, A to R, G, B
    Rgb555,  // 16-bit to 8-bit R, G, B
    Indices, // palette indices repacked to the file's bit depth
};

struct Layout {
    int colorType = kRgb;
    int bitDepth = 8;
    RowKind kind = RowKind::Bgr;
    size_t rowBytes = 0; // one row of the file, without its filter byte
    unsigned bpp = 3;    // filter distance: bytes per pixel, at least 1
};

// Bits per index needed for a palette of n entries.
int depthForPalette(size_t n) {
    if (n <= 2) return 1;
    if (n <= 4) return 2;
    if (n <= 16) return 4;
    return 8;
}

// True when the palette is the full gray ramp of `depth` bits: entry i is
// i * 255 / (2^depth - 1).
bool isGrayRamp(const Image &image, int depth) {
    const size_t n = size_t{1} << depth;
    if (image.palette.size() != n || !hasGrayPalette(image)) return false;
    for (size_t i = 0; i < n; ++i)
        if (image.palette[i].r != i * 255 / (n - 1)) return false;
    return true;
}

Layout chooseLayout(const Image &image) {
    Layout l;
    if (image.isPalette()) {
        l.kind = RowKind::Indices;
        l.bitDepth = depthForPalette(image.palette.size());
        l.colorType = isGrayRamp(image, l.bitDepth) ? kGray : kPalette;
        l.bpp = 1;
    } else if (image.bitCount == 16) {
        l.kind = RowKind::Rgb555;
    } else if (image.bitCount == 32) {
        if (hasTransparency(image)) {
            l.colorType = kRgba;
            l.kind = RowKind::Bgra;
            l.bpp = 4;
        } else {
            l.kind = RowKind::Bgrx;
        }
    }
    const int channels = l.colorType == kRgb ? 3 : l.colorType == kRgba ? 4 : 1;
    l.rowBytes = static_cast<size_t>((uint64_t{image.width} * channels * l.bitDepth + 7) / 8);
    return l;
}

// Makes the file's rows from the image's rows. Const: threads share one.
class PngRows {
  public:
    PngRows(const Image &image, const Layout &layout) : image_(image), layout_(layout) {
        maxIndex_ = image.palette.empty() ? 0 : static_cast<unsigned>(image.palette.size() - 1);
        // Indices never pass the palette when it has every entry the depth
        // can name; otherwise each row is checked and clamped.
        indicesSafe_ = !image.isPalette() || maxIndex_ + 1 >= (1u << image.bitCount);
    }

    // Writes row y as the file holds it (layout.rowBytes bytes) to out.
    void make(uint32_t y, uint8_t *out) const {
        const uint8_t *s = image_.row(y);
        const uint32_t w = image_.width;
        switch (layout_.kind) {
        case RowKind::Bgr:
            for (uint32_t x = 0; x < w; ++x, s += 3, out += 3) {
                out[0] = s[2];
                out[1] = s[1];
                out[2] = s[0];
            }
            break;
        case RowKind::Bgra:
            for (uint32_t x = 0; x < w; ++x, s += 4, out += 4) {
                out[0] = s[2];
                out[1] = s[1];
                out[2] = s[0];
                out[3] = s[3];
            }
            break;
        case RowKind::Bgrx:
            for (uint32_t x = 0; x < w; ++x, s += 4, out += 3) {
                out[0] = s[2];
                out[1] = s[1];
                out[2] = s[0];
            }
            break;
        case RowKind::Rgb555:
            for (uint32_t x = 0; x < w; ++x, s += 2, out += 3) {
                unsigned v = s[0] | (s[1] << 8);
                out[0] = kFiveToEight[(v >> 10) & 31];
                out[1] = kFiveToEight[(v >> 5) & 31];
                out[2] = kFiveToEight[v & 31];
            }
            break;
        case RowKind::Indices:
            indices(s, out);
            break;
        }
    }

  private:
    void indices(const uint8_t *s, uint8_t *out) const {
        const int depth = layout_.bitDepth;
        const uint16_t bits = image_.bitCount;
        const uint32_t w = image_.width;
        const size_t bytes = layout_.rowBytes;
        bool inRange = indicesSafe_;
        if (!inRange) {
            inRange = true;
            for (uint32_t x = 0; x < w && inRange; ++x)
                inRange = paletteIndex(s, x, bits) <= maxIndex_;
        }
        if (depth == bits && inRange) {
            // Same packing: copy, clearing the unused low bits of a last
            // partial byte.
            std::memcpy(out, s, bytes);
            unsigned tail = static_cast<unsigned>((uint64_t{w} * depth) % 8);
            if (tail) out[bytes - 1] &= static_cast<uint8_t>(0xFF00u >> tail);
            return;
        }
        std::memset(out, 0, bytes);
        const unsigned perByte = 8 / depth;
        for (uint32_t x = 0; x < w; ++x) {
            unsigned v = std::min<unsigned>(paletteIndex(s, x, bits), maxIndex_);
            unsigned shift = 8 - depth * (x % perByte + 1);
            out[x / perByte] |= static_cast<uint8_t>(v << shift);
        }
    }

    const Image &image_;
    const Layout &layout_;
    unsigned maxIndex_ = 0;
    bool indicesSafe_ = true;
};

// The file's rows in order: every row once, or the seven Adam7 passes, each
// over the sub-image of the pixels it picks (passes with no pixels left out).
class RowSequence {
  public:
    RowSequence(const Image &image, const Layout &layout, const PngRows &rows, bool interlaced)
        : rows_(rows), full_(layout.rowBytes) {
        pixelBits_ = layout.bitDepth * (layout.colorType == kRgb    ? 3
                                        : layout.colorType == kRgba ? 4
                                                                    : 1);
        static const uint32_t adam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                             {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
        static const uint32_t whole[1][4] = {{0, 0, 1, 1}};
        const auto &table = interlaced ? adam7 : whole;
        const int n = interlaced ? 7 : 1;
        uint32_t first = 0;
        for (int i = 0; i < n; ++i) {
            Pass p{table[i][0], table[i][1], table[i][2], table[i][3], 0, 0, 0, first};
            p.width = image.width > p.x0 ? (image.width - p.x0 + p.dx - 1) / p.dx : 0;
            p.height = image.height > p.y0 ? (image.height - p.y0 + p.dy - 1) / p.dy : 0;
            if (p.width == 0 || p.height == 0) continue;
            p.rowBytes = static_cast<size_t>((uint64_t{p.width} * pixelBits_ + 7) / 8);
            passes_.push_back(p);
            first += p.height;
        }
        count_ = first;
        interlaced_ = interlaced;
    }

    uint32_t count() const { return count_; }
    // Bytes of the longest row.
    size_t maxRowBytes() const { return full_; }
    // True when row r is the first of its pass (its filters see zeros above).
    bool startsPass(uint32_t r) const { return locate(r).first == r; }

    // Writes row r to out and returns its byte count. scratch holds a full
    // image row.
    size_t make(uint32_t r, uint8_t *out, uint8_t *scratch) const {
        const Pass &p = locate(r);
        const uint32_t y = p.y0 + (r - p.first) * p.dy;
        if (!interlaced_) {
            rows_.make(y, out);
            return p.rowBytes;
        }
        rows_.make(y, scratch);
        if (pixelBits_ >= 8) {
            const size_t b = pixelBits_ / 8;
            for (uint32_t k = 0; k < p.width; ++k)
                std::memcpy(out + k * b, scratch + size_t{p.x0 + k * p.dx} * b, b);
        } else {
            const unsigned d = pixelBits_, mask = (1u << d) - 1;
            std::memset(out, 0, p.rowBytes);
            for (uint32_t k = 0; k < p.width; ++k) {
                const uint64_t from = uint64_t{p.x0 + k * p.dx} * d, to = uint64_t{k} * d;
                unsigned v = (scratch[from / 8] >> (8 - d - from % 8)) & mask;
                out[to / 8] |= static_cast<uint8_t>(v << (8 - d - to % 8));
            }
        }
        return p.rowBytes;
    }

  private:
    struct Pass {
        uint32_t x0, y0, dx, dy, width, height;
        size_t rowBytes;
        uint32_t first; // index of its first row in the file
    };

    const Pass &locate(uint32_t r) const {
        size_t i = 0;
        while (i + 1 < passes_.size() && r >= passes_[i + 1].first)
            ++i;
        return passes_[i];
    }

    const PngRows &rows_;
    size_t full_;
    unsigned pixelBits_ = 8;
    std::vector<Pass> passes_;
    uint32_t count_ = 0;
    bool interlaced_ = false;
};

// ---- Filtering ----

// The filters as separate loops over restrict-qualified rows, so that each
// vectorises; i < bpp has no left neighbour (a = c = 0).
void filterSub(const uint8_t *__restrict cur, size_t n, size_t bpp, uint8_t *__restrict out) {
    for (size_t i = 0; i < bpp; ++i)
        out[i] = cur[i];
    for (size_t i = bpp; i < n; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - cur[i - bpp]);
}

void filterUp(const uint8_t *__restrict cur, const uint8_t *__restrict prev, size_t n,
              uint8_t *__restrict out) {
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - prev[i]);
}

void filterAverage(const uint8_t *__restrict cur, const uint8_t *__restrict prev, size_t n,
                   size_t bpp, uint8_t *__restrict out) {
    for (size_t i = 0; i < bpp; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - (prev[i] >> 1));
    for (size_t i = bpp; i < n; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - ((cur[i - bpp] + prev[i]) >> 1));
}

void filterPaeth(const uint8_t *__restrict cur, const uint8_t *__restrict prev, size_t n,
                 size_t bpp, uint8_t *__restrict out) {
    for (size_t i = 0; i < bpp; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - prev[i]);
    for (size_t i = bpp; i < n; ++i) {
        const int16_t a = cur[i - bpp], b = prev[i], c = prev[i - bpp];
        const int16_t pa = static_cast<int16_t>(std::abs(b - c));
        const int16_t pb = static_cast<int16_t>(std::abs(a - c));
        const int16_t pc = static_cast<int16_t>(std::abs(a + b - 2 * c));
        const int16_t bc = pb <= pc ? b : c;
        const int16_t pred = (pa <= pb && pa <= pc) ? a : bc;
        out[i] = static_cast<uint8_t>(cur[i] - pred);
    }
}

// Sum of the bytes read as signed magnitudes.
uint32_t magnitudeSum(const uint8_t *__restrict v, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += static_cast<uint32_t>(std::abs(static_cast<int8_t>(v[i])));
    return sum;
}

// Filters rows. Adaptive: each of the five filters is tried and the one whose
// output has the smallest sum of magnitudes (bytes read as signed) is kept,
// the usual heuristic for photographs. Otherwise every row is stored
// unfiltered, which suits palette and sub-byte rows.
class RowFilter {
  public:
    RowFilter(size_t maxBytes, unsigned bpp, bool adaptive) : bpp_(bpp), adaptive_(adaptive) {
        if (adaptive) candidates_.resize(4 * maxBytes);
    }

    // Writes the filter type byte and the filtered row of n bytes (n + 1 in
    // all) to out. prev is the row above, all zeros for a pass's first row.
    void filter(const uint8_t *cur, const uint8_t *prev, size_t n, uint8_t *out) {
        if (!adaptive_) {
            out[0] = 0;
            std::memcpy(out + 1, cur, n);
            return;
        }
        const size_t bpp = std::min<size_t>(bpp_, n);
        uint8_t *sub = candidates_.data(), *up = sub + n, *avg = up + n, *pae = avg + n;
        filterSub(cur, n, bpp, sub);
        filterUp(cur, prev, n, up);
        filterAverage(cur, prev, n, bpp, avg);
        filterPaeth(cur, prev, n, bpp, pae);
        const uint32_t sums[5] = {magnitudeSum(cur, n), magnitudeSum(sub, n), magnitudeSum(up, n),
                                  magnitudeSum(avg, n), magnitudeSum(pae, n)};
        int best = 0;
        for (int f = 1; f < 5; ++f)
            if (sums[f] < sums[best]) best = f;
        out[0] = static_cast<uint8_t>(best);
        std::memcpy(out + 1, best == 0 ? cur : candidates_.data() + (best - 1) * n, n);
    }

  private:
    unsigned bpp_;
    bool adaptive_;
    std::vector<uint8_t> candidates_; // Sub, Up, Average, Paeth outputs
};

// ---- Bands compressed in parallel ----

// A raw deflate stream made joinable: its final-block bit cleared, its last
// byte's unused bits zeroed and an empty stored block appended, so another
// stream may follow on the next byte. Finds the final block with zlib's
// block-by-block inflate. Returns false when the stream does not parse.
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

// The libdeflate level for a zlib level when longer matches are tried: one
// step stronger from 5 up, which keeps those streams at least as small as
// zlib's at far less time.
int deflateLevel(int level) {
    static const int map[10] = {0, 1, 2, 3, 4, 6, 7, 8, 9, 10};
    return map[std::clamp(level, 0, 9)];
}

// One thread's share: filters and compresses bands of rows.
//
// Each band is first coded with zlib's run-length strategy: Huffman coding
// of the filtered bytes with matches only at distance one. The filtered rows
// of a photograph hold few repeats, and on them this gives smaller files
// than full LZ77 matching (zlib at any level, or libdeflate) in a fraction
// of the time. A band that compresses well by it (flat areas, text,
// patterns, where longer matches pay) is also coded with libdeflate at the
// level asked for, as is every band at levels 8 and 9, and the smaller
// stream is kept.
class BandCoder {
  public:
    BandCoder(const RowSequence &rows, const Layout &layout, bool adaptive, int level)
        : rows_(rows), filter_(rows.maxRowBytes(), layout.bpp, adaptive), level_(level) {}
    ~BandCoder() { libdeflate_free_compressor(compressor_); }
    BandCoder(const BandCoder &) = delete;
    BandCoder &operator=(const BandCoder &) = delete;

    // Codes the file's rows r0 .. r1 - 1; `last` when the band ends the
    // image. Never throws; ok() tells whether it worked.
    void run(uint32_t r0, uint32_t r1, bool last) noexcept {
        ok_ = false;
        try {
            const size_t most = rows_.maxRowBytes();
            raw_.resize((most + 1) * (r1 - r0));
            prev_.assign(most, 0);
            cur_.resize(most);
            scratch_.resize(most);
            if (!rows_.startsPass(r0)) rows_.make(r0 - 1, prev_.data(), scratch_.data());
            size_t at = 0;
            for (uint32_t r = r0; r < r1; ++r) {
                const size_t n = rows_.make(r, cur_.data(), scratch_.data());
                if (rows_.startsPass(r)) std::fill(prev_.begin(), prev_.end(), 0);
                filter_.filter(cur_.data(), prev_.data(), n, raw_.data() + at);
                at += n + 1;
                std::swap(cur_, prev_);
            }
            raw_.resize(at);
            adler_ = static_cast<uint32_t>(libdeflate_adler32(1, raw_.data(), raw_.size()));
            if (!zlibDeflate(level_ == 0 ? Z_DEFAULT_STRATEGY : Z_RLE, level_, last)) return;
            chosen_ = &zout_;
            size_ = zsize_;
            const bool tryMatches = level_ >= 8 || (level_ > 0 && zsize_ * 10 < raw_.size() * 3);
            if (tryMatches && libdeflateDeflate(last) && lsize_ < zsize_) {
                chosen_ = &lout_;
                size_ = lsize_;
            }
            ok_ = true;
        } catch (...) {
            ok_ = false;
        }
    }

    bool ok() const { return ok_; }
    const uint8_t *data() const { return chosen_->data(); }
    size_t size() const { return size_; }
    uint32_t adler() const { return adler_; }
    size_t rawSize() const { return raw_.size(); }

  private:
    // A raw deflate stream from zlib: a sync flush leaves it open and on a
    // byte boundary, ready for the next band.
    bool zlibDeflate(int strategy, int level, bool last) {
        z_stream zs{};
        if (deflateInit2(&zs, level, Z_DEFLATED, -15, 9, strategy) != Z_OK) return false;
        const size_t bound = deflateBound(&zs, static_cast<uLong>(raw_.size())) + 16;
        if (zout_.size() < bound) zout_.resize(bound);
        zs.next_in = raw_.data();
        zs.avail_in = static_cast<uInt>(raw_.size());
        zs.next_out = zout_.data();
        zs.avail_out = static_cast<uInt>(zout_.size());
        const int rc = deflate(&zs, last ? Z_FINISH : Z_SYNC_FLUSH);
        // A sync flush is complete only when it left output space unused.
        const bool ok =
            last ? rc == Z_STREAM_END : rc == Z_OK && zs.avail_in == 0 && zs.avail_out > 0;
        zsize_ = zs.total_out;
        deflateEnd(&zs);
        return ok;
    }

    // A raw deflate stream from libdeflate, made joinable unless it ends the
    // image.
    bool libdeflateDeflate(bool last) {
        if (!compressor_) compressor_ = libdeflate_alloc_compressor(deflateLevel(level_));
        if (!compressor_) return false;
        const size_t bound = libdeflate_deflate_compress_bound(compressor_, raw_.size()) + 8;
        if (lout_.size() < bound) lout_.resize(bound);
        lsize_ = libdeflate_deflate_compress(compressor_, raw_.data(), raw_.size(), lout_.data(),
                                             lout_.size());
        if (lsize_ == 0) return false;
        if (last) return true;
        inflateOut_.resize(size_t{64} << 10);
        return makeJoinable(lout_, lsize_, inflateOut_);
    }

    const RowSequence &rows_;
    RowFilter filter_;
    int level_;
    libdeflate_compressor *compressor_ = nullptr;
    std::vector<uint8_t> raw_, prev_, cur_, scratch_, zout_, lout_, inflateOut_;
    const std::vector<uint8_t> *chosen_ = &zout_;
    size_t zsize_ = 0, lsize_ = 0, size_ = 0;
    uint32_t adler_ = 1;
    bool ok_ = false;
};

// ---- Chunks ----

void put32be(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

struct Span {
    const uint8_t *data;
    size_t size;
};

// One chunk whose data is the pieces laid end to end.
Status putChunk(OutputFile &out, const char type[4], std::initializer_list<Span> pieces) {
    uint64_t length = 0;
    for (const Span &p : pieces)
        length += p.size;
    if (length > 0x7FFFFFFF) return {Error::CannotWrite, "a PNG chunk would pass 2 GiB"};
    uint8_t head[8];
    put32be(head, static_cast<uint32_t>(length));
    std::memcpy(head + 4, type, 4);
    uint32_t crc = libdeflate_crc32(0, type, 4);
    (void)out.write(head, 8);
    for (const Span &p : pieces) {
        crc = libdeflate_crc32(crc, p.data, p.size);
        (void)out.write(p.data, p.size);
    }
    uint8_t tail[4];
    put32be(tail, crc);
    return out.write(tail, 4);
}

Status writePng(const Image &image, const Layout &layout, OutputFile &out, int level,
                bool interlaced) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    (void)out.write(signature, 8);
    uint8_t ihdr[13];
    put32be(ihdr, image.width);
    put32be(ihdr + 4, image.height);
    ihdr[8] = static_cast<uint8_t>(layout.bitDepth);
    ihdr[9] = static_cast<uint8_t>(layout.colorType);
    ihdr[10] = ihdr[11] = 0;       // deflate, adaptive filtering
    ihdr[12] = interlaced ? 1 : 0; // Adam7
    (void)putChunk(out, "IHDR", {{ihdr, 13}});
    if (layout.colorType == kPalette) {
        uint8_t plte[256 * 3], trns[256];
        size_t n = image.palette.size(), trnsSize = 0;
        for (size_t i = 0; i < n; ++i) {
            const PaletteEntry &e = image.palette[i];
            plte[3 * i] = e.r;
            plte[3 * i + 1] = e.g;
            plte[3 * i + 2] = e.b;
            trns[i] = e.a;
            if (e.a != 255) trnsSize = i + 1; // trailing opaque entries are left out
        }
        (void)putChunk(out, "PLTE", {{plte, 3 * n}});
        if (trnsSize) (void)putChunk(out, "tRNS", {{trns, trnsSize}});
    }
    if (image.xPelsPerMeter > 0 && image.yPelsPerMeter > 0) {
        uint8_t phys[9];
        put32be(phys, static_cast<uint32_t>(image.xPelsPerMeter));
        put32be(phys + 4, static_cast<uint32_t>(image.yPelsPerMeter));
        phys[8] = 1; // metre
        (void)putChunk(out, "pHYs", {{phys, 9}});
    }
    if (!out.status()) return out.status();

    const int dlevel = deflateLevel(level);
    const bool adaptive = level > 0 && layout.bitDepth == 8 && layout.colorType != kPalette;
    PngRows pngRows(image, layout);
    RowSequence rows(image, layout, pngRows, interlaced);
    const uint32_t count = rows.count();
    // Bands of about 1/8 of the image, 256 KiB to 4 MiB of filtered bytes
    // (interlaced bands hold shorter rows, so less).
    const uint64_t total = uint64_t{layout.rowBytes + 1} * image.height;
    const uint64_t target = std::clamp<uint64_t>(total / 8, 256 << 10, 4 << 20);
    const uint32_t bandRows =
        static_cast<uint32_t>(std::clamp<uint64_t>(target / (layout.rowBytes + 1), 1, count));
    const uint32_t bands = (count + bandRows - 1) / bandRows;
    const unsigned threads =
        bands > 1 ? std::clamp(std::thread::hardware_concurrency(), 1u, 2u) : 1;

    std::vector<std::unique_ptr<BandCoder>> coders;
    for (unsigned t = 0; t < threads; ++t)
        coders.push_back(std::make_unique<BandCoder>(rows, layout, adaptive, level));

    // The zlib header: deflate with a 32 KiB window, FLEVEL from the level,
    // and the check bits that make it a multiple of 31.
    uint8_t zhead[2] = {0x78, static_cast<uint8_t>((dlevel < 2    ? 0
                                                    : dlevel < 6  ? 1
                                                    : dlevel == 6 ? 2
                                                                  : 3)
                                                   << 6)};
    zhead[1] = static_cast<uint8_t>(zhead[1] + (31 - (zhead[0] * 256 + zhead[1]) % 31) % 31);
    uint32_t adler = 1;
    for (uint32_t b0 = 0; b0 < bands; b0 += threads) {
        const unsigned now = std::min<unsigned>(threads, bands - b0);
        auto band = [&](unsigned t) {
            uint32_t b = b0 + t;
            uint32_t r0 = b * bandRows, r1 = std::min(count, r0 + bandRows);
            coders[t]->run(r0, r1, b + 1 == bands);
        };
        std::vector<std::thread> helpers;
        for (unsigned t = 1; t < now; ++t) {
            try {
                helpers.emplace_back(band, t);
            } catch (const std::system_error &) {
                band(t); // no thread to be had: do it here
            }
        }
        band(0);
        for (std::thread &h : helpers)
            h.join();
        for (unsigned t = 0; t < now; ++t) {
            const BandCoder &c = *coders[t];
            if (!c.ok()) return {Error::OutOfMemory, "the PNG compressor ran out of memory"};
            adler = static_cast<uint32_t>(
                adler32_combine(adler, c.adler(), static_cast<z_off_t>(c.rawSize())));
            const bool first = b0 + t == 0, last = b0 + t + 1 == bands;
            uint8_t trailer[4];
            put32be(trailer, adler);
            (void)putChunk(
                out, "IDAT",
                {{zhead, first ? 2u : 0u}, {c.data(), c.size()}, {trailer, last ? 4u : 0u}});
            if (!out.status()) return out.status();
        }
    }
    return putChunk(out, "IEND", {});
}

} // namespace

Status savePng(const Image &image, const char *path, int level, bool interlaced) {
    if (Status s = checkImageToSave(image); !s) return s;
    if (image.isPalette() &&
        (image.palette.empty() || image.palette.size() > (size_t{1} << image.bitCount)))
        return {Error::BadArgument, "a palette image needs 1 to 2^bits palette entries"};
    level = std::clamp(level, 0, 9);

    const Layout layout = chooseLayout(image);
    OutputFile out;
    if (Status s = out.open(path); !s) return s;
    if (Status s = writePng(image, layout, out, level, interlaced); !s) return s;
    return out.commit();
}

} // namespace imgctl
