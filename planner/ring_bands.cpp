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

// The band holding height y, false beyond the bands or when y is not a
// number (tested before the conversion, which such a value would make
// undefined).
bool bandAt(const RingBands& bands, double y, std::size_t& band) {
    if (bands.bands == 0) return false;
    const double b = std::floor((y - bands.y0) / bands.height);
    if (!(b >= 0.0 && b < static_cast<double>(bands.bands))) return false;
    band = static_cast<std::size_t>(b);
    return true;
}

// The slack beyond which a block cannot change a point's answer.  For an
// edge from j to i crossing height y, t = (y - yi) / (yj - yi) rounds into
// [0, 1] (rounding is monotone), so the computed crossing
// (y - yi) * (xj - xi) / (yj - yi) + xi lies between xi and xj but for a few
// roundings: within 8 ulp of the largest |x| of the ring, far below the
// relative slack.  The tolerance covers the on-edge test's x-range.  Rings
// with larger coordinates (where products could overflow) get no blocks.
bool blockSlack(const std::vector<Point>& ring, double& slack) {
    double m = 0.0;
    for (const Point& p : ring) m = std::max({m, std::fabs(p.x), std::fabs(p.y)});
    if (!(m <= kRingBlockMaxCoordinate)) return false;
    slack = kBoundaryTolerance + kRingBlockRelativeSlack * m;
    return true;
}

void buildBlocks(const std::vector<Point>& ring, RingBands& bands) {
    bands.blockStart.assign(static_cast<std::size_t>(bands.bands) + 1, 0);
    if (!blockSlack(ring, bands.slack)) return;
    bands.boxed = true;
    bands.x0 = bands.x1 = ring[0].x;
    bands.yMin = bands.yMax = ring[0].y;
    for (const Point& p : ring) {
        bands.x0 = std::min(bands.x0, p.x);
        bands.x1 = std::max(bands.x1, p.x);
        bands.yMin = std::min(bands.yMin, p.y);
        bands.yMax = std::max(bands.yMax, p.y);
    }
    const std::size_t n = ring.size();
    for (std::int32_t b = 0; b < bands.bands; ++b) {
        const std::uint32_t begin = bands.start[b], end = bands.start[b + 1];
        if (end - begin >= kRingBlockMinBandEdges) {
            for (std::uint32_t k = begin; k < end;) {
                RingBlock block;
                block.first = k;
                const std::size_t j0 = bands.edges[k] == 0 ? n - 1 : bands.edges[k] - 1;
                block.x0 = block.x1 = ring[j0].x;
                do {
                    const double x = ring[bands.edges[k]].x;
                    block.x0 = std::min(block.x0, x);
                    block.x1 = std::max(block.x1, x);
                    ++k;
                } while (k < end && k - block.first < kRingBlockEdges &&
                         bands.edges[k] == bands.edges[k - 1] + 1);
                block.last = k;
                bands.blocks.push_back(block);
            }
        }
        bands.blockStart[b + 1] = static_cast<std::uint32_t>(bands.blocks.size());
    }
}

// The even-odd walk over entries edges[first .. last): true if (x, y) lies on
// one of them; otherwise flips `inside` per crossing.
bool walkEntries(const RingBands& bands, const std::vector<Point>& ring, std::uint32_t first,
                 std::uint32_t last, double x, double y, bool& inside) {
    const std::size_t n = ring.size();
    for (std::uint32_t k = first; k < last; ++k) {
        const std::size_t i = bands.edges[k];
        const std::size_t j = i == 0 ? n - 1 : i - 1;
        if (pointEdgeStep(ring[i].x, ring[i].y, ring[j].x, ring[j].y, x, y, inside)) return true;
    }
    return false;
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
    buildBlocks(ring, bands);
    return bands;
}

bool pointInRingBands(const RingBands& bands, const std::vector<Point>& ring, double x, double y,
                      bool boundaryResult) {
    if (bands.boxed && (x > bands.x1 + bands.slack || x < bands.x0 - bands.slack ||
                        y > bands.yMax + bands.slack || y < bands.yMin - bands.slack))
        return false;
    std::size_t band = 0;
    // Beyond the ring's y-range (or not a number): on no edge, crossing none.
    if (!bandAt(bands, y, band)) return false;
    bool inside = false;
    const std::uint32_t b0 = bands.blockStart[band], b1 = bands.blockStart[band + 1];
    if (b0 == b1) {
        if (walkEntries(bands, ring, bands.start[band], bands.start[band + 1], x, y, inside))
            return boundaryResult;
        return inside;
    }
    // Whether a point lies on an edge does not depend on the order of the
    // walk, nor does the parity of the crossings.
    const std::size_t n = ring.size();
    for (std::uint32_t b = b0; b < b1; ++b) {
        const RingBlock& block = bands.blocks[b];
        if (x > block.x1 + bands.slack) continue;
        if (x < block.x0 - bands.slack) {
            const std::size_t i0 = bands.edges[block.first];
            const Point& a = ring[i0 == 0 ? n - 1 : i0 - 1];
            const Point& z = ring[bands.edges[block.last - 1]];
            if ((a.y > y) != (z.y > y)) inside = !inside;
            continue;
        }
        if (walkEntries(bands, ring, block.first, block.last, x, y, inside)) return boundaryResult;
    }
    return inside;
}

void bandEdgesAt(const RingBands& bands, double y, std::uint32_t& first, std::uint32_t& last) {
    first = last = 0;
    std::size_t band = 0;
    if (!bandAt(bands, y, band)) return;
    first = bands.start[band];
    last = bands.start[band + 1];
}

}  // namespace Planner
