#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "planner/geometry.h"
#include "planner/transit.h"
#include "test_helpers.h"

using namespace Planner;
using TestHelpers::poly;
using TestHelpers::pts;
using TestHelpers::square;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

std::string describe(const std::vector<Point>& path) {
    std::string out;
    for (const Point& p : path) out += "(" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
    return out;
}

void expectPath(const std::vector<Point>& got, const std::vector<Point>& want) {
    ASSERT_EQ(got.size(), want.size()) << describe(got);
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_DOUBLE_EQ(got[i].x, want[i].x) << i << ": " << describe(got);
        EXPECT_DOUBLE_EQ(got[i].y, want[i].y) << i << ": " << describe(got);
    }
}

bool hasEdge(const std::vector<LineString>& edges, Point a, Point b) {
    for (const LineString& e : edges) {
        if (e.points.size() == 2 && e.points[0].x == a.x && e.points[0].y == a.y &&
            e.points[1].x == b.x && e.points[1].y == b.y)
            return true;
    }
    return false;
}

// Two routes of exactly equal cost lead round the obstacle; the earliest
// open record wins every tie, so the side whose corner is listed first wins.
struct DetourCase {
    const char* name;
    std::vector<Point> obstacle;  // as given to addObstacle
    std::vector<Point> expected;
};

class TransitDetour : public ::testing::TestWithParam<DetourCase> {};

TEST_P(TransitDetour, TakesTheSideOfTheFirstListedCorner) {
    Environment env = square(0, 10);
    env.addObstacle(Polygon(GetParam().obstacle));
    std::vector<LineString> edges;
    expectPath(findTransitPath(env, edges, 2, 5, 8, 5), GetParam().expected);
    // (4,4) is closed before (4,6) is expanded; the edge back to it is
    // still recorded.
    const Point first = GetParam().expected[1];
    const Point other(4, first.y == 4 ? 6 : 4);
    EXPECT_TRUE(hasEdge(edges, other, first));
}

INSTANTIATE_TEST_SUITE_P(
    Orientations, TransitDetour,
    ::testing::Values(DetourCase{"Clockwise", pts({{4, 4}, {4, 6}, {6, 6}, {6, 4}}),
                                 pts({{2, 5}, {4, 4}, {6, 4}, {8, 5}})},
                      DetourCase{"CounterClockwise", pts({{4, 4}, {6, 4}, {6, 6}, {4, 6}}),
                                 pts({{2, 5}, {4, 6}, {6, 6}, {8, 5}})}),
    [](const ::testing::TestParamInfo<DetourCase>& info) { return info.param.name; });

TEST(TransitSearch, StartAtTheTargetIsTheStartAlone) {
    std::vector<LineString> edges;
    expectPath(findTransitPath(square(0, 10), edges, 3, 3, 3.0006, 3.0006), pts({{3, 3}}));
    EXPECT_TRUE(edges.empty());
}

TEST(TransitSearch, UnreachableTargetGivesNothingButKeepsItsEdges) {
    Environment env = square(0, 10);
    env.addObstacle(poly({{4, 4}, {6, 4}, {6, 6}, {4, 6}}));
    std::vector<LineString> edges(1, LineString(pts({{-1, -1}, {-2, -2}})));
    EXPECT_TRUE(findTransitPath(env, edges, 1, 1, 5, 5).empty());
    ASSERT_GT(edges.size(), 1u);
    EXPECT_EQ(edges[0].points[0].x, -1);  // appended to, never cleared
    EXPECT_TRUE(hasEdge(edges, Point(1, 1), Point(4, 4)));
}

TEST(TransitSearch, EndsOnACornerThatStandsWithinAMillimetreOfTheTarget) {
    // The target node finds the corner's open record within 1 mm and lowers
    // its cost; that record is then the one that reaches the target.
    std::vector<LineString> edges;
    expectPath(findTransitPath(square(0, 10), edges, 2, 5, 9.9995, 10), pts({{2, 5}, {10, 10}}));
    EXPECT_TRUE(hasEdge(edges, Point(2, 5), Point(9.9995, 10)));
}

TEST(TransitSearch, FollowsTheWireEvenThroughAnObstacle) {
    // The wall leaves gaps at the top and bottom, but the two wire points on
    // either side of it are joined by a cheap edge that needs no sight test.
    Environment env = square(0, 20);
    env.addObstacle(poly({{9, 1}, {11, 1}, {11, 19}, {9, 19}}));
    env.virtualWire = LineString(pts({{6, 10}, {14, 10}}));
    std::vector<LineString> edges;
    expectPath(findTransitPath(env, edges, 5, 10, 15, 10),
               pts({{5, 10}, {6, 10}, {14, 10}, {15, 10}}));
}

TEST(TransitSearch, ShorteningCutsAWireDetourShort) {
    // The search runs along the whole U-shaped wire, which its reduced cost
    // and heuristic make attractive; the straight line is free, so the
    // shortening pass keeps only the two ends.
    Environment env = square(0, 20);
    env.virtualWire = LineString(pts({{2, 10}, {2, 2}, {18, 2}, {18, 10}}));
    std::vector<LineString> edges;
    expectPath(findTransitPath(env, edges, 1, 10, 19, 10), pts({{1, 10}, {19, 10}}));
    EXPECT_TRUE(hasEdge(edges, Point(2, 2), Point(18, 2)));
    EXPECT_TRUE(hasEdge(edges, Point(18, 2), Point(18, 10)));
}

TEST(TransitSearch, WithoutAPerimeterOnlyWireEdgesAndShortHopsRemain) {
    Environment env{Polygon()};
    env.virtualWire = LineString(pts({{0, 0}, {5, 0}, {10, 0}}));
    std::vector<LineString> edges;
    expectPath(findTransitPath(env, edges, 0, 0.005, 10, 0.005),
               pts({{0, 0.005}, {0, 0}, {5, 0}, {10, 0}, {10, 0.005}}));
    EXPECT_TRUE(findTransitPath(env, edges, 0, 1, 10, 0.005).empty());
}

TEST(TransitNodes, WirePointsCornersThenTarget) {
    Environment env = square(0, 10);
    env.addObstacle(poly({{4, 4}, {4, 6}, {6, 6}, {6, 4}}));
    env.addObstacle(poly({{4.0005, 4}, {3, 2}, {2, 3}}));  // (4.0005,4) duplicates (4,4)
    // Two equal wire points stay two nodes; the perimeter corner (0,0) is
    // within 1 mm of the second wire point and is left out.
    env.virtualWire = LineString(pts({{1, 1}, {1, 1}, {0.0004, 0.0004}}));
    const auto nodes = buildTransitNodes(env, 10, 10);  // target on a corner: kept

    const auto want = pts({{1, 1}, {1, 1}, {0.0004, 0.0004}, {4, 4}, {4, 6}, {6, 6}, {6, 4},
                           {3, 2}, {2, 3}, {10, 0}, {10, 10}, {0, 10}, {10, 10}});
    ASSERT_EQ(nodes.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(nodes[i].x, want[i].x) << i;
        EXPECT_EQ(nodes[i].y, want[i].y) << i;
        EXPECT_EQ(nodes[i].onWire, i < 3) << i;
        EXPECT_EQ(nodes[i].wireIndex, i < 3 ? i : 0u) << i;
    }
}

// Positions that are not numbers match nothing, not even themselves; the
// search must still end.
struct NonFiniteCase {
    const char* name;
    std::vector<Point> wire;
    double sx, sy, tx, ty;
};

class TransitNonFinite : public ::testing::TestWithParam<NonFiniteCase> {};

TEST_P(TransitNonFinite, EndsWithoutAPath) {
    const NonFiniteCase c = GetParam();
    Environment env = square(0, 10);
    env.virtualWire = LineString(c.wire);
    std::vector<LineString> edges;
    EXPECT_TRUE(findTransitPath(env, edges, c.sx, c.sy, c.tx, c.ty).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, TransitNonFinite,
    ::testing::Values(
        // Consecutive wire points at NaN would otherwise hand each other new
        // records for ever; the target lies outside the lawn.
        NonFiniteCase{"NaNWire", pts({{5, 5}, {kNaN, kNaN}, {kNaN, kNaN}, {5, 5}}), 5, 5.005,
                      20, 20},
        NonFiniteCase{"InfiniteWire", pts({{5, 5}, {kInf, 0}, {kInf, 0}}), 5, 5.005, 20, 20},
        NonFiniteCase{"NaNTarget", pts({{5, 5}, {6, 6}}), 1, 1, kNaN, 1},
        NonFiniteCase{"NaNStart", pts({{5, 5}, {6, 6}}), kNaN, 1, 8, 8}),
    [](const ::testing::TestParamInfo<NonFiniteCase>& info) { return info.param.name; });

TEST(TransitNonFinite, ANaNWirePointBreaksTheCheapChain) {
    // Wire points 0 and 2 are not consecutive, so the wall cannot be
    // crossed along the wire; the search goes round through the gap.
    Environment env = square(0, 20);
    env.addObstacle(poly({{9, 0.5}, {11, 0.5}, {11, 20}, {9, 20}}));
    env.virtualWire = LineString(pts({{6, 10}, {kNaN, kNaN}, {14, 10}}));
    std::vector<LineString> edges;
    const auto path = findTransitPath(env, edges, 5, 10, 15, 10);
    ASSERT_GE(path.size(), 3u);
    for (std::size_t i = 1; i < path.size(); ++i) {
        EXPECT_TRUE(isSegmentFree(env, path[i - 1].x, path[i - 1].y, path[i].x, path[i].y))
            << describe(path);
    }
}

}  // namespace

namespace {

// The close peers of a context (corners of one ring far apart along it but
// nearer than the end shrink) against every pair of corners: tiny rings,
// round beds of many corners whose neighbours lie within the shrink,
// corners dropped as duplicates, and trees as 32-gons over the lawn's edge.
struct PeerCase {
    const char* name;
    Environment (*make)();
};

void PrintTo(const PeerCase& c, std::ostream* os) { *os << c.name; }

class TransitClosePeers : public testing::TestWithParam<PeerCase> {};

std::vector<Point> roundRing(int corners, double radius, double cx, double cy) {
    std::vector<Point> ring;
    for (int k = 0; k < corners; ++k) {
        const double a = 6.283185307179586 * k / corners;
        ring.emplace_back(cx + radius * std::cos(a), cy + radius * std::sin(a));
    }
    return ring;
}

TEST_P(TransitClosePeers, AreEveryPairFarApartAlongTheRingButNear) {
    const Environment env = GetParam().make();
    const SightIndex sight = buildSightIndex(env);
    const TransitContext context = buildTransitContext(env, sight);
    std::size_t found = 0;
    for (std::size_t k = 0; k < context.nodes.size(); ++k) {
        std::vector<std::uint32_t> want;
        const std::int32_t o = context.nodeObstacle[k];
        if (o >= 0 && context.chordApart[static_cast<std::size_t>(o)] != 0) {
            const std::size_t apartAtLeast = context.chordApart[static_cast<std::size_t>(o)];
            const std::size_t corners = env.obstacles[static_cast<std::size_t>(o)].points.size();
            const std::size_t ob = static_cast<std::size_t>(o);
            for (std::size_t j = 0; j < context.nodes.size(); ++j) {
                // (Every node of another obstacle lies outside its row.)
                if (j < context.obstacleNodeStart[ob]) j = context.obstacleNodeStart[ob];
                if (j >= context.obstacleNodeEnd[ob]) break;
                ASSERT_EQ(context.nodeObstacle[j], o);
                const std::size_t a = context.nodeCorner[k], b = context.nodeCorner[j];
                const std::size_t apart = a > b ? a - b : b - a;
                if (apart < apartAtLeast || corners - apart < apartAtLeast) continue;
                const TransitNode& p = context.nodes[k];
                const TransitNode& q = context.nodes[j];
                if (distanceBetween(p.x, p.y, q.x, q.y) < kSightShrink)
                    want.push_back(static_cast<std::uint32_t>(j));
            }
        }
        const std::vector<std::uint32_t> got(
            context.closePeers.begin() + context.closePeerStart[k],
            context.closePeers.begin() + context.closePeerStart[k + 1]);
        ASSERT_EQ(got, want) << "node " << k;
        found += got.size();
    }
    if (std::string(GetParam().name) == "tinyRings") {
        EXPECT_GT(found, 0u);
    }
}

Environment tinyRings() {
    Environment env = square(-12.0, 12.0);
    env.addObstacle(Polygon(roundRing(240, 6.0, 0.0, 0.0)));
    env.addObstacle(Polygon(roundRing(24, 0.006, 9.0, 9.0)));
    env.addObstacle(Polygon(roundRing(12, 0.004, -9.0, 9.0)));
    env.addObstacle(Polygon(roundRing(16, 0.008, 9.0, -9.0)));
    return env;
}

Environment denseRings() {
    // Corners 1.6 mm apart on the small ring, some within 1 mm of the big one's.
    Environment env = square(-12.0, 12.0);
    env.addObstacle(Polygon(roundRing(8000, 10.0, 0.0, 0.0)));
    env.addObstacle(Polygon(roundRing(8000, 2.0, 9.0, 9.0)));
    env.addObstacle(Polygon(roundRing(6000, 0.05, -11.0, -11.0)));
    return env;
}

Environment treesOverTheEdge() {
    Environment env = square(0.0, 20.0);
    for (int t = 0; t < 12; ++t)
        env.addObstacle(Polygon(roundRing(32, 0.3 + 0.2 * t, 1.7 * t, t % 2 == 0 ? 0.0 : 20.0)));
    env.addObstacle(Polygon(roundRing(32, 0.02, 10.0, 10.0)));
    return env;
}

INSTANTIATE_TEST_SUITE_P(Scenes, TransitClosePeers,
                         testing::Values(PeerCase{"tinyRings", tinyRings},
                                         PeerCase{"denseRings", denseRings},
                                         PeerCase{"treesOverTheEdge", treesOverTheEdge}),
                         [](const testing::TestParamInfo<PeerCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
