#include "planner/transit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <tuple>

#include "planner/constants.h"
#include "planner/geometry.h"

namespace Planner {

namespace {

// NaN never compares smaller, so a non-finite position is never "the same"
// as anything, itself included.
bool samePosition(double ax, double ay, double bx, double by) {
    return distanceBetween(ax, ay, bx, by) < kSamePosition;
}

bool isFinitePosition(double x, double y) { return std::isfinite(x) && std::isfinite(y); }

// Cells of twice the matching distance: positions within 1 mm of each other
// lie in the same or neighbouring cells.
constexpr double kNodeCell = 2.0 * kSamePosition;

bool onNodeGrid(double x, double y) {
    return std::fabs(x) <= kNodeGridLimit && std::fabs(y) <= kNodeGridLimit;
}

std::int64_t nodeCell(double v) { return static_cast<std::int64_t>(std::floor(v / kNodeCell)); }

bool cellBefore(const NodeCellEntry& a, const NodeCellEntry& b) {
    return std::tie(a.cx, a.cy, a.node) < std::tie(b.cx, b.cy, b.node);
}

// Calls visit(node) for every node of `lookup` that may lie within 1 mm of
// (x, y); the caller makes the exact test.
template <class Visit>
void forEachNodeNear(const NodeLookup& lookup, double x, double y, Visit&& visit) {
    if (!isFinitePosition(x, y)) return;
    for (std::uint32_t node : lookup.far) visit(node);
    if (!onNodeGrid(x, y)) {
        // Next to the grid's edge a grid node may still be this close.
        for (const NodeCellEntry& e : lookup.cells) visit(e.node);
        return;
    }
    const std::int64_t cx = nodeCell(x);
    const std::int64_t cy = nodeCell(y);
    for (std::int64_t i = cx - 1; i <= cx + 1; ++i) {
        const NodeCellEntry lo{i, cy - 1, 0};
        auto it = std::lower_bound(lookup.cells.begin(), lookup.cells.end(), lo, cellBefore);
        for (; it != lookup.cells.end() && it->cx == i && it->cy <= cy + 1; ++it) visit(it->node);
    }
}

void addToLookup(NodeLookup& lookup, const TransitNode& node, std::uint32_t id) {
    if (!isFinitePosition(node.x, node.y)) return;
    if (!onNodeGrid(node.x, node.y)) {
        lookup.far.push_back(id);
        return;
    }
    lookup.cells.push_back({nodeCell(node.x), nodeCell(node.y), id});
}

NodeLookup makeLookup(const std::vector<TransitNode>& nodes) {
    NodeLookup lookup;
    for (std::size_t k = 0; k < nodes.size(); ++k)
        addToLookup(lookup, nodes[k], static_cast<std::uint32_t>(k));
    std::sort(lookup.cells.begin(), lookup.cells.end(), cellBefore);
    return lookup;
}

// Wire points, then the corners that no earlier node lies within 1 mm of.
std::vector<TransitNode> baseNodes(const Environment& environment) {
    std::vector<TransitNode> candidates;
    const std::vector<Point>& wire = environment.virtualWire.points;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        candidates.push_back(
            TransitNode{wire[i].x, wire[i].y, true, static_cast<std::uint64_t>(i)});
    }
    for (const Polygon& obstacle : environment.obstacles) {
        for (const Point& corner : obstacle.points)
            candidates.push_back(TransitNode{corner.x, corner.y, false, 0});
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
        if (cache_.sight.size() != baseCount_) cache_.sight.assign(baseCount_, {});
    }

    std::vector<Point> run(std::vector<LineString>* searchEdges) {
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
        return {};
    }

private:
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

    bool sightBetween(std::int32_t from, double fromX, double fromY, std::size_t to) {
        const TransitNode& n = node(to);
        if (from < 0 || to >= baseCount_) {
            return isSegmentFree(*context_.sight, cache_.sightScratch, fromX, fromY, n.x, n.y);
        }
        std::vector<std::uint8_t>& row = cache_.sight[static_cast<std::size_t>(from)];
        if (row.empty()) row.assign(baseCount_, 0);
        if (row[to] == 0) {
            row[to] =
                isSegmentFree(*context_.sight, cache_.sightScratch, fromX, fromY, n.x, n.y) ? 1 : 2;
        }
        return row[to] == 1;
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
        return sightBetween(current.node, cur.x, cur.y, k);
    }

    // The first open record within 1 mm of node k: the earliest created;
    // -1 if there is none.
    std::int32_t openRecordNear(std::size_t k) const {
        std::int32_t known = -1;
        forEachNear(k, [&](std::size_t j) {
            const std::int32_t r = recordOfNode_[j];
            if (r >= 0 && records_[static_cast<std::size_t>(r)].open && (known < 0 || r < known))
                known = r;
        });
        return known;
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
        for (std::size_t k = 0; k <= baseCount_; ++k) {
            const TransitNode& n = node(k);
            // A non-finite position never matches a record, not even its
            // own, so stepping onto one could repeat without end.
            if (!isFinitePosition(n.x, n.y)) continue;
            if (samePosition(cur.x, cur.y, n.x, n.y)) continue;
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
    context.nodes = baseNodes(scene);
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
    return context;
}

std::vector<Point> findTransitPath(const TransitContext& context, TransitCache& cache,
                                   std::vector<LineString>* searchEdges, double startX,
                                   double startY, double targetX, double targetY) {
    Search search(context, cache, startX, startY, targetX, targetY);
    return search.run(searchEdges);
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
