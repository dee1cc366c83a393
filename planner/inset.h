// Offsetting stage: work areas, border laps and concentric rings, computed
// with Clipper2 on a 1 mm integer grid.
#pragma once

#include <cstdint>
#include <climits>
#include <cstddef>
#include <vector>

#include "clipper2/clipper.core.h"
#include "planner/constants.h"
#include "planner/scene.h"

namespace Planner {

// Largest magnitude of a grid coordinate handed to Clipper2 (its own range).
constexpr std::int64_t kGridLimit = INT64_MAX >> 2;

// Converts metres to integer grid units (1000 per metre, halves rounded away
// from zero).  Returns false, leaving `units` untouched, for a value that is
// not finite or whose grid value lies outside Clipper2's coordinate range.
bool toGrid(double metres, std::int64_t& units);

// Grid units back to metres (a division by 1000).
inline double fromGrid(std::int64_t units) { return static_cast<double>(units) / 1000.0; }

// Scales a ring to the grid.  False if any coordinate cannot be placed on it.
bool toGridPath(const std::vector<Point>& ring, Clipper2Lib::Path64& path);

// What the rings of a run are for.  Laps (and the ring pattern) are driven
// along their outlines, so an area too small for the first inset whose
// obstacles reach beyond it yields the outline of what they leave of it.  A
// work area's outlines only bound lanes, so it yields them as they stand.
enum class RingUse { Laps, WorkArea };

// Insets the perimeter and grows the obstacles of `scene` step by step and
// returns every outline: outer outlines counter-clockwise, holes clockwise.
// Closed rings repeat their first point at the end; gap rings (what an inset
// step made vanish, found again and inset by 0.85 x spacing) do not.
// `lapCount` <= 0 means no limit.  With mow areas the scene is handled mow
// area by mow area, each with the obstacles that belong to it (inside it or
// crossing its boundary).
std::vector<Ring> computeInsetRings(const Environment& scene, std::int32_t lapCount,
                                    double spacing, double firstInset,
                                    RingUse use = RingUse::Laps);

// computeInsetRings for several lap counts of one scene, spacing and first
// inset, from one run per area: the run with the most laps, whose first
// steps are every shorter run.  Element k equals
// computeInsetRings(scene, lapCounts[k], spacing, firstInset).
std::vector<std::vector<Ring>> computeInsetRingsForLapCounts(
    const Environment& scene, const std::vector<std::int32_t>& lapCounts, double spacing,
    double firstInset);

// Whether an obstacle goes with a mow area: both need at least 3 points, and
// every edge of the obstacle lies in the area (boundary allowed), or some
// edge properly crosses the area's boundary, or some piece of an edge runs
// strictly inside the area (their interiors overlap, however they meet).
// An obstacle outside the area, one that only touches it and one that
// encloses it do not.
bool obstacleBelongsToArea(const Polygon& obstacle, const Polygon& areaPerimeter);

// One area run of computeInsetRings.  `fullScene` supplies the obstacles of
// the ring filter; `area` supplies the outlines that are inset.
//
// Guards: an area whose perimeter or one of whose obstacles has a coordinate
// that toGrid rejects gives no rings.  A run without a lap limit ends after
// the first inset when the spacing cannot shrink the outline (not finite or
// below kMinimumSpacing).  A run stops when it holds more than kRingCap
// rings or has made kRingCap + 1 inset steps, and when a step cannot be
// computed on the grid (a NaN or endless growth, or outlines that would
// leave Clipper2's range); an endless or oversized inset leaves nothing.
// The region inset is always the perimeter less the obstacles, also when an
// obstacle reaches above the perimeter.  With `stepEnds`, the number of
// rings held after each completed inset step is appended to it.
//
// From an inset step whose outlines have `threadCorners` corners or more on,
// each next step is computed on a second thread while the gap rings of the
// step before are found (the same calls, the same rings).
std::vector<Ring> insetArea(const Environment& fullScene, const Environment& area,
                            std::int32_t lapCount, double spacing, double firstInset,
                            std::vector<std::size_t>* stepEnds = nullptr,
                            std::size_t threadCorners = kInsetThreadCorners,
                            RingUse use = RingUse::Laps);

}  // namespace Planner
