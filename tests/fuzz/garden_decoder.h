// Turns arbitrary bytes into a garden, settings and a start position, for the
// fuzz target and for the regression tests that replay what it found.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "planner/scene.h"

namespace FuzzInput {

class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    double rawDouble() {
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits = (bits << 8) | byte();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }

    // Mostly coordinates on a half-metre grid (so that vertices line up and
    // moves pass exactly through corners), sometimes anything at all.
    double coordinate() {
        const std::uint8_t kind = byte();
        if (kind < 200) return (kind % 50) * 0.5;
        if (kind < 230) return byte() * 0.5 + byte() / 256.0;
        if (kind < 240) return special(byte());
        return rawDouble();
    }

    static double special(std::uint8_t k) {
        const double values[] = {std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(),
                                 1e12, -1e12, 1e300, -1e300, 1e-300, 0.0, -0.0, 1000.0, -1000.0,
                                 4.6e15, 2.3e18};
        return values[k % (sizeof values / sizeof values[0])];
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

struct Case {
    Planner::Environment environment{Planner::Polygon()};
    Planner::PathSettings settings;
    Planner::Point start;
};

inline Planner::Polygon ring(ByteReader& in, std::size_t maxPoints) {
    const std::size_t n = in.byte() % (maxPoints + 1);
    std::vector<Planner::Point> points;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = in.coordinate();
        const double y = in.coordinate();
        points.emplace_back(x, y);
    }
    return Planner::Polygon(points);
}

inline Case decode(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    Case c;
    c.environment = Planner::Environment(ring(in, 10));
    const std::size_t obstacles = in.byte() % 4;
    for (std::size_t i = 0; i < obstacles; ++i) c.environment.addObstacle(ring(in, 6));
    const std::size_t mowAreas = in.byte() % 3;
    for (std::size_t i = 0; i < mowAreas; ++i) c.environment.addMowArea(ring(in, 6));
    c.environment.setVirtualWire(ring(in, 5));
    c.environment.setDockingWire(ring(in, 2));

    Planner::PathSettings& s = c.settings;
    const char* patterns[] = {"lines", "squares", "rings", ""};
    s.pattern = patterns[in.byte() % 4];
    // Spacings stay where a task finishes quickly, apart from the values
    // that no spacing may take.
    const std::uint8_t offsetKind = in.byte();
    if (offsetKind < 240) {
        s.offset = 0.25 + (offsetKind % 12) * 0.25;
    } else {
        const double odd[] = {0.0, -1.0, 1e-9, std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity(), 1e9};
        s.offset = odd[offsetKind % 6];
    }
    const std::uint8_t angleKind = in.byte();
    s.angle = angleKind < 250 ? angleKind * (3.14159265358979 / 64) : ByteReader::special(angleKind);
    const std::uint8_t borderKind = in.byte();
    s.distanceToBorder = borderKind < 250 ? (borderKind % 8) * 0.5 : ByteReader::special(borderKind);
    const std::uint8_t flags = in.byte();
    s.mowArea = flags & 1;
    s.mowBorder = flags & 2;
    s.mowBorderCcw = flags & 4;
    s.mowExclusionsBoder = flags & 8;
    s.mowExclusionsBorderCcw = flags & 16;
    const std::uint8_t laps = in.byte();
    s.borderLaps = (flags & 32) ? (std::uint64_t{1} << (laps % 64)) : laps % 5;
    s.exclusionsBorderLaps = (flags & 64) ? (std::uint64_t{1} << (laps % 64)) : (laps / 5) % 4;
    const double sx = in.coordinate();
    const double sy = in.coordinate();
    c.start = Planner::Point(sx, sy);
    return c;
}

}  // namespace FuzzInput
