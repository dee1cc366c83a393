// Tolerances and fixed numbers of the planner, in one place.
//
// Every tolerance is an absolute value in metres (or square metres where it
// bounds a cross product); none is scaled by the size of the input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Planner {

// Geometric predicates.
constexpr double kBoundaryTolerance = 1e-9;     // on-boundary tests and segment parameters
constexpr double kParallelTolerance = 1e-10;    // edges counted as parallel
constexpr double kParameterHigh = 0.999999999;  // upper end of the open parameter range
constexpr double kCollinearTolerance = 1e-9;    // collinearity of two segments (cross products)
constexpr double kMergeTolerance = 1e-7;        // equal abscissae, collinear stretches
constexpr double kSamePosition = 0.001;         // two positions counting as one; crossings near ends
constexpr double kSightShrink = 0.01;           // end shrink and minimum length of the sight test
constexpr double kPieceBoundaryBand = 1e-7;     // a piece of a move this close to an outline runs along it
constexpr double kCrossingDepth = 0.001;        // a move deeper than this in an obstacle runs through it
constexpr double kChordDepth = 1e-8;            // convex obstacles: least depth of a corners' midpoint ...
constexpr double kChordCross = 2e-9;            // ... and that depth times an edge's length (m2)
constexpr double kEdgeSealDepth = 0.01;         // strip beyond the lawn's edge sealing an obstacle against it

// Lanes.
constexpr double kScanlineHalfWidth = 1000.0;   // the scanline runs from -1000 to +1000 ...
constexpr double kScanlineMargin = 1.0;         // ... or past the scene's extent by this much
constexpr double kScanlineParamTolerance = 1e-9;
constexpr double kScanlineParamHigh = 1.000000001;
constexpr double kMinimumSpacing = 0.001;       // lane and lap spacings below this give nothing
constexpr std::size_t kMaxLanesPerPass = 100000;  // a pass that would need more lanes lays none
constexpr double kLaneEndNearOutline = 0.002;   // a work area this near the outlines lies on them
constexpr double kLaneEndBand = 1e-6;           // a lane end this far on the wrong side of an
                                                // outline is moved onto it

// Ordering and transit.
constexpr double kNoChoiceDistance = 1e10;      // "best so far" at the start of a scan
constexpr double kRingEntrySearchStart = 1e18;  // minimum at the start of the ring re-entry scan
constexpr double kWireCostMultiplier = 0.1;     // consecutive virtual-wire points
constexpr double kWireHeuristicFactor = 0.65;   // heuristic on virtual-wire points

// Integer grid of the offsetting stage.
constexpr double kGridScale = 1000.0;           // metres to integer units (one unit is 1 mm)
constexpr double kGapInsetFactor = 0.85;        // gap areas are inset by 0.85 x spacing
constexpr std::size_t kRingCap = 5000;          // an area run stops beyond this many rings
constexpr double kLapFirstInset = 0.001;        // first inset of laps and of the ring pattern
constexpr double kRingInsideBand = 0.0005;      // a ring whose first point lies inside an obstacle
                                                // lies inside it unless some part of it leaves
                                                // the obstacle by more than this
constexpr std::size_t kLapThreadCorners = 100;  // scenes this large lay laps on a second thread
constexpr std::size_t kInsetThreadCorners = 2000;  // outlines this large are inset on a second
                                                   // thread while their gap rings are found
constexpr double kMergeSimplify = 0.0015;       // merged obstacles: vertices this near their neighbours'
                                                // line go (clipped mow areas this thin, too) ...
constexpr double kMergeGrowth = 0.001;          // ... and they grow by this: slivers up to twice it close
constexpr double kSliverGap = 0.002;           // obstacles this near, not touching, are merged as
                                                // touching ones are (twice kMergeGrowth) ...
constexpr double kSliverBridgeReach = 0.003;   // ... joined where both come within this (a grid
                                                // unit more, for the rounding onto it)
constexpr double kMergeMiterLimit = 4.0;        // ... corners down to about 30 degrees keep their tips
constexpr double kPinchSealHalfSize = 0.01;     // outlines meeting at a point: a square this big closes it
constexpr double kPinchAngleTolerance = 1e-9;   // sectors round such a point narrower than this are shut
constexpr double kPocketMinWidth = 0.0015;      // lawn enclosed by obstacles is kept when an inset by
                                                // this leaves some of it (thinner pockets fill)
constexpr double kIslandBoxPad = 1e-6;          // work areas: a hole's box grown by this holds an island's
constexpr double kPocketCutOverlap = 0.002;     // an obstacle round a pocket is cut into pieces that
                                                // overlap by twice this
constexpr double kCrossingSlack = 0.001;        // a vertex where outlines cross (placed on the grid by
                                                // truncation) this far on the wrong side of an outline
                                                // as given is placed anew from a finer grid ...
constexpr std::int64_t kFineGridFactor = 1000;  // ... of this many units a grid unit (1 um)

// Rotation by a quarter turn for the second lane set of "squares":
// cos 90 degrees as evaluated in double precision; sin 90 degrees is exactly 1.
constexpr double kCosQuarterTurn = 6.123233995736766e-17;

}  // namespace Planner

namespace Planner {

// Indexes of the ordering stage and the transit search: they change no
// result, only how soon it comes.
constexpr double kIndexCoordinateLimit = 1e5;  // scenes reaching beyond this are searched without
constexpr double kInnerDiscDepth = 0.006;      // transit: a move from or to a convex obstacle's corner
                                               // whose midpoint lies this deep in the obstacle (more
                                               // than half kSightShrink) is known to be blocked
constexpr std::size_t kReachGridMinRings = 8;   // start reach: areas of this many rings get a grid ...
constexpr double kReachGridMaxSide = 64.0;      // ... of at most this many cells along a side
constexpr double kLaneBoxPad = 0.01;           // lanes: rings and edges this far from a lane are skipped
constexpr double kRingFilterBoxPad = 1e-6;     // ring filter: obstacles whose box, grown by this ...
constexpr double kRingFilterBoxShare = 1e-12;  // ... and this share of its largest coordinate, does not
                                               // hold a ring's first point are skipped
constexpr std::size_t kLaneSweepMinEdges = 16;  // lanes: rings of this many edges list those near a lane
constexpr double kSightCellMargin = 0.01;      // an edge is listed in every cell it comes this near
constexpr double kSightQueryPad = 0.001;       // cells this near a move are visited
constexpr double kShortEdgeLength = 1e-4;      // edges shorter than this are always tested
constexpr double kMinNonParallelSine = 1e-6;   // least sine of an edge that counts as not parallel
constexpr double kMaxNonParallelSine = 1e-2;   // moves that would need more get the full test
constexpr double kNodeGridLimit = 1e12;        // node positions beyond this are matched by scanning
constexpr double kSightPointPad = 1e-6;        // point lookups visit the cells this near the point
constexpr double kSightBandPad = 1e-6;         // bands list the perimeter edges this near them
constexpr std::uint32_t kRingBlockEdges = 16;      // ring bands: consecutive edges per x-range block ...
constexpr std::uint32_t kRingBlockMinBandEdges = 48;  // ... in bands of at least this many edges
constexpr double kRingBlockRelativeSlack = 1e-12;  // blocks skipped this far beyond x, times max |x| ...
constexpr double kRingBlockMaxCoordinate = 1e100;  // ... in rings whose coordinates stay within this
constexpr std::size_t kSightCellsPerEdge = 2;  // grid size: about this many cells per edge ...
constexpr std::int64_t kSightGridMaxSide = 4096;  // ... at most this many along a side ...
constexpr double kSightGridMinCell = 0.05;     // ... and cells no smaller than this
constexpr std::size_t kManyCorners = 48;      // sight: obstacles this large are looked at edge by edge
constexpr std::size_t kTransitThreadCorners = 1000;  // scenes this large plan their order first
                                                    // and run its searches on two threads
constexpr std::uint32_t kPointTreeLeafSize = 8;  // points in a leaf of the ordering stage's tree
constexpr std::size_t kHeapSlack = 4;          // transit: heap entries per node before stale ones go
constexpr std::uint32_t kDirectionSectors = 1024;  // transit: moves sorted by direction into this many
constexpr std::size_t kRecomputeBatch = 32;   // transit: moves costed at once when a key is recomputed,
constexpr std::size_t kRecomputeOrdered = 96;  // ... taken in order up to this many, then all tested
constexpr double kBelowHalfRoot2 = 0.7071067;  // transit: below 1 / sqrt(2) by far more than rounding
constexpr std::size_t kSightAnswerPiece = 256;  // transit: sight answers kept in pieces of this many nodes
constexpr std::size_t kNodeBlock = 32;    // transit: an expansion skips blocks of this many nodes at once
constexpr std::size_t kClosedBlock = 32;  // transit: a key recompute bounds the closed records so many at once
// Free regions (searches that cannot succeed), on a grid of 10 micrometres
// a unit: the lawn is grown and each obstacle shrunk by the margin (above
// the sight test's tolerances and the grid's rounding, below half the
// overlap of the pieces round a pocket), what is left grown by the reach
// with round joins of chords no more than the arc tolerance inside the arc
// (the reach less that stays above the end shrink); a move shorter than the
// short-move reach may join any two positions.
constexpr double kRegionGridScale = 1e5;
constexpr double kRegionGridLimit = 1e15;
constexpr double kRegionMargin = 0.0002;
constexpr double kRegionReach = 0.011;
constexpr double kRegionArcTolerance = 0.0007;
constexpr double kRegionBoxPad = 1e-6;
constexpr double kRegionFrameAngles[] = {0.31, 0.73, 1.13};  // radians: turned frames the regions may take
constexpr double kRegionFrameWorkPerEdge = 32.0;  // regions keep the scene's frame below this sweep work per edge
constexpr double kRegionFrameGain = 2.0;         // ... or unless a turned frame needs this many times less
constexpr double kShortMoveReach = 0.0101;
constexpr std::int32_t kReachMaxBands = 4096;  // bands of a region's ring for point tests

}  // namespace Planner

namespace Planner {

// Coverage (the area the mowing passes sweep): integer grid of its offsetting
// and clipping, 10 micrometres a unit.
constexpr double kCoverageGridScale = 1e5;
constexpr long kCoverageDirections = 360;  // straight lines are swept in groups by direction
// A large area less the strips is clipped in columns of about this many
// corners, at most kCoverageMaxColumns of them.
constexpr std::size_t kCoverageColumnCorners = 6000;
constexpr std::size_t kCoverageMaxColumns = 8;
// The opening that tells gaps from slivers draws its disc with this many
// chords per quarter circle: it gauges a width, so a coarse disc does.
constexpr int kOpeningArcSegments = 2;

}  // namespace Planner
