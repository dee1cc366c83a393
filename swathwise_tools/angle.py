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
search plans every whole degree of that period, then every tenth of a degree
within one degree of the best few whole degrees, and keeps the cheapest
(the smaller angle where two cost the same).  The planner holds the
interpreter lock, so the angles are shared out to worker processes.

This module imports only the module, the standard library and `native`, so
that the workers start quickly.
"""

from __future__ import annotations

import math
import multiprocessing
import os
import time
from concurrent.futures import ProcessPoolExecutor
from concurrent.futures.process import BrokenProcessPool
from dataclasses import dataclass
from typing import Any, Mapping, Sequence

import swathwise as sw

from .native import build_environment

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


def _plan_angle(degrees: float) -> Trial:
    settings = sw.PathSettings()
    for name, value in _worker["values"].items():
        setattr(settings, name, value)
    settings.angle = math.radians(degrees)
    result = _worker["service"].computeFullTask(_worker["env"], settings, _worker["start"])
    points = [(p.x, p.y) for p in result.path.getPoints()]
    length = 0.0
    for (ax, ay), (bx, by) in zip(points, points[1:]):
        dx, dy = bx - ax, by - ay
        length += math.sqrt(dx * dx + dy * dy)
    on_path = set(points)
    lanes = missed = 0
    for piece in result.slices:
        ends = piece.getPoints()
        if len(ends) <= 2:
            lanes += 1
        if ends and (ends[0].x, ends[0].y) not in on_path:
            missed += 1
    seconds = job_seconds(length, lanes, _worker["speed"], _worker["turn_time"])
    return Trial(degrees, seconds, length, lanes, missed)


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


def search_angle(
    scene: Scene,
    values: Mapping[str, Any],
    start: XY,
    *,
    speed: float = DEFAULT_SPEED_M_S,
    turn_time: float = DEFAULT_TURN_TIME_S,
    workers: int | None = None,
) -> AngleChoice:
    """Find the lane angle (degrees) with the shortest estimated job time
    (among those that leave the fewest pieces out).

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


def sweep(scene: Scene, values: Mapping[str, Any], start: XY, step: float, *,
          speed: float = DEFAULT_SPEED_M_S, turn_time: float = DEFAULT_TURN_TIME_S,
          workers: int | None = 1) -> list[Trial]:
    """Every angle of the period at ``step`` degrees, for comparisons."""
    period = period_degrees(str(values.get("pattern", "lines")))
    with _Planner(scene, values, start, speed, turn_time, workers) as planner:
        return planner.plan(_grid(0.0, period - step, step, period))
