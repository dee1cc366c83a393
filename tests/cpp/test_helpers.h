// Small builders shared by the C++ tests.
#pragma once

#include <initializer_list>
#include <utility>
#include <vector>

#include "planner/scene.h"

namespace TestHelpers {

inline std::vector<Planner::Point> pts(std::initializer_list<std::pair<double, double>> xy) {
    std::vector<Planner::Point> out;
    for (const auto& p : xy) out.emplace_back(p.first, p.second);
    return out;
}

inline Planner::Polygon poly(std::initializer_list<std::pair<double, double>> xy) {
    return Planner::Polygon(pts(xy));
}

inline Planner::Environment square(double lo, double hi) {
    return Planner::Environment(poly({{lo, lo}, {hi, lo}, {hi, hi}, {lo, hi}}));
}

}  // namespace TestHelpers
