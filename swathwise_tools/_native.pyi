"""Planner services for swathwise_tools that the module swathwise does not offer."""

from typing import Literal, Mapping, Sequence, overload

XY = tuple[float, float]
Kind = Literal["area_lane", "area_ring", "perimeter_lap", "obstacle_lap"]
SettingValue = float | int | bool | str

KINDS: tuple[Kind, ...]

class PlannedTask:
    @property
    def path(self) -> list[XY]: ...
    @property
    def slices(self) -> list[list[XY]]: ...
    @property
    def kinds(self) -> list[Kind]: ...
    @property
    def connectors(self) -> list[list[XY]]: ...
    @property
    def search_edges(self) -> list[list[XY]]: ...

class TaskSlices:
    @property
    def slices(self) -> list[list[XY]]: ...
    @property
    def kinds(self) -> list[Kind]: ...

class Reach:
    @property
    def whole(self) -> bool: ...
    def holds(self, point: Sequence[float]) -> bool: ...

class Scene:
    def __init__(
        self,
        lawn: Sequence[Sequence[float]],
        obstacles: Sequence[Sequence[Sequence[float]]] = ...,
        mow_areas: Sequence[Sequence[Sequence[float]]] = ...,
        virtual_wire: Sequence[Sequence[float]] = ...,
        docking_wire: Sequence[Sequence[float]] = ...,
    ) -> None: ...
    def plan(
        self, settings: Mapping[str, SettingValue], start: Sequence[float], *, search_details: bool = False
    ) -> PlannedTask: ...
    def slices(self, settings: Mapping[str, SettingValue]) -> TaskSlices: ...
    @overload
    def figures(self, settings: Mapping[str, SettingValue]) -> dict[Kind, tuple[int, float]]: ...
    @overload
    def figures(self, settings: Mapping[str, SettingValue], reach: Reach) -> dict[Kind, tuple[int, float, int]]: ...
    def reach(self, start: Sequence[float]) -> Reach: ...
    def transit(
        self, start: Sequence[float], target: Sequence[float], angle: float = 0.0
    ) -> list[XY] | None: ...

def unswept_parts(
    area: Sequence[Sequence[Sequence[float]]],
    lines: Sequence[Sequence[Sequence[float]]],
    half_width: float,
    arc_segments: int = 8,
) -> bytes: ...

def unswept_gaps(
    area: Sequence[Sequence[Sequence[float]]],
    lines: Sequence[Sequence[Sequence[float]]],
    half_width: float,
    arc_segments: int = 8,
    min_width: float = 0.0,
) -> tuple[bytes, float]: ...
