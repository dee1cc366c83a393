// Transit search: an A* search over wire points, corners and the target that
// finds a way between two positions of the lawn around the obstacles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "planner/constants.h"
#include "planner/geometry.h"
#include "planner/node_lookup.h"
#include "planner/sight_test.h"
#include "planner/scene.h"

namespace Planner {

struct TransitNode {
    double x = 0.0;
    double y = 0.0;
    bool onWire = false;
    std::uint64_t wireIndex = 0;
};

struct SearchRecord {
    double x = 0.0;
    double y = 0.0;
    double g = 0.0;
    double h = 0.0;
    std::int32_t parent = -1;
    bool onWire = false;
    std::uint64_t wireIndex = 0;
};

// Nodes of the search: virtual-wire points, then obstacle and perimeter
// corners not within 1 mm of an earlier node, then the target.
std::vector<TransitNode> buildTransitNodes(const Environment& environment, double targetX,
                                           double targetY);

// A polyline from the start to the target that keeps inside the lawn and
// clear of obstacles, empty when there is none.  Every edge the search
// accepts is appended to `searchEdges`.
std::vector<Point> findTransitPath(const Environment& environment,
                                   std::vector<LineString>& searchEdges, double startX,
                                   double startY, double targetX, double targetY);

// What every transit search of one scene shares: the nodes without the
// target, which nodes lie within 1 mm of each other, and the scene's sight
// index.  Refers to the scene and the index, which must outlive it.
struct TransitContext {
    const Environment* scene = nullptr;
    const SightIndex* sight = nullptr;
    std::vector<TransitNode> nodes;
    std::vector<std::int32_t> nodeObstacle;  // per node: the obstacle it is a corner of, or -1
    std::vector<std::uint32_t> nodeCorner;   // per node: which corner of that obstacle
    // Per obstacle: chordApart of its ring (see chordThroughObstacle).
    std::vector<std::uint32_t> chordApart;
    // Per convex obstacle (one with a chordApart) of kManyCorners corners or
    // more: a disc kInnerDiscDepth inside it (innerDiscRadius); the radius
    // is below 0 for other obstacles.
    std::vector<Point> innerCentre;
    std::vector<double> innerRadius;
    // Per node: the obstacle with an inner disc it is a corner of, or -1.
    std::vector<std::int32_t> nodeDisc;
    // Per obstacle: its corners' nodes, which come in a row in the order of
    // the corners: nodes obstacleNodeStart[o] .. obstacleNodeEnd[o].
    std::vector<std::uint32_t> obstacleNodeStart;
    std::vector<std::uint32_t> obstacleNodeEnd;
    // Per node of an obstacle with a chordApart: the nodes of that obstacle
    // far enough apart along it, but nearer than kSightShrink, so that
    // chordThroughObstacle does not hold (rare: very small or thin rings),
    // in increasing order: closePeers[closePeerStart[k] .. closePeerStart[k + 1]).
    std::vector<std::uint32_t> closePeerStart;
    std::vector<std::uint32_t> closePeers;
    // The nodes within 1 mm of node k (k itself included, when finite):
    // nearNodes[nearStart[k] .. nearStart[k + 1]).
    std::vector<std::uint32_t> nearStart;
    std::vector<std::uint32_t> nearNodes;
    NodeLookup lookup;
    // Nodes lie within 1 mm of each other only where they share one position
    // and kind, and every node lies within the index limit: searches that
    // keep no edges may then defer their sight tests.
    bool deferrable = false;
};

TransitContext buildTransitContext(const Environment& scene, const SightIndex& sight);

// True only if the move between base nodes a and b is not free: two corners
// of one obstacle at least its chordApart apart along it (both ways, and
// that is not 0), and at least kSightShrink apart (the midpoint of such a
// move lies inside the obstacle).  Found without a sight test: along a
// round bed of many corners most moves a search looks at are such chords.
inline bool chordThroughObstacle(const TransitContext& context, std::size_t a, std::size_t b) {
    const std::int32_t o = context.nodeObstacle[a];
    if (o < 0 || o != context.nodeObstacle[b]) return false;
    const std::size_t apartAtLeast = context.chordApart[static_cast<std::size_t>(o)];
    if (apartAtLeast == 0) return false;
    const std::size_t corners = context.scene->obstacles[static_cast<std::size_t>(o)].points.size();
    const std::size_t i = context.nodeCorner[a];
    const std::size_t j = context.nodeCorner[b];
    const std::size_t apart = i > j ? i - j : j - i;
    if (apart < apartAtLeast || corners - apart < apartAtLeast) return false;
    const TransitNode& p = context.nodes[a];
    const TransitNode& q = context.nodes[b];
    return !(distanceBetween(p.x, p.y, q.x, q.y) < kSightShrink);
}

// True only if the move between A and B, one of them a corner of obstacle
// o, is not free: its midpoint, computed as the line-of-sight test computes
// it, lies in o's inner disc, strictly inside o and kInnerDiscDepth from its
// outline.  Half the move is then longer than that depth from the corner
// to the midpoint, so the move is longer than kSightShrink, as the test's
// midpoint rule asks.  Found without a sight test: from beside a round bed
// most moves to its far corners run through it.
inline bool midpointInInnerDisc(const TransitContext& context, std::int32_t o, double ax,
                                double ay, double bx, double by) {
    if (o < 0) return false;
    const std::size_t ob = static_cast<std::size_t>(o);
    const double radius = context.innerRadius[ob];
    if (!(radius > 0.0)) return false;
    const Point& centre = context.innerCentre[ob];
    const double dx = (ax + bx) / 2.0 - centre.x;
    const double dy = (ay + by) / 2.0 - centre.y;
    // Rounding moves the square by far less than the radius's margin.
    return dx * dx + dy * dy <= radius * radius;
}

// Line-of-sight answers between the nodes of one context (0 unknown, 1
// free, 2 blocked).  A row keeps its answers in pieces of
// kSightAnswerPiece consecutive nodes, each made when first written (and a
// row's list of pieces when it is first written): the answers a scene's
// searches find are far fewer than the pairs of its nodes.
class SightAnswers {
public:
    std::size_t size() const { return nodes_; }

    // Forgets every answer; rows and columns for `nodes` nodes.
    void reset(std::size_t nodes);

    std::uint8_t get(std::size_t from, std::size_t to) const {
        const std::size_t row = rowOf_[from];
        if (row == 0) return 0;
        const std::uint32_t piece = pieceOf_[row - 1 + to / kSightAnswerPiece];
        if (piece == 0) return 0;
        return answers_[(piece - 1) * kSightAnswerPiece + to % kSightAnswerPiece];
    }

    void set(std::size_t from, std::size_t to, std::uint8_t answer);

    // The bytes held, for the benchmark's figures.
    std::size_t bytes() const {
        return rowOf_.capacity() * sizeof(std::size_t) +
               pieceOf_.capacity() * sizeof(std::uint32_t) + answers_.capacity();
    }

private:
    std::size_t nodes_ = 0;
    std::size_t piecesPerRow_ = 0;
    std::vector<std::size_t> rowOf_;      // per row: its first place in pieceOf_ plus 1, or 0
    std::vector<std::uint32_t> pieceOf_;  // per written row and piece: its place in answers_ plus 1, or 0
    std::vector<std::uint8_t> answers_;
};

// Line-of-sight answers between nodes of one context, found once and kept
// for the later searches of the same scene, and the working lists of a
// search.
struct TransitCache {
    SightAnswers sight;
    SightScratch sightScratch;
    // Per node: the edge that blocked the last move towards it found blocked
    // by an edge (kNoEdge for none yet), tried first for the next.
    std::vector<std::uint32_t> blockerTo;
    // Per node: the edge through which the last move towards it entered the
    // convex obstacle it is a corner of (kNoEdge for none yet), where the
    // next one is looked for first.
    std::vector<std::uint32_t> entryTo;
};

// What a failed search reached: the nodes it closed, sorted.  `complete`
// when those are all the nodes that any search from the same start can
// reach (see transitCertainlyFails); `sameStartOnly` when that holds for
// searches from that very start only (it lay within 1 mm of a node).
struct TransitReach {
    bool complete = false;
    bool sameStartOnly = false;
    std::vector<std::uint32_t> nodes;
    std::vector<std::uint8_t> member;  // per node: 1 if among `nodes`
    Point start;                       // of the failed search
    // The last other start looked at, and whether every node it sees is
    // among `nodes`.
    bool checked = false;
    Point checkedStart;
    bool checkedInside = false;
};

// The same path and search edges as findTransitPath on the context's scene;
// with `searchEdges` null the accepted edges are not kept.  A failed search
// fills `reach` when given.
std::vector<Point> findTransitPath(const TransitContext& context, TransitCache& cache,
                                   std::vector<LineString>* searchEdges, double startX,
                                   double startY, double targetX, double targetY,
                                   TransitReach* reach = nullptr);

// True only if findTransitPath from this start to this target fails (it
// returns an empty path), judged from a failed search that filled `reach`.
bool transitCertainlyFails(const TransitContext& context, TransitCache& cache,
                           TransitReach& reach, double startX, double startY, double targetX,
                           double targetY);

}  // namespace Planner
