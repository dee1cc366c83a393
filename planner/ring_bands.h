// Horizontal bands over one ring for the point-in-ring tests: a point's
// answer depends only on the edges whose y-range holds its y (within the
// boundary tolerance), in any order, so each band lists those edges.  The
// answers are those of isPointInPolygon and isPointStrictlyInPolygon, bit
// for bit.
#pragma once

#include <cstdint>
#include <vector>

#include "planner/scene.h"

namespace Planner {

// A run of band entries edges[first .. last) that are consecutive edges of
// the ring, with the x-range their points span.
struct RingBlock {
    double x0 = 0.0;
    double x1 = 0.0;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
};

struct RingBands {
    double y0 = 0.0;
    double height = 1.0;
    std::int32_t bands = 0;  // 0: no bands (the ring has fewer than 3 points)
    // Each entry is the index i of the edge (i - 1, i) as the point-in-ring
    // test pairs them: band b lists edges[start[b] .. start[b + 1]).
    std::vector<std::uint32_t> start;
    std::vector<std::uint32_t> edges;
    // Crowded bands are also cut into blocks, blocks[blockStart[b] ..
    // blockStart[b + 1]) covering the band's entries (none: the plain walk).
    // A block whose x-range lies beyond `slack` from a point is settled
    // without visiting its edges: to its left it crosses nothing; to its
    // right every edge crossing the point's height is crossed, whose number
    // is odd exactly when the block's first and last points lie on opposite
    // sides of that height.
    double slack = 0.0;
    // The ring's box, when it has a slack: a point beyond it by more than
    // the slack lies on no edge and inside on no side (to its left every
    // edge crossing the point's height is crossed, an even number).
    bool boxed = false;
    double x0 = 0.0, x1 = 0.0, yMin = 0.0, yMax = 0.0;
    std::vector<std::uint32_t> blockStart;
    std::vector<RingBlock> blocks;
};

// About one band per two edges, at most `maxBands`.  The ring's points must
// be finite.
RingBands buildRingBands(const std::vector<Point>& ring, std::int32_t maxBands);

// isPointInPolygon(ring, x, y) (boundaryResult true) or
// isPointStrictlyInPolygon (false), for the ring the bands were built from.
bool pointInRingBands(const RingBands& bands, const std::vector<Point>& ring, double x, double y,
                      bool boundaryResult);

// The entries edges[first .. last) of the band holding height y: every edge
// whose y-range holds y is among them (an empty range beyond the bands, or
// when y is not a number).
void bandEdgesAt(const RingBands& bands, double y, std::uint32_t& first, std::uint32_t& last);

}  // namespace Planner
