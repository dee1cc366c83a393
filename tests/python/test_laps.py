"""Work areas, border laps and concentric rings, seen through computeFullTask."""
import math

import pytest
import swathwise as sw
from shapely.geometry import LineString as ShapelyLine
from shapely.geometry import Polygon as ShapelyPolygon

from conftest import coords, polygon

SQUARE = ((0, 0), (10, 0), (10, 10), (0, 10))
TOL = 1e-9


def environment(perimeter=SQUARE, obstacles=()):
    env = sw.Environment(polygon(*perimeter))
    for o in obstacles:
        env.addObstacle(polygon(*o))
    return env


def plan(env, **values):
    s = sw.PathSettings()
    for k, v in values.items():
        setattr(s, k, v)
    return sw.PathService().computeFullTask(env, s, sw.Point(0, 0))


def slice_coords(result):
    return [coords(s.getPoints()) for s in result.slices]


def flat(points):
    return [v for point in points for v in point]


def signed_area(points):
    n = len(points)
    return 0.5 * sum(points[i][0] * points[(i + 1) % n][1] - points[(i + 1) % n][0] * points[i][1]
                     for i in range(n))


def box(points):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return min(xs), min(ys), max(xs), max(ys)


def turned(points, degrees):
    a = math.radians(degrees)
    c, s = math.cos(a), math.sin(a)
    return [(x * c - y * s, x * s + y * c) for x, y in points]


def mitred(points, distance):
    """The outline grown (distance > 0) or inset (< 0) with mitred corners."""
    return ShapelyPolygon(points).buffer(distance, join_style="mitre")


def test_default_settings_on_the_ten_metre_lawn():
    got = slice_coords(plan(environment()))
    assert len(got) == 17
    for k, lane in enumerate(got[:14]):
        y = 1.75 + 0.5 * k
        assert flat(lane) == pytest.approx([1.5, y, 8.5, y], abs=TOL)
    for lap, inset in zip(got[14:], (0.001, 0.501, 1.001)):
        assert len(lap) == 5
        assert lap[0] == lap[-1]
        assert signed_area(lap) < 0
        assert box(lap) == pytest.approx((inset, inset, 10 - inset, 10 - inset), abs=TOL)
        # Corners only: every coordinate is one of the two sides.
        assert all(min(abs(v - inset), abs(v - (10 - inset))) < TOL for v in flat(lap))


@pytest.mark.parametrize("border_ccw", [False, True])
@pytest.mark.parametrize("exclusions_ccw", [False, True])
def test_lap_directions_follow_their_flags(border_ccw, exclusions_ccw):
    env = environment(((0, 0), (20, 0), (20, 20), (0, 20)),
                      obstacles=[((8, 8), (12, 8), (12, 12), (8, 12))])
    got = slice_coords(plan(env, mowArea=False, mowBorderCcw=border_ccw,
                            mowExclusionsBorderCcw=exclusions_ccw))
    assert len(got) == 5
    border, exclusion = got[:3], got[3:]
    for lap, inset in zip(border, (0.001, 0.501, 1.001)):
        assert (signed_area(lap) > 0) == border_ccw
        assert lap[0] == lap[-1] and len(lap) == 5
        assert box(lap) == pytest.approx((inset, inset, 20 - inset, 20 - inset), abs=TOL)
    for lap, grow in zip(exclusion, (0.001, 0.501)):
        assert (signed_area(lap) > 0) == exclusions_ccw
        assert lap[0] == lap[-1] and len(lap) == 5
        assert box(lap) == pytest.approx((8 - grow, 8 - grow, 12 + grow, 12 + grow), abs=TOL)


def test_lawn_split_by_the_inset_gives_two_work_areas_one_after_the_other():
    # Two 10 m squares joined by a 2 m neck, which an inset of 1.5 m closes;
    # the obstacle in the right square is grown into both work areas.
    dumbbell = ((0, 0), (10, 0), (10, 4), (14, 4), (14, 0), (24, 0), (24, 10), (14, 10),
                (14, 6), (10, 6), (10, 10), (0, 10))
    obstacle = ((18, 4), (20, 4), (20, 6), (18, 6))
    lanes = slice_coords(plan(environment(dumbbell, [obstacle]), mowBorder=False,
                              mowExclusionsBoder=False))
    sides = ["left" if lane[1][0] <= 12 else "right" for lane in lanes]
    assert sides.count("left") >= 14 and sides.count("right") >= 14
    switches = sum(1 for a, b in zip(sides, sides[1:]) if a != b)
    assert switches == 1
    work = mitred(dumbbell, -1.5).difference(mitred(obstacle, 1.5))
    assert work.geom_type == "MultiPolygon" and len(work.geoms) == 2
    for lane in lanes:
        assert work.buffer(1e-9).contains(ShapelyLine(lane))
    # The lanes beside the grown obstacle (16.5 .. 21.5) stop at it.
    beside = [lane for lane in lanes if 2.5 < lane[0][1] < 7.5 and lane[0][0] > 12]
    assert beside and all(lane[1][0] == pytest.approx(16.5, abs=TOL) or
                          lane[0][0] == pytest.approx(21.5, abs=TOL) for lane in beside)


# An obstacle straddling the top edge of the lawn.  The scene is turned by the
# first angle and the lanes laid at the second (degrees), so that in the lane
# frame (turned by their difference) the highest point is the obstacle's top
# edge (0), one of its corners (10, -10) or a corner of the lawn (20, 30, 45,
# 180).
LAWN_OBSTACLE = ((4, 9), (6, 9), (6, 11), (4, 11))
TURNS = [(0, 0), (10, 0), (-10, 0), (20, 0), (45, 0), (180, 0), (0, 10), (15, 5), (0, -30)]


def straddling(scene_turn):
    lawn = turned(SQUARE, scene_turn)
    obstacle = turned(LAWN_OBSTACLE, scene_turn)
    return lawn, obstacle, environment(lawn, [obstacle])


@pytest.mark.parametrize("scene_turn,lane_angle", TURNS)
def test_obstacle_above_the_lawn_work_area_is_inset_and_excludes_it(scene_turn, lane_angle):
    lawn, obstacle, env = straddling(scene_turn)
    work = mitred(lawn, -1.5).difference(mitred(obstacle, 1.5))
    assert work.area == pytest.approx(44.0)
    common = dict(angle=math.radians(lane_angle), mowBorder=False, mowExclusionsBoder=False)

    # The concentric pattern starts with the work area's outline inset by 1 mm.
    rings = slice_coords(plan(env, pattern="rings", **common))
    first = ShapelyPolygon(rings[0])
    assert first.is_valid
    assert first.area == pytest.approx(work.buffer(-0.001, join_style="mitre").area, abs=0.1)
    assert first.symmetric_difference(work).area < 0.1
    for ring in rings:
        assert work.buffer(0.003).contains(ShapelyLine(ring))

    # The lanes stay in the work area and fill it.
    lanes = slice_coords(plan(env, **common))
    assert lanes
    for lane in lanes:
        assert work.buffer(0.003).contains(ShapelyLine(lane))
    mown = sum(ShapelyLine(lane).length for lane in lanes) * 0.5
    assert mown == pytest.approx(work.area, rel=0.15)


@pytest.mark.parametrize("scene_turn,lane_angle", TURNS)
def test_obstacle_above_the_lawn_laps_follow_the_lawn_less_the_obstacle(scene_turn, lane_angle):
    lawn, obstacle, env = straddling(scene_turn)
    laps = slice_coords(plan(env, mowArea=False, angle=math.radians(lane_angle)))
    # Three perimeter laps notched by the obstacle; it has no laps of its own,
    # being part of the lawn's outline.
    assert len(laps) == 3
    for lap, inset in zip(laps, (0.001, 0.501, 1.001)):
        assert len(lap) == 9 and lap[0] == lap[-1]
        assert signed_area(lap) < 0
        expected = mitred(lawn, -inset).difference(mitred(obstacle, inset))
        assert ShapelyPolygon(lap).symmetric_difference(expected).area < 0.1
