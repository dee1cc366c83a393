"""Hostile inputs for the planner, each built by a small function.

Run as a script with a case name to plan that case and print a JSON summary
(used by the tests, in a subprocess so that a hang or a crash cannot take the
test run with it).
"""
import json
import math
import sys
import time

import swathwise as sw

NAN, INF = math.nan, math.inf


def poly(*xy):
    return sw.Polygon([sw.Point(x, y) for x, y in xy])


def square(lo, hi):
    return poly((lo, lo), (hi, lo), (hi, hi), (lo, hi))


def garden(perimeter=None, obstacles=None):
    env = sw.Environment(perimeter if perimeter is not None else square(0, 20))
    for o in (obstacles if obstacles is not None else [square(8, 10)]):
        env.addObstacle(o)
    return env


def circle(n, r=30.0, cx=0.0, cy=0.0):
    return poly(*[(cx + r * math.cos(2 * math.pi * k / n), cy + r * math.sin(2 * math.pi * k / n))
                  for k in range(n)])


def with_settings(**values):
    s = sw.PathSettings()
    for k, v in values.items():
        setattr(s, k, v)
    return s


# name -> (environment factory, settings factory, start)
CASES = {
    "nan_perimeter_vertex": (lambda: garden(poly((0, 0), (20, 0), (NAN, 20), (0, 20))), with_settings, (1, 1)),
    "inf_perimeter_vertex": (lambda: garden(poly((0, 0), (INF, 0), (20, 20), (0, 20))), with_settings, (1, 1)),
    "minus_inf_obstacle": (lambda: garden(obstacles=[poly((8, 8), (-INF, 8), (10, 10))]), with_settings, (1, 1)),
    "nan_start": (garden, with_settings, (NAN, 1)),
    "nan_wire": (lambda: _wired(garden(), [(NAN, 1), (INF, 2), (3, 3)]), with_settings, (1, 1)),
    "far_away_1e12": (lambda: garden(square(1e12, 1e12 + 20), [square(1e12 + 8, 1e12 + 10)]), with_settings, (1e12 + 1, 1e12 + 1)),
    "lawn_of_1e12": (lambda: garden(square(0, 1e12)), with_settings, (1, 1)),
    "far_away_1e300": (lambda: garden(square(1e300, 1e300 + 20), []), with_settings, (1e300, 1e300)),
    "lawn_of_1e300": (lambda: garden(square(-1e300, 1e300), []), with_settings, (0, 0)),
    "empty_perimeter": (lambda: garden(sw.Polygon(), []), with_settings, (0, 0)),
    "one_point_perimeter": (lambda: garden(poly((1, 1))), with_settings, (0, 0)),
    "two_point_perimeter": (lambda: garden(poly((0, 0), (20, 0))), with_settings, (0, 0)),
    "repeated_points": (lambda: garden(poly((0, 0), (0, 0), (20, 0), (20, 0), (20, 20), (0, 20), (0, 20), (0, 0))), with_settings, (1, 1)),
    "self_intersecting": (lambda: garden(poly((0, 0), (20, 20), (20, 0), (0, 20)), []), with_settings, (1, 1)),
    "obstacle_covers_lawn": (lambda: garden(obstacles=[square(-5, 25)]), with_settings, (1, 1)),
    "obstacle_above_lawn": (lambda: garden(obstacles=[poly((8, 15), (12, 15), (12, 25), (8, 25))]), with_settings, (1, 1)),
    "perimeter_100k_vertices": (lambda: garden(circle(100_000), [square(-2, 2)]), with_settings, (0, -25)),
    "lap_count_0": (garden, lambda: with_settings(borderLaps=0, exclusionsBorderLaps=0), (1, 1)),
    "lap_count_1e6": (garden, lambda: with_settings(borderLaps=10**6, exclusionsBorderLaps=10**6), (1, 1)),
    "lap_count_2_63": (garden, lambda: with_settings(borderLaps=2**63, exclusionsBorderLaps=2**63), (1, 1)),
    "offset_0": (garden, lambda: with_settings(offset=0.0), (1, 1)),
    "offset_minus_1": (garden, lambda: with_settings(offset=-1.0), (1, 1)),
    "offset_1e-9": (garden, lambda: with_settings(offset=1e-9), (1, 1)),
    "offset_1e9": (garden, lambda: with_settings(offset=1e9), (1, 1)),
    "offset_nan": (garden, lambda: with_settings(offset=NAN), (1, 1)),
    "rings_offset_0": (garden, lambda: with_settings(offset=0.0, pattern="rings"), (1, 1)),
    "angle_nan": (garden, lambda: with_settings(angle=NAN), (1, 1)),
    "angle_1e300": (garden, lambda: with_settings(angle=1e300), (1, 1)),
    "pattern_empty": (garden, lambda: with_settings(pattern=""), (1, 1)),
    "pattern_very_long": (garden, lambda: with_settings(pattern="lines" * 200_000), (1, 1)),
}


def _wired(env, points):
    env.setVirtualWire(sw.LineString([sw.Point(x, y) for x, y in points]))
    return env


def summary(result):
    path = result.path.getPoints()
    slices = [s.getPoints() for s in result.slices]
    finite = all(math.isfinite(p.x) and math.isfinite(p.y) for p in path)
    return {
        "path_points": len(path),
        "slices": len(slices),
        "lanes": sum(1 for s in slices if len(s) <= 2),
        "laps": sum(1 for s in slices if len(s) >= 3),
        "path_finite": finite,
        "start": [path[0].x, path[0].y] if path else None,
    }


def run(name):
    make_env, make_settings, start = CASES[name]
    env, settings = make_env(), make_settings()
    t0 = time.perf_counter()
    result = sw.PathService().computeFullTask(env, settings, sw.Point(*start))
    out = summary(result)
    out["seconds"] = time.perf_counter() - t0
    return out


if __name__ == "__main__":
    print(json.dumps(run(sys.argv[1])))
