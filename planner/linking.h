// Ordering stage: joins the slices into one tool path, greedily from the start.
#pragma once

#include <cstddef>
#include <memory>
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
struct TransitContext;
struct FreeRegions;

// The same, with the scene's sight index (buildSightIndex(environment))
// built beforehand.
void linkSlices(const Environment& environment, const SightIndex& sight,
                const std::vector<LineString>& slices, const Point& start,
                PathPlanner::PlanningResult& result, bool collectSearchDetails = true);

// What the transit searches of one call share: the search context and,
// for searches that keep no search edges, the lawn's free regions.
// linkSlices makes what is missing at its first need; a caller with time
// to spare (while the laps are laid on a second thread) may make them
// beforehand with prepareTransits.  Either way they are the same, and so is
// the path.
struct TransitShare {
    TransitShare();
    ~TransitShare();
    TransitShare(TransitShare&&) noexcept;
    TransitShare& operator=(TransitShare&&) noexcept;
    std::unique_ptr<TransitContext> context;
    std::unique_ptr<FreeRegions> regions;
};

// Makes the context of the scene's searches, and with `collectSearchDetails`
// false the free regions too, unless `share` holds them.  The scene and the
// sight index must outlive `share`.
void prepareTransits(const Environment& environment, const SightIndex& sight,
                     bool collectSearchDetails, TransitShare& share);

// How linkSlices runs its transit searches: one after the other, or with
// the order planned first and the searches run two at a time (what a scene
// of kTransitThreadCorners corners or more gets).  The results are the same.
enum class SearchRun { BySize, OneAfterTheOther, Planned };

// linkSlices with what `share` holds of the searches' shared parts (made
// for this scene and sight index), and what it lacks made there.
void linkSlices(const Environment& environment, const SightIndex& sight,
                const std::vector<LineString>& slices, const Point& start,
                PathPlanner::PlanningResult& result, bool collectSearchDetails,
                TransitShare& share, SearchRun run = SearchRun::BySize);

// Appends one slice to the path: a lane forwards or reversed, a ring once
// round in stored order from vertex `entry` back to it.
void appendSlice(LineString& path, const LineString& slice, bool reverse, std::size_t entry,
                 bool ring);

}  // namespace Planner
