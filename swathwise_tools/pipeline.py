"""One call from a garden to a plan, with the command's own defaults.

    garden -> outlines (simplified, clearance) -> settings (defaults, angle)
           -> plan -> coverage and advice (on demand)

Used by the ``swathwise`` command; the same from Python::

    from swathwise_tools.garden import load_garden
    from swathwise_tools.pipeline import make_plan

    plan = make_plan(load_garden("examples/park_lawn.geojson"), {"clearance": 0.15}, angle="auto")
    print(plan.angle_search.degrees, plan.coverage.gap_area)
"""

from __future__ import annotations

import math
from dataclasses import replace
from typing import Any, Callable, Mapping
from .angle import (DEFAULT_SPEED_M_S, DEFAULT_TURN_TIME_S, Scene, longest_edge_degrees,
                    period_degrees, search_angle)
from .frame import XY
from .garden import Garden
from .dock import StartError, find_entry
from .outline import apply_clearance, free_parts, nearest_parts, simplify_garden
from .pieces import Piece
from .plan import CoverageAhead, Plan, PlanError, plan_garden, resolve_settings, settle_coverage
from .reach import FreeLawn
from .sessions import Way, safe_way, transit_way, way_ahead, with_way_home
from .settings import Settings, SettingsError, fill_defaults

ANGLE_MODES = ("auto", "edge")

# The command's defaults are the plan's own (kept under this name).
command_defaults = fill_defaults


def check_angle(angle: Any) -> float | str | None:
    """``angle`` as :func:`make_plan` takes it: degrees (a finite number),
    ``"auto"``, ``"edge"`` or None; anything else raises ``SettingsError``
    listing the values accepted."""
    if angle is None or angle in ANGLE_MODES:
        return angle  # type: ignore[no-any-return]
    if isinstance(angle, (int, float)) and not isinstance(angle, bool) and math.isfinite(angle):
        return float(angle)
    raise SettingsError(f"angle must be degrees (a finite number), \"auto\", \"edge\" or None, got {angle!r}")


def make_plan(
    garden: Garden,
    settings: Settings | Mapping[str, Any] | None = None,
    *,
    start: XY | None = None,
    angle: float | str | None = None,
    speed: float = DEFAULT_SPEED_M_S,
    turn_time: float = DEFAULT_TURN_TIME_S,
    workers: int | None = None,
    return_home: bool = True,
    progress: bool | None = None,
) -> Plan:
    """Plan a garden the way the command does.

    ``settings``: a :class:`Settings`, or a mapping of settings over the
    garden's own.  Before planning, outlines are simplified within
    ``settings.simplify`` metres and the lawn shrunk and obstacles grown by
    ``settings.clearance`` metres; ``distanceToBorder`` defaults to what
    leaves no unmown band (see :func:`command_defaults`).
    ``angle``: lane direction in degrees counter-clockwise from east,
    ``"auto"`` (the shortest estimated job time, see :mod:`.angle`) or
    ``"edge"`` (along the lawn's longest edge); ``None`` keeps the settings'.
    ``speed`` (m/s) and ``turn_time`` (seconds per lane end) price the
    search; ``workers`` threads run it (default: one per core), with a
    progress bar on standard error when ``progress`` (default: when that is
    a terminal).
    ``return_home``: end the route with the planner's safe way back to the
    start (the dock); see :func:`.sessions.with_way_home`.
    """
    angle = check_angle(angle)
    resolved = resolve_settings(garden, settings, fill=False)
    start = start if start is not None else garden.default_start()
    prepared, report = simplify_garden(garden, resolved.simplify)
    prepared, report = apply_clearance(prepared, resolved.clearance, report, start=start,
                                       swath=resolved.swath_width)
    resolved = fill_defaults(resolved, bool(prepared.obstacles))

    choice = None
    if angle == "auto":
        # The search plans from where the route meets the free lawn, in
        # forked processes: no sweep of an earlier plan may run meanwhile.
        settle_coverage()
        try:
            entry = find_entry(prepared, start, garden).point or start
        except StartError as exc:
            raise PlanError(str(exc)) from None
        choice = search_angle(Scene.of(prepared), resolved.to_dict(), entry, speed=speed,
                              turn_time=turn_time, workers=workers, progress=progress)
        resolved = resolved.updated({"angle": choice.degrees}, source="search")
    elif angle == "edge":
        degrees = longest_edge_degrees(prepared.lawn, period_degrees(resolved.pattern))
        resolved = resolved.updated({"angle": degrees}, source="longest edge")
    elif angle is not None:
        resolved = resolved.updated({"angle": float(angle)}, source="python")

    ahead = CoverageAhead.of_slices(prepared, resolved, garden.mowable_area(), _reach_guess(prepared, start))
    # While the planner works: the free lawn as drawn (for the reasons of
    # pieces given up); once it has planned, the way home, searched while
    # the pieces are traced.
    free_lawn = FreeLawn.ahead(garden, prepared.clearance)
    home: list[Way] = []

    def search_home(path: list[XY], entry: XY | None, planned: Settings) -> None:
        if return_home and len(path) >= 2:
            way = transit_way(prepared, float(planned.angle), start, entry)
            home.append(way_ahead(way, path[-1], start))

    plan = plan_garden(prepared, resolved, start=start, drawn=garden, on_planned=search_home)
    plan.coverage_ahead = ahead
    plan.free_lawn = free_lawn
    _add_cut_off(plan, report.cut_off)
    # The plan keeps the garden as drawn (pictures, coverage of the real
    # lawn) and the outlines it was planned in.
    plan.prepared = plan.garden
    plan.garden = garden
    plan.angle_search = choice
    plan.outline = report
    plan.speed = speed
    plan.turn_time = turn_time
    plan.warnings.extend(report.notes)
    plan.sweep_ahead()
    if return_home:
        with_way_home(plan, home[0] if home else safe_way(plan))
    return plan


def _reach_guess(garden: Garden, start: XY) -> Callable[[list[list[XY]]], list[list[XY]] | None]:
    """A guess of the pieces a plan of ``garden`` from ``start`` reaches:
    those in the start's part of the free lawn, where it falls into parts
    (the route never crosses from one to another).  Given every piece's
    mowing line, it gives the lines of those guessed reached, or None
    where it guesses every piece reached."""
    def guess(lines: list[list[XY]]) -> list[list[XY]] | None:
        parts = free_parts(garden, 0.0)
        drawn = [line for line in lines if line]
        if len(parts) < 2 or not drawn:
            return None
        home = int(nearest_parts(parts, [start])[0])
        owners = iter(nearest_parts(parts, [line[0] for line in drawn]).tolist())
        kept = [line for line in lines if line and next(owners) == home]
        return kept if len(kept) < len(lines) else None

    return guess


def _add_cut_off(plan: Plan, parts: list[Garden]) -> None:
    """Plan the parts of the lawn the start cannot reach and add their pieces
    to the plan, given up (never driven)."""
    for part in parts:
        area = part.mowable_area()
        inside = (area if not area.is_empty else part.lawn_shape).representative_point()
        pieces = plan_garden(replace(part, start=None, docking_wire=[]), plan.settings,
                             start=(float(inside.x), float(inside.y))).pieces
        base = len(plan.pieces)
        plan.pieces.extend(Piece(base + i, p.kind, p.points) for i, p in enumerate(pieces))
