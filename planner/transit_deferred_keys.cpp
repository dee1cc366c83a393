// The recompute of a slot's key in the deferred transit search, once its
// move proved blocked: the least accepted move from the closed records.
#include "planner/transit_deferred_search.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "planner/constants.h"
#include "planner/sight_index.h"
#include "planner/transit_blocks.h"

namespace Planner {

bool DeferredTransitSearch::acceptedAfterHints(const Move& m) {
    const std::int32_t from = records_[closed_[m.from]].node;
    if (from >= 0 && m.to < baseCount_ &&
        chordThroughObstacle(context_, static_cast<std::size_t>(from), m.to))
        return false;
    if (quicklyBlocked(m.from, m.to)) return false;
    return moveAccepted(m.from, m.to, true);
}

bool DeferredTransitSearch::quicklyBlocked(std::uint32_t c, std::size_t k) {
    if (k >= baseCount_) return false;
    const SearchRecord& cur = closedRecord(c);
    const TransitNode& n = node(k);
    if (areConsecutiveWirePoints(cur.onWire, cur.wireIndex, n)) return false;
    if (!blockedByHints(*context_.sight, cache_.sightScratch, cur.x, cur.y, n.x, n.y,
                        hintsTowards(cur.x, cur.y, k)))
        return false;
    cache_.blockerTo[k] = cache_.sightScratch.lastBlocker;
    return true;
}

DeferredTransitSearch::Move DeferredTransitSearch::leastAcceptedMove() {
    auto later = [](const Move& a, const Move& b) { return movesBefore(b, a); };
    auto cheaper = [](const Move& a, const Move& b) { return a.g < b.g; };
    costed_.clear();
    std::size_t taken = 0;
    std::size_t batch = kRecomputeBatch;
    constexpr double kNone = std::numeric_limits<double>::infinity();
    // Every move not yet costed has a bound at least this.
    double bound = -std::numeric_limits<double>::infinity();
    while (true) {
        if (costed_.empty() || !(costed_.front().g < bound)) {
            if (taken == moves_.size() && units_.empty() && costed_.empty()) break;
            if (taken < moves_.size() || !units_.empty()) {
                if (taken >= kRecomputeOrdered) {
                    for (const Unit& u : units_) addUnitMoves(u);
                    units_.clear();
                    if (taken < moves_.size()) return leastAcceptedOfRest(taken);
                    bound = kNone;
                    continue;
                }
                while (!units_.empty() && moves_.size() - taken < batch) addNextUnit();
                std::size_t end = std::min(moves_.size(), taken + batch);
                // Twice at most: the units below the batch's highest
                // bound join, which lowers it.
                for (bool again = true; again;) {
                    again = false;
                    end = std::min(moves_.size(), taken + batch);
                    if (end < moves_.size())
                        std::nth_element(moves_.begin() + static_cast<std::ptrdiff_t>(taken),
                                         moves_.begin() + static_cast<std::ptrdiff_t>(end - 1),
                                         moves_.end(), cheaper);
                    const double highest = end > taken ? moves_[end - 1].g : kNone;
                    while (!units_.empty() && units_.front().bound < highest) {
                        addNextUnit();
                        again = true;
                    }
                }
                for (std::size_t i = taken; i < end; ++i) {
                    costed_.push_back(costed(moves_[i]));
                    std::push_heap(costed_.begin(), costed_.end(), later);
                }
                bound = std::min(end < moves_.size() ? moves_[end - 1].g : kNone,
                                 units_.empty() ? kNone : units_.front().bound);
                taken = end;
                batch *= 2;
                continue;
            }
        }
        const Move m = costed_.front();
        if (acceptedAfterHints(m)) return m;
        std::pop_heap(costed_.begin(), costed_.end(), later);
        costed_.pop_back();
    }
    return Move{std::numeric_limits<double>::infinity(), 0, 0};
}

DeferredTransitSearch::Move DeferredTransitSearch::leastAcceptedOfRest(std::size_t taken) {
    rest_.assign(costed_.begin(), costed_.end());
    rest_.insert(rest_.end(), moves_.begin() + static_cast<std::ptrdiff_t>(taken),
                 moves_.end());
    const TransitNode& n = node(rest_.front().to);
    sectorCount_.assign(kDirectionSectors + 1, 0);
    sectorOf_.resize(rest_.size());
    for (std::size_t i = 0; i < rest_.size(); ++i) {
        const SearchRecord& from = closedRecord(rest_[i].from);
        sectorOf_[i] = directionSector(from.x - n.x, from.y - n.y, kDirectionSectors);
        ++sectorCount_[sectorOf_[i] + 1];
    }
    for (std::uint32_t k = 0; k < kDirectionSectors; ++k) sectorCount_[k + 1] += sectorCount_[k];
    sortedMoves_.resize(rest_.size());
    for (std::size_t i = 0; i < rest_.size(); ++i)
        sortedMoves_[sectorCount_[sectorOf_[i]]++] = rest_[i];
    Move best{std::numeric_limits<double>::infinity(), 0, 0};
    for (const Move& bounded : sortedMoves_) {
        if (!(bounded.g <= best.g)) continue;
        // Before any is accepted, the move is costed only once it is
        // (most such moves are blocked).
        if (best.g == std::numeric_limits<double>::infinity()) {
            if (!acceptedAfterHints(bounded)) continue;
            const Move m = costed(bounded);
            if (movesBefore(m, best)) best = m;
            continue;
        }
        const Move m = costed(bounded);
        if (movesBefore(m, best) && acceptedAfterHints(m)) best = m;
    }
    return best;
}

DeferredTransitSearch::Move DeferredTransitSearch::costed(const Move& bounded) const {
    const SearchRecord& cur = closedRecord(bounded.from);
    const TransitNode& n = node(bounded.to);
    return {cur.g + moveMultiplier(cur, bounded.to) * distanceBetween(cur.x, cur.y, n.x, n.y),
            bounded.from, bounded.to};
}

void DeferredTransitSearch::recomputeKey(std::size_t s) {
    moves_.clear();
    units_.clear();
    forEachMember(s, [&](std::size_t k) {
        const double nx = px_[k];
        const double ny = py_[k];
        const TransitNode& n = node(k);
        if (n.onWire) {
            for (std::size_t j : {n.wireIndex - 1, n.wireIndex + 1}) {
                if (j >= baseCount_ || closingOf_[j] < 0) continue;
                const std::uint32_t c = static_cast<std::uint32_t>(closingOf_[j]);
                const SearchRecord& cur = closedRecord(c);
                // Moves from within 1 mm are not made.
                const double axis = std::max(std::fabs(nx - cur.x), std::fabs(ny - cur.y));
                if (axis < kSamePosition && samePosition(cur.x, cur.y, nx, ny)) continue;
                moves_.push_back({cur.g + moveMultiplier(cur, k) * axis, c,
                                  static_cast<std::uint32_t>(k)});
            }
        }
        for (std::size_t b = 0; b < closedBlockBox_.size(); ++b) {
            if (chordsOnly(b, k)) continue;
            units_.push_back({unitBound(b, nx, ny), static_cast<std::uint32_t>(b),
                              static_cast<std::uint32_t>(k)});
        }
    });
    std::make_heap(units_.begin(), units_.end(), laterUnit);
    const Move best = leastAcceptedMove();
    from_[s] = best.from;
    via_[s] = best.to;
    setKey(s, best.g);
    flags_[s] = kAccepted | kEager;
    ++version_[s];
    if (best.g < std::numeric_limits<double>::infinity()) pushKey(s);
}

double DeferredTransitSearch::unitBound(std::size_t b, double x, double y) const {
    return closedBlockLeastG_[b] + boxAxisBound(closedBlockBox_[b], x, y);
}

bool DeferredTransitSearch::chordsOnly(std::size_t b, std::size_t k) const {
    const ClosedBlockCorners& corners = closedBlockCorners_[b];
    if (corners.obstacle < 0 || k >= baseCount_ ||
        context_.nodeObstacle[k] != corners.obstacle)
        return false;
    const std::size_t o = static_cast<std::size_t>(corners.obstacle);
    const std::size_t apart = context_.chordApart[o];
    if (apart == 0) return false;
    const std::size_t n = context_.scene->obstacles[o].points.size();
    const std::size_t j = context_.nodeCorner[k];
    // The least and the most |i - j| over corners i in [lo, hi].
    const std::size_t lo = corners.lo, hi = corners.hi;
    const std::size_t least = j < lo ? lo - j : (j > hi ? j - hi : 0);
    const std::size_t most = std::max(j > lo ? j - lo : lo - j, j > hi ? j - hi : hi - j);
    if (least < apart || most > n || n - most < apart) return false;
    return !(boxAxisBound(closedBlockBox_[b], px_[k], py_[k]) < kSightShrink);
}

bool DeferredTransitSearch::laterUnit(const Unit& a, const Unit& b) {
    if (a.bound != b.bound) return a.bound > b.bound;
    if (a.block != b.block) return a.block > b.block;
    return a.to > b.to;
}

void DeferredTransitSearch::addNextUnit() {
    std::pop_heap(units_.begin(), units_.end(), laterUnit);
    addUnitMoves(units_.back());
    units_.pop_back();
}

void DeferredTransitSearch::addUnitMoves(const Unit& unit) {
    const std::size_t k = unit.to;
    const double nx = px_[k];
    const double ny = py_[k];
    const TransitNode& n = node(k);
    const std::uint32_t first = unit.block * static_cast<std::uint32_t>(kClosedBlock);
    const std::uint32_t end =
        std::min(static_cast<std::uint32_t>(closed_.size()),
                 first + static_cast<std::uint32_t>(kClosedBlock));
    const std::size_t at = moves_.size();
    moves_.resize(at + (end - first));
    Move* out = moves_.data() + at;
    std::size_t kept = 0;
    for (std::uint32_t c = first; c < end; ++c) {
        const double axis = std::max(std::fabs(nx - closedX_[c]), std::fabs(ny - closedY_[c]));
        out[kept] = {closedG_[c] + axis, c, static_cast<std::uint32_t>(k)};
        const bool made = !(axis < kSamePosition && samePosition(closedX_[c], closedY_[c], nx, ny)) &&
                          !(n.onWire && wireNeighbourClosedAt(k, c));
        kept += made ? 1 : 0;
    }
    moves_.resize(at + kept);
}

bool DeferredTransitSearch::wireNeighbourClosedAt(std::size_t k, std::uint32_t c) const {
    const TransitNode& n = node(k);
    for (std::size_t j : {n.wireIndex - 1, n.wireIndex + 1})
        if (j < baseCount_ && closingOf_[j] == static_cast<std::int32_t>(c)) return true;
    return false;
}

}  // namespace Planner
