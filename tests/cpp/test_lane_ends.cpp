// Lane ends that the grid put on the wrong side of an outline.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "planner/geometry.h"
#include "planner/lane_ends.h"
#include "planner/pipeline.h"
#include "test_helpers.h"

using namespace Planner;
using TestHelpers::poly;

namespace {

bool drivesLane(const std::vector<Point>& path, const LineString& lane) {
    const Point& a = lane.points.front();
    const Point& b = lane.points.back();
    auto same = [](const Point& p, const Point& q) { return p.x == q.x && p.y == q.y; };
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
        if ((same(path[i], a) && same(path[i + 1], b)) || (same(path[i], b) && same(path[i + 1], a)))
            return true;
    }
    return false;
}

TEST(LaneEnds, AnEndBeyondTheEdgeOrInsideAnObstacleMovesOntoTheOutline) {
    Environment scene(poly({{0, 0}, {10, 0}, {10, 10}, {0, 10}}));
    scene.addObstacle(poly({{4, 4}, {4, 6}, {6, 6}, {6, 4}}));
    std::vector<LineString> slices = {
        LineString({{-0.0004, 2}, {10.0003, 2}}),  // both ends beyond the edge
        LineString({{0, 5}, {4.0004, 5}}),         // the right end inside the obstacle
        LineString({{1, 1}, {2, 1}, {2, 2}}),      // a lap: left alone
        LineString({{1e-8 - 0.0000001, 8}, {9, 8}}),  // within the band: left alone
    };
    pullLaneEndsOntoOutlines(scene, slices);
    EXPECT_NEAR(slices[0].points[0].x, 0.0, 1e-12);
    EXPECT_NEAR(slices[0].points[1].x, 10.0, 1e-12);
    EXPECT_EQ(slices[1].points[0].x, 0.0);
    EXPECT_NEAR(slices[1].points[1].x, 4.0, 1e-12);
    EXPECT_EQ(slices[2].points.size(), 3u);
    EXPECT_EQ(slices[3].points[0].x, 1e-8 - 0.0000001);
}

// Narrow lawns with a distance to the border wider than they allow: the work
// area falls back to the outlines on the grid.  A lane ending a fraction of
// a millimetre beyond the edge or inside a bed stranded the route there;
// every lane of the start's part of the lawn is driven.
TEST(LaneEnds, LanesOfAnAreaOnTheOutlinesAreAllReached) {
    struct Case {
        std::string name;
        std::vector<Point> lawn;
        std::vector<std::vector<Point>> obstacles;
        double offset, angle, distanceToBorder;
        Point start;
    } cases[] = {
        {"spike beyond the lawn's edge",
         {{-2106.5866558293396, 2215.654352719218}, {-2104.7331947959105, 2215.654352719218},
          {-2104.7331947959105, 2222.196277188602}, {-2104.1153744514345, 2215.654352719218},
          {-2100.408452384577, 2214.1646127104104}},
         {{{-2104.2826932322073, 2216.2180042341556}, {-2104.2826932322073, 2217.2997676749233},
           {-2104.766973629337, 2217.2997676749233}}},
         0.5477413285096197, 0.0, 1.126566915511715, {-2103.5335375625127, 2215.024644649105}},
        {"strip beside a bed",
         {{-993.7024925817182, 2599.8156196226682}, {-983.1477918917857, 2599.8156196226682},
          {-983.1477918917857, 2610.3703203126006}, {-983.5774818368611, 2610.3703203126006},
          {-983.5774818368611, 2600.245309567744}},
         {{{-983.3413971019822, 2605.6241419399507}, {-983.3481207676509, 2605.6204574026337},
           {-983.3331595134064, 2605.5931556106093}},
          {{-983.571765722818, 2604.973256644911}, {-982.8918517284804, 2605.4336456988376},
           {-983.571765722818, 2605.4336456988376}}},
         0.38870662458553523, -1.1728047907420784, 1.0123393212305216,
         {-983.2254553228493, 2607.9819769313453}},
    };
    for (const Case& c : cases) {
        Environment scene{Polygon(c.lawn)};
        for (const auto& o : c.obstacles) scene.addObstacle(Polygon(o));
        PathSettings settings;
        settings.offset = c.offset;
        settings.angle = c.angle;
        settings.distanceToBorder = c.distanceToBorder;
        settings.mowBorder = false;
        settings.mowExclusionsBoder = false;
        const auto result = computeFullTask(scene, settings, c.start);
        ASSERT_FALSE(result.slices.empty()) << c.name;
        for (const LineString& lane : result.slices)
            EXPECT_TRUE(drivesLane(result.path.points, lane)) << c.name;
    }
}

}  // namespace
