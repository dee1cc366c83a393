"""Outlines made ready for planning: recorded edges simplified, clearance kept.

What an outline means: the line the mower's centre may reach.  An outline
drawn at the real edge of the lawn (or of a bed, a wall, a trunk) lets half
the mower hang over it; a ``clearance`` of half the mower's width keeps the
whole mower off.  With a clearance the lawn is shrunk and every obstacle
grown by it before planning, so the planned path, transit included, keeps
that distance from every drawn outline.

A boundary recorded by driving along the edge has thousands of points a few
centimetres apart, with jitter and repeats; it is simplified within a
tolerance (``simplify``, metres) that keeps every outline within that
distance of the recorded one.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field, replace
from typing import Any

import numpy as np
import shapely
from shapely.geometry import LineString, Point, Polygon
from shapely.geometry.base import BaseGeometry

from .frame import polygon_ring, ring_polygon

XY = tuple[float, float]

DEFAULT_SIMPLIFY_M = 0.01
# Round joins are drawn with chords; this many per quarter circle, and the
# radius raised so that the chords, not the corners, lie at the clearance.
QUAD_SEGS = 8
# Extra distance that absorbs the planner's millimetre grid.
CLEARANCE_MARGIN_M = 0.002
# A strip along the outlines narrower than this is not worth a word.
STRIP_TOLERANCE_M = 0.01


@dataclass
class OutlineReport:
    """Vertex counts before and after simplification, and notes for the user."""

    vertices_before: int = 0
    vertices_after: int = 0
    tolerance: float = 0.0
    clearance: float = 0.0
    notes: list[str] = field(default_factory=list)
    # With a clearance that splits the lawn: the parts away from the start,
    # each as a garden of its own.
    cut_off: list[Any] = field(default_factory=list)


def _ring(geometry: Polygon) -> list[XY]:
    return polygon_ring(geometry)[:-1]


def simplify_ring(ring: list[XY], tolerance: float) -> list[XY]:
    """The ring with repeats dropped and simplified within ``tolerance`` metres.

    A ring that simplification would break (fewer than 3 corners, or not
    simple) is kept as it was.
    """
    if tolerance <= 0 or len(ring) < 4:
        return ring
    polygon = ring_polygon(ring)
    simpler = polygon.simplify(tolerance, preserve_topology=True)
    if not isinstance(simpler, Polygon) or simpler.is_empty or len(simpler.exterior.coords) < 4:
        return ring
    if not simpler.is_valid and polygon.is_valid:
        return ring
    return _ring(simpler)


def simplify_garden(garden: Any, tolerance: float = DEFAULT_SIMPLIFY_M) -> tuple[Any, OutlineReport]:
    """A copy of the garden with every polygon outline simplified."""
    report = OutlineReport(tolerance=tolerance)
    rings = [garden.lawn, *garden.obstacles, *garden.mow_areas]
    report.vertices_before = sum(len(r) for r in rings)
    lawn = simplify_ring(garden.lawn, tolerance)
    obstacles = [simplify_ring(r, tolerance) for r in garden.obstacles]
    mow_areas = [simplify_ring(r, tolerance) for r in garden.mow_areas]
    report.vertices_after = len(lawn) + sum(map(len, obstacles)) + sum(map(len, mow_areas))
    return replace(garden, lawn=lawn, obstacles=obstacles, mow_areas=mow_areas), report


def _grow(geometry: BaseGeometry, distance: float) -> BaseGeometry:
    radius = distance / math.cos(math.pi / (4 * QUAD_SEGS))
    return geometry.buffer(radius, quad_segs=QUAD_SEGS)


def _parts(geometry: BaseGeometry) -> list[Polygon]:
    if isinstance(geometry, Polygon):
        return [] if geometry.is_empty else [geometry]
    return [p for g in getattr(geometry, "geoms", []) for p in _parts(g)]


def free_parts(garden: Any, clearance: float) -> list[Polygon]:
    """The parts of the free lawn (lawn minus obstacles) with ``clearance``
    metres kept from every outline, largest first."""
    distance = clearance + CLEARANCE_MARGIN_M if clearance > 0 else 0.0
    lawn: BaseGeometry = ring_polygon(garden.lawn).buffer(0)
    if distance > 0:
        lawn = _grow(lawn, -distance)
    union = getattr(garden, "obstacle_union", None)
    if distance <= 0 and union is not None:
        grown = union()  # the garden keeps it
    else:
        rings = [ring_polygon(r).buffer(0) for r in garden.obstacles if len(r) >= 3]
        grown = shapely.union_all([_grow(r, distance) if distance > 0 else r for r in rings]) if rings else Polygon()
    area = lawn.difference(grown) if not grown.is_empty else lawn
    return sorted(_parts(area), key=lambda p: -p.area)


def nearest_parts(parts: list[Polygon], where: list[XY]) -> np.ndarray:
    """For each position, the index of the nearest of ``parts``."""
    coords = np.asarray(where, dtype=float).reshape(-1, 2)
    points = shapely.points(coords)
    # A position in one part only is nearest to it; the distances are
    # measured for the others alone.
    for part in parts:
        shapely.prepare(part)
    inside = np.stack([shapely.intersects(part, points) for part in parts])
    nearest: np.ndarray = np.argmax(inside, axis=0)
    other = np.flatnonzero(inside.sum(axis=0) != 1)
    if len(other):
        distances = np.stack([shapely.distance(part, shapely.points(coords[other])) for part in parts])
        nearest[other] = np.argmin(distances, axis=0)
    return nearest


def _widest(garden: Any) -> float:
    """Twice the radius of the largest circle inside the free lawn (m)."""
    parts = free_parts(garden, 0.0)
    if not parts:
        return 0.0
    return max(2.0 * float(shapely.maximum_inscribed_circle(p, 0.001).length) for p in parts)


def apply_clearance(garden: Any, clearance: float, report: OutlineReport | None = None, *,
                    start: XY | None = None, swath: float = 0.0) -> tuple[Any, OutlineReport]:
    """A copy of the garden with the lawn shrunk and obstacles grown by ``clearance``.

    Grown obstacles that overlap are merged; those that reach the shrunk
    lawn's edge are cut out of the lawn.  Should the lawn fall apart, the
    part nearest the start (``start``, else the garden's start or the
    docking wire's first point) is returned and the others, as gardens of
    their own, are in ``report.cut_off``: they are planned, and given up.
    A clearance wider than the mower's reach (``swath`` / 2) leaves a strip
    along every outline unmown; a note says how wide and how much.  A
    clearance that leaves no lawn raises ``SettingsError``.
    """
    from .settings import SettingsError

    report = report or OutlineReport()
    report.clearance = clearance
    if clearance <= 0:
        return garden, report
    parts = free_parts(garden, clearance)
    if not parts:
        widest = _widest(garden)
        raise SettingsError(
            f"a clearance of {clearance:g} m leaves no lawn to mow (the free lawn is {widest:.2f} m wide "
            f"at most); give a clearance below {widest / 2:.2f} m")
    if start is None:
        start = garden.start if garden.start is not None else (garden.docking_wire[0] if garden.docking_wire
                                                               else None)
    keep = parts[0] if start is None else min(parts, key=lambda p: p.distance(Point(start)))
    others = [p for p in parts if p is not keep]
    wire = _wire_within(keep, garden.virtual_wire, clearance, report)
    line = garden.docking_wire
    if line and len(line) >= 2 and not keep.buffer(1e-6).contains(LineString(line)):
        report.notes.append("the docking wire comes closer than the clearance to an outline; "
                            "the route starts on it all the same")
    strip = clearance - swath / 2.0
    if swath > 0 and strip > STRIP_TOLERANCE_M:
        reached = shapely.union_all([p.buffer(swath / 2.0, quad_segs=QUAD_SEGS) for p in parts])
        area = float(garden.mowable_area().difference(reached).area)
        report.notes.append(
            f"with a clearance of {clearance:g} m a strip {strip:.2f} m wide along every outline "
            f"({area:.1f} m²) is beyond the swath's reach ({swath / 2:g} m from the mower's centre)")

    def part_garden(part: Polygon, wire: list[XY]) -> Any:
        return replace(garden, lawn=_ring(Polygon(part.exterior)),
                       obstacles=[_ring(Polygon(hole)) for hole in part.interiors],
                       virtual_wire=wire, obstacle_labels=[], clearance=clearance, warnings=[], notes=[])

    report.cut_off = [part_garden(p, []) for p in others]
    return part_garden(keep, wire), report


def _wire_within(area: Polygon, wire: list[XY], clearance: float, report: OutlineReport) -> list[XY]:
    """The longest stretch of the virtual wire that keeps the clearance."""
    if len(wire) < 2:
        return wire
    line = LineString(wire)
    if area.buffer(1e-6).contains(line):
        return wire
    inside = [part for part in _lines(area.intersection(line)) if part.length > 0]
    kept = max(inside, key=lambda part: part.length) if inside else None
    report.notes.append(
        f"the virtual wire comes closer than the clearance ({clearance:g} m) to an outline; "
        + (f"transit follows only its longest stretch that keeps it ({kept.length:.1f} of {line.length:.1f} m)"
           if kept is not None else "transit does not follow it"))
    return [(float(x), float(y)) for x, y in kept.coords] if kept is not None else []


def _lines(geometry: BaseGeometry) -> list[LineString]:
    if isinstance(geometry, LineString):
        return [geometry]
    return [p for g in getattr(geometry, "geoms", []) for p in _lines(g)]
