"""Lane angle search, coverage gaps, unmown bands, clearance and recorded outlines."""

import math
import random
from dataclasses import replace
from pathlib import Path

import pytest
from shapely.geometry import LineString, MultiLineString, Polygon

from swathwise_tools.advice import bands
from swathwise_tools.angle import Scene, search_angle, sweep
from swathwise_tools.coverage import mowing_lines
from swathwise_tools.garden import Garden, load_garden
from swathwise_tools.outline import simplify_ring
from swathwise_tools.pipeline import make_plan
from swathwise_tools.settings import Settings

ROOT = Path(__file__).resolve().parents[2]
SAMPLES = sorted((ROOT / "examples").glob("*.geojson"))


def rectangle(length, width, degrees):
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    corners = [(-length / 2, -width / 2), (length / 2, -width / 2), (length / 2, width / 2), (-length / 2, width / 2)]
    return [(x * c - y * s, x * s + y * c) for x, y in corners]


def angle_apart(a, b, period=180.0):
    d = (a - b) % period
    return min(d, period - d)


def best_of(trials):
    return min(trials, key=lambda t: t.rank)


@pytest.mark.parametrize("degrees", [0.0, 17.0, 63.5, 128.0])
def test_auto_angle_runs_along_a_rectangles_long_side(degrees):
    garden = Garden(lawn=rectangle(24.0, 7.0, degrees), start=(0.0, 0.0))
    values = Settings(offset=0.5, distance_to_border=0.75).to_dict()
    choice = search_angle(Scene.of(garden), values, garden.start, workers=1)
    assert angle_apart(choice.degrees, degrees) <= 1.0
    swept = best_of(sweep(Scene.of(garden), values, garden.start, 0.5))
    assert angle_apart(choice.degrees, swept.degrees) <= 1.0
    assert choice.best.seconds <= choice.at_zero.seconds


@pytest.mark.parametrize("sample", [p for p in SAMPLES if "park" not in p.name], ids=lambda p: p.stem)
def test_auto_angle_matches_an_exhaustive_sweep(sample):
    garden = load_garden(sample)
    values = garden.settings.to_dict()
    start = garden.default_start()
    choice = search_angle(Scene.of(garden), values, start, workers=2)
    swept = best_of(sweep(Scene.of(garden), values, start, 0.5))
    assert choice.best.rank[:2] <= swept.rank[:2] or angle_apart(choice.degrees, swept.degrees) <= 1.0


@pytest.mark.parametrize("sample, overrides", [
    ("back_garden", {}),
    ("back_garden", {"pattern": "squares"}),
    ("front_lawn", {"distanceToBorder": 1.5}),
])
def test_gaps_agree_with_an_exact_union(sample, overrides):
    plan = make_plan(load_garden(ROOT / "examples" / f"{sample}.geojson"), overrides)
    mowable = plan.garden.mowable_area()
    exact = mowable.difference(MultiLineString(mowing_lines(plan.pieces)).buffer(plan.settings.swath_width / 2))
    gaps = plan.coverage.gaps
    assert gaps.symmetric_difference(exact).area <= 0.01 * max(exact.area, 0.01 * mowable.area)


@pytest.mark.parametrize("sample", SAMPLES, ids=lambda p: p.stem)
def test_command_defaults_leave_no_band(sample):
    garden = load_garden(sample)
    bare = replace(garden, settings=Settings(offset=garden.settings.offset))
    plan = make_plan(bare, angle=0.0)
    assert bands(plan.settings.to_dict(), plan.settings.swath_width, bool(garden.obstacles)) == []
    # What stays unmown are corners and slivers, not bands.
    assert plan.coverage.gap_area < 0.005 * plan.coverage.mowable_area


@pytest.mark.parametrize("values, where", [
    ({}, ["along the lawn's edge", "round every obstacle"]),
    ({"distanceToBorder": 0.75}, []),
    ({"distanceToBorder": 0.75, "mowExclusionsBoder": False}, ["round every obstacle"]),
    ({"distanceToBorder": 0.0, "offset": 0.6}, ["between neighbouring lanes and laps"]),
])
def test_bands_by_construction(values, where):
    found = bands(Settings().updated(values).to_dict(), 0.5, has_obstacles=True)
    assert [b.where for b in found] == where


@pytest.mark.parametrize("sample, clearance", [("back_garden", 0.25), ("front_lawn", 0.15), ("park_lawn", 0.3)])
def test_clearance_keeps_the_path_off_every_outline(sample, clearance):
    garden = load_garden(ROOT / "examples" / f"{sample}.geojson")
    plan = make_plan(garden, {"clearance": clearance})
    assert len(plan.path) >= 2
    path = LineString(plan.path[1:]) if len(plan.path) > 2 else LineString(plan.path)
    for ring in [garden.lawn, *garden.obstacles]:
        outline = LineString(ring + ring[:1])
        assert path.distance(outline) >= clearance - 1e-6


def test_a_recorded_outline_is_simplified_within_the_tolerance():
    rng = random.Random(7)
    corners = rectangle(60.0, 30.0, 12.0)
    recorded = []
    for (x0, y0), (x1, y1) in zip(corners, corners[1:] + corners[:1]):
        steps = 5000
        for i in range(steps):
            t = i / steps
            point = (x0 + t * (x1 - x0) + rng.uniform(-0.003, 0.003), y0 + t * (y1 - y0) + rng.uniform(-0.003, 0.003))
            recorded.append(point)
            if rng.random() < 0.05:
                recorded.append(point)
    simpler = simplify_ring(recorded, 0.01)
    assert len(simpler) < 100
    assert Polygon(simpler).is_valid
    assert Polygon(simpler).hausdorff_distance(Polygon(recorded)) <= 0.01 + 1e-9
    plan = make_plan(Garden(lawn=recorded, start=(0.0, 0.0)))
    assert plan.outline.vertices_before == len(recorded)
    assert plan.outline.vertices_after == len(simpler)
    assert all(p.reached for p in plan.pieces)


@pytest.mark.parametrize("angle, shown", [("auto", "searched"), ("edge", "°"), ("30", "30.0°")])
def test_command_angle_modes_and_page(tmp_path, capsys, angle, shown):
    from swathwise_tools import cli

    page = tmp_path / "plan.html"
    code = cli.main(["plan", str(ROOT / "examples" / "front_lawn.geojson"), "--angle", angle,
                     "--clearance", "0.1", "--html", str(page)])
    out = capsys.readouterr().out
    assert code == 0
    assert shown in next(line for line in out.splitlines() if line.startswith("angle"))
    assert "clearance 0.1 m" in out and "drawing" in out
    assert page.stat().st_size > 1000
