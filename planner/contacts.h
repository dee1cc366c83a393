// Scene normalisation, where obstacles meet the lawn's edge or one another
// at a point: repairs run by normaliseScene (normalise.h) before the union
// of touching obstacles.  A scene without these cases is left exactly as it
// was, bit for bit.
#pragma once

#include "planner/scene.h"

namespace Planner {

// Drops every obstacle that has nothing on the lawn (on the 1 mm grid: its
// area and the lawn's do not overlap): it cannot change where the mower
// goes, and neighbours outside the lawn must not enclose lawn or turn the
// offsetting group round.
void dropObstaclesOffLawn(Environment& scene);

// Where outlines meet at a single point and leave the free lawn around it in
// two or more separate sectors (a bed touching the lawn's edge at a vertex,
// two beds meeting tip to tip), a square of half-size kPinchSealHalfSize
// centred there is added as an obstacle: the union of touching obstacles
// then takes it in, so the point is closed as a shared edge is.
void sealPinchPoints(Environment& scene);

}  // namespace Planner
