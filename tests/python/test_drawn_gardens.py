"""Gardens as people draw them: repeated points, overlapping and touching
obstacles, mow areas over the lawn's edge, thin fences."""
import math

import pytest
import shapely
import shapely.geometry as sg
import swathwise as sw
from hypothesis import given, strategies as st

from conftest import coords, plan, polygon, ring

LAWN = ((0, 0), (20, 0), (20, 10), (0, 10))
HEDGE = ((9.9, -1), (10.1, -1), (10.1, 11), (9.9, 11))


def driven_lanes(result):
    """The lanes of the result that the path drives whole, as point pairs."""
    path = coords(result.path.getPoints())
    steps = {frozenset(step) for step in zip(path, path[1:])}
    lanes = [tuple(coords(s.getPoints())) for s in result.slices]
    return [lane for lane in lanes if len(lane) == 2 and frozenset(lane) in steps]


def check_route(perimeter, obstacles, result, wire=None, stray=0.01, core=0.003):
    """No piece lies, and no move (except along the wire) runs, inside an
    obstacle or off the lawn, the lawn being the perimeter less the union of
    the obstacles; moves may stray `stray` over an outline, pieces and moves
    may reach `core` into an obstacle (merged obstacles lie on the 1 mm grid
    of the lane frame)."""
    union = shapely.union_all([shapely.make_valid(sg.Polygon(o)) for o in obstacles]) \
        if obstacles else sg.Polygon()
    lawn = sg.Polygon(perimeter).difference(union).buffer(stray)
    inner = union.buffer(-core)
    wire_steps = {frozenset(step) for step in zip(wire, wire[1:])} if wire else set()
    steps = set()
    for piece in result.slices:
        pts = coords(piece.getPoints())
        pairs = [tuple(pts)] if len(pts) == 2 else list(zip(pts, pts[1:] + pts[:1]))
        for a, b in pairs:
            steps.add(frozenset((a, b)))
            seg = sg.LineString([a, b])
            assert lawn.covers(seg), f"piece {a} -> {b} off the lawn"
            assert not seg.intersects(inner), f"piece {a} -> {b} inside an obstacle"
    path = coords(result.path.getPoints())
    for k, (a, b) in enumerate(zip(path, path[1:])):
        step = frozenset((a, b))
        if a == b or step in steps or step in wire_steps:
            continue
        if k == 0 and sg.Point(a).intersects(inner):
            continue  # a mower that starts inside an obstacle has to leave it
        seg = sg.LineString([a, b])
        assert lawn.covers(seg), f"move {a} -> {b} off the lawn"
        assert not seg.intersects(inner), f"move {a} -> {b} through an obstacle"


def same_plan(a, b):
    return (coords(a.path.getPoints()) == coords(b.path.getPoints()) and
            [coords(s.getPoints()) for s in a.slices] ==
            [coords(s.getPoints()) for s in b.slices])


@pytest.mark.parametrize("wire", [((15, 5), (15, 5), (5, 5)), ((15, 5), (5, 5), (5, 5)),
                                  ((15, 5), (15.0004, 5), (5, 5))])
def test_a_repeated_wire_point_does_not_cut_the_wire(wire):
    r = plan(LAWN, [HEDGE], wire=wire, start=(18, 2))
    left = [lane for lane in driven_lanes(r) if lane[0][0] < 10]
    assert len(left) == 10
    assert same_plan(r, plan(LAWN, [HEDGE], wire=((15, 5), (5, 5)), start=(18, 2)))


@pytest.mark.parametrize("perimeter, obstacle", [
    (((0, 0), (20, 0), (20, 0), (20, 10), (0, 10)), HEDGE),
    (((0, 0), (20, 0), (20, 10), (0, 10), (0, 0)), HEDGE),
    (LAWN, ((9.9, -1), (10.1, -1), (10.1, 11), (10.1, 11), (9.9, 11))),
])
@pytest.mark.parametrize("values", [{}, {"distanceToBorder": 0.5, "mowBorder": True,
                                         "mowExclusionsBoder": True, "pattern": "rings"}])
def test_a_repeated_ring_corner_changes_nothing(perimeter, obstacle, values):
    wire = ((15, 5), (5, 5))
    assert same_plan(plan(perimeter, [obstacle], wire=wire, start=(18, 2), **values),
                     plan(LAWN, [HEDGE], wire=wire, start=(18, 2), **values))


@pytest.mark.parametrize("thickness", [0.004, 0.009, 0.05])
def test_no_move_crosses_a_thin_fence(thickness):
    half = thickness / 2
    fence = ((10 - half, -1), (10 + half, -1), (10 + half, 11), (10 - half, 11))
    r = plan(LAWN, [fence], start=(1, 1))
    path = coords(r.path.getPoints())
    assert len(driven_lanes(r)) == 10
    assert all(x < 10 for x, _ in path)


SQUARE3 = ((0, 0), (3, 0), (3, 3), (0, 3))
SQUARE20 = ((0, 0), (20, 0), (20, 20), (0, 20))
OVERLAPPING = [((1, 1), (1, 2), (2, 2), (2, 1)), ((1.5, 1.5), (1.5, 0.5), (0.5, 0.5), (0.5, 1.5))]
BEDS = [((5, 1), (15, 1), (15, 10), (5, 10)), ((5, 10), (15, 10), (15, 19), (5, 19))]
EAST_STRIP = ((16, 0), (20, 0), (20, 20), (16, 20))
BOW_TIE = ((5, 5), (15, 15), (15, 5), (5, 15))


@pytest.mark.parametrize("perimeter, obstacles, mow_areas, start, values", [
    # Overlapping obstacles with an inset the lawn cannot take, lanes and rings.
    (SQUARE3, OVERLAPPING, [], (0, 0), {"offset": 0.5, "distanceToBorder": 2.0}),
    (SQUARE3, OVERLAPPING, [], (0, 0), {"offset": 0.5, "distanceToBorder": 2.0,
                                        "pattern": "rings"}),
    (SQUARE3, OVERLAPPING, [], (0, 0), {"offset": 0.5, "distanceToBorder": 0.001,
                                        "mowBorder": True, "mowExclusionsBoder": True}),
    # Beds sharing an edge, and a bed on the lawn's edge: no transit between.
    (SQUARE20, BEDS, [EAST_STRIP], (1, 10), {}),
    (SQUARE20, [((5, 0), (15, 0), (15, 10), (5, 10))], [EAST_STRIP], (1, 0), {}),
    (SQUARE20, BEDS, [EAST_STRIP], (1, 10), {"angle": 0.7}),
    # An obstacle with two corners on a mow area's edge belongs to it.
    (SQUARE20, [((5, 8), (7, 10), (5, 12), (3, 10))], [((5, 5), (15, 5), (15, 15), (5, 15))],
     (0, 0), {"offset": 0.5, "distanceToBorder": 0.5}),
    # Mow areas over the lawn's edge, or larger than the whole lawn.
    (SQUARE20, [], [((10, -5), (25, -5), (25, 10), (10, 10))], (1, 1),
     {"distanceToBorder": 0.5, "mowBorder": True}),
    (SQUARE20, [], [((-0.5, -0.5), (20.5, -0.5), (20.5, 20.5), (-0.5, 20.5))], (1, 1),
     {"distanceToBorder": 0.5, "offset": 0.5, "mowBorder": True, "pattern": "squares"}),
    # A bow-tie obstacle: both lobes are obstacle.
    (SQUARE20, [BOW_TIE], [], (1, 1), {"offset": 0.5}),
    (SQUARE20, [BOW_TIE], [], (1, 1), {"offset": 0.5, "distanceToBorder": 0.5,
                                       "mowExclusionsBoder": True}),
])
def test_drawn_gardens_keep_to_the_lawn(perimeter, obstacles, mow_areas, start, values):
    r = plan(perimeter, obstacles, mow_areas, start=start, **values)
    check_route(perimeter, obstacles, r)
    lanes = [s for s in r.slices if len(s.getPoints()) == 2]
    assert r.slices and len(driven_lanes(r)) == len(lanes)


# A mow area over the lawn's corner whose part on the lawn a bed drawn over
# the corner covers: on the lawn the two share their outline, and nothing of
# the mow area is mowed, neither lanes nor laps.
@pytest.mark.parametrize("values", [
    {"offset": 0.5, "distanceToBorder": 0.3},
    {"offset": 0.5, "distanceToBorder": 0.3, "mowBorder": True},
])
def test_a_mow_area_a_bed_covers_is_not_mowed(values):
    perimeter = ((0, 0), (8, 0), (8, 6), (0, 6))
    bed = ((0, -1), (0.5, -1), (0.5, 0.5), (0, 0.5))
    r = plan(perimeter, [bed], [((-2, -2), (0.5, -2), (0.5, 0.5), (-2, 0.5))], start=(1, 1),
             **values)
    check_route(perimeter, [bed], r)
    assert not r.slices


@pytest.mark.parametrize("gap, between", [(0.001, False), (0.0019, False), (0.003, True)])
def test_obstacles_a_sliver_apart_merge_as_touching_ones(gap, between):
    # Beds less than 2 mm apart are merged, and no move runs between them;
    # farther apart they plan as before: the path runs between them.
    apart = [BEDS[0], ((5, 10 + gap), (15, 10 + gap), (15, 19), (5, 19))]
    r = plan(SQUARE20, apart, [EAST_STRIP], start=(1, 10))
    assert (coords(r.path.getPoints())[:2] == [(1, 10), (15, 10)]) == between
    steps = zip(coords(r.path.getPoints()), coords(r.path.getPoints())[1:])
    assert between or not any(min(a[0], b[0]) < 14 and max(a[0], b[0]) > 6
                              and 9.9 < a[1] < 10.1 and 9.9 < b[1] < 10.1 for a, b in steps)


@st.composite
def drawn_gardens(draw):
    """Lawns with beds on a half-metre grid, so that they overlap, touch,
    share edges with each other and with the lawn, and mow areas that reach
    over the lawn's edge."""
    w, h = draw(st.integers(8, 16)), draw(st.integers(6, 12))
    perimeter = ((0, 0), (w, 0), (w, h), (0, h))
    cell = st.integers(0, 2 * w), st.integers(0, 2 * h)

    def box(x0, y0, dx, dy):
        return ((x0, y0), (x0 + dx, y0), (x0 + dx, y0 + dy), (x0, y0 + dy))

    obstacles = []
    for _ in range(draw(st.integers(1, 5))):
        x0, y0 = draw(cell[0]) / 2 - 1, draw(cell[1]) / 2 - 1
        obstacles.append(box(x0, y0, draw(st.integers(1, 8)) / 2, draw(st.integers(1, 8)) / 2))
    mow_areas = []
    if draw(st.booleans()):
        x0, y0 = draw(cell[0]) / 2 - 2, draw(cell[1]) / 2 - 2
        mow_areas.append(box(x0, y0, draw(st.integers(4, 30)) / 2, draw(st.integers(4, 30)) / 2))
    values = dict(pattern=draw(st.sampled_from(["lines", "squares", "rings"])),
                  offset=draw(st.sampled_from([0.5, 0.7, 1.0])),
                  angle=draw(st.sampled_from([0.0, 0.3, -1.1])),
                  distanceToBorder=draw(st.sampled_from([0.0, 0.3, 2.0])),
                  mowBorder=draw(st.booleans()), mowExclusionsBoder=draw(st.booleans()))
    start = (draw(st.floats(0.1, w - 0.1)), draw(st.floats(0.1, h - 0.1)))
    return perimeter, obstacles, mow_areas, start, values


@given(drawn_gardens())
def test_random_drawn_gardens_keep_to_the_lawn(garden):
    perimeter, obstacles, mow_areas, start, values = garden
    r = plan(perimeter, obstacles, mow_areas, start=start, **values)
    check_route(perimeter, obstacles, r)
