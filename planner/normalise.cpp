#include "planner/normalise.h"

#include <cstddef>

#include "planner/constants.h"
#include "planner/geometry.h"

namespace Planner {

void dropRepeatedWirePoints(LineString& wire) {
    std::vector<Point>& points = wire.points;
    if (points.size() < 2) return;
    std::size_t kept = 1;
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (distanceBetween(points[i], points[kept - 1]) < kSamePosition) continue;
        points[kept++] = points[i];
    }
    points.resize(kept);
}

void normaliseScene(Environment& scene) { dropRepeatedWirePoints(scene.virtualWire); }

}  // namespace Planner
