// The transit search when no search edges are kept, with its line-of-sight
// tests deferred: a move is tested only when the cost it offers could decide
// which record is selected next.  It gives the path, and fills the reach of
// a failed search, exactly as findTransitPath does.
#pragma once

#include <vector>

#include "planner/transit.h"

namespace Planner {

// findTransitPath(context, cache, nullptr, ...) into `path`; false, leaving
// `path` untouched, when this search cannot be run so (nodes within 1 mm of
// each other that do not form groups, of the start or of the target, or
// positions beyond the index limit).
bool findDeferredTransitPath(const TransitContext& context, TransitCache& cache, double startX,
                             double startY, double targetX, double targetY, TransitReach* reach,
                             std::vector<Point>& path);

}  // namespace Planner
