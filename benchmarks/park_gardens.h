// Gardens shaped like real ones for the benchmark: a park of trees, beds,
// buildings and paths, and the corners that used to be slow (a round bed of
// many vertices with a neighbour inside its box, a lawn cut by a hedge at
// many lane spacings, outlines recorded densely with GPS noise).  The same on every machine.
#pragma once

#include <algorithm>
#include <array>
#include <cstdio>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "benchmarks/garden_generator.h"

namespace Bench {

constexpr double kTwoPi = 6.283185307179586;

// A circle of `corners` corners round (cx, cy), the first on +x.
inline std::vector<Planner::Point> circleRing(int corners, double radius, double cx, double cy) {
    std::vector<Planner::Point> ring;
    for (int k = 0; k < corners; ++k) {
        const double a = kTwoPi * k / corners;
        ring.emplace_back(cx + radius * std::cos(a), cy + radius * std::sin(a));
    }
    return ring;
}

// A strip `width` wide along the polyline `line` (a path across grass), as
// one outline: down one side and back up the other, mitred at the bends.
inline std::vector<Planner::Point> stripRing(const std::vector<Planner::Point>& line,
                                             double width) {
    const std::size_t n = line.size();
    std::vector<Planner::Point> left, right;
    for (std::size_t i = 0; i < n; ++i) {
        // The mean of the normals of the edges meeting at point i.
        double nx = 0.0, ny = 0.0;
        for (int side = -1; side <= 0; ++side) {
            const std::size_t a = side < 0 ? (i == 0 ? 0 : i - 1) : i;
            const std::size_t b = side < 0 ? (i == 0 ? 1 : i) : (i + 1 < n ? i + 1 : i);
            if (a == b) continue;
            const double dx = line[b].x - line[a].x, dy = line[b].y - line[a].y;
            const double length = std::sqrt(dx * dx + dy * dy);
            nx += -dy / length, ny += dx / length;
        }
        const double length = std::sqrt(nx * nx + ny * ny);
        nx = nx / length * width / 2.0, ny = ny / length * width / 2.0;
        left.emplace_back(line[i].x + nx, line[i].y + ny);
        right.emplace_back(line[i].x - nx, line[i].y - ny);
    }
    std::vector<Planner::Point> ring(right.begin(), right.end());
    ring.insert(ring.end(), left.rbegin(), left.rend());
    return ring;
}

// A park lawn of about 1.7 ha times `scale` (in area): a rounded, slightly
// concave outline of 64 corners; about 100 trees per 1.7 ha (32-gons of
// 1 to 3 m radius, some in overlapping groups, some over the lawn's edge);
// 40 beds and buildings of 10 to 80 corners (some reaching over the edge);
// 20 path strips 2 m wide running in from beyond the edge.  About 4,500
// vertices at scale 1.
inline Garden parkGarden(const std::string& name, double scale, std::uint64_t seed) {
    Random rng(seed);
    Garden garden;
    garden.name = name;
    const double linear = std::sqrt(scale);
    const double rx = 80.0 * linear, ry = 70.0 * linear;
    std::vector<Planner::Point> lawn;
    const int corners = 64;
    for (int k = 0; k < corners; ++k) {
        const double a = kTwoPi * k / corners;
        // A bay on one side and a gentle wobble elsewhere.
        double r = 1.0 + 0.05 * std::sin(3.0 * a) - 0.25 * std::exp(-8.0 * (a - 2.2) * (a - 2.2));
        r *= 1.0 + rng.uniform(-0.015, 0.015);
        lawn.emplace_back(rx * r * std::cos(a), ry * r * std::sin(a));
    }
    garden.environment = Planner::Environment(Planner::Polygon(lawn));
    auto onLawn = [&](double x, double y) { return Planner::isPointInPolygon(lawn, x, y); };
    // A point of the lawn's edge at angle a (radians), pushed out by `out` metres.
    auto edgePoint = [&](double a, double out) {
        const std::size_t k = static_cast<std::size_t>(std::floor(a / kTwoPi * corners)) % corners;
        const Planner::Point& p = lawn[k];
        const Planner::Point& q = lawn[(k + 1) % corners];
        const double t = a / kTwoPi * corners - std::floor(a / kTwoPi * corners);
        const double x = p.x + t * (q.x - p.x), y = p.y + t * (q.y - p.y);
        const double length = std::sqrt(x * x + y * y);
        return Planner::Point(x + out * x / length, y + out * y / length);
    };

    // Trees: single ones on open lawn, groups whose crowns overlap, and
    // some on the edge.
    const int trees = static_cast<int>(std::lround(100 * scale));
    int planted = 0;
    while (planted < trees) {
        const double kind = rng.unit();
        if (kind < 0.12) {
            // On the edge: the centre within a metre of it, either side.
            const Planner::Point c = edgePoint(rng.uniform(0.0, kTwoPi), rng.uniform(-1.0, 1.0));
            garden.environment.addObstacle(
                Planner::Polygon(circleRing(32, rng.uniform(1.0, 3.0), c.x, c.y)));
            ++planted;
            continue;
        }
        const double cx = rng.uniform(-0.9, 0.9) * rx, cy = rng.uniform(-0.9, 0.9) * ry;
        if (!onLawn(cx, cy)) continue;
        const int group = kind < 0.35 ? rng.integer(2, 4) : 1;
        for (int g = 0; g < group && planted < trees; ++g) {
            const double r = rng.uniform(1.0, 3.0);
            const double a = rng.uniform(0.0, kTwoPi);
            const double d = g == 0 ? 0.0 : rng.uniform(1.5, 3.5);
            garden.environment.addObstacle(Planner::Polygon(
                circleRing(32, r, cx + d * std::cos(a), cy + d * std::sin(a))));
            ++planted;
        }
    }

    // Beds and buildings: star-shaped beds of 10 to 80 corners, rectangular
    // buildings with a few notches; one in five over the lawn's edge.
    const int beds = static_cast<int>(std::lround(40 * scale));
    for (int b = 0; b < beds; ++b) {
        Planner::Point c(rng.uniform(-0.8, 0.8) * rx, rng.uniform(-0.8, 0.8) * ry);
        if (b % 5 == 0) c = edgePoint(rng.uniform(0.0, kTwoPi), rng.uniform(0.0, 2.0));
        if (!onLawn(c.x, c.y) && b % 5 != 0) {
            --b;
            continue;
        }
        if (b % 4 == 1) {
            // A building: a rectangle with steps along its sides, 10-20 corners.
            const double w = rng.uniform(4.0, 12.0), h = rng.uniform(4.0, 10.0);
            const double turn = rng.uniform(0.0, kTwoPi);
            const int steps = rng.integer(1, 4);
            std::vector<Planner::Point> local = {{-w / 2, -h / 2}};
            for (int s = 1; s <= steps; ++s) {
                const double x = -w / 2 + w * s / (steps + 1);
                local.emplace_back(x, -h / 2 + (s % 2) * 0.8);
                local.emplace_back(x, -h / 2 + ((s + 1) % 2) * 0.8);
            }
            local.emplace_back(w / 2, -h / 2);
            local.emplace_back(w / 2, h / 2);
            local.emplace_back(-w / 2, h / 2);
            std::vector<Planner::Point> ring;
            for (const Planner::Point& p : local) {
                ring.emplace_back(c.x + p.x * std::cos(turn) - p.y * std::sin(turn),
                                  c.y + p.x * std::sin(turn) + p.y * std::cos(turn));
            }
            garden.environment.addObstacle(Planner::Polygon(ring));
        } else {
            const int n = rng.integer(10, 80);
            garden.environment.addObstacle(Planner::Polygon(
                starRing(rng, c.x, c.y, rng.uniform(1.5, 6.0), n, 0.12, n > 30)));
        }
    }

    // Paths: strips 2 m wide from 3 m beyond the edge towards the middle,
    // with one bend, 15 to 45 m long.
    const int paths = static_cast<int>(std::lround(20 * scale));
    for (int p = 0; p < paths; ++p) {
        const double a = kTwoPi * (p + rng.uniform(0.0, 0.6)) / paths;
        const Planner::Point out = edgePoint(a, 3.0);
        const double length = rng.uniform(15.0, 45.0) * linear;
        const double bend = a + 3.14159 + rng.uniform(-0.5, 0.5);
        const Planner::Point mid(out.x + 0.5 * length * std::cos(a + 3.14159),
                                 out.y + 0.5 * length * std::sin(a + 3.14159));
        const Planner::Point end(mid.x + 0.5 * length * std::cos(bend),
                                 mid.y + 0.5 * length * std::sin(bend));
        garden.environment.addObstacle(Planner::Polygon(stripRing({out, mid, end}, 2.0)));
    }

    // The dock on open lawn, near a third of the way out.
    garden.start = Planner::Point(0.3 * rx, -0.2 * ry);
    for (int attempt = 0; attempt < 100; ++attempt) {
        bool open = onLawn(garden.start.x, garden.start.y);
        for (const Planner::Polygon& o : garden.environment.obstacles)
            open = open && !Planner::isPointInPolygon(o.points, garden.start.x, garden.start.y);
        if (open) break;
        garden.start.x += 1.0;
    }
    garden.settings.offset = 0.5;
    garden.settings.distanceToBorder = 0.751;  // as the command sets it for these laps
    garden.settings.angle = 0.35;
    return garden;
}

// A ring recorded by driving along it: a point every `spacing` metres along
// each edge, each moved by up to `wobble` metres across and along (GPS
// noise; the corners kept as drawn).
inline std::vector<Planner::Point> recordedRing(Random& rng, const std::vector<Planner::Point>& ring,
                                                double spacing, double wobble) {
    std::vector<Planner::Point> out;
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const Planner::Point& p = ring[i];
        const Planner::Point& q = ring[(i + 1) % ring.size()];
        const double dx = q.x - p.x, dy = q.y - p.y;
        const int steps = std::max(1, static_cast<int>(std::sqrt(dx * dx + dy * dy) / spacing));
        out.push_back(p);
        for (int k = 1; k < steps; ++k) {
            const double t = static_cast<double>(k) / steps;
            out.emplace_back(p.x + t * dx + rng.uniform(-wobble, wobble),
                             p.y + t * dy + rng.uniform(-wobble, wobble));
        }
    }
    return out;
}

// Outlines as a mower's owner records them by driving round: a 30 m x 20 m
// lawn recorded every `spacing` metres with 3 cm of noise (more than the
// spacing: the outline zig-zags), and nothing on it (`beds` false); or a
// 40 m x 30 m lawn recorded every 5 cm with 3 cm of noise and two
// round beds recorded every `spacing` metres with 5 mm of noise, one beside
// the other inside its box, and eight trees as 32-gons.  Default settings,
// the dock near a corner.
inline Garden recordedGarden(double spacing, bool beds) {
    Random rng(beds ? 23 : 21);
    Garden garden;
    char name[48];
    std::snprintf(name, sizeof name, "%s-%g", beds ? "recorded-beds" : "recorded-lawn", spacing);
    garden.name = name;
    const double w = beds ? 40.0 : 30.0, h = beds ? 30.0 : 20.0;
    garden.environment = Planner::Environment(Planner::Polygon(
        recordedRing(rng, {{0.0, 0.0}, {w, 0.0}, {w, h}, {0.0, h}}, beds ? 0.05 : spacing, 0.03)));
    if (beds) {
        garden.environment.addObstacle(Planner::Polygon(
            recordedRing(rng, circleRing(32, 6.0, 14.0, 15.0), spacing, 0.005)));
        garden.environment.addObstacle(Planner::Polygon(
            recordedRing(rng, circleRing(32, 2.5, 24.0, 21.0), spacing, 0.005)));
        for (int t = 0; t < 8; ++t) {
            garden.environment.addObstacle(Planner::Polygon(circleRing(
                32, rng.uniform(0.5, 2.0), rng.uniform(28.0, 38.0), rng.uniform(2.0, 28.0))));
        }
    }
    garden.start = Planner::Point(1.0, 1.0);
    return garden;
}

// The Mersenne Twister as Python's random module seeds it from an integer
// below 2^32, and its random() and uniform(): the gardens of the Python
// repros, number for number.
class PythonRandom {
public:
    explicit PythonRandom(std::uint32_t seed) {
        // init_genrand(19650218), then init_by_array({seed}).
        mt_[0] = 19650218u;
        for (std::size_t i = 1; i < kN; ++i)
            mt_[i] = 1812433253u * (mt_[i - 1] ^ (mt_[i - 1] >> 30)) + static_cast<std::uint32_t>(i);
        std::size_t i = 1;
        for (std::size_t k = kN; k > 0; --k) {
            mt_[i] = (mt_[i] ^ ((mt_[i - 1] ^ (mt_[i - 1] >> 30)) * 1664525u)) + seed;
            if (++i >= kN) mt_[0] = mt_[kN - 1], i = 1;
        }
        for (std::size_t k = kN - 1; k > 0; --k) {
            mt_[i] = (mt_[i] ^ ((mt_[i - 1] ^ (mt_[i - 1] >> 30)) * 1566083941u)) -
                     static_cast<std::uint32_t>(i);
            if (++i >= kN) mt_[0] = mt_[kN - 1], i = 1;
        }
        mt_[0] = 0x80000000u;
        index_ = kN;
    }

    double random() {
        const std::uint32_t a = next() >> 5, b = next() >> 6;
        return (a * 67108864.0 + b) * (1.0 / 9007199254740992.0);
    }
    double uniform(double a, double b) { return a + (b - a) * random(); }

private:
    static constexpr std::size_t kN = 624;
    std::uint32_t next() {
        if (index_ >= kN) {
            for (std::size_t k = 0; k < kN; ++k) {
                const std::uint32_t y = (mt_[k] & 0x80000000u) | (mt_[(k + 1) % kN] & 0x7fffffffu);
                mt_[k] = mt_[(k + 397) % kN] ^ (y >> 1) ^ ((y & 1u) ? 0x9908b0dfu : 0u);
            }
            index_ = 0;
        }
        std::uint32_t y = mt_[index_++];
        y ^= y >> 11;
        y ^= (y << 7) & 0x9d2c5680u;
        y ^= (y << 15) & 0xefc60000u;
        y ^= y >> 18;
        return y;
    }
    std::array<std::uint32_t, kN> mt_{};
    std::size_t index_ = kN;
};

// What lies beside the round bed of bedWithNeighbourGarden.
enum class Neighbour { Octagon, Ring, OctagonOutside, None };

// A 24 m square lawn holding a round bed of `vertices` corners (10 m
// radius) and a neighbour: an octagon (or a ring of `vertices` corners) of
// 2 m radius at (9, 9), inside the bed's box but clear of it; or a small
// octagon outside the box; or none.  Default settings, the dock at (-11, 11).
inline Garden bedWithNeighbourGarden(int vertices, Neighbour neighbour) {
    static const char* const kSuffix[] = {"-oct", "-ring", "-out", ""};
    Garden garden;
    garden.name = "bed-" + std::to_string(vertices) + kSuffix[static_cast<int>(neighbour)];
    garden.environment = Planner::Environment(
        Planner::Polygon({{-12.0, -12.0}, {12.0, -12.0}, {12.0, 12.0}, {-12.0, 12.0}}));
    garden.environment.addObstacle(Planner::Polygon(circleRing(vertices, 10.0, 0.0, 0.0)));
    if (neighbour == Neighbour::Octagon)
        garden.environment.addObstacle(Planner::Polygon(circleRing(8, 2.0, 9.0, 9.0)));
    else if (neighbour == Neighbour::Ring)
        garden.environment.addObstacle(Planner::Polygon(circleRing(vertices, 2.0, 9.0, 9.0)));
    else if (neighbour == Neighbour::OctagonOutside)
        garden.environment.addObstacle(Planner::Polygon(circleRing(8, 0.5, -11.0, -11.0)));
    garden.start = Planner::Point(-11.0, 11.0);
    return garden;
}

// A lawn 200 m x 100 m with 200 octagonal beds and a hedge across it at
// x = 150 m (the quarter beyond cannot be reached), at lane spacing
// `offset`, default settings otherwise; the dock at (1, 1).
inline Garden cliffHedgeGarden(double offset) {
    PythonRandom rng(4);
    Garden garden;
    char name[32];
    std::snprintf(name, sizeof name, "cliff-%.2f", offset);
    garden.name = name;
    garden.environment = Planner::Environment(
        Planner::Polygon({{0.0, 0.0}, {200.0, 0.0}, {200.0, 100.0}, {0.0, 100.0}}));
    for (int i = 0; i < 200; ++i) {
        const double x = rng.uniform(2, 196), y = rng.uniform(2, 96);
        const double r = rng.uniform(0.3, 2);
        std::vector<Planner::Point> ring;
        for (int k = 0; k < 8; ++k) {
            const double a = 2 * 3.141592653589793 * k / 8;
            ring.emplace_back(x + r * std::cos(a), y + r * std::sin(a));
        }
        garden.environment.addObstacle(Planner::Polygon(ring));
    }
    garden.environment.addObstacle(
        Planner::Polygon({{149.8, -1.0}, {150.2, -1.0}, {150.2, 101.0}, {149.8, 101.0}}));
    garden.start = Planner::Point(1.0, 1.0);
    garden.settings.offset = offset;
    return garden;
}

}  // namespace Bench
