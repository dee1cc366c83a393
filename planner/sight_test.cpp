#include "planner/sight_test.h"

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

// The indexed line-of-sight test.
//
// isSegmentFree is a conjunction of tests on single edges (crossings, and
// the meeting parameters of the split into pieces), of point-in-ring tests,
// and of per-obstacle tests.  The indexed version evaluates exactly the
// same arithmetic, but only on the edges that could change the answer:
//
// - A crossing of AB with an edge P -> Q is computed from s and t; where
//   both lie in their ranges, the two segments come within
//   8.5 u |A - P| / (sin(angle) - 2.9 u) plus 1e-9 |PQ| of each other
//   (u the unit round-off), which for coordinates within
//   kIndexCoordinateLimit and sin(angle) >= kMinNonParallelSine stays far
//   below kSightCellMargin.  So an edge that is not nearly parallel to AB
//   and lies farther than that margin from it can neither cross AB nor
//   add a meeting parameter; the grid lists every edge in every cell it
//   comes within the margin of.  The sine bound of each move is also large
//   enough that such an edge never takes the parallel branch
//   (|den| < 1e-10), whose parameters come from anywhere along AB.
// - Nearly parallel edges and very short ones are found by direction and
//   always tested.
// - A point-in-ring result depends on the edges whose y-range holds the
//   point's y (within the boundary band) only, in any order: horizontal
//   bands list them for the perimeter.
// - An obstacle with no edge near AB can only hold AB wholly (then it holds
//   the midpoint M strictly, which is tested for every obstacle whose box
//   holds M) or not at all: its pieces add nothing else.
namespace {

using namespace SightCells;

bool pointInPerimeter(const SightIndex& index, double x, double y) {
    return pointInRingBands(index.perimeterBands, index.scene->perimeter.points, x, y, true);
}

bool isBig(const SightIndex& index, std::size_t obstacle) {
    return index.obstacleIsBig[obstacle] != 0;
}

// isPointStrictlyInPolygon on an obstacle.
bool pointStrictlyInObstacle(const SightIndex& index, std::size_t obstacle, double x, double y) {
    const std::vector<Point>& ring = index.scene->obstacles[obstacle].points;
    if (isBig(index, obstacle))
        return pointInRingBands(index.obstacleBands[obstacle], ring, x, y, false);
    return isPointStrictlyInPolygon(ring, x, y);
}

double distanceToPerimeter(const SightIndex& index, double x, double y) {
    double best = std::numeric_limits<double>::infinity();
    forEachCellAt(index.grid, x, y, [&](std::size_t cell) {
        for (std::uint32_t k = index.cellStart[cell]; k < index.cellStart[cell + 1]; ++k) {
            const SightEdge& e = index.edges[index.cellEdges[k]];
            best = std::min(best, edgeDistance(e.p, e.q, x, y));
        }
    });
    return best;
}

// Whether the outline of an obstacle with many corners comes within
// `limit` (< kSightCellMargin) of (x, y): every edge that near is listed in
// the cells at the point, so the least distance over those decides it as
// the least over all edges does.
bool bigObstacleFartherThan(const SightIndex& index, std::size_t obstacle, double x, double y,
                            double limit) {
    double best = std::numeric_limits<double>::infinity();
    forEachCellAt(index.grid, x, y, [&](std::size_t cell) {
        for (std::uint32_t k = index.bigEdgeStart[cell]; k < index.bigEdgeStart[cell + 1]; ++k) {
            const SightEdge& e = index.edges[index.cellBigEdges[k]];
            if (e.ring == static_cast<std::int32_t>(obstacle))
                best = std::min(best, edgeDistance(e.p, e.q, x, y));
        }
    });
    return best > limit;
}

void rememberBlocker(SightScratch& scratch, std::uint32_t edge) {
    scratch.lastBlocker = edge;
    scratch.recentBlockers[scratch.nextBlocker] = edge;
    scratch.nextBlocker = (scratch.nextBlocker + 1) % SightScratch::kRecentBlockers;
    scratch.blockerCount = std::min(scratch.blockerCount + 1, SightScratch::kRecentBlockers);
}

void nextStamp(SightScratch& scratch, const SightIndex& index) {
    if (scratch.edgeMark.size() != index.edges.size() ||
        scratch.obstacleMark.size() != index.scene->obstacles.size() ||
        scratch.stamp == UINT32_MAX) {
        scratch.edgeMark.assign(index.edges.size(), 0);
        scratch.obstacleMark.assign(index.scene->obstacles.size(), 0);
        scratch.stamp = 0;
        scratch.blockerCount = 0;
        scratch.nextBlocker = 0;
    }
    ++scratch.stamp;
}

}  // namespace

namespace {

// A direction's place in [0, 4), growing with its angle from +x
// counter-clockwise (0 for +x, 1 for +y, 2 for -x, 3 for -y); no
// trigonometry.  The zero vector gives 0.
// The move A -> B shrunk by kSightShrink at both ends (its length given):
// A2 -> B2, and d = B2 - A2.
struct ShrunkMove {
    double a2x, a2y, b2x, b2y, dx, dy;
};

ShrunkMove shrinkMove(double ax, double ay, double bx, double by, double length) {
    ShrunkMove m;
    const double ux = (bx - ax) * kSightShrink / length;
    const double uy = (by - ay) * kSightShrink / length;
    m.a2x = ax + ux, m.a2y = ay + uy;
    m.b2x = bx - ux, m.b2y = by - uy;
    m.dx = m.b2x - m.a2x;
    m.dy = m.b2y - m.a2y;
    return m;
}

// False when both ends of `e` lie strictly on one side of the move's line:
// a cheap first look that only passes over edges, never decides a move.
bool mayCrossMove(const SightEdge& e, const ShrunkMove& m) {
    const double sp = (e.p.x - m.a2x) * m.dy - (e.p.y - m.a2y) * m.dx;
    const double sq = (e.q.x - m.a2x) * m.dy - (e.q.y - m.a2y) * m.dx;
    // (A product that rounds to zero or is NaN only lets an edge through.)
    return !(sp * sq > 0.0);
}

// Whether edge `e` crosses the shrunk move as the line-of-sight test
// counts a crossing; any that does blocks the move.
bool edgeCrossesMove(const SightEdge& e, const ShrunkMove& m) {
    return e.ring < 0 ? edgeCutsSegment(e.p, e.q, m.a2x, m.a2y, m.dx, m.dy)
                      : edgeCrossesSegment(e.p, e.q, m.a2x, m.a2y, m.b2x, m.b2y, m.dx, m.dy);
}

// The indexed stretchBlocked: the stretches within the end shrink of a
// move, and moves shorter than the shrink, are judged on the edges and
// obstacles near them.
class StretchTest {
public:
    StretchTest(const SightIndex& index, SightScratch& scratch)
        : index_(index), scene_(*index.scene), scratch_(scratch) {}

    // stretchBlocked on the stretch from (x1, y1) to (x2, y2): a crossing of
    // an obstacle, or the stretch leaving the lawn other than by a run at an
    // exempt end (startExempt, endExempt: an end of the move).  Only
    // obstacles whose box comes near the stretch can hold a crossing.
    bool blocked(double x1, double y1, double x2, double y2, bool startExempt, bool endExempt) {
        bool crossed = false;
        std::vector<std::uint32_t>& tested = scratch_.endObstacles;
        tested.clear();
        forEachCellNear(index_.grid, x1, y1, x2, y2, kSightQueryPad, [&](std::size_t cell) {
            for (std::uint32_t k = index_.obstacleStart[cell];
                 k < index_.obstacleStart[cell + 1] && !crossed; ++k) {
                const std::uint32_t id = index_.cellObstacles[k];
                if (std::find(tested.begin(), tested.end(), id) != tested.end()) continue;
                tested.push_back(id);
                crossed = isBig(index_, id) ? bigStretchCrossesObstacle(id, x1, y1, x2, y2)
                                            : stretchCrossesObstacle(scene_.obstacles[id].points,
                                                                     x1, y1, x2, y2,
                                                                     scratch_.params);
            }
            return crossed;
        });
        return crossed || leavesLawnNearEnd(x1, y1, x2, y2, startExempt, endExempt);
    }

    // stretchCrossesObstacle on an obstacle of many corners, without walking
    // its outline: the stretch meets only the edges listed in the cells it
    // touches (an edge that is not nearly parallel to it and lies farther
    // than the cell margin adds no meeting, as for the move, see above) and
    // the nearly parallel and short ones; a piece's midpoint is judged by
    // the obstacle's bands and the edges listed at it.  The meetings are
    // sorted, so their order (and an edge met twice) changes nothing.
    bool bigStretchCrossesObstacle(std::uint32_t ob, double x1, double y1, double x2, double y2) {
        const std::vector<Point>& ring = scene_.obstacles[ob].points;
        const double dx = x2 - x1;
        const double dy = y2 - y1;
        const double dd = dx * dx + dy * dy;
        if (!(dd > 0.0)) return false;
        const double length = std::sqrt(dd);
        double sine = kMinNonParallelSine;
        if (!index_.angles.empty())
            sine = std::max(sine, 4.0 * kParallelTolerance / (length * index_.minEdgeLength));
        if (!(sine <= kMaxNonParallelSine))
            return stretchCrossesObstacle(ring, x1, y1, x2, y2, scratch_.params);
        std::vector<double>& params = scratch_.params;
        params.clear();
        params.push_back(0.0);
        params.push_back(1.0);
        const std::int32_t own = static_cast<std::int32_t>(ob);
        auto meet = [&](std::uint32_t id) {
            const SightEdge& e = index_.edges[id];
            if (e.ring == own) edgeMeetings(e.p, e.q, x1, y1, dx, dy, dd, params);
        };
        forEachCellNear(index_.grid, x1, y1, x2, y2, kSightQueryPad, [&](std::size_t cell) {
            for (std::uint32_t k = index_.bigEdgeStart[cell]; k < index_.bigEdgeStart[cell + 1]; ++k)
                meet(index_.cellBigEdges[k]);
            return false;
        });
        for (std::uint32_t id : index_.shortEdges) meet(id);
        const double theta = foldedAngle(dx, dy);
        const double half = sine * kHalfPi * (1.0 + 1e-9) + 1e-12;
        auto meetAngles = [&](double lo, double hi) {
            auto it = std::lower_bound(index_.angles.begin(), index_.angles.end(), lo);
            for (; it != index_.angles.end() && *it <= hi; ++it)
                meet(index_.angleEdges[static_cast<std::size_t>(it - index_.angles.begin())]);
        };
        meetAngles(theta - half, theta + half);
        if (theta - half < 0.0) meetAngles(theta - half + kPi, kPi);
        if (theta + half >= kPi) meetAngles(0.0, theta + half - kPi);
        return deepPieceBeyondEndRuns(params, x1, y1, x2, y2, false, false,
                                      [this, ob](double x, double y) {
                                          return pointStrictlyInObstacle(index_, ob, x, y) &&
                                                 bigObstacleFartherThan(index_, ob, x, y,
                                                                        kCrossingDepth);
                                      });
    }

    // stretchLeavesLawn on the stretch: the perimeter edges near it are all
    // listed in the cells within kSightQueryPad of it, and where a piece's
    // midpoint is no farther than kSightCellMargin from the perimeter, the
    // edges listed at it give its distance.
    bool leavesLawnNearEnd(double x1, double y1, double x2, double y2, bool startExempt,
                           bool endExempt) {
        std::vector<std::uint32_t>& near = scratch_.endPerimeterEdges;
        near.clear();
        forEachCellNear(index_.grid, x1, y1, x2, y2, kSightQueryPad, [&](std::size_t cell) {
            for (std::uint32_t k = index_.cellStart[cell]; k < index_.cellStart[cell + 1]; ++k) {
                const std::uint32_t id = index_.cellEdges[k];
                if (std::find(near.begin(), near.end(), id) != near.end()) continue;
                const SightEdge& e = index_.edges[id];
                if (edgeNearStretch(e.p, e.q, x1, y1, x2, y2)) near.push_back(id);
            }
            return false;
        });
        const double dx = x2 - x1;
        const double dy = y2 - y1;
        const double dd = dx * dx + dy * dy;
        if (!(dd > 0.0)) return false;
        std::vector<double>& params = scratch_.params;
        params.clear();
        params.push_back(0.0);
        params.push_back(1.0);
        for (std::uint32_t id : near)
            edgeMeetings(index_.edges[id].p, index_.edges[id].q, x1, y1, dx, dy, dd, params);
        return deepPieceBeyondEndRuns(params, x1, y1, x2, y2, startExempt, endExempt,
                                      [this](double x, double y) {
                                          return !pointInPerimeter(index_, x, y) &&
                                                 distanceToPerimeter(index_, x, y) > kCrossingDepth;
                                      });
    }

private:
    const SightIndex& index_;
    const Environment& scene_;
    SightScratch& scratch_;
};

// One indexed line-of-sight test, as a few steps over the shrunk move
// A2 -> B2 (d = B2 - A2); each step may decide that the move is blocked.
class SightTest {
public:
    SightTest(const SightIndex& index, SightScratch& scratch, double ax, double ay, double bx,
              double by, const ShrunkMove& move)
        : index_(index), scene_(*index.scene), scratch_(scratch), ax_(ax), ay_(ay), bx_(bx),
          by_(by), move_(move) {
        a2x_ = move.a2x, a2y_ = move.a2y;
        b2x_ = move.b2x, b2y_ = move.b2y;
        dx_ = move.dx;
        dy_ = move.dy;
        dlen_ = std::sqrt(dx_ * dx_ + dy_ * dy_);
        // The least sine of an edge direction that keeps every far edge out
        // of the tests (see above).
        sine_ = kMinNonParallelSine;
        if (!index.angles.empty())
            sine_ = std::max(sine_, 4.0 * kParallelTolerance / (dlen_ * index.minEdgeLength));
        xLo_ = std::min(a2x_, b2x_) - kSightCellMargin;
        xHi_ = std::max(a2x_, b2x_) + kSightCellMargin;
        yLo_ = std::min(a2y_, b2y_) - kSightCellMargin;
        yHi_ = std::max(a2y_, b2y_) + kSightCellMargin;
        sideLimit_ = kSightCellMargin * dlen_;
    }

    // Moves so short that the sine bound would be large get the full test.
    bool needsFullTest() const { return !(sine_ <= kMaxNonParallelSine); }

    bool run() {
        nextStamp(scratch_, index_);
        // The midpoint first: it settles the moves through an obstacle's
        // inside at once (chords of a round bed), before the walk along the
        // move reaches the edge where they enter it.
        if (midpointInObstacle()) return false;
        if (crossesNearEdge()) return false;
        if (!shrunkMoveInPerimeter()) return false;
        if (crossesFarEdge()) return false;
        if (someObstaclePieceInside()) return false;
        if (somePerimeterPieceOutside()) return false;
        StretchTest stretch(index_, scratch_);
        return !stretch.blocked(ax_, ay_, a2x_, a2y_, true, false) &&
               !stretch.blocked(b2x_, b2y_, bx_, by_, false, true);
    }

private:
    bool crosses(const SightEdge& e) const { return edgeCrossesMove(e, move_); }

    // Tests one edge; false when it crosses the move.
    bool passes(std::uint32_t id) {
        scratch_.edgeMark[id] = scratch_.stamp;
        if (!crosses(index_.edges[id])) return true;
        rememberBlocker(scratch_, id);
        return false;
    }

    int side(double x, double y) const {
        const double c = (x - a2x_) * dy_ - (y - a2y_) * dx_;
        return c > sideLimit_ ? 1 : (c < -sideLimit_ ? -1 : 0);
    }

    // An edge farther than the cell margin from the shrunk move can neither
    // cross it nor meet it unless it is nearly parallel, and those are
    // tested by crossesFarEdge wherever they lie.  The same holds for an
    // obstacle whose box is that far.
    bool farFromMove(const SightEdge& e) const {
        if (std::max(e.p.x, e.q.x) < xLo_ || std::min(e.p.x, e.q.x) > xHi_ ||
            std::max(e.p.y, e.q.y) < yLo_ || std::min(e.p.y, e.q.y) > yHi_) {
            return true;
        }
        const int sp = side(e.p.x, e.p.y);
        return sp != 0 && sp == side(e.q.x, e.q.y);
    }

    bool boxFarFromMove(const Box& b) const {
        if (b.x1 < xLo_ || b.x0 > xHi_ || b.y1 < yLo_ || b.y0 > yHi_) return true;
        const int s0 = side(b.x0, b.y0);
        return s0 != 0 && s0 == side(b.x1, b.y0) && s0 == side(b.x0, b.y1) &&
               s0 == side(b.x1, b.y1);
    }

    // Tests the edges of one obstacle near the move and lists them; true
    // when one crosses it.
    bool obstacleCrosses(std::uint32_t ob) {
        const std::size_t before = scratch_.obstacleEdges.size();
        const std::uint32_t first = index_.obstacleEdgeBegin[ob];
        const std::uint32_t count = static_cast<std::uint32_t>(scene_.obstacles[ob].points.size());
        for (std::uint32_t id = first; id < first + count; ++id) {
            if (farFromMove(index_.edges[id])) continue;
            if (!passes(id)) return true;
            scratch_.obstacleEdges.push_back(id);
        }
        if (scratch_.obstacleEdges.size() > before) {
            scratch_.obstacles.push_back(ob);
            scratch_.obstacleEdgeStart.push_back(static_cast<std::uint32_t>(before));
        }
        return false;
    }

    // Crossings with the edges near the move, walking from its start; the
    // near perimeter edges, obstacles and obstacle edges are listed for the
    // piece tests.
    bool crossesNearEdge() {
        scratch_.perimeterEdges.clear();
        scratch_.obstacles.clear();
        scratch_.obstacleEdgeStart.clear();
        scratch_.obstacleEdges.clear();
        scratch_.parallelObstacleEdges.clear();
        scratch_.bigObstacleEdges.clear();
        const bool crossed = forEachCellNear(
            index_.grid, a2x_, a2y_, b2x_, b2y_, kSightQueryPad, [&](std::size_t cell) {
                for (std::uint32_t k = index_.cellStart[cell]; k < index_.cellStart[cell + 1];
                     ++k) {
                    const std::uint32_t id = index_.cellEdges[k];
                    if (scratch_.edgeMark[id] == scratch_.stamp || farFromMove(index_.edges[id]))
                        continue;
                    if (!passes(id)) return true;
                    scratch_.perimeterEdges.push_back(id);
                }
                // Obstacles of many corners: only their edges in this cell.
                for (std::uint32_t k = index_.bigEdgeStart[cell]; k < index_.bigEdgeStart[cell + 1];
                     ++k) {
                    const std::uint32_t id = index_.cellBigEdges[k];
                    if (scratch_.edgeMark[id] == scratch_.stamp || farFromMove(index_.edges[id]))
                        continue;
                    if (!passes(id)) return true;
                    scratch_.bigObstacleEdges.push_back(id);
                }
                for (std::uint32_t k = index_.obstacleStart[cell];
                     k < index_.obstacleStart[cell + 1]; ++k) {
                    const std::uint32_t ob = index_.cellObstacles[k];
                    if (scratch_.obstacleMark[ob] == scratch_.stamp) continue;
                    scratch_.obstacleMark[ob] = scratch_.stamp;
                    if (isBig(index_, ob) || boxFarFromMove(index_.obstacleBoxes[ob])) continue;
                    if (obstacleCrosses(ob)) return true;
                }
                return false;
            });
        if (!crossed) listBigObstacleEdges();
        return crossed;
    }

    // The near edges of obstacles with many corners, obstacle by obstacle
    // (an obstacle's edges are numbered in a row), for the piece tests.
    // Edges farther than the cell margin from the move were not met; they
    // add no meeting with it (see above), and an obstacle none of whose
    // edges comes that near holds the move wholly or not at all.
    void listBigObstacleEdges() {
        std::vector<std::uint32_t>& found = scratch_.bigObstacleEdges;
        std::sort(found.begin(), found.end());
        std::int32_t current = -1;
        for (std::uint32_t id : found) {
            const std::int32_t ring = index_.edges[id].ring;
            if (ring != current) {
                current = ring;
                scratch_.obstacles.push_back(static_cast<std::uint32_t>(ring));
                scratch_.obstacleEdgeStart.push_back(
                    static_cast<std::uint32_t>(scratch_.obstacleEdges.size()));
            }
            scratch_.obstacleEdges.push_back(id);
        }
    }

    // The midpoint of the whole move strictly inside an obstacle.  (The
    // obstacle marks of this stamp list the near obstacles; this test keeps
    // its own list.)
    bool midpointInObstacle() {
        const double mx = (ax_ + bx_) / 2.0;
        const double my = (ay_ + by_) / 2.0;
        bool blocked = false;
        std::vector<std::uint32_t>& tested = scratch_.midpointObstacles;
        tested.clear();
        forEachCellAt(index_.grid, mx, my, [&](std::size_t cell) {
            for (std::uint32_t k = index_.obstacleStart[cell];
                 k < index_.obstacleStart[cell + 1] && !blocked; ++k) {
                const std::uint32_t id = index_.cellObstacles[k];
                if (std::find(tested.begin(), tested.end(), id) != tested.end()) continue;
                tested.push_back(id);
                blocked = pointStrictlyInObstacle(index_, id, mx, my);
            }
        });
        return blocked;
    }

    // The shrunk move's ends and middle inside the lawn.
    bool shrunkMoveInPerimeter() const {
        return pointInPerimeter(index_, a2x_, a2y_) && pointInPerimeter(index_, b2x_, b2y_) &&
               pointInPerimeter(index_, (a2x_ + b2x_) / 2.0, (a2y_ + b2y_) / 2.0);
    }

    // Nearly parallel and short edges, wherever they lie; the ones not
    // tested before are listed for the piece tests.
    bool crossesFarEdge() {
        auto testFarEdge = [&](std::uint32_t id) {
            if (scratch_.edgeMark[id] == scratch_.stamp) return true;
            if (!passes(id)) return false;
            if (index_.edges[id].ring < 0)
                scratch_.perimeterEdges.push_back(id);
            else
                scratch_.parallelObstacleEdges.push_back(id);
            return true;
        };
        for (std::uint32_t id : index_.shortEdges) {
            if (!testFarEdge(id)) return true;
        }
        const double theta = foldedAngle(dx_, dy_);
        const double half = sine_ * kHalfPi * (1.0 + 1e-9) + 1e-12;
        auto testAngles = [&](double lo, double hi) {
            auto it = std::lower_bound(index_.angles.begin(), index_.angles.end(), lo);
            for (; it != index_.angles.end() && *it <= hi; ++it) {
                if (!testFarEdge(
                        index_.angleEdges[static_cast<std::size_t>(it - index_.angles.begin())]))
                    return false;
            }
            return true;
        };
        if (!testAngles(theta - half, theta + half)) return true;
        if (theta - half < 0.0 && !testAngles(theta - half + kPi, kPi)) return true;
        if (theta + half >= kPi && !testAngles(0.0, theta + half - kPi)) return true;
        return false;
    }

    // The pieces of the move between its meetings with each near obstacle:
    // the meetings come from its near edges and its nearly parallel ones.
    bool someObstaclePieceInside() {
        std::vector<double>& params = scratch_.params;
        const double dd = dx_ * dx_ + dy_ * dy_;
        for (std::size_t k = 0; k < scratch_.obstacles.size(); ++k) {
            const std::uint32_t ob = scratch_.obstacles[k];
            const std::size_t end = k + 1 < scratch_.obstacles.size()
                                        ? scratch_.obstacleEdgeStart[k + 1]
                                        : scratch_.obstacleEdges.size();
            params.clear();
            params.push_back(0.0);
            params.push_back(1.0);
            for (std::size_t i = scratch_.obstacleEdgeStart[k]; i < end; ++i) {
                const SightEdge& e = index_.edges[scratch_.obstacleEdges[i]];
                edgeMeetings(e.p, e.q, a2x_, a2y_, dx_, dy_, dd, params);
            }
            for (std::uint32_t id : scratch_.parallelObstacleEdges) {
                const SightEdge& e = index_.edges[id];
                if (e.ring == static_cast<std::int32_t>(ob))
                    edgeMeetings(e.p, e.q, a2x_, a2y_, dx_, dy_, dd, params);
            }
            if (isBig(index_, ob) ? bigObstaclePiecesInside(ob, params)
                                  : piecesLie(scene_.obstacles[ob].points, a2x_, a2y_, dx_, dy_,
                                              true, params))
                return true;
        }
        return false;
    }

    // piecesLie(obstacle, ..., strictlyInside, params) on an obstacle of
    // many corners, by its bands and the cells near each piece's midpoint.
    bool bigObstaclePiecesInside(std::uint32_t ob, std::vector<double>& params) const {
        std::sort(params.begin(), params.end());
        for (std::size_t k = 1; k < params.size(); ++k) {
            if (!(params[k] > params[k - 1])) continue;
            const double s = (params[k - 1] + params[k]) * 0.5;
            const double x = a2x_ + s * dx_;
            const double y = a2y_ + s * dy_;
            if (pointStrictlyInObstacle(index_, ob, x, y) &&
                bigObstacleFartherThan(index_, ob, x, y, kPieceBoundaryBand))
                return true;
        }
        return false;
    }

    // The pieces between its meetings with the perimeter.
    bool somePerimeterPieceOutside() {
        std::vector<double>& params = scratch_.params;
        const double dd = dx_ * dx_ + dy_ * dy_;
        params.clear();
        params.push_back(0.0);
        params.push_back(1.0);
        for (std::uint32_t id : scratch_.perimeterEdges) {
            edgeMeetings(index_.edges[id].p, index_.edges[id].q, a2x_, a2y_, dx_, dy_, dd, params);
        }
        std::sort(params.begin(), params.end());
        for (std::size_t k = 1; k < params.size(); ++k) {
            if (!(params[k] > params[k - 1])) continue;
            const double s = (params[k - 1] + params[k]) * 0.5;
            const double x = a2x_ + s * dx_;
            const double y = a2y_ + s * dy_;
            if (!pointInPerimeter(index_, x, y) &&
                distanceToPerimeter(index_, x, y) > kPieceBoundaryBand)
                return true;
        }
        return false;
    }

    const SightIndex& index_;
    const Environment& scene_;
    SightScratch& scratch_;
    const double ax_, ay_, bx_, by_;
    const ShrunkMove move_;
    double a2x_, a2y_, b2x_, b2y_;
    double dx_, dy_, dlen_;
    double sine_;
    double xLo_, xHi_, yLo_, yHi_;
    double sideLimit_;
};

}  // namespace

namespace {

// True if one of the edges a caller expects, or one that blocked a recent
// move, crosses the shrunk move: any edge that does blocks it, in the full
// test as in the indexed one.
bool hintedEdgeCrosses(const SightIndex& index, SightScratch& scratch, const ShrunkMove& move,
                       const SightHints& hints) {
    auto blocks = [&](std::uint32_t id) {
        const SightEdge& e = index.edges[id];
        if (!mayCrossMove(e, move) || !edgeCrossesMove(e, move)) return false;
        scratch.lastBlocker = id;
        return true;
    };
    if (hints.entry < index.edges.size() && blocks(hints.entry)) return true;
    if (hints.edge < index.edges.size() && hints.edge != hints.entry && blocks(hints.edge))
        return true;
    if (scratch.edgeMark.size() == index.edges.size()) {
        for (std::size_t k = 0; k < scratch.blockerCount; ++k) {
            if (blocks(scratch.recentBlockers[k])) return true;
        }
    }
    // (An obstacle of many corners is not walked whole: its edges near the
    // move come first in the cells the test walks.)
    if (hints.obstacle >= 0 &&
        static_cast<std::size_t>(hints.obstacle) < index.obstacleEdgeBegin.size() &&
        !index.obstacleIsBig[static_cast<std::size_t>(hints.obstacle)]) {
        const std::size_t ob = static_cast<std::size_t>(hints.obstacle);
        const std::size_t corners = index.scene->obstacles[ob].points.size();
        const std::uint32_t first = index.obstacleEdgeBegin[ob];
        const std::uint32_t end = first + static_cast<std::uint32_t>(corners >= 3 ? corners : 0);
        for (std::uint32_t id = first; id < end; ++id) {
            if (blocks(id)) return true;
        }
    }
    return false;
}

// Whether the move gets the indexed test; its length when it does.
bool indexedMove(const SightIndex& index, double ax, double ay, double bx, double by,
                 double& length) {
    length = distanceBetween(ax, ay, bx, by);
    return length >= kSightShrink && index.usable && withinIndexLimit(ax, ay) &&
           withinIndexLimit(bx, by);
}

}  // namespace

bool blockedByHints(const SightIndex& index, SightScratch& scratch, double ax, double ay,
                    double bx, double by, const SightHints& hints) {
    scratch.lastBlocker = kNoEdge;
    double length = 0.0;
    if (!indexedMove(index, ax, ay, bx, by, length)) return false;
    return hintedEdgeCrosses(index, scratch, shrinkMove(ax, ay, bx, by, length), hints);
}

bool isSegmentFree(const SightIndex& index, SightScratch& scratch, double ax, double ay, double bx,
                   double by, const SightHints& hints) {
    scratch.lastBlocker = kNoEdge;
    double length = 0.0;
    if (!indexedMove(index, ax, ay, bx, by, length)) {
        // A move shorter than the shrink is judged by its stretch alone.
        if (length < kSightShrink && index.usable && withinIndexLimit(ax, ay) &&
            withinIndexLimit(bx, by))
            return !StretchTest(index, scratch).blocked(ax, ay, bx, by, true, true);
        return isSegmentFree(*index.scene, ax, ay, bx, by);
    }
    // The likely blockers are tried first: the edges that blocked recent
    // moves (neighbouring moves tend to be blocked by the same edge), the
    // caller's, and the edges of the caller's obstacle.
    const ShrunkMove move = shrinkMove(ax, ay, bx, by, length);
    if (!hints.tried && hintedEdgeCrosses(index, scratch, move, hints)) return false;
    SightTest test(index, scratch, ax, ay, bx, by, move);
    if (test.needsFullTest()) return isSegmentFree(*index.scene, ax, ay, bx, by);
    return test.run();
}

}  // namespace Planner
