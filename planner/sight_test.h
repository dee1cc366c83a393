// The indexed line-of-sight test: the same answers as isSegmentFree on the
// scene of a sight index, bit for bit, visiting only the edges that could
// decide them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "planner/sight_hints.h"
#include "planner/sight_index.h"

namespace Planner {

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
