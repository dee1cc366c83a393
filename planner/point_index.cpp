#include "planner/point_index.h"

#include <algorithm>
#include <cmath>

#include "planner/constants.h"
#include "planner/geometry.h"

namespace Planner {

namespace {

// No point in the box is nearer than this: each coordinate difference to a
// point in the box is at least the one to the box's side, and rounding is
// monotonic, so the distance computed for the point is at least this one.
double boxDistance(const PointTreeNode& node, const Point& from) {
    double dx = 0.0;
    double dy = 0.0;
    if (from.x < node.x0)
        dx = node.x0 - from.x;
    else if (from.x > node.x1)
        dx = from.x - node.x1;
    if (from.y < node.y0)
        dy = node.y0 - from.y;
    else if (from.y > node.y1)
        dy = from.y - node.y1;
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

struct Item {
    Point point;
    std::uint32_t id;
};

std::int32_t buildNode(PointTree& tree, std::vector<Item>& items, std::uint32_t begin,
                       std::uint32_t end, std::int32_t parent) {
    const std::int32_t index = static_cast<std::int32_t>(tree.nodes.size());
    tree.nodes.emplace_back();
    PointTreeNode node;
    node.begin = begin;
    node.end = end;
    node.parent = parent;
    node.remaining = end - begin;
    node.x0 = node.x1 = items[begin].point.x;
    node.y0 = node.y1 = items[begin].point.y;
    for (std::uint32_t i = begin; i < end; ++i) {
        node.x0 = std::min(node.x0, items[i].point.x);
        node.x1 = std::max(node.x1, items[i].point.x);
        node.y0 = std::min(node.y0, items[i].point.y);
        node.y1 = std::max(node.y1, items[i].point.y);
    }
    if (end - begin > kPointTreeLeafSize) {
        const std::uint32_t mid = begin + (end - begin) / 2;
        const bool alongX = node.x1 - node.x0 >= node.y1 - node.y0;
        std::nth_element(items.begin() + begin, items.begin() + mid, items.begin() + end,
                         [alongX](const Item& a, const Item& b) {
                             const double ka = alongX ? a.point.x : a.point.y;
                             const double kb = alongX ? b.point.x : b.point.y;
                             if (ka != kb) return ka < kb;
                             return a.id < b.id;
                         });
        node.left = buildNode(tree, items, begin, mid, index);
        node.right = buildNode(tree, items, mid, end, index);
    }
    tree.nodes[static_cast<std::size_t>(index)] = node;
    return index;
}

}  // namespace

PointTree buildPointTree(const std::vector<Point>& points) {
    PointTree tree;
    std::vector<Item> items;
    items.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y)) continue;
        items.push_back({points[i], static_cast<std::uint32_t>(i)});
    }
    const std::uint32_t count = static_cast<std::uint32_t>(items.size());
    tree.slotOf.assign(points.size(), UINT32_MAX);
    tree.present.assign(count, 1);
    tree.leafOf.assign(count, -1);
    if (count == 0) return tree;
    tree.nodes.reserve(2 * (count / kPointTreeLeafSize + 1));
    buildNode(tree, items, 0, count, -1);
    tree.points.reserve(count);
    tree.ids.reserve(count);
    for (const Item& item : items) {
        tree.points.push_back(item.point);
        tree.ids.push_back(item.id);
    }
    for (std::size_t k = 0; k < tree.nodes.size(); ++k) {
        const PointTreeNode& node = tree.nodes[k];
        if (node.left >= 0) continue;
        for (std::uint32_t i = node.begin; i < node.end; ++i)
            tree.leafOf[i] = static_cast<std::int32_t>(k);
    }
    for (std::uint32_t i = 0; i < count; ++i) tree.slotOf[tree.ids[i]] = i;
    return tree;
}

namespace {

// The box of the points below `node` not taken out (remaining > 0): of the
// leaf's present points, or of the children that hold some.
void shrinkBox(const PointTree& tree, PointTreeNode& node) {
    bool first = true;
    auto cover = [&node, &first](double x0, double y0, double x1, double y1) {
        if (first) {
            node.x0 = x0, node.y0 = y0, node.x1 = x1, node.y1 = y1;
            first = false;
            return;
        }
        node.x0 = std::min(node.x0, x0);
        node.y0 = std::min(node.y0, y0);
        node.x1 = std::max(node.x1, x1);
        node.y1 = std::max(node.y1, y1);
    };
    if (node.left < 0) {
        for (std::uint32_t i = node.begin; i < node.end; ++i) {
            if (tree.present[i]) cover(tree.points[i].x, tree.points[i].y, tree.points[i].x,
                                       tree.points[i].y);
        }
        return;
    }
    for (std::int32_t child : {node.left, node.right}) {
        const PointTreeNode& c = tree.nodes[static_cast<std::size_t>(child)];
        if (c.remaining > 0) cover(c.x0, c.y0, c.x1, c.y1);
    }
}

bool sameBox(const PointTreeNode& a, const PointTreeNode& b) {
    return a.x0 == b.x0 && a.y0 == b.y0 && a.x1 == b.x1 && a.y1 == b.y1;
}

}  // namespace

// Boxes shrink to the points left in them, so that a walk does not open
// nodes whose nearby points are all taken: a box still holds every point
// left below it, and its sides are coordinates of such points, so the
// distance bound of boxDistance holds as before and the walk hands out the
// same points in the same order.
void removePoint(PointTree& tree, std::uint32_t id) {
    if (id >= tree.slotOf.size()) return;
    const std::uint32_t slot = tree.slotOf[id];
    if (slot == UINT32_MAX || !tree.present[slot]) return;
    tree.present[slot] = 0;
    bool shrinking = true;
    for (std::int32_t k = tree.leafOf[slot]; k >= 0;
         k = tree.nodes[static_cast<std::size_t>(k)].parent) {
        PointTreeNode& node = tree.nodes[static_cast<std::size_t>(k)];
        --node.remaining;
        if (!shrinking || node.remaining == 0) continue;
        const PointTreeNode before = node;
        shrinkBox(tree, node);
        shrinking = !sameBox(before, node);
    }
}

void startWalk(const PointTree& tree, const Point& from, PointWalk& walk) {
    walk.from = from;
    walk.heap.clear();
    if (tree.nodes.empty() || tree.nodes[0].remaining == 0) return;
    walk.heap.push_back({boxDistance(tree.nodes[0], from), 0, false});
}

bool nextNearest(const PointTree& tree, PointWalk& walk, std::uint32_t& id, double& distance) {
    auto later = [&tree](const WalkEntry& a, const WalkEntry& b) {
        return laterInWalk(tree, a, b);
    };
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
            walk.heap.push_back(
                {boxDistance(c, walk.from), static_cast<std::uint32_t>(child), false});
            std::push_heap(walk.heap.begin(), walk.heap.end(), later);
        }
    }
    return false;
}

}  // namespace Planner
