#include "planner/lane_ends.h"

#include <algorithm>
#include <cstddef>
#include <limits>

#include "planner/constants.h"
#include "planner/geometry.h"

namespace Planner {

namespace {

bool boxHolds(const std::vector<Point>& ring, double x, double y, double pad) {
    if (ring.size() < 3) return false;
    const Box b = boxOf(ring);
    return x >= b.x0 - pad && x <= b.x1 + pad && y >= b.y0 - pad && y <= b.y1 + pad;
}

// Whether (x, y) lies beyond the perimeter or inside an obstacle, farther
// than `band` from that outline.
bool onWrongSide(const Environment& working, double x, double y, double band) {
    const std::vector<Point>& perimeter = working.perimeter.points;
    if (!isPointInPolygon(perimeter, x, y) && outlineDistance(perimeter, x, y) > band) return true;
    for (const Polygon& obstacle : working.obstacles) {
        if (!boxHolds(obstacle.points, x, y, 0.0)) continue;
        if (isPointStrictlyInPolygon(obstacle.points, x, y) &&
            outlineDistance(obstacle.points, x, y) > band)
            return true;
    }
    return false;
}

void addMeetings(const std::vector<Point>& ring, const Point& a, double dx, double dy, double dd,
                 std::vector<double>& params) {
    const std::size_t n = ring.size();
    if (n < 3) return;
    for (std::size_t i = 0; i < n; ++i)
        edgeMeetings(ring[i], ring[(i + 1) % n], a.x, a.y, dx, dy, dd, params);
}

// The end `from` of the lane from -> to, moved to the first place where the
// lane meets an outline and the piece after it lies on the lawn.
bool pullEnd(const Environment& working, Point& from, const Point& to) {
    const double dx = to.x - from.x;
    const double dy = to.y - from.y;
    const double dd = dx * dx + dy * dy;
    if (!(dd > 0.0)) return false;
    std::vector<double> params{0.0, 1.0};
    addMeetings(working.perimeter.points, from, dx, dy, dd, params);
    for (const Polygon& obstacle : working.obstacles) {
        const Box b = boxOf(from, to);
        if (obstacle.points.size() < 3) continue;
        const Box o = boxOf(obstacle.points);
        if (o.x0 > b.x1 || o.x1 < b.x0 || o.y0 > b.y1 || o.y1 < b.y0) continue;
        addMeetings(obstacle.points, from, dx, dy, dd, params);
    }
    std::sort(params.begin(), params.end());
    for (std::size_t k = 1; k < params.size(); ++k) {
        if (!(params[k] > params[k - 1])) continue;
        const double s = (params[k - 1] + params[k]) * 0.5;
        if (onWrongSide(working, from.x + s * dx, from.y + s * dy, 0.0)) continue;
        if (params[k - 1] == 0.0) return false;
        from = Point(from.x + params[k - 1] * dx, from.y + params[k - 1] * dy);
        return true;
    }
    return false;
}

}  // namespace

bool areaLiesOnOutlines(const Environment& working, const Environment& area,
                        double distanceToBorder) {
    const std::vector<Point>& perimeter = area.perimeter.points;
    if (perimeter.empty()) return false;
    const Point& first = perimeter.front();
    const double near = std::max(kLaneEndNearOutline, 0.5 * distanceToBorder);
    if (outlineDistance(working.perimeter.points, first.x, first.y) < near) return true;
    for (const Polygon& obstacle : working.obstacles) {
        if (!boxHolds(obstacle.points, first.x, first.y, near)) continue;
        if (outlineDistance(obstacle.points, first.x, first.y) < near) return true;
    }
    return false;
}

void pullLaneEndsOntoOutlines(const Environment& working, std::vector<LineString>& slices) {
    for (LineString& lane : slices) {
        std::vector<Point>& ends = lane.points;
        if (ends.size() != 2) continue;
        if (onWrongSide(working, ends[0].x, ends[0].y, kLaneEndBand)) pullEnd(working, ends[0], ends[1]);
        if (onWrongSide(working, ends[1].x, ends[1].y, kLaneEndBand)) pullEnd(working, ends[1], ends[0]);
    }
}

}  // namespace Planner
