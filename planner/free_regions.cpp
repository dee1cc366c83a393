#include "planner/free_regions.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>

#include "clipper2/clipper.h"
#include "planner/constants.h"
#include "planner/node_lookup.h"

namespace Planner {

namespace {

using Clipper2Lib::FillRule;
using Clipper2Lib::Path64;
using Clipper2Lib::Paths64;
using Clipper2Lib::PolyPath64;
using Clipper2Lib::PolyTree64;

std::int64_t hopCell(double v) { return static_cast<std::int64_t>(std::floor(v / kShortMoveReach)); }

bool cellBefore(const FreeRegions::Cell& a, const FreeRegions::Cell& b) {
    if (a.cx != b.cx) return a.cx < b.cx;
    if (a.cy != b.cy) return a.cy < b.cy;
    return a.node < b.node;
}

// Calls visit(k) for every node closer to (x, y) than kShortMoveReach.
template <class Visit>
void forEachNodeWithinHop(const FreeRegions& regions, const TransitContext& context, double x,
                          double y, Visit&& visit) {
    const std::int64_t cx = hopCell(x);
    const std::int64_t cy = hopCell(y);
    for (std::int64_t i = cx - 1; i <= cx + 1; ++i) {
        const FreeRegions::Cell lo{i, cy - 1, 0};
        auto it = std::lower_bound(regions.cells.begin(), regions.cells.end(), lo, cellBefore);
        for (; it != regions.cells.end() && it->cx == i && it->cy <= cy + 1; ++it) {
            const TransitNode& n = context.nodes[it->node];
            if (distanceBetween(x, y, n.x, n.y) < kShortMoveReach) visit(it->node);
        }
    }
}

void makePositive(Paths64& paths);

// Metres to the regions' grid and back (finer than the planner's, so that
// its rounding stays far below the margin).
bool toRegionGrid(double metres, std::int64_t& units) {
    const double scaled = std::round(metres * kRegionGridScale);
    if (!(std::fabs(scaled) <= kRegionGridLimit)) return false;
    units = static_cast<std::int64_t>(scaled);
    return true;
}

// The frame the regions are computed in: the scene turned by an angle
// (cosine c, sine s).  The sweeps that join and grow outlines take time
// growing with the edges a horizontal line meets; along a densely recorded
// outline whose side runs nearly horizontal (a lawn's edge along the lanes,
// recorded every few centimetres with centimetres of noise) that is most of
// the side at every one of its vertices.  Turning the scene (distances stay;
// the rounding stays far below the margins) avoids that.
struct RegionFrame {
    double c = 1.0;
    double s = 0.0;
};

// The sweeps' work in a frame, roughly: for every edge, the vertices whose
// height lies within the edge's.
double sweepWork(const Environment& scene, const RegionFrame& frame) {
    std::vector<double> heights;
    auto height = [&frame](const Point& p) { return p.x * frame.s + p.y * frame.c; };
    auto eachRing = [&scene](auto&& visit) {
        visit(scene.perimeter.points);
        for (const Polygon& obstacle : scene.obstacles) visit(obstacle.points);
    };
    eachRing([&](const std::vector<Point>& ring) {
        for (const Point& p : ring) heights.push_back(height(p));
    });
    std::sort(heights.begin(), heights.end());
    double work = 0.0;
    eachRing([&](const std::vector<Point>& ring) {
        for (std::size_t i = 0; i < ring.size(); ++i) {
            const double a = height(ring[i]);
            const double b = height(ring[(i + 1) % ring.size()]);
            const auto lo = std::lower_bound(heights.begin(), heights.end(), std::min(a, b));
            const auto hi = std::upper_bound(heights.begin(), heights.end(), std::max(a, b));
            work += static_cast<double>(hi - lo);
        }
    });
    return work;
}

// The scene's own frame, unless its sweep work is many times its edges and
// a turned one needs less than half of it (the least of a few).
RegionFrame chooseFrame(const Environment& scene) {
    std::size_t edges = scene.perimeter.points.size();
    for (const Polygon& obstacle : scene.obstacles) edges += obstacle.points.size();
    const RegionFrame own;
    const double ownWork = sweepWork(scene, own);
    if (!(ownWork > kRegionFrameWorkPerEdge * static_cast<double>(edges))) return own;
    RegionFrame best = own;
    double bestWork = ownWork / kRegionFrameGain;
    for (double angle : kRegionFrameAngles) {
        const RegionFrame frame{std::cos(angle), std::sin(angle)};
        const double work = sweepWork(scene, frame);
        if (work < bestWork) best = frame, bestWork = work;
    }
    return best;
}

bool gridPaths(const std::vector<Point>& ring, const RegionFrame& frame, Paths64& out) {
    if (ring.size() < 3) return true;
    Path64 path;
    path.reserve(ring.size());
    for (const Point& p : ring) {
        std::int64_t x = 0, y = 0;
        if (!toRegionGrid(p.x * frame.c - p.y * frame.s, x) ||
            !toRegionGrid(p.x * frame.s + p.y * frame.c, y))
            return false;
        path.emplace_back(x, y);
    }
    out.push_back(std::move(path));
    return true;
}

Paths64 offsetPaths(const std::vector<Paths64>& groups, double metres,
                    Clipper2Lib::EndType end = Clipper2Lib::EndType::Polygon) {
    Clipper2Lib::ClipperOffset offsetter;
    for (const Paths64& group : groups)
        offsetter.AddPaths(group, Clipper2Lib::JoinType::Miter, end);
    Paths64 solution;
    offsetter.Execute(metres * kRegionGridScale, solution);
    return solution;
}

// A path of the grid as a ring in the scene's frame.
std::vector<Point> ringOf(const Path64& path, const RegionFrame& frame) {
    std::vector<Point> ring;
    ring.reserve(path.size());
    for (const auto& p : path) {
        const double x = static_cast<double>(p.x) / kRegionGridScale;
        const double y = static_cast<double>(p.y) / kRegionGridScale;
        ring.emplace_back(x * frame.c + y * frame.s, y * frame.c - x * frame.s);
    }
    return ring;
}

// Every outline of the tree with its holes is a part; the outlines inside
// its holes are parts of their own.
void collectParts(const PolyPath64& outline, std::vector<Paths64>& parts) {
    Paths64 part{outline.Polygon()};
    for (const auto& hole : outline) {
        part.push_back(hole->Polygon());
        for (const auto& inner : *hole) collectParts(*inner, parts);
    }
    parts.push_back(std::move(part));
}

// Outlines counter-clockwise (positive area), holes clockwise, as the
// winding counts below take them.
void makePositive(Paths64& paths) {
    if (Clipper2Lib::Area(paths) >= 0.0) return;
    for (Path64& path : paths) std::reverse(path.begin(), path.end());
}

// A part grown by the reach, as a region (none when nothing is left).
void addRegion(const Paths64& part, const RegionFrame& frame,
               std::vector<FreeRegions::Region>& regions) {
    Clipper2Lib::ClipperOffset offsetter(2.0, kRegionArcTolerance * kRegionGridScale);
    offsetter.AddPaths(part, Clipper2Lib::JoinType::Round, Clipper2Lib::EndType::Polygon);
    Paths64 grown;
    offsetter.Execute(kRegionReach * kRegionGridScale, grown);
    makePositive(grown);
    FreeRegions::Region region;
    for (const Path64& path : grown) {
        if (path.size() < 3) continue;
        region.rings.push_back(ringOf(path, frame));
        region.ringBoxes.push_back(boxOf(region.rings.back()));
        region.ringBands.push_back(buildRingBands(region.rings.back(), kReachMaxBands));
    }
    if (region.rings.empty()) return;
    region.box = region.ringBoxes.front();
    for (const Box& b : region.ringBoxes) {
        region.box.x0 = std::min(region.box.x0, b.x0);
        region.box.y0 = std::min(region.box.y0, b.y0);
        region.box.x1 = std::max(region.box.x1, b.x1);
        region.box.y1 = std::max(region.box.y1, b.y1);
    }
    regions.push_back(std::move(region));
}

// Calls visit(r) for every region holding (x, y).  Only positions well
// inside a region are asked for where it matters (within kShortMoveReach of
// a part, so more than the reach less that inside), so points on an outline
// may go either way.
template <class Visit>
void forEachRegionAt(const FreeRegions& regions, double x, double y, Visit&& visit) {
    for (std::size_t r = 0; r < regions.regions.size(); ++r)
        if (regionHolds(regions.regions[r], x, y)) visit(static_cast<std::uint32_t>(r));
}

std::uint32_t findClass(std::vector<std::uint32_t>& parent, std::uint32_t e) {
    while (parent[e] != e) {
        parent[e] = parent[parent[e]];
        e = parent[e];
    }
    return e;
}

void join(std::vector<std::uint32_t>& parent, std::uint32_t a, std::uint32_t b) {
    a = findClass(parent, a);
    b = findClass(parent, b);
    if (a != b) parent[std::max(a, b)] = std::min(a, b);
}

bool positionUsable(double x, double y) {
    return isFinitePosition(x, y) && withinIndexLimit(x, y);
}

// The classes a search may step through from (x, y): the regions it lies
// in, and the nodes a short move reaches with the regions they lie in.
std::vector<std::uint32_t> classesAround(const FreeRegions& regions,
                                         const TransitContext& context, double x, double y) {
    std::vector<std::uint32_t> classes;
    auto add = [&](std::uint32_t e) { classes.push_back(regions.classOf[e]); };
    forEachRegionAt(regions, x, y, add);
    const std::uint32_t regionCount = static_cast<std::uint32_t>(regions.regions.size());
    forEachNodeWithinHop(regions, context, x, y, [&](std::uint32_t k) {
        add(regionCount + k);
        const TransitNode& n = context.nodes[k];
        forEachRegionAt(regions, n.x, n.y, add);
    });
    std::sort(classes.begin(), classes.end());
    return classes;
}

// The parts of the lawn in the given frame, as regions: the lawn as the
// point-in-ring test reads it, grown, less the obstacles, shrunk.  False
// when an outline cannot be placed on the frame's grid.
bool addFreeParts(const Environment& scene, const RegionFrame& frame, FreeRegions& regions) {
    // The lawn as the point-in-ring test reads it (even-odd), and its
    // outline (moves along it count as on the lawn, also where it encloses
    // no area), grown; each obstacle likewise shrunk, and all joined.
    Paths64 outline;
    if (!gridPaths(scene.perimeter.points, frame, outline)) return false;
    const Paths64 lawn = Clipper2Lib::Union(
        offsetPaths({Clipper2Lib::Union(outline, FillRule::EvenOdd)}, kRegionMargin),
        offsetPaths({outline}, kRegionMargin, Clipper2Lib::EndType::Joined), FillRule::NonZero);
    std::vector<Paths64> obstacles;
    for (const Polygon& obstacle : scene.obstacles) {
        Paths64 one;
        if (!gridPaths(obstacle.points, frame, one)) return false;
        if (one.empty()) continue;
        obstacles.push_back(Clipper2Lib::Union(one, FillRule::EvenOdd));
        makePositive(obstacles.back());
    }
    const Paths64 deep = offsetPaths(obstacles, -kRegionMargin);
    PolyTree64 tree;
    {
        Clipper2Lib::Clipper64 clipper;
        clipper.AddSubject(lawn);
        clipper.AddClip(deep);
        clipper.Execute(Clipper2Lib::ClipType::Difference, FillRule::NonZero, tree);
    }
    std::vector<Paths64> parts;
    for (const auto& outline : tree) collectParts(*outline, parts);
    for (const Paths64& part : parts) addRegion(part, frame, regions.regions);
    return true;
}

// Two regions overlap only inside the box of one that is not the largest:
// nodes there may lie within the reach of two parts.  Those boxes, padded.
std::vector<Box> overlapBoxesOf(const FreeRegions& regions) {
    const std::uint32_t regionCount = static_cast<std::uint32_t>(regions.regions.size());
    std::vector<Box> overlapBoxes;
    std::size_t largest = 0;
    auto boxArea = [](const Box& b) { return (b.x1 - b.x0) * (b.y1 - b.y0); };
    for (std::size_t r = 1; r < regionCount; ++r)
        if (boxArea(regions.regions[r].box) > boxArea(regions.regions[largest].box)) largest = r;
    for (std::size_t r = 0; r < regionCount; ++r) {
        if (r == largest) continue;
        Box b = regions.regions[r].box;
        b.x0 -= kRegionBoxPad;
        b.y0 -= kRegionBoxPad;
        b.x1 += kRegionBoxPad;
        b.y1 += kRegionBoxPad;
        overlapBoxes.push_back(b);
    }
    return overlapBoxes;
}

// The regions in the given frame.
FreeRegions regionsInFrame(const TransitContext& context, const RegionFrame& frame) {
    FreeRegions regions;
    const Environment& scene = *context.scene;
    for (const TransitNode& n : context.nodes)
        if (!positionUsable(n.x, n.y)) return regions;
    if (!addFreeParts(scene, frame, regions)) return FreeRegions();

    const std::uint32_t regionCount = static_cast<std::uint32_t>(regions.regions.size());
    const std::size_t nodeCount = context.nodes.size();
    std::vector<std::uint32_t> parent(regionCount + nodeCount);
    std::iota(parent.begin(), parent.end(), 0u);
    auto joinAll = [&](std::uint32_t e, double x, double y) {
        forEachRegionAt(regions, x, y, [&](std::uint32_t r) { join(parent, e, r); });
    };
    const std::vector<Box> overlapBoxes = overlapBoxesOf(regions);

    regions.cells.reserve(nodeCount);
    for (std::size_t k = 0; k < nodeCount; ++k) {
        const TransitNode& n = context.nodes[k];
        regions.cells.push_back({hopCell(n.x), hopCell(n.y), static_cast<std::uint32_t>(k)});
    }
    std::sort(regions.cells.begin(), regions.cells.end(), cellBefore);

    for (std::size_t k = 0; k < nodeCount; ++k) {
        const TransitNode& n = context.nodes[k];
        const std::uint32_t e = regionCount + static_cast<std::uint32_t>(k);
        // Nodes that take a step other than a long move (short moves, the
        // wire), and nodes where long moves in two regions may meet.
        bool stepping = n.onWire;
        forEachNodeWithinHop(regions, context, n.x, n.y, [&](std::uint32_t j) {
            if (j == k) return;
            stepping = true;
            join(parent, e, regionCount + j);
        });
        if (n.onWire && k + 1 < nodeCount && context.nodes[k + 1].onWire &&
            context.nodes[k + 1].wireIndex == n.wireIndex + 1)
            join(parent, e, e + 1);
        for (std::size_t b = 0; b < overlapBoxes.size() && !stepping; ++b) {
            const Box& box = overlapBoxes[b];
            stepping = n.x >= box.x0 && n.x <= box.x1 && n.y >= box.y0 && n.y <= box.y1;
        }
        if (stepping) joinAll(e, n.x, n.y);
    }
    regions.classOf.resize(parent.size());
    for (std::size_t e = 0; e < parent.size(); ++e)
        regions.classOf[e] = findClass(parent, static_cast<std::uint32_t>(e));
    regions.usable = true;
    return regions;
}

}  // namespace

bool regionHolds(const FreeRegions::Region& region, double x, double y) {
    if (x < region.box.x0 || x > region.box.x1 || y < region.box.y0 || y > region.box.y1)
        return false;
    bool inside = false;
    for (std::size_t k = 0; k < region.rings.size(); ++k) {
        const Box& b = region.ringBoxes[k];
        if (y < b.y0 || y > b.y1 || x > b.x1) continue;
        // Only edges whose y-range holds y can cross the line through
        // (x, y); the band of y lists all of them (and some others, which
        // cross nothing), each edge (i - 1, i) once.
        const std::vector<Point>& ring = region.rings[k];
        const RingBands& bands = region.ringBands[k];
        std::uint32_t first = 0, last = 0;
        bandEdgesAt(bands, y, first, last);
        for (std::uint32_t e = first; e < last; ++e) {
            const std::size_t i = bands.edges[e];
            const Point& p = ring[i];
            const Point& q = ring[i == 0 ? ring.size() - 1 : i - 1];
            if ((p.y > y) != (q.y > y) && x < (q.x - p.x) * (y - p.y) / (q.y - p.y) + p.x)
                inside = !inside;
        }
    }
    return inside;
}

FreeRegions buildFreeRegions(const TransitContext& context) {
    return regionsInFrame(context, chooseFrame(*context.scene));
}

FreeRegions buildFreeRegions(const TransitContext& context, double frameAngle) {
    return regionsInFrame(context, RegionFrame{std::cos(frameAngle), std::sin(frameAngle)});
}

namespace {

// The cell along one axis of a reach area's grid holding coordinate v:
// monotone in v (rounding is), clamped to the grid (NaN to its first cell).
std::int32_t reachCell(double v, double origin, double size, std::int32_t cells) {
    const double c = std::floor((v - origin) / size);
    if (!(c >= 0.0)) return 0;
    return c >= static_cast<double>(cells - 1) ? cells - 1 : static_cast<std::int32_t>(c);
}

std::size_t reachCellAt(const StartReach::Area& area, double x, double y) {
    const std::int32_t cx = reachCell(x, area.box.x0, area.cellWidth, area.cellsX);
    const std::int32_t cy = reachCell(y, area.box.y0, area.cellHeight, area.cellsY);
    return static_cast<std::size_t>(cy) * static_cast<std::size_t>(area.cellsX) +
           static_cast<std::size_t>(cx);
}

// A ring whose bands have a box is listed in the cells its box, grown by
// the slack, meets: pointInRingBands answers false beyond that, and a point
// within it falls in one of those cells, the cell being monotone in each
// coordinate.  Other rings are listed everywhere.
void gridReachArea(StartReach::Area& area) {
    const std::size_t rings = area.rings.size();
    const double width = area.box.x1 - area.box.x0;
    const double height = area.box.y1 - area.box.y0;
    if (rings < kReachGridMinRings || !(width > 0.0) || !(height > 0.0) ||
        !std::isfinite(width) || !std::isfinite(height))
        return;
    const std::int32_t side = static_cast<std::int32_t>(std::min<double>(
        std::ceil(std::sqrt(static_cast<double>(rings))), kReachGridMaxSide));
    area.cellsX = area.cellsY = side;
    area.cellWidth = width / side;
    area.cellHeight = height / side;
    const std::size_t cells = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
    std::vector<std::vector<std::uint32_t>> listed(cells);
    for (std::size_t k = 0; k < rings; ++k) {
        const RingBands& b = area.bands[k];
        std::int32_t x0 = 0, x1 = side - 1, y0 = 0, y1 = side - 1;
        if (b.boxed) {
            x0 = reachCell(b.x0 - b.slack, area.box.x0, area.cellWidth, side);
            x1 = reachCell(b.x1 + b.slack, area.box.x0, area.cellWidth, side);
            y0 = reachCell(b.yMin - b.slack, area.box.y0, area.cellHeight, side);
            y1 = reachCell(b.yMax + b.slack, area.box.y0, area.cellHeight, side);
        }
        for (std::int32_t cy = y0; cy <= y1; ++cy)
            for (std::int32_t cx = x0; cx <= x1; ++cx)
                listed[static_cast<std::size_t>(cy) * static_cast<std::size_t>(side) +
                       static_cast<std::size_t>(cx)]
                    .push_back(static_cast<std::uint32_t>(k));
    }
    area.cellStart.assign(cells + 1, 0);
    for (std::size_t c = 0; c < cells; ++c)
        area.cellStart[c + 1] = area.cellStart[c] + static_cast<std::uint32_t>(listed[c].size());
    area.cellRings.reserve(area.cellStart[cells]);
    for (const std::vector<std::uint32_t>& cell : listed)
        area.cellRings.insert(area.cellRings.end(), cell.begin(), cell.end());
}

}  // namespace

StartReach buildStartReach(const FreeRegions& regions, const TransitContext& context,
                           double startX, double startY) {
    StartReach reach;
    if (!regions.usable || !positionUsable(startX, startY)) return reach;
    const std::vector<std::uint32_t> from = classesAround(regions, context, startX, startY);
    reach.usable = true;
    for (std::size_t r = 0; r < regions.regions.size(); ++r) {
        const FreeRegions::Region& region = regions.regions[r];
        if (!std::binary_search(from.begin(), from.end(), regions.classOf[r])) {
            reach.whole = false;
            continue;
        }
        StartReach::Area area;
        area.box = region.box;
        area.rings = region.rings;
        area.bands = region.ringBands;
        gridReachArea(area);
        reach.areas.push_back(std::move(area));
    }
    return reach;
}

bool reachMayHold(const StartReach& reach, double x, double y) {
    if (!reach.usable || reach.whole) return true;
    for (const StartReach::Area& area : reach.areas) {
        if (x < area.box.x0 || x > area.box.x1 || y < area.box.y0 || y > area.box.y1) continue;
        bool inside = false;
        if (area.cellsX > 0) {
            // The parity over the rings listed in the point's cell: the
            // others answer false.
            const std::size_t c = reachCellAt(area, x, y);
            for (std::uint32_t i = area.cellStart[c]; i < area.cellStart[c + 1]; ++i) {
                const std::uint32_t k = area.cellRings[i];
                if (pointInRingBands(area.bands[k], area.rings[k], x, y, true)) inside = !inside;
            }
        } else {
            for (std::size_t k = 0; k < area.rings.size(); ++k) {
                if (pointInRingBands(area.bands[k], area.rings[k], x, y, true)) inside = !inside;
            }
        }
        if (inside) return true;
    }
    return false;
}

bool regionsPart(const FreeRegions& regions, const TransitContext& context, double startX,
                 double startY, double targetX, double targetY) {
    if (!regions.usable) return false;
    if (!positionUsable(startX, startY) || !positionUsable(targetX, targetY)) return false;
    // A short move, or none, may join them directly.
    if (distanceBetween(startX, startY, targetX, targetY) < kShortMoveReach) return false;
    const std::vector<std::uint32_t> from = classesAround(regions, context, startX, startY);
    // The search ends at the first record within 1 mm of the target: a node
    // that close is within a short move of it.
    const std::vector<std::uint32_t> to = classesAround(regions, context, targetX, targetY);
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < from.size() && j < to.size()) {
        if (from[i] == to[j]) return false;
        if (from[i] < to[j])
            ++i;
        else
            ++j;
    }
    return true;
}

}  // namespace Planner
