#include "planner/transit_deferred.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

#include "planner/constants.h"
#include "planner/sight_index.h"
#include "planner/transit_blocks.h"
#include "planner/transit_search.h"

namespace Planner {

namespace {

constexpr std::size_t kNoNode = static_cast<std::size_t>(-1);

// Without search edges to keep, a search needs the line-of-sight answer of
// a move only when the cost it offers could decide which record is
// selected next.  This search selects the same records, with the same
// costs, heuristics and parents, as the full search (planner/transit.cpp),
// so it finds the same path.
//
// Where the nodes within 1 mm of a node are all within 1 mm of each other
// and of no other node (the ends of a closed wire), such a group holds at
// most one record at a time, so each group has a slot (named by its lowest
// node).  A slot keeps its key: the least cost offered to one of its nodes
// through a closed record whose move is not known to be blocked, the
// earliest such move in the order the full search makes them, and whether
// that move is known to be accepted.  A key is never above the cost the
// full search gives the record at that point (it rules out fewer moves),
// and equals it once its move is accepted, when the record's heuristic is
// that of the node the move leads to; until then the heap holds the key
// plus the slot's least heuristic.  So the cheapest slot whose move is
// accepted is the cheapest record there, and the moves of cheaper keys are
// settled on the way: found accepted, or blocked and the key recomputed
// from every move.  A slot whose move proved blocked has every later move
// tested when offered, as in the full search.  Of equal costs the full
// search takes the record created first: the one whose first accepted move
// came from the earliest closed record, then went to the lower node, which
// is the node the record stands on.
class DeferredTransitSearch : public TransitSearch {
public:
    using TransitSearch::TransitSearch;

    // Whether this search can be run so: nodes within 1 mm of each other
    // form groups (see the context), every position lies within the index
    // limit, no node lies within 1 mm of the target, and the start lies
    // within 1 mm of all nodes of a group or of none.
    bool canDefer() const {
        if (!(context_.deferrable && heapUsable_ && withinIndexLimit(startX_, startY_) &&
              withinIndexLimit(target_.x, target_.y) && targetNear_.size() == 1))
            return false;
        bool split = false;
        forEachNodeNear(context_.lookup, startX_, startY_, [&](std::uint32_t k) {
            const TransitNode& n = context_.nodes[k];
            if (!samePosition(startX_, startY_, n.x, n.y)) return;
            forEachMember(slotOf(k), [&](std::size_t j) {
                const TransitNode& m = context_.nodes[j];
                split = split || !samePosition(startX_, startY_, m.x, m.y);
            });
        });
        return !split;
    }

    std::vector<Point> run(TransitReach* reach) {
        const std::size_t count = baseCount_ + 1;
        key_.assign(count, std::numeric_limits<double>::infinity());
        nodeKey_.assign(count, std::numeric_limits<double>::infinity());
        closingOf_.assign(baseCount_, -1);
        px_.resize(count);
        py_.resize(count);
        for (std::size_t k = 0; k < count; ++k) {
            px_[k] = node(k).x;
            py_[k] = node(k).y;
        }
        boxBlocks(count);
        from_.assign(count, 0);
        via_.assign(count, 0);
        version_.assign(count, 0);
        flags_.assign(count, 0);
        offered_.assign(count, 0.0);
        fromStart_.assign(baseCount_, 0);
        h_.resize(count);
        for (std::size_t k = 0; k < count; ++k) {
            const TransitNode& n = node(k);
            double h = distanceBetween(n.x, n.y, target_.x, target_.y);
            if (n.onWire) h = h * kWireHeuristicFactor;
            h_[k] = h;
        }
        leastH_ = h_;
        for (std::size_t k = 0; k < baseCount_; ++k) {
            const std::size_t s = slotOf(k);
            leastH_[s] = std::min(leastH_[s], h_[k]);
        }
        Record start;
        start.record.x = startX_;
        start.record.y = startY_;
        start.record.g = 0.0;
        start.record.h = distanceBetween(startX_, startY_, target_.x, target_.y);
        records_.push_back(start);
        if (samePosition(startX_, startY_, target_.x, target_.y)) return shorten(reconstruct(0));
        closeDeferred(0);
        expandDeferred(0);
        constexpr std::size_t kMaxClosed =
            static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
        std::size_t s = 0;
        std::size_t k = 0;
        while (selectDeferred(s, k)) {
            const TransitNode& n = node(k);
            Record r;
            r.record.x = n.x;
            r.record.y = n.y;
            r.record.g = key_[s];
            r.record.h = h_[via_[s]];
            r.record.parent = static_cast<std::int32_t>(from_[s]);
            r.record.onWire = n.onWire;
            r.record.wireIndex = n.wireIndex;
            r.node = static_cast<std::int32_t>(k);
            const std::uint32_t id = static_cast<std::uint32_t>(records_.size());
            records_.push_back(r);
            if (samePosition(n.x, n.y, target_.x, target_.y)) return shorten(reconstruct(id));
            if (closed_.size() >= kMaxClosed) return {};
            closeDeferred(id);
            expandDeferred(static_cast<std::uint32_t>(closed_.size() - 1));
        }
        if (reach != nullptr) describeReach(*reach);
        return {};
    }

private:
    struct Move {
        double g;
        std::uint32_t from;
        std::uint32_t to;
    };


    // The moves from one block of closed records to one node, with a bound
    // of their costs.
    struct Unit {
        double bound;
        std::uint32_t block;
        std::uint32_t to;
    };

    static bool movesBefore(const Move& a, const Move& b) {
        if (a.g != b.g) return a.g < b.g;
        if (a.from != b.from) return a.from < b.from;
        return a.to < b.to;
    }

    struct DeferredEntry {
        double cost;
        std::uint32_t slot;
        std::uint32_t version;
    };

    static bool laterDeferred(const DeferredEntry& a, const DeferredEntry& b) {
        if (a.cost != b.cost) return a.cost > b.cost;
        return a.slot > b.slot;
    }

    static constexpr std::uint8_t kAccepted = 1;  // the key's move is known to be accepted
    static constexpr std::uint8_t kEager = 2;     // every move to the slot is tested when offered

    bool single(std::size_t s) const {
        return s == baseCount_ || context_.nearStart[s + 1] - context_.nearStart[s] == 1;
    }

    std::size_t slotOf(std::size_t k) const {
        return k < baseCount_ ? context_.nearNodes[context_.nearStart[k]] : k;
    }

    // The nodes of slot s, in increasing order.
    template <class Visit>
    void forEachMember(std::size_t s, Visit&& visit) const {
        if (s == baseCount_) {
            visit(s);
            return;
        }
        for (std::uint32_t i = context_.nearStart[s]; i < context_.nearStart[s + 1]; ++i)
            visit(static_cast<std::size_t>(context_.nearNodes[i]));
    }

    const SearchRecord& closedRecord(std::uint32_t c) const {
        return records_[closed_[c]].record;
    }

    // The known answer for the move from closed record c to node k: 0
    // unknown, 1 free, 2 blocked (kept, or a chord through an obstacle).
    std::uint8_t knownAnswer(std::uint32_t c, std::size_t k) const {
        if (k == baseCount_) return towardsTarget_[c];
        const std::int32_t from = records_[closed_[c]].node;
        if (from < 0) return fromStart_[k];
        const std::uint8_t known = cache_.sight.get(static_cast<std::size_t>(from), k);
        if (known != 0) return known;
        return chordThroughObstacle(context_, static_cast<std::size_t>(from), k) ? 2 : 0;
    }

    // Tests the move from closed record c to node k and keeps the answer
    // (`hintsTried`: quicklyBlocked found it not blocked just before).
    bool testMove(std::uint32_t c, std::size_t k, bool hintsTried = false) {
        const SearchRecord& cur = closedRecord(c);
        const bool free = sightTowards(cur.x, cur.y, k, hintsTried);
        const std::uint8_t v = free ? 1 : 2;
        const std::int32_t from = records_[closed_[c]].node;
        if (k == baseCount_) {
            towardsTarget_[c] = v;
        } else if (from < 0) {
            fromStart_[k] = v;
        } else {
            keepAnswer(static_cast<std::size_t>(from), k, free);
        }
        return free;
    }

    double moveMultiplier(const SearchRecord& from, std::size_t k) const {
        return areConsecutiveWirePoints(from.onWire, from.wireIndex, node(k)) ? kWireCostMultiplier
                                                                              : 1.0;
    }

    // Whether the move from closed record c to node k is accepted: joined
    // along the wire, or free (tested if its answer is not known).
    bool moveAccepted(std::uint32_t c, std::size_t k, bool hintsTried = false) {
        const SearchRecord& cur = closedRecord(c);
        if (areConsecutiveWirePoints(cur.onWire, cur.wireIndex, node(k))) return true;
        const std::uint8_t known = knownAnswer(c, k);
        return known != 0 ? known == 1 : testMove(c, k, hintsTried);
    }

    // Whether the move is accepted, its likely blockers tried first.
    bool acceptedAfterHints(const Move& m) {
        const std::int32_t from = records_[closed_[m.from]].node;
        if (from >= 0 && m.to < baseCount_ &&
            chordThroughObstacle(context_, static_cast<std::size_t>(from), m.to))
            return false;
        if (quicklyBlocked(m.from, m.to)) return false;
        return moveAccepted(m.from, m.to, true);
    }

    // True only if the move from closed record c to node k is blocked, as
    // a likely edge shows: found without the cache, whose answer would sit
    // far from the last one read.
    bool quicklyBlocked(std::uint32_t c, std::size_t k) {
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

    void pushKey(std::size_t s) {
        const double h = (flags_[s] & kAccepted) ? h_[via_[s]] : leastH_[s];
        heapD_.push_back({key_[s] + h, static_cast<std::uint32_t>(s), version_[s]});
        std::push_heap(heapD_.begin(), heapD_.end(), laterDeferred);
        // Each slot has one current entry; the others are dropped when they
        // come to outnumber those, so the heap stays a few times the nodes.
        if (heapD_.size() > kHeapSlack * (baseCount_ + 1)) {
            heapD_.erase(std::remove_if(heapD_.begin(), heapD_.end(),
                                        [this](const DeferredEntry& e) { return !entryCurrent(e); }),
                         heapD_.end());
            std::make_heap(heapD_.begin(), heapD_.end(), laterDeferred);
        }
    }

    // The least accepted move of moves_ and of the blocks of units_ (whose
    // costs are bounds), the earliest of equal ones; of infinite cost when
    // none is accepted.  The cheapest are costed and taken in order, which
    // usually ends soon; past kRecomputeOrdered moves the rest are all
    // tested.  A unit's moves join moves_ before any move of a higher bound
    // is costed, so the moves are costed in the same batches as if every
    // unit's were in moves_ from the start (up to the order of equal
    // bounds), and the move returned, a least one in a fixed order, is the
    // same either way.
    Move leastAcceptedMove() {
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

    // The least accepted of the costed moves left and of moves_ from
    // `taken` on, every one tested that could be it: in the order of their
    // directions from the slot, as neighbouring moves tend to be blocked by
    // the same edge, which the sight test tries first.
    Move leastAcceptedOfRest(std::size_t taken) {
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

    // A move with its exact cost.
    Move costed(const Move& bounded) const {
        const SearchRecord& cur = closedRecord(bounded.from);
        const TransitNode& n = node(bounded.to);
        return {cur.g + moveMultiplier(cur, bounded.to) * distanceBetween(cur.x, cur.y, n.x, n.y),
                bounded.from, bounded.to};
    }

    // Slot s's key once its move proved blocked: the least cost of an
    // accepted move from the closed records, the earliest of equal ones.
    // The moves are taken cheapest first, tested where not known, up to the
    // first accepted, which usually comes long before the end.  A move costs
    // at least its record's cost plus its multiplier times the larger
    // difference along an axis (sqrt(x * x) rounds back to |x|); the moves
    // are costed exactly in batches of the least such bounds, and a costed
    // move is taken once it is cheaper than every bound left.  The moves
    // along the wire, which cost less, are listed at once; the others by
    // blocks of closed records (units, a heap by bound), cheapest bound first,
    // when needed.
    void recomputeKey(std::size_t s) {
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

    // A bound of the moves from the closed records of block b to (x, y):
    // their least cost plus the larger difference along an axis to the
    // block's box.  A record's axis is at least the box's (see
    // planner/transit_blocks.h) and its cost at least the least, so its
    // move's bound fl(g + axis) is at least fl(least g + box axis).
    double unitBound(std::size_t b, double x, double y) const {
        return closedBlockLeastG_[b] + boxAxisBound(closedBlockBox_[b], x, y);
    }

    // True only if every move from the closed records of block b to node k
    // is a chord through their obstacle (chordThroughObstacle), known to be
    // blocked: the records are all corners of k's obstacle, whose corners
    // lie at least its chordApart from k's both ways round, and the block's
    // box lies at least kSightShrink from k along an axis (each move at
    // least that long).  A move never accepted cannot be the least accepted
    // one, so the recompute passes over the block.
    bool chordsOnly(std::size_t b, std::size_t k) const {
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

    static bool laterUnit(const Unit& a, const Unit& b) {
        if (a.bound != b.bound) return a.bound > b.bound;
        if (a.block != b.block) return a.block > b.block;
        return a.to > b.to;
    }

    // The moves of the unit of least bound, taken off the heap.
    void addNextUnit() {
        std::pop_heap(units_.begin(), units_.end(), laterUnit);
        addUnitMoves(units_.back());
        units_.pop_back();
    }

    // The moves from the closed records of a unit's block to its node, but
    // those along the wire (listed already) and from within 1 mm.
    void addUnitMoves(const Unit& unit) {
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

    // Whether closed record c stands on the node recomputeKey lists as node
    // k's wire neighbour.
    bool wireNeighbourClosedAt(std::size_t k, std::uint32_t c) const {
        const TransitNode& n = node(k);
        for (std::size_t j : {n.wireIndex - 1, n.wireIndex + 1})
            if (j < baseCount_ && closingOf_[j] == static_cast<std::int32_t>(c)) return true;
        return false;
    }

    // Settles slot s's key: its move is accepted, or the key is recomputed.
    void settle(std::size_t s) {
        if (moveAccepted(from_[s], via_[s])) {
            flags_[s] |= kAccepted;
            if (!single(s)) {
                ++version_[s];
                pushKey(s);
            }
            return;
        }
        recomputeKey(s);
    }

    bool entryCurrent(const DeferredEntry& e) const {
        return !closedNear_[e.slot] && version_[e.slot] == e.version;
    }

    // The move that created slot s's record in the full search: the first
    // accepted one (closed record, node).
    std::pair<std::uint32_t, std::size_t> creation(std::size_t s) {
        for (std::uint32_t c = 0; c < closed_.size(); ++c) {
            const SearchRecord& cur = closedRecord(c);
            std::size_t found = kNoNode;
            forEachMember(s, [&](std::size_t k) {
                const TransitNode& n = node(k);
                if (found != kNoNode || samePosition(cur.x, cur.y, n.x, n.y)) return;
                if (moveAccepted(c, k)) found = k;
            });
            if (found != kNoNode) return {c, found};
        }
        return {static_cast<std::uint32_t>(closed_.size()), kNoNode};
    }

    void popEntry() {
        std::pop_heap(heapD_.begin(), heapD_.end(), laterDeferred);
        heapD_.pop_back();
    }

    // The slot whose record the full search selects next, taken off the
    // heap, and the node its record stands on; false when none is left.
    bool selectDeferred(std::size_t& slot, std::size_t& creator) {
        bool found = false;
        double cost = 0.0;
        ties_.clear();
        while (!heapD_.empty()) {
            const DeferredEntry top = heapD_.front();
            if (!entryCurrent(top)) {
                popEntry();
                continue;
            }
            if (found && top.cost != cost) break;
            if (!(flags_[top.slot] & kAccepted)) {
                settle(top.slot);
                continue;
            }
            popEntry();
            ties_.push_back(top);
            found = true;
            cost = top.cost;
        }
        if (!found) return false;
        slot = ties_[0].slot;
        creator = slot;
        if (ties_.size() == 1 && single(slot)) return true;
        std::pair<std::uint32_t, std::size_t> first = creation(slot);
        for (std::size_t i = 1; i < ties_.size(); ++i) {
            const std::pair<std::uint32_t, std::size_t> c = creation(ties_[i].slot);
            if (c < first) {
                first = c;
                slot = ties_[i].slot;
            }
        }
        creator = first.second;
        for (const DeferredEntry& e : ties_) {
            if (e.slot == slot) continue;
            heapD_.push_back(e);
            std::push_heap(heapD_.begin(), heapD_.end(), laterDeferred);
        }
        return true;
    }

    // Sets slot s's key, and the copy its nodes keep for the expansions
    // (their block's bound raised to it).
    void setKey(std::size_t s, double key) {
        key_[s] = key;
        forEachMember(s, [&](std::size_t k) {
            nodeKey_[k] = key;
            double& most = blockKeyMost_[k / kNodeBlock];
            most = std::max(most, key);
        });
    }

    // The blocks of kNodeBlock consecutive nodes: each one's box, and a
    // bound its nodes' keys are never above (closing a node lowers its key;
    // setKey raises the bound; a scan of the whole block tightens it).
    void boxBlocks(std::size_t count) {
        const std::size_t blocks = (count + kNodeBlock - 1) / kNodeBlock;
        blockBox_.resize(blocks);
        blockKeyMost_.assign(blocks, std::numeric_limits<double>::infinity());
        for (std::size_t b = 0; b < blocks; ++b) {
            BlockBox& box = blockBox_[b];
            box = BlockBox::at(px_[b * kNodeBlock], py_[b * kNodeBlock]);
            for (std::size_t k = b * kNodeBlock; k < std::min(count, (b + 1) * kNodeBlock); ++k)
                box.add(px_[k], py_[k]);
        }
    }

    // Appends to listed_ the nodes of [first, end) (within one block) whose
    // key is above cur.g plus the bound of the move from (x, y) to them,
    // in increasing order, unless the block's bounds show there are none.
    //
    // Why a skipped node would not be listed: its bound is at least the
    // block's `least` (planner/transit_blocks.h), and rounding is monotone,
    // so fl(g + its bound) is at least fl(g + least).  Its key is at most
    // the block's bound, so when that is <= fl(g + least) the node's test
    // `key > g + bound` fails.  A NaN anywhere fails `<=`, and the block
    // is scanned.
    std::size_t listBlock(const SearchRecord& cur, std::size_t first, std::size_t end,
                          std::size_t count, std::uint32_t* out, std::size_t listedCount) {
        const std::size_t b = first / kNodeBlock;
        const double least = boxExpansionBound(blockBox_[b], cur.x, cur.y);
        if (blockKeyMost_[b] <= cur.g + least) return listedCount;
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

    // Offers every open slot the moves from closed record c.  A move costs
    // at least the record's cost plus the larger difference along an axis,
    // times its multiplier (1 but along the wire); the nodes whose key that
    // bound is below are listed first, in one pass over the positions.
    void expandDeferred(std::uint32_t c) {
        const SearchRecord cur = closedRecord(c);
        const std::size_t count = baseCount_ + 1;
        listed_.resize(count + 2);
        std::uint32_t* out = listed_.data();
        std::size_t listedCount = 0;
        listRanges(records_[closed_[c]].node, count);
        for (const std::pair<std::uint32_t, std::uint32_t>& range : ranges_) {
            for (std::size_t k = range.first; k < range.second;) {
                const std::size_t end =
                    std::min<std::size_t>(range.second, (k / kNodeBlock + 1) * kNodeBlock);
                listedCount = listBlock(cur, k, end, count, out, listedCount);
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

    // The nodes an expansion from node `from` (-1 for the start) looks at,
    // as increasing ranges into ranges_: all of them, but where `from` is a
    // corner of an obstacle with a chordApart, that obstacle's nodes that
    // chordThroughObstacle rules out (a move to one is known to be blocked,
    // so the expansion would pass over it).
    void listRanges(std::int32_t from, std::size_t count) {
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

    void closeDeferred(std::uint32_t id) {
        records_[id].open = false;
        closed_.push_back(id);
        towardsTarget_.push_back(0);
        const Record& r = records_[id];
        closedX_.push_back(r.record.x);
        closedY_.push_back(r.record.y);
        closedG_.push_back(r.record.g);
        const std::size_t c = closed_.size() - 1;
        const std::int32_t obstacle =
            r.node >= 0 ? context_.nodeObstacle[static_cast<std::size_t>(r.node)] : -1;
        const std::uint32_t corner =
            obstacle >= 0 ? context_.nodeCorner[static_cast<std::size_t>(r.node)] : 0;
        if (c % kClosedBlock == 0) {
            closedBlockBox_.push_back(BlockBox::at(r.record.x, r.record.y));
            closedBlockLeastG_.push_back(r.record.g);
            closedBlockCorners_.push_back({obstacle, corner, corner});
        }
        closedBlockBox_.back().add(r.record.x, r.record.y);
        closedBlockLeastG_.back() = std::min(closedBlockLeastG_.back(), r.record.g);
        ClosedBlockCorners& corners = closedBlockCorners_.back();
        if (obstacle != corners.obstacle) {
            corners.obstacle = -1;
        } else if (obstacle >= 0) {
            corners.lo = std::min(corners.lo, corner);
            corners.hi = std::max(corners.hi, corner);
        }
        if (r.node >= 0)
            closingOf_[static_cast<std::size_t>(r.node)] =
                static_cast<std::int32_t>(closed_.size() - 1);
        if (r.node < 0) {
            for (std::size_t k = 0; k <= baseCount_; ++k) {
                const TransitNode& n = node(k);
                if (samePosition(r.record.x, r.record.y, n.x, n.y)) {
                    closedNear_[k] = 1;
                    nodeKey_[k] = -std::numeric_limits<double>::infinity();
                }
            }
            return;
        }
        forEachMember(slotOf(static_cast<std::size_t>(r.node)), [&](std::size_t k) {
            closedNear_[k] = 1;
            nodeKey_[k] = -std::numeric_limits<double>::infinity();
        });
    }

    // The deferred search's: per slot its key, the closed record and node
    // its move comes from and to, and the state of that move; per node the
    // heuristic, the cost an expansion offers and the answer from the
    // start; per closed record the answer towards the target.
    std::vector<double> key_;
    std::vector<std::uint32_t> from_;
    std::vector<std::uint32_t> via_;
    std::vector<std::uint32_t> version_;
    std::vector<std::uint8_t> flags_;
    std::vector<double> h_;
    std::vector<double> leastH_;  // per slot
    std::vector<double> offered_;
    std::vector<std::uint8_t> fromStart_;
    std::vector<std::uint8_t> towardsTarget_;
    std::vector<DeferredEntry> heapD_;
    std::vector<DeferredEntry> ties_;
    std::vector<Move> moves_;
    // Per node: its position and its slot's key (minus infinity once closed).
    std::vector<double> px_;
    std::vector<double> py_;
    std::vector<double> nodeKey_;
    std::vector<BlockBox> blockBox_;        // per block of nodes
    std::vector<double> blockKeyMost_;  // per block of nodes
    std::vector<std::uint32_t> listed_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges_;
    // Per closed record: its position and cost; per node: its closed
    // record's place, or -1.
    std::vector<double> closedX_;
    std::vector<double> closedY_;
    std::vector<double> closedG_;
    std::vector<std::int32_t> closingOf_;
    // Per block of kClosedBlock closed records: their box and least cost,
    // and the obstacle all their nodes are corners of (-1: none or several)
    // with the range of those corners.
    struct ClosedBlockCorners {
        std::int32_t obstacle;
        std::uint32_t lo;
        std::uint32_t hi;
    };
    std::vector<BlockBox> closedBlockBox_;
    std::vector<double> closedBlockLeastG_;
    std::vector<ClosedBlockCorners> closedBlockCorners_;
    std::vector<Unit> units_;
    std::vector<Move> costed_;
    std::vector<Move> rest_;
    std::vector<Move> sortedMoves_;
};

}  // namespace

bool findDeferredTransitPath(const TransitContext& context, TransitCache& cache, double startX,
                             double startY, double targetX, double targetY, TransitReach* reach,
                             std::vector<Point>& path) {
    DeferredTransitSearch search(context, cache, startX, startY, targetX, targetY);
    if (!search.canDefer()) return false;
    path = search.run(reach);
    return true;
}

}  // namespace Planner
