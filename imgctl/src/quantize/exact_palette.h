// SPDX-License-Identifier: MIT
// An image of at most 256 colours reduced to 8 bits keeps exactly its colours.
#pragma once

#include "core/image.h"

namespace imgctl {

// Fills out (an 8-bit image of the same size) with the 16, 24 or 32-bit
// image's own colours, in ascending order of their value, when it has at
// most 256; false, out untouched, otherwise.
bool exactPalette(const Image &image, Image &out);

} // namespace imgctl
