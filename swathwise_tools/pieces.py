"""Pieces of a plan and how the path drives them.

A piece counts as reached when its points appear in the path as one
contiguous run: a lane forwards or backwards, a lap as any rotation of its
ring.  The path segments inside such runs are mowing; every other segment of
the path is transit.
"""

from __future__ import annotations

import math
from collections import defaultdict
from dataclasses import dataclass
from typing import Callable, Sequence

import numpy as np
from shapely.geometry import LineString

from .frame import XY

AREA = "area"
PERIMETER = "perimeter"
OBSTACLE = "obstacle"
KINDS = (AREA, PERIMETER, OBSTACLE)

# A lap whose entry vertex is this close to the mower's position is entered
# without driving to it.
SAME_POSITION_M = 0.001


def path_length(points: Sequence[XY]) -> float:
    """Length of a polyline in metres."""
    return sum(map(math.dist, points, points[1:]))


@dataclass
class Piece:
    """One mowing piece of the plan, in the planning frame (metres).

    Attributes:
        index: position in the planner's list of pieces (area pieces, then
            perimeter laps, then obstacle laps).
        kind: ``"area"``, ``"perimeter"`` or ``"obstacle"``.
        points: the lane's ends, or the lap's ring (closed implicitly).
        reached: whether the path drives it.
        segments: the path segments that drive it (segment i runs from
            ``path[i]`` to ``path[i + 1]``).
        order: 1 for the first piece the route mows, 2 for the next ...;
            None when not reached.
    """

    index: int
    kind: str
    points: list[XY]
    reached: bool = False
    segments: range = range(0)
    order: int | None = None

    @property
    def is_lap(self) -> bool:
        """Laps have three or more points and are driven all the way round."""
        return len(self.points) >= 3

    @property
    def line(self) -> list[XY]:
        """The points as driven: a lap closed back to its first point."""
        return self.points + self.points[:1] if self.is_lap else list(self.points)

    @property
    def length(self) -> float:
        """Length in metres (a lap all the way round)."""
        return path_length(self.line)

    @property
    def geometry(self) -> LineString:
        """The piece as a shapely LineString in the planning frame (laps closed)."""
        line = self.line
        if len(line) == 1:
            line = line * 2
        return LineString(line)


def transit_stretches(path: Sequence[XY], mowing: Sequence[bool]) -> list[list[XY]]:
    """Maximal runs of the path's non-mowing segments, each of non-zero length, in order.

    ``mowing[i]`` tells whether the segment from ``path[i]`` to ``path[i + 1]`` mows.
    """
    stretches: list[list[XY]] = []
    current: list[XY] = []
    for i, mows in enumerate(mowing):
        if mows:
            stretches.append(current)
            current = []
            continue
        if not current:
            current = [path[i]]
        current.append(path[i + 1])
    stretches.append(current)
    return [s for s in stretches if len(s) >= 2 and path_length(s) > 0]


def _keys(points: Sequence[XY]) -> list[tuple[int, int]]:
    """Every point's key: its coordinates in whole micrometres (rounded
    half to even), so that points within rounding of each other match."""
    if not len(points):
        return []
    scaled = np.rint(np.asarray(points, dtype=float).reshape(-1, 2) * 1e6).astype(np.int64)
    return [(x, y) for x, y in scaled.tolist()]


def trace_pieces(path: list[XY], pieces: list[Piece]) -> list[bool]:
    """Find each piece's run in the path and number the reached pieces in route order.

    Sets ``reached``, ``segments`` and ``order`` on the pieces; returns the
    mowing flag per path segment.
    """
    mowing = [False] * max(len(path) - 1, 0)
    keys = _keys(path)
    # Every piece's points' keys, in one go too.
    piece_keys = _keys([p for piece in pieces for p in piece.points])
    at: dict[tuple[int, int], list[int]] = defaultdict(list)
    for k, key in enumerate(keys):
        at[key].append(k)

    def free(segments: range) -> bool:
        return not any(mowing[i] for i in segments)

    at_piece = 0
    for piece in pieces:
        pts = piece.points
        wanted = piece_keys[at_piece:at_piece + len(pts)]
        at_piece += len(pts)
        if not pts:
            continue
        found = _find_lap(path, keys, at, pts, wanted, free) if piece.is_lap else _find_lane(keys, at, wanted, free)
        if found is None:
            continue
        piece.reached = True
        piece.segments = found
        for i in found:
            mowing[i] = True
    reached = sorted((p for p in pieces if p.reached), key=lambda p: (p.segments.start, p.index))
    for order, piece in enumerate(reached, start=1):
        piece.order = order
    return mowing


Free = Callable[[range], bool]
Index = dict[tuple[int, int], list[int]]


def _find_lane(keys: list[tuple[int, int]], at: Index, lane: list[tuple[int, int]], free: Free) -> range | None:
    """``keys``: the path's points' keys; ``lane``: the lane's points' keys."""
    for wanted in (lane, lane[::-1]):
        for k in at.get(wanted[0], ()):
            end = k + len(wanted) - 1
            if end < len(keys) and keys[k:end + 1] == wanted:
                segments = range(k, end)
                if free(segments):
                    return segments
    return None


def _find_lap(path: list[XY], keys: list[tuple[int, int]], at: Index, ring: list[XY],
              wanted: list[tuple[int, int]], free: Free) -> range | None:
    """``keys``: the path's points' keys; ``wanted``: the ring's."""
    n = len(ring)
    for k in at.get(wanted[0], ()):
        ahead = 0
        while ahead < n and k + ahead < len(keys) and keys[k + ahead] == wanted[ahead]:
            ahead += 1
        behind = 0
        while behind < n - 1 and k - behind - 1 >= 0 and keys[k - behind - 1] == wanted[n - 1 - behind]:
            behind += 1
        if ahead + behind < n:
            continue
        first = k - behind
        # The run holds at least the n vertices; the lap also drives the edge
        # back to where it began, which is either one more vertex or the
        # position the mower entered from.
        count = min(ahead + behind, n + 1)
        if count == n + 1:
            segments = range(first, first + n)
        else:
            last = first + n - 1
            entry = ring[(n - behind - 1) % n]  # the vertex before path[first]
            if first > 0 and math.dist(path[first - 1], entry) < SAME_POSITION_M:
                segments = range(first - 1, last)
            elif last + 1 < len(path) and math.dist(path[last + 1], path[first]) < SAME_POSITION_M:
                segments = range(first, last + 1)
            else:
                segments = range(first, last)
        if free(segments):
            return segments
    return None
