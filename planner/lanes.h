// Lane generator: fills a work area with horizontal lanes (in the lane frame).
#pragma once

#include <vector>

#include "planner/scene.h"

namespace Planner {

// The horizontal segment used as the scanline of one lane: from (left, y) to
// (right, y).
struct ScanRange {
    double left = -1000.0;
    double right = 1000.0;
};

// The scanline runs from -1000 to +1000; a scene whose finite x-range reaches
// beyond that gets a scanline covering its whole extent instead.
ScanRange scanRangeFor(const Environment& area);

// Appends the abscissae at which the scanline y = const (from range.left to
// range.right) meets the ring: proper and end-point crossings of each edge,
// and both ends of an edge lying on the scanline.
void scanlineIntersections(const std::vector<Point>& ring, double y, std::vector<double>& xs,
                           const ScanRange& range = ScanRange());

// One pass of horizontal lanes at spacing `spacing`, lowest lane first, each
// lane left to right.  A spacing that is not finite or below 1 mm gives none.
std::vector<LineString> generateSlices(const Environment& area, double spacing);

}  // namespace Planner
