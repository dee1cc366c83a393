#include "planner/point_index.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace Planner {

namespace {

constexpr std::uint32_t kLeafSize = 8;

double distanceBetween(const Point& a, const Point& b) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    return std::sqrt(dx * dx + dy * dy);
}

// No point in the box is nearer than this: each coordinate difference to a
// point in the box is at least the one to the box's side, and rounding is
// monotonic, so the distance computed for the point is at least this one.
double boxDistance(const PointTreeNode& node, const Point& from) {
    double dx = 0.0;
    double dy = 0.0;
    if (from.x < node.x0) dx = node.x0 - from.x;
    else if (from.x > node.x1) dx = from.x - node.x1;
    if (from.y < node.y0) dy = node.y0 - from.y;
    else if (from.y > node.y1) dy = from.y - node.y1;
    return std::sqrt(dx * dx + dy * dy);
}

// Heap order: least distance first; at equal distance boxes before points
// (a box may still hold a point of that distance with a lower id), and
// points by id.
bool laterInWalk(const PointTree& tree, const WalkEntry& a, const WalkEntry& b) {
    if (a.distance != b.distance) return a.distance > b.distance;
    if (a.isPoint != b.isPoint) return a.isPoint;
    if (!a.isPoint) return false;
    return tree.ids[a.item] > tree.ids[b.item];
}

std::int32_t buildNode(PointTree& tree, std::uint32_t begin, std::uint32_t end,
                       std::int32_t parent) {
    const std::int32_t index = static_cast<std::int32_t>(tree.nodes.size());
    tree.nodes.emplace_back();
    PointTreeNode node;
    node.begin = begin;
    node.end = end;
    node.parent = parent;
    node.remaining = end - begin;
    node.x0 = node.x1 = tree.points[begin].x;
    node.y0 = node.y1 = tree.points[begin].y;
    for (std::uint32_t i = begin; i < end; ++i) {
        node.x0 = std::min(node.x0, tree.points[i].x);
        node.x1 = std::max(node.x1, tree.points[i].x);
        node.y0 = std::min(node.y0, tree.points[i].y);
        node.y1 = std::max(node.y1, tree.points[i].y);
    }
    if (end - begin > kLeafSize) {
        const std::uint32_t mid = begin + (end - begin) / 2;
        const bool alongX = node.x1 - node.x0 >= node.y1 - node.y0;
        // Sort the points and their ids together by the split coordinate.
        std::vector<std::uint32_t> order(end - begin);
        std::iota(order.begin(), order.end(), begin);
        std::nth_element(order.begin(), order.begin() + (mid - begin), order.end(),
                         [&](std::uint32_t a, std::uint32_t b) {
                             const double ka = alongX ? tree.points[a].x : tree.points[a].y;
                             const double kb = alongX ? tree.points[b].x : tree.points[b].y;
                             if (ka != kb) return ka < kb;
                             return tree.ids[a] < tree.ids[b];
                         });
        std::vector<Point> points;
        std::vector<std::uint32_t> ids;
        for (std::uint32_t i : order) {
            points.push_back(tree.points[i]);
            ids.push_back(tree.ids[i]);
        }
        std::copy(points.begin(), points.end(), tree.points.begin() + begin);
        std::copy(ids.begin(), ids.end(), tree.ids.begin() + begin);
        node.left = buildNode(tree, begin, mid, index);
        node.right = buildNode(tree, mid, end, index);
    }
    tree.nodes[static_cast<std::size_t>(index)] = node;
    return index;
}

}  // namespace

PointTree buildPointTree(const std::vector<Point>& points) {
    PointTree tree;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y)) continue;
        tree.points.push_back(points[i]);
        tree.ids.push_back(static_cast<std::uint32_t>(i));
    }
    const std::uint32_t count = static_cast<std::uint32_t>(tree.points.size());
    tree.slotOf.assign(points.size(), UINT32_MAX);
    tree.present.assign(count, 1);
    tree.leafOf.assign(count, -1);
    if (count == 0) return tree;
    buildNode(tree, 0, count, -1);
    for (std::size_t k = 0; k < tree.nodes.size(); ++k) {
        const PointTreeNode& node = tree.nodes[k];
        if (node.left >= 0) continue;
        for (std::uint32_t i = node.begin; i < node.end; ++i) tree.leafOf[i] = static_cast<std::int32_t>(k);
    }
    for (std::uint32_t i = 0; i < count; ++i) tree.slotOf[tree.ids[i]] = i;
    return tree;
}

void removePoint(PointTree& tree, std::uint32_t id) {
    if (id >= tree.slotOf.size()) return;
    const std::uint32_t slot = tree.slotOf[id];
    if (slot == UINT32_MAX || !tree.present[slot]) return;
    tree.present[slot] = 0;
    for (std::int32_t k = tree.leafOf[slot]; k >= 0; k = tree.nodes[static_cast<std::size_t>(k)].parent)
        --tree.nodes[static_cast<std::size_t>(k)].remaining;
}

void startWalk(const PointTree& tree, const Point& from, PointWalk& walk) {
    walk.from = from;
    walk.heap.clear();
    if (tree.nodes.empty() || tree.nodes[0].remaining == 0) return;
    walk.heap.push_back({boxDistance(tree.nodes[0], from), 0, false});
}

bool nextNearest(const PointTree& tree, PointWalk& walk, std::uint32_t& id, double& distance) {
    auto later = [&tree](const WalkEntry& a, const WalkEntry& b) { return laterInWalk(tree, a, b); };
    while (!walk.heap.empty()) {
        std::pop_heap(walk.heap.begin(), walk.heap.end(), later);
        const WalkEntry top = walk.heap.back();
        walk.heap.pop_back();
        if (top.isPoint) {
            if (!tree.present[top.item]) continue;
            id = tree.ids[top.item];
            distance = top.distance;
            return true;
        }
        const PointTreeNode& node = tree.nodes[top.item];
        if (node.remaining == 0) continue;
        if (node.left < 0) {
            for (std::uint32_t i = node.begin; i < node.end; ++i) {
                if (!tree.present[i]) continue;
                walk.heap.push_back({distanceBetween(walk.from, tree.points[i]), i, true});
                std::push_heap(walk.heap.begin(), walk.heap.end(), later);
            }
            continue;
        }
        for (std::int32_t child : {node.left, node.right}) {
            const PointTreeNode& c = tree.nodes[static_cast<std::size_t>(child)];
            if (c.remaining == 0) continue;
            walk.heap.push_back({boxDistance(c, walk.from), static_cast<std::uint32_t>(child), false});
            std::push_heap(walk.heap.begin(), walk.heap.end(), later);
        }
    }
    return false;
}

}  // namespace Planner
