// SPDX-License-Identifier: MIT
// The run-length expander: a small state machine over the stream's bytes.
//
//   ReadCode  first byte of a code: a count starts a Run, 0 an Escape
//   Run       count pixels of one value (RLE4: two alternating nibbles)
//   Escape    second byte: 0 end-of-line, 1 end-of-bitmap, 2 Delta,
//             3..255 an Absolute run of that many literal pixels
//   Delta     two bytes: move right dx pixels and down dy rows
//   Absolute  the literal pixels, padded to an even number of bytes
//
// The cursor never leaves [0, width] x [0, height]: x saturates at the row's
// end (further pixels on that row are dropped) and reaching the row below the
// last one ends the expansion.
#include "bmp/rle_read.h"

#include <algorithm>
#include <cstring>

namespace imgctl {
namespace {

class RleExpander {
  public:
    RleExpander(const uint8_t *stream, size_t size, RleKind kind, bool topDown, Image &image)
        : s_(stream), size_(size), kind_(kind), topDown_(topDown), image_(image) {}

    RleEnd run() {
        enum class State { ReadCode, Run, Escape, Delta, Absolute };
        State state = State::ReadCode;
        uint32_t count = 0;
        for (;;) {
            switch (state) {
            case State::ReadCode:
                if (line_ >= image_.height) return pastImage();
                if (left() < 1) return RleEnd::StreamEnded;
                count = s_[pos_++];
                state = count != 0 ? State::Run : State::Escape;
                break;
            case State::Run: {
                size_t valueBytes = kind_ == RleKind::Rle24 ? 3 : 1;
                if (left() < valueBytes) return RleEnd::StreamEnded;
                fill(count, s_ + pos_);
                pos_ += valueBytes;
                advance(count);
                state = State::ReadCode;
                break;
            }
            case State::Escape:
                if (left() < 1) return RleEnd::StreamEnded;
                count = s_[pos_++];
                if (count == 0) { // end of line
                    x_ = 0;
                    ++line_;
                    state = State::ReadCode;
                } else if (count == 1) {
                    return RleEnd::EndOfBitmap;
                } else if (count == 2) {
                    state = State::Delta;
                } else {
                    state = State::Absolute;
                }
                break;
            case State::Delta:
                if (left() < 2) return RleEnd::StreamEnded;
                advance(s_[pos_]);
                line_ += s_[pos_ + 1]; // line_ < height <= 65535: no overflow
                pos_ += 2;
                state = State::ReadCode;
                break;
            case State::Absolute: {
                size_t bytes = literalBytes(count);
                size_t avail = std::min(bytes, left());
                copy(count, avail);
                if (avail < bytes) return RleEnd::StreamEnded;
                pos_ += bytes;
                if ((bytes & 1) != 0 && left() > 0) ++pos_; // literal runs end on a 16-bit boundary
                advance(count);
                state = State::ReadCode;
                break;
            }
            }
        }
    }

  private:
    size_t left() const { return size_ - pos_; }

    // Below the image: only an end-of-bitmap may still follow.
    RleEnd pastImage() const {
        if (left() >= 2 && s_[pos_] == 0 && s_[pos_ + 1] == 1) return RleEnd::EndOfBitmap;
        return RleEnd::PastImage;
    }

    size_t literalBytes(uint32_t count) const {
        switch (kind_) {
        case RleKind::Rle4:
            return (size_t{count} + 1) / 2;
        case RleKind::Rle8:
            return count;
        case RleKind::Rle24:
            return size_t{count} * 3;
        }
        return count;
    }

    void advance(uint32_t n) { x_ = std::min<uint32_t>(x_ + n, image_.width); }

    uint8_t *row() { return image_.row(topDown_ ? line_ : image_.height - 1 - line_); }

    // Pixels of this row still inside the image, of the n a code asks for.
    uint32_t visible(uint32_t n) const { return std::min(n, image_.width - x_); }

    static void putNibble(uint8_t *row, uint32_t x, uint8_t v) {
        uint8_t &b = row[x >> 1];
        b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | v)
                    : static_cast<uint8_t>((b & 0x0F) | (v << 4));
    }

    void fill(uint32_t count, const uint8_t *value) {
        uint32_t n = visible(count);
        if (n == 0) return;
        uint8_t *r = row();
        switch (kind_) {
        case RleKind::Rle8:
            std::memset(r + x_, value[0], n);
            break;
        case RleKind::Rle4: {
            const uint8_t hi = value[0] >> 4, lo = value[0] & 15;
            for (uint32_t k = 0; k < n; ++k)
                putNibble(r, x_ + k, (k & 1) ? lo : hi);
            break;
        }
        case RleKind::Rle24: {
            uint8_t *p = r + size_t{x_} * 3;
            for (uint32_t k = 0; k < n; ++k, p += 3)
                std::memcpy(p, value, 3);
            break;
        }
        }
    }

    // Copies the literal pixels held by the first `avail` bytes of a run of count.
    void copy(uint32_t count, size_t avail) {
        const uint8_t *src = s_ + pos_;
        uint32_t present = 0;
        switch (kind_) {
        case RleKind::Rle4:
            present = static_cast<uint32_t>(std::min<size_t>(count, avail * 2));
            break;
        case RleKind::Rle8:
            present = static_cast<uint32_t>(avail);
            break;
        case RleKind::Rle24:
            present = static_cast<uint32_t>(avail / 3);
            break;
        }
        uint32_t n = visible(present);
        if (n == 0) return;
        uint8_t *r = row();
        switch (kind_) {
        case RleKind::Rle8:
            std::memcpy(r + x_, src, n);
            break;
        case RleKind::Rle4:
            for (uint32_t k = 0; k < n; ++k)
                putNibble(r, x_ + k, (k & 1) ? (src[k >> 1] & 15) : (src[k >> 1] >> 4));
            break;
        case RleKind::Rle24:
            std::memcpy(r + size_t{x_} * 3, src, size_t{n} * 3);
            break;
        }
    }

    const uint8_t *s_;
    size_t size_;
    size_t pos_ = 0;
    RleKind kind_;
    bool topDown_;
    Image &image_;
    uint32_t x_ = 0;    // column of the next pixel, at most width
    uint32_t line_ = 0; // rows in stream order: 0 is the first row stored
};

} // namespace

RleEnd expandRleStream(const uint8_t *stream, size_t size, RleKind kind, bool topDown,
                       Image &image) {
    std::memset(image.pixels.data(), 0, image.pixels.size());
    return RleExpander(stream, size, kind, topDown, image).run();
}

} // namespace imgctl
