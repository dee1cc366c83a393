#include "planner/pipeline.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <optional>
#include <system_error>

#include "planner/constants.h"
#include "planner/free_regions.h"
#include "planner/geometry.h"
#include "planner/inset.h"
#include "planner/lane_ends.h"
#include "planner/lanes.h"
#include "planner/linking.h"
#include "planner/normalise.h"
#include "planner/sight_index.h"
#include "planner/transit.h"

namespace Planner {

namespace {

void rotateEnvironment(Environment& environment, double angle) {
    rotatePoints(environment.perimeter.points, angle);
    for (Polygon& obstacle : environment.obstacles) rotatePoints(obstacle.points, angle);
    for (Polygon& mowArea : environment.mowAreas) rotatePoints(mowArea.points, angle);
    rotatePoints(environment.virtualWire.points, angle);
    rotatePoints(environment.dockingWire.points, angle);
}

// Quarter turns for the second lane set of "squares".
void quarterTurn(std::vector<Point>& points) {
    for (Point& p : points) p = Point(p.x * kCosQuarterTurn - p.y, p.x + p.y * kCosQuarterTurn);
}

void quarterTurnBack(std::vector<Point>& points) {
    for (Point& p : points) p = Point(p.x * kCosQuarterTurn + p.y, p.y * kCosQuarterTurn - p.x);
}

void quarterTurn(Environment& environment) {
    quarterTurn(environment.perimeter.points);
    for (Polygon& obstacle : environment.obstacles) quarterTurn(obstacle.points);
    for (Polygon& mowArea : environment.mowAreas) quarterTurn(mowArea.points);
    quarterTurn(environment.virtualWire.points);
    quarterTurn(environment.dockingWire.points);
}

void appendRings(std::vector<LineString>& slices, std::vector<Ring>&& rings) {
    for (Ring& ring : rings) slices.emplace_back(std::move(ring));
}

bool isUsableSpacing(double spacing) {
    return std::isfinite(spacing) && spacing >= kMinimumSpacing;
}

// A lap count reaches the offsetting stage as a signed 32-bit value.  With a
// spacing that cannot move inwards (zero, negative, not finite, below 1 mm)
// every lap after the first would repeat it or grow out of the lawn, so only
// the first is laid.
std::int32_t lapCountForStage(std::uint64_t laps, double spacing) {
    if (!isUsableSpacing(spacing)) return 1;
    return static_cast<std::int32_t>(laps);
}

// Laps along the perimeter (the outer rings) and around the obstacles (the
// holes), each from an offsetting run over the whole lawn.  The two runs
// differ only in their lap counts, so one run serves both.
struct Laps {
    std::vector<Ring> border;
    std::vector<Ring> exclusions;
};

bool wantsBorderLaps(const PathSettings& settings) {
    return settings.mowBorder && settings.borderLaps != 0;
}

bool wantsExclusionLaps(const PathSettings& settings) {
    return settings.mowExclusionsBoder && settings.exclusionsBorderLaps != 0;
}

Laps lapRings(const Environment& working, const PathSettings& settings) {
    const bool border = wantsBorderLaps(settings);
    const bool exclusions = wantsExclusionLaps(settings);
    std::vector<std::int32_t> counts;
    if (border) counts.push_back(lapCountForStage(settings.borderLaps, settings.offset));
    if (exclusions)
        counts.push_back(lapCountForStage(settings.exclusionsBorderLaps, settings.offset));
    Laps laps;
    if (counts.empty()) return laps;
    const std::vector<std::vector<Ring>> rings =
        computeInsetRingsForLapCounts(working, counts, settings.offset, kLapFirstInset);
    if (border) {
        laps.border = filterRingsByOrientation(rings.front(), false);
        if (!settings.mowBorderCcw) {
            for (Ring& lap : laps.border) orientRing(lap, false);
        }
    }
    if (exclusions) {
        laps.exclusions = filterRingsByOrientation(rings.back(), true);
        if (settings.mowExclusionsBorderCcw) {
            for (Ring& lap : laps.exclusions) orientRing(lap, true);
        }
    }
    return laps;
}

std::size_t cornerCount(const Environment& scene) {
    std::size_t corners = scene.perimeter.points.size();
    for (const Polygon& obstacle : scene.obstacles) corners += obstacle.points.size();
    for (const Polygon& mowArea : scene.mowAreas) corners += mowArea.points.size();
    return corners;
}

std::vector<Environment> workAreas(const Environment& working, const PathSettings& settings) {
    std::vector<Environment> areas;
    if (!(settings.distanceToBorder > 0.0)) {
        areas.push_back(working);
        return areas;
    }
    const std::vector<Ring> rings = computeInsetRings(
        working, 1, settings.distanceToBorder, settings.distanceToBorder, RingUse::WorkArea);
    const std::vector<Ring> outers = filterRingsByOrientation(rings, false);
    const std::vector<Ring> holes = filterRingsByOrientation(rings, true);
    for (const Ring& outer : outers) {
        Environment area{Polygon(outer)};
        for (const Ring& hole : holes) {
            if (!holeHoldsOuter(hole, outer)) area.addObstacle(Polygon(hole));
        }
        areas.push_back(std::move(area));
    }
    return areas;
}

}  // namespace

void rotatePoints(std::vector<Point>& points, double angle) {
    if (points.empty()) return;
    const double s = std::sin(angle);
    const double c = std::cos(angle);
    for (Point& p : points) p = Point(p.x * c - p.y * s, p.x * s + p.y * c);
}

std::vector<Ring> filterRingsByOrientation(const std::vector<Ring>& rings, bool wantHoles) {
    std::vector<Ring> selected;
    for (const Ring& ring : rings) {
        if (ring.empty()) continue;
        std::vector<std::int64_t> xs(ring.size());
        std::vector<std::int64_t> ys(ring.size());
        bool onGrid = true;
        for (std::size_t i = 0; i < ring.size() && onGrid; ++i) {
            onGrid = toGrid(ring[i].x, xs[i]) && toGrid(ring[i].y, ys[i]);
        }
        if (!onGrid) continue;  // no outline of the offsetting stage looks like this
        if (ring.size() < 3) {
            if (!wantHoles) selected.push_back(ring);
            continue;
        }
        double sum = 0.0;
        const std::size_t n = ring.size();
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t prev = (i + n - 1) % n;
            sum += static_cast<double>(ys[prev] + ys[i]) * static_cast<double>(xs[prev] - xs[i]);
        }
        const double area = 0.5 * sum;
        if (wantHoles ? (area < 0.0) : (area >= 0.0)) selected.push_back(ring);
    }
    return selected;
}

bool holeHoldsOuter(const Ring& hole, const Ring& outer) {
    if (hole.size() < 3 || outer.size() < 3) return false;
    // Every vertex of the outer ring lies in the hole, so its box in the
    // hole's (grown by more than the on-outline band).
    const Box h = boxOf(hole);
    const Box o = boxOf(outer);
    const double pad = kIslandBoxPad;
    if (!(h.x0 - pad <= o.x0 && o.x1 <= h.x1 + pad && h.y0 - pad <= o.y0 && o.y1 <= h.y1 + pad))
        return false;
    bool strictly = false;
    for (const Point& p : outer) {
        if (!isPointInPolygon(hole, p.x, p.y)) return false;
        strictly = strictly || isPointStrictlyInPolygon(hole, p.x, p.y);
    }
    return strictly;
}

std::vector<LineString> patternSlices(const Environment& area, const PathSettings& settings) {
    if (settings.pattern == "lines") return generateSlices(area, settings.offset);
    if (settings.pattern == "squares") {
        std::vector<LineString> slices = generateSlices(area, settings.offset);
        Environment turned = area;
        quarterTurn(turned);
        std::vector<LineString> second = generateSlices(turned, settings.offset);
        for (LineString& lane : second) {
            quarterTurnBack(lane.points);
            slices.push_back(std::move(lane));
        }
        return slices;
    }
    // Concentric rings.  Without a lap limit a spacing that cannot shrink the
    // outline would only repeat it, so such a spacing gives no rings, as it
    // gives no lanes.
    std::vector<LineString> slices;
    if (!isUsableSpacing(settings.offset)) return slices;
    appendRings(slices, computeInsetRings(area, 0, settings.offset, kLapFirstInset));
    return slices;
}

namespace {

// The caller's scene in the lane frame of `angle`, normalised: the scene of
// every stage, line-of-sight test and transit search of a call.
Environment laneFrameScene(const Environment& environment, double angle) {
    Environment working = environment;
    rotateEnvironment(working, -angle);
    normaliseScene(working);
    return working;
}

Point toLaneFrame(const Point& point, double angle) {
    std::vector<Point> points{point};
    rotatePoints(points, -angle);
    return points.front();
}

SliceKind areaKind(const PathSettings& settings) {
    return settings.pattern == "lines" || settings.pattern == "squares" ? SliceKind::AreaLane
                                                                        : SliceKind::AreaRing;
}

void appendRings(TaskSlices& task, std::vector<Ring>&& rings, SliceKind kind) {
    task.kinds.insert(task.kinds.end(), rings.size(), kind);
    appendRings(task.slices, std::move(rings));
}

// The area slices, then the perimeter laps, then the obstacle laps of the
// working scene (lane frame).  On a large scene the laps are laid on a
// second thread meanwhile, and `meanwhile` runs while they are.
TaskSlices laneFrameSlices(const Environment& working, const PathSettings& settings,
                           const std::function<void()>& meanwhile = nullptr) {
    // The laps and the work areas' slices are independent.
    std::future<Laps> lapsJob;
    if (settings.mowArea && (wantsBorderLaps(settings) || wantsExclusionLaps(settings)) &&
        cornerCount(working) >= kLapThreadCorners) {
        try {
            lapsJob = std::async(std::launch::async, lapRings, std::cref(working),
                                 std::cref(settings));
        } catch (const std::system_error&) {
            // No thread to be had: the laps are laid after the slices.
        }
    }

    TaskSlices task;
    if (settings.mowArea) {
        const SliceKind kind = areaKind(settings);
        for (const Environment& area : workAreas(working, settings)) {
            std::vector<LineString> areaSlices = patternSlices(area, settings);
            if (settings.distanceToBorder > 0.0 &&
                Planner::areaLiesOnOutlines(working, area, settings.distanceToBorder))
                Planner::pullLaneEndsOntoOutlines(working, areaSlices);
            task.kinds.insert(task.kinds.end(), areaSlices.size(), kind);
            for (LineString& slice : areaSlices) task.slices.push_back(std::move(slice));
        }
    }

    if (lapsJob.valid() && meanwhile) meanwhile();
    Laps laps = lapsJob.valid() ? lapsJob.get() : lapRings(working, settings);
    appendRings(task, std::move(laps.border), SliceKind::PerimeterLap);
    appendRings(task, std::move(laps.exclusions), SliceKind::ObstacleLap);
    return task;
}

double sliceLength(const std::vector<Point>& points) {
    double length = 0.0;
    for (std::size_t i = 1; i < points.size(); ++i)
        length += distanceBetween(points[i - 1], points[i]);
    if (points.size() >= 3) length += distanceBetween(points.back(), points.front());
    return length;
}

}  // namespace

PathPlanner::PlanningResult computeFullTask(const Environment& environment,
                                            const PathSettings& settings, const Point& start,
                                            const PlanningOptions& options) {
    return planTask(environment, settings, start, options).result;
}

PlannedTask planTask(const Environment& environment, const PathSettings& settings,
                     const Point& start, const PlanningOptions& options) {
    // A perimeter of fewer than three points encloses no lawn.  Offsetting
    // would otherwise turn the obstacles alone into work areas and laps.
    PlannedTask planned;
    if (environment.perimeter.points.size() < 3) return planned;

    // Enter the lane frame on private copies.
    const Environment working = laneFrameScene(environment, settings.angle);
    const Point startPoint = toLaneFrame(start, settings.angle);

    // While the laps are still being laid, the ordering stage's sight index
    // and what its transit searches share (on a scene this large some
    // search is all but certain).
    std::optional<SightIndex> sight;
    TransitShare share;
    TaskSlices task = laneFrameSlices(working, settings, [&] {
        sight.emplace(buildSightIndex(working));
        prepareTransits(working, *sight, options.collectSearchDetails, share);
    });

    PathPlanner::PlanningResult& result = planned.result;
    if (!task.slices.empty()) {
        if (!sight) sight.emplace(buildSightIndex(working));
        linkSlices(working, *sight, task.slices, startPoint, result,
                   options.collectSearchDetails, share);
    }
    result.slices = std::move(task.slices);
    planned.kinds = std::move(task.kinds);

    // Leave the lane frame.
    rotatePoints(result.path.points, settings.angle);
    for (LineString& line : result.connectors) rotatePoints(line.points, settings.angle);
    for (LineString& line : result.searchEdges) rotatePoints(line.points, settings.angle);
    for (LineString& slice : result.slices) rotatePoints(slice.points, settings.angle);
    return planned;
}

TaskSlices computeTaskSlices(const Environment& environment, const PathSettings& settings) {
    if (environment.perimeter.points.size() < 3) return TaskSlices();
    TaskSlices task = laneFrameSlices(laneFrameScene(environment, settings.angle), settings);
    for (LineString& slice : task.slices) rotatePoints(slice.points, settings.angle);
    return task;
}

SliceFigures computeSliceFigures(const Environment& environment, const PathSettings& settings,
                                 const StartReach* reach) {
    SliceFigures figures;
    if (environment.perimeter.points.size() < 3) return figures;
    const TaskSlices task =
        laneFrameSlices(laneFrameScene(environment, settings.angle), settings);
    const bool judged = reach != nullptr && reach->usable && !reach->whole;
    std::vector<Point> entries;
    for (std::size_t i = 0; i < task.slices.size(); ++i) {
        const std::size_t kind = static_cast<std::size_t>(task.kinds[i]);
        const std::vector<Point>& points = task.slices[i].points;
        figures.counts[kind] += 1;
        figures.lengths[kind] += sliceLength(points);
        if (!judged || points.empty()) continue;
        // The entries in the caller's frame, where the reach lies.
        if (points.size() >= 3)
            entries = points;
        else
            entries = {points.front(), points.back()};
        rotatePoints(entries, settings.angle);
        bool held = false;
        for (std::size_t k = 0; k < entries.size() && !held; ++k)
            held = reachMayHold(*reach, entries[k].x, entries[k].y);
        if (!held) figures.cutOff[kind] += 1;
    }
    return figures;
}

StartReach computeStartReach(const Environment& environment, const Point& start) {
    if (environment.perimeter.points.size() < 3) return StartReach();
    const Environment working = laneFrameScene(environment, 0.0);
    // The ordering stage drives a start inside an obstacle out of it first.
    Point from = start;
    wayOutOfObstacle(working, start.x, start.y, from);
    const SightIndex sight = buildSightIndex(working);
    const TransitContext context = buildTransitContext(working, sight);
    const FreeRegions regions = buildFreeRegions(context);
    return buildStartReach(regions, context, from.x, from.y);
}

std::vector<Point> findTransitBetween(const Environment& environment, const Point& from,
                                      const Point& to, double angle) {
    if (environment.perimeter.points.size() < 3) return std::vector<Point>();
    const Environment working = laneFrameScene(environment, angle);
    const Point a = toLaneFrame(from, angle);
    const Point b = toLaneFrame(to, angle);
    const SightIndex sight = buildSightIndex(working);
    const TransitContext context = buildTransitContext(working, sight);
    TransitCache cache;
    std::vector<Point> way = findTransitPath(context, cache, nullptr, a.x, a.y, b.x, b.y);
    rotatePoints(way, angle);
    return way;
}

}  // namespace Planner
