"""Where the route starts: a dock off the free lawn is driven in from, or out of.

A dock stands where it stands: on the edge, a little outside the lawn, under
a tree's crown circle or on a fence strip.  The planner starts from a point
of the free lawn (the lawn outside every obstacle), so the route first drives
from the dock to the nearest such point:

* from outside the lawn (up to :data:`MAX_START_OUTSIDE_M`), straight in,
  never through an obstacle: where the straight way would enter one, the
  nearest free point that can be reached without entering any is taken;
* from inside an obstacle (up to :data:`MAX_START_INSIDE_M` from free lawn),
  the shortest way out: straight to the nearest free point.  This drive-out
  is the only move of a route inside an obstacle.

Distances are in metres and measured against the garden as drawn; where the
outlines were prepared with a clearance, the drive goes to the nearest point
of the prepared free lawn, so it is longer by up to the clearance.  A start
within :data:`ON_LAWN_M` of the free lawn is on it: no warning.
"""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np
import shapely
from shapely.geometry import LineString, Point, Polygon
from shapely.geometry.base import BaseGeometry
from shapely.ops import nearest_points

from .frame import XY, ring_polygon
from .garden import Garden
from .pieces import path_length

# A start up to this far outside the lawn is driven in from.
MAX_START_OUTSIDE_M = 2.0
# A start up to this far inside an obstacle (from the nearest free lawn) is
# driven out of it.
MAX_START_INSIDE_M = 2.0
# A start this close to the free lawn is on it.
ON_LAWN_M = 0.01
# Where the start lies off the free lawn, the planner starts this far inside it.
START_INSET_M = 0.01
# Candidate points on the free lawn's edge, this far apart, where the
# straight way in would enter an obstacle.
CANDIDATE_SPACING_M = 0.01
# A drive-in may graze an obstacle's outline by this much.
GRAZE_M = 1e-6
# A start this far inside the lawn and this far from every obstacle lies on
# the free lawn, however the outlines' union rounds.
CLEAR_START_M = 0.001


class StartError(ValueError):
    """A start that cannot be driven onto the free lawn; the message is one line."""


@dataclass(frozen=True)
class Entry:
    """The drive from the start onto the free lawn.

    Attributes:
        point: where the planner starts (planning frame); None when the
            start is on the free lawn.
        warning: what the user should know ("" for none).
    """

    point: XY | None = None
    warning: str = ""


def _polygon(ring: list[XY]) -> BaseGeometry:
    return ring_polygon(ring).buffer(0) if len(ring) >= 3 else Polygon()


def _free(garden: Garden) -> tuple[BaseGeometry, BaseGeometry]:
    """The free lawn and the union of the obstacles."""
    lawn = _polygon(garden.lawn)
    blocked = garden.obstacle_union()
    return (lawn.difference(blocked) if not blocked.is_empty else lawn), blocked


def _clearly_free(garden: Garden, where: Point) -> bool:
    """Whether ``where`` lies :data:`CLEAR_START_M` inside the lawn and as far
    from every obstacle: then it is on the free lawn, without the union of
    the obstacles being made."""
    lawn = _polygon(garden.lawn)
    if not lawn.contains(where) or lawn.boundary.distance(where) <= CLEAR_START_M:
        return False
    rings = [ring_polygon(r) for r in garden.obstacles if len(r) >= 3]
    return not rings or bool((shapely.distance(shapely.buffer(rings, 0), where) > CLEAR_START_M).all())


def _inside(garden: Garden, where: Point) -> list[int]:
    """The obstacles (indices) whose interior holds ``where``."""
    return [i for i, r in enumerate(garden.obstacles) if _polygon(r).contains(where)]


def find_entry(garden: Garden, start: XY, drawn: Garden | None = None) -> Entry:
    """How the route gets from ``start`` onto the free lawn of ``garden``.

    ``drawn``: the garden as drawn, where ``garden`` holds its outlines
    prepared for planning (simplified, clearance kept); messages name its
    obstacles and measure against it.  Raises :class:`StartError` for a start
    farther off than the limits above.
    """
    drawn = drawn or garden
    where = Point(start)
    if _clearly_free(garden, where):
        return Entry()
    free, blocked = _free(garden)
    if free.is_empty or free.distance(where) == 0:
        return Entry()
    drawn_free, drawn_blocked = _free(drawn)
    off = float(drawn_free.distance(where)) if not drawn_free.is_empty else 0.0
    holding = _inside(drawn, where)
    on_lawn = _polygon(drawn.lawn).buffer(ON_LAWN_M).contains(where)
    if holding and on_lawn:
        name = drawn.obstacle_label(holding[0])
        if off > MAX_START_INSIDE_M:
            raise StartError(
                f"the start lies {off:.2f} m deep inside {name}; move the start (or the docking wire's "
                f"first point) out of it: up to {MAX_START_INSIDE_M:g} m inside, the route drives out")
    elif off > MAX_START_OUTSIDE_M:
        raise StartError(
            f"the start lies {off:.2f} m outside the lawn; move the start (or the docking wire's "
            f"first point) onto the lawn: up to {MAX_START_OUTSIDE_M:g} m outside, the route drives in")

    inner = free.buffer(-START_INSET_M)
    target = inner if not inner.is_empty else free
    point = nearest_points(target, where)[0]
    entry = (float(point.x), float(point.y))
    # The drive may not enter an obstacle it does not start in: neither a
    # drawn one nor one grown by the clearance.
    walls = [] if holding else [drawn_blocked]
    if not _inside(garden, where):
        walls.append(blocked)
    wall = shapely.union_all(walls) if walls else Polygon()
    if _enters(wall, start, entry):
        entry = _nearest_clear(target, wall, start, MAX_START_OUTSIDE_M + garden.clearance)
    drive = path_length([start, entry])
    if off <= ON_LAWN_M:
        return Entry(entry)
    if holding and on_lawn:
        return Entry(entry, f"the start lies inside {drawn.obstacle_label(holding[0])}, {off:.2f} m from free "
                            f"lawn; the route first drives {drive:.2f} m out of it")
    outside = float(_polygon(drawn.lawn).distance(where))
    return Entry(entry, f"the start lies {outside:.2f} m outside the lawn; the route first drives "
                        f"{drive:.2f} m to the nearest free lawn point")


def _enters(blocked: BaseGeometry, a: XY, b: XY) -> bool:
    """Whether the straight drive from ``a`` to ``b`` enters an obstacle."""
    if blocked.is_empty:
        return False
    core = blocked.buffer(-GRAZE_M)
    return bool(not core.is_empty and core.intersects(LineString([a, b])))


def _nearest_clear(target: BaseGeometry, blocked: BaseGeometry, start: XY, reach: float) -> XY:
    """The nearest point of ``target`` within ``reach`` (m) of ``start`` that a
    straight drive reaches without entering an obstacle."""
    near = target.intersection(Point(start).buffer(reach + START_INSET_M)).boundary
    coords = shapely.get_coordinates(shapely.segmentize(near, CANDIDATE_SPACING_M)) if not near.is_empty \
        else np.empty((0, 2))
    if len(coords):
        dx = coords[:, 0] - start[0]
        dy = coords[:, 1] - start[1]
        order = np.argsort(np.sqrt(dx * dx + dy * dy), kind="stable")
        core = blocked.buffer(-GRAZE_M)
        lines = shapely.linestrings([[start, tuple(c)] for c in coords[order]])
        clear = ~shapely.intersects(core, lines)
        if clear.any():
            x, y = coords[order][int(np.argmax(clear))]
            return (float(x), float(y))
    raise StartError(
        "an obstacle stands between the start and the lawn; move the start (or the docking wire's "
        "first point) to where the mower can drive straight onto the lawn")
