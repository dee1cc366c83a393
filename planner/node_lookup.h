// Positions sorted by cells of 2 mm, to find the positions within 1 mm of a
// point without scanning them all: the transit search's nodes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "planner/constants.h"
#include "planner/geometry.h"

namespace Planner {

inline bool isFinitePosition(double x, double y) { return std::isfinite(x) && std::isfinite(y); }

// Two positions within 1 mm count as one.  NaN never compares smaller, so a
// non-finite position is never "the same" as anything, itself included.
inline bool samePosition(double ax, double ay, double bx, double by) {
    // sqrt(x * x) rounds back to |x|, so a difference of kSamePosition or
    // more along one axis settles it without the square root.
    if (std::fabs(bx - ax) >= kSamePosition || std::fabs(by - ay) >= kSamePosition) return false;
    return distanceBetween(ax, ay, bx, by) < kSamePosition;
}

struct NodeCellEntry {
    std::int64_t cx = 0;
    std::int64_t cy = 0;
    std::uint32_t node = 0;
};

// Positions that are not finite are left out (they are within 1 mm of
// nothing); finite ones beyond kNodeGridLimit are kept apart and scanned.
struct NodeLookup {
    std::vector<NodeCellEntry> cells;  // sorted by (cx, cy, node)
    std::vector<std::uint32_t> far;
};

// Adds position `id`; sortLookup makes the lookup ready once all are added.
void addToLookup(NodeLookup& lookup, double x, double y, std::uint32_t id);
void sortLookup(NodeLookup& lookup);

namespace detail {
// Cells of twice the matching distance: positions within 1 mm of each other
// lie in the same or neighbouring cells.
constexpr double kNodeCell = 2.0 * kSamePosition;

inline bool onNodeGrid(double x, double y) {
    return std::fabs(x) <= kNodeGridLimit && std::fabs(y) <= kNodeGridLimit;
}

inline std::int64_t nodeCell(double v) {
    return static_cast<std::int64_t>(std::floor(v / kNodeCell));
}

inline bool cellBefore(const NodeCellEntry& a, const NodeCellEntry& b) {
    if (a.cx != b.cx) return a.cx < b.cx;
    if (a.cy != b.cy) return a.cy < b.cy;
    return a.node < b.node;
}
}  // namespace detail

// Calls visit(id) for every position of `lookup` that may lie within 1 mm
// of (x, y); the caller makes the exact test.
template <class Visit>
void forEachNodeNear(const NodeLookup& lookup, double x, double y, Visit&& visit) {
    if (!isFinitePosition(x, y)) return;
    for (std::uint32_t node : lookup.far) visit(node);
    if (!detail::onNodeGrid(x, y)) {
        // Next to the grid's edge a grid position may still be this close.
        for (const NodeCellEntry& e : lookup.cells) visit(e.node);
        return;
    }
    const std::int64_t cx = detail::nodeCell(x);
    const std::int64_t cy = detail::nodeCell(y);
    for (std::int64_t i = cx - 1; i <= cx + 1; ++i) {
        const NodeCellEntry lo{i, cy - 1, 0};
        auto it = std::lower_bound(lookup.cells.begin(), lookup.cells.end(), lo,
                                   detail::cellBefore);
        for (; it != lookup.cells.end() && it->cx == i && it->cy <= cy + 1; ++it) visit(it->node);
    }
}

}  // namespace Planner
