// The straightforward planner stages, kept as the oracle for the indexed
// ones: every scan is linear, as the algorithms are written.  The fast
// planner must give bit-for-bit the same results.
#pragma once

#include <cstdint>
#include <vector>

#include "planner/scene.h"
#include "planner/transit.h"

namespace Reference {

using Planner::Environment;
using Planner::LineString;
using Planner::PathPlanner;
using Planner::PathSettings;
using Planner::Point;

// How often the straightforward stages ran their expensive steps.
struct Tally {
    std::uint64_t sightTests = 0;       // isSegmentFree calls from ordering and transit
    std::uint64_t transitSearches = 0;  // findTransitPath calls
};

bool isPointInPolygon(const std::vector<Point>& ring, double x, double y);
bool isPointStrictlyInPolygon(const std::vector<Point>& ring, double x, double y);
bool segmentCrossesPolygon(const std::vector<Point>& ring, double ax, double ay, double bx,
                           double by);
bool getCollinearOverlap(std::vector<Point>& out, double ax, double ay, double bx, double by,
                         double ex, double ey, double fx, double fy);
bool isSegmentInPolygon(const std::vector<Point>& ring, double ax, double ay, double bx, double by);
bool isSegmentFree(const Environment& environment, double ax, double ay, double bx, double by);

std::vector<Planner::TransitNode> buildTransitNodes(const Environment& environment, double targetX,
                                                    double targetY);
std::vector<Point> findTransitPath(const Environment& environment,
                                   std::vector<LineString>& searchEdges, double startX,
                                   double startY, double targetX, double targetY,
                                   Tally* tally = nullptr);

void linkSlices(const Environment& environment, const std::vector<LineString>& slices,
                const Point& start, PathPlanner::PlanningResult& result, Tally* tally = nullptr);
void appendSlice(LineString& path, const LineString& slice, bool reverse, std::size_t entry,
                 bool ring);

// The lane stage (reference_lanes.cpp): every scanline against every ring.
std::vector<LineString> generateSlices(const Environment& area, double spacing);
std::vector<LineString> patternSlices(const Environment& area, const PathSettings& settings);

// The whole task with the straightforward lane and ordering stages; the
// other stages are the planner's own.
PathPlanner::PlanningResult computeFullTask(const Environment& environment,
                                            const PathSettings& settings, const Point& start,
                                            Tally* tally = nullptr);

}  // namespace Reference
