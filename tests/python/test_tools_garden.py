import copy
import json
import math
from pathlib import Path

import pytest
from shapely.geometry import Point, Polygon

from swathwise_tools.garden import GardenError, load_garden, parse_garden
from swathwise_tools.plan import AREA, OBSTACLE, PERIMETER, plan_garden
from swathwise_tools.route import route_collection

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def feature(role, kind, coordinates, name=None):
    props = {"role": role}
    if name:
        props["name"] = name
    return {"type": "Feature", "properties": props,
            "geometry": {"type": kind, "coordinates": coordinates}}


def square(x0, y0, x1, y1):
    return [[[x0, y0], [x1, y0], [x1, y1], [x0, y1], [x0, y0]]]


def metres_garden(features=None, settings=None):
    return {
        "type": "FeatureCollection",
        "properties": {"crs": "local-metres", "settings": settings or {}},
        "features": features if features is not None else [
            feature("lawn", "Polygon", square(0, 0, 20, 12), "lawn"),
            feature("obstacle", "Polygon", square(8, 4, 10, 6), "shed"),
            feature("start", "Point", [1, 1]),
        ],
    }


@pytest.mark.parametrize(
    "name, crs, obstacles, mow_areas, area_range",
    [
        ("front_lawn", "local-metres", 3, 0, (60, 200)),
        ("back_garden", "local-metres", 4, 0, (200, 500)),
        ("park_lawn", "OGC:CRS84", 20, 2, (8000, 12000)),
    ],
)
def test_samples_load_and_plan(name, crs, obstacles, mow_areas, area_range):
    garden = load_garden(EXAMPLES / f"{name}.geojson")
    assert garden.frame.crs_name == crs
    assert len(garden.obstacles) >= obstacles
    assert len(garden.mow_areas) == mow_areas
    assert garden.warnings == []
    assert area_range[0] < garden.mowable_area().area < area_range[1]
    # Rings arrive without GeoJSON's repeated closing point, centred on the lawn.
    assert garden.lawn[0] != garden.lawn[-1]
    xs = [p[0] for p in garden.lawn]
    assert min(xs) == pytest.approx(-max(xs), abs=0.5)
    assert garden.start is not None and garden.contains(garden.start)
    plan = plan_garden(garden)
    assert any(p.kind == AREA for p in plan.pieces)
    if plan.path:
        assert all(p.reached for p in plan.pieces)


def test_back_garden_wire_runs_through_the_passage():
    garden = load_garden(EXAMPLES / "back_garden.geojson")
    lawn = Polygon(garden.lawn)
    # The lawn is one polygon whose narrowest part is the passage.
    assert lawn.buffer(-0.7).geom_type == "MultiPolygon"
    assert lawn.buffer(-0.5).geom_type == "Polygon"
    wire = garden.virtual_wire
    assert min(p[0] for p in wire) < -10 and max(p[0] for p in wire) > 5


def write(tmp_path, data):
    path = tmp_path / "garden.geojson"
    path.write_text(data if isinstance(data, str) else json.dumps(data))
    return path


def mutate(change):
    data = metres_garden()
    change(data)
    return data


def set_geometry(index, kind, coordinates):
    def change(data):
        data["features"][index]["geometry"] = {"type": kind, "coordinates": coordinates}
    return change


def add(*features):
    return lambda data: data["features"].extend(features)


def settings(**values):
    return lambda data: data["properties"]["settings"].update(values)


def drop_crs_and_grow_lawn(data):
    del data["properties"]["crs"]
    data["features"][0]["geometry"]["coordinates"] = square(0, 0, 200, 120)


MALFORMED = [
    ("invalid JSON", '{"type": "FeatureCollection", "features": [', ["invalid JSON", "line 1"]),
    ("not a collection", {"type": "Feature"}, ["FeatureCollection"]),
    ("no lawn", mutate(lambda d: d["features"].pop(0)), ['role "lawn"']),
    ("two lawns", mutate(add(feature("lawn", "Polygon", square(0, 0, 1, 1)))), ["lawn", "one Polygon"]),
    ("lawn as MultiPolygon",
     mutate(set_geometry(0, "MultiPolygon", [square(0, 0, 5, 5), square(6, 0, 9, 5)])),
     ['feature 0 ("lawn")', "MultiPolygon"]),
    ("lawn as LineString", mutate(set_geometry(0, "LineString", [[0, 0], [5, 5]])),
     ["lawn", "expected a Polygon, got a LineString"]),
    ("obstacle as Point", mutate(set_geometry(1, "Point", [9, 5])),
     ['feature 1 ("shed")', 'Point obstacle needs a "radius"']),
    ("start as LineString", mutate(set_geometry(2, "LineString", [[1, 1], [2, 2]])),
     ["start feature 2", "expected a Point"]),
    ("wire as Polygon", mutate(add(feature("virtualWire", "Polygon", square(1, 1, 2, 2), "wire"))),
     ['("wire")', "expected a LineString"]),
    ("two docking wires",
     mutate(add(feature("dockingWire", "LineString", [[0, 1], [1, 1]]),
                feature("dockingWire", "LineString", [[0, 2], [1, 2]]))),
     ["feature 4", 'at most one "dockingWire"']),
    ("unknown role", mutate(add(feature("pond", "Polygon", square(1, 1, 2, 2)))),
     ["feature 3", 'unknown role "pond"']),
    ("missing role", mutate(lambda d: d["features"][1]["properties"].pop("role")),
     ['feature 1 ("shed")', 'no "role"']),
    ("missing geometry", mutate(lambda d: d["features"][1].update(geometry=None)),
     ['feature 1 ("shed")', "no geometry"]),
    ("non-numeric coordinate", mutate(set_geometry(1, "Polygon", [[[8, 4], ["10", 4], [10, 6]]])),
     ['feature 1 ("shed")', '"10" is not a finite number']),
    ("self-crossing lawn", mutate(set_geometry(0, "Polygon", [[[0, 0], [20, 12], [20, 0], [0, 12], [0, 0]]])),
     ['feature 0 ("lawn")', "not a simple polygon"]),
    ("unknown setting", mutate(settings(offest=0.5)), ['unknown setting "offest"', "offset"]),
    ("offset as text", mutate(settings(offset="0.5")), ['setting "offset"', "must be a number"]),
    ("offset as bool", mutate(settings(offset=True)), ['setting "offset"', "must be a number"]),
    ("offset zero", mutate(settings(offset=0)), ['setting "offset"', "at least"]),
    ("angle NaN", '{"type":"FeatureCollection","properties":{"settings":{"angle":NaN}},"features":[]}',
     ['setting "angle"', "finite"]),
    ("laps as float", mutate(settings(borderLaps=2.5)), ['setting "borderLaps"', "whole number"]),
    ("laps negative", mutate(settings(exclusionsBorderLaps=-1)), ['setting "exclusionsBorderLaps"', "between 0"]),
    ("flag as text", mutate(settings(mowBorder="yes")), ['setting "mowBorder"', "true or false"]),
    ("unknown pattern", mutate(settings(pattern="spiral")), ['setting "pattern"', "lines, squares"]),
    ("unknown crs", mutate(lambda d: d["properties"].update(crs="utm")), ['unknown "crs" "utm"']),
    ("metres without crs", mutate(drop_crs_and_grow_lawn), ["no longitude/latitude", "local-metres"]),
]


@pytest.mark.parametrize("data, fragments", [m[1:] for m in MALFORMED], ids=[m[0] for m in MALFORMED])
def test_malformed_garden_gives_one_clear_line(tmp_path, data, fragments):
    with pytest.raises(GardenError) as caught:
        load_garden(write(tmp_path, data))
    message = str(caught.value)
    assert "\n" not in message
    for fragment in fragments:
        assert fragment in message


def test_missing_file_is_a_garden_error(tmp_path):
    with pytest.raises(GardenError, match="cannot read"):
        load_garden(tmp_path / "nowhere.geojson")


def test_multipolygon_obstacle_becomes_several_obstacles():
    data = metres_garden()
    data["features"][1]["geometry"] = {
        "type": "MultiPolygon", "coordinates": [square(2, 2, 3, 3), square(5, 5, 6, 7)]}
    garden = parse_garden(data)
    assert [round(Polygon(r).area, 6) for r in garden.obstacles] == [1.0, 2.0]


def test_garden_without_start_or_docking_wire_starts_inside_the_mowable_area():
    tree = feature("obstacle", "Point", [10, 6], "tree")
    tree["properties"]["radius"] = 1.5
    data = metres_garden([feature("lawn", "Polygon", square(0, 0, 20, 12), "lawn"), tree])
    garden = parse_garden(data)
    assert garden.start is None and not garden.docking_wire and len(garden.obstacles) == 1
    start = Point(garden.default_start())
    assert garden.mowable_area().contains(start)


# --- lon/lat against metres ---------------------------------------------------

LON0, LAT0 = 8.25, 47.1


def to_lonlat(x, y):
    """Local tangent-plane approximation on the WGS84 ellipsoid (good to well
    below a millimetre over a few tens of metres)."""
    a, f = 6378137.0, 1 / 298.257223563
    e2 = f * (2 - f)
    phi = math.radians(LAT0)
    w = 1 - e2 * math.sin(phi) ** 2
    meridian = a * (1 - e2) / w ** 1.5
    normal = a / math.sqrt(w)
    return (LON0 + math.degrees(x / (normal * math.cos(phi))), LAT0 + math.degrees(y / meridian))


def from_lonlat(lon, lat):
    a, f = 6378137.0, 1 / 298.257223563
    e2 = f * (2 - f)
    phi = math.radians(LAT0)
    w = 1 - e2 * math.sin(phi) ** 2
    meridian = a * (1 - e2) / w ** 1.5
    normal = a / math.sqrt(w)
    return (math.radians(lon - LON0) * normal * math.cos(phi), math.radians(lat - LAT0) * meridian)


def convert(data, fn):
    data = copy.deepcopy(data)
    for f in data["features"]:
        g = f["geometry"]
        if g is None:
            continue
        if g["type"] == "Point":
            g["coordinates"] = list(fn(*g["coordinates"]))
        elif g["type"] == "LineString":
            g["coordinates"] = [list(fn(*p)) for p in g["coordinates"]]
        elif g["type"] == "MultiPolygon":
            g["coordinates"] = [[[list(fn(*p)) for p in ring] for ring in poly] for poly in g["coordinates"]]
        else:
            g["coordinates"] = [[list(fn(*p)) for p in ring] for ring in g["coordinates"]]
    return data


def test_lonlat_garden_plans_like_the_same_garden_in_metres():
    lawn = [[[0, 0], [31, 0], [33, 14], [18, 22.5], [0, 19], [0, 0]]]
    metres = metres_garden(
        [
            feature("lawn", "Polygon", lawn),
            feature("obstacle", "Polygon", [[[9, 5], [12, 5.5], [11, 9], [9, 5]]]),
            feature("obstacle", "Polygon", square(21, 10, 23.5, 13)),
            feature("virtualWire", "LineString", [[2, 2], [16, 11], [28, 6]]),
            feature("start", "Point", [1.5, 1.0]),
        ],
        settings={"offset": 0.5, "angle": math.degrees(0.3), "distanceToBorder": 0.4,
                  "borderLaps": 2, "exclusionsBorderLaps": 1},
    )
    lonlat = convert(metres, to_lonlat)
    lonlat["properties"]["crs"] = "wgs84"

    plan_m = plan_garden(parse_garden(metres))
    plan_l = plan_garden(parse_garden(lonlat))
    assert [p.kind for p in plan_l.pieces] == [p.kind for p in plan_m.pieces]
    assert len(plan_l.path) == len(plan_m.path)

    route_m = route_collection(plan_m)
    route_l = convert(route_collection(plan_l), from_lonlat)
    for fm, fl in zip(route_m["features"], route_l["features"]):
        assert fm["properties"]["role"] == fl["properties"]["role"]
        if fm["properties"]["role"] == "gaps":
            continue  # slivers differ with the projection; compared by area elsewhere
        if fm["geometry"] is None:
            assert fl["geometry"] is None
            continue
        gm, gl = fm["geometry"], fl["geometry"]
        flat_m = [gm["coordinates"]] if gm["type"] == "Point" else gm["coordinates"]
        flat_l = [gl["coordinates"]] if gl["type"] == "Point" else gl["coordinates"]
        if gm["type"] == "MultiLineString":
            flat_m = [p for line in flat_m for p in line]
            flat_l = [p for line in flat_l for p in line]
        assert len(flat_m) == len(flat_l)
        worst = max((math.dist(a, b) for a, b in zip(flat_m, flat_l)), default=0.0)
        assert worst < 0.005
