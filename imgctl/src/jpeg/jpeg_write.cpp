// SPDX-License-Identifier: MIT
// Writing JPEG files with libjpeg-turbo: optimised Huffman tables, 4:2:0
// below quality 90 and 4:4:4 from 90 up, progressive on request, a gray
// palette image as a one-component JPEG, alpha composited over white
// (compress_setup.h), EXIF, XMP and the ICC profile kept. Large baseline files are encoded in two
// parts at once and their tables optimised afterwards (split_encoder.h); progressive and small
// files go through libjpeg in one piece.
#include "core/ops.h"
#include "io/file_out.h"
#include "jpeg/compress_setup.h"
#include "jpeg/split_encoder.h"

#include <jerror.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace imgctl {
namespace {

constexpr size_t kChunk = size_t{64} << 10;

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

// The whole image through libjpeg: progressive files, and small ones. With
// optimised tables libjpeg keeps every coefficient of the image in memory.
// It holds no object with a destructor, so the error handler's longjmp back
// here skips nothing that needs cleaning up.
Status encodeWhole(const Image &image, RowFeeder &feeder, OutputFile &out, int quality,
                   bool progressive, const char *path, PageRelease *release) {
    jpeg_compress_struct cinfo;
    JpegErrors err;
    Destination dest;
    std::memset(&cinfo, 0, sizeof cinfo);
    useJpegErrors(cinfo, err);
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
    writeMetadata(cinfo, image);
    writeRows(cinfo, feeder, 0, release);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return out.status();
}

Status save(const Image &image, const char *path, int quality, bool progressive,
            const Tuning &tuning, bool lastUse) {
    if (Status s = checkImageToSave(image); !s) return s;
    if (image.isPalette() && image.palette.size() > (size_t{1} << image.bitCount))
        return {Error::BadArgument, "the palette has more entries than the bit depth allows"};

    quality = std::clamp(quality, 1, 100);
    OutputFile out;
    if (Status s = out.open(path); !s) return s;
    const uint32_t mcuHeight = !hasGrayPalette(image) && quality < 90 ? 16 : 8;
    // The split needs a whole row of MCUs in each part at the least.
    const bool split =
        !progressive && uint64_t{image.width} * image.height >= tuning.jpegSplitMinPixels &&
        image.height >= uint64_t{std::max(tuning.jpegSplitMinMcuRows, 2u)} * mcuHeight;
    if (split) {
        const Status s = encodeSplit(image, out, quality, mcuHeight, tuning);
        if (s) return out.commit();
        if (s.code() != Error::Unsupported) return s;
        if (out.size() != 0)
            return {Error::Internal,
                    std::string(path) + ": JPEG split encoder: gave up after writing"};
    }
    RowFeeder feeder(image);
    PageRelease release(image.pixels.data(), lastUse);
    if (Status s = encodeWhole(image, feeder, out, quality, progressive, path, &release); !s)
        return s;
    return out.commit();
}

} // namespace

Status saveJpeg(const Image &image, const char *path, int quality, bool progressive,
                const Tuning &tuning) {
    return save(image, path, quality, progressive, tuning, false);
}

Status saveJpegLastUse(Image &image, const char *path, int quality, bool progressive,
                       const Tuning &tuning) {
    return save(image, path, quality, progressive, tuning, true);
}

} // namespace imgctl
