// Geometric predicates shared by the planning stages.
//
// A ring of fewer than 3 points counts as empty in every containment and
// crossing test: no point is inside it, no segment crosses or lies in it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "planner/constants.h"
#include "planner/scene.h"

namespace Planner {

// Euclidean distance, taken as sqrt(dx*dx + dy*dy).
inline double distanceBetween(double ax, double ay, double bx, double by) {
    const double dx = bx - ax;
    const double dy = by - ay;
    return std::sqrt(dx * dx + dy * dy);
}

inline double distanceBetween(const Point& a, const Point& b) {
    return distanceBetween(a.x, a.y, b.x, b.y);
}

// An axis-aligned box: [x0, x1] x [y0, y1].
struct Box {
    double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;
};

inline Box boxOf(const Point& p, const Point& q) {
    return Box{std::min(p.x, q.x), std::min(p.y, q.y), std::max(p.x, q.x), std::max(p.y, q.y)};
}

// The box of a ring of at least one point.
inline Box boxOf(const std::vector<Point>& ring) {
    Box b = boxOf(ring.front(), ring.front());
    for (const Point& p : ring) {
        b.x0 = std::min(b.x0, p.x);
        b.y0 = std::min(b.y0, p.y);
        b.x1 = std::max(b.x1, p.x);
        b.y1 = std::max(b.y1, p.y);
    }
    return b;
}

// True if both coordinates lie within kIndexCoordinateLimit (NaN does
// not): the indexes rely on this bound.
inline bool withinIndexLimit(double x, double y) {
    return std::fabs(x) <= kIndexCoordinateLimit && std::fabs(y) <= kIndexCoordinateLimit;
}

// True if every point of the ring lies within kIndexCoordinateLimit.
inline bool withinIndexLimit(const std::vector<Point>& ring) {
    for (const Point& p : ring) {
        if (!withinIndexLimit(p.x, p.y)) return false;
    }
    return true;
}

// distanceBetween(ax, ay, bx, by) > kSamePosition.  sqrt(x * x) rounds back
// to |x| and rounding keeps order, so the distance is at least the larger
// difference along an axis: beyond kSamePosition that settles it.
inline bool fartherThanSamePosition(double ax, double ay, double bx, double by) {
    if (std::fabs(bx - ax) > kSamePosition || std::fabs(by - ay) > kSamePosition) return true;
    return distanceBetween(ax, ay, bx, by) > kSamePosition;
}

// Even-odd test with a ray towards +x; the boundary counts as inside.
bool isPointInPolygon(const std::vector<Point>& ring, double x, double y);

// As isPointInPolygon, but the boundary counts as outside.
bool isPointStrictlyInPolygon(const std::vector<Point>& ring, double x, double y);

// True if AB properly crosses an edge of the ring, more than 1 mm from A and B.
bool segmentCrossesPolygon(const std::vector<Point>& ring, double ax, double ay, double bx,
                           double by);

// True (and two points appended to `out`, smaller first in lexicographic
// order) if AB and EF are collinear and share a stretch of positive length.
bool getCollinearOverlap(std::vector<Point>& out, double ax, double ay, double bx, double by,
                         double ex, double ey, double fx, double fy);

// True if AB lies inside the ring, boundary allowed.
bool isSegmentInPolygon(const std::vector<Point>& ring, double ax, double ay, double bx, double by);

// Line of sight: true if the mower may drive straight from A to B inside the
// lawn without entering an obstacle.  Reads the perimeter and the obstacles.
bool isSegmentFree(const Environment& environment, double ax, double ay, double bx, double by);

// For a strictly convex ring, every point within kIndexCoordinateLimit: a
// number of corners A such that the midpoint of any two corners at least A
// apart along the ring (both ways), computed as the line-of-sight test
// computes it, lies strictly inside it (isPointStrictlyInPolygon), at least
// kChordDepth from the line of every edge, and that far times the edge's
// length (what the on-boundary test measures) at least kChordCross; 0 for
// other rings, or where no A up to a quarter of the corners is found.  A
// move between two such corners, no shorter than kSightShrink, is never
// free.
std::size_t chordApart(const std::vector<Point>& ring);

// For a convex ring: a disc whose every point lies at least `depth` inside
// the line of each edge, so strictly inside the ring.  Centred on the mean
// of the corners; its radius is the least distance from there to an edge's
// line less `depth`, and a margin for the rounding of both, below 0 when
// there is no such disc.  Only for rings within kIndexCoordinateLimit.
double innerDiscRadius(const std::vector<Point>& ring, double depth, Point& centre);

// True if some piece of AB between two meetings with the ring has its
// midpoint strictly inside the ring (strictlyInside) or outside it
// (otherwise), farther than kPieceBoundaryBand from the outline: pieces that
// run along the outline, up to rounding, never count.  `params` is scratch.
bool somePieceLies(const std::vector<Point>& ring, double ax, double ay, double bx, double by,
                   bool strictlyInside, std::vector<double>& params);

// True if the stretch AB of a move runs inside the obstacle ring: some
// piece of AB between two meetings with the outline has its midpoint
// strictly inside it, deeper than kCrossingDepth (outlines placed on the
// 1 mm grid are no deeper than that).  No move runs that deep in an
// obstacle, not even one that starts or ends in it: a point inside an
// obstacle (a virtual-wire point drawn into a wall) is left only along the
// wire.  The line-of-sight test uses it for the stretches within the end
// shrink of a move and for moves shorter than the shrink, so that no move
// crosses a thin fence.
bool stretchCrossesObstacle(const std::vector<Point>& ring, double ax, double ay, double bx,
                            double by, std::vector<double>& params);

// True if the stretch AB of a move leaves the lawn: some piece of AB between
// two meetings with the perimeter has its midpoint outside it, farther than
// kCrossingDepth from it, other than the run of such pieces at an end of the
// move (startIsMoveEnd, endIsMoveEnd) that itself lies that far outside (a
// dock beyond the lawn's edge drives in).  Only the perimeter edges near the
// stretch (edgeNearStretch) are met.  The line-of-sight test uses it for the
// stretches within the end shrink of a move and for moves shorter than it.
bool stretchLeavesLawn(const std::vector<Point>& perimeter, double ax, double ay, double bx,
                       double by, bool startIsMoveEnd, bool endIsMoveEnd,
                       std::vector<double>& params);

// Where a move starting at (x, y), deeper than kCrossingDepth inside an
// obstacle but no deeper than kSightShrink, leaves it by the shortest way:
// the nearest point of that obstacle's outline, when it lies on the free
// lawn (in no other obstacle, not beyond the lawn, by more than
// kCrossingDepth).  False (and `exit` unchanged) for any other point.  The
// ordering stage drives there from the start before anything else.
bool wayOutOfObstacle(const Environment& environment, double x, double y, Point& exit);

// ---- Steps on one ring edge P -> Q, shared by the predicates above and the
// indexed line-of-sight test (planner/sight_test.h), so that both evaluate
// the same arithmetic.

inline bool insideOpenParameterRange(double v) {
    return v > kBoundaryTolerance && v < kParameterHigh;
}

// One edge of the even-odd test, the edge from point j to point i: true if
// (x, y) lies on it; otherwise flips `inside` when the ray towards +x
// crosses it.
inline bool pointEdgeStep(double xi, double yi, double xj, double yj, double x, double y,
                          bool& inside) {
    const double c = (y - yi) * (xj - xi) - (x - xi) * (yj - yi);
    if (std::fabs(c) < kBoundaryTolerance &&
        std::min(xi, xj) - kBoundaryTolerance <= x &&
        x <= std::max(xi, xj) + kBoundaryTolerance &&
        std::min(yi, yj) - kBoundaryTolerance <= y &&
        y <= std::max(yi, yj) + kBoundaryTolerance) {
        return true;
    }
    if ((yi > y) != (yj > y)) {
        const double xc = (y - yi) * (xj - xi) / (yj - yi) + xi;
        if (x < xc) inside = !inside;
    }
    return false;
}


// One edge of segmentCrossesPolygon: AB (d = B - A) properly crosses P -> Q
// more than 1 mm from A and B.
inline bool edgeCrossesSegment(const Point& p, const Point& q, double ax, double ay, double bx,
                               double by, double dx, double dy) {
    const double ex = q.x - p.x;
    const double ey = q.y - p.y;
    const double den = ey * dx - ex * dy;
    if (std::fabs(den) < kParallelTolerance) return false;
    const double t = ((ay - p.y) * dx - (ax - p.x) * dy) / den;
    if (!insideOpenParameterRange(t)) return false;
    const double s = (ex * (ay - p.y) - ey * (ax - p.x)) / den;
    if (!insideOpenParameterRange(s)) return false;
    const double ix = ax + s * dx;
    const double iy = ay + s * dy;
    return fartherThanSamePosition(ix, iy, ax, ay) && fartherThanSamePosition(ix, iy, bx, by);
}

// One edge of isSegmentInPolygon: AB (d = B - A) and P -> Q cross inside
// both open parameter ranges.
inline bool edgeCutsSegment(const Point& p, const Point& q, double ax, double ay, double dx,
                            double dy) {
    const double ex = q.x - p.x;
    const double ey = q.y - p.y;
    const double den = dx * ey - ex * dy;
    if (std::fabs(den) < kParallelTolerance) return false;
    const double t = ((ay - p.y) * dx - (ax - p.x) * dy) / den;
    const double s = (ex * (ay - p.y) - ey * (ax - p.x)) / den;
    return insideOpenParameterRange(t) && insideOpenParameterRange(s);
}

// One edge of ringMeetings (below).
inline void edgeMeetings(const Point& p, const Point& q, double ax, double ay, double dx, double dy,
                         double dd, std::vector<double>& params) {
    auto add = [&params](double s) {
        if (s > 0.0 && s < 1.0) params.push_back(s);
    };
    const double ex = q.x - p.x;
    const double ey = q.y - p.y;
    const double den = ey * dx - ex * dy;
    if (std::fabs(den) < kParallelTolerance) {
        add(((p.x - ax) * dx + (p.y - ay) * dy) / dd);
        add(((q.x - ax) * dx + (q.y - ay) * dy) / dd);
        return;
    }
    const double t = ((ay - p.y) * dx - (ax - p.x) * dy) / den;
    if (!(t >= -kBoundaryTolerance && t <= 1.0 + kBoundaryTolerance)) return;
    add((ex * (ay - p.y) - ey * (ax - p.x)) / den);
}

// Distance from (x, y) to the edge P -> Q.
inline double edgeDistance(const Point& p, const Point& q, double x, double y) {
    const double ex = q.x - p.x;
    const double ey = q.y - p.y;
    const double ee = ex * ex + ey * ey;
    double t = ee > 0.0 ? ((x - p.x) * ex + (y - p.y) * ey) / ee : 0.0;
    t = std::min(1.0, std::max(0.0, t));
    return distanceBetween(x, y, p.x + t * ex, p.y + t * ey);
}

// Distance from (x, y) to the nearest edge of the closed ring.
double outlineDistance(const std::vector<Point>& ring, double x, double y);

// Parameters along AB (0 at A, 1 at B) at which AB meets the ring: where it
// crosses or touches an edge's supporting line within the edge, and the

// The pieces of AB (d = B - A) between the sorted-to-be meeting parameters
// `params` (sorted in place): true if the midpoint of one is strictly inside
// the ring (strictlyInside) or outside it (otherwise), farther than
// kPieceBoundaryBand from the outline.
bool piecesLie(const std::vector<Point>& ring, double ax, double ay, double dx, double dy,
               bool strictlyInside, std::vector<double>& params);

// True if the edge P -> Q comes within kSamePosition of the stretch AB (or
// crosses it): the edges a stretch within the end shrink is met by.
inline bool edgeNearStretch(const Point& p, const Point& q, double ax, double ay, double bx,
                            double by) {
    if (std::min(p.x, q.x) > std::max(ax, bx) + kSamePosition ||
        std::max(p.x, q.x) < std::min(ax, bx) - kSamePosition ||
        std::min(p.y, q.y) > std::max(ay, by) + kSamePosition ||
        std::max(p.y, q.y) < std::min(ay, by) - kSamePosition)
        return false;
    const Point a(ax, ay);
    const Point b(bx, by);
    if (edgeDistance(p, q, ax, ay) <= kSamePosition || edgeDistance(p, q, bx, by) <= kSamePosition ||
        edgeDistance(a, b, p.x, p.y) <= kSamePosition || edgeDistance(a, b, q.x, q.y) <= kSamePosition)
        return true;
    const double ex = q.x - p.x;
    const double ey = q.y - p.y;
    const double dx = bx - ax;
    const double dy = by - ay;
    const double sa = ex * (ay - p.y) - ey * (ax - p.x);
    const double sb = ex * (by - p.y) - ey * (bx - p.x);
    const double sp = dx * (p.y - ay) - dy * (p.x - ax);
    const double sq = dx * (q.y - ay) - dy * (q.x - ax);
    return ((sa < 0.0) != (sb < 0.0)) && ((sp < 0.0) != (sq < 0.0));
}

// The pieces of AB between the meeting parameters `params` (sorted in
// place), each judged by its midpoint with `deep` (x, y): true if a deep
// piece lies outside the run of deep pieces at A (when startExempt and A
// itself is deep) and the run at B (when endExempt and B is).
template <class Deep>
bool deepPieceBeyondEndRuns(std::vector<double>& params, double ax, double ay, double bx,
                            double by, bool startExempt, bool endExempt, Deep&& deep) {
    std::sort(params.begin(), params.end());
    const double dx = bx - ax;
    const double dy = by - ay;
    bool leadingRun = startExempt && deep(ax, ay);
    bool pendingRun = false;
    for (std::size_t k = 1; k < params.size(); ++k) {
        if (!(params[k] > params[k - 1])) continue;
        const double s = (params[k - 1] + params[k]) * 0.5;
        if (deep(ax + s * dx, ay + s * dy)) {
            if (!leadingRun) pendingRun = true;
        } else {
            if (pendingRun) return true;
            leadingRun = false;
        }
    }
    return pendingRun && !(endExempt && deep(bx, by));
}

}  // namespace Planner
