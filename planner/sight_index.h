// The sight index: the perimeter and obstacle edges of one scene sorted into
// a grid and by direction, for the line-of-sight test that uses it
// (planner/sight_test.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "planner/geometry.h"
#include "planner/ring_bands.h"
#include "planner/scene.h"

namespace Planner {

constexpr std::uint32_t kNoEdge = 0xFFFFFFFFu;

// A uniform grid over the plane: cell (c, r) covers
// [x0 + c * size, x0 + (c + 1) * size) x [y0 + r * size, y0 + (r + 1) * size).
struct CellGrid {
    double x0 = 0.0;
    double y0 = 0.0;
    double size = 1.0;
    std::int32_t cols = 0;
    std::int32_t rows = 0;
};

// One edge of a ring as the predicates see it: from P (vertex i) to Q
// (vertex i + 1, wrapping round).
struct SightEdge {
    Point p;
    Point q;
    std::int32_t ring = -1;  // -1 for the perimeter, else the obstacle's index
};

// The perimeter and obstacle edges of one scene, sorted into a grid and by
// direction, so that a line-of-sight test visits only the edges that could
// decide it.  It refers to the scene it was built from, which must outlive
// it and stay unchanged.  Scenes with coordinates that are not finite or
// reach beyond kIndexCoordinateLimit are not indexed (usable is false) and
// get the full test.
struct SightIndex {
    const Environment* scene = nullptr;
    bool usable = false;

    std::vector<SightEdge> edges;
    CellGrid grid;
    // Compressed cell lists: the perimeter edges within kSightCellMargin of
    // cell k are cellEdges[cellStart[k] .. cellStart[k + 1]), likewise the
    // obstacles whose box, widened by that margin, meets the cell.
    std::vector<std::uint32_t> cellStart;
    std::vector<std::uint32_t> cellEdges;
    std::vector<std::uint32_t> obstacleStart;
    std::vector<std::uint32_t> cellObstacles;
    // Per obstacle: its box and where its edges begin in `edges` (an
    // obstacle of fewer than 3 points has none).
    std::vector<Box> obstacleBoxes;
    std::vector<std::uint32_t> obstacleEdgeBegin;

    // Horizontal bands over the perimeter for the point-in-ring test.
    RingBands perimeterBands;

    // Obstacles of kManyCorners corners or more are looked at edge by edge
    // rather than whole: their edges are listed in the cells they come within
    // kSightCellMargin of (bigEdgeStart / cellBigEdges, as for the
    // perimeter), and they have bands of their own (empty for the others).
    std::vector<std::uint8_t> obstacleIsBig;
    std::vector<std::uint32_t> bigEdgeStart;
    std::vector<std::uint32_t> cellBigEdges;
    std::vector<RingBands> obstacleBands;

    // Edges by direction (angle in [0, pi)), and the ones too short to have one.
    std::vector<double> angles;
    std::vector<std::uint32_t> angleEdges;
    std::vector<std::uint32_t> shortEdges;
    double minEdgeLength = 0.0;  // of the edges in angleEdges
};

SightIndex buildSightIndex(const Environment& scene);

}  // namespace Planner
