#include "planner/transit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "planner/constants.h"
#include "planner/geometry.h"
#include "planner/transit_deferred.h"
#include "planner/transit_search.h"

namespace Planner {

void SightAnswers::reset(std::size_t nodes) {
    nodes_ = nodes;
    piecesPerRow_ = (nodes + kSightAnswerPiece - 1) / kSightAnswerPiece;
    rowOf_.assign(nodes, 0);
    pieceOf_.clear();
    answers_.clear();
}

void SightAnswers::set(std::size_t from, std::size_t to, std::uint8_t answer) {
    std::size_t& row = rowOf_[from];
    if (row == 0) {
        row = pieceOf_.size() + 1;
        pieceOf_.resize(pieceOf_.size() + piecesPerRow_, 0);
    }
    std::uint32_t& piece = pieceOf_[row - 1 + to / kSightAnswerPiece];
    if (piece == 0) {
        answers_.resize(answers_.size() + kSightAnswerPiece, 0);
        piece = static_cast<std::uint32_t>(answers_.size() / kSightAnswerPiece);
    }
    answers_[(piece - 1) * kSightAnswerPiece + to % kSightAnswerPiece] = answer;
}

namespace {

NodeLookup makeLookup(const std::vector<TransitNode>& nodes) {
    NodeLookup lookup;
    for (std::size_t k = 0; k < nodes.size(); ++k)
        addToLookup(lookup, nodes[k].x, nodes[k].y, static_cast<std::uint32_t>(k));
    sortLookup(lookup);
    return lookup;
}

// Wire points, then the corners that no earlier node lies within 1 mm of;
// `obstacleOf`, when given, receives the obstacle each node is a corner of
// (-1 for wire points and perimeter corners), and `cornerOf` which corner
// of it (0 for the others).
std::vector<TransitNode> baseNodes(const Environment& environment,
                                   std::vector<std::int32_t>* obstacleOf = nullptr,
                                   std::vector<std::uint32_t>* cornerOf = nullptr) {
    std::vector<TransitNode> candidates;
    std::vector<std::int32_t> candidateObstacle;
    std::vector<std::uint32_t> candidateCorner;
    const std::vector<Point>& wire = environment.virtualWire.points;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        candidates.push_back(
            TransitNode{wire[i].x, wire[i].y, true, static_cast<std::uint64_t>(i)});
    }
    candidateObstacle.assign(candidates.size(), -1);
    candidateCorner.assign(candidates.size(), 0);
    for (std::size_t o = 0; o < environment.obstacles.size(); ++o) {
        const std::vector<Point>& corners = environment.obstacles[o].points;
        for (std::size_t i = 0; i < corners.size(); ++i) {
            candidates.push_back(TransitNode{corners[i].x, corners[i].y, false, 0});
            candidateObstacle.push_back(static_cast<std::int32_t>(o));
            candidateCorner.push_back(static_cast<std::uint32_t>(i));
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
        if (cornerOf != nullptr)
            cornerOf->push_back(c < candidateCorner.size() ? candidateCorner[c] : 0);
    }
    return nodes;
}

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

// The search that tests every move it may accept, and can keep the edges it
// accepts.
class FullTransitSearch : public TransitSearch {
public:
    FullTransitSearch(const TransitContext& context, TransitCache& cache, double startX,
                      double startY, double targetX, double targetY)
        : TransitSearch(context, cache, startX, startY, targetX, targetY) {
        recordOfNode_.assign(baseCount_ + 1, -1);
        verdict_.assign(baseCount_ + 1, 0);
        alone_.assign(baseCount_, 0);
        for (std::size_t k = 0; k < baseCount_; ++k) {
            alone_[k] = context.nearStart[k + 1] - context.nearStart[k] == 1 &&
                        context.nearNodes[context.nearStart[k]] == k && !nearTarget_[k];
        }
    }

    std::vector<Point> run(std::vector<LineString>* searchEdges, TransitReach* reach) {
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
        const bool row = current.node >= 0;
        const std::size_t from = row ? static_cast<std::size_t>(current.node) : 0;
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
            const std::uint8_t known = row && k < baseCount_ ? cache_.sight.get(from, k) : 0;
            if (known != 0) {
                verdict_[k] = known;
                return;
            }
            pending_.push_back(static_cast<std::uint32_t>(k));
        };
        const std::vector<TransitNode>& nodes = context_.nodes;
        for (std::size_t k = 0; k < baseCount_; ++k) consider(k, nodes[k]);
        consider(baseCount_, target_);
        sortByDirection(cur.x, cur.y);
        for (std::uint32_t k : sorted_) {
            const bool free = sightTowards(cur.x, cur.y, k);
            const std::uint8_t v = free ? 1 : 2;
            verdict_[k] = v;
            if (row && k < baseCount_) keepAnswer(from, k, free);
        }
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

    std::size_t openCount_ = 0;
    std::vector<OpenEntry> heap_;
    std::vector<std::int32_t> recordOfNode_;
    // Per node: no other node, nor the target, lies within 1 mm of it.
    std::vector<std::uint8_t> alone_;
    std::vector<std::uint8_t> verdict_;
};

// The node rows of the obstacles, and the close peers of the nodes of
// obstacles with a chordApart: nodes within kSightShrink of each other are
// found in a grid of cells of that size.
void findChordPeers(TransitContext& context) {
    const std::size_t obstacles = context.chordApart.size();
    const std::size_t count = context.nodes.size();
    context.obstacleNodeStart.assign(obstacles, 0);
    context.obstacleNodeEnd.assign(obstacles, 0);
    for (std::size_t k = count; k-- > 0;) {
        const std::int32_t o = context.nodeObstacle[k];
        if (o < 0) continue;
        const std::size_t ob = static_cast<std::size_t>(o);
        if (context.obstacleNodeEnd[ob] == 0) context.obstacleNodeEnd[ob] = static_cast<std::uint32_t>(k + 1);
        context.obstacleNodeStart[ob] = static_cast<std::uint32_t>(k);
    }
    std::vector<std::vector<std::uint32_t>> peers(count);
    std::vector<std::pair<std::pair<std::int64_t, std::int64_t>, std::uint32_t>> cells;
    for (std::size_t o = 0; o < obstacles; ++o) {
        if (context.chordApart[o] == 0) continue;
        const std::uint32_t first = context.obstacleNodeStart[o];
        const std::uint32_t end = context.obstacleNodeEnd[o];
        cells.clear();
        auto cellOf = [](double v) { return static_cast<std::int64_t>(std::floor(v / kSightShrink)); };
        for (std::uint32_t k = first; k < end; ++k)
            cells.push_back({{cellOf(context.nodes[k].x), cellOf(context.nodes[k].y)}, k});
        std::sort(cells.begin(), cells.end());
        // Exactly the cases where chordThroughObstacle fails on its distance
        // alone: corners a and b at least chordApart apart both ways round,
        // so b within [a - (corners - apart), a - apart] or
        // [a + apart, a + (corners - apart)].  A cell's entries run in the
        // order of their nodes, and so of their corners: those two windows
        // are found by bisection, and the corners near a (the most, along a
        // ring of many corners) are never looked at.
        const std::size_t corners = context.scene->obstacles[o].points.size();
        const std::int64_t apart = context.chordApart[o];
        const std::int64_t span = static_cast<std::int64_t>(corners) - apart;
        for (std::uint32_t k = first; k < end; ++k) {
            const std::int64_t cx = cellOf(context.nodes[k].x);
            const std::int64_t cy = cellOf(context.nodes[k].y);
            const std::int64_t a = context.nodeCorner[k];
            const TransitNode& p = context.nodes[k];
            auto visit = [&](auto from, auto to, std::int64_t lo, std::int64_t hi) {
                if (lo > hi) return;
                auto cornerBelow = [&](const auto& entry, std::int64_t c) {
                    return static_cast<std::int64_t>(context.nodeCorner[entry.second]) < c;
                };
                for (auto it = std::lower_bound(from, to, lo, cornerBelow);
                     it != to && static_cast<std::int64_t>(context.nodeCorner[it->second]) <= hi;
                     ++it) {
                    const TransitNode& q = context.nodes[it->second];
                    if (distanceBetween(p.x, p.y, q.x, q.y) < kSightShrink)
                        peers[k].push_back(it->second);
                }
            };
            // (Two cells either way: the division may round across a border.)
            for (std::int64_t gx = cx - 2; gx <= cx + 2; ++gx) {
                for (std::int64_t gy = cy - 2; gy <= cy + 2; ++gy) {
                    const auto cell = std::make_pair(gx, gy);
                    const auto from = std::lower_bound(cells.begin(), cells.end(),
                                                       std::make_pair(cell, std::uint32_t{0}));
                    const auto to = std::upper_bound(
                        from, cells.end(), std::make_pair(cell, std::numeric_limits<std::uint32_t>::max()));
                    visit(from, to, a - span, a - apart);
                    visit(from, to, a + apart, a + span);
                }
            }
            std::sort(peers[k].begin(), peers[k].end());
        }
    }
    context.closePeerStart.assign(count + 1, 0);
    context.closePeers.clear();
    for (std::size_t k = 0; k < count; ++k) {
        context.closePeers.insert(context.closePeers.end(), peers[k].begin(), peers[k].end());
        context.closePeerStart[k + 1] = static_cast<std::uint32_t>(context.closePeers.size());
    }
}

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
    context.nodes = baseNodes(scene, &context.nodeObstacle, &context.nodeCorner);
    context.lookup = makeLookup(context.nodes);
    context.chordApart.resize(scene.obstacles.size());
    context.innerCentre.assign(scene.obstacles.size(), Point{0.0, 0.0});
    context.innerRadius.assign(scene.obstacles.size(), -1.0);
    for (std::size_t o = 0; o < scene.obstacles.size(); ++o) {
        const std::vector<Point>& ring = scene.obstacles[o].points;
        context.chordApart[o] = static_cast<std::uint32_t>(chordApart(ring));
        if (context.chordApart[o] != 0 && ring.size() >= kManyCorners)
            context.innerRadius[o] = innerDiscRadius(ring, kInnerDiscDepth, context.innerCentre[o]);
    }

    context.nodeDisc.assign(context.nodes.size(), -1);
    for (std::size_t k = 0; k < context.nodes.size(); ++k) {
        const std::int32_t o = context.nodeObstacle[k];
        if (o >= 0 && context.innerRadius[static_cast<std::size_t>(o)] > 0.0)
            context.nodeDisc[k] = o;
    }
    findChordPeers(context);

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
    if (searchEdges == nullptr) {
        std::vector<Point> path;
        if (findDeferredTransitPath(context, cache, startX, startY, targetX, targetY, reach, path))
            return path;
    }
    FullTransitSearch search(context, cache, startX, startY, targetX, targetY);
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
// A start within 1 mm of some nodes does not spoil this for searches from
// that same start: those nodes never get a record in any of them (the
// start's record is closed first and stands within 1 mm of them), so they
// lie outside D whatever the target (reach.sameStartOnly).
//
// So D is closed under accepted edges.  From another start S, the closure
// lies within D as well when every free move from S to a node ends in D
// (S is not on the wire: only free moves leave it) -- unless the old start
// stood for nodes near it, which S may reach and go on from.
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
        if (reach.sameStartOnly) return false;
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
