"""Gardens as people draw them: repeated points, overlapping and touching
obstacles, mow areas over the lawn's edge, thin fences."""
import pytest
import shapely.geometry as sg
import swathwise as sw

from conftest import coords, polygon, ring

LAWN = ((0, 0), (20, 0), (20, 10), (0, 10))
HEDGE = ((9.9, -1), (10.1, -1), (10.1, 11), (9.9, 11))


def plan(perimeter, obstacles=(), mow_areas=(), wire=None, start=(0, 0), **values):
    env = sw.Environment(polygon(*perimeter))
    for o in obstacles:
        env.addObstacle(polygon(*o))
    for m in mow_areas:
        env.addMowArea(polygon(*m))
    if wire:
        env.setVirtualWire(sw.LineString(ring(*wire)))
    s = sw.PathSettings()
    s.distanceToBorder = 0
    s.mowBorder = False
    s.mowExclusionsBoder = False
    s.offset = 1
    for k, v in values.items():
        setattr(s, k, v)
    return sw.PathService().computeFullTask(env, s, sw.Point(*start))


def driven_lanes(result):
    """The lanes of the result that the path drives whole, as point pairs."""
    path = coords(result.path.getPoints())
    steps = {frozenset(step) for step in zip(path, path[1:])}
    lanes = [tuple(coords(s.getPoints())) for s in result.slices]
    return [lane for lane in lanes if len(lane) == 2 and frozenset(lane) in steps]


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
