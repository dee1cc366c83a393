#include "planner/transit_search.h"

#include <algorithm>
#include <cmath>

#include "planner/constants.h"
#include "planner/sight_index.h"

namespace Planner {

TransitSearch::TransitSearch(const TransitContext& context, TransitCache& cache, double startX,
                             double startY, double targetX, double targetY)
    : context_(context),
      cache_(cache),
      baseCount_(context.nodes.size()),
      target_{targetX, targetY, false, 0},
      startX_(startX),
      startY_(startY),
      // Costs can only be NaN when the start or the target is not finite;
      // the open list is then scanned as it stands.
      heapUsable_(isFinitePosition(startX, startY) && isFinitePosition(targetX, targetY)) {
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
    if (cache_.sight.size() != baseCount_) cache_.sight.reset(baseCount_);
    if (cache_.blockerTo.size() != baseCount_) cache_.blockerTo.assign(baseCount_, kNoEdge);
    if (cache_.entryTo.size() != baseCount_) cache_.entryTo.assign(baseCount_, kNoEdge);
}

void TransitSearch::describeReach(TransitReach& reach) const {
    reach.complete = heapUsable_;
    reach.sameStartOnly = false;
    reach.nodes.clear();
    reach.member.assign(baseCount_, 0);
    reach.start = Point(startX_, startY_);
    reach.checked = false;
    for (std::uint32_t id : closed_) {
        const Record& r = records_[id];
        if (r.node < 0) {
            forEachNodeNear(context_.lookup, startX_, startY_, [&](std::uint32_t k) {
                const TransitNode& n = context_.nodes[k];
                if (samePosition(n.x, n.y, startX_, startY_)) reach.sameStartOnly = true;
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

bool TransitSearch::sightBetween(std::int32_t from, double fromX, double fromY, std::size_t to) {
    const TransitNode& n = node(to);
    if (from < 0 || to >= baseCount_) return sightTest(fromX, fromY, n.x, n.y);
    const std::size_t f = static_cast<std::size_t>(from);
    std::uint8_t answer = cache_.sight.get(f, to);
    if (answer == 0) {
        answer = sightTest(fromX, fromY, n.x, n.y) ? 1 : 2;
        cache_.sight.set(f, to, answer);
    }
    return answer == 1;
}

void TransitSearch::keepAnswer(std::size_t from, std::size_t to, bool free) {
    cache_.sight.set(from, to, free ? 1 : 2);
}

bool TransitSearch::sightTest(double ax, double ay, double bx, double by) {
    return isSegmentFree(*context_.sight, cache_.sightScratch, ax, ay, bx, by);
}

SightHints TransitSearch::hintsTowards(std::size_t k) const {
    SightHints hints;
    if (k < baseCount_) {
        hints.edge = cache_.blockerTo[k];
        hints.obstacle = context_.nodeObstacle[k];
    }
    return hints;
}

SightHints TransitSearch::hintsTowards(double x, double y, std::size_t k) {
    SightHints hints = hintsTowards(k);
    // A corner of a round bed hidden behind the bed itself: the move enters
    // the bed on the far side.
    if (k < baseCount_ && hints.obstacle >= 0) {
        const std::size_t o = static_cast<std::size_t>(hints.obstacle);
        const std::vector<std::uint8_t>& big = context_.sight->obstacleIsBig;
        if (context_.chordApart[o] != 0 && o < big.size() && big[o] != 0) {
            // Moves are mostly tested in the order of their directions from
            // one position: the last one's edge lies near, if it is of this
            // obstacle; else the last move towards k's.
            const std::uint32_t first = context_.sight->obstacleEdgeBegin[o];
            const std::size_t corners = context_.scene->obstacles[o].points.size();
            const std::uint32_t guess = lastEntry_ >= first && lastEntry_ - first < corners
                                            ? lastEntry_
                                            : cache_.entryTo[k];
            hints.entry =
                entryEdgeAtCorner(*context_.sight, o, context_.nodeCorner[k], x, y, guess);
            if (hints.entry != kNoEdge) cache_.entryTo[k] = lastEntry_ = hints.entry;
        }
    }
    return hints;
}

bool TransitSearch::sightTowards(double x, double y, std::size_t k, bool hintsTried) {
    const TransitNode& n = node(k);
    SightHints hints = hintsTowards(x, y, k);
    hints.tried = hintsTried && k < baseCount_;
    const bool free = isSegmentFree(*context_.sight, cache_.sightScratch, x, y, n.x, n.y, hints);
    if (!free && k < baseCount_ && cache_.sightScratch.lastBlocker != kNoEdge)
        cache_.blockerTo[k] = cache_.sightScratch.lastBlocker;
    return free;
}

void TransitSearch::sortByDirection(double x, double y) {
    sectorCount_.assign(kDirectionSectors + 1, 0);
    sectorOf_.resize(pending_.size());
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        const TransitNode& n = node(pending_[i]);
        const std::uint32_t s = directionSector(n.x - x, n.y - y, kDirectionSectors);
        sectorOf_[i] = s;
        ++sectorCount_[s + 1];
    }
    for (std::uint32_t s = 0; s < kDirectionSectors; ++s) sectorCount_[s + 1] += sectorCount_[s];
    sorted_.resize(pending_.size());
    for (std::size_t i = 0; i < pending_.size(); ++i)
        sorted_[sectorCount_[sectorOf_[i]]++] = pending_[i];
}

std::uint32_t TransitSearch::directionSector(double vx, double vy, std::uint32_t sectors) {
    const double sum = std::fabs(vx) + std::fabs(vy);
    if (!(sum > 0.0)) return 0;
    const double p = vx / sum;
    const double a = (vy < 0.0 ? 3.0 + p : 1.0 - p) * (static_cast<double>(sectors) / 4.0);
    if (!(a > 0.0)) return 0;
    return std::min(static_cast<std::uint32_t>(a), sectors - 1);
}

std::vector<TransitSearch::PathPoint> TransitSearch::reconstruct(std::uint32_t last) const {
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

bool TransitSearch::sightAlong(const PathPoint& a, const PathPoint& b) {
    // Path points are records, whose positions are their nodes'.
    if (b.node < 0) {
        return isSegmentFree(*context_.sight, cache_.sightScratch, a.point.x, a.point.y,
                             b.point.x, b.point.y);
    }
    return sightBetween(a.node, a.point.x, a.point.y, static_cast<std::size_t>(b.node));
}

std::vector<Point> TransitSearch::shorten(const std::vector<PathPoint>& path) {
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

}  // namespace Planner
