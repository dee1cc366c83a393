#include "planner/transit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstddef>
#include <limits>

#include "planner/constants.h"
#include "planner/geometry.h"

namespace Planner {

namespace {

constexpr std::size_t kNoNode = static_cast<std::size_t>(-1);
constexpr std::size_t kRecomputeBatch = 32;  // moves costed at once when a key is recomputed

bool sameBits(const Point& a, const Point& b) {
    return std::memcmp(&a.x, &b.x, sizeof a.x) == 0 && std::memcmp(&a.y, &b.y, sizeof a.y) == 0;
}

NodeLookup makeLookup(const std::vector<TransitNode>& nodes) {
    NodeLookup lookup;
    for (std::size_t k = 0; k < nodes.size(); ++k)
        addToLookup(lookup, nodes[k].x, nodes[k].y, static_cast<std::uint32_t>(k));
    sortLookup(lookup);
    return lookup;
}

// Wire points, then the corners that no earlier node lies within 1 mm of;
// `obstacleOf`, when given, receives the obstacle each node is a corner of
// (-1 for wire points and perimeter corners).
std::vector<TransitNode> baseNodes(const Environment& environment,
                                   std::vector<std::int32_t>* obstacleOf = nullptr) {
    std::vector<TransitNode> candidates;
    std::vector<std::int32_t> candidateObstacle;
    const std::vector<Point>& wire = environment.virtualWire.points;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        candidates.push_back(
            TransitNode{wire[i].x, wire[i].y, true, static_cast<std::uint64_t>(i)});
    }
    candidateObstacle.assign(candidates.size(), -1);
    for (std::size_t o = 0; o < environment.obstacles.size(); ++o) {
        for (const Point& corner : environment.obstacles[o].points) {
            candidates.push_back(TransitNode{corner.x, corner.y, false, 0});
            candidateObstacle.push_back(static_cast<std::int32_t>(o));
        }
    }
    for (const Point& corner : environment.perimeter.points)
        candidates.push_back(TransitNode{corner.x, corner.y, false, 0});

    const NodeLookup lookup = makeLookup(candidates);
    std::vector<std::uint8_t> kept(candidates.size(), 0);
    std::vector<TransitNode> nodes;
    for (std::size_t c = 0; c < candidates.size(); ++c) {
        const TransitNode& corner = candidates[c];
        bool known = false;
        if (!corner.onWire) {
            forEachNodeNear(lookup, corner.x, corner.y, [&](std::uint32_t j) {
                known =
                    known || (j < c && kept[j] &&
                              samePosition(candidates[j].x, candidates[j].y, corner.x, corner.y));
            });
        }
        if (known) continue;
        kept[c] = 1;
        nodes.push_back(corner);
        if (obstacleOf != nullptr)
            obstacleOf->push_back(c < candidateObstacle.size() ? candidateObstacle[c] : -1);
    }
    return nodes;
}

bool areConsecutiveWirePoints(bool fromOnWire, std::uint64_t fromIndex, const TransitNode& node) {
    if (!fromOnWire || !node.onWire) return false;
    const std::uint64_t a = fromIndex;
    const std::uint64_t b = node.wireIndex;
    return (a > b ? a - b : b - a) == 1;
}

// A search record with what the indexed search keeps beside it: the node it
// stands on (-1 for the start; its position is that node's), whether it is
// still open, and how often its cost changed.
struct Record {
    SearchRecord record;
    std::int32_t node = -1;
    bool open = true;
    std::uint32_t version = 0;
};

// Heap entry: a record's cost g + h when it was pushed.  The cheapest comes
// first, and of equal costs the earliest record, which is the open list's
// rule: records never change places there, so list order is creation order.
struct OpenEntry {
    double cost;
    std::uint32_t record;
    std::uint32_t version;
};

bool laterInHeap(const OpenEntry& a, const OpenEntry& b) {
    if (a.cost != b.cost) return a.cost > b.cost;
    return a.record > b.record;
}

// One search over the context's nodes plus the target.
class Search {
public:
    Search(const TransitContext& context, TransitCache& cache, double startX, double startY,
           double targetX, double targetY)
        : context_(context),
          cache_(cache),
          baseCount_(context.nodes.size()),
          target_{targetX, targetY, false, 0},
          startX_(startX),
          startY_(startY),
          // Costs can only be NaN when the start or the target is not
          // finite; the open list is then scanned as it stands.
          heapUsable_(isFinitePosition(startX, startY) && isFinitePosition(targetX, targetY)) {
        recordOfNode_.assign(baseCount_ + 1, -1);
        closedNear_.assign(baseCount_ + 1, 0);
        verdict_.assign(baseCount_ + 1, 0);
        nearTarget_.assign(baseCount_, 0);
        forEachNodeNear(context.lookup, targetX, targetY, [&](std::uint32_t k) {
            const TransitNode& n = context.nodes[k];
            if (samePosition(n.x, n.y, targetX, targetY) && !nearTarget_[k]) {
                nearTarget_[k] = 1;
                targetNear_.push_back(k);
            }
        });
        if (isFinitePosition(targetX, targetY))
            targetNear_.push_back(static_cast<std::uint32_t>(baseCount_));
        alone_.assign(baseCount_, 0);
        for (std::size_t k = 0; k < baseCount_; ++k) {
            alone_[k] = context.nearStart[k + 1] - context.nearStart[k] == 1 &&
                        context.nearNodes[context.nearStart[k]] == k && !nearTarget_[k];
        }
        if (cache_.sight.size() != baseCount_) cache_.sight.assign(baseCount_, {});
        if (cache_.blockerTo.size() != baseCount_) cache_.blockerTo.assign(baseCount_, kNoEdge);
    }

    std::vector<Point> run(std::vector<LineString>* searchEdges, TransitReach* reach) {
        if (searchEdges == nullptr && canDefer()) return runDeferred(reach);
        Record start;
        start.record.x = startX_;
        start.record.y = startY_;
        start.record.g = 0.0;
        start.record.h = distanceBetween(startX_, startY_, target_.x, target_.y);
        start.record.parent = -1;
        addRecord(start);

        constexpr std::size_t kMaxClosed =
            static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());

        while (openCount_ > 0) {
            const std::uint32_t chosen = selectCheapest();
            const SearchRecord& selected = records_[chosen].record;
            if (samePosition(selected.x, selected.y, target_.x, target_.y)) {
                return shorten(reconstruct(chosen));
            }
            if (closed_.size() >= kMaxClosed) return {};
            close(chosen);
            const std::int32_t parentIndex = static_cast<std::int32_t>(closed_.size() - 1);
            const Record current = records_[chosen];
            expand(current, parentIndex, searchEdges);
        }
        if (reach != nullptr) describeReach(*reach);
        return {};
    }

private:
    // After a failed search: the nodes it closed, complete when no record
    // stood within 1 mm of another node (so none was passed over for a
    // neighbour's record) and the open list was kept as a heap.
    void describeReach(TransitReach& reach) const {
        reach.complete = heapUsable_;
        reach.nodes.clear();
        reach.member.assign(baseCount_, 0);
        reach.start = Point(startX_, startY_);
        reach.checked = false;
        for (std::uint32_t id : closed_) {
            const Record& r = records_[id];
            if (r.node < 0) {
                forEachNodeNear(context_.lookup, startX_, startY_, [&](std::uint32_t k) {
                    const TransitNode& n = context_.nodes[k];
                    if (samePosition(n.x, n.y, startX_, startY_)) reach.complete = false;
                });
                continue;
            }
            const std::size_t k = static_cast<std::size_t>(r.node);
            if (k >= baseCount_ || context_.nearStart[k + 1] - context_.nearStart[k] != 1 ||
                context_.nearNodes[context_.nearStart[k]] != k || nearTarget_[k])
                reach.complete = false;
            reach.nodes.push_back(static_cast<std::uint32_t>(k));
            reach.member[k] = 1;
        }
        std::sort(reach.nodes.begin(), reach.nodes.end());
    }

    const TransitNode& node(std::size_t k) const {
        return k < baseCount_ ? context_.nodes[k] : target_;
    }

    void addRecord(const Record& r) {
        const std::uint32_t id = static_cast<std::uint32_t>(records_.size());
        records_.push_back(r);
        ++openCount_;
        if (r.node >= 0)
            recordOfNode_[static_cast<std::size_t>(r.node)] = static_cast<std::int32_t>(id);
        pushEntry(id);
    }

    void pushEntry(std::uint32_t id) {
        if (!heapUsable_) return;
        const Record& r = records_[id];
        heap_.push_back({r.record.g + r.record.h, id, r.version});
        std::push_heap(heap_.begin(), heap_.end(), laterInHeap);
    }

    std::uint32_t selectCheapest() {
        if (heapUsable_) {
            while (true) {
                const OpenEntry top = heap_.front();
                const Record& r = records_[top.record];
                if (r.open && r.version == top.version) return top.record;
                std::pop_heap(heap_.begin(), heap_.end(), laterInHeap);
                heap_.pop_back();
            }
        }
        // The open list in order: the first record of least cost.
        std::uint32_t chosen = 0;
        bool found = false;
        double chosenCost = 0.0;
        for (std::uint32_t i = 0; i < records_.size(); ++i) {
            if (!records_[i].open) continue;
            const double cost = records_[i].record.g + records_[i].record.h;
            if (!found || cost < chosenCost) {
                chosen = i;
                chosenCost = cost;
                found = true;
            }
        }
        return chosen;
    }

    void close(std::uint32_t id) {
        Record& r = records_[id];
        r.open = false;
        --openCount_;
        closed_.push_back(id);
        if (r.node < 0) {
            for (std::size_t k = 0; k <= baseCount_; ++k) {
                const TransitNode& n = node(k);
                if (samePosition(r.record.x, r.record.y, n.x, n.y)) closedNear_[k] = 1;
            }
            return;
        }
        forEachNear(static_cast<std::size_t>(r.node), [&](std::size_t k) { closedNear_[k] = 1; });
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

    // Line of sight from a record's position to node `to`: kept in the
    // cache between nodes, and for the position being expanded in the
    // answers its expansion decided beforehand.
    bool sightBetween(std::int32_t from, double fromX, double fromY, std::size_t to) {
        const TransitNode& n = node(to);
        if (from < 0 || to >= baseCount_) return sightTest(fromX, fromY, n.x, n.y);
        std::vector<std::uint8_t>& row = cache_.sight[static_cast<std::size_t>(from)];
        if (row.empty()) row.assign(baseCount_, 0);
        if (row[to] == 0)
            keepAnswer(static_cast<std::size_t>(from), to, sightTest(fromX, fromY, n.x, n.y));
        return row[to] == 1;
    }

    // Keeps the answer for the move between two nodes in the cache.
    void keepAnswer(std::size_t from, std::size_t to, bool free) {
        std::vector<std::uint8_t>& row = cache_.sight[from];
        if (row.empty()) row.assign(baseCount_, 0);
        row[to] = free ? 1 : 2;
    }

    bool sightTest(double ax, double ay, double bx, double by) {
        return isSegmentFree(*context_.sight, cache_.sightScratch, ax, ay, bx, by);
    }

    // The nodes an expansion may accept an edge to, in increasing order,
    // with the line-of-sight answers it needs found first, in the order of
    // the moves' directions round the expanded position: neighbouring moves
    // tend to be blocked by the same edge, which the sight test tries
    // first.  An answer does not depend on the order in which it is found.
    // Without search edges to keep, a node whose edge could change nothing
    // needs no answer; accepting edges only makes later ones less likely to
    // change something, so the nodes listed here are all the expansion can
    // still use.
    void listCandidates(const Record& current, bool keepAll) {
        const SearchRecord& cur = current.record;
        candidates_.clear();
        pending_.clear();
        std::uint8_t* row = nullptr;
        if (current.node >= 0) {
            std::vector<std::uint8_t>& r = cache_.sight[static_cast<std::size_t>(current.node)];
            if (r.empty()) r.assign(baseCount_, 0);
            row = r.data();
        }
        auto consider = [&](std::size_t k, const TransitNode& n) {
            // (The tests below are all needed; the cheapest come first.)
            if (!keepAll && closedNear_[k]) return;
            // A non-finite position never matches a record, not even its
            // own, so stepping onto one could repeat without end.
            if (!isFinitePosition(n.x, n.y)) return;
            if (samePosition(cur.x, cur.y, n.x, n.y)) return;
            if (!keepAll && !couldImprove(cur, k)) return;
            candidates_.push_back(static_cast<std::uint32_t>(k));
            // Consecutive wire points are joined without a sight test.
            if (areConsecutiveWirePoints(cur.onWire, cur.wireIndex, n)) return;
            if (row != nullptr && k < baseCount_ && row[k] != 0) {
                verdict_[k] = row[k];
                return;
            }
            pending_.push_back(static_cast<std::uint32_t>(k));
        };
        const std::vector<TransitNode>& nodes = context_.nodes;
        for (std::size_t k = 0; k < baseCount_; ++k) consider(k, nodes[k]);
        consider(baseCount_, target_);
        sortByDirection(cur.x, cur.y);
        for (std::uint32_t k : sorted_) {
            const TransitNode& n = node(k);
            // Moves towards one node that are blocked are often blocked by
            // the edge that blocked the last one, or by the obstacle the
            // node is a corner of.
            SightHints hints;
            if (k < baseCount_) {
                hints.edge = cache_.blockerTo[k];
                hints.obstacle = context_.nodeObstacle[k];
            }
            const bool free = isSegmentFree(*context_.sight, cache_.sightScratch, cur.x, cur.y,
                                            n.x, n.y, hints);
            if (!free && k < baseCount_ && cache_.sightScratch.lastBlocker != kNoEdge)
                cache_.blockerTo[k] = cache_.sightScratch.lastBlocker;
            const std::uint8_t v = free ? 1 : 2;
            verdict_[k] = v;
            if (row != nullptr && k < baseCount_)
                keepAnswer(static_cast<std::size_t>(current.node), k, free);
        }
    }

    // pending_ into sorted_ by sectors of direction round (x, y), stably.
    void sortByDirection(double x, double y) {
        constexpr std::uint32_t kSectors = 1024;
        sectorCount_.assign(kSectors + 1, 0);
        sectorOf_.resize(pending_.size());
        for (std::size_t i = 0; i < pending_.size(); ++i) {
            const TransitNode& n = node(pending_[i]);
            const std::uint32_t s = directionSector(n.x - x, n.y - y, kSectors);
            sectorOf_[i] = s;
            ++sectorCount_[s + 1];
        }
        for (std::uint32_t s = 0; s < kSectors; ++s) sectorCount_[s + 1] += sectorCount_[s];
        sorted_.resize(pending_.size());
        for (std::size_t i = 0; i < pending_.size(); ++i)
            sorted_[sectorCount_[sectorOf_[i]]++] = pending_[i];
    }

    static std::uint32_t directionSector(double vx, double vy, std::uint32_t sectors) {
        const double sum = std::fabs(vx) + std::fabs(vy);
        if (!(sum > 0.0)) return 0;
        const double p = vx / sum;
        const double a = (vy < 0.0 ? 3.0 + p : 1.0 - p) * (static_cast<double>(sectors) / 4.0);
        if (!(a > 0.0)) return 0;
        return std::min(static_cast<std::uint32_t>(a), sectors - 1);
    }

    // Accepts the edge from the current record to node k (and gives its
    // cost multiplier) or rejects it: consecutive wire points are joined
    // without a sight test, everything else needs line of sight.
    bool edgeAccepted(const Record& current, std::size_t k, double& multiplier) {
        const SearchRecord& cur = current.record;
        const TransitNode& n = node(k);
        multiplier = 1.0;
        if (areConsecutiveWirePoints(cur.onWire, cur.wireIndex, n)) {
            multiplier = kWireCostMultiplier;
            return true;
        }
        return verdict_[k] == 1;
    }

    // The first open record within 1 mm of node k: the earliest created;
    // -1 if there is none.
    std::int32_t openRecordNear(std::size_t k) const {
        if (k < baseCount_ && alone_[k]) {
            const std::int32_t r = recordOfNode_[k];
            return r >= 0 && records_[static_cast<std::size_t>(r)].open ? r : -1;
        }
        std::int32_t known = -1;
        forEachNear(k, [&](std::size_t j) {
            const std::int32_t r = recordOfNode_[j];
            if (r >= 0 && records_[static_cast<std::size_t>(r)].open && (known < 0 || r < known))
                known = r;
        });
        return known;
    }

    // Whether an edge from `cur` to node k, if accepted, would change the
    // search: relax (below) does something.
    bool couldImprove(const SearchRecord& cur, std::size_t k) const {
        if (closedNear_[k]) return false;
        const std::int32_t known = openRecordNear(k);
        if (known < 0) return true;
        const TransitNode& n = node(k);
        const double multiplier =
            areConsecutiveWirePoints(cur.onWire, cur.wireIndex, n) ? kWireCostMultiplier : 1.0;
        const double g = records_[static_cast<std::size_t>(known)].record.g;
        // The distance is at least the larger difference along an axis
        // (sqrt(x * x) rounds back to |x|, and rounding keeps order), so a
        // cost no greater than that bound settles it without the root.
        const double axis = std::max(std::fabs(n.x - cur.x), std::fabs(n.y - cur.y));
        if (!(g > cur.g + multiplier * axis)) return false;
        const double gNew = cur.g + multiplier * distanceBetween(cur.x, cur.y, n.x, n.y);
        return g > gNew;
    }

    // Offers node k the cost gNew (heuristic hNew) through the closed
    // record `parentIndex`: a cheaper way to an open record, or a new one.
    void relax(std::size_t k, double gNew, double hNew, std::int32_t parentIndex) {
        if (closedNear_[k]) return;
        const std::int32_t known = openRecordNear(k);
        if (known >= 0) {
            Record& r = records_[static_cast<std::size_t>(known)];
            if (r.record.g > gNew) {
                r.record.g = gNew;
                r.record.h = hNew;
                r.record.parent = parentIndex;
                ++r.version;
                pushEntry(static_cast<std::uint32_t>(known));
            }
            return;
        }
        const TransitNode& n = node(k);
        Record r;
        r.record.x = n.x;
        r.record.y = n.y;
        r.record.g = gNew;
        r.record.h = hNew;
        r.record.parent = parentIndex;
        r.record.onWire = n.onWire;
        r.record.wireIndex = n.wireIndex;
        r.node = static_cast<std::int32_t>(k);
        addRecord(r);
    }

    void expand(const Record& current, std::int32_t parentIndex,
                std::vector<LineString>* searchEdges) {
        const SearchRecord& cur = current.record;
        listCandidates(current, searchEdges != nullptr);
        for (std::uint32_t k : candidates_) {
            const TransitNode& n = node(k);
            if (searchEdges == nullptr && !couldImprove(cur, k)) continue;
            double multiplier = 1.0;
            if (!edgeAccepted(current, k, multiplier)) continue;
            if (searchEdges != nullptr)
                searchEdges->push_back(LineString({Point(cur.x, cur.y), Point(n.x, n.y)}));
            const double gNew = cur.g + multiplier * distanceBetween(cur.x, cur.y, n.x, n.y);
            double hNew = distanceBetween(n.x, n.y, target_.x, target_.y);
            if (n.onWire) hNew = hNew * kWireHeuristicFactor;
            relax(k, gNew, hNew, parentIndex);
        }
    }

    struct PathPoint {
        Point point;
        std::int32_t node;
    };

    std::vector<PathPoint> reconstruct(std::uint32_t last) const {
        std::vector<PathPoint> reversed;
        const Record* r = &records_[last];
        reversed.push_back({Point(r->record.x, r->record.y), r->node});
        std::int32_t parent = r->record.parent;
        // Every parent index points at an earlier closed record, so this ends.
        while (parent >= 0) {
            r = &records_[closed_[static_cast<std::size_t>(parent)]];
            reversed.push_back({Point(r->record.x, r->record.y), r->node});
            parent = r->record.parent;
        }
        return std::vector<PathPoint>(reversed.rbegin(), reversed.rend());
    }

    bool sightAlong(const PathPoint& a, const PathPoint& b) {
        // Path points are records, whose positions are their nodes'.
        if (b.node < 0) {
            return isSegmentFree(*context_.sight, cache_.sightScratch, a.point.x, a.point.y,
                                 b.point.x, b.point.y);
        }
        return sightBetween(a.node, a.point.x, a.point.y, static_cast<std::size_t>(b.node));
    }

    // Greedy line-of-sight pass: from each kept point, jump to the farthest
    // later point that is still reachable by an unbroken run of free segments.
    std::vector<Point> shorten(const std::vector<PathPoint>& path) {
        const std::size_t n = path.size();
        std::vector<Point> out;
        if (n <= 2) {
            for (const PathPoint& p : path) out.push_back(p.point);
            return out;
        }
        out.push_back(path[0].point);
        std::size_t i = 0;
        while (i < n - 1) {
            std::size_t next = i + 1;
            if (i + 2 < n) {
                next = n - 1;
                for (std::size_t j = i + 2; j < n; ++j) {
                    if (!sightAlong(path[i], path[j])) {
                        next = j - 1;
                        break;
                    }
                }
            }
            out.push_back(path[next].point);
            i = next;
        }
        return out;
    }

    // ---- The deferred search.  Without search edges to keep, a search
    // needs the line-of-sight answer of a move only when the cost it offers
    // could decide which record is selected next.
    //
    // Where the nodes within 1 mm of a node are all within 1 mm of each
    // other and of no other node (the ends of a closed wire), such a group
    // holds at most one record at a time, so each group has a slot (named by
    // its lowest node).  A slot keeps the least cost offered to one of its
    // nodes through a closed record whose move is not known to be blocked
    // (its key), the earliest such move in the order the search above makes
    // them, and whether that move is known to be accepted.  A key is never
    // above the cost the search above gives the record at that point (it
    // rules out fewer moves), and equals it once its move is accepted, when
    // the record's heuristic is the one of the node that move leads to; the
    // heap holds the slot's key plus its least heuristic until then.  So the
    // cheapest slot whose move is accepted is the cheapest record there,
    // and the moves of cheaper keys are settled on the way (found accepted,
    // or blocked and the key recomputed from every move).  A slot whose move
    // proved blocked has every later move tested when offered, as above.  Of
    // equal costs the search above takes the record created first: the one
    // whose first accepted move came from the earliest closed record, then
    // to the lower node, which is the node the record stands on.  The
    // records selected, their costs, heuristics and parents, and so the
    // path, are the same.

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

    // Also no node lies within 1 mm of the target, and the start lies within
    // 1 mm of all nodes of a group or of none.
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
    // unknown, 1 free, 2 blocked.
    std::uint8_t knownAnswer(std::uint32_t c, std::size_t k) const {
        if (k == baseCount_) return towardsTarget_[c];
        const std::int32_t from = records_[closed_[c]].node;
        if (from < 0) return fromStart_[k];
        const std::vector<std::uint8_t>& row = cache_.sight[static_cast<std::size_t>(from)];
        return row.empty() ? 0 : row[k];
    }

    // Tests the move from closed record c to node k and keeps the answer.
    bool testMove(std::uint32_t c, std::size_t k) {
        const SearchRecord& cur = closedRecord(c);
        const TransitNode& n = node(k);
        SightHints hints;
        if (k < baseCount_) {
            hints.edge = cache_.blockerTo[k];
            hints.obstacle = context_.nodeObstacle[k];
        }
        const bool free =
            isSegmentFree(*context_.sight, cache_.sightScratch, cur.x, cur.y, n.x, n.y, hints);
        if (!free && k < baseCount_ && cache_.sightScratch.lastBlocker != kNoEdge)
            cache_.blockerTo[k] = cache_.sightScratch.lastBlocker;
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
    bool moveAccepted(std::uint32_t c, std::size_t k) {
        const SearchRecord& cur = closedRecord(c);
        if (areConsecutiveWirePoints(cur.onWire, cur.wireIndex, node(k))) return true;
        const std::uint8_t known = knownAnswer(c, k);
        return known != 0 ? known == 1 : testMove(c, k);
    }

    // True only if the move from closed record c to node k is blocked, as
    // a likely edge shows: found without the cache, whose answer would sit
    // far from the last one read.
    bool quicklyBlocked(std::uint32_t c, std::size_t k) {
        if (k >= baseCount_) return false;
        const SearchRecord& cur = closedRecord(c);
        const TransitNode& n = node(k);
        if (areConsecutiveWirePoints(cur.onWire, cur.wireIndex, n)) return false;
        SightHints hints;
        hints.edge = cache_.blockerTo[k];
        hints.obstacle = context_.nodeObstacle[k];
        if (!blockedByHints(*context_.sight, cache_.sightScratch, cur.x, cur.y, n.x, n.y, hints))
            return false;
        cache_.blockerTo[k] = cache_.sightScratch.lastBlocker;
        return true;
    }

    void pushKey(std::size_t s) {
        const double h = (flags_[s] & kAccepted) ? h_[via_[s]] : leastH_[s];
        heapD_.push_back({key_[s] + h, static_cast<std::uint32_t>(s), version_[s]});
        std::push_heap(heapD_.begin(), heapD_.end(), laterDeferred);
    }

    struct Move {
        double g;
        std::uint32_t from;
        std::uint32_t to;
    };

    static bool movesBefore(const Move& a, const Move& b) {
        if (a.g != b.g) return a.g < b.g;
        if (a.from != b.from) return a.from < b.from;
        return a.to < b.to;
    }

    // Slot s's key once its move proved blocked: the least cost of an
    // accepted move from the closed records, the earliest of equal ones.
    // The moves are taken cheapest first, tested where not known, up to the
    // first accepted, which usually comes long before the end.  A move costs
    // at least its record's cost plus its multiplier times the larger
    // difference along an axis (sqrt(x * x) rounds back to |x|); the moves
    // are costed exactly in batches of the least such bounds, and a costed
    // move is taken once it is cheaper than every bound left.
    void recomputeKey(std::size_t s) {
        Move best{std::numeric_limits<double>::infinity(), 0, 0};
        moves_.clear();
        forEachMember(s, [&](std::size_t k) {
            const double nx = px_[k];
            const double ny = py_[k];
            const std::size_t first = moves_.size();
            const std::size_t count = closed_.size();
            moves_.resize(first + count);
            Move* out = moves_.data() + first;
            for (std::uint32_t c = 0; c < count; ++c) {
                const double axis = std::max(std::fabs(nx - closedX_[c]), std::fabs(ny - closedY_[c]));
                out[c] = {closedG_[c] + axis, c, static_cast<std::uint32_t>(k)};
            }
            // Moves along the wire cost less; and moves from within 1 mm
            // are not made.
            const TransitNode& n = node(k);
            if (n.onWire) {
                for (std::size_t j : {n.wireIndex - 1, n.wireIndex + 1}) {
                    if (j >= baseCount_ || closingOf_[j] < 0) continue;
                    const std::uint32_t c = static_cast<std::uint32_t>(closingOf_[j]);
                    const SearchRecord& cur = closedRecord(c);
                    const double axis = std::max(std::fabs(nx - cur.x), std::fabs(ny - cur.y));
                    out[c].g = cur.g + moveMultiplier(cur, k) * axis;
                }
            }
            std::size_t kept = 0;
            for (std::uint32_t c = 0; c < count; ++c) {
                const double axis = std::max(std::fabs(nx - closedX_[c]), std::fabs(ny - closedY_[c]));
                if (axis < kSamePosition && samePosition(closedX_[c], closedY_[c], nx, ny)) continue;
                out[kept++] = out[c];
            }
            moves_.resize(first + kept);
        });
        auto later = [](const Move& a, const Move& b) { return movesBefore(b, a); };
        auto cheaper = [](const Move& a, const Move& b) { return a.g < b.g; };
        costed_.clear();
        std::size_t taken = 0;
        std::size_t batch = kRecomputeBatch;
        double bound = -std::numeric_limits<double>::infinity();
        while (true) {
            while (taken < moves_.size() && (costed_.empty() || !(costed_.front().g < bound))) {
                const std::size_t end = std::min(moves_.size(), taken + batch);
                if (end < moves_.size())
                    std::nth_element(moves_.begin() + static_cast<std::ptrdiff_t>(taken),
                                     moves_.begin() + static_cast<std::ptrdiff_t>(end - 1),
                                     moves_.end(), cheaper);
                for (std::size_t i = taken; i < end; ++i) {
                    const Move& m = moves_[i];
                    const SearchRecord& cur = closedRecord(m.from);
                    const TransitNode& n = node(m.to);
                    costed_.push_back({cur.g + moveMultiplier(cur, m.to) *
                                                   distanceBetween(cur.x, cur.y, n.x, n.y),
                                       m.from, m.to});
                    std::push_heap(costed_.begin(), costed_.end(), later);
                }
                bound = end < moves_.size() ? moves_[end - 1].g
                                            : std::numeric_limits<double>::infinity();
                taken = end;
                batch *= 2;
            }
            if (costed_.empty()) break;
            const Move m = costed_.front();
            if (!quicklyBlocked(m.from, m.to) && moveAccepted(m.from, m.to)) {
                best = m;
                break;
            }
            std::pop_heap(costed_.begin(), costed_.end(), later);
            costed_.pop_back();
        }
        from_[s] = best.from;
        via_[s] = best.to;
        setKey(s, best.g);
        flags_[s] = kAccepted | kEager;
        ++version_[s];
        if (best.g < std::numeric_limits<double>::infinity()) pushKey(s);
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

    // The move that created slot s's record in the search above: the first
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

    // The slot whose record the search above selects next, taken off the
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

    // Sets slot s's key, and the copy its nodes keep for the expansions.
    void setKey(std::size_t s, double key) {
        key_[s] = key;
        forEachMember(s, [&](std::size_t k) { nodeKey_[k] = key; });
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
        const double* xs = px_.data();
        const double* ys = py_.data();
        const double* keys = nodeKey_.data();
        for (std::size_t k = 0; k < count; ++k) {
            const double axis = std::max(std::fabs(xs[k] - cur.x), std::fabs(ys[k] - cur.y));
            out[listedCount] = static_cast<std::uint32_t>(k);
            listedCount += keys[k] > cur.g + axis ? 1 : 0;
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

    void closeDeferred(std::uint32_t id) {
        records_[id].open = false;
        closed_.push_back(id);
        towardsTarget_.push_back(0);
        const Record& r = records_[id];
        closedX_.push_back(r.record.x);
        closedY_.push_back(r.record.y);
        closedG_.push_back(r.record.g);
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

    std::vector<Point> runDeferred(TransitReach* reach) {
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

    const TransitContext& context_;
    TransitCache& cache_;
    const std::size_t baseCount_;
    const TransitNode target_;
    const double startX_;
    const double startY_;
    const bool heapUsable_;

    std::vector<Record> records_;
    std::vector<std::uint32_t> closed_;
    std::size_t openCount_ = 0;
    std::vector<OpenEntry> heap_;
    std::vector<std::int32_t> recordOfNode_;
    std::vector<std::uint8_t> closedNear_;
    std::vector<std::uint8_t> nearTarget_;
    std::vector<std::uint32_t> targetNear_;
    // Per node: no other node, nor the target, lies within 1 mm of it.
    std::vector<std::uint8_t> alone_;
    std::vector<std::uint32_t> candidates_;
    std::vector<std::uint32_t> pending_;
    std::vector<std::uint32_t> sorted_;
    std::vector<std::uint32_t> sectorOf_;
    std::vector<std::uint32_t> sectorCount_;
    std::vector<std::uint8_t> verdict_;
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
    std::vector<std::uint32_t> listed_;
    // Per closed record: its position and cost; per node: its closed
    // record's place, or -1.
    std::vector<double> closedX_;
    std::vector<double> closedY_;
    std::vector<double> closedG_;
    std::vector<std::int32_t> closingOf_;
    std::vector<Move> costed_;
};

}  // namespace

std::vector<TransitNode> buildTransitNodes(const Environment& environment, double targetX,
                                           double targetY) {
    std::vector<TransitNode> nodes = baseNodes(environment);
    nodes.push_back(TransitNode{targetX, targetY, false, 0});
    return nodes;
}

TransitContext buildTransitContext(const Environment& scene, const SightIndex& sight) {
    TransitContext context;
    context.scene = &scene;
    context.sight = &sight;
    context.nodes = baseNodes(scene, &context.nodeObstacle);
    context.lookup = makeLookup(context.nodes);

    context.nearStart.assign(context.nodes.size() + 1, 0);
    for (std::size_t k = 0; k < context.nodes.size(); ++k) {
        const TransitNode& n = context.nodes[k];
        std::vector<std::uint32_t> near;
        forEachNodeNear(context.lookup, n.x, n.y, [&](std::uint32_t j) {
            const TransitNode& m = context.nodes[j];
            if (samePosition(m.x, m.y, n.x, n.y)) near.push_back(j);
        });
        std::sort(near.begin(), near.end());
        near.erase(std::unique(near.begin(), near.end()), near.end());
        context.nearNodes.insert(context.nearNodes.end(), near.begin(), near.end());
        context.nearStart[k + 1] = static_cast<std::uint32_t>(context.nearNodes.size());
    }
    context.deferrable = true;
    for (std::size_t k = 0; k < context.nodes.size(); ++k) {
        const TransitNode& n = context.nodes[k];
        if (!withinIndexLimit(n.x, n.y)) context.deferrable = false;
        const auto first = context.nearNodes.begin() + context.nearStart[k];
        const auto last = context.nearNodes.begin() + context.nearStart[k + 1];
        for (auto it = first; it != last; ++it) {
            const auto other = context.nearNodes.begin() + context.nearStart[*it];
            const auto otherLast = context.nearNodes.begin() + context.nearStart[*it + 1];
            if (!std::equal(first, last, other, otherLast)) context.deferrable = false;
        }
    }
    return context;
}

std::vector<Point> findTransitPath(const TransitContext& context, TransitCache& cache,
                                   std::vector<LineString>* searchEdges, double startX,
                                   double startY, double targetX, double targetY,
                                   TransitReach* reach) {
    Search search(context, cache, startX, startY, targetX, targetY);
    return search.run(searchEdges, reach);
}

// Why a search can be known to fail without running it.  Every record of a
// search stands on the start or on a node that an accepted edge (a free
// move, or a step between consecutive wire points) leads to from an earlier
// record's position.  So records stand only on the start and on nodes of
// the closure D of the start under accepted edges.  A search succeeds only
// by selecting a record within 1 mm of its target: the start itself, a base
// node of D that close, or the target node, which an accepted edge reaches
// only as a free move (it is not on the wire) from the start or from a base
// node of D.  Edges between base nodes, and from the start, are the same in
// every search from that start: only the target node differs.
//
// A failed search from the same start closed a record on every base node of
// D when reach.complete holds: every accepted edge from a closed record led
// to a node with no other node (nor the start, nor the old target) within
// 1 mm, so that node got a record of its own rather than sharing one, and
// the open list ran empty, closing them all.  (It never reached its own
// target node, or it would have succeeded; nor a base node through it.)
//
// So D is closed under accepted edges.  From another start S, the closure
// lies within D as well when every free move from S to a node ends in D
// (S is not on the wire: only free moves leave it).
//
// Hence, if the start is not within 1 mm of the new target, no node of D
// is, and no free move leads from the start or from a node of D to the
// target, the new search fails as well.
bool transitCertainlyFails(const TransitContext& context, TransitCache& cache,
                           TransitReach& reach, double startX, double startY, double targetX,
                           double targetY) {
    if (!reach.complete) return false;
    if (samePosition(startX, startY, targetX, targetY)) return false;
    const SightIndex& sight = *context.sight;
    const Point start(startX, startY);
    if (!sameBits(start, reach.start)) {
        if (!(reach.checked && sameBits(start, reach.checkedStart))) {
            reach.checked = true;
            reach.checkedStart = start;
            reach.checkedInside = true;
            for (std::size_t k = 0; k < context.nodes.size() && reach.checkedInside; ++k) {
                const TransitNode& n = context.nodes[k];
                if (reach.member[k] || samePosition(startX, startY, n.x, n.y)) continue;
                if (isSegmentFree(sight, cache.sightScratch, startX, startY, n.x, n.y))
                    reach.checkedInside = false;
            }
        }
        if (!reach.checkedInside) return false;
    }
    bool near = false;
    forEachNodeNear(context.lookup, targetX, targetY, [&](std::uint32_t k) {
        const TransitNode& n = context.nodes[k];
        near = near || (samePosition(n.x, n.y, targetX, targetY) && reach.member[k]);
    });
    if (near) return false;
    // The edges that blocked the last moves are tried first by the sight
    // test: moves towards one target are mostly blocked by the same few.
    if (isSegmentFree(sight, cache.sightScratch, startX, startY, targetX, targetY)) return false;
    for (std::uint32_t k : reach.nodes) {
        const TransitNode& n = context.nodes[k];
        if (isSegmentFree(sight, cache.sightScratch, n.x, n.y, targetX, targetY)) return false;
    }
    return true;
}

std::vector<Point> findTransitPath(const Environment& environment,
                                   std::vector<LineString>& searchEdges, double startX,
                                   double startY, double targetX, double targetY) {
    const SightIndex sight = buildSightIndex(environment);
    const TransitContext context = buildTransitContext(environment, sight);
    TransitCache cache;
    return findTransitPath(context, cache, &searchEdges, startX, startY, targetX, targetY);
}

}  // namespace Planner
