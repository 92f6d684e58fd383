// SPDX-License-Identifier: MIT
// The tuning record: from which sizes each fast path is taken and how many
// threads one operation may use. The library's own calls use the defaults
// below; tests and fuzz targets pass a lowered record so that small inputs
// take every path, or one with a path switched off to compare it with the
// plain one. Not part of the C interface, and never global: whoever calls a
// core operation hands it the record it wants.
#pragma once

#include <cstdint>

namespace imgctl {

// A threshold no image reaches: the fast path it guards is never taken.
inline constexpr uint64_t kNever = UINT64_MAX;

struct Tuning {
    // The process's thread budget: the processors it may run on, or fewer
    // (core/thread_pool.h).
    static unsigned processorThreads();

    // Threads one operation may run at once, the calling thread included,
    // within what the process's thread budget has free
    // (core/thread_pool.h). 1
    // keeps every operation on the calling thread, and with it the PNG fast
    // reader (which needs a second thread) off.
    unsigned maxThreads = processorThreads();

    // PNG reader: 8-bit RGB and RGBA files without interlacing of at least
    // this many pixels are inflated in one piece by libdeflate
    // (png/png_whole_inflate.cpp); smaller ones, or ones it leaves, go on as
    // below.
    uint64_t pngWholeInflateMinPixels = 0;

    // PNG reader: 8-bit RGB and RGBA files without interlacing of at least
    // this many pixels go through the two-thread fast reader
    // (png/png_fast_read.cpp) instead of libpng's row reader.
    uint64_t pngFastReadMinPixels = 0;

    // PNG writer: the filtered rows are cut into bands of about an eighth of
    // the image, at least deflateBandMinBytes and at most
    // deflateBandMaxBytes, each compressed on its own and joined into one
    // stream (png/deflate_bands.cpp); bands of one image are compressed
    // maxThreads at a time. An image of no more than deflateBandMinBytes
    // filtered bytes is one band: a single deflate stream.
    uint64_t deflateBandMinBytes = uint64_t{256} << 10;
    uint64_t deflateBandMaxBytes = uint64_t{4} << 20;

    // JPEG writer: baseline files of at least jpegSplitMinPixels pixels and
    // jpegSplitMinMcuRows whole rows of MCUs (2 at the least) are encoded in
    // two parts at once and their Huffman tables optimised afterwards
    // (jpeg/split_encoder.cpp); others go through libjpeg in one piece.
    uint64_t jpegSplitMinPixels = 262144;
    uint32_t jpegSplitMinMcuRows = 4;

    // Quantizer: images of at least this many pixels (and two rows) are
    // mapped to the palette on maxThreads threads, a band of rows each
    // (quantize/map_bands.cpp).
    uint64_t quantizeThreadsMinPixels = 1048576;

    // Every threshold at its lowest, on two threads: each fast path is taken
    // by the smallest image it can handle.
    static Tuning everyPath();
    // Every fast path off, on the calling thread alone.
    static Tuning plainPaths();
};

} // namespace imgctl
