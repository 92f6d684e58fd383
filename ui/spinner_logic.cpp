// SPDX-License-Identifier: MIT
#include "spinner_logic.h"

#include <algorithm>
#include <charconv>

namespace nubaro {

std::optional<int> wholeNumberWithin(std::string_view text, int low, int high) {
    if (text.empty()) return std::nullopt;
    const char *first = text.data();
    const char *last = text.data() + text.size();
    // from_chars takes a leading minus but no plus or blanks, as wanted.
    int value = 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last) return std::nullopt;
    if (value < low || value > high) return std::nullopt;
    return value;
}

SpinnerLogic::SpinnerLogic(int upper, int lower, int position)
    : upper_(upper), lower_(lower),
      position_(std::clamp(position, std::min(upper, lower), std::max(upper, lower))) {}

int SpinnerLogic::step(std::string_view boxText, bool up) {
    const int low = std::min(upper_, lower_);
    const int high = std::max(upper_, lower_);
    if (auto typed = wholeNumberWithin(boxText, low, high)) position_ = *typed;
    // With the bounds given upside down the up arrow still heads for the upper one.
    const int towardsUpper = upper_ >= lower_ ? 1 : -1;
    position_ = std::clamp(position_ + (up ? towardsUpper : -towardsUpper), low, high);
    return position_;
}

int spinnerRepeatDelayMs(int repeatsSoFar) {
    if (repeatsSoFar <= 1) return 400; // the pause before the first repeat
    if (repeatsSoFar < 10) return 100;
    if (repeatsSoFar < 30) return 50;
    return 20;
}

} // namespace nubaro
