#include "planner/sight_hints.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Planner {

std::uint32_t entryEdgeAtCorner(const SightIndex& index, std::size_t obstacle, std::size_t corner,
                                double x, double y, std::uint32_t guess) {
    if (obstacle >= index.obstacleEdgeBegin.size()) return kNoEdge;
    const std::vector<Point>& ring = index.scene->obstacles[obstacle].points;
    const std::size_t n = ring.size();
    if (n < 4 || corner >= n) return kNoEdge;
    const Point& v = ring[corner];
    // Corner corner + m (m in [0, n)).
    auto at = [&](std::size_t m) -> const Point& {
        const std::size_t i = corner + m;
        return ring[i >= n ? i - n : i];
    };
    const Point& before = at(n - 1);
    const Point& after = at(1);
    const double rx = x - v.x;
    const double ry = y - v.y;
    // Which side of the line from V through (x, y) a corner lies on.
    auto side = [&](const Point& c) { return rx * (c.y - v.y) - ry * (c.x - v.x); };
    const double sAfter = side(after);
    const double sBefore = side(before);
    if (!(sAfter * sBefore < 0.0)) return kNoEdge;
    // (x, y) between the neighbours' directions, on the inner side of the
    // corner: the turn from the one before to the one after.
    const double ux = before.x - v.x, uy = before.y - v.y;
    const double wx = after.x - v.x, wy = after.y - v.y;
    const double turn = ux * wy - uy * wx;
    const double toPoint = ux * ry - uy * rx;
    if (!(turn * toPoint > 0.0)) return kNoEdge;
    auto sameAsAfter = [&](std::size_t m) { return side(at(m)) * sAfter > 0.0; };
    // Corners corner + lo lie on the side of `after`, corner + hi on the
    // other; from the guess (an edge of this obstacle) outwards, then halving.
    std::size_t lo = 1;
    std::size_t hi = n - 1;
    const std::uint32_t first = index.obstacleEdgeBegin[obstacle];
    if (guess >= first && guess - first < n) {
        const std::size_t g = guess - first;
        std::size_t m = g >= corner ? g - corner : g + n - corner;
        m = std::min(std::max<std::size_t>(m, 1), n - 2);
        if (sameAsAfter(m)) {
            lo = m;
            for (std::size_t step = 1; step < hi - lo; step *= 2) {
                if (!sameAsAfter(lo + step)) {
                    hi = lo + step;
                    break;
                }
                lo += step;
            }
        } else {
            hi = m;
            for (std::size_t step = 1; step < hi - lo; step *= 2) {
                if (sameAsAfter(hi - step)) {
                    lo = hi - step;
                    break;
                }
                hi -= step;
            }
        }
    }
    while (hi - lo > 1) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (sameAsAfter(mid))
            lo = mid;
        else
            hi = mid;
    }
    const std::size_t edge = corner + lo;
    return first + static_cast<std::uint32_t>(edge >= n ? edge - n : edge);
}

}  // namespace Planner
