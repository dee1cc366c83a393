#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "planner/constants.h"
#include "planner/lanes.h"
#include "reference_planner.h"
#include "test_helpers.h"

using namespace Planner;
using TestHelpers::poly;

namespace {

struct Lane {
    double x0, x1, y;
};

std::vector<Lane> lanes(const std::vector<LineString>& slices) {
    std::vector<Lane> out;
    for (const LineString& s : slices) {
        EXPECT_EQ(s.points.size(), 2u);
        EXPECT_EQ(s.points[0].y, s.points[1].y);
        EXPECT_LE(s.points[0].x, s.points[1].x);
        out.push_back({s.points[0].x, s.points[1].x, s.points[0].y});
    }
    return out;
}

TEST(Lanes, SquareSpacingOne) {
    const auto got = lanes(generateSlices(TestHelpers::square(0, 10), 1.0));
    ASSERT_EQ(got.size(), 10u);
    double y = 0.5;
    for (const Lane& lane : got) {
        EXPECT_EQ(lane.y, y);  // accumulated by repeated addition
        EXPECT_EQ(lane.x0, 0);
        EXPECT_EQ(lane.x1, 10);
        y += 1.0;
    }
}

TEST(Lanes, NoLaneOnTheTopEdge) {
    const auto got = lanes(generateSlices(TestHelpers::square(0, 10), 4.0));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].y, 2);
    EXPECT_EQ(got[1].y, 6);
}

TEST(Lanes, YIsAccumulatedNotRecomputed) {
    const auto got = lanes(generateSlices(TestHelpers::square(0, 10), 0.1));
    double y = 0.0 + 0.1 * 0.5;
    for (const Lane& lane : got) {
        EXPECT_EQ(lane.y, y);
        y = y + 0.1;
    }
    EXPECT_EQ(got.size(), 100u);
}

TEST(Lanes, ThinAndDegenerateLawnsGiveNone) {
    EXPECT_TRUE(generateSlices(Environment(poly({{0, 0}, {10, 0}, {10, 0.5}, {0, 0.5}})), 1.0)
                    .empty());
    EXPECT_TRUE(generateSlices(Environment(poly({{0, 0}, {10, 0}})), 1.0).empty());
    EXPECT_TRUE(generateSlices(Environment(Polygon()), 1.0).empty());
}

TEST(Lanes, ObstacleSplitsLanes) {
    Environment env = TestHelpers::square(0, 10);
    env.addObstacle(poly({{4, 4}, {6, 4}, {6, 6}, {4, 6}}));
    const auto got = lanes(generateSlices(env, 1.0));
    ASSERT_EQ(got.size(), 12u);
    EXPECT_EQ(got[4].y, 4.5);
    EXPECT_EQ(got[4].x0, 0);
    EXPECT_EQ(got[4].x1, 4);
    EXPECT_EQ(got[5].x0, 6);
    EXPECT_EQ(got[5].x1, 10);
    EXPECT_EQ(got[6].y, 5.5);
}

TEST(Lanes, LaneAlongAnObstacleEdgeIsNotCut) {
    // The piece along the obstacle's horizontal edge has its midpoint on the
    // obstacle's boundary: not a slice.
    Environment env = TestHelpers::square(0, 10);
    env.addObstacle(poly({{4, 4.5}, {6, 4.5}, {6, 6}, {4, 6}}));
    const auto got = lanes(generateSlices(env, 1.0));
    std::vector<Lane> at;
    for (const Lane& l : got)
        if (l.y == 4.5) at.push_back(l);
    ASSERT_EQ(at.size(), 2u);
    EXPECT_EQ(at[0].x1, 4);
    EXPECT_EQ(at[1].x0, 6);
}

TEST(Lanes, LaneAlongAPerimeterEdgeIsKept) {
    Environment env(poly({{0, 0}, {10, 0}, {10, 5}, {5, 5}, {5, 10}, {0, 10}}));
    const auto got = lanes(generateSlices(env, 2.0));
    std::vector<Lane> at;
    for (const Lane& l : got)
        if (l.y == 5) at.push_back(l);
    ASSERT_EQ(at.size(), 2u);
    EXPECT_EQ(at[0].x0, 0);
    EXPECT_EQ(at[0].x1, 5);
    EXPECT_EQ(at[1].x0, 5);
    EXPECT_EQ(at[1].x1, 10);
}

TEST(Lanes, MowAreasRestrictAndSplit) {
    Environment env = TestHelpers::square(0, 10);
    env.addMowArea(poly({{0, 0}, {5, 0}, {5, 10}, {0, 10}}));
    for (const Lane& l : lanes(generateSlices(env, 1.0))) {
        EXPECT_EQ(l.x0, 0);
        EXPECT_EQ(l.x1, 5);
    }
    env.addMowArea(poly({{5, 0}, {10, 0}, {10, 10}, {5, 10}}));
    const auto both = lanes(generateSlices(env, 1.0));
    ASSERT_EQ(both.size(), 20u);
    EXPECT_EQ(both[0].x1, 5);
    EXPECT_EQ(both[1].x0, 5);
}

TEST(Lanes, NearDuplicateAbscissaeCollapseAgainstTheLastKept) {
    // A vertex on the scanline is reported by both of its edges.
    Environment env(poly({{0, 0}, {10, 0}, {10, 10}, {5, 5.5}, {0, 10}}));
    for (const Lane& l : lanes(generateSlices(env, 1.0))) EXPECT_LT(l.x0, l.x1);
}

using Spacing = double;
class BadSpacing : public ::testing::TestWithParam<Spacing> {};

TEST_P(BadSpacing, GivesNoLanes) {
    EXPECT_TRUE(generateSlices(TestHelpers::square(0, 10), GetParam()).empty());
}

INSTANTIATE_TEST_SUITE_P(Values, BadSpacing,
                         ::testing::Values(0.0, -1.0, 1e-9, 0.0009,
                                           std::numeric_limits<double>::quiet_NaN(),
                                           std::numeric_limits<double>::infinity(),
                                           -std::numeric_limits<double>::infinity()));

TEST(Lanes, SpacingThatNoLongerMovesYEnds) {
    // Far from the origin, adding 1 mm to y changes nothing.
    Environment env(poly({{0, 1e17}, {10, 1e17}, {10, 1e17 + 1e5}, {0, 1e17 + 1e5}}));
    EXPECT_LE(generateSlices(env, 0.001).size(), 1u);
}

TEST(Lanes, PassesOfAbsurdlyManyLanesAreRefused) {
    EXPECT_TRUE(generateSlices(TestHelpers::square(0, 1e12), 0.5).empty());
    EXPECT_TRUE(generateSlices(TestHelpers::square(0, 200), 0.001).empty());
    EXPECT_EQ(generateSlices(TestHelpers::square(0, 100), 0.001).size(), 100000u);
}

TEST(Lanes, ScanlineCoversLawnsBeyondOneKilometre) {
    Environment env(poly({{500, 0}, {3000, 0}, {3000, 10}, {500, 10}}));
    const auto got = lanes(generateSlices(env, 5.0));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].x0, 500);
    EXPECT_EQ(got[0].x1, 3000);
    Environment west(poly({{-3000, 0}, {-10, 0}, {-10, 10}, {-3000, 10}}));
    const auto w = lanes(generateSlices(west, 5.0));
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].x0, -3000);
}

TEST(Lanes, ScanlineWithinOneKilometreIsTheFixedSegment) {
    const ScanRange r = scanRangeFor(TestHelpers::square(-999, 999));
    EXPECT_EQ(r.left, -1000);
    EXPECT_EQ(r.right, 1000);
}

TEST(Lanes, NonFiniteCoordinatesGiveNoCrash) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const LineString& s : generateSlices(Environment(poly({{0, 0}, {nan, 0}, {10, 10}})), 1.0))
        for (const Point& p : s.points) EXPECT_TRUE(std::isfinite(p.x));
    EXPECT_TRUE(generateSlices(Environment(poly({{0, 0}, {10, 0}, {10, inf}, {0, 10}})), 1.0)
                    .empty());
    Environment env = TestHelpers::square(0, 10);
    env.addObstacle(poly({{nan, 4}, {6, 4}, {inf, 6}, {4, -inf}}));
    const auto got = generateSlices(env, 1.0);
    EXPECT_LE(got.size(), 30u);
    for (const LineString& s : got)
        for (const Point& p : s.points) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
}

// The lane stage skips rings whose box misses a scanline or a lane's
// midpoint, and edges of long rings far from the scanline: against the
// stage that tests every edge, on gardens whose vertices lie on the
// scanlines, within rounding of them and about kLaneBoxPad from them, with
// long outlines, slivers, gaps of about twice kLaneBoxPad, tiny and
// degenerate rings, mow areas, and now and then a ring the boxes may not be
// used for.
TEST(Lanes, SkippedRingsAndEdgesChangeNoLane) {
    std::mt19937_64 rng(14);
    auto uniform = [&rng](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    auto integer = [&rng](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    const double pad = kLaneBoxPad;
    const double nearOffsets[] = {0.0,   1e-12, -1e-12,       1e-9,        -1e-9,
                                  5e-9,  -5e-9, 3e-8,         -3e-8,       pad,
                                  -pad,  pad + 1e-12,         -pad - 1e-12, pad - 1e-12,
                                  2 * pad, 1e-6};
    const int offsets = static_cast<int>(sizeof nearOffsets / sizeof nearOffsets[0]);
    for (int garden = 0; garden < 300; ++garden) {
        const double spacing = integer(0, 2) == 0 ? 0.5 : uniform(0.2, 1.5);
        const double w = uniform(5.0, 25.0);
        const double h = uniform(5.0, 25.0);
        std::vector<double> lines;
        for (double y = -h + spacing * 0.5; y < h; y += spacing) lines.push_back(y);
        // A coordinate on, near or about a pad away from a scanline.
        auto nearLine = [&](double v) {
            if (integer(0, 2) == 0) return v;
            const double line = lines[static_cast<std::size_t>(integer(0, int(lines.size()) - 1))];
            return line + nearOffsets[integer(0, offsets - 1)];
        };
        auto ring = [&](double cx, double cy, double size, int corners) {
            std::vector<Point> points;
            for (int k = 0; k < corners; ++k) {
                const double a = 6.283185307179586 * (k + uniform(-0.3, 0.3)) / corners;
                points.emplace_back(cx + size * std::cos(a), nearLine(cy + size * std::sin(a)));
            }
            return Polygon(points);
        };
        // A rectangle, or a long outline (its lowest point at -h).
        std::vector<Point> lawn = {{-w, -h}, {w, -h}, {w, h}, {-w, h}};
        if (integer(0, 1)) {
            lawn.clear();
            const int corners = integer(16, 300);
            for (int k = 0; k < corners; ++k) {
                const double a = 6.283185307179586 * (k + uniform(-0.3, 0.3)) / corners;
                const double r = uniform(0.6, 1.0);
                const double y = std::max(-h + 0.1, nearLine(h * r * std::sin(a)));
                lawn.emplace_back(w * r * std::cos(a), y);
            }
            lawn.insert(lawn.begin() + static_cast<std::ptrdiff_t>(lawn.size() * 3 / 4), {0.0, -h});
        }
        Environment env{Polygon(lawn)};
        const int obstacles = integer(0, 40);
        for (int i = 0; i < obstacles; ++i) {
            const double cx = uniform(-1.1, 1.1) * w;
            const double cy = uniform(-1.1, 1.1) * h;
            const int kind = integer(0, 5);
            if (kind == 0) {  // two boxes a gap of about two pads apart
                const double gap = 2 * pad + nearOffsets[integer(0, offsets - 1)];
                const double y0 = nearLine(cy), y1 = nearLine(cy + uniform(0.1, 3.0));
                env.addObstacle(poly({{cx - 1, y0}, {cx, y0}, {cx, y1}, {cx - 1, y1}}));
                env.addObstacle(poly({{cx + gap, y0}, {cx + 1, y0}, {cx + 1, y1}, {cx + gap, y1}}));
            } else if (kind == 1) {  // a sliver along a scanline, or a ring of one or two points
                const double y = nearLine(cy);
                const double len = integer(0, 1) ? uniform(1e-4, 3e-3) : uniform(0.1, 2.0);
                if (integer(0, 1))
                    env.addObstacle(poly({{cx, y}, {cx + len, y + 1e-13}, {cx + len, y + 2e-13}}));
                else
                    env.addObstacle(Polygon(std::vector<Point>(integer(1, 2), Point(cx, y))));
            } else {
                env.addObstacle(ring(cx, cy, kind == 2 ? uniform(0.005, 0.05) : uniform(0.3, 3.0),
                                     kind == 5 ? integer(16, 80) : integer(3, 9)));
            }
        }
        for (int i = integer(0, 4) == 0 ? integer(1, 3) : 0; i > 0; --i)
            env.addMowArea(ring(uniform(-0.5, 0.5) * w, uniform(-0.5, 0.5) * h, uniform(1.0, w),
                                integer(3, 8)));
        if (integer(0, 9) == 0) {  // beyond the box limit, or not finite
            const double far = integer(0, 1) ? 2 * kIndexCoordinateLimit
                                             : std::numeric_limits<double>::quiet_NaN();
            env.addObstacle(poly({{far, 0}, {1, 1}, {0, 2}}));
        }
        const auto fast = generateSlices(env, spacing);
        const auto reference = Reference::generateSlices(env, spacing);
        ASSERT_EQ(fast.size(), reference.size()) << "garden " << garden;
        for (std::size_t i = 0; i < fast.size(); ++i) {
            ASSERT_EQ(fast[i].points.size(), reference[i].points.size());
            for (std::size_t k = 0; k < fast[i].points.size(); ++k) {
                const Point& a = fast[i].points[k];
                const Point& b = reference[i].points[k];
                ASSERT_TRUE(std::memcmp(&a.x, &b.x, sizeof a.x) == 0 &&
                            std::memcmp(&a.y, &b.y, sizeof a.y) == 0)
                    << "garden " << garden << " lane " << i;
            }
        }
    }
}

}  // namespace
