import pytest
import swathwise as sw
from hypothesis import HealthCheck, settings

# Property tests: a bounded number of examples in the normal run;
# `--hypothesis-profile=long` runs many more.
settings.register_profile("default", max_examples=40, deadline=None,
                          suppress_health_check=[HealthCheck.too_slow])
settings.register_profile("long", max_examples=2000, deadline=None,
                          suppress_health_check=[HealthCheck.too_slow])
settings.load_profile("default")


def ring(*xy):
    return [sw.Point(float(x), float(y)) for x, y in xy]


def polygon(*xy):
    return sw.Polygon(ring(*xy))


def coords(points):
    return [(p.x, p.y) for p in points]


def plan(perimeter, obstacles=(), mow_areas=(), wire=None, start=(0, 0), **values):
    """A whole task with lanes 1 m apart, no border distance and no laps unless `values` say so."""
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


@pytest.fixture
def service():
    return sw.PathService()
