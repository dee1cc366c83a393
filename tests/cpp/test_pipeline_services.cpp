// What the pipeline offers beside computeFullTask: the kind of every slice,
// the slices without ordering, their figures, and the transit search
// between two points of a garden, each checked against a planning call.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "planner/geometry.h"
#include "planner/pipeline.h"
#include "test_helpers.h"

using namespace Planner;
using TestHelpers::poly;

namespace {

bool sameBits(const std::vector<Point>& a, const std::vector<Point>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::memcmp(&a[i].x, &b[i].x, sizeof(double)) != 0 ||
            std::memcmp(&a[i].y, &b[i].y, sizeof(double)) != 0)
            return false;
    }
    return true;
}

bool sameBits(const std::vector<LineString>& a, const std::vector<LineString>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!sameBits(a[i].points, b[i].points)) return false;
    return true;
}

Polygon circle(double cx, double cy, double r, int corners = 32) {
    std::vector<Point> ring;
    for (int k = 0; k < corners; ++k) {
        const double t = 2.0 * M_PI * k / corners;
        ring.emplace_back(cx + r * std::cos(t), cy + r * std::sin(t));
    }
    return Polygon(ring);
}

// A lawn ringed by a house (a notch), trees as 32-gons (two overlapping
// each other, one over the edge), a bed touching the lawn at a corner, a
// hedge with a gap at its top end (the far side is reached by transit), a
// virtual wire, and optionally a second hedge that cuts the lawn's right end
// off (its pieces are out of reach).
Environment backGarden(bool hedge) {
    Environment garden(poly({{0, 0}, {30, 0}, {30, 20}, {12, 20}, {12, 14}, {6, 14}, {6, 20},
                             {0, 20}}));
    garden.addObstacle(circle(8, 6, 1.5));
    garden.addObstacle(circle(9.8, 6.5, 1.2));
    garden.addObstacle(circle(29.5, 10, 2.0));
    garden.addObstacle(poly({{18, 8}, {22, 8}, {22, 12}, {18, 12}}));
    garden.addObstacle(poly({{26, 16}, {30, 16}, {30, 20}, {26, 20}}));
    garden.addObstacle(poly({{14.5, -1}, {15, -1}, {15, 12}, {14.5, 12}}));
    if (hedge) garden.addObstacle(poly({{23, -1}, {24, -1}, {24, 21}, {23, 21}}));
    garden.setVirtualWire(LineString(TestHelpers::pts({{2, 2}, {2, 12}, {16, 12}, {16, 2}})));
    return garden;
}

struct Case {
    std::string pattern;
    double angle;
    bool hedge;
};

class PipelineServices : public ::testing::TestWithParam<Case> {
protected:
    PathSettings settings() const {
        PathSettings s;
        s.pattern = GetParam().pattern;
        s.angle = GetParam().angle;
        s.offset = 0.6;
        s.distanceToBorder = 0.4;
        return s;
    }
};

TEST_P(PipelineServices, KindsComeWithTheSameResultAndFollowTheStages) {
    const Environment garden = backGarden(GetParam().hedge);
    const PathSettings s = settings();
    const PlannedTask planned = planTask(garden, s, Point(1, 1));
    const PathPlanner::PlanningResult full = computeFullTask(garden, s, Point(1, 1));
    ASSERT_TRUE(sameBits(planned.result.path.points, full.path.points));
    ASSERT_TRUE(sameBits(planned.result.slices, full.slices));
    ASSERT_EQ(planned.kinds.size(), full.slices.size());

    // Each lap stage alone gives as many slices as carry its kind.
    PathSettings perimeterOnly = s;
    perimeterOnly.mowArea = false;
    perimeterOnly.mowExclusionsBoder = false;
    PathSettings obstaclesOnly = s;
    obstaclesOnly.mowArea = false;
    obstaclesOnly.mowBorder = false;
    const std::size_t perimeter = computeFullTask(garden, perimeterOnly, Point(1, 1)).slices.size();
    const std::size_t obstacles = computeFullTask(garden, obstaclesOnly, Point(1, 1)).slices.size();
    const std::size_t area = full.slices.size() - perimeter - obstacles;
    const SliceKind areaKind = s.pattern == "rings" ? SliceKind::AreaRing : SliceKind::AreaLane;
    for (std::size_t i = 0; i < planned.kinds.size(); ++i) {
        const SliceKind want = i < area ? areaKind
                               : i < area + perimeter ? SliceKind::PerimeterLap
                                                      : SliceKind::ObstacleLap;
        EXPECT_EQ(planned.kinds[i], want) << "slice " << i;
    }
    EXPECT_GT(area, 0u);
    EXPECT_GT(perimeter, 0u);
    EXPECT_GT(obstacles, 0u);
}

TEST_P(PipelineServices, SlicesWithoutOrderingAreThePlansSlicesAndFiguresAddThemUp) {
    const Environment garden = backGarden(GetParam().hedge);
    const PathSettings s = settings();
    const PlannedTask planned = planTask(garden, s, Point(1, 1));
    const TaskSlices slices = computeTaskSlices(garden, s);
    EXPECT_TRUE(sameBits(slices.slices, planned.result.slices));
    EXPECT_EQ(slices.kinds, planned.kinds);

    const SliceFigures figures = computeSliceFigures(garden, s);
    SliceFigures counted;
    for (std::size_t i = 0; i < slices.slices.size(); ++i) {
        const auto k = static_cast<std::size_t>(slices.kinds[i]);
        const std::vector<Point>& p = slices.slices[i].points;
        counted.counts[k] += 1;
        for (std::size_t j = 1; j < p.size(); ++j) counted.lengths[k] += distanceBetween(p[j - 1], p[j]);
        if (p.size() >= 3) counted.lengths[k] += distanceBetween(p.back(), p.front());
    }
    for (std::size_t k = 0; k < kSliceKindCount; ++k) {
        EXPECT_EQ(figures.counts[k], counted.counts[k]) << "kind " << k;
        EXPECT_NEAR(figures.lengths[k], counted.lengths[k], 1e-6) << "kind " << k;
    }
}

// Every transit inside a plan (a connector runs from where the search
// started to its target) is the way findTransitBetween finds between the
// same two points: bit for bit without rotation, to rounding with it.
TEST_P(PipelineServices, TransitBetweenTwoPointsIsThePlansOwn) {
    const Environment garden = backGarden(GetParam().hedge);
    const PathSettings s = settings();
    PlanningOptions details;
    details.collectSearchDetails = true;
    const PathPlanner::PlanningResult full = computeFullTask(garden, s, Point(1, 1), details);
    ASSERT_FALSE(full.connectors.empty());
    const std::vector<Point>& path = full.path.points;
    std::size_t found = 0;
    std::size_t none = 0;
    for (const LineString& connector : full.connectors) {
        const Point from = connector.points.front();
        const Point to = connector.points.back();
        const std::vector<Point> way = findTransitBetween(garden, from, to, s.angle);
        if (way.empty()) {
            ++none;
            continue;
        }
        bool inPath = false;
        for (std::size_t k = 0; k + way.size() <= path.size() && !inPath; ++k) {
            bool same = true;
            for (std::size_t j = 0; j < way.size() && same; ++j) {
                if (s.angle == 0.0) {
                    same = sameBits(std::vector<Point>{way[j]}, std::vector<Point>{path[k + j]});
                } else {
                    same = distanceBetween(way[j], path[k + j]) < 1e-9;
                }
            }
            inPath = same;
        }
        EXPECT_TRUE(inPath) << "way from (" << from.x << ", " << from.y << ") to (" << to.x
                            << ", " << to.y << ")";
        ++found;
    }
    EXPECT_GT(found, 0u);
    // Behind the second hedge the lawn's end is out of reach: its pieces are given up.
    if (GetParam().hedge) {
        EXPECT_GT(none, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Gardens, PipelineServices,
                         ::testing::Values(Case{"lines", 0.0, false}, Case{"lines", 0.5, true},
                                           Case{"squares", 0.3, true},
                                           Case{"rings", 0.0, false}, Case{"rings", 1.2, true}));

TEST(TransitBetween, RoundsAnObstacleOnTheSideOfItsFirstCorner) {
    Environment garden = TestHelpers::square(0, 10);
    garden.addObstacle(poly({{4, 4}, {4, 6}, {6, 6}, {6, 4}}));
    const std::vector<Point> way = findTransitBetween(garden, Point(2, 5), Point(8, 5));
    EXPECT_TRUE(sameBits(way, TestHelpers::pts({{2, 5}, {4, 4}, {6, 4}, {8, 5}})));
}

TEST(TransitBetween, NoWayIsEmpty) {
    Environment garden = TestHelpers::square(0, 10);
    garden.addObstacle(poly({{4, 4}, {4, 6}, {6, 6}, {6, 4}}));
    EXPECT_TRUE(findTransitBetween(garden, Point(2, 5), Point(5, 5)).empty());  // inside
    EXPECT_TRUE(findTransitBetween(garden, Point(2, 5), Point(15, 5)).empty());  // off the lawn
    const Environment noLawn(poly({{0, 0}, {10, 0}}));
    EXPECT_TRUE(findTransitBetween(noLawn, Point(1, 0), Point(2, 0)).empty());
}

TEST(TransitBetween, AtTheTargetIsTheStartAlone) {
    const Environment garden = TestHelpers::square(0, 10);
    EXPECT_TRUE(sameBits(findTransitBetween(garden, Point(3, 3), Point(3.0005, 3)),
                         TestHelpers::pts({{3, 3}})));
}

TEST(SliceKinds, AnEmptyTaskHasNone) {
    PathSettings off;
    off.mowArea = false;
    off.mowBorder = false;
    off.mowExclusionsBoder = false;
    const PlannedTask planned = planTask(TestHelpers::square(0, 10), off, Point(1, 1));
    EXPECT_TRUE(planned.kinds.empty());
    EXPECT_TRUE(planned.result.path.points.empty());
    EXPECT_EQ(computeSliceFigures(TestHelpers::square(0, 10), off).counts[0], 0u);
}

}  // namespace
