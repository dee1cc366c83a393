// The Python module swathwise.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "planner/pipeline.h"
#include "planner/scene.h"

namespace py = pybind11;
using namespace Planner;
using PlanningResult = PathPlanner::PlanningResult;

namespace {

std::string formatCoordinate(double v) {
    char buffer[32];
    const int needed = std::snprintf(buffer, sizeof buffer, "%f", v);
    if (needed < 0) return std::string();
    if (static_cast<std::size_t>(needed) < sizeof buffer) return std::string(buffer, needed);
    std::string text(static_cast<std::size_t>(needed) + 1, '\0');
    std::snprintf(&text[0], text.size(), "%f", v);
    text.resize(static_cast<std::size_t>(needed));
    return text;
}

// The result as Python holds it.  Element views read from `slices` point into
// the stored list; when Python assigns a new list, the replaced elements are
// kept here for as long as the result lives, so those views never dangle.
struct HeldResult : PlanningResult {
    explicit HeldResult(PlanningResult&& planned) : PlanningResult(std::move(planned)) {}
    std::vector<std::vector<LineString>> replacedSlices;
};

}  // namespace

PYBIND11_MODULE(swathwise, m, py::multiple_interpreters::not_supported()) {
    m.doc() =
        "Plans complete mowing routes for robotic lawn mowers, aiming at visually clean "
        "results and geometric precision.";

    py::class_<Point>(m, "Point")
        .def(py::init<double, double>())
        .def_readwrite("x", &Point::x)
        .def_readwrite("y", &Point::y)
        .def("__repr__", [](const Point& p) {
            return "(" + formatCoordinate(p.x) + ", " + formatCoordinate(p.y) + ")";
        });

    py::class_<LineString>(m, "LineString")
        .def(py::init<>())
        .def(py::init<std::vector<Point>>())
        .def("getPoints", [](const LineString& self) { return self.getPoints(); })
        .def("addPoint", &LineString::addPoint);

    py::class_<Polygon, LineString>(m, "Polygon")
        .def(py::init<>())
        .def("getPoints", [](const Polygon& self) { return self.getPoints(); })
        .def(py::init<std::vector<Point>>());

    py::class_<Environment>(m, "Environment")
        .def(py::init<const Polygon&>())
        .def("addObstacle", &Environment::addObstacle)
        .def("getPerimeter", [](const Environment& self) { return self.getPerimeter(); })
        .def("getObstacles", [](const Environment& self) { return self.getObstacles(); })
        .def("setVirtualWire", &Environment::setVirtualWire)
        .def("setDockingWire", &Environment::setDockingWire)
        .def("addMowArea", &Environment::addMowArea);

    py::class_<PathSettings>(m, "PathSettings")
        .def(py::init<>())
        .def_readwrite("offset", &PathSettings::offset)
        .def_readwrite("angle", &PathSettings::angle)
        .def_readwrite("distanceToBorder", &PathSettings::distanceToBorder)
        .def_readwrite("mowArea", &PathSettings::mowArea)
        .def_readwrite("mowBorder", &PathSettings::mowBorder)
        .def_readwrite("borderLaps", &PathSettings::borderLaps)
        .def_readwrite("mowBorderCcw", &PathSettings::mowBorderCcw)
        .def_readwrite("mowExclusionsBoder", &PathSettings::mowExclusionsBoder)
        .def_readwrite("exclusionsBorderLaps", &PathSettings::exclusionsBorderLaps)
        .def_readwrite("mowExclusionsBorderCcw", &PathSettings::mowExclusionsBorderCcw)
        .def_readwrite("pattern", &PathSettings::pattern);

    py::class_<HeldResult>(m, "PlanningResult")
        .def_property(
            "path", [](HeldResult& self) -> LineString& { return self.path; },
            [](HeldResult& self, const LineString& path) { self.path.points = path.points; },
            py::return_value_policy::reference_internal)
        .def_property(
            "slices",
            [](HeldResult& self) {
                std::vector<LineString*> views;
                views.reserve(self.slices.size());
                for (LineString& slice : self.slices) views.push_back(&slice);
                return views;
            },
            [](HeldResult& self, std::vector<LineString> slices) {
                self.replacedSlices.push_back(std::move(self.slices));
                self.slices = std::move(slices);
            },
            py::return_value_policy::reference_internal);

    py::class_<PathService>(m, "PathService")
        .def(py::init<>())
        .def("computeFullTask",
             [](const PathService& self, const Environment& environment,
                const PathSettings& settings, const Point& start) {
                 // Python never sees connectors or search edges: not collected.
                 PlanningOptions options;
                 options.collectSearchDetails = false;
                 return HeldResult(self.computeFullTask(environment, settings, start, options));
             })
        .def("getVersion", [](const PathService& self) { return self.getVersion(); });
}
