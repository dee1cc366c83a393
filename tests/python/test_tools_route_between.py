"""One planner call per plan, and the planner's way between two points."""

import json
import math
import subprocess
import sys
from pathlib import Path

import pytest

import swathwise_tools.plan as plan_module
from swathwise_tools import cli
from swathwise_tools.garden import load_garden
from swathwise_tools.native import build_scene
from swathwise_tools.plan import NoRouteError, plan_garden, route_between

ROOT = Path(__file__).resolve().parents[2]
BACK = ROOT / "examples" / "back_garden.geojson"


@pytest.fixture(scope="module")
def back():
    return load_garden(BACK)


def test_a_plan_calls_the_planner_once_and_kinds_follow_the_stages(back, monkeypatch):
    calls = []

    class Counting:
        def __init__(self, scene):
            self.scene = scene

        def plan(self, *args, **kwargs):
            calls.append(args)
            return self.scene.plan(*args, **kwargs)

    monkeypatch.setattr(plan_module, "build_scene", lambda garden: Counting(build_scene(garden)))
    plan = plan_garden(back)
    assert len(calls) == 1
    kinds = [p.kind for p in plan.pieces]
    # Stage order: area pieces, then perimeter laps, then obstacle laps.
    assert kinds == sorted(kinds, key=["area", "perimeter", "obstacle"].index)
    monkeypatch.undo()
    alone = {kind: len(plan_garden(back, {"mowArea": False, **off}).pieces)
             for kind, off in (("perimeter", {"mowExclusionsBoder": False}), ("obstacle", {"mowBorder": False}))}
    assert alone["perimeter"] > 0 and alone["obstacle"] > 0
    assert plan.counts()["perimeter"] == alone["perimeter"] and plan.counts()["obstacle"] == alone["obstacle"]


def test_no_matplotlib_without_a_picture():
    code = ("import sys; from swathwise_tools import cli; "
            f"cli.main(['plan', {str(BACK)!r}]); print('matplotlib' in sys.modules)")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120, cwd=ROOT)
    assert done.stdout.strip().endswith("False"), done.stdout + done.stderr


@pytest.mark.parametrize("degrees", [0.0, 30.0])
def test_route_between_is_the_transit_inside_the_plan(back, degrees):
    plan = plan_garden(back, {"angle": degrees})
    searched = build_scene(back).plan(plan.settings.to_planner(), plan.start, search_details=True)
    assert searched.path == plan.path
    ways = 0
    for a, b in searched.connectors:
        try:
            way = route_between(back, a, b, angle=degrees)
        except NoRouteError:
            continue
        runs = [plan.path[k:k + len(way)] for k in range(len(plan.path) - len(way) + 1)]
        if degrees == 0.0:
            assert way in runs
        else:
            assert any(all(math.dist(p, q) < 1e-9 for p, q in zip(way, run)) for run in runs)
        ways += 1
    assert ways > 0


@pytest.mark.parametrize("target, point, says", [
    ((200.0, 5.0), "target", "off the lawn"),
    ("inside", "target", "inside an obstacle"),
])
def test_no_way_says_why(back, target, point, says):
    if target == "inside":
        ring = back.obstacles[0]
        target = (sum(x for x, _ in ring) / len(ring), sum(y for _, y in ring) / len(ring))
    with pytest.raises(NoRouteError, match=says) as caught:
        route_between(back, back.default_start(), target)
    assert caught.value.point == point


def test_route_command_prints_writes_and_fails_clearly(tmp_path, capsys):
    out = tmp_path / "way.geojson"
    assert cli.main(["route", str(BACK), "--from", "0.6", "1.0", "--to", "24", "9", "-o", str(out), "--json"]) == 0
    summary = json.loads(capsys.readouterr().out)
    assert summary["from"] == [0.6, 1.0] and summary["to"] == [24.0, 9.0] and summary["length"] > 23
    collection = json.loads(out.read_text())
    (feature,) = collection["features"]
    assert feature["properties"]["role"] == "route"
    line = feature["geometry"]["coordinates"]
    assert line[0] == [0.6, 1.0] and line[-1] == [24.0, 9.0] and len(line) == summary["points"]

    assert cli.main(["route", str(BACK), "--from", "0.6", "1.0", "--to", "200", "9"]) == cli.EXIT_ERROR
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and "--to 200 9" in err and "off the lawn" in err
