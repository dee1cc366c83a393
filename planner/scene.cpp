#include "planner/scene.h"

#include <algorithm>

namespace Planner {

double signedArea(const std::vector<Point>& ring) {
    const std::size_t n = ring.size();
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const Point& a = ring[i];
        const Point& b = ring[(i + 1) % n];
        sum += a.x * b.y - b.x * a.y;
    }
    return 0.5 * sum;
}

bool isCounterClockwise(const std::vector<Point>& ring) {
    if (ring.size() < 3) return false;
    return signedArea(ring) > 0.0;
}

void orientRing(std::vector<Point>& ring, bool counterClockwise) {
    if (isCounterClockwise(ring) != counterClockwise) std::reverse(ring.begin(), ring.end());
}

void Polygon::orient(bool counterClockwise) { orientRing(points, counterClockwise); }

Environment::Environment(const Polygon& perimeterRing) : perimeter(perimeterRing) {
    perimeter.orient(true);
}

void Environment::addObstacle(const Polygon& obstacle) {
    obstacles.push_back(obstacle);
    obstacles.back().orient(false);
}

void Environment::addMowArea(const Polygon& mowArea) {
    mowAreas.push_back(mowArea);
    mowAreas.back().orient(true);
}

void Environment::setVirtualWire(const LineString& wire) { virtualWire.points = wire.points; }

void Environment::setDockingWire(const LineString& wire) { dockingWire.points = wire.points; }

}  // namespace Planner
