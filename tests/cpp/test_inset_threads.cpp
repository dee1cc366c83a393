// An inset run whose next steps are computed on a second thread gives what
// the same run computed on one thread gives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "planner/inset.h"
#include "test_helpers.h"

using namespace Planner;
using TestHelpers::poly;
using TestHelpers::square;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<Point> roundRing(double cx, double cy, double radius, int corners) {
    std::vector<Point> ring;
    for (int k = 0; k < corners; ++k) {
        const double a = 2 * kPi * k / corners;
        ring.emplace_back(cx + radius * std::cos(a), cy + radius * std::sin(a));
    }
    return ring;
}

bool sameRings(const std::vector<Ring>& a, const std::vector<Ring>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size()) return false;
        for (std::size_t k = 0; k < a[i].size(); ++k) {
            if (a[i][k].x != b[i][k].x || a[i][k].y != b[i][k].y) return false;
        }
    }
    return true;
}

}  // namespace

// Gap rings after every step, runs that end in an empty inset, by their lap
// limit and by the ring cap (a step already under way is then dropped).
TEST(InsetThreads, NextStepsOnASecondThreadGiveTheSameRun) {
    Environment concave(poly({{0, 0}, {12, 0}, {12, 8}, {6, 8}, {6, 4}, {0, 4}}));
    concave.addObstacle(poly({{2, 1}, {3, 1}, {3, 2}, {2, 2}}));
    concave.addObstacle(poly({{11, 3}, {13, 3}, {13, 5}, {11, 5}}));
    Environment round(Polygon(roundRing(0, 0, 10, 600)));
    std::vector<Point> hole = roundRing(3, 1, 2, 300);
    round.addObstacle(Polygon(std::vector<Point>(hole.rbegin(), hole.rend())));
    // A hundred obstacles: about a hundred rings per step reach the ring cap.
    Environment crowded = square(0, 30);
    for (int i = 0; i < 10; ++i) {
        for (int j = 0; j < 10; ++j) {
            const double x = 2.5 + 2.5 * i, y = 2.5 + 2.5 * j;
            crowded.addObstacle(poly({{x, y}, {x, y + 0.2}, {x + 0.2, y + 0.2}, {x + 0.2, y}}));
        }
    }
    struct Case {
        Environment scene;
        std::int32_t laps;
        double spacing;
    };
    const Case cases[] = {{concave, 0, 0.5}, {concave, 3, 0.3},   {round, 0, 0.5},
                          {round, 4, 0.7},   {round, -2, 0.25},   {crowded, 0, 0.005},
                          {concave, 2, 1e-4}};
    for (const Case& c : cases) {
        SCOPED_TRACE("laps " + std::to_string(c.laps) + " spacing " + std::to_string(c.spacing));
        std::vector<std::size_t> serialEnds, threadedEnds;
        const std::vector<Ring> serial = insetArea(c.scene, c.scene, c.laps, c.spacing,
                                                   kLapFirstInset, &serialEnds, SIZE_MAX);
        const std::vector<Ring> threaded =
            insetArea(c.scene, c.scene, c.laps, c.spacing, kLapFirstInset, &threadedEnds, 0);
        EXPECT_GT(serialEnds.size(), 1u);
        EXPECT_TRUE(sameRings(serial, threaded));
        EXPECT_EQ(serialEnds, threadedEnds);
        EXPECT_EQ(serial.size() > kRingCap, c.spacing == 0.005);  // only the crowded run is capped
    }
}
