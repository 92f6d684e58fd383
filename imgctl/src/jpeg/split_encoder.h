// SPDX-License-Identifier: MIT
// The split JPEG encoder: a large baseline file encoded in two parts at once,
// its Huffman tables optimised afterwards.
//
// libjpeg's own table optimisation keeps every coefficient of the image in
// memory (as much again as a 24-bit image at 4:2:0, twice that at 4:4:4) and
// runs on one core. Instead the image is cut at an MCU row into two parts
// that two threads encode at once with the standard tables and a restart
// marker after every MCU row. The parts' entropy-coded data is then decoded
// to count the symbols (huffman_recoder.h), optimal tables are made from the
// counts, and each part is coded again with them; restart markers make the
// parts independent, so they join into one scan behind the first part's
// segments (marker_parser.h) with the new tables and the full height. Memory
// beyond the image is a few times the size of the compressed file. The file
// decodes to the same pixels as libjpeg's whole-image encoding.
//
// Accepts: an image checked for saving, a quality of 1 to 100, the MCU
//   height (16 for colour below quality 90, else 8) with at least two MCU
//   rows, and an output file with nothing written to it yet.
// Returns: ok with the whole file written; Unsupported, with nothing
//   written, when libjpeg fails to encode a part (the caller then encodes
//   the image in one piece, which reports libjpeg's error itself); Internal
//   naming the step when the parts' own libjpeg output does not parse or
//   decode (a fault of this code, never of the image); the output file's
//   error when writing fails.
// Taken: by saveJpeg for baseline files of at least
//   Tuning::jpegSplitMinPixels pixels and Tuning::jpegSplitMinMcuRows MCU
//   rows; the parts run on two threads when Tuning::maxThreads allows.
// Falls back to: libjpeg's whole-image encoder (jpeg_write.cpp) when not
//   taken or when it returns Unsupported.
#pragma once

#include "core/image.h"
#include "core/tuning.h"
#include "io/file_out.h"

#include <cstdint>

namespace imgctl {

Status encodeSplit(const Image &image, OutputFile &out, int quality, uint32_t mcuHeight,
                   const Tuning &tuning);

} // namespace imgctl
