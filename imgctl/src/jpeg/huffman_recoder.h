// SPDX-License-Identifier: MIT
// The Huffman re-coder of the split JPEG encoder (split_encoder.h): it
// decodes the entropy-coded data of a scan's restart intervals symbol by
// symbol with the tables the data was written with, counts the symbols, and
// codes the same symbols again with other tables.
//
// Accepts: one restart interval of a baseline scan, unstuffed (no 0xFF 00
//   pairs, no markers), of scan.mcusPerRow MCUs, and the scan's tables (at
//   most two of each class).
// Returns: false when the data does not decode with those tables or a block
//   runs past 64 coefficients; then the split encoder fails with an internal
//   error, since the data is its own libjpeg output.
// Also makes optimal tables from symbol counts, as libjpeg does.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace imgctl {

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

// What a baseline scan looks like.
struct ScanLayout {
    int components = 0;
    std::array<int, 3> blocks{}; // blocks per MCU of each component
    std::array<int, 3> dcTable{}, acTable{};
    uint32_t mcusPerRow = 0;
};

// How often each DC and AC symbol of each table occurs.
struct SymbolCounts {
    std::array<std::array<uint32_t, 256>, 2> dc{}, ac{};
    void add(const SymbolCounts &other);
};

// Optimal code lengths (at most 16 bits, no all-ones code) for symbol
// counts, by the JPEG standard's procedure: merge the two rarest entries
// until one is left, then move over-long codes up.
HuffTable optimalTable(const std::array<uint32_t, 256> &counts);

// The code of each symbol under one table.
struct HuffCodes {
    std::array<uint16_t, 256> code{};
    std::array<uint8_t, 256> size{};

    void build(const HuffTable &table);
};

// Decodes the intervals of one scan written with the tables dc and ac.
class IntervalCoder {
  public:
    IntervalCoder(const ScanLayout &scan, const HuffTable (&dc)[2], const HuffTable (&ac)[2]);
    ~IntervalCoder();
    IntervalCoder(const IntervalCoder &) = delete;
    IntervalCoder &operator=(const IntervalCoder &) = delete;

    // Adds the symbols of the interval [begin, end) to counts.
    bool count(const uint8_t *begin, const uint8_t *end, SymbolCounts &counts) const;
    // Appends the interval coded with the tables dc and ac to out, 0xFF
    // bytes stuffed, padded with one bits to a byte boundary.
    bool recode(const uint8_t *begin, const uint8_t *end, const HuffCodes (&dc)[2],
                const HuffCodes (&ac)[2], std::vector<uint8_t> &out) const;

  private:
    struct Decoders;
    const ScanLayout scan_;
    std::unique_ptr<Decoders> decoders_;
};

} // namespace imgctl
