// The sight index: the perimeter and obstacle edges of one scene sorted into
// a grid and by direction, and the line-of-sight test that uses it.  It
// gives the same answers as isSegmentFree on the scene, bit for bit.
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

// Working lists of the indexed test, reused from one test to the next.
struct SightScratch {
    std::vector<std::uint32_t> edgeMark;
    std::vector<std::uint32_t> obstacleMark;
    std::uint32_t stamp = 0;
    std::vector<std::uint32_t> perimeterEdges;
    // Obstacles with an edge near the move, and those edges: the edges of
    // obstacles[k] are obstacleEdges[obstacleEdgeStart[k] .. the next start).
    std::vector<std::uint32_t> obstacles;
    std::vector<std::uint32_t> obstacleEdgeStart;
    std::vector<std::uint32_t> obstacleEdges;
    std::vector<std::uint32_t> parallelObstacleEdges;
    std::vector<std::uint32_t> bigObstacleEdges;  // near edges of obstacles with many corners
    std::vector<std::uint32_t> midpointObstacles;
    std::vector<std::uint32_t> endObstacles;
    std::vector<std::uint32_t> endPerimeterEdges;
    std::vector<double> params;
    // Edges that blocked recent moves: tried first, as neighbouring moves
    // tend to be blocked by the same edge.
    static constexpr std::size_t kRecentBlockers = 2;
    std::uint32_t recentBlockers[kRecentBlockers] = {};
    std::size_t blockerCount = 0;
    std::size_t nextBlocker = 0;
    std::uint32_t lastBlocker = kNoEdge;
};

SightIndex buildSightIndex(const Environment& scene);

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

// The same answer as isSegmentFree(*index.scene, ...), bit for bit.  When
// an edge of the index is found to block the move, its number is left in
// scratch.lastBlocker (kNoEdge otherwise).
bool isSegmentFree(const SightIndex& index, SightScratch& scratch, double ax, double ay, double bx,
                   double by, const SightHints& hints = SightHints());

// True only if isSegmentFree finds the move blocked: it is long enough for
// the indexed test and one of the hinted or recently blocking edges crosses
// it (left in scratch.lastBlocker); the cheap first look of that test.
bool blockedByHints(const SightIndex& index, SightScratch& scratch, double ax, double ay,
                    double bx, double by, const SightHints& hints = SightHints());

}  // namespace Planner
