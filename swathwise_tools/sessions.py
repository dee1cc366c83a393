"""Battery sessions: a plan split into trips from the dock and back.

A mower with a battery of ``battery_s`` seconds leaves the dock, takes the
safe way to where the previous session stopped (in the middle of a lane if
that is where it stopped), mows on in the planned order and turns for home
when the battery left, less the reserve, would only just bring it back.  The
next session starts after ``charge_s`` seconds of charging.

Time is priced as the angle search prices a job: metres driven at ``speed``
(m/s) plus ``turn_time`` seconds at each end of every lane mowed.  A lane's
two turns fall where the mower arrives at its first and at its last point, so
a lane split between two sessions costs one turn in each.

The safe way between two points is a callable ``way(a, b)`` that returns a
polyline from ``a`` to ``b`` (planning frame, metres) or None where there is
none; the command passes the planner's own transit search.  Whether the
mower can still get home is judged with that way, or with the route it came
by when retracing that is shorter, so every trip is one the planner or the
route itself drives.

Stops fall on mowing segments wherever the battery runs out; on transit they
fall at the segment's start, unless the session would otherwise make no
headway.  The mowing of all sessions together is exactly the plan's: every
mowing segment is driven once, a split one in two parts that meet at the stop.
"""

from __future__ import annotations

import math
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Callable, Sequence

from .frame import XY
from .pieces import path_length, transit_stretches

if TYPE_CHECKING:
    from .plan import Plan

__all__ = [
    "Way", "Part", "Session", "Sessions", "SessionError", "split_sessions", "with_way_home", "safe_way",
    "DEFAULT_RESERVE", "DEFAULT_CHARGE_MIN",
]

Way = Callable[[XY, XY], "Sequence[XY] | None"]

# Share of a charge kept in hand when turning for home.
DEFAULT_RESERVE = 0.10
# Minutes of charging between two sessions.
DEFAULT_CHARGE_MIN = 60.0
# A stop in the middle of a segment is found to within this many metres.
SPLIT_TOLERANCE_M = 0.001
# More sessions than this means the trips eat the battery: an error.
MAX_SESSIONS = 10000


class SessionError(ValueError):
    """A job that cannot be split as asked (a battery too small for the
    trip out and back, a point with no safe way to the dock); one line."""


@dataclass(frozen=True)
class Part:
    """What one session mows of one piece: ``points`` in driving order
    (planning frame, metres); the whole piece unless a stop split it."""

    piece: int  # the piece's ``index``
    points: tuple[XY, ...]

    @property
    def length(self) -> float:
        """Metres mowed."""
        return path_length(self.points)


@dataclass(frozen=True)
class Session:
    """One trip from the dock and back.

    Attributes:
        number: 1 for the first session.
        path: the whole trip, from the dock back to the dock (metres).
        mowing: one flag per segment of ``path``, True where it mows.
        seconds: the trip's estimated time (driving and turns).
        parts: what it mows of each piece, in driving order.
        waits: per point of ``path``, the seconds spent turning there.
    """

    number: int
    path: tuple[XY, ...]
    mowing: tuple[bool, ...]
    seconds: float
    parts: tuple[Part, ...]
    waits: tuple[float, ...] = ()

    @property
    def minutes(self) -> float:
        return self.seconds / 60.0

    @property
    def mowing_m(self) -> float:
        """Metres mowed."""
        return sum(math.dist(self.path[i], self.path[i + 1]) for i, m in enumerate(self.mowing) if m)

    @property
    def trip_m(self) -> float:
        """Metres driven without mowing: out, between pieces, home."""
        return path_length(self.path) - self.mowing_m

    def transit_stretches(self) -> list[list[XY]]:
        """Maximal runs of non-mowing segments of non-zero length, in order."""
        return transit_stretches(self.path, self.mowing)


@dataclass(frozen=True)
class Sessions:
    """A job split into battery sessions; times in seconds."""

    sessions: tuple[Session, ...]
    battery_s: float
    reserve_s: float
    charge_s: float
    speed: float  # m/s
    turn_time: float  # s per lane end

    @property
    def job_seconds(self) -> float:
        """All sessions with the charging between them."""
        return sum(s.seconds for s in self.sessions) + self.charge_s * max(len(self.sessions) - 1, 0)

    @property
    def mowing_m(self) -> float:
        return sum(s.mowing_m for s in self.sessions)

    @property
    def trip_m(self) -> float:
        return sum(s.trip_m for s in self.sessions)

    def figures(self) -> dict[str, object]:
        """JSON-ready figures: counts, minutes, metres."""
        return {
            "count": len(self.sessions),
            "batteryMinutes": self.battery_s / 60.0,
            "reserveMinutes": self.reserve_s / 60.0,
            "chargeMinutes": self.charge_s / 60.0,
            "jobSeconds": self.job_seconds,
            "mowing": self.mowing_m,
            "trip": self.trip_m,
            "each": [{"session": s.number, "minutes": s.minutes, "mowing": s.mowing_m, "trip": s.trip_m}
                     for s in self.sessions],
        }


# --- the route walked -------------------------------------------------------------


@dataclass
class _Route:
    """The plan's route without its way home, with what each vertex costs."""

    path: list[XY]
    mowing: list[bool]
    piece_of: list[int]  # per segment: the piece it mows, -1 for transit
    turn_at: list[float]  # seconds of turning charged on arriving at a vertex


def _route(plan: "Plan", turn_time: float) -> _Route:
    home = max(len(plan.home) - 1, 0)
    path = list(plan.path[:len(plan.path) - home]) if home else list(plan.path)
    segments = max(len(path) - 1, 0)
    mowing = list(plan.mowing[:segments])
    piece_of = [-1] * segments
    turn_at = [0.0] * len(path)
    for piece in plan.pieces:
        if not piece.reached:
            continue
        for i in piece.segments:
            if i < segments:
                piece_of[i] = piece.index
        if not piece.is_lap and piece.segments.start < len(path):
            turn_at[piece.segments.start] += turn_time
            turn_at[min(piece.segments.stop, len(path) - 1)] += turn_time
    return _Route(path, mowing, piece_of, turn_at)


def _between(a: XY, b: XY, t: float) -> XY:
    return (a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1]))


@dataclass
class _Trip:
    """A session being built: its path, flags and pieces, and how to get home."""

    path: list[XY]
    mowing: list[bool]
    piece_of: list[int]
    seconds: float
    # A known safe way home from path[known] (the way out reversed, or the
    # safe way from a later point); from any later point the route back to
    # path[known] and then that way is also safe.
    known: int = 0
    known_home: list[XY] = field(default_factory=list)
    waits: list[float] = field(default_factory=list)

    def drive(self, point: XY, mowing: bool, piece: int, seconds: float, wait: float = 0.0) -> None:
        """On to ``point`` in ``seconds``, of which ``wait`` turning there."""
        self.path.append(point)
        self.mowing.append(mowing)
        self.piece_of.append(piece)
        self.seconds += seconds
        self.waits.append(wait)

    def retrace_home(self, point: XY | None = None) -> list[XY]:
        """The way home from the trip's last point (or from ``point`` just
        beyond it) back along the trip to the known point, then on."""
        back = self.path[self.known:][::-1]
        if point is not None:
            back = [point] + back
        return back + self.known_home[1:]


class _Splitter:
    def __init__(self, route: _Route, dock: XY, way: Way, budget_s: float, speed: float) -> None:
        self.route = route
        self.dock = dock
        self.way = way
        self.budget = budget_s
        self.speed = speed

    def safe_way(self, a: XY, b: XY) -> list[XY]:
        if math.dist(a, b) == 0.0:
            return [a]
        found = self.way(a, b)
        if not found:
            raise SessionError(f"no safe way between ({a[0]:.2f}, {a[1]:.2f}) and ({b[0]:.2f}, {b[1]:.2f}) "
                               "on the lawn; the job cannot be split into sessions from this dock")
        points = [(float(x), float(y)) for x, y in found]
        return [a] + points[1:-1] + [b]

    def home_from(self, trip: _Trip, point: XY, seconds: float, beyond: bool) -> tuple[list[XY], bool] | None:
        """A way home from ``point`` that fits the battery after ``seconds``,
        and whether it is the safe way (not the retraced route); None when
        none fits.  ``beyond``: the point lies past the trip's last point."""
        budget = self.budget - seconds
        retrace = trip.retrace_home(point if beyond else None)
        if path_length(retrace) / self.speed <= budget:
            return retrace, False
        if math.dist(point, self.dock) / self.speed > budget:
            return None
        home = self.safe_way(point, self.dock)
        if path_length(home) / self.speed > budget:
            return None
        return home, True

    def session(self, number: int, k: int, at: XY) -> tuple[Session, int, XY]:
        """One session resuming at ``at`` on segment ``k``; returns it with
        where the next one resumes (``k`` equal to the last vertex: done)."""
        route = self.route
        out = self.safe_way(self.dock, at)
        trip = _Trip(list(out), [False] * (len(out) - 1), [-1] * (len(out) - 1),
                     path_length(out) / self.speed, known=len(out) - 1, known_home=out[::-1],
                     waits=[0.0] * len(out))
        if self.home_from(trip, at, trip.seconds, beyond=False) is None:
            raise SessionError(f"the battery does not last the trip to ({at[0]:.2f}, {at[1]:.2f}) and back; "
                               "give a longer --battery or a smaller --reserve")
        last = len(route.path) - 1
        moved = False
        while k < last:
            end = route.path[k + 1]
            step = math.dist(at, end) / self.speed + route.turn_at[k + 1]
            found = self.home_from(trip, end, trip.seconds + step, beyond=True)
            if found is not None:
                trip.drive(end, route.mowing[k], route.piece_of[k], step, route.turn_at[k + 1])
                if found[1]:
                    trip.known, trip.known_home = len(trip.path) - 1, found[0]
                k, at, moved = k + 1, end, True
                continue
            if route.mowing[k] or not moved:
                stop = self._split(trip, at, end)
                if stop is not None:
                    point, seconds = stop
                    trip.drive(point, route.mowing[k], route.piece_of[k], seconds)
                    at, moved = point, True
            break
        if not moved and k < last:
            raise SessionError(f"the battery does not last past ({at[0]:.2f}, {at[1]:.2f}) and back; "
                               "give a longer --battery or a smaller --reserve")
        # Home by the planner's way when it fits, else back the way it came.
        home = self.safe_way(at, self.dock)
        if path_length(home) / self.speed > self.budget - trip.seconds:
            home = trip.retrace_home()
        for point in home[1:]:
            trip.drive(point, False, -1, 0.0)
        trip.seconds += path_length(home) / self.speed
        return self._finish(number, trip), k, at

    def _split(self, trip: _Trip, a: XY, b: XY) -> tuple[XY, float] | None:
        """The farthest point on a-b (and the seconds to it) from which the
        mower still gets home; None when it cannot leave ``a``."""
        length = math.dist(a, b)
        lo, hi = 0.0, 1.0
        best: tuple[XY, float] | None = None
        while (hi - lo) * length > SPLIT_TOLERANCE_M:
            mid = 0.5 * (lo + hi)
            point = _between(a, b, mid)
            seconds = math.dist(a, point) / self.speed
            if self.home_from(trip, point, trip.seconds + seconds, beyond=True) is None:
                hi = mid
            else:
                lo = mid
                best = (point, seconds)
        return best

    def _finish(self, number: int, trip: _Trip) -> Session:
        parts: list[Part] = []
        for i, piece in enumerate(trip.piece_of):
            if piece < 0 or not trip.mowing[i]:
                continue
            if parts and parts[-1].piece == piece and parts[-1].points[-1] == trip.path[i]:
                parts[-1] = Part(piece, parts[-1].points + (trip.path[i + 1],))
            else:
                parts.append(Part(piece, (trip.path[i], trip.path[i + 1])))
        return Session(number, tuple(trip.path), tuple(trip.mowing), trip.seconds, tuple(parts),
                       tuple(trip.waits))



def split_sessions(
    plan: "Plan",
    way: Way,
    battery_min: float,
    *,
    reserve: float = DEFAULT_RESERVE,
    charge_min: float = DEFAULT_CHARGE_MIN,
    speed: float | None = None,
    turn_time: float | None = None,
) -> Sessions:
    """Split the plan's route into battery sessions from its start (the dock).

    Args:
        plan: the plan; its way home, if it has one, is left out (every
            session ends with its own).
        way: the safe way between two points (see the module's notes).
        battery_min: minutes one charge lasts.
        reserve: share of a charge (0 to 1) kept in hand when turning home.
        charge_min: minutes of charging between sessions.
        speed: m/s, by default the plan's (else 0.3).
        turn_time: seconds per lane end, by default the plan's (else 3).

    Raises :class:`SessionError` when a session could not mow anything (the
    battery is too small for the trip) or a point has no way to the dock.
    """
    from .angle import DEFAULT_SPEED_M_S, DEFAULT_TURN_TIME_S

    speed = float(speed if speed is not None else plan.speed or DEFAULT_SPEED_M_S)
    turn_time = float(turn_time if turn_time is not None else
                      plan.turn_time if plan.turn_time is not None else DEFAULT_TURN_TIME_S)
    if not (battery_min > 0 and math.isfinite(battery_min)):
        raise SessionError(f"the battery must last a positive number of minutes, not {battery_min!r}")
    if not 0 <= reserve < 1:
        raise SessionError(f"the reserve is a share of a charge from 0 to below 1, not {reserve!r}")
    if not (charge_min >= 0 and math.isfinite(charge_min)):
        raise SessionError(f"the charging time must be zero or more minutes, not {charge_min!r}")
    battery_s = 60.0 * battery_min
    reserve_s = reserve * battery_s
    route = _route(plan, turn_time)
    splitter = _Splitter(route, plan.start, way, battery_s - reserve_s, speed)
    sessions: list[Session] = []
    k, at = 0, route.path[0] if route.path else plan.start
    last = len(route.path) - 1
    while k < last:
        if len(sessions) >= MAX_SESSIONS:
            raise SessionError(f"more than {MAX_SESSIONS} sessions: the battery barely lasts the trips; "
                               "give a longer --battery or a smaller --reserve")
        session, k, at = splitter.session(len(sessions) + 1, k, at)
        sessions.append(session)
    return Sessions(tuple(sessions), battery_s, reserve_s, 60.0 * charge_min, speed, turn_time)


def with_way_home(plan: "Plan", way: Way) -> None:
    """End the plan's route with the safe way back to its start (the dock).

    Sets ``plan.home`` and extends ``plan.path`` and ``plan.mowing``; a route
    that already ends at the start, or has no path, is left as it is.
    """
    if plan.home or len(plan.path) < 2 or math.dist(plan.path[-1], plan.start) == 0.0:
        return
    end = plan.path[-1]
    found = way(end, plan.start)
    if not found:
        plan.warnings.append(f"no safe way from the route's end ({end[0]:.2f}, {end[1]:.2f}) back to the start; "
                             "the route ends there")
        return
    home = [end] + [(float(x), float(y)) for x, y in list(found)[1:-1]] + [plan.start]
    plan.home = home
    plan.path.extend(home[1:])
    plan.mowing.extend([False] * (len(home) - 1))


def safe_way(plan: "Plan") -> Way:
    """The planner's own transit between two points, in the outlines the plan
    was planned in and at its lane angle (so that it is the very way a
    transit inside the plan would take); a start outside the lawn is joined
    by the drive to the plan's entry point, as the route itself is."""
    return transit_way(plan.prepared or plan.garden, float(plan.settings.angle), plan.start, plan.entry)


def transit_way(garden: Any, degrees: float, start: XY, entry: XY | None) -> Way:
    """The planner's transit in ``garden``'s outlines with lanes at
    ``degrees``, from a route that starts at ``start`` and enters the free
    lawn at ``entry`` (None: at the start); see :func:`safe_way`."""
    from ._native import Scene

    scene = Scene(garden.lawn, obstacles=garden.obstacles, mow_areas=garden.mow_areas,
                  virtual_wire=garden.virtual_wire or [], docking_wire=garden.docking_wire or [])
    angle = math.radians(degrees)

    def way(a: XY, b: XY) -> list[XY] | None:
        inner_a = entry if entry is not None and a == start else a
        inner_b = entry if entry is not None and b == start else b
        found = [inner_a] if inner_a == inner_b else scene.transit(inner_a, inner_b, angle)
        if found is None:
            return None
        return ([a] if inner_a != a else []) + list(found) + ([b] if inner_b != b else [])

    return way


def way_ahead(way: Way, a: XY, b: XY) -> Way:
    """``way``, with the way from ``a`` to ``b`` searched in a second thread
    from now on (the search leaves the interpreter free) and taken from
    there when asked for."""
    pool = ThreadPoolExecutor(max_workers=1)
    future = pool.submit(way, a, b)
    pool.shutdown(wait=False)

    def ahead(p: XY, q: XY) -> Sequence[XY] | None:
        return future.result() if (p, q) == (a, b) else way(p, q)

    return ahead


def session_features(plan: "Plan", sessions: Sessions,
                     line: Callable[[Sequence[XY]], dict[str, object]]) -> list[dict[str, object]]:
    """Route-file features of the sessions: one ``role`` "session" line per
    session (``session``, ``minutes``, ``mowing_m``, ``trip_m``), the pieces
    with the ``session`` that mowed them (a piece mowed by two sessions once
    for each, with its part and that part's ``length``; a piece never reached
    once, with no session) and each session's transit stretches.
    ``line`` turns planning-frame points into a GeoJSON LineString."""
    def feature(properties: dict[str, object], geometry: dict[str, object] | None) -> dict[str, object]:
        return {"type": "Feature", "properties": properties, "geometry": geometry}

    by_index = {p.index: p for p in plan.pieces}
    features: list[dict[str, object]] = []
    order = 0
    for s in sessions.sessions:
        features.append(feature({"role": "session", "session": s.number, "minutes": s.minutes,
                                 "mowing_m": s.mowing_m, "trip_m": s.trip_m}, line(s.path)))
    for s in sessions.sessions:
        for part in s.parts:
            piece = by_index[part.piece]
            features.append(feature(
                {"role": "piece", "index": piece.index, "kind": piece.kind, "order": piece.order,
                 "reached": True, "length": part.length, "session": s.number}, line(part.points)))
    for piece in plan.given_up:
        points = piece.line if len(piece.line) >= 2 else piece.line * 2
        features.append(feature(
            {"role": "piece", "index": piece.index, "kind": piece.kind, "order": None, "reached": False,
             "length": piece.length, "session": None}, line(points) if points else None))
    for s in sessions.sessions:
        for stretch in s.transit_stretches():
            order += 1
            features.append(feature({"role": "transit", "order": order, "length": path_length(stretch),
                                     "session": s.number}, line(stretch)))
    return features
