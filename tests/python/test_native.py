"""The tools' companion module against the module's own planning call."""

import math

import pytest
import swathwise as sw

from swathwise_tools import _native


def circle(cx, cy, r, corners=32):
    return [(cx + r * math.cos(2 * math.pi * k / corners), cy + r * math.sin(2 * math.pi * k / corners))
            for k in range(corners)]


# A lawn ringed by a house, trees over each other and over the edge, a bed
# touching the lawn at a corner, a hedge with a gap, a virtual wire.
LAWN = [(0, 0), (30, 0), (30, 20), (12, 20), (12, 14), (6, 14), (6, 20), (0, 20)]
OBSTACLES = [circle(8, 6, 1.5), circle(9.8, 6.5, 1.2), circle(29.5, 10, 2.0),
             [(18, 8), (22, 8), (22, 12), (18, 12)], [(26, 16), (30, 16), (30, 20), (26, 20)],
             [(14.5, -1), (15, -1), (15, 12), (14.5, 12)]]
WIRE = [(2, 2), (2, 12), (16, 12), (16, 2)]
MOW_AREA = [(1, 1), (29, 1), (29, 19), (1, 19)]


def module_plan(values, start, mow_areas=()):
    env = sw.Environment(sw.Polygon([sw.Point(*p) for p in LAWN]))
    for ring in OBSTACLES:
        env.addObstacle(sw.Polygon([sw.Point(*p) for p in ring]))
    for ring in mow_areas:
        env.addMowArea(sw.Polygon([sw.Point(*p) for p in ring]))
    env.setVirtualWire(sw.LineString([sw.Point(*p) for p in WIRE]))
    settings = sw.PathSettings()
    for key, value in values.items():
        setattr(settings, key, value)
    return sw.PathService().computeFullTask(env, settings, sw.Point(*start))


def scene(mow_areas=()):
    return _native.Scene(LAWN, OBSTACLES, mow_areas=list(mow_areas), virtual_wire=WIRE)


CASES = [
    {"offset": 0.6, "distanceToBorder": 0.4},
    {"offset": 0.5, "angle": math.radians(30), "pattern": "squares", "mowBorderCcw": True},
    {"offset": 0.7, "angle": 1.2, "pattern": "rings", "borderLaps": 1, "exclusionsBorderLaps": 3},
    {"offset": 0.5, "distanceToBorder": 0.0, "mowExclusionsBoder": False},
]


@pytest.mark.parametrize("mow_areas", [(), (MOW_AREA,)])
@pytest.mark.parametrize("values", CASES)
def test_plan_is_the_modules_bit_for_bit_with_kinds_by_stage(values, mow_areas):
    expected = module_plan(values, (1, 1), mow_areas)
    planned = scene(mow_areas).plan(values, (1, 1))
    assert planned.path == [(p.x, p.y) for p in expected.path.getPoints()]
    slices = [[(p.x, p.y) for p in s.getPoints()] for s in expected.slices]
    assert planned.slices == slices
    assert planned.connectors == [] and planned.search_edges == []

    alone = {kind: len(module_plan({**values, **off}, (1, 1), mow_areas).slices)
             for kind, off in (("perimeter_lap", {"mowArea": False, "mowExclusionsBoder": False}),
                               ("obstacle_lap", {"mowArea": False, "mowBorder": False}))}
    area_kind = "area_ring" if values.get("pattern") == "rings" else "area_lane"
    area = len(slices) - alone["perimeter_lap"] - alone["obstacle_lap"]
    assert planned.kinds == ([area_kind] * area + ["perimeter_lap"] * alone["perimeter_lap"]
                             + ["obstacle_lap"] * alone["obstacle_lap"])

    unordered = scene(mow_areas).slices(values)
    assert unordered.slices == planned.slices and unordered.kinds == planned.kinds
    figures = scene(mow_areas).figures(values)
    assert set(figures) == set(_native.KINDS)
    for kind in _native.KINDS:
        mine = [s + s[:1] if len(s) >= 3 else s for s, k in zip(planned.slices, planned.kinds) if k == kind]
        count, length = figures[kind]
        assert count == len(mine)
        assert length == pytest.approx(sum(math.dist(a, b) for s in mine for a, b in zip(s, s[1:])), abs=1e-6)


@pytest.mark.parametrize("angle", [0.0, math.radians(30)])
def test_transit_between_two_points_is_the_way_inside_the_plan(angle):
    values = {"offset": 0.6, "distanceToBorder": 0.4, "angle": angle}
    planned = scene().plan(values, (1, 1), search_details=True)
    assert planned.connectors and planned.search_edges
    path = planned.path
    for start, target in planned.connectors:
        way = scene().transit(start, target, angle)
        assert way is not None and way[0] == pytest.approx(start) and len(way) >= 2
        runs = [path[k:k + len(way)] for k in range(len(path) - len(way) + 1)]
        if angle == 0.0:
            assert way in runs
        else:
            assert any(all(math.dist(a, b) < 1e-9 for a, b in zip(way, run)) for run in runs)


def test_transit_without_a_way_is_none():
    garden = scene()
    assert garden.transit((2, 5), (20, 10)) is None  # inside the bed
    assert garden.transit((2, 5), (40, 10)) is None  # off the lawn
    assert garden.transit((3, 3), (3.0004, 3)) == [(3.0, 3.0)]
    assert _native.Scene([(0, 0), (1, 0)]).transit((0, 0), (1, 0)) is None


@pytest.mark.parametrize("values, message", [
    ({"ofset": 1.0}, "unknown setting ofset"),
    ({"offset": "1"}, "offset must be a number"),
    ({"mowBorder": 1}, "mowBorder must be True or False"),
    ({"borderLaps": -1}, "borderLaps must be a whole number"),
    ({"borderLaps": 1.0}, "borderLaps must be a whole number"),
    ("offset", "must be a mapping"),
])
def test_bad_settings_are_type_errors_naming_the_setting(values, message):
    with pytest.raises(TypeError, match=message):
        scene().plan(values, (1, 1))
