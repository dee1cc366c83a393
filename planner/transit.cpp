#include "planner/transit.h"

#include <cmath>
#include <cstddef>
#include <limits>

#include "planner/constants.h"
#include "planner/geometry.h"

namespace Planner {

namespace {

double distanceBetween(double ax, double ay, double bx, double by) {
    const double dx = bx - ax;
    const double dy = by - ay;
    return std::sqrt(dx * dx + dy * dy);
}

// NaN never compares smaller, so a non-finite position is never "the same"
// as anything, itself included.
bool samePosition(double ax, double ay, double bx, double by) {
    return distanceBetween(ax, ay, bx, by) < kSamePosition;
}

bool isFinitePosition(double x, double y) { return std::isfinite(x) && std::isfinite(y); }

bool areConsecutiveWirePoints(const SearchRecord& record, const TransitNode& node) {
    if (!record.onWire || !node.onWire) return false;
    const std::uint64_t a = record.wireIndex;
    const std::uint64_t b = node.wireIndex;
    return (a > b ? a - b : b - a) == 1;
}

// Index of the record with the smallest g + h; the earliest one wins a tie.
std::size_t selectCheapest(const std::vector<SearchRecord>& open) {
    std::size_t chosen = 0;
    double chosenCost = open[0].g + open[0].h;
    for (std::size_t i = 1; i < open.size(); ++i) {
        const double cost = open[i].g + open[i].h;
        if (cost < chosenCost) {
            chosen = i;
            chosenCost = cost;
        }
    }
    return chosen;
}

bool isNearAnyRecord(const std::vector<SearchRecord>& records, double x, double y) {
    for (const SearchRecord& record : records) {
        if (samePosition(record.x, record.y, x, y)) return true;
    }
    return false;
}

SearchRecord* firstRecordNear(std::vector<SearchRecord>& records, double x, double y) {
    for (SearchRecord& record : records) {
        if (samePosition(record.x, record.y, x, y)) return &record;
    }
    return nullptr;
}

std::vector<Point> reconstructPath(const SearchRecord& last,
                                   const std::vector<SearchRecord>& closed) {
    std::vector<Point> reversed;
    reversed.emplace_back(last.x, last.y);
    std::int32_t parent = last.parent;
    // Every parent index points at an earlier closed record, so this ends.
    while (parent >= 0) {
        const SearchRecord& record = closed[static_cast<std::size_t>(parent)];
        reversed.emplace_back(record.x, record.y);
        parent = record.parent;
    }
    return std::vector<Point>(reversed.rbegin(), reversed.rend());
}

// Greedy line-of-sight pass: from each kept point, jump to the farthest
// later point that is still reachable by an unbroken run of free segments.
std::vector<Point> shortenPath(const Environment& environment, const std::vector<Point>& path) {
    const std::size_t n = path.size();
    if (n <= 2) return path;
    std::vector<Point> out;
    out.push_back(path[0]);
    std::size_t i = 0;
    while (i < n - 1) {
        std::size_t next = i + 1;
        if (i + 2 < n) {
            next = n - 1;
            for (std::size_t j = i + 2; j < n; ++j) {
                if (!isSegmentFree(environment, path[i].x, path[i].y, path[j].x, path[j].y)) {
                    next = j - 1;
                    break;
                }
            }
        }
        out.push_back(path[next]);
        i = next;
    }
    return out;
}

}  // namespace

std::vector<TransitNode> buildTransitNodes(const Environment& environment, double targetX,
                                           double targetY) {
    std::vector<TransitNode> nodes;
    const std::vector<Point>& wire = environment.virtualWire.points;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        nodes.push_back(TransitNode{wire[i].x, wire[i].y, true, static_cast<std::uint64_t>(i)});
    }

    auto addCorner = [&nodes](const Point& corner) {
        for (const TransitNode& node : nodes) {
            if (samePosition(node.x, node.y, corner.x, corner.y)) return;
        }
        nodes.push_back(TransitNode{corner.x, corner.y, false, 0});
    };
    for (const Polygon& obstacle : environment.obstacles) {
        for (const Point& corner : obstacle.points) addCorner(corner);
    }
    for (const Point& corner : environment.perimeter.points) addCorner(corner);

    nodes.push_back(TransitNode{targetX, targetY, false, 0});
    return nodes;
}

std::vector<Point> findTransitPath(const Environment& environment,
                                   std::vector<LineString>& searchEdges, double startX,
                                   double startY, double targetX, double targetY) {
    const std::vector<TransitNode> nodes = buildTransitNodes(environment, targetX, targetY);

    std::vector<SearchRecord> open;
    std::vector<SearchRecord> closed;
    SearchRecord startRecord;
    startRecord.x = startX;
    startRecord.y = startY;
    startRecord.g = 0.0;
    startRecord.h = distanceBetween(startX, startY, targetX, targetY);
    startRecord.parent = -1;
    open.push_back(startRecord);

    constexpr std::size_t kMaxClosed =
        static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());

    while (!open.empty()) {
        const std::size_t chosen = selectCheapest(open);
        if (samePosition(open[chosen].x, open[chosen].y, targetX, targetY)) {
            return shortenPath(environment, reconstructPath(open[chosen], closed));
        }

        // Parent indices are 32-bit; a closed list that long cannot arise
        // from a sane scene, but it must not wrap round either.
        if (closed.size() >= kMaxClosed) return {};
        const SearchRecord current = open[chosen];
        open.erase(open.begin() + static_cast<std::ptrdiff_t>(chosen));
        closed.push_back(current);
        const std::int32_t parentIndex = static_cast<std::int32_t>(closed.size() - 1);

        for (const TransitNode& node : nodes) {
            // A non-finite position never matches a record, not even its
            // own, so stepping onto one could repeat without end.
            if (!isFinitePosition(node.x, node.y)) continue;
            if (samePosition(current.x, current.y, node.x, node.y)) continue;

            double multiplier = 1.0;
            if (areConsecutiveWirePoints(current, node)) {
                multiplier = kWireCostMultiplier;
            } else if (!isSegmentFree(environment, current.x, current.y, node.x, node.y)) {
                continue;
            }

            searchEdges.push_back(LineString({Point(current.x, current.y), Point(node.x, node.y)}));

            const double gNew =
                current.g + multiplier * distanceBetween(current.x, current.y, node.x, node.y);
            double hNew = distanceBetween(node.x, node.y, targetX, targetY);
            if (node.onWire) hNew = hNew * kWireHeuristicFactor;

            if (isNearAnyRecord(closed, node.x, node.y)) continue;

            if (SearchRecord* known = firstRecordNear(open, node.x, node.y)) {
                if (known->g > gNew) {
                    known->g = gNew;
                    known->h = hNew;
                    known->parent = parentIndex;
                }
                continue;
            }

            SearchRecord record;
            record.x = node.x;
            record.y = node.y;
            record.g = gNew;
            record.h = hNew;
            record.parent = parentIndex;
            record.onWire = node.onWire;
            record.wireIndex = node.wireIndex;
            open.push_back(record);
        }
    }
    return {};
}

}  // namespace Planner
