// SPDX-License-Identifier: MIT
// Reading JPEG files through libjpeg-turbo.
//
// libjpeg reports fatal errors by calling error_exit, which must not return;
// ours records the message and longjmps back. The calls into libjpeg are
// therefore gathered in small phase functions (readHeader, decodeRows) whose
// only locals are plain values, so the jump never skips a destructor. All
// C++ work that owns memory (the image, the scratch band, messages) happens
// between the phases.
//
// What comes out:
//   colour (YCbCr or RGB)   24-bit, decoded as BGR straight into the rows
//   grayscale               8-bit palette with a 256-step gray ramp
//   CMYK / YCCK             24-bit; Adobe files store the inks inverted. With
//                           an embedded CMYK profile the inks go through it
//                           to sRGB, otherwise through the plain formula.
// The EXIF orientation is applied while the rows come out of the decoder.
// An ICC profile split across APP2 markers is joined and kept (colour) or
// applied (gray, CMYK); EXIF and XMP APP1 segments are kept, cleaned.
#include "colour/transform.h"
#include "core/ops.h"
#include "core/pixels.h"
#include "meta/exif.h"

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

namespace imgctl {
namespace {

// libjpeg may use this much memory of its own (the coefficient store of a
// progressive image being the big item); past it, the decode fails instead
// of reaching for a backing file.
constexpr long kMaxDecoderMemory = long{1} << 30;
// More scans than any real encoder writes; a crafted file with thousands of
// tiny scans would otherwise take very long.
constexpr int kMaxScans = 1000;
// Error codes of our own, beside libjpeg's message codes.
constexpr int kTooManyScans = -1;
// Rows per band when the rows are turned (orientations 5 to 8).
constexpr uint32_t kBandRows = 32;

struct ErrorManager {
    jpeg_error_mgr pub; // first: libjpeg sees only this part
    std::jmp_buf jump;
    int code = 0;
    char message[JMSG_LENGTH_MAX] = {};
};

[[noreturn]] void onError(j_common_ptr cinfo) {
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    err->code = cinfo->err->msg_code;
    std::longjmp(err->jump, 1);
}

// Warnings (corrupt or missing entropy data, which libjpeg fills with gray)
// and trace messages are counted, never printed.
void onMessage(j_common_ptr cinfo, int level) {
    if (level < 0) ++cinfo->err->num_warnings;
}

void onProgress(j_common_ptr cinfo) {
    auto *d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) {
        auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "more than %d scans", kMaxScans);
        err->code = kTooManyScans;
        std::longjmp(err->jump, 1);
    }
}

// Owns libjpeg's state; lives in decodeJpeg's frame, outside every setjmp.
struct Decoder {
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    jpeg_progress_mgr progress{};
    bool created = false;

    Decoder() = default;
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;
    ~Decoder() {
        // A zeroed struct (create failed early) has no memory manager; the
        // destroy call then does nothing.
        if (created) jpeg_destroy_decompress(&cinfo);
    }
};

enum class Kind : uint8_t { Gray, Color, Cmyk };

// How the decoded rows reach the image. Plain values only: decodeRows runs
// under setjmp.
struct Plan {
    Kind kind = Kind::Color;
    bool inverted = false;  // CMYK samples stored inverted (Adobe)
    bool transpose = false; // orientations 5-8: stored rows become columns
    bool flipX = false;     // mirror stored columns
    bool flipY = false;     // mirror stored rows
    uint32_t width = 0;     // stored size
    uint32_t height = 0;
    uint8_t *pixels = nullptr; // the image, in its final orientation
    size_t stride = 0;
    const ColourTransform *cmyk = nullptr; // the file's CMYK profile to sRGB
    uint8_t *cmykRow = nullptr;            // one converted row (3 * width bytes)
    uint8_t *band = nullptr;               // scratch rows, when the rows cannot go straight in
    size_t bandStride = 0;
    uint32_t bandRows = 0;
    JSAMPROW *rowPointers = nullptr; // bandRows entries
};

bool readHeader(Decoder &d, const uint8_t *data, size_t size) {
    if (setjmp(d.err.jump)) return false;
    d.created = true;
    jpeg_create_decompress(&d.cinfo); // clears every field but err
    d.cinfo.progress = &d.progress;
    jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&d.cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&d.cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&d.cinfo, TRUE);
    return true;
}

// CMYK row to BGR. dst may be src itself: pixel i is read whole before its
// three bytes are written, and those never reach pixel i + 1.
template <bool Inverted> void cmykToBgr(const uint8_t *src, uint8_t *dst, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x) {
        unsigned c = src[4 * x], m = src[4 * x + 1], y = src[4 * x + 2], k = src[4 * x + 3];
        if constexpr (!Inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        dst[3 * x] = static_cast<uint8_t>(div255(y * k));
        dst[3 * x + 1] = static_cast<uint8_t>(div255(m * k));
        dst[3 * x + 2] = static_cast<uint8_t>(div255(c * k));
    }
}

void convertCmykRow(const Plan &p, const uint8_t *src, uint8_t *dst) {
    if (p.cmyk) {
        p.cmyk->apply(src, p.cmykRow, p.width);
        std::memcpy(dst, p.cmykRow, size_t{p.width} * 3);
    } else if (p.inverted)
        cmykToBgr<true>(src, dst, p.width);
    else
        cmykToBgr<false>(src, dst, p.width);
}

template <size_t Bytes> void mirrorRow(uint8_t *row, uint32_t width) {
    uint8_t *a = row, *b = row + size_t{width - 1} * Bytes;
    while (a < b) {
        for (size_t i = 0; i < Bytes; ++i)
            std::swap(a[i], b[i]);
        a += Bytes;
        b -= Bytes;
    }
}

// Writes n band rows (stored rows y0..y0+n-1) as columns of the turned image.
template <size_t Bytes> void scatterBand(const Plan &p, uint32_t y0, uint32_t n) {
    for (uint32_t x = 0; x < p.width; ++x) {
        uint8_t *dst = p.pixels + size_t{p.flipX ? p.width - 1 - x : x} * p.stride;
        const uint8_t *src = p.band + size_t{x} * Bytes;
        for (uint32_t j = 0; j < n; ++j) {
            uint32_t col = p.flipY ? p.height - 1 - (y0 + j) : y0 + j;
            std::memcpy(dst + size_t{col} * Bytes, src + size_t{j} * p.bandStride, Bytes);
        }
    }
}

bool decodeRows(Decoder &d, const Plan &p) {
    if (setjmp(d.err.jump)) return false;
    j_decompress_ptr cinfo = &d.cinfo;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_width != p.width || cinfo->output_height != p.height) {
        std::snprintf(d.err.message, sizeof d.err.message, "unexpected output size %ux%u",
                      cinfo->output_width, cinfo->output_height);
        return false;
    }
    // Rows go straight into the image unless they need converting or turning.
    const bool direct = p.kind != Kind::Cmyk && !p.transpose;
    const size_t pixelBytes = p.kind == Kind::Gray ? 1 : 3;
    while (cinfo->output_scanline < p.height) {
        const uint32_t y0 = cinfo->output_scanline;
        const uint32_t n = std::min(p.bandRows, p.height - y0);
        for (uint32_t j = 0; j < n; ++j) {
            if (direct) {
                uint32_t y = p.flipY ? p.height - 1 - (y0 + j) : y0 + j;
                p.rowPointers[j] = p.pixels + size_t{y} * p.stride;
            } else {
                p.rowPointers[j] = p.band + size_t{j} * p.bandStride;
            }
        }
        uint32_t got = 0;
        while (got < n) {
            JDIMENSION r = jpeg_read_scanlines(cinfo, p.rowPointers + got, n - got);
            if (r == 0) {
                // A memory source never suspends; guard against looping anyway.
                std::snprintf(d.err.message, sizeof d.err.message, "the decoder stalled at row %u",
                              y0 + got);
                return false;
            }
            got += r;
        }
        if (p.transpose) {
            if (p.kind == Kind::Cmyk)
                for (uint32_t j = 0; j < n; ++j)
                    convertCmykRow(p, p.rowPointers[j], p.rowPointers[j]);
            if (pixelBytes == 1)
                scatterBand<1>(p, y0, n);
            else
                scatterBand<3>(p, y0, n);
            continue;
        }
        for (uint32_t j = 0; j < n; ++j) {
            uint32_t y = p.flipY ? p.height - 1 - (y0 + j) : y0 + j;
            uint8_t *row = p.pixels + size_t{y} * p.stride;
            if (p.kind == Kind::Cmyk) convertCmykRow(p, p.rowPointers[j], row);
            if (p.flipX) {
                if (pixelBytes == 1)
                    mirrorRow<1>(row, p.width);
                else
                    mirrorRow<3>(row, p.width);
            }
        }
    }
    // The rest of the file (normally just EOI) is not needed; destroying the
    // decoder releases everything.
    return true;
}

// The ICC profile of the APP2 ICC_PROFILE markers, joined in the order of
// their sequence numbers; empty when there is none, or when the markers do
// not agree on their count, repeat or miss a number, or join to more than
// kMaxProfileBytes.
std::vector<uint8_t> joinedProfile(const jpeg_decompress_struct &cinfo) {
    static const char kIcc[12] = "ICC_PROFILE";
    constexpr size_t kHead = sizeof kIcc + 2; // the name, sequence number and count
    std::array<jpeg_saved_marker_ptr, 256> parts{};
    unsigned count = 0;
    size_t total = 0;
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 2 || m->data_length < kHead ||
            std::memcmp(m->data, kIcc, sizeof kIcc) != 0)
            continue;
        const unsigned seq = m->data[12], n = m->data[13];
        if (seq == 0 || seq > n || (count != 0 && n != count) || parts[seq]) return {};
        count = n;
        parts[seq] = m;
        total += m->data_length - kHead;
        if (total > kMaxProfileBytes) return {};
    }
    std::vector<uint8_t> joined;
    for (unsigned i = 1; i <= count; ++i) {
        if (!parts[i]) return {};
        joined.insert(joined.end(), parts[i]->data + kHead, parts[i]->data + parts[i]->data_length);
    }
    return joined;
}

// The first EXIF and the first XMP APP1 segment, cleaned.
Metadata readMetadata(const jpeg_decompress_struct &cinfo) {
    Metadata meta;
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 1) continue;
        const size_t n = m->data_length;
        if (!meta.exif && n >= kExifHeaderSize &&
            std::memcmp(m->data, kExifHeader, kExifHeaderSize) == 0)
            meta.exif = cleanExif(m->data + kExifHeaderSize, n - kExifHeaderSize);
        else if (!meta.xmp && n >= kXmpHeaderSize &&
                 std::memcmp(m->data, kXmpHeader, kXmpHeaderSize) == 0)
            meta.xmp = cleanXmp(m->data + kXmpHeaderSize, n - kXmpHeaderSize);
    }
    return meta;
}

int findOrientation(const jpeg_decompress_struct &cinfo) {
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1)
            if (int o = exifOrientation(m->data, m->data_length); o != 0) return o;
    return 1;
}

Status failure(const Decoder &d) {
    Error code = Error::Corrupt;
    std::string text = d.err.message;
    switch (d.err.code) {
    case JERR_OUT_OF_MEMORY:
        code = Error::OutOfMemory;
        break;
    case JERR_NO_BACKING_STORE:
        code = Error::TooLarge;
        text = "decoding needs more than 1 GiB of working memory";
        break;
    case JERR_IMAGE_TOO_BIG:
        code = Error::TooLarge;
        break;
    case JERR_NO_SOI:
        code = Error::NotImage;
        break;
    case JERR_SOF_UNSUPPORTED:
    case JERR_BAD_PRECISION:
    case JERR_ARITH_NOTIMPL:
    case JERR_NOT_COMPILED:
    case JERR_NOTIMPL:
    case JERR_CONVERSION_NOTIMPL:
        code = Error::Unsupported;
        break;
    default:
        break;
    }
    if (text.empty()) text = "decoding failed";
    return {code, "JPEG: " + text};
}

// Every block costs at least two bits in a sequential Huffman-coded scan (a
// DC code and an end-of-block code) and one bit in a progressive DC scan. A
// file far shorter than that describes a picture it does not hold: refuse it
// before allocating for the size its header claims. Arithmetic coding can go
// below a bit per block, so it is not checked.
Status checkDataSize(const jpeg_decompress_struct &cinfo, size_t size) {
    if (cinfo.arith_code) return Status::ok();
    uint64_t blocks = 0;
    for (int i = 0; i < cinfo.num_components; ++i)
        blocks +=
            uint64_t{cinfo.comp_info[i].width_in_blocks} * cinfo.comp_info[i].height_in_blocks;
    const uint64_t minBytes = cinfo.progressive_mode ? blocks / 8 : blocks / 4;
    if (size < minBytes)
        return {Error::Corrupt, "JPEG: " + std::to_string(size) + " bytes cannot hold a " +
                                    std::to_string(cinfo.image_width) + "x" +
                                    std::to_string(cinfo.image_height) + " picture"};
    return Status::ok();
}

// The kind of picture and the decoder's output colour space for it.
Status planColour(jpeg_decompress_struct &cinfo, Plan &plan) {
    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        plan.kind = Kind::Gray;
        cinfo.out_color_space = JCS_GRAYSCALE;
        return Status::ok();
    case JCS_YCbCr:
    case JCS_RGB:
        plan.kind = Kind::Color;
        cinfo.out_color_space = JCS_EXT_BGR;
        return Status::ok();
    case JCS_CMYK:
    case JCS_YCCK:
        plan.kind = Kind::Cmyk;
        cinfo.out_color_space = JCS_CMYK;
        // Adobe writers store CMYK inverted (0 = full ink); files without
        // the Adobe marker store it straight.
        plan.inverted = cinfo.saw_Adobe_marker;
        return Status::ok();
    default:
        return {Error::Unsupported, "JPEG: " + std::to_string(cinfo.num_components) +
                                        " colour components of unknown meaning"};
    }
}

// How the stored rows are turned for an EXIF orientation.
void planOrientation(int orientation, Plan &plan) {
    plan.transpose = orientation >= 5;
    plan.flipX = orientation == 2 || orientation == 3 || orientation == 7 || orientation == 8;
    plan.flipY = orientation == 3 || orientation == 4 || orientation == 6 || orientation == 7;
}

// The JFIF density as pixels per metre, turned with the picture.
void setResolution(const jpeg_decompress_struct &cinfo, bool transposed, Image &image) {
    if (!cinfo.saw_JFIF_marker || (cinfo.density_unit != 1 && cinfo.density_unit != 2)) return;
    // 1: dots per inch, 2: dots per centimetre.
    auto perMetre = [&](unsigned v) {
        return cinfo.density_unit == 1 ? static_cast<int32_t>((v * 10000.0) / 254.0 + 0.5)
                                       : static_cast<int32_t>(v * 100);
    };
    image.xPelsPerMeter = perMetre(cinfo.X_density);
    image.yPelsPerMeter = perMetre(cinfo.Y_density);
    if (transposed) std::swap(image.xPelsPerMeter, image.yPelsPerMeter);
}

} // namespace

Result<Image> decodeJpeg(const uint8_t *data, size_t size) {
    if (!data || size == 0) return {Error::Corrupt, "JPEG: the file is empty"};

    Decoder d;
    d.cinfo.err = jpeg_std_error(&d.err.pub);
    d.err.pub.error_exit = onError;
    d.err.pub.emit_message = onMessage;
    d.progress.progress_monitor = onProgress;
    if (!readHeader(d, data, size)) return failure(d);
    jpeg_decompress_struct &cinfo = d.cinfo;

    Plan plan;
    if (Status s = planColour(cinfo, plan); !s) return s;
    const uint16_t bitCount = plan.kind == Kind::Gray ? 8 : 24;
    if (auto bytes = checkImageSize(cinfo.image_width, cinfo.image_height, bitCount); !bytes)
        return Status(bytes.status().code(), "JPEG: " + bytes.status().message());
    if (Status s = checkDataSize(cinfo, size); !s) return s;
    cinfo.mem->max_memory_to_use = kMaxDecoderMemory;

    plan.width = cinfo.image_width;
    plan.height = cinfo.image_height;
    planOrientation(findOrientation(cinfo), plan);
    auto made = plan.transpose ? makeImage(plan.height, plan.width, bitCount)
                               : makeImage(plan.width, plan.height, bitCount);
    if (!made) return made.status();
    Image image = std::move(made).value();
    plan.pixels = image.pixels.data();
    plan.stride = image.stride;
    image.meta = readMetadata(cinfo);
    const std::vector<uint8_t> icc = joinedProfile(cinfo);
    const ProfileSpace space = plan.kind == Kind::Gray   ? ProfileSpace::Gray
                               : plan.kind == Kind::Cmyk ? ProfileSpace::Cmyk
                                                         : ProfileSpace::Rgb;
    const Blob profile = icc.empty() ? nullptr : checkProfile(icc.data(), icc.size(), space);
    std::unique_ptr<ColourTransform> cmyk;
    std::vector<uint8_t> cmykRow;
    if (plan.kind == Kind::Cmyk && profile) {
        cmyk = ColourTransform::toSrgb(profile, plan.inverted ? PixelLayout::CmykInverted
                                                              : PixelLayout::Cmyk);
        cmykRow.resize(size_t{plan.width} * 3);
        plan.cmyk = cmyk.get();
        plan.cmykRow = cmykRow.data();
    }

    // Scratch rows for what cannot be decoded in place: CMYK (4 bytes a
    // pixel before conversion) and turned images.
    const size_t decodedBytes = plan.kind == Kind::Gray ? 1 : plan.kind == Kind::Cmyk ? 4 : 3;
    plan.bandRows = plan.transpose ? kBandRows : 16;
    std::vector<uint8_t> band;
    if (plan.kind == Kind::Cmyk || plan.transpose) {
        plan.bandStride = size_t{plan.width} * decodedBytes;
        band.resize(plan.bandStride * plan.bandRows);
        plan.band = band.data();
    }
    std::vector<JSAMPROW> rowPointers(plan.bandRows);
    plan.rowPointers = rowPointers.data();
    if (!decodeRows(d, plan)) return failure(d);

    if (plan.kind == Kind::Gray) image.palette = grayRamp(256);
    setResolution(cinfo, plan.transpose, image);
    if (plan.cmyk)
        image.colour.kind = ColourKind::Srgb;
    else if (space != ProfileSpace::Cmyk)
        if (Status s = takeProfile(image, profile, space); !s) return s;
    return image;
}

} // namespace imgctl
