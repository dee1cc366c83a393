#include "planner/inset.h"

#include <cmath>

#include "planner/constants.h"

namespace Planner {

bool toGrid(double metres, std::int64_t& units) {
    const double scaled = std::round(kGridScale * metres);
    if (!std::isfinite(scaled)) return false;
    // kGridLimit (2^61 - 1) becomes 2^61 as a double; everything accepted
    // below converts exactly and lies within Clipper2's range.
    constexpr double kLimit = static_cast<double>(kGridLimit);
    if (scaled >= kLimit || scaled <= -kLimit) return false;
    units = static_cast<std::int64_t>(scaled);
    return true;
}

std::vector<Ring> computeInsetRings(const Environment& scene, std::int32_t lapCount,
                                    double spacing, double firstInset) {
    return insetArea(scene, scene, lapCount, spacing, firstInset);
}

std::vector<Ring> insetArea(const Environment&, const Environment&, std::int32_t, double,
                            double) {
    return {};
}

}  // namespace Planner
