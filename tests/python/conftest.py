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


@pytest.fixture
def service():
    return sw.PathService()
