"""Plans a small garden through the typed interface of the swathwise module."""

from __future__ import annotations

import math

import swathwise as sw


def ring(*xy: tuple[float, float]) -> list[sw.Point]:
    return [sw.Point(x, y) for x, y in xy]


def plan(offset: float, laps: int) -> tuple[list[tuple[float, float]], int]:
    garden = sw.Environment(sw.Polygon(ring((0, 0), (12, 0), (12, 8), (0, 8))))
    garden.addObstacle(sw.Polygon(ring((5, 3), (7, 3), (7, 5), (5, 5))))
    garden.addMowArea(sw.Polygon(ring((0, 0), (12, 0), (12, 8), (0, 8))))
    garden.setVirtualWire(sw.LineString(ring((1, 1), (11, 1))))
    garden.setDockingWire(sw.LineString(tuple(ring((0.5, 0.5), (1, 1)))))

    settings = sw.PathSettings()
    settings.pattern = "squares"
    settings.offset = offset
    settings.angle = math.pi / 6
    settings.distanceToBorder = 0
    settings.mowArea = True
    settings.mowBorder = laps > 0
    settings.mowBorderCcw = False
    settings.borderLaps = laps
    settings.mowExclusionsBoder = True
    settings.mowExclusionsBorderCcw = True
    settings.exclusionsBorderLaps = 1

    service = sw.PathService()
    version: str = service.getVersion()
    result = service.computeFullTask(garden, settings, sw.Point(1, 1))
    path: sw.LineString = result.path
    path.addPoint(sw.Point(0.0, 0.0))
    pieces: list[sw.LineString] = result.slices
    result.slices = pieces[:1]
    obstacles: list[sw.Polygon] = garden.getObstacles()
    perimeter: sw.Polygon = garden.getPerimeter()
    corners = [(p.x, p.y) for p in perimeter.getPoints()]
    count: int = settings.borderLaps + len(obstacles) + len(version)
    return corners, count


if __name__ == "__main__":
    print(plan(0.5, 2), repr(sw.Point(1, 2.5)))
