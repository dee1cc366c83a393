// The lane stage as the algorithm is written: every scanline meets every
// ring, every lane's midpoint is tested against every ring.
#include <algorithm>
#include <cmath>

#include "planner/constants.h"
#include "planner/inset.h"
#include "planner/lanes.h"
#include "reference_planner.h"

namespace Reference {

using Planner::Polygon;

std::vector<LineString> generateSlices(const Environment& area, double spacing) {
    std::vector<LineString> slices;
    const std::vector<Point>& perimeter = area.perimeter.points;
    if (perimeter.size() < 3) return slices;
    if (!std::isfinite(spacing) || spacing < Planner::kMinimumSpacing) return slices;
    double minY = perimeter[0].y;
    double maxY = perimeter[0].y;
    for (const Point& p : perimeter) {
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    if (!std::isfinite(minY) || !std::isfinite(maxY)) return slices;
    if ((maxY - minY) / spacing > static_cast<double>(Planner::kMaxLanesPerPass)) return slices;

    const Planner::ScanRange range = Planner::scanRangeFor(area);
    std::vector<double> xs;
    for (double y = minY + spacing * 0.5; y < maxY;) {
        xs.clear();
        Planner::scanlineIntersections(perimeter, y, xs, range);
        for (const Polygon& obstacle : area.obstacles)
            Planner::scanlineIntersections(obstacle.points, y, xs, range);
        for (const Polygon& mowArea : area.mowAreas)
            Planner::scanlineIntersections(mowArea.points, y, xs, range);
        xs.erase(std::remove_if(xs.begin(), xs.end(), [](double v) { return !std::isfinite(v); }),
                 xs.end());
        std::sort(xs.begin(), xs.end());
        std::size_t kept = xs.empty() ? 0 : 1;
        for (std::size_t i = 1; i < xs.size(); ++i) {
            if (!(std::fabs(xs[i] - xs[kept - 1]) < Planner::kMergeTolerance)) xs[kept++] = xs[i];
        }
        xs.resize(kept);
        for (std::size_t i = 1; i < xs.size(); ++i) {
            const double a = xs[i - 1];
            const double b = xs[i];
            if (std::fabs(b - a) < Planner::kMergeTolerance) continue;
            const double m = (a + b) * 0.5;
            if (!Reference::isPointInPolygon(perimeter, m, y)) continue;
            bool blocked = false;
            for (const Polygon& obstacle : area.obstacles)
                blocked = blocked || Reference::isPointInPolygon(obstacle.points, m, y);
            if (blocked) continue;
            bool inArea = area.mowAreas.empty();
            for (const Polygon& mowArea : area.mowAreas)
                inArea = inArea || Reference::isPointInPolygon(mowArea.points, m, y);
            if (!inArea) continue;
            slices.push_back(LineString({Point(a, y), Point(b, y)}));
        }
        const double next = y + spacing;
        if (!(next > y)) break;
        y = next;
    }
    return slices;
}

namespace {

void quarterTurn(std::vector<Point>& points) {
    const double c = Planner::kCosQuarterTurn;
    for (Point& p : points) p = Point(p.x * c - p.y, p.x + p.y * c);
}

void quarterTurnBack(std::vector<Point>& points) {
    const double c = Planner::kCosQuarterTurn;
    for (Point& p : points) p = Point(p.x * c + p.y, p.y * c - p.x);
}

}  // namespace

std::vector<LineString> patternSlices(const Environment& area, const PathSettings& settings) {
    if (settings.pattern == "lines") return Reference::generateSlices(area, settings.offset);
    if (settings.pattern == "squares") {
        std::vector<LineString> slices = Reference::generateSlices(area, settings.offset);
        Environment turned = area;
        quarterTurn(turned.perimeter.points);
        for (Polygon& obstacle : turned.obstacles) quarterTurn(obstacle.points);
        for (Polygon& mowArea : turned.mowAreas) quarterTurn(mowArea.points);
        for (LineString& lane : Reference::generateSlices(turned, settings.offset)) {
            quarterTurnBack(lane.points);
            slices.push_back(std::move(lane));
        }
        return slices;
    }
    std::vector<LineString> slices;
    if (!std::isfinite(settings.offset) || settings.offset < Planner::kMinimumSpacing)
        return slices;
    for (Planner::Ring& ring :
         Planner::computeInsetRings(area, 0, settings.offset, Planner::kLapFirstInset))
        slices.emplace_back(std::move(ring));
    return slices;
}

}  // namespace Reference
