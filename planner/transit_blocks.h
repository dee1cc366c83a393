// Boxes round blocks of positions, and bounds of the moves between one
// position and any position of a block that rounding never puts above the
// position's own bound: what lets the lean transit search pass over a whole
// block of nodes, or of closed records, at once.
#pragma once

#include <algorithm>
#include <cmath>

#include "planner/constants.h"

namespace Planner {

struct BlockBox {
    double minX;
    double maxX;
    double minY;
    double maxY;

    static BlockBox at(double x, double y) { return {x, x, y, y}; }

    void add(double x, double y) {
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
};

// The bound of the move between (px, py) and (x, y) that an expansion
// compares with the keys: the distance is at least the larger difference
// along an axis and their sum over the square root of two (the move's
// length along a diagonal); kBelowHalfRoot2 stays below that factor by more
// than the rounding of the sum, the product and the root.
inline double expansionBound(double px, double py, double x, double y) {
    const double dx = std::fabs(px - x);
    const double dy = std::fabs(py - y);
    return std::max(std::max(dx, dy), (dx + dy) * kBelowHalfRoot2);
}

// The larger difference along an axis between (px, py) and (x, y) (a move
// is at least that long: sqrt(d * d) rounds back to d).
inline double axisBound(double px, double py, double x, double y) {
    return std::max(std::fabs(px - x), std::fabs(py - y));
}

// The differences along the axes between (x, y) and the box, never above
// the rounded std::fabs(px - x) and std::fabs(py - y) of a position in it:
// where minX <= px and x < minX, px - x >= minX - x holds exactly, and
// rounding is monotone, so fl(px - x) >= fl(minX - x); where px <= maxX < x,
// fl(x - px) >= fl(x - maxX) and |fl(px - x)| = fl(x - px); otherwise 0.
inline void boxDifferences(const BlockBox& box, double x, double y, double& dx, double& dy) {
    dx = std::max(0.0, std::max(box.minX - x, x - box.maxX));
    dy = std::max(0.0, std::max(box.minY - y, y - box.maxY));
}

// Never above expansionBound(px, py, x, y) for a position in the box: max,
// the rounded sum and its product with a positive constant are monotone in
// the differences.
inline double boxExpansionBound(const BlockBox& box, double x, double y) {
    double dx = 0.0;
    double dy = 0.0;
    boxDifferences(box, x, y, dx, dy);
    return std::max(std::max(dx, dy), (dx + dy) * kBelowHalfRoot2);
}

// Never above axisBound(px, py, x, y) for a position in the box.
inline double boxAxisBound(const BlockBox& box, double x, double y) {
    double dx = 0.0;
    double dy = 0.0;
    boxDifferences(box, x, y, dx, dy);
    return std::max(dx, dy);
}

// True only if, for every position in the box, the midpoint of the move
// from (px, py) to it, as the line-of-sight test computes it, lies within
// `radius` of (cx, cy), up to rounding far below a micrometre within the
// index limit: the box lies within twice the radius of the point opposite
// (px, py) across (cx, cy).
inline bool boxMidpointsInDisc(const BlockBox& box, double px, double py, double cx, double cy,
                               double radius) {
    const double ox = 2.0 * cx - px;
    const double oy = 2.0 * cy - py;
    const double fx = std::max(std::fabs(box.minX - ox), std::fabs(box.maxX - ox));
    const double fy = std::max(std::fabs(box.minY - oy), std::fabs(box.maxY - oy));
    const double reach = 2.0 * radius;
    return fx * fx + fy * fy <= reach * reach;
}

}  // namespace Planner
