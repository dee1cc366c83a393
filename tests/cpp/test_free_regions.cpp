// The point-in-region test of the free regions, which visits only the edges
// listed for the height asked, against the crossing parity over every edge
// of every ring: the same answer at ring corners, on and beside edges, at the
// heights of corners and anywhere in the region's box.  The start's reach
// against itself without its grid.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "benchmarks/park_gardens.h"
#include "planner/free_regions.h"
#include "planner/normalise.h"
#include "planner/sight_index.h"
#include "planner/transit.h"

namespace {

using Planner::FreeRegions;
using Planner::Point;

bool holdsByEveryEdge(const FreeRegions::Region& region, double x, double y) {
    if (x < region.box.x0 || x > region.box.x1 || y < region.box.y0 || y > region.box.y1)
        return false;
    bool inside = false;
    for (const std::vector<Point>& ring : region.rings) {
        for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
            const Point& p = ring[i];
            const Point& q = ring[j];
            if ((p.y > y) != (q.y > y) && x < (q.x - p.x) * (y - p.y) / (q.y - p.y) + p.x)
                inside = !inside;
        }
    }
    return inside;
}

// A lawn ringed by buildings round a courtyard (a region of its own), trees
// as 32-gons over the edge and over each other, and a bed touching the lawn
// at a point.
Bench::Garden courtyardGarden() {
    Bench::Garden garden;
    garden.name = "courtyard";
    garden.environment = Planner::Environment(
        Planner::Polygon({{0.0, 0.0}, {30.0, 0.0}, {30.0, 20.0}, {0.0, 20.0}}));
    auto add = [&](std::vector<Point> ring) {
        garden.environment.addObstacle(Planner::Polygon(std::move(ring)));
    };
    add({{10.0, 5.0}, {20.0, 5.0}, {20.0, 6.0}, {10.0, 6.0}});
    add({{10.0, 14.0}, {20.0, 14.0}, {20.0, 15.0}, {10.0, 15.0}});
    add({{10.0, 5.0}, {11.0, 5.0}, {11.0, 15.0}, {10.0, 15.0}});
    add({{19.0, 5.0}, {20.0, 5.0}, {20.0, 15.0}, {19.0, 15.0}});
    add(Bench::circleRing(32, 1.5, 0.5, 10.0));
    add(Bench::circleRing(32, 1.2, 1.6, 11.3));
    add(Bench::circleRing(32, 2.0, 29.0, 19.0));
    add({{25.0, 0.0}, {27.0, -1.0}, {28.0, 1.0}});
    garden.start = Point(2.0, 2.0);
    return garden;
}

struct RegionsCase {
    std::string name;
    Bench::Garden (*make)();
};

void PrintTo(const RegionsCase& c, std::ostream* os) { *os << c.name; }

std::string caseName(const testing::TestParamInfo<RegionsCase>& info) { return info.param.name; }

// Corners and edge midpoints of every ring, the nodes, and each moved by
// amounts from below a rounding step to a centimetre, and a grid over the
// regions' boxes.
std::vector<Point> probesOf(const FreeRegions& regions, const Planner::TransitContext& context) {
    // (About 600 corners per ring, so that the test over every edge stays
    // quick on dense rings.)
    std::vector<Point> probes;
    for (const FreeRegions::Region& region : regions.regions)
        for (const std::vector<Point>& ring : region.rings)
            for (std::size_t i = 0; i < ring.size(); i += 1 + ring.size() / 600) {
                const Point& p = ring[i];
                const Point& q = ring[(i + 1) % ring.size()];
                probes.push_back(p);
                probes.emplace_back(0.5 * (p.x + q.x), 0.5 * (p.y + q.y));
                probes.emplace_back(q.x, p.y);  // a corner's height, another edge's x
            }
    for (std::size_t k = 0; k < context.nodes.size(); k += 1 + context.nodes.size() / 600)
        probes.emplace_back(context.nodes[k].x, context.nodes[k].y);
    const std::size_t base = probes.size();
    for (std::size_t k = 0; k < base; k += 3) {
        for (double d : {1e-12, 1e-7, 1e-4, 0.01}) {
            probes.emplace_back(probes[k].x + d, probes[k].y);
            probes.emplace_back(probes[k].x, probes[k].y - d);
            probes.emplace_back(probes[k].x - d, probes[k].y + d);
        }
    }
    for (const FreeRegions::Region& region : regions.regions)
        for (int i = 0; i <= 40; ++i)
            for (int j = 0; j <= 40; ++j)
                probes.emplace_back(region.box.x0 + (region.box.x1 - region.box.x0) * i / 40.0,
                                    region.box.y0 + (region.box.y1 - region.box.y0) * j / 40.0);

    return probes;
}

class RegionHolds : public testing::TestWithParam<RegionsCase> {};

TEST_P(RegionHolds, MatchesTheParityOverEveryEdge) {
    Planner::Environment scene = GetParam().make().environment;
    Planner::normaliseScene(scene);
    const Planner::SightIndex sight = Planner::buildSightIndex(scene);
    const Planner::TransitContext context = Planner::buildTransitContext(scene, sight);
    const FreeRegions regions = Planner::buildFreeRegions(context);
    ASSERT_TRUE(regions.usable);
    ASSERT_FALSE(regions.regions.empty());

    const std::vector<Point> probes = probesOf(regions, context);
    std::size_t held = 0;
    for (std::size_t r = 0; r < regions.regions.size(); ++r) {
        const FreeRegions::Region& region = regions.regions[r];
        for (const Point& p : probes) {
            const bool expected = holdsByEveryEdge(region, p.x, p.y);
            ASSERT_EQ(Planner::regionHolds(region, p.x, p.y), expected)
                << "region " << r << " at " << p.x << " " << p.y;
            held += expected ? 1 : 0;
        }
    }
    EXPECT_GT(held, probes.size() / 10);
}

// The start's reach, whose areas of many rings look up the rings by a grid,
// answers as the parity over every ring of every area.
TEST_P(RegionHolds, ReachByItsGridAsByEveryRing) {
    const Bench::Garden garden = GetParam().make();
    Planner::Environment scene = garden.environment;
    Planner::normaliseScene(scene);
    const Planner::SightIndex sight = Planner::buildSightIndex(scene);
    const Planner::TransitContext context = Planner::buildTransitContext(scene, sight);
    const FreeRegions regions = Planner::buildFreeRegions(context);
    Planner::StartReach reach =
        Planner::buildStartReach(regions, context, garden.start.x, garden.start.y);
    ASSERT_TRUE(reach.usable);
    reach.whole = false;  // judged even where the start reaches everything
    Planner::StartReach plain = reach;
    std::size_t gridded = 0, many = 0;
    for (Planner::StartReach::Area& area : plain.areas) {
        gridded += area.cellsX > 0 ? 1 : 0;
        many += area.rings.size() >= Planner::kReachGridMinRings ? 1 : 0;
        area.cellsX = 0;
    }
    EXPECT_EQ(gridded, many);
    std::size_t held = 0;
    const std::vector<Point> probes = probesOf(regions, context);
    for (const Point& p : probes) {
        const bool expected = Planner::reachMayHold(plain, p.x, p.y);
        ASSERT_EQ(Planner::reachMayHold(reach, p.x, p.y), expected) << p.x << " " << p.y;
        held += expected ? 1 : 0;
    }
    EXPECT_GT(held, probes.size() / 10);
}

Bench::Garden bedRing() { return Bench::bedWithNeighbourGarden(2000, Bench::Neighbour::Ring); }
Bench::Garden park() { return Bench::parkGarden("park", 0.3, 7); }
Bench::Garden recordedBeds() { return Bench::recordedGarden(0.03, true); }
Bench::Garden recordedLawn() { return Bench::recordedGarden(0.02, false); }

INSTANTIATE_TEST_SUITE_P(Gardens, RegionHolds,
                         testing::Values(RegionsCase{"courtyard", courtyardGarden},
                                         RegionsCase{"bedRing", bedRing},
                                         RegionsCase{"park", park},
                                         RegionsCase{"recordedBeds", recordedBeds},
                                         RegionsCase{"recordedLawn", recordedLawn}),
                         caseName);

}  // namespace
