// SPDX-License-Identifier: MIT
// Writing PNG files. The colour type is chosen without loss (png_rows.h);
// the file's rows are filtered (png_filter.h) and compressed in bands on
// several threads, joined into the one zlib stream of the IDAT chunks
// (deflate_bands.h). The colour space travels as iCCP (a profile) or sRGB,
// the metadata as eXIf and an iTXt XMP chunk; pixels are never converted.
#include "core/bytes.h"
#include "core/ops.h"
#include "core/parallel.h"
#include "io/file_out.h"
#include "png/deflate_bands.h"
#include "png/png_filter.h"
#include "png/png_meta.h"
#include "png/png_rows.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace imgctl {
namespace {

// ---- Chunks ----

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
    storeBe32(head, static_cast<uint32_t>(length));
    std::memcpy(head + 4, type, 4);
    uint32_t crc = libdeflate_crc32(0, type, 4);
    (void)out.write(head, 8);
    for (const Span &p : pieces) {
        crc = libdeflate_crc32(crc, p.data, p.size);
        (void)out.write(p.data, p.size);
    }
    uint8_t tail[4];
    storeBe32(tail, crc);
    return out.write(tail, 4);
}

// iCCP for a profile, sRGB for an image declared sRGB, nothing otherwise.
Status putColourSpace(const Image &image, OutputFile &out) {
    if (image.hasProfile()) {
        const std::vector<uint8_t> &profile = *image.colour.icc;
        std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> z(
            libdeflate_alloc_compressor(9), libdeflate_free_compressor);
        if (!z) return {Error::OutOfMemory, "PNG: cannot start compressing the ICC profile"};
        std::vector<uint8_t> packed(libdeflate_zlib_compress_bound(z.get(), profile.size()));
        packed.resize(libdeflate_zlib_compress(z.get(), profile.data(), profile.size(),
                                               packed.data(), packed.size()));
        // The profile's name, its terminator and compression method 0.
        static const uint8_t name[] = "ICC profile\0";
        return putChunk(out, "iCCP", {{name, sizeof name}, {packed.data(), packed.size()}});
    }
    if (image.colour.kind == ColourKind::Srgb) {
        const uint8_t perceptual = 0;
        return putChunk(out, "sRGB", {{&perceptual, 1}});
    }
    return Status::ok();
}

// eXIf and the XMP iTXt chunk (uncompressed, no language).
void putMetadata(const Image &image, OutputFile &out) {
    if (image.meta.exif)
        (void)putChunk(out, "eXIf", {{image.meta.exif->data(), image.meta.exif->size()}});
    if (image.meta.xmp) {
        // The keyword and its terminator, not compressed, method 0, empty
        // language tag and translated keyword.
        uint8_t head[sizeof kXmpKeyword + 4] = {};
        std::memcpy(head, kXmpKeyword, sizeof kXmpKeyword);
        (void)putChunk(out, "iTXt",
                       {{head, sizeof head}, {image.meta.xmp->data(), image.meta.xmp->size()}});
    }
}

// The signature and every chunk before the image data.
Status putHeaders(const Image &image, const Layout &layout, OutputFile &out, bool interlaced) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    (void)out.write(signature, 8);
    uint8_t ihdr[13];
    storeBe32(ihdr, image.width);
    storeBe32(ihdr + 4, image.height);
    ihdr[8] = static_cast<uint8_t>(layout.bitDepth);
    ihdr[9] = static_cast<uint8_t>(layout.colorType);
    ihdr[10] = ihdr[11] = 0;       // deflate, adaptive filtering
    ihdr[12] = interlaced ? 1 : 0; // Adam7
    (void)putChunk(out, "IHDR", {{ihdr, 13}});
    if (Status s = putColourSpace(image, out); !s) return s;
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
        storeBe32(phys, static_cast<uint32_t>(image.xPelsPerMeter));
        storeBe32(phys + 4, static_cast<uint32_t>(image.yPelsPerMeter));
        phys[8] = 1; // metre
        (void)putChunk(out, "pHYs", {{phys, 9}});
    }
    putMetadata(image, out);
    return out.status();
}

// ---- Bands ----

// One thread's share: filters a band of the file's rows and compresses it.
class BandWorker {
  public:
    BandWorker(const RowSequence &rows, const Layout &layout, bool adaptive, int level)
        : rows_(rows), filter_(rows.maxRowBytes(), layout.bpp, adaptive), deflater_(level) {}

    // Filters and compresses the file's rows r0 .. r1 - 1; `last` when the
    // band ends the image.
    Status run(uint32_t r0, uint32_t r1, bool last) {
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
        return deflater_.compress(raw_.data(), raw_.size(), last);
    }

    const BandDeflater &stream() const { return deflater_; }
    uint32_t adler() const { return adler_; }
    size_t rawSize() const { return raw_.size(); }

  private:
    const RowSequence &rows_;
    RowFilter filter_;
    BandDeflater deflater_;
    std::vector<uint8_t> raw_, prev_, cur_, scratch_;
    uint32_t adler_ = 1;
};

// Rows per band: about an eighth of the filtered image, within the tuning's
// bounds (interlaced bands hold shorter rows, so less).
uint32_t rowsPerBand(const Layout &layout, uint32_t height, uint32_t count, const Tuning &tuning) {
    const uint64_t rowBytes = uint64_t{layout.rowBytes} + 1;
    const uint64_t total = rowBytes * height;
    const uint64_t most = std::max(tuning.deflateBandMinBytes, tuning.deflateBandMaxBytes);
    const uint64_t target = std::clamp<uint64_t>(total / 8, tuning.deflateBandMinBytes, most);
    return static_cast<uint32_t>(std::clamp<uint64_t>(target / rowBytes, 1, count));
}

// The image data: bands compressed maxThreads at a time, each batch written
// as IDAT chunks in order.
Status putImageData(const Image &image, const Layout &layout, OutputFile &out, int level,
                    bool interlaced, const Tuning &tuning) {
    const bool adaptive = level > 0 && layout.bitDepth == 8 && layout.colorType != kPalette;
    PngRows pngRows(image, layout);
    RowSequence rows(image, layout, pngRows, interlaced);
    const uint32_t count = rows.count();
    const uint32_t bandRows = rowsPerBand(layout, image.height, count, tuning);
    const uint32_t bands = (count + bandRows - 1) / bandRows;
    const unsigned threads = std::max(1u, std::min(tuning.maxThreads, bands));

    std::vector<std::unique_ptr<BandWorker>> workers;
    for (unsigned t = 0; t < threads; ++t)
        workers.push_back(std::make_unique<BandWorker>(rows, layout, adaptive, level));
    std::vector<Status> done(threads);
    const std::array<uint8_t, 2> zhead = zlibHeader(level);
    uint32_t adler = 1;
    for (uint32_t b0 = 0; b0 < bands; b0 += threads) {
        const unsigned now = std::min<unsigned>(threads, bands - b0);
        runParallel(now, tuning, [&](unsigned t) {
            const uint32_t b = b0 + t;
            const uint32_t r0 = b * bandRows, r1 = std::min(count, r0 + bandRows);
            done[t] = workers[t]->run(r0, r1, b + 1 == bands);
        });
        for (unsigned t = 0; t < now; ++t) {
            if (!done[t]) return done[t];
            const BandWorker &w = *workers[t];
            adler = static_cast<uint32_t>(
                adler32_combine(adler, w.adler(), static_cast<z_off_t>(w.rawSize())));
            const bool first = b0 + t == 0, last = b0 + t + 1 == bands;
            uint8_t trailer[4];
            storeBe32(trailer, adler);
            (void)putChunk(out, "IDAT",
                           {{zhead.data(), first ? 2u : 0u},
                            {w.stream().data(), w.stream().size()},
                            {trailer, last ? 4u : 0u}});
            if (!out.status()) return out.status();
        }
    }
    return Status::ok();
}

} // namespace

Status savePng(const Image &image, const char *path, int level, bool interlaced,
               const Tuning &tuning) {
    if (Status s = checkImageToSave(image); !s) return s;
    if (image.isPalette() &&
        (image.palette.empty() || image.palette.size() > (size_t{1} << image.bitCount)))
        return {Error::BadArgument, "a palette image needs 1 to 2^bits palette entries"};
    level = std::clamp(level, 0, 9);

    const Layout layout = chooseLayout(image);
    OutputFile out;
    if (Status s = out.open(path); !s) return s;
    if (Status s = putHeaders(image, layout, out, interlaced); !s) return s;
    if (Status s = putImageData(image, layout, out, level, interlaced, tuning); !s) return s;
    if (Status s = putChunk(out, "IEND", {}); !s) return s;
    return out.commit();
}

} // namespace imgctl
