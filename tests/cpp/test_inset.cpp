#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "clipper2/clipper.h"
#include "planner/constants.h"
#include "planner/geometry.h"
#include "planner/inset.h"
#include "planner/pipeline.h"
#include "test_helpers.h"

using namespace Planner;
using TestHelpers::poly;
using TestHelpers::pts;
using TestHelpers::square;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.14159265358979323846;

struct Bounds {
    double minX = kInf, minY = kInf, maxX = -kInf, maxY = -kInf;
};

Bounds boundsOf(const Ring& ring) {
    Bounds b;
    for (const Point& p : ring) {
        b.minX = std::min(b.minX, p.x);
        b.minY = std::min(b.minY, p.y);
        b.maxX = std::max(b.maxX, p.x);
        b.maxY = std::max(b.maxY, p.y);
    }
    return b;
}

bool isClosed(const Ring& ring) {
    return ring.size() >= 2 && ring.front().x == ring.back().x && ring.front().y == ring.back().y;
}

void expectSquareRing(const Ring& ring, double lo, double hi, bool counterClockwise) {
    ASSERT_EQ(ring.size(), 5u);
    EXPECT_TRUE(isClosed(ring));
    const Bounds b = boundsOf(ring);
    EXPECT_EQ(b.minX, lo);
    EXPECT_EQ(b.minY, lo);
    EXPECT_EQ(b.maxX, hi);
    EXPECT_EQ(b.maxY, hi);
    EXPECT_EQ(signedArea(ring) > 0, counterClockwise);
    for (const Point& p : ring) {
        EXPECT_TRUE((p.x == lo || p.x == hi) && (p.y == lo || p.y == hi));
    }
}

Ring rotated(const std::vector<Point>& points, double angle) {
    Ring out = points;
    rotatePoints(out, angle);
    return out;
}

Environment rotatedScene(const Environment& scene, double angle) {
    Environment out(Polygon(rotated(scene.perimeter.points, angle)));
    for (const Polygon& o : scene.obstacles) out.addObstacle(Polygon(rotated(o.points, angle)));
    for (const Polygon& m : scene.mowAreas) out.addMowArea(Polygon(rotated(m.points, angle)));
    return out;
}

// The closed ring `ring` runs through `expected` (given without repeat) in
// the same cyclic order, starting anywhere, within `tol`.
::testing::AssertionResult traces(const Ring& ring, const std::vector<Point>& expected,
                                  double tol) {
    if (!isClosed(ring) || ring.size() != expected.size() + 1) {
        return ::testing::AssertionFailure() << "ring of " << ring.size() << " points, expected "
                                             << expected.size() << " + 1";
    }
    const std::size_t n = expected.size();
    for (std::size_t shift = 0; shift < n; ++shift) {
        bool all = true;
        for (std::size_t i = 0; i < n && all; ++i) {
            const Point& a = ring[i];
            const Point& b = expected[(i + shift) % n];
            all = std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol;
        }
        if (all) return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "ring does not trace the expected outline";
}

void expectSameRings(const std::vector<Ring>& a, const std::vector<Ring>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i].size(), b[i].size()) << "ring " << i;
        for (std::size_t k = 0; k < a[i].size(); ++k) {
            EXPECT_EQ(a[i][k].x, b[i][k].x) << "ring " << i << " point " << k;
            EXPECT_EQ(a[i][k].y, b[i][k].y) << "ring " << i << " point " << k;
        }
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// The integer grid.

TEST(InsetGrid, RoundsHalvesAwayFromZeroAndRejectsWhatDoesNotFit) {
    struct Case {
        double metres;
        bool ok;
        std::int64_t units;
    } cases[] = {
        {0.0015, true, 2},      {-0.0015, true, -2},   {0.0004999, true, 0},
        {1.0, true, 1000},      {-2.5e-4, true, 0},    {1e15, true, 1000000000000000000},
        {kNaN, false, 0},       {kInf, false, 0},      {-kInf, false, 0},
        {2.31e15, false, 0},    {-2.31e15, false, 0},  {1e300, false, 0},
    };
    for (const Case& c : cases) {
        std::int64_t units = 7;
        EXPECT_EQ(toGrid(c.metres, units), c.ok) << c.metres;
        EXPECT_EQ(units, c.ok ? c.units : 7) << c.metres;
    }
    EXPECT_EQ(fromGrid(1), 0.001);
    EXPECT_EQ(fromGrid(-9999), -9.999);
}

// ---------------------------------------------------------------------------
// Laps, ring pattern and work areas on simple scenes.

TEST(InsetRings, ThreeLapsOfASquare) {
    const auto rings = computeInsetRings(square(0, 10), 3, 0.5, 0.001);
    ASSERT_EQ(rings.size(), 3u);
    expectSquareRing(rings[0], 0.001, 9.999, true);
    expectSquareRing(rings[1], 0.501, 9.499, true);
    expectSquareRing(rings[2], 1.001, 8.999, true);
}

TEST(InsetRings, RingPatternEndsWithOneGapRing) {
    const auto rings = computeInsetRings(square(0, 10), 0, 0.5, 0.001);
    ASSERT_EQ(rings.size(), 11u);
    for (int k = 0; k < 10; ++k) {
        expectSquareRing(rings[k], (1 + 500 * k) / 1000.0, (9999 - 500 * k) / 1000.0, true);
    }
    const Ring& gap = rings[10];
    ASSERT_EQ(gap.size(), 4u);
    EXPECT_FALSE(isClosed(gap));
    const Bounds b = boundsOf(gap);
    EXPECT_EQ(b.minX, 4.926);
    EXPECT_EQ(b.minY, 4.926);
    EXPECT_EQ(b.maxX, 5.074);
    EXPECT_EQ(b.maxY, 5.074);
    EXPECT_GT(signedArea(gap), 0.0);
}

TEST(InsetRings, ThinStripGivesOneRing) {
    const Environment strip(poly({{0, 0}, {10, 0}, {10, 0.8}, {0, 0.8}}));
    const auto rings = computeInsetRings(strip, 3, 0.5, 0.001);
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_TRUE(isClosed(rings[0]));
    const Bounds b = boundsOf(rings[0]);
    EXPECT_EQ(b.minX, 0.001);
    EXPECT_EQ(b.maxY, 0.799);
}

TEST(InsetRings, AreaTooSmallForTheFirstInsetYieldsItself) {
    const auto rings = computeInsetRings(square(0, 2), 1, 1.5, 1.5);
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_TRUE(traces(rings[0], pts({{0, 0}, {2, 0}, {2, 2}, {0, 2}}), 0.0));
    EXPECT_EQ(rings[0].front().x, 0.0);  // the input's own vertex order
    EXPECT_EQ(rings[0].front().y, 0.0);
}

TEST(InsetRings, ObstacleIsGrownWithMitredCorners) {
    Environment scene = square(0, 10);
    scene.addObstacle(poly({{4.5, 4.5}, {5.5, 4.5}, {5.5, 5.5}, {4.5, 5.5}}));
    const auto rings = computeInsetRings(scene, 1, 0.5, 0.5);
    ASSERT_EQ(rings.size(), 2u);
    const auto outers = filterRingsByOrientation(rings, false);
    const auto holes = filterRingsByOrientation(rings, true);
    ASSERT_EQ(outers.size(), 1u);
    ASSERT_EQ(holes.size(), 1u);
    expectSquareRing(outers[0], 0.5, 9.5, true);
    expectSquareRing(holes[0], 4.0, 6.0, false);
}

TEST(InsetRings, EmptyOrDegenerateScenesGiveNoRingsOrThemselves) {
    EXPECT_TRUE(computeInsetRings(Environment(Polygon()), 0, 0.5, 0.001).empty());
    EXPECT_TRUE(computeInsetRings(Environment(Polygon()), 3, 0.5, 1.5).empty());
    // A zero-area lawn is never grown into something to mow: at most its own
    // outline comes back.
    for (const Polygon& lawn : {poly({{0, 0}, {10, 0}}), poly({{0, 0}, {5, 0}, {10, 0}}),
                                poly({{3, 3}})}) {
        for (std::int32_t laps : {0, 1, 3}) {
            const auto rings = computeInsetRings(Environment(lawn), laps, 0.5, 1.5);
            for (const Ring& ring : rings) {
                const Bounds b = boundsOf(ring);
                EXPECT_GE(b.minX, 0.0);
                EXPECT_LE(b.maxX, 10.0);
                EXPECT_GE(b.minY, 0.0);
                EXPECT_LE(b.maxY, 3.0);
                EXPECT_EQ(std::fabs(signedArea(ring)), 0.0);
            }
        }
    }
}

// With the perimeter holding the top vertex the stage hands the outlines to
// Clipper2 exactly as they are.
TEST(InsetRings, PlainSceneMatchesOneDirectOffset) {
    Environment scene(poly({{0, 0}, {12, 1}, {11, 9}, {6, 12}, {-1, 7}}));
    scene.addObstacle(poly({{3, 3}, {5, 3.5}, {4, 6}}));
    scene.addObstacle(poly({{7, 4}, {9, 4}, {9, 6}, {7, 6}}));
    const auto rings = computeInsetRings(scene, 1, 0.75, 0.75);

    Clipper2Lib::Paths64 input;
    for (const Polygon* ring : {&scene.perimeter, &scene.obstacles[0], &scene.obstacles[1]}) {
        Clipper2Lib::Path64 path;
        for (const Point& p : ring->points) {
            std::int64_t x = 0, y = 0;
            ASSERT_TRUE(toGrid(p.x, x) && toGrid(p.y, y));
            path.emplace_back(x, y);
        }
        input.push_back(path);
    }
    Clipper2Lib::ClipperOffset offsetter;
    offsetter.AddPaths(input, Clipper2Lib::JoinType::Miter, Clipper2Lib::EndType::Polygon);
    Clipper2Lib::Paths64 solution;
    offsetter.Execute(-750.0, solution);
    std::vector<Ring> expected;
    for (const auto& path : solution) {
        Ring ring;
        for (const auto& p : path) ring.emplace_back(fromGrid(p.x), fromGrid(p.y));
        ring.push_back(ring.front());
        expected.push_back(ring);
    }
    ASSERT_EQ(expected.size(), 3u);
    expectSameRings(rings, expected);
}

TEST(InsetRings, ClockwisePerimeterIsInsetAsOneReversedGroup) {
    // A perimeter written clockwise straight into the scene: Clipper2 treats
    // the group as reversed, insets it all the same and keeps it clockwise.
    Environment scene = square(0, 10);
    std::reverse(scene.perimeter.points.begin(), scene.perimeter.points.end());
    const auto rings = computeInsetRings(scene, 2, 0.5, 0.5);
    ASSERT_EQ(rings.size(), 2u);
    expectSquareRing(rings[0], 0.5, 9.5, false);
    expectSquareRing(rings[1], 1.0, 9.0, false);
}

// ---------------------------------------------------------------------------
// Mow areas.

TEST(InsetMowAreas, WhichObstaclesGoWithAnArea) {
    const Polygon area = poly({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    struct Case {
        std::string name;
        Polygon obstacle;
        bool belongs;
    } cases[] = {
        {"inside", poly({{4, 4}, {6, 4}, {6, 6}, {4, 6}}), true},
        {"inside touching the edge", poly({{4, 0}, {6, 0}, {6, 2}, {4, 2}}), true},
        {"crossing", poly({{8, 4}, {12, 4}, {12, 6}, {8, 6}}), true},
        {"outside", poly({{12, 4}, {14, 4}, {14, 6}, {12, 6}}), false},
        {"touching from outside", poly({{10, 4}, {12, 4}, {12, 6}, {10, 6}}), false},
        {"touching at a corner", poly({{10, 10}, {12, 10}, {12, 12}, {10, 12}}), false},
        {"enclosing", poly({{-1, -1}, {11, -1}, {11, 11}, {-1, 11}}), false},
        {"two points inside", poly({{4, 4}, {6, 6}}), false},
        {"empty", Polygon(), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(obstacleBelongsToArea(c.obstacle, area), c.belongs) << c.name;
    }
    EXPECT_FALSE(obstacleBelongsToArea(cases[0].obstacle, poly({{0, 0}, {10, 0}})));
}

// A mow area the obstacles cover (one sealed against the lawn's edge and
// sharing the area's outline, or two together) gives no rings, for lanes or
// laps; one they leave a part of is inset as before.
TEST(InsetMowAreas, AnAreaTheObstaclesCoverGivesNoRings) {
    const Polygon corner = poly({{0.5, 0.5}, {0, 0.5}, {0, 0}, {0.5, 0}});
    struct Case {
        std::string name;
        std::vector<Polygon> obstacles;
        bool covered;
    } cases[] = {
        {"sealed bed", {poly({{0, 0.5}, {0.5, 0.5}, {0.5, -1}, {0, -1}, {0, 0}, {-0.01, 0},
                              {-0.01, 0.5}})},
         true},
        {"two halves", {poly({{0, 0}, {0, 0.5}, {0.25, 0.5}, {0.25, 0}}),
                        poly({{0.25, 0}, {0.25, 0.5}, {0.5, 0.5}, {0.5, 0}})},
         true},
        {"one half", {poly({{0, 0}, {0, 0.5}, {0.25, 0.5}, {0.25, 0}})}, false},
    };
    for (const Case& c : cases) {
        Environment scene(poly({{0, 0}, {8, 0}, {8, 6}, {0, 6}}));
        scene.addMowArea(corner);
        for (const Polygon& o : c.obstacles) scene.addObstacle(o);
        EXPECT_EQ(computeInsetRings(scene, 1, 0.3, 0.3).empty(), c.covered) << c.name;
        EXPECT_EQ(computeInsetRings(scene, 1, 0.5, kLapFirstInset).empty(), c.covered) << c.name;
    }
}

TEST(InsetMowAreas, AreasAreInsetOneByOneWithTheirObstacles) {
    Environment scene(poly({{0, 0}, {30, 0}, {30, 10}, {0, 10}}));
    scene.addMowArea(poly({{0, 0}, {10, 0}, {10, 10}, {0, 10}}));
    scene.addMowArea(poly({{20, 0}, {30, 0}, {30, 10}, {20, 10}}));
    scene.addObstacle(poly({{24, 4}, {26, 4}, {26, 6}, {24, 6}}));  // inside the second area
    const auto rings = computeInsetRings(scene, 2, 0.5, 0.5);
    // First area: two outer laps; second area: two outer laps and two holes.
    ASSERT_EQ(rings.size(), 6u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_LE(boundsOf(rings[i]).maxX, 10.0);
        EXPECT_GT(signedArea(rings[i]), 0.0);
    }
    int holes = 0;
    for (int i = 2; i < 6; ++i) {
        EXPECT_GE(boundsOf(rings[i]).minX, 20.0);
        if (signedArea(rings[i]) < 0.0) ++holes;
    }
    EXPECT_EQ(holes, 2);
}

TEST(InsetMowAreas, ObstacleCrossingTwoAreasGoesWithBoth) {
    Environment scene(poly({{0, 0}, {20, 0}, {20, 10}, {0, 10}}));
    scene.addMowArea(poly({{0, 0}, {10, 0}, {10, 10}, {0, 10}}));
    scene.addMowArea(poly({{10, 0}, {20, 0}, {20, 10}, {10, 10}}));
    scene.addObstacle(poly({{9, 4}, {11, 4}, {11, 6}, {9, 6}}));
    const auto rings = computeInsetRings(scene, 1, 0.5, 0.5);
    ASSERT_EQ(rings.size(), 2u);
    // Each area's outline is notched by the obstacle grown to 8.5 .. 11.5.
    EXPECT_TRUE(traces(rings[0],
                       pts({{0.5, 0.5}, {9.5, 0.5}, {9.5, 3.5}, {8.5, 3.5}, {8.5, 6.5},
                            {9.5, 6.5}, {9.5, 9.5}, {0.5, 9.5}}),
                       1e-12));
    EXPECT_TRUE(traces(rings[1],
                       pts({{10.5, 0.5}, {19.5, 0.5}, {19.5, 9.5}, {10.5, 9.5}, {10.5, 6.5},
                            {11.5, 6.5}, {11.5, 3.5}, {10.5, 3.5}}),
                       1e-12));
}

// ---------------------------------------------------------------------------
// The ring filter.

TEST(InsetRingFilter, AnAreaTooSmallForTheInsetYieldsWhatItsObstaclesLeave) {
    // The 2 m lawn is too small for the inset of 1.5 m.  With its obstacle
    // inside, the rings are the lawn and the obstacle as they stand; with an
    // obstacle reaching beyond it, the outline of the lawn less the obstacle,
    // so that no ring runs through the obstacle or round its outer part.
    struct Case {
        std::string name;
        Polygon obstacle;
        std::size_t rings;
        std::size_t firstRingPoints;
    } cases[] = {
        {"obstacle inside, at the lawn's corner", poly({{0, 0}, {1, 0}, {1, 1}, {0, 1}}), 2, 5},
        {"obstacle over the lawn's corner", poly({{-1, -1}, {1, -1}, {1, 1}, {-1, 1}}), 1, 7},
        {"obstacle across the lawn", poly({{0.5, -1}, {1, -1}, {1, 3}, {0.5, 3}}), 2, 5},
        {"obstacle over the whole lawn", poly({{-1, -1}, {3, -1}, {3, 3}, {-1, 3}}), 0, 0},
    };
    for (const Case& c : cases) {
        Environment scene = square(0, 2);
        scene.addObstacle(c.obstacle);
        const auto rings = computeInsetRings(scene, 1, 1.5, 1.5);
        ASSERT_EQ(rings.size(), c.rings) << c.name;
        if (rings.empty()) continue;
        EXPECT_EQ(rings.front().size(), c.firstRingPoints) << c.name;
        for (const Ring& ring : rings) {
            for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
                const Point m((ring[i].x + ring[i + 1].x) / 2, (ring[i].y + ring[i + 1].y) / 2);
                EXPECT_FALSE(isPointStrictlyInPolygon(scene.obstacles[0].points, m.x, m.y))
                    << c.name;
                EXPECT_TRUE(isPointInPolygon(scene.perimeter.points, m.x, m.y)) << c.name;
            }
        }
    }
}

TEST(InsetRingFilter, AWorkAreaTooSmallForTheInsetKeepsItsOutlines) {
    // Lanes are cut by the obstacles anyway: the lawn and the obstacle come
    // back as they stand, the lawn although it starts inside the obstacle.
    Environment scene = square(0, 2);
    scene.addObstacle(poly({{-1, -1}, {1, -1}, {1, 1}, {-1, 1}}));
    const auto rings = computeInsetRings(scene, 1, 1.5, 1.5, RingUse::WorkArea);
    ASSERT_EQ(rings.size(), 2u);
    EXPECT_EQ(rings[0].size(), 5u);
    EXPECT_EQ(rings[1].size(), 5u);
}

// A triangular lawn and a bed that touches it at a vertex and reaches beyond
// it: at some lane angles the first vertex of the outer lap rounds into the
// bed on the grid.  The lap runs on free lawn and is kept at every angle.
TEST(InsetRingFilter, ALapWhoseFirstVertexRoundsIntoABedStays) {
    const Polygon lawn = poly({{4.260305713418758, 12.651200368496935},
                               {11.215576844188561, 9.442456776719766},
                               {-11.215644435155387, -12.6511805185335}});
    const Polygon bed = poly({{11.215576844188561, 9.442456776719766},
                              {-0.9297774083137572, -2.5235545213852113},
                              {0.5134593310432254, -3.704555888615882},
                              {22.82807568242092, 4.105721797633089}});
    PathSettings settings;
    settings.mowArea = false;
    settings.mowExclusionsBoder = false;
    settings.borderLaps = 3;
    for (int degrees = 0; degrees < 180; ++degrees) {
        Environment scene(lawn);
        scene.addObstacle(bed);
        settings.angle = degrees * kPi / 180.0;
        EXPECT_EQ(computeFullTask(scene, settings, Point(0, 0)).slices.size(), 3u) << degrees;
    }
}

TEST(InsetRingFilter, UsesEveryObstacleOfTheScene) {
    // The obstacle encloses the mow area, so it does not go with it, but every
    // ring of the area starts inside it.
    Environment scene(poly({{0, 0}, {20, 0}, {20, 20}, {0, 20}}));
    scene.addMowArea(poly({{5, 5}, {10, 5}, {10, 10}, {5, 10}}));
    scene.addObstacle(poly({{4, 4}, {11, 4}, {11, 11}, {4, 11}}));
    EXPECT_TRUE(computeInsetRings(scene, 3, 0.5, 0.001).empty());
    EXPECT_TRUE(computeInsetRings(scene, 0, 0.5, 0.001).empty());
}

// ---------------------------------------------------------------------------
// Input the integer grid cannot hold.

TEST(InsetGuards, OutlinesOffTheGridGiveNoRings) {
    const double bad[] = {kNaN, kInf, -kInf, 3e15, -1e300};
    for (double v : bad) {
        Environment lawn(poly({{0, 0}, {10, 0}, {10, v}, {0, 10}}));
        EXPECT_TRUE(computeInsetRings(lawn, 0, 0.5, 0.001).empty()) << v;

        Environment withObstacle = square(0, 10);
        withObstacle.addObstacle(poly({{4, 4}, {v, 4}, {6, 6}, {4, 6}}));
        EXPECT_TRUE(computeInsetRings(withObstacle, 3, 0.5, 0.001).empty()) << v;

        // A bad mow area gives nothing; the next one is still inset.
        Environment areas(poly({{0, 0}, {30, 0}, {30, 10}, {0, 10}}));
        areas.addMowArea(poly({{0, 0}, {10, 0}, {10, v}, {0, 10}}));
        areas.addMowArea(poly({{20, 0}, {30, 0}, {30, 10}, {20, 10}}));
        const auto rings = computeInsetRings(areas, 1, 0.5, 0.5);
        ASSERT_EQ(rings.size(), 1u) << v;
        EXPECT_EQ(boundsOf(rings[0]).minX, 20.5) << v;
    }
}

TEST(InsetGuards, FarButConvertibleOutlinesAreInsetOrLeftAlone) {
    // 1e7 m from the origin: on the grid and well inside Clipper2's range.
    const double far = 1e7;
    Environment lawn(poly({{far, far}, {far + 10, far}, {far + 10, far + 10}, {far, far + 10}}));
    const auto rings = computeInsetRings(lawn, 2, 0.5, 0.5);
    ASSERT_EQ(rings.size(), 2u);
    EXPECT_EQ(boundsOf(rings[0]).minX, far + 0.5);
    EXPECT_EQ(boundsOf(rings[1]).maxY, far + 9.0);

    // 2e15 m: convertible, but too near the end of Clipper2's range to be
    // offset safely; no ring, no failure.
    const double edge = 2e15;
    Environment nearEdge(
        poly({{edge, edge}, {edge + 10, edge}, {edge + 10, edge + 10}, {edge, edge + 10}}));
    EXPECT_TRUE(computeInsetRings(nearEdge, 0, 0.5, 0.001).empty());
}

TEST(InsetGuards, InsetsBeyondTheGridLeaveNothing) {
    // An inset larger than anything on the grid consumes the area, which then
    // yields its own outline, as any area too small for its first inset.
    for (double inset : {1e14, 1e300, kInf}) {
        const auto rings = computeInsetRings(square(0, 2), 1, inset, inset);
        ASSERT_EQ(rings.size(), 1u) << inset;
        EXPECT_TRUE(traces(rings[0], pts({{0, 0}, {2, 0}, {2, 2}, {0, 2}}), 0.0)) << inset;
    }
    // Steps that cannot be computed (a NaN, endless or oversized growth) end
    // the run with what it has.
    EXPECT_TRUE(computeInsetRings(square(0, 2), 1, 0.5, kNaN).empty());
    EXPECT_TRUE(computeInsetRings(square(0, 2), 1, 0.5, -kInf).empty());
    EXPECT_TRUE(computeInsetRings(square(0, 2), 1, 0.5, -1e15).empty());
    EXPECT_EQ(computeInsetRings(square(0, 10), 5, kNaN, 0.001).size(), 1u);
    EXPECT_EQ(computeInsetRings(square(0, 10), 5, -1e15, 0.001).size(), 1u);
    // A one-point obstacle in a group Clipper2 reads as reversed would be
    // grown by the whole inset; one beyond its reach consumes the lawn.
    Environment reversed = square(0, 10);
    std::reverse(reversed.perimeter.points.begin(), reversed.perimeter.points.end());
    reversed.obstacles.push_back(poly({{5, 5}}));
    const auto consumed = computeInsetRings(reversed, 1, 1e7, 1e7);
    ASSERT_EQ(consumed.size(), 2u);
    EXPECT_TRUE(traces(consumed[0], reversed.perimeter.points, 0.0));
    EXPECT_EQ(consumed[1].size(), 2u);
    // ... and growth that Clipper2 cannot apply to a one-point obstacle ends
    // the run.
    Environment withPoint = square(0, 10);
    withPoint.obstacles.push_back(poly({{5, 5}}));
    EXPECT_TRUE(computeInsetRings(withPoint, 1, 0.5, -3e6).empty());
    EXPECT_EQ(computeInsetRings(withPoint, 1, 0.5, -2e6).size(), 1u);
    // Growing laps (negative spacing) go on until the lap count.
    const auto grown = computeInsetRings(square(0, 10), 3, -1.0, 0.001);
    ASSERT_EQ(grown.size(), 3u);
    EXPECT_EQ(boundsOf(grown[2]).maxX, 11.999);
}

// ---------------------------------------------------------------------------
// Runs without a lap limit end.

TEST(InsetTermination, UnlimitedRunsWithASpacingThatCannotShrinkEndAfterTheFirstInset) {
    const double spacings[] = {0.0, -0.5, -1e300, 1e-4, 5e-4, 0.0009, kNaN, kInf, -kInf};
    Environment scene = square(0, 10);
    scene.addObstacle(poly({{4, 4}, {6, 4}, {6, 6}, {4, 6}}));
    for (double spacing : spacings) {
        for (std::int32_t laps : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
            const auto rings = computeInsetRings(scene, laps, spacing, 0.001);
            expectSameRings(rings, computeInsetRings(scene, 1, spacing, 0.001));
            EXPECT_EQ(rings.size(), 2u) << spacing;
        }
    }
}

TEST(InsetTermination, RingCapBoundsLongRuns) {
    const Environment big = square(0, 100);
    for (std::int32_t laps : {0, std::numeric_limits<std::int32_t>::max()}) {
        const auto rings = computeInsetRings(big, laps, 0.001, 0.001);
        ASSERT_EQ(rings.size(), kRingCap + 1) << laps;
        EXPECT_EQ(boundsOf(rings.back()).minX, 5.001) << laps;
    }
    // The cap counts each mow area's run on its own.
    Environment areas(poly({{0, 0}, {300, 0}, {300, 100}, {0, 100}}));
    areas.addMowArea(poly({{0, 0}, {100, 0}, {100, 100}, {0, 100}}));
    areas.addMowArea(poly({{200, 0}, {300, 0}, {300, 100}, {200, 100}}));
    EXPECT_EQ(computeInsetRings(areas, 0, 0.001, 0.001).size(), 2 * (kRingCap + 1));
}

TEST(InsetTermination, RunsWhoseRingsAreAllDroppedEnd) {
    // Every ring starts inside the enclosing obstacle; neither a repeating
    // outline (spacing 0) nor a slow inset may keep the run going for long.
    Environment scene(poly({{-10, -10}, {1010, -10}, {1010, 1010}, {-10, 1010}}));
    scene.addMowArea(poly({{0, 0}, {1000, 0}, {1000, 1000}, {0, 1000}}));
    scene.addObstacle(poly({{-5, -5}, {1005, -5}, {1005, 1005}, {-5, 1005}}));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(computeInsetRings(scene, 0, 0.001, 0.001).empty());
    EXPECT_TRUE(computeInsetRings(scene, std::numeric_limits<std::int32_t>::max(), 0.0, 0.001)
                    .empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

// ---------------------------------------------------------------------------
// An obstacle reaching above the lawn.

namespace {

// The 10 m lawn with an obstacle straddling its top edge (4 .. 6 by 9 .. 11)
// and one wholly inside (4.5 .. 5.5 by 4 .. 5), turned by `angle`.
Environment lawnWithObstacleOnTop(double angle) {
    Environment scene = square(0, 10);
    scene.addObstacle(poly({{4, 9}, {6, 9}, {6, 11}, {4, 11}}));
    scene.addObstacle(poly({{4.5, 4}, {5.5, 4}, {5.5, 5}, {4.5, 5}}));
    return rotatedScene(scene, angle);
}

// The lawn less the straddling obstacle, as one notched perimeter.
Environment notchedLawn(double angle) {
    Environment scene(poly({{0, 0}, {10, 0}, {10, 10}, {6, 10}, {6, 9}, {4, 9}, {4, 10}, {0, 10}}));
    scene.addObstacle(poly({{4.5, 4}, {5.5, 4}, {5.5, 5}, {4.5, 5}}));
    return rotatedScene(scene, angle);
}

bool obstacleHoldsTheTopVertex(const Environment& scene) {
    auto top = [](const std::vector<Point>& ring) {
        double y = -kInf;
        for (const Point& p : ring) y = std::max(y, p.y);
        return y;
    };
    return top(scene.obstacles[0].points) > top(scene.perimeter.points);
}

}  // namespace

class InsetObstacleOnTop : public ::testing::TestWithParam<double> {};

TEST_P(InsetObstacleOnTop, WorkAreaIsInsetAndExcludesTheGrownObstacle) {
    const double angle = GetParam() * kPi / 180.0;
    const double d = 1.0;
    const auto rings = computeInsetRings(lawnWithObstacleOnTop(angle), 1, d, d);
    const auto outers = filterRingsByOrientation(rings, false);
    const auto holes = filterRingsByOrientation(rings, true);
    ASSERT_EQ(outers.size(), 1u);
    ASSERT_EQ(holes.size(), 1u);  // only the obstacle inside the lawn
    // Back in the lawn's own frame: the inset lawn notched by the obstacle
    // grown to 3 .. 7 by 8 .. 12, and the inner obstacle grown to 3.5 .. 6.5
    // by 3 .. 6.
    const double tol = angle == 0.0 ? 1e-12 : 0.002;
    EXPECT_TRUE(traces(rotated(outers[0], -angle),
                       pts({{1, 1}, {9, 1}, {9, 9}, {7, 9}, {7, 8}, {3, 8}, {3, 9}, {1, 9}}),
                       tol));
    EXPECT_NEAR(signedArea(outers[0]), 60.0, 0.02);
    EXPECT_NEAR(signedArea(holes[0]), -9.0, 0.02);
    EXPECT_TRUE(traces(rotated(holes[0], -angle),
                       pts({{3.5, 3}, {3.5, 6}, {6.5, 6}, {6.5, 3}}), tol));
}

TEST_P(InsetObstacleOnTop, LapsAndRingPatternMatchTheNotchedLawn) {
    const double angle = GetParam() * kPi / 180.0;
    for (std::int32_t laps : {3, 0}) {
        const auto rings = computeInsetRings(lawnWithObstacleOnTop(angle), laps, 0.5, 0.001);
        const auto same = computeInsetRings(notchedLawn(angle), laps, 0.5, 0.001);
        // Equal up to where the obstacle meets the lawn edge, which one
        // computes on the grid and the other before rounding; that may also
        // split the last gap differently.
        std::vector<double> closedAreas[2];
        double gapArea[2] = {0.0, 0.0};
        for (int k = 0; k < 2; ++k) {
            for (const Ring& ring : k == 0 ? rings : same) {
                if (isClosed(ring)) {
                    closedAreas[k].push_back(signedArea(ring));
                } else {
                    gapArea[k] += signedArea(ring);
                }
            }
        }
        ASSERT_EQ(closedAreas[0].size(), closedAreas[1].size()) << laps;
        ASSERT_GE(closedAreas[0].size(), laps == 0 ? 10u : 6u) << laps;
        for (std::size_t i = 0; i < closedAreas[0].size(); ++i) {
            EXPECT_NEAR(closedAreas[0][i], closedAreas[1][i], 0.01) << laps << " ring " << i;
        }
        EXPECT_NEAR(gapArea[0], gapArea[1], 0.05) << laps;
    }
}

// 0: the obstacle's top edge is highest; 10 and -10: one of its corners;
// 20, 45 and 180: the lawn's.
INSTANTIATE_TEST_SUITE_P(InsetAngles, InsetObstacleOnTop,
                         ::testing::Values(0.0, 10.0, -10.0, 20.0, 45.0, 180.0));

TEST(InsetTopVertex, TheCasesCoverBothTopHolders) {
    EXPECT_TRUE(obstacleHoldsTheTopVertex(lawnWithObstacleOnTop(0.0)));
    EXPECT_TRUE(obstacleHoldsTheTopVertex(lawnWithObstacleOnTop(10.0 * kPi / 180.0)));
    EXPECT_TRUE(obstacleHoldsTheTopVertex(lawnWithObstacleOnTop(-10.0 * kPi / 180.0)));
    EXPECT_FALSE(obstacleHoldsTheTopVertex(lawnWithObstacleOnTop(20.0 * kPi / 180.0)));
    EXPECT_FALSE(obstacleHoldsTheTopVertex(lawnWithObstacleOnTop(kPi)));
}

TEST(InsetTopVertex, ObstacleWhollyAboveTheLawnLeavesItAlone) {
    Environment scene = square(0, 10);
    scene.addObstacle(poly({{4, 12}, {6, 12}, {6, 14}, {4, 14}}));
    const auto rings = computeInsetRings(scene, 2, 0.5, 0.5);
    ASSERT_EQ(rings.size(), 2u);
    expectSquareRing(rings[0], 0.5, 9.5, true);
    expectSquareRing(rings[1], 1.0, 9.0, true);
}

// One run for several lap counts gives what a run per count gives, also for
// counts without a limit, spacings that cannot shrink, mow areas, gap rings
// and an area too small for its first inset.
TEST(InsetLapCounts, OneRunServesEveryCount) {
    Environment concave(poly({{0, 0}, {12, 0}, {12, 8}, {6, 8}, {6, 4}, {0, 4}}));
    concave.addObstacle(poly({{2, 1}, {3, 1}, {3, 2}, {2, 2}}));
    concave.addObstacle(poly({{11, 3}, {13, 3}, {13, 5}, {11, 5}}));
    Environment areas = square(0, 20);
    areas.addObstacle(poly({{4, 4}, {6, 4}, {6, 6}, {4, 6}}));
    areas.addMowArea(poly({{1, 1}, {9, 1}, {9, 9}, {1, 9}}));
    areas.addMowArea(poly({{11, 2}, {19, 2}, {15, 18}}));
    std::vector<Point> round;
    for (int k = 0; k < 60; ++k)
        round.emplace_back(6 * std::cos(k * kPi / 30), 6 * std::sin(k * kPi / 30));
    const Environment scenes[] = {concave, areas, Environment(Polygon(round)), square(0, 0.002)};
    const std::vector<std::int32_t> counts = {0, 1, 2, 3, -7, 40};
    for (const Environment& scene : scenes) {
        for (double spacing : {0.5, 0.3, 1e-4, kNaN}) {
            std::vector<std::vector<Ring>> single;
            for (std::int32_t c : counts)
                single.push_back(computeInsetRings(scene, c, spacing, kLapFirstInset));
            std::vector<std::vector<std::int32_t>> requests = {counts,
                                                               {counts.rbegin(), counts.rend()}};
            for (std::size_t i = 0; i < counts.size(); ++i) {
                for (std::size_t j = i + 1; j < counts.size(); ++j)
                    requests.push_back({counts[i], counts[j]});
            }
            for (const auto& request : requests) {
                const auto shared =
                    computeInsetRingsForLapCounts(scene, request, spacing, kLapFirstInset);
                ASSERT_EQ(shared.size(), request.size());
                for (std::size_t k = 0; k < request.size(); ++k) {
                    const std::size_t at = static_cast<std::size_t>(
                        std::find(counts.begin(), counts.end(), request[k]) - counts.begin());
                    SCOPED_TRACE("spacing " + std::to_string(spacing) + " count " +
                                 std::to_string(request[k]));
                    expectSameRings(shared[k], single[at]);
                }
            }
        }
    }
}
