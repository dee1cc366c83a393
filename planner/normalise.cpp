#include "planner/normalise.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <utility>

#include "clipper2/clipper.h"
#include "planner/constants.h"
#include "planner/geometry.h"
#include "planner/contacts.h"
#include "planner/inset.h"
#include "planner/ring_meetings.h"

namespace Planner {

namespace {

using namespace normalise_detail;
using Clipper2Lib::ClipType;
using Clipper2Lib::Clipper64;
using Clipper2Lib::FillRule;
using Clipper2Lib::Path64;
using Clipper2Lib::Paths64;
using Clipper2Lib::Point64;

// The boxes of a ring's edges (edge i from point i to the next), grown by
// `grow` on every side.
std::vector<Box> edgeBoxes(const std::vector<Point>& ring, double grow) {
    std::vector<Box> boxes;
    boxes.reserve(ring.size());
    for (std::size_t i = 0; i < ring.size(); ++i) {
        Box e = boxOf(ring[i], ring[(i + 1) % ring.size()]);
        e.x0 -= grow, e.y0 -= grow, e.x1 += grow, e.y1 += grow;
        boxes.push_back(e);
    }
    return boxes;
}

// True if the outlines of two rings cross or touch, or one holds the other
// (the pairs of edges whose boxes meet found by a sweep).
bool ringsMeet(const std::vector<Point>& a, const std::vector<Point>& b) {
    const bool edgesMeet = forEachMeetingPairBetween(
        edgeBoxes(a, 0.0), edgeBoxes(b, 0.0), [&](std::size_t i, std::size_t j) {
            return segmentsMeet(a[i], a[(i + 1) % a.size()], b[j], b[(j + 1) % b.size()]);
        });
    return edgesMeet || isPointInPolygon(b, a[0].x, a[0].y) || isPointInPolygon(a, b[0].x, b[0].y);
}

// True if the outlines of two rings that do not meet come nearer than
// kSliverGap: the sliver between them is closed as a shared edge is.
bool ringsNear(const std::vector<Point>& a, const std::vector<Point>& b) {
    return forEachMeetingPairBetween(
        edgeBoxes(a, kSliverGap), edgeBoxes(b, 0.0), [&](std::size_t i, std::size_t j) {
            const Point& p = a[i];
            const Point& q = a[(i + 1) % a.size()];
            const Point& r = b[j];
            const Point& s = b[(j + 1) % b.size()];
            // The segments do not cross, so an end of one is nearest the other.
            const double d =
                std::min(std::min(edgeDistance(r, s, p.x, p.y), edgeDistance(r, s, q.x, q.y)),
                         std::min(edgeDistance(p, q, r.x, r.y), edgeDistance(p, q, s.x, s.y)));
            return d < kSliverGap;
        });
}

Polygon ringFromPath(const Path64& path, bool counterClockwise) {
    Polygon ring;
    for (const Point64& p : path) ring.points.emplace_back(fromGrid(p.x), fromGrid(p.y));
    orientRing(ring.points, counterClockwise);
    return ring;
}

Paths64 offsetOutlines(const Paths64& paths, double delta) {
    Clipper2Lib::ClipperOffset offsetter(kMergeMiterLimit);
    offsetter.AddPaths(paths, Clipper2Lib::JoinType::Miter, Clipper2Lib::EndType::Polygon);
    Paths64 solution;
    offsetter.Execute(delta, solution);
    return solution;
}

// ---- Lawn that obstacles enclose.

// True if some of the hole (a clockwise outline of a union) is lawn wider
// than a sliver.
bool holdsLawn(const Path64& hole, const Path64& lawn) {
    if (lawn.empty()) return false;
    Path64 area = hole;
    std::reverse(area.begin(), area.end());
    Clipper2Lib::Rect64 rect = Clipper2Lib::GetBounds(area);
    const Paths64 near = Clipper2Lib::RectClip(rect, lawn);
    if (near.empty()) return false;
    Clipper64 clipper;
    clipper.AddSubject(Paths64{area});
    clipper.AddClip(near);
    Paths64 common;
    clipper.Execute(ClipType::Intersection, FillRule::NonZero, common);
    if (common.empty()) return false;
    return !offsetOutlines(common, -kGridScale * kPocketMinWidth).empty();
}

// The outer outlines of a polygon with holes cut along the vertical lines
// through the holes' middles, each piece reaching kPocketCutOverlap beyond
// its cut lines into the next: no piece holds a hole, and together they
// cover the polygon with no seam between them.  A hole too narrow to be cut
// so comes out filled.
void cutRoundHoles(const Path64& outer, const Paths64& holes, Paths64& pieces) {
    const std::int64_t overlap = static_cast<std::int64_t>(kGridScale * kPocketCutOverlap);
    std::vector<std::int64_t> cuts;
    for (const Path64& hole : holes) {
        const Clipper2Lib::Rect64 box = Clipper2Lib::GetBounds(hole);
        cuts.push_back(box.left + (box.right - box.left) / 2);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    const Clipper2Lib::Rect64 bounds = Clipper2Lib::GetBounds(outer);
    Paths64 subject{outer};
    for (const Path64& hole : holes) subject.push_back(hole);
    for (std::size_t k = 0; k <= cuts.size(); ++k) {
        const std::int64_t left = k == 0 ? bounds.left - 1 : cuts[k - 1] - overlap;
        const std::int64_t right = k == cuts.size() ? bounds.right + 1 : cuts[k] + overlap;
        const Path64 slab{Point64(left, bounds.top - 1), Point64(right, bounds.top - 1),
                          Point64(right, bounds.bottom + 1), Point64(left, bounds.bottom + 1)};
        Clipper64 clipper;
        clipper.AddSubject(subject);
        clipper.AddClip(Paths64{slab});
        Paths64 part;
        clipper.Execute(ClipType::Intersection, FillRule::NonZero, part);
        for (Path64& p : part) {
            if (Clipper2Lib::Area(p) > 0.0) pieces.push_back(std::move(p));
        }
    }
}

// The grown union's outer outlines, where none of its holes holds lawn:
// those holes are filled, as nothing is lost.  Where one does, the outline
// round it is cut into overlapping pieces, so that the pocket stays lawn;
// the other holes are still filled.
void keepPockets(const Paths64& grown, const Path64& lawn, Paths64& outlines) {
    Paths64 outers;
    Paths64 kept;
    for (const Path64& p : grown) {
        const double area = Clipper2Lib::Area(p);
        if (area > 0.0)
            outers.push_back(p);
        else if (area < 0.0 && holdsLawn(p, lawn))
            kept.push_back(p);
    }
    if (kept.empty()) {
        outlines = std::move(outers);
        return;
    }
    Clipper64 clipper;
    clipper.AddSubject(outers);
    clipper.AddSubject(kept);
    Clipper2Lib::PolyTree64 tree;
    clipper.Execute(ClipType::Union, FillRule::NonZero, tree);
    std::vector<const Clipper2Lib::PolyPath64*> pending{&tree};
    while (!pending.empty()) {
        const Clipper2Lib::PolyPath64* node = pending.back();
        pending.pop_back();
        for (std::size_t i = 0; i < node->Count(); ++i) {
            const Clipper2Lib::PolyPath64* outer = node->Child(i);
            Paths64 holes;
            for (std::size_t j = 0; j < outer->Count(); ++j) {
                holes.push_back(outer->Child(j)->Polygon());
                pending.push_back(outer->Child(j));  // islands inside the pocket
            }
            if (holes.empty())
                outlines.push_back(outer->Polygon());
            else
                cutRoundHoles(outer->Polygon(), holes, outlines);
        }
    }
}

// Simplifying the union may cut a member's corner by more than the growth
// gives back; where a member reaches beyond the merged outlines they take it
// in, so that nothing of an obstacle as given lies outside them.  Outlines
// that hold every member stay as they are.
void coverMembers(const Paths64& members, Paths64& merged) {
    Clipper64 beyond;
    beyond.AddSubject(members);
    beyond.AddClip(merged);
    Paths64 rest;
    beyond.Execute(ClipType::Difference, FillRule::NonZero, rest);
    if (rest.empty()) return;
    Clipper64 clipper;
    clipper.AddSubject(merged);
    clipper.AddSubject(members);
    Paths64 covered;
    clipper.Execute(ClipType::Union, FillRule::NonZero, covered);
    merged = std::move(covered);
}

// ---- Crossings placed on a finer grid.
//
// Clipper2 places the crossing of two edges on the grid by truncation, up to
// a unit off in each axis; where outlines cross at a sharp angle, a vertex
// of the result can so lie over a millimetre on the wrong side of an outline.
// Where that happens the outlines are computed again on a grid
// kFineGridFactor times finer and their vertices rounded to the grid.

constexpr double kFineScale = kGridScale * static_cast<double>(kFineGridFactor);

// Scales a ring to the fine grid.  False if a coordinate does not fit on it
// with room for offsetting.
bool toFinePath(const std::vector<Point>& ring, Path64& path) {
    constexpr double kLimit = static_cast<double>(kGridLimit / 4);
    path.clear();
    for (const Point& p : ring) {
        const double x = std::round(kFineScale * p.x);
        const double y = std::round(kFineScale * p.y);
        if (!(std::fabs(x) < kLimit && std::fabs(y) < kLimit)) return false;
        path.emplace_back(static_cast<std::int64_t>(x), static_cast<std::int64_t>(y));
    }
    return true;
}

// A fine-grid coordinate rounded to the grid, halves away from zero.
std::int64_t fineToGrid(std::int64_t v) {
    constexpr std::int64_t half = kFineGridFactor / 2;
    return v >= 0 ? (v + half) / kFineGridFactor : -((half - v) / kFineGridFactor);
}

// Fine-grid outlines rounded to the grid, as the outlines of the area they
// enclose (rounding may fold a thin part over itself).
Paths64 fineToGridPaths(const Paths64& fine) {
    Paths64 rounded;
    for (const Path64& path : fine) {
        Path64 p;
        p.reserve(path.size());
        for (const Point64& q : path) p.emplace_back(fineToGrid(q.x), fineToGrid(q.y));
        rounded.push_back(std::move(p));
    }
    Clipper64 clipper;
    clipper.AddSubject(rounded);
    Paths64 clean;
    clipper.Execute(ClipType::Union, FillRule::NonZero, clean);
    return clean;
}

// True if some vertex of the outlines lies inside one of the rings, farther
// than kCrossingSlack from its outline.
bool cutsIntoRings(const Paths64& outlines, const std::vector<const std::vector<Point>*>& rings) {
    std::vector<Box> boxes;
    boxes.reserve(rings.size());
    for (const std::vector<Point>* ring : rings) boxes.push_back(boxOf(*ring));
    for (const Path64& path : outlines) {
        for (const Point64& q : path) {
            const double x = fromGrid(q.x);
            const double y = fromGrid(q.y);
            for (std::size_t k = 0; k < rings.size(); ++k) {
                const Box& b = boxes[k];
                if (x < b.x0 || x > b.x1 || y < b.y0 || y > b.y1) continue;
                if (isPointStrictlyInPolygon(*rings[k], x, y) &&
                    outlineDistance(*rings[k], x, y) > kCrossingSlack)
                    return true;
            }
        }
    }
    return false;
}

// Each ring on its own as the area it encloses (so that its orientation does
// not matter), on the grid or on the fine grid.  False if a ring cannot be
// placed there.
bool memberAreas(const std::vector<const std::vector<Point>*>& rings, bool fine,
                 Paths64& members, std::vector<Paths64>& areas) {
    for (const std::vector<Point>* ring : rings) {
        Path64 path;
        if (!(fine ? toFinePath(*ring, path) : toGridPath(*ring, path))) return false;
        Clipper64 single;
        single.AddSubject(Paths64{path});
        Paths64 area;
        single.Execute(ClipType::Union, FillRule::NonZero, area);
        members.insert(members.end(), area.begin(), area.end());
        areas.push_back(std::move(area));
    }
    return true;
}

// Members a sliver apart are joined by a bridge across it: where both come
// within kSliverBridgeReach.  Then they touch, and are sealed as touching
// members are.  `areas` holds each member's area at the given scale.
void addBridges(const std::vector<Paths64>& areas,
                const std::vector<std::pair<std::size_t, std::size_t>>& near, double scale,
                Paths64& members) {
    for (const auto& [i, j] : near) {
        Clipper64 bridge;
        bridge.AddSubject(offsetOutlines(areas[i], scale * kSliverBridgeReach));
        bridge.AddClip(offsetOutlines(areas[j], scale * kSliverBridgeReach));
        Paths64 span;
        bridge.Execute(ClipType::Intersection, FillRule::NonZero, span);
        for (Path64& p : span) {
            if (Clipper2Lib::Area(p) > 0.0) members.push_back(std::move(p));
        }
    }
}

// The union of the members, its steps simplified away, grown by
// kMergeGrowth and holding every member, at the given scale.
Paths64 grownUnion(const Paths64& members, double scale) {
    Clipper64 clipper;
    clipper.AddSubject(members);
    Paths64 merged;
    clipper.Execute(ClipType::Union, FillRule::NonZero, merged);
    // Where the members only touched, placing them on the grid may have left
    // a sliver between them; growing the union a little seals it.  Steps of a
    // few grid units where members met (a corner placed just beside the
    // other's edge) go first: offsetting them leaves notches.
    merged = offsetOutlines(Clipper2Lib::SimplifyPaths(merged, scale * kMergeSimplify),
                            scale * kMergeGrowth);
    coverMembers(members, merged);
    return merged;
}

// The area the rings enclose (each counted whole, as the non-zero rule
// counts a self-intersecting ring), as outer outlines on the grid; enclosed
// holes are filled unless they hold lawn (see keepPockets).  False if a ring
// cannot be placed on the grid.
bool unionOutlines(const std::vector<const std::vector<Point>*>& rings,
                   const std::vector<std::pair<std::size_t, std::size_t>>& near, const Path64& lawn,
                   Paths64& outlines) {
    Paths64 members;
    std::vector<Paths64> areas;
    if (!memberAreas(rings, false, members, areas)) return false;
    addBridges(areas, near, kGridScale, members);
    Paths64 merged = grownUnion(members, kGridScale);
    // A crossing of two members truncated deep into one of them: the union
    // from the fine grid places it within rounding of where it lies.
    Paths64 fineMembers;
    std::vector<Paths64> fineAreas;
    if (cutsIntoRings(merged, rings) && memberAreas(rings, true, fineMembers, fineAreas)) {
        addBridges(fineAreas, near, kFineScale, fineMembers);
        merged = fineToGridPaths(grownUnion(fineMembers, kFineScale));
        coverMembers(members, merged);
    }
    outlines.clear();
    keepPockets(merged, lawn, outlines);
    return true;
}

// Union-find over obstacle indices.
std::size_t findRoot(std::vector<std::size_t>& parent, std::size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
}

// ---- Obstacle edges on the lawn's edge.

struct Stretch {
    double from = 0.0;  // positions along the obstacle edge, 0 at P, 1 at Q
    double to = 0.0;
};

// The stretch of the obstacle edge P -> Q that lies on the perimeter edge
// E -> F with the obstacle on the lawn's side (the clockwise obstacle edge
// runs against the counter-clockwise perimeter edge), as positions along
// P -> Q (0 at P, 1 at Q).  False if there is none.
bool stretchOnPerimeterEdge(const Point& p, const Point& q, const Point& e, const Point& f,
                            Stretch& stretch) {
    const double dx = q.x - p.x;
    const double dy = q.y - p.y;
    const double dd = dx * dx + dy * dy;
    if (!(dd > 0.0) || !((f.x - e.x) * dx + (f.y - e.y) * dy < 0.0)) return false;
    std::vector<Point> overlap;
    if (!getCollinearOverlap(overlap, p.x, p.y, q.x, q.y, e.x, e.y, f.x, f.y)) return false;
    double a = ((overlap[0].x - p.x) * dx + (overlap[0].y - p.y) * dy) / dd;
    double b = ((overlap[1].x - p.x) * dx + (overlap[1].y - p.y) * dy) / dd;
    if (a > b) std::swap(a, b);
    stretch = Stretch{std::max(a, 0.0), std::min(b, 1.0)};
    return true;
}

void pushDistinct(std::vector<Point>& ring, const Point& p) {
    if (ring.empty() || ring.back().x != p.x || ring.back().y != p.y) ring.push_back(p);
}

// Seals an obstacle against the lawn's edge along the given stretches of its
// edges (stretches[i] for the edge from point i): each gets a strip
// kEdgeSealDepth deep on the far side, outside the lawn, so that the stretch
// runs through the obstacle rather than along two outlines with nothing
// between them.  Inside the lawn the obstacle keeps every point.
void sealAlong(Polygon& obstacle, std::vector<std::vector<Stretch>>& stretches) {
    const std::vector<Point>& ring = obstacle.points;
    const std::size_t n = ring.size();
    std::vector<Point> sealed;
    for (std::size_t i = 0; i < n; ++i) {
        const Point& p = ring[i];
        const Point& q = ring[(i + 1) % n];
        pushDistinct(sealed, p);
        std::vector<Stretch>& along = stretches[i];
        if (along.empty()) continue;
        std::sort(along.begin(), along.end(),
                  [](const Stretch& s, const Stretch& t) { return s.from < t.from; });
        const double dx = q.x - p.x;
        const double dy = q.y - p.y;
        const double length = std::sqrt(dx * dx + dy * dy);
        // Left of a clockwise outline is outside the obstacle, here outside the lawn.
        const double nx = -dy / length * kEdgeSealDepth;
        const double ny = dx / length * kEdgeSealDepth;
        for (const Stretch& s : along) {
            const Point a(p.x + s.from * dx, p.y + s.from * dy);
            const Point b(p.x + s.to * dx, p.y + s.to * dy);
            pushDistinct(sealed, s.from == 0.0 ? p : a);
            sealed.emplace_back(a.x + nx, a.y + ny);
            sealed.emplace_back(b.x + nx, b.y + ny);
            pushDistinct(sealed, s.to == 1.0 ? q : b);
        }
    }
    while (sealed.size() > 1 && sealed.back().x == sealed.front().x &&
           sealed.back().y == sealed.front().y)
        sealed.pop_back();
    obstacle.points = std::move(sealed);
}

}  // namespace

void dropRepeatedWirePoints(LineString& wire) {
    std::vector<Point>& points = wire.points;
    if (points.size() < 2) return;
    std::size_t kept = 1;
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (distanceBetween(points[i], points[kept - 1]) < kSamePosition) continue;
        points[kept++] = points[i];
    }
    points.resize(kept);
}

void sealObstaclesAgainstPerimeter(Environment& scene) {
    const std::vector<Point>& perimeter = scene.perimeter.points;
    // Without obstacles nothing is sealed: a long perimeter is not swept.
    if (scene.obstacles.empty() || !isUsableRing(perimeter)) return;
    // Every edge of the perimeter and of the usable obstacles, found in
    // pairs by a sweep: which obstacle (or the perimeter, -1) and which edge.
    struct EdgeRef {
        std::ptrdiff_t ring;
        std::size_t edge;
    };
    std::vector<Box> boxes;
    std::vector<EdgeRef> refs;
    const std::size_t m = perimeter.size();
    for (std::size_t i = 0; i < m; ++i) {
        boxes.push_back(boxOf(perimeter[i], perimeter[(i + 1) % m]));
        refs.push_back(EdgeRef{-1, i});
    }
    std::vector<Polygon>& obstacles = scene.obstacles;
    for (std::size_t k = 0; k < obstacles.size(); ++k) {
        const std::vector<Point>& ring = obstacles[k].points;
        if (!isUsableRing(ring) || isSelfIntersecting(ring)) continue;  // no side to tell
        for (std::size_t i = 0; i < ring.size(); ++i) {
            boxes.push_back(boxOf(ring[i], ring[(i + 1) % ring.size()]));
            refs.push_back(EdgeRef{static_cast<std::ptrdiff_t>(k), i});
        }
    }
    std::vector<std::vector<std::vector<Stretch>>> stretches(obstacles.size());
    forEachMeetingPair(boxes, [&](std::size_t a, std::size_t b) {
        const EdgeRef& ra = refs[a];
        const EdgeRef& rb = refs[b];
        if ((ra.ring < 0) == (rb.ring < 0)) return false;
        const EdgeRef& o = ra.ring < 0 ? rb : ra;
        const EdgeRef& pe = ra.ring < 0 ? ra : rb;
        const std::vector<Point>& ring = obstacles[static_cast<std::size_t>(o.ring)].points;
        Stretch stretch;
        if (stretchOnPerimeterEdge(ring[o.edge], ring[(o.edge + 1) % ring.size()],
                                   perimeter[pe.edge], perimeter[(pe.edge + 1) % m], stretch)) {
            std::vector<std::vector<Stretch>>& byEdge = stretches[static_cast<std::size_t>(o.ring)];
            if (byEdge.empty()) byEdge.resize(ring.size());
            byEdge[o.edge].push_back(stretch);
        }
        return false;
    });
    for (std::size_t k = 0; k < obstacles.size(); ++k) {
        if (!stretches[k].empty()) sealAlong(obstacles[k], stretches[k]);
    }
}

void mergeObstacles(Environment& scene) {
    std::vector<Polygon>& obstacles = scene.obstacles;
    const std::size_t count = obstacles.size();
    std::vector<std::size_t> usable;
    std::vector<Box> boxes;
    for (std::size_t i = 0; i < count; ++i) {
        if (!isUsableRing(obstacles[i].points)) continue;
        usable.push_back(i);
        boxes.push_back(boxOf(obstacles[i].points));
    }
    std::vector<std::size_t> parent(count);
    std::iota(parent.begin(), parent.end(), 0);
    std::vector<char> repair(count, 0);
    for (std::size_t i : usable) {
        if (isSelfIntersecting(obstacles[i].points)) repair[i] = 1;
    }
    // Pairs a sliver apart, found by boxes grown by half the sliver.
    std::vector<std::pair<std::size_t, std::size_t>> nearPairs;
    for (Box& b : boxes) {
        b.x0 -= kSliverGap / 2;
        b.y0 -= kSliverGap / 2;
        b.x1 += kSliverGap / 2;
        b.y1 += kSliverGap / 2;
    }
    forEachMeetingPair(boxes, [&](std::size_t a, std::size_t b) {
        const std::size_t i = usable[a];
        const std::size_t j = usable[b];
        const bool meet = ringsMeet(obstacles[i].points, obstacles[j].points);
        if (meet || ringsNear(obstacles[i].points, obstacles[j].points)) {
            repair[i] = repair[j] = 1;
            parent[findRoot(parent, j)] = findRoot(parent, i);
            if (!meet) nearPairs.emplace_back(std::min(i, j), std::max(i, j));
        }
        return false;
    });
    if (std::find(repair.begin(), repair.end(), 1) == repair.end()) return;
    // Lawn enclosed by a group is kept; off the grid, none is judged to be.
    Path64 lawn;
    if (!isUsableRing(scene.perimeter.points) || !toGridPath(scene.perimeter.points, lawn))
        lawn.clear();

    // Each group of meeting obstacles becomes its union, in the place of its
    // first member; the other obstacles keep their places and points.
    std::vector<Polygon> result;
    for (std::size_t i = 0; i < count; ++i) {
        if (!repair[i]) {
            result.push_back(std::move(obstacles[i]));
            continue;
        }
        const std::size_t root = findRoot(parent, i);
        bool first = true;
        for (std::size_t k = 0; k < i && first; ++k) first = !(repair[k] && findRoot(parent, k) == root);
        if (!first) continue;
        std::vector<const std::vector<Point>*> members;
        std::vector<std::size_t> place(count, 0);
        for (std::size_t k = i; k < count; ++k) {
            if (repair[k] && findRoot(parent, k) == root) {
                place[k] = members.size();
                members.push_back(&obstacles[k].points);
            }
        }
        std::vector<std::pair<std::size_t, std::size_t>> near;
        for (const auto& [a, b] : nearPairs) {
            if (findRoot(parent, a) == root) near.emplace_back(place[a], place[b]);
        }
        std::sort(near.begin(), near.end());
        Paths64 outlines;
        if (!unionOutlines(members, near, lawn, outlines)) {
            for (const std::vector<Point>* m : members) result.emplace_back(*m);
            continue;
        }
        for (const Path64& path : outlines) result.push_back(ringFromPath(path, false));
    }
    obstacles = std::move(result);
}

namespace {

Paths64 intersection(const Path64& subject, const Path64& clip) {
    Clipper64 clipper;
    clipper.AddSubject(Paths64{subject});
    clipper.AddClip(Paths64{clip});
    Paths64 common;
    clipper.Execute(ClipType::Intersection, FillRule::NonZero, common);
    return common;
}

// True if some vertex of the outlines lies outside the ring, farther than
// kCrossingSlack from its outline.
bool leavesRing(const Paths64& outlines, const std::vector<Point>& ring) {
    for (const Path64& path : outlines) {
        for (const Point64& q : path) {
            const double x = fromGrid(q.x);
            const double y = fromGrid(q.y);
            if (!isPointInPolygon(ring, x, y) && outlineDistance(ring, x, y) > kCrossingSlack)
                return true;
        }
    }
    return false;
}

// The parts of a mow area (`ring`, `path` on the grid) on the lawn
// (`perimeter`, `lawn` on the grid).  Where a crossing of their outlines is
// truncated far beyond the lawn, the parts come from the fine grid.
Paths64 clippedToLawn(const std::vector<Point>& ring, const Path64& path,
                      const std::vector<Point>& perimeter, const Path64& lawn) {
    Paths64 pieces = intersection(path, lawn);
    Path64 fineArea;
    Path64 fineLawn;
    if (leavesRing(pieces, perimeter) && toFinePath(ring, fineArea) &&
        toFinePath(perimeter, fineLawn))
        pieces = fineToGridPaths(intersection(fineArea, fineLawn));
    return pieces;
}

}  // namespace

void clipMowAreasToLawn(Environment& scene) {
    const std::vector<Point>& perimeter = scene.perimeter.points;
    if (!isUsableRing(perimeter) || scene.mowAreas.empty()) return;
    Path64 lawn;
    if (!toGridPath(perimeter, lawn)) return;
    std::vector<Polygon> result;
    bool changed = false;
    for (const Polygon& area : scene.mowAreas) {
        const std::vector<Point>& ring = area.points;
        bool inside = isUsableRing(ring);
        for (std::size_t i = 0; i < ring.size() && inside; ++i) {
            const Point& p = ring[i];
            const Point& q = ring[(i + 1) % ring.size()];
            inside = isSegmentInPolygon(perimeter, p.x, p.y, q.x, q.y);
        }
        Path64 path;
        if (inside || !isUsableRing(ring) || !toGridPath(ring, path)) {
            result.push_back(area);
            continue;
        }
        changed = true;
        Paths64 pieces = clippedToLawn(ring, path, perimeter, lawn);
        std::size_t kept = 0;
        for (const Path64& piece : pieces) {
            // Slivers along the lawn's edge, left where a mow area met it
            // outside, are not mow areas.
            if (!(Clipper2Lib::Area(piece) > 0.0) ||
                offsetOutlines(Paths64{piece}, -kGridScale * kMergeSimplify).empty())
                continue;
            result.push_back(ringFromPath(piece, true));
            ++kept;
        }
        // Nothing of it on the lawn: it stays a mow area that holds nothing,
        // so that the other mow areas still restrict the mowing.
        if (kept == 0) result.emplace_back();
    }
    if (changed) scene.mowAreas = std::move(result);
}

void normaliseScene(Environment& scene) {
    dropRepeatedWirePoints(scene.virtualWire);
    dropObstaclesOffLawn(scene);
    sealObstaclesAgainstPerimeter(scene);
    sealPinchPoints(scene);
    mergeObstacles(scene);
    clipMowAreasToLawn(scene);
}

}  // namespace Planner
