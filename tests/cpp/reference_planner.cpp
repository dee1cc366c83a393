#include "reference_planner.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "planner/constants.h"
#include "planner/geometry.h"
#include "planner/inset.h"
#include "planner/lane_ends.h"
#include "planner/normalise.h"
#include "planner/pipeline.h"

namespace Reference {

using Planner::distanceBetween;
using Planner::kBoundaryTolerance;
using Planner::kCollinearTolerance;
using Planner::kMergeTolerance;
using Planner::kNoChoiceDistance;
using Planner::kParallelTolerance;
using Planner::kParameterHigh;
using Planner::kCrossingDepth;
using Planner::kPieceBoundaryBand;
using Planner::kRingEntrySearchStart;
using Planner::kSamePosition;
using Planner::kSightShrink;
using Planner::kWireCostMultiplier;
using Planner::kWireHeuristicFactor;
using Planner::Polygon;
using Planner::SearchRecord;
using Planner::TransitNode;
// Predicates.

namespace {

bool insideOpenParameterRange(double v) { return v > kBoundaryTolerance && v < kParameterHigh; }

// Shared body of the two point-in-ring tests; `boundaryResult` is what a
// point on the boundary gives.
bool pointInRing(const std::vector<Point>& ring, double x, double y, bool boundaryResult) {
    const std::size_t n = ring.size();
    if (n < 3) return false;
    bool inside = false;
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        const double xi = ring[i].x, yi = ring[i].y;
        const double xj = ring[j].x, yj = ring[j].y;
        const double c = (y - yi) * (xj - xi) - (x - xi) * (yj - yi);
        if (std::fabs(c) < kBoundaryTolerance && std::min(xi, xj) - kBoundaryTolerance <= x &&
            x <= std::max(xi, xj) + kBoundaryTolerance &&
            std::min(yi, yj) - kBoundaryTolerance <= y &&
            y <= std::max(yi, yj) + kBoundaryTolerance) {
            return boundaryResult;
        }
        if ((yi > y) != (yj > y)) {
            const double xc = (y - yi) * (xj - xi) / (yj - yi) + xi;
            if (x < xc) inside = !inside;
        }
    }
    return inside;
}

// Parameters along AB (0 at A, 1 at B) at which AB meets the ring: where it
// crosses or touches an edge's supporting line within the edge, and the
// projections of the ends of edges parallel to it.  Between two consecutive
// parameters AB lies wholly on one side of the ring's boundary.
void ringMeetingsOfEdge(const Point& p, const Point& q, double ax, double ay, double dx, double dy,
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

void ringMeetings(const std::vector<Point>& ring, double ax, double ay, double bx, double by,
                  std::vector<double>& params) {
    const std::size_t n = ring.size();
    const double dx = bx - ax;
    const double dy = by - ay;
    const double dd = dx * dx + dy * dy;
    for (std::size_t i = 0; i < n; ++i)
        ringMeetingsOfEdge(ring[i], ring[(i + 1) % n], ax, ay, dx, dy, dd, params);
}

double distanceToOutline(const std::vector<Point>& ring, double x, double y) {
    const std::size_t n = ring.size();
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < n; ++i) {
        const Point& p = ring[i];
        const Point& q = ring[(i + 1) % n];
        const double ex = q.x - p.x;
        const double ey = q.y - p.y;
        const double ee = ex * ex + ey * ey;
        double t = ee > 0.0 ? ((x - p.x) * ex + (y - p.y) * ey) / ee : 0.0;
        t = std::min(1.0, std::max(0.0, t));
        best = std::min(best, distanceBetween(x, y, p.x + t * ex, p.y + t * ey));
    }
    return best;
}

// True if some piece of AB between two meetings with the ring has its
// midpoint strictly inside the ring (strictlyInside) or outside it
// (otherwise), farther than kPieceBoundaryBand from the outline: pieces that
// run along the outline, up to rounding, never count.
bool somePieceLies(const std::vector<Point>& ring, double ax, double ay, double bx, double by,
                   bool strictlyInside) {
    std::vector<double> params{0.0, 1.0};
    ringMeetings(ring, ax, ay, bx, by, params);
    std::sort(params.begin(), params.end());
    const double dx = bx - ax;
    const double dy = by - ay;
    for (std::size_t k = 1; k < params.size(); ++k) {
        if (!(params[k] > params[k - 1])) continue;
        const double s = (params[k - 1] + params[k]) * 0.5;
        const double x = ax + s * dx;
        const double y = ay + s * dy;
        const bool wrongSide = strictlyInside ? Reference::isPointStrictlyInPolygon(ring, x, y)
                                              : !Reference::isPointInPolygon(ring, x, y);
        if (wrongSide && distanceToOutline(ring, x, y) > kPieceBoundaryBand) return true;
    }
    return false;
}

// Whether each piece of AB between the sorted meeting parameters is deep,
// by its midpoint.
template <class Deep>
std::vector<bool> deepPieces(std::vector<double> params, double ax, double ay, double bx,
                             double by, Deep&& deep) {
    std::sort(params.begin(), params.end());
    const double dx = bx - ax;
    const double dy = by - ay;
    std::vector<bool> pieces;
    for (std::size_t k = 1; k < params.size(); ++k) {
        if (!(params[k] > params[k - 1])) continue;
        const double s = (params[k - 1] + params[k]) * 0.5;
        pieces.push_back(deep(ax + s * dx, ay + s * dy));
    }
    return pieces;
}

// True if a deep piece lies outside the run of deep pieces at the start
// (when `leading`) and the run at the end (when `trailing`).
bool deepPieceOutsideRuns(const std::vector<bool>& pieces, bool leading, bool trailing) {
    std::size_t first = 0;
    std::size_t last = pieces.size();
    if (leading) {
        while (first < last && pieces[first]) ++first;
    }
    if (trailing) {
        while (last > first && pieces[last - 1]) --last;
    }
    for (std::size_t k = first; k < last; ++k) {
        if (pieces[k]) return true;
    }
    return false;
}

// True if some piece of the stretch AB runs inside the obstacle deeper than
// kCrossingDepth, whatever the move's ends.
bool stretchCrossesObstacle(const std::vector<Point>& ring, double ax, double ay, double bx,
                            double by) {
    if (ring.size() < 3) return false;
    const double dx = bx - ax;
    const double dy = by - ay;
    if (!(dx * dx + dy * dy > 0.0)) return false;
    std::vector<double> params{0.0, 1.0};
    ringMeetings(ring, ax, ay, bx, by, params);
    const std::vector<bool> pieces = deepPieces(params, ax, ay, bx, by, [&ring](double x, double y) {
        return Reference::isPointStrictlyInPolygon(ring, x, y) &&
               distanceToOutline(ring, x, y) > kCrossingDepth;
    });
    return deepPieceOutsideRuns(pieces, false, false);
}

// True if some piece of the stretch AB lies outside the lawn, farther than
// kCrossingDepth from it, other than the run at a move's end that lies that
// far outside.  The stretch is met by the perimeter edges near it.
bool stretchLeavesLawn(const std::vector<Point>& perimeter, double ax, double ay, double bx,
                       double by, bool startIsMoveEnd, bool endIsMoveEnd) {
    const std::size_t n = perimeter.size();
    if (n < 3) return false;
    const double dx = bx - ax;
    const double dy = by - ay;
    const double dd = dx * dx + dy * dy;
    if (!(dd > 0.0)) return false;
    std::vector<double> params{0.0, 1.0};
    for (std::size_t i = 0; i < n; ++i) {
        const Point& p = perimeter[i];
        const Point& q = perimeter[(i + 1) % n];
        if (!Planner::edgeNearStretch(p, q, ax, ay, bx, by)) continue;
        ringMeetingsOfEdge(p, q, ax, ay, dx, dy, dd, params);
    }
    auto deep = [&perimeter](double x, double y) {
        return !Reference::isPointInPolygon(perimeter, x, y) &&
               distanceToOutline(perimeter, x, y) > kCrossingDepth;
    };
    const std::vector<bool> pieces = deepPieces(params, ax, ay, bx, by, deep);
    return deepPieceOutsideRuns(pieces, startIsMoveEnd && deep(ax, ay),
                                endIsMoveEnd && deep(bx, by));
}

bool stretchBlocked(const Environment& environment, double ax, double ay, double bx, double by,
                    bool startIsMoveEnd, bool endIsMoveEnd) {
    for (const Polygon& obstacle : environment.obstacles) {
        if (stretchCrossesObstacle(obstacle.points, ax, ay, bx, by)) return true;
    }
    return stretchLeavesLawn(environment.perimeter.points, ax, ay, bx, by, startIsMoveEnd,
                             endIsMoveEnd);
}

}  // namespace

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
        const Point& p = ring[i];
        const Point& q = ring[(i + 1) % n];
        const double ex = q.x - p.x;
        const double ey = q.y - p.y;
        const double den = ey * dx - ex * dy;
        if (std::fabs(den) < kParallelTolerance) continue;
        const double t = ((ay - p.y) * dx - (ax - p.x) * dy) / den;
        if (!insideOpenParameterRange(t)) continue;
        const double s = (ex * (ay - p.y) - ey * (ax - p.x)) / den;
        if (!insideOpenParameterRange(s)) continue;
        const double ix = ax + s * dx;
        const double iy = ay + s * dy;
        if (distanceBetween(ix, iy, ax, ay) > kSamePosition && distanceBetween(ix, iy, bx, by) > kSamePosition)
            return true;
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
    if (!Reference::isPointInPolygon(ring, ax, ay)) return false;
    if (!Reference::isPointInPolygon(ring, bx, by)) return false;
    if (!Reference::isPointInPolygon(ring, (ax + bx) / 2.0, (ay + by) / 2.0)) return false;
    const double dx = bx - ax;
    const double dy = by - ay;
    for (std::size_t i = 0; i < n; ++i) {
        const Point& p = ring[i];
        const Point& q = ring[(i + 1) % n];
        const double ex = q.x - p.x;
        const double ey = q.y - p.y;
        const double den = dx * ey - ex * dy;
        if (std::fabs(den) < kParallelTolerance) continue;
        const double t = ((ay - p.y) * dx - (ax - p.x) * dy) / den;
        const double s = (ex * (ay - p.y) - ey * (ax - p.x)) / den;
        if (insideOpenParameterRange(t) && insideOpenParameterRange(s)) return false;
    }
    return true;
}

bool isSegmentFree(const Environment& environment, double ax, double ay, double bx, double by) {
    const double length = distanceBetween(ax, ay, bx, by);
    // No move crosses an obstacle, however short: a move shorter than the
    // end shrink is judged whole, a longer one also within the shrink.
    if (length < kSightShrink) return !stretchBlocked(environment, ax, ay, bx, by, true, true);
    const double ux = (bx - ax) * kSightShrink / length;
    const double uy = (by - ay) * kSightShrink / length;
    const double a2x = ax + ux, a2y = ay + uy;
    const double b2x = bx - ux, b2y = by - uy;
    if (!Reference::isSegmentInPolygon(environment.perimeter.points, a2x, a2y, b2x, b2y))
        return false;
    const double mx = (ax + bx) / 2.0;
    const double my = (ay + by) / 2.0;
    for (const Polygon& obstacle : environment.obstacles) {
        if (Reference::segmentCrossesPolygon(obstacle.points, a2x, a2y, b2x, b2y)) return false;
        if (Reference::isPointStrictlyInPolygon(obstacle.points, mx, my)) return false;
    }
    // A move may pass through a ring's vertices without a proper crossing.
    // Split it where it meets each outline and judge every piece by its
    // midpoint: no piece may leave the lawn or run inside an obstacle.
    if (somePieceLies(environment.perimeter.points, a2x, a2y, b2x, b2y, false)) return false;
    for (const Polygon& obstacle : environment.obstacles) {
        if (obstacle.points.size() < 3) continue;
        if (somePieceLies(obstacle.points, a2x, a2y, b2x, b2y, true)) return false;
    }
    return !stretchBlocked(environment, ax, ay, a2x, a2y, true, false) &&
           !stretchBlocked(environment, b2x, b2y, bx, by, false, true);
}

namespace {

bool countedSight(Tally* tally, const Environment& environment, double ax, double ay, double bx,
                  double by) {
    if (tally) ++tally->sightTests;
    return Reference::isSegmentFree(environment, ax, ay, bx, by);
}

}  // namespace

// Transit search.

namespace {

// NaN never compares smaller, so a non-finite position is never "the same"
// as anything, itself included.
bool samePosition(double ax, double ay, double bx, double by) {
    return distanceBetween(ax, ay, bx, by) < kSamePosition;
}

bool isFinitePosition(double x, double y) { return std::isfinite(x) && std::isfinite(y); }

bool areConsecutiveWirePoints(const SearchRecord& record, const TransitNode& node) {
    if (!record.onWire || !node.onWire) return false;
    const std::uint64_t a = record.wireIndex;
    const std::uint64_t b = node.wireIndex;
    return (a > b ? a - b : b - a) == 1;
}

// Index of the record with the smallest g + h; the earliest one wins a tie.
std::size_t selectCheapest(const std::vector<SearchRecord>& open) {
    std::size_t chosen = 0;
    double chosenCost = open[0].g + open[0].h;
    for (std::size_t i = 1; i < open.size(); ++i) {
        const double cost = open[i].g + open[i].h;
        if (cost < chosenCost) {
            chosen = i;
            chosenCost = cost;
        }
    }
    return chosen;
}

bool isNearAnyRecord(const std::vector<SearchRecord>& records, double x, double y) {
    for (const SearchRecord& record : records) {
        if (samePosition(record.x, record.y, x, y)) return true;
    }
    return false;
}

SearchRecord* firstRecordNear(std::vector<SearchRecord>& records, double x, double y) {
    for (SearchRecord& record : records) {
        if (samePosition(record.x, record.y, x, y)) return &record;
    }
    return nullptr;
}

std::vector<Point> reconstructPath(const SearchRecord& last,
                                   const std::vector<SearchRecord>& closed) {
    std::vector<Point> reversed;
    reversed.emplace_back(last.x, last.y);
    std::int32_t parent = last.parent;
    // Every parent index points at an earlier closed record, so this ends.
    while (parent >= 0) {
        const SearchRecord& record = closed[static_cast<std::size_t>(parent)];
        reversed.emplace_back(record.x, record.y);
        parent = record.parent;
    }
    return std::vector<Point>(reversed.rbegin(), reversed.rend());
}

// Greedy line-of-sight pass: from each kept point, jump to the farthest
// later point that is still reachable by an unbroken run of free segments.
std::vector<Point> shortenPath(const Environment& environment, const std::vector<Point>& path,
                               Tally* tally) {
    const std::size_t n = path.size();
    if (n <= 2) return path;
    std::vector<Point> out;
    out.push_back(path[0]);
    std::size_t i = 0;
    while (i < n - 1) {
        std::size_t next = i + 1;
        if (i + 2 < n) {
            next = n - 1;
            for (std::size_t j = i + 2; j < n; ++j) {
                if (!countedSight(tally, environment, path[i].x, path[i].y, path[j].x, path[j].y)) {
                    next = j - 1;
                    break;
                }
            }
        }
        out.push_back(path[next]);
        i = next;
    }
    return out;
}

}  // namespace

std::vector<TransitNode> buildTransitNodes(const Environment& environment, double targetX,
                                           double targetY) {
    std::vector<TransitNode> nodes;
    const std::vector<Point>& wire = environment.virtualWire.points;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        nodes.push_back(TransitNode{wire[i].x, wire[i].y, true, static_cast<std::uint64_t>(i)});
    }

    auto addCorner = [&nodes](const Point& corner) {
        for (const TransitNode& node : nodes) {
            if (samePosition(node.x, node.y, corner.x, corner.y)) return;
        }
        nodes.push_back(TransitNode{corner.x, corner.y, false, 0});
    };
    for (const Polygon& obstacle : environment.obstacles) {
        for (const Point& corner : obstacle.points) addCorner(corner);
    }
    for (const Point& corner : environment.perimeter.points) addCorner(corner);

    nodes.push_back(TransitNode{targetX, targetY, false, 0});
    return nodes;
}

std::vector<Point> findTransitPath(const Environment& environment,
                                   std::vector<LineString>& searchEdges, double startX,
                                   double startY, double targetX, double targetY, Tally* tally) {
    if (tally) ++tally->transitSearches;
    const std::vector<TransitNode> nodes =
        Reference::buildTransitNodes(environment, targetX, targetY);

    std::vector<SearchRecord> open;
    std::vector<SearchRecord> closed;
    SearchRecord startRecord;
    startRecord.x = startX;
    startRecord.y = startY;
    startRecord.g = 0.0;
    startRecord.h = distanceBetween(startX, startY, targetX, targetY);
    startRecord.parent = -1;
    open.push_back(startRecord);

    constexpr std::size_t kMaxClosed =
        static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());

    while (!open.empty()) {
        const std::size_t chosen = selectCheapest(open);
        if (samePosition(open[chosen].x, open[chosen].y, targetX, targetY)) {
            return shortenPath(environment, reconstructPath(open[chosen], closed), tally);
        }

        // Parent indices are 32-bit; a closed list that long cannot arise
        // from a sane scene, but it must not wrap round either.
        if (closed.size() >= kMaxClosed) return {};
        const SearchRecord current = open[chosen];
        open.erase(open.begin() + static_cast<std::ptrdiff_t>(chosen));
        closed.push_back(current);
        const std::int32_t parentIndex = static_cast<std::int32_t>(closed.size() - 1);

        for (const TransitNode& node : nodes) {
            // A non-finite position never matches a record, not even its
            // own, so stepping onto one could repeat without end.
            if (!isFinitePosition(node.x, node.y)) continue;
            if (samePosition(current.x, current.y, node.x, node.y)) continue;

            double multiplier = 1.0;
            if (areConsecutiveWirePoints(current, node)) {
                multiplier = kWireCostMultiplier;
            } else if (!countedSight(tally, environment, current.x, current.y, node.x, node.y)) {
                continue;
            }

            searchEdges.push_back(LineString({Point(current.x, current.y), Point(node.x, node.y)}));

            const double gNew =
                current.g + multiplier * distanceBetween(current.x, current.y, node.x, node.y);
            double hNew = distanceBetween(node.x, node.y, targetX, targetY);
            if (node.onWire) hNew = hNew * kWireHeuristicFactor;

            if (isNearAnyRecord(closed, node.x, node.y)) continue;

            if (SearchRecord* known = firstRecordNear(open, node.x, node.y)) {
                if (known->g > gNew) {
                    known->g = gNew;
                    known->h = hNew;
                    known->parent = parentIndex;
                }
                continue;
            }

            SearchRecord record;
            record.x = node.x;
            record.y = node.y;
            record.g = gNew;
            record.h = hNew;
            record.parent = parentIndex;
            record.onWire = node.onWire;
            record.wireIndex = node.wireIndex;
            open.push_back(record);
        }
    }
    return {};
}

// Ordering and linking.

namespace {

bool isRing(const LineString& slice) { return slice.points.size() >= 3; }

struct SliceChoice {
    bool found = false;
    std::size_t index = 0;
    std::size_t entry = 0;
    bool reverse = false;
    bool ring = false;
    double distance = kNoChoiceDistance;
};

// The nearest unvisited slice end (lane) or vertex (ring) from `from`.
// With `needSight` only ends in a straight line of sight count; the sight
// test runs only for a candidate strictly nearer than the best so far.
SliceChoice chooseNearestSlice(const Environment& environment,
                               const std::vector<LineString>& slices,
                               const std::vector<bool>& visited, const Point& from, bool needSight,
                               Tally* tally) {
    SliceChoice best;
    auto inSight = [&](const Point& p) {
        return !needSight || countedSight(tally, environment, from.x, from.y, p.x, p.y);
    };
    for (std::size_t i = 0; i < slices.size(); ++i) {
        if (visited[i]) continue;
        const std::vector<Point>& points = slices[i].points;
        if (points.empty()) continue;
        if (!isRing(slices[i])) {
            const double dStart = distanceBetween(from, points.front());
            const double dEnd = distanceBetween(from, points.back());
            if (dStart < best.distance && inSight(points.front())) {
                best = SliceChoice{true, i, 0, false, false, dStart};
            }
            if (dEnd < best.distance && inSight(points.back())) {
                best = SliceChoice{true, i, 0, true, false, dEnd};
            }
        } else {
            for (std::size_t k = 0; k < points.size(); ++k) {
                const double d = distanceBetween(from, points[k]);
                if (d < best.distance && inSight(points[k])) {
                    best = SliceChoice{true, i, k, false, true, d};
                }
            }
        }
    }
    return best;
}

// The ring vertex nearest to `p`; the lowest index wins a tie.
std::size_t nearestVertex(const std::vector<Point>& ring, const Point& p) {
    std::size_t entry = 0;
    double minimum = kRingEntrySearchStart;
    for (std::size_t k = 0; k < ring.size(); ++k) {
        const double d = distanceBetween(p, ring[k]);
        if (d < minimum) {
            minimum = d;
            entry = k;
        }
    }
    return entry;
}

}  // namespace

void linkSlices(const Environment& environment, const std::vector<LineString>& slices,
                const Point& start, PathPlanner::PlanningResult& result, Tally* tally) {
    std::vector<bool> visited(slices.size(), false);
    LineString& path = result.path;
    path.points.push_back(start);
    Point current = start;
    if (Planner::wayOutOfObstacle(environment, start.x, start.y, current))
        path.points.push_back(current);

    for (std::size_t iteration = 0; iteration < slices.size(); ++iteration) {
        SliceChoice choice = chooseNearestSlice(environment, slices, visited, current, true, tally);
        if (choice.found) {
            visited[choice.index] = true;
            Reference::appendSlice(path, slices[choice.index], choice.reverse, choice.entry,
                                   choice.ring);
        } else {
            choice = chooseNearestSlice(environment, slices, visited, current, false, tally);
            if (choice.found) {
                const LineString& slice = slices[choice.index];
                // A ring is ranked by its nearest vertex but reached at vertex 0.
                const Point target = choice.reverse ? slice.points.back() : slice.points.front();
                result.connectors.push_back(LineString({current, target}));
                const std::vector<Point> transit =
                    Reference::findTransitPath(environment, result.searchEdges, current.x,
                                               current.y, target.x, target.y, tally);
                visited[choice.index] = true;
                if (!transit.empty()) {
                    path.points.insert(path.points.end(), transit.begin() + 1, transit.end());
                    const std::size_t entry =
                        choice.ring ? nearestVertex(slice.points, path.points.back()) : 0;
                    Reference::appendSlice(path, slice, choice.reverse, entry, choice.ring);
                }
            }
        }
        current = path.points.back();
    }
}

void appendSlice(LineString& path, const LineString& slice, bool reverse, std::size_t entry,
                 bool ring) {
    if (&slice == &path) {
        // Appending a line to itself: work from a copy, the list grows.
        const LineString copy = slice;
        Reference::appendSlice(path, copy, reverse, entry, ring);
        return;
    }
    const std::vector<Point>& points = slice.points;
    if (points.empty()) return;
    if (ring) {
        const std::size_t n = points.size();
        const std::size_t first = entry % n;
        std::size_t skip = 0;
        if (!path.points.empty() &&
            distanceBetween(points[first], path.points.back()) < kSamePosition) {
            skip = 1;
        }
        for (std::size_t j = skip; j <= n; ++j) path.points.push_back(points[(first + j) % n]);
        return;
    }
    if (reverse) {
        path.points.insert(path.points.end(), points.rbegin(), points.rend());
    } else {
        path.points.insert(path.points.end(), points.begin(), points.end());
    }
}

// The full task, composed as the pipeline composes it (keep the two in step:
// the comparison test runs whole tasks through both).

namespace {

bool isUsableSpacing(double spacing) {
    return std::isfinite(spacing) && spacing >= Planner::kMinimumSpacing;
}

std::int32_t lapCountForStage(std::uint64_t laps, double spacing) {
    if (!isUsableSpacing(spacing)) return 1;
    return static_cast<std::int32_t>(laps);
}

std::vector<Planner::Ring> lapRings(const Environment& working, std::uint64_t laps, double spacing,
                                    bool holes) {
    return Planner::filterRingsByOrientation(
        Planner::computeInsetRings(working, lapCountForStage(laps, spacing), spacing,
                                   Planner::kLapFirstInset),
        holes);
}

// Every vertex of the outer ring in the hole, and some strictly inside.
bool holeHoldsInner(const Planner::Ring& hole, const Planner::Ring& outer) {
    if (hole.size() < 3 || outer.size() < 3) return false;
    bool strictly = false;
    for (const Point& p : outer) {
        if (!Reference::isPointInPolygon(hole, p.x, p.y)) return false;
        strictly = strictly || Reference::isPointStrictlyInPolygon(hole, p.x, p.y);
    }
    return strictly;
}

std::vector<Environment> workAreas(const Environment& working, const PathSettings& settings) {
    std::vector<Environment> areas;
    if (!(settings.distanceToBorder > 0.0)) {
        areas.push_back(working);
        return areas;
    }
    const std::vector<Planner::Ring> rings = Planner::computeInsetRings(
        working, 1, settings.distanceToBorder, settings.distanceToBorder,
        Planner::RingUse::WorkArea);
    const std::vector<Planner::Ring> outers = Planner::filterRingsByOrientation(rings, false);
    const std::vector<Planner::Ring> holes = Planner::filterRingsByOrientation(rings, true);
    for (const Planner::Ring& outer : outers) {
        Environment area{Planner::Polygon(outer)};
        for (const Planner::Ring& hole : holes) {
            // An island of lawn inside the grown obstacles: the hole round it
            // is none of its obstacles.
            if (!holeHoldsInner(hole, outer)) area.addObstacle(Planner::Polygon(hole));
        }
        areas.push_back(std::move(area));
    }
    return areas;
}

void rotateEnvironment(Environment& environment, double angle) {
    Planner::rotatePoints(environment.perimeter.points, angle);
    for (Planner::Polygon& obstacle : environment.obstacles)
        Planner::rotatePoints(obstacle.points, angle);
    for (Planner::Polygon& mowArea : environment.mowAreas)
        Planner::rotatePoints(mowArea.points, angle);
    Planner::rotatePoints(environment.virtualWire.points, angle);
    Planner::rotatePoints(environment.dockingWire.points, angle);
}

void appendRings(std::vector<LineString>& slices, std::vector<Planner::Ring>&& rings) {
    for (Planner::Ring& ring : rings) slices.emplace_back(std::move(ring));
}

}  // namespace

PathPlanner::PlanningResult computeFullTask(const Environment& environment,
                                            const PathSettings& settings, const Point& start,
                                            Tally* tally) {
    if (environment.perimeter.points.size() < 3) return PathPlanner::PlanningResult();
    Environment working = environment;
    rotateEnvironment(working, -settings.angle);
    Planner::normaliseScene(working);
    std::vector<Point> startPoint{start};
    Planner::rotatePoints(startPoint, -settings.angle);

    std::vector<LineString> slices;
    if (settings.mowArea) {
        for (const Environment& area : workAreas(working, settings)) {
            std::vector<LineString> areaSlices = Reference::patternSlices(area, settings);
            if (settings.distanceToBorder > 0.0 &&
                Planner::areaLiesOnOutlines(working, area, settings.distanceToBorder))
                Planner::pullLaneEndsOntoOutlines(working, areaSlices);
            for (LineString& slice : areaSlices) slices.push_back(std::move(slice));
        }
    }
    if (settings.mowBorder && settings.borderLaps != 0) {
        std::vector<Planner::Ring> laps =
            lapRings(working, settings.borderLaps, settings.offset, false);
        if (!settings.mowBorderCcw) {
            for (Planner::Ring& lap : laps) Planner::orientRing(lap, false);
        }
        appendRings(slices, std::move(laps));
    }
    if (settings.mowExclusionsBoder && settings.exclusionsBorderLaps != 0) {
        std::vector<Planner::Ring> laps =
            lapRings(working, settings.exclusionsBorderLaps, settings.offset, true);
        if (settings.mowExclusionsBorderCcw) {
            for (Planner::Ring& lap : laps) Planner::orientRing(lap, true);
        }
        appendRings(slices, std::move(laps));
    }

    PathPlanner::PlanningResult result;
    if (!slices.empty()) Reference::linkSlices(working, slices, startPoint.front(), result, tally);
    result.slices = std::move(slices);

    Planner::rotatePoints(result.path.points, settings.angle);
    for (LineString& line : result.connectors) Planner::rotatePoints(line.points, settings.angle);
    for (LineString& line : result.searchEdges) Planner::rotatePoints(line.points, settings.angle);
    for (LineString& slice : result.slices) Planner::rotatePoints(slice.points, settings.angle);
    return result;
}

}  // namespace Reference
