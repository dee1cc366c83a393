#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "planner/lanes.h"
#include "test_helpers.h"

using namespace Planner;
using TestHelpers::poly;

namespace {

struct Lane {
    double x0, x1, y;
};

std::vector<Lane> lanes(const std::vector<LineString>& slices) {
    std::vector<Lane> out;
    for (const LineString& s : slices) {
        EXPECT_EQ(s.points.size(), 2u);
        EXPECT_EQ(s.points[0].y, s.points[1].y);
        EXPECT_LE(s.points[0].x, s.points[1].x);
        out.push_back({s.points[0].x, s.points[1].x, s.points[0].y});
    }
    return out;
}

TEST(Lanes, SquareSpacingOne) {
    const auto got = lanes(generateSlices(TestHelpers::square(0, 10), 1.0));
    ASSERT_EQ(got.size(), 10u);
    double y = 0.5;
    for (const Lane& lane : got) {
        EXPECT_EQ(lane.y, y);  // accumulated by repeated addition
        EXPECT_EQ(lane.x0, 0);
        EXPECT_EQ(lane.x1, 10);
        y += 1.0;
    }
}

TEST(Lanes, NoLaneOnTheTopEdge) {
    const auto got = lanes(generateSlices(TestHelpers::square(0, 10), 4.0));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].y, 2);
    EXPECT_EQ(got[1].y, 6);
}

TEST(Lanes, YIsAccumulatedNotRecomputed) {
    const auto got = lanes(generateSlices(TestHelpers::square(0, 10), 0.1));
    double y = 0.0 + 0.1 * 0.5;
    for (const Lane& lane : got) {
        EXPECT_EQ(lane.y, y);
        y = y + 0.1;
    }
    EXPECT_EQ(got.size(), 100u);
}

TEST(Lanes, ThinAndDegenerateLawnsGiveNone) {
    EXPECT_TRUE(generateSlices(Environment(poly({{0, 0}, {10, 0}, {10, 0.5}, {0, 0.5}})), 1.0)
                    .empty());
    EXPECT_TRUE(generateSlices(Environment(poly({{0, 0}, {10, 0}})), 1.0).empty());
    EXPECT_TRUE(generateSlices(Environment(Polygon()), 1.0).empty());
}

TEST(Lanes, ObstacleSplitsLanes) {
    Environment env = TestHelpers::square(0, 10);
    env.addObstacle(poly({{4, 4}, {6, 4}, {6, 6}, {4, 6}}));
    const auto got = lanes(generateSlices(env, 1.0));
    ASSERT_EQ(got.size(), 12u);
    EXPECT_EQ(got[4].y, 4.5);
    EXPECT_EQ(got[4].x0, 0);
    EXPECT_EQ(got[4].x1, 4);
    EXPECT_EQ(got[5].x0, 6);
    EXPECT_EQ(got[5].x1, 10);
    EXPECT_EQ(got[6].y, 5.5);
}

TEST(Lanes, LaneAlongAnObstacleEdgeIsNotCut) {
    // The piece along the obstacle's horizontal edge has its midpoint on the
    // obstacle's boundary: not a slice.
    Environment env = TestHelpers::square(0, 10);
    env.addObstacle(poly({{4, 4.5}, {6, 4.5}, {6, 6}, {4, 6}}));
    const auto got = lanes(generateSlices(env, 1.0));
    std::vector<Lane> at;
    for (const Lane& l : got)
        if (l.y == 4.5) at.push_back(l);
    ASSERT_EQ(at.size(), 2u);
    EXPECT_EQ(at[0].x1, 4);
    EXPECT_EQ(at[1].x0, 6);
}

TEST(Lanes, LaneAlongAPerimeterEdgeIsKept) {
    Environment env(poly({{0, 0}, {10, 0}, {10, 5}, {5, 5}, {5, 10}, {0, 10}}));
    const auto got = lanes(generateSlices(env, 2.0));
    std::vector<Lane> at;
    for (const Lane& l : got)
        if (l.y == 5) at.push_back(l);
    ASSERT_EQ(at.size(), 2u);
    EXPECT_EQ(at[0].x0, 0);
    EXPECT_EQ(at[0].x1, 5);
    EXPECT_EQ(at[1].x0, 5);
    EXPECT_EQ(at[1].x1, 10);
}

TEST(Lanes, MowAreasRestrictAndSplit) {
    Environment env = TestHelpers::square(0, 10);
    env.addMowArea(poly({{0, 0}, {5, 0}, {5, 10}, {0, 10}}));
    for (const Lane& l : lanes(generateSlices(env, 1.0))) {
        EXPECT_EQ(l.x0, 0);
        EXPECT_EQ(l.x1, 5);
    }
    env.addMowArea(poly({{5, 0}, {10, 0}, {10, 10}, {5, 10}}));
    const auto both = lanes(generateSlices(env, 1.0));
    ASSERT_EQ(both.size(), 20u);
    EXPECT_EQ(both[0].x1, 5);
    EXPECT_EQ(both[1].x0, 5);
}

TEST(Lanes, NearDuplicateAbscissaeCollapseAgainstTheLastKept) {
    // A vertex on the scanline is reported by both of its edges.
    Environment env(poly({{0, 0}, {10, 0}, {10, 10}, {5, 5.5}, {0, 10}}));
    for (const Lane& l : lanes(generateSlices(env, 1.0))) EXPECT_LT(l.x0, l.x1);
}

using Spacing = double;
class BadSpacing : public ::testing::TestWithParam<Spacing> {};

TEST_P(BadSpacing, GivesNoLanes) {
    EXPECT_TRUE(generateSlices(TestHelpers::square(0, 10), GetParam()).empty());
}

INSTANTIATE_TEST_SUITE_P(Values, BadSpacing,
                         ::testing::Values(0.0, -1.0, 1e-9, 0.0009,
                                           std::numeric_limits<double>::quiet_NaN(),
                                           std::numeric_limits<double>::infinity(),
                                           -std::numeric_limits<double>::infinity()));

TEST(Lanes, SpacingThatNoLongerMovesYEnds) {
    // Far from the origin, adding 1 mm to y changes nothing.
    Environment env(poly({{0, 1e17}, {10, 1e17}, {10, 1e17 + 1e5}, {0, 1e17 + 1e5}}));
    EXPECT_LE(generateSlices(env, 0.001).size(), 1u);
}

TEST(Lanes, PassesOfAbsurdlyManyLanesAreRefused) {
    EXPECT_TRUE(generateSlices(TestHelpers::square(0, 1e12), 0.5).empty());
    EXPECT_TRUE(generateSlices(TestHelpers::square(0, 200), 0.001).empty());
    EXPECT_EQ(generateSlices(TestHelpers::square(0, 100), 0.001).size(), 100000u);
}

TEST(Lanes, ScanlineCoversLawnsBeyondOneKilometre) {
    Environment env(poly({{500, 0}, {3000, 0}, {3000, 10}, {500, 10}}));
    const auto got = lanes(generateSlices(env, 5.0));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].x0, 500);
    EXPECT_EQ(got[0].x1, 3000);
    Environment west(poly({{-3000, 0}, {-10, 0}, {-10, 10}, {-3000, 10}}));
    const auto w = lanes(generateSlices(west, 5.0));
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].x0, -3000);
}

TEST(Lanes, ScanlineWithinOneKilometreIsTheFixedSegment) {
    const ScanRange r = scanRangeFor(TestHelpers::square(-999, 999));
    EXPECT_EQ(r.left, -1000);
    EXPECT_EQ(r.right, 1000);
}

TEST(Lanes, NonFiniteCoordinatesGiveNoCrash) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const LineString& s : generateSlices(Environment(poly({{0, 0}, {nan, 0}, {10, 10}})), 1.0))
        for (const Point& p : s.points) EXPECT_TRUE(std::isfinite(p.x));
    EXPECT_TRUE(generateSlices(Environment(poly({{0, 0}, {10, 0}, {10, inf}, {0, 10}})), 1.0)
                    .empty());
    Environment env = TestHelpers::square(0, 10);
    env.addObstacle(poly({{nan, 4}, {6, 4}, {inf, 6}, {4, -inf}}));
    const auto got = generateSlices(env, 1.0);
    EXPECT_LE(got.size(), 30u);
    for (const LineString& s : got)
        for (const Point& p : s.points) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
}

}  // namespace
