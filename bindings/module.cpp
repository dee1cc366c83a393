// The Python module swathwise.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/typing.h>

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

// The result as Python holds it.  Element views read from `slices` point
// into a list of slices and keep that list's anchor alive.  While the list is
// the result's current one, the anchor holds a reference to the result (the
// list lives in it); when Python assigns a new list, the replaced one moves
// into the anchor (its elements keep their addresses) and is freed with the
// anchor, once the last view of it has gone.
struct HeldResult : PlanningResult {
    explicit HeldResult(PlanningResult&& planned) : PlanningResult(std::move(planned)) {}
    PyObject* anchor = nullptr;  // the current list's anchor while views of it exist; borrowed
};

struct SliceAnchor {
    HeldResult* result = nullptr;  // while the list is the result's current one ...
    PyObject* owner = nullptr;     // ... with a reference to the result's Python object
    std::vector<LineString> detached;
};

// Capsule destructor of an anchor; runs with the interpreter lock held.
void releaseAnchor(void* pointer) {
    auto* anchor = static_cast<SliceAnchor*>(pointer);
    if (anchor->result != nullptr) anchor->result->anchor = nullptr;
    PyObject* owner = anchor->owner;
    delete anchor;
    Py_XDECREF(owner);
}

SliceAnchor* anchorOf(PyObject* capsule) {
    return static_cast<SliceAnchor*>(py::reinterpret_borrow<py::capsule>(capsule).get_pointer());
}

// The anchor of the result's current list, made on first need.
py::capsule currentAnchor(HeldResult& self) {
    if (self.anchor != nullptr) return py::reinterpret_borrow<py::capsule>(self.anchor);
    py::object owner = py::cast(&self, py::return_value_policy::reference);
    auto* anchor = new SliceAnchor();
    py::capsule capsule;
    try {
        capsule = py::capsule(anchor, releaseAnchor);
    } catch (...) {
        delete anchor;
        throw;
    }
    anchor->result = &self;
    anchor->owner = owner.release().ptr();
    self.anchor = capsule.ptr();
    return capsule;
}

py::typing::List<LineString> sliceViews(HeldResult& self) {
    py::list views;
    if (self.slices.empty()) return views;
    const py::capsule anchor = currentAnchor(self);
    for (LineString& slice : self.slices) {
        py::object view = py::cast(&slice, py::return_value_policy::reference);
        py::detail::keep_alive_impl(view, anchor);
        views.append(view);
    }
    return views;
}

void replaceSlices(HeldResult& self, std::vector<LineString> slices) {
    if (self.anchor == nullptr) {
        self.slices = std::move(slices);
        return;
    }
    SliceAnchor* anchor = anchorOf(self.anchor);
    anchor->detached = std::move(self.slices);
    anchor->result = nullptr;
    PyObject* owner = anchor->owner;
    anchor->owner = nullptr;
    self.anchor = nullptr;
    self.slices = std::move(slices);
    Py_XDECREF(owner);  // the caller still holds the result
}

// Objects made with __new__ alone have no native value behind them.  The
// binding layer would hand such an object to the native code as
// uninitialised memory; here it is refused with a TypeError instead.
bool isUnconstructed(py::handle src) {
    if (!src || py::detail::get_type_info(Py_TYPE(src.ptr())) == nullptr) return false;
    auto* instance = reinterpret_cast<py::detail::instance*>(src.ptr());
    for (const py::detail::value_and_holder& part : py::detail::values_and_holders(instance)) {
        if (part.value_ptr() == nullptr) return true;
    }
    return false;
}

}  // namespace

namespace pybind11::detail {

template <typename T>
class ConstructedOnlyCaster : public type_caster_base<T> {
public:
    bool load(handle src, bool convert) {
        if (isUnconstructed(src)) {
            throw type_error(std::string(Py_TYPE(src.ptr())->tp_name) +
                             " object was never initialised: create it by calling the class");
        }
        return type_caster_base<T>::load(src, convert);
    }
};

template <> class type_caster<Point> : public ConstructedOnlyCaster<Point> {};
template <> class type_caster<LineString> : public ConstructedOnlyCaster<LineString> {};
template <> class type_caster<Polygon> : public ConstructedOnlyCaster<Polygon> {};
template <> class type_caster<Environment> : public ConstructedOnlyCaster<Environment> {};
template <> class type_caster<PathSettings> : public ConstructedOnlyCaster<PathSettings> {};
template <> class type_caster<HeldResult> : public ConstructedOnlyCaster<HeldResult> {};
template <> class type_caster<PathService> : public ConstructedOnlyCaster<PathService> {};

}  // namespace pybind11::detail

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
        .def_property("slices", &sliceViews, &replaceSlices);

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
