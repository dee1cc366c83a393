// Synthetic gardens for the benchmark, the same on every machine: a fixed
// seed and a generator whose numbers do not depend on the standard library.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "planner/geometry.h"
#include "planner/scene.h"

namespace Bench {

// splitmix64: small, fast and the same on every machine.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    double uniform(double lo, double hi) { return lo + (hi - lo) * unit(); }
    // Uniform in [lo, hi].
    int integer(int lo, int hi) {
        return lo + static_cast<int>(next() % static_cast<std::uint64_t>(hi - lo + 1));
    }

private:
    std::uint64_t state_;
};

struct GardenRecipe {
    std::string name;
    double area = 1000.0;      // lawn area in square metres
    int obstacles = 0;         // number of obstacles
    bool mowAreas = false;     // two mow areas covering parts of the lawn
    bool virtualWire = false;  // a wire loop round the middle of the lawn
    std::string pattern = "lines";
    std::uint64_t seed = 1;
    std::uint64_t shapeSeed = 1;  // the lawn's outline: equal seeds give one shape at every size
};

struct Garden {
    std::string name;
    Planner::Environment environment{Planner::Polygon()};
    Planner::PathSettings settings;
    Planner::Point start;
};

inline double ringArea(const std::vector<Planner::Point>& ring) {
    return std::fabs(Planner::signedArea(ring));
}

// A star-shaped outline round (cx, cy): `vertices` corners at jittered
// angles, radii varying by `roughness`, with a few deep notches when
// `notches` is set (a concave lawn).
inline std::vector<Planner::Point> starRing(Random& rng, double cx, double cy, double radius,
                                            int vertices, double roughness, bool notches) {
    const double kTwoPi = 6.283185307179586;
    std::vector<Planner::Point> ring;
    const double phase = rng.uniform(0.0, kTwoPi);
    for (int k = 0; k < vertices; ++k) {
        const double a = phase + kTwoPi * (k + rng.uniform(-0.3, 0.3)) / vertices;
        double r = radius * (1.0 + roughness * rng.uniform(-1.0, 1.0));
        if (notches && k % 7 == 3) r *= 0.55;
        ring.emplace_back(cx + r * std::cos(a), cy + r * std::sin(a));
    }
    return ring;
}

inline bool boxesApart(const std::vector<Planner::Point>& a, const std::vector<Planner::Point>& b,
                       double gap) {
    double ax0 = a[0].x, ax1 = a[0].x, ay0 = a[0].y, ay1 = a[0].y;
    for (const auto& p : a) {
        ax0 = std::fmin(ax0, p.x), ax1 = std::fmax(ax1, p.x);
        ay0 = std::fmin(ay0, p.y), ay1 = std::fmax(ay1, p.y);
    }
    double bx0 = b[0].x, bx1 = b[0].x, by0 = b[0].y, by1 = b[0].y;
    for (const auto& p : b) {
        bx0 = std::fmin(bx0, p.x), bx1 = std::fmax(bx1, p.x);
        by0 = std::fmin(by0, p.y), by1 = std::fmax(by1, p.y);
    }
    return ax1 + gap < bx0 || bx1 + gap < ax0 || ay1 + gap < by0 || by1 + gap < ay0;
}

inline Garden generateGarden(const GardenRecipe& recipe) {
    Random shape(recipe.shapeSeed);
    Random rng(recipe.seed);
    Garden garden;
    garden.name = recipe.name;

    // Concave lawn of the wanted area.
    std::vector<Planner::Point> lawn =
        starRing(shape, 0.0, 0.0, 1.0, shape.integer(16, 40), 0.18, true);
    const double scale = std::sqrt(recipe.area / ringArea(lawn));
    for (auto& p : lawn) p = Planner::Point(p.x * scale, p.y * scale);
    garden.environment = Planner::Environment(Planner::Polygon(lawn));
    const double radius = scale;
    // The mower starts near the first corner, on open lawn.
    garden.start = Planner::Point(0.85 * lawn[0].x, 0.85 * lawn[0].y);
    const std::vector<Planner::Point> startArea = {{garden.start.x - 1.0, garden.start.y - 1.0},
                                                   {garden.start.x + 1.0, garden.start.y + 1.0}};

    // Obstacles: trees, beds and sheds of 4 to 32 corners, apart from each
    // other; about one in ten reaches over the lawn's edge.
    std::vector<std::vector<Planner::Point>> placed;
    int attempts = 0;
    while (static_cast<int>(placed.size()) < recipe.obstacles && attempts < recipe.obstacles * 200) {
        ++attempts;
        const double size = rng.uniform(0.3, 2.5) * std::fmin(1.0, radius / 20.0);
        const int corners = rng.integer(4, 32);
        const double cx = rng.uniform(-radius, radius);
        const double cy = rng.uniform(-radius, radius);
        if (!Planner::isPointInPolygon(lawn, cx, cy)) continue;
        std::vector<Planner::Point> ring =
            starRing(rng, cx, cy, size, corners, corners > 8 ? 0.1 : 0.35, corners > 12);
        bool inside = true;
        for (const auto& p : ring) inside = inside && Planner::isPointInPolygon(lawn, p.x, p.y);
        if (!inside && rng.unit() > 0.1) continue;
        bool apart = true;
        for (const auto& other : placed) apart = apart && boxesApart(ring, other, 0.8);
        apart = apart && boxesApart(ring, startArea, 0.5);
        if (!apart) continue;
        placed.push_back(ring);
        garden.environment.addObstacle(Planner::Polygon(ring));
    }

    if (recipe.mowAreas) {
        // Two overlapping blobs over parts of the lawn, shrunk until they lie
        // inside it.
        const double centres[2][3] = {{-0.3, 0.1, 0.5}, {0.35, -0.2, 0.4}};
        for (const auto& c : centres) {
            std::vector<Planner::Point> area =
                starRing(rng, c[0] * radius, c[1] * radius, c[2] * radius, 12, 0.15, false);
            for (int shrink = 0; shrink < 40; ++shrink) {
                bool inside = true;
                for (std::size_t i = 0; i < area.size(); ++i) {
                    const Planner::Point& p = area[i];
                    const Planner::Point& q = area[(i + 1) % area.size()];
                    inside = inside && Planner::isSegmentInPolygon(lawn, p.x, p.y, q.x, q.y);
                }
                if (inside) break;
                for (auto& p : area) {
                    p = Planner::Point(c[0] * radius + 0.9 * (p.x - c[0] * radius),
                                       c[1] * radius + 0.9 * (p.y - c[1] * radius));
                }
            }
            garden.environment.addMowArea(Planner::Polygon(area));
        }
    }

    if (recipe.virtualWire) {
        std::vector<Planner::Point> wire;
        const int points = 24;
        for (int k = 0; k <= points; ++k) {
            const double a = 6.283185307179586 * k / points;
            wire.emplace_back(0.45 * radius * std::cos(a), 0.45 * radius * std::sin(a));
        }
        garden.environment.setVirtualWire(Planner::LineString(wire));
    }

    garden.settings.pattern = recipe.pattern;
    garden.settings.angle = rng.uniform(-1.5, 1.5);
    garden.settings.distanceToBorder = radius > 8.0 ? 1.0 : 0.5;
    return garden;
}

// A hedge: a thin obstacle along the segment (x0, y0) - (x1, y1), `width`
// wide, reaching past the lawn at both ends when the segment does.
inline std::vector<Planner::Point> hedgeRing(double x0, double y0, double x1, double y1,
                                             double width) {
    const double dx = x1 - x0, dy = y1 - y0;
    const double length = std::sqrt(dx * dx + dy * dy);
    const double nx = -dy / length * width / 2.0, ny = dx / length * width / 2.0;
    return {{x0 - nx, y0 - ny}, {x1 - nx, y1 - ny}, {x1 + nx, y1 + ny}, {x0 + nx, y0 + ny}};
}

// A round lawn of `vertices` corners and the given diameter.
inline std::vector<Planner::Point> roundRing(double diameter, int vertices) {
    std::vector<Planner::Point> ring;
    for (int k = 0; k < vertices; ++k) {
        const double a = 6.283185307179586 * k / vertices;
        ring.emplace_back(diameter / 2.0 * std::cos(a), diameter / 2.0 * std::sin(a));
    }
    return ring;
}

// A round lawn 60 m across (400 corners) split by a hedge; the mower starts
// on one side, so every piece on the other side is out of reach.
inline Garden hedgeRoundGarden() {
    Garden garden;
    garden.name = "hedge-round";
    garden.environment = Planner::Environment(Planner::Polygon(roundRing(60.0, 400)));
    garden.environment.addObstacle(Planner::Polygon(hedgeRing(5.0, -35.0, 8.0, 35.0, 0.6)));
    garden.start = Planner::Point(-20.0, 0.0);
    garden.settings.offset = 0.5;
    return garden;
}

// A generated garden with a hedge straight across it through its middle.
inline Garden hedgeAcross(const GardenRecipe& recipe, double offset) {
    Garden garden = generateGarden(recipe);
    garden.name = recipe.name;
    double x0 = 0.0, x1 = 0.0, y0 = 0.0, y1 = 0.0;
    for (const Planner::Point& p : garden.environment.perimeter.points) {
        x0 = std::fmin(x0, p.x), x1 = std::fmax(x1, p.x);
        y0 = std::fmin(y0, p.y), y1 = std::fmax(y1, p.y);
    }
    const double cx = 0.1 * x1;
    garden.environment.addObstacle(
        Planner::Polygon(hedgeRing(cx, y0 - 5.0, cx + 3.0, y1 + 5.0, 0.6)));
    // Start on the side of the first corner, away from the hedge.
    if ((garden.start.x - cx) * (garden.start.x - cx) < 4.0) garden.start.x = cx - 5.0;
    garden.settings.offset = offset;
    return garden;
}

// About 10,000 pieces out of reach: a lawn 200 m x 100 m cut by a hedge,
// with the far half divided by 49 walls into compartments.
inline Garden strandedGarden() {
    Garden garden;
    garden.name = "stranded-10000";
    garden.environment = Planner::Environment(
        Planner::Polygon({{0.0, 0.0}, {200.0, 0.0}, {200.0, 100.0}, {0.0, 100.0}}));
    garden.environment.addObstacle(Planner::Polygon(hedgeRing(100.0, -5.0, 100.0, 105.0, 0.6)));
    for (int k = 1; k <= 49; ++k) {
        const double x = 100.0 + 2.0 * k;
        garden.environment.addObstacle(Planner::Polygon(hedgeRing(x, -5.0, x, 105.0, 0.2)));
    }
    garden.start = Planner::Point(20.0, 50.0);
    garden.settings.offset = 0.5;
    garden.settings.distanceToBorder = 0.0;
    return garden;
}

// A round lawn 200 m across with a perimeter of 100,000 corners.
inline Garden longPerimeterGarden() {
    Garden garden;
    garden.name = "perimeter-100k";
    garden.environment = Planner::Environment(Planner::Polygon(roundRing(200.0, 100000)));
    garden.start = Planner::Point(0.0, 0.0);
    return garden;
}

}  // namespace Bench
