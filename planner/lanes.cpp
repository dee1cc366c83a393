#include "planner/lanes.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "planner/constants.h"
#include "planner/geometry.h"

namespace Planner {

namespace {

void widenByRing(const std::vector<Point>& ring, double& lo, double& hi) {
    for (const Point& p : ring) {
        if (!std::isfinite(p.x)) continue;
        lo = std::min(lo, p.x);
        hi = std::max(hi, p.x);
    }
}

}  // namespace

ScanRange scanRangeFor(const Environment& area) {
    double lo = -kScanlineHalfWidth;
    double hi = kScanlineHalfWidth;
    widenByRing(area.perimeter.points, lo, hi);
    for (const Polygon& ring : area.obstacles) widenByRing(ring.points, lo, hi);
    for (const Polygon& ring : area.mowAreas) widenByRing(ring.points, lo, hi);
    ScanRange range;
    if (lo < -kScanlineHalfWidth) range.left = lo - kScanlineMargin;
    if (hi > kScanlineHalfWidth) range.right = hi + kScanlineMargin;
    return range;
}

void scanlineIntersections(const std::vector<Point>& ring, double y, std::vector<double>& xs,
                           const ScanRange& range) {
    const std::size_t n = ring.size();
    if (n == 0) return;
    const double width = range.right - range.left;
    for (std::size_t i = 0; i < n; ++i) {
        const Point& p = ring[i];
        const Point& q = ring[(i + 1) % n];
        const double ex = q.x - p.x;
        const double ey = q.y - p.y;
        const double den = -width * ey;
        if (std::fabs(den) >= kParallelTolerance) {
            const double s = (ex * (p.y - y) - ey * (p.x - range.left)) / den;
            const double t = width * (p.y - y) / den;
            if (-kScanlineParamTolerance <= s && s <= kScanlineParamHigh &&
                -kScanlineParamTolerance <= t && t <= kScanlineParamHigh) {
                xs.push_back(p.x + t * ex);
            }
        }
        std::vector<Point> overlap;
        if (getCollinearOverlap(overlap, p.x, p.y, q.x, q.y, range.left, y, range.right, y)) {
            xs.push_back(overlap[0].x);
            xs.push_back(overlap[1].x);
        }
    }
}

namespace {

// ---- Ring boxes: a lane meets few of many obstacles.
//
// Where every coordinate of the scene is finite and within
// kIndexCoordinateLimit (L), a ring whose box grown by kLaneBoxPad (pad;
// the growth rounds by under 1e-10) misses a scanline or a lane's midpoint
// is skipped, and the skip changes nothing:
// - Scanline (scanlineIntersections): all points of the ring lie at least
//   pad above y, or all at least pad below.  For an edge P -> Q (e = Q - P)
//   the crossing parameter t = width (P.y - y) / (-width e.y) is
//   (y - P.y) / e.y up to three roundings (relative 1e-15; no overflow,
//   underflow or non-finite value within these bounds), and exactly that
//   is <= -pad / |e.y| or >= 1 + pad / |e.y| with |e.y| <= 2L, so at least
//   5e-8 beyond the accepted [-1e-9, 1 + 1e-9].  The collinear stretch needs
//   |width e.y| <= 1e-9, so |e.y| <= 5e-13 (width >= 2000), and
//   |(y - P.y) e.x - (left - P.x) e.y| <= 1e-9 with |left - P.x| <= width,
//   so |e.x| <= 2.1e-7: the edge's squared length is below 1e-13, and a
//   stretch shorter than kMergeTolerance in those units is no overlap.
//   Such a ring adds no abscissa, and the others add theirs in the same order.
// - Midpoint (isPointInPolygon): a point more than pad outside the box is
//   on no edge (the on-edge test needs it within 1e-9 of the edge's box).
//   Beside or beyond the ring's y-range no edge straddles the ray's line,
//   and left of the ring the ray crosses every straddling edge (the
//   computed crossing abscissa lies within 1e-9 of the edge's x-range),
//   which a closed ring has an even number of; right of it it crosses
//   none.  Either way the point is outside.
// A scene with a coordinate beyond these bounds tests every ring.
struct RingBox {
    double minX = 0.0;
    double maxX = 0.0;
    double minY = 0.0;
    double maxY = 0.0;
};

bool withinBoxLimit(const std::vector<Point>& ring) {
    for (const Point& p : ring) {
        if (!(std::fabs(p.x) <= kIndexCoordinateLimit && std::fabs(p.y) <= kIndexCoordinateLimit))
            return false;
    }
    return true;
}

bool sceneWithinBoxLimit(const Environment& area) {
    if (!withinBoxLimit(area.perimeter.points)) return false;
    for (const Polygon& ring : area.obstacles)
        if (!withinBoxLimit(ring.points)) return false;
    for (const Polygon& ring : area.mowAreas)
        if (!withinBoxLimit(ring.points)) return false;
    return true;
}

// A box that every scanline and point meets: the ring is always tested.
RingBox everywhere() {
    const double inf = std::numeric_limits<double>::infinity();
    return RingBox{-inf, inf, -inf, inf};
}

RingBox grownBox(const std::vector<Point>& ring) {
    if (ring.empty()) return everywhere();
    RingBox box{ring[0].x, ring[0].x, ring[0].y, ring[0].y};
    for (const Point& p : ring) {
        box.minX = std::min(box.minX, p.x);
        box.maxX = std::max(box.maxX, p.x);
        box.minY = std::min(box.minY, p.y);
        box.maxY = std::max(box.maxY, p.y);
    }
    box.minX -= kLaneBoxPad;
    box.maxX += kLaneBoxPad;
    box.minY -= kLaneBoxPad;
    box.maxY += kLaneBoxPad;
    return box;
}

std::vector<RingBox> ringBoxes(const std::vector<Polygon>& rings, bool bounded) {
    std::vector<RingBox> boxes;
    boxes.reserve(rings.size());
    for (const Polygon& ring : rings)
        boxes.push_back(bounded ? grownBox(ring.points) : everywhere());
    return boxes;
}

bool meetsLine(const RingBox& box, double y) { return box.minY <= y && y <= box.maxY; }

bool holds(const RingBox& box, double x, double y) {
    return box.minX <= x && x <= box.maxX && box.minY <= y && y <= box.maxY;
}

// The rings of one kind (obstacles or mow areas) with their boxes, and
// those that meet the current scanline, in ring order.
struct RingSet {
    const std::vector<Polygon>& rings;
    std::vector<RingBox> boxes;
    std::vector<std::size_t> onLine;

    RingSet(const std::vector<Polygon>& list, bool bounded)
        : rings(list), boxes(ringBoxes(list, bounded)) {}

    void addCrossings(double y, std::vector<double>& xs, const ScanRange& range) {
        onLine.clear();
        for (std::size_t i = 0; i < rings.size(); ++i) {
            if (!meetsLine(boxes[i], y)) continue;
            onLine.push_back(i);
            scanlineIntersections(rings[i].points, y, xs, range);
        }
    }

    bool someHolds(double x, double y) const {
        for (std::size_t i : onLine) {
            if (holds(boxes[i], x, y) && isPointInPolygon(rings[i].points, x, y)) return true;
        }
        return false;
    }
};

// Sorted abscissae, those within kMergeTolerance of the one kept before
// them dropped; non-finite ones (from non-finite rings) carry no lane and
// would break the ordering of the sort.
void sortAndMerge(std::vector<double>& xs) {
    xs.erase(std::remove_if(xs.begin(), xs.end(), [](double v) { return !std::isfinite(v); }),
             xs.end());
    if (xs.empty()) return;
    std::sort(xs.begin(), xs.end());
    std::size_t kept = 1;
    for (std::size_t i = 1; i < xs.size(); ++i) {
        if (!(std::fabs(xs[i] - xs[kept - 1]) < kMergeTolerance)) xs[kept++] = xs[i];
    }
    xs.resize(kept);
}

}  // namespace

std::vector<LineString> generateSlices(const Environment& area, double spacing) {
    std::vector<LineString> slices;
    const std::vector<Point>& perimeter = area.perimeter.points;
    if (perimeter.size() < 3) return slices;
    // A spacing that cannot advance the lanes would never end the pass.
    if (!std::isfinite(spacing) || spacing < kMinimumSpacing) return slices;

    double minY = perimeter[0].y;
    double maxY = perimeter[0].y;
    for (const Point& p : perimeter) {
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    if (!std::isfinite(minY) || !std::isfinite(maxY)) return slices;

    // A pass of more lanes than any lawn needs (50 km at 0.5 m) is refused
    // whole rather than cut short: the task it stands for cannot be mowed.
    if ((maxY - minY) / spacing > static_cast<double>(kMaxLanesPerPass)) return slices;

    const ScanRange range = scanRangeFor(area);
    const bool bounded = sceneWithinBoxLimit(area);
    RingSet obstacles(area.obstacles, bounded);
    RingSet mowAreas(area.mowAreas, bounded);
    std::vector<double> xs;
    double y = minY + spacing * 0.5;
    while (y < maxY) {
        xs.clear();
        scanlineIntersections(perimeter, y, xs, range);
        obstacles.addCrossings(y, xs, range);
        mowAreas.addCrossings(y, xs, range);
        sortAndMerge(xs);
        // A piece is a lane where its midpoint lies on the lawn, in no
        // obstacle and, if there are mow areas, in one of them.
        for (std::size_t i = 1; i < xs.size(); ++i) {
            const double a = xs[i - 1];
            const double b = xs[i];
            if (std::fabs(b - a) < kMergeTolerance) continue;
            const double m = (a + b) * 0.5;
            if (!isPointInPolygon(perimeter, m, y)) continue;
            if (obstacles.someHolds(m, y)) continue;
            if (!area.mowAreas.empty() && !mowAreas.someHolds(m, y)) continue;
            slices.push_back(LineString({Point(a, y), Point(b, y)}));
        }

        const double next = y + spacing;
        if (!(next > y)) break;  // the spacing no longer moves y
        y = next;
    }
    return slices;
}

}  // namespace Planner
