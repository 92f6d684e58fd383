// SPDX-License-Identifier: MIT
// The PNG writer's row filters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace imgctl {

// Filters rows. Adaptive: each of the five filters is tried and the one whose
// output has the smallest sum of magnitudes (bytes read as signed) is kept,
// the usual heuristic for photographs. Otherwise every row is stored
// unfiltered, which suits palette and sub-byte rows.
class RowFilter {
  public:
    RowFilter(size_t maxBytes, unsigned bpp, bool adaptive);

    // Writes the filter type byte and the filtered row of n bytes (n + 1 in
    // all) to out. prev is the row above, all zeros for a pass's first row.
    void filter(const uint8_t *cur, const uint8_t *prev, size_t n, uint8_t *out);

  private:
    unsigned bpp_;
    bool adaptive_;
    std::vector<uint8_t> candidates_; // Sub, Up, Average, Paeth outputs
};

} // namespace imgctl
