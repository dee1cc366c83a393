#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "planner/linking.h"
#include "test_helpers.h"

using namespace Planner;
using TestHelpers::poly;
using TestHelpers::pts;
using TestHelpers::square;

namespace {

std::string describe(const std::vector<Point>& path) {
    std::string out;
    for (const Point& p : path) out += "(" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
    return out;
}

void expectPoints(const std::vector<Point>& got, const std::vector<Point>& want) {
    ASSERT_EQ(got.size(), want.size()) << describe(got);
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_DOUBLE_EQ(got[i].x, want[i].x) << i << ": " << describe(got);
        EXPECT_DOUBLE_EQ(got[i].y, want[i].y) << i << ": " << describe(got);
    }
}

std::vector<LineString> lines(std::initializer_list<std::vector<Point>> slices) {
    std::vector<LineString> out;
    for (const auto& s : slices) out.emplace_back(s);
    return out;
}

// A wall below the origin: from (0, 0) nothing under y = -3 near x = 0 is
// in sight.
const std::vector<Point> kWall = pts({{-5, -3}, {5, -3}, {5, -2}, {-5, -2}});
// A block that a lane can hide inside.
const std::vector<Point> kBlock = pts({{4, 4}, {6, 4}, {6, 6}, {4, 6}});

struct AppendCase {
    const char* name;
    std::vector<Point> pathBefore;
    std::vector<Point> slice;
    bool reverse;
    std::size_t entry;
    bool ring;
    std::vector<Point> appended;
};

class AppendSlice : public ::testing::TestWithParam<AppendCase> {};

TEST_P(AppendSlice, AppendsInDrivingOrder) {
    const AppendCase c = GetParam();
    LineString path(c.pathBefore);
    appendSlice(path, LineString(c.slice), c.reverse, c.entry, c.ring);
    std::vector<Point> want = c.pathBefore;
    want.insert(want.end(), c.appended.begin(), c.appended.end());
    expectPoints(path.points, want);
}

const auto kQuad = pts({{1, 1}, {3, 1}, {3, 3}, {1, 3}});

INSTANTIATE_TEST_SUITE_P(
    Cases, AppendSlice,
    ::testing::Values(
        AppendCase{"LaneForwards", pts({{0, 0}}), pts({{0, 0}, {10, 0}}), false, 0, false,
                   pts({{0, 0}, {10, 0}})},
        AppendCase{"LaneBackwards", pts({{12, 0}}), pts({{0, 0}, {10, 0}}), true, 0, false,
                   pts({{10, 0}, {0, 0}})},
        AppendCase{"OnePointLane", pts({{5, 5}}), pts({{1, 2}}), true, 0, false, pts({{1, 2}})},
        AppendCase{"RingFromVertexTwo", pts({{9, 9}}), kQuad, false, 2, true,
                   pts({{3, 3}, {1, 3}, {1, 1}, {3, 1}, {3, 3}})},
        AppendCase{"RingEntryAlreadyReached", pts({{3.0005, 3}}), kQuad, false, 2, true,
                   pts({{1, 3}, {1, 1}, {3, 1}, {3, 3}})},
        AppendCase{"RingJustBeyondAMillimetre", pts({{3.0011, 3}}), kQuad, false, 2, true,
                   pts({{3, 3}, {1, 3}, {1, 1}, {3, 1}, {3, 3}})},
        AppendCase{"ClosedRingKeepsItsRepeat", pts({{9, 9}}),
                   pts({{1, 1}, {3, 1}, {3, 3}, {1, 1}}), false, 1, true,
                   pts({{3, 1}, {3, 3}, {1, 1}, {1, 1}, {3, 1}})},
        AppendCase{"RingOnAnEmptyPath", {}, kQuad, false, 0, true,
                   pts({{1, 1}, {3, 1}, {3, 3}, {1, 3}, {1, 1}})},
        AppendCase{"EntryBeyondTheRingWraps", pts({{9, 9}}), kQuad, false, 6, true,
                   pts({{3, 3}, {1, 3}, {1, 1}, {3, 1}, {3, 3}})},
        AppendCase{"EmptySlice", pts({{9, 9}}), {}, false, 0, true, {}}),
    [](const ::testing::TestParamInfo<AppendCase>& info) { return info.param.name; });

TEST(AppendSlice, ALineAppendedToItself) {
    LineString path(pts({{0, 0}, {1, 0}}));
    appendSlice(path, path, true, 0, false);
    expectPoints(path.points, pts({{0, 0}, {1, 0}, {1, 0}, {0, 0}}));
}

struct LinkCase {
    const char* name;
    std::vector<std::vector<Point>> obstacles;
    std::vector<std::vector<Point>> slices;
    Point start;
    std::vector<Point> path;
};

class LinkInSight : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkInSight, BuildsThePath) {
    const LinkCase c = GetParam();
    Environment env = square(-20, 20);
    for (const auto& o : c.obstacles) env.addObstacle(Polygon(o));
    std::vector<LineString> slices;
    for (const auto& s : c.slices) slices.emplace_back(s);
    PathPlanner::PlanningResult result;
    linkSlices(env, slices, c.start, result);
    expectPoints(result.path.points, c.path);
    EXPECT_TRUE(result.connectors.empty());
    EXPECT_TRUE(result.searchEdges.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LinkInSight,
    ::testing::Values(
        LinkCase{"LanesMeetingEndToEnd", {}, {pts({{0, 0}, {10, 0}}), pts({{10, 1}, {0, 1}})},
                 Point(0, 0), pts({{0, 0}, {0, 0}, {10, 0}, {10, 1}, {0, 1}})},
        LinkCase{"LaneDrivenBackwards", {}, {pts({{0, 0}, {10, 0}})}, Point(12, 0),
                 pts({{12, 0}, {10, 0}, {0, 0}})},
        LinkCase{"EqualDistancesDriveForwards", {}, {pts({{0, 0}, {10, 0}})}, Point(5, 3),
                 pts({{5, 3}, {0, 0}, {10, 0}})},
        LinkCase{"EqualDistancesKeepTheLowerIndex",
                 {},
                 {pts({{-1, 1}, {-9, 1}}), pts({{1, 1}, {9, 1}})},
                 Point(0, 0),
                 pts({{0, 0}, {-1, 1}, {-9, 1}, {1, 1}, {9, 1}})},
        LinkCase{"RingAtItsNearestVertex", {}, {kQuad}, Point(4, 4),
                 pts({{4, 4}, {3, 3}, {1, 3}, {1, 1}, {3, 1}, {3, 3}})},
        LinkCase{"RingEntryWithinAMillimetre", {}, {kQuad}, Point(3.0005, 3),
                 pts({{3.0005, 3}, {1, 3}, {1, 1}, {3, 1}, {3, 3}})},
        LinkCase{"HiddenNearerLaneWaitsForAVisibleOne",
                 {kWall},
                 {pts({{6, -4}, {8, -4}}), pts({{0, 8}, {3, 8}})},
                 Point(0, 0),
                 // From (3, 8) the lane under the wall is in sight.
                 pts({{0, 0}, {0, 8}, {3, 8}, {6, -4}, {8, -4}})},
        LinkCase{"EmptySlicesAreSkipped", {}, {{}, pts({{1, 0}, {2, 0}}), {}}, Point(0, 0),
                 pts({{0, 0}, {1, 0}, {2, 0}})}),
    [](const ::testing::TestParamInfo<LinkCase>& info) { return info.param.name; });

TEST(LinkByTransit, GivesUpAnUnreachableLaneAndDrivesAHiddenOne) {
    Environment env = square(-20, 20);
    env.addObstacle(Polygon(kBlock));
    env.addObstacle(Polygon(kWall));
    // Both lanes are out of sight from the origin; the one inside the block
    // is nearer and is tried first.
    const auto slices = lines({pts({{-1, -8}, {1, -8}}), pts({{4.5, 5}, {5.5, 5}})});
    PathPlanner::PlanningResult result;
    linkSlices(env, slices, Point(0, 0), result);

    // Round the wall's left end, then the lane from its entry, which stands
    // twice in a row.
    expectPoints(result.path.points,
                 pts({{0, 0}, {-5, -2}, {-5, -3}, {-1, -8}, {-1, -8}, {1, -8}}));
    ASSERT_EQ(result.connectors.size(), 2u);
    expectPoints(result.connectors[0].points, pts({{0, 0}, {4.5, 5}}));
    expectPoints(result.connectors[1].points, pts({{0, 0}, {-1, -8}}));
    EXPECT_FALSE(result.searchEdges.empty());
}

TEST(LinkByTransit, AHiddenRingIsReachedAtVertexZero) {
    Environment env = square(-20, 20);
    env.addObstacle(Polygon(kWall));
    // Vertices 2 and 3 are nearest to the origin, but the way leads to
    // vertex 0; the lap then starts there without repeating it.
    const auto slices = lines({pts({{1, -10}, {-1, -10}, {-1, -8}, {1, -8}})});
    PathPlanner::PlanningResult result;
    linkSlices(env, slices, Point(0, 0), result);
    ASSERT_EQ(result.connectors.size(), 1u);
    expectPoints(result.connectors[0].points, pts({{0, 0}, {1, -10}}));
    const auto& path = result.path.points;
    ASSERT_GE(path.size(), 6u);
    EXPECT_DOUBLE_EQ(path[0].x, 0);
    EXPECT_DOUBLE_EQ(path[1].x, 5);  // round the wall's right end
    expectPoints(std::vector<Point>(path.end() - 5, path.end()),
                 pts({{1, -10}, {-1, -10}, {-1, -8}, {1, -8}, {1, -10}}));
    EXPECT_FALSE(path[path.size() - 6].x == 1 && path[path.size() - 6].y == -10);
}

TEST(LinkByTransit, NothingReachableLeavesTheStartAlone) {
    Environment env = square(-20, 20);
    env.addObstacle(Polygon(kBlock));
    const auto slices = lines({pts({{4.5, 5}, {5.5, 5}}), pts({{4.5, 4.5}, {5.5, 5.5}})});
    PathPlanner::PlanningResult result;
    linkSlices(env, slices, Point(0, 0), result);
    expectPoints(result.path.points, pts({{0, 0}}));
    EXPECT_EQ(result.connectors.size(), 2u);
}

}  // namespace
