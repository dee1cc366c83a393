// Transit search: an A* search over wire points, corners and the target that
// finds a way between two positions of the lawn around the obstacles.
#pragma once

#include <cstdint>
#include <vector>

#include "planner/scene.h"

namespace Planner {

struct TransitNode {
    double x = 0.0;
    double y = 0.0;
    bool onWire = false;
    std::uint64_t wireIndex = 0;
};

struct SearchRecord {
    double x = 0.0;
    double y = 0.0;
    double g = 0.0;
    double h = 0.0;
    std::int32_t parent = -1;
    bool onWire = false;
    std::uint64_t wireIndex = 0;
};

// Nodes of the search: virtual-wire points, then obstacle and perimeter
// corners not within 1 mm of an earlier node, then the target.
std::vector<TransitNode> buildTransitNodes(const Environment& environment, double targetX,
                                           double targetY);

// A polyline from the start to the target that keeps inside the lawn and
// clear of obstacles, empty when there is none.  Every edge the search
// accepts is appended to `searchEdges`.
std::vector<Point> findTransitPath(const Environment& environment,
                                   std::vector<LineString>& searchEdges, double startX,
                                   double startY, double targetX, double targetY);

}  // namespace Planner
