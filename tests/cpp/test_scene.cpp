#include <gtest/gtest.h>

#include "planner/scene.h"
#include "test_helpers.h"

using namespace Planner;
using TestHelpers::poly;

namespace {

std::vector<std::pair<double, double>> coords(const std::vector<Point>& points) {
    std::vector<std::pair<double, double>> out;
    for (const Point& p : points) out.emplace_back(p.x, p.y);
    return out;
}

using Coords = std::vector<std::pair<double, double>>;

}  // namespace

TEST(Orient, PerimeterIsStoredCounterClockwise) {
    Environment cw(poly({{0, 0}, {0, 1}, {1, 1}, {1, 0}}));
    EXPECT_EQ(coords(cw.perimeter.points), (Coords{{1, 0}, {1, 1}, {0, 1}, {0, 0}}));
    Environment ccw(poly({{0, 0}, {1, 0}, {1, 1}, {0, 1}}));
    EXPECT_EQ(coords(ccw.perimeter.points), (Coords{{0, 0}, {1, 0}, {1, 1}, {0, 1}}));
}

TEST(Orient, ObstaclesClockwiseMowAreasCounterClockwiseCallerUntouched) {
    Environment env(poly({{0, 0}, {5, 0}, {5, 5}, {0, 5}}));
    const Polygon ccw = poly({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    env.addObstacle(ccw);
    env.addMowArea(ccw);
    EXPECT_EQ(coords(env.obstacles[0].points), (Coords{{0, 1}, {1, 1}, {1, 0}, {0, 0}}));
    EXPECT_EQ(coords(env.mowAreas[0].points), coords(ccw.points));
    EXPECT_EQ(coords(ccw.points), (Coords{{0, 0}, {1, 0}, {1, 1}, {0, 1}}));
}

TEST(Orient, DegenerateRingsCountAsNotCounterClockwise) {
    Environment env(poly({{0, 0}, {1, 0}}));
    EXPECT_EQ(coords(env.perimeter.points), (Coords{{1, 0}, {0, 0}}));
    env.addObstacle(poly({{0, 0}, {1, 0}}));
    EXPECT_EQ(coords(env.obstacles[0].points), (Coords{{0, 0}, {1, 0}}));
    env.addMowArea(poly({{0, 0}, {1, 0}, {2, 0}}));
    EXPECT_EQ(coords(env.mowAreas[0].points), (Coords{{2, 0}, {1, 0}, {0, 0}}));
    env.addObstacle(poly({{0, 0}, {1, 0}, {2, 0}}));
    EXPECT_EQ(coords(env.obstacles[1].points), (Coords{{0, 0}, {1, 0}, {2, 0}}));
    // A repeated closing point keeps the ring's orientation and is kept.
    env.addMowArea(poly({{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}}));
    EXPECT_EQ(coords(env.mowAreas[1].points), (Coords{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}));
}

TEST(Settings, Defaults) {
    PathSettings s;
    EXPECT_EQ(s.pattern, "lines");
    EXPECT_EQ(s.offset, 0.5);
    EXPECT_EQ(s.angle, 0.0);
    EXPECT_EQ(s.distanceToBorder, 1.5);
    EXPECT_TRUE(s.mowArea);
    EXPECT_TRUE(s.mowBorder);
    EXPECT_FALSE(s.mowBorderCcw);
    EXPECT_EQ(s.borderLaps, 3u);
    EXPECT_TRUE(s.mowExclusionsBoder);
    EXPECT_FALSE(s.mowExclusionsBorderCcw);
    EXPECT_EQ(s.exclusionsBorderLaps, 2u);
}
