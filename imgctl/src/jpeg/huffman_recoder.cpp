// SPDX-License-Identifier: MIT
// The Huffman re-coder; its contract is in huffman_recoder.h.
#include "jpeg/huffman_recoder.h"

#include <algorithm>
#include <cstring>

namespace imgctl {
namespace {

struct HuffDecoder {
    static constexpr int kLook = 9;
    std::array<uint16_t, 1 << kLook> look{}; // (length << 8) | symbol; 0: longer code
    std::array<int32_t, 18> maxcode{}, mincode{}, valptr{};
    std::array<uint8_t, 256> vals{};

    void build(const HuffTable &table) {
        vals = table.vals;
        look.fill(0);
        int32_t code = 0, k = 0;
        for (int len = 1; len <= 16; ++len) {
            valptr[len] = k;
            mincode[len] = code;
            for (int i = 0; i < table.bits[len]; ++i, ++code, ++k) {
                if (len <= kLook) {
                    int shift = kLook - len;
                    for (int j = 0; j < (1 << shift); ++j)
                        look[(code << shift) | j] = static_cast<uint16_t>((len << 8) | vals[k]);
                }
            }
            maxcode[len] = table.bits[len] ? code - 1 : -1;
            code <<= 1;
        }
        maxcode[17] = INT32_MAX;
    }
};

// Reads bits, most significant first, from unstuffed entropy-coded bytes;
// zeros past the end.
class BitReader {
  public:
    BitReader(const uint8_t *p, const uint8_t *end) : p_(p), end_(end) {}
    void fill() {
        while (n_ <= 56) {
            acc_ |= uint64_t{p_ < end_ ? *p_++ : uint8_t{0}} << (56 - n_);
            n_ += 8;
        }
    }
    uint32_t peek(int k) const { return static_cast<uint32_t>(acc_ >> (64 - k)); }
    void skip(int k) {
        acc_ <<= k;
        n_ -= k;
    }
    uint32_t get(int k) {
        if (k == 0) return 0;
        uint32_t v = peek(k);
        skip(k);
        return v;
    }
    // Decodes one symbol; -1 for a code the table lacks.
    int decode(const HuffDecoder &d) {
        if (n_ < 32) fill();
        uint16_t hit = d.look[peek(HuffDecoder::kLook)];
        if (hit) {
            skip(hit >> 8);
            return hit & 0xFF;
        }
        int len = HuffDecoder::kLook + 1;
        int32_t code = static_cast<int32_t>(peek(len));
        while (len <= 16 && code > d.maxcode[len])
            code = static_cast<int32_t>(peek(++len));
        if (len > 16) return -1;
        skip(len);
        return d.vals[(d.valptr[len] + code - d.mincode[len]) & 0xFF];
    }

  private:
    const uint8_t *p_, *end_;
    uint64_t acc_ = 0;
    int n_ = 0;
};

// Writes bits with 0xFF bytes stuffed.
class BitWriter {
  public:
    explicit BitWriter(std::vector<uint8_t> &out) : out_(out) {}
    void put(uint32_t bits, int len) {
        acc_ = (acc_ << len) | (bits & ((1u << len) - 1));
        n_ += len;
        while (n_ >= 8) {
            n_ -= 8;
            uint8_t b = static_cast<uint8_t>(acc_ >> n_);
            out_.push_back(b);
            if (b == 0xFF) out_.push_back(0);
        }
        acc_ &= (uint64_t{1} << n_) - 1;
    }
    // Pads to a byte boundary with one bits.
    void align() {
        if (n_) put((1u << (8 - n_)) - 1, 8 - n_);
    }

  private:
    std::vector<uint8_t> &out_;
    uint64_t acc_ = 0;
    int n_ = 0;
};

// Walks the blocks of one restart interval, handing each coded symbol and
// its extra bits to the sink. False when the data does not decode.
template <class Sink>
bool walkInterval(BitReader &in, const ScanLayout &scan, const HuffDecoder (&dc)[2],
                  const HuffDecoder (&ac)[2], Sink &sink) {
    for (uint32_t m = 0; m < scan.mcusPerRow; ++m) {
        for (int c = 0; c < scan.components; ++c) {
            const HuffDecoder &dcd = dc[scan.dcTable[c]], &acd = ac[scan.acTable[c]];
            for (int b = 0; b < scan.blocks[c]; ++b) {
                int s = in.decode(dcd);
                if (s < 0 || s > 15) return false;
                sink.dc(scan.dcTable[c], s, in.get(s));
                for (int k = 1; k < 64;) {
                    int rs = in.decode(acd);
                    if (rs < 0) return false;
                    int size = rs & 15;
                    sink.ac(scan.acTable[c], rs, in.get(size), size);
                    if (size == 0) {
                        if (rs != 0xF0) break; // end of block
                        k += 16;
                    } else {
                        k += (rs >> 4) + 1;
                    }
                    if (k > 64) return false;
                }
            }
        }
    }
    return true;
}

struct Counter {
    SymbolCounts &counts;
    void dc(int t, int s, uint32_t) { counts.dc[t][s]++; }
    void ac(int t, int rs, uint32_t, int) { counts.ac[t][rs]++; }
};

struct Recoder {
    BitWriter &out;
    const HuffCodes (&dcEnc)[2];
    const HuffCodes (&acEnc)[2];
    void dc(int t, int s, uint32_t extra) {
        out.put(dcEnc[t].code[s], dcEnc[t].size[s]);
        if (s) out.put(extra, s);
    }
    void ac(int t, int rs, uint32_t extra, int size) {
        out.put(acEnc[t].code[rs], acEnc[t].size[rs]);
        if (size) out.put(extra, size);
    }
};

} // namespace

void SymbolCounts::add(const SymbolCounts &other) {
    for (int t = 0; t < 2; ++t)
        for (int s = 0; s < 256; ++s) {
            dc[t][s] += other.dc[t][s];
            ac[t][s] += other.ac[t][s];
        }
}

void HuffCodes::build(const HuffTable &table) {
    size.fill(0);
    uint32_t c = 0;
    int k = 0;
    for (int len = 1; len <= 16; ++len) {
        for (int i = 0; i < table.bits[len]; ++i, ++c, ++k) {
            code[table.vals[k]] = static_cast<uint16_t>(c);
            size[table.vals[k]] = static_cast<uint8_t>(len);
        }
        c <<= 1;
    }
}

HuffTable optimalTable(const std::array<uint32_t, 256> &counts) {
    std::array<int64_t, 257> freq{};
    for (int i = 0; i < 256; ++i)
        freq[i] = counts[i];
    freq[256] = 1; // a reserved symbol keeps the all-ones code unused
    std::array<int, 257> codesize{}, others{};
    others.fill(-1);
    for (;;) {
        int c1 = -1, c2 = -1;
        int64_t v1 = INT64_MAX, v2 = INT64_MAX;
        for (int i = 0; i <= 256; ++i) {
            if (freq[i] && freq[i] <= v1) {
                v2 = v1, c2 = c1;
                v1 = freq[i], c1 = i;
            } else if (freq[i] && freq[i] <= v2) {
                v2 = freq[i], c2 = i;
            }
        }
        if (c2 < 0) break;
        freq[c1] += freq[c2];
        freq[c2] = 0;
        ++codesize[c1];
        while (others[c1] >= 0) {
            c1 = others[c1];
            ++codesize[c1];
        }
        others[c1] = c2;
        ++codesize[c2];
        while (others[c2] >= 0) {
            c2 = others[c2];
            ++codesize[c2];
        }
    }
    std::array<int, 33> bits{};
    for (int i = 0; i <= 256; ++i)
        if (codesize[i]) bits[std::min(codesize[i], 32)]++;
    for (int i = 32; i > 16; --i) {
        while (bits[i] > 0) {
            int j = i - 2;
            while (bits[j] == 0)
                --j;
            bits[i] -= 2;
            bits[i - 1]++;
            bits[j + 1] += 2;
            bits[j]--;
        }
    }
    int i = 16;
    while (bits[i] == 0)
        --i;
    bits[i]--; // drop the reserved symbol's code
    HuffTable table;
    for (int l = 1; l <= 16; ++l)
        table.bits[l] = static_cast<uint8_t>(bits[l]);
    int k = 0;
    for (int len = 1; len <= 32; ++len)
        for (int s = 0; s < 256; ++s)
            if (codesize[s] == len) table.vals[k++] = static_cast<uint8_t>(s);
    return table;
}

struct IntervalCoder::Decoders {
    HuffDecoder dc[2], ac[2];
};

IntervalCoder::IntervalCoder(const ScanLayout &scan, const HuffTable (&dc)[2],
                             const HuffTable (&ac)[2])
    : scan_(scan), decoders_(std::make_unique<Decoders>()) {
    for (int t = 0; t < 2; ++t) {
        decoders_->dc[t].build(dc[t]);
        decoders_->ac[t].build(ac[t]);
    }
}

IntervalCoder::~IntervalCoder() = default;

bool IntervalCoder::count(const uint8_t *begin, const uint8_t *end, SymbolCounts &counts) const {
    BitReader in(begin, end);
    Counter counter{counts};
    return walkInterval(in, scan_, decoders_->dc, decoders_->ac, counter);
}

bool IntervalCoder::recode(const uint8_t *begin, const uint8_t *end, const HuffCodes (&dc)[2],
                           const HuffCodes (&ac)[2], std::vector<uint8_t> &out) const {
    BitReader in(begin, end);
    BitWriter writer(out);
    Recoder recoder{writer, dc, ac};
    if (!walkInterval(in, scan_, decoders_->dc, decoders_->ac, recoder)) return false;
    writer.align();
    return true;
}

} // namespace imgctl
