// Line of sight through outline vertices, and a randomized check of it
// against dense sampling of the move.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "planner/geometry.h"
#include "planner/sight_test.h"
#include "test_helpers.h"

using namespace Planner;
using TestHelpers::poly;

namespace {

Environment gridScene() {
    Environment env = TestHelpers::square(0, 20);
    env.addObstacle(poly({{4, 4}, {6, 4}, {6, 6}, {4, 6}}));
    return env;
}

struct Move {
    double ax, ay, bx, by;
    bool free;
};

class SightThroughVertices : public ::testing::TestWithParam<Move> {};

TEST_P(SightThroughVertices, Judged) {
    const Move m = GetParam();
    EXPECT_EQ(isSegmentFree(gridScene(), m.ax, m.ay, m.bx, m.by), m.free)
        << m.ax << "," << m.ay << " -> " << m.bx << "," << m.by;
}

INSTANTIATE_TEST_SUITE_P(
    Square, SightThroughVertices,
    ::testing::Values(Move{3, 3, 11, 11, false},  // in at (4,4), out at (6,6), midpoint outside
                      Move{0, 0, 5, 5, false},    // ends inside, entering through a vertex
                      Move{11, 11, 3, 3, false},  // the same move reversed
                      Move{3, 7, 9, 1, false},    // in at (4,6), out at (6,4), midpoint a vertex
                      Move{2, 2, 4, 4, true},     // ends on a corner
                      Move{2, 6, 6, 2, true},     // touches the corner (4,4) only
                      Move{0, 8, 8, 0, true},     // the same line, longer
                      Move{4, 0, 4, 10, true},    // along an edge
                      Move{4, 6, 6, 6, true},     // corner to corner along the top edge
                      Move{6, 6, 8, 8, true},     // leaves a corner outwards
                      Move{1, 1, 19, 1, true}));

TEST(SightThroughVertices, ConcaveNotchOfThePerimeter) {
    // A V-shaped notch in the top edge, between (8,10) and (12,10).
    Environment env(poly({{0, 0}, {20, 0}, {20, 10}, {12, 10}, {10, 6}, {8, 10}, {0, 10}}));
    // Along the top edge and across the notch's mouth, which is outside the
    // lawn; the midpoint (8,10) is a vertex, so only the pieces tell.
    EXPECT_FALSE(isSegmentFree(env, 2, 10, 14, 10));
    EXPECT_FALSE(isSegmentFree(env, 2, 10, 18, 10));  // midpoint outside as well
    EXPECT_TRUE(isSegmentFree(env, 2, 10, 8, 10));    // along the top edge to the corner
    EXPECT_TRUE(isSegmentFree(env, 8, 10, 10, 6));    // along a notch edge
    EXPECT_TRUE(isSegmentFree(env, 2, 5, 18, 5));     // below the notch
    EXPECT_TRUE(isSegmentFree(env, 2, 6, 18, 6));     // touches the notch's tip
    EXPECT_TRUE(isSegmentFree(env, 0, 0, 20, 0));     // along the bottom edge
}

// Dense sampling: is some stretch of the (shrunk) move clearly inside an
// obstacle or outside the lawn?
bool sampledBlocked(const Environment& env, double ax, double ay, double bx, double by) {
    const double len = std::sqrt((bx - ax) * (bx - ax) + (by - ay) * (by - ay));
    if (len < 0.01) return false;
    const double ux = (bx - ax) * 0.01 / len, uy = (by - ay) * 0.01 / len;
    ax += ux, ay += uy, bx -= ux, by -= uy;
    const int samples = 4000;
    for (int k = 1; k < samples; ++k) {
        const double s = static_cast<double>(k) / samples;
        const double x = ax + s * (bx - ax), y = ay + s * (by - ay);
        // Clear margins keep the sampling check away from boundary rounding.
        auto clearlyInside = [&](const std::vector<Point>& ring) {
            if (!isPointStrictlyInPolygon(ring, x, y)) return false;
            for (double ox : {-1e-4, 1e-4})
                for (double oy : {-1e-4, 1e-4})
                    if (!isPointStrictlyInPolygon(ring, x + ox, y + oy)) return false;
            return true;
        };
        auto clearlyOutside = [&](const std::vector<Point>& ring) {
            for (double ox : {-1e-4, 0.0, 1e-4})
                for (double oy : {-1e-4, 0.0, 1e-4})
                    if (isPointInPolygon(ring, x + ox, y + oy)) return false;
            return true;
        };
        if (clearlyOutside(env.perimeter.points)) return true;
        for (const Polygon& o : env.obstacles)
            if (clearlyInside(o.points)) return true;
    }
    return false;
}

TEST(SightProperty, FreeMovesNeverRunThroughAnObstacleOrOutside) {
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> cell(0, 10);
    int freeMoves = 0, vertexMoves = 0;
    for (int garden = 0; garden < 150; ++garden) {
        // A concave lawn and two box obstacles, all on a 1 m grid.
        const double w = 6 + cell(rng), h = 6 + cell(rng);
        const double nx = 2 + cell(rng) % 3, ny = h - 1 - cell(rng) % 3;
        Environment env(poly({{0, 0}, {w, 0}, {w, h}, {nx + 2, h}, {nx + 1, ny}, {nx, h}, {0, h}}));
        for (int k = 0; k < 2; ++k) {
            const double x0 = 1 + cell(rng) % static_cast<int>(w - 2);
            const double y0 = 1 + cell(rng) % static_cast<int>(h - 3);
            env.addObstacle(poly({{x0, y0}, {x0 + 1 + cell(rng) % 2, y0},
                                  {x0 + 1 + cell(rng) % 2, y0 + 1}, {x0, y0 + 1}}));
        }
        std::vector<Point> corners = env.perimeter.points;
        for (const Polygon& o : env.obstacles)
            corners.insert(corners.end(), o.points.begin(), o.points.end());
        for (int m = 0; m < 60; ++m) {
            Point a, b;
            if (m % 2 == 0) {  // corner to corner: the transit search's usual move
                a = corners[rng() % corners.size()];
                b = corners[rng() % corners.size()];
            } else {
                a = Point(cell(rng) * w / 10, cell(rng) * h / 10);
                b = Point(cell(rng) * w / 10, cell(rng) * h / 10);
            }
            if (!isSegmentFree(env, a.x, a.y, b.x, b.y)) continue;
            ++freeMoves;
            if (m % 2 == 0) ++vertexMoves;
            ASSERT_FALSE(sampledBlocked(env, a.x, a.y, b.x, b.y))
                << "garden " << garden << ": " << a.x << "," << a.y << " -> " << b.x << ","
                << b.y;
        }
    }
    EXPECT_GT(freeMoves, 1000);
    EXPECT_GT(vertexMoves, 300);
}

}  // namespace

// A fence 4 mm thick (x from 9.998 to 10.002) across a 20 x 10 lawn: no move
// crosses it, however short, and wherever along the move it stands; moves
// may still start or end within 1 mm of its outline.
TEST(SightThinFence, NoMoveCrossesIt) {
    Environment env(poly({{0, 0}, {20, 0}, {20, 10}, {0, 10}}));
    env.addObstacle(poly({{9.998, -1}, {10.002, -1}, {10.002, 11}, {9.998, 11}}));
    const SightIndex index = buildSightIndex(env);
    SightScratch scratch;
    const Move moves[] = {
        {9.998, 5, 10.002, 5, false},   // 4 mm, outline to outline
        {9.997, 5, 10.004, 5, false},   // 7 mm, off the middle
        {0, 5, 10.002, 5, false},       // long, the fence within the end shrink
        {10.002, 5, 0, 5, false},       // the same reversed
        {9.993, 5, 10.008, 5, false},   // 15 mm
        {10.001, 5, 10.009, 5, true},   // from inside the fence out
        {20, 5, 10.0005, 5, true},      // into the fence, not through it
        {9.998, 2, 9.998, 2.005, true}, // along the outline
        {9.99, 5, 9.995, 5, true},      // short, beside it
    };
    for (const Move& m : moves) {
        EXPECT_EQ(isSegmentFree(env, m.ax, m.ay, m.bx, m.by), m.free)
            << m.ax << "," << m.ay << " -> " << m.bx << "," << m.by;
        EXPECT_EQ(isSegmentFree(index, scratch, m.ax, m.ay, m.bx, m.by), m.free)
            << "indexed " << m.ax << "," << m.ay << " -> " << m.bx << "," << m.by;
    }
}

// Within the end shrink, as along the rest of a move: no move runs deeper
// than 1 mm into an obstacle, not even out of a point inside one (a wire
// point drawn into a wall), nor leaves the lawn, except a move from a point
// beyond the lawn's edge driving in.
TEST(SightNearTheEnds, NothingDeeperThanAMillimetre) {
    // A V notch 5 mm deep in the bottom edge at x = 5, and a wall 0.6 m
    // wide across the lawn at x = 12.
    Environment env(poly({{0, 0}, {4.995, 0}, {5, 0.005}, {5.005, 0}, {20, 0}, {20, 10}, {0, 10}}));
    env.addObstacle(poly({{11.7, -1}, {12.3, -1}, {12.3, 11}, {11.7, 11}}));
    const SightIndex index = buildSightIndex(env);
    SightScratch scratch;
    const Move moves[] = {
        {4.9952, 0.001, 8, 0.001, false},    // across the notch within the first cm
        {8, 0.001, 4.9952, 0.001, false},    // the same reversed
        {4.9952, 0.0005, 5.0048, 0.0005, false},  // a short move across it
        {4.99, 0.004, 8, 5, true},           // passes above the notch
        {2, -0.005, 2, 5, true},             // from 5 mm beyond the edge, in
        {2, 5, 2, -0.005, true},             // and out to there
        {12.295, 5, 15, 5.1, false},         // out of the wall, 5 mm from its face
        {12.295, 5, 12.3, 5, false},         // short, the same
        {15, 5, 12.295, 5.2, false},         // into the wall, 5 mm deep
        {12.3005, 5, 15, 5, true},           // from its face
        {12.2995, 5, 15, 5, true},           // from half a millimetre inside
    };
    for (const Move& m : moves) {
        EXPECT_EQ(isSegmentFree(env, m.ax, m.ay, m.bx, m.by), m.free)
            << m.ax << "," << m.ay << " -> " << m.bx << "," << m.by;
        EXPECT_EQ(isSegmentFree(index, scratch, m.ax, m.ay, m.bx, m.by), m.free)
            << "indexed " << m.ax << "," << m.ay << " -> " << m.bx << "," << m.by;
    }
}

// A start just inside an obstacle is driven out by the shortest way; one
// deeper than the end shrink, or whose way out ends in another obstacle, is
// not.
TEST(SightNearTheEnds, AStartJustInsideAnObstacleLeavesByTheShortestWay) {
    Environment env(poly({{0, 0}, {20, 0}, {20, 10}, {0, 10}}));
    env.addObstacle(poly({{4, 4}, {6, 4}, {6, 6}, {4, 6}}));
    env.addObstacle(poly({{5.9, 3.99}, {6.1, 3.99}, {6.1, 4.01}, {5.9, 4.01}}));
    Point exit(-1, -1);
    ASSERT_TRUE(wayOutOfObstacle(env, 5.995, 5, exit));
    EXPECT_EQ(exit.x, 6.0);
    EXPECT_EQ(exit.y, 5.0);
    EXPECT_FALSE(wayOutOfObstacle(env, 5.0, 5.0, exit));     // 1 m deep
    EXPECT_FALSE(wayOutOfObstacle(env, 5.9995, 5.0, exit));  // on the outline, up to 1 mm
    EXPECT_FALSE(wayOutOfObstacle(env, 1.0, 1.0, exit));     // on the lawn
    EXPECT_FALSE(wayOutOfObstacle(env, 5.995, 4.004, exit)); // out into the neighbour
    EXPECT_EQ(exit.x, 6.0);
}
