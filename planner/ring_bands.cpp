#include "planner/ring_bands.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "planner/constants.h"
#include "planner/geometry.h"

namespace Planner {

namespace {

std::int64_t bandOf(double y, const RingBands& bands) {
    return static_cast<std::int64_t>(std::floor((y - bands.y0) / bands.height));
}

std::int64_t clampBand(std::int64_t b, const RingBands& bands) {
    return std::min<std::int64_t>(std::max<std::int64_t>(b, 0), bands.bands - 1);
}

}  // namespace

RingBands buildRingBands(const std::vector<Point>& ring, std::int32_t maxBands) {
    RingBands bands;
    const std::size_t n = ring.size();
    if (n < 3) return bands;
    double y0 = ring[0].y, y1 = y0;
    for (const Point& p : ring) y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
    bands.bands = static_cast<std::int32_t>(std::min<std::size_t>(
        std::max<std::size_t>(n / 2, 1), static_cast<std::size_t>(std::max(maxBands, 1))));
    bands.y0 = y0 - 1.0;
    bands.height = (y1 - y0 + 2.0) / bands.bands;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t j = i == 0 ? n - 1 : i - 1;
        const double lo = std::min(ring[i].y, ring[j].y) - kSightBandPad;
        const double hi = std::max(ring[i].y, ring[j].y) + kSightBandPad;
        const std::int64_t b0 = clampBand(bandOf(lo, bands), bands);
        const std::int64_t b1 = clampBand(bandOf(hi, bands), bands);
        for (std::int64_t b = b0; b <= b1; ++b)
            pairs.emplace_back(static_cast<std::uint32_t>(b), static_cast<std::uint32_t>(i));
    }
    bands.start.assign(static_cast<std::size_t>(bands.bands) + 1, 0);
    for (const auto& p : pairs) ++bands.start[p.first + 1];
    for (std::int32_t b = 0; b < bands.bands; ++b) bands.start[b + 1] += bands.start[b];
    bands.edges.assign(pairs.size(), 0);
    std::vector<std::uint32_t> next(bands.start.begin(), bands.start.end() - 1);
    for (const auto& p : pairs) bands.edges[next[p.first]++] = p.second;
    return bands;
}

bool pointInRingBands(const RingBands& bands, const std::vector<Point>& ring, double x, double y,
                      bool boundaryResult) {
    if (bands.bands == 0) return false;
    const std::int64_t band = bandOf(y, bands);
    // Beyond the ring's y-range (or not a number): on no edge, crossing none.
    if (!(band >= 0 && band < bands.bands)) return false;
    const std::size_t n = ring.size();
    bool inside = false;
    for (std::uint32_t k = bands.start[band]; k < bands.start[band + 1]; ++k) {
        const std::size_t i = bands.edges[k];
        const std::size_t j = i == 0 ? n - 1 : i - 1;
        if (pointEdgeStep(ring[i].x, ring[i].y, ring[j].x, ring[j].y, x, y, inside))
            return boundaryResult;
    }
    return inside;
}

void bandEdgesAt(const RingBands& bands, double y, std::uint32_t& first, std::uint32_t& last) {
    first = last = 0;
    if (bands.bands == 0) return;
    // As bandOf, tested before the conversion (which a value out of range
    // or not a number would make undefined).
    const double band = std::floor((y - bands.y0) / bands.height);
    if (!(band >= 0.0 && band < static_cast<double>(bands.bands))) return;
    const std::size_t b = static_cast<std::size_t>(band);
    first = bands.start[b];
    last = bands.start[b + 1];
}

}  // namespace Planner
