// The deferred transit search (see planner/transit_deferred.h): its slots,
// keys and heap, and the tests of single moves that its parts share.  The
// parts live in planner/transit_deferred.cpp (the run and the selection of
// the next record), planner/transit_deferred_expand.cpp (the expansions)
// and planner/transit_deferred_keys.cpp (the recompute of a key).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "planner/constants.h"
#include "planner/sight_index.h"
#include "planner/transit_blocks.h"
#include "planner/transit_search.h"

namespace Planner {

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
    bool canDefer() const;

    std::vector<Point> run(TransitReach* reach);

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
    // unknown, 1 free, 2 blocked (kept, a chord through an obstacle, or
    // through the inner disc of k's obstacle or of the record's).
    std::uint8_t knownAnswer(std::uint32_t c, std::size_t k) const {
        if (k == baseCount_) return towardsTarget_[c];
        const std::int32_t from = records_[closed_[c]].node;
        if (from < 0) {
            if (fromStart_[k] != 0) return fromStart_[k];
        } else {
            const std::uint8_t known = cache_.sight.get(static_cast<std::size_t>(from), k);
            if (known != 0) return known;
            if (chordThroughObstacle(context_, static_cast<std::size_t>(from), k)) return 2;
        }
        const std::int32_t o = context_.nodeDisc[k];
        const std::int32_t own = from >= 0 ? context_.nodeDisc[static_cast<std::size_t>(from)] : -1;
        if (o < 0 && own < 0) return 0;
        const SearchRecord& cur = closedRecord(c);
        const TransitNode& n = node(k);
        if (midpointInInnerDisc(context_, o, cur.x, cur.y, n.x, n.y)) return 2;
        return own != o && midpointInInnerDisc(context_, own, cur.x, cur.y, n.x, n.y) ? 2 : 0;
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

    bool entryCurrent(const DeferredEntry& e) const {
        return !closedNear_[e.slot] && version_[e.slot] == e.version;
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

    // The recompute of a key (planner/transit_deferred_keys.cpp).

    // Whether the move is accepted, its likely blockers tried first.
    bool acceptedAfterHints(const Move& m);

    // True only if the move from closed record c to node k is blocked, as
    // a likely edge shows: found without the cache, whose answer would sit
    // far from the last one read.
    bool quicklyBlocked(std::uint32_t c, std::size_t k);

    // The least accepted move of moves_ and of the blocks of units_ (whose
    // costs are bounds), the earliest of equal ones; of infinite cost when
    // none is accepted.  The cheapest are costed and taken in order, which
    // usually ends soon; past kRecomputeOrdered moves the rest are all
    // tested.  A unit's moves join moves_ before any move of a higher bound
    // is costed, so the moves are costed in the same batches as if every
    // unit's were in moves_ from the start (up to the order of equal
    // bounds), and the move returned, a least one in a fixed order, is the
    // same either way.
    Move leastAcceptedMove();

    // The least accepted of the costed moves left and of moves_ from
    // `taken` on, every one tested that could be it: in the order of their
    // directions from the slot, as neighbouring moves tend to be blocked by
    // the same edge, which the sight test tries first.
    Move leastAcceptedOfRest(std::size_t taken);

    // A move with its exact cost.
    Move costed(const Move& bounded) const;

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
    void recomputeKey(std::size_t s);

    // A bound of the moves from the closed records of block b to (x, y):
    // their least cost plus the larger difference along an axis to the
    // block's box.  A record's axis is at least the box's (see
    // planner/transit_blocks.h) and its cost at least the least, so its
    // move's bound fl(g + axis) is at least fl(least g + box axis).
    double unitBound(std::size_t b, double x, double y) const;

    // True only if every move from the closed records of block b to node k
    // is a chord through their obstacle (chordThroughObstacle), known to be
    // blocked: the records are all corners of k's obstacle, whose corners
    // lie at least its chordApart from k's both ways round, and the block's
    // box lies at least kSightShrink from k along an axis (each move at
    // least that long).  A move never accepted cannot be the least accepted
    // one, so the recompute passes over the block.
    bool chordsOnly(std::size_t b, std::size_t k) const;

    static bool laterUnit(const Unit& a, const Unit& b);

    // The moves of the unit of least bound, taken off the heap.
    void addNextUnit();

    // The moves from the closed records of a unit's block to its node, but
    // those along the wire (listed already) and from within 1 mm.
    void addUnitMoves(const Unit& unit);

    // Whether closed record c stands on the node recomputeKey lists as node
    // k's wire neighbour.
    bool wireNeighbourClosedAt(std::size_t k, std::uint32_t c) const;

    // The expansions (planner/transit_deferred_expand.cpp).

    // The blocks of kNodeBlock consecutive nodes: each one's box, and a
    // bound its nodes' keys are never above (closing a node lowers its key;
    // setKey raises the bound; a scan of the whole block tightens it).
    void boxBlocks(std::size_t count);

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
    std::size_t listBlock(const SearchRecord& cur, std::int32_t own, std::size_t first,
                          std::size_t end, std::size_t count, std::uint32_t* out,
                          std::size_t listedCount);

    // True only if every move from (x, y) to the nodes of block b is blocked
    // (midpointInInnerDisc, for all of them at once): the block's nodes are
    // all corners of one obstacle, or (x, y) is a corner of obstacle `own`
    // (-1 for none), and the block's box shows that the moves' midpoints
    // lie in that obstacle's inner disc.
    bool blockHidden(std::size_t b, double x, double y, std::int32_t own) const {
        return (blockObstacle_[b] >= 0 || own >= 0) && someBlockDiscHides(b, x, y, own);
    }
    bool someBlockDiscHides(std::size_t b, double x, double y, std::int32_t own) const;

    // Offers every open slot the moves from closed record c.  A move costs
    // at least the record's cost plus the larger difference along an axis,
    // times its multiplier (1 but along the wire); the nodes whose key that
    // bound is below are listed first, in one pass over the positions.
    void expandDeferred(std::uint32_t c);

    // The nodes an expansion from node `from` (-1 for the start) looks at,
    // as increasing ranges into ranges_: all of them, but where `from` is a
    // corner of an obstacle with a chordApart, that obstacle's nodes that
    // chordThroughObstacle rules out (a move to one is known to be blocked,
    // so the expansion would pass over it).
    void listRanges(std::int32_t from, std::size_t count);

    // The selection of the next record (planner/transit_deferred.cpp).

    // Settles slot s's key: its move is accepted, or the key is recomputed.
    void settle(std::size_t s);

    // The move that created slot s's record in the full search: the first
    // accepted one (closed record, node).
    std::pair<std::uint32_t, std::size_t> creation(std::size_t s);

    void popEntry();

    // The slot whose record the full search selects next, taken off the
    // heap, and the node its record stands on; false when none is left.
    bool selectDeferred(std::size_t& slot, std::size_t& creator);

    void closeDeferred(std::uint32_t id);

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
    // Per block of nodes: the obstacle with an inner disc all of them are
    // corners of, or -1.
    std::vector<std::int32_t> blockObstacle_;
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

}  // namespace Planner
