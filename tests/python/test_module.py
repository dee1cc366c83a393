"""The Python face of the module: classes, conversions, copies and views."""
import gc
import inspect
import math

import pytest
import swathwise as sw

from conftest import coords, polygon, ring

SQUARE = ((0, 0), (10, 0), (10, 10), (0, 10))


def test_module_surface():
    public = [n for n in vars(sw) if not n.startswith("_")]
    assert public == ["Point", "LineString", "Polygon", "Environment", "PathSettings",
                      "PlanningResult", "PathService"]
    doc = sw.__doc__
    assert doc and doc.count(".") == 1 and doc.endswith(".")
    assert issubclass(sw.Polygon, sw.LineString)
    for cls in (sw.Point, sw.LineString, sw.Environment, sw.PathSettings, sw.PlanningResult,
                sw.PathService):
        assert cls.__bases__[0].__name__ == "pybind11_object"


def test_members_in_registration_order():
    def own(cls):
        return [n for n in vars(cls) if not n.startswith("_") or n == "__repr__"]
    assert own(sw.LineString) == ["getPoints", "addPoint"]
    assert own(sw.Environment) == ["addObstacle", "getPerimeter", "getObstacles",
                                   "setVirtualWire", "setDockingWire", "addMowArea"]
    assert own(sw.PathSettings) == [
        "offset", "angle", "distanceToBorder", "mowArea", "mowBorder", "borderLaps",
        "mowBorderCcw", "mowExclusionsBoder", "exclusionsBorderLaps",
        "mowExclusionsBorderCcw", "pattern"]
    assert own(sw.PathService) == ["computeFullTask", "getVersion"]
    assert own(sw.Point) == ["x", "y", "__repr__"]


def test_signatures_carry_typing_annotations():
    assert "typing.SupportsFloat | typing.SupportsIndex" in sw.Point.__init__.__doc__
    assert "collections.abc.Sequence[swathwise.Point]" in sw.LineString.__init__.__doc__
    assert "-> list[swathwise.Point]" in sw.LineString.getPoints.__doc__
    assert "typing.SupportsInt | typing.SupportsIndex" in sw.PathSettings.borderLaps.fset.__doc__
    assert "-> int" in sw.PathSettings.borderLaps.fget.__doc__
    assert "-> float" in sw.Point.x.fget.__doc__
    assert "-> list[swathwise.LineString]" in sw.PlanningResult.slices.fget.__doc__
    assert "-> str" in sw.PathService.getVersion.__doc__


@pytest.mark.parametrize("x, y, text", [
    (1, 2.5, "(1.000000, 2.500000)"),
    (-0.0, 1e-7, "(-0.000000, 0.000000)"),
    (-1.5, 1e6, "(-1.500000, 1000000.000000)"),
    (math.inf, -math.inf, "(inf, -inf)"),
    (math.nan, 0, "(nan, 0.000000)"),
])
def test_point_repr(x, y, text):
    assert repr(sw.Point(x, y)) == text


def test_point_repr_of_huge_values_is_complete():
    assert repr(sw.Point(1e300, 0)).startswith("(1000000000000000052504760255204420248704468")
    assert repr(sw.Point(1e300, 0)).endswith(".000000, 0.000000)")


def test_point_from_ints_holds_floats():
    p = sw.Point(1, 2)
    assert (p.x, p.y) == (1.0, 2.0) and isinstance(p.x, float)


@pytest.mark.parametrize("make", [
    lambda: sw.Point(),
    lambda: sw.Point(1),
    lambda: sw.Point("1", 2),
    lambda: sw.Point(x=1, y=2),
    lambda: sw.Point(1, 2, 3),
    lambda: sw.LineString([(0, 0), (1, 1)]),
    lambda: sw.LineString(None),
    lambda: sw.LineString("ab"),
    lambda: sw.Environment(),
    lambda: sw.Environment(sw.LineString()),
    lambda: sw.Environment(None),
    lambda: sw.PathSettings(1),
    lambda: sw.PathService().computeFullTask(None, sw.PathSettings(), sw.Point(0, 0)),
    lambda: sw.PathService().computeFullTask(sw.Environment(sw.Polygon()), sw.PathSettings()),
])
def test_arguments_matching_no_overload_raise_type_error(make):
    with pytest.raises(TypeError, match="incompatible (constructor|function) arguments"):
        make()


def test_planning_result_has_no_constructor():
    with pytest.raises(TypeError, match=r"swathwise\.PlanningResult: No constructor defined!"):
        sw.PlanningResult()


@pytest.mark.parametrize("obj", [
    lambda: sw.Point(0, 0), lambda: sw.LineString(), lambda: sw.Polygon(),
    lambda: sw.Environment(sw.Polygon()), lambda: sw.PathSettings(), lambda: sw.PathService(),
])
def test_no_extra_attributes_and_identity_comparison(obj):
    a = obj()
    with pytest.raises(AttributeError):
        a.extra = 1
    assert a != obj() and a == a


def test_linestring_copies_in_and_out():
    p = sw.Point(1, 2)
    line = sw.LineString((p, sw.Point(3, 4)))
    p.x = 99
    first = line.getPoints()
    assert coords(first) == [(1, 2), (3, 4)]
    first[0].x = -5
    assert line.getPoints() is not first
    assert coords(line.getPoints()) == [(1, 2), (3, 4)]
    line.addPoint(p)
    p.y = 77
    assert coords(line.getPoints())[-1] == (99, 2)
    assert sw.LineString().getPoints() == []


@pytest.mark.parametrize("iterable", [
    lambda pts: (p for p in pts),
    lambda pts: tuple(pts),
    lambda pts: map(lambda q: q, pts),
    lambda pts: {i: p for i, p in enumerate(pts)}.values(),
])
def test_point_lists_accept_iterables(iterable):
    pts = ring((0, 0), (1, 0), (1, 1))
    assert coords(sw.Polygon(iterable(pts)).getPoints()) == [(0, 0), (1, 0), (1, 1)]


def test_polygon_is_stored_as_given_and_extends_linestring():
    poly = polygon((0, 0), (0, 1), (1, 1), (1, 0))
    assert coords(poly.getPoints()) == [(0, 0), (0, 1), (1, 1), (1, 0)]
    poly.addPoint(sw.Point(0.5, -1))
    assert len(poly.getPoints()) == 5
    assert isinstance(poly, sw.LineString)


def test_environment_orients_and_copies():
    cw = polygon((0, 0), (0, 1), (1, 1), (1, 0))
    env = sw.Environment(cw)
    assert coords(env.getPerimeter().getPoints()) == [(1, 0), (1, 1), (0, 1), (0, 0)]
    assert coords(cw.getPoints()) == [(0, 0), (0, 1), (1, 1), (1, 0)]
    ccw = polygon((0, 0), (1, 0), (1, 1), (0, 1))
    env.addObstacle(ccw)
    assert coords(env.getObstacles()[0].getPoints()) == [(0, 1), (1, 1), (1, 0), (0, 0)]
    assert coords(ccw.getPoints()) == [(0, 0), (1, 0), (1, 1), (0, 1)]
    perimeter = env.getPerimeter()
    perimeter.addPoint(sw.Point(9, 9))
    assert len(env.getPerimeter().getPoints()) == 4
    env.getObstacles()[0].addPoint(sw.Point(9, 9))
    assert len(env.getObstacles()[0].getPoints()) == 4
    env.setVirtualWire(polygon((0, 0), (1, 1)))
    env.setDockingWire(sw.LineString())
    env.addMowArea(cw)


def test_settings_defaults_and_conversions():
    s = sw.PathSettings()
    assert (s.pattern, s.offset, s.angle, s.distanceToBorder, s.mowArea, s.mowBorder,
            s.mowBorderCcw, s.borderLaps, s.mowExclusionsBoder, s.mowExclusionsBorderCcw,
            s.exclusionsBorderLaps) == ("lines", 0.5, 0.0, 1.5, True, True, False, 3, True,
                                        False, 2)
    s.borderLaps = 0
    assert s.borderLaps == 0
    s.exclusionsBorderLaps = 2**64 - 1
    assert s.exclusionsBorderLaps == 2**64 - 1
    for bad in (-1, 2.0, 2**64, "3", None):
        with pytest.raises(TypeError):
            s.borderLaps = bad
    s.mowBorder = None
    assert s.mowBorder is False
    s.mowBorder = 5
    assert s.mowBorder is True
    with pytest.raises(TypeError):
        s.mowBorder = "yes"
    s.pattern = "squares"
    assert s.pattern == "squares"
    s.pattern = "Lines ✓"
    assert s.pattern == "Lines ✓"
    s.offset = 2
    assert s.offset == 2.0
    with pytest.raises(TypeError):
        s.offset = "1"


def plan(perimeter=SQUARE, **settings):
    s = sw.PathSettings()
    s.distanceToBorder = 0
    s.mowBorder = False
    s.mowExclusionsBoder = False
    for k, v in settings.items():
        setattr(s, k, v)
    env = sw.Environment(polygon(*perimeter))
    return sw.PathService().computeFullTask(env, s, sw.Point(0, 0))


def test_path_view_refers_to_the_result_and_keeps_it_alive():
    r = plan(offset=5)
    view = r.path
    view.addPoint(sw.Point(42, 43))
    assert coords(r.path.getPoints())[-1] == (42, 43)
    r.path = sw.LineString([sw.Point(1, 1)])
    assert coords(view.getPoints()) == [(1, 1)]
    del r
    gc.collect()
    assert coords(view.getPoints()) == [(1, 1)]


def test_slices_views_and_copies():
    r = plan(offset=5)
    assert len(r.slices) == 2
    listed = r.slices
    listed.append(sw.LineString())
    assert len(r.slices) == 2
    element = r.slices[0]
    element.addPoint(sw.Point(7, 7))
    assert len(r.slices[0].getPoints()) == 3
    r.slices = []
    assert r.slices == []


def test_slice_views_survive_reassignment_of_slices():
    r = plan(offset=1)
    views = r.slices
    before = [coords(v.getPoints()) for v in views]
    r.slices = [sw.LineString([sw.Point(i, i)]) for i in range(50)]
    r.slices = (s for s in [polygon((0, 0), (1, 0), (1, 1))])
    gc.collect()
    assert [coords(v.getPoints()) for v in views] == before
    assert coords(r.slices[0].getPoints()) == [(0, 0), (1, 0), (1, 1)]
    del r
    gc.collect()
    assert [coords(v.getPoints()) for v in views] == before


def test_assigning_a_views_own_slices_copies_them():
    r = plan(offset=5)
    r.slices = r.slices + r.slices
    assert len(r.slices) == 4
    assert coords(r.slices[0].getPoints()) == coords(r.slices[2].getPoints())


def test_keyword_arguments_are_rejected():
    with pytest.raises(TypeError):
        sw.PathService().computeFullTask(environment=sw.Environment(sw.Polygon()),
                                         settings=sw.PathSettings(), start=sw.Point(0, 0))
    sig = sw.Environment.addObstacle.__doc__
    assert "arg0: swathwise.Polygon" in sig


@pytest.mark.parametrize("cls, use", [
    (sw.Point, lambda o: o.x),
    (sw.Point, repr),
    (sw.LineString, lambda o: o.addPoint(sw.Point(1, 2))),
    (sw.Polygon, lambda o: o.getPoints()),
    (sw.Environment, lambda o: o.addObstacle(sw.Polygon())),
    (sw.Environment, lambda o: sw.PathService().computeFullTask(o, sw.PathSettings(),
                                                                sw.Point(0, 0))),
    (sw.PathSettings, lambda o: setattr(o, "offset", 1.0)),
    (sw.PlanningResult, lambda o: setattr(o, "slices", [sw.LineString()] * 100)),
    (sw.PlanningResult, lambda o: o.path.addPoint(sw.Point(1, 2))),
    (sw.PathService, lambda o: o.getVersion()),
    (sw.Point, lambda o: sw.LineString([o])),
])
def test_objects_made_with_new_alone_are_refused(cls, use):
    with pytest.raises(TypeError, match="never initialised"):
        use(cls.__new__(cls))


def test_slice_views_outlive_reassignment_and_result():
    r = plan(offset=1)
    view = r.slices[0]
    before = coords(view.getPoints())
    r.slices = []
    del r
    gc.collect()
    view.addPoint(sw.Point(5, 5))
    assert coords(view.getPoints()) == before + [(5, 5)]
