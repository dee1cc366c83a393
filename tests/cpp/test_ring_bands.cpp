// The banded point-in-ring test, which settles whole blocks of a crowded
// band by their x-range, against the plain tests over every edge: the same
// answer on noisy recorded outlines (near-horizontal sides crowd a band),
// far from the origin, at corners, on, just beside and just beyond edges,
// far outside and at positions that are not numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "benchmarks/park_gardens.h"
#include "planner/geometry.h"
#include "planner/ring_bands.h"

namespace {

using Planner::Point;

struct RingCase {
    std::string name;
    double spacing, wobble;  // recorded every `spacing` m with `wobble` m of noise (0: as drawn)
    double shift;            // moved this far along +x and +y
    std::int32_t maxBands;
};

std::ostream& operator<<(std::ostream& os, const RingCase& c) { return os << c.name; }

std::vector<Point> ringOf(const RingCase& c, Bench::Random& rng) {
    std::vector<Point> ring =
        c.wobble > 0.0
            ? Bench::recordedRing(rng, {{0.0, 0.0}, {30.0, 0.0}, {30.0, 20.0}, {0.0, 20.0}},
                                  c.spacing, c.wobble)
            : Bench::circleRing(32, 6.0, 14.0, 15.0);
    for (Point& p : ring) p = Point(p.x + c.shift, p.y + c.shift);
    return ring;
}

// Corners, points along and beside edges (by less than, about and more than
// the boundary tolerance), and points anywhere in and around the box.
std::vector<Point> probesOf(const std::vector<Point>& ring, Bench::Random& rng) {
    std::vector<Point> probes;
    double x0 = ring[0].x, x1 = x0, y0 = ring[0].y, y1 = y0;
    for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
        const Point& p = ring[i];
        const Point& q = ring[j];
        x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
        probes.push_back(p);
        for (double d : {0.0, 3e-10, -3e-10, 1e-9, 2e-9, -1e-7, 1e-3}) {
            const double t = rng.unit();
            probes.emplace_back(p.x + t * (q.x - p.x), p.y + t * (q.y - p.y) + d);
            probes.emplace_back(p.x + d, p.y);
        }
    }
    for (int k = 0; k < 4000; ++k)
        probes.emplace_back(rng.uniform(x0 - 1.0, x1 + 1.0), rng.uniform(y0 - 1.0, y1 + 1.0));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double ym = (y0 + y1) * 0.5;
    for (double x : {nan, inf, -inf, -1e300, 1e300, x0 - 1e6, x1 + 1e6})
        probes.emplace_back(x, ym), probes.emplace_back(x, y0);
    for (double y : {nan, inf, -inf, y0 - 1.0, y1 + 1.0, 1e300}) probes.emplace_back(x0, y);
    return probes;
}

class RingBandsAnswer : public ::testing::TestWithParam<RingCase> {};

TEST_P(RingBandsAnswer, EqualsThePlainTestsEverywhere) {
    const RingCase c = GetParam();
    Bench::Random rng(7);
    const std::vector<Point> ring = ringOf(c, rng);
    const Planner::RingBands bands = Planner::buildRingBands(ring, c.maxBands);
    const std::vector<Point> probes = probesOf(ring, rng);
    int boundary = 0, inside = 0;
    for (const Point& p : probes) {
        const bool in = Planner::isPointInPolygon(ring, p.x, p.y);
        const bool strict = Planner::isPointStrictlyInPolygon(ring, p.x, p.y);
        ASSERT_EQ(Planner::pointInRingBands(bands, ring, p.x, p.y, true), in) << p.x << " " << p.y;
        ASSERT_EQ(Planner::pointInRingBands(bands, ring, p.x, p.y, false), strict)
            << p.x << " " << p.y;
        boundary += in && !strict;
        inside += strict;
    }
    // The probes reach the boundary and both sides of it.
    EXPECT_GT(boundary, 100);
    EXPECT_GT(inside, 100);
    EXPECT_LT(inside + boundary, static_cast<int>(probes.size()) - 100);
}

INSTANTIATE_TEST_SUITE_P(
    Rings, RingBandsAnswer,
    ::testing::Values(RingCase{"noisy_lawn", 0.02, 0.03, 0.0, 4096},
                      RingCase{"noisy_lawn_few_bands", 0.02, 0.03, 0.0, 8},
                      RingCase{"noisy_lawn_far_out", 0.02, 0.03, 5.0e6, 4096},
                      RingCase{"sparse_noisy_lawn", 0.3, 0.01, 0.0, 4096},
                      RingCase{"tree_far_out", 0.0, 0.0, 7.0e5, 2}),
    [](const ::testing::TestParamInfo<RingCase>& info) { return info.param.name; });

TEST(RingBands, CrowdedBandsAreCutIntoBlocks) {
    Bench::Random rng(7);
    const std::vector<Point> ring = ringOf({"noisy_lawn", 0.02, 0.03, 0.0, 8}, rng);
    const Planner::RingBands bands = Planner::buildRingBands(ring, 8);
    EXPECT_GT(bands.blocks.size(), ring.size() / 32);
}

}  // namespace
