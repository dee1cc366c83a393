"""What a plan leaves unmown: the gaps, as polygons.

The mower sweeps a strip ``swath`` metres wide centred on its path.  The
swept area of a plan is the union of one such strip per mowing piece (a
lane, or a lap driven all the way round) with round ends and joins; the
gaps are the mowable area (lawn minus obstacles, within the mow areas)
that no mowing pass sweeps.  Transit is not counted as mowing.  The
companion module sweeps and clips on a grid of 10 micrometres, drawing
arcs with ``QUAD_SEGS`` chords per quarter circle.

Each strip is a hair (``OVERLAP_M``) wider than the swath, so that
neighbouring lanes exactly one swath apart meet instead of leaving slivers
of no width.

What stays unswept but is narrower than ``MIN_GAP_WIDTH_M`` everywhere
(hairline slivers between passes that meet at an angle, the thin tails of a
real patch) is no gap: the gaps are the morphological opening of the unswept
area by a disc of that width (every point of a gap lies in such a disc within
the unswept area), and the rest's area is kept apart as ``sliver_area``.
The companion module opens on its grid too, with a coarser disc (it only
gauges a width), after leaving out the parts too small or too narrow to hold
it.  Gaps smaller than ``MIN_GAP_M2`` are dropped.
"""

from __future__ import annotations

import time
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Iterable, Sequence

import shapely
from shapely.geometry import MultiPolygon, Polygon
from shapely.geometry.base import BaseGeometry

from . import _native

if TYPE_CHECKING:
    from .pieces import Piece

XY = tuple[float, float]

OVERLAP_M = 1e-6
MIN_GAP_M2 = 1e-6
# Unswept strips narrower than this (metres) are slivers, not gaps.
MIN_GAP_WIDTH_M = 0.01
# Round ends and joins: segments per quarter circle.
QUAD_SEGS = 8


@dataclass(frozen=True)
class Coverage:
    """The gaps of a plan and their figures (m², seconds)."""

    gaps: MultiPolygon
    mowable_area: float
    swath: float
    seconds: float
    sliver_area: float = 0.0  # m² unswept in strips narrower than MIN_GAP_WIDTH_M

    @property
    def gap_area(self) -> float:
        return float(self.gaps.area)

    @property
    def share(self) -> float:
        """Share of the mowable area that is swept, 0 to 1 (slivers count as swept)."""
        if self.mowable_area <= 0:
            return 0.0
        return max(0.0, 1.0 - self.gap_area / self.mowable_area)


def _polygons(geometry: BaseGeometry) -> list[Polygon]:
    if isinstance(geometry, Polygon):
        return [geometry] if not geometry.is_empty else []
    return [g for part in getattr(geometry, "geoms", []) for g in _polygons(part)]


def _rings(area: BaseGeometry) -> list[list[list[float]]]:
    """Every outline and hole ring of the polygons of ``area``, unclosed."""
    rings = []
    for polygon in _polygons(area):
        for ring in (polygon.exterior, *polygon.interiors):
            coords = shapely.get_coordinates(ring).tolist()
            rings.append(coords[:-1])
    return rings


def find_gaps(mowable: BaseGeometry, lines: Iterable[Sequence[XY]], swath: float) -> Coverage:
    """Polygons of ``mowable`` that no line sweeps at the ``swath`` width (metres)."""
    began = time.perf_counter()
    drawn = [list(line) for line in lines if len(line) >= 2]
    # The companion module sweeps, clips and opens on its grid; the area
    # before the opening tells the slivers' area.
    half_width = swath / 2.0 + OVERLAP_M if drawn and swath > 0 else 0.0
    wkb, unswept = _native.unswept_gaps(_rings(mowable), drawn, half_width, QUAD_SEGS, MIN_GAP_WIDTH_M)
    opened = _valid_parts(shapely.get_parts(shapely.from_wkb(wkb)))
    areas = shapely.area(opened).tolist() if len(opened) else []
    gaps = MultiPolygon([p for p, a in zip(opened, areas) if a >= MIN_GAP_M2])
    slivers = max(unswept - float(gaps.area), 0.0)
    return Coverage(gaps, float(mowable.area), swath, time.perf_counter() - began, slivers)


def _valid_parts(parts: Any) -> list[Polygon]:
    """The polygons, each made valid: a part whose outline touches itself at a
    point comes back as one ring; shapely wants it as an outline and a hole."""
    if not len(parts):
        return []
    valid = shapely.is_valid(parts)
    if bool(valid.all()):
        return list(parts)
    return [q for p, ok in zip(parts.tolist(), valid.tolist()) for q in ([p] if ok else _polygons(p.buffer(0)))]


def without_slivers(area: BaseGeometry, width: float = MIN_GAP_WIDTH_M) -> BaseGeometry:
    """The parts of ``area`` at least ``width`` metres wide: its opening by a
    disc of that diameter (within a tenth of a millimetre of ``area``)."""
    if area.is_empty:
        return area
    core = area.buffer(-width / 2.0, quad_segs=QUAD_SEGS)
    return core.buffer(width / 2.0, quad_segs=QUAD_SEGS) if not core.is_empty else Polygon()


def mowing_lines(pieces: Iterable[Piece], reached_only: bool = True) -> list[list[XY]]:
    """The lines the mower drives while mowing: lanes, and laps closed."""
    lines = []
    for piece in pieces:
        if reached_only and not piece.reached:
            continue
        points = list(piece.points)
        lines.append(points + points[:1] if piece.is_lap else points)
    return lines
