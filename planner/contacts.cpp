#include "planner/contacts.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "clipper2/clipper.h"
#include "planner/constants.h"
#include "planner/geometry.h"
#include "planner/inset.h"
#include "planner/ring_meetings.h"

namespace Planner {

namespace {

using namespace normalise_detail;
using Clipper2Lib::Path64;
using Clipper2Lib::Paths64;

// ---- Obstacles off the lawn.

// True if the obstacle and the lawn share some area on the grid.
bool sharesLawn(const std::vector<Point>& perimeter, const Path64& lawn, const Box& lawnBox,
                const std::vector<Point>& ring) {
    const Box box = boxOf(ring);
    if (!boxesMeet(box, lawnBox)) return false;
    if (isPointStrictlyInPolygon(perimeter, ring[0].x, ring[0].y)) return true;
    Path64 path;
    if (!toGridPath(ring, path)) return true;
    Clipper2Lib::Rect64 rect = Clipper2Lib::GetBounds(path);
    rect.left -= 1;
    rect.top -= 1;
    rect.right += 1;
    rect.bottom += 1;
    const Paths64 near = Clipper2Lib::RectClip(rect, lawn);
    if (near.empty()) return false;
    Clipper2Lib::Clipper64 clipper;
    clipper.AddSubject(Paths64{path});
    clipper.AddClip(near);
    Paths64 common;
    clipper.Execute(Clipper2Lib::ClipType::Intersection, Clipper2Lib::FillRule::NonZero, common);
    return std::any_of(common.begin(), common.end(),
                       [](const Path64& p) { return Clipper2Lib::Area(p) != 0.0; });
}

// ---- Pinch points.

constexpr double kFullTurn = 6.283185307179586;

// One ring through a contact point: the ring, the vertex or edge the point
// lies on, and which side of the outline is closed to the mower there (an
// obstacle's inside, the lawn's outside).
struct Passage {
    std::size_t ring;   // index into the rings of sealPinchPoints
    std::size_t index;  // vertex index (atVertex) or edge index (from that vertex)
    bool atVertex;
};

struct Contact {
    Point at;
    Passage passage;
};

struct RingView {
    const std::vector<Point>* points;
    bool closedInside;  // obstacles: the inside is closed; the lawn: the outside
    bool counterClockwise;
};

// The neighbours of the contact along the ring: the last point before it and
// the first after it that differ from it.
bool neighbours(const std::vector<Point>& ring, const Point& c, const Passage& passage,
                Point& before, Point& after) {
    const std::size_t n = ring.size();
    auto differs = [&c](const Point& p) { return p.x != c.x || p.y != c.y; };
    // On an edge: its two ends; at a vertex: the vertices either side.
    std::size_t back = passage.atVertex ? (passage.index + n - 1) % n : passage.index;
    std::size_t ahead = (passage.index + 1) % n;
    for (std::size_t k = 0; k < n && !differs(ring[back]); ++k) back = (back + n - 1) % n;
    for (std::size_t k = 0; k < n && !differs(ring[ahead]); ++k) ahead = (ahead + 1) % n;
    before = ring[back];
    after = ring[ahead];
    return differs(before) && differs(after);
}

double turnOf(const Point& c, const Point& p) {
    const double a = std::atan2(p.y - c.y, p.x - c.x);
    return a < 0.0 ? a + kFullTurn : a;
}

// The number of separate open sectors round the contact point left by the
// closed sides of the rings through it.
std::size_t openSectors(const std::vector<RingView>& rings, const Point& c,
                        const std::vector<Passage>& passages) {
    struct Arc {
        double from, to;
    };
    std::vector<Arc> arcs;
    for (const Passage& passage : passages) {
        const RingView& view = rings[passage.ring];
        Point before, after;
        if (!neighbours(*view.points, c, passage, before, after)) continue;
        const double in = turnOf(c, before);
        const double out = turnOf(c, after);
        // Counter-clockwise from `out` to `in` lies the inside of a
        // counter-clockwise ring, from `in` to `out` that of a clockwise one.
        const bool fromIn = view.counterClockwise != view.closedInside;
        const double start = fromIn ? in : out;
        double length = (fromIn ? out : in) - start;
        if (length < 0.0) length += kFullTurn;
        if (!(length > kPinchAngleTolerance)) continue;
        if (start + length <= kFullTurn) {
            arcs.push_back(Arc{start, start + length});
        } else {
            arcs.push_back(Arc{start, kFullTurn});
            arcs.push_back(Arc{0.0, start + length - kFullTurn});
        }
    }
    if (arcs.empty()) return 1;
    std::sort(arcs.begin(), arcs.end(), [](const Arc& a, const Arc& b) { return a.from < b.from; });
    std::vector<Arc> merged{arcs.front()};
    for (std::size_t k = 1; k < arcs.size(); ++k) {
        if (arcs[k].from <= merged.back().to + kPinchAngleTolerance)
            merged.back().to = std::max(merged.back().to, arcs[k].to);
        else
            merged.push_back(arcs[k]);
    }
    std::size_t open = merged.size() - 1;  // gaps between the merged arcs
    if (merged.front().from + kFullTurn > merged.back().to + kPinchAngleTolerance) ++open;
    return open;
}

Polygon sealSquare(const Point& c) {
    const double s = kPinchSealHalfSize;
    Polygon square;
    square.points = {Point(c.x - s, c.y - s), Point(c.x - s, c.y + s), Point(c.x + s, c.y + s),
                     Point(c.x + s, c.y - s)};  // clockwise, as obstacles are kept
    return square;
}

bool onEdge(const Point& p, const Point& q, const Point& r) {
    return sideOf(p, q, r) == 0 && withinBox(p, q, r);
}

// Every point where a vertex of one ring lies on the outline of another
// (ring 0 is the lawn: its edges are paired with the obstacles' only).
std::vector<Contact> contactPoints(const std::vector<RingView>& rings) {
    struct EdgeRef {
        std::size_t ring;
        std::size_t edge;
    };
    std::vector<Box> lawnBoxes, boxes;
    std::vector<EdgeRef> refs;
    for (std::size_t r = 0; r < rings.size(); ++r) {
        const std::vector<Point>& ring = *rings[r].points;
        for (std::size_t i = 0; i < ring.size(); ++i) {
            const Box e = boxOf(ring[i], ring[(i + 1) % ring.size()]);
            if (r == 0) {
                lawnBoxes.push_back(e);
                continue;
            }
            boxes.push_back(e);
            refs.push_back(EdgeRef{r, i});
        }
    }
    std::vector<Contact> contacts;
    auto meet = [&](const EdgeRef& ea, const EdgeRef& eb) {
        if (ea.ring == eb.ring) return false;
        for (int side = 0; side < 2; ++side) {
            const EdgeRef& v = side == 0 ? ea : eb;  // whose vertex
            const EdgeRef& e = side == 0 ? eb : ea;  // whose edge
            const std::vector<Point>& vr = *rings[v.ring].points;
            const std::vector<Point>& er = *rings[e.ring].points;
            const Point& p = er[e.edge];
            const Point& q = er[(e.edge + 1) % er.size()];
            // The edge's first vertex only: its last is the next edge's first.
            const Point& c = vr[v.edge];
            if (!onEdge(p, q, c)) continue;
            contacts.push_back(Contact{c, Passage{v.ring, v.edge, true}});
            const bool atP = c.x == p.x && c.y == p.y;
            contacts.push_back(Contact{c, Passage{e.ring, e.edge, atP}});
        }
        return false;
    };
    forEachMeetingPair(boxes, [&](std::size_t a, std::size_t b) { return meet(refs[a], refs[b]); });
    forEachMeetingPairBetween(lawnBoxes, boxes, [&](std::size_t a, std::size_t b) {
        return meet(EdgeRef{0, a}, refs[b]);
    });
    std::sort(contacts.begin(), contacts.end(), [](const Contact& a, const Contact& b) {
        if (a.at.x != b.at.x) return a.at.x < b.at.x;
        if (a.at.y != b.at.y) return a.at.y < b.at.y;
        if (a.passage.ring != b.passage.ring) return a.passage.ring < b.passage.ring;
        return a.passage.index < b.passage.index;
    });
    return contacts;
}

}  // namespace

void dropObstaclesOffLawn(Environment& scene) {
    const std::vector<Point>& perimeter = scene.perimeter.points;
    if (scene.obstacles.empty() || !isUsableRing(perimeter)) return;
    Path64 lawn;
    if (!toGridPath(perimeter, lawn)) return;
    const Box lawnBox = boxOf(perimeter);
    std::vector<Polygon>& obstacles = scene.obstacles;
    obstacles.erase(std::remove_if(obstacles.begin(), obstacles.end(),
                                   [&](const Polygon& obstacle) {
                                       return isUsableRing(obstacle.points) &&
                                              !sharesLawn(perimeter, lawn, lawnBox,
                                                          obstacle.points);
                                   }),
                    obstacles.end());
}

void sealPinchPoints(Environment& scene) {
    const std::vector<Point>& perimeter = scene.perimeter.points;
    if (scene.obstacles.empty() || !isUsableRing(perimeter)) return;
    std::vector<RingView> rings;
    rings.push_back(RingView{&perimeter, false, signedArea(perimeter) > 0.0});
    for (const Polygon& obstacle : scene.obstacles) {
        const std::vector<Point>& ring = obstacle.points;
        if (!isUsableRing(ring) || isSelfIntersecting(ring)) continue;
        rings.push_back(RingView{&ring, true, signedArea(ring) > 0.0});
    }
    if (rings.size() < 2) return;
    const std::vector<Contact> contacts = contactPoints(rings);
    std::vector<Polygon> seals;
    for (std::size_t k = 0; k < contacts.size();) {
        std::size_t end = k;
        std::vector<Passage> passages;
        bool onLawnEdge = false;
        while (end < contacts.size() && contacts[end].at.x == contacts[k].at.x &&
               contacts[end].at.y == contacts[k].at.y) {
            const Passage& p = contacts[end].passage;
            if (passages.empty() || passages.back().ring != p.ring) passages.push_back(p);
            onLawnEdge = onLawnEdge || p.ring == 0;
            ++end;
        }
        const Point& c = contacts[k].at;
        // Where obstacles meet off the lawn there is nothing to close.
        if (openSectors(rings, c, passages) >= 2 &&
            (onLawnEdge || isPointInPolygon(perimeter, c.x, c.y)))
            seals.push_back(sealSquare(c));
        k = end;
    }
    for (Polygon& seal : seals) scene.obstacles.push_back(std::move(seal));
}

}  // namespace Planner
