#include "planner/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "planner/constants.h"

namespace Planner {

namespace {

// Shared body of the two point-in-ring tests; `boundaryResult` is what a
// point on the boundary gives.
bool pointInRing(const std::vector<Point>& ring, double x, double y, bool boundaryResult) {
    const std::size_t n = ring.size();
    if (n < 3) return false;
    bool inside = false;
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        if (pointEdgeStep(ring[i].x, ring[i].y, ring[j].x, ring[j].y, x, y, inside))
            return boundaryResult;
    }
    return inside;
}

// Parameters along AB (0 at A, 1 at B) at which AB meets the ring: where it
// crosses or touches an edge's supporting line within the edge, and the
// projections of the ends of edges parallel to it.  Between two consecutive
// parameters AB lies wholly on one side of the ring's boundary.
void ringMeetings(const std::vector<Point>& ring, double ax, double ay, double bx, double by,
                  std::vector<double>& params) {
    const std::size_t n = ring.size();
    const double dx = bx - ax;
    const double dy = by - ay;
    const double dd = dx * dx + dy * dy;
    for (std::size_t i = 0; i < n; ++i) {
        edgeMeetings(ring[i], ring[(i + 1) % n], ax, ay, dx, dy, dd, params);
    }
}

}  // namespace

double outlineDistance(const std::vector<Point>& ring, double x, double y) {
    const std::size_t n = ring.size();
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < n; ++i)
        best = std::min(best, edgeDistance(ring[i], ring[(i + 1) % n], x, y));
    return best;
}

bool piecesLie(const std::vector<Point>& ring, double ax, double ay, double dx, double dy,
               bool strictlyInside, std::vector<double>& params) {
    std::sort(params.begin(), params.end());
    for (std::size_t k = 1; k < params.size(); ++k) {
        if (!(params[k] > params[k - 1])) continue;
        const double s = (params[k - 1] + params[k]) * 0.5;
        const double x = ax + s * dx;
        const double y = ay + s * dy;
        const bool wrongSide =
            strictlyInside ? isPointStrictlyInPolygon(ring, x, y) : !isPointInPolygon(ring, x, y);
        if (wrongSide && outlineDistance(ring, x, y) > kPieceBoundaryBand) return true;
    }
    return false;
}

bool somePieceLies(const std::vector<Point>& ring, double ax, double ay, double bx, double by,
                   bool strictlyInside, std::vector<double>& params) {
    params.clear();
    params.push_back(0.0);
    params.push_back(1.0);
    ringMeetings(ring, ax, ay, bx, by, params);
    return piecesLie(ring, ax, ay, bx - ax, by - ay, strictlyInside, params);
}


// A strictly convex ring turns one way at every corner and once round in
// all; the distance of its corners from the line of an edge then rises and
// falls once along the ring, so of the corners at least r steps beyond both
// ends of the edge the two exactly r steps beyond are nearest that line.
// The midpoint of two corners lies, from every edge line, at half the sum of
// their distances, and of two corners at least 2r apart one lies r steps
// beyond both ends of any edge (r >= 1).  Rounding of the midpoint and of
// the on-boundary and crossing arithmetic stays far below kChordDepth within
// kIndexCoordinateLimit; the on-boundary test's own error grows with the
// ring's size and the edge's length, and is added to kChordCross.
std::size_t chordApart(const std::vector<Point>& ring) {
    const std::size_t n = ring.size();
    if (n < 4 || !withinIndexLimit(ring)) return 0;
    double area = 0.0;
    const Box box = boxOf(ring);
    const double size = distanceBetween(box.x0, box.y0, box.x1, box.y1);
    for (std::size_t i = 0; i < n; ++i) {
        const Point& p = ring[i];
        const Point& q = ring[(i + 1) % n];
        area += p.x * q.y - q.x * p.y;
    }
    if (!(area != 0.0)) return 0;
    const double side = area > 0.0 ? 1.0 : -1.0;
    constexpr double kRounding = 8.0 * 1.1102230246251565e-16;
    // Signed distance of corner v from the line of edge i, positive inside.
    auto distance = [&](std::size_t i, std::size_t v) {
        const Point& p = ring[i];
        const Point& q = ring[(i + 1) % n];
        const double ex = q.x - p.x;
        const double ey = q.y - p.y;
        return side * (ex * (ring[v].y - p.y) - ey * (ring[v].x - p.x)) /
               std::sqrt(ex * ex + ey * ey);
    };
    double turning = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const Point& p = ring[i];
        const Point& q = ring[(i + 1) % n];
        const Point& after = ring[(i + 2) % n];
        const double ex = q.x - p.x;
        const double ey = q.y - p.y;
        const double fx = after.x - q.x;
        const double fy = after.y - q.y;
        if (!(ex * ex + ey * ey > 0.0) || !(distance(i, (i + 2) % n) > 0.0)) return 0;
        turning += std::atan2(side * (ex * fy - ey * fx), ex * fx + ey * fy);
    }
    // Each turn lies in (0, pi): a ring winding more than once turns by a
    // further whole turn at least.
    if (!(std::fabs(turning - 6.283185307179586) < 1.0)) return 0;
    for (std::size_t r = 1; 2 * r <= n / 2; r = r < 4 ? r + 1 : 2 * r) {
        bool deep = true;
        for (std::size_t i = 0; i < n && deep; ++i) {
            const Point& p = ring[i];
            const Point& q = ring[(i + 1) % n];
            const double length = distanceBetween(p, q);
            const double least =
                std::min(distance(i, (i + 1 + r) % n), distance(i, (i + n - r) % n)) / 2.0;
            deep = least >= kChordDepth && least * length >= kChordCross + kRounding * size * length;
        }
        if (deep) return 2 * r;
    }
    return 0;
}

double innerDiscRadius(const std::vector<Point>& ring, double depth, Point& centre) {
    const std::size_t n = ring.size();
    centre = Point{0.0, 0.0};
    if (n < 3 || !withinIndexLimit(ring)) return -1.0;
    double area = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const Point& p = ring[i];
        const Point& q = ring[(i + 1) % n];
        area += p.x * q.y - q.x * p.y;
        centre.x += p.x;
        centre.y += p.y;
    }
    if (!(area != 0.0)) return -1.0;
    centre.x /= static_cast<double>(n);
    centre.y /= static_cast<double>(n);
    const double side = area > 0.0 ? 1.0 : -1.0;
    double least = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < n; ++i) {
        const Point& p = ring[i];
        const Point& q = ring[(i + 1) % n];
        const double ex = q.x - p.x;
        const double ey = q.y - p.y;
        const double length = std::sqrt(ex * ex + ey * ey);
        if (!(length > 0.0)) return -1.0;
        least = std::min(least, side * (ex * (centre.y - p.y) - ey * (centre.x - p.x)) / length);
    }
    // Within the index limit the distances and the midpoints' distances to
    // the centre are off by far less than this.
    constexpr double kRoundingMargin = 1e-6;
    return least - depth - kRoundingMargin;
}

bool isPointInPolygon(const std::vector<Point>& ring, double x, double y) {
    return pointInRing(ring, x, y, true);
}

bool isPointStrictlyInPolygon(const std::vector<Point>& ring, double x, double y) {
    return pointInRing(ring, x, y, false);
}

bool segmentCrossesPolygon(const std::vector<Point>& ring, double ax, double ay, double bx,
                           double by) {
    const std::size_t n = ring.size();
    if (n < 3) return false;
    const double dx = bx - ax;
    const double dy = by - ay;
    for (std::size_t i = 0; i < n; ++i) {
        if (edgeCrossesSegment(ring[i], ring[(i + 1) % n], ax, ay, bx, by, dx, dy)) return true;
    }
    return false;
}

bool getCollinearOverlap(std::vector<Point>& out, double ax, double ay, double bx, double by,
                         double ex, double ey, double fx, double fy) {
    const double dx = bx - ax;
    const double dy = by - ay;
    if (std::fabs((fy - ey) * dx - (fx - ex) * dy) > kCollinearTolerance) return false;
    if (std::fabs((ey - ay) * dx - (ex - ax) * dy) > kCollinearTolerance) return false;

    auto project = [&](double px, double py) { return (px - ax) * dx + (py - ay) * dy; };
    const double pE = project(ex, ey);
    const double pF = project(fx, fy);
    const double lo = std::max(std::min(pE, pF), 0.0);
    const double hi = std::min(std::max(pE, pF), dx * dx + dy * dy);
    if (!(hi - kMergeTolerance > lo)) return false;

    const Point candidates[4] = {{ax, ay}, {bx, by}, {ex, ey}, {fx, fy}};
    Point kept[4];
    std::size_t count = 0;
    for (const Point& c : candidates) {
        const double p = project(c.x, c.y);
        if (!(lo - kMergeTolerance <= p && p <= hi + kMergeTolerance)) continue;
        bool duplicate = false;
        for (std::size_t k = 0; k < count; ++k) {
            if (std::fabs(kept[k].x - c.x) < kMergeTolerance &&
                std::fabs(kept[k].y - c.y) < kMergeTolerance) {
                duplicate = true;
                break;
            }
        }
        if (!duplicate) kept[count++] = c;
    }
    if (count < 2) return false;
    // Lexicographic order (x, then y) of at most four points.
    for (std::size_t i = 1; i < count; ++i) {
        for (std::size_t k = i; k > 0; --k) {
            const Point& a = kept[k - 1];
            const Point& b = kept[k];
            if (!(b.x < a.x || (b.x == a.x && b.y < a.y))) break;
            std::swap(kept[k - 1], kept[k]);
        }
    }
    out.push_back(kept[0]);
    out.push_back(kept[count - 1]);
    return true;
}

bool isSegmentInPolygon(const std::vector<Point>& ring, double ax, double ay, double bx,
                        double by) {
    const std::size_t n = ring.size();
    if (n < 3) return false;
    if (!isPointInPolygon(ring, ax, ay)) return false;
    if (!isPointInPolygon(ring, bx, by)) return false;
    if (!isPointInPolygon(ring, (ax + bx) / 2.0, (ay + by) / 2.0)) return false;
    const double dx = bx - ax;
    const double dy = by - ay;
    for (std::size_t i = 0; i < n; ++i) {
        if (edgeCutsSegment(ring[i], ring[(i + 1) % n], ax, ay, dx, dy)) return false;
    }
    return true;
}

bool stretchCrossesObstacle(const std::vector<Point>& ring, double ax, double ay, double bx,
                            double by, std::vector<double>& params) {
    if (ring.size() < 3) return false;
    const double dx = bx - ax;
    const double dy = by - ay;
    if (!(dx * dx + dy * dy > 0.0)) return false;
    params.clear();
    params.push_back(0.0);
    params.push_back(1.0);
    ringMeetings(ring, ax, ay, bx, by, params);
    return deepPieceBeyondEndRuns(params, ax, ay, bx, by, false, false, [&ring](double x, double y) {
        return isPointStrictlyInPolygon(ring, x, y) && outlineDistance(ring, x, y) > kCrossingDepth;
    });
}

bool stretchLeavesLawn(const std::vector<Point>& perimeter, double ax, double ay, double bx,
                       double by, bool startIsMoveEnd, bool endIsMoveEnd,
                       std::vector<double>& params) {
    const std::size_t n = perimeter.size();
    if (n < 3) return false;
    const double dx = bx - ax;
    const double dy = by - ay;
    const double dd = dx * dx + dy * dy;
    if (!(dd > 0.0)) return false;
    params.clear();
    params.push_back(0.0);
    params.push_back(1.0);
    for (std::size_t i = 0; i < n; ++i) {
        const Point& p = perimeter[i];
        const Point& q = perimeter[(i + 1) % n];
        if (edgeNearStretch(p, q, ax, ay, bx, by)) edgeMeetings(p, q, ax, ay, dx, dy, dd, params);
    }
    return deepPieceBeyondEndRuns(
        params, ax, ay, bx, by, startIsMoveEnd, endIsMoveEnd, [&perimeter](double x, double y) {
            return !isPointInPolygon(perimeter, x, y) &&
                   outlineDistance(perimeter, x, y) > kCrossingDepth;
        });
}

namespace {

// Whether some obstacle holds a crossing of the stretch, or the stretch
// leaves the lawn.
bool stretchBlocked(const Environment& environment, double ax, double ay, double bx, double by,
                    bool startIsMoveEnd, bool endIsMoveEnd, std::vector<double>& params) {
    for (const Polygon& obstacle : environment.obstacles) {
        if (stretchCrossesObstacle(obstacle.points, ax, ay, bx, by, params)) return true;
    }
    return stretchLeavesLawn(environment.perimeter.points, ax, ay, bx, by, startIsMoveEnd,
                             endIsMoveEnd, params);
}

}  // namespace

bool wayOutOfObstacle(const Environment& environment, double x, double y, Point& exit) {
    auto deepIn = [](const std::vector<Point>& ring, double px, double py) {
        return ring.size() >= 3 && isPointStrictlyInPolygon(ring, px, py) &&
               outlineDistance(ring, px, py) > kCrossingDepth;
    };
    for (const Polygon& obstacle : environment.obstacles) {
        const std::vector<Point>& ring = obstacle.points;
        if (!deepIn(ring, x, y)) continue;
        const std::size_t n = ring.size();
        const double best = outlineDistance(ring, x, y);
        if (best > kSightShrink) return false;
        Point nearest;
        bool found = false;
        for (std::size_t i = 0; i < n && !found; ++i) {
            const Point& p = ring[i];
            const Point& q = ring[(i + 1) % n];
            if (edgeDistance(p, q, x, y) != best) continue;
            const double ex = q.x - p.x;
            const double ey = q.y - p.y;
            const double ee = ex * ex + ey * ey;
            double t = ee > 0.0 ? ((x - p.x) * ex + (y - p.y) * ey) / ee : 0.0;
            t = std::min(1.0, std::max(0.0, t));
            nearest = Point(p.x + t * ex, p.y + t * ey);
            found = true;
        }
        if (!found) return false;
        for (const Polygon& other : environment.obstacles) {
            if (deepIn(other.points, nearest.x, nearest.y)) return false;
        }
        const std::vector<Point>& perimeter = environment.perimeter.points;
        if (!isPointInPolygon(perimeter, nearest.x, nearest.y) &&
            outlineDistance(perimeter, nearest.x, nearest.y) > kCrossingDepth)
            return false;
        exit = nearest;
        return true;
    }
    return false;
}

bool isSegmentFree(const Environment& environment, double ax, double ay, double bx, double by) {
    const double length = distanceBetween(ax, ay, bx, by);
    std::vector<double> params;
    if (length < kSightShrink)
        return !stretchBlocked(environment, ax, ay, bx, by, true, true, params);
    const double ux = (bx - ax) * kSightShrink / length;
    const double uy = (by - ay) * kSightShrink / length;
    const double a2x = ax + ux, a2y = ay + uy;
    const double b2x = bx - ux, b2y = by - uy;
    if (!isSegmentInPolygon(environment.perimeter.points, a2x, a2y, b2x, b2y)) return false;
    const double mx = (ax + bx) / 2.0;
    const double my = (ay + by) / 2.0;
    for (const Polygon& obstacle : environment.obstacles) {
        if (segmentCrossesPolygon(obstacle.points, a2x, a2y, b2x, b2y)) return false;
        if (isPointStrictlyInPolygon(obstacle.points, mx, my)) return false;
    }
    // A move may pass through a ring's vertices without a proper crossing.
    // Split it where it meets each outline and judge every piece by its
    // midpoint: no piece may leave the lawn or run inside an obstacle.
    if (somePieceLies(environment.perimeter.points, a2x, a2y, b2x, b2y, false, params))
        return false;
    for (const Polygon& obstacle : environment.obstacles) {
        if (obstacle.points.size() < 3) continue;
        if (somePieceLies(obstacle.points, a2x, a2y, b2x, b2y, true, params)) return false;
    }
    // Nor may the move cross an obstacle or leave the lawn within the end
    // shrink: a fence thinner than the shrink, a corner of the lawn next to
    // one of its ends.
    if (stretchBlocked(environment, ax, ay, a2x, a2y, true, false, params)) return false;
    return !stretchBlocked(environment, b2x, b2y, bx, by, false, true, params);
}

}  // namespace Planner
