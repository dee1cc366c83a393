// Coverage: the parts of an area that no mowing pass sweeps.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "planner/coverage.h"
#include "planner/scene.h"
#include "test_helpers.h"

using namespace Planner;
using TestHelpers::pts;

namespace {

double partArea(const AreaPart& part) {
    double area = signedArea(part.outer);
    for (const Ring& hole : part.holes) area += signedArea(hole);
    return area;
}

TEST(UnsweptParts, ALaneAcrossLeavesTheTwoSidesAndHolesStayHoles) {
    const std::vector<Ring> area = {pts({{0, 0}, {10, 0}, {10, 10}, {0, 10}}),
                                    pts({{1, 1}, {1, 2}, {2, 2}, {2, 1}})};  // a hole
    const std::vector<std::vector<Point>> lanes = {pts({{-1, 5}, {11, 5}})};
    const std::vector<AreaPart> parts = unsweptParts(area, lanes, 1.0, 8);
    ASSERT_EQ(parts.size(), 2u);
    double total = 0.0;
    std::size_t holes = 0;
    for (const AreaPart& part : parts) {
        EXPECT_GT(signedArea(part.outer), 0.0);
        for (const Ring& hole : part.holes) EXPECT_LT(signedArea(hole), 0.0);
        holes += part.holes.size();
        total += partArea(part);
    }
    EXPECT_EQ(holes, 1u);
    EXPECT_NEAR(total, 100.0 - 1.0 - 20.0, 1e-6);
}

TEST(UnsweptParts, CrossingAndSlantedLanesAndALapSweepAsTheirStrips) {
    const std::vector<Ring> area = {pts({{0, 0}, {20, 0}, {20, 20}, {0, 20}})};
    std::vector<std::vector<Point>> lines;
    for (int k = 0; k < 20; ++k) {
        lines.push_back(pts({{0.5 + k, 0}, {0.5 + k, 20}}));  // lanes one swath apart
        lines.push_back(pts({{0, 0.5 + k}, {20, 0.5 + k}}));  // and across them
    }
    lines.push_back(pts({{0, 0}, {20, 20}}));
    lines.push_back(pts({{2, 2}, {18, 2}, {18, 18}, {2, 18}, {2, 2}}));
    const std::vector<AreaPart> parts = unsweptParts(area, lines, 0.5 + 1e-6, 8);
    double total = 0.0;
    for (const AreaPart& part : parts) total += partArea(part);
    EXPECT_LT(total, 1e-6);
}

TEST(UnsweptParts, NothingSweptLeavesTheArea) {
    const std::vector<Ring> area = {pts({{0, 0}, {4, 0}, {4, 3}})};
    for (double halfWidth : {0.0, -1.0, std::nan("")}) {
        const std::vector<AreaPart> parts = unsweptParts(area, {pts({{0, 0}, {4, 0}})}, halfWidth, 8);
        ASSERT_EQ(parts.size(), 1u);
        EXPECT_NEAR(partArea(parts[0]), 6.0, 1e-9);
    }
    EXPECT_EQ(unsweptParts(area, {pts({{1, 1}, {1, 1}})}, 1.0, 8).size(), 1u);  // no length
    EXPECT_TRUE(unsweptParts({}, {pts({{0, 0}, {4, 0}})}, 1.0, 8).empty());
}

double gapsArea(const std::vector<AreaPart>& parts) {
    double area = 0.0;
    for (const AreaPart& part : parts) area += partArea(part);
    return area;
}

// A 1 m square patch with a 5 mm tail 3 m long, and apart from it a strip
// 4 mm wide: the tail and the strip are slivers, the patch is the one gap.
TEST(UnsweptGaps, SliversAndThinTailsAreLeftOutButCountInTheUnsweptArea) {
    const std::vector<Ring> area = {
        pts({{0, 0}, {1, 0}, {1, 0.4}, {4, 0.4}, {4, 0.405}, {1, 0.405}, {1, 1}, {0, 1}}),
        pts({{0, 3}, {5, 3}, {5, 3.004}, {0, 3.004}})};
    const UnsweptGaps gaps = unsweptGaps(area, {}, 0.0, 8, 0.01);
    ASSERT_EQ(gaps.gaps.size(), 1u);
    EXPECT_NEAR(gapsArea(gaps.gaps), 1.0, 1e-4);
    EXPECT_NEAR(gaps.unsweptArea, 1.0 + 0.015 + 0.02, 1e-9);
    // Without a width the parts are those unsweptParts gives.
    const UnsweptGaps all = unsweptGaps(area, {}, 0.0, 8, 0.0);
    EXPECT_EQ(all.gaps.size(), 2u);
    EXPECT_NEAR(gapsArea(all.gaps), all.unsweptArea, 1e-9);
}

// A patch with, below and above it, a part 6 mm wide with a hole: too small
// for the disc, it goes with its hole (a hole alone would turn the opening of
// the rest inside out, being lowest).
TEST(UnsweptGaps, APartTooSmallForTheDiscGoesWithItsHoles) {
    const std::vector<Ring> area = {pts({{0, 0}, {1, 0}, {1, 1}, {0, 1}})};
    std::vector<Ring> rings = area;
    for (double y : {-0.5, 1.5}) {
        rings.push_back(pts({{0.5, y}, {0.506, y}, {0.506, y + 0.006}, {0.5, y + 0.006}}));
        rings.push_back(pts({{0.502, y + 0.002}, {0.502, y + 0.004}, {0.504, y + 0.004}, {0.504, y + 0.002}}));
    }
    const UnsweptGaps gaps = unsweptGaps(rings, {}, 0.0, 8, 0.01);
    ASSERT_EQ(gaps.gaps.size(), 1u);
    EXPECT_TRUE(gaps.gaps[0].holes.empty());
    EXPECT_NEAR(gapsArea(gaps.gaps), 1.0, 1e-4);
    EXPECT_NEAR(gaps.unsweptArea, 1.0 + 2 * (36e-6 - 4e-6), 1e-9);
}

// Lanes a swath apart over a lawn with a hole: the opening keeps the hole
// a hole and the gaps within the unswept parts, a hair smaller at most.
TEST(UnsweptGaps, OpeningKeepsHolesAndStaysWithinTheUnsweptParts) {
    const std::vector<Ring> area = {pts({{0, 0}, {10, 0}, {10, 10}, {0, 10}}),
                                    pts({{4, 4}, {4, 6}, {6, 6}, {6, 4}})};
    std::vector<std::vector<Point>> lanes;
    for (int k = 0; k < 3; ++k) lanes.push_back(pts({{0.5 + k, 0.5}, {0.5 + k, 9.5}}));
    const std::vector<AreaPart> parts = unsweptParts(area, lanes, 0.5 + 1e-6, 8);
    const UnsweptGaps gaps = unsweptGaps(area, lanes, 0.5 + 1e-6, 8, 0.01);
    EXPECT_NEAR(gaps.unsweptArea, gapsArea(parts), 1e-9);
    EXPECT_LE(gapsArea(gaps.gaps), gaps.unsweptArea);
    EXPECT_NEAR(gapsArea(gaps.gaps), gaps.unsweptArea, 1e-2);  // the cusps at lane ends
    std::size_t holes = 0;
    for (const AreaPart& part : gaps.gaps) holes += part.holes.size();
    EXPECT_EQ(holes, 1u);
}

}  // namespace

namespace {

// A frame round a hole with an island in it, and a patch beside the frame
// a sliver's width away: each outline opens on its own, the island as a gap
// of its own and the frame with its hole.
TEST(UnsweptGaps, EachOutlineOpensOnItsOwnWithItsHolesAndIslands) {
    const std::vector<Ring> rings = {pts({{0, 0}, {3, 0}, {3, 3}, {0, 3}}),
                                     pts({{0.5, 0.5}, {0.5, 2.5}, {2.5, 2.5}, {2.5, 0.5}}),
                                     pts({{1, 1}, {2, 1}, {2, 2}, {1, 2}}),
                                     pts({{3.004, 0}, {4, 0}, {4, 1}, {3.004, 1}})};
    const UnsweptGaps gaps = unsweptGaps(rings, {}, 0.0, 8, 0.01);
    ASSERT_EQ(gaps.gaps.size(), 3u);
    std::size_t holes = 0;
    for (const AreaPart& part : gaps.gaps) holes += part.holes.size();
    EXPECT_EQ(holes, 1u);
    EXPECT_NEAR(gapsArea(gaps.gaps), 9.0 - 4.0 + 1.0 + 0.996, 1e-4);
    EXPECT_NEAR(gaps.unsweptArea, 9.0 - 4.0 + 1.0 + 0.996, 1e-9);
}

}  // namespace

namespace {

// A lawn of many corners (its top edge drawn with 12,000 points) is clipped
// in columns: the unswept half above the lanes comes back as one part with
// its hole across the cuts, of the area it has.
TEST(UnsweptParts, ALargeAreaClippedInColumnsIsJoinedAgain) {
    Ring lawn = pts({{0, 0}, {20, 0}});
    for (int k = 12000; k >= 0; --k) lawn.emplace_back(20.0 * k / 12000.0, 20.0);
    const std::vector<Ring> area = {lawn, pts({{5, 14}, {5, 16}, {15, 16}, {15, 14}})};
    std::vector<std::vector<Point>> lanes;
    for (int k = 0; k < 10; ++k) lanes.push_back(pts({{-1, 0.5 + k}, {21, 0.5 + k}}));
    const std::vector<AreaPart> parts = unsweptParts(area, lanes, 0.5 + 1e-6, 8);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].holes.size(), 1u);
    EXPECT_NEAR(partArea(parts[0]), 200.0 - 20.0, 1e-3);
    const UnsweptGaps gaps = unsweptGaps(area, lanes, 0.5 + 1e-6, 8, 0.01);
    ASSERT_EQ(gaps.gaps.size(), 1u);
    EXPECT_EQ(gaps.gaps[0].holes.size(), 1u);
    EXPECT_NEAR(gaps.unsweptArea, 180.0, 1e-3);
}

}  // namespace
