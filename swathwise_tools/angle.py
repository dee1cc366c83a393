"""Choosing the lane angle: a search that runs the planner itself.

The search minimises an estimated job time (seconds)::

    path length / speed  +  turn time * 2 * lanes

where the path length is mowing and transit together (metres), the speed is
the mower's (m/s) and every lane has two ends, at each of which the mower
turns (``turn_time`` seconds).  Lanes are the planned pieces of at most two
points.  An angle at which the route leaves pieces out (none of their points
is on the path) loses to every angle at which it leaves fewer out, however
short its path.

Lanes repeat after 180 degrees ("lines") or 90 degrees ("squares").  The
candidates are every whole degree of that period, then every tenth of a
degree within one degree of the best three whole degrees, and the cheapest
wins (the smaller angle where two cost the same).

A full plan costs a fifth to half a second on a 2 ha garden of 200 beds or
a park of 4,500 corners, the lanes alone (no laps, no ordering) a few
milliseconds; the lanes' metres and turns give the trend from one angle to
the next.  The transit between pieces, some 10 % of the path, is what the
greedy ordering makes of them: it changes by up to 1 % of the job from one
tenth of a degree to the next, and no bound computed without ordering comes
near it (the straight distances from every piece's ends to its nearest
neighbours are under half of it).  So :func:`search_angle` plans every
candidate only on gardens small enough (see :data:`MIN_PLANS`); on larger
ones it prices angles by their lanes alone and plans in full a fixed number
of them, those priced best: six in ten whole degrees (among them 0 degrees
and the longest edge), the rest tenths round the best three planned.

Where obstacles shut parts of the lawn off from the start (a park's path
strips and trees round a pocket), the plan leaves their pieces out, and how
many depends on the angle (the lanes of a pocket are more or fewer).  The
companion module tells, once per garden, which parts of the lawn the start
reaches, and with the lanes' price the lanes that lie elsewhere (cut off);
the angles that lead counting their lanes cut off and the fewest other
pieces (laps) cut off seen so far are forecast in full (every piece cut
off, about a quarter of a plan).  Angles rank by pieces cut off, then by
price; of the tenths only those that leave no more out than the best
forecast are planned.  Where every priced angle cuts off as many lanes,
nothing is forecast: the prices rank the angles and the plans tell whether
coverage depends on the angle.  Where a plan leaves out more pieces than forecast by
a number that differs from angle to angle (pockets the parts do not tell,
such as beds meeting at a point), every candidate is planned, so the search
never gives up coverage for time.  :func:`search_angle_exhaustive` plans
every candidate on any garden: what the ranked search is measured against.

The ranked search runs the companion module on threads (its calls release
the interpreter lock); the exhaustive one shares the angles out to worker
processes (the module holds the lock).

This module imports only the native modules, the standard library and
`native`, so that the workers start quickly (tqdm, for the progress bar, only
when one is shown).
"""

from __future__ import annotations

import math
import os
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Callable, Iterable, Mapping, Sequence, TypeVar

import swathwise as sw

from . import _native
from .native import build_environment, build_scene

if TYPE_CHECKING:
    from concurrent.futures import ProcessPoolExecutor

XY = tuple[float, float]

# Seconds the mower spends turning at each lane end, and its speed, by default.
DEFAULT_TURN_TIME_S = 3.0
DEFAULT_SPEED_M_S = 0.3

COARSE_STEP_DEG = 1.0
FINE_STEP_DEG = 0.1
# Fine steps are tried within this many degrees of each of the best coarse
# angles.
FINE_REACH_DEG = 1.0
FINE_CANDIDATES = 3
# Below this many plans the workers cost more than they save.
MIN_PLANS_FOR_WORKERS = 24
# The ranked search plans in full MIN_PLANS angles, or as many as
# PLAN_WORK / (lanes + outline corners)^2 where that is more (a plan's time
# grows about with the square of its lanes and corners): every candidate of
# the exhaustive search on gardens of up to some 1,200 lanes and corners
# (plans take milliseconds there), the minimum on a 2 ha garden of 200 beds
# or a park of 4,500 corners (a fifth to half a second a plan).  COARSE_SHARE
# of them go to whole degrees (0 degrees and the longest edge among them),
# priced every PRICE_STEP_DEG degrees, the rest to tenths round the best
# three.
MIN_PLANS = 10
PLAN_WORK = 3.6e8
PRICE_STEP_DEG = 2.0
COARSE_SHARE = 0.6

_T = TypeVar("_T")


@dataclass(frozen=True)
class Scene:
    """The garden's outlines in the planning frame, ready to send to a worker."""

    lawn: tuple[XY, ...]
    obstacles: tuple[tuple[XY, ...], ...] = ()
    mow_areas: tuple[tuple[XY, ...], ...] = ()
    virtual_wire: tuple[XY, ...] = ()
    docking_wire: tuple[XY, ...] = ()

    @classmethod
    def of(cls, garden: Any) -> "Scene":
        """The outlines of a garden object (lists of (x, y) in metres)."""
        def ring(points: Sequence[Sequence[float]]) -> tuple[XY, ...]:
            return tuple((float(p[0]), float(p[1])) for p in points)

        return cls(
            lawn=ring(garden.lawn),
            obstacles=tuple(ring(r) for r in garden.obstacles),
            mow_areas=tuple(ring(r) for r in garden.mow_areas),
            virtual_wire=ring(garden.virtual_wire or ()),
            docking_wire=ring(garden.docking_wire or ()),
        )

    def environment(self) -> sw.Environment:
        """The module's ``Environment`` of these outlines."""
        return build_environment(self)


@dataclass(frozen=True)
class Trial:
    """One planned angle and what it costs."""

    degrees: float
    seconds: float  # the estimated job time
    path_length: float  # metres, mowing and transit
    lanes: int
    missed: int = 0  # pieces the route leaves out

    @property
    def rank(self) -> tuple[int, float, float]:
        """What the search minimises: pieces left out, job time, angle."""
        return (self.missed, self.seconds, self.degrees)


@dataclass(frozen=True)
class AngleChoice:
    """The outcome of :func:`search_angle`; angles in degrees, times in seconds."""

    best: Trial
    at_zero: Trial
    along_edge: Trial
    plans: int  # how many angles were planned
    search_seconds: float  # wall-clock time of the search
    workers: int

    @property
    def degrees(self) -> float:
        return self.best.degrees

    @property
    def saved_against_zero(self) -> float:
        return self.at_zero.seconds - self.best.seconds

    @property
    def saved_against_edge(self) -> float:
        return self.along_edge.seconds - self.best.seconds


def job_seconds(path_length: float, lanes: int, speed: float, turn_time: float) -> float:
    """Estimated job time: driving at ``speed`` plus ``turn_time`` at each lane end."""
    return path_length / speed + turn_time * 2 * lanes


def period_degrees(pattern: str) -> float:
    """After how many degrees the lanes repeat."""
    return 90.0 if pattern == "squares" else 180.0


def longest_edge_degrees(ring: Sequence[XY], period: float = 180.0) -> float:
    """Direction of the ring's longest edge, in degrees in [0, period)."""
    best = (-1.0, 0.0)
    n = len(ring)
    for i in range(n):
        (x0, y0), (x1, y1) = ring[i], ring[(i + 1) % n]
        dx, dy = x1 - x0, y1 - y0
        length = math.sqrt(dx * dx + dy * dy)
        if length > best[0]:
            best = (length, math.degrees(math.atan2(dy, dx)))
    return _wrap(best[1], period)


def _wrap(degrees: float, period: float) -> float:
    value = round(degrees % period, 6)
    return 0.0 if value >= period else value


# --- the work of one plan ---------------------------------------------------

_worker: dict[str, Any] = {}


def _start_worker(scene: Scene, values: Mapping[str, Any], start: XY,
                  speed: float, turn_time: float) -> None:
    _worker.update(env=scene.environment(), values=dict(values), start=sw.Point(*start),
                   speed=speed, turn_time=turn_time, service=sw.PathService())


def trial_of(degrees: float, path: Sequence[XY], slices: Iterable[Sequence[XY]],
             speed: float, turn_time: float) -> Trial:
    """What a plan at ``degrees`` costs: its path (points in metres), its
    slices (lanes of at most two points), ``speed`` in m/s and ``turn_time``
    in seconds per lane end."""
    length = 0.0
    for (ax, ay), (bx, by) in zip(path, path[1:]):
        dx, dy = bx - ax, by - ay
        length += math.sqrt(dx * dx + dy * dy)
    on_path = set(path)
    lanes = missed = 0
    for ends in slices:
        if len(ends) <= 2:
            lanes += 1
        if ends and (ends[0][0], ends[0][1]) not in on_path:
            missed += 1
    return Trial(degrees, job_seconds(length, lanes, speed, turn_time), length, lanes, missed)


def _plan_angle(degrees: float) -> Trial:
    settings = sw.PathSettings()
    for name, value in _worker["values"].items():
        setattr(settings, name, value)
    settings.angle = math.radians(degrees)
    result = _worker["service"].computeFullTask(_worker["env"], settings, _worker["start"])
    path = [(p.x, p.y) for p in result.path.getPoints()]
    slices = ([(p.x, p.y) for p in piece.getPoints()] for piece in result.slices)
    return trial_of(degrees, path, slices, _worker["speed"], _worker["turn_time"])


def _plan_many(angles: Sequence[float]) -> list[Trial]:
    return [_plan_angle(a) for a in angles]


class _Planner:
    """Plans lists of angles, in worker processes where that pays."""

    def __init__(self, scene: Scene, values: Mapping[str, Any], start: XY,
                 speed: float, turn_time: float, workers: int | None) -> None:
        fields = dir(sw.PathSettings())
        self.args = (scene, {k: v for k, v in values.items() if k in fields and k != "angle"},
                     start, speed, turn_time)
        self.workers = max(1, workers if workers is not None else (os.cpu_count() or 1))
        self.pool: ProcessPoolExecutor | None = None
        self.done: dict[float, Trial] = {}

    def __enter__(self) -> "_Planner":
        if self.workers > 1:
            # Worker processes only where they are used: a plan at one angle
            # need not load multiprocessing.
            import multiprocessing
            from concurrent.futures import ProcessPoolExecutor

            context = multiprocessing.get_context("fork")
            self.pool = ProcessPoolExecutor(self.workers, mp_context=context,
                                            initializer=_start_worker, initargs=self.args)
        _start_worker(*self.args)
        return self

    def __exit__(self, *exc: object) -> None:
        if self.pool is not None:
            self.pool.shutdown(cancel_futures=True)

    def plan(self, angles: Sequence[float]) -> list[Trial]:
        todo = sorted({a for a in angles if a not in self.done})
        if self.pool is not None and len(todo) >= MIN_PLANS_FOR_WORKERS:
            from concurrent.futures.process import BrokenProcessPool

            chunks = [todo[i::self.workers * 2] for i in range(self.workers * 2)]
            try:
                for trials in self.pool.map(_plan_many, chunks):
                    for trial in trials:
                        self.done[trial.degrees] = trial
            except BrokenProcessPool:
                # A worker died (out of memory, killed): plan here instead.
                self.pool.shutdown(cancel_futures=True)
                self.pool = None
                return self.plan(angles)
        else:
            for trial in _plan_many(todo):
                self.done[trial.degrees] = trial
        return [self.done[a] for a in angles]


def _grid(first: float, last: float, step: float, period: float) -> list[float]:
    count = int(round((last - first) / step))
    return [_wrap(first + i * step, period) for i in range(count + 1)]


def search_angle_exhaustive(
    scene: Scene,
    values: Mapping[str, Any],
    start: XY,
    *,
    speed: float = DEFAULT_SPEED_M_S,
    turn_time: float = DEFAULT_TURN_TIME_S,
    workers: int | None = None,
) -> AngleChoice:
    """The angle (degrees) with the shortest estimated job time (among those
    that leave the fewest pieces out) of every candidate, each planned in
    full: what :func:`search_angle` is measured against.

    ``values`` are ``PathSettings`` fields (their ``angle`` is ignored),
    ``start`` the mower's start in the planning frame, ``speed`` in m/s,
    ``turn_time`` in seconds per lane end; ``workers`` processes (default: one
    per core) plan the angles.
    """
    if speed <= 0 or turn_time < 0:
        raise ValueError("the speed must be positive and the turn time not negative")
    began = time.perf_counter()
    period = period_degrees(str(values.get("pattern", "lines")))
    edge = longest_edge_degrees(scene.lawn, period)
    with _Planner(scene, values, start, speed, turn_time, workers) as planner:
        coarse = planner.plan(_grid(0.0, period - COARSE_STEP_DEG, COARSE_STEP_DEG, period))
        ranked = sorted(coarse, key=lambda t: t.rank)[:FINE_CANDIDATES]
        fine = [a for t in ranked
                for a in _grid(t.degrees - FINE_REACH_DEG, t.degrees + FINE_REACH_DEG,
                               FINE_STEP_DEG, period)]
        planner.plan(fine)
        at_zero, along_edge = planner.plan([0.0, edge])
        best = min(planner.done.values(), key=lambda t: t.rank)
        count = len(planner.done)
        used = planner.workers if planner.pool is not None else 1
    return AngleChoice(best, at_zero, along_edge, count, time.perf_counter() - began, used)


class _Progress:
    """A tqdm bar of the planned and priced angles on standard error, or nothing."""

    def __init__(self, show: bool | None) -> None:
        self.bar: Any = None
        if show if show is not None else sys.stderr.isatty():
            try:
                from tqdm import tqdm
            except ImportError:  # installed with the package; a bare copy goes without
                return
            self.bar = tqdm(total=0, desc="lane angle", unit="angle", file=sys.stderr,
                            dynamic_ncols=True, leave=False)

    def expect(self, count: int) -> None:
        if self.bar is not None and count:
            self.bar.total += count
            self.bar.refresh()

    def step(self) -> None:
        if self.bar is not None:
            self.bar.update(1)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


class _Ranked:
    """Full plans and lanes-only prices of angles through the companion
    module, on threads."""

    def __init__(self, scene: Scene, values: Mapping[str, Any], start: XY, speed: float,
                 turn_time: float, workers: int, progress: _Progress) -> None:
        fields = dir(sw.PathSettings())
        self.values = {k: v for k, v in values.items() if k in fields and k != "angle"}
        self.lanes_only = {**self.values, "mowBorder": False, "mowExclusionsBoder": False}
        self.native = build_scene(scene)
        self.start = start
        self.speed, self.turn_time = speed, turn_time
        self.pool = ThreadPoolExecutor(workers) if workers > 1 else None
        self.progress = progress
        self.done: dict[float, Trial] = {}
        self.prices: dict[float, float] = {}
        self.lanes: dict[float, int] = {}
        self.reach: _native.Reach | None = None
        # Per priced angle: the lanes cut off from the start (no fewer than
        # the pieces forecast), and per forecast angle: all pieces cut off.
        self.lanes_cut: dict[float, int] = {}
        self.forecasts: dict[float, int] = {}

    def _map(self, work: Callable[[float], _T], angles: list[float]) -> list[_T]:
        self.progress.expect(len(angles))

        def counted(degrees: float) -> _T:
            value = work(degrees)
            self.progress.step()
            return value

        if self.pool is None or len(angles) < 2:
            return [counted(a) for a in angles]
        return list(self.pool.map(counted, angles))

    def _plan(self, degrees: float) -> Trial:
        task = self.native.plan({**self.values, "angle": math.radians(degrees)}, self.start)
        return trial_of(degrees, task.path, task.slices, self.speed, self.turn_time)

    def _price(self, degrees: float) -> float:
        settings = {**self.lanes_only, "angle": math.radians(degrees)}
        if self.reach is None or self.reach.whole:
            figures = self.native.figures(settings)
            lanes, lane_m = figures["area_lane"]
            rings, ring_m = figures["area_ring"]
            cut = 0
        else:
            judged = self.native.figures(settings, self.reach)
            lanes, lane_m, lanes_cut = judged["area_lane"]
            rings, ring_m, rings_cut = judged["area_ring"]
            cut = lanes_cut + rings_cut
        self.lanes[degrees] = lanes + rings
        self.lanes_cut[degrees] = cut
        return job_seconds(lane_m + ring_m, lanes, self.speed, self.turn_time)

    def _forecast(self, degrees: float) -> tuple[int, int]:
        """Pieces and lanes cut off from the start at ``degrees``."""
        assert self.reach is not None
        figures = self.native.figures({**self.values, "angle": math.radians(degrees)}, self.reach)
        lanes = figures["area_lane"][2] + figures["area_ring"][2]
        return sum(cut for _, _, cut in figures.values()), lanes

    def plan(self, angles: Iterable[float]) -> None:
        """Plan in full the angles not planned yet."""
        todo = sorted({a for a in angles if a not in self.done})
        for trial in self._map(self._plan, todo):
            self.done[trial.degrees] = trial

    def price(self, angles: Iterable[float]) -> None:
        """Price the angles not priced yet by their lanes alone: their metres
        at the speed and their turns (seconds)."""
        todo = sorted({a for a in angles if a not in self.prices})
        for degrees, price in zip(todo, self._map(self._price, todo)):
            self.prices[degrees] = price

    def start_forecasting(self) -> None:
        """Find where the start reaches, so that prices come with the lanes
        cut off from it (the angles priced so far are priced again)."""
        self.reach = self.native.reach(self.start)
        self.prices.clear()

    def forecast(self, angles: Iterable[float]) -> None:
        """Count, at the angles not forecast yet, the pieces cut off from the
        start: those the plan will leave out, up to pieces it leaves out for
        other reasons (the same number at every angle, it is checked)."""
        if self.reach is None or self.reach.whole:
            for a in angles:
                self.forecasts[a] = self.lanes_cut[a] = 0
            return
        todo = sorted({a for a in angles if a not in self.forecasts})
        for degrees, (cut, lanes) in zip(todo, self._map(self._forecast, todo)):
            self.forecasts[degrees] = cut
            self.lanes_cut[degrees] = lanes

    def _laps_cut(self) -> int:
        """The fewest pieces other than lanes cut off at a forecast angle
        (the laps of parts cut off; they barely change with the angle)."""
        return min((cut - self.lanes_cut[a] for a, cut in self.forecasts.items()), default=0)

    def best(self, angles: Iterable[float], count: int, *, coverage_first: bool = False) -> list[float]:
        """The ``count`` priced angles not planned yet that leave fewest
        pieces out (as forecast) and then cost least, smaller angles first
        among equals.  An angle not forecast yet counts as its lanes cut off
        and the fewest other pieces cut off of the forecast angles; every
        angle that counts among the best that way is forecast, until the
        best are all forecast.  With ``coverage_first`` only those of them
        that leave no more pieces out than the best forecast angle."""
        waiting = {a for a in angles if a not in self.done}
        if not self.forecasts and len({self.lanes_cut[a] for a in waiting}) <= 1:
            # Where every angle cuts off as many lanes, forecasts would tell
            # the angles apart by laps alone: the plans tell it (see
            # forecast_holds) and the prices rank them.
            return sorted(waiting, key=lambda a: (self.prices[a], a))[:count]
        while True:
            others = self._laps_cut()

            def key(a: float) -> tuple[int, float, float]:
                return (self.forecasts.get(a, self.lanes_cut[a] + others), self.prices[a], a)
            leading = sorted(waiting, key=key)[:count]
            unknown = [a for a in leading if a not in self.forecasts]
            if not unknown:
                break
            self.forecast(unknown)
        if coverage_first and self.forecasts:
            fewest = min(self.forecasts.values())
            leading = [a for a in leading if self.forecasts[a] <= fewest]
        return leading

    def work(self, scene: Scene, degrees: float) -> int:
        """What a full plan costs, roughly: the lanes at that (priced) angle
        and the outlines' corners (at least 1)."""
        corners = len(scene.lawn) + sum(len(r) for r in scene.obstacles) + sum(len(r) for r in scene.mow_areas)
        return max(1, self.lanes[degrees] + corners)

    def telling(self, angles: Iterable[float]) -> bool:
        """Whether the lanes alone price these angles differently."""
        return len({self.prices[a] for a in angles}) > 1

    def forecast_holds(self) -> bool:
        """Whether the forecasts tell the planned angles apart as their
        plans do: each plan leaves out as many more pieces than forecast.
        Where nothing was forecast, whether the plans leave equally many
        pieces out."""
        if not self.forecasts:
            return len({t.missed for t in self.done.values()}) <= 1
        self.forecast(self.done)
        return len({t.missed - self.forecasts[a] for a, t in self.done.items()}) <= 1

    def close(self) -> None:
        if self.pool is not None:
            self.pool.shutdown()
        self.progress.close()


def _windows(search: _Ranked, coarse: Sequence[float], period: float) -> list[list[float]]:
    """The fine candidates round the best planned whole degrees."""
    planned = sorted((search.done[a] for a in coarse if a in search.done), key=lambda t: t.rank)
    return [_grid(t.degrees - FINE_REACH_DEG, t.degrees + FINE_REACH_DEG, FINE_STEP_DEG, period)
            for t in planned[:FINE_CANDIDATES]]


def search_angle(
    scene: Scene,
    values: Mapping[str, Any],
    start: XY,
    *,
    speed: float = DEFAULT_SPEED_M_S,
    turn_time: float = DEFAULT_TURN_TIME_S,
    workers: int | None = None,
    progress: bool | None = None,
) -> AngleChoice:
    """Find the lane angle (degrees) with the shortest estimated job time
    (among those that leave the fewest pieces out), planning in full only
    the candidates whose lanes alone cost least (see the module's text).

    ``values`` are ``PathSettings`` fields (their ``angle`` is ignored),
    ``start`` the mower's start in the planning frame, ``speed`` in m/s,
    ``turn_time`` in seconds per lane end; ``workers`` threads (default: one
    per core).  ``progress``: a bar on standard error (default: when it is a
    terminal).
    """
    if speed <= 0 or turn_time < 0:
        raise ValueError("the speed must be positive and the turn time not negative")
    began = time.perf_counter()
    period = period_degrees(str(values.get("pattern", "lines")))
    edge = longest_edge_degrees(scene.lawn, period)
    threads = max(1, workers if workers is not None else (os.cpu_count() or 1))
    search = _Ranked(scene, values, start, speed, turn_time, threads, _Progress(progress))
    try:
        coarse = _grid(0.0, period - COARSE_STEP_DEG, COARSE_STEP_DEG, period)
        search.price([0.0])
        budget = max(MIN_PLANS, int(PLAN_WORK / search.work(scene, 0.0) ** 2))
        every = budget >= len(coarse) + FINE_CANDIDATES * (2 * round(FINE_REACH_DEG / FINE_STEP_DEG) + 1)
        if not every:
            search.start_forecasting()
            priced = _grid(0.0, period - PRICE_STEP_DEG, PRICE_STEP_DEG, period)
            search.price(priced)
            search.plan([0.0, edge] + search.best(priced, max(0, round(budget * COARSE_SHARE) - 2)))
            if search.telling(priced) and search.forecast_holds():
                fine = [a for window in _windows(search, priced, period) for a in window]
                search.price(fine)
                search.plan(search.best(fine, max(0, budget - len(search.done)), coverage_first=True))
            # Where lanes do not tell the angles apart, or the plans leave
            # out pieces that the forecasts do not tell, every candidate is
            # planned.
            every = not search.telling(priced) or not search.forecast_holds()
        if every:
            search.plan(coarse + [edge])
            search.plan(a for window in _windows(search, coarse, period) for a in window)
        best = min(search.done.values(), key=lambda t: t.rank)
        at_zero, along_edge = search.done[0.0], search.done[edge]
        count = len(search.done)
    finally:
        search.close()
    return AngleChoice(best, at_zero, along_edge, count, time.perf_counter() - began, threads)


def sweep(scene: Scene, values: Mapping[str, Any], start: XY, step: float, *,
          speed: float = DEFAULT_SPEED_M_S, turn_time: float = DEFAULT_TURN_TIME_S,
          workers: int | None = 1) -> list[Trial]:
    """Every angle of the period at ``step`` degrees, for comparisons."""
    period = period_degrees(str(values.get("pattern", "lines")))
    with _Planner(scene, values, start, speed, turn_time, workers) as planner:
        return planner.plan(_grid(0.0, period - step, step, period))
