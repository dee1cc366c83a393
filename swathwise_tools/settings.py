"""Planning settings: one typed, validated object in the units people use.

Angles are in degrees everywhere a person writes them (garden files, flags,
:class:`Settings`); only :meth:`Settings.to_path_settings` turns them into the
radians of ``swathwise.PathSettings``.  Lengths are in metres.

In garden files the settings keep the names of the ``swathwise.PathSettings``
fields (``distanceToBorder``, ``mowExclusionsBoder`` ...); in Python they are
the attributes of :class:`Settings` (``distance_to_border``,
``mow_exclusions_border`` ...).
"""

from __future__ import annotations

import dataclasses
import json
import math
import numbers
from dataclasses import dataclass, field
from typing import Any, Mapping, NamedTuple

import swathwise as sw

from .advice import no_band_distance

# "lines" and "squares" lay lanes; the planner fills the area with concentric
# rings for any other pattern, and "rings" is the name these tools give that.
PATTERNS = ("lines", "squares", "rings")

# Below one centimetre the millimetre grid of the offsetting makes laps
# degenerate, and the lane count explodes.
MIN_OFFSET_M = 0.01
# The lap stages count in 32 bits; far below that, no lawn needs more.
MAX_LAPS = 1000

DEFAULT = "default"


class SettingsError(ValueError):
    """A setting that cannot be used; the message is one line."""


class SettingInfo(NamedTuple):
    """How one setting is named, checked and explained."""

    name: str  # attribute of Settings
    key: str  # key in garden files and summaries (the PathSettings field)
    kind: str  # "text", "number", "angle", "flag" or "count"
    flag: str  # command-line flag
    text: str  # what it means, with its unit


INFO: tuple[SettingInfo, ...] = (
    SettingInfo("pattern", "pattern", "text", "--pattern",
                "lane pattern: lines, squares (a second set at right angles) or rings"),
    SettingInfo("offset", "offset", "number", "--offset",
                "spacing between lanes and between laps, in metres"),
    SettingInfo("angle", "angle", "angle", "--angle",
                "lane direction in degrees, counter-clockwise from east"),
    SettingInfo("distance_to_border", "distanceToBorder", "number", "--distance-to-border",
                "distance in metres that the lanes keep from the edges"),
    SettingInfo("mow_area", "mowArea", "flag", "--mow-area", "fill the area with lanes"),
    SettingInfo("mow_border", "mowBorder", "flag", "--mow-border", "drive laps along the perimeter"),
    SettingInfo("mow_border_ccw", "mowBorderCcw", "flag", "--mow-border-ccw",
                "perimeter laps counter-clockwise (else clockwise)"),
    SettingInfo("border_laps", "borderLaps", "count", "--border-laps",
                "number of laps along the perimeter"),
    SettingInfo("mow_exclusions_border", "mowExclusionsBoder", "flag", "--mow-exclusions-border",
                "drive laps around the obstacles"),
    SettingInfo("mow_exclusions_border_ccw", "mowExclusionsBorderCcw", "flag",
                "--mow-exclusions-border-ccw", "obstacle laps counter-clockwise (else clockwise)"),
    SettingInfo("exclusions_border_laps", "exclusionsBorderLaps", "count", "--exclusions-border-laps",
                "number of laps around each obstacle"),
    # Settings of these tools beyond the module's ("length": metres, not negative).
    SettingInfo("clearance", "clearance", "length", "--clearance",
                "distance in metres the mower's centre keeps from every drawn outline; "
                "half the mower's width for outlines drawn at the real edge"),
    SettingInfo("swath", "swath", "length", "--swath",
                "the mower's cutting width in metres; 0 means the lane spacing (offset)"),
    SettingInfo("simplify", "simplify", "length", "--simplify",
                "tolerance in metres for simplifying recorded outlines; 0 means off"),
)
BY_NAME = {info.name: info for info in INFO}
BY_KEY = {info.key: info for info in INFO}
# Other spellings accepted for a file key: the module's field is
# "mowExclusionsBoder", and people write it correctly.
ALIASES = {"mowExclusionsBorder": "mowExclusionsBoder"}
# File keys, in the order of the PathSettings fields.
FIELDS = tuple(info.key for info in INFO)
# The keys that are PathSettings fields (the rest are these tools' own).
MODULE_FIELDS = tuple(info.key for info in INFO if info.kind != "length")

_FRESH = sw.PathSettings()


@dataclass(frozen=True)
class Settings:
    """Planning settings, checked when made; angles in degrees, lengths in metres.

    The defaults are those of a new ``swathwise.PathSettings`` (its angle
    turned into degrees).  ``sources`` tells where each value that is not a
    default came from (``"file"``, ``"option"``, ``"python"``, or whatever a
    caller names, e.g. ``"search"``); :meth:`source` answers for every field.

    Attributes:
        pattern: ``"lines"`` (default), ``"squares"`` or ``"rings"``.
        offset: spacing between lanes and laps in metres (default 0.5; at
            least 0.01).
        angle: lane direction in degrees counter-clockwise from east
            (default 0).
        distance_to_border: distance the lanes keep from the perimeter and
            the obstacles, in metres (default 1.5; not negative).
        mow_area: fill the area with lanes (default True).
        mow_border: drive laps along the perimeter (default True).
        mow_border_ccw: perimeter laps counter-clockwise (default False).
        border_laps: number of perimeter laps (default 3; 0 to 1000).
        mow_exclusions_border: drive laps around the obstacles (default True).
        mow_exclusions_border_ccw: obstacle laps counter-clockwise (default
            False).
        exclusions_border_laps: laps around each obstacle (default 2; 0 to
            1000).
        clearance: metres the mower's centre keeps from every drawn outline
            (default 0): the lawn is shrunk and the obstacles grown by it.
        swath: the mower's cutting width in metres (default 0: the lane
            spacing ``offset``).
        simplify: tolerance in metres for simplifying recorded outlines
            (default 0.01; 0: off).
    """

    pattern: str = _FRESH.pattern
    offset: float = _FRESH.offset
    angle: float = math.degrees(_FRESH.angle)
    distance_to_border: float = _FRESH.distanceToBorder
    mow_area: bool = _FRESH.mowArea
    mow_border: bool = _FRESH.mowBorder
    mow_border_ccw: bool = _FRESH.mowBorderCcw
    border_laps: int = _FRESH.borderLaps
    mow_exclusions_border: bool = _FRESH.mowExclusionsBoder
    mow_exclusions_border_ccw: bool = _FRESH.mowExclusionsBorderCcw
    exclusions_border_laps: int = _FRESH.exclusionsBorderLaps
    clearance: float = 0.0
    swath: float = 0.0
    simplify: float = 0.01
    sources: Mapping[str, str] = field(default_factory=dict, compare=False)

    def __post_init__(self) -> None:
        for info in INFO:
            value = _check_value(info, getattr(self, info.name), info.name)
            object.__setattr__(self, info.name, value)
        unknown = set(self.sources) - set(BY_NAME)
        if unknown:
            raise SettingsError(f"sources names unknown settings: {', '.join(sorted(unknown))}")
        object.__setattr__(self, "sources", dict(self.sources))

    @classmethod
    def from_file(
        cls, values: Any, *, source: str = "file", labels: Mapping[str, str] | None = None
    ) -> "Settings":
        """Settings from a mapping under the file keys (``distanceToBorder`` ...).

        ``angle`` is in degrees.  Errors name a value ``setting "key"``, or
        ``labels[key]`` where given.
        """
        return cls().updated(check_settings(values, source="setting", labels=labels), source=source)

    def updated(self, values: Mapping[str, Any], *, source: str = "python") -> "Settings":
        """A copy with ``values`` (file keys or attribute names) put in, marked ``source``."""
        changes: dict[str, Any] = {}
        for key, value in values.items():
            info = BY_KEY.get(ALIASES.get(key, key)) or BY_NAME.get(key)
            if info is None:
                raise SettingsError(f"unknown setting {json.dumps(key)}; known: {', '.join(FIELDS)}")
            changes[info.name] = value
        sources = {**self.sources, **{name: source for name in changes}}
        return dataclasses.replace(self, sources=sources, **changes)

    def source(self, name: str) -> str:
        """Where the value of attribute ``name`` came from (``"default"`` if nowhere)."""
        if name not in BY_NAME:
            raise KeyError(name)
        return self.sources.get(name, DEFAULT)

    def to_dict(self) -> dict[str, Any]:
        """The values under the file keys, angle in degrees (JSON-ready)."""
        return {info.key: getattr(self, info.name) for info in INFO}

    def to_path_settings(self) -> sw.PathSettings:
        """The module's ``PathSettings`` (the angle in radians)."""
        settings = sw.PathSettings()
        for info in INFO:
            if info.kind == "length":
                continue
            value = getattr(self, info.name)
            setattr(settings, info.key, math.radians(value) if info.kind == "angle" else value)
        return settings

    @property
    def swath_width(self) -> float:
        """The mower's cutting width in metres: ``swath``, else ``offset``."""
        return self.swath if self.swath > 0 else self.offset

    def __str__(self) -> str:
        lines = []
        for info in INFO:
            value = getattr(self, info.name)
            unit = {"number": " m", "length": " m", "angle": "°"}.get(info.kind, "")
            lines.append(f"{info.name} = {value!r}{unit} ({self.source(info.name)})")
        return "\n".join(lines)


def check_settings(
    values: Any, source: str = "setting", labels: Mapping[str, str] | None = None
) -> dict[str, Any]:
    """Check a mapping of settings by file key and return a clean copy.

    Error messages call a value ``source "key"``, or ``labels[key]`` where
    given.
    """
    if not isinstance(values, Mapping):
        raise SettingsError('"settings" must be an object of PathSettings fields')
    clean: dict[str, Any] = {}
    for given, value in values.items():
        key: str = ALIASES.get(given) or given
        info = BY_KEY.get(key)
        if info is None:
            raise SettingsError(f"unknown {source} {json.dumps(given)}; known: {', '.join(FIELDS)}")
        label = (labels or {}).get(key) or f'{source} "{given}"'
        checked = _check_value(info, value, label)
        if key in clean and clean[key] != checked:
            raise SettingsError(f'{source} "{given}" and "{key}" are one setting with two values; keep one')
        clean[key] = checked
    return clean


def _check_value(info: SettingInfo, value: Any, label: str) -> Any:
    shown = json.dumps(value) if _jsonable(value) else repr(value)
    kind = info.kind
    if kind == "text":
        if not isinstance(value, str):
            raise SettingsError(f"{label} must be a string, got {shown}")
        if value not in PATTERNS:
            raise SettingsError(f'{label} must be one of {", ".join(PATTERNS)}, got {shown}')
        return value
    if kind == "flag":
        if not isinstance(value, bool):
            raise SettingsError(f"{label} must be true or false, got {shown}")
        return value
    if kind == "count":
        if isinstance(value, bool) or not isinstance(value, numbers.Integral):
            raise SettingsError(f"{label} must be a whole number, got {shown}")
        count = int(value)
        if not 0 <= count <= MAX_LAPS:
            raise SettingsError(f"{label} must be between 0 and {MAX_LAPS}, got {count}")
        return count
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise SettingsError(f"{label} must be a number, got {shown}")
    number = float(value)
    if not math.isfinite(number):
        raise SettingsError(f"{label} must be a finite number, got {shown}")
    if info.name == "offset" and number < MIN_OFFSET_M:
        raise SettingsError(
            f"{label} (the lane spacing in metres) must be at least {MIN_OFFSET_M}, got {number:g}"
        )
    if (info.name == "distance_to_border" or info.kind == "length") and number < 0:
        raise SettingsError(f"{label} must not be negative, got {number:g}")
    return number


def _jsonable(value: Any) -> bool:
    try:
        json.dumps(value)
    except (TypeError, ValueError):
        return False
    return True


def fill_defaults(settings: Settings, has_obstacles: bool) -> Settings:
    """The settings with these tools' own defaults where nobody set a value.

    ``distanceToBorder``: as far as the laps reach, so that lanes and laps
    leave no band between them (0 without laps); the module's own default
    of 1.5 m leaves one round every obstacle.
    """
    if settings.source("distance_to_border") != DEFAULT:
        return settings
    distance = no_band_distance(settings.to_dict(), settings.swath_width, has_obstacles)
    return settings.updated({"distance_to_border": distance}, source="command default")
