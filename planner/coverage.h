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
// per quarter circle.  Computed on a grid of 1 / kCoverageGridScale metres
// (a large area in columns, joined again: where an outline crosses from one
// to the next, its corner may move by half a grid unit).  Outer rings come
// counter-clockwise, holes clockwise.
std::vector<AreaPart> unsweptParts(const std::vector<Ring>& area,
                                   const std::vector<std::vector<Point>>& lines, double halfWidth,
                                   int arcSegments);

// The unswept parts as unsweptParts gives them, less what is narrower than
// `minWidth` everywhere: their opening by a disc of that diameter (shrunk by
// half of it, grown back, round joins of `arcSegments` chords per quarter
// circle), and the area of the unswept parts before opening (m²).
struct UnsweptGaps {
    std::vector<AreaPart> gaps;
    double unsweptArea = 0.0;
};
UnsweptGaps unsweptGaps(const std::vector<Ring>& area, const std::vector<std::vector<Point>>& lines,
                        double halfWidth, int arcSegments, double minWidth);

}  // namespace Planner
