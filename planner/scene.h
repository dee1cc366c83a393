// Value types that describe a garden, the planning settings and the result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Planner {

struct Point {
    double x = 0.0;
    double y = 0.0;

    Point() = default;
    Point(double xValue, double yValue) : x(xValue), y(yValue) {}
};

// An ordered list of points describing a closed outline; the closing edge
// from the last point back to the first is implied.
using Ring = std::vector<Point>;

// An open polyline.
class LineString {
public:
    std::vector<Point> points;

    LineString() = default;
    explicit LineString(std::vector<Point> pointList) : points(std::move(pointList)) {}

    const std::vector<Point>& getPoints() const { return points; }
    void addPoint(Point point) { points.push_back(point); }
};

// A ring: the closing edge is implicit and the first vertex is not repeated.
class Polygon : public LineString {
public:
    Polygon() = default;
    explicit Polygon(std::vector<Point> pointList) : LineString(std::move(pointList)) {}

    // Reverses the vertex order if the ring's orientation differs from the
    // wanted one (rings of fewer than 3 points or of zero area count as not
    // counter-clockwise).
    void orient(bool counterClockwise);
};

// Signed area by the shoelace rule; positive for a counter-clockwise ring.
double signedArea(const std::vector<Point>& ring);

// True when the ring counts as counter-clockwise: at least 3 points and a
// strictly positive signed area.
bool isCounterClockwise(const std::vector<Point>& ring);

// Reverses `ring` if its orientation differs from the wanted one.
void orientRing(std::vector<Point>& ring, bool counterClockwise);

class Environment {
public:
    Polygon perimeter;               // counter-clockwise
    std::vector<Polygon> obstacles;  // each clockwise
    std::vector<Polygon> mowAreas;   // each counter-clockwise
    LineString virtualWire;
    LineString dockingWire;

    explicit Environment(const Polygon& perimeterRing);

    void addObstacle(const Polygon& obstacle);
    void addMowArea(const Polygon& mowArea);
    void setVirtualWire(const LineString& wire);
    void setDockingWire(const LineString& wire);

    const Polygon& getPerimeter() const { return perimeter; }
    const std::vector<Polygon>& getObstacles() const { return obstacles; }
};

struct PathSettings {
    std::string pattern = "lines";
    double offset = 0.5;
    double angle = 0.0;
    double distanceToBorder = 1.5;
    bool mowArea = true;
    bool mowBorder = true;
    bool mowBorderCcw = false;
    std::uint64_t borderLaps = 3;
    bool mowExclusionsBoder = true;
    bool mowExclusionsBorderCcw = false;
    std::uint64_t exclusionsBorderLaps = 2;
};

class PathPlanner {
public:
    struct PlanningResult {
        LineString path;                      // the complete tool path
        std::vector<LineString> slices;       // every mowing piece, reached or not
        std::vector<LineString> connectors;   // straight lines to slices reached by transit
        std::vector<LineString> searchEdges;  // edges the transit search accepted
    };
};

}  // namespace Planner
