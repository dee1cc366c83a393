#include "planner/lanes.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>

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

namespace {

// One edge P -> Q of scanlineIntersections.
void scanlineEdge(const Point& p, const Point& q, double y, double width, const ScanRange& range,
                  std::vector<double>& xs) {
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

}  // namespace

void scanlineIntersections(const std::vector<Point>& ring, double y, std::vector<double>& xs,
                           const ScanRange& range) {
    const std::size_t n = ring.size();
    if (n == 0) return;
    const double width = range.right - range.left;
    for (std::size_t i = 0; i < n; ++i)
        scanlineEdge(ring[i], ring[(i + 1) % n], y, width, range, xs);
}

namespace {

// ---- Boxes and near edges: a lane meets few of many obstacles, and few
// edges of a long outline.
//
// Where every coordinate of the scene is finite and within
// kIndexCoordinateLimit (L), an edge or a ring whose y-range grown by
// kLaneBoxPad (pad; the growth rounds by under 1e-10) misses a scanline,
// or a ring whose box so grown misses a lane's midpoint, is skipped, and
// the skip changes nothing:
// - Scanline (scanlineIntersections): both ends of an edge P -> Q
//   (e = Q - P) lie at least pad above y, or both at least pad below.  The
//   crossing parameter t = width (P.y - y) / (-width e.y) is
//   (y - P.y) / e.y up to three roundings (relative 1e-15; no overflow,
//   underflow or non-finite value within these bounds), and exactly that
//   is <= -pad / |e.y| or >= 1 + pad / |e.y| with |e.y| <= 2L, so at least
//   5e-8 beyond the accepted [-1e-9, 1 + 1e-9].  The collinear stretch needs
//   |width e.y| <= 1e-9, so |e.y| <= 5e-13 (width >= 2000), and
//   |(y - P.y) e.x - (left - P.x) e.y| <= 1e-9 with |left - P.x| <= width,
//   so |e.x| <= 2.1e-7: the edge's squared length is below 1e-13, and a
//   stretch shorter than kMergeTolerance in those units is no overlap.
//   Such an edge adds no abscissa, and the others add theirs in the same
//   order.
// - Midpoint (isPointInPolygon): an edge as above neither holds the point
//   (that needs y within 1e-9 of the edge's y-range) nor straddles the
//   ray's line, so the other edges alone decide.  A point more than pad
//   outside a ring's box is on no edge (the on-edge test needs it within
//   1e-9 of the edge's box).  Above or below the ring's y-range no edge
//   straddles the ray's line, and left of the ring the ray crosses every
//   straddling edge (the computed crossing abscissa lies within 1e-9 of
//   the edge's x-range), which a closed ring has an even number of; right
//   of it it crosses none.  Either way the point is outside.
// A scene with a coordinate beyond these bounds tests every edge.
bool sceneWithinIndexLimit(const Environment& area) {
    if (!withinIndexLimit(area.perimeter.points)) return false;
    for (const Polygon& ring : area.obstacles)
        if (!withinIndexLimit(ring.points)) return false;
    for (const Polygon& ring : area.mowAreas)
        if (!withinIndexLimit(ring.points)) return false;
    return true;
}

// A box that every scanline and point meets: the ring is always tested.
Box everywhere() {
    const double inf = std::numeric_limits<double>::infinity();
    return Box{-inf, -inf, inf, inf};
}

Box grownBox(const std::vector<Point>& ring) {
    if (ring.empty()) return everywhere();
    Box box = boxOf(ring);
    box.x0 -= kLaneBoxPad;
    box.x1 += kLaneBoxPad;
    box.y0 -= kLaneBoxPad;
    box.y1 += kLaneBoxPad;
    return box;
}

// The edges of a long ring near the scanline (edge k from point k to point
// k + 1), for scanlines of increasing y, in ring order.
class EdgeSweep {
public:
    explicit EdgeSweep(const std::vector<Point>& ring) {
        const std::size_t n = ring.size();
        low_.resize(n);
        high_.resize(n);
        order_.resize(n);
        for (std::size_t k = 0; k < n; ++k) {
            const Point& p = ring[k];
            const Point& q = ring[(k + 1) % n];
            low_[k] = std::min(p.y, q.y) - kLaneBoxPad;
            high_[k] = std::max(p.y, q.y) + kLaneBoxPad;
            order_[k] = static_cast<std::uint32_t>(k);
        }
        std::sort(order_.begin(), order_.end(), [this](std::uint32_t a, std::uint32_t b) {
            return low_[a] < low_[b] || (low_[a] == low_[b] && a < b);
        });
    }

    // Moves to the scanline y, not below the last one.
    void advance(double y) {
        near_.erase(std::remove_if(near_.begin(), near_.end(),
                                   [this, y](std::uint32_t k) { return high_[k] < y; }),
                    near_.end());
        const std::size_t kept = near_.size();
        for (; next_ < order_.size() && low_[order_[next_]] <= y; ++next_) {
            if (high_[order_[next_]] >= y) near_.push_back(order_[next_]);
        }
        if (near_.size() > kept) std::sort(near_.begin(), near_.end());
    }

    const std::vector<std::uint32_t>& near() const { return near_; }

private:
    std::vector<double> low_, high_;
    std::vector<std::uint32_t> order_;  // edges by low_
    std::size_t next_ = 0;              // first edge of order_ not yet met
    std::vector<std::uint32_t> near_;
};

// One ring as the lane stage reads it: its box, and for a long ring in a
// scene within the bounds its edges near the scanline.
class LaneRing {
public:
    LaneRing(const std::vector<Point>& ring, bool bounded)
        : ring_(ring),
          box_(bounded ? grownBox(ring) : everywhere()),
          swept_(bounded && ring.size() >= kLaneSweepMinEdges) {
        if (swept_) sweep_.reset(new EdgeSweep(ring));
    }

    bool meetsLine(double y) const { return box_.y0 <= y && y <= box_.y1; }
    double minX() const { return box_.x0; }
    double maxX() const { return box_.x1; }

    void addCrossings(double y, std::vector<double>& xs, const ScanRange& range) {
        if (!swept_) {
            scanlineIntersections(ring_, y, xs, range);
            return;
        }
        sweep_->advance(y);
        const double width = range.right - range.left;
        const std::size_t n = ring_.size();
        for (std::uint32_t k : sweep_->near())
            scanlineEdge(ring_[k], ring_[(k + 1) % n], y, width, range, xs);
    }

    // isPointInPolygon at a point of the scanline last given to addCrossings.
    bool holds(double x, double y) const {
        if (!(box_.x0 <= x && x <= box_.x1 && meetsLine(y))) return false;
        if (!swept_) return isPointInPolygon(ring_, x, y);
        // The even-odd test over the near edges, each walked as the full
        // test walks it (from point k to point k + 1 as j -> i).
        const std::size_t n = ring_.size();
        bool inside = false;
        for (std::uint32_t k : sweep_->near()) {
            const Point& pi = ring_[(k + 1) % n];
            const Point& pj = ring_[k];
            if (pointEdgeStep(pi.x, pi.y, pj.x, pj.y, x, y, inside)) return true;
        }
        return inside;
    }

private:
    const std::vector<Point>& ring_;
    Box box_;
    bool swept_;
    std::unique_ptr<EdgeSweep> sweep_;
};

// The rings of one kind (obstacles or mow areas), and those that meet the
// current scanline.
class RingSet {
public:
    RingSet(const std::vector<Polygon>& list, bool bounded) {
        rings_.reserve(list.size());
        for (const Polygon& ring : list) rings_.emplace_back(ring.points, bounded);
    }

    // Appends the scanline's abscissae on these rings, ring after ring.
    void addCrossings(double y, std::vector<double>& xs, const ScanRange& range) {
        onLine_.clear();
        for (std::size_t i = 0; i < rings_.size(); ++i) {
            if (!rings_[i].meetsLine(y)) continue;
            onLine_.push_back(i);
            rings_[i].addCrossings(y, xs, range);
        }
        std::sort(onLine_.begin(), onLine_.end(), [this](std::size_t a, std::size_t b) {
            const double left = rings_[a].minX(), other = rings_[b].minX();
            return left < other || (left == other && a < b);
        });
        open_.clear();
        nextOpen_ = 0;
    }

    // Whether (x, y) lies in one of the rings, for points of the scanline
    // last given to addCrossings by non-decreasing x: only rings whose box
    // reaches x are tested, which changes no answer (see above).
    bool someHolds(double x, double y) {
        for (; nextOpen_ < onLine_.size() && rings_[onLine_[nextOpen_]].minX() <= x; ++nextOpen_)
            open_.push_back(onLine_[nextOpen_]);
        open_.erase(std::remove_if(open_.begin(), open_.end(),
                                   [this, x](std::size_t i) { return rings_[i].maxX() < x; }),
                    open_.end());
        for (std::size_t i : open_) {
            if (rings_[i].holds(x, y)) return true;
        }
        return false;
    }

private:
    std::vector<LaneRing> rings_;
    std::vector<std::size_t> onLine_;  // rings meeting the scanline, by the left side of the box
    std::size_t nextOpen_ = 0;         // first of onLine_ not yet reached by x
    std::vector<std::size_t> open_;    // rings whose box reaches x
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
    const bool bounded = sceneWithinIndexLimit(area);
    LaneRing lawn(perimeter, bounded);
    RingSet obstacles(area.obstacles, bounded);
    RingSet mowAreas(area.mowAreas, bounded);
    std::vector<double> xs;
    double y = minY + spacing * 0.5;
    while (y < maxY) {
        xs.clear();
        lawn.addCrossings(y, xs, range);
        obstacles.addCrossings(y, xs, range);
        mowAreas.addCrossings(y, xs, range);
        sortAndMerge(xs);
        // A piece is a lane where its midpoint lies on the lawn, in no
        // obstacle and, if there are mow areas, in one of them.  The
        // midpoints come by non-decreasing x (rounding is monotonic).
        for (std::size_t i = 1; i < xs.size(); ++i) {
            const double a = xs[i - 1];
            const double b = xs[i];
            if (std::fabs(b - a) < kMergeTolerance) continue;
            const double m = (a + b) * 0.5;
            if (!lawn.holds(m, y)) continue;
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
