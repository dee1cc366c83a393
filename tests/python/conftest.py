import pytest
import swathwise as sw


def ring(*xy):
    return [sw.Point(float(x), float(y)) for x, y in xy]


def polygon(*xy):
    return sw.Polygon(ring(*xy))


def coords(points):
    return [(p.x, p.y) for p in points]


@pytest.fixture
def service():
    return sw.PathService()
