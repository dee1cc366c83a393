"""The planner's scene objects from a garden's outlines: the module's
``Environment`` and the companion module's ``Scene``.

Imports only the two native modules and the standard library, so that the
angle search's worker processes, which build their scene with it, start
quickly.
"""

from __future__ import annotations

from typing import Protocol, Sequence

import swathwise as sw

from . import _native

XY = tuple[float, float]


class Outlines(Protocol):
    """Outlines in the planning frame, in metres (a ``Garden`` or a ``Scene``)."""

    @property
    def lawn(self) -> Sequence[XY]: ...

    @property
    def obstacles(self) -> Sequence[Sequence[XY]]: ...

    @property
    def mow_areas(self) -> Sequence[Sequence[XY]]: ...

    @property
    def virtual_wire(self) -> Sequence[XY] | None: ...

    @property
    def docking_wire(self) -> Sequence[XY] | None: ...


def _points(points: Sequence[XY]) -> list[sw.Point]:
    return [sw.Point(x, y) for x, y in points]


def build_environment(outlines: Outlines) -> sw.Environment:
    """The outlines as the module's ``Environment`` (planning frame, metres)."""
    env = sw.Environment(sw.Polygon(_points(outlines.lawn)))
    for ring in outlines.obstacles:
        env.addObstacle(sw.Polygon(_points(ring)))
    for ring in outlines.mow_areas:
        env.addMowArea(sw.Polygon(_points(ring)))
    if outlines.virtual_wire:
        env.setVirtualWire(sw.LineString(_points(outlines.virtual_wire)))
    if outlines.docking_wire:
        env.setDockingWire(sw.LineString(_points(outlines.docking_wire)))
    return env


def build_scene(outlines: Outlines) -> _native.Scene:
    """The outlines as the companion module's ``Scene`` (planning frame, metres)."""
    return _native.Scene(
        list(outlines.lawn),
        [list(ring) for ring in outlines.obstacles],
        mow_areas=[list(ring) for ring in outlines.mow_areas],
        virtual_wire=list(outlines.virtual_wire or ()),
        docking_wire=list(outlines.docking_wire or ()),
    )
