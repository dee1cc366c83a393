// Coverage: what of an area the mowing passes leave unswept.  Not a stage of
// planning: it reads a plan's pieces and changes nothing.
#pragma once

#include <vector>

#include "planner/scene.h"

namespace Planner {

// One part of an area: its outline and its holes.
struct AreaPart {
    Ring outer;
    std::vector<Ring> holes;
};

// The parts of `area` (rings of outlines and holes, told apart by even-odd
// nesting) that no line sweeps when a strip `halfWidth` to either side of it
// is swept, with round ends and joins drawn as arcs of `arcSegments` chords
// per quarter circle.  Computed on a grid of 1 / kCoverageGridScale metres.
// Outer rings come counter-clockwise, holes clockwise.
std::vector<AreaPart> unsweptParts(const std::vector<Ring>& area,
                                   const std::vector<std::vector<Point>>& lines, double halfWidth,
                                   int arcSegments);

}  // namespace Planner
