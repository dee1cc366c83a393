// Plans a 10 m x 6 m lawn with a 2 m x 2 m bed in it and prints the length
// of the route; exits non-zero when the planner returns no route.
#include <cmath>
#include <cstdio>

#include "planner/pipeline.h"

int main() {
    using namespace Planner;
    Environment garden(Polygon({{0, 0}, {10, 0}, {10, 6}, {0, 6}}));
    garden.addObstacle(Polygon({{4, 2}, {6, 2}, {6, 4}, {4, 4}}));

    PathSettings settings;
    settings.offset = 0.5;            // lane spacing, metres
    settings.distanceToBorder = 0.5;  // lanes keep this far from the edges, metres
    settings.angle = 0.0;             // lane direction, radians

    PathPlanner::PlanningResult result = PathService().computeFullTask(garden, settings, Point(0, 0));
    const std::vector<Point>& points = result.path.getPoints();
    double length = 0.0;
    for (std::size_t i = 1; i < points.size(); ++i) {
        double dx = points[i].x - points[i - 1].x;
        double dy = points[i].y - points[i - 1].y;
        length += std::sqrt(dx * dx + dy * dy);
    }
    std::printf("%zu pieces, %zu path points, path length %.3f m\n", result.slices.size(),
                points.size(), length);
    return points.size() >= 2 ? 0 : 1;
}
