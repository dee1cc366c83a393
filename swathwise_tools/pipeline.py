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

from typing import Any, Mapping

from .advice import no_band_distance
from .angle import (DEFAULT_SPEED_M_S, DEFAULT_TURN_TIME_S, Scene, longest_edge_degrees,
                    period_degrees, search_angle)
from .frame import XY
from .garden import Garden
from .outline import apply_clearance, simplify_garden
from .plan import Plan, plan_garden, resolve_settings
from .sessions import safe_way, with_way_home
from .settings import Settings

ANGLE_MODES = ("auto", "edge")


def command_defaults(settings: Settings, has_obstacles: bool) -> Settings:
    """The settings with the command's own defaults where nobody set a value.

    ``distanceToBorder``: as far as the laps reach, so that lanes and laps
    leave no band between them (0 without laps); the module's own default
    of 1.5 m leaves one round every obstacle.
    """
    if settings.source("distance_to_border") != "default":
        return settings
    distance = no_band_distance(settings.to_dict(), settings.swath_width, has_obstacles)
    return settings.updated({"distance_to_border": distance}, source="command default")


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
    search; ``workers`` processes run it (default: one per core).
    ``return_home``: end the route with the planner's safe way back to the
    start (the dock); see :func:`.sessions.with_way_home`.
    """
    resolved = resolve_settings(garden, settings)
    prepared, report = simplify_garden(garden, resolved.simplify)
    prepared, report = apply_clearance(prepared, resolved.clearance, report)
    start = start if start is not None else garden.default_start()
    resolved = command_defaults(resolved, bool(prepared.obstacles))

    choice = None
    if angle == "auto":
        choice = search_angle(Scene.of(prepared), resolved.to_dict(), start, speed=speed,
                              turn_time=turn_time, workers=workers)
        resolved = resolved.updated({"angle": choice.degrees}, source="search")
    elif angle == "edge":
        degrees = longest_edge_degrees(prepared.lawn, period_degrees(resolved.pattern))
        resolved = resolved.updated({"angle": degrees}, source="longest edge")
    elif angle is not None:
        resolved = resolved.updated({"angle": float(angle)}, source="python")

    plan = plan_garden(prepared, resolved, start=start)
    # The plan keeps the garden as drawn (pictures, coverage of the real
    # lawn) and the outlines it was planned in.
    plan.prepared = plan.garden
    plan.garden = garden
    plan.angle_search = choice
    plan.outline = report
    plan.speed = speed
    plan.turn_time = turn_time
    plan.warnings.extend(report.notes)
    if return_home:
        with_way_home(plan, safe_way(plan))
    return plan
