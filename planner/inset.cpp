#include "planner/inset.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <future>
#include <limits>
#include <system_error>
#include <utility>

#include "clipper2/clipper.h"
#include "planner/constants.h"
#include "planner/geometry.h"

namespace Planner {

namespace {

using Clipper2Lib::ClipType;
using Clipper2Lib::Clipper64;
using Clipper2Lib::ClipperOffset;
using Clipper2Lib::EndType;
using Clipper2Lib::FillRule;
using Clipper2Lib::JoinType;
using Clipper2Lib::Path64;
using Clipper2Lib::Paths64;
using Clipper2Lib::Point64;

// An offset vertex lies at most twice the delta from the vertex it comes
// from (miter limit 2, squared joins beyond it); twice that again is the
// margin kept from the end of the grid.
constexpr double kOffsetReach = 4.0;
// Outlines handed to Clipper2, together with that margin, stay within half of
// its coordinate range, so that nothing it computes from them can leave it.
constexpr double kSafeGridExtent = 0.5 * static_cast<double>(kGridLimit);
// Clipper2 grows a path of one point into a square whose half side it holds
// in an int; deltas beyond that are never handed over with such a path.
constexpr double kSinglePointDeltaLimit = 2147483647.0;
// An area run makes at most this many inset steps.  A run whose rings are
// all kept reaches the ring cap first; this bounds runs whose rings are
// dropped by the ring filter (an area lying inside an obstacle of the scene).
constexpr std::size_t kIterationCap = kRingCap + 1;

Ring toRing(const Path64& path, bool closed) {
    Ring ring;
    ring.reserve(path.size() + 1);
    for (const Point64& p : path) ring.emplace_back(fromGrid(p.x), fromGrid(p.y));
    if (closed && !ring.empty()) ring.push_back(ring.front());
    return ring;
}

double largestMagnitude(const Paths64& paths) {
    double largest = 0.0;
    for (const Path64& path : paths) {
        for (const Point64& p : path) {
            largest = std::max(largest, std::fabs(static_cast<double>(p.x)));
            largest = std::max(largest, std::fabs(static_cast<double>(p.y)));
        }
    }
    return largest;
}

bool holdsSinglePoint(const Paths64& paths) {
    for (const Path64& path : paths) {
        if (!path.empty() &&
            std::all_of(path.begin(), path.end(), [&](const Point64& p) { return p == path[0]; })) {
            return true;
        }
    }
    return false;
}

enum class GroupOrientation { Positive, Reversed, Undefined };

// How ClipperOffset orients a group of closed paths: by the path holding the
// vertex of greatest y (among equals the smallest x, the earlier path on a
// tie), paths of zero area not counted.  Undefined when no path counts.
GroupOrientation groupOrientation(const Paths64& paths) {
    bool found = false;
    bool negative = false;
    std::int64_t topX = 0;
    std::int64_t topY = 0;
    for (const Path64& original : paths) {
        Path64 path = original;
        Clipper2Lib::StripDuplicates(path, true);
        const double area = Clipper2Lib::Area(path);
        if (area == 0.0) continue;
        for (const Point64& p : path) {
            if (found && (p.y < topY || (p.y == topY && p.x >= topX))) continue;
            found = true;
            topX = p.x;
            topY = p.y;
            negative = area < 0.0;
        }
    }
    if (!found) return GroupOrientation::Undefined;
    return negative ? GroupOrientation::Reversed : GroupOrientation::Positive;
}

// One offset of a whole group of closed outlines.
Paths64 offsetGroup(const Paths64& paths, double delta) {
    ClipperOffset offsetter;
    offsetter.AddPaths(paths, JoinType::Miter, EndType::Polygon);
    Paths64 solution;
    offsetter.Execute(delta, solution);
    return solution;
}

// A set of closed outlines on the grid and the orientation its outer
// outlines have: counter-clockwise as the scene keeps them, or clockwise
// throughout (a perimeter that reaches the grid clockwise; Clipper2 then
// treats the whole group as reversed and keeps it so).
struct Outlines {
    Paths64 paths;
    bool reversed = false;
};

// The region a set of outlines stands for (outer outlines add, holes take
// away), as clean outlines, counter-clockwise, with the outer ones first.
Paths64 regionOutlines(const Outlines& outlines) {
    Clipper64 clipper;
    clipper.AddSubject(outlines.paths);
    Paths64 region;
    clipper.Execute(ClipType::Union, outlines.reversed ? FillRule::Negative : FillRule::Positive,
                    region);
    std::stable_partition(region.begin(), region.end(),
                          [](const Path64& path) { return Clipper2Lib::Area(path) > 0.0; });
    return region;
}

// Offsets a set of outlines by `delta` grid units (negative shrinks the
// region, positive grows it).  Returns false, with `result` empty, when the
// step cannot be computed on the grid: a NaN delta, endless growth, or a
// result that could leave Clipper2's coordinate range.
//
// Clipper2 reads the orientation of the whole group from the path holding
// the top vertex.  When that path is a hole (an obstacle reaching above the
// lawn) or no path counts, it would grow what should shrink and the other
// way round.  Such a set is first turned into the outlines of the region it
// stands for, whose top vertex belongs to an outer outline, and those are
// offset instead.  Every other set goes to Clipper2 as it is.
bool offsetStep(const Outlines& outlines, double delta, Outlines& result) {
    result.paths.clear();
    result.reversed = outlines.reversed;
    if (std::isnan(delta)) return false;
    if (std::isinf(delta)) return delta < 0.0;  // an endless inset leaves nothing
    const double reach = largestMagnitude(outlines.paths);
    const double magnitude = std::fabs(delta);
    if (!(reach + kOffsetReach * magnitude <= kSafeGridExtent) ||
        (magnitude > kSinglePointDeltaLimit && holdsSinglePoint(outlines.paths))) {
        // The whole region lies within `reach` of the origin: an inset by
        // more than that leaves nothing.
        return delta < 0.0 && magnitude > reach;
    }
    const GroupOrientation seen = groupOrientation(outlines.paths);
    const GroupOrientation wanted =
        outlines.reversed ? GroupOrientation::Reversed : GroupOrientation::Positive;
    if (seen == wanted) {
        result.paths = offsetGroup(outlines.paths, delta);
        return true;
    }
    result.reversed = false;
    const Paths64 region = regionOutlines(outlines);
    if (region.empty() || groupOrientation(region) != GroupOrientation::Positive) return true;
    result.paths = offsetGroup(region, delta);
    return true;
}

// One inset step: its outlines, or `ok` false when offsetStep could not
// compute it.
struct Step {
    bool ok = false;
    Outlines solution;
};

Step insetStep(const Outlines& frontier, double delta) {
    Step step;
    step.ok = offsetStep(frontier, delta, step.solution);
    return step;
}

std::size_t cornerCount(const Paths64& paths) {
    std::size_t corners = 0;
    for (const Path64& path : paths) corners += path.size();
    return corners;
}

// Starts the inset of `frontier` on a second thread.  An invalid future
// (no thread to be had) leaves the step to be computed when it is needed.
std::future<Step> startInsetStep(const Outlines& frontier, double delta) {
    try {
        return std::async(std::launch::async, insetStep, frontier, delta);
    } catch (const std::system_error&) {
        return std::future<Step>();
    }
}

// True if some vertex of the ring, or some piece of its edges between two
// meetings with the obstacle's outline, lies outside the obstacle farther
// than kRingInsideBand from its outline.
bool ringLeavesObstacle(const Ring& ring, const std::vector<Point>& obstacle) {
    const std::size_t n = ring.size();
    for (const Point& p : ring) {
        if (!isPointInPolygon(obstacle, p.x, p.y) &&
            outlineDistance(obstacle, p.x, p.y) > kRingInsideBand)
            return true;
    }
    std::vector<double> params;
    for (std::size_t i = 0; i < n; ++i) {
        const Point& a = ring[i];
        const Point& b = ring[(i + 1) % n];
        if (a.x == b.x && a.y == b.y) continue;
        params.clear();
        params.push_back(0.0);
        params.push_back(1.0);
        const double dx = b.x - a.x;
        const double dy = b.y - a.y;
        const double dd = dx * dx + dy * dy;
        const std::size_t m = obstacle.size();
        for (std::size_t k = 0; k < m; ++k)
            edgeMeetings(obstacle[k], obstacle[(k + 1) % m], a.x, a.y, dx, dy, dd, params);
        std::sort(params.begin(), params.end());
        for (std::size_t k = 1; k < params.size(); ++k) {
            if (!(params[k] > params[k - 1])) continue;
            const double s = (params[k - 1] + params[k]) * 0.5;
            const double x = a.x + s * dx;
            const double y = a.y + s * dy;
            if (!isPointInPolygon(obstacle, x, y) &&
                outlineDistance(obstacle, x, y) > kRingInsideBand)
                return true;
        }
    }
    return false;
}

// The obstacles of the ring filter, each with its box grown by
// kRingFilterBoxPad and kRingFilterBoxShare of its largest coordinate.  A
// point outside such a box lies strictly inside the obstacle for no
// point-in-ring test: it is on none of its edges, and the crossings of its
// horizontal all lie on one side of it (the rounding of a crossing is far
// below the growth), an even number of them, or none.  The test is skipped
// there.
struct RingFilter {
    const Environment* scene = nullptr;
    // Per obstacle; an empty one's holds no point, one not finite every point.
    std::vector<Box> boxes;
};

RingFilter ringFilterOf(const Environment& fullScene) {
    RingFilter filter;
    filter.scene = &fullScene;
    filter.boxes.reserve(fullScene.obstacles.size());
    constexpr double kInf = std::numeric_limits<double>::infinity();
    for (const Polygon& obstacle : fullScene.obstacles) {
        if (obstacle.points.empty()) {
            filter.boxes.push_back(Box{kInf, kInf, -kInf, -kInf});
            continue;
        }
        const bool finite =
            std::all_of(obstacle.points.begin(), obstacle.points.end(),
                        [](const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); });
        if (!finite) {  // always tested
            filter.boxes.push_back(Box{-kInf, -kInf, kInf, kInf});
            continue;
        }
        Box b = boxOf(obstacle.points);
        const double largest = std::max(std::max(std::fabs(b.x0), std::fabs(b.x1)),
                                        std::max(std::fabs(b.y0), std::fabs(b.y1)));
        const double pad = kRingFilterBoxPad + kRingFilterBoxShare * largest;
        b.x0 -= pad, b.y0 -= pad, b.x1 += pad, b.y1 += pad;
        filter.boxes.push_back(b);
    }
    return filter;
}

bool outsideBox(const Box& b, double x, double y) {
    return x < b.x0 || x > b.x1 || y < b.y0 || y > b.y1;
}

// The ring filter: a ring lies inside an obstacle when its first point lies
// strictly inside it and no part of the ring leaves it (up to the rounding
// of the grid).  A ring that runs on free lawn is kept even where one of its
// vertices rounds into an obstacle.
bool liesInsideObstacle(const RingFilter& filter, const Ring& ring) {
    const Point& first = ring.front();
    const std::vector<Polygon>& obstacles = filter.scene->obstacles;
    for (std::size_t k = 0; k < obstacles.size(); ++k) {
        if (outsideBox(filter.boxes[k], first.x, first.y)) continue;
        const std::vector<Point>& obstacle = obstacles[k].points;
        if (isPointStrictlyInPolygon(obstacle, first.x, first.y) &&
            !ringLeavesObstacle(ring, obstacle))
            return true;
    }
    return false;
}

// Appends the paths as rings, each unless it lies inside an obstacle;
// paths from `unfilteredFrom` on are appended without that test.
void appendRings(const RingFilter& filter, const Paths64& paths, bool closed,
                 std::vector<Ring>& output, std::size_t unfilteredFrom = SIZE_MAX) {
    for (std::size_t k = 0; k < paths.size(); ++k) {
        const Path64& path = paths[k];
        if (path.empty()) continue;
        Ring ring = toRing(path, closed);
        if (k >= unfilteredFrom || !liesInsideObstacle(filter, ring))
            output.push_back(std::move(ring));
    }
}

// True if an obstacle of the area reaches beyond its perimeter: some edge of
// it does not lie in the perimeter (boundary allowed).
bool obstaclesLeavePerimeter(const Environment& area) {
    const std::vector<Point>& perimeter = area.perimeter.points;
    for (const Polygon& obstacle : area.obstacles) {
        const std::vector<Point>& o = obstacle.points;
        if (o.size() < 3) continue;
        for (std::size_t i = 0; i < o.size(); ++i) {
            const Point& p = o[i];
            const Point& q = o[(i + 1) % o.size()];
            if (!isSegmentInPolygon(perimeter, p.x, p.y, q.x, q.y)) return true;
        }
    }
    return false;
}

// The rings of an area too small for the first inset whose obstacles reach
// beyond its perimeter: the outlines of the region the perimeter and the
// obstacles stand for (the perimeter less the obstacles), so that no ring
// runs through an obstacle or round the part of one beyond the area.  The
// outer outlines go through the ring filter; the holes are obstacles'
// outlines, which bound the area as they stand.
void appendRegionRings(const RingFilter& filter, const Outlines& outlines,
                       std::vector<Ring>& output) {
    const Paths64 region = regionOutlines(outlines);
    std::size_t outers = 0;
    while (outers < region.size() && Clipper2Lib::Area(region[outers]) > 0.0) ++outers;
    appendRings(filter, region, true, output, outers);
}

// Insets the gap area by the gap inset factor times the spacing and appends
// the outlines as open gap rings.  False if the inset cannot be computed.
bool appendGapRings(const RingFilter& filter, const Outlines& gapArea, double spacing,
                    std::vector<Ring>& output) {
    Outlines gapSolution;
    if (!offsetStep(gapArea, -(kGapInsetFactor * spacing) * kGridScale, gapSolution)) {
        return false;
    }
    appendRings(filter, gapSolution.paths, false, output);
    return true;
}

// Appends the gap rings of one inset step: what the previous frontier
// covered and the step's outlines, pushed back out by one spacing, no longer
// reach.  False if a step of that cannot be computed.
bool appendStepGapRings(const RingFilter& filter, const Outlines& frontier,
                        const Outlines& solution, double spacing, std::vector<Ring>& output) {
    Outlines expanded;
    const double growth = kGridScale * spacing;
    if (growth != 0.0) {
        if (!offsetStep(solution, growth, expanded)) return false;
    } else {
        expanded = solution;
    }
    Clipper64 clipper;
    clipper.AddSubject(frontier.paths);
    clipper.AddClip(expanded.paths);
    Outlines gapArea;
    clipper.Execute(ClipType::Difference, FillRule::EvenOdd, gapArea.paths);
    return gapArea.paths.empty() || appendGapRings(filter, gapArea, spacing, output);
}

// Without a lap limit a run goes on while the spacing shrinks the outline;
// a spacing that cannot shrink it would only repeat the outline.
bool spacingShrinks(double spacing) {
    return std::isfinite(spacing) && spacing >= kMinimumSpacing;
}

// The number of inset steps after which a run with `lapCount` stops of its
// own accord (SIZE_MAX: only the caps, an empty inset or a failed step stop
// it).  An unlimited run whose spacing cannot shrink stops as one of one lap.
std::size_t stepLimit(std::int32_t lapCount, double spacing) {
    if (lapCount > 0) return static_cast<std::size_t>(lapCount);
    return spacingShrinks(spacing) ? SIZE_MAX : 1;
}

// True if the obstacles leave nothing of a mow area on the
// grid (the lawn's edge can make a mow area and an obstacle that covers it
// share their outline, which the ring filter then lets pass).
bool coveredByObstacles(const Polygon& mowArea, const std::vector<Polygon>& obstacles) {
    Path64 area;
    if (mowArea.points.size() < 3 || !toGridPath(mowArea.points, area) ||
        Clipper2Lib::Area(area) == 0.0)
        return false;
    Paths64 clips;
    for (const Polygon& obstacle : obstacles) {
        Path64 path;
        if (obstacle.points.size() < 3) continue;
        if (!toGridPath(obstacle.points, path)) return false;
        clips.push_back(std::move(path));
    }
    if (clips.empty()) return false;
    Clipper64 clipper;
    clipper.AddSubject(Paths64{area});
    clipper.AddClip(clips);
    Paths64 rest;
    clipper.Execute(ClipType::Difference, FillRule::NonZero, rest);
    return rest.empty();
}

// Runs `run` on each area of the offsetting stage: the whole scene, or each
// mow area that the obstacles do not cover, with the obstacles that belong
// to it.
template <typename Run>
void forEachArea(const Environment& scene, Run run) {
    if (scene.mowAreas.empty()) {
        run(scene);
        return;
    }
    for (const Polygon& mowArea : scene.mowAreas) {
        // Nothing of it to mow: its outline would come back as its own
        // ring (an area too small for the first inset does) and lay lanes
        // and laps inside the obstacles.
        if (coveredByObstacles(mowArea, scene.obstacles)) continue;
        Environment area{Polygon(mowArea.points)};
        for (const Polygon& obstacle : scene.obstacles) {
            if (obstacleBelongsToArea(obstacle, area.perimeter)) area.addObstacle(obstacle);
        }
        run(area);
    }
}

// The outlines of an area on the grid: the perimeter, then the obstacles.
// False if one of them cannot be placed on it.
bool areaOutlines(const Environment& area, Outlines& outlines) {
    outlines.paths.reserve(1 + area.obstacles.size());
    Path64 path;
    if (!toGridPath(area.perimeter.points, path)) return false;
    outlines.paths.push_back(path);
    Clipper2Lib::StripDuplicates(path, true);
    outlines.reversed = Clipper2Lib::Area(path) < 0.0;
    for (const Polygon& obstacle : area.obstacles) {
        if (!toGridPath(obstacle.points, path)) return false;
        outlines.paths.push_back(path);
    }
    return true;
}

}  // namespace

bool toGrid(double metres, std::int64_t& units) {
    const double scaled = std::round(kGridScale * metres);
    if (!std::isfinite(scaled)) return false;
    // kGridLimit (2^61 - 1) becomes 2^61 as a double; everything accepted
    // below converts exactly and lies within Clipper2's range.
    constexpr double kLimit = static_cast<double>(kGridLimit);
    if (scaled >= kLimit || scaled <= -kLimit) return false;
    units = static_cast<std::int64_t>(scaled);
    return true;
}

bool toGridPath(const std::vector<Point>& ring, Path64& path) {
    path.clear();
    path.reserve(ring.size());
    for (const Point& p : ring) {
        std::int64_t x = 0;
        std::int64_t y = 0;
        if (!toGrid(p.x, x) || !toGrid(p.y, y)) return false;
        path.emplace_back(x, y);
    }
    return true;
}

bool obstacleBelongsToArea(const Polygon& obstacle, const Polygon& areaPerimeter) {
    const std::vector<Point>& o = obstacle.points;
    const std::vector<Point>& a = areaPerimeter.points;
    if (o.size() < 3 || a.size() < 3) return false;
    const std::size_t n = o.size();
    bool allInside = true;
    for (std::size_t i = 0; i < n && allInside; ++i) {
        const Point& p = o[i];
        const Point& q = o[(i + 1) % n];
        allInside = isSegmentInPolygon(a, p.x, p.y, q.x, q.y);
    }
    if (allInside) return true;
    for (std::size_t i = 0; i < n; ++i) {
        const Point& p = o[i];
        const Point& q = o[(i + 1) % n];
        if (segmentCrossesPolygon(a, p.x, p.y, q.x, q.y)) return true;
    }
    // However else they meet (corners or edges on the area's outline): the
    // interiors overlap where some piece of the obstacle's outline runs
    // strictly inside the area.
    std::vector<double> params;
    for (std::size_t i = 0; i < n; ++i) {
        const Point& p = o[i];
        const Point& q = o[(i + 1) % n];
        if (somePieceLies(a, p.x, p.y, q.x, q.y, true, params)) return true;
    }
    return false;
}

std::vector<Ring> computeInsetRings(const Environment& scene, std::int32_t lapCount,
                                    double spacing, double firstInset, RingUse use) {
    std::vector<Ring> rings;
    forEachArea(scene, [&](const Environment& area) {
        std::vector<Ring> areaRings = insetArea(scene, area, lapCount, spacing, firstInset,
                                                nullptr, kInsetThreadCorners, use);
        for (Ring& ring : areaRings) rings.push_back(std::move(ring));
    });
    return rings;
}

std::vector<std::vector<Ring>> computeInsetRingsForLapCounts(
    const Environment& scene, const std::vector<std::int32_t>& lapCounts, double spacing,
    double firstInset) {
    std::vector<std::vector<Ring>> results(lapCounts.size());
    if (lapCounts.empty()) return results;
    std::size_t longest = 0;
    for (std::size_t k = 1; k < lapCounts.size(); ++k) {
        if (stepLimit(lapCounts[k], spacing) > stepLimit(lapCounts[longest], spacing)) longest = k;
    }
    forEachArea(scene, [&](const Environment& area) {
        std::vector<std::size_t> stepEnds;
        const std::vector<Ring> rings =
            insetArea(scene, area, lapCounts[longest], spacing, firstInset, &stepEnds);
        for (std::size_t k = 0; k < lapCounts.size(); ++k) {
            // A run stopping after `limit` steps holds what the longest run
            // held then; one the longest run outlived ended where it did.
            const std::size_t limit = stepLimit(lapCounts[k], spacing);
            const std::size_t count = limit <= stepEnds.size() ? stepEnds[limit - 1] : rings.size();
            results[k].insert(results[k].end(), rings.begin(),
                              rings.begin() + static_cast<std::ptrdiff_t>(count));
        }
    });
    return results;
}

std::vector<Ring> insetArea(const Environment& fullScene, const Environment& area,
                            std::int32_t lapCount, double spacing, double firstInset,
                            std::vector<std::size_t>* stepEnds, std::size_t threadCorners,
                            RingUse use) {
    std::vector<Ring> output;

    // The first frontier: the perimeter, then the obstacles.  An outline that
    // cannot be placed on the grid leaves the area without rings: mowing it
    // without that outline would be mowing blind.
    Outlines frontier;
    if (!areaOutlines(area, frontier)) return output;
    const RingFilter filter = ringFilterOf(fullScene);

    const bool limited = lapCount > 0;
    const bool shrinks = spacingShrinks(spacing);

    // Whether the run goes on after `steps` inset steps by its lap limit and
    // the step cap (the ring cap and a failed step may still end it).
    auto goesOnAfter = [&](std::size_t steps) {
        if (steps >= kIterationCap) return false;
        return limited ? lapCount > static_cast<std::int64_t>(steps) : shrinks;
    };

    std::size_t iteration = 0;
    double delta = -kGridScale * firstInset;
    // The next inset step, found on a second thread while the gap of this
    // one is worked out (both start from this step's outlines).
    std::future<Step> nextStep;
    for (;;) {
        Step step = nextStep.valid() ? nextStep.get() : insetStep(frontier, delta);
        if (!step.ok) break;
        Outlines& solution = step.solution;

        // Too small for the first inset: the area yields its own outline.
        // Its obstacles' outlines then bound it as they stand; on the grid
        // one may start inside its own obstacle, so the ring filter, which
        // looks for lawn that starts inside an obstacle, does not drop them.
        const bool ownOutlines = iteration == 0 && solution.paths.empty();
        if (solution.paths.empty()) {
            if (iteration == 0) {
                solution = frontier;
            } else {
                appendGapRings(filter, frontier, spacing, output);
                break;
            }
        }

        if (ownOutlines && use == RingUse::Laps && obstaclesLeavePerimeter(area))
            appendRegionRings(filter, frontier, output);
        else
            appendRings(filter, solution.paths, true, output, ownOutlines ? 1 : SIZE_MAX);

        if (iteration > 0) {
            if (goesOnAfter(iteration + 1) && cornerCount(solution.paths) >= threadCorners)
                nextStep = startInsetStep(solution, -kGridScale * spacing);
            if (!appendStepGapRings(filter, frontier, solution, spacing, output)) break;
        }

        frontier = std::move(solution);
        ++iteration;
        if (stepEnds != nullptr) stepEnds->push_back(output.size());
        if (output.size() > kRingCap || !goesOnAfter(iteration)) break;
        delta = -kGridScale * spacing;
    }
    return output;
}

}  // namespace Planner
