#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <utility>

#include "planner/geometry.h"
#include "test_helpers.h"

using namespace Planner;
using TestHelpers::pts;

namespace {

const std::vector<Point> kUnitSquare = pts({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct PointCase {
    double x, y;
    bool inclusive, strict;
};

class PointInRing : public ::testing::TestWithParam<PointCase> {};

TEST_P(PointInRing, InclusiveAndStrict) {
    const PointCase c = GetParam();
    EXPECT_EQ(isPointInPolygon(kUnitSquare, c.x, c.y), c.inclusive) << c.x << "," << c.y;
    EXPECT_EQ(isPointStrictlyInPolygon(kUnitSquare, c.x, c.y), c.strict) << c.x << "," << c.y;
}

INSTANTIATE_TEST_SUITE_P(
    UnitSquare, PointInRing,
    ::testing::Values(PointCase{0.5, 0.5, true, true},      // interior
                      PointCase{0.5, 0.0, true, false},     // on an edge
                      PointCase{0.5, -5e-10, true, false},  // within the boundary band
                      PointCase{0.5, -2e-9, false, false},  // just outside the band
                      PointCase{1.0, 1.0, true, false},     // a vertex
                      PointCase{0.0, 0.5, true, false},     // on the closing edge
                      PointCase{1.5, 0.5, false, false},    // outside
                      PointCase{kNaN, 0.5, false, false},   // not a position
                      PointCase{0.5, kInf, false, false}));

TEST(PointInRing, RingsOfFewerThanThreePointsAreEmpty) {
    const auto two = pts({{0, 0}, {1, 0}});
    EXPECT_FALSE(isPointInPolygon(two, 0.5, 0.0));
    EXPECT_FALSE(isPointStrictlyInPolygon(two, 0.5, 0.0));
    EXPECT_FALSE(segmentCrossesPolygon(two, 0.5, -1, 0.5, 1));
    EXPECT_FALSE(isSegmentInPolygon(two, 0, 0, 1, 0));
    EXPECT_FALSE(isPointInPolygon({}, 0, 0));
}

TEST(PointInRing, BoundaryBandIsOnTheRawCrossProduct) {
    // A 1000 m edge: the band of 1e-9 on the cross product is 1e-12 m wide.
    const auto big = pts({{0, 0}, {1000, 0}, {1000, 1000}, {0, 1000}});
    EXPECT_TRUE(isPointInPolygon(big, 500, 0.0));
    EXPECT_FALSE(isPointInPolygon(big, 500, -5e-10));
}

struct SegmentCase {
    double ax, ay, bx, by;
    bool crosses;
};

class CrossesUnitSquare : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(CrossesUnitSquare, ProperCrossingsOnly) {
    const SegmentCase c = GetParam();
    EXPECT_EQ(segmentCrossesPolygon(kUnitSquare, c.ax, c.ay, c.bx, c.by), c.crosses);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CrossesUnitSquare,
    ::testing::Values(SegmentCase{-1, 0.5, 2, 0.5, true},          // through two edges
                      SegmentCase{0.5, 0.5, 0.5, -0.0005, false},  // crossing within 1 mm of B
                      SegmentCase{0.5, 0.5, 0.5, -0.01, true},     // crossing 1 cm from B
                      SegmentCase{-1, 0, 2, 0, false},             // along an edge
                      SegmentCase{-1, -1, 2, 2, false},            // through two vertices
                      SegmentCase{2, 0, 2, 1, false},              // outside
                      SegmentCase{0.2, 0.2, 0.8, 0.8, false}));    // inside

TEST(CollinearOverlap, SharedStretch) {
    std::vector<Point> out;
    EXPECT_TRUE(getCollinearOverlap(out, 0, 0, 2, 0, 1, 0, 3, 0));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].x, 1);
    EXPECT_EQ(out[1].x, 2);
    // Appends, never clears.
    EXPECT_TRUE(getCollinearOverlap(out, 3, 0, 0, 0, -1, 0, 1, 0));
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[2].x, 0);
    EXPECT_EQ(out[3].x, 1);
}

TEST(CollinearOverlap, NoStretch) {
    std::vector<Point> out;
    EXPECT_FALSE(getCollinearOverlap(out, 0, 0, 1, 0, 1, 0, 2, 0));  // touching at one point
    EXPECT_FALSE(getCollinearOverlap(out, 0, 0, 1, 0, 0, 1, 1, 1));  // parallel, apart
    EXPECT_FALSE(getCollinearOverlap(out, 0, 0, 1, 0, 0, 0, 1, 1));  // not parallel
    EXPECT_TRUE(out.empty());
}

TEST(CollinearOverlap, VerticalSegmentsSortByY) {
    std::vector<Point> out;
    EXPECT_TRUE(getCollinearOverlap(out, 0, 5, 0, 0, 0, 1, 0, 8));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].y, 1);
    EXPECT_EQ(out[1].y, 5);
}

TEST(SegmentInRing, BoundaryAllowedNoExemptionNearEnds) {
    EXPECT_TRUE(isSegmentInPolygon(kUnitSquare, 0.1, 0.1, 0.9, 0.9));
    EXPECT_TRUE(isSegmentInPolygon(kUnitSquare, 0, 0, 1, 0));   // along an edge
    EXPECT_TRUE(isSegmentInPolygon(kUnitSquare, 0, 0, 1, 1));   // vertex to vertex
    EXPECT_FALSE(isSegmentInPolygon(kUnitSquare, 0.5, 0.5, 1.5, 0.5));
    // Concave ring: both ends and the midpoint inside, but the segment leaves
    // through the notch's edges.
    const auto notch = pts({{0, 0}, {10, 0}, {10, 10}, {6, 10}, {5, 2}, {4, 10}, {0, 10}});
    EXPECT_FALSE(isSegmentInPolygon(notch, 1, 8, 9, 8));
}

TEST(SegmentFree, ShortMovesAreAlwaysFree) {
    Environment env(TestHelpers::poly({{0, 0}, {1, 0}, {1, 1}, {0, 1}}));
    EXPECT_TRUE(isSegmentFree(env, 5, 5, 5.005, 5));  // outside the lawn, 5 mm long
    EXPECT_FALSE(isSegmentFree(env, 5, 5, 5.5, 5));
}

TEST(SegmentFree, LawnEdgesAndObstacles) {
    Environment env = TestHelpers::square(0, 10);
    env.addObstacle(TestHelpers::poly({{4, 4}, {6, 4}, {6, 6}, {4, 6}}));
    EXPECT_TRUE(isSegmentFree(env, 0, 0, 10, 0));  // along the perimeter
    EXPECT_TRUE(isSegmentFree(env, 1, 1, 9, 1));
    EXPECT_FALSE(isSegmentFree(env, 1, 5, 9, 5));  // through the obstacle
    EXPECT_TRUE(isSegmentFree(env, 4, 1, 4, 9));   // along the obstacle's edge
    EXPECT_TRUE(isSegmentFree(env, 2, 5, 4, 4));   // ends on a corner
    EXPECT_FALSE(isSegmentFree(env, 4, 4, 6, 6));  // diagonal: midpoint strictly inside
    EXPECT_FALSE(isSegmentFree(env, 1, 1, 11, 1)); // leaves the lawn
}

TEST(SegmentFree, NonFiniteMovesAreNotFree) {
    Environment env = TestHelpers::square(0, 10);
    EXPECT_FALSE(isSegmentFree(env, kNaN, 1, 9, 1));
    EXPECT_FALSE(isSegmentFree(env, 1, 1, kInf, 1));
}

}  // namespace

// The shortcut skips the square root only where a difference along one axis
// already exceeds the distance limit; it must agree with the root everywhere,
// most of all next to the limit and at large coordinates.
TEST(Distance, ShortcutAgreesWithTheRoot) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double scales[] = {1e-4, kSamePosition, 1e3, 1e12};
    for (double base : scales) {
        for (int i = 0; i < 20000; ++i) {
            const double ax = base * unit(rng), ay = base * unit(rng);
            double dx = kSamePosition * (1.0 + 1e-15 * static_cast<double>(i % 7 - 3));
            double dy = kSamePosition * unit(rng) * (i % 2);
            if (i % 3 == 0) std::swap(dx, dy);
            const double bx = ax + dx * unit(rng), by = ay + dy;
            ASSERT_EQ(fartherThanSamePosition(ax, ay, bx, by),
                      distanceBetween(ax, ay, bx, by) > kSamePosition);
            ASSERT_EQ(fartherThanSamePosition(ax, ay, ax + dx, ay + dy),
                      distanceBetween(ax, ay, ax + dx, ay + dy) > kSamePosition);
        }
    }
}
