"""Real-style gardens as GeoJSON collections in plain metres.

Each builder returns a FeatureCollection (``"crs": "local-metres"``): lawns
ringed by buildings, trees as circles on the edge, paths crossing, a
courtyard, docks under a tree and on a fence, odd obstacles.
"""

from __future__ import annotations

from typing import Any

XY = tuple[float, float]


def box(x0: float, y0: float, x1: float, y1: float) -> list[XY]:
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def _ring(points: list[XY]) -> list[list[float]]:
    return [list(p) for p in points] + [list(points[0])]


def polygon(role: str, *rings: list[XY], name: str | None = None) -> dict[str, Any]:
    props: dict[str, Any] = {"role": role}
    if name:
        props["name"] = name
    return {"type": "Feature", "properties": props,
            "geometry": {"type": "Polygon", "coordinates": [_ring(r) for r in rings]}}


def tree(x: float, y: float, radius: float, name: str = "tree") -> dict[str, Any]:
    return {"type": "Feature", "properties": {"role": "obstacle", "radius": radius, "name": name},
            "geometry": {"type": "Point", "coordinates": [x, y]}}


def start(x: float, y: float) -> dict[str, Any]:
    return {"type": "Feature", "properties": {"role": "start"},
            "geometry": {"type": "Point", "coordinates": [x, y]}}


def garden(*features: dict[str, Any], **settings: Any) -> dict[str, Any]:
    return {"type": "FeatureCollection", "properties": {"crs": "local-metres", "settings": settings},
            "features": list(features)}


def lawn(points: list[XY]) -> dict[str, Any]:
    return polygon("lawn", points, name="lawn")


def ringed_by_buildings() -> dict[str, Any]:
    """A back lawn between a house, a garage and the neighbours' sheds, all
    touching it from outside; one shed reaches 1 m in."""
    return garden(
        lawn(box(0, 0, 30, 20)),
        polygon("obstacle", box(-8, 0, 0, 12), name="house"),
        polygon("obstacle", box(5, 20, 15, 26), name="garage"),
        polygon("obstacle", box(30, 4, 36, 9), name="neighbour's shed"),
        polygon("obstacle", box(20, -4, 26, 1), name="shed"),
        polygon("obstacle", box(40, 40, 45, 45), name="far barn"),
        start(1, 10))


def trees_on_edge() -> dict[str, Any]:
    """Trees whose crown circles overlap the lawn's edge, one in the middle."""
    return garden(
        lawn(box(0, 0, 25, 15)),
        tree(0.5, 7.5, 1.5, "oak"), tree(12.5, 15.2, 2.0, "beech"), tree(25, 0, 1.2, "birch"),
        tree(12.5, 7.5, 1.0, "apple"),
        start(5, 2))


def paths_crossing() -> dict[str, Any]:
    """Two footways cross the lawn from edge to edge: four parts."""
    return garden(
        lawn(box(0, 0, 20, 20)),
        polygon("obstacle", box(-1, 9, 21, 11), name="footway"),
        polygon("obstacle", box(9, -1, 11, 21), name="path"),
        start(2, 2))


def courtyard() -> dict[str, Any]:
    """A building with a courtyard stands on the lawn."""
    return garden(
        lawn(box(0, 0, 40, 30)),
        polygon("obstacle", box(10, 8, 30, 22), box(15, 12, 25, 18), name="block"),
        start(2, 2))


def dock_under_tree() -> dict[str, Any]:
    return garden(lawn(box(0, 0, 20, 12)), tree(4, 6, 1.5, "walnut"), start(4.3, 6.2))


def dock_on_fence() -> dict[str, Any]:
    """A fence strip along the edge, the dock on it."""
    return garden(lawn(box(0, 0, 20, 12)), polygon("obstacle", box(0, 0, 20, 0.3), name="fence"),
                  start(6, 0.15))


def dock_deep_in_building() -> dict[str, Any]:
    return garden(lawn(box(0, 0, 30, 20)), polygon("obstacle", box(5, 5, 15, 15), name="barn"),
                  start(10, 10))


def odd_obstacles() -> dict[str, Any]:
    """A two-node outline, a collinear one and a bow tie among good obstacles."""
    return garden(
        lawn(box(0, 0, 25, 15)),
        polygon("obstacle", [(5, 5), (6, 5)], name="two nodes"),
        polygon("obstacle", [(8, 8), (9, 8), (10, 8)], name="flat"),
        polygon("obstacle", [(14, 4), (17, 7), (17, 4), (14, 7)], name="bow tie"),
        polygon("obstacle", box(18, 9, 21, 12), name="bed"),
        start(1, 1))


def bed_touching_at_a_point() -> dict[str, Any]:
    """A bed inside the lawn touching its edge at one corner, and one just outside."""
    return garden(
        lawn(box(0, 0, 20, 12)),
        polygon("obstacle", [(10, 0), (12, 2), (10, 4), (8, 2)], name="diamond bed"),
        polygon("obstacle", box(20.05, 3, 22, 6), name="compost"),
        start(1, 1))


def dock_on_edge() -> dict[str, Any]:
    """The dock 5 mm outside the drawn edge."""
    return garden(lawn(box(0, 0, 15, 10)), start(-0.005, 5))


def dumbbell(**settings: Any) -> dict[str, Any]:
    """Two lawns joined by a 1.2 m neck; the dock at the small one's edge."""
    outline = [(0, 0), (10, 0), (10, 4.4), (14, 4.4), (14, 0), (30, 0), (30, 10), (14, 10), (14, 5.6),
               (10, 5.6), (10, 10), (0, 10)]
    return garden(lawn(outline), start(0, 5), **settings)


def dock_beyond_fence() -> dict[str, Any]:
    """The dock 0.3 m outside the lawn, just beside a hedge that pokes out
    past the edge: the straight way to the nearest free point would enter it."""
    return garden(lawn(box(0, 0, 20, 12)), polygon("obstacle", box(-0.2, 4.6, 3, 5.4), name="hedge"),
                  start(-0.3, 5.0))
