// Ordering stage: joins the slices into one tool path, greedily from the start.
#pragma once

#include <cstddef>
#include <vector>

#include "planner/scene.h"

namespace Planner {

// Builds result.path from `start` over every reachable slice; appends to
// result.connectors and (through the transit search) result.searchEdges
// unless `collectSearchDetails` is false, when those two stay empty.
// A slice of at most two points is a lane, one of three or more a ring.
void linkSlices(const Environment& environment, const std::vector<LineString>& slices,
                const Point& start, PathPlanner::PlanningResult& result,
                bool collectSearchDetails = true);

struct SightIndex;

// The same, with the scene's sight index (buildSightIndex(environment))
// built beforehand.
void linkSlices(const Environment& environment, const SightIndex& sight,
                const std::vector<LineString>& slices, const Point& start,
                PathPlanner::PlanningResult& result, bool collectSearchDetails = true);

// Appends one slice to the path: a lane forwards or reversed, a ring once
// round in stored order from vertex `entry` back to it.
void appendSlice(LineString& path, const LineString& slice, bool reverse, std::size_t entry,
                 bool ring);

}  // namespace Planner
