// Offsetting stage: work areas, border laps and concentric rings, computed
// with Clipper2 on a 1 mm integer grid.
#pragma once

#include <cstdint>
#include <climits>
#include <vector>

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

// Insets the perimeter and grows the obstacles of `scene` step by step and
// returns every outline: outer outlines counter-clockwise, holes clockwise.
// `lapCount` <= 0 means no limit.  With mow areas the scene is handled mow
// area by mow area, each with the obstacles that belong to it.
std::vector<Ring> computeInsetRings(const Environment& scene, std::int32_t lapCount,
                                    double spacing, double firstInset);

// One area run of computeInsetRings.  `fullScene` supplies the obstacles of
// the ring filter; `area` supplies the outlines that are inset.
std::vector<Ring> insetArea(const Environment& fullScene, const Environment& area,
                            std::int32_t lapCount, double spacing, double firstInset);

}  // namespace Planner
