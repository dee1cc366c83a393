"""The tool path: greedy order over the lanes, transit round obstacles and along the wire."""
import math

import pytest
import shapely.geometry as sg
import swathwise as sw

from conftest import coords, plan, polygon, ring

# A lawn cut in two by a wall with one doorway (y 4 to 6); the walls reach
# out of the lawn, so the doorway is the only way from one half to the other.
TWO_ROOMS = dict(perimeter=((0, 0), (20, 0), (20, 10), (0, 10)),
                 obstacles=[((9, -1), (11, -1), (11, 4), (9, 4)),
                            ((9, 6), (11, 6), (11, 11), (9, 11))])
# A lawn cut in two by a wall without any opening.
SPLIT = dict(perimeter=((0, 0), (20, 0), (20, 10), (0, 10)),
             obstacles=[((9, -1), (11, -1), (11, 11), (9, 11))])
THROUGH_WALL_WIRE = ((2, 5), (8, 5), (12, 5), (18, 5))


def close(a, b, tol=1e-9):
    return abs(a[0] - b[0]) <= tol and abs(a[1] - b[1]) <= tol


def split_path(result):
    """Matches every lane to the path step that drives it.

    Returns (driven, moves): the indices of the lanes found in the path, and
    every other step of the path (the moves between lanes) as point pairs.
    """
    path = coords(result.path.getPoints())
    claimed = set()
    driven = []
    for index, piece in enumerate(result.slices):
        lane = coords(piece.getPoints())
        assert len(lane) == 2, "these gardens have lanes only"
        for i in range(len(path) - 1):
            if i in claimed:
                continue
            step = (path[i], path[i + 1])
            if (close(step[0], lane[0]) and close(step[1], lane[1])) or \
               (close(step[0], lane[1]) and close(step[1], lane[0])):
                claimed.add(i)
                driven.append(index)
                break
    moves = [(path[i], path[i + 1]) for i in range(len(path) - 1) if i not in claimed]
    return driven, moves


def assert_moves_stay_on_the_lawn(garden, result, tol=0.01):
    lawn = sg.Polygon(garden["perimeter"]).buffer(tol)
    cores = [sg.Polygon(o).buffer(-tol) for o in garden.get("obstacles", ())]
    wire = garden.get("wire")
    along_wire = sg.LineString(wire).buffer(tol) if wire else None
    _, moves = split_path(result)
    for a, b in moves:
        if close(a, b):
            continue
        seg = sg.LineString([a, b])
        if along_wire is not None and along_wire.covers(seg):
            continue
        assert lawn.covers(seg), f"move {a} -> {b} leaves the lawn"
        for core in cores:
            assert not seg.intersects(core), f"move {a} -> {b} enters an obstacle"


@pytest.mark.parametrize("garden, start, expected", [
    pytest.param(dict(perimeter=((0, 0), (10, 0), (10, 2), (0, 2))), (0, 0.5),
                 [(0, 0.5), (0, 0.5), (10, 0.5), (10, 1.5), (0, 1.5)], id="end-to-end"),
    pytest.param(dict(perimeter=((0, 0), (10, 0), (10, 1), (0, 1))), (9, 0.9),
                 [(9, 0.9), (10, 0.5), (0, 0.5)], id="backwards"),
    pytest.param(dict(perimeter=((0, 0), (10, 0), (10, 1), (0, 1))), (5, 0.9),
                 [(5, 0.9), (0, 0.5), (10, 0.5)], id="tie-forwards"),
    pytest.param(dict(perimeter=((0, 0), (4, 0), (4, 4), (0, 4))), (0, 0),
                 [(0, 0), (0, 0.5), (4, 0.5), (4, 1.5), (0, 1.5), (0, 2.5), (4, 2.5),
                  (4, 3.5), (0, 3.5)], id="zigzag"),
])
def test_small_gardens_give_the_exact_path(garden, start, expected):
    r = plan(start=start, **garden)
    assert coords(r.path.getPoints()) == expected


@pytest.mark.parametrize("angle", [0.0, 0.4, math.pi / 2, -1.0])
def test_path_starts_at_the_start_and_drives_every_lane(angle):
    start = (3.0, 5.0)
    r = plan(start=start, angle=angle, **TWO_ROOMS)
    first = coords(r.path.getPoints())[0]
    assert first == pytest.approx(start, abs=1e-9)
    driven, _ = split_path(r)
    assert sorted(driven) == list(range(len(r.slices)))


def test_lanes_behind_the_wall_are_reached_through_the_doorway():
    r = plan(**TWO_ROOMS)
    driven, moves = split_path(r)
    assert sorted(driven) == list(range(len(r.slices)))
    # One transit leads from the left room through the doorway, round the
    # upper wall's corners.
    assert ((9, 6), (11, 6)) in moves


@pytest.mark.parametrize("wire", [None, THROUGH_WALL_WIRE], ids=["no-wire", "wire"])
def test_a_split_lawn_is_crossed_only_along_the_wire(wire):
    r = plan(wire=wire, **SPLIT)
    left = {i for i, s in enumerate(r.slices) if coords(s.getPoints())[0][0] < 10}
    assert 0 < len(left) < len(r.slices)
    driven, moves = split_path(r)
    if wire is None:
        # The right half cannot be reached: its lanes stay in the slices
        # but not in the path.
        assert sorted(driven) == sorted(left)
        assert all(p[0] < 10 for p in coords(r.path.getPoints()))
    else:
        assert sorted(driven) == list(range(len(r.slices)))
        assert ((8, 5), (12, 5)) in moves


def test_unreachable_start_leaves_the_path_at_the_start():
    # Outside the lawn nothing is in sight and no transit leads in.
    r = plan(perimeter=((0, 0), (10, 0), (10, 10), (0, 10)), start=(-5, -5))
    assert len(r.slices) == 10
    assert coords(r.path.getPoints()) == [(-5, -5)]


GARDENS = [
    pytest.param(dict(TWO_ROOMS), (0, 0), {}, id="two-rooms"),
    pytest.param(dict(TWO_ROOMS), (19, 9), {"angle": 0.4}, id="two-rooms-turned"),
    pytest.param(dict(SPLIT, wire=THROUGH_WALL_WIRE), (0, 0), {}, id="split-with-wire"),
    pytest.param(dict(perimeter=((0, 0), (20, 0), (20, 20), (10, 20), (10, 10), (0, 10)),
                      obstacles=[((12, 12), (18, 12), (18, 14), (12, 14)),
                                 ((3, 3), (6, 3), (6, 6))]),
                 (1, 1), {}, id="l-shape"),
    pytest.param(dict(perimeter=((0, 0), (20, 0), (20, 20), (0, 20)),
                      obstacles=[((5, 5), (15, 5), (15, 15), (5, 15))]),
                 (10, 0.2), {"pattern": "squares"}, id="squares-round-a-block"),
    pytest.param(dict(perimeter=((0, 0), (30, 0), (30, 10), (0, 10)),
                      obstacles=[((9, -1), (11, -1), (11, 7), (9, 7)),
                                 ((19, 3), (21, 3), (21, 11), (19, 11))],
                      wire=((1, 9), (10, 9), (15, 5), (20, 1), (29, 1))),
                 (29, 9), {"angle": -0.3, "offset": 0.7}, id="corridor-with-wire"),
]


@pytest.mark.parametrize("garden, start, values", GARDENS)
def test_moves_between_lanes_keep_to_the_lawn(garden, start, values):
    r = plan(start=start, **garden, **values)
    assert r.slices
    driven, _ = split_path(r)
    assert sorted(driven) == list(range(len(r.slices)))
    assert_moves_stay_on_the_lawn(garden, r)
