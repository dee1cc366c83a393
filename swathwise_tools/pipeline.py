"""One call from a garden to a plan, with the command's own defaults.

    garden -> outlines (simplified, clearance) -> settings (defaults, angle)
           -> plan -> coverage and advice (on demand)

Used by the ``swathwise`` command; the same from Python::

    from swathwise_tools.garden import load_garden
    from swathwise_tools.pipeline import make_plan

    plan = make_plan(load_garden("examples/park_lawn.geojson"), angle="auto", clearance=0.15)
    print(plan.angle_search.degrees, plan.coverage.gap_area)
"""

from __future__ import annotations

import math
from typing import Any, Mapping

from .advice import no_band_distance
from .angle import (DEFAULT_SPEED_M_S, DEFAULT_TURN_TIME_S, Scene, longest_edge_degrees,
                    period_degrees, search_angle)
from .garden import XY, Garden
from .outline import DEFAULT_SIMPLIFY_M, apply_clearance, simplify_garden
from .plan import Plan, plan_garden
from .settings import merged

ANGLE_MODES = ("auto", "edge")


def command_defaults(garden: Garden, given: Mapping[str, Any], swath: float | None) -> dict[str, Any]:
    """Defaults of the command where neither the file nor the caller sets a value.

    ``distanceToBorder``: as far as the laps reach, so that lanes and laps
    leave no band between them (0 without laps); the module's own default
    of 1.5 m leaves one round every obstacle.
    """
    if "distanceToBorder" in given:
        return {}
    values = merged(given)
    width = float(swath if swath is not None else values["offset"])
    return {"distanceToBorder": no_band_distance(values, width, bool(garden.obstacles))}


def make_plan(
    garden: Garden,
    overrides: Mapping[str, Any] | None = None,
    *,
    start: XY | None = None,
    angle: float | str | None = None,
    clearance: float | None = None,
    simplify: float | None = None,
    swath: float | None = None,
    speed: float = DEFAULT_SPEED_M_S,
    turn_time: float = DEFAULT_TURN_TIME_S,
    workers: int | None = None,
) -> Plan:
    """Plan a garden the way the command does.

    ``overrides``: ``PathSettings`` fields over the garden's settings.
    ``angle``: lane direction in degrees counter-clockwise from east,
    ``"auto"`` (the shortest estimated job time, see :mod:`.angle`) or
    ``"edge"`` (along the lawn's longest edge); ``None`` keeps the settings'.
    ``clearance``: metres the mower's centre keeps from every outline
    (default: the garden's ``clearance`` setting, else 0).  ``simplify``:
    tolerance in metres for recorded outlines (0: off; default the garden's
    ``simplify`` setting, else 0.01).  ``swath``: the mower's cutting width
    in metres (default: the garden's ``swath`` setting, else the lane
    spacing).  ``speed``
    (m/s) and ``turn_time`` (seconds per lane end) price the angle search.
    """
    given = {**garden.settings, **(overrides or {})}
    if simplify is None:
        simplify = float(given.get("simplify", DEFAULT_SIMPLIFY_M))
    if clearance is None:
        clearance = float(given.get("clearance", 0.0))
    if swath is None and given.get("swath") is not None:
        swath = float(given["swath"])
    prepared, report = simplify_garden(garden, simplify)
    prepared, report = apply_clearance(prepared, clearance, report)
    start = start if start is not None else garden.default_start()
    values = {**given, **command_defaults(prepared, given, swath)}

    choice = None
    if angle in ANGLE_MODES:
        resolved = merged(values)
        if angle == "auto":
            choice = search_angle(Scene.of(prepared), resolved, start, speed=speed,
                                  turn_time=turn_time, workers=workers)
            degrees = choice.degrees
        else:
            degrees = longest_edge_degrees(prepared.lawn, period_degrees(resolved["pattern"]))
        values["angle"] = math.radians(degrees)
    elif angle is not None:
        values["angle"] = math.radians(float(angle))

    plan = plan_garden(prepared, values, start, swath=swath)
    # The plan keeps the garden as drawn (pictures, coverage of the real
    # lawn) and the outlines it was planned in.
    plan.prepared = plan.garden
    plan.garden = garden
    plan.angle_search = choice
    plan.outline = report
    plan.speed = speed
    plan.turn_time = turn_time
    plan.notes.extend(report.notes)
    return plan
