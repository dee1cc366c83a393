"""Planning a garden: the one place that calls the planner.

The planner is called once per plan, through the companion module
``_native``: it returns the same path and pieces as the module's
``computeFullTask`` and, with each piece, the stage that made it (area
lanes or rings, perimeter laps, obstacle laps).  :func:`route_between` asks
the same planner for its transit between two points.

A start off the free lawn (a dock on the edge, under a tree, on a fence
strip) is planned from the nearest free point, and the route begins with the
drive from the start to that point (see :mod:`.dock`).
"""

from __future__ import annotations

import math
import time
from concurrent.futures import Future, ThreadPoolExecutor
from dataclasses import dataclass, field
from functools import cached_property
from typing import Any, Callable, Mapping, Sequence

import shapely
from shapely.geometry import LineString, Point
from shapely.geometry import Polygon as ShapelyPolygon
from shapely.geometry.base import BaseGeometry

from .coverage import Coverage, find_gaps, mowing_lines
from .dock import MAX_START_INSIDE_M, MAX_START_OUTSIDE_M, StartError, find_entry
from .frame import XY, Coordinates, crs_label, crs_urn
from .garden import Garden
from .native import build_scene
from .pieces import (AREA, KINDS, OBSTACLE, PERIMETER, Piece, path_length, trace_pieces,
                     transit_stretches)
from .sessions import (DEFAULT_CHARGE_MIN, DEFAULT_RESERVE, Sessions, Way, safe_way,
                       session_features, split_sessions)
from .settings import Settings, fill_defaults

# The planner's kinds of pieces as the tools name them.
STAGE_KINDS = {"area_lane": AREA, "area_ring": AREA, "perimeter_lap": PERIMETER,
               "obstacle_lap": OBSTACLE}

__all__ = [
    "AREA", "PERIMETER", "OBSTACLE", "KINDS", "Piece", "Plan", "PlanError", "plan_garden",
    "trace_pieces", "MAX_START_OUTSIDE_M", "MAX_START_INSIDE_M", "NoRouteError", "route_between",
]

# Transit of up to this many lane spacings between two pieces is a turn.
TURN_FACTOR = 1.5
# Decimal places of coordinates in GeoJSON: about 0.1 mm either way.
GEOGRAPHIC_DIGITS = 9
PLANAR_DIGITS = 4


class PlanError(ValueError):
    """A garden that cannot be planned as asked; the message is one line."""


@dataclass
class Plan:
    """A planned route and its pieces, in the garden's planning frame (metres).

    Attributes:
        garden: the garden planned.
        settings: the settings used (angles in degrees).
        start: where the route starts (planning frame).
        path: the whole route as (x, y) points; its first point is ``start``.
        pieces: every mowing piece the planner made, reached or not.
        mowing: one flag per path segment, True where it mows a piece.
        seconds: time the planner took for the route, in seconds.
        entry: where the route enters the lawn when ``start`` lies outside it,
            else None.
        classified_by: ``"stage"``: every piece's kind comes from the stage
            of the planner that made it.
        warnings: what the user should know about this plan.
        home: the way back to ``start`` at the end of ``path``, or empty.

    ``to_geojson()``, ``__geo_interface__`` and ``to_geodataframe()`` give
    the route in the garden's source CRS.
    """

    garden: Garden
    settings: Settings
    start: XY
    path: list[XY]
    pieces: list[Piece]
    mowing: list[bool]
    seconds: float
    entry: XY | None = None
    classified_by: str = "stage"
    warnings: list[str] = field(default_factory=list)
    # Filled in by pipeline.make_plan: the outlines planned in when they
    # differ from the garden's (clearance, simplification), the angle search
    # (angle.AngleChoice), the outline report (outline.OutlineReport), and
    # the speed (m/s) and turn time (s) the search priced.
    prepared: Garden | None = None
    angle_search: Any = None
    outline: Any = None
    speed: float | None = None
    turn_time: float | None = None
    # The way back to the start that ends ``path`` (its first point is the
    # path's point before it), empty when the route ends at the last piece;
    # see sessions.with_way_home.
    home: list[XY] = field(default_factory=list)
    # Set by pipeline.make_plan: the coverage of every piece, swept while
    # the planner ordered them (see CoverageAhead).
    coverage_ahead: CoverageAhead | None = field(default=None, repr=False, compare=False)
    reached_ahead: CoverageAhead | None = field(default=None, repr=False, compare=False)
    # Set by pipeline.make_plan: the free lawn of the garden as drawn, made
    # while the planner works, for the reasons of given-up pieces
    # (reach.FreeLawn).
    free_lawn: Any = field(default=None, repr=False, compare=False)

    # --- coverage ------------------------------------------------------------------

    @cached_property
    def coverage(self) -> Coverage:
        """The mowable area that no mowing pass sweeps at the swath width
        (``settings.swath_width``); computed once, on first use."""
        return self._coverages[0]

    @cached_property
    def planned_coverage(self) -> Coverage:
        """As :attr:`coverage`, had every planned piece been reached: the
        mowable area that no pass of any piece, reached or given up, sweeps."""
        return self._coverages[1]

    @cached_property
    def _coverages(self) -> tuple[Coverage, Coverage]:
        mowable = self.garden.mowable_area()
        swath = self.settings.swath_width

        def ahead(sweep: CoverageAhead | None, lines: list[list[XY]]) -> Coverage | None:
            return sweep.result(mowable, lines, swath) if sweep is not None else None

        every = mowing_lines(self.pieces, False)
        planned = ahead(self.coverage_ahead, every)
        if all(p.reached for p in self.pieces):
            coverage = planned or find_gaps(mowable, every, swath)
            return coverage, coverage
        reached_lines = mowing_lines(self.pieces)
        reached = ahead(self.reached_ahead, reached_lines)
        if planned is not None or reached is not None:
            return (reached or find_gaps(mowable, reached_lines, swath),
                    planned or find_gaps(mowable, every, swath))
        # Both at once: the planned coverage is swept in a second thread
        # (the sweeping leaves the interpreter free).
        with ThreadPoolExecutor(max_workers=1) as pool:
            later = pool.submit(find_gaps, mowable, every, swath)
            return find_gaps(mowable, reached_lines, swath), later.result()

    def sweep_ahead(self) -> None:
        """Start sweeping the coverage of the reached pieces in a second
        thread, when some are given up (else the plan's coverage is that of
        every piece); :attr:`coverage` takes it if the pieces stay so.  Where
        the sweep of every piece also swept the pieces it guessed reached,
        and guessed right, that is taken instead."""
        if not all(p.reached for p in self.pieces):
            lines = mowing_lines(self.pieces)
            ahead = self.coverage_ahead
            if ahead is not None and ahead.guessed() == lines:
                self.reached_ahead = ahead
            else:
                self.reached_ahead = CoverageAhead.of_lines(lines, self.settings.swath_width,
                                                            self.garden.mowable_area())

    def segment_kinds(self) -> list[str]:
        """Per path segment: "mow", "turn" (a short hop between two pieces) or "transit"."""
        limit = TURN_FACTOR * float(self.settings.offset)
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

    def sessions(
        self,
        battery_min: float,
        *,
        reserve: float = DEFAULT_RESERVE,
        charge_min: float = DEFAULT_CHARGE_MIN,
        way: Way | None = None,
    ) -> Sessions:
        """The route split into battery sessions from the start (the dock).

        ``battery_min`` minutes per charge, ``reserve`` the share of a charge
        kept when turning home (default 0.1), ``charge_min`` minutes of
        charging between sessions (default 60); ``way(a, b)`` the safe way
        between two points, by default the planner's transit in the outlines
        planned.  Times at the plan's speed and turn time; see
        :mod:`swathwise_tools.sessions`.  Raises ``SessionError``.
        """
        if way is None:
            way = safe_way(self)
        return split_sessions(self, way, battery_min, reserve=reserve, charge_min=charge_min)

    # --- geometry (planning frame) ---------------------------------------------

    @property
    def path_line(self) -> LineString:
        """The whole route as a shapely LineString (empty without a path)."""
        return LineString(self.path) if len(self.path) >= 2 else LineString()

    def transit_stretches(self) -> list[list[XY]]:
        """Maximal runs of transit segments, each of non-zero length, in route order."""
        return transit_stretches(self.path, self.mowing)

    @property
    def transit_lines(self) -> list[LineString]:
        """The transit stretches as shapely LineStrings, in route order."""
        return [LineString(s) for s in self.transit_stretches()]

    @property
    def reached(self) -> list[Piece]:
        """The pieces the route mows, in route order."""
        return sorted((p for p in self.pieces if p.reached), key=lambda p: p.order or 0)

    @property
    def given_up(self) -> list[Piece]:
        """The pieces the route does not reach, in the planner's order."""
        return [p for p in self.pieces if not p.reached]

    # --- figures -----------------------------------------------------------------

    @property
    def length(self) -> float:
        """Length of the whole route in metres."""
        return path_length(self.path)

    @property
    def mowing_length(self) -> float:
        """Metres of the route that mow a piece."""
        return self._lengths()[1]

    @property
    def transit_length(self) -> float:
        """Metres of the route between pieces."""
        length, mowing = self._lengths()
        return length - mowing

    def _lengths(self) -> tuple[float, float]:
        """The route's length and the metres of it that mow, from one pass
        over its segments (each summed in route order)."""
        segments = list(map(math.dist, self.path, self.path[1:]))
        return sum(segments), sum(d for d, m in zip(segments, self.mowing) if m)

    def counts(self, pieces: Sequence[Piece] | None = None) -> dict[str, int]:
        """Pieces by kind (all pieces by default), with their ``total``."""
        counts = {kind: 0 for kind in KINDS}
        for piece in self.pieces if pieces is None else pieces:
            counts[piece.kind] += 1
        counts["total"] = sum(counts[kind] for kind in KINDS)
        return counts

    def figures(self) -> dict[str, Any]:
        """The plan's own figures: counts, lengths (m), planning time (s)."""
        length, mowing = self._lengths()
        return {
            "garden": self.garden.name,
            "crs": self.garden.frame.crs_name,
            "pieces": {
                "planned": self.counts(),
                "reached": self.counts(self.reached),
                "givenUp": self.counts(self.given_up),
            },
            "slicesLength": sum(p.length for p in self.pieces),
            "path": {
                "points": len(self.path),
                "length": length,
                "mowing": mowing,
                "transit": length - mowing,
                "home": path_length(self.home),
            },
            "planningSeconds": self.seconds,
            "settings": self.settings.to_dict(),
            "warnings": self.garden.warnings + self.warnings,
            "notes": list(self.garden.notes),
        }

    # --- GIS ---------------------------------------------------------------------

    def to_geojson(self, summary: Mapping[str, Any] | None = None,
                   sessions: Sessions | None = None, *,
                   coordinates: Coordinates | None = None) -> dict[str, Any]:
        """The route as a GeoJSON FeatureCollection in the garden's source CRS.

        One feature per piece (``role`` "piece": ``index``, ``kind``,
        ``order``, ``reached``, ``length`` in metres), one per transit stretch
        (``role`` "transit"), one for the whole path (``role`` "path"), the
        start (``role`` "start"), the unmown gaps (``role`` "gaps": a
        MultiPolygon, ``area`` in m²); ``summary`` (by default
        :meth:`figures`) is the collection's own ``properties.summary``, so
        the features stay one table of a few columns.  Lengths are true metres.
        With ``sessions`` (see :meth:`sessions`) there is one ``role``
        "session" line per session, and the pieces and transit stretches
        carry the ``session`` that drove them (see
        :func:`~swathwise_tools.sessions.session_features`).
        ``coordinates`` makes each geometry's coordinates from its rounded
        positions (see :meth:`.frame.LocalFrame.to_source_rounded_split`;
        default: ``[x, y]`` lists).
        """
        frame = self.garden.frame
        digits = GEOGRAPHIC_DIGITS if frame.is_geographic else PLANAR_DIGITS

        def line(points: Sequence[XY]) -> dict[str, Any]:
            return {"type": "LineString", "coordinates": frame.to_source_rounded(points, digits, coordinates)}

        def feature(properties: dict[str, Any], geometry: dict[str, Any] | None) -> dict[str, Any]:
            return {"type": "Feature", "properties": properties, "geometry": geometry}

        features: list[dict[str, Any]] = []
        if sessions is not None:
            features += session_features(self, sessions, line)
        else:
            lines = [line if len(line) >= 2 else line * 2 for line in (p.line for p in self.pieces)]
            stretches = self.transit_stretches()
            converted = frame.to_source_rounded_many(lines + stretches, digits, coordinates)
            for piece, points, coords in zip(self.pieces, lines, converted):
                features.append(feature(
                    {"role": "piece", "index": piece.index, "kind": piece.kind, "order": piece.order,
                     "reached": piece.reached, "length": piece.length},
                    {"type": "LineString", "coordinates": coords} if points else None,
                ))
            for order, (stretch, coords) in enumerate(zip(stretches, converted[len(lines):]), start=1):
                features.append(feature({"role": "transit", "order": order, "length": path_length(stretch)},
                                        {"type": "LineString", "coordinates": coords}))
        features.append(feature({"role": "path", "points": len(self.path), "length": self.length},
                                line(self.path) if len(self.path) >= 2 else None))
        gaps = self.coverage.gaps
        # Every ring of every gap (outline, then holes), converted in one go.
        rings, owner = shapely.get_rings(shapely.get_parts(gaps), return_index=True)
        converted = frame.to_source_rounded_split(shapely.get_coordinates(rings),
                                                  shapely.get_num_coordinates(rings).tolist(), digits,
                                                  coordinates)
        polygons: list[list[Any]] = [[] for _ in range(len(gaps.geoms))]
        for k, coords in zip(owner.tolist(), converted):
            polygons[k].append(coords)
        features.append(feature(
            {"role": "gaps", "area": self.coverage.gap_area, "swath": self.coverage.swath, "count": len(gaps.geoms)},
            {"type": "MultiPolygon", "coordinates": polygons} if not gaps.is_empty else None))
        (sx, sy), = frame.to_source([self.start])
        features.append(feature({"role": "start"},
                                {"type": "Point", "coordinates": [round(sx, digits), round(sy, digits)]}))

        collection: dict[str, Any] = {"type": "FeatureCollection"}
        crs = frame.crs
        if crs is not None and crs_label(crs) not in ("OGC:CRS84", "EPSG:4326"):
            collection["crs"] = {"type": "name", "properties": {"name": crs_urn(crs)}}
        properties: dict[str, Any] = {"crs": frame.crs_name}
        if self.garden.name:
            properties["name"] = self.garden.name
        properties["summary"] = dict(self.figures() if summary is None else summary)
        collection["properties"] = properties
        collection["features"] = features
        return collection

    @property
    def __geo_interface__(self) -> dict[str, Any]:
        """The route as GeoJSON (see :meth:`to_geojson`)."""
        return self.to_geojson()

    def to_geodataframe(self, summary: Mapping[str, Any] | None = None,
                        sessions: Sessions | None = None) -> Any:
        """The route as a geopandas GeoDataFrame (one row per feature of
        :meth:`to_geojson`) in the garden's CRS; needs geopandas."""
        try:
            import geopandas
        except ImportError:
            raise ImportError("Plan.to_geodataframe needs geopandas: pip install 'swathwise[gis]'") from None
        collection = self.to_geojson(summary, sessions)
        return geopandas.GeoDataFrame.from_features(collection["features"], crs=self.garden.frame.crs)


def flatten(values: Mapping[str, Any], prefix: str = "") -> dict[str, Any]:
    """Nested figures as scalar properties: ``{"path": {"length": 3}}`` gives
    ``{"path_length": 3}``; lists become text joined by ``"; "``."""
    flat: dict[str, Any] = {}
    for key, value in values.items():
        name = f"{prefix}{key}"
        if isinstance(value, Mapping):
            flat.update(flatten(value, f"{name}_"))
        elif isinstance(value, (list, tuple)):
            flat[name] = "; ".join(str(v) for v in value)
        else:
            flat[name] = value
    return flat


# --- planning --------------------------------------------------------------------


def resolve_settings(garden: Garden, settings: Settings | Mapping[str, Any] | None, *,
                     fill: bool = True) -> Settings:
    """A :class:`Settings` as given, or the garden's settings with ``settings``
    (a mapping of file keys or attribute names) put over them as ``"option"``;
    ``distanceToBorder``, where nobody set it, as far as the laps reach (see
    :func:`~swathwise_tools.settings.fill_defaults`) unless ``fill`` is false."""
    if not isinstance(settings, Settings):
        settings = garden.settings.updated(settings or {}, source="option")
    return fill_defaults(settings, bool(garden.obstacles)) if fill else settings


def plan_garden(
    garden: Garden,
    settings: Settings | Mapping[str, Any] | None = None,
    *,
    start: XY | None = None,
    drawn: Garden | None = None,
    on_planned: Callable[[list[XY], XY | None, Settings], None] | None = None,
) -> Plan:
    """Plan the garden.

    Args:
        garden: the garden (planning frame).
        settings: a :class:`Settings`, or a mapping of settings that override
            the garden's own (file keys or attribute names; angle in degrees).
        start: where the mower starts, in the planning frame; by default the
            garden's start point (see :meth:`Garden.default_start`).  Up to
            :data:`MAX_START_OUTSIDE_M` metres outside the lawn or
            :data:`MAX_START_INSIDE_M` inside an obstacle, the route first
            drives to the nearest free lawn point, with a warning.
        drawn: the garden as drawn, where ``garden`` holds its outlines
            prepared for planning; the start is judged against it.
        on_planned: called with the route's path, the entry point (or None)
            and the settings as soon as the planner returns, before the
            pieces are traced (the pipeline starts the way home there).

    ``distanceToBorder``, where the settings leave it unset, is as far as the
    laps reach, as in the command.  Raises :class:`PlanError` for a start
    farther off.
    """
    resolved = resolve_settings(garden, settings)
    start = start if start is not None else garden.default_start()
    try:
        found = find_entry(garden, start, drawn)
    except StartError as exc:
        raise PlanError(str(exc)) from None
    entry, warning = found.point, found.warning
    scene = build_scene(garden)

    began = time.perf_counter()
    planned = scene.plan(resolved.to_planner(), entry or start)
    seconds = time.perf_counter() - began

    path = planned.path
    if entry is not None and path:
        path.insert(0, start)
    if on_planned is not None:
        on_planned(path, entry, resolved)
    pieces = [Piece(i, STAGE_KINDS[kind], pts)
              for i, (kind, pts) in enumerate(zip(planned.kinds, planned.slices))]
    mowing = trace_pieces(path, pieces)
    return Plan(garden, resolved, start, path, pieces, mowing, seconds, entry=entry,
                warnings=[warning] if warning else [])


# The sweeps of CoverageAhead still running or not yet read (see
# settle_coverage).
_PENDING: set[Future[Any]] = set()


def keep_pending(future: Future[Any]) -> None:
    """Count ``future`` (work in a second thread) among those that
    :func:`settle_coverage` waits for."""
    _PENDING.add(future)
    future.add_done_callback(_PENDING.discard)


def settle_coverage() -> None:
    """Wait for every coverage being swept ahead: before forking worker
    processes (the angle search), so that no thread is inside a sweep then."""
    for future in list(_PENDING):
        future.exception()
        _PENDING.discard(future)


# Given the mowing lines of every slice, the lines of those a plan is
# expected to reach (in the same order), or None for no guess.
ReachGuess = Callable[[list[list[XY]]], "list[list[XY]] | None"]


class CoverageAhead:
    """A coverage swept in a second thread while the interpreter goes on
    (sweeping leaves it free), and taken only for the area, lines and swath
    it was swept for.  :meth:`of_slices`: every piece a plan lays, while the
    planner orders them (the slices come from the companion module without
    ordering, the same slices bit for bit): where every piece is reached it
    is the plan's coverage, else its planned coverage; with a ``guess`` of
    the pieces the plan will reach, theirs too (the plan's coverage, if the
    guess is right).  :meth:`of_lines`: given lines (the reached pieces',
    while the route is finished)."""

    def __init__(self, mowable: BaseGeometry, swath: float, lines: Callable[[], list[list[XY]]],
                 guess: ReachGuess | None = None) -> None:
        self._mowable = mowable
        self._swath = swath
        self._guessed: Future[list[list[XY]] | None] = Future()
        self._pool = ThreadPoolExecutor(max_workers=1)
        self._future = self._pool.submit(self._sweep, lines, guess)
        self._pool.shutdown(wait=False)
        keep_pending(self._future)

    @classmethod
    def of_slices(cls, garden: Garden, settings: Settings, mowable: BaseGeometry,
                  guess: ReachGuess | None = None) -> CoverageAhead:
        """The coverage of every slice that planning ``garden`` with
        ``settings`` lays, and of those ``guess`` expects reached."""
        values = settings.to_planner()

        def lines() -> list[list[XY]]:
            slices = build_scene(garden).slices(values).slices
            return [list(s) + list(s)[:1] if len(s) > 2 else list(s) for s in slices]

        return cls(mowable, settings.swath_width, lines, guess)

    @classmethod
    def of_lines(cls, lines: list[list[XY]], swath: float, mowable: BaseGeometry) -> CoverageAhead:
        """The coverage of these mowing lines (see coverage.mowing_lines)."""
        return cls(mowable, swath, lambda: lines)

    def _sweep(self, lines: Callable[[], list[list[XY]]],
               guess: ReachGuess | None) -> list[tuple[list[list[XY]], Coverage]]:
        try:
            swept = lines()
        except BaseException:
            self._guessed.set_result(None)
            raise
        try:
            guessed = guess(swept) if guess is not None else None
        except Exception:  # a guess that fails is no guess: the reached pieces are swept later
            guessed = None
        self._guessed.set_result(guessed)
        done = [(swept, find_gaps(self._mowable, swept, self._swath))]
        if guessed is not None:
            done.append((guessed, find_gaps(self._mowable, guessed, self._swath)))
        return done

    def guessed(self) -> list[list[XY]] | None:
        """The lines of the pieces guessed reached, once guessed (None for no guess)."""
        return self._guessed.result()

    def result(self, mowable: BaseGeometry, lines: list[list[XY]], swath: float) -> Coverage | None:
        """The coverage swept ahead, if it was swept for this area, these
        lines and this swath (metres); else None."""
        if mowable is not self._mowable and not mowable.equals(self._mowable):
            return None
        if swath != self._swath:
            return None
        return next((coverage for swept, coverage in self._future.result() if swept == lines), None)


class NoRouteError(PlanError):
    """The planner finds no way between two points; the message says why.

    ``point`` is ``"start"`` or ``"target"`` when that point lies off the
    lawn or inside an obstacle, else None.
    """

    def __init__(self, message: str, point: str | None = None) -> None:
        super().__init__(message)
        self.point = point


def route_between(garden: Garden, a: XY, b: XY, *, angle: float | None = None) -> list[XY]:
    """The planner's own transit from ``a`` to ``b`` (planning frame, metres).

    The same search, with the same line-of-sight rules, as the transits
    inside a plan with lanes at ``angle`` degrees (default: the garden's
    setting): never through an obstacle or off the lawn, along the virtual
    wire where it can.  The way runs from ``a`` to ``b`` (a single point when
    they lie within 1 mm of each other).

    Raises :class:`NoRouteError` when there is none, saying whether a point
    lies off the lawn or inside an obstacle.
    """
    degrees = garden.settings.angle if angle is None else angle
    way = build_scene(garden).transit(a, b, math.radians(degrees))
    if way is not None:
        return way
    for name, point in (("start", a), ("target", b)):
        where = Point(point)
        if not garden.lawn_shape.covers(where):
            raise NoRouteError(f"no way: the {name} lies off the lawn; choose a point on the lawn", name)
        for ring in garden.obstacles:
            if len(ring) >= 3 and ShapelyPolygon(ring).buffer(0).contains(where):
                raise NoRouteError(f"no way: the {name} lies inside an obstacle; choose a point outside it",
                                   name)
    raise NoRouteError("no way between the two points: obstacles part them; choose two points on one "
                       "connected part of the lawn")
