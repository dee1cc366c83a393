"""Why a route leaves pieces out: one line for the user, figures for files.

The free lawn (the lawn minus the obstacles, with the clearance kept) may
fall into parts that no drive joins: a fence or a path across the lawn, or
a clearance wider than a narrow neck.  Pieces in parts other than the
start's are cut off from it.  Reads a :class:`~swathwise_tools.plan.Plan`,
never changes it.
"""

from __future__ import annotations

from concurrent.futures import Future, ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import shapely
from shapely.geometry import Polygon

from .frame import ring_polygon
from .garden import Garden
from .outline import free_parts, nearest_parts
from .plan import Plan, keep_pending

# Obstacles within this distance of two parts (beyond the clearance) are
# what parts them.
CUTTER_REACH_M = 0.05
# At most this many obstacles are named as cutting parts off.
CUTTERS_SHOWN = 3


@dataclass
class Reach:
    """What the route leaves out, and why.

    Attributes:
        reason: one line saying why the route reaches no piece or gives
            pieces up ("" when it reaches every piece).
        given_up: the ``index`` of every given-up piece.
        cut_off_parts: the parts of the free lawn cut off from the start
            that hold given-up pieces, each with its ``pieces`` (count) and
            ``area`` (m²).
    """

    reason: str = ""
    given_up: list[int] = field(default_factory=list)
    cut_off_parts: list[dict[str, float]] = field(default_factory=list)

    def to_dict(self) -> dict[str, Any]:
        """JSON-ready figures."""
        return {"reason": self.reason, "givenUpIndices": self.given_up, "cutOffParts": self.cut_off_parts}


class FreeLawn:
    """What :func:`explain` reads of a garden as drawn, whatever the plan:
    the parts of its free lawn with a clearance kept (largest first), and
    each obstacle grown by the clearance and :data:`CUTTER_REACH_M`; both
    made on first use, or at once in a second thread (:meth:`ahead`, while
    the planner works: shapely leaves the interpreter free)."""

    def __init__(self, garden: Garden, clearance: float) -> None:
        self.garden = garden
        self.clearance = clearance
        self._future: Future[tuple[list[Polygon], np.ndarray]] | None = None
        self._made: tuple[list[Polygon], np.ndarray] | None = None

    @classmethod
    def ahead(cls, garden: Garden, clearance: float) -> FreeLawn:
        """The free lawn, made in a second thread from now on."""
        lawn = cls(garden, clearance)
        pool = ThreadPoolExecutor(max_workers=1)
        lawn._future = pool.submit(lawn._make)
        pool.shutdown(wait=False)
        keep_pending(lawn._future)
        return lawn

    def _make(self) -> tuple[list[Polygon], np.ndarray]:
        parts = free_parts(self.garden, self.clearance)
        if not self.garden.obstacles:
            return parts, np.empty(0, dtype=object)
        # As Polygon(ring).buffer(0).buffer(reach) of each, in one go.
        reach = self.clearance + CUTTER_REACH_M
        rings = [ring_polygon(ring) for ring in self.garden.obstacles]
        return parts, shapely.buffer(shapely.buffer(rings, 0), reach, quad_segs=16)

    def _both(self) -> tuple[list[Polygon], np.ndarray]:
        if self._made is None:
            self._made = self._future.result() if self._future is not None else self._make()
        return self._made

    def fits(self, garden: Garden, clearance: float) -> bool:
        """Whether this is the free lawn of ``garden`` with ``clearance`` (m)."""
        return garden is self.garden and clearance == self.clearance

    @property
    def parts(self) -> list[Polygon]:
        """The parts of the free lawn, largest first."""
        return self._both()[0]

    @property
    def grown(self) -> np.ndarray:
        """Every drawn obstacle grown by the clearance and the cutters' reach."""
        return self._both()[1]


def _cutters(plan: Plan, lawn: FreeLawn, home: Polygon, away: list[Polygon]) -> list[str]:
    """The drawn obstacles that touch the start's part and a cut-off part."""
    garden = plan.garden
    if not garden.obstacles:
        return []
    grown = lawn.grown
    beyond = np.zeros(len(grown), dtype=bool)
    for part in away:
        beyond |= shapely.intersects(grown, part)
    touching = shapely.intersects(grown, home) & beyond
    return [garden.obstacle_label(i) for i in np.flatnonzero(touching).tolist()]


def explain(plan: Plan) -> Reach:
    """Why ``plan`` reaches no piece, or gives some up."""
    given_up = plan.given_up
    reach = Reach(given_up=[p.index for p in given_up])
    if not plan.pieces:
        mowable = plan.garden.mowable_area().area
        reach.reason = (f"nothing to mow: the settings lay no piece on {mowable:.1f} m² of free lawn; "
                        "try a smaller offset, distanceToBorder or clearance")
        return reach
    if not given_up:
        return reach
    clearance = plan.prepared.clearance if plan.prepared is not None else 0.0
    lawn = plan.free_lawn if isinstance(plan.free_lawn, FreeLawn) else None
    if lawn is None or not lawn.fits(plan.garden, clearance):
        lawn = FreeLawn(plan.garden, clearance)
    parts = lawn.parts
    if not parts:
        reach.reason = f"{len(given_up)} of {len(plan.pieces)} pieces given up"
        return reach
    start = plan.entry or plan.start
    home = int(nearest_parts(parts, [start])[0])
    owners = nearest_parts(parts, [p.points[0] for p in given_up])
    away = sorted({int(k) for k in owners if k != home})
    inside = int(np.count_nonzero(owners == home))
    home_pieces = sum(1 for p in plan.pieces if p.reached) + inside
    for k in away:
        reach.cut_off_parts.append({"pieces": int(np.count_nonzero(owners == k)), "area": parts[k].area})
    said = []
    if away:
        count = sum(int(p["pieces"]) for p in reach.cut_off_parts)
        area = sum(p["area"] for p in reach.cut_off_parts)
        cut = f"{count} pieces in {len(away)} part{'s' if len(away) > 1 else ''} of the lawn ({area:.1f} m²) " \
              "are cut off from the start"
        cutters = _cutters(plan, lawn, parts[home], [parts[k] for k in away])
        if cutters:
            shown = ", ".join(cutters[:CUTTERS_SHOWN]) + (
                f" and {len(cutters) - CUTTERS_SHOWN} more" if len(cutters) > CUTTERS_SHOWN else "")
            cut += f" by {shown}"
        elif clearance > 0:
            cut += f" where the clearance of {clearance:g} m closes the way"
        if home_pieces == 0:
            said.append(f"the start lies in a part of the lawn with nothing to mow ({parts[home].area:.1f} m²); "
                        + cut)
        else:
            said.append(cut)
    if inside:
        said.append(f"{inside} piece{'s' if inside > 1 else ''} in the start's part of the lawn found no way "
                    "there round the obstacles")
    reach.reason = "; ".join(said) + " (their indices: route file, --json)"
    return reach
