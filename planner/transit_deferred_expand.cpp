// The expansions of the deferred transit search: which nodes an expansion
// looks at, by blocks of consecutive nodes, and the moves it offers them.
#include "planner/transit_deferred_search.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "planner/constants.h"
#include "planner/transit_blocks.h"

namespace Planner {

void DeferredTransitSearch::boxBlocks(std::size_t count) {
    const std::size_t blocks = (count + kNodeBlock - 1) / kNodeBlock;
    blockBox_.resize(blocks);
    blockKeyMost_.assign(blocks, std::numeric_limits<double>::infinity());
    for (std::size_t b = 0; b < blocks; ++b) {
        BlockBox& box = blockBox_[b];
        box = BlockBox::at(px_[b * kNodeBlock], py_[b * kNodeBlock]);
        for (std::size_t k = b * kNodeBlock; k < std::min(count, (b + 1) * kNodeBlock); ++k)
            box.add(px_[k], py_[k]);
    }
    blockObstacle_.assign(blocks, -1);
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t end = std::min(count, (b + 1) * kNodeBlock);
        if (end > baseCount_) continue;  // the target's block
        const std::int32_t o = context_.nodeDisc[b * kNodeBlock];
        if (o < 0) continue;
        bool same = true;
        for (std::size_t k = b * kNodeBlock; k < end && same; ++k)
            same = context_.nodeDisc[k] == o;
        if (same) blockObstacle_[b] = o;
    }
}

bool DeferredTransitSearch::someBlockDiscHides(std::size_t b, double x, double y,
                                               std::int32_t own) const {
    auto inDisc = [&](std::int32_t o) {
        const std::size_t ob = static_cast<std::size_t>(o);
        const Point& centre = context_.innerCentre[ob];
        return boxMidpointsInDisc(blockBox_[b], x, y, centre.x, centre.y,
                                  context_.innerRadius[ob]);
    };
    const std::int32_t o = blockObstacle_[b];
    if (o >= 0 && inDisc(o)) return true;
    return own >= 0 && own != o && inDisc(own);
}

std::size_t DeferredTransitSearch::listBlock(const SearchRecord& cur, std::int32_t own,
                                             std::size_t first, std::size_t end,
                                             std::size_t count, std::uint32_t* out,
                                             std::size_t listedCount) {
    const std::size_t b = first / kNodeBlock;
    const double least = boxExpansionBound(blockBox_[b], cur.x, cur.y);
    if (blockKeyMost_[b] <= cur.g + least) return listedCount;
    if (blockHidden(b, cur.x, cur.y, own)) return listedCount;
    const double* xs = px_.data();
    const double* ys = py_.data();
    const double* keys = nodeKey_.data();
    double most = -std::numeric_limits<double>::infinity();
    for (std::size_t k = first; k < end; ++k) {
        const double bound = expansionBound(xs[k], ys[k], cur.x, cur.y);
        out[listedCount] = static_cast<std::uint32_t>(k);
        listedCount += keys[k] > cur.g + bound ? 1 : 0;
        most = std::max(most, keys[k]);
    }
    if (first == b * kNodeBlock && end == std::min(count, (b + 1) * kNodeBlock))
        blockKeyMost_[b] = most;
    return listedCount;
}

void DeferredTransitSearch::expandDeferred(std::uint32_t c) {
    const SearchRecord cur = closedRecord(c);
    const std::size_t count = baseCount_ + 1;
    listed_.resize(count + 2);
    std::uint32_t* out = listed_.data();
    std::size_t listedCount = 0;
    const std::int32_t from = records_[closed_[c]].node;
    const std::int32_t own = from >= 0 ? context_.nodeDisc[static_cast<std::size_t>(from)] : -1;
    listRanges(from, count);
    for (const std::pair<std::uint32_t, std::uint32_t>& range : ranges_) {
        for (std::size_t k = range.first; k < range.second;) {
            const std::size_t end =
                std::min<std::size_t>(range.second, (k / kNodeBlock + 1) * kNodeBlock);
            listedCount = listBlock(cur, own, k, end, count, out, listedCount);
            k = end;
        }
    }
    listed_.resize(listedCount);
    if (cur.onWire) {
        // The wire's neighbours, whose bound is lower.
        for (std::uint64_t j : {cur.wireIndex - 1, cur.wireIndex + 1}) {
            if (j >= baseCount_ || !areConsecutiveWirePoints(true, cur.wireIndex, node(j)))
                continue;
            const auto at = std::lower_bound(listed_.begin(), listed_.end(),
                                             static_cast<std::uint32_t>(j));
            if (at == listed_.end() || *at != j)
                listed_.insert(at, static_cast<std::uint32_t>(j));
        }
    }
    candidates_.clear();
    pending_.clear();
    for (std::uint32_t k : listed_) {
        if (closedNear_[k]) continue;
        const std::size_t s = slotOf(k);
        const TransitNode& n = node(k);
        if (samePosition(cur.x, cur.y, n.x, n.y)) continue;
        const bool wire = areConsecutiveWirePoints(cur.onWire, cur.wireIndex, n);
        const double multiplier = wire ? kWireCostMultiplier : 1.0;
        const double axis = std::max(std::fabs(n.x - cur.x), std::fabs(n.y - cur.y));
        if (!(key_[s] > cur.g + multiplier * axis)) continue;
        const std::uint8_t known = wire ? 1 : knownAnswer(c, k);
        if (known == 2) continue;
        const double g = cur.g + multiplier * distanceBetween(cur.x, cur.y, n.x, n.y);
        if (!(g < key_[s])) continue;
        offered_[k] = g;
        candidates_.push_back(k);
        if (known == 0 && (flags_[s] & kEager)) pending_.push_back(k);
    }
    sortByDirection(cur.x, cur.y);
    for (std::uint32_t k : sorted_) testMove(c, k);
    for (std::uint32_t k : candidates_) {
        const std::size_t s = slotOf(k);
        const bool wire = areConsecutiveWirePoints(cur.onWire, cur.wireIndex, node(k));
        const std::uint8_t known = wire ? 1 : knownAnswer(c, k);
        if (known == 2 || !(offered_[k] < key_[s])) continue;
        setKey(s, offered_[k]);
        from_[s] = c;
        via_[s] = k;
        flags_[s] = static_cast<std::uint8_t>((flags_[s] & kEager) | (known == 1 ? kAccepted : 0));
        ++version_[s];
        pushKey(s);
    }
}

void DeferredTransitSearch::listRanges(std::int32_t from, std::size_t count) {
    ranges_.clear();
    const std::int32_t o = from >= 0 ? context_.nodeObstacle[static_cast<std::size_t>(from)] : -1;
    const std::size_t apart =
        o >= 0 ? context_.chordApart[static_cast<std::size_t>(o)] : 0;
    if (apart == 0) {
        ranges_.push_back({0, static_cast<std::uint32_t>(count)});
        return;
    }
    const std::size_t ob = static_cast<std::size_t>(o);
    const std::size_t f = static_cast<std::size_t>(from);
    const std::uint32_t first = context_.obstacleNodeStart[ob];
    const std::uint32_t end = context_.obstacleNodeEnd[ob];
    const std::size_t n = context_.scene->obstacles[ob].points.size();
    const std::size_t i = context_.nodeCorner[f];
    ranges_.push_back({0, first});
    ranges_.push_back({end, static_cast<std::uint32_t>(count)});
    // The nodes whose corners lie within apart - 1 of corner i, either
    // way round: corners (i - apart, i + apart), and past n - apart
    // round the other way.
    auto cornerRange = [&](std::size_t lo, std::size_t hi) {  // corners [lo, hi]
        const auto b = context_.nodeCorner.begin();
        const auto low = std::lower_bound(b + first, b + end, lo);
        const auto high = std::upper_bound(low, b + end, hi);
        ranges_.push_back(
            {static_cast<std::uint32_t>(low - b), static_cast<std::uint32_t>(high - b)});
    };
    cornerRange(i + 1 >= apart ? i + 1 - apart : 0, std::min(n - 1, i + apart - 1));
    if (i + n + 1 > apart && i + n + 1 - apart <= n - 1) cornerRange(i + n + 1 - apart, n - 1);
    if (i + apart >= n + 1) cornerRange(0, i + apart - n - 1);
    for (std::uint32_t p = context_.closePeerStart[f]; p < context_.closePeerStart[f + 1]; ++p)
        ranges_.push_back({context_.closePeers[p], context_.closePeers[p] + 1});
    std::sort(ranges_.begin(), ranges_.end());
    // Merged where they overlap.
    std::size_t kept = 0;
    for (const std::pair<std::uint32_t, std::uint32_t>& r : ranges_) {
        if (r.first >= r.second) continue;
        if (kept > 0 && r.first <= ranges_[kept - 1].second) {
            ranges_[kept - 1].second = std::max(ranges_[kept - 1].second, r.second);
            continue;
        }
        ranges_[kept++] = r;
    }
    ranges_.resize(kept);
}

}  // namespace Planner
