#include "planner/lanes.h"

#include <algorithm>
#include <cmath>

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
    std::vector<double> xs;
    double y = minY + spacing * 0.5;
    while (y < maxY) {
        xs.clear();
        scanlineIntersections(perimeter, y, xs, range);
        for (const Polygon& obstacle : area.obstacles) scanlineIntersections(obstacle.points, y, xs, range);
        for (const Polygon& mowArea : area.mowAreas) scanlineIntersections(mowArea.points, y, xs, range);

        // Non-finite abscissae (from non-finite rings) carry no lane and
        // would break the ordering of the sort.
        xs.erase(std::remove_if(xs.begin(), xs.end(), [](double v) { return !std::isfinite(v); }),
                 xs.end());
        if (!xs.empty()) {
            std::sort(xs.begin(), xs.end());
            std::size_t kept = 1;
            for (std::size_t i = 1; i < xs.size(); ++i) {
                if (!(std::fabs(xs[i] - xs[kept - 1]) < kMergeTolerance)) xs[kept++] = xs[i];
            }
            xs.resize(kept);
            for (std::size_t i = 1; i < xs.size(); ++i) {
                const double a = xs[i - 1];
                const double b = xs[i];
                if (std::fabs(b - a) < kMergeTolerance) continue;
                const double m = (a + b) * 0.5;
                if (!isPointInPolygon(perimeter, m, y)) continue;
                bool blocked = false;
                for (const Polygon& obstacle : area.obstacles) {
                    if (isPointInPolygon(obstacle.points, m, y)) {
                        blocked = true;
                        break;
                    }
                }
                if (blocked) continue;
                if (!area.mowAreas.empty()) {
                    bool inArea = false;
                    for (const Polygon& mowArea : area.mowAreas) {
                        if (isPointInPolygon(mowArea.points, m, y)) {
                            inArea = true;
                            break;
                        }
                    }
                    if (!inArea) continue;
                }
                slices.push_back(LineString({Point(a, y), Point(b, y)}));
            }
        }

        const double next = y + spacing;
        if (!(next > y)) break;  // the spacing no longer moves y
        y = next;
    }
    return slices;
}

}  // namespace Planner
