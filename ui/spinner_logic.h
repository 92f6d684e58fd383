// SPDX-License-Identifier: MIT
// Qt-free behaviour of the number boxes' up-down control: its range, its
// position, how a click steps it and how fast a held arrow repeats.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nubaro {

// The box's text as the control reads it: a whole decimal number (an optional
// minus sign and digits, nothing else) within [low, high], or nothing.
std::optional<int> wholeNumberWithin(std::string_view text, int low, int high);

class SpinnerLogic {
  public:
    // Arguments in the order the window passes them: upper bound, lower bound,
    // start position (clamped into the range).
    SpinnerLogic(int upper, int lower, int position);

    int upper() const { return upper_; }
    int lower() const { return lower_; }
    int position() const { return position_; }

    // One step of the up arrow (up = true) or the down arrow. The up arrow
    // moves towards the upper bound. Before stepping, the box's current text
    // becomes the position when it is a whole number within the range; the
    // position stops at the bounds without wrapping. Returns the new position.
    int step(std::string_view boxText, bool up);

    // The decimal text the control writes into its box.
    std::string text() const { return std::to_string(position_); }

  private:
    int upper_;
    int lower_;
    int position_;
};

// While an arrow is held the control repeats its step by 1; the pause before
// the next repeat shrinks the longer the arrow is held (repeatsSoFar counts
// the steps already taken since the press, the first being the press itself).
int spinnerRepeatDelayMs(int repeatsSoFar);

} // namespace nubaro
