"""The summary of a plan: its figures, the share of the lawn it sweeps, and
the text the command prints.  Reads a :class:`~swathwise_tools.plan.Plan`,
never changes it."""

from __future__ import annotations

from typing import Any, Mapping

from shapely.geometry import LineString, MultiLineString
from shapely.geometry.base import BaseGeometry

from .frame import XY
from .pieces import AREA, OBSTACLE, PERIMETER, path_length
from .plan import Plan

# Mowing speed for the time estimate, in metres per second.
DEFAULT_SPEED = 0.3


def _swept(lines: list[list[XY]], width: float) -> BaseGeometry | None:
    geoms = [LineString(p) for p in lines if len(p) >= 2 and path_length(p) > 0]
    if not geoms or width <= 0:
        return None
    return MultiLineString(geoms).buffer(width / 2.0, quad_segs=4)


def summarise(plan: Plan, speed: float = DEFAULT_SPEED) -> dict[str, Any]:
    """The plan's figures plus time and coverage, as plain JSON-ready values.

    ``speed`` in metres per second (default 0.3) gives ``mowingTimeSeconds``;
    ``coverage`` and ``plannedCoverage`` are the shares (0 to 1) of the
    mowable area that the path and the planned pieces sweep at the lane
    spacing; ``mowableArea`` is in m².
    """
    summary = plan.figures()
    width = float(plan.settings.offset)
    mowable = plan.garden.mowable_area()
    area = float(mowable.area)

    def share(lines: list[list[XY]]) -> float:
        swept = _swept(lines, width)
        if swept is None or area <= 0:
            return 0.0
        return float(swept.intersection(mowable).area) / area

    length = summary["path"]["length"]
    summary.update({
        "speed": speed,
        "mowingTimeSeconds": length / speed if speed > 0 and len(plan.path) >= 2 else None,
        "mowableArea": area,
        "coverage": share([plan.path]),
        "plannedCoverage": share([p.line for p in plan.pieces]),
        "lapsClassifiedBy": plan.classified_by,
    })
    return summary


def _duration(seconds: float | None) -> str:
    if seconds is None:
        return "- (no path)"
    minutes = round(seconds / 60.0)
    if minutes < 60:
        return f"{minutes} min"
    return f"{minutes // 60} h {minutes % 60:02d} min"


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
            f"{100 * summary['coverage']:.1f} % of {summary['mowableArea']:.1f} m² mowable "
            f"(planned pieces: {100 * summary['plannedCoverage']:.1f} %, "
            f"swath {summary['settings']['offset']:g} m)",
        ),
        ("planning", _seconds(summary["planningSeconds"])),
    ]
    width = max(len(k) for k, _ in lines)
    return "\n".join(f"{k:<{width}}  {v}" for k, v in lines)
