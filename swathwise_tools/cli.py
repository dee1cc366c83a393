"""The ``swathwise`` console command.

    swathwise plan GARDEN [-o ROUTE.geojson|.gpkg|.parquet|-] [--picture FILE.png|.svg|.pdf|.jpg]
                   [--json] [--speed M_PER_S] [--start X Y] [setting flags]
    swathwise route GARDEN --from X Y --to X Y [-o WAY.geojson|-] [--json] [--angle DEG]

Every planning setting can be given as a flag and then overrides the garden
file's ``settings``.  Angles are in degrees, in files and flags alike;
``--start``, ``--from`` and ``--to`` are in the garden file's coordinates.
Exit codes: see :data:`EXIT_CODES`; ``route`` exits with 1 when the planner
finds no way.
"""

from __future__ import annotations

import argparse
import gc
import json
import math
import os
import sys
import time
from typing import Any, Callable, Sequence

from .frame import CrsError
from .garden import GardenError, load_garden
from .settings import INFO, PATTERNS, Settings, SettingsError, check_settings

EXIT_OK = 0
EXIT_ERROR = 1
EXIT_USAGE = 2
EXIT_NOTHING_REACHED = 3
EXIT_GIVEN_UP = 4
EXIT_CODES = {
    EXIT_OK: "planned; the route reaches every piece",
    EXIT_ERROR: "nothing planned: an unusable garden, option or file (one error line says which)",
    EXIT_USAGE: "the command line itself is wrong (argparse's usage message)",
    EXIT_NOTHING_REACHED: "planned, but the route reaches no piece (or there is none); the first warning says "
                          "why; outputs still written",
    EXIT_GIVEN_UP: "planned, but some pieces were given up; the first warning says why; outputs still written",
}

EPILOG = """\
garden file:
  GeoJSON FeatureCollection ("-" reads it from standard input; GeoPackage,
  Shapefile, KML through geopandas: pip install 'swathwise[gis]'). Each
  feature has a "role": lawn (one Polygon; holes become obstacles),
  obstacle (Polygon, MultiPolygon, or Point with "radius" in metres),
  mowArea (Polygon), virtualWire, dockingWire (LineString), start (Point).
  The coordinate system is the collection's "crs" property or the top-level
  "crs" member GIS tools write: an EPSG code ("EPSG:25832"), URN, OGC name,
  WKT, or "local-metres" for plain metres. Without one, coordinates are
  longitude/latitude (RFC 7946). "settings" in the collection's properties
  holds planning settings by the names in the summary (angle in degrees).
  A start up to {outside:g} m outside the lawn is driven in from; one inside
  an obstacle, up to {inside:g} m from free lawn, is driven out of it.

example:
  swathwise plan examples/back_garden.geojson -o route.geojson --picture plan.png

exit codes:
{codes}
"""


# A --start that looks like longitude/latitude and lies this far from a
# projected garden's lawn was meant as longitude/latitude.
LATLON_FAR_M = 1000.0


class _OptionError(Exception):
    """A command-line value that the planner cannot use."""


def _number(text: str, *, positive: bool = False) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not math.isfinite(value) or (positive and value <= 0):
        raise argparse.ArgumentTypeError(f"must be a {'positive' if positive else 'finite'} number: {text!r}")
    return value


def _positive(text: str) -> float:
    return _number(text, positive=True)


def _finite(text: str) -> float:
    return _number(text)


def _not_negative(text: str) -> float:
    value = _finite(text)
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative: {text!r}")
    return value


def _angle(text: str) -> float | str:
    if text in ("auto", "edge"):
        return text
    try:
        return _finite(text)
    except argparse.ArgumentTypeError:
        raise argparse.ArgumentTypeError(f"not degrees, auto or edge: {text!r}") from None


def _count(text: str) -> int:
    try:
        return int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None


def _version() -> str:
    import swathwise as sw

    try:
        from importlib.metadata import version

        package = version("swathwise")
    except Exception:  # not installed as a distribution
        package = "unknown"
    return f"swathwise {package} (planner {sw.PathService().getVersion()})"


class _VersionAction(argparse._VersionAction):
    """``--version``, with the versions looked up only when it is given."""

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: Any,
                 option_string: str | None = None) -> None:
        self.version = _version()
        super().__call__(parser, namespace, values, option_string)


def build_parser() -> argparse.ArgumentParser:
    """The command's argument parser."""
    from .plan import MAX_START_INSIDE_M, MAX_START_OUTSIDE_M

    parser = argparse.ArgumentParser(prog="swathwise", description="Mowing routes for robotic lawn mowers.")
    parser.add_argument("--version", action=_VersionAction)
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND", parser_class=_Parser)
    codes = "\n".join(f"  {code}  {text}" for code, text in EXIT_CODES.items())
    plan = commands.add_parser(
        "plan", help="plan a garden and summarise the route",
        description="Plan a garden and summarise the route.",
        epilog=EPILOG.format(outside=MAX_START_OUTSIDE_M, inside=MAX_START_INSIDE_M, codes=codes),
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    plan.add_argument("garden", help='garden file (GeoJSON, see below), or "-" for standard input')
    plan.add_argument("-o", "--output", metavar="ROUTE",
                      help="write the route; the suffix picks the format: .geojson (or .json), .gpkg "
                           '(a layer per kind of feature and a summary table) or .parquet (GeoParquet); '
                           '"-": GeoJSON to standard output, the summary then goes to standard error')
    plan.add_argument("--picture", metavar="FILE", help="draw the plan; the suffix picks the format: "
                      ".png, .svg, .pdf or .jpg")
    plan.add_argument("--html", metavar="PAGE", help="write an interactive page of the plan (one "
                      "self-contained HTML file: zoom, pan, hover, play the route)")
    plan.add_argument("--json", action="store_true", help="print the summary as JSON")
    plan.add_argument("--start", type=_finite, nargs=2, metavar=("X", "Y"),
                      help="start position in the garden file's coordinates (default: the file's start, "
                           "else the docking wire's first point, else a point on the lawn)")
    _session_options(plan)
    _add_planning_flags(plan)
    _add_batch_command(commands)
    _add_route_parser(commands)
    return parser


def _add_planning_flags(parser: argparse.ArgumentParser) -> None:
    """The time-estimate flags and one flag per planning setting."""
    from .angle import DEFAULT_TURN_TIME_S
    from .summary import DEFAULT_SPEED

    parser.add_argument("--speed", type=_positive, default=DEFAULT_SPEED, metavar="M_PER_S",
                        help=f"mowing speed for the time estimate and --angle auto (default: {DEFAULT_SPEED} m/s)")
    parser.add_argument("--turn-time", type=_not_negative, default=DEFAULT_TURN_TIME_S, metavar="S",
                        help="seconds the mower needs to turn at each lane end, for the job time and --angle auto "
                             f"(default: {DEFAULT_TURN_TIME_S:g})")

    defaults = Settings()
    group = parser.add_argument_group("planning settings (override the garden file)")
    for info in INFO:
        default = getattr(defaults, info.name)
        shown = {True: "on", False: "off"}.get(default, default) if isinstance(default, bool) else default
        text = f"{info.text} (default: {shown})"
        if info.name == "distance_to_border":
            text = (f"{info.text} (default: as far as the laps reach, so that lanes and laps leave no "
                    "unmown band; 0.75 with the other defaults, 0 without laps)")
        if info.kind == "text":
            group.add_argument(info.flag, dest=info.key, choices=PATTERNS, help=text)
        elif info.kind == "angle":
            group.add_argument(info.flag, dest=info.key, type=_angle, metavar="DEG|auto|edge",
                               help=f"{text}; auto: the angle with the shortest estimated job time "
                                    "(see --speed, --turn-time); edge: along the lawn's longest edge")
        elif info.kind in ("number", "length"):
            group.add_argument(info.flag, dest=info.key, type=_finite, metavar="M", help=text)
        elif info.kind == "count":
            group.add_argument(info.flag, dest=info.key, type=_count, metavar="N", help=text)
        else:
            group.add_argument(info.flag, dest=info.key, action=argparse.BooleanOptionalAction, help=text)


# --- swathwise batch ---------------------------------------------------------------

BATCH_EXIT_SOME = 5
BATCH_EPILOG = """\
inputs:
  Garden files (as for "swathwise plan"), folders of them (.geojson, .json,
  .gpkg, .parquet, .shp, .kml, .fgb; not recursive), or GeoPackage and
  GeoParquet tables with a "garden" column: the rows of one garden id and
  the usual "role" column make one garden.

output folder:
  routes/GARDEN.geojson  each garden's route
  rows/GARDEN.json       each garden's summary row (written last)
  summary.csv, summary.parquet
                         one row per garden: {columns}
  A rerun with the same options skips every garden whose row is there.

exit codes:
  0  every garden planned with exit code 0
  1  nothing planned: an unusable input or option, or every garden failed
  2  the command line itself is wrong (usage message)
  5  some gardens have another exit code (see the summary's exit_code, error)
"""


class _Parser(argparse.ArgumentParser):
    """An argument parser whose epilog may be made only when its help is shown."""

    epilog_made_by: Callable[[], str] | None = None

    def format_help(self) -> str:
        if self.epilog_made_by is not None:
            self.epilog = self.epilog_made_by()
            self.epilog_made_by = None
        return super().format_help()


def _batch_epilog() -> str:
    from .batch import COLUMNS

    return BATCH_EPILOG.format(columns=", ".join(COLUMNS))


def _add_batch_command(commands: Any) -> None:
    batch = commands.add_parser(
        "batch", help="plan many gardens, locally or on a Dask cluster",
        description="Plan many gardens: each gets its route file and a row in the summary table.",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    # The batch module (worker processes) is loaded only for its help or its run.
    batch.epilog_made_by = _batch_epilog
    batch.add_argument("inputs", nargs="+", metavar="INPUT",
                       help="garden file, folder of garden files, or table with a garden column")
    batch.add_argument("--out", required=True, metavar="DIR", help="folder for routes and summaries")
    where = batch.add_mutually_exclusive_group()
    where.add_argument("--workers", type=_count, metavar="N",
                       help=f"local worker processes (default: the number of cores, {os.cpu_count()})")
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="plan on this Dask scheduler (tcp://host:8786) instead; needs "
                            "pip install 'swathwise[fleet]', and the inputs and DIR at the same paths "
                            "on the workers")
    _add_planning_flags(batch)


def _run_batch(args: argparse.Namespace) -> int:
    from .batch import BatchError, plan_many

    if args.workers is not None and args.workers < 1:
        raise _OptionError(f"--workers must be at least 1, got {args.workers}")
    angle = args.angle if isinstance(args.angle, str) else None
    try:
        result = plan_many(args.inputs, args.out, settings=_overrides(args), angle=angle,
                           speed=args.speed, turn_time=args.turn_time, workers=args.workers,
                           scheduler=args.scheduler)
    except BatchError as exc:
        raise _OptionError(str(exc)) from None
    for row in result.rows:
        if row["error"]:
            print(f"swathwise: error: {row['garden']}: {row['error']}", file=sys.stderr)
    for note in result.notes:
        print(f"swathwise: warning: {note}", file=sys.stderr)
    codes = [row["exit_code"] for row in result.rows]
    print(f"{len(codes)} gardens: {result.planned} planned now, {result.skipped} already done; "
          f"{codes.count(EXIT_OK)} complete, {codes.count(EXIT_GIVEN_UP)} with pieces given up, "
          f"{codes.count(EXIT_NOTHING_REACHED)} reaching nothing, {result.failed} failed "
          f"({result.seconds:.1f} s)")
    print("summary: " + ", ".join(str(path) for path in result.summary_files))
    if not codes or result.failed == len(codes):
        return EXIT_ERROR
    return EXIT_OK if codes.count(EXIT_OK) == len(codes) else BATCH_EXIT_SOME


def _session_options(plan: argparse.ArgumentParser) -> None:
    from .sessions import DEFAULT_CHARGE_MIN, DEFAULT_RESERVE

    group = plan.add_argument_group("the dock and the battery")
    group.add_argument("--return", dest="return_home", action=argparse.BooleanOptionalAction, default=True,
                       help="end the route with the safe way back to the start, the dock (default: on; "
                            "--no-return ends at the last piece)")
    group.add_argument("--battery", type=_positive, metavar="MIN",
                       help="split the job into sessions of at most MIN minutes, each from the dock and back")
    group.add_argument("--reserve", type=_not_negative, default=100 * DEFAULT_RESERVE, metavar="PERCENT",
                       help="share of a charge kept in hand when turning home "
                            f"(default: {100 * DEFAULT_RESERVE:g} %%)")
    group.add_argument("--charge", type=_not_negative, default=DEFAULT_CHARGE_MIN, metavar="MIN",
                       help=f"minutes of charging between sessions (default: {DEFAULT_CHARGE_MIN:g})")


def _add_route_parser(commands: Any) -> None:
    route = commands.add_parser(
        "route", help="the planner's safe way between two points of the lawn",
        description="The planner's own transit between two points of the lawn: the same search and "
                    "line-of-sight rules as the transits inside a plan (never through an obstacle, "
                    "along the virtual wire where it can). Exit code 1 with one error line when "
                    "there is no way.",
    )
    route.add_argument("garden", help='garden file (as for "plan"), or "-" for standard input')
    route.add_argument("--from", dest="start", type=_finite, nargs=2, metavar=("X", "Y"), required=True,
                       help="where the way starts, in the garden file's coordinates")
    route.add_argument("--to", dest="target", type=_finite, nargs=2, metavar=("X", "Y"), required=True,
                       help="where the way ends, in the garden file's coordinates")
    route.add_argument("-o", "--output", metavar="WAY",
                       help='write the way as GeoJSON ("-": standard output; the summary then goes to '
                            "standard error)")
    route.add_argument("--json", action="store_true", help="print the summary as JSON")
    route.add_argument("--angle", type=_finite, metavar="DEG",
                       help="lane angle of the plan whose transits the way matches (default: the "
                            "garden file's setting)")


def _file_point(garden: Any, xy: Sequence[float], option: str) -> tuple[float, float]:
    """A position given in the garden file's coordinates, in the planning frame."""
    x, y = xy
    if garden.frame.is_geographic and not (-180 <= x <= 180 and -90 <= y <= 90):
        raise _OptionError(f"{option}: this garden is in longitude/latitude; give longitude and latitude")
    point = garden.frame.to_local([(x, y)])[0]
    return (float(point[0]), float(point[1]))


def _run_route(args: argparse.Namespace) -> int:
    from .plan import NoRouteError, route_between
    from .route import way_summary, write_way

    to_stdout = args.output == "-"
    if to_stdout and args.json:
        raise _OptionError("--json and -o - would both write to standard output; choose one")
    garden = load_garden(args.garden)
    a = _file_point(garden, args.start, "--from")
    b = _file_point(garden, args.target, "--to")
    began = time.perf_counter()
    try:
        way = route_between(garden, a, b, angle=args.angle)
    except NoRouteError as exc:
        if exc.point is None:
            raise
        option, (x, y) = ("--from", args.start) if exc.point == "start" else ("--to", args.target)
        raise _OptionError(f"{option} {x:g} {y:g}: {exc}") from None
    summary = way_summary(garden, way, time.perf_counter() - began,
                          garden.settings.angle if args.angle is None else args.angle)
    if args.output:
        write_way(args.output, garden, way, summary)
    if args.json:
        text = json.dumps(summary, indent=2)
    else:
        text = (f"route: {summary['points']} points, {summary['length']:.2f} m from "
                f"{tuple(summary['from'])} to {tuple(summary['to'])} "
                f"(lane angle {summary['angle']:g}°, {summary['seconds'] * 1000:.1f} ms)")
    print(text, file=sys.stderr if to_stdout else sys.stdout)
    return EXIT_OK


def _overrides(args: argparse.Namespace) -> dict[str, Any]:
    given = {info.key: getattr(args, info.key) for info in INFO}
    # "--angle auto" and "--angle edge" are resolved by the planning pipeline.
    values = {key: value for key, value in given.items()
              if value is not None and not (key == "angle" and isinstance(value, str))}
    labels = {info.key: info.flag for info in INFO}
    try:
        return check_settings(values, source="option", labels=labels)
    except SettingsError as exc:
        raise _OptionError(str(exc)) from None


def _start(garden: Any, x: float, y: float) -> tuple[float, float]:
    """``--start X Y`` (the garden's coordinates) in the planning frame."""
    frame = garden.frame
    if frame.is_geographic and not (-180 <= x <= 180 and -90 <= y <= 90):
        raise _OptionError(f"--start {x:g} {y:g}: the garden is in longitude/latitude; give longitude "
                           "and latitude")
    start: tuple[float, float] = frame.to_local([(x, y)])[0]
    if not frame.is_geographic and -180 <= x <= 180 and -90 <= y <= 90:
        far = math.hypot(*start) - max(math.hypot(px, py) for px, py in garden.lawn)
        if far > LATLON_FAR_M:
            raise _OptionError(
                f"--start {x:g} {y:g} looks like longitude/latitude, but the garden is in {frame.crs_name} "
                f"and that point lies {far / 1000:,.1f} km from the lawn; give --start in {frame.crs_name}")
    return start


def _run_plan(args: argparse.Namespace) -> int:
    # Imported here so that argument errors come back quickly; matplotlib
    # (through .picture) only when a picture is asked for.
    from .pipeline import make_plan
    from .summary import format_summary, summarise

    if args.picture:
        from .picture import picture_format

        try:
            picture_format(args.picture)
        except ValueError as exc:
            raise _OptionError(f"--picture: {exc}") from None
    if args.output:
        from .route import route_format

        try:
            route_format(args.output)
        except ValueError as exc:
            raise _OptionError(f"-o: {exc}") from None
    to_stdout = args.output == "-"
    if to_stdout and args.json:
        raise _OptionError("--json and -o - would both write to standard output; choose one")
    overrides = _overrides(args)
    garden = load_garden(args.garden)
    settings = garden.settings.updated(overrides, source="option")
    start = None
    if args.start is not None:
        start = _start(garden, *args.start)
    angle = args.angle if isinstance(args.angle, str) else None
    if args.reserve >= 100:
        raise _OptionError("--reserve: the share kept must be below 100 %")
    plan = make_plan(garden, settings, start=start, angle=angle, speed=args.speed, turn_time=args.turn_time,
                     return_home=args.return_home)
    sessions = None
    if args.battery is not None:
        sessions = plan.sessions(args.battery, reserve=args.reserve / 100, charge_min=args.charge)
    summary = summarise(plan, speed=args.speed, sessions=sessions)
    reason = summary["unreached"]["reason"]
    if reason:
        # The first line says why the exit code is not 0.
        print(f"swathwise: warning: {reason}", file=sys.stderr)
    for line in garden.warnings + plan.warnings:
        print(f"swathwise: warning: {line}", file=sys.stderr)
    for line in garden.notes:
        print(f"swathwise: note: {line}", file=sys.stderr)
    if args.output:
        from .route import write_route

        write_route(args.output, plan, summary, sessions)
    began = time.perf_counter()
    if args.picture:
        from .picture import write_picture

        write_picture(args.picture, plan, summary, sessions)
    if args.html:
        from .page import write_page

        write_page(args.html, plan, summary, sessions)
    if args.picture or args.html:
        summary["drawingSeconds"] = time.perf_counter() - began
    text = json.dumps(summary, indent=2) if args.json else format_summary(summary)
    print(text, file=sys.stderr if to_stdout else sys.stdout)

    if not plan.reached:
        return EXIT_NOTHING_REACHED
    if plan.given_up:
        return EXIT_GIVEN_UP
    return EXIT_OK


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command; returns the exit code (see :data:`EXIT_CODES`)."""
    from .plan import PlanError
    from .sessions import SessionError

    parser = build_parser()
    args = parser.parse_args(argv)
    collecting = gc.isenabled()
    try:
        if args.command == "batch":
            return _run_batch(args)
        # One plan or way makes many small objects and few cycles: the cycle
        # collector would only sweep them over and over.
        gc.disable()
        if args.command == "route":
            return _run_route(args)
        return _run_plan(args)
    except _OptionError as exc:
        print(f"swathwise: error: {exc}", file=sys.stderr)
    except (GardenError, SettingsError, CrsError, PlanError, SessionError) as exc:
        garden = getattr(args, "garden", "")
        name = "standard input" if garden == "-" else garden
        print(f"swathwise: error: {name}: {exc}", file=sys.stderr)
    except OSError as exc:
        name = exc.filename or ""
        print(f"swathwise: error: {name}: {exc.strerror or exc}", file=sys.stderr)
    finally:
        if collecting:
            gc.enable()
    return EXIT_ERROR


if __name__ == "__main__":
    sys.exit(main())
