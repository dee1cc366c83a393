#include "planner/linking.h"

#include <cmath>
#include <cstddef>

#include "planner/constants.h"
#include "planner/geometry.h"
#include "planner/transit.h"

namespace Planner {

namespace {

double distanceBetween(const Point& a, const Point& b) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    return std::sqrt(dx * dx + dy * dy);
}

bool isRing(const LineString& slice) { return slice.points.size() >= 3; }

struct SliceChoice {
    bool found = false;
    std::size_t index = 0;
    std::size_t entry = 0;
    bool reverse = false;
    bool ring = false;
    double distance = kNoChoiceDistance;
};

// The nearest unvisited slice end (lane) or vertex (ring) from `from`.
// With `needSight` only ends in a straight line of sight count; the sight
// test runs only for a candidate strictly nearer than the best so far.
SliceChoice chooseNearestSlice(const Environment& environment,
                               const std::vector<LineString>& slices,
                               const std::vector<bool>& visited, const Point& from,
                               bool needSight) {
    SliceChoice best;
    auto inSight = [&](const Point& p) {
        return !needSight || isSegmentFree(environment, from.x, from.y, p.x, p.y);
    };
    for (std::size_t i = 0; i < slices.size(); ++i) {
        if (visited[i]) continue;
        const std::vector<Point>& points = slices[i].points;
        if (points.empty()) continue;
        if (!isRing(slices[i])) {
            const double dStart = distanceBetween(from, points.front());
            const double dEnd = distanceBetween(from, points.back());
            if (dStart < best.distance && inSight(points.front())) {
                best = SliceChoice{true, i, 0, false, false, dStart};
            }
            if (dEnd < best.distance && inSight(points.back())) {
                best = SliceChoice{true, i, 0, true, false, dEnd};
            }
        } else {
            for (std::size_t k = 0; k < points.size(); ++k) {
                const double d = distanceBetween(from, points[k]);
                if (d < best.distance && inSight(points[k])) {
                    best = SliceChoice{true, i, k, false, true, d};
                }
            }
        }
    }
    return best;
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
                const Point& start, PathPlanner::PlanningResult& result) {
    std::vector<bool> visited(slices.size(), false);
    LineString& path = result.path;
    path.points.push_back(start);
    Point current = start;

    for (std::size_t iteration = 0; iteration < slices.size(); ++iteration) {
        SliceChoice choice = chooseNearestSlice(environment, slices, visited, current, true);
        if (choice.found) {
            visited[choice.index] = true;
            appendSlice(path, slices[choice.index], choice.reverse, choice.entry, choice.ring);
        } else {
            choice = chooseNearestSlice(environment, slices, visited, current, false);
            if (choice.found) {
                const LineString& slice = slices[choice.index];
                // A ring is ranked by its nearest vertex but reached at vertex 0.
                const Point target = choice.reverse ? slice.points.back() : slice.points.front();
                result.connectors.push_back(LineString({current, target}));
                const std::vector<Point> transit = findTransitPath(
                    environment, result.searchEdges, current.x, current.y, target.x, target.y);
                visited[choice.index] = true;
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
