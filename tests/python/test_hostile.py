"""Hostile input: every case ends in bounded time with its documented outcome.

Each case runs in a child process (hostile_cases.py), so that a crash or a
hang fails the case instead of the whole run.  The outcomes are listed in
docs/hostile-input.md.
"""
import json
import os
import subprocess
import sys

import pytest

from hostile_cases import CASES

HERE = os.path.dirname(os.path.abspath(__file__))
BOUND = 120  # seconds: generous, far above any case on a small machine

EMPTY = "empty"          # no pieces and no path
PLANNED = "planned"      # pieces, and a path from the start over some of them
STRANDED = "stranded"    # pieces, but nothing reachable: the path is the start alone

OUTCOMES = {
    "nan_perimeter_vertex": EMPTY,
    "inf_perimeter_vertex": EMPTY,
    "minus_inf_obstacle": EMPTY,
    "nan_start": STRANDED,
    "nan_wire": PLANNED,
    "far_away_1e12": PLANNED,
    "lawn_of_1e12": PLANNED,
    "far_away_1e300": EMPTY,
    "lawn_of_1e300": EMPTY,
    "empty_perimeter": EMPTY,
    "one_point_perimeter": EMPTY,
    "two_point_perimeter": EMPTY,
    "repeated_points": PLANNED,
    "self_intersecting": STRANDED,
    "obstacle_covers_lawn": EMPTY,  # nothing to mow, and no lap round the obstacle beyond the lawn
    "obstacle_above_lawn": PLANNED,
    "perimeter_100k_vertices": PLANNED,
    "lap_count_0": PLANNED,
    "lap_count_1e6": PLANNED,
    "lap_count_2_63": PLANNED,
    "offset_0": PLANNED,
    "offset_minus_1": PLANNED,
    "offset_1e-9": PLANNED,
    "offset_1e9": PLANNED,
    "offset_nan": PLANNED,
    "rings_offset_0": PLANNED,
    "angle_nan": EMPTY,
    "angle_1e300": PLANNED,
    "pattern_empty": PLANNED,
    "pattern_very_long": PLANNED,
}

# Spacings that cannot move inwards lay no lanes and no rings, and only the
# first lap along each outline: one perimeter lap and one obstacle lap.
ONLY_FIRST_LAPS = {"offset_0", "offset_minus_1", "offset_1e-9", "offset_nan", "rings_offset_0"}


def test_every_case_has_an_outcome():
    assert set(OUTCOMES) == set(CASES)


def run_case(name):
    env = dict(os.environ)
    env["PYTHONPATH"] = HERE + os.pathsep + env.get("PYTHONPATH", "")
    done = subprocess.run([sys.executable, os.path.join(HERE, "hostile_cases.py"), name],
                          capture_output=True, text=True, timeout=BOUND, env=env)
    assert done.returncode == 0, done.stderr[-2000:]
    return json.loads(done.stdout.strip().splitlines()[-1])


@pytest.mark.parametrize("name", sorted(CASES))
def test_hostile_case(name):
    got = run_case(name)
    outcome = OUTCOMES[name]
    if outcome == EMPTY:
        assert got["slices"] == 0 and got["path_points"] == 0
    elif outcome == STRANDED:
        assert got["slices"] > 0 and got["path_points"] == 1
    else:
        assert got["slices"] > 0 and got["path_points"] > 1 and got["path_finite"]
        start = CASES[name][2]
        assert got["start"] == pytest.approx(list(start), rel=1e-12, abs=1e-9)
    if name in ONLY_FIRST_LAPS:
        assert (got["lanes"], got["laps"]) == (0, 2)
    if name.startswith("lap_count_"):
        assert got["lanes"] == 44
    if name in ("pattern_empty", "pattern_very_long"):
        assert got["lanes"] == 0 and got["laps"] > 5  # concentric rings instead of lanes
