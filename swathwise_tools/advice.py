"""Bands that settings leave unmown by construction, and the defaults that leave none.

How the planner lays its pieces (all distances in metres, ``w`` the lane and
lap spacing ``offset``, ``s`` the mower's swath, ``d`` ``distanceToBorder``):

* the lanes fill the lawn shrunk by ``d`` (obstacles grown by ``d``) when
  ``d`` > 0, so they sweep from ``d - (s - w) / 2`` off every outline;
* the n laps along an outline run at ``LAP_FIRST_INSET_M``, then every ``w``
  further in, so they sweep up to ``LAP_FIRST_INSET_M + (n - 1) w + s / 2``
  off it;
* neighbouring lanes and laps lie ``w`` apart, so ``w`` > ``s`` leaves a
  strip ``w - s`` wide between every two of them.

Where the lanes start farther out than the laps reach, a band of grass round
the lawn's edge or round every obstacle stays uncut.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, replace
from typing import Any, Mapping, Sequence

from shapely.geometry import LinearRing, Polygon
from shapely.geometry.base import BaseGeometry

# The planner's first lap runs this far inside the outline.
LAP_FIRST_INSET_M = 0.001
# Bands narrower than this are not worth a word.
BAND_TOLERANCE_M = 0.01


@dataclass(frozen=True)
class Band:
    """A band left unmown by construction: where, how wide (m), and the fix."""

    where: str
    width: float
    fix: str
    area: float | None = None  # m²: width times the outlines' length, or measured
    outline: str = ""  # "edge" or "obstacles": the outline the band runs along
    reach: float = 0.0  # m: how far from that outline the band ends (where lanes start)
    measured: bool = False  # whether ``area`` is the gaps' area within the band

    def text(self) -> str:
        size = ""
        if self.area is not None:
            size = f" ({self.area:.1f} m² of the unmown area)" if self.measured else f" (about {self.area:.1f} m²)"
        return f"a band {self.width:.2f} m wide{size} is left unmown {self.where}; {self.fix}"


def lap_reach(laps: int, offset: float, swath: float) -> float:
    """How far in from an outline ``laps`` laps sweep (0 without laps)."""
    if laps <= 0:
        return 0.0
    return LAP_FIRST_INSET_M + (laps - 1) * offset + swath / 2.0


def _laps(values: Mapping[str, Any], switch: str, count: str) -> int:
    return int(values[count]) if values[switch] else 0


def no_band_distance(values: Mapping[str, Any], swath: float, has_obstacles: bool = True) -> float:
    """The largest ``distanceToBorder`` that leaves no band: what the laps reach.

    Without laps along some outline this is 0: the lanes run up to it.
    """
    offset = float(values["offset"])
    reaches = [lap_reach(_laps(values, "mowBorder", "borderLaps"), offset, swath)]
    if has_obstacles:
        reaches.append(lap_reach(_laps(values, "mowExclusionsBoder", "exclusionsBorderLaps"), offset, swath))
    # Lanes start (s - w) / 2 outside the work area when the swath is wider.
    slack = max(swath - offset, 0.0) / 2.0
    return math.floor((min(reaches) + slack) * 1000.0) / 1000.0 if min(reaches) > 0 else 0.0


def bands(values: Mapping[str, Any], swath: float, has_obstacles: bool,
          lengths: Mapping[str, float] | None = None) -> list[Band]:
    """Every band the settings leave unmown by construction.

    ``lengths`` (metres) of the lawn's ``"edge"`` and of all ``"obstacles"``'
    outlines, where given, size the bands along them.
    """
    lengths = lengths or {}
    found: list[Band] = []
    offset = float(values["offset"])
    d = float(values["distanceToBorder"])
    if offset - swath > BAND_TOLERANCE_M:
        found.append(Band(
            "between neighbouring lanes and laps",
            offset - swath,
            f"set offset (--offset) to at most the swath, {swath:g} m",
        ))
    if not values["mowArea"] or d <= 0 or values["pattern"] not in ("lines", "squares", "rings"):
        return found
    lanes_from = d - max(swath - offset, 0.0) / 2.0
    outlines = [("along the lawn's edge", "edge", "mowBorder", "borderLaps", "--border-laps")]
    if has_obstacles:
        outlines.append(("round every obstacle", "obstacles", "mowExclusionsBoder", "exclusionsBorderLaps",
                         "--exclusions-border-laps"))
    for where, outline, switch, count, flag in outlines:
        laps = _laps(values, switch, count)
        width = lanes_from - lap_reach(laps, offset, swath)
        if width <= BAND_TOLERANCE_M:
            continue
        needed = math.ceil((lanes_from - LAP_FIRST_INSET_M - swath / 2.0) / offset - 1e-9) + 1
        closes = lap_reach(laps, offset, swath) + max(swath - offset, 0.0) / 2.0
        fix = (f"set distanceToBorder (--distance-to-border) to at most {math.floor(closes * 1000) / 1000:g} m"
               f" or {count} ({flag}) to {needed}")
        if not values[switch]:
            fix += f" with {switch} on"
        length = lengths.get(outline)
        found.append(Band(where, width, fix, width * length if length is not None else None, outline, lanes_from))
    return found


# How far beyond its nominal reach a band's gaps may lie (round lane ends).
BAND_MARGIN_M = 0.05


def measure_bands(found: Sequence[Band], gaps: BaseGeometry, garden: Any) -> list[Band]:
    """The bands with their area measured: the part of ``gaps`` (polygons in
    metres) within the band's reach of its outlines in ``garden`` (the
    outlines planned in).  Round the obstacles first, the edge gets the rest,
    so no gap counts twice and the bands add up to at most the gaps' area."""
    taken: BaseGeometry = Polygon()
    measured: dict[int, float] = {}
    rings = {"obstacles": list(garden.obstacles), "edge": [garden.lawn]}
    for key in ("obstacles", "edge"):
        for i, band in enumerate(found):
            if band.outline != key or not rings[key] or gaps.is_empty:
                continue
            zone = _near(rings[key], band.reach + BAND_MARGIN_M).difference(taken)
            measured[i] = float(gaps.intersection(zone).area)
            taken = taken.union(zone)
    return [replace(b, area=measured[i], measured=True) if i in measured else b for i, b in enumerate(found)]


def _near(rings: Sequence[Sequence[tuple[float, float]]], distance: float) -> BaseGeometry:
    zone: BaseGeometry = Polygon()
    for ring in rings:
        if len(ring) >= 3:
            zone = zone.union(LinearRing(ring).buffer(distance))
    return zone
