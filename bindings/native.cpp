// The tools' companion module swathwise_tools._native: planner services that
// the module swathwise does not offer (the stage of every slice, lean
// planning calls, the slices without ordering, a transit between two
// points), on plain coordinates.  Only converts; the planner does the work.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "planner/coverage.h"
#include "planner/free_regions.h"
#include "planner/pipeline.h"
#include "planner/scene.h"

namespace py = pybind11;
using namespace Planner;

namespace {

using XY = std::pair<double, double>;

// Names of the slice kinds, indexed by SliceKind.
constexpr std::array<const char*, kSliceKindCount> kKindNames = {
    "area_lane", "area_ring", "perimeter_lap", "obstacle_lap"};

std::vector<Point> toPoints(const std::vector<XY>& coordinates) {
    std::vector<Point> points;
    points.reserve(coordinates.size());
    for (const XY& c : coordinates) points.emplace_back(c.first, c.second);
    return points;
}

Point toPoint(const XY& c) { return Point(c.first, c.second); }

py::list toList(const std::vector<Point>& points) {
    py::list list(points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
        list[i] = py::make_tuple(points[i].x, points[i].y);
    return list;
}

py::list toLists(const std::vector<LineString>& lines) {
    py::list list(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) list[i] = toList(lines[i].points);
    return list;
}

py::list kindNames(const std::vector<SliceKind>& kinds) {
    std::array<py::str, kSliceKindCount> names;
    for (std::size_t k = 0; k < kSliceKindCount; ++k) names[k] = py::str(kKindNames[k]);
    py::list list(kinds.size());
    for (std::size_t i = 0; i < kinds.size(); ++i)
        list[i] = names[static_cast<std::size_t>(kinds[i])];
    return list;
}

[[noreturn]] void badSetting(const std::string& key, const char* wanted) {
    throw py::type_error("setting " + key + " must be " + wanted);
}

double numberSetting(const std::string& key, py::handle value) {
    if (py::isinstance<py::bool_>(value) ||
        !(py::isinstance<py::float_>(value) || py::isinstance<py::int_>(value)))
        badSetting(key, "a number");
    return value.cast<double>();
}

bool flagSetting(const std::string& key, py::handle value) {
    if (!py::isinstance<py::bool_>(value)) badSetting(key, "True or False");
    return value.cast<bool>();
}

std::uint64_t countSetting(const std::string& key, py::handle value) {
    if (py::isinstance<py::bool_>(value) || !py::isinstance<py::int_>(value) ||
        value.cast<py::int_>() < py::int_(0))
        badSetting(key, "a whole number of 0 or more");
    return value.cast<std::uint64_t>();
}

// Planning settings from a mapping of PathSettings field names (angles in
// radians); fields not named keep their defaults.
PathSettings toSettings(const py::object& mapping) {
    if (!PyMapping_Check(mapping.ptr()) || py::isinstance<py::str>(mapping))
        throw py::type_error("settings must be a mapping of PathSettings field names to values");
    const py::dict values(mapping);
    PathSettings settings;
    for (const auto& item : values) {
        if (!py::isinstance<py::str>(item.first)) throw py::type_error("setting names must be strings");
        const std::string key = item.first.cast<std::string>();
        const py::handle value = item.second;
        if (key == "offset") {
            settings.offset = numberSetting(key, value);
        } else if (key == "angle") {
            settings.angle = numberSetting(key, value);
        } else if (key == "distanceToBorder") {
            settings.distanceToBorder = numberSetting(key, value);
        } else if (key == "mowArea") {
            settings.mowArea = flagSetting(key, value);
        } else if (key == "mowBorder") {
            settings.mowBorder = flagSetting(key, value);
        } else if (key == "borderLaps") {
            settings.borderLaps = countSetting(key, value);
        } else if (key == "mowBorderCcw") {
            settings.mowBorderCcw = flagSetting(key, value);
        } else if (key == "mowExclusionsBoder") {
            settings.mowExclusionsBoder = flagSetting(key, value);
        } else if (key == "exclusionsBorderLaps") {
            settings.exclusionsBorderLaps = countSetting(key, value);
        } else if (key == "mowExclusionsBorderCcw") {
            settings.mowExclusionsBorderCcw = flagSetting(key, value);
        } else if (key == "pattern") {
            if (!py::isinstance<py::str>(value)) badSetting(key, "a string");
            settings.pattern = value.cast<std::string>();
        } else {
            throw py::type_error("unknown setting " + key +
                                 ": use the PathSettings field names (offset, angle, "
                                 "distanceToBorder, mowArea, mowBorder, borderLaps, "
                                 "mowBorderCcw, mowExclusionsBoder, exclusionsBorderLaps, "
                                 "mowExclusionsBorderCcw, pattern)");
        }
    }
    return settings;
}

// A garden, oriented as the module's Environment orients it; never changed
// after it is made, so planning calls may run without the interpreter lock.
struct Scene {
    Environment environment;
};

Scene makeScene(const std::vector<XY>& lawn, const std::vector<std::vector<XY>>& obstacles,
                const std::vector<std::vector<XY>>& mowAreas, const std::vector<XY>& virtualWire,
                const std::vector<XY>& dockingWire) {
    Scene scene{Environment(Polygon(toPoints(lawn)))};
    for (const std::vector<XY>& ring : obstacles)
        scene.environment.addObstacle(Polygon(toPoints(ring)));
    for (const std::vector<XY>& ring : mowAreas)
        scene.environment.addMowArea(Polygon(toPoints(ring)));
    scene.environment.setVirtualWire(LineString(toPoints(virtualWire)));
    scene.environment.setDockingWire(LineString(toPoints(dockingWire)));
    return scene;
}

struct Planned {
    PlannedTask task;
};

struct Slices {
    TaskSlices task;
};

struct Reach {
    StartReach reach;
};

// Well-known binary of a multipolygon (little-endian, rings closed).
template <typename T>
void putBytes(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

void putRing(std::string& out, const Ring& ring) {
    putBytes<std::uint32_t>(out, static_cast<std::uint32_t>(ring.size() + 1));
    for (std::size_t i = 0; i <= ring.size(); ++i) {
        const Point& p = ring[i % ring.size()];
        putBytes<double>(out, p.x);
        putBytes<double>(out, p.y);
    }
}

py::bytes multipolygonWkb(const std::vector<AreaPart>& parts) {
    std::string out;
    out.push_back(1);
    putBytes<std::uint32_t>(out, 6);
    std::uint32_t count = 0;
    for (const AreaPart& part : parts) count += part.outer.empty() ? 0 : 1;
    putBytes<std::uint32_t>(out, count);
    for (const AreaPart& part : parts) {
        if (part.outer.empty()) continue;
        std::uint32_t rings = 1;
        for (const Ring& hole : part.holes) rings += hole.empty() ? 0 : 1;
        out.push_back(1);
        putBytes<std::uint32_t>(out, 3);
        putBytes<std::uint32_t>(out, rings);
        putRing(out, part.outer);
        for (const Ring& hole : part.holes) {
            if (!hole.empty()) putRing(out, hole);
        }
    }
    return py::bytes(out);
}

}  // namespace

PYBIND11_MODULE(_native, m, py::multiple_interpreters::not_supported()) {
    m.doc() =
        "Planner services for swathwise_tools that the module swathwise does not offer: "
        "the stage of every slice, lean planning calls, the slices without ordering, and "
        "the transit search between two points. Coordinates in metres, angles in radians.";

    py::tuple kinds(kSliceKindCount);
    for (std::size_t k = 0; k < kSliceKindCount; ++k) kinds[k] = py::str(kKindNames[k]);
    m.attr("KINDS") = kinds;

    py::class_<Planned>(m, "PlannedTask",
                        "A planned task: the same path and slices as computeFullTask, "
                        "bit for bit, and the stage of every slice.")
        .def_property_readonly(
            "path", [](const Planned& self) { return toList(self.task.result.path.points); },
            "The tool path as (x, y) tuples (a new list on every access).")
        .def_property_readonly(
            "slices", [](const Planned& self) { return toLists(self.task.result.slices); },
            "Every slice in stage order, reached or not, as lists of (x, y).")
        .def_property_readonly(
            "kinds", [](const Planned& self) { return kindNames(self.task.kinds); },
            "The kind of each slice, one of KINDS.")
        .def_property_readonly(
            "connectors",
            [](const Planned& self) { return toLists(self.task.result.connectors); },
            "Straight lines to the slices reached by transit (empty unless asked for).")
        .def_property_readonly(
            "search_edges",
            [](const Planned& self) { return toLists(self.task.result.searchEdges); },
            "Every edge the transit searches accepted (empty unless asked for).");

    py::class_<Slices>(m, "TaskSlices", "The slices of a task, not ordered, with their kinds.")
        .def_property_readonly(
            "slices", [](const Slices& self) { return toLists(self.task.slices); },
            "Every slice in stage order as lists of (x, y).")
        .def_property_readonly(
            "kinds", [](const Slices& self) { return kindNames(self.task.kinds); },
            "The kind of each slice, one of KINDS.");

    py::class_<Reach>(m, "Reach",
                      "The parts of a scene's free lawn that a plan from one start may reach "
                      "(Scene.reach); slices with no entry in them are given up.")
        .def_property_readonly(
            "whole", [](const Reach& self) { return !self.reach.usable || self.reach.whole; },
            "True when nothing is ruled out: no part of the free lawn is parted from the start.")
        .def(
            "holds",
            [](const Reach& self, const XY& point) {
                return reachMayHold(self.reach, point.first, point.second);
            },
            py::arg("point"), "False only if `point` lies in no part the start reaches.");

    py::class_<Scene>(m, "Scene",
                      "A garden in metres: the lawn, obstacles, mow areas and wires. Rings are "
                      "oriented as the module's Environment orients them.")
        .def(py::init(&makeScene), py::arg("lawn"), py::arg("obstacles") = std::vector<std::vector<XY>>(),
             py::arg("mow_areas") = std::vector<std::vector<XY>>(),
             py::arg("virtual_wire") = std::vector<XY>(),
             py::arg("docking_wire") = std::vector<XY>())
        .def(
            "plan",
            [](const Scene& self, const py::object& settings, const XY& start,
               bool searchDetails) {
                const PathSettings values = toSettings(settings);
                PlanningOptions options;
                options.collectSearchDetails = searchDetails;
                Planned planned;
                {
                    py::gil_scoped_release unlocked;
                    planned.task = planTask(self.environment, values, toPoint(start), options);
                }
                return planned;
            },
            py::arg("settings"), py::arg("start"), py::kw_only(),
            py::arg("search_details") = false,
            "Plan the task as computeFullTask does, from `start`; `settings` maps PathSettings "
            "field names to values (angle in radians). Without `search_details` no connectors "
            "or search edges are kept, as the module keeps none.")
        .def(
            "slices",
            [](const Scene& self, const py::object& settings) {
                const PathSettings values = toSettings(settings);
                Slices slices;
                {
                    py::gil_scoped_release unlocked;
                    slices.task = computeTaskSlices(self.environment, values);
                }
                return slices;
            },
            py::arg("settings"),
            "The slices a plan with these settings orders, without ordering them.")
        .def(
            "figures",
            [](const Scene& self, const py::object& settings, const Reach* reach) {
                const PathSettings values = toSettings(settings);
                SliceFigures figures;
                {
                    py::gil_scoped_release unlocked;
                    figures = computeSliceFigures(self.environment, values,
                                                  reach != nullptr ? &reach->reach : nullptr);
                }
                py::dict out;
                for (std::size_t k = 0; k < kSliceKindCount; ++k) {
                    if (reach != nullptr)
                        out[kKindNames[k]] = py::make_tuple(figures.counts[k], figures.lengths[k],
                                                            figures.cutOff[k]);
                    else
                        out[kKindNames[k]] = py::make_tuple(figures.counts[k], figures.lengths[k]);
                }
                return out;
            },
            py::arg("settings"), py::arg("reach") = nullptr,
            "Per kind (every name of KINDS): (count, total length in metres) of the slices, "
            "without ordering them; lengths measured in the lane frame. With a `reach` of "
            "this scene (from `reach`), a third figure: how many of them have no entry in it.")
        .def(
            "reach",
            [](const Scene& self, const XY& start) {
                Reach reach;
                {
                    py::gil_scoped_release unlocked;
                    reach.reach = computeStartReach(self.environment, toPoint(start));
                }
                return reach;
            },
            py::arg("start"),
            "Where a plan from `start` may go at any lane angle: the parts of the free lawn "
            "that nothing parts from the start.")
        .def(
            "transit",
            [](const Scene& self, const XY& from, const XY& to, double angle) -> py::object {
                std::vector<Point> way;
                {
                    py::gil_scoped_release unlocked;
                    way = findTransitBetween(self.environment, toPoint(from), toPoint(to), angle);
                }
                if (way.empty()) return py::none();
                return toList(way);
            },
            py::arg("start"), py::arg("target"), py::arg("angle") = 0.0,
            "The planner's transit search from `start` to `target`, as inside a plan with "
            "this lane angle (radians): a list of (x, y) from start to target, or None when "
            "there is no way.");

    m.def(
        "unswept_parts",
        [](const std::vector<std::vector<XY>>& area, const std::vector<std::vector<XY>>& lines,
           double halfWidth, int arcSegments) {
            std::vector<Ring> rings;
            for (const std::vector<XY>& ring : area) rings.push_back(toPoints(ring));
            std::vector<std::vector<Point>> paths;
            for (const std::vector<XY>& line : lines) paths.push_back(toPoints(line));
            std::vector<AreaPart> parts;
            {
                py::gil_scoped_release unlocked;
                parts = unsweptParts(rings, paths, halfWidth, arcSegments);
            }
            return multipolygonWkb(parts);
        },
        py::arg("area"), py::arg("lines"), py::arg("half_width"), py::arg("arc_segments") = 8,
        "The parts of `area` (its outline and hole rings, nested even-odd) that no line "
        "sweeps at `half_width` metres to either side (round ends and joins, `arc_segments` "
        "chords per quarter circle), as the well-known binary of a multipolygon; computed on a "
        "10 micrometre grid.");

    m.def(
        "unswept_gaps",
        [](const std::vector<std::vector<XY>>& area, const std::vector<std::vector<XY>>& lines,
           double halfWidth, int arcSegments, double minWidth) {
            std::vector<Ring> rings;
            for (const std::vector<XY>& ring : area) rings.push_back(toPoints(ring));
            std::vector<std::vector<Point>> paths;
            paths.reserve(lines.size());
            for (const std::vector<XY>& line : lines) paths.push_back(toPoints(line));
            UnsweptGaps gaps;
            {
                py::gil_scoped_release unlocked;
                gaps = unsweptGaps(rings, paths, halfWidth, arcSegments, minWidth);
            }
            return py::make_tuple(multipolygonWkb(gaps.gaps), gaps.unsweptArea);
        },
        py::arg("area"), py::arg("lines"), py::arg("half_width"), py::arg("arc_segments") = 8,
        py::arg("min_width") = 0.0,
        "As unswept_parts, less what is narrower than `min_width` metres everywhere (the "
        "opening by a disc of that diameter): (the well-known binary of a multipolygon, the "
        "unswept area before the opening in square metres).");
}
