// Planning speed and memory on synthetic and sample gardens.
//
//   bench_planner [--runs N] [--no-reference] [--no-lean] [--only TEXT] [--quick]
//                 [--times FILE] [--digests FILE] [GARDEN_FILE...]
//   bench_planner --export-only DIR [--only TEXT] [--quick]   (writes the gardens, plans none)
//
// For every garden: the median time of N computeFullTask calls, the peak of
// heap memory in use during one call (above what was in use before it), the
// size of the result, and counts of slices, path points, transit searches
// and line-of-sight tests.  The straightforward planner (the oracle of the
// tests) runs once per garden as well: its time is the "before" column, it
// counts the searches and sight tests, and its result must equal the fast
// planner's bit for bit.  At the end: the growth exponent of time against
// the number of slices over each size sweep (least squares on logarithms).
//
// The transit searches alone, on every garden planned with connectors: the
// call is made once more on the garden turned into the lane frame (the
// same work, bit for bit, so its connectors hold each search's start and
// target exactly as the pipeline passed them), and those searches are
// replayed in order on the call's own normalised scene with a fresh cache
// per run.  "transit" is the replay as the lean call makes it (no search
// edges kept; searches certain to fail skipped), "tr+edges" the replay
// keeping the search edges as the default call does, "tr ctx" building the
// searches' shared context (nodes and their neighbours) once.  Each
// replayed search must equal the pipeline's: its path lies in the call's
// path where the search started, the lean and the keeping replay agree,
// and the edges kept equal the call's search edges; otherwise a "replay
// differs" warning is printed (the exit status does not change).
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "benchmarks/garden_generator.h"
#include "benchmarks/park_gardens.h"
#include "clipper2/clipper.h"
#include "planner/constants.h"
#include "planner/inset.h"
#include "planner/normalise.h"
#include "planner/pipeline.h"
#include "planner/sight_index.h"
#include "planner/transit.h"
#include "tests/cpp/reference_planner.h"

// ---- Heap accounting: every allocation of the process goes through here.

// The planner allocates on several threads at once: the counts are atomic.
namespace {
std::atomic<std::size_t> gLiveBytes{0};
std::atomic<std::size_t> gPeakBytes{0};

void* allocate(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    const std::size_t live = gLiveBytes.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
    std::size_t peak = gPeakBytes.load();
    while (live > peak && !gPeakBytes.compare_exchange_weak(peak, live)) {
    }
    return p;
}

void release(void* p) noexcept {
    if (p == nullptr) return;
    gLiveBytes.fetch_sub(malloc_usable_size(p));
    std::free(p);
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

namespace {

using Planner::LineString;
using Planner::PathPlanner;
using Planner::Point;
using Result = PathPlanner::PlanningResult;

// ---- Garden files written by export_gardens.py.

std::vector<Point> readPoints(std::istringstream& in) {
    std::size_t n = 0;
    in >> n;
    std::vector<Point> points;
    for (std::size_t i = 0; i < n; ++i) {
        std::string x, y;
        in >> x >> y;
        points.emplace_back(std::strtod(x.c_str(), nullptr), std::strtod(y.c_str(), nullptr));
    }
    return points;
}

bool readGardenFile(const std::string& path, Bench::Garden& garden) {
    std::ifstream file(path);
    if (!file) return false;
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream in(line);
        std::string tag;
        in >> tag;
        if (tag == "name") {
            in >> garden.name;
        } else if (tag == "setting") {
            std::string field, value;
            in >> field >> value;
            Planner::PathSettings& s = garden.settings;
            const double number = std::strtod(value.c_str(), nullptr);
            if (field == "pattern")
                s.pattern = value;
            else if (field == "offset")
                s.offset = number;
            else if (field == "angle")
                s.angle = number;
            else if (field == "distanceToBorder")
                s.distanceToBorder = number;
            else if (field == "mowArea")
                s.mowArea = number != 0;
            else if (field == "mowBorder")
                s.mowBorder = number != 0;
            else if (field == "mowBorderCcw")
                s.mowBorderCcw = number != 0;
            else if (field == "borderLaps")
                s.borderLaps = static_cast<std::uint64_t>(number);
            else if (field == "mowExclusionsBoder")
                s.mowExclusionsBoder = number != 0;
            else if (field == "mowExclusionsBorderCcw")
                s.mowExclusionsBorderCcw = number != 0;
            else if (field == "exclusionsBorderLaps")
                s.exclusionsBorderLaps = static_cast<std::uint64_t>(number);
        } else if (tag == "start") {
            std::string x, y;
            in >> x >> y;
            garden.start = Point(std::strtod(x.c_str(), nullptr), std::strtod(y.c_str(), nullptr));
        } else if (tag == "lawn") {
            garden.environment = Planner::Environment(Planner::Polygon(readPoints(in)));
        } else if (tag == "obstacle") {
            garden.environment.addObstacle(Planner::Polygon(readPoints(in)));
        } else if (tag == "mowArea") {
            garden.environment.addMowArea(Planner::Polygon(readPoints(in)));
        } else if (tag == "virtualWire") {
            garden.environment.setVirtualWire(LineString(readPoints(in)));
        } else if (tag == "dockingWire") {
            garden.environment.setDockingWire(LineString(readPoints(in)));
        }
    }
    return true;
}

// Writes a garden in the format readGardenFile reads (numbers exact).
void writeGardenFile(const std::string& path, const Bench::Garden& garden) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return;
    auto points = [f](const char* tag, const std::vector<Point>& list) {
        std::fprintf(f, "%s %zu", tag, list.size());
        for (const Point& p : list) std::fprintf(f, " %.17g %.17g", p.x, p.y);
        std::fprintf(f, "\n");
    };
    const Planner::PathSettings& s = garden.settings;
    std::fprintf(f, "name %s\n", garden.name.c_str());
    std::fprintf(f, "setting pattern %s\n", s.pattern.c_str());
    std::fprintf(f, "setting offset %.17g\nsetting angle %.17g\n", s.offset, s.angle);
    std::fprintf(f, "setting distanceToBorder %.17g\n", s.distanceToBorder);
    std::fprintf(f, "setting mowArea %d\nsetting mowBorder %d\nsetting mowBorderCcw %d\n",
                 s.mowArea, s.mowBorder, s.mowBorderCcw);
    std::fprintf(f, "setting borderLaps %llu\n", (unsigned long long)s.borderLaps);
    std::fprintf(f, "setting mowExclusionsBoder %d\nsetting mowExclusionsBorderCcw %d\n",
                 s.mowExclusionsBoder, s.mowExclusionsBorderCcw);
    std::fprintf(f, "setting exclusionsBorderLaps %llu\n",
                 (unsigned long long)s.exclusionsBorderLaps);
    std::fprintf(f, "start %.17g %.17g\n", garden.start.x, garden.start.y);
    const Planner::Environment& e = garden.environment;
    points("lawn", e.perimeter.points);
    for (const auto& o : e.obstacles) points("obstacle", o.points);
    for (const auto& m : e.mowAreas) points("mowArea", m.points);
    if (!e.virtualWire.points.empty()) points("virtualWire", e.virtualWire.points);
    if (!e.dockingWire.points.empty()) points("dockingWire", e.dockingWire.points);
    std::fclose(f);
}

// ---- Comparison and sizes.

bool sameBits(double a, double b) {
    std::uint64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

bool samePoint(const Point& a, const Point& b) { return sameBits(a.x, b.x) && sameBits(a.y, b.y); }

bool samePoints(const std::vector<Point>& a, const std::vector<Point>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!samePoint(a[i], b[i])) return false;
    }
    return true;
}

bool sameLines(const std::vector<LineString>& a, const std::vector<LineString>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!samePoints(a[i].points, b[i].points)) return false;
    }
    return true;
}

bool sameResult(const Result& a, const Result& b) {
    return samePoints(a.path.points, b.path.points) && sameLines(a.slices, b.slices) &&
           sameLines(a.connectors, b.connectors) && sameLines(a.searchEdges, b.searchEdges);
}

// Bytes of the result's own contents: the lists and their points.
std::size_t resultBytes(const Result& r) {
    auto lines = [](const std::vector<LineString>& list) {
        std::size_t bytes = list.size() * sizeof(LineString);
        for (const LineString& l : list) bytes += l.points.size() * sizeof(Point);
        return bytes;
    };
    return sizeof(Result) + r.path.points.size() * sizeof(Point) + lines(r.slices) +
           lines(r.connectors) + lines(r.searchEdges);
}

// A digest of the result's bits (FNV-1a over every point of the path, the
// slices, the connectors and the search edges, with their counts), so that
// two builds' results can be compared without keeping them.
std::uint64_t resultDigest(const Result& r) {
    std::uint64_t h = 14695981039346656037ull;
    auto word = [&h](std::uint64_t w) {
        for (int i = 0; i < 8; ++i) {
            h ^= (w >> (8 * i)) & 0xffu;
            h *= 1099511628211ull;
        }
    };
    auto points = [&](const std::vector<Point>& list) {
        word(list.size());
        for (const Point& p : list) {
            std::uint64_t x, y;
            std::memcpy(&x, &p.x, sizeof x);
            std::memcpy(&y, &p.y, sizeof y);
            word(x);
            word(y);
        }
    };
    auto lines = [&](const std::vector<LineString>& list) {
        word(list.size());
        for (const LineString& l : list) points(l.points);
    };
    points(r.path.points);
    lines(r.slices);
    lines(r.connectors);
    lines(r.searchEdges);
    return h;
}

// Processor time of the whole process (every thread) so far.
double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

struct Row {
    std::string name;
    std::string sweep;  // "open", "full" or "" (not part of a size sweep)
    double area = 0.0;
    std::size_t obstacles = 0;
    std::size_t vertices = 0;  // of the lawn and the obstacles
    double fastSeconds = 0.0;
    double leanSeconds = 0.0;      // without connectors and search edges, as from Python
    double leanCpuSeconds = -1.0;  // the same calls' processor time, all threads (less hurt by a
                                   // loaded machine than the wall clock)
    std::size_t leanPeakBytes = 0;
    double offsetCpuSeconds = -1.0;  // one Clipper2 offset of the outlines (bed-ring only)
    double referenceSeconds = -1.0;
    std::size_t peakBytes = 0;
    std::size_t referencePeakBytes = 0;
    std::size_t resultSize = 0;
    std::size_t slices = 0;
    std::size_t pathPoints = 0;
    std::size_t searchEdges = 0;
    std::uint64_t digest = 0;      // resultDigest of the call's result
    std::uint64_t leanDigest = 0;  // of the lean call's beside the full one's (0: not made)
    std::uint64_t transitSearches = 0;
    std::uint64_t sightTests = 0;
    bool checked = false;
    bool same = false;
    // Replay of the call's transit searches (seconds < 0: not measured).
    double transitSeconds = -1.0;       // as the lean call makes them
    double transitEdgesSeconds = -1.0;  // keeping the search edges
    double transitContextSeconds = -1.0;
    bool replayChecked = false;
    bool replaySame = false;
    std::string replayNote;  // what differs, if anything
};

// ---- Replay of the transit searches.

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The garden turned into the lane frame just as the pipeline turns its
// working copy (then planned at angle 0): its call does the same work on the
// same numbers, and its connectors, search edges and path stay in that frame.
Bench::Garden laneFrameGarden(const Bench::Garden& garden) {
    Bench::Garden lane = garden;
    const double angle = -garden.settings.angle;
    Planner::Environment& scene = lane.environment;
    Planner::rotatePoints(scene.perimeter.points, angle);
    for (Planner::Polygon& obstacle : scene.obstacles)
        Planner::rotatePoints(obstacle.points, angle);
    for (Planner::Polygon& area : scene.mowAreas) Planner::rotatePoints(area.points, angle);
    Planner::rotatePoints(scene.virtualWire.points, angle);
    Planner::rotatePoints(scene.dockingWire.points, angle);
    std::vector<Point> start{garden.start};
    Planner::rotatePoints(start, angle);
    lane.start = start.front();
    lane.settings.angle = 0.0;
    return lane;
}

struct TransitCall {
    Point start;
    Point target;
};

// One replay of the searches in order with a fresh cache: as the lean call
// makes them (no edges kept, searches certain to fail skipped) or, with
// `edges`, keeping every accepted edge.  Returns the seconds taken.
double replaySearches(const Planner::TransitContext& context,
                      const std::vector<TransitCall>& calls,
                      std::vector<std::vector<Point>>& paths, std::vector<LineString>* edges) {
    paths.assign(calls.size(), {});
    if (edges != nullptr) std::vector<LineString>().swap(*edges);
    const auto t0 = std::chrono::steady_clock::now();
    Planner::TransitCache cache;
    Planner::TransitReach reach;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const Point& s = calls[i].start;
        const Point& t = calls[i].target;
        if (edges != nullptr) {
            paths[i] = Planner::findTransitPath(context, cache, edges, s.x, s.y, t.x, t.y);
        } else if (!Planner::transitCertainlyFails(context, cache, reach, s.x, s.y, t.x, t.y)) {
            paths[i] = Planner::findTransitPath(context, cache, nullptr, s.x, s.y, t.x, t.y,
                                                &reach);
        }
    }
    const auto t1 = std::chrono::steady_clock::now();
    return seconds(t0, t1);
}

// What differs between the replayed searches and the call's, "" if nothing:
// each found path follows the search's start in the call's path (in order),
// the two replays agree, and the edges kept are the call's search edges.
std::string replayDifference(const Result& laneResult, const std::vector<TransitCall>& calls,
                             const std::vector<std::vector<Point>>& lean,
                             const std::vector<std::vector<Point>>& keeping,
                             const std::vector<LineString>& edges) {
    const std::vector<Point>& path = laneResult.path.points;
    std::size_t cursor = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (!samePoints(lean[i], keeping[i]))
            return "search " + std::to_string(i) + ": the lean and the keeping replay differ";
        const std::vector<Point>& found = keeping[i];
        if (found.empty()) continue;
        bool placed = false;
        for (std::size_t k = cursor; k + found.size() <= path.size() && !placed; ++k) {
            if (!samePoint(path[k], calls[i].start)) continue;
            placed = std::equal(found.begin() + 1, found.end(), path.begin() + k + 1, samePoint);
            if (placed) cursor = k + found.size();
        }
        if (!placed) return "search " + std::to_string(i) + ": its path is not in the call's";
    }
    if (!sameLines(edges, laneResult.searchEdges)) return "the search edges differ";
    return "";
}

// Plans the garden in the lane frame, replays the call's searches `runs`
// times each way on the call's normalised scene, and checks them.
void measureTransit(const Bench::Garden& garden, const Result& fast, int runs, Row& row) {
    if (fast.connectors.empty()) return;  // no search to replay
    const Bench::Garden lane = laneFrameGarden(garden);
    const Result laneResult =
        Planner::computeFullTask(lane.environment, lane.settings, lane.start);
    row.replayChecked = true;
    std::vector<Point> turnedBack = laneResult.path.points;
    Planner::rotatePoints(turnedBack, garden.settings.angle);
    if (!samePoints(turnedBack, fast.path.points) ||
        laneResult.connectors.size() != fast.connectors.size()) {
        row.replayNote = "the call in the lane frame differs from the call";
        return;
    }
    std::vector<TransitCall> calls;
    for (const LineString& connector : laneResult.connectors)
        calls.push_back({connector.points.front(), connector.points.back()});

    Planner::Environment scene = lane.environment;  // the call's working scene
    Planner::normaliseScene(scene);
    const Planner::SightIndex sight = Planner::buildSightIndex(scene);
    Planner::TransitContext context;
    std::vector<double> contextTimes, leanTimes, keepingTimes;
    std::vector<std::vector<Point>> lean, keeping;
    std::vector<LineString> edges;
    for (int run = 0; run < runs; ++run) {
        const auto t0 = std::chrono::steady_clock::now();
        context = Planner::buildTransitContext(scene, sight);
        const auto t1 = std::chrono::steady_clock::now();
        contextTimes.push_back(seconds(t0, t1));
        leanTimes.push_back(replaySearches(context, calls, lean, nullptr));
        keepingTimes.push_back(replaySearches(context, calls, keeping, &edges));
    }
    row.transitContextSeconds = median(contextTimes);
    row.transitSeconds = median(leanTimes);
    row.transitEdgesSeconds = median(keepingTimes);
    row.replayNote = replayDifference(laneResult, calls, lean, keeping, edges);
    row.replaySame = row.replayNote.empty();
}

// Median processor time of one Clipper2 offset of the garden's outlines by
// the distance to the border, handed over as the inset stage hands its first
// step: on the millimetre grid, the lawn counter-clockwise and the obstacles
// clockwise, mitred.  The dependency's own growth on rings of many corners,
// beside that of the whole call.  -1 when an outline is off the grid.
double firstOffsetSeconds(const Bench::Garden& garden, int runs) {
    Clipper2Lib::Paths64 paths;
    Clipper2Lib::Path64 path;
    if (!Planner::toGridPath(garden.environment.perimeter.points, path)) return -1.0;
    paths.push_back(path);
    for (const Planner::Polygon& obstacle : garden.environment.obstacles) {
        if (!Planner::toGridPath(obstacle.points, path)) return -1.0;
        if (Clipper2Lib::Area(path) > 0.0) std::reverse(path.begin(), path.end());
        paths.push_back(path);
    }
    const double delta = -Planner::kGridScale * garden.settings.distanceToBorder;
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const double c0 = processSeconds();
        Clipper2Lib::ClipperOffset offsetter;
        offsetter.AddPaths(paths, Clipper2Lib::JoinType::Miter, Clipper2Lib::EndType::Polygon);
        Clipper2Lib::Paths64 solution;
        offsetter.Execute(delta, solution);
        times.push_back(processSeconds() - c0);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

Row measure(const Bench::Garden& garden, const std::string& sweep, int runs, bool reference,
            bool lean, bool full) {
    Row row;
    row.name = garden.name;
    row.sweep = sweep;
    row.area = Bench::ringArea(garden.environment.perimeter.points);
    row.obstacles = garden.environment.obstacles.size();
    row.vertices = garden.environment.perimeter.points.size();
    for (const Planner::Polygon& o : garden.environment.obstacles) row.vertices += o.points.size();

    // Median time and first peak of `runs` calls with these options.
    Result fast;
    Result leanResult;
    auto timeCalls = [&](const Planner::PlanningOptions& options, double& median,
                         std::size_t& peak, Result& kept, double* cpuMedian = nullptr) {
        std::vector<double> times;
        std::vector<double> cpuTimes;
        for (int run = 0; run < runs; ++run) {
            const std::size_t before = gLiveBytes;
            gPeakBytes = gLiveBytes.load();
            const double c0 = processSeconds();
            const auto t0 = std::chrono::steady_clock::now();
            Result r = Planner::computeFullTask(garden.environment, garden.settings, garden.start,
                                                options);
            const auto t1 = std::chrono::steady_clock::now();
            cpuTimes.push_back(processSeconds() - c0);
            times.push_back(seconds(t0, t1));
            if (run == 0) {
                peak = gPeakBytes - before;
                kept = std::move(r);
            }
        }
        std::sort(times.begin(), times.end());
        median = times[times.size() / 2];
        std::sort(cpuTimes.begin(), cpuTimes.end());
        if (cpuMedian != nullptr) *cpuMedian = cpuTimes[cpuTimes.size() / 2];
    };
    row.fastSeconds = -1.0;
    row.leanSeconds = -1.0;
    if (full) timeCalls(Planner::PlanningOptions(), row.fastSeconds, row.peakBytes, fast);
    Planner::PlanningOptions leanOptions;
    leanOptions.collectSearchDetails = false;
    if (lean || !full)
        timeCalls(leanOptions, row.leanSeconds, row.leanPeakBytes, leanResult,
                  &row.leanCpuSeconds);
    if (!full) fast = std::move(leanResult);
    row.resultSize = resultBytes(fast);
    row.digest = resultDigest(fast);
    row.leanDigest = full && (lean || !full) ? resultDigest(leanResult) : 0;
    row.slices = fast.slices.size();
    row.pathPoints = fast.path.points.size();
    row.searchEdges = fast.searchEdges.size();
    row.transitSearches = fast.connectors.size();  // one connector per search

    if (reference) {
        Reference::Tally tally;
        const std::size_t before = gLiveBytes;
        gPeakBytes = gLiveBytes.load();
        const auto t0 = std::chrono::steady_clock::now();
        const Result slow =
            Reference::computeFullTask(garden.environment, garden.settings, garden.start, &tally);
        const auto t1 = std::chrono::steady_clock::now();
        row.referenceSeconds = seconds(t0, t1);
        row.referencePeakBytes = gPeakBytes - before;
        row.sightTests = tally.sightTests;
        row.transitSearches = tally.transitSearches;
        row.checked = true;
        row.same = sameResult(fast, slow);
    }
    if (full) measureTransit(garden, fast, runs, row);
    if (sweep == "bed-ring") row.offsetCpuSeconds = firstOffsetSeconds(garden, runs);
    return row;
}

// Least-squares slope of log(time) against log(slices).
double growthExponent(const std::vector<Row>& rows, const std::string& sweep, bool reference) {
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    int n = 0;
    for (const Row& r : rows) {
        const double t = reference ? r.referenceSeconds
                                   : (r.fastSeconds > 0 ? r.fastSeconds : r.leanSeconds);
        const bool bySlices =
            sweep.compare(0, 4, "bed-") != 0 && sweep.compare(0, 9, "recorded-") != 0;
        if (r.sweep != sweep || r.slices == 0 || !(t > 0)) continue;
        const double x = std::log(static_cast<double>(bySlices ? r.slices : r.vertices));
        const double y = std::log(t);
        sx += x, sy += y, sxx += x * x, sxy += x * y;
        ++n;
    }
    if (n < 2) return std::nan("");
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

std::string bytesText(std::size_t bytes) {
    char buf[32];
    if (bytes >= 10u * 1024 * 1024)
        std::snprintf(buf, sizeof buf, "%.0f MB", bytes / 1048576.0);
    else if (bytes >= 1024 * 1024)
        std::snprintf(buf, sizeof buf, "%.1f MB", bytes / 1048576.0);
    else
        std::snprintf(buf, sizeof buf, "%.0f kB", bytes / 1024.0);
    return buf;
}

std::string secondsText(double s) {
    char buf[32];
    if (s < 0) return "-";
    if (s < 1.0)
        std::snprintf(buf, sizeof buf, "%.2f ms", s * 1000.0);
    else
        std::snprintf(buf, sizeof buf, "%.2f s", s);
    return buf;
}

void printHeader() {
    std::printf("%-16s %8s %5s %7s %8s %8s %10s %10s %8s %8s %8s %10s %8s %10s %4s %10s %10s"
                " %8s %10s %10s %9s\n",
                "garden", "area m2", "obst", "slices", "path", "searches", "sight", "edges",
                "result", "peak", "before", "fast", "speedup", "before", "same", "lean", "lean cpu",
                "lean pk", "transit", "tr+edges", "tr ctx");
}

void printRow(const Row& r) {
    char speedup[32] = "-";
    if (r.referenceSeconds > 0 && r.fastSeconds > 0)
        std::snprintf(speedup, sizeof speedup, "%.1fx", r.referenceSeconds / r.fastSeconds);
    char sight[32] = "-";
    if (r.checked) std::snprintf(sight, sizeof sight, "%llu", (unsigned long long)r.sightTests);
    std::printf("%-16s %8.0f %5zu %7zu %8zu %8llu %10s %10zu %8s %8s %8s %10s %8s %10s %4s %10s %10s"
                " %8s %10s %10s %9s\n",
                r.name.c_str(), r.area, r.obstacles, r.slices, r.pathPoints,
                (unsigned long long)r.transitSearches, sight, r.searchEdges,
                bytesText(r.resultSize).c_str(), bytesText(r.peakBytes).c_str(),
                r.checked ? bytesText(r.referencePeakBytes).c_str() : "-",
                secondsText(r.fastSeconds).c_str(), speedup,
                secondsText(r.referenceSeconds).c_str(), r.checked ? (r.same ? "yes" : "NO") : "-",
                secondsText(r.leanSeconds).c_str(), secondsText(r.leanCpuSeconds).c_str(),
                bytesText(r.leanPeakBytes).c_str(), secondsText(r.transitSeconds).c_str(), secondsText(r.transitEdgesSeconds).c_str(),
                secondsText(r.transitContextSeconds).c_str());
    if (r.replayChecked && !r.replaySame)
        std::printf("  warning: replay differs on %s: %s\n", r.name.c_str(), r.replayNote.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    bool reference = true;
    bool lean = true;
    std::string exportDir;  // write every garden there, with the straightforward time
    bool exportOnly = false;  // write the gardens without planning them
    std::string timesFile;  // write every garden's times there (for a before/after table)
    std::string digestsFile;  // write every garden's result digest there (to compare builds)
    bool quick = false;
    std::string only;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--no-reference")
            reference = false;
        else if (arg == "--no-lean")
            lean = false;
        else if (arg == "--export" && i + 1 < argc)
            exportDir = argv[++i];
        else if (arg == "--export-only" && i + 1 < argc) {
            exportDir = argv[++i];
            exportOnly = true;
        }
        else if (arg == "--times" && i + 1 < argc)
            timesFile = argv[++i];
        else if (arg == "--digests" && i + 1 < argc)
            digestsFile = argv[++i];
        else if (arg == "--quick")
            quick = true;
        else if (arg == "--only" && i + 1 < argc)
            only = argv[++i];
        else
            files.push_back(arg);
    }

    struct Item {
        Bench::Garden garden;
        std::string sweep;
        bool reference = true;  // also planned by the straightforward planner
        bool full = true;       // also planned with connectors and search edges
    };
    std::vector<Item> items;
    for (const std::string& path : files) {
        Item item;
        if (!readGardenFile(path, item.garden)) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 2;
        }
        items.push_back(std::move(item));
    }
    // Size sweeps: obstacle-free concave lawns, and lawns with obstacles (up
    // to 200 on 2 ha), a virtual wire and, on some, mow areas.
    const double areas[] = {100, 300, 1000, 3000, 10000, 20000};
    const int obstacleCounts[] = {2, 6, 20, 60, 100, 200};
    const std::size_t sizes = quick ? 4 : 6;
    for (std::size_t k = 0; k < sizes; ++k) {
        Bench::GardenRecipe open;
        open.name = "open-" + std::to_string(static_cast<int>(areas[k]));
        open.area = areas[k];
        open.seed = 100 + k;
        open.shapeSeed = 7;
        items.push_back({Bench::generateGarden(open), "open"});
    }
    for (std::size_t k = 0; k < sizes; ++k) {
        Bench::GardenRecipe full;
        full.name = "full-" + std::to_string(static_cast<int>(areas[k]));
        full.area = areas[k];
        full.obstacles = obstacleCounts[k];
        full.virtualWire = true;
        full.seed = 200 + k;
        full.shapeSeed = 7;
        items.push_back({Bench::generateGarden(full), "full"});
    }
    {
        Bench::GardenRecipe mow;
        mow.name = "mowareas-10000";
        mow.area = 10000;
        mow.obstacles = 100;
        mow.mowAreas = true;
        mow.virtualWire = true;
        mow.seed = 301;
        items.push_back({Bench::generateGarden(mow), ""});
    }
    {
        Bench::GardenRecipe squares;
        squares.name = "squares-3000";
        squares.area = 3000;
        squares.obstacles = 30;
        squares.pattern = "squares";
        squares.seed = 300;
        items.push_back({Bench::generateGarden(squares), ""});
    }

    // Cluttered gardens: pieces out of reach behind a hedge, and a long
    // perimeter.  The straightforward planner would take minutes on the
    // larger ones: they are planned by the fast planner only.
    items.push_back({Bench::hedgeRoundGarden(), ""});
    {
        Bench::GardenRecipe full;
        full.name = "hedge-20000";
        full.area = 20000;
        full.obstacles = 200;
        full.seed = 205;  // no wire: it would lead over the hedge
        full.shapeSeed = 7;
        // With connectors and search edges these take minutes and gigabytes:
        // only the lean call (as from Python) is measured.
        items.push_back({Bench::hedgeAcross(full, 0.5), "", false, false});
        full.name = "hedge-20000-q";
        items.push_back({Bench::hedgeAcross(full, 0.25), "", false, false});
    }
    items.push_back({Bench::strandedGarden(), "", false});
    items.push_back({Bench::longPerimeterGarden(), "", false});

    // Real-style gardens: a park (1.7 ha, about 4,500 vertices) and one of
    // three times its area; the round beds of many vertices with a
    // neighbour in their box; the lawn cut by a hedge at lane spacings
    // 0.40 ... 0.60 (its "vertices" sweep: rings of 500 ... 2,000 corners).
    // With search edges the straightforward planner and the full search take
    // minutes on most of these: the lean call (as from Python) is measured.
    items.push_back({Bench::parkGarden("park-1.7ha", 1.0, 11), "", false, false});
    items.push_back({Bench::parkGarden("park-5ha", 3.0, 12), "", false, false});
    items.push_back({Bench::bedWithNeighbourGarden(4000, Bench::Neighbour::None), "", false, false});
    for (Bench::Neighbour neighbour :
         {Bench::Neighbour::Octagon, Bench::Neighbour::OctagonOutside, Bench::Neighbour::Ring}) {
        static const char* const kSweep[] = {"bed-oct", "bed-ring", "bed-out", ""};
        // The rings' sweep goes on to 8,000 corners, where time that grows
        // faster than n log n shows.
        std::vector<int> corners = {500, 1000, 2000};
        if (neighbour == Bench::Neighbour::Ring && !quick) corners.insert(corners.end(), {4000, 8000});
        for (int n : corners)
            items.push_back(
                {Bench::bedWithNeighbourGarden(n, neighbour), kSweep[static_cast<int>(neighbour)],
                 false, false});
    }
    for (int k = 0; k <= 20; ++k)
        items.push_back({Bench::cliffHedgeGarden(0.40 + 0.01 * k), "", false, false});
    // Outlines recorded densely (a point every few centimetres, centimetres
    // of noise): the lawn alone, and round beds beside each other with trees.
    for (double spacing : {0.1, 0.05, 0.02})
        items.push_back({Bench::recordedGarden(spacing, false), "recorded-lawn", false, false});
    for (double spacing : {0.04, 0.02, 0.01})
        items.push_back({Bench::recordedGarden(spacing, true), "recorded-beds", false, false});

    std::printf("runs per garden: %d (median shown); before = straightforward planner, one run\n",
                runs);
    std::printf("searches = transit searches of a call; transit = those searches replayed as the"
                " lean call makes them, tr+edges = keeping the search edges, tr ctx = their"
                " shared context\n");
    printHeader();
    std::vector<Row> rows;
    bool allSame = true;
    bool replaysSame = true;  // informative only: does not change the exit status
    int replayed = 0;
    for (const Item& item : items) {
        if (!only.empty() && item.garden.name.find(only) == std::string::npos) continue;
        if (exportOnly) {
            writeGardenFile(exportDir + "/" + item.garden.name + ".garden", item.garden);
            continue;
        }
        rows.push_back(measure(item.garden, item.sweep, runs, reference && item.reference, lean,
                              item.full));
        printRow(rows.back());
        if (!exportDir.empty()) {
            writeGardenFile(exportDir + "/" + item.garden.name + ".garden", item.garden);
            if (std::FILE* f = std::fopen((exportDir + "/" + item.garden.name + ".before").c_str(),
                                          "w")) {
                std::fprintf(f, "%.9g %.9g\n", rows.back().referenceSeconds,
                             rows.back().leanSeconds);
                std::fclose(f);
            }
        }
        if (rows.back().checked && !rows.back().same) allSame = false;
        if (rows.back().replayChecked) {
            ++replayed;
            if (!rows.back().replaySame) replaysSame = false;
        }
    }

    if (!timesFile.empty()) {
        if (std::FILE* f = std::fopen(timesFile.c_str(), "w")) {
            for (const Row& r : rows)
                std::fprintf(f, "%s %zu %.9g %.9g %.9g %.9g\n", r.name.c_str(), r.vertices,
                             r.leanSeconds, r.fastSeconds, r.referenceSeconds, r.leanCpuSeconds);
            std::fclose(f);
        }
    }

    if (!digestsFile.empty()) {
        if (std::FILE* f = std::fopen(digestsFile.c_str(), "w")) {
            for (const Row& r : rows)
                std::fprintf(f, "%s %016llx %016llx\n", r.name.c_str(),
                             (unsigned long long)r.digest, (unsigned long long)r.leanDigest);
            std::fclose(f);
        }
    }

    std::printf("\ngrowth of time with the number of slices (exponent k in t ~ N^k; for the"
                " round beds and recorded outlines with the number of vertices):\n");
    for (const char* sweep :
         {"open", "full", "bed-oct", "bed-ring", "bed-out", "recorded-lawn", "recorded-beds"}) {
        const double fast = growthExponent(rows, sweep, false);
        const double before = growthExponent(rows, sweep, true);
        std::printf("  %-13s sweep: fast %.2f", sweep, fast);
        if (reference) std::printf(", before %.2f", before);
        std::printf("\n");
    }
    std::printf("\ngrowth of the lean call's processor time per doubling of the round beds'"
                " corners (n log n is about 2.2x):\n");
    auto printGrowth = [&](const char* sweep, double Row::*figure) {
        std::printf("  %-8s", sweep);
        const Row* last = nullptr;
        for (const Row& r : rows) {
            if (r.sweep != sweep || !(r.*figure > 0)) continue;
            std::printf(" %s %s", r.name.c_str(), secondsText(r.*figure).c_str());
            if (last != nullptr) std::printf(" (%.1fx)", r.*figure / last->*figure);
            last = &r;
        }
        std::printf("\n");
    };
    for (const char* sweep : {"bed-oct", "bed-ring", "bed-out"})
        printGrowth(sweep, &Row::leanCpuSeconds);
    std::printf("of which the dependency: one Clipper2 offset of the same outlines by the distance"
                " to the border (the inset stage makes several):\n");
    printGrowth("bed-ring", &Row::offsetCpuSeconds);
    if (replayed > 0)
        std::printf("\ntransit replays equal to the calls' searches: %s\n",
                    replaysSame ? "all" : "NOT ALL (replay differs)");
    if (reference)
        std::printf("\nresults equal to the straightforward planner: %s\n",
                    allSame ? "all" : "NOT ALL");
    return allSame ? 0 : 1;
}
