"""Planning a garden and taking the result apart.

The planner returns its pieces ("slices") in stage order: the area pieces,
then the perimeter laps, then the obstacle laps.  How many laps each border
stage produced is not part of the result, so :func:`plan_garden` asks the
planner once more for each lap stage on its own (area mowing and the other lap
stage switched off).  Those stages do not depend on the area stage, so their
pieces are exactly the tail of the full slice list; that tail is checked point
by point.  Should it ever not match, the laps are told apart by shape instead:
a lap belongs to an obstacle when it runs closer to an obstacle outline than
to the outline of the lawn (or of the mow areas).

A piece counts as reached when its points appear in the path as one
contiguous run: a lane forwards or backwards, a lap as any rotation of its
ring.  The path segments inside such runs are mowing; every other segment of
the path is transit.
"""

from __future__ import annotations

import math
import time
from collections import defaultdict
from dataclasses import dataclass, field
from functools import cached_property
from typing import Any, Mapping, Sequence

import swathwise as sw
from shapely.geometry import LinearRing

from .advice import bands
from .coverage import Coverage, find_gaps, mowing_lines
from .garden import XY, Garden
from .settings import merged, to_path_settings

AREA = "area"
PERIMETER = "perimeter"
OBSTACLE = "obstacle"
CATEGORIES = (AREA, PERIMETER, OBSTACLE)

# A lap whose entry vertex is this close to the mower's position is entered
# without driving to it.
SAME_POSITION_M = 0.001
# Transit of up to this many lane spacings between two pieces is a turn.
TURN_FACTOR = 1.5


@dataclass
class Piece:
    """One slice of the plan, in the planning frame."""

    index: int
    category: str
    points: list[XY]
    reached: bool = False
    # Path segments (index i: from path[i] to path[i + 1]) that drive it.
    segments: range = range(0)

    @property
    def is_lap(self) -> bool:
        return len(self.points) >= 3

    @property
    def length(self) -> float:
        pts = self.points + self.points[:1] if self.is_lap else self.points
        return _length(pts)


@dataclass
class Plan:
    garden: Garden
    settings: dict[str, Any]
    start: XY
    path: list[XY]
    pieces: list[Piece]
    mowing: list[bool]  # one flag per path segment
    seconds: float
    classified_by: str = "stage"
    notes: list[str] = field(default_factory=list)
    # The mower's cutting width in metres; None: the lane spacing.
    swath: float | None = None
    # Filled in by pipeline.make_plan: the angle search (angle.AngleChoice),
    # the outline report (outline.OutlineReport), speed (m/s) and turn time (s).
    angle_search: Any = None
    outline: Any = None
    prepared: Garden | None = None  # the outlines planned in, when they differ
    speed: float | None = None
    turn_time: float | None = None

    @property
    def swath_width(self) -> float:
        return float(self.swath if self.swath is not None else self.settings["offset"])

    @cached_property
    def coverage(self) -> Coverage:
        """The mowable area that no mowing pass sweeps (computed once, on first use)."""
        return find_gaps(self.garden.mowable_area(), mowing_lines(self.pieces), self.swath_width)

    @cached_property
    def planned_coverage(self) -> Coverage:
        """As :attr:`coverage`, had every planned piece been reached."""
        if all(p.reached for p in self.pieces):
            return self.coverage
        return find_gaps(self.garden.mowable_area(), mowing_lines(self.pieces, False), self.swath_width)

    def segment_kinds(self) -> list[str]:
        """Per path segment: "mow", "turn" (a short hop between two pieces) or "transit"."""
        limit = TURN_FACTOR * float(self.settings["offset"])
        kinds = ["mow" if m else "transit" for m in self.mowing]
        i = 0
        while i < len(kinds):
            if kinds[i] != "transit":
                i += 1
                continue
            j = i
            length = 0.0
            while j < len(kinds) and kinds[j] == "transit":
                (x0, y0), (x1, y1) = self.path[j], self.path[j + 1]
                dx, dy = x1 - x0, y1 - y0
                length += math.sqrt(dx * dx + dy * dy)
                j += 1
            if i > 0 and j < len(kinds) and length <= limit:
                kinds[i:j] = ["turn"] * (j - i)
            i = j
        return kinds

    def transit_stretches(self) -> list[list[XY]]:
        """Maximal runs of transit segments, each of non-zero length."""
        stretches: list[list[XY]] = []
        current: list[XY] = []
        for i, mowing in enumerate(self.mowing):
            if mowing:
                stretches.append(current)
                current = []
                continue
            if not current:
                current = [self.path[i]]
            current.append(self.path[i + 1])
        stretches.append(current)
        return [s for s in stretches if len(s) >= 2 and _length(s) > 0]


def _points(line: sw.LineString) -> list[XY]:
    return [(p.x, p.y) for p in line.getPoints()]


def _sw_points(points: Sequence[XY]) -> list[sw.Point]:
    return [sw.Point(x, y) for x, y in points]


def _length(points: Sequence[XY]) -> float:
    return sum(math.dist(a, b) for a, b in zip(points, points[1:]))


def build_environment(garden: Garden) -> sw.Environment:
    env = sw.Environment(sw.Polygon(_sw_points(garden.lawn)))
    for ring in garden.obstacles:
        env.addObstacle(sw.Polygon(_sw_points(ring)))
    for ring in garden.mow_areas:
        env.addMowArea(sw.Polygon(_sw_points(ring)))
    if garden.virtual_wire:
        env.setVirtualWire(sw.LineString(_sw_points(garden.virtual_wire)))
    if garden.docking_wire:
        env.setDockingWire(sw.LineString(_sw_points(garden.docking_wire)))
    return env


def plan_garden(
    garden: Garden,
    overrides: Mapping[str, Any] | None = None,
    start: XY | None = None,
    swath: float | None = None,
) -> Plan:
    """Plan the garden with its own settings, overridden by ``overrides``.

    ``start`` is in the planning frame; by default the garden's start point.
    """
    values = merged(garden.settings, overrides or {})
    start = start if start is not None else garden.default_start()
    env = build_environment(garden)
    service = sw.PathService()
    origin = sw.Point(*start)

    began = time.perf_counter()
    result = service.computeFullTask(env, to_path_settings(values), origin)
    seconds = time.perf_counter() - began

    slices = [_points(s) for s in result.slices]
    path = _points(result.path)
    categories, how = _classify(garden, env, values, origin, service, slices)
    pieces = [Piece(i, c, pts) for i, (c, pts) in enumerate(zip(categories, slices))]
    mowing = trace_pieces(path, pieces)
    return Plan(garden, values, start, path, pieces, mowing, seconds, classified_by=how, swath=swath)


def _classify(
    garden: Garden,
    env: sw.Environment,
    values: Mapping[str, Any],
    origin: sw.Point,
    service: sw.PathService,
    slices: list[list[XY]],
) -> tuple[list[str], str]:
    tails: list[tuple[str, list[list[XY]]]] = []
    stages = (
        (PERIMETER, "mowBorder", "borderLaps", {"mowArea": False, "mowExclusionsBoder": False}),
        (OBSTACLE, "mowExclusionsBoder", "exclusionsBorderLaps", {"mowArea": False, "mowBorder": False}),
    )
    for category, switch, count, alone in stages:
        laps: list[list[XY]] = []
        if values[switch] and values[count] > 0:
            only = service.computeFullTask(env, to_path_settings({**values, **alone}), origin)
            laps = [_points(s) for s in only.slices]
        tails.append((category, laps))
    lap_slices = [lap for _, laps in tails for lap in laps]
    area_count = len(slices) - len(lap_slices)
    if area_count >= 0 and slices[area_count:] == lap_slices:
        categories = [AREA] * area_count
        for category, laps in tails:
            categories += [category] * len(laps)
        return categories, "stage"
    return [_classify_by_shape(garden, pts) for pts in slices], "shape"


def _classify_by_shape(garden: Garden, points: list[XY]) -> str:
    if len(points) < 3 or not garden.obstacles:
        return AREA if len(points) < 3 else PERIMETER
    ring = LinearRing(points)
    outer = garden.mow_areas or [garden.lawn]
    to_outer = min(ring.hausdorff_distance(LinearRing(r)) for r in outer)
    to_obstacle = min(ring.hausdorff_distance(LinearRing(r)) for r in garden.obstacles)
    return OBSTACLE if to_obstacle < to_outer else PERIMETER


def _key(p: XY) -> tuple[int, int]:
    return (round(p[0] * 1e6), round(p[1] * 1e6))


def trace_pieces(path: list[XY], pieces: list[Piece]) -> list[bool]:
    """Find each piece's run in the path; returns the mowing flag per segment."""
    mowing = [False] * max(len(path) - 1, 0)
    at: dict[tuple[int, int], list[int]] = defaultdict(list)
    for k, p in enumerate(path):
        at[_key(p)].append(k)

    def free(segments: range) -> bool:
        return not any(mowing[i] for i in segments)

    for piece in pieces:
        pts = piece.points
        if not pts:
            continue
        found = _find_lap(path, at, pts, free) if piece.is_lap else _find_lane(path, at, pts, free)
        if found is None:
            continue
        piece.reached = True
        piece.segments = found
        for i in found:
            mowing[i] = True
    return mowing


def _same(a: XY, b: XY) -> bool:
    return _key(a) == _key(b)


def _find_lane(path, at, pts, free) -> range | None:
    for order in (pts, pts[::-1]):
        for k in at.get(_key(order[0]), ()):
            end = k + len(order) - 1
            if end < len(path) and all(_same(path[k + j], order[j]) for j in range(len(order))):
                segments = range(k, end)
                if free(segments):
                    return segments
    return None


def _find_lap(path, at, ring, free) -> range | None:
    n = len(ring)
    for k in at.get(_key(ring[0]), ()):
        ahead = 0
        while ahead < n and k + ahead < len(path) and _same(path[k + ahead], ring[ahead]):
            ahead += 1
        behind = 0
        while behind < n - 1 and k - behind - 1 >= 0 and _same(path[k - behind - 1], ring[n - 1 - behind]):
            behind += 1
        if ahead + behind < n:
            continue
        first = k - behind
        # The run holds at least the n vertices; the lap also drives the edge
        # back to where it began, which is either one more vertex or the
        # position the mower entered from.
        count = min(ahead + behind, n + 1)
        if count == n + 1:
            segments = range(first, first + n)
        else:
            last = first + n - 1
            entry = ring[(n - behind - 1) % n]  # the vertex before path[first]
            if first > 0 and math.dist(path[first - 1], entry) < SAME_POSITION_M:
                segments = range(first - 1, last)
            elif last + 1 < len(path) and math.dist(path[last + 1], path[first]) < SAME_POSITION_M:
                segments = range(first, last + 1)
            else:
                segments = range(first, last)
        if free(segments):
            return segments
    return None


# --- summary -----------------------------------------------------------------


def summarise(plan: Plan, speed: float = 0.3) -> dict[str, Any]:
    """The numbers the console command prints, as plain JSON-ready values."""
    def by_category(selected) -> dict[str, int]:
        counts = {c: 0 for c in CATEGORIES}
        for piece in selected:
            counts[piece.category] += 1
        counts["total"] = sum(counts[c] for c in CATEGORIES)
        return counts

    path_length = _length(plan.path)
    mowing_length = sum(
        math.dist(plan.path[i], plan.path[i + 1]) for i, m in enumerate(plan.mowing) if m
    )
    coverage = plan.coverage
    return {
        "garden": plan.garden.name,
        "crs": plan.garden.frame.crs_name,
        "pieces": {
            "planned": by_category(plan.pieces),
            "reached": by_category(p for p in plan.pieces if p.reached),
            "givenUp": by_category(p for p in plan.pieces if not p.reached),
        },
        "slicesLength": sum(p.length for p in plan.pieces),
        "path": {
            "points": len(plan.path),
            "length": path_length,
            "mowing": mowing_length,
            "transit": path_length - mowing_length,
        },
        "speed": speed,
        "mowingTimeSeconds": path_length / speed if speed > 0 and len(plan.path) >= 2 else None,
        "mowableArea": coverage.mowable_area,
        "coverage": coverage.share,
        "plannedCoverage": plan.planned_coverage.share,
        "gapArea": coverage.gap_area,
        "gaps": len(coverage.gaps.geoms),
        "swath": coverage.swath,
        "bands": [band.text() for band in bands(
            plan.settings, coverage.swath, bool((plan.prepared or plan.garden).obstacles))],
        "planningSeconds": plan.seconds,
        "coverageSeconds": coverage.seconds,
        "lapsClassifiedBy": plan.classified_by,
        "settings": dict(plan.settings),
        "angleDegrees": math.degrees(float(plan.settings["angle"])),
        "warnings": list(plan.garden.warnings) + list(plan.notes),
        **_search_summary(plan),
    }


def _search_summary(plan: Plan) -> dict[str, Any]:
    out: dict[str, Any] = {}
    report = plan.outline
    if report is not None:
        out["outline"] = {"verticesBefore": report.vertices_before, "verticesAfter": report.vertices_after,
                          "simplify": report.tolerance, "clearance": report.clearance}
    choice = plan.angle_search
    if choice is not None:
        out["angleSearch"] = {
            "degrees": choice.degrees,
            "jobSeconds": choice.best.seconds,
            "savedAgainstZeroSeconds": choice.saved_against_zero,
            "edgeDegrees": choice.along_edge.degrees,
            "savedAgainstEdgeSeconds": choice.saved_against_edge,
            "plans": choice.plans,
            "workers": choice.workers,
            "speed": plan.speed,
            "turnTime": plan.turn_time,
        }
        out["angleSearchSeconds"] = choice.search_seconds
    return out


def _duration(seconds: float | None) -> str:
    if seconds is None:
        return "- (no path)"
    minutes = round(seconds / 60.0)
    if minutes < 60:
        return f"{minutes} min"
    return f"{minutes // 60} h {minutes % 60:02d} min"


def _saved(seconds: float) -> str:
    if abs(seconds) < 90:
        return f"{seconds:.0f} s"
    return ("-" if seconds < 0 else "") + _duration(abs(seconds))


def _seconds(seconds: float) -> str:
    return f"{seconds * 1000:.1f} ms" if seconds < 1 else f"{seconds:.2f} s"


def format_summary(summary: Mapping[str, Any]) -> str:
    """The summary as a few aligned lines of text."""
    pieces = summary["pieces"]
    lap_word = "rings" if summary["settings"].get("pattern") not in ("lines", "squares") else "lanes"

    def counts(c: Mapping[str, int]) -> str:
        return (
            f"{c['total']} ({c[AREA]} area {lap_word}, {c[PERIMETER]} perimeter laps, "
            f"{c[OBSTACLE]} obstacle laps)"
        )

    path = summary["path"]
    lines = []
    if summary["garden"]:
        lines.append(("garden", summary["garden"]))
    lines += [
        ("planned", counts(pieces["planned"])),
        ("reached", counts(pieces["reached"])),
        ("given up", counts(pieces["givenUp"])),
    ]
    if path["points"] >= 2:
        lines.append((
            "path",
            f"{path['length']:.1f} m: {path['mowing']:.1f} m mowing, "
            f"{path['transit']:.1f} m transit ({path['points']} points)",
        ))
    else:
        lines.append(("path", f"none (slices total {summary['slicesLength']:.1f} m)"))
    lines += [
        ("mowing time", f"{_duration(summary['mowingTimeSeconds'])} at {summary['speed']:g} m/s"
         if summary["mowingTimeSeconds"] is not None else _duration(None)),
        (
            "coverage",
            f"{100 * summary['coverage']:.1f} % of {summary['mowableArea']:.1f} m² mowable, "
            f"{summary['gapArea']:.1f} m² unmown in {summary['gaps']} places "
            f"(planned pieces: {100 * summary['plannedCoverage']:.1f} %, swath {summary['swath']:g} m)",
        ),
    ]
    search = summary.get("angleSearch")
    if search is not None:
        lines.append(("angle", (
            f"{search['degrees']:.1f}° (searched: {_saved(search['savedAgainstZeroSeconds'])} less than at 0°, "
            f"{_saved(search['savedAgainstEdgeSeconds'])} less than along the longest edge at "
            f"{search['edgeDegrees']:.1f}°; {_duration(search['jobSeconds'])} estimated with "
            f"{search['turnTime']:g} s per turn)")))
    else:
        lines.append(("angle", f"{summary['angleDegrees']:.1f}°"))
    outline = summary.get("outline")
    if outline is not None:
        text = f"{outline['verticesBefore']} vertices, {outline['verticesAfter']} after simplifying within {100 * outline['simplify']:g} cm"
        if outline["clearance"] > 0:
            text += f"; clearance {outline['clearance']:g} m"
        lines.append(("outlines", text))
    lines += [("unmown band", text) for text in summary.get("bands", [])]
    times = [f"planning {_seconds(summary['planningSeconds'])}"]
    for key, label in (("angleSearchSeconds", "angle search"), ("coverageSeconds", "coverage"),
                       ("drawingSeconds", "drawing")):
        if summary.get(key) is not None:
            times.append(f"{label} {_seconds(summary[key])}")
    lines.append(("times", ", ".join(times)))
    width = max(len(k) for k, _ in lines)
    return "\n".join(f"{k:<{width}}  {v}" for k, v in lines)
