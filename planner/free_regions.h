// The lawn's free regions: the parts of the lawn that the obstacles (taken
// together, so that pieces overlapping round a pocket shut it in) and the
// lawn's edge keep apart, found once per scene.  A transit search whose
// start and target lie in regions that nothing joins cannot succeed, and is
// answered without running it.
//
// Why that holds.  A move of kSightShrink or longer that the sight test lets
// pass runs, between its shrunk ends, within the lawn and outside every
// obstacle's inside up to the tests' tolerances (far below
// kRegionMargin): so within one part of F, the lawn grown by kRegionMargin
// less the obstacles' union shrunk by it.  Its ends lie within kSightShrink
// of that part, so well inside G, F grown by kRegionReach: one region of G
// holds the whole move, and where two such moves meet at a node, they meet
// inside one region.  The other steps of a search are tied by hand: a move
// shorter than kSightShrink (tested against obstacles only, so it may leave
// the lawn or run inside an obstacle) joins the nodes at its ends, a step
// along the virtual wire joins consecutive wire points, and each node that
// takes such a step is joined to the region it lies in.
#pragma once

#include <cstdint>
#include <vector>

#include "planner/geometry.h"
#include "planner/ring_bands.h"
#include "planner/transit.h"

namespace Planner {

struct FreeRegions {
    // False when the scene could not be placed on the grid: nothing is ruled out.
    bool usable = false;

    struct Region {
        Box box;
        std::vector<std::vector<Point>> rings;  // the outline, then its holes
        std::vector<Box> ringBoxes;
        std::vector<RingBands> ringBands;  // per ring, for the point-in-region tests
    };
    std::vector<Region> regions;

    // Per region, then per node of the transit context: its class (regions
    // and nodes joined by the steps above carry one class).
    std::vector<std::uint32_t> classOf;

    // The nodes sorted by cells of the short-move length, to find the nodes
    // a short move joins to a position.
    struct Cell {
        std::int64_t cx;
        std::int64_t cy;
        std::uint32_t node;
    };
    std::vector<Cell> cells;
};

// True if (x, y) lies inside the region: an odd number of its rings' edges
// cross the ray from it towards +x (an edge (p, q) crosses where p.y > y
// differs from q.y > y and x lies left of the crossing).  Points on an
// outline may go either way.
bool regionHolds(const FreeRegions::Region& region, double x, double y);

// The free regions of the context's scene (its nodes are joined as above).
FreeRegions buildFreeRegions(const TransitContext& context);

// The same, computed in the scene's frame turned by `frameAngle` radians
// (buildFreeRegions picks the frame of least work; the regions hold the same
// moves in any).
FreeRegions buildFreeRegions(const TransitContext& context, double frameAngle);

// True only if the transit search of the context from the start to the
// target fails: no class is shared by the start's steps and the target's.
bool regionsPart(const FreeRegions& regions, const TransitContext& context, double startX,
                 double startY, double targetX, double targetY);

// The regions that share a class with a start: where the ordering stage
// from that start may go.  Positions in no such region are where no search
// or move from the start leads (up to the regions' tolerances).
struct StartReach {
    // False when the regions could not be found: nothing is ruled out.
    bool usable = false;
    // Every region shares the start's class: nothing is ruled out.
    bool whole = true;
    struct Area {
        Box box;
        std::vector<std::vector<Point>> rings;  // the outline, then its holes
        std::vector<RingBands> bands;           // per ring
        // Areas of many rings: a grid over the box, each cell listing the
        // rings a point in it may lie in or on (the others' bands rule it
        // out by their boxes): cellRings[cellStart[c] .. cellStart[c + 1]).
        std::int32_t cellsX = 0;  // 0: no grid, every ring is walked
        std::int32_t cellsY = 0;
        double cellWidth = 1.0;
        double cellHeight = 1.0;
        std::vector<std::uint32_t> cellStart;
        std::vector<std::uint32_t> cellRings;
    };
    std::vector<Area> areas;  // the regions sharing the start's class
};

// The reach of a start at (startX, startY) in the context's scene.
StartReach buildStartReach(const FreeRegions& regions, const TransitContext& context,
                           double startX, double startY);

// False only if the position lies in no region of the reach.
bool reachMayHold(const StartReach& reach, double x, double y);

}  // namespace Planner
