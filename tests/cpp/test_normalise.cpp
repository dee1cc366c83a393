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

// Beds crossing at a sharp angle, and a mow area across the lawn's edge, at
// either sign of the coordinates: the grid truncates where outlines cross,
// and the merged bed (or clipped mow area) must not cut into a bed as given
// (or leave the lawn) by more than kCrossingSlack there.
struct CrossingCase {
    const char* name;
    std::vector<Point> lawn;
    std::vector<std::vector<Point>> beds;
};

class CrossingsOnTheGrid : public ::testing::TestWithParam<CrossingCase> {};

TEST_P(CrossingsOnTheGrid, MergedBedsHoldTheBedsAsGiven) {
    const CrossingCase& c = GetParam();
    Environment scene{Polygon(c.lawn)};
    for (const std::vector<Point>& bed : c.beds) scene.addObstacle(Polygon(bed));
    mergeObstacles(scene);
    ASSERT_EQ(scene.obstacles.size(), 1u);
    for (const Point& p : scene.obstacles[0].points) {
        for (const std::vector<Point>& bed : c.beds) {
            if (isPointStrictlyInPolygon(bed, p.x, p.y)) {
                EXPECT_LE(outlineDistance(bed, p.x, p.y), kCrossingSlack) << p.x << ", " << p.y;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Normalise, CrossingsOnTheGrid,
    ::testing::Values(
        CrossingCase{"notch_at_the_edge",
                     {{-8.487324128717255, 74.28368454108582}, {85.38466697146725, 48.25063475963862},
                      {17.93691710835332, -1.4915915857786999}},
                     {{{39.41874328294379, 54.534084731255184}, {32.085216879433155, 58.46197108352511},
                       {27.450814138829738, 49.80934933873443}},
                      {{29.975947609714026, 53.27082331857311}, {38.12228461016724, 57.209996114030474},
                       {35.29058616658243, 63.06604026413797}}}},
        CrossingCase{"two_triangles",
                     {{78.59042195262688, 50.107344110531734}, {141.38253777722323, -26.612369639104806},
                      {17.26479153985408, -0.08531041971880882}},
                     {{{93.03648794402396, 14.354310202121226}, {94.29739131176929, 19.240966573551823},
                       {91.59309097327669, 24.761761103281643}},
                      {{92.80344932314173, 20.395398383876536}, {94.62501226540637, 19.991287562786912},
                       {91.8368545019372, 18.632813265083644}}}}),
    [](const ::testing::TestParamInfo<CrossingCase>& info) { return std::string(info.param.name); });

TEST(Normalise, AMowAreaClippedToTheLawnKeepsToIt) {
    // In the lane frame of a garden far from the origin (negative y): the
    // crossings of the mow area with the lawn's edge were truncated 1.1 mm
    // beyond it.
    const std::vector<Point> lawn{{2607.503575, -2231.977427}, {2534.476283, -2242.276807},
                                  {2504.005510, -2258.945474}};
    Environment scene{Polygon(lawn)};
    scene.addMowArea(Polygon({{2568.219245, -2234.488190}, {2557.574589, -2235.989456},
                              {2559.075854, -2246.634112}, {2569.720510, -2245.132846}}));
    clipMowAreasToLawn(scene);
    ASSERT_EQ(scene.mowAreas.size(), 1u);
    for (const Point& p : scene.mowAreas[0].points) {
        if (!isPointInPolygon(lawn, p.x, p.y)) {
            EXPECT_LE(outlineDistance(lawn, p.x, p.y), kCrossingSlack) << p.x << ", " << p.y;
        }
    }
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
