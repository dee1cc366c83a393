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

bool insideOpenParameterRange(double v) { return v > kBoundaryTolerance && v < kParameterHigh; }

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
    return distanceBetween(ix, iy, ax, ay) > kSamePosition && distanceBetween(ix, iy, bx, by) > kSamePosition;
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

double distanceToOutline(const std::vector<Point>& ring, double x, double y) {
    const std::size_t n = ring.size();
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < n; ++i)
        best = std::min(best, edgeDistance(ring[i], ring[(i + 1) % n], x, y));
    return best;
}

// The pieces of AB (d = B - A) between the sorted-to-be meeting
// parameters `params`: true if the midpoint of one is strictly inside the
// ring (strictlyInside) or outside it (otherwise), farther than
// kPieceBoundaryBand from the outline.
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
        if (wrongSide && distanceToOutline(ring, x, y) > kPieceBoundaryBand) return true;
    }
    return false;
}

// True if some piece of AB between two meetings with the ring has its
// midpoint strictly inside the ring (strictlyInside) or outside it
// (otherwise), farther than kPieceBoundaryBand from the outline: pieces that
// run along the outline, up to rounding, never count.
bool somePieceLies(const std::vector<Point>& ring, double ax, double ay, double bx, double by,
                   bool strictlyInside, std::vector<double>& params) {
    params.clear();
    params.push_back(0.0);
    params.push_back(1.0);
    ringMeetings(ring, ax, ay, bx, by, params);
    return piecesLie(ring, ax, ay, bx - ax, by - ay, strictlyInside, params);
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

bool isSegmentFree(const Environment& environment, double ax, double ay, double bx, double by) {
    const double length = distanceBetween(ax, ay, bx, by);
    if (length < kSightShrink) return true;
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
    std::vector<double> params;
    if (somePieceLies(environment.perimeter.points, a2x, a2y, b2x, b2y, false, params))
        return false;
    for (const Polygon& obstacle : environment.obstacles) {
        if (obstacle.points.size() < 3) continue;
        if (somePieceLies(obstacle.points, a2x, a2y, b2x, b2y, true, params)) return false;
    }
    return true;
}

// ---- The indexed line-of-sight test.
//
// isSegmentFree is a conjunction of tests on single edges (crossings, and
// the meeting parameters of the split into pieces), of point-in-ring tests,
// and of per-obstacle tests.  The indexed version evaluates exactly the
// same arithmetic, but only on the edges that could change the answer:
//
// - A crossing of AB with an edge P -> Q is computed from s and t; where
//   both lie in their ranges, the two segments come within
//   8.5 u |A - P| / (sin(angle) - 2.9 u) plus 1e-9 |PQ| of each other
//   (u the unit round-off), which for coordinates within
//   kIndexCoordinateLimit and sin(angle) >= kMinNonParallelSine stays far
//   below kSightCellMargin.  So an edge that is not nearly parallel to AB
//   and lies farther than that margin from it can neither cross AB nor
//   add a meeting parameter; the grid lists every edge in every cell it
//   comes within the margin of.  The sine bound of each move is also large
//   enough that such an edge never takes the parallel branch
//   (|den| < 1e-10), whose parameters come from anywhere along AB.
// - Nearly parallel edges and very short ones are found by direction and
//   always tested.
// - A point-in-ring result depends on the edges whose y-range holds the
//   point's y (within the boundary band) only, in any order: horizontal
//   bands list them for the perimeter.
// - An obstacle with no edge near AB can only hold AB wholly (then it holds
//   the midpoint M strictly, which is tested for every obstacle whose box
//   holds M) or not at all: its pieces add nothing else.
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kHalfPi = kPi / 2.0;

bool withinIndexLimit(double v) { return std::fabs(v) <= kIndexCoordinateLimit; }

std::int64_t cellCoordinate(double v, double origin, double size) {
    return static_cast<std::int64_t>(std::floor((v - origin) / size));
}

std::int64_t clampIndex(std::int64_t v, std::int64_t count) {
    return std::min<std::int64_t>(std::max<std::int64_t>(v, 0), count - 1);
}

// Visits the cells that the segment (x1, y1) - (x2, y2), widened by `pad`,
// can touch, column by column from the first end towards the second.
// `visit(cell)` returns true to stop; then so does this, returning true.
template <class Visit>
bool forEachCellNear(const CellGrid& g, double x1, double y1, double x2, double y2, double pad,
                     Visit&& visit) {
    const double xmin = std::min(x1, x2);
    const double xmax = std::max(x1, x2);
    const double ymin = std::min(y1, y2);
    const double ymax = std::max(y1, y2);
    const std::int64_t c0 = cellCoordinate(xmin - pad, g.x0, g.size);
    const std::int64_t c1 = cellCoordinate(xmax + pad, g.x0, g.size);
    if (c1 < 0 || c0 >= g.cols) return false;
    const std::int64_t r0 = cellCoordinate(ymin - pad, g.y0, g.size);
    const std::int64_t r1 = cellCoordinate(ymax + pad, g.y0, g.size);
    if (r1 < 0 || r0 >= g.rows) return false;
    const std::int64_t cFirst = clampIndex(c0, g.cols);
    const std::int64_t cLast = clampIndex(c1, g.cols);
    const double dx = x2 - x1;
    const double dy = y2 - y1;
    const bool steep = !(std::fabs(dx) > 1e-12 * (std::fabs(dy) + 1.0));
    const double slope = steep ? 0.0 : dy / dx;
    const bool leftwards = x2 < x1;
    const bool downwards = y2 < y1;
    for (std::int64_t k = 0; k <= cLast - cFirst; ++k) {
        const std::int64_t c = leftwards ? cLast - k : cFirst + k;
        double lo = ymin;
        double hi = ymax;
        if (!steep) {
            const double xa = std::min(std::max(g.x0 + c * g.size - pad, xmin), xmax);
            const double xb = std::min(std::max(g.x0 + (c + 1) * g.size + pad, xmin), xmax);
            const double ya = y1 + (xa - x1) * slope;
            const double yb = y1 + (xb - x1) * slope;
            lo = std::max(std::min(ya, yb), ymin);
            hi = std::min(std::max(ya, yb), ymax);
        }
        const std::int64_t rLo = cellCoordinate(lo - pad, g.y0, g.size);
        const std::int64_t rHi = cellCoordinate(hi + pad, g.y0, g.size);
        if (rHi < 0 || rLo >= g.rows) continue;
        const std::int64_t rFirst = clampIndex(rLo, g.rows);
        const std::int64_t rLast = clampIndex(rHi, g.rows);
        for (std::int64_t m = 0; m <= rLast - rFirst; ++m) {
            const std::int64_t r = downwards ? rLast - m : rFirst + m;
            if (visit(static_cast<std::size_t>(r * g.cols + c))) return true;
        }
    }
    return false;
}

// Compressed lists from (list, item) pairs.
void compress(std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs, std::size_t lists,
              std::vector<std::uint32_t>& start, std::vector<std::uint32_t>& items) {
    start.assign(lists + 1, 0);
    for (const auto& p : pairs) ++start[p.first + 1];
    for (std::size_t k = 0; k < lists; ++k) start[k + 1] += start[k];
    items.assign(pairs.size(), 0);
    std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
    for (const auto& p : pairs) items[next[p.first]++] = p.second;
}

bool pointInPerimeter(const SightIndex& index, double x, double y) {
    const std::vector<Point>& ring = index.scene->perimeter.points;
    const std::int64_t band = cellCoordinate(y, index.bandY0, index.bandHeight);
    if (band < 0 || band >= index.bands) return false;
    const std::size_t n = ring.size();
    bool inside = false;
    for (std::uint32_t k = index.bandStart[band]; k < index.bandStart[band + 1]; ++k) {
        const std::size_t i = index.bandEdges[k];
        const std::size_t j = i == 0 ? n - 1 : i - 1;
        if (pointEdgeStep(ring[i].x, ring[i].y, ring[j].x, ring[j].y, x, y, inside)) return true;
    }
    return inside;
}

// Visits the cells within kSightPointPad of (x, y).
template <class Visit>
void forEachCellAt(const CellGrid& g, double x, double y, Visit&& visit) {
    forEachCellNear(g, x, y, x, y, kSightPointPad, [&](std::size_t cell) {
        visit(cell);
        return false;
    });
}

double distanceToPerimeter(const SightIndex& index, double x, double y) {
    double best = std::numeric_limits<double>::infinity();
    forEachCellAt(index.grid, x, y, [&](std::size_t cell) {
        for (std::uint32_t k = index.cellStart[cell]; k < index.cellStart[cell + 1]; ++k) {
            const SightEdge& e = index.edges[index.cellEdges[k]];
            best = std::min(best, edgeDistance(e.p, e.q, x, y));
        }
    });
    return best;
}

double foldedAngle(double ex, double ey) {
    double a = std::atan2(ey, ex);
    if (a < 0.0) a += kPi;
    if (a >= kPi) a -= kPi;
    return a;
}

void rememberBlocker(SightScratch& scratch, std::uint32_t edge) {
    scratch.recentBlockers[scratch.nextBlocker] = edge;
    scratch.nextBlocker = (scratch.nextBlocker + 1) % SightScratch::kRecentBlockers;
    scratch.blockerCount = std::min(scratch.blockerCount + 1, SightScratch::kRecentBlockers);
}

void nextStamp(SightScratch& scratch, const SightIndex& index) {
    if (scratch.edgeMark.size() != index.edges.size() ||
        scratch.obstacleMark.size() != index.scene->obstacles.size() ||
        scratch.stamp == UINT32_MAX) {
        scratch.edgeMark.assign(index.edges.size(), 0);
        scratch.obstacleMark.assign(index.scene->obstacles.size(), 0);
        scratch.stamp = 0;
        scratch.blockerCount = 0;
        scratch.nextBlocker = 0;
    }
    ++scratch.stamp;
}

}  // namespace

SightIndex buildSightIndex(const Environment& scene) {
    SightIndex index;
    index.scene = &scene;
    const std::vector<Point>& perimeter = scene.perimeter.points;
    if (perimeter.size() < 3) return index;  // nothing is free but the shortest moves
    auto usableRing = [](const std::vector<Point>& ring) {
        for (const Point& p : ring) {
            if (!withinIndexLimit(p.x) || !withinIndexLimit(p.y)) return false;
        }
        return true;
    };
    if (!usableRing(perimeter)) return index;
    for (const Polygon& obstacle : scene.obstacles) {
        if (obstacle.points.size() >= 3 && !usableRing(obstacle.points)) return index;
    }

    auto addRing = [&index](const std::vector<Point>& ring, std::int32_t id) {
        const std::size_t n = ring.size();
        for (std::size_t i = 0; i < n; ++i) index.edges.push_back({ring[i], ring[(i + 1) % n], id});
    };
    addRing(perimeter, -1);
    for (std::size_t k = 0; k < scene.obstacles.size(); ++k) {
        if (scene.obstacles[k].points.size() >= 3)
            addRing(scene.obstacles[k].points, static_cast<std::int32_t>(k));
    }

    // The grid.
    double x0 = perimeter[0].x, x1 = x0, y0 = perimeter[0].y, y1 = y0;
    for (const SightEdge& e : index.edges) {
        x0 = std::min(x0, e.p.x), x1 = std::max(x1, e.p.x);
        y0 = std::min(y0, e.p.y), y1 = std::max(y1, e.p.y);
    }
    const double margin = 2.0 * kSightCellMargin + 1.0;
    x0 -= margin, y0 -= margin, x1 += margin, y1 += margin;
    const double width = x1 - x0;
    const double height = y1 - y0;
    const double cells = static_cast<double>(kSightCellsPerEdge * index.edges.size());
    double size = std::sqrt(width * height / cells);
    size =
        std::max({size, width / kSightGridMaxSide, height / kSightGridMaxSide, kSightGridMinCell});
    CellGrid& g = index.grid;
    g.x0 = x0;
    g.y0 = y0;
    g.size = size;
    g.cols = static_cast<std::int32_t>(
        std::min<double>(std::ceil(width / size) + 1, kSightGridMaxSide + 1));
    g.rows = static_cast<std::int32_t>(
        std::min<double>(std::ceil(height / size) + 1, kSightGridMaxSide + 1));
    const std::size_t cellCount = static_cast<std::size_t>(g.cols) * g.rows;

    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    for (std::size_t k = 0; k < perimeter.size(); ++k) {
        const SightEdge& e = index.edges[k];
        forEachCellNear(g, e.p.x, e.p.y, e.q.x, e.q.y, kSightCellMargin, [&](std::size_t cell) {
            pairs.emplace_back(static_cast<std::uint32_t>(cell), static_cast<std::uint32_t>(k));
            return false;
        });
    }
    compress(pairs, cellCount, index.cellStart, index.cellEdges);

    pairs.clear();
    index.obstacleBoxes.assign(scene.obstacles.size(), SightIndex::Box());
    index.obstacleEdgeBegin.assign(scene.obstacles.size(), 0);
    std::uint32_t nextEdge = static_cast<std::uint32_t>(perimeter.size());
    for (std::size_t k = 0; k < scene.obstacles.size(); ++k) {
        const std::vector<Point>& ring = scene.obstacles[k].points;
        index.obstacleEdgeBegin[k] = nextEdge;
        if (ring.size() < 3) continue;
        nextEdge += static_cast<std::uint32_t>(ring.size());
        double bx0 = ring[0].x, bx1 = bx0, by0 = ring[0].y, by1 = by0;
        for (const Point& p : ring) {
            bx0 = std::min(bx0, p.x), bx1 = std::max(bx1, p.x);
            by0 = std::min(by0, p.y), by1 = std::max(by1, p.y);
        }
        index.obstacleBoxes[k] = {bx0, by0, bx1, by1};
        const std::int64_t c0 =
            clampIndex(cellCoordinate(bx0 - kSightCellMargin, g.x0, g.size), g.cols);
        const std::int64_t c1 =
            clampIndex(cellCoordinate(bx1 + kSightCellMargin, g.x0, g.size), g.cols);
        const std::int64_t r0 =
            clampIndex(cellCoordinate(by0 - kSightCellMargin, g.y0, g.size), g.rows);
        const std::int64_t r1 =
            clampIndex(cellCoordinate(by1 + kSightCellMargin, g.y0, g.size), g.rows);
        for (std::int64_t r = r0; r <= r1; ++r) {
            for (std::int64_t c = c0; c <= c1; ++c) {
                pairs.emplace_back(static_cast<std::uint32_t>(r * g.cols + c),
                                   static_cast<std::uint32_t>(k));
            }
        }
    }
    compress(pairs, cellCount, index.obstacleStart, index.cellObstacles);

    // Bands over the perimeter.
    const std::size_t n = perimeter.size();
    double py0 = perimeter[0].y, py1 = py0;
    for (const Point& p : perimeter) py0 = std::min(py0, p.y), py1 = std::max(py1, p.y);
    index.bands = static_cast<std::int32_t>(
        std::min<std::size_t>(std::max<std::size_t>(n / 2, 1), kSightGridMaxSide));
    index.bandY0 = py0 - 1.0;
    index.bandHeight = (py1 - py0 + 2.0) / index.bands;
    pairs.clear();
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t j = i == 0 ? n - 1 : i - 1;
        const double lo = std::min(perimeter[i].y, perimeter[j].y) - kSightBandPad;
        const double hi = std::max(perimeter[i].y, perimeter[j].y) + kSightBandPad;
        const std::int64_t b0 =
            clampIndex(cellCoordinate(lo, index.bandY0, index.bandHeight), index.bands);
        const std::int64_t b1 =
            clampIndex(cellCoordinate(hi, index.bandY0, index.bandHeight), index.bands);
        for (std::int64_t b = b0; b <= b1; ++b)
            pairs.emplace_back(static_cast<std::uint32_t>(b), static_cast<std::uint32_t>(i));
    }
    compress(pairs, static_cast<std::size_t>(index.bands), index.bandStart, index.bandEdges);

    // Directions.
    std::vector<std::pair<double, std::uint32_t>> byAngle;
    index.minEdgeLength = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < index.edges.size(); ++k) {
        const SightEdge& e = index.edges[k];
        const double ex = e.q.x - e.p.x;
        const double ey = e.q.y - e.p.y;
        const double length = std::sqrt(ex * ex + ey * ey);
        if (!(length >= kShortEdgeLength)) {
            index.shortEdges.push_back(static_cast<std::uint32_t>(k));
            continue;
        }
        index.minEdgeLength = std::min(index.minEdgeLength, length);
        byAngle.emplace_back(foldedAngle(ex, ey), static_cast<std::uint32_t>(k));
    }
    std::sort(byAngle.begin(), byAngle.end());
    for (const auto& a : byAngle) {
        index.angles.push_back(a.first);
        index.angleEdges.push_back(a.second);
    }
    // Rounding of the lengths: stay below the true least length.
    index.minEdgeLength *= 1.0 - 1e-9;
    index.usable = true;
    return index;
}

bool isSegmentFree(const SightIndex& index, SightScratch& scratch, double ax, double ay, double bx,
                   double by) {
    const Environment& scene = *index.scene;
    const double length = distanceBetween(ax, ay, bx, by);
    if (length < kSightShrink) return true;
    if (!index.usable || !withinIndexLimit(ax) || !withinIndexLimit(ay) || !withinIndexLimit(bx) ||
        !withinIndexLimit(by)) {
        return isSegmentFree(scene, ax, ay, bx, by);
    }
    const double ux = (bx - ax) * kSightShrink / length;
    const double uy = (by - ay) * kSightShrink / length;
    const double a2x = ax + ux, a2y = ay + uy;
    const double b2x = bx - ux, b2y = by - uy;
    const double dx = b2x - a2x;
    const double dy = b2y - a2y;
    // The least sine of an edge direction that keeps every far edge out of
    // the tests (see above); moves so short that it would be large get the
    // full test.
    const double dlen = std::sqrt(dx * dx + dy * dy);
    double sine = kMinNonParallelSine;
    if (!index.angles.empty())
        sine = std::max(sine, 4.0 * kParallelTolerance / (dlen * index.minEdgeLength));
    if (!(sine <= kMaxNonParallelSine)) return isSegmentFree(scene, ax, ay, bx, by);

    nextStamp(scratch, index);
    auto crosses = [&](const SightEdge& e) {
        return e.ring < 0 ? edgeCutsSegment(e.p, e.q, a2x, a2y, dx, dy)
                          : edgeCrossesSegment(e.p, e.q, a2x, a2y, b2x, b2y, dx, dy);
    };
    for (std::size_t k = 0; k < scratch.blockerCount; ++k) {
        if (crosses(index.edges[scratch.recentBlockers[k]])) return false;
    }

    // Crossings with the edges near the move, walking from its start.
    scratch.perimeterEdges.clear();
    scratch.obstacles.clear();
    scratch.obstacleEdgeStart.clear();
    scratch.obstacleEdges.clear();
    scratch.parallelObstacleEdges.clear();
    // An edge farther than the cell margin from the shrunk move can neither
    // cross it nor meet it unless it is nearly parallel, and those are
    // tested below wherever they lie: the walk tests near edges only.  The
    // same holds for an obstacle whose box is that far.
    const double xLo = std::min(a2x, b2x) - kSightCellMargin;
    const double xHi = std::max(a2x, b2x) + kSightCellMargin;
    const double yLo = std::min(a2y, b2y) - kSightCellMargin;
    const double yHi = std::max(a2y, b2y) + kSightCellMargin;
    const double sideLimit = kSightCellMargin * dlen;
    auto side = [&](double x, double y) {
        const double c = (x - a2x) * dy - (y - a2y) * dx;
        return c > sideLimit ? 1 : (c < -sideLimit ? -1 : 0);
    };
    auto farFromMove = [&](const SightEdge& e) {
        if (std::max(e.p.x, e.q.x) < xLo || std::min(e.p.x, e.q.x) > xHi ||
            std::max(e.p.y, e.q.y) < yLo || std::min(e.p.y, e.q.y) > yHi) {
            return true;
        }
        const int sp = side(e.p.x, e.p.y);
        return sp != 0 && sp == side(e.q.x, e.q.y);
    };
    auto boxFarFromMove = [&](const SightIndex::Box& b) {
        if (b.x1 < xLo || b.x0 > xHi || b.y1 < yLo || b.y0 > yHi) return true;
        const int s0 = side(b.x0, b.y0);
        return s0 != 0 && s0 == side(b.x1, b.y0) && s0 == side(b.x0, b.y1) &&
               s0 == side(b.x1, b.y1);
    };
    // Tests one edge; false when it crosses the move.
    auto passes = [&](std::uint32_t id) {
        scratch.edgeMark[id] = scratch.stamp;
        if (!crosses(index.edges[id])) return true;
        rememberBlocker(scratch, id);
        return false;
    };
    if (forEachCellNear(index.grid, a2x, a2y, b2x, b2y, kSightQueryPad, [&](std::size_t cell) {
            for (std::uint32_t k = index.cellStart[cell]; k < index.cellStart[cell + 1]; ++k) {
                const std::uint32_t id = index.cellEdges[k];
                if (scratch.edgeMark[id] == scratch.stamp || farFromMove(index.edges[id])) continue;
                if (!passes(id)) return true;
                scratch.perimeterEdges.push_back(id);
            }
            for (std::uint32_t k = index.obstacleStart[cell]; k < index.obstacleStart[cell + 1];
                 ++k) {
                const std::uint32_t ob = index.cellObstacles[k];
                if (scratch.obstacleMark[ob] == scratch.stamp) continue;
                scratch.obstacleMark[ob] = scratch.stamp;
                if (boxFarFromMove(index.obstacleBoxes[ob])) continue;
                const std::size_t before = scratch.obstacleEdges.size();
                const std::uint32_t first = index.obstacleEdgeBegin[ob];
                const std::uint32_t count =
                    static_cast<std::uint32_t>(scene.obstacles[ob].points.size());
                for (std::uint32_t id = first; id < first + count; ++id) {
                    if (farFromMove(index.edges[id])) continue;
                    if (!passes(id)) return true;
                    scratch.obstacleEdges.push_back(id);
                }
                if (scratch.obstacleEdges.size() > before) {
                    scratch.obstacles.push_back(ob);
                    scratch.obstacleEdgeStart.push_back(static_cast<std::uint32_t>(before));
                }
            }
            return false;
        })) {
        return false;
    }

    // The midpoint of the whole move strictly inside an obstacle.  (The
    // obstacle marks of this stamp list the near obstacles; the midpoint
    // test keeps its own list.)
    const double mx = (ax + bx) / 2.0;
    const double my = (ay + by) / 2.0;
    bool blocked = false;
    std::vector<std::uint32_t>& tested = scratch.midpointObstacles;
    tested.clear();
    forEachCellAt(index.grid, mx, my, [&](std::size_t cell) {
        for (std::uint32_t k = index.obstacleStart[cell];
             k < index.obstacleStart[cell + 1] && !blocked; ++k) {
            const std::uint32_t id = index.cellObstacles[k];
            if (std::find(tested.begin(), tested.end(), id) != tested.end()) continue;
            tested.push_back(id);
            blocked = isPointStrictlyInPolygon(scene.obstacles[id].points, mx, my);
        }
    });
    if (blocked) return false;

    // The shrunk move's ends and middle inside the lawn.
    if (!pointInPerimeter(index, a2x, a2y)) return false;
    if (!pointInPerimeter(index, b2x, b2y)) return false;
    if (!pointInPerimeter(index, (a2x + b2x) / 2.0, (a2y + b2y) / 2.0)) return false;

    // Nearly parallel and short edges, wherever they lie.
    auto testFarEdge = [&](std::uint32_t id) {
        if (scratch.edgeMark[id] == scratch.stamp) return true;
        if (!passes(id)) return false;
        if (index.edges[id].ring < 0)
            scratch.perimeterEdges.push_back(id);
        else
            scratch.parallelObstacleEdges.push_back(id);
        return true;
    };
    for (std::uint32_t id : index.shortEdges) {
        if (!testFarEdge(id)) return false;
    }
    const double theta = foldedAngle(dx, dy);
    const double half = sine * kHalfPi * (1.0 + 1e-9) + 1e-12;
    auto testAngles = [&](double lo, double hi) {
        auto it = std::lower_bound(index.angles.begin(), index.angles.end(), lo);
        for (; it != index.angles.end() && *it <= hi; ++it) {
            if (!testFarEdge(index.angleEdges[static_cast<std::size_t>(it - index.angles.begin())]))
                return false;
        }
        return true;
    };
    if (!testAngles(theta - half, theta + half)) return false;
    if (theta - half < 0.0 && !testAngles(theta - half + kPi, kPi)) return false;
    if (theta + half >= kPi && !testAngles(0.0, theta + half - kPi)) return false;

    // The pieces of the move between its meetings with each near obstacle:
    // the meetings come from its near edges and its nearly parallel ones.
    std::vector<double>& params = scratch.params;
    const double dd = dx * dx + dy * dy;
    for (std::size_t k = 0; k < scratch.obstacles.size(); ++k) {
        const std::uint32_t ob = scratch.obstacles[k];
        const std::size_t end = k + 1 < scratch.obstacles.size() ? scratch.obstacleEdgeStart[k + 1]
                                                                 : scratch.obstacleEdges.size();
        params.clear();
        params.push_back(0.0);
        params.push_back(1.0);
        for (std::size_t i = scratch.obstacleEdgeStart[k]; i < end; ++i) {
            const SightEdge& e = index.edges[scratch.obstacleEdges[i]];
            edgeMeetings(e.p, e.q, a2x, a2y, dx, dy, dd, params);
        }
        for (std::uint32_t id : scratch.parallelObstacleEdges) {
            const SightEdge& e = index.edges[id];
            if (e.ring == static_cast<std::int32_t>(ob))
                edgeMeetings(e.p, e.q, a2x, a2y, dx, dy, dd, params);
        }
        if (piecesLie(scene.obstacles[ob].points, a2x, a2y, dx, dy, true, params)) return false;
    }

    // The pieces between its meetings with the perimeter.
    params.clear();
    params.push_back(0.0);
    params.push_back(1.0);
    for (std::uint32_t id : scratch.perimeterEdges) {
        edgeMeetings(index.edges[id].p, index.edges[id].q, a2x, a2y, dx, dy, dd, params);
    }
    std::sort(params.begin(), params.end());
    for (std::size_t k = 1; k < params.size(); ++k) {
        if (!(params[k] > params[k - 1])) continue;
        const double s = (params[k - 1] + params[k]) * 0.5;
        const double x = a2x + s * dx;
        const double y = a2y + s * dy;
        if (!pointInPerimeter(index, x, y) && distanceToPerimeter(index, x, y) > kPieceBoundaryBand)
            return false;
    }
    return true;
}

}  // namespace Planner
