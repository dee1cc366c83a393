#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "planner/constants.h"
#include "planner/contacts.h"
#include "planner/geometry.h"
#include "planner/normalise.h"
#include "test_helpers.h"

using namespace Planner;
using TestHelpers::poly;
using TestHelpers::square;

namespace {

Polygon box(double x0, double y0, double x1, double y1) {
    return poly({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}});
}

bool inSomeObstacle(const Environment& scene, double x, double y) {
    for (const Polygon& o : scene.obstacles)
        if (isPointInPolygon(o.points, x, y)) return true;
    return false;
}

}  // namespace

TEST(Normalise, ObstaclesWithNothingOnTheLawnGo) {
    Environment scene = square(0, 10);
    scene.addObstacle(box(-5, -5, 15, -0.01));  // beside the lawn
    scene.addObstacle(box(10, 2, 12, 4));       // on its edge, outside
    scene.addObstacle(box(9, 5, 11, 6));        // over the edge
    scene.addObstacle(box(2, 2, 3, 3));         // on the lawn
    dropObstaclesOffLawn(scene);
    ASSERT_EQ(scene.obstacles.size(), 2u);
    EXPECT_EQ(scene.obstacles[0].points[0].x, 9.0);
    EXPECT_EQ(scene.obstacles[1].points[0].x, 2.0);
}

struct PinchCase {
    const char* name;
    std::vector<Polygon> obstacles;
    std::size_t seals;
};

class PinchSeals : public ::testing::TestWithParam<PinchCase> {};

TEST_P(PinchSeals, ClosePointsThatSplitTheFreeLawn) {
    Environment scene = square(0, 10);
    for (const Polygon& o : GetParam().obstacles) scene.addObstacle(o);
    const std::size_t before = scene.obstacles.size();
    sealPinchPoints(scene);
    EXPECT_EQ(scene.obstacles.size() - before, GetParam().seals);
}

INSTANTIATE_TEST_SUITE_P(
    Contacts, PinchSeals,
    ::testing::Values(
        PinchCase{"diamond_touching_two_edges",
                  {poly({{5, 0}, {7, 5}, {5, 10}, {3, 5}})}, 2},
        PinchCase{"bed_on_a_lawn_corner", {poly({{0, 0}, {2, 1}, {1, 2}})}, 1},
        PinchCase{"kites_tip_to_tip",
                  {poly({{5, 1}, {6, 3}, {5, 5}, {4, 3}}), poly({{5, 5}, {6, 7}, {5, 9}, {4, 7}})},
                  1},
        PinchCase{"shared_wall", {box(2, 2, 4, 4), box(4, 2, 6, 4)}, 0},
        PinchCase{"corner_on_a_wall", {box(2, 2, 4, 4), box(4, 3, 6, 6)}, 0},
        PinchCase{"bed_along_the_edge", {box(2, 0, 4, 1)}, 0},
        PinchCase{"tree_over_the_edge", {box(-1, 4, 1, 6)}, 0}),
    [](const ::testing::TestParamInfo<PinchCase>& info) { return info.param.name; });

TEST(Normalise, LawnInsideARingOfHedgesStaysLawn) {
    Environment scene = square(0, 20);
    for (const Polygon& h : {box(5, 5, 15, 5.3), box(5, 14.7, 15, 15), box(5, 5, 5.3, 15),
                             box(14.7, 5, 15, 15)})
        scene.addObstacle(h);
    normaliseScene(scene);
    EXPECT_GE(scene.obstacles.size(), 2u);  // the ring, cut into pieces
    EXPECT_FALSE(inSomeObstacle(scene, 10, 10));
    EXPECT_FALSE(inSomeObstacle(scene, 6, 6));
    // The hedges stay closed all round, also where the pieces meet.
    for (double x = 5.1; x < 15; x += 0.05) {
        EXPECT_TRUE(inSomeObstacle(scene, x, 5.15)) << x;
        EXPECT_TRUE(inSomeObstacle(scene, x, 14.85)) << x;
    }
}

TEST(Normalise, ASliverOfLawnInsideTouchingBedsIsFilled) {
    // Two L-shaped beds closing a pocket a millimetre wide.
    Environment scene = square(0, 20);
    scene.addObstacle(box(5, 5, 10, 5.5));
    scene.addObstacle(box(5, 5.5005, 10, 6));
    scene.addObstacle(box(4.9, 4.9, 5.0, 6.1));
    scene.addObstacle(box(10, 4.9, 10.1, 6.1));
    normaliseScene(scene);
    EXPECT_EQ(scene.obstacles.size(), 1u);
}

// Two obstacles a sliver apart (thinner than twice the merge growth) are
// merged as touching ones are: the sliver is closed; a wider gap stays open.
struct SliverCase {
    const char* name;
    double gap;
    double turn;  // radians: the pair turned about the sliver's middle
    bool tips;    // two wedges meeting tip to tip rather than two boxes side by side
};

class SliverGaps : public ::testing::TestWithParam<SliverCase> {};

TEST_P(SliverGaps, CloseWhenThinnerThanTheSeal) {
    const SliverCase c = GetParam();
    const double cx = 5.0, cy = 5.0;
    auto turned = [&](std::initializer_list<std::pair<double, double>> xy) {
        Polygon ring;
        for (const auto& [x, y] : xy) {
            const double dx = x - cx, dy = y - cy;
            ring.points.emplace_back(cx + dx * std::cos(c.turn) - dy * std::sin(c.turn),
                                     cy + dx * std::sin(c.turn) + dy * std::cos(c.turn));
        }
        return ring;
    };
    Environment scene = square(0, 10);
    const double h = c.gap / 2;
    if (c.tips) {
        scene.addObstacle(turned({{4, -1}, {6, -1}, {5, 5 - h}}));
        scene.addObstacle(turned({{5, 5 + h}, {6, 11}, {4, 11}}));
    } else {
        scene.addObstacle(turned({{4.7, -1}, {5.3, -1}, {5.3, 5 - h}, {4.7, 5 - h}}));
        scene.addObstacle(turned({{4.7, 5 + h}, {5.3, 5 + h}, {5.3, 11}, {4.7, 11}}));
    }
    mergeObstacles(scene);
    const bool closed = c.gap < kSliverGap;
    EXPECT_EQ(scene.obstacles.size(), closed ? 1u : 2u) << c.name;
    EXPECT_EQ(inSomeObstacle(scene, cx, cy), closed) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Merge, SliverGaps,
    ::testing::Values(SliverCase{"boxes_0_3mm", 0.0003, 0.0, false},
                      SliverCase{"boxes_1_5mm", 0.0015, 0.0, false},
                      SliverCase{"boxes_1_9mm_turned", 0.0019, 0.37, false},
                      SliverCase{"boxes_1_8mm_turned", 0.0018, 1.1, false},
                      SliverCase{"boxes_2_5mm", 0.0025, 0.0, false},
                      SliverCase{"tips_1mm", 0.001, 0.0, true},
                      SliverCase{"tips_1_9mm_turned", 0.0019, 0.61, true},
                      SliverCase{"tips_5mm", 0.005, 0.0, true}),
    [](const ::testing::TestParamInfo<SliverCase>& info) { return std::string(info.param.name); });
