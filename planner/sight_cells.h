// The grid walk and the folded directions that the sight index and its
// line-of-sight test share.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "planner/constants.h"
#include "planner/sight_index.h"

namespace Planner {
namespace SightCells {

constexpr double kPi = 3.14159265358979323846;
constexpr double kHalfPi = kPi / 2.0;

inline std::int64_t cellCoordinate(double v, double origin, double size) {
    return static_cast<std::int64_t>(std::floor((v - origin) / size));
}

inline std::int64_t clampIndex(std::int64_t v, std::int64_t count) {
    return std::min<std::int64_t>(std::max<std::int64_t>(v, 0), count - 1);
}

// Visits the cells that the segment (x1, y1) - (x2, y2), widened by `pad`,
// can touch, column by column from the first end towards the second.
// `visit(cell)` returns true to stop; then so does this, returning true.
template <class Visit>
bool forEachCellNear(const CellGrid& g, double x1, double y1, double x2, double y2, double pad,
                     Visit&& visit) {
    const double xmin = std::min(x1, x2);
    const double xmax = std::max(x1, x2);
    const double ymin = std::min(y1, y2);
    const double ymax = std::max(y1, y2);
    const std::int64_t c0 = cellCoordinate(xmin - pad, g.x0, g.size);
    const std::int64_t c1 = cellCoordinate(xmax + pad, g.x0, g.size);
    if (c1 < 0 || c0 >= g.cols) return false;
    const std::int64_t r0 = cellCoordinate(ymin - pad, g.y0, g.size);
    const std::int64_t r1 = cellCoordinate(ymax + pad, g.y0, g.size);
    if (r1 < 0 || r0 >= g.rows) return false;
    const std::int64_t cFirst = clampIndex(c0, g.cols);
    const std::int64_t cLast = clampIndex(c1, g.cols);
    const double dx = x2 - x1;
    const double dy = y2 - y1;
    const bool steep = !(std::fabs(dx) > 1e-12 * (std::fabs(dy) + 1.0));
    const double slope = steep ? 0.0 : dy / dx;
    const bool leftwards = x2 < x1;
    const bool downwards = y2 < y1;
    for (std::int64_t k = 0; k <= cLast - cFirst; ++k) {
        const std::int64_t c = leftwards ? cLast - k : cFirst + k;
        double lo = ymin;
        double hi = ymax;
        if (!steep) {
            const double xa = std::min(std::max(g.x0 + c * g.size - pad, xmin), xmax);
            const double xb = std::min(std::max(g.x0 + (c + 1) * g.size + pad, xmin), xmax);
            const double ya = y1 + (xa - x1) * slope;
            const double yb = y1 + (xb - x1) * slope;
            lo = std::max(std::min(ya, yb), ymin);
            hi = std::min(std::max(ya, yb), ymax);
        }
        const std::int64_t rLo = cellCoordinate(lo - pad, g.y0, g.size);
        const std::int64_t rHi = cellCoordinate(hi + pad, g.y0, g.size);
        if (rHi < 0 || rLo >= g.rows) continue;
        const std::int64_t rFirst = clampIndex(rLo, g.rows);
        const std::int64_t rLast = clampIndex(rHi, g.rows);
        for (std::int64_t m = 0; m <= rLast - rFirst; ++m) {
            const std::int64_t r = downwards ? rLast - m : rFirst + m;
            if (visit(static_cast<std::size_t>(r * g.cols + c))) return true;
        }
    }
    return false;
}

// Visits the cells within kSightPointPad of (x, y).
template <class Visit>
void forEachCellAt(const CellGrid& g, double x, double y, Visit&& visit) {
    forEachCellNear(g, x, y, x, y, kSightPointPad, [&](std::size_t cell) {
        visit(cell);
        return false;
    });
}

inline double foldedAngle(double ex, double ey) {
    double a = std::atan2(ey, ex);
    if (a < 0.0) a += kPi;
    if (a >= kPi) a -= kPi;
    return a;
}

}  // namespace SightCells
}  // namespace Planner
