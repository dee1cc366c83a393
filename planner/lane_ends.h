// Lane ends on the lawn's side of the outlines.  A work area that lies on the
// outlines themselves (an area too small for its inset yields its own
// outlines, or a distance to the border below a millimetre) holds them as
// placed on the 1 mm grid, so a lane may end a fraction of a millimetre
// beyond the lawn's edge or inside an obstacle, where no move can leave it.
#pragma once

#include <vector>

#include "planner/scene.h"

namespace Planner {

// True if the work area lies on the outlines of the working scene rather
// than `distanceToBorder` inside them: its perimeter's first point lies
// nearer to an outline than kLaneEndNearOutline or than half that distance.
bool areaLiesOnOutlines(const Environment& working, const Environment& area,
                        double distanceToBorder);

// Moves every lane end (slices of two points) that lies beyond the working
// perimeter, or inside a working obstacle, farther than kLaneEndBand from
// that outline, along its lane to where the lane enters the lawn; a lane with
// no such place is left as it is.  Slices of other sizes are left alone.
void pullLaneEndsOntoOutlines(const Environment& working, std::vector<LineString>& slices);

}  // namespace Planner
