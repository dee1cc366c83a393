"""Planning settings by the names of the swathwise.PathSettings fields."""

from __future__ import annotations

import json
import math
from typing import Any, Mapping

import swathwise as sw

# Field name -> kind, in the order the fields are declared.
FIELDS: dict[str, str] = {
    "pattern": "text",
    "offset": "number",
    "angle": "number",
    "distanceToBorder": "number",
    "mowArea": "flag",
    "mowBorder": "flag",
    "mowBorderCcw": "flag",
    "borderLaps": "count",
    "mowExclusionsBoder": "flag",
    "mowExclusionsBorderCcw": "flag",
    "exclusionsBorderLaps": "count",
}

# Settings of these tools beyond the module's, all lengths in metres:
# clearance (the mower's centre keeps it from every outline), swath (the
# mower's cutting width; default the lane spacing), simplify (tolerance for
# recorded outlines).
TOOL_FIELDS: dict[str, str] = {"clearance": "length", "swath": "length", "simplify": "length"}

# "lines" and "squares" lay lanes; the planner fills the area with concentric
# rings for any other pattern, and "rings" is the name these tools give that.
PATTERNS = ("lines", "squares", "rings")

# Below one centimetre the millimetre grid of the offsetting makes laps
# degenerate, and the lane count explodes.
MIN_OFFSET_M = 0.01
# The lap stages count in 32 bits; far below that, no lawn needs more.
MAX_LAPS = 1000


class SettingsError(ValueError):
    """A setting that cannot be used; the message is one line."""


def defaults() -> dict[str, Any]:
    """The values a new PathSettings holds."""
    fresh = sw.PathSettings()
    return {name: getattr(fresh, name) for name in FIELDS}


def check_settings(
    values: Any, source: str = "setting", labels: Mapping[str, str] | None = None
) -> dict[str, Any]:
    """Check a mapping of settings by field name and return a clean copy.

    Error messages call a value ``source "name"``, or ``labels[name]`` where
    given.
    """
    if not isinstance(values, Mapping):
        raise SettingsError('"settings" must be an object of PathSettings fields')
    clean: dict[str, Any] = {}
    for name, value in values.items():
        kind = FIELDS.get(name) or TOOL_FIELDS.get(name)
        if kind is None:
            raise SettingsError(
                f"unknown {source} {json.dumps(name)}; known: {', '.join([*FIELDS, *TOOL_FIELDS])}"
            )
        label = (labels or {}).get(name) or f'{source} "{name}"'
        clean[name] = _check_value(name, kind, value, label)
    return clean


def _check_value(name: str, kind: str, value: Any, label: str) -> Any:
    shown = json.dumps(value) if _jsonable(value) else repr(value)
    if kind == "text":
        if not isinstance(value, str):
            raise SettingsError(f'{label} must be a string, got {shown}')
        if value not in PATTERNS:
            raise SettingsError(
                f'{label} must be one of {", ".join(PATTERNS)}, got {shown}'
            )
        return value
    if kind == "flag":
        if not isinstance(value, bool):
            raise SettingsError(f'{label} must be true or false, got {shown}')
        return value
    if kind == "count":
        if isinstance(value, bool) or not isinstance(value, int):
            raise SettingsError(f'{label} must be a whole number, got {shown}')
        if not 0 <= value <= MAX_LAPS:
            raise SettingsError(f'{label} must be between 0 and {MAX_LAPS}, got {value}')
        return value
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise SettingsError(f'{label} must be a number, got {shown}')
    number = float(value)
    if not math.isfinite(number):
        raise SettingsError(f'{label} must be a finite number, got {shown}')
    if kind == "length" and (number < 0 or (name == "swath" and number <= 0)):
        raise SettingsError(f'{label} (metres) must be {"positive" if name == "swath" else "0 or more"}, got {number:g}')
    if name == "offset" and number < MIN_OFFSET_M:
        raise SettingsError(
            f'{label} (the lane spacing in metres) must be at least '
            f"{MIN_OFFSET_M}, got {number:g}"
        )
    if name == "distanceToBorder" and number < 0:
        raise SettingsError(f'{label} must not be negative, got {number:g}')
    return number


def _jsonable(value: Any) -> bool:
    try:
        json.dumps(value)
    except (TypeError, ValueError):
        return False
    return True


def merged(*layers: Mapping[str, Any]) -> dict[str, Any]:
    """Defaults, overridden by each layer in turn."""
    values = defaults()
    for layer in layers:
        values.update(layer)
    return values


def to_path_settings(values: Mapping[str, Any]) -> sw.PathSettings:
    settings = sw.PathSettings()
    for name, value in values.items():
        if name in FIELDS:
            setattr(settings, name, value)
    return settings
