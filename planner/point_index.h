// A k-d tree over fixed points that hands them out nearest first, for the
// ordering stage: points can be taken out, and the walk from a position
// yields the remaining points by increasing distance, ties in the order the
// points were given.
#pragma once

#include <cstdint>
#include <vector>

#include "planner/scene.h"

namespace Planner {

struct PointTreeNode {
    double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;  // box of the points below
    std::uint32_t begin = 0, end = 0;               // their range in PointTree::points
    std::int32_t left = -1, right = -1;             // children; -1 for a leaf
    std::int32_t parent = -1;
    std::uint32_t remaining = 0;  // points below not taken out
};

struct PointTree {
    std::vector<Point> points;          // in tree order
    std::vector<std::uint32_t> ids;     // the given index of each point, in tree order
    std::vector<std::uint32_t> slotOf;  // tree position of each given index
    std::vector<std::uint8_t> present;  // per tree position
    std::vector<std::int32_t> leafOf;   // per tree position
    std::vector<PointTreeNode> nodes;   // nodes[0] is the root
};

// Builds the tree over `points`; a point's index in `points` is its id and
// ranks it among points at equal distance (lower first).  Points with a
// coordinate that is not finite are left out.
PointTree buildPointTree(const std::vector<Point>& points);

// Takes the point with this id out (no effect when it is already out or was
// left out).
void removePoint(PointTree& tree, std::uint32_t id);

struct WalkEntry {
    double distance;
    std::uint32_t item;  // node index, or tree position for a point
    bool isPoint;
};

// The state of one nearest-first walk.
struct PointWalk {
    Point from;
    std::vector<WalkEntry> heap;
};

void startWalk(const PointTree& tree, const Point& from, PointWalk& walk);

// The next remaining point: true and its id and distance (computed as
// sqrt(dx * dx + dy * dy) from the walk's position), or false when none is
// left.  Points come by increasing distance; of equal distances the lower
// id first.
bool nextNearest(const PointTree& tree, PointWalk& walk, std::uint32_t& id, double& distance);

}  // namespace Planner
