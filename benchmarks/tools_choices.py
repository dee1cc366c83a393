"""Figures for the tools' choices: the lane angle search, the coverage gaps
and recorded outlines.  Prints, asserts nothing.

    .venv/bin/python benchmarks/tools_choices.py [GARDEN.geojson ...]

For each garden (default: the samples): search time, plans, workers, the
chosen angle, lanes and estimated job time at the chosen angle, at 0° and
along the longest edge, and the time saved.  Then the coverage of a long
"squares" path on the park, the coverage of a park-like garden (1.7 ha, 160
obstacles; park_garden.py) against the straightforward union of shapely
buffers, and the planning of a recorded 20,000-point lawn.
"""

from __future__ import annotations

import math
import random
import sys
import time
from pathlib import Path

import shapely
from park_garden import park_garden
from shapely.geometry import LineString

from swathwise_tools.angle import Scene, search_angle
from swathwise_tools.coverage import OVERLAP_M, QUAD_SEGS, find_gaps, mowing_lines
from swathwise_tools.garden import Garden, load_garden
from swathwise_tools.pipeline import make_plan
from swathwise_tools.plan import plan_garden

ROOT = Path(__file__).resolve().parents[1]


def minutes(seconds: float) -> str:
    return f"{seconds / 60:.1f} min"


def angles(paths: list[Path]) -> None:
    print(f"{'garden':<14} {'search':>8} {'plans':>5} {'wk':>3} {'angle':>7} {'lanes':>17} "
          f"{'job at best/0°/edge':>28} {'saved vs 0°, edge':>20}")
    for path in paths:
        garden = load_garden(path)
        choice = search_angle(Scene.of(garden), garden.settings.to_dict(), garden.default_start())
        b, z, e = choice.best, choice.at_zero, choice.along_edge
        print(f"{path.stem:<14} {choice.search_seconds:>7.2f}s {choice.plans:>5} {choice.workers:>3} "
              f"{b.degrees:>6.1f}° {b.lanes:>5}/{z.lanes:>5}/{e.lanes:>5} "
              f"{minutes(b.seconds):>9}/{minutes(z.seconds):>9}/{minutes(e.seconds):>9} "
              f"{minutes(choice.saved_against_zero):>9}, {minutes(choice.saved_against_edge):>9}")


def coverage() -> None:
    garden = load_garden(ROOT / "examples" / "park_lawn.geojson")
    plan = plan_garden(garden, {"pattern": "squares", "offset": 0.3})
    gaps = plan.coverage
    print(f"coverage: park, squares at 0.3 m: path {plan.length / 1000:.1f} km on {gaps.mowable_area:.0f} m², "
          f"gaps {gaps.gap_area:.1f} m² in {len(gaps.gaps.geoms)} places, {gaps.seconds:.2f} s")


def park_coverage() -> None:
    garden = park_garden()
    plan = make_plan(garden)
    lines = mowing_lines(plan.pieces)
    swath = plan.settings.swath_width
    began = time.perf_counter()
    mowable = garden.mowable_area()
    mowable_seconds = time.perf_counter() - began
    fast = find_gaps(mowable, lines, swath)
    began = time.perf_counter()
    buffers = shapely.buffer([LineString(line) for line in lines if len(line) >= 2],
                             swath / 2 + OVERLAP_M, quad_segs=QUAD_SEGS)
    before = mowable.difference(shapely.union_all(buffers))
    before_seconds = time.perf_counter() - began
    change = (fast.gap_area - before.area) / before.area if before.area else 0.0
    print(f"coverage: park-like garden, {len(garden.obstacles)} obstacles, {mowable.area:.0f} m² mowable, "
          f"{len(lines)} passes: {fast.seconds * 1000:.0f} ms (mowable area {mowable_seconds * 1000:.0f} ms "
          f"more), shapely buffers and union {before_seconds * 1000:.0f} ms; gaps {fast.gap_area:.2f} m², "
          f"union {before.area:.2f} m² ({change * 100:+.3f} %)")


def recorded() -> None:
    rng = random.Random(1)
    points = []
    for k in range(20000):
        t = 2 * math.pi * k / 20000
        r = 40 + 6 * math.sin(3 * t) + rng.uniform(-0.004, 0.004)
        points.append((r * math.cos(t), 0.7 * r * math.sin(t)))
        if rng.random() < 0.03:
            points.append(points[-1])
    began = time.perf_counter()
    plan = make_plan(Garden(lawn=points, start=(0.0, 0.0)))
    took = time.perf_counter() - began
    print(f"recorded lawn: {plan.outline.vertices_before} points, {plan.outline.vertices_after} after "
          f"simplifying within 1 cm; simplified and planned in {took:.2f} s (planning {plan.seconds:.3f} s)")


def main() -> None:
    paths = [Path(p) for p in sys.argv[1:]] or sorted((ROOT / "examples").glob("*.geojson"))
    angles(paths)
    coverage()
    park_coverage()
    recorded()


if __name__ == "__main__":
    main()
