// Helpers the scene normalisation's repairs share (normalise.cpp,
// contacts.cpp): boxes that meet, a sweep over meeting boxes, and tests of
// rings and segments that touch.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>
#include <vector>

#include "planner/constants.h"
#include "planner/geometry.h"

namespace Planner {
namespace normalise_detail {

inline bool boxesMeet(const Box& a, const Box& b) {
    return a.x0 <= b.x1 + kBoundaryTolerance && b.x0 <= a.x1 + kBoundaryTolerance &&
           a.y0 <= b.y1 + kBoundaryTolerance && b.y0 <= a.y1 + kBoundaryTolerance;
}

// Calls visit(i, j), i < j, for every pair of boxes that meet, found by a
// sweep along x.  visit returns true to stop; then so does this.
template <class Visit>
inline bool forEachMeetingPair(const std::vector<Box>& boxes, Visit&& visit) {
    std::vector<std::size_t> order(boxes.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return boxes[a].x0 < boxes[b].x0; });
    for (std::size_t k = 0; k < order.size(); ++k) {
        const Box& a = boxes[order[k]];
        for (std::size_t m = k + 1; m < order.size(); ++m) {
            const Box& b = boxes[order[m]];
            if (b.x0 > a.x1 + kBoundaryTolerance) break;
            if (!boxesMeet(a, b)) continue;
            if (visit(std::min(order[k], order[m]), std::max(order[k], order[m]))) return true;
        }
    }
    return false;
}

// Calls visit(i, j) for every box i of `a` and j of `b` that meet, without
// looking at pairs within one list: two sweeps along x, each pair found by
// the box that starts first (ties by the one of `a`).  visit returns true
// to stop; then so does this.
template <class Visit>
inline bool forEachMeetingPairBetween(const std::vector<Box>& a, const std::vector<Box>& b,
                                      Visit&& visit) {
    auto byStart = [](const std::vector<Box>& boxes) {
        std::vector<std::size_t> order(boxes.size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(),
                  [&](std::size_t p, std::size_t q) { return boxes[p].x0 < boxes[q].x0; });
        return order;
    };
    const std::vector<std::size_t> oa = byStart(a);
    const std::vector<std::size_t> ob = byStart(b);
    // From each box of one list, the boxes of the other starting at or
    // after it (strictly after, for boxes of `b`) and before it ends.
    auto sweep = [&](const std::vector<Box>& from, const std::vector<std::size_t>& of,
                     const std::vector<Box>& to, const std::vector<std::size_t>& ot, bool fromA) {
        std::size_t first = 0;
        for (std::size_t i : of) {
            const Box& f = from[i];
            while (first < ot.size() &&
                   (fromA ? to[ot[first]].x0 < f.x0 : to[ot[first]].x0 <= f.x0))
                ++first;
            for (std::size_t k = first; k < ot.size(); ++k) {
                const Box& t = to[ot[k]];
                if (t.x0 > f.x1 + kBoundaryTolerance) break;
                if (!boxesMeet(f, t)) continue;
                if (fromA ? visit(i, ot[k]) : visit(ot[k], i)) return true;
            }
        }
        return false;
    };
    return sweep(a, oa, b, ob, true) || sweep(b, ob, a, oa, false);
}

// Which side of the line P -> Q the point R lies on: +1 left, -1 right, 0 on
// it (a cross product below the boundary tolerance, as the point-in-ring
// test counts a point on an edge).
inline int sideOf(const Point& p, const Point& q, const Point& r) {
    const double c = (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x);
    if (std::fabs(c) < kBoundaryTolerance) return 0;
    return c > 0.0 ? 1 : -1;
}

inline bool withinBox(const Point& p, const Point& q, const Point& r) {
    return boxesMeet(boxOf(p, q), boxOf(r, r));
}

// True if the segments PQ and RS cross or touch.
inline bool segmentsMeet(const Point& p, const Point& q, const Point& r, const Point& s) {
    const int d1 = sideOf(r, s, p);
    const int d2 = sideOf(r, s, q);
    const int d3 = sideOf(p, q, r);
    const int d4 = sideOf(p, q, s);
    if (d1 * d2 < 0 && d3 * d4 < 0) return true;
    return (d1 == 0 && withinBox(r, s, p)) || (d2 == 0 && withinBox(r, s, q)) ||
           (d3 == 0 && withinBox(p, q, r)) || (d4 == 0 && withinBox(p, q, s));
}

inline bool isFiniteRing(const std::vector<Point>& ring) {
    return std::all_of(ring.begin(), ring.end(),
                       [](const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); });
}

// A ring the repairs look at: at least 3 points, all finite.
inline bool isUsableRing(const std::vector<Point>& ring) {
    return ring.size() >= 3 && isFiniteRing(ring);
}

// The ring without repeated consecutive points (nor a closing repeat).
inline std::vector<Point> withoutRepeats(const std::vector<Point>& ring) {
    std::vector<Point> out;
    for (const Point& p : ring) {
        if (out.empty() || p.x != out.back().x || p.y != out.back().y) out.push_back(p);
    }
    while (out.size() > 1 && out.back().x == out.front().x && out.back().y == out.front().y)
        out.pop_back();
    return out;
}

// True if two edges of the ring that are not neighbours cross or touch.
inline bool isSelfIntersecting(const std::vector<Point>& original) {
    const std::vector<Point> ring = withoutRepeats(original);
    const std::size_t n = ring.size();
    if (n < 4) return false;
    std::vector<Box> edges(n);
    for (std::size_t i = 0; i < n; ++i) edges[i] = boxOf(ring[i], ring[(i + 1) % n]);
    return forEachMeetingPair(edges, [&](std::size_t i, std::size_t j) {
        if (j == i + 1 || (i == 0 && j == n - 1)) return false;  // neighbours share a vertex
        return segmentsMeet(ring[i], ring[(i + 1) % n], ring[j], ring[(j + 1) % n]);
    });
}

}  // namespace normalise_detail
}  // namespace Planner
