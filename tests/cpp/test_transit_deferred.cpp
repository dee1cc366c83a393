// The lean transit search (no search edges kept) against the search that
// tests every move, on gardens whose beds have many corners, so that its
// skipping of node blocks and its bounds over blocks of closed records come
// into play; and the store of line-of-sight answers against a plain map.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "planner/geometry.h"
#include "planner/sight_index.h"
#include "planner/transit.h"

using namespace Planner;

namespace {

class SightAnswerStore : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SightAnswerStore, KeepsWhatAPlainMapKeeps) {
    const std::size_t nodes = GetParam();
    std::mt19937_64 rng(nodes);
    SightAnswers answers;
    std::map<std::pair<std::size_t, std::size_t>, std::uint8_t> plain;
    for (int round = 0; round < 2; ++round) {
        answers.reset(nodes);
        plain.clear();
        for (int i = 0; i < 3000; ++i) {
            const std::size_t from = rng() % nodes;
            // Mostly near the diagonal, as a round bed's corners see their
            // neighbours, with some far.
            const std::size_t to = i % 4 == 0 ? rng() % nodes : (from + rng() % 40) % nodes;
            const std::uint8_t answer = static_cast<std::uint8_t>(1 + rng() % 2);
            answers.set(from, to, answer);
            plain[{from, to}] = answer;
        }
        for (int i = 0; i < 6000; ++i) {
            const std::size_t from = rng() % nodes;
            const std::size_t to = rng() % nodes;
            const auto it = plain.find({from, to});
            ASSERT_EQ(answers.get(from, to), it == plain.end() ? 0 : it->second)
                << from << " -> " << to;
        }
        for (const auto& kept : plain)
            ASSERT_EQ(answers.get(kept.first.first, kept.first.second), kept.second);
    }
}

INSTANTIATE_TEST_SUITE_P(NodeCounts, SightAnswerStore,
                         ::testing::Values(std::size_t{1}, std::size_t{255}, std::size_t{256},
                                           std::size_t{257}, std::size_t{3000}));

std::vector<Point> circle(double cx, double cy, double r, int corners, double phase = 0.0) {
    std::vector<Point> ring;
    for (int k = 0; k < corners; ++k) {
        const double a = phase + 6.283185307179586 * k / corners;
        ring.emplace_back(cx + r * std::cos(a), cy + r * std::sin(a));
    }
    return ring;
}

Polygon box(double x0, double y0, double x1, double y1) {
    return Polygon({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}});
}

struct GardenCase {
    const char* name;
    Environment (*make)();
};

// A round bed of many corners and a small ring beside it.
Environment roundBedAndRing() {
    Environment env(box(-12.0, -12.0, 12.0, 12.0));
    env.addObstacle(Polygon(circle(0.0, 0.0, 8.0, 700)));
    env.addObstacle(Polygon(circle(9.5, 9.5, 1.5, 300)));
    return env;
}

// A lawn ringed by buildings, trees as 32-gons overlapping its edge, a
// bed touching the lawn at a corner and a tree just outside.
Environment ringedByBuildings() {
    Environment env(Polygon({{0, 0}, {30, 0}, {30, 20}, {0, 20}}));
    env.addObstacle(box(-2.0, 18.0, 12.0, 24.0));
    env.addObstacle(box(20.0, -3.0, 33.0, 2.5));
    env.addObstacle(Polygon(circle(0.5, 8.0, 1.2, 32)));
    env.addObstacle(Polygon(circle(30.0, 12.0, 1.5, 32, 0.1)));
    env.addObstacle(Polygon(circle(15.0, 10.0, 3.0, 400)));
    env.addObstacle(Polygon({{26.0, 20.0}, {28.0, 17.0}, {30.5, 18.0}}));
    env.addObstacle(Polygon(circle(34.0, 10.0, 1.0, 32)));
    return env;
}

// A park: groups of overlapping round trees, a path crossing, and a wire
// from the dock round a big bed.
Environment parkWithWire() {
    Environment env(Polygon({{0, 0}, {40, 0}, {42, 25}, {20, 30}, {0, 25}}));
    env.addObstacle(Polygon(circle(20.0, 13.0, 5.0, 500)));
    for (int i = 0; i < 6; ++i)
        env.addObstacle(Polygon(circle(5.0 + 5.5 * i, 4.0 + (i % 2) * 1.5, 1.0 + 0.2 * i, 32, i)));
    env.addObstacle(Polygon(circle(7.0, 20.0, 1.5, 32)));
    env.addObstacle(Polygon(circle(8.5, 20.5, 1.5, 32, 0.3)));
    env.addObstacle(box(-1.0, 11.0, 12.0, 11.8));
    LineString wire;
    for (int k = 0; k <= 90; ++k) {
        const double a = 3.141592653589793 * k / 90;
        wire.points.emplace_back(20.0 + 7.0 * std::cos(a), 13.0 + 7.0 * std::sin(a));
    }
    env.setVirtualWire(wire);
    return env;
}

class LeanTransitOnRealGardens : public ::testing::TestWithParam<GardenCase> {};

std::string describe(const std::vector<Point>& path) {
    std::string out;
    for (const Point& p : path) out += "(" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
    return out;
}

bool samePath(const std::vector<Point>& a, const std::vector<Point>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!(a[i].x == b[i].x && a[i].y == b[i].y)) return false;
    return true;
}

// The same paths and reaches as the search that tests every move, with the
// answers of earlier searches kept or not, from corners, wire points and
// open lawn.
TEST_P(LeanTransitOnRealGardens, MatchesTheSearchThatTestsEveryMove) {
    const Environment env = GetParam().make();
    const SightIndex sight = buildSightIndex(env);
    const TransitContext context = buildTransitContext(env, sight);
    ASSERT_TRUE(context.deferrable);
    TransitCache fullCache, leanCache;
    std::mt19937_64 rng(17);
    double x0 = env.perimeter.points[0].x, x1 = x0, y0 = env.perimeter.points[0].y, y1 = y0;
    for (const Point& p : env.perimeter.points) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    auto probe = [&](int i) {
        if (i % 3 == 0) {
            const TransitNode& n = context.nodes[rng() % context.nodes.size()];
            return Point(n.x, n.y);
        }
        return Point(std::uniform_real_distribution<double>(x0, x1)(rng),
                     std::uniform_real_distribution<double>(y0, y1)(rng));
    };
    for (int i = 0; i < 12; ++i) {
        const Point a = probe(i);
        const Point b = probe(i + 1);
        std::vector<LineString> edges;
        TransitReach fullReach, leanReach, freshReach;
        const auto full = findTransitPath(context, fullCache, &edges, a.x, a.y, b.x, b.y, &fullReach);
        const auto lean = findTransitPath(context, leanCache, nullptr, a.x, a.y, b.x, b.y, &leanReach);
        TransitCache fresh;
        const auto alone = findTransitPath(context, fresh, nullptr, a.x, a.y, b.x, b.y, &freshReach);
        ASSERT_TRUE(samePath(lean, full)) << i << ": " << describe(lean) << " vs " << describe(full);
        ASSERT_TRUE(samePath(alone, full)) << i << ": " << describe(alone);
        if (full.empty()) {
            EXPECT_EQ(leanReach.nodes, fullReach.nodes) << i;
            EXPECT_EQ(freshReach.nodes, fullReach.nodes) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Gardens, LeanTransitOnRealGardens,
                         ::testing::Values(GardenCase{"RoundBedAndRing", roundBedAndRing},
                                           GardenCase{"RingedByBuildings", ringedByBuildings},
                                           GardenCase{"ParkWithWire", parkWithWire}),
                         [](const ::testing::TestParamInfo<GardenCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
