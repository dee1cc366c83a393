#include "planner/transit_deferred.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "planner/constants.h"
#include "planner/transit_deferred_search.h"

namespace Planner {

namespace {

constexpr std::size_t kNoNode = static_cast<std::size_t>(-1);

}  // namespace

bool DeferredTransitSearch::canDefer() const {
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

std::vector<Point> DeferredTransitSearch::run(TransitReach* reach) {
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

void DeferredTransitSearch::settle(std::size_t s) {
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

std::pair<std::uint32_t, std::size_t> DeferredTransitSearch::creation(std::size_t s) {
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

void DeferredTransitSearch::popEntry() {
    std::pop_heap(heapD_.begin(), heapD_.end(), laterDeferred);
    heapD_.pop_back();
}

bool DeferredTransitSearch::selectDeferred(std::size_t& slot, std::size_t& creator) {
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

void DeferredTransitSearch::closeDeferred(std::uint32_t id) {
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

bool findDeferredTransitPath(const TransitContext& context, TransitCache& cache, double startX,
                             double startY, double targetX, double targetY, TransitReach* reach,
                             std::vector<Point>& path) {
    DeferredTransitSearch search(context, cache, startX, startY, targetX, targetY);
    if (!search.canDefer()) return false;
    path = search.run(reach);
    return true;
}

}  // namespace Planner
