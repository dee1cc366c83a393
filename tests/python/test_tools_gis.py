"""Gardens from GIS sources and coordinate systems; routes back out to GIS tools."""

import json

import numpy as np
import pytest
from pyproj import Transformer
from shapely.geometry import MultiPolygon, Point, Polygon

from swathwise_tools import cli
from swathwise_tools.garden import GardenError, load_garden, make_garden, parse_garden, read_garden
from swathwise_tools.plan import MAX_START_OUTSIDE_M, PlanError, plan_garden
from swathwise_tools.settings import Settings

# A garden drawn in UTM zone 31N near Dijon (metres).
UTM = "EPSG:32631"
ORIGIN = (640_000.0, 5_245_000.0)
LAWN = [(0, 0), (30, 0), (32, 14), (18, 22), (0, 19)]
SHED = [(9, 5), (12, 5), (12, 9), (9, 9)]
TREE = (22.0, 11.0)
DOCK = (1.0, 1.0)
SETTINGS = {"offset": 0.5, "distanceToBorder": 0.3, "borderLaps": 1, "exclusionsBorderLaps": 1, "angle": 30}


def utm(points):
    return [(ORIGIN[0] + x, ORIGIN[1] + y) for x, y in points]


def closed(ring):
    return [list(p) for p in ring + ring[:1]]


def collection(target, *, crs_member=None, crs_property=None):
    """The garden in ``target`` (an EPSG code, or None for lon/lat without a CRS)."""
    move = Transformer.from_crs(UTM, target or "OGC:CRS84", always_xy=True).transform

    def conv(points):
        return [list(move(x, y)) for x, y in utm(points)]

    properties = {"settings": SETTINGS}
    if crs_property:
        properties["crs"] = crs_property
    data = {
        "type": "FeatureCollection",
        "properties": properties,
        "features": [
            {"type": "Feature", "properties": {"role": "lawn"},
             "geometry": {"type": "Polygon", "coordinates": [closed([tuple(p) for p in conv(LAWN)])]}},
            {"type": "Feature", "properties": {"role": "obstacle", "name": "shed"},
             "geometry": {"type": "Polygon", "coordinates": [closed([tuple(p) for p in conv(SHED)])]}},
            {"type": "Feature", "properties": {"role": "obstacle", "radius": 0.8},
             "geometry": {"type": "Point", "coordinates": conv([TREE])[0]}},
            {"type": "Feature", "properties": {"role": "start"},
             "geometry": {"type": "Point", "coordinates": conv([DOCK])[0]}},
        ],
    }
    if crs_member:
        data["crs"] = {"type": "name", "properties": {"name": crs_member}}
    return data


SOURCES = {
    "lon/lat without crs": collection(None),
    "top-level CRS84": collection(None, crs_member="urn:ogc:def:crs:OGC:1.3:CRS84"),
    "UTM 31N as property": collection(UTM, crs_property=UTM),
    "Web Mercator as QGIS writes it": collection("EPSG:3857", crs_member="urn:ogc:def:crs:EPSG::3857"),
}
TRUE_AREA = Polygon(LAWN).area - Polygon(SHED).area - Point(TREE).buffer(0.8, quad_segs=8).area


@pytest.fixture(scope="module")
def plans():
    return {name: plan_garden(parse_garden(data)) for name, data in SOURCES.items()}


def test_every_crs_plans_the_same_garden(plans):
    from swathwise_tools.summary import summarise

    # Grid north differs from true north by a degree or two, so lanes differ
    # slightly; the area and what the route mows of it may not.
    for name, plan in plans.items():
        summary = summarise(plan)
        assert summary["mowableArea"] == pytest.approx(TRUE_AREA, rel=0.005), name
        assert summary["coverage"] * summary["mowableArea"] == pytest.approx(TRUE_AREA, rel=0.005), name
        assert plan.pieces and len(plan.reached) == len(plan.pieces), name


@pytest.mark.parametrize("lawn, fragment", [
    ([(0, 0), (400, 0), (400, 300), (0, 300)], "is no longitude/latitude"),
    ([(0, 0), (30, 0), (30, 20), (0, 20)], "km across"),
])
def test_metres_without_crs_is_an_error_naming_crs(lawn, fragment):
    with pytest.raises(GardenError, match=fragment) as caught:
        make_garden(lawn)
    # A Python caller is told to pass crs=, not to edit a file.
    assert "crs=" in str(caught.value) and "local-metres" in str(caught.value)


@pytest.mark.parametrize("suffix", [".geojson", ".gpkg", ".parquet"])
def test_route_file_reads_back_in_geopandas(plans, tmp_path, suffix):
    geopandas = pytest.importorskip("geopandas")
    pytest.importorskip("pyogrio")
    from swathwise_tools.route import PARQUET_SUMMARY_KEY, write_route
    from swathwise_tools.summary import summarise

    plan = plans["Web Mercator as QGIS writes it"]
    target = tmp_path / f"route{suffix}"
    write_route(target, plan, summarise(plan))
    if suffix == ".gpkg":
        import pyogrio

        layers = dict(pyogrio.list_layers(target))
        assert layers == {"pieces": "LineString", "transit": "LineString", "path": "LineString",
                          "gaps": "MultiPolygon", "start": "Point", "summary": None}
        pieces = geopandas.read_file(target, layer="pieces")
        transit = geopandas.read_file(target, layer="transit")
        summary = geopandas.read_file(target, layer="summary").iloc[0]
        assert summary["pieces_planned_total"] == len(plan.pieces)
    else:
        if suffix == ".parquet":
            pq = pytest.importorskip("pyarrow.parquet")
            table = geopandas.read_parquet(target)
            summary = json.loads(pq.read_schema(target).metadata[PARQUET_SUMMARY_KEY])
        else:
            table = geopandas.read_file(target, engine="pyogrio")
            summary = json.loads(target.read_text())["properties"]["summary"]
        assert summary["pieces"]["planned"]["total"] == len(plan.pieces)
        # The summary is no column of the features' table.
        assert len(table.columns) <= 12 and "summary" not in set(table["role"])
        pieces, transit = table[table["role"] == "piece"], table[table["role"] == "transit"]
    assert pieces.crs.to_epsg() == 3857
    assert len(pieces) == len(plan.pieces)
    assert sorted(pieces["order"].astype(int)) == list(range(1, len(plan.pieces) + 1))
    assert set(pieces["kind"]) == {"area", "perimeter", "obstacle"}
    assert len(transit) == len(plan.transit_stretches())
    # Lengths in the file are true metres, not Web Mercator units.
    assert pieces["length"].sum() == pytest.approx(sum(p.length for p in plan.pieces))
    assert plan.to_geodataframe().crs.to_epsg() == 3857


def _near_null_island():
    """The garden at longitude and latitude 0: coordinates under 1e-4 degrees,
    which Python writes with an exponent."""
    move = Transformer.from_crs(UTM, "OGC:CRS84", always_xy=True).transform
    (x0, y0) = move(*utm([LAWN[0]])[0])

    def conv(points):
        return [(x - x0, y - y0) for x, y in (move(*p) for p in utm(points))]

    return plan_garden(make_garden(conv(LAWN), obstacles=[conv(SHED)], start=conv([DOCK])[0], crs="OGC:CRS84",
                                   settings=SETTINGS))


@pytest.mark.parametrize("with_orjson", [True, False])
@pytest.mark.parametrize("name", [*SOURCES, "at longitude and latitude 0"])
def test_route_text_is_what_json_writes(plans, monkeypatch, name, with_orjson):
    from swathwise_tools import route
    from swathwise_tools.summary import summarise

    if not with_orjson:
        monkeypatch.setattr(route, "orjson", None)
    plan = plans[name] if name in SOURCES else _near_null_island()
    summary = summarise(plan)
    for sessions in (None, plan.sessions(8, charge_min=1)):
        expected = json.dumps(route.route_collection(plan, summary, sessions), separators=(",", ":")) + "\n"
        assert route.route_text(plan, summary, sessions) == expected


def test_route_layers_write_as_shapefiles(plans, tmp_path):
    geopandas = pytest.importorskip("geopandas")
    from swathwise_tools.route import route_layers

    plan = plans["UTM 31N as property"]
    for name, layer in route_layers(plan).items():
        if name == "summary":
            assert len(layer) == 1
            continue
        layer.to_file(tmp_path / f"{name}.shp")
        back = geopandas.read_file(tmp_path / f"{name}.shp")
        assert len(back) == len(layer) and back.crs.to_epsg() == 32631


def _shapely_inputs():
    lawn, shed = Polygon(LAWN), Polygon(SHED)
    return {
        "shapely": dict(lawn=lawn, obstacles=[shed]),
        "numpy": dict(lawn=np.array(LAWN, dtype=float), obstacles=[np.array(SHED)]),
        "tuples": dict(lawn=tuple(LAWN), obstacles=(tuple(SHED),)),
        "one-part MultiPolygon": dict(lawn=MultiPolygon([lawn]), obstacles=[shed.__geo_interface__]),
        "lawn with a hole": dict(lawn=Polygon(LAWN, [SHED])),
    }


@pytest.mark.parametrize("name", list(_shapely_inputs()))
def test_geometry_from_anywhere(name):
    garden = make_garden(crs="local-metres", start=DOCK, **_shapely_inputs()[name])
    assert garden.mowable_area().area == pytest.approx(Polygon(LAWN).area - Polygon(SHED).area)
    assert garden.notes == (["the lawn's 1 hole(s) are planned as obstacles"] if "hole" in name else [])


def test_geodataframe_and_byte_order_mark(tmp_path):
    geopandas = pytest.importorskip("geopandas")
    data = SOURCES["UTM 31N as property"]
    table = geopandas.GeoDataFrame.from_features(data["features"], crs=UTM)
    from_table = read_garden(table)
    path = tmp_path / "garden.geojson"
    path.write_bytes(b"\xef\xbb\xbf" + json.dumps(data).encode())
    from_file = load_garden(path)
    assert from_table.crs.to_epsg() == from_file.crs.to_epsg() == 32631
    assert from_table.mowable_area().area == pytest.approx(from_file.mowable_area().area, rel=1e-9)
    gpkg = tmp_path / "garden.gpkg"
    table.to_file(gpkg, driver="GPKG")
    assert load_garden(gpkg).mowable_area().area == pytest.approx(from_file.mowable_area().area, rel=1e-9)


@pytest.mark.parametrize("outside", [0.05, 0.4])
def test_dock_a_little_outside_gives_a_full_route(outside):
    start = (-outside, 1.0)
    garden = make_garden(LAWN, obstacles=[SHED], start=start, crs="local-metres")
    plan = plan_garden(garden, SETTINGS)
    assert plan.path[0] == pytest.approx(garden.frame.to_local([start])[0])
    assert plan.pieces and len(plan.reached) == len(plan.pieces)
    assert f"{outside:.2f} m outside the lawn" in plan.warnings[0]
    far = make_garden(LAWN, start=(-MAX_START_OUTSIDE_M - 0.5, 1.0), crs="local-metres")
    with pytest.raises(PlanError, match="2.50 m outside"):
        plan_garden(far)


def test_settings_are_degrees_and_show_their_sources():
    settings = Settings().updated({"angle": 90, "offset": 0.4}, source="option")
    assert settings.to_path_settings().angle == pytest.approx(np.pi / 2)
    assert (settings.source("angle"), settings.source("pattern")) == ("option", "default")
    assert "angle = 90.0° (option)" in str(settings)


# --- the command ---------------------------------------------------------------------

def _write(tmp_path, data):
    path = tmp_path / "garden.geojson"
    path.write_text(json.dumps(data))
    return path


def _metres(lawn, *, obstacles=(), mow_areas=(), start=DOCK):
    features = [{"type": "Feature", "properties": {"role": "lawn"},
                 "geometry": {"type": "Polygon", "coordinates": [closed(lawn)]}}]
    for role, rings in (("obstacle", obstacles), ("mowArea", mow_areas)):
        features += [{"type": "Feature", "properties": {"role": role},
                      "geometry": {"type": "Polygon", "coordinates": [closed(r)]}} for r in rings]
    features.append({"type": "Feature", "properties": {"role": "start"},
                     "geometry": {"type": "Point", "coordinates": list(start)}})
    return {"type": "FeatureCollection", "features": features,
            "properties": {"crs": "local-metres",
                           "settings": {"offset": 1, "distanceToBorder": 0, "mowBorder": False,
                                        "mowExclusionsBoder": False}}}


FIELD = [(0, 0), (20, 0), (20, 10), (0, 10)]
HEDGE = [(9, -1), (11, -1), (11, 11), (9, 11)]


@pytest.mark.parametrize("garden, code", [
    (_metres(FIELD), cli.EXIT_OK),
    (_metres(FIELD, obstacles=[HEDGE]), cli.EXIT_GIVEN_UP),
    (_metres(FIELD, obstacles=[HEDGE], mow_areas=[[(12, 0), (20, 0), (20, 10), (12, 10)]]),
     cli.EXIT_NOTHING_REACHED),
], ids=["all reached", "some given up", "none reached"])
def test_exit_codes(tmp_path, capsys, garden, code):
    assert cli.main(["plan", str(_write(tmp_path, garden))]) == code
    err = capsys.readouterr().err
    if code != cli.EXIT_OK:
        # The first line says why, with the area and what cuts the part off;
        # piece indices stay in the route file.
        first = err.splitlines()[0]
        assert "10 pieces in 1 part of the lawn (" in first and "by obstacle feature 1" in first
        assert ("nothing to mow" in first) == (code == cli.EXIT_NOTHING_REACHED)
        assert "area pieces 1, 3" not in err


def test_stdin_stdout_version_and_picture_suffix(tmp_path, capsys, monkeypatch):
    import io

    monkeypatch.setattr("sys.stdin", io.StringIO(json.dumps(_metres(FIELD))))
    assert cli.main(["plan", "-", "-o", "-"]) == 0
    out, err = capsys.readouterr()
    assert json.loads(out)["type"] == "FeatureCollection" and "planned" in err
    garden = _write(tmp_path, _metres(FIELD))
    assert cli.main(["plan", str(garden), "--picture", str(tmp_path / "plan.gif")]) == cli.EXIT_ERROR
    assert ".png" in capsys.readouterr().err
    assert cli.main(["plan", str(garden), "--picture", str(tmp_path / "plan.pdf")]) == 0
    assert (tmp_path / "plan.pdf").read_bytes().startswith(b"%PDF")
    with pytest.raises(SystemExit) as done:
        cli.main(["--version"])
    assert done.value.code == 0 and "planner 1.3" in capsys.readouterr().out


