// SPDX-License-Identifier: MIT
// Writing JPEG files with libjpeg-turbo: optimised Huffman tables, 4:2:0
// below quality 90 and 4:4:4 from 90 up, progressive on request, a gray
// palette image as a one-component JPEG, alpha composited over white.
// 24-bit and opaque 32-bit rows go to the encoder straight from the image;
// other layouts are converted one row at a time into a small buffer. Large
// baseline files are encoded in two parts at once and their tables optimised
// afterwards (see "Large baseline files" below); progressive and small files
// go through libjpeg in one piece.
#include "io/file_out.h"
#include "core/ops.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace imgctl {
namespace {

constexpr size_t kChunk = size_t{64} << 10;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void onError(j_common_ptr cinfo) {
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void onMessage(j_common_ptr, int) {}

// Hands the encoder's output straight into the output file's buffer.
struct Destination {
    jpeg_destination_mgr pub;
    OutputFile *out;
};

void claimChunk(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    uint8_t *p = dest->out->reserve(kChunk);
    if (!p) ERREXIT(cinfo, JERR_FILE_WRITE);
    dest->pub.next_output_byte = p;
    dest->pub.free_in_buffer = kChunk;
}

void initDestination(j_compress_ptr cinfo) {
    claimChunk(cinfo);
}

boolean emptyOutputBuffer(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    dest->out->advance(kChunk);
    claimChunk(cinfo);
    return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    dest->out->advance(kChunk - dest->pub.free_in_buffer);
}

inline uint8_t overWhite(uint8_t c, uint8_t a) {
    return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

// Gives the encoder its rows in the colour space chosen for the image.
class RowFeeder {
  public:
    explicit RowFeeder(const Image &image) : image_(image) {
        if (image.isPalette()) {
            if (hasGrayPalette(image)) {
                kind_ = Kind::Gray;
                space_ = JCS_GRAYSCALE;
                components_ = 1;
                lut_.fill(0);
                for (size_t i = 0; i < image.palette.size(); ++i)
                    lut_[3 * i] = image.palette[i].r;
            } else {
                kind_ = Kind::Palette;
                lut_.fill(0);
                for (size_t i = 0; i < image.palette.size(); ++i) {
                    const PaletteEntry &e = image.palette[i];
                    lut_[3 * i] = overWhite(e.b, e.a);
                    lut_[3 * i + 1] = overWhite(e.g, e.a);
                    lut_[3 * i + 2] = overWhite(e.r, e.a);
                }
            }
        } else if (image.bitCount == 16) {
            kind_ = Kind::Rgb555;
        } else if (image.bitCount == 32) {
            kind_ = Kind::Bgra;
            space_ = JCS_EXT_BGRX;
            components_ = 4;
        }
        buffer_.resize(size_t{image.width} * components_);
    }

    J_COLOR_SPACE space() const { return space_; }
    int components() const { return components_; }
    // Rows taken straight from the image need no buffer, so several can go at once.
    bool direct() const { return kind_ == Kind::Bgr; }

    JSAMPROW row(uint32_t y) {
        const uint8_t *src = image_.row(y);
        const uint32_t w = image_.width;
        uint8_t *dst = buffer_.data();
        switch (kind_) {
        case Kind::Bgr:
            return const_cast<JSAMPROW>(src);
        case Kind::Bgra: {
            uint32_t x = 0;
            while (x < w && src[4 * x + 3] == 255)
                ++x;
            if (x == w) return const_cast<JSAMPROW>(src);
            std::memcpy(dst, src, 4 * size_t{x});
            for (; x < w; ++x) {
                const uint8_t *p = src + 4 * x;
                uint8_t *q = dst + 4 * x;
                q[0] = overWhite(p[0], p[3]);
                q[1] = overWhite(p[1], p[3]);
                q[2] = overWhite(p[2], p[3]);
                q[3] = 255;
            }
            return dst;
        }
        case Kind::Rgb555:
            for (uint32_t x = 0; x < w; ++x) {
                unsigned v = src[2 * x] | (src[2 * x + 1] << 8);
                dst[3 * x] = expand5(v & 31);
                dst[3 * x + 1] = expand5((v >> 5) & 31);
                dst[3 * x + 2] = expand5((v >> 10) & 31);
            }
            return dst;
        case Kind::Gray:
            for (uint32_t x = 0; x < w; ++x)
                dst[x] = lut_[3 * index(src, x)];
            return dst;
        case Kind::Palette:
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t *c = &lut_[3 * index(src, x)];
                dst[3 * x] = c[0];
                dst[3 * x + 1] = c[1];
                dst[3 * x + 2] = c[2];
            }
            return dst;
        }
        return dst;
    }

  private:
    enum class Kind { Bgr, Bgra, Rgb555, Gray, Palette };

    static uint8_t expand5(unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }
    unsigned index(const uint8_t *row, uint32_t x) const {
        return paletteIndex(row, x, image_.bitCount);
    }

    const Image &image_;
    Kind kind_ = Kind::Bgr;
    J_COLOR_SPACE space_ = JCS_EXT_BGR;
    int components_ = 3;
    std::array<uint8_t, 256 * 3> lut_{};
    std::vector<uint8_t> buffer_;
};

// The settings every encoder of an image shares, so that separately encoded
// parts of it carry the same tables and sampling.
void configure(jpeg_compress_struct &cinfo, const Image &image, const RowFeeder &feeder,
               uint32_t height, int quality) {
    cinfo.image_width = image.width;
    cinfo.image_height = height;
    cinfo.input_components = feeder.components();
    cinfo.in_color_space = feeder.space();
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (cinfo.num_components == 3) {
        const int factor = quality < 90 ? 2 : 1;
        cinfo.comp_info[0].h_samp_factor = factor;
        cinfo.comp_info[0].v_samp_factor = factor;
        for (int c = 1; c < 3; ++c) {
            cinfo.comp_info[c].h_samp_factor = 1;
            cinfo.comp_info[c].v_samp_factor = 1;
        }
    }
    if (image.xPelsPerMeter > 0 && image.yPelsPerMeter > 0) {
        // Pels per metre to dots per centimetre.
        cinfo.density_unit = 2;
        cinfo.X_density =
            static_cast<UINT16>(std::clamp((image.xPelsPerMeter + 50) / 100, 1, 65535));
        cinfo.Y_density =
            static_cast<UINT16>(std::clamp((image.yPelsPerMeter + 50) / 100, 1, 65535));
    }
}

// Feeds rows y0 .. y1 - 1 to a started compressor.
void writeRows(jpeg_compress_struct &cinfo, RowFeeder &feeder, uint32_t y0) {
    JSAMPROW rows[16];
    while (cinfo.next_scanline < cinfo.image_height) {
        uint32_t y = y0 + cinfo.next_scanline;
        uint32_t n =
            feeder.direct() ? std::min<uint32_t>(16, cinfo.image_height - cinfo.next_scanline) : 1;
        for (uint32_t i = 0; i < n; ++i)
            rows[i] = feeder.row(y + i);
        jpeg_write_scanlines(&cinfo, rows, n);
    }
}

// The whole image through libjpeg: progressive files, and small ones. With
// optimised tables libjpeg keeps every coefficient of the image in memory.
// It holds no object with a destructor, so the error handler's longjmp back
// here skips nothing that needs cleaning up.
Status encodeWhole(const Image &image, RowFeeder &feeder, OutputFile &out, int quality,
                   bool progressive, const char *path) {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    Destination dest;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    err.message[0] = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        if (!out.status()) return out.status();
        return {Error::CannotWrite, std::string(path) + ": JPEG encoder: " + err.message};
    }
    jpeg_create_compress(&cinfo);
    dest.pub.init_destination = initDestination;
    dest.pub.empty_output_buffer = emptyOutputBuffer;
    dest.pub.term_destination = termDestination;
    dest.out = &out;
    cinfo.dest = &dest.pub;
    configure(cinfo, image, feeder, image.height, quality);
    cinfo.optimize_coding = TRUE;
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    writeRows(cinfo, feeder, 0);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return out.status();
}

// ---- Large baseline files: two parts at once, tables optimised after ----
//
// libjpeg's own table optimisation keeps every coefficient of the image in
// memory (as much again as a 24-bit image at 4:2:0, twice that at 4:4:4) and
// runs on one core. Instead the image is cut at an MCU row into two parts
// that two threads encode at once with the standard tables and a restart
// marker after every MCU row. The parts' entropy-coded data is then decoded
// to count the symbols, optimal tables are made from the counts, and each
// part is coded again with them; restart markers make the parts independent,
// so they join into one scan. Memory beyond the image is a few times the
// size of the compressed file.

// A growing in-memory destination.
struct VectorDestination {
    jpeg_destination_mgr pub;
    std::vector<uint8_t> *out;
};

void vectorInit(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<VectorDestination *>(cinfo->dest);
    bool failed = false;
    try {
        dest->out->resize(size_t{256} << 10);
    } catch (...) {
        failed = true;
    }
    if (failed) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    dest->pub.next_output_byte = dest->out->data();
    dest->pub.free_in_buffer = dest->out->size();
}

boolean vectorEmpty(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<VectorDestination *>(cinfo->dest);
    const size_t old = dest->out->size();
    bool failed = false;
    try {
        dest->out->resize(old * 2);
    } catch (...) {
        failed = true;
    }
    if (failed) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    dest->pub.next_output_byte = dest->out->data() + old;
    dest->pub.free_in_buffer = old;
    return TRUE;
}

void vectorTerm(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<VectorDestination *>(cinfo->dest);
    dest->out->resize(dest->out->size() - dest->pub.free_in_buffer);
}

// Encodes rows y0 .. y0 + height - 1 as a JPEG of their own with the
// standard tables and a restart marker after every MCU row. False on failure.
bool encodePart(const Image &image, RowFeeder &feeder, uint32_t y0, uint32_t height, int quality,
                std::vector<uint8_t> &out) {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    VectorDestination dest;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    dest.pub.init_destination = vectorInit;
    dest.pub.empty_output_buffer = vectorEmpty;
    dest.pub.term_destination = vectorTerm;
    dest.out = &out;
    cinfo.dest = &dest.pub;
    configure(cinfo, image, feeder, height, quality);
    cinfo.optimize_coding = FALSE;
    cinfo.restart_in_rows = 1;
    jpeg_start_compress(&cinfo, TRUE);
    writeRows(cinfo, feeder, y0);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

// A Huffman table as a DHT segment holds it: code counts per length, then
// the symbols in code order.
struct HuffTable {
    std::array<uint8_t, 17> bits{}; // bits[1..16]
    std::array<uint8_t, 256> vals{};
    int count() const {
        int n = 0;
        for (int l = 1; l <= 16; ++l)
            n += bits[l];
        return n;
    }
};

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

struct HuffEncoder {
    std::array<uint16_t, 256> code{};
    std::array<uint8_t, 256> size{};

    void build(const HuffTable &table) {
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
};

// Optimal code lengths (at most 16 bits, no all-ones code) for symbol
// counts, by the JPEG standard's procedure: merge the two rarest entries
// until one is left, then move over-long codes up.
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

// What the scan of a part looks like.
struct ScanLayout {
    int components = 0;
    std::array<int, 3> blocks{}; // blocks per MCU of each component
    std::array<int, 3> dcTable{}, acTable{};
    uint32_t mcusPerRow = 0;
};

struct Counts {
    std::array<std::array<uint32_t, 256>, 2> dc{}, ac{};
};

// One part: encoded, split into restart intervals (unstuffed), counted, and
// coded again.
struct Part {
    uint32_t y0 = 0, height = 0;
    std::vector<uint8_t> head; // the part's segments before its scan data
    // The part as libjpeg wrote it, then, in the same buffer, its
    // entropy-coded data unstuffed.
    std::vector<uint8_t> data;
    std::vector<size_t> intervals; // start of each restart interval in data, then the end
    Counts counts;
    std::vector<uint8_t> coded; // the data coded with the optimised tables
    bool ok = false;
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
    Counts &counts;
    void dc(int t, int s, uint32_t) { counts.dc[t][s]++; }
    void ac(int t, int rs, uint32_t, int) { counts.ac[t][rs]++; }
};

struct Recoder {
    BitWriter &out;
    const HuffEncoder (&dcEnc)[2];
    const HuffEncoder (&acEnc)[2];
    void dc(int t, int s, uint32_t extra) {
        out.put(dcEnc[t].code[s], dcEnc[t].size[s]);
        if (s) out.put(extra, s);
    }
    void ac(int t, int rs, uint32_t extra, int size) {
        out.put(acEnc[t].code[rs], acEnc[t].size[rs]);
        if (size) out.put(extra, size);
    }
};

// The segments of a JPEG before its scan data.
struct Headers {
    std::vector<std::pair<size_t, size_t>> segments; // offset and length of each, marker included
    HuffTable dc[2], ac[2];
    ScanLayout scan;
    bool ok = false;
};

uint32_t be16(const uint8_t *p) {
    return (uint32_t{p[0]} << 8) | p[1];
}

Headers parseHeaders(const std::vector<uint8_t> &f, uint32_t width, size_t &scanStart) {
    Headers h;
    size_t at = 2;
    int hmax = 1, vmax = 1;
    std::array<int, 256> hv{}; // per component id: h << 4 | v
    std::array<int, 3> ids{};
    while (at + 4 <= f.size() && f[at] == 0xFF) {
        const int marker = f[at + 1];
        const size_t len = be16(&f[at + 2]);
        if (len < 2 || at + 2 + len > f.size()) return h;
        const uint8_t *p = &f[at + 4];
        h.segments.push_back({at, len + 2});
        if (marker == 0xC4) { // DHT
            size_t q = 0;
            while (q + 17 <= len - 2) {
                int cls = p[q] >> 4, id = p[q] & 15;
                if (id > 1) return h;
                HuffTable &table = cls ? h.ac[id] : h.dc[id];
                table.bits[0] = 0;
                for (int l = 1; l <= 16; ++l)
                    table.bits[l] = p[q + l];
                int n = table.count();
                if (n > 256 || q + 17 + n > len - 2) return h;
                std::memcpy(table.vals.data(), p + q + 17, n);
                q += 17 + n;
            }
        } else if (marker == 0xC0) { // SOF0
            int nf = p[5];
            for (int c = 0; c < nf && c < 3; ++c) {
                int id = p[6 + 3 * c], f2 = p[7 + 3 * c];
                hv[id] = f2;
                hmax = std::max(hmax, f2 >> 4);
                vmax = std::max(vmax, f2 & 15);
            }
        } else if (marker == 0xDA) { // SOS
            int ns = p[0];
            if (ns < 1 || ns > 3) return h;
            h.scan.components = ns;
            for (int c = 0; c < ns; ++c) {
                ids[c] = p[1 + 2 * c];
                h.scan.dcTable[c] = p[2 + 2 * c] >> 4;
                h.scan.acTable[c] = p[2 + 2 * c] & 15;
                if (h.scan.dcTable[c] > 1 || h.scan.acTable[c] > 1) return h;
            }
            if (ns == 1) {
                // A single-component scan codes one block per MCU over the
                // component's own width.
                int ch = hv[ids[0]] >> 4;
                uint32_t compWidth = (width * ch + hmax - 1) / hmax;
                h.scan.blocks[0] = 1;
                h.scan.mcusPerRow = (compWidth + 7) / 8;
            } else {
                for (int c = 0; c < ns; ++c)
                    h.scan.blocks[c] = (hv[ids[c]] >> 4) * (hv[ids[c]] & 15);
                h.scan.mcusPerRow = (width + 8 * hmax - 1) / (8 * hmax);
            }
            scanStart = at + 2 + len;
            h.ok = true;
            return h;
        }
        at += 2 + len;
    }
    return h;
}

// Encodes, unstuffs and counts one part (the first phase, one thread each).
void preparePart(const Image &image, Part &part, int quality, uint32_t mcuRows) noexcept {
    part.ok = false;
    try {
        RowFeeder feeder(image);
        if (!encodePart(image, feeder, part.y0, part.height, quality, part.data)) return;
        size_t start = 0;
        Headers h = parseHeaders(part.data, image.width, start);
        if (!h.ok || part.data.size() < start + 2) return;
        part.head.assign(part.data.begin(), part.data.begin() + start);
        // Unstuff in place (the data only shrinks), cutting at the restart
        // markers; the scan data ends before the closing EOI marker.
        uint8_t *f = part.data.data();
        const size_t end = part.data.size() - 2;
        size_t w = 0;
        part.intervals.push_back(0);
        for (size_t i = start; i < end; ++i) {
            if (f[i] != 0xFF) {
                f[w++] = f[i];
                continue;
            }
            uint8_t next = i + 1 < end ? f[i + 1] : 0;
            ++i;
            if (next == 0)
                f[w++] = 0xFF;
            else if (next >= 0xD0 && next <= 0xD7)
                part.intervals.push_back(w);
            else
                return;
        }
        part.data.resize(w);
        part.intervals.push_back(w);
        if (part.intervals.size() != mcuRows + 1) return;
        HuffDecoder dc[2], ac[2];
        for (int t = 0; t < 2; ++t) {
            dc[t].build(h.dc[t]);
            ac[t].build(h.ac[t]);
        }
        Counter counter{part.counts};
        for (uint32_t r = 0; r < mcuRows; ++r) {
            BitReader in(part.data.data() + part.intervals[r],
                         part.data.data() + part.intervals[r + 1]);
            if (!walkInterval(in, h.scan, dc, ac, counter)) return;
        }
        part.ok = true;
    } catch (...) {
        part.ok = false;
    }
}

// Codes one part again with the optimised tables (the second phase).
// firstInterval numbers its restart markers; the image's last interval gets
// none.
void recodePart(Part &part, const Headers &h, const HuffEncoder (&dcEnc)[2],
                const HuffEncoder (&acEnc)[2], uint32_t firstInterval,
                uint32_t totalIntervals) noexcept {
    part.ok = false;
    try {
        HuffDecoder dc[2], ac[2];
        for (int t = 0; t < 2; ++t) {
            dc[t].build(h.dc[t]);
            ac[t].build(h.ac[t]);
        }
        part.coded.clear();
        part.coded.reserve(part.data.size() + part.data.size() / 8 + 64);
        BitWriter out(part.coded);
        Recoder recoder{out, dcEnc, acEnc};
        const size_t rows = part.intervals.size() - 1;
        for (size_t r = 0; r < rows; ++r) {
            BitReader in(part.data.data() + part.intervals[r],
                         part.data.data() + part.intervals[r + 1]);
            if (!walkInterval(in, h.scan, dc, ac, recoder)) return;
            out.align();
            uint32_t global = firstInterval + static_cast<uint32_t>(r);
            if (global + 1 < totalIntervals) {
                part.coded.push_back(0xFF);
                part.coded.push_back(static_cast<uint8_t>(0xD0 + global % 8));
            }
        }
        std::vector<uint8_t>().swap(part.data);
        part.ok = true;
    } catch (...) {
        part.ok = false;
    }
}

// Runs job(0) .. job(n - 1), on a second thread when there is one.
template <class Job> void runParallel(unsigned n, Job job) {
    std::vector<std::thread> helpers;
    if (std::thread::hardware_concurrency() > 1) {
        for (unsigned i = 1; i < n; ++i) {
            try {
                helpers.emplace_back(job, i);
            } catch (const std::system_error &) {
                job(i);
            }
        }
    } else {
        for (unsigned i = 1; i < n; ++i)
            job(i);
    }
    job(0);
    for (std::thread &t : helpers)
        t.join();
}

void putSegmentHeader(std::vector<uint8_t> &v, int marker, size_t length) {
    v.push_back(0xFF);
    v.push_back(static_cast<uint8_t>(marker));
    v.push_back(static_cast<uint8_t>(length >> 8));
    v.push_back(static_cast<uint8_t>(length));
}

// Returns false (nothing written) when the parts could not be made, so the
// caller can fall back to the whole-image encoder.
bool encodeSplit(const Image &image, OutputFile &out, int quality, uint32_t mcuHeight) {
    const uint32_t mcuRows = (image.height + mcuHeight - 1) / mcuHeight;
    Part parts[2];
    const uint32_t firstRows = mcuRows / 2;
    parts[0].y0 = 0;
    parts[0].height = firstRows * mcuHeight;
    parts[1].y0 = parts[0].height;
    parts[1].height = image.height - parts[0].height;
    const uint32_t partRows[2] = {firstRows, mcuRows - firstRows};
    runParallel(2, [&](unsigned i) { preparePart(image, parts[i], quality, partRows[i]); });
    if (!parts[0].ok || !parts[1].ok) return false;

    size_t scanStart = 0;
    Headers h = parseHeaders(parts[0].head, image.width, scanStart);
    if (!h.ok) return false;
    Counts total;
    for (const Part &p : parts)
        for (int t = 0; t < 2; ++t)
            for (int s = 0; s < 256; ++s) {
                total.dc[t][s] += p.counts.dc[t][s];
                total.ac[t][s] += p.counts.ac[t][s];
            }
    const int tables = h.scan.components == 1 ? 1 : 2;
    HuffTable dcTable[2], acTable[2];
    HuffEncoder dcEnc[2], acEnc[2];
    for (int t = 0; t < tables; ++t) {
        dcTable[t] = optimalTable(total.dc[t]);
        acTable[t] = optimalTable(total.ac[t]);
        dcEnc[t].build(dcTable[t]);
        acEnc[t].build(acTable[t]);
    }
    runParallel(2, [&](unsigned i) {
        recodePart(parts[i], h, dcEnc, acEnc, i == 0 ? 0 : partRows[0], mcuRows);
    });
    if (!parts[0].ok || !parts[1].ok) return false;

    // Headers of the first part with the new tables and the full height.
    std::vector<uint8_t> head = {0xFF, 0xD8};
    bool tablesWritten = false;
    for (auto [at, len] : h.segments) {
        const uint8_t *seg = parts[0].head.data() + at;
        if (seg[1] == 0xC4) {
            if (tablesWritten) continue;
            tablesWritten = true;
            size_t body = 0;
            for (int t = 0; t < tables; ++t)
                body += 2 * 17 + dcTable[t].count() + acTable[t].count();
            putSegmentHeader(head, 0xC4, body + 2);
            for (int t = 0; t < tables; ++t)
                for (int cls = 0; cls < 2; ++cls) {
                    const HuffTable &table = cls ? acTable[t] : dcTable[t];
                    head.push_back(static_cast<uint8_t>(cls << 4 | t));
                    head.insert(head.end(), table.bits.begin() + 1, table.bits.end());
                    head.insert(head.end(), table.vals.begin(), table.vals.begin() + table.count());
                }
            continue;
        }
        size_t from = head.size();
        head.insert(head.end(), seg, seg + len);
        if (seg[1] == 0xC0) {
            head[from + 5] = static_cast<uint8_t>(image.height >> 8);
            head[from + 6] = static_cast<uint8_t>(image.height);
        }
    }
    (void)out.write(head.data(), head.size());
    (void)out.write(parts[0].coded.data(), parts[0].coded.size());
    (void)out.write(parts[1].coded.data(), parts[1].coded.size());
    static const uint8_t eoi[2] = {0xFF, 0xD9};
    (void)out.write(eoi, 2);
    return true;
}

} // namespace

Status saveJpeg(const Image &image, const char *path, int quality, bool progressive) {
    if (Status s = checkImageToSave(image); !s) return s;
    if (image.isPalette() && image.palette.size() > (size_t{1} << image.bitCount))
        return {Error::BadArgument, "the palette has more entries than the bit depth allows"};

    quality = std::clamp(quality, 1, 100);
    OutputFile out;
    if (Status s = out.open(path); !s) return s;
    // Large baseline files are encoded in two parts at once; the split needs
    // a few MCU rows on each side.
    const uint32_t mcuHeight = !hasGrayPalette(image) && quality < 90 ? 16 : 8;
    const bool split = !progressive && uint64_t{image.width} * image.height >= (1u << 18) &&
                       image.height >= 4 * mcuHeight;
    const uint64_t before = out.size();
    if (split && encodeSplit(image, out, quality, mcuHeight)) return out.commit();
    if (!out.status()) return out.status();
    if (out.size() != before)
        return {Error::CannotWrite, std::string(path) + ": JPEG encoder: the parts did not join"};
    RowFeeder feeder(image);
    if (Status s = encodeWhole(image, feeder, out, quality, progressive, path); !s) return s;
    return out.commit();
}

} // namespace imgctl
