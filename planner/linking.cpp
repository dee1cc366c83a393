#include "planner/linking.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>

#include "planner/constants.h"
#include "planner/free_regions.h"
#include "planner/geometry.h"
#include "planner/sight_test.h"
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

// The ordering loop.  `transitTo(from, to, ring)` gives the way from the
// current position to a slice's entry that no straight line of sight
// reaches: a path from `from` to `to`, or none when the slice cannot be
// reached.  `ring`: the slice when it is a ring, entered at its vertex
// nearest the way's end; null for a lane, entered at its first point
// wherever the way ends.
template <class Transit>
void orderSlices(const Environment& environment, const SightIndex& sight,
                 const std::vector<LineString>& slices, const Point& start,
                 PathPlanner::PlanningResult& result, bool collectSearchDetails,
                 Transit&& transitTo) {
    // Indexes of these slices, shared with the scene's by every iteration.
    SightScratch scratch;
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
                const std::vector<Point> transit =
                    transitTo(current, target, choice.ring ? &slice : nullptr);
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

// A transit the ordering stage asked for, and where the path holds the
// target in its stead (see linkPlanned); its slice when that is a ring.
struct TransitRequest {
    Point from;
    Point to;
    std::size_t at = 0;
    const LineString* ring = nullptr;
};

// A search's answer that the planned order took for granted: a way of two
// points or more that ends on the target, bit for bit, or beside it (on a
// node within 1 mm) where that changes nothing the loop does: a lane goes in
// after the way as it stands, and a ring does when the way's end picks the
// same entry vertex and takes or skips it alike (see appendSlice); the loop
// goes on from the slice's end either way.
bool wayFits(const std::vector<Point>& way, const TransitRequest& request) {
    if (way.size() < 2) return false;
    if (sameBits(way.back(), request.to) || request.ring == nullptr) return true;
    const std::vector<Point>& points = request.ring->points;
    const std::size_t entry = nearestVertex(points, request.to);
    return nearestVertex(points, way.back()) == entry &&
           (distanceBetween(points[entry], way.back()) < kSamePosition) ==
               (distanceBetween(points[entry], request.to) < kSamePosition);
}

// The searches of the planned order, run while it is planned: a second
// thread takes them from the first on as they are asked for; once the plan
// is done this thread takes them from the last back.  Each thread keeps a
// cache of its own and so runs neighbouring searches.  A search's answer
// does not depend on what a cache holds, only how soon it comes.
class PlannedSearches {
public:
    PlannedSearches(const TransitContext& context, bool collectSearchDetails)
        : context_(context), collect_(collectSearchDetails) {}
    PlannedSearches(const PlannedSearches&) = delete;
    PlannedSearches& operator=(const PlannedSearches&) = delete;
    ~PlannedSearches() { stop(); }

    void ask(const TransitRequest& request) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        if (!second_.valid() && !noThread_) {
            try {
                second_ = std::async(std::launch::async, [this] { runSecond(); });
            } catch (const std::system_error&) {
                noThread_ = true;  // no thread to be had: this one runs them all
            }
        }
        wake_.notify_one();
    }

    // Runs what is left once the plan is done; the requests, their ways and
    // (when collected) search edges, in the order asked.
    void finish(std::vector<TransitRequest>& requests, std::vector<std::vector<Point>>& ways,
                std::vector<std::vector<LineString>>& edges) {
        std::size_t count = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            planned_ = true;
            back_ = requests_.size();
            count = back_;
        }
        wake_.notify_one();
        ways_.resize(count);
        edges_.resize(collect_ ? count : 0);
        TransitCache cache;
        try {
            for (;;) {
                std::size_t k = 0;
                TransitRequest r;
                {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    if (front_ >= back_) break;
                    k = --back_;
                    r = requests_[k];
                }
                run(r, cache, ways_[k], collect_ ? &edges_[k] : nullptr);
            }
        } catch (...) {
            stop();
            throw;
        }
        if (second_.valid()) second_.get();
        for (Answer& answer : secondAnswers_) {
            ways_[answer.index] = std::move(answer.way);
            if (collect_) edges_[answer.index] = std::move(answer.edges);
        }
        requests = std::move(requests_);
        ways = std::move(ways_);
        edges = std::move(edges_);
    }

private:
    struct Answer {
        std::size_t index;
        std::vector<Point> way;
        std::vector<LineString> edges;
    };

    void run(const TransitRequest& r, TransitCache& cache, std::vector<Point>& way,
             std::vector<LineString>* edges) const {
        TransitReach reach;
        way = findTransitPath(context_, cache, edges, r.from.x, r.from.y, r.to.x, r.to.y,
                              collect_ ? nullptr : &reach);
    }

    void runSecond() {
        TransitCache cache;
        for (;;) {
            Answer answer;
            TransitRequest r;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                // Woken by a request, the end of the plan, or a stop.
                wake_.wait(lock,
                           [this] { return stopped_ || planned_ || front_ < requests_.size(); });
                if (stopped_ || front_ >= (planned_ ? back_ : requests_.size())) return;
                answer.index = front_++;
                r = requests_[answer.index];
            }
            run(r, cache, answer.way, collect_ ? &answer.edges : nullptr);
            secondAnswers_.push_back(std::move(answer));
        }
    }

    // Ends the second thread after the search it is running (its error, if
    // any, is dropped: this thread's comes first).
    void stop() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopped_ = true;
        }
        wake_.notify_one();
        if (second_.valid()) second_.wait();
    }

    const TransitContext& context_;
    const bool collect_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<TransitRequest> requests_;
    std::size_t front_ = 0;  // the next request of the second thread
    std::size_t back_ = 0;   // once planned: one past the last request no thread took
    bool planned_ = false;
    bool stopped_ = false;
    bool noThread_ = false;
    std::future<void> second_;
    std::vector<Answer> secondAnswers_;  // the second thread's alone until it has ended
    std::vector<std::vector<Point>> ways_;
    std::vector<std::vector<LineString>> edges_;
};

// The ordering of a large scene with its searches on two threads.  The
// order is planned first as if every search found its way and ended on its
// target (the path holds the target where the way goes), asking only where
// the free regions part the two ends, as the searches that keep no edges
// do; then the searches run, two at a time.  When each way fits (wayFits),
// the loop took every turn it would have taken with them (it reads only
// the path's last point, and no search failed, so none was judged from a
// failed one), and the ways go in where their targets stand.  Otherwise the
// order is found again one search after the other, as linkSequential does,
// and every search it asks that the plan asked too takes the answer found.
void linkPlanned(const Environment& environment, const SightIndex& sight,
                 const std::vector<LineString>& slices, const Point& start,
                 PathPlanner::PlanningResult& result, bool collectSearchDetails,
                 TransitShare& share);

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

namespace {

// The answers of the searches a planned order asked for, found by their two
// ends, bit for bit.  A search's answer depends on its ends alone, so when
// the order found again asks a search the plan asked too, anywhere in it,
// the answer holds; each is given once.
class PlannedAnswers {
public:
    PlannedAnswers(const std::vector<TransitRequest>& requests,
                   std::vector<std::vector<Point>>& ways,
                   std::vector<std::vector<LineString>>& edges)
        : ways_(ways), edges_(edges), given_(requests.size(), 0) {
        byEnds_.reserve(requests.size());
        for (std::size_t k = 0; k < requests.size(); ++k)
            byEnds_.push_back({endsKey(requests[k].from, requests[k].to), k});
        std::sort(byEnds_.begin(), byEnds_.end());
    }

    // The answer of a search from `from` to `to` not given yet (its search
    // edges appended to `searchEdges` when kept), or false.
    bool take(const Point& from, const Point& to, std::vector<Point>& way,
              std::vector<LineString>* searchEdges) {
        const Key key = endsKey(from, to);
        auto at = std::lower_bound(byEnds_.begin(), byEnds_.end(), Entry{key, 0});
        for (; at != byEnds_.end() && at->key == key; ++at) {
            if (given_[at->index]) continue;
            given_[at->index] = 1;
            way = std::move(ways_[at->index]);
            if (searchEdges != nullptr) {
                for (LineString& line : edges_[at->index]) searchEdges->push_back(std::move(line));
            }
            return true;
        }
        return false;
    }

private:
    using Key = std::array<std::uint64_t, 4>;
    struct Entry {
        Key key;
        std::size_t index;
        bool operator<(const Entry& other) const {
            return key != other.key ? key < other.key : index < other.index;
        }
    };

    static std::uint64_t bitsOf(double v) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        return bits;
    }

    static Key endsKey(const Point& from, const Point& to) {
        return {bitsOf(from.x), bitsOf(from.y), bitsOf(to.x), bitsOf(to.y)};
    }

    std::vector<std::vector<Point>>& ways_;
    std::vector<std::vector<LineString>>& edges_;
    std::vector<Entry> byEnds_;
    std::vector<std::uint8_t> given_;
};

// The ordering with one search after the other, sharing one cache; a
// search the plan's answers hold (when given) takes its answer from them.
void linkSequential(const Environment& environment, const SightIndex& sight,
                    const std::vector<LineString>& slices, const Point& start,
                    PathPlanner::PlanningResult& result, bool collectSearchDetails,
                    TransitShare& share, PlannedAnswers* planned = nullptr) {
    TransitCache transitCache;
    // What the last failed search reached: a search known to fail is
    // skipped when nobody sees its edges.
    TransitReach reach;
    orderSlices(environment, sight, slices, start, result, collectSearchDetails,
                [&](const Point& from, const Point& to, const LineString*) {
                    if (!share.context) prepareTransits(environment, sight, true, share);
                    if (!collectSearchDetails) {
                        // A search known to fail is skipped when nobody sees
                        // its edges: one between regions that nothing joins,
                        // or one that the last failed search shows cannot
                        // succeed.
                        prepareTransits(environment, sight, false, share);
                        if (regionsPart(*share.regions, *share.context, from.x, from.y, to.x,
                                        to.y) ||
                            transitCertainlyFails(*share.context, transitCache, reach, from.x,
                                                  from.y, to.x, to.y))
                            return std::vector<Point>();
                    }
                    std::vector<Point> way;
                    if (planned != nullptr &&
                        planned->take(from, to, way,
                                      collectSearchDetails ? &result.searchEdges : nullptr))
                        return way;
                    if (collectSearchDetails) {
                        return findTransitPath(*share.context, transitCache, &result.searchEdges,
                                               from.x, from.y, to.x, to.y);
                    }
                    return findTransitPath(*share.context, transitCache, nullptr, from.x, from.y,
                                           to.x, to.y, &reach);
                });
}

void linkPlanned(const Environment& environment, const SightIndex& sight,
                 const std::vector<LineString>& slices, const Point& start,
                 PathPlanner::PlanningResult& result, bool collectSearchDetails,
                 TransitShare& share) {
    PathPlanner::PlanningResult planned;
    std::vector<TransitRequest> requests;
    std::vector<std::vector<Point>> ways;
    std::vector<std::vector<LineString>> edges;
    {
        std::unique_ptr<PlannedSearches> searches;
        orderSlices(environment, sight, slices, start, planned, collectSearchDetails,
                    [&](const Point& from, const Point& to, const LineString* ring) {
                        prepareTransits(environment, sight, collectSearchDetails, share);
                        if (!collectSearchDetails &&
                            regionsPart(*share.regions, *share.context, from.x, from.y, to.x,
                                        to.y))
                            return std::vector<Point>();
                        if (!searches) {
                            searches = std::make_unique<PlannedSearches>(*share.context,
                                                                         collectSearchDetails);
                        }
                        searches->ask({from, to, planned.path.points.size(), ring});
                        return std::vector<Point>{from, to};
                    });
        if (searches) searches->finish(requests, ways, edges);
    }

    std::size_t fitting = 0;
    while (fitting < requests.size() && wayFits(ways[fitting], requests[fitting]))
        ++fitting;
    if (fitting < requests.size()) {
        // The order is found again; the answers found hold where it asks
        // the same searches.
        PlannedAnswers answers(requests, ways, edges);
        linkSequential(environment, sight, slices, start, result, collectSearchDetails, share,
                       &answers);
        return;
    }
    for (LineString& line : planned.connectors) result.connectors.push_back(std::move(line));
    std::vector<Point>& path = result.path.points;
    const std::vector<Point>& draft = planned.path.points;
    std::size_t total = path.size() + draft.size();
    for (const std::vector<Point>& way : ways) total += way.size() - 2;
    path.reserve(total);
    std::size_t copied = 0;
    for (std::size_t k = 0; k < requests.size(); ++k) {
        // The draft holds the target at requests[k].at; the way ends on it
        // or beside it (wayFits).
        path.insert(path.end(), draft.begin() + static_cast<std::ptrdiff_t>(copied),
                    draft.begin() + static_cast<std::ptrdiff_t>(requests[k].at));
        path.insert(path.end(), ways[k].begin() + 1, ways[k].end());
        copied = requests[k].at + 1;
        if (collectSearchDetails) {
            for (LineString& line : edges[k]) result.searchEdges.push_back(std::move(line));
        }
    }
    path.insert(path.end(), draft.begin() + static_cast<std::ptrdiff_t>(copied), draft.end());
}

}  // namespace

void linkSlices(const Environment& environment, const SightIndex& sight,
                const std::vector<LineString>& slices, const Point& start,
                PathPlanner::PlanningResult& result, bool collectSearchDetails,
                TransitShare& share, SearchRun run) {
    std::size_t corners = environment.perimeter.points.size();
    for (const Polygon& obstacle : environment.obstacles) corners += obstacle.points.size();
    if (run == SearchRun::Planned || (run == SearchRun::BySize && corners >= kTransitThreadCorners))
        linkPlanned(environment, sight, slices, start, result, collectSearchDetails, share);
    else
        linkSequential(environment, sight, slices, start, result, collectSearchDetails, share);
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
