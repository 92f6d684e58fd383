// SPDX-License-Identifier: MIT
// The marker parser of the split JPEG encoder (split_encoder.h): it reads the
// segments libjpeg wrote before a part's scan data.
//
// Accepts: a baseline JPEG file in memory as this library's encoder writes it
//   (SOI, then segments up to SOS), and the picture's width.
// Returns: every segment's offset and length, the Huffman tables (ids 0 and
//   1), the scan's layout and where its entropy-coded data starts; ok false
//   when a segment's length runs past the file, a table is malformed or
//   names an id past 1, or no SOS is found. The split encoder then fails
//   with an internal error, since the file is its own libjpeg output.
#pragma once

#include "jpeg/huffman_recoder.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace imgctl {

// The segments of a JPEG before its scan data.
struct Headers {
    std::vector<std::pair<size_t, size_t>> segments; // offset and length of each, marker included
    HuffTable dc[2], ac[2];
    ScanLayout scan;
    size_t scanStart = 0; // the first byte of the entropy-coded data
    bool ok = false;
};

Headers parseHeaders(const std::vector<uint8_t> &file, uint32_t width);

} // namespace imgctl
