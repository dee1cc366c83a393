// The part of the transit search that its two ways share: the search's
// nodes, records and closed list, the line-of-sight answers it keeps, and
// how a found way is traced back and shortened.  Used by planner/transit.cpp
// (the search that tests every move it may accept) and
// planner/transit_deferred.cpp (the one that tests a move only when it
// could decide the next record); both give the same paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "planner/geometry.h"
#include "planner/node_lookup.h"
#include "planner/transit.h"

namespace Planner {

inline bool sameBits(const Point& a, const Point& b) {
    return std::memcmp(&a.x, &b.x, sizeof a.x) == 0 && std::memcmp(&a.y, &b.y, sizeof a.y) == 0;
}

inline bool areConsecutiveWirePoints(bool fromOnWire, std::uint64_t fromIndex,
                                     const TransitNode& node) {
    if (!fromOnWire || !node.onWire) return false;
    const std::uint64_t a = fromIndex;
    const std::uint64_t b = node.wireIndex;
    return (a > b ? a - b : b - a) == 1;
}

// One search over a context's nodes plus the target (node number
// context.nodes.size()).
class TransitSearch {
public:
    TransitSearch(const TransitContext& context, TransitCache& cache, double startX,
                  double startY, double targetX, double targetY);

protected:
    // A search record with what the indexed search keeps beside it: the
    // node it stands on (-1 for the start; its position is that node's),
    // whether it is still open, and how often its cost changed.
    struct Record {
        SearchRecord record;
        std::int32_t node = -1;
        bool open = true;
        std::uint32_t version = 0;
    };

    struct PathPoint {
        Point point;
        std::int32_t node;
    };

    const TransitNode& node(std::size_t k) const {
        return k < baseCount_ ? context_.nodes[k] : target_;
    }

    // The nodes within 1 mm of node k, k included.
    template <class Visit>
    void forEachNear(std::size_t k, Visit&& visit) const {
        if (k == baseCount_) {
            for (std::uint32_t j : targetNear_) visit(j);
            return;
        }
        for (std::uint32_t i = context_.nearStart[k]; i < context_.nearStart[k + 1]; ++i)
            visit(context_.nearNodes[i]);
        if (nearTarget_[k]) visit(baseCount_);
    }

    // After a failed search: the nodes it closed, complete when no record
    // stood within 1 mm of another node (so none was passed over for a
    // neighbour's record) and the open list was kept as a heap.
    void describeReach(TransitReach& reach) const;

    // Line of sight from a record's position to node `to`: kept in the
    // cache between nodes, and for the position being expanded in the
    // answers its expansion decided beforehand.
    bool sightBetween(std::int32_t from, double fromX, double fromY, std::size_t to);

    // Keeps the answer for the move between two nodes in the cache.
    void keepAnswer(std::size_t from, std::size_t to, bool free);

    bool sightTest(double ax, double ay, double bx, double by);

    // The edges expected to block a move towards node k: the one that
    // blocked the last such move, and those of the obstacle k is a corner
    // of (none for the target).
    SightHints hintsTowards(std::size_t k) const;

    // Those of a move from (x, y) to node k, with the edge through which it
    // enters a convex obstacle of many corners that k is a corner of.
    SightHints hintsTowards(double x, double y, std::size_t k);

    // Line of sight from (x, y) to node k, its likely blockers tried first
    // unless `hintsTried` (blockedByHints found none crossing just before);
    // the edge found blocking it is kept for the next move towards k.
    bool sightTowards(double x, double y, std::size_t k, bool hintsTried = false);

    // pending_ into sorted_ by sectors of direction round (x, y), stably.
    void sortByDirection(double x, double y);

    static std::uint32_t directionSector(double vx, double vy, std::uint32_t sectors);

    std::vector<PathPoint> reconstruct(std::uint32_t last) const;

    bool sightAlong(const PathPoint& a, const PathPoint& b);

    // Greedy line-of-sight pass: from each kept point, jump to the farthest
    // later point that is still reachable by an unbroken run of free segments.
    std::vector<Point> shorten(const std::vector<PathPoint>& path);

    const TransitContext& context_;
    TransitCache& cache_;
    const std::size_t baseCount_;
    const TransitNode target_;
    const double startX_;
    const double startY_;
    const bool heapUsable_;

    std::vector<Record> records_;
    std::vector<std::uint32_t> closed_;
    std::vector<std::uint8_t> closedNear_;  // per node: closed, or within 1 mm of a closed record
    std::vector<std::uint8_t> nearTarget_;  // per base node: within 1 mm of the target
    std::vector<std::uint32_t> targetNear_;  // the nodes within 1 mm of the target
    std::vector<std::uint32_t> candidates_;
    std::vector<std::uint32_t> pending_;
    std::vector<std::uint32_t> sorted_;
    std::vector<std::uint32_t> sectorOf_;
    std::vector<std::uint32_t> sectorCount_;
    std::uint32_t lastEntry_ = kNoEdge;  // the entry edge of the last hints found
};

}  // namespace Planner
