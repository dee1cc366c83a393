"""computeFullTask: frame rotation, stage switches, pattern dispatch, lanes."""
import math

import pytest
import swathwise as sw

from conftest import coords, polygon

SQUARE = ((0, 0), (10, 0), (10, 10), (0, 10))


def settings(**values):
    s = sw.PathSettings()
    s.distanceToBorder = 0
    s.mowBorder = False
    s.mowExclusionsBoder = False
    for k, v in values.items():
        setattr(s, k, v)
    return s


def environment(perimeter=SQUARE, obstacles=(), mow_areas=()):
    env = sw.Environment(polygon(*perimeter))
    for o in obstacles:
        env.addObstacle(polygon(*o))
    for m in mow_areas:
        env.addMowArea(polygon(*m))
    return env


def plan(env=None, start=(0, 0), **values):
    return sw.PathService().computeFullTask(env or environment(), settings(**values),
                                            sw.Point(*start))


def slice_coords(result):
    return [coords(s.getPoints()) for s in result.slices]


def test_all_stages_off_gives_an_empty_result():
    r = plan(mowArea=False)
    assert r.slices == [] and r.path.getPoints() == []


def test_lines_on_a_square_are_exact_at_angle_zero():
    r = plan(offset=1)
    assert slice_coords(r) == [[(0, y + 0.5), (10, y + 0.5)] for y in range(10)]


def test_squares_adds_vertical_lanes_top_down():
    r = plan(offset=1, pattern="squares")
    got = slice_coords(r)
    assert got[:10] == [[(0, y + 0.5), (10, y + 0.5)] for y in range(10)]
    vertical = got[10:]
    assert len(vertical) == 10
    for k, lane in enumerate(vertical):
        (x0, y0), (x1, y1) = lane
        assert x0 == pytest.approx(k + 0.5, abs=1e-12)
        assert x1 == pytest.approx(k + 0.5, abs=1e-12)
        assert y0 == pytest.approx(10, abs=1e-12) and y1 == pytest.approx(0, abs=1e-12)


def test_quarter_turn_lanes_are_vertical_in_the_callers_frame():
    r = plan(offset=1, angle=math.pi / 2)
    got = slice_coords(r)
    assert len(got) == 10
    for (x0, y0), (x1, y1) in got:
        assert x0 == pytest.approx(x1, abs=1e-9)
        assert abs(y1 - y0) == pytest.approx(10, abs=1e-9)


@pytest.mark.parametrize("angle", [0.3, -1.2, 2.5])
def test_rotated_lanes_stay_inside_and_parallel(angle):
    r = plan(offset=0.7, angle=angle)
    assert len(r.slices) >= 12
    for (x0, y0), (x1, y1) in slice_coords(r):
        assert -1e-9 <= min(x0, x1) and max(x0, x1) <= 10 + 1e-9
        assert -1e-9 <= min(y0, y1) and max(y0, y1) <= 10 + 1e-9
        direction = math.atan2(y1 - y0, x1 - x0)
        assert math.sin(direction - angle) == pytest.approx(0, abs=1e-9)


def test_callers_objects_are_unchanged_and_results_repeat():
    env = environment(obstacles=[((4, 4), (6, 4), (6, 6), (4, 6))])
    s = settings(offset=0.5, angle=0.4)
    start = sw.Point(1.25, 2.5)
    before = (coords(env.getPerimeter().getPoints()),
              [coords(o.getPoints()) for o in env.getObstacles()])
    first = sw.PathService().computeFullTask(env, s, start)
    second = sw.PathService().computeFullTask(env, s, start)
    assert (start.x, start.y) == (1.25, 2.5)
    assert (s.offset, s.angle, s.pattern) == (0.5, 0.4, "lines")
    assert (coords(env.getPerimeter().getPoints()),
            [coords(o.getPoints()) for o in env.getObstacles()]) == before
    assert slice_coords(first) == slice_coords(second)
    assert coords(first.path.getPoints()) == coords(second.path.getPoints())


def test_obstacles_cut_lanes_and_mow_areas_restrict_them():
    env = environment(obstacles=[((4, 4), (6, 4), (6, 6), (4, 6))],
                      mow_areas=[((0, 0), (8, 0), (8, 10), (0, 10))])
    got = slice_coords(plan(env, offset=1))
    assert [(0, 4.5), (4, 4.5)] in got and [(6, 4.5), (8, 4.5)] in got
    assert all(x1 <= 8 for (_, _), (x1, _) in got)
    assert len(got) == 12


@pytest.mark.parametrize("pattern", ["Lines", "line", "", "rings", "squares "])
def test_other_patterns_lay_no_lanes(pattern):
    r = plan(offset=1, pattern=pattern)
    assert all(len(s.getPoints()) >= 3 for s in r.slices)


@pytest.mark.parametrize("offset", [0, -1, 1e-9, math.nan, math.inf])
def test_spacings_that_cannot_advance_give_no_lanes(offset):
    for pattern in ("lines", "squares", "rings"):
        assert plan(offset=offset, pattern=pattern).slices == []


def test_lawns_beyond_one_kilometre_keep_their_lanes():
    env = environment(((1500, 0), (2500, 0), (2500, 10), (1500, 10)))
    got = slice_coords(plan(env, start=(1500, 0), offset=5))
    assert got == [[(1500, 2.5), (2500, 2.5)], [(1500, 7.5), (2500, 7.5)]]


NAN, INF = math.nan, math.inf


@pytest.mark.parametrize("perimeter, start, angle", [
    (SQUARE, (NAN, 0), 0),
    (SQUARE, (INF, -INF), 0),
    (SQUARE, (0, 0), NAN),
    (SQUARE, (0, 0), INF),
    (SQUARE, (0, 0), 1e300),
    (((0, 0), (NAN, 0), (10, 10), (0, 10)), (0, 0), 0),
    (((0, 0), (10, 0), (10, INF), (0, 10)), (0, 0), 0),
    (((-INF, 0), (10, 0), (10, 10)), (0, 0), 0.5),
])
def test_non_finite_input_gives_a_defined_result(perimeter, start, angle):
    env = environment(perimeter, obstacles=[((4, 4), (6, 4), (NAN, 6))])
    env.setVirtualWire(sw.LineString([sw.Point(INF, NAN), sw.Point(1, 1)]))
    s = sw.PathSettings()
    s.angle = angle
    s.pattern = "squares"
    r = sw.PathService().computeFullTask(env, s, sw.Point(*start))
    again = sw.PathService().computeFullTask(env, s, sw.Point(*start))
    assert len(r.slices) == len(again.slices)
    if not math.isfinite(angle):
        # A non-finite lane direction turns every coordinate into NaN: no pieces.
        assert r.slices == [] and r.path.getPoints() == []


@pytest.mark.parametrize("perimeter", [(), ((1, 1),), ((0, 0), (20, 0))])
def test_a_perimeter_of_fewer_than_three_points_plans_nothing(perimeter):
    env = sw.Environment(polygon(*perimeter))
    env.addObstacle(polygon((8, 8), (10, 8), (10, 10), (8, 10)))
    for pattern in ("lines", "rings"):
        s = sw.PathSettings()
        s.pattern = pattern
        r = sw.PathService().computeFullTask(env, s, sw.Point(0, 0))
        assert r.slices == [] and r.path.getPoints() == []
