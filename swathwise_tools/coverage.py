"""What a plan leaves unmown: the gaps, as polygons.

The mower sweeps a strip ``swath`` metres wide centred on its path.  The
swept area of a plan is the union of one buffer per mowing piece (a lane,
or a lap driven all the way round), merged with ``shapely.union_all``; the
gaps are the mowable area (lawn minus obstacles, within the mow areas)
that no mowing pass sweeps.  Transit is not counted as mowing.

Each buffer is a hair (``OVERLAP_M``) wider than half the swath, so that
neighbouring lanes exactly one swath apart meet instead of leaving slivers
of no width, which would make the union slow and the gaps noisy.

What stays unswept but is narrower than ``MIN_GAP_WIDTH_M`` everywhere
(hairline slivers between passes that meet at an angle, the thin tails of a
real patch) is no gap: the gaps are the morphological opening of the unswept
area by a disc of that width (every point of a gap lies in such a disc within
the unswept area), and the rest's area is kept apart as ``sliver_area``.
Gaps smaller than ``MIN_GAP_M2`` are dropped.
"""

from __future__ import annotations

import time
from dataclasses import dataclass
from typing import TYPE_CHECKING, Iterable, Sequence

import shapely
from shapely.geometry import LineString, MultiPolygon, Polygon
from shapely.geometry.base import BaseGeometry

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


def swept_area(lines: Iterable[Sequence[XY]], swath: float) -> BaseGeometry:
    """The area a mower ``swath`` metres wide sweeps along the lines."""
    geoms = [LineString(line) for line in lines if len(line) >= 2]
    geoms = [g for g in geoms if g.length > 0]
    if not geoms or swath <= 0:
        return Polygon()
    buffers = shapely.buffer(geoms, swath / 2.0 + OVERLAP_M, quad_segs=QUAD_SEGS)
    return shapely.union_all(buffers)


def _polygons(geometry: BaseGeometry) -> list[Polygon]:
    if isinstance(geometry, Polygon):
        return [geometry] if not geometry.is_empty else []
    return [g for part in getattr(geometry, "geoms", []) for g in _polygons(part)]


def find_gaps(mowable: BaseGeometry, lines: Iterable[Sequence[XY]], swath: float) -> Coverage:
    """Polygons of ``mowable`` that no line sweeps at the ``swath`` width."""
    began = time.perf_counter()
    swept = swept_area(lines, swath)
    rest = mowable.difference(swept) if not swept.is_empty else mowable
    gaps = MultiPolygon([p for p in _polygons(without_slivers(rest)) if p.area >= MIN_GAP_M2])
    slivers = max(float(rest.area) - float(gaps.area), 0.0)
    return Coverage(gaps, float(mowable.area), swath, time.perf_counter() - began, slivers)


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
