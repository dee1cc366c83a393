// Scene normalisation: the garden as people draw it, made into the garden the
// stages expect.  Run once on the working copy in the lane frame, before any
// stage, by the pipeline (and by the straightforward reference planner).
//
// Each repair runs only when its case is present; a scene without these
// cases is left exactly as it was, bit for bit.
#pragma once

#include "planner/scene.h"

namespace Planner {

// Drops every virtual-wire point that lies within kSamePosition of the wire
// point kept before it: a repeated point would otherwise break the chain of
// consecutive wire points that the transit search follows.
void dropRepeatedWirePoints(LineString& wire);

// All repairs, in order.
void normaliseScene(Environment& scene);

}  // namespace Planner
