"""The summary of a plan: its figures, the share of the lawn it sweeps, and
the text the command prints.  Reads a :class:`~swathwise_tools.plan.Plan`,
never changes it."""

from __future__ import annotations

import math
from typing import Any, Mapping


from .advice import bands, measure_bands
from .angle import DEFAULT_TURN_TIME_S, job_seconds
from .frame import ring_polygon
from .pieces import AREA, OBSTACLE, PERIMETER
from .plan import Plan
from .reach import explain
from .sessions import Sessions

# Mowing speed for the time estimate, in metres per second.
DEFAULT_SPEED = 0.3


def summarise(plan: Plan, *, speed: float = DEFAULT_SPEED, turn_time: float | None = None,
              sessions: Sessions | None = None) -> dict[str, Any]:
    """The plan's figures plus time and coverage, as plain JSON-ready values.

    ``jobSeconds`` is the estimated job time, the one the angle search
    minimises: the whole path (mowing and transit) at ``speed`` metres per
    second (default 0.3), ``drivingSeconds``, plus ``turn_time`` seconds
    (default: the plan's, else 3) at both ends of every lane the route mows,
    ``turningSeconds``;
    ``coverage`` and ``plannedCoverage`` are the shares (0 to 1) of the
    mowable area that the mowing passes of the route and of all planned
    pieces sweep at the swath width; ``mowableArea`` and ``gapArea`` (what
    stays unmown) are in m²; ``bands`` names bands that the settings leave
    unmown by construction, with the setting that closes each.  The path
    and its time include the way home (``path.home`` metres) when the route
    ends with it.  With ``sessions``, ``sessions`` holds their count, each
    one's minutes, mowing and trip metres, and its own ``jobSeconds``, the
    whole job with charging.
    """
    summary = plan.figures()
    # What needs no coverage first: the coverage may still be being swept.
    unreached = explain(plan).to_dict()
    coverage = plan.coverage
    length = summary["path"]["length"]
    turn = turn_time if turn_time is not None else (plan.turn_time if plan.turn_time is not None
                                                    else DEFAULT_TURN_TIME_S)
    lanes = sum(1 for p in plan.reached if not p.is_lap)
    has_path = speed > 0 and len(plan.path) >= 2
    planned_in = plan.prepared or plan.garden
    has_obstacles = bool(planned_in.obstacles)
    lengths = {"edge": planned_in.lawn_shape.length,
               "obstacles": sum(ring_polygon(ring).length for ring in planned_in.obstacles)}
    summary.update({
        "speed": speed,
        "turnTime": turn,
        "jobSeconds": job_seconds(length, lanes, speed, turn) if has_path else None,
        "drivingSeconds": length / speed if has_path else None,
        "turningSeconds": job_seconds(0.0, lanes, speed, turn) if has_path else None,
        "lanesTurned": lanes,
        "mowableArea": coverage.mowable_area,
        "coverage": coverage.share,
        "plannedCoverage": plan.planned_coverage.share,
        "gapArea": coverage.gap_area,
        "gaps": len(coverage.gaps.geoms),
        "sliverArea": coverage.sliver_area,
        "swath": coverage.swath,
        "bands": [b.text() for b in measure_bands(
            bands(plan.settings.to_dict(), coverage.swath, has_obstacles, lengths), coverage.gaps, planned_in)],
        "coverageSeconds": coverage.seconds,
        "lapsClassifiedBy": plan.classified_by,
        "unreached": unreached,
    })
    summary.update(_search_summary(plan))
    if sessions is not None:
        summary["sessions"] = sessions.figures()
    return summary


def job_timeline(plan: Plan, speed: float = DEFAULT_SPEED,
                 turn_time: float = DEFAULT_TURN_TIME_S) -> tuple[list[float], list[float]]:
    """When the mower reaches each path point (seconds from the start) and how
    long it turns there: ``turn_time`` at both ends of every lane it mows, so
    the last arrival plus its turn is the summary's ``jobSeconds``."""
    waits = [0.0] * len(plan.path)
    for piece in plan.reached:
        if not piece.is_lap:
            waits[piece.segments.start] += turn_time
            waits[piece.segments.stop] += turn_time
    arrivals = [0.0] * len(plan.path)
    for i in range(1, len(plan.path)):
        (x0, y0), (x1, y1) = plan.path[i - 1], plan.path[i]
        dx, dy = x1 - x0, y1 - y0
        arrivals[i] = arrivals[i - 1] + waits[i - 1] + math.sqrt(dx * dx + dy * dy) / speed
    return arrivals, waits


def _search_summary(plan: Plan) -> dict[str, Any]:
    out: dict[str, Any] = {"angleSource": plan.settings.source("angle")}
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


def percent(share: float) -> str:
    """A share (0 to 1) as the summary shows it: ``99.7 %``."""
    return f"{100 * share:.1f} %"


def job_time_text(summary: Mapping[str, Any]) -> str:
    """``45 min: 39 min driving at 0.3 m/s, 6 min turning (3 s at each end of 59 lanes)``."""
    if summary.get("jobSeconds") is None:
        return _duration(None)
    return (f"{_duration(summary['jobSeconds'])}: {_duration(summary['drivingSeconds'])} driving at "
            f"{summary['speed']:g} m/s, {_duration(summary['turningSeconds'])} turning "
            f"({summary['turnTime']:g} s at each end of {summary['lanesTurned']} lanes)")


def title_line(summary: Mapping[str, Any]) -> str:
    """One line for a picture's or page's title, rounded as in the summary."""
    p = summary["path"]
    counts = summary["pieces"]
    if p["points"] < 2:
        return f"{counts['planned']['total']} pieces planned, no path"
    return (f"{counts['reached']['total']} of {counts['planned']['total']} pieces reached, "
            f"path {p['length']:.1f} m ({p['transit']:.1f} m transit), coverage {percent(summary['coverage'])}, "
            f"job {_duration(summary['jobSeconds'])}")


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
            f"{path['transit']:.1f} m transit ({path['points']} points"
            + (f"; {path['home']:.1f} m of it the way home)" if path.get("home") else ")"),
        ))
    else:
        lines.append(("path", f"none (slices total {summary['slicesLength']:.1f} m)"))
    lines += [
        ("job time", job_time_text(summary)),
        (
            "coverage",
            f"{percent(summary['coverage'])} of {summary['mowableArea']:.1f} m² mowable, "
            f"{summary['gapArea']:.1f} m² unmown in {summary['gaps']} places "
            f"(planned pieces: {percent(summary['plannedCoverage'])}, swath {summary['swath']:g} m"
            + (f"; {summary['sliverArea']:.2f} m² in slivers under 1 cm wide, not counted"
               if summary.get("sliverArea", 0.0) >= 0.005 else "") + ")",
        ),
    ]
    sessions = summary.get("sessions")
    if sessions is not None:
        each = ", ".join(f"{s['minutes']:.0f}" for s in sessions["each"])
        lines.append(("sessions", (
            f"{sessions['count']} of at most {sessions['batteryMinutes']:g} min ({each} min; "
            f"{sessions['mowing']:.1f} m mowing, {sessions['trip']:.1f} m trips); whole job "
            f"{_duration(sessions['jobSeconds'])} with {sessions['chargeMinutes']:g} min charging between")))
    search = summary.get("angleSearch")
    if search is not None:
        lines.append(("angle", (
            f"{search['degrees']:.1f}° (searched: {_saved(search['savedAgainstZeroSeconds'])} less than at 0°, "
            f"{_saved(search['savedAgainstEdgeSeconds'])} less than along the longest edge at "
            f"{search['edgeDegrees']:.1f}°)")))
    else:
        source = summary.get("angleSource", "default")
        told = {"default": "the default", "file": "from the garden file", "option": "from --angle",
                "longest edge": "along the lawn's longest edge"}.get(source, source)
        lines.append(("angle", f"{summary['settings']['angle']:.1f}° ({told})"))
    outline = summary.get("outline")
    if outline is not None:
        text = (f"{outline['verticesBefore']} vertices, {outline['verticesAfter']} after simplifying "
                f"within {100 * outline['simplify']:g} cm")
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
