#include "planner/sight_index.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "planner/constants.h"
#include "planner/geometry.h"
#include "planner/sight_cells.h"

namespace Planner {

namespace {

using namespace SightCells;

// Compressed lists from (list, item) pairs.
void compress(std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs, std::size_t lists,
              std::vector<std::uint32_t>& start, std::vector<std::uint32_t>& items) {
    start.assign(lists + 1, 0);
    for (const auto& p : pairs) ++start[p.first + 1];
    for (std::size_t k = 0; k < lists; ++k) start[k + 1] += start[k];
    items.assign(pairs.size(), 0);
    std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
    for (const auto& p : pairs) items[next[p.first]++] = p.second;
}

using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// Every edge of the perimeter, then of each obstacle of 3 points or more.
void addEdges(const Environment& scene, SightIndex& index) {
    const std::vector<Point>& perimeter = scene.perimeter.points;
    auto addRing = [&index](const std::vector<Point>& ring, std::int32_t id) {
        const std::size_t n = ring.size();
        for (std::size_t i = 0; i < n; ++i) index.edges.push_back({ring[i], ring[(i + 1) % n], id});
    };
    addRing(perimeter, -1);
    for (std::size_t k = 0; k < scene.obstacles.size(); ++k) {
        if (scene.obstacles[k].points.size() >= 3)
            addRing(scene.obstacles[k].points, static_cast<std::int32_t>(k));
    }
}

// The grid over the edges, widened by twice the cell margin and a metre.
void placeGrid(const Environment& scene, SightIndex& index) {
    const std::vector<Point>& perimeter = scene.perimeter.points;
    double x0 = perimeter[0].x, x1 = x0, y0 = perimeter[0].y, y1 = y0;
    for (const SightEdge& e : index.edges) {
        x0 = std::min(x0, e.p.x), x1 = std::max(x1, e.p.x);
        y0 = std::min(y0, e.p.y), y1 = std::max(y1, e.p.y);
    }
    const double margin = 2.0 * kSightCellMargin + 1.0;
    x0 -= margin, y0 -= margin, x1 += margin, y1 += margin;
    const double width = x1 - x0;
    const double height = y1 - y0;
    const double cells = static_cast<double>(kSightCellsPerEdge * index.edges.size());
    double size = std::sqrt(width * height / cells);
    size =
        std::max({size, width / kSightGridMaxSide, height / kSightGridMaxSide, kSightGridMinCell});
    CellGrid& g = index.grid;
    g.x0 = x0;
    g.y0 = y0;
    g.size = size;
    g.cols = static_cast<std::int32_t>(
        std::min<double>(std::ceil(width / size) + 1, kSightGridMaxSide + 1));
    g.rows = static_cast<std::int32_t>(
        std::min<double>(std::ceil(height / size) + 1, kSightGridMaxSide + 1));
}

std::size_t cellCountOf(const CellGrid& g) {
    return static_cast<std::size_t>(g.cols) * g.rows;
}

// The perimeter edges near each cell, and the obstacles whose widened box
// meets it, with each obstacle's box and first edge.
void listCells(const Environment& scene, SightIndex& index, Pairs& pairs) {
    const std::vector<Point>& perimeter = scene.perimeter.points;
    const CellGrid& g = index.grid;
    const std::size_t cellCount = cellCountOf(g);
    for (std::size_t k = 0; k < perimeter.size(); ++k) {
        const SightEdge& e = index.edges[k];
        forEachCellNear(g, e.p.x, e.p.y, e.q.x, e.q.y, kSightCellMargin, [&](std::size_t cell) {
            pairs.emplace_back(static_cast<std::uint32_t>(cell), static_cast<std::uint32_t>(k));
            return false;
        });
    }
    compress(pairs, cellCount, index.cellStart, index.cellEdges);

    pairs.clear();
    index.obstacleBoxes.assign(scene.obstacles.size(), Box());
    index.obstacleEdgeBegin.assign(scene.obstacles.size(), 0);
    std::uint32_t nextEdge = static_cast<std::uint32_t>(perimeter.size());
    for (std::size_t k = 0; k < scene.obstacles.size(); ++k) {
        const std::vector<Point>& ring = scene.obstacles[k].points;
        index.obstacleEdgeBegin[k] = nextEdge;
        if (ring.size() < 3) continue;
        nextEdge += static_cast<std::uint32_t>(ring.size());
        const Box box = boxOf(ring);
        index.obstacleBoxes[k] = box;
        const double bx0 = box.x0, by0 = box.y0, bx1 = box.x1, by1 = box.y1;
        const std::int64_t c0 =
            clampIndex(cellCoordinate(bx0 - kSightCellMargin, g.x0, g.size), g.cols);
        const std::int64_t c1 =
            clampIndex(cellCoordinate(bx1 + kSightCellMargin, g.x0, g.size), g.cols);
        const std::int64_t r0 =
            clampIndex(cellCoordinate(by0 - kSightCellMargin, g.y0, g.size), g.rows);
        const std::int64_t r1 =
            clampIndex(cellCoordinate(by1 + kSightCellMargin, g.y0, g.size), g.rows);
        for (std::int64_t r = r0; r <= r1; ++r) {
            for (std::int64_t c = c0; c <= c1; ++c) {
                pairs.emplace_back(static_cast<std::uint32_t>(r * g.cols + c),
                                   static_cast<std::uint32_t>(k));
            }
        }
    }
    compress(pairs, cellCount, index.obstacleStart, index.cellObstacles);
}

// Bands over the perimeter, and over the obstacles of many corners,
// whose edges are also listed in the cells they come near.
void listBands(const Environment& scene, SightIndex& index, Pairs& pairs) {
    const std::vector<Point>& perimeter = scene.perimeter.points;
    const CellGrid& g = index.grid;
    const std::size_t cellCount = cellCountOf(g);
    index.perimeterBands =
        buildRingBands(perimeter, static_cast<std::int32_t>(kSightGridMaxSide));
    index.obstacleIsBig.assign(scene.obstacles.size(), 0);
    index.obstacleBands.assign(scene.obstacles.size(), RingBands());
    pairs.clear();
    for (std::size_t k = 0; k < scene.obstacles.size(); ++k) {
        const std::vector<Point>& ring = scene.obstacles[k].points;
        if (ring.size() < kManyCorners) continue;
        index.obstacleIsBig[k] = 1;
        index.obstacleBands[k] =
            buildRingBands(ring, static_cast<std::int32_t>(kSightGridMaxSide));
        const std::uint32_t first = index.obstacleEdgeBegin[k];
        for (std::uint32_t id = first; id < first + ring.size(); ++id) {
            const SightEdge& e = index.edges[id];
            forEachCellNear(g, e.p.x, e.p.y, e.q.x, e.q.y, kSightCellMargin, [&](std::size_t cell) {
                pairs.emplace_back(static_cast<std::uint32_t>(cell), id);
                return false;
            });
        }
    }
    compress(pairs, cellCount, index.bigEdgeStart, index.cellBigEdges);
}

// The edges by direction, and those too short to have one.
void sortDirections(SightIndex& index) {
    std::vector<std::pair<double, std::uint32_t>> byAngle;
    index.minEdgeLength = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < index.edges.size(); ++k) {
        const SightEdge& e = index.edges[k];
        const double ex = e.q.x - e.p.x;
        const double ey = e.q.y - e.p.y;
        const double length = std::sqrt(ex * ex + ey * ey);
        if (!(length >= kShortEdgeLength)) {
            index.shortEdges.push_back(static_cast<std::uint32_t>(k));
            continue;
        }
        index.minEdgeLength = std::min(index.minEdgeLength, length);
        byAngle.emplace_back(foldedAngle(ex, ey), static_cast<std::uint32_t>(k));
    }
    std::sort(byAngle.begin(), byAngle.end());
    for (const auto& a : byAngle) {
        index.angles.push_back(a.first);
        index.angleEdges.push_back(a.second);
    }
    // Rounding of the lengths: stay below the true least length.
    index.minEdgeLength *= 1.0 - 1e-9;
}

}  // namespace

SightIndex buildSightIndex(const Environment& scene) {
    SightIndex index;
    index.scene = &scene;
    const std::vector<Point>& perimeter = scene.perimeter.points;
    if (perimeter.size() < 3) return index;  // nothing is free but the shortest moves
    if (!withinIndexLimit(perimeter)) return index;
    for (const Polygon& obstacle : scene.obstacles) {
        if (obstacle.points.size() >= 3 && !withinIndexLimit(obstacle.points)) return index;
    }

    addEdges(scene, index);
    placeGrid(scene, index);
    Pairs pairs;
    listCells(scene, index, pairs);
    listBands(scene, index, pairs);
    sortDirections(index);
    index.usable = true;
    return index;
}

}  // namespace Planner
