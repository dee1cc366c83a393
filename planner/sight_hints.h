// What the line-of-sight test is told to try first: the edges a caller
// expects to block a move, and the edge through which a move into a convex
// obstacle's corner leaves it again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "planner/sight_index.h"

namespace Planner {

// Edges a caller expects to block a move, tried early: one edge of the
// index (kNoEdge for none) and the edges of one obstacle (-1 for none).
struct SightHints {
    std::uint32_t edge = kNoEdge;
    std::int32_t obstacle = -1;
    // An edge the move is expected to cross on its way into a convex
    // obstacle (see entryEdgeAtCorner), tried first.
    std::uint32_t entry = kNoEdge;
    // The caller found with blockedByHints, just before, that none of them
    // (nor a recent blocker) crosses the move: they are not tried again.
    bool tried = false;
};

// For a convex obstacle of the index and one of its corners V: where the
// move from (x, y) to V arrives at V through the obstacle's inside (the
// direction from V to (x, y) lies strictly between those to V's two
// neighbours), the edge through which the line from V towards (x, y) leaves
// it again, found over the corners on either side of that line, from
// `guess` (an edge of that obstacle near it, or any other number) outwards;
// kNoEdge otherwise.  Only a likely blocker: isSegmentFree decides, as for
// every hint.
std::uint32_t entryEdgeAtCorner(const SightIndex& index, std::size_t obstacle, std::size_t corner,
                                double x, double y, std::uint32_t guess = kNoEdge);

}  // namespace Planner
