"""Random gardens: invariants of the planned route, checked with shapely.

The number of examples is small in the normal run; `--hypothesis-profile=long`
runs many more.
"""
import math
import time

import pytest
import shapely.geometry as sg
import swathwise as sw
from hypothesis import given, strategies as st

from conftest import coords

TOLERANCE = 0.01  # metres a transit may stray across an outline
CALL_BOUND = 60.0  # seconds; far beyond any of these small gardens


def star(cx, cy, radii, phase, grid):
    n = len(radii)
    pts = []
    for k, r in enumerate(radii):
        a = phase + 2 * math.pi * k / n
        x, y = cx + r * math.cos(a), cy + r * math.sin(a)
        if grid:  # vertices on a half-metre grid: moves meet corners exactly
            x, y = round(x * 2) / 2, round(y * 2) / 2
        pts.append((x, y))
    return pts


@st.composite
def gardens(draw):
    grid = draw(st.booleans())
    convex = draw(st.booleans())
    n = draw(st.integers(3, 9))
    r = draw(st.floats(6, 14))
    radii = [r] * n if convex else [draw(st.floats(r * 0.45, r)) for _ in range(n)]
    lawn = star(0, 0, radii, draw(st.floats(0, 1)), grid)
    obstacles = []
    for _ in range(draw(st.integers(0, 3))):
        m = draw(st.integers(3, 6))
        cx, cy = draw(st.floats(-r, r)), draw(st.floats(-r, r))
        size = draw(st.floats(0.6, 3))
        obstacles.append(star(cx, cy, [size] * m, draw(st.floats(0, 1)), grid))
    mow_areas = []
    if draw(st.integers(0, 3)) == 0:
        mow_areas.append(star(draw(st.floats(-3, 3)), draw(st.floats(-3, 3)),
                              [draw(st.floats(3, 8))] * 4, 0.3, grid))
    wire = []
    if draw(st.booleans()):
        wire = [(draw(st.floats(-r, r)), draw(st.floats(-r, r)))
                for _ in range(draw(st.integers(2, 5)))]
    values = dict(
        pattern=draw(st.sampled_from(["lines", "squares", "rings"])),
        offset=draw(st.floats(0.4, 2.0)),
        angle=draw(st.floats(-math.pi, math.pi)),
        distanceToBorder=draw(st.sampled_from([0.0, 0.5, 1.5])),
        mowBorder=draw(st.booleans()),
        borderLaps=draw(st.integers(0, 3)),
        mowBorderCcw=draw(st.booleans()),
        mowExclusionsBoder=draw(st.booleans()),
        exclusionsBorderLaps=draw(st.integers(0, 2)),
        mowExclusionsBorderCcw=draw(st.booleans()),
    )
    start = (draw(st.floats(-r * 0.3, r * 0.3)), draw(st.floats(-r * 0.3, r * 0.3)))
    return dict(lawn=lawn, obstacles=obstacles, mow_areas=mow_areas, wire=wire,
                values=values, start=start)


def build(g):
    def polygon(points):
        return sw.Polygon([sw.Point(x, y) for x, y in points])
    env = sw.Environment(polygon(g["lawn"]))
    for o in g["obstacles"]:
        env.addObstacle(polygon(o))
    for m in g["mow_areas"]:
        env.addMowArea(polygon(m))
    if g["wire"]:
        env.setVirtualWire(sw.LineString([sw.Point(x, y) for x, y in g["wire"]]))
    s = sw.PathSettings()
    for k, v in g["values"].items():
        setattr(s, k, v)
    return env, s, sw.Point(*g["start"])


def slice_steps(pieces):
    """Every step a slice drives, as an unordered pair of points."""
    steps = set()
    for pts in pieces:
        if len(pts) <= 2:
            if len(pts) == 2:
                steps.add(frozenset(pts))
        else:
            for a, b in zip(pts, pts[1:] + pts[:1]):
                steps.add(frozenset((a, b)))
    return steps


def occurrences(path, piece):
    """How often the path drives the piece whole, in a way it may be driven."""
    n = len(piece)
    count = 0
    if n <= 2:
        runs = [piece, piece[::-1]] if n == 2 else [piece]
        for i in range(len(path) - n + 1):
            if any(path[i:i + n] == run for run in runs):
                count += 1
        return count if n == 2 else min(count, 1)
    i = 0
    while i < len(path):  # readings of the lap, left to right, never overlapping
        step = 1
        for e in range(n):
            full = [piece[(e + j) % n] for j in range(n + 1)]
            if path[i:i + n + 1] == full:
                step = n + 1
                break
            # the entry vertex already ends the path: the lap omits it once
            if i > 0 and path[i - 1] == piece[e] and path[i:i + n] == full[1:]:
                step = n
                break
        if step > 1:
            count += 1
        i += step
    return count


@given(gardens())
def test_random_gardens_give_a_drivable_route(g):
    env, s, start = build(g)
    before = (coords(env.getPerimeter().getPoints()),
              [coords(o.getPoints()) for o in env.getObstacles()])
    t0 = time.perf_counter()
    result = sw.PathService().computeFullTask(env, s, start)
    assert time.perf_counter() - t0 < CALL_BOUND

    path = coords(result.path.getPoints())
    pieces = [coords(p.getPoints()) for p in result.slices]
    if not pieces:
        assert path == []
        return

    # The route starts at the start.
    assert math.isclose(path[0][0], g["start"][0], abs_tol=1e-9)
    assert math.isclose(path[0][1], g["start"][1], abs_tol=1e-9)

    # Each slice is driven whole once or not at all.
    for piece in pieces:
        if len(piece) >= 2:
            assert occurrences(path, piece) <= pieces.count(piece)

    # Every other step stays on the lawn and off the obstacles.
    lawn = sg.Polygon(g["lawn"])
    if not lawn.is_valid:
        return
    allowed = lawn.buffer(TOLERANCE)
    blocked = [sg.Polygon(o).buffer(-TOLERANCE) for o in g["obstacles"]]
    steps = slice_steps(pieces)
    wire = [tuple(p) for p in coords(env.getPerimeter().getPoints())][:0]
    wire_steps = set()
    if g["wire"]:
        w = [tuple(map(float, p)) for p in g["wire"]]
        wire_steps = {frozenset((a, b)) for a, b in zip(w, w[1:])}
    for k, (a, b) in enumerate(zip(path, path[1:])):
        if a == b or frozenset((a, b)) in steps:
            continue
        if k == 0 and any(o.is_valid and o.covers(sg.Point(a)) for o in blocked):
            continue  # a mower that starts inside an obstacle has to leave it
        if any(_close_pair((a, b), ws) for ws in wire_steps):
            continue
        seg = sg.LineString([a, b])
        assert allowed.covers(seg), f"step {a} -> {b} leaves the lawn"
        for o in blocked:
            if o.is_valid and not o.is_empty:
                assert not seg.intersects(o), f"step {a} -> {b} crosses an obstacle"

    # Equal inputs give equal outputs; the caller's objects are unchanged.
    again = sw.PathService().computeFullTask(env, s, start)
    assert coords(again.path.getPoints()) == path
    assert [coords(p.getPoints()) for p in again.slices] == pieces
    assert (coords(env.getPerimeter().getPoints()),
            [coords(o.getPoints()) for o in env.getObstacles()]) == before
    assert (start.x, start.y) == tuple(map(float, g["start"]))


def _close_pair(step, wire_step, tol=1e-6):
    (a, b), (c, d) = step, tuple(wire_step) if len(wire_step) == 2 else (next(iter(wire_step)),) * 2

    def near(p, q):
        return abs(p[0] - q[0]) <= tol and abs(p[1] - q[1]) <= tol
    return (near(a, c) and near(b, d)) or (near(a, d) and near(b, c))
