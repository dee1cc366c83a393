// The full-task pipeline: lane frame, stages in their fixed order, result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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

// Which stage made a slice: the area stage (lanes of "lines" and "squares",
// or the concentric rings of any other pattern), the perimeter laps or the
// obstacle laps.
enum class SliceKind : std::uint8_t { AreaLane = 0, AreaRing = 1, PerimeterLap = 2, ObstacleLap = 3 };
constexpr std::size_t kSliceKindCount = 4;

// The slices of a task in stage order, with one kind per slice.
struct TaskSlices {
    std::vector<LineString> slices;
    std::vector<SliceKind> kinds;
};

// A planned task and the kind of each of its slices (kinds[i] for
// result.slices[i]).
struct PlannedTask {
    PathPlanner::PlanningResult result;
    std::vector<SliceKind> kinds;
};

// computeFullTask, with the slices' kinds: the same result bit for bit.
PlannedTask planTask(const Environment& environment, const PathSettings& settings,
                     const Point& start, const PlanningOptions& options = PlanningOptions());

// The slices that computeFullTask would order, without ordering them: the
// same slices, bit for bit and in the same order, as its result's `slices`.
TaskSlices computeTaskSlices(const Environment& environment, const PathSettings& settings);

// How many slices of each kind a task has and their length in metres (a
// lane end to end, a ring all the way round back to its first point),
// indexed by SliceKind.  Measured in the lane frame, without turning the
// slices back or ordering them: cheap figures for comparing lane angles.
struct SliceFigures {
    std::array<std::size_t, kSliceKindCount> counts{};
    std::array<double, kSliceKindCount> lengths{};
    // With a start's reach: how many slices of each kind have no entry (a
    // lane's ends, a ring's vertices) in it, the slices that the ordering
    // stage from that start gives up.
    std::array<std::size_t, kSliceKindCount> cutOff{};
};

struct StartReach;

SliceFigures computeSliceFigures(const Environment& environment, const PathSettings& settings,
                                 const StartReach* reach = nullptr);

// Where the ordering stage from `start` may go, at any lane angle: the
// lawn's free regions of the scene in its own frame (normalised as the lane
// frame of angle 0) that share a class with the start (after the drive out
// of an obstacle).  Outlines normalised in another lane frame may lie a
// millimetre or so elsewhere, so the slices it rules out are a forecast.
StartReach computeStartReach(const Environment& environment, const Point& start);

// The transit search of a planning call between two points of the garden:
// the same search on the same scene (in the lane frame of `angle` radians,
// normalised as the pipeline does) as the way to a piece out of sight inside
// computeFullTask with that angle.  The way runs from `from` to `to` in the
// caller's frame; empty when there is none (also for a perimeter of fewer
// than three points, where no task is planned).
std::vector<Point> findTransitBetween(const Environment& environment, const Point& from,
                                      const Point& to, double angle = 0.0);

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
