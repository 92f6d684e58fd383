// SPDX-License-Identifier: MIT
// The quantizer's nearest-colour search.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <numeric>
#include <vector>

namespace imgctl {

// Nearest-colour search over a palette sorted by green: from the entry
// closest in green outward both ways, stopping a direction once the green
// difference alone passes the best distance found.
template <class T> class NearestSearch {
  public:
    explicit NearestSearch(const std::vector<std::array<T, 3>> &palette) {
        order_.resize(palette.size());
        std::iota(order_.begin(), order_.end(), 0);
        std::sort(order_.begin(), order_.end(),
                  [&](int a, int b) { return palette[a][1] < palette[b][1]; });
        for (int i : order_)
            sorted_.push_back(palette[i]);
    }

    // Index into the palette given to the constructor.
    int find(T b, T g, T r) const {
        const size_t n = sorted_.size();
        size_t up = static_cast<size_t>(
            std::lower_bound(sorted_.begin(), sorted_.end(), g,
                             [](const std::array<T, 3> &e, T v) { return e[1] < v; }) -
            sorted_.begin());
        size_t down = up; // entries below `down` are still to look at
        T best = std::numeric_limits<T>::max();
        size_t bestAt = up < n ? up : n - 1;
        bool goUp = up<n, goDown = down> 0;
        while (goUp || goDown) {
            if (goUp) {
                const std::array<T, 3> &e = sorted_[up];
                T dg = e[1] - g, d2 = dg * dg;
                if (d2 >= best) {
                    goUp = false;
                } else {
                    T db = e[0] - b, dr = e[2] - r;
                    d2 += db * db + dr * dr;
                    if (d2 < best) {
                        best = d2;
                        bestAt = up;
                    }
                    goUp = ++up < n;
                }
            }
            if (goDown) {
                const std::array<T, 3> &e = sorted_[down - 1];
                T dg = g - e[1], d2 = dg * dg;
                if (d2 >= best) {
                    goDown = false;
                } else {
                    T db = e[0] - b, dr = e[2] - r;
                    d2 += db * db + dr * dr;
                    if (d2 < best) {
                        best = d2;
                        bestAt = down - 1;
                    }
                    goDown = --down > 0;
                }
            }
        }
        return order_[bestAt];
    }

  private:
    std::vector<int> order_;
    std::vector<std::array<T, 3>> sorted_;
};

} // namespace imgctl
