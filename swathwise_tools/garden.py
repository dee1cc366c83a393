"""Gardens in: files, GeoJSON, shapely, GeoDataFrames; one Garden in metres out.

A garden is a set of features, each with a ``role``:

===============  ===============================================  ===========
role             geometry                                         how many
===============  ===============================================  ===========
``lawn``         Polygon (or a one-part MultiPolygon); holes      exactly one
                 become obstacles
``obstacle``     Polygon, MultiPolygon, or a Point with a         any
                 ``radius`` property in metres (a tree)
``mowArea``      Polygon or MultiPolygon                          any
``virtualWire``  LineString                                       at most one
``dockingWire``  LineString                                       at most one
``start``        Point (the dock)                                 at most one
===============  ===============================================  ===========

A GeoJSON garden file is a FeatureCollection of such features.  Its
coordinate system comes from the collection's ``properties`` (``"crs"``) or
from the top-level ``crs`` member that GDAL and QGIS write: an EPSG code, URN,
OGC name or WKT, or ``"local-metres"`` for plain x/y metres.  Without either
it is longitude/latitude (RFC 7946).  The collection's properties may also
hold ``"settings"`` (planning settings under the ``swathwise.PathSettings``
field names, ``angle`` in degrees) and ``"name"``.

GeoPackage, Shapefile, KML and other GIS files are read with geopandas (the
optional extra ``swathwise[gis]``): the same ``role`` column, the file's CRS.

Whatever the source, the garden is planned in a local frame of true metres
around the lawn centre (:class:`~swathwise_tools.frame.LocalFrame`), which
also takes results back into the source CRS.
"""

from __future__ import annotations

import functools
import json
import math
import sys
from dataclasses import dataclass, field
from pathlib import Path
from typing import TYPE_CHECKING, Any, Iterable, Mapping, cast

import numpy as np
import shapely
from shapely.geometry import LineString, MultiPolygon, Point, Polygon
from shapely.geometry.base import BaseGeometry

from .frame import XY, CrsError, LocalFrame, Ring, crs_label, geojson_default, polygon_ring, read_crs, ring_polygon
from .features import DEGENERATE, ROLES, Feature, GardenError, lawn_polygon, line_of, obstacle_parts, \
    point_of, polygon_parts, read_feature, to_shape
from .settings import Settings, SettingsError

if TYPE_CHECKING:
    from pyproj import CRS

__all__ = [
    "Garden", "GardenError", "LocalFrame", "XY", "Ring", "ROLES",
    "load_garden", "parse_garden", "read_garden", "make_garden",
]


# A lawn wider than this is taken for a mistake in the coordinate system.
MAX_LAWN_SPAN_M = 5000.0
# Plain metres this far from the origin look like map coordinates.
MAP_LIKE_M = 100_000.0
# A round obstacle (a tree) is a regular polygon round its circle, with at
# least this many corners, and more until its corners stand no farther than
# CIRCLE_OVERSHOOT_M outside the circle.
CIRCLE_MIN_CORNERS = 32
CIRCLE_OVERSHOOT_M = 0.01
# The polygon's edges keep this much outside the circle, for the planner's
# millimetre grid.
CIRCLE_MARGIN_M = 0.001
# An obstacle sharing less area than this with the lawn only touches it.
TOUCH_AREA_M2 = 1e-6

GEOJSON_SUFFIXES = (".geojson", ".json")


@dataclass
class Garden:
    """A garden in the planning frame: metres, x east, y north, around the lawn centre.

    Rings are lists of (x, y) without a repeated closing point.  ``frame``
    takes coordinates back to the source CRS; ``warnings`` and ``notes`` say
    what was odd about the source (warnings) or changed on the way in (notes).
    """

    lawn: Ring
    obstacles: list[Ring] = field(default_factory=list)
    mow_areas: list[Ring] = field(default_factory=list)
    virtual_wire: list[XY] = field(default_factory=list)
    docking_wire: list[XY] = field(default_factory=list)
    start: XY | None = None
    settings: Settings = field(default_factory=Settings)
    name: str = ""
    frame: LocalFrame = field(default_factory=lambda: LocalFrame.metres((0.0, 0.0)))
    warnings: list[str] = field(default_factory=list)
    notes: list[str] = field(default_factory=list)
    # How messages name each obstacle ('obstacle feature 3 ("shed")'), in
    # the order of ``obstacles``; empty where unknown.
    obstacle_labels: list[str] = field(default_factory=list)
    # Metres the outlines were moved in by (the lawn shrunk, the obstacles
    # grown) when this garden was prepared for planning with a clearance.
    clearance: float = 0.0

    def obstacle_label(self, index: int) -> str:
        """How messages name obstacle ``index``."""
        if index < len(self.obstacle_labels):
            return self.obstacle_labels[index]
        return f"obstacle {index + 1}"

    @property
    def crs(self) -> CRS | None:
        """The source CRS (None for plain metres)."""
        return self.frame.crs

    @property
    def lawn_shape(self) -> Polygon:
        """The lawn as a shapely Polygon (planning frame)."""
        return Polygon(self.lawn)

    def mowable_area(self) -> Polygon | MultiPolygon:
        """Lawn minus obstacles, restricted to the mow areas when there are any (m²).
        Kept for the last few outlines asked about, so that the start, the
        coverage and the reasons for given-up pieces share one."""
        return _mowable_area(_frozen([self.lawn])[0], _frozen(self.obstacles), _frozen(self.mow_areas))

    def obstacle_union(self) -> BaseGeometry:
        """The union of the obstacles with at least three corners (kept as
        :meth:`mowable_area` is)."""
        return _union_of(_frozen(self.obstacles))

    def contains(self, point: XY) -> bool:
        """Whether a position (planning frame) is on the lawn, within 1 cm."""
        return bool(Polygon(self.lawn).buffer(0.01).contains(Point(point)))

    def default_start(self) -> XY:
        """Where the mower starts: the start point, else the docking wire's first point,
        else a point inside the mowable area."""
        if self.start is not None:
            return self.start
        if self.docking_wire:
            return self.docking_wire[0]
        area = self.mowable_area()
        if area.is_empty:
            area = Polygon(self.lawn)
        p = area.representative_point()
        return (float(p.x), float(p.y))


FrozenRing = tuple[tuple[float, ...], ...]


def _frozen(rings: Iterable[Iterable[Any]]) -> tuple[FrozenRing, ...]:
    return tuple(tuple(tuple(p) for p in ring) for ring in rings)


@functools.lru_cache(maxsize=8)
def _union_of(rings: tuple[FrozenRing, ...]) -> BaseGeometry:
    polygons = [ring_polygon(r) for r in rings if len(r) >= 3]
    return shapely.union_all(shapely.buffer(polygons, 0)) if polygons else Polygon()


@functools.lru_cache(maxsize=8)
def _mowable_area(lawn: FrozenRing, obstacles: tuple[FrozenRing, ...],
                  mow_areas: tuple[FrozenRing, ...]) -> Polygon | MultiPolygon:
    area: BaseGeometry = ring_polygon(lawn).buffer(0)
    if obstacles:
        area = area.difference(_union_of(obstacles))
    if mow_areas:
        area = area.intersection(_union_of(mow_areas))
    return cast("Polygon | MultiPolygon", area)


# --- ways in -------------------------------------------------------------------


def read_garden(source: Any, *, crs: Any = None) -> Garden:
    """A garden from a file path (``"-"`` for standard input), a GeoJSON mapping,
    or any object with ``__geo_interface__`` (a GeoDataFrame with a ``role``
    column among them).

    ``crs`` names the source's coordinate system where the source does not
    (see :func:`~swathwise_tools.frame.read_crs`); a GeoDataFrame's own ``crs``
    is used otherwise.  Without any, coordinates are longitude/latitude.
    Raises :class:`GardenError`.
    """
    if isinstance(source, (str, Path)):
        return load_garden(source, crs=crs)
    if isinstance(source, Mapping):
        return parse_garden(source, crs=crs)
    interface = getattr(source, "__geo_interface__", None)
    if isinstance(interface, Mapping):
        if crs is None:
            crs = getattr(source, "crs", None)
        return parse_garden(interface, crs=crs)
    raise GardenError(
        f"cannot read a garden from a {type(source).__name__}; give a file name, "
        "a GeoJSON FeatureCollection or a GeoDataFrame with a role column"
    )


def load_garden(path: str | Path, *, crs: Any = None) -> Garden:
    """Read and check a garden file (``"-"``: GeoJSON from standard input).

    GeoJSON is read directly (a byte-order mark is skipped); other GIS formats
    through geopandas.  Raises :class:`GardenError` with a one-line message.
    """
    if str(path) == "-":
        return _parse_text(sys.stdin.read(), crs)
    path = Path(path)
    if path.suffix.lower() not in GEOJSON_SUFFIXES and path.suffix:
        return _load_with_geopandas(path, crs)
    try:
        raw = path.read_bytes()
    except OSError as exc:
        raise GardenError(f"cannot read the garden file: {exc.strerror or exc}") from None
    try:
        text = raw.decode("utf-8-sig")
    except UnicodeDecodeError:
        raise GardenError("the garden file is not UTF-8 text") from None
    return _parse_text(text, crs)


def _parse_text(text: str, crs: Any) -> Garden:
    try:
        data = json.loads(text.lstrip("\ufeff"))
    except json.JSONDecodeError as exc:
        raise GardenError(f"invalid JSON at line {exc.lineno}, column {exc.colno}: {exc.msg}") from None
    return parse_garden(data, crs=crs)


def _load_with_geopandas(path: Path, crs: Any) -> Garden:
    if not path.exists():
        raise GardenError(f"cannot read the garden file: {path} does not exist")
    try:
        import geopandas
    except ImportError:
        raise GardenError(
            f"reading {path.suffix} files needs geopandas: pip install 'swathwise[gis]', "
            "or save the garden as GeoJSON"
        ) from None
    try:
        frame = geopandas.read_file(path)
    except Exception as exc:  # the GIS drivers raise many kinds
        raise GardenError(f"cannot read the garden file: {str(exc).splitlines()[0]}") from None
    if "role" not in frame.columns:
        raise GardenError('the garden file has no "role" column; give each feature a role '
                          f"({', '.join(ROLES)})")
    garden = read_garden(frame, crs=crs)
    if not garden.name:
        garden.name = path.stem
    return garden


def parse_garden(data: Any, *, crs: Any = None) -> Garden:
    """Check a GeoJSON FeatureCollection (a mapping) and convert it into the planning frame.

    ``crs`` is used where the collection names no CRS of its own.
    """
    if not isinstance(data, Mapping) or data.get("type") != "FeatureCollection":
        raise GardenError("the garden file must be a GeoJSON FeatureCollection")
    props = data.get("properties") or {}
    if not isinstance(props, Mapping):
        raise GardenError('the collection\'s "properties" must be an object')
    named = [value for value in (props.get("crs"), data.get("crs")) if value is not None]
    try:
        crs_given = [read_crs(value) for value in named]
        if crs is not None:
            crs_given.append(read_crs(crs))
    except CrsError as exc:
        raise GardenError(str(exc)) from None
    if any(not _same_crs(c, crs_given[0]) for c in crs_given[1:]):
        names = ", ".join(crs_label(c) for c in crs_given)
        raise GardenError(f'the garden names different coordinate systems ({names}); keep one "crs"')
    try:
        settings = Settings.from_file(props.get("settings") or {})
    except SettingsError as exc:
        raise GardenError(str(exc)) from None
    name = props.get("name", "")
    if not isinstance(name, str):
        raise GardenError('the collection\'s "name" must be a string')
    features = data.get("features")
    if not isinstance(features, (list, tuple)):
        raise GardenError('the collection has no "features" list')
    parsed = [read_feature(index, feature) for index, feature in enumerate(features)]
    return _build(parsed, crs_given, settings, name)


def _same_crs(a: CRS | None, b: CRS | None) -> bool:
    if a is None or b is None:
        return a is b
    return bool(a.equals(b, ignore_axis_order=True))


def make_garden(
    lawn: Any,
    *,
    obstacles: Iterable[Any] = (),
    mow_areas: Iterable[Any] = (),
    virtual_wire: Any = None,
    docking_wire: Any = None,
    start: Any = None,
    crs: Any = None,
    settings: Settings | Mapping[str, Any] | None = None,
    name: str = "",
) -> Garden:
    """A garden from geometries in any form.

    Each geometry may be a shapely geometry, an object with
    ``__geo_interface__``, a GeoJSON geometry mapping, or a coordinate
    sequence (lists, tuples or a numpy array of x, y): a ring for ``lawn``,
    each obstacle and mow area, a line for the wires, a position for
    ``start``.  ``obstacles`` and ``mow_areas`` may also be a GeoSeries.
    ``crs`` as for :func:`read_garden` (default longitude/latitude);
    ``settings`` a :class:`Settings` or a mapping of file keys.
    """
    features = [Feature("lawn", "lawn", _as_shape("lawn", lawn, Polygon))]
    for role, values in (("obstacle", obstacles), ("mowArea", mow_areas)):
        for index, value in enumerate(_items(values)):
            label = f"{role} {index}"
            try:
                geometry = _as_shape(label, value, Polygon)
            except GardenError as exc:
                if role != "obstacle" or DEGENERATE not in str(exc):
                    raise
                geometry = Polygon()  # skipped with a warning, as from a file
            features.append(Feature(label, role, geometry))
    for role, value, kind in (("virtualWire", virtual_wire, LineString),
                              ("dockingWire", docking_wire, LineString), ("start", start, Point)):
        if value is not None:
            features.append(Feature(role, role, _as_shape(role, value, kind)))
    try:
        crs_given = [] if crs is None else [read_crs(crs)]
        if isinstance(settings, Settings):
            resolved = settings
        else:
            resolved = Settings.from_file(settings or {}, source="python")
    except (CrsError, SettingsError) as exc:
        raise GardenError(str(exc)) from None
    return _build(features, crs_given, resolved, name, python=True)


def _items(values: Any) -> list[Any]:
    interface = getattr(values, "__geo_interface__", None)
    if isinstance(interface, Mapping) and interface.get("type") == "FeatureCollection":
        return [f.get("geometry") for f in interface.get("features", ())]
    if isinstance(values, shapely.Geometry) or isinstance(interface, Mapping):
        return [values]
    return list(values)


def _as_shape(label: str, value: Any, kind: type) -> Any:
    if isinstance(value, shapely.Geometry):
        return value
    interface = getattr(value, "__geo_interface__", None)
    if isinstance(interface, Mapping):
        value = interface
    if isinstance(value, Mapping):
        if value.get("type") == "Feature":
            value = value.get("geometry")
        return to_shape(label, value)
    try:
        coords = np.asarray(value, dtype=float)
    except (TypeError, ValueError):
        raise GardenError(f"{label}: not a geometry or a sequence of numbers") from None
    try:
        if kind is Point:
            return Point(coords)
        return kind(coords)
    except (ValueError, shapely.errors.GEOSException) as exc:
        if "linearring requires at least 4" in str(exc).lower():
            raise GardenError(f"{label}: the polygon {DEGENERATE}") from None
        raise GardenError(f"{label}: {exc}") from None


# --- one garden from features --------------------------------------------------


def _build(features: list[Feature], crs_given: list[CRS | None], settings: Settings, name: str,
           python: bool = False) -> Garden:
    by_role: dict[str, list[Feature]] = {role: [] for role in ROLES}
    for feature in features:
        by_role[feature.role].append(feature)
    lawns = by_role["lawn"]
    if not lawns:
        raise GardenError('no feature with role "lawn"; the garden needs its lawn as a Polygon')
    if len(lawns) > 1:
        raise GardenError(
            f'{len(lawns)} features have role "lawn" ({lawns[1].label} is the second); '
            "give the lawn as one Polygon"
        )
    for role in ("virtualWire", "dockingWire", "start"):
        if len(by_role[role]) > 1:
            raise GardenError(f'{by_role[role][1].label}: a garden has at most one "{role}"')

    notes: list[str] = []
    warnings: list[str] = []
    lawn = lawn_polygon(lawns[0])
    obstacles = [(f.label, p) for f in by_role["obstacle"] for p in obstacle_parts(f, warnings, notes)]
    obstacles += [(f"{lawns[0].label} hole {k + 1}", Polygon(ring)) for k, ring in enumerate(lawn.interiors)]
    if lawn.interiors:
        notes.append(f"the lawn's {len(lawn.interiors)} hole(s) are planned as obstacles")
        lawn = Polygon(lawn.exterior)
    mow_areas = [(f.label, p) for f in by_role["mowArea"] for p in polygon_parts(f, holes=False)]
    wires = {role: line_of(by_role[role][0]) if by_role[role] else None
             for role in ("virtualWire", "dockingWire")}
    start = point_of(by_role["start"][0]) if by_role["start"] else None

    crs_known = bool(crs_given)
    crs = crs_given[0] if crs_given else geojson_default()
    if crs is not None and crs.is_geographic:
        others = [(f.label, f.geometry) for f in features if f.role not in ("lawn",)]
        _check_lonlat([(lawns[0].label, lawn)] + others, crs, crs_known, python)
    centre = _centre(lawn)
    frame = LocalFrame.around(crs, centre) if crs is not None else LocalFrame.metres(centre)

    local_lawn = frame.geometry_to_local(lawn)
    _check_span(local_lawn, crs, crs_known, python)
    garden = Garden(
        lawn=_ring(local_lawn),
        obstacles=[_ring(frame.geometry_to_local(p)) for _, p in obstacles],
        mow_areas=[_ring(frame.geometry_to_local(p)) for _, p in mow_areas],
        virtual_wire=_line_points(frame, wires["virtualWire"]),
        docking_wire=_line_points(frame, wires["dockingWire"]),
        start=frame.to_local([(start.x, start.y)])[0] if start is not None else None,
        settings=settings,
        name=name,
        frame=frame,
        warnings=warnings,
        notes=notes,
        obstacle_labels=[label for label, _ in obstacles],
    )
    for feature in by_role["obstacle"]:
        if feature.geometry.geom_type == "Point" and feature.radius is not None:
            (cx, cy), = frame.to_local([(feature.geometry.x, feature.geometry.y)])
            garden.obstacles.append(circle_ring((cx, cy), feature.radius))
            garden.obstacle_labels.append(feature.label)
    if crs is None:
        far = max(abs(v) for v in shapely.get_coordinates(lawn).ravel())
        if far > MAP_LIKE_M:
            garden.warnings.append(
                f'coordinates of {far:,.0f} m under "crs": "local-metres" look like map coordinates; '
                'if the file comes from a GIS, give its "crs" (e.g. "EPSG:3857") so distances are true'
            )
    _check_shapes(garden, garden.obstacle_labels, [label for label, _ in mow_areas])
    return garden


def circle_ring(centre: XY, radius: float) -> Ring:
    """A regular polygon that encloses the circle of ``radius`` metres round
    ``centre``: its edges touch a circle :data:`CIRCLE_MARGIN_M` wider, its
    corners stand at most :data:`CIRCLE_OVERSHOOT_M` beyond that (at least
    :data:`CIRCLE_MIN_CORNERS` corners, a multiple of four)."""
    inner = radius + CIRCLE_MARGIN_M
    corners = CIRCLE_MIN_CORNERS
    while inner / math.cos(math.pi / corners) - inner > CIRCLE_OVERSHOOT_M:
        corners += 4
    outer = inner / math.cos(math.pi / corners)
    cx, cy = centre
    return [(cx + outer * math.cos(2.0 * math.pi * k / corners), cy + outer * math.sin(2.0 * math.pi * k / corners))
            for k in range(corners)]


def _crs_hint(python: bool) -> str:
    if python:
        return 'pass crs= to make_garden, e.g. crs="EPSG:25832", or crs="local-metres" for plain metres'
    return ('name the file\'s coordinate system in the collection\'s properties, e.g. '
            '"crs": "EPSG:25832", or "crs": "local-metres" for plain metres')


def _check_lonlat(geometries: list[tuple[str, Any]], crs: CRS, crs_known: bool, python: bool = False) -> None:
    for label, geometry in geometries:
        for x, y in shapely.get_coordinates(geometry):
            if -180.0 <= x <= 180.0 and -90.0 <= y <= 90.0:
                continue
            if crs_known:
                raise GardenError(
                    f"{label}: ({x:g}, {y:g}) is no longitude/latitude, but the garden's \"crs\" is "
                    f"{crs_label(crs)}; name the coordinate system the file really uses"
                )
            without = "without crs= coordinates are" if python else 'without a "crs" GeoJSON is'
            raise GardenError(
                f"{label}: ({x:g}, {y:g}) is no longitude/latitude, and {without} lon/lat; {_crs_hint(python)}"
            )


def _check_span(local_lawn: Polygon, crs: CRS | None, crs_known: bool, python: bool = False) -> None:
    x0, y0, x1, y1 = local_lawn.bounds
    span = max(x1 - x0, y1 - y0)
    if span <= MAX_LAWN_SPAN_M:
        return
    if crs is not None and crs.is_geographic and not crs_known:
        cause = ("without a CRS the coordinates were read as longitude/latitude; if they are metres, "
                 + _crs_hint(python))
    else:
        cause = (f'check the "crs" ({crs_label(crs)}) and the units of the coordinates; '
                 f"gardens up to {MAX_LAWN_SPAN_M / 1000:g} km across are planned")
    raise GardenError(f"the lawn is {span / 1000:,.0f} km across; {cause}")


def _centre(polygon: Polygon) -> XY:
    x0, y0, x1, y1 = polygon.bounds
    return ((x0 + x1) / 2.0, (y0 + y1) / 2.0)


def _ring(polygon: Polygon) -> Ring:
    coords = polygon_ring(polygon)
    # GeoJSON and shapely rings repeat their first position; the planner's
    # rings are closed implicitly.
    if len(coords) >= 2 and coords[0] == coords[-1]:
        coords.pop()
    return coords


def _line_points(frame: LocalFrame, line: LineString | None) -> list[XY]:
    if line is None:
        return []
    return frame.to_local([(x, y) for x, y in line.coords])


def _check_shapes(garden: Garden, obstacle_labels: list[str], mow_area_labels: list[str]) -> None:
    """Warnings for outlines that do not fit the lawn; one line per kind of misfit."""
    lawn = ring_polygon(garden.lawn)
    beyond: list[str] = []
    outside: list[str] = []
    # Every obstacle at once: its area, whether it meets the lawn, the area shared.
    shapes = shapely.buffer([ring_polygon(ring) for ring in garden.obstacles], 0)
    meets = shapely.intersects(lawn, shapes)
    shared_areas = np.zeros(len(shapes))
    hit = np.flatnonzero(meets)
    shared_areas[hit] = shapely.area(shapely.intersection(lawn, shapes[hit]))
    for label, area, shared, touches in zip(obstacle_labels, shapely.area(shapes).tolist(), shared_areas.tolist(),
                                            meets.tolist()):
        if shared <= TOUCH_AREA_M2:
            # Entirely outside, or only touching the lawn from outside (a
            # building beside it): nothing the planner needs.
            if not touches:
                outside.append(label)
        elif shared < area - TOUCH_AREA_M2:
            beyond.append(label)
    if beyond:
        garden.warnings.append(f"{_some(beyond, 'obstacle')} reach{'es' if len(beyond) == 1 else ''} beyond "
                               "the lawn's edge")
    if outside:
        garden.warnings.append(f"{_some(outside, 'obstacle')} lie{'s' if len(outside) == 1 else ''} "
                               "outside the lawn")
    for label, ring in zip(mow_area_labels, garden.mow_areas):
        if not lawn.intersects(ring_polygon(ring)):
            garden.warnings.append(f"{label} lies outside the lawn")
    for name, line in (("virtual wire", garden.virtual_wire), ("docking wire", garden.docking_wire)):
        if line and not lawn.buffer(0.01).contains(LineString(line)):
            garden.warnings.append(f"the {name} leaves the lawn")


def _some(labels: list[str], what: str, shown: int = 3) -> str:
    """``obstacle feature 3`` or ``5 obstacles (obstacle feature 3, ... and 2 more)``."""
    if len(labels) == 1:
        return labels[0]
    names = ", ".join(labels[:shown]) + (f" and {len(labels) - shown} more" if len(labels) > shown else "")
    return f"{len(labels)} {what}s ({names})"
