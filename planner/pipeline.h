// The full-task pipeline: lane frame, stages in their fixed order, result.
#pragma once

#include <string>
#include <vector>

#include "planner/scene.h"

namespace Planner {

// Turns every point counter-clockwise by `angle` radians about the origin.
void rotatePoints(std::vector<Point>& points, double angle);

// Copies of the outer rings (wantHoles false: grid area >= 0, and rings of
// fewer than 3 points) or of the holes (wantHoles true: grid area < 0).
std::vector<Ring> filterRingsByOrientation(const std::vector<Ring>& rings, bool wantHoles);

// True if the hole (an outline of the grown obstacles) holds the outer ring
// (an outline of the shrunk lawn): the outer ring is an island of lawn inside
// the obstacles, and the hole is no obstacle of its work area.
bool holeHoldsOuter(const Ring& hole, const Ring& outer);

// The slices of one work area for the settings' pattern: "lines", "squares",
// or concentric rings for any other pattern.
std::vector<LineString> patternSlices(const Environment& area, const PathSettings& settings);

// What a planning call collects beside the path and the slices.
struct PlanningOptions {
    // The straight lines to the pieces reached by transit searches
    // (`connectors`) and every edge those searches accepted (`searchEdges`).
    bool collectSearchDetails = true;
};

// Plans the whole task.  The arguments are only read.
PathPlanner::PlanningResult computeFullTask(const Environment& environment,
                                            const PathSettings& settings, const Point& start,
                                            const PlanningOptions& options = PlanningOptions());

class PathService {
public:
    std::string version;

    PathService() : version("1.3") {}

    PathPlanner::PlanningResult computeFullTask(const Environment& environment,
                                                const PathSettings& settings,
                                                const Point& start,
                                                const PlanningOptions& options =
                                                    PlanningOptions()) const {
        return Planner::computeFullTask(environment, settings, start, options);
    }
    const std::string& getVersion() const { return version; }
};

}  // namespace Planner
