// SPDX-License-Identifier: MIT
// The quantizer's palette from its samples: variance-based median cut, then
// k-means refinement.
#pragma once

#include "quantize/samples.h"

#include <array>
#include <cstddef>
#include <vector>

namespace imgctl {

// Splits the samples (reordering them) into at most `colours` boxes and
// returns their means: the box with the largest squared error is split,
// along whichever axis and at whichever point leaves the least squared
// error, until there are `colours` boxes.
std::vector<std::array<float, 3>> medianCut(std::vector<Sample> &s, size_t colours);

// Moves each palette colour to the mean of the samples nearest to it, a few
// rounds or until the error stops falling. A colour left with no samples is
// moved onto the sample that is worst served.
void refine(const std::vector<Sample> &s, std::vector<std::array<float, 3>> &palette, int rounds);

} // namespace imgctl
