"""The ``swathwise`` console command.

    swathwise plan GARDEN.geojson [-o ROUTE.geojson] [--picture FILE.svg|.png]
                   [--html PAGE.html] [--json] [--speed M_PER_S] [--turn-time S]
                   [--start X Y] [setting flags]

Every planning setting can be given as a flag and then overrides the garden
file's ``settings``.  ``--angle`` is in degrees (the file's ``angle`` and the
API's are in radians), or ``auto`` (searched) or ``edge`` (along the lawn's
longest edge); ``--start`` is in the garden file's coordinates.
"""

from __future__ import annotations

import argparse
import json
import math
import sys
import time
from typing import Any, Sequence

from .garden import GardenError, load_garden
from .settings import FIELDS, PATTERNS, TOOL_FIELDS, SettingsError, check_settings

EXIT_ERROR = 1


class _OptionError(Exception):
    """A command-line value that the planner cannot use."""

# Flag name, PathSettings field, help text.
_NUMBERS = (
    ("--offset", "offset", "lane spacing in metres"),
    ("--distance-to-border", "distanceToBorder", "distance in metres that the lanes keep from the edges"),
)
_COUNTS = (
    ("--border-laps", "borderLaps", "number of laps along the perimeter"),
    ("--exclusions-border-laps", "exclusionsBorderLaps", "number of laps around each obstacle"),
)
_FLAGS = (
    ("--mow-area", "mowArea", "fill the area with lanes"),
    ("--mow-border", "mowBorder", "drive laps along the perimeter"),
    ("--mow-border-ccw", "mowBorderCcw", "perimeter laps counter-clockwise (default clockwise)"),
    ("--mow-exclusions-border", "mowExclusionsBoder", "drive laps around the obstacles"),
    ("--mow-exclusions-border-ccw", "mowExclusionsBorderCcw", "obstacle laps counter-clockwise (default clockwise)"),
)


def _positive(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not math.isfinite(value) or value <= 0:
        raise argparse.ArgumentTypeError(f"must be a positive number: {text!r}")
    return value


def _finite(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"must be a finite number: {text!r}")
    return value


def _angle(text: str) -> float | str:
    if text in ("auto", "edge"):
        return text
    try:
        return _finite(text)
    except argparse.ArgumentTypeError:
        raise argparse.ArgumentTypeError(f"not a number of degrees, auto or edge: {text!r}") from None


def _count(text: str) -> int:
    try:
        return int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="swathwise", description="Mowing routes for robotic lawn mowers.")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    plan = commands.add_parser("plan", help="plan a garden file and summarise the route",
                               description="Plan a garden file (GeoJSON) and summarise the route.")
    plan.add_argument("garden", help="garden file (GeoJSON FeatureCollection)")
    plan.add_argument("-o", "--output", metavar="ROUTE", help="write the route as GeoJSON")
    plan.add_argument("--picture", metavar="FILE", help="draw the plan (PNG if FILE ends in .png, else SVG)")
    plan.add_argument("--html", metavar="PAGE", help="write an interactive page (one self-contained HTML file)")
    plan.add_argument("--json", action="store_true", help="print the summary as JSON")
    plan.add_argument("--speed", type=_positive, default=0.3, metavar="M_PER_S",
                      help="mowing speed for the time estimate and the angle search (default 0.3 m/s)")
    plan.add_argument("--turn-time", type=_finite, default=3.0, metavar="S",
                      help="seconds the mower needs to turn at each lane end, for the angle search (default 3)")
    plan.add_argument("--start", type=_finite, nargs=2, metavar=("X", "Y"),
                      help="start position in the garden file's coordinates (lon lat, or metres)")

    group = plan.add_argument_group("planning settings (override the garden file)")
    group.add_argument("--pattern", choices=PATTERNS, help="lane pattern")
    for flag, name, text in _NUMBERS:
        group.add_argument(flag, dest=name, type=_finite, metavar="M", help=text)
    group.add_argument("--angle", dest="angle_degrees", type=_angle, metavar="DEG|auto|edge",
                       help="lane direction in degrees, counter-clockwise from east; auto: the angle "
                            "with the shortest estimated job time; edge: along the lawn's longest edge")
    group.add_argument("--clearance", dest="clearance", type=_finite, metavar="M",
                       help="distance the mower's centre keeps from every outline (default 0; "
                            "half the mower's width for outlines drawn at the real edge)")
    group.add_argument("--swath", dest="swath", type=_finite, metavar="M",
                       help="the mower's cutting width (default: the lane spacing --offset)")
    group.add_argument("--simplify", dest="simplify", type=_finite, metavar="M",
                       help="tolerance for simplifying recorded outlines (default 0.01; 0: off)")
    for flag, name, text in _COUNTS:
        group.add_argument(flag, dest=name, type=_count, metavar="N", help=text)
    for flag, name, text in _FLAGS:
        group.add_argument(flag, dest=name, action=argparse.BooleanOptionalAction, help=text)
    return parser


def _overrides(args: argparse.Namespace) -> dict[str, Any]:
    names = [*FIELDS, *TOOL_FIELDS]
    values = {name: getattr(args, name) for name in names if getattr(args, name, None) is not None}
    if isinstance(args.angle_degrees, float):
        values["angle"] = math.radians(args.angle_degrees)
    labels = {name: flag for flag, name, _ in _NUMBERS + _COUNTS + _FLAGS}
    labels.update(angle="--angle", pattern="--pattern", clearance="--clearance", swath="--swath",
                  simplify="--simplify")
    return check_settings(values, source="option", labels=labels)


def _run_plan(args: argparse.Namespace) -> int:
    # Imported here so that argument errors come back quickly.
    from .pipeline import make_plan
    from .plan import format_summary, summarise

    try:
        overrides = _overrides(args)
    except SettingsError as exc:
        raise _OptionError(str(exc)) from None
    garden = load_garden(args.garden)
    start = None
    if args.start is not None:
        if garden.frame.lonlat and not (-180 <= args.start[0] <= 180 and -90 <= args.start[1] <= 90):
            raise _OptionError("--start: this garden is in lon/lat; give longitude and latitude")
        start = garden.frame.to_local([(args.start[0], args.start[1])])[0]
        if not garden.contains(start):
            garden.warnings.append("--start lies outside the lawn")
    for warning in garden.warnings:
        print(f"swathwise: warning: {warning}", file=sys.stderr)
    if args.turn_time < 0:
        raise _OptionError("--turn-time must not be negative")
    angle = args.angle_degrees if isinstance(args.angle_degrees, str) else None
    plan = make_plan(garden, overrides, start=start, angle=angle, speed=args.speed, turn_time=args.turn_time)
    for note in plan.notes:
        print(f"swathwise: warning: {note}", file=sys.stderr)
    summary = summarise(plan, speed=args.speed)
    if args.output:
        from .route import write_route

        write_route(args.output, plan, summary)
    began = time.perf_counter()
    if args.picture:
        from .picture import write_picture

        write_picture(args.picture, plan, summary)
    if args.html:
        from .page import write_page

        write_page(args.html, plan, summary)
    if args.picture or args.html:
        summary["drawingSeconds"] = time.perf_counter() - began
    if args.json:
        print(json.dumps(summary, indent=2))
    else:
        print(format_summary(summary))
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        return _run_plan(args)
    except _OptionError as exc:
        print(f"swathwise: error: {exc}", file=sys.stderr)
    except (GardenError, SettingsError) as exc:
        print(f"swathwise: error: {args.garden}: {exc}", file=sys.stderr)
    except OSError as exc:
        name = exc.filename or ""
        print(f"swathwise: error: {name}: {exc.strerror or exc}", file=sys.stderr)
    return EXIT_ERROR


if __name__ == "__main__":
    sys.exit(main())
