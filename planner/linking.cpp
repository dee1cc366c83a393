#include "planner/linking.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "planner/constants.h"
#include "planner/free_regions.h"
#include "planner/geometry.h"
#include "planner/sight_index.h"
#include "planner/point_index.h"
#include "planner/transit.h"

namespace Planner {

namespace {

bool isRing(const LineString& slice) { return slice.points.size() >= 3; }

struct SliceChoice {
    bool found = false;
    std::size_t index = 0;
    std::size_t entry = 0;
    bool reverse = false;
    bool ring = false;
    double distance = kNoChoiceDistance;
};

// A place where a slice can be entered: a lane's first or last point, or a
// ring's vertex.  Their list order is the order in which a scan over the
// slices meets them, which decides between equal distances.
struct Entry {
    std::uint32_t slice;
    std::uint32_t vertex;  // ring vertex; for a lane 0 (first point) or 1 (last point)
};

struct Entries {
    std::vector<Point> points;
    std::vector<Entry> entries;
    std::vector<std::uint32_t>
        firstOfSlice;  // entries of slice i: [firstOfSlice[i], firstOfSlice[i + 1])
};

Entries listEntries(const std::vector<LineString>& slices) {
    Entries list;
    std::size_t count = 0;
    for (const LineString& slice : slices)
        count += slice.points.empty() ? 0 : (isRing(slice) ? slice.points.size() : 2);
    list.points.reserve(count);
    list.entries.reserve(count);
    list.firstOfSlice.reserve(slices.size() + 1);
    list.firstOfSlice.push_back(0);
    for (std::size_t i = 0; i < slices.size(); ++i) {
        const std::vector<Point>& points = slices[i].points;
        const std::uint32_t slice = static_cast<std::uint32_t>(i);
        if (!points.empty() && !isRing(slices[i])) {
            list.points.push_back(points.front());
            list.entries.push_back({slice, 0});
            list.points.push_back(points.back());
            list.entries.push_back({slice, 1});
        } else if (!points.empty()) {
            for (std::size_t k = 0; k < points.size(); ++k) {
                list.points.push_back(points[k]);
                list.entries.push_back({slice, static_cast<std::uint32_t>(k)});
            }
        }
        list.firstOfSlice.push_back(static_cast<std::uint32_t>(list.entries.size()));
    }
    return list;
}

SliceChoice choiceOf(const std::vector<LineString>& slices, const Entry& entry, double distance) {
    if (isRing(slices[entry.slice]))
        return SliceChoice{true, entry.slice, entry.vertex, false, true, distance};
    return SliceChoice{true, entry.slice, 0, entry.vertex == 1, false, distance};
}

// The nearest unvisited slice end (lane) or vertex (ring) from `from`, with
// `needSight` the nearest one in a straight line of sight: a scan over all
// slices that keeps a candidate only when it is strictly nearer than the
// best so far (and, with `needSight`, in sight) picks the least distance,
// and of equal distances the entry it meets first.  The entries come here
// in just that order, so the first one in sight is the choice.  With
// `resume` the walk goes on from where it stopped (see linkSlices).
SliceChoice chooseNearestSlice(const SightIndex& sight, SightScratch& scratch,
                               const std::vector<LineString>& slices, const Entries& list,
                               const PointTree& tree, PointWalk& walk, const Point& from,
                               bool needSight, bool resume = false) {
    if (!std::isfinite(from.x) || !std::isfinite(from.y)) return SliceChoice{};
    if (!resume) startWalk(tree, from, walk);
    std::uint32_t id = 0;
    double distance = 0.0;
    while (nextNearest(tree, walk, id, distance)) {
        if (!(distance < kNoChoiceDistance)) break;
        const Point& p = tree.points[tree.slotOf[id]];
        if (!needSight || isSegmentFree(sight, scratch, from.x, from.y, p.x, p.y))
            return choiceOf(slices, list.entries[id], distance);
    }
    return SliceChoice{};
}

bool sameBits(const Point& a, const Point& b) {
    return std::memcmp(&a.x, &b.x, sizeof a.x) == 0 && std::memcmp(&a.y, &b.y, sizeof a.y) == 0;
}

// The ring vertex nearest to `p`; the lowest index wins a tie.
std::size_t nearestVertex(const std::vector<Point>& ring, const Point& p) {
    std::size_t entry = 0;
    double minimum = kRingEntrySearchStart;
    for (std::size_t k = 0; k < ring.size(); ++k) {
        const double d = distanceBetween(p, ring[k]);
        if (d < minimum) {
            minimum = d;
            entry = k;
        }
    }
    return entry;
}

}  // namespace

void linkSlices(const Environment& environment, const std::vector<LineString>& slices,
                const Point& start, PathPlanner::PlanningResult& result,
                bool collectSearchDetails) {
    linkSlices(environment, buildSightIndex(environment), slices, start, result,
               collectSearchDetails);
}

TransitShare::TransitShare() = default;
TransitShare::~TransitShare() = default;
TransitShare::TransitShare(TransitShare&&) noexcept = default;
TransitShare& TransitShare::operator=(TransitShare&&) noexcept = default;

void prepareTransits(const Environment& environment, const SightIndex& sight,
                     bool collectSearchDetails, TransitShare& share) {
    if (!share.context)
        share.context = std::make_unique<TransitContext>(buildTransitContext(environment, sight));
    if (!collectSearchDetails && !share.regions)
        share.regions = std::make_unique<FreeRegions>(buildFreeRegions(*share.context));
}

void linkSlices(const Environment& environment, const SightIndex& sight,
                const std::vector<LineString>& slices, const Point& start,
                PathPlanner::PlanningResult& result, bool collectSearchDetails) {
    TransitShare share;
    linkSlices(environment, sight, slices, start, result, collectSearchDetails, share);
}

void linkSlices(const Environment& environment, const SightIndex& sight,
                const std::vector<LineString>& slices, const Point& start,
                PathPlanner::PlanningResult& result, bool collectSearchDetails,
                TransitShare& share) {
    // Indexes of these slices, shared with the scene's by every iteration.
    SightScratch scratch;
    // The transit search's nodes are gathered at its first use (unless the
    // caller did), and the lawn's free regions at the first search that
    // keeps no edges.
    std::unique_ptr<TransitContext>& transitContext = share.context;
    std::unique_ptr<FreeRegions>& regions = share.regions;
    TransitCache transitCache;
    Entries list = listEntries(slices);
    PointTree tree = buildPointTree(list.points);
    std::vector<Point>().swap(list.points);  // the tree holds them now
    PointWalk walk;
    auto markVisited = [&](std::size_t slice) {
        for (std::uint32_t e = list.firstOfSlice[slice]; e < list.firstOfSlice[slice + 1]; ++e)
            removePoint(tree, e);
    };

    LineString& path = result.path;
    path.points.push_back(start);
    Point current = start;
    // A start just inside an obstacle is driven out of it first, by the
    // shortest way: no other move runs inside an obstacle.
    if (wayOutOfObstacle(environment, start.x, start.y, current)) path.points.push_back(current);
    // Where the last search for a slice in sight found none.  From the same
    // place, with fewer slices left, none is in sight again.
    bool blind = false;
    Point blindAt;
    // What the last failed search reached: a search known to fail is
    // skipped when nobody sees its edges.
    TransitReach reach;
    // Where the walk of the last choice without sight started.  From the
    // same place the next such choice goes on with that walk, if no walk
    // testing sight came between (it hands out points that stay): the walk
    // has handed out only the point chosen, which was taken out (or one at
    // kNoChoiceDistance or farther, after which nothing is chosen from
    // there), and every point left is in its heap, or below a box there, at
    // no more than its distance (taking points out keeps that); so it hands
    // out the nearest point left, as a new walk would.
    bool walkGoesOn = false;
    Point walkFrom;

    for (std::size_t iteration = 0; iteration < slices.size(); ++iteration) {
        SliceChoice choice;
        if (!(blind && sameBits(current, blindAt))) {
            choice = chooseNearestSlice(sight, scratch, slices, list, tree, walk, current, true);
            blind = !choice.found;
            blindAt = current;
            walkGoesOn = false;
        }
        if (choice.found) {
            markVisited(choice.index);
            appendSlice(path, slices[choice.index], choice.reverse, choice.entry, choice.ring);
        } else {
            const bool resume = walkGoesOn && sameBits(current, walkFrom);
            choice = chooseNearestSlice(sight, scratch, slices, list, tree, walk, current, false,
                                        resume);
            walkGoesOn = true;
            walkFrom = current;
            if (choice.found) {
                const LineString& slice = slices[choice.index];
                // A ring is ranked by its nearest vertex but reached at vertex 0.
                const Point target = choice.reverse ? slice.points.back() : slice.points.front();
                if (collectSearchDetails)
                    result.connectors.push_back(LineString({current, target}));
                if (!transitContext) {
                    transitContext =
                        std::make_unique<TransitContext>(buildTransitContext(environment, sight));
                }
                std::vector<Point> transit;
                if (collectSearchDetails) {
                    transit = findTransitPath(*transitContext, transitCache, &result.searchEdges,
                                              current.x, current.y, target.x, target.y);
                } else {
                    // A search known to fail is skipped when nobody sees its
                    // edges: one between regions that nothing joins, or one
                    // that the last failed search shows cannot succeed.
                    if (!regions)
                        regions = std::make_unique<FreeRegions>(buildFreeRegions(*transitContext));
                    if (!regionsPart(*regions, *transitContext, current.x, current.y, target.x,
                                     target.y) &&
                        !transitCertainlyFails(*transitContext, transitCache, reach, current.x,
                                               current.y, target.x, target.y)) {
                        transit = findTransitPath(*transitContext, transitCache, nullptr,
                                                  current.x, current.y, target.x, target.y,
                                                  &reach);
                    }
                }
                markVisited(choice.index);
                if (!transit.empty()) {
                    path.points.insert(path.points.end(), transit.begin() + 1, transit.end());
                    const std::size_t entry =
                        choice.ring ? nearestVertex(slice.points, path.points.back()) : 0;
                    appendSlice(path, slice, choice.reverse, entry, choice.ring);
                }
            }
        }
        current = path.points.back();
    }
}

void appendSlice(LineString& path, const LineString& slice, bool reverse, std::size_t entry,
                 bool ring) {
    if (&slice == &path) {
        // Appending a line to itself: work from a copy, the list grows.
        const LineString copy = slice;
        appendSlice(path, copy, reverse, entry, ring);
        return;
    }
    const std::vector<Point>& points = slice.points;
    if (points.empty()) return;
    if (ring) {
        const std::size_t n = points.size();
        const std::size_t first = entry % n;
        std::size_t skip = 0;
        if (!path.points.empty() &&
            distanceBetween(points[first], path.points.back()) < kSamePosition) {
            skip = 1;
        }
        for (std::size_t j = skip; j <= n; ++j) path.points.push_back(points[(first + j) % n]);
        return;
    }
    if (reverse) {
        path.points.insert(path.points.end(), points.rbegin(), points.rend());
    } else {
        path.points.insert(path.points.end(), points.begin(), points.end());
    }
}

}  // namespace Planner
