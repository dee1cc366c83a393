// The bounds over a block's box against those of each of its positions,
// on blocks as the lean transit search makes them: consecutive corners of
// round beds, of trees as 32-gons, of outlines recorded by driving round,
// and wire points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "planner/geometry.h"
#include "planner/transit_blocks.h"

using namespace Planner;

namespace {

struct BlockCase {
    const char* name;
    std::vector<Point> (*make)();
};

std::vector<Point> arc(double cx, double cy, double r, int corners, int first, int count) {
    std::vector<Point> out;
    for (int k = first; k < first + count; ++k) {
        const double a = 6.283185307179586 * k / corners;
        out.emplace_back(cx + r * std::cos(a), cy + r * std::sin(a));
    }
    return out;
}

std::vector<Point> roundBedCorners() { return arc(3.7, -2.1, 10.0, 8000, 1990, 32); }
std::vector<Point> treeCorners() { return arc(0.5, 8.0, 1.2, 32, 0, 32); }
std::vector<Point> oneCorner() { return arc(-4.0, 1e-9, 0.3, 32, 5, 1); }

std::vector<Point> recordedOutline() {
    std::mt19937_64 rng(5);
    std::normal_distribution<double> noise(0.0, 0.02);
    std::vector<Point> out;
    for (int k = 0; k < 32; ++k) out.emplace_back(12.0 + 0.03 * k + noise(rng), 7.5 + noise(rng));
    return out;
}

std::vector<Point> wirePoints() {
    std::vector<Point> out;
    for (int k = 0; k < 20; ++k) out.emplace_back(20.0 + 7.0 * std::cos(0.05 * k), 13.0 + 0.35 * k);
    return out;
}

class BlockBounds : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BlockBounds, NeverAboveAPositionsOwn) {
    const std::vector<Point> block = GetParam().make();
    BlockBox box = BlockBox::at(block[0].x, block[0].y);
    for (const Point& p : block) box.add(p.x, p.y);
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> near(-1.0, 1.0);
    std::uniform_real_distribution<double> cost(0.0, 40.0);
    for (int i = 0; i < 4000; ++i) {
        // From the block's own positions, from just beside them, from
        // inside the box and from far off.
        const Point& p = block[static_cast<std::size_t>(i) % block.size()];
        const double spread = i % 4 == 0 ? 0.0 : (i % 4 == 1 ? 1e-3 : (i % 4 == 2 ? 0.5 : 30.0));
        const double x = p.x + spread * near(rng);
        const double y = p.y + spread * near(rng);
        const double g = cost(rng);
        const double boxExpansion = boxExpansionBound(box, x, y);
        const double boxAxis = boxAxisBound(box, x, y);
        for (const Point& q : block) {
            ASSERT_LE(boxExpansion, expansionBound(q.x, q.y, x, y)) << i;
            ASSERT_LE(boxAxis, axisBound(q.x, q.y, x, y)) << i;
            ASSERT_LE(g + boxExpansion, g + expansionBound(q.x, q.y, x, y)) << i;
            ASSERT_LE(g + boxAxis, g + axisBound(q.x, q.y, x, y)) << i;
        }
    }
}

// Where the box shows that the moves from a position to a block meet the
// disc at their midpoints, each position's midpoint lies in it, up to far
// less than a micrometre; and the box shows it for the far corners of a
// bed seen from beside it.
TEST_P(BlockBounds, MidpointsInADiscAsEachPositionsOwn) {
    const std::vector<Point> block = GetParam().make();
    BlockBox box = BlockBox::at(block[0].x, block[0].y);
    for (const Point& p : block) box.add(p.x, p.y);
    std::mt19937_64 rng(12);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::size_t shown = 0;
    for (int i = 0; i < 4000; ++i) {
        const Point& q0 = block[static_cast<std::size_t>(i) % block.size()];
        const double radius = (i % 2 == 0 ? 0.5 : 12.0) * (1.0 + unit(rng) / 4.0);
        // Centres such that the block lies about across the disc.
        const double cx = q0.x + radius * unit(rng), cy = q0.y + radius * unit(rng);
        const double x = 2.0 * cx - q0.x + 2.0 * radius * unit(rng);
        const double y = 2.0 * cy - q0.y + 2.0 * radius * unit(rng);
        if (!boxMidpointsInDisc(box, x, y, cx, cy, radius)) continue;
        ++shown;
        for (const Point& q : block) {
            const double dx = (x + q.x) / 2.0 - cx, dy = (y + q.y) / 2.0 - cy;
            ASSERT_LE(std::sqrt(dx * dx + dy * dy), radius + 1e-9) << i;
        }
    }
    EXPECT_GT(shown, 100u);
}

INSTANTIATE_TEST_SUITE_P(Blocks, BlockBounds,
                         ::testing::Values(BlockCase{"RoundBed", roundBedCorners},
                                           BlockCase{"Tree", treeCorners},
                                           BlockCase{"OneCorner", oneCorner},
                                           BlockCase{"RecordedOutline", recordedOutline},
                                           BlockCase{"Wire", wirePoints}),
                         [](const ::testing::TestParamInfo<BlockCase>& info) {
                             return std::string(info.param.name);
                         });

// A block of one position bounds the moves to it exactly.
TEST(BlockBounds, OfOnePositionIsItsOwn) {
    const BlockBox box = BlockBox::at(2.25, -7.5);
    EXPECT_EQ(boxExpansionBound(box, -1.0, 3.0), expansionBound(2.25, -7.5, -1.0, 3.0));
    EXPECT_EQ(boxAxisBound(box, 10.0, 0.125), axisBound(2.25, -7.5, 10.0, 0.125));
    EXPECT_EQ(boxAxisBound(box, 2.25, -7.5), 0.0);
}

}  // namespace
