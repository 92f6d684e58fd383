// SPDX-License-Identifier: MIT
#include "quantize/median_cut.h"

#include "quantize/nearest_search.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace imgctl {
namespace {

inline int levelOf(float c) {
    return std::clamp(static_cast<int>(c), 0, 255);
}

struct Moments {
    double w = 0, s[3] = {0, 0, 0}, ss = 0;
    void add(const Moments &o) {
        w += o.w;
        ss += o.ss;
        for (int k = 0; k < 3; ++k)
            s[k] += o.s[k];
    }
    void add(const Sample &x) {
        w += x.w;
        for (int k = 0; k < 3; ++k) {
            s[k] += double{x.w} * x.c[k];
            ss += double{x.w} * x.c[k] * x.c[k];
        }
    }
    void sub(const Moments &o) {
        w -= o.w;
        ss -= o.ss;
        for (int k = 0; k < 3; ++k)
            s[k] -= o.s[k];
    }
    // Weighted squared distance of the samples to their mean.
    double error() const {
        if (w <= 0) return 0;
        return std::max(0.0, ss - (s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) / w);
    }
};

struct Box {
    size_t begin, end;
    Moments m;
    bool solid = false; // every sample has the same colour
};

Moments momentsOf(const std::vector<Sample> &s, size_t begin, size_t end) {
    Moments m;
    for (size_t i = begin; i < end; ++i)
        m.add(s[i]);
    return m;
}

} // namespace

std::vector<std::array<float, 3>> medianCut(std::vector<Sample> &s, size_t colours) {
    std::vector<Box> boxes{{0, s.size(), momentsOf(s, 0, s.size()), false}};
    std::array<std::vector<Moments>, 3> levels;
    for (auto &axis : levels)
        axis.resize(256);
    while (boxes.size() < colours) {
        // The box with the most squared error that can still be split.
        size_t pick = boxes.size();
        double worst = 0;
        for (size_t i = 0; i < boxes.size(); ++i)
            if (!boxes[i].solid && boxes[i].end - boxes[i].begin > 1 &&
                boxes[i].m.error() > worst) {
                worst = boxes[i].m.error();
                pick = i;
            }
        if (pick == boxes.size()) break;
        Box &box = boxes[pick];
        const auto first = s.begin() + static_cast<ptrdiff_t>(box.begin);
        const auto last = s.begin() + static_cast<ptrdiff_t>(box.end);

        // Try each axis, cutting between whole levels: the samples' moments
        // gathered per level, then every cut weighed from running sums.
        for (auto &axis : levels)
            std::fill(axis.begin(), axis.end(), Moments{});
        for (size_t i = box.begin; i < box.end; ++i)
            for (int axis = 0; axis < 3; ++axis)
                levels[axis][levelOf(s[i].c[axis])].add(s[i]);
        double bestError = std::numeric_limits<double>::infinity();
        int bestAxis = 0, bestCut = 0;
        for (int axis = 0; axis < 3; ++axis) {
            Moments left;
            for (int cut = 1; cut < 256; ++cut) {
                left.add(levels[axis][cut - 1]);
                if (left.w <= 0) continue;
                Moments right = box.m;
                right.sub(left);
                if (right.w <= 0) break;
                double e = left.error() + right.error();
                if (e < bestError) {
                    bestError = e;
                    bestAxis = axis;
                    bestCut = cut;
                }
            }
        }
        if (bestCut == 0) { // every sample on one level of every axis
            box.solid = true;
            continue;
        }
        const size_t bestAt = static_cast<size_t>(
            std::partition(first, last,
                           [&](const Sample &x) { return levelOf(x.c[bestAxis]) < bestCut; }) -
            s.begin());
        Box right{bestAt, box.end, momentsOf(s, bestAt, box.end), false};
        box.end = bestAt;
        box.m = momentsOf(s, box.begin, bestAt);
        boxes.push_back(right);
    }
    std::vector<std::array<float, 3>> means;
    for (const Box &b : boxes) {
        const double w = std::max(b.m.w, 1e-9);
        means.push_back({static_cast<float>(b.m.s[0] / w), static_cast<float>(b.m.s[1] / w),
                         static_cast<float>(b.m.s[2] / w)});
    }
    return means;
}

void refine(const std::vector<Sample> &s, std::vector<std::array<float, 3>> &palette, int rounds) {
    std::vector<Moments> sums(palette.size());
    double previous = std::numeric_limits<double>::infinity();
    for (int round = 0; round < rounds; ++round) {
        NearestSearch<float> search(palette);
        std::fill(sums.begin(), sums.end(), Moments{});
        double total = 0, worst = -1;
        size_t worstAt = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            const Sample &x = s[i];
            int k = search.find(x.c[0], x.c[1], x.c[2]);
            sums[k].add(x);
            float db = x.c[0] - palette[k][0], dg = x.c[1] - palette[k][1],
                  dr = x.c[2] - palette[k][2];
            double e = double{x.w} * (db * db + dg * dg + dr * dr);
            total += e;
            if (e > worst) {
                worst = e;
                worstAt = i;
            }
        }
        for (size_t k = 0; k < palette.size(); ++k) {
            if (sums[k].w > 0) {
                for (int c = 0; c < 3; ++c)
                    palette[k][c] = static_cast<float>(sums[k].s[c] / sums[k].w);
            } else {
                palette[k] = {s[worstAt].c[0], s[worstAt].c[1], s[worstAt].c[2]};
            }
        }
        if (total > previous * 0.999) break;
        previous = total;
    }
}

} // namespace imgctl
