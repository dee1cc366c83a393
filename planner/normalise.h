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

// Obstacles whose outline lies along the lawn's edge, on the lawn's side, get
// a strip kEdgeSealDepth deep beyond that edge (outside the lawn), so that no
// move runs between the obstacle and the lawn's edge.  Points inside the lawn
// are kept exactly.
void sealObstaclesAgainstPerimeter(Environment& scene);

// Obstacles that overlap or touch one another (outlines crossing or meeting,
// or one inside another) are replaced by their union, and a self-intersecting
// obstacle by all the area it encloses; enclosed holes are filled unless
// they hold lawn: the union round such a pocket is cut into pieces that
// overlap, so that the pocket stays lawn.  The
// union is taken on the 1 mm grid and grown by kMergeGrowth, which seals
// slivers that the grid may leave between touching obstacles; it stands in
// the place of the group's first obstacle; other obstacles keep their places
// and points.
void mergeObstacles(Environment& scene);

// Mow areas that reach beyond the lawn are clipped to it (on the 1 mm grid);
// one that leaves several pieces becomes several mow areas, one with nothing
// on the lawn an empty mow area.
void clipMowAreasToLawn(Environment& scene);

// All repairs, in order.
void normaliseScene(Environment& scene);

}  // namespace Planner
