"""The command's shortcuts give the very output of the long way: the coverage
swept while the planner orders the pieces (with the pieces guessed reached),
a start clearly on the free lawn taken without the obstacles' union, the
nearest part of the free lawn found by containment first."""

import json
import re
import sys
from pathlib import Path

import numpy as np
import pytest
import shapely

from swathwise_tools import cli, dock, pipeline
from swathwise_tools.outline import free_parts, nearest_parts

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "benchmarks"))
from park_garden import park_garden, park_geojson  # noqa: E402

TIMES = re.compile(r'"(planningSeconds|coverageSeconds)": ?[-0-9.e+]+')


def _park(tmp_path):
    path = tmp_path / "park.geojson"
    path.write_text(json.dumps(park_geojson()), encoding="utf-8")
    return path


@pytest.mark.parametrize("garden, flags", [
    ("back_garden", []),
    ("front_lawn", ["--start", "0", "0", "--battery", "20"]),
    ("park_lawn", ["--clearance", "0.3", "--angle", "25"]),
    ("whole park", []),  # gives up the pieces of 31 parts cut off from the start
])
def test_route_file_and_summary_are_those_of_the_long_way(garden, flags, tmp_path, monkeypatch, capsys):
    source = _park(tmp_path) if garden == "whole park" else ROOT / "examples" / f"{garden}.geojson"

    def run(name):
        route = tmp_path / f"{name}.geojson"
        code = cli.main(["plan", str(source), "-o", str(route), "--json", *flags])
        printed = capsys.readouterr()
        return code, TIMES.sub("T", route.read_text()), TIMES.sub("T", printed.out), printed.err

    quick = run("quick")
    monkeypatch.setattr(pipeline.CoverageAhead, "of_slices", classmethod(lambda cls, *args: None))
    monkeypatch.setattr(dock, "_clearly_free", lambda garden, where: False)
    assert run("long") == quick


def test_nearest_part_is_that_of_the_distances():
    parts = free_parts(park_garden(), 0.0)  # path strips part the lawn
    assert len(parts) > 1
    rng = np.random.default_rng(3)
    x0, y0, x1, y1 = shapely.bounds(shapely.union_all(parts))
    where = [(float(x), float(y)) for x, y in zip(rng.uniform(x0 - 2, x1 + 2, 400), rng.uniform(y0 - 2, y1 + 2, 400))]
    # Points on the parts' outlines and corners too.
    where += [tuple(c) for p in parts for c in shapely.get_coordinates(p)[:40].tolist()]
    points = shapely.points(where)
    expected = np.argmin(np.stack([shapely.distance(p, points) for p in parts]), axis=0)
    assert nearest_parts(parts, where).tolist() == expected.tolist()
