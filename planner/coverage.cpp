#include "planner/coverage.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>

#include "clipper2/clipper.h"
#include "planner/constants.h"

namespace Planner {

namespace {

using Clipper2Lib::Path64;
using Clipper2Lib::Paths64;

// Grid coordinates stay well inside what the clipping takes.
constexpr double kGridLimit = 1e18;

Path64 toGrid(const std::vector<Point>& points) {
    Path64 path;
    path.reserve(points.size());
    for (const Point& p : points) {
        path.emplace_back(static_cast<std::int64_t>(std::llround(p.x * kCoverageGridScale)),
                          static_cast<std::int64_t>(std::llround(p.y * kCoverageGridScale)));
    }
    return path;
}

Ring fromGrid(const Path64& path) {
    Ring ring;
    ring.reserve(path.size());
    for (const Clipper2Lib::Point64& p : path) {
        ring.emplace_back(static_cast<double>(p.x) / kCoverageGridScale,
                          static_cast<double>(p.y) / kCoverageGridScale);
    }
    return ring;
}

bool onGrid(const std::vector<Point>& points) {
    for (const Point& p : points) {
        if (!(std::fabs(p.x) * kCoverageGridScale < kGridLimit &&
              std::fabs(p.y) * kCoverageGridScale < kGridLimit))
            return false;
    }
    return true;
}

// The union of the strips along the lines, swept with the lines turned by
// -angle (so that lines of that direction run along x) and turned back.
Paths64 sweepGroup(const std::vector<const std::vector<Point>*>& lines, double angle,
                   double delta, double arcTolerance) {
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    Paths64 paths;
    paths.reserve(lines.size());
    for (const std::vector<Point>* line : lines) {
        std::vector<Point> turned;
        turned.reserve(line->size());
        for (const Point& p : *line) turned.emplace_back(p.x * c + p.y * s, p.y * c - p.x * s);
        paths.push_back(toGrid(turned));
    }
    Paths64 swept = Clipper2Lib::InflatePaths(paths, delta, Clipper2Lib::JoinType::Round,
                                              Clipper2Lib::EndType::Round, 2.0, arcTolerance);
    if (angle == 0.0) return swept;
    for (Path64& path : swept) {
        for (Clipper2Lib::Point64& p : path) {
            const double x = static_cast<double>(p.x);
            const double y = static_cast<double>(p.y);
            p = Clipper2Lib::Point64(std::llround(x * c - y * s), std::llround(x * s + y * c));
        }
    }
    return swept;
}

// The chord error of `arcSegments` chords per quarter circle of radius `delta`.
double chordTolerance(double delta, int arcSegments) {
    return delta * (1.0 - std::cos(M_PI / (4.0 * arcSegments)));
}

// Outer rings of the tree below `node` with their holes, and so on down.
void collectParts(const Clipper2Lib::PolyPath64& node, std::vector<AreaPart>& parts) {
    for (const auto& child : node) {
        AreaPart part;
        part.outer = fromGrid(child->Polygon());
        for (const auto& hole : *child) {
            part.holes.push_back(fromGrid(hole->Polygon()));
            collectParts(*hole, parts);
        }
        parts.push_back(std::move(part));
    }
}

// The outline `from` with its holes, and so on down, as a child of `to`.
void copyOutline(const Clipper2Lib::PolyPath64& from, Clipper2Lib::PolyPath64& to) {
    Clipper2Lib::PolyPath64* outline = to.AddChild(from.Polygon());
    for (const auto& hole : from) {
        Clipper2Lib::PolyPath64* copied = outline->AddChild(hole->Polygon());
        for (const auto& island : *hole) copyOutline(*island, *copied);
    }
}

// Every ring of the outline `node` and below.
void outlineRings(const Clipper2Lib::PolyPath64& node, Paths64& rings) {
    rings.push_back(node.Polygon());
    for (const auto& child : node) outlineRings(*child, rings);
}

// `area` less `swept` (both under the non-zero rule) as outlines with
// their holes.  The clipping's sweep meets every edge that spans its line,
// so on a large area (the long edges of the laps round a park span most
// lines) it is cut into columns at the quantiles of the corners' x, each
// column clipped on its own; the outlines that reach a cut are joined up
// again in one union (corners where an edge crosses a cut move by half a
// grid unit at most).
void takeOff(const Paths64& area, const Paths64& swept, Clipper2Lib::PolyTree64& tree) {
    std::vector<std::int64_t> xs;
    for (const Paths64* paths : {&area, &swept}) {
        for (const Path64& path : *paths) {
            for (const Clipper2Lib::Point64& p : path) xs.push_back(p.x);
        }
    }
    const std::size_t columns =
        std::min<std::size_t>(kCoverageMaxColumns, std::max<std::size_t>(1, xs.size() / kCoverageColumnCorners));
    if (columns < 2) {
        Clipper2Lib::Clipper64 clipper;
        clipper.AddSubject(area);
        clipper.AddClip(swept);
        clipper.Execute(Clipper2Lib::ClipType::Difference, Clipper2Lib::FillRule::NonZero, tree);
        return;
    }
    std::sort(xs.begin(), xs.end());
    Clipper2Lib::Rect64 box = Clipper2Lib::GetBounds(area);
    const Clipper2Lib::Rect64 sweptBox = Clipper2Lib::GetBounds(swept);
    box.top = std::min(box.top, sweptBox.top) - 1;
    box.bottom = std::max(box.bottom, sweptBox.bottom) + 1;
    std::vector<std::int64_t> cuts = {xs.front() - 1};
    for (std::size_t k = 1; k < columns; ++k) cuts.push_back(xs[xs.size() * k / columns]);
    cuts.push_back(xs.back() + 1);
    Paths64 seams;
    for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
        if (cuts[k + 1] <= cuts[k]) continue;
        const Clipper2Lib::Rect64 column(cuts[k], box.top, cuts[k + 1], box.bottom);
        Clipper2Lib::Clipper64 clipper;
        clipper.AddSubject(Clipper2Lib::RectClip(column, area));
        clipper.AddClip(Clipper2Lib::RectClip(column, swept));
        Clipper2Lib::PolyTree64 part;
        clipper.Execute(Clipper2Lib::ClipType::Difference, Clipper2Lib::FillRule::NonZero, part);
        for (const auto& outline : part) {
            const Clipper2Lib::Rect64 bounds = Clipper2Lib::GetBounds(outline->Polygon());
            const bool reaches = (k > 0 && bounds.left <= cuts[k]) ||
                                 (k + 2 < cuts.size() && bounds.right >= cuts[k + 1]);
            if (reaches)
                outlineRings(*outline, seams);
            else
                copyOutline(*outline, tree);
        }
    }
    Clipper2Lib::Clipper64 joiner;
    joiner.AddSubject(seams);
    Clipper2Lib::PolyTree64 joined;
    joiner.Execute(Clipper2Lib::ClipType::Union, Clipper2Lib::FillRule::NonZero, joined);
    for (const auto& outline : joined) copyOutline(*outline, tree);
}

// The unswept area on the grid: the area's rings less the strips along
// the lines, as outlines with their holes (and islands in those, and so on).
void unsweptTree(const std::vector<Ring>& area, const std::vector<std::vector<Point>>& lines,
                 double halfWidth, int arcSegments, Clipper2Lib::PolyTree64& tree) {
    Paths64 subject;
    for (const Ring& ring : area) {
        if (ring.size() >= 3 && onGrid(ring)) subject.push_back(toGrid(ring));
    }
    // The union of many strips is slow where a sweep across the plane meets
    // many of them at once (long strips across the sweep) or where strips
    // cross.  Straight lines are therefore swept in groups by direction, each
    // turned to run along the sweep; other lines (laps) one by one, unturned.
    // Each group's area is oriented (winding 1 inside), so the groups are
    // taken off the area in one clipping under the non-zero rule, the area
    // first oriented so too.
    Paths64 swept;
    if (std::isfinite(halfWidth) && halfWidth > 0.0 && arcSegments > 0) {
        std::map<long, std::vector<const std::vector<Point>*>> groups;
        for (const std::vector<Point>& line : lines) {
            if (line.size() < 2 || !onGrid(line)) continue;
            bool moves = false;
            for (const Point& p : line) moves = moves || p.x != line.front().x || p.y != line.front().y;
            if (!moves) continue;  // a line of no length sweeps nothing
            // Other lines (laps) are swept one by one: each is small.
            long group = -1 - static_cast<long>(groups.size());
            if (line.size() == 2) {
                double direction = std::atan2(line[1].y - line[0].y, line[1].x - line[0].x);
                if (direction < 0.0) direction += M_PI;
                group = std::lround(direction / M_PI * kCoverageDirections) % kCoverageDirections;
            }
            groups[group].push_back(&line);
        }
        const double delta = halfWidth * kCoverageGridScale;
        const double arcTolerance = chordTolerance(delta, arcSegments);
        for (const auto& group : groups) {
            const double angle =
                group.first < 0 ? 0.0 : M_PI * static_cast<double>(group.first) / kCoverageDirections;
            Paths64 strips = sweepGroup(group.second, angle, delta, arcTolerance);
            swept.insert(swept.end(), std::make_move_iterator(strips.begin()),
                         std::make_move_iterator(strips.end()));
        }
    }
    Paths64 oriented;
    {
        Clipper2Lib::Clipper64 orienter;
        orienter.AddSubject(subject);
        orienter.Execute(Clipper2Lib::ClipType::Union, Clipper2Lib::FillRule::EvenOdd, oriented);
    }
    takeOff(oriented, swept, tree);
}

// The area of the outlines below `node` less their holes, and so on down.
double treeArea(const Clipper2Lib::PolyPath64& node) {
    double area = 0.0;
    for (const auto& child : node) {
        area += Clipper2Lib::Area(child->Polygon());
        for (const auto& hole : *child) area += Clipper2Lib::Area(hole->Polygon()) + treeArea(*hole);
    }
    return area;
}

// The outlines below `node` that can hold a disc of diameter `width` (by
// their box and area), each with its holes, and so on down: one entry per
// outline, as it opens on its own.
void wideOutlines(const Clipper2Lib::PolyPath64& node, double width, std::vector<Paths64>& wide) {
    const double discArea = M_PI * width * width / 4.0;
    for (const auto& child : node) {
        const Path64& outer = child->Polygon();
        const Clipper2Lib::Rect64 box = Clipper2Lib::GetBounds(outer);
        const bool holds = Clipper2Lib::Area(outer) >= discArea &&
                           static_cast<double>(box.Width()) >= width &&
                           static_cast<double>(box.Height()) >= width;
        const std::size_t own = wide.size();
        if (holds) wide.push_back({outer});
        for (const auto& hole : *child) {
            if (holds) wide[own].push_back(hole->Polygon());
            wideOutlines(*hole, width, wide);
        }
    }
}

}  // namespace

std::vector<AreaPart> unsweptParts(const std::vector<Ring>& area,
                                   const std::vector<std::vector<Point>>& lines, double halfWidth,
                                   int arcSegments) {
    Clipper2Lib::PolyTree64 tree;
    unsweptTree(area, lines, halfWidth, arcSegments, tree);
    std::vector<AreaPart> parts;
    collectParts(tree, parts);
    return parts;
}

UnsweptGaps unsweptGaps(const std::vector<Ring>& area, const std::vector<std::vector<Point>>& lines,
                        double halfWidth, int arcSegments, double minWidth) {
    Clipper2Lib::PolyTree64 tree;
    unsweptTree(area, lines, halfWidth, arcSegments, tree);
    UnsweptGaps out;
    out.unsweptArea = treeArea(tree) / (kCoverageGridScale * kCoverageGridScale);
    if (!(std::isfinite(minWidth) && minWidth > 0.0)) {
        collectParts(tree, out.gaps);
        return out;
    }
    // Shrunk by half the width and grown back, on the grid, each outline
    // with its holes on its own (the outlines are apart, and each opens
    // within itself; one at a time, the clipping meets only its own edges).
    // An outline that cannot hold a disc of that width opens to nothing and
    // is left out first, with its holes (so that every hole keeps its
    // outline, and the offsetting finds an outline lowest).
    const double width = minWidth * kCoverageGridScale;
    std::vector<Paths64> wide;
    wideOutlines(tree, width, wide);
    const double delta = width / 2.0;
    const double arcTolerance = chordTolerance(delta, kOpeningArcSegments);
    for (const Paths64& outline : wide) {
        Clipper2Lib::ClipperOffset shrink;
        shrink.ArcTolerance(arcTolerance);
        shrink.AddPaths(outline, Clipper2Lib::JoinType::Round, Clipper2Lib::EndType::Polygon);
        Paths64 core;
        shrink.Execute(-delta, core);
        if (core.empty()) continue;
        Clipper2Lib::ClipperOffset grow;
        grow.ArcTolerance(arcTolerance);
        grow.AddPaths(core, Clipper2Lib::JoinType::Round, Clipper2Lib::EndType::Polygon);
        Clipper2Lib::PolyTree64 opened;
        grow.Execute(delta, opened);
        collectParts(opened, out.gaps);
    }
    return out;
}

}  // namespace Planner
