// Geometric predicates shared by the planning stages.
//
// A ring of fewer than 3 points counts as empty in every containment and
// crossing test: no point is inside it, no segment crosses or lies in it.
#pragma once

#include <vector>

#include "planner/scene.h"

namespace Planner {

// Even-odd test with a ray towards +x; the boundary counts as inside.
bool isPointInPolygon(const std::vector<Point>& ring, double x, double y);

// As isPointInPolygon, but the boundary counts as outside.
bool isPointStrictlyInPolygon(const std::vector<Point>& ring, double x, double y);

// True if AB properly crosses an edge of the ring, more than 1 mm from A and B.
bool segmentCrossesPolygon(const std::vector<Point>& ring, double ax, double ay, double bx,
                           double by);

// True (and two points appended to `out`, smaller first in lexicographic
// order) if AB and EF are collinear and share a stretch of positive length.
bool getCollinearOverlap(std::vector<Point>& out, double ax, double ay, double bx, double by,
                         double ex, double ey, double fx, double fy);

// True if AB lies inside the ring, boundary allowed.
bool isSegmentInPolygon(const std::vector<Point>& ring, double ax, double ay, double bx,
                        double by);

// Line of sight: true if the mower may drive straight from A to B inside the
// lawn without entering an obstacle.  Reads the perimeter and the obstacles.
bool isSegmentFree(const Environment& environment, double ax, double ay, double bx, double by);

}  // namespace Planner
