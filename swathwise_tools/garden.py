"""Garden files: GeoJSON in, a garden in local metres out.

A garden file is a GeoJSON FeatureCollection.  Every feature carries a
``"role"`` property:

===============  ==========================  =====================
role             geometry                    how many
===============  ==========================  =====================
``lawn``         Polygon without holes       exactly one
``obstacle``     Polygon or MultiPolygon     any
``mowArea``      Polygon or MultiPolygon     any
``virtualWire``  LineString                  at most one
``dockingWire``  LineString                  at most one
``start``        Point                       at most one
===============  ==========================  =====================

The collection's own ``"properties"`` member may hold

* ``"crs"``: ``"wgs84"`` (the default; longitude and latitude in degrees, as
  GeoJSON defines them) or ``"local-metres"`` (plain x/y metres, x east,
  y north);
* ``"settings"``: planning settings under the names of the
  ``swathwise.PathSettings`` fields (``angle`` in radians, like the field);
* ``"name"``: a display name.

Lon/lat gardens are projected with an azimuthal equidistant projection
centred on the lawn; metre gardens are only shifted so that the lawn's centre
is the origin.  Either way the planner works in a frame of metres around the
lawn, and :class:`LocalFrame` takes results back into the file's coordinates.
"""

from __future__ import annotations

import json
import math
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Sequence

from pyproj import CRS, Transformer
from shapely.geometry import LineString as ShapelyLine
from shapely.geometry import Point as ShapelyPoint
from shapely.geometry import Polygon as ShapelyPolygon
from shapely.ops import unary_union
from shapely.validation import explain_validity

from .settings import SettingsError, check_settings

XY = tuple[float, float]
Ring = list[XY]

ROLES = ("lawn", "obstacle", "mowArea", "virtualWire", "dockingWire", "start")
LONLAT_NAMES = {"wgs84", "epsg:4326", "crs84", "lonlat", "lon/lat"}
METRE_NAMES = {"local-metres", "local-meters", "metres", "meters"}

# Lanes are laid only within this distance of the planning frame's origin
# (the lawn centre); larger lawns lose lanes at their far ends.
PLANNER_REACH_M = 1000.0


class GardenError(ValueError):
    """A garden file that cannot be planned; the message is one line."""


@dataclass
class LocalFrame:
    """Maps file coordinates to the planning frame (metres) and back."""

    lonlat: bool
    centre: XY
    _forward: Transformer | None = field(default=None, repr=False)
    _inverse: Transformer | None = field(default=None, repr=False)

    @classmethod
    def metres(cls, centre: XY) -> "LocalFrame":
        return cls(lonlat=False, centre=centre)

    @classmethod
    def around(cls, lon: float, lat: float) -> "LocalFrame":
        local = CRS.from_proj4(
            f"+proj=aeqd +lat_0={lat!r} +lon_0={lon!r} +x_0=0 +y_0=0 +datum=WGS84 +units=m"
        )
        wgs84 = CRS.from_epsg(4326)
        return cls(
            lonlat=True,
            centre=(lon, lat),
            _forward=Transformer.from_crs(wgs84, local, always_xy=True),
            _inverse=Transformer.from_crs(local, wgs84, always_xy=True),
        )

    @property
    def crs_name(self) -> str:
        return "wgs84" if self.lonlat else "local-metres"

    def to_local(self, points: Sequence[XY]) -> Ring:
        if not points:
            return []
        if self._forward is None:
            cx, cy = self.centre
            return [(x - cx, y - cy) for x, y in points]
        xs, ys = self._forward.transform([p[0] for p in points], [p[1] for p in points])
        return list(zip(map(float, xs), map(float, ys)))

    def to_file(self, points: Sequence[XY]) -> Ring:
        if not points:
            return []
        if self._inverse is None:
            cx, cy = self.centre
            return [(x + cx, y + cy) for x, y in points]
        xs, ys = self._inverse.transform([p[0] for p in points], [p[1] for p in points])
        return list(zip(map(float, xs), map(float, ys)))


@dataclass
class Garden:
    """A garden in the planning frame (metres around the lawn centre)."""

    lawn: Ring
    obstacles: list[Ring] = field(default_factory=list)
    mow_areas: list[Ring] = field(default_factory=list)
    virtual_wire: list[XY] = field(default_factory=list)
    docking_wire: list[XY] = field(default_factory=list)
    start: XY | None = None
    settings: dict[str, Any] = field(default_factory=dict)
    name: str = ""
    frame: LocalFrame = field(default_factory=lambda: LocalFrame.metres((0.0, 0.0)))
    warnings: list[str] = field(default_factory=list)

    def mowable_area(self) -> ShapelyPolygon:
        """Lawn minus obstacles, restricted to the mow areas when there are any."""
        area = _shape(self.lawn).buffer(0)
        if self.obstacles:
            area = area.difference(unary_union([_shape(r).buffer(0) for r in self.obstacles]))
        if self.mow_areas:
            area = area.intersection(unary_union([_shape(r).buffer(0) for r in self.mow_areas]))
        return area

    def contains(self, point: XY) -> bool:
        """Whether a position (planning frame) is on the lawn, within 1 cm."""
        return bool(_shape(self.lawn).buffer(0.01).contains(ShapelyPoint(point)))

    def default_start(self) -> XY:
        """Where the mower starts when the file names no start point."""
        if self.start is not None:
            return self.start
        if self.docking_wire:
            return self.docking_wire[0]
        area = self.mowable_area()
        if area.is_empty:
            area = _shape(self.lawn)
        p = area.representative_point()
        return (float(p.x), float(p.y))


def _shape(ring: Ring) -> ShapelyPolygon:
    return ShapelyPolygon(ring)


def load_garden(path: str | Path) -> Garden:
    """Read and check a garden file; raises GardenError with a one-line message."""
    try:
        text = Path(path).read_text(encoding="utf-8")
    except OSError as exc:
        raise GardenError(f"cannot read the garden file: {exc.strerror or exc}") from None
    except UnicodeDecodeError:
        raise GardenError("the garden file is not UTF-8 text") from None
    try:
        data = json.loads(text)
    except json.JSONDecodeError as exc:
        raise GardenError(
            f"invalid JSON at line {exc.lineno}, column {exc.colno}: {exc.msg}"
        ) from None
    return parse_garden(data)


def parse_garden(data: Any) -> Garden:
    """Check a decoded garden document and convert it into the planning frame."""
    if not isinstance(data, dict) or data.get("type") != "FeatureCollection":
        raise GardenError("the garden file must be a GeoJSON FeatureCollection")
    props = data.get("properties", {})
    if props is None:
        props = {}
    if not isinstance(props, dict):
        raise GardenError('the collection\'s "properties" must be an object')
    lonlat = _read_crs(props.get("crs"))
    try:
        settings = check_settings(props.get("settings", {}), source="setting")
    except SettingsError as exc:
        raise GardenError(str(exc)) from None
    name = props.get("name", "")
    if not isinstance(name, str):
        raise GardenError('the collection\'s "name" must be a string')

    features = data.get("features")
    if not isinstance(features, list):
        raise GardenError('the collection has no "features" list')

    raw: dict[str, list[tuple[str, Any]]] = {role: [] for role in ROLES}
    for index, feature in enumerate(features):
        label, role, geometry = _read_feature(index, feature)
        raw[role].append((label, geometry))

    lawns = raw["lawn"]
    if not lawns:
        raise GardenError('no feature with role "lawn"; the garden needs its lawn as a Polygon')
    if len(lawns) > 1:
        raise GardenError(
            f'{len(lawns)} features have role "lawn" ({lawns[1][0]} is the second); '
            "give the lawn as one Polygon"
        )
    for role in ("virtualWire", "dockingWire", "start"):
        if len(raw[role]) > 1:
            raise GardenError(f'{raw[role][1][0]}: a garden has at most one "{role}"')

    lawn_label, lawn_geometry = lawns[0]
    lawn_raw = _polygon_rings(lawn_label, lawn_geometry, allow_multi=False, lonlat=lonlat)[0]
    obstacles_raw = [
        (label, ring)
        for label, geometry in raw["obstacle"]
        for ring in _polygon_rings(label, geometry, allow_multi=True, lonlat=lonlat)
    ]
    mow_areas_raw = [
        (label, ring)
        for label, geometry in raw["mowArea"]
        for ring in _polygon_rings(label, geometry, allow_multi=True, lonlat=lonlat)
    ]
    wires = {
        role: _line_points(raw[role][0][0], raw[role][0][1], lonlat) if raw[role] else []
        for role in ("virtualWire", "dockingWire")
    }
    start_raw = _point(raw["start"][0][0], raw["start"][0][1], lonlat) if raw["start"] else None

    xs = [p[0] for p in lawn_raw]
    ys = [p[1] for p in lawn_raw]
    centre = ((min(xs) + max(xs)) / 2.0, (min(ys) + max(ys)) / 2.0)
    frame = LocalFrame.around(*centre) if lonlat else LocalFrame.metres(centre)

    garden = Garden(
        lawn=frame.to_local(lawn_raw),
        obstacles=[frame.to_local(r) for _, r in obstacles_raw],
        mow_areas=[frame.to_local(r) for _, r in mow_areas_raw],
        virtual_wire=frame.to_local(wires["virtualWire"]),
        docking_wire=frame.to_local(wires["dockingWire"]),
        start=frame.to_local([start_raw])[0] if start_raw is not None else None,
        settings=settings,
        name=name,
        frame=frame,
    )
    _check_shapes(garden, lawn_label, obstacles_raw, mow_areas_raw, raw["start"])
    return garden


def _read_crs(value: Any) -> bool:
    """True for lon/lat files, False for metre files."""
    if value is None:
        return True
    if isinstance(value, str):
        key = value.strip().lower()
        if key in LONLAT_NAMES:
            return True
        if key in METRE_NAMES:
            return False
    raise GardenError(
        f'unknown "crs" {json.dumps(value)}; use "wgs84" (lon/lat degrees) or "local-metres"'
    )


def _read_feature(index: int, feature: Any) -> tuple[str, str, Any]:
    where = f"feature {index}"
    if not isinstance(feature, dict) or feature.get("type") != "Feature":
        raise GardenError(f"{where}: not a GeoJSON Feature")
    props = feature.get("properties")
    if not isinstance(props, dict):
        raise GardenError(f'{where}: no "properties" with a "role"')
    name = props.get("name")
    if isinstance(name, str) and name:
        where = f'{where} ("{name}")'
    role = props.get("role")
    if role is None:
        raise GardenError(f'{where}: no "role" property; use one of {", ".join(ROLES)}')
    if role not in ROLES:
        raise GardenError(
            f"{where}: unknown role {json.dumps(role)}; use one of {', '.join(ROLES)}"
        )
    label = f"{role} {where}"
    geometry = feature.get("geometry")
    if not isinstance(geometry, dict) or not isinstance(geometry.get("type"), str):
        raise GardenError(f"{label}: no geometry")
    return label, role, geometry


def _coordinates(label: str, geometry: dict[str, Any]) -> Any:
    if "coordinates" not in geometry:
        raise GardenError(f"{label}: the {geometry['type']} has no coordinates")
    return geometry["coordinates"]


def _position(label: str, value: Any, lonlat: bool) -> XY:
    if not isinstance(value, (list, tuple)) or len(value) not in (2, 3):
        raise GardenError(f"{label}: a position must be [x, y], got {json.dumps(value)}")
    numbers = value[:2]
    for v in numbers:
        if isinstance(v, bool) or not isinstance(v, (int, float)) or not math.isfinite(v):
            raise GardenError(f"{label}: coordinate {json.dumps(v)} is not a finite number")
    x, y = float(numbers[0]), float(numbers[1])
    if lonlat and not (-180.0 <= x <= 180.0 and -90.0 <= y <= 90.0):
        raise GardenError(
            f"{label}: ({x:g}, {y:g}) is no longitude/latitude; "
            'for coordinates in metres set "crs": "local-metres" in the collection\'s properties'
        )
    return (x, y)


def _ring(label: str, value: Any, lonlat: bool) -> Ring:
    if not isinstance(value, list):
        raise GardenError(f"{label}: a polygon ring must be a list of positions")
    points = [_position(label, p, lonlat) for p in value]
    # GeoJSON rings repeat their first position at the end; the planner's
    # rings are closed implicitly.
    if len(points) >= 2 and points[0] == points[-1]:
        points.pop()
    if len(set(points)) < 3:
        raise GardenError(f"{label}: the polygon needs at least 3 distinct corners")
    return points


def _polygon_rings(label: str, geometry: dict[str, Any], *, allow_multi: bool, lonlat: bool) -> list[Ring]:
    kind = geometry["type"]
    if kind == "Polygon":
        polygons = [_coordinates(label, geometry)]
    elif kind == "MultiPolygon" and allow_multi:
        polygons = _coordinates(label, geometry)
        if not isinstance(polygons, list) or not polygons:
            raise GardenError(f"{label}: the MultiPolygon has no polygons")
    elif kind == "MultiPolygon":
        raise GardenError(
            f"{label}: the lawn must be a single Polygon, not a MultiPolygon; "
            "join the parts with a passage or plan them as separate gardens"
        )
    else:
        wanted = "a Polygon or MultiPolygon" if allow_multi else "a Polygon"
        raise GardenError(f"{label}: expected {wanted}, got a {kind}")
    rings = []
    for polygon in polygons:
        if not isinstance(polygon, list) or not polygon:
            raise GardenError(f"{label}: the polygon has no outline")
        if len(polygon) > 1:
            if allow_multi:
                raise GardenError(f"{label}: the polygon has holes, which are not supported here")
            raise GardenError(
                f"{label}: the lawn polygon has {len(polygon) - 1} hole(s); "
                'give each hole as its own feature with role "obstacle"'
            )
        rings.append(_ring(label, polygon[0], lonlat))
    return rings


def _line_points(label: str, geometry: dict[str, Any], lonlat: bool) -> list[XY]:
    if geometry["type"] != "LineString":
        raise GardenError(f"{label}: expected a LineString, got a {geometry['type']}")
    coords = _coordinates(label, geometry)
    if not isinstance(coords, list) or len(coords) < 2:
        raise GardenError(f"{label}: a LineString needs at least 2 positions")
    return [_position(label, p, lonlat) for p in coords]


def _point(label: str, geometry: dict[str, Any], lonlat: bool) -> XY:
    if geometry["type"] != "Point":
        raise GardenError(f"{label}: expected a Point, got a {geometry['type']}")
    return _position(label, _coordinates(label, geometry), lonlat)


def _check_shapes(
    garden: Garden,
    lawn_label: str,
    obstacles: list[tuple[str, Ring]],
    mow_areas: list[tuple[str, Ring]],
    start: list[tuple[str, Any]],
) -> None:
    lawn = _shape(garden.lawn)
    if not lawn.is_valid:
        raise GardenError(f"{lawn_label}: the outline is not a simple polygon ({explain_validity(lawn)})")
    for (label, _), ring in zip(obstacles, garden.obstacles):
        shape = _shape(ring)
        if not shape.is_valid:
            raise GardenError(f"{label}: the outline is not a simple polygon ({explain_validity(shape)})")
        if not lawn.intersects(shape):
            garden.warnings.append(f"{label} lies outside the lawn")
        elif not lawn.contains(shape):
            garden.warnings.append(f"{label} reaches beyond the lawn's edge")
    for (label, _), ring in zip(mow_areas, garden.mow_areas):
        shape = _shape(ring)
        if not shape.is_valid:
            raise GardenError(f"{label}: the outline is not a simple polygon ({explain_validity(shape)})")
        if not lawn.intersects(shape):
            garden.warnings.append(f"{label} lies outside the lawn")
    if garden.start is not None and not garden.contains(garden.start):
        garden.warnings.append(f"{start[0][0]} lies outside the lawn")
    for name, line in (("virtual wire", garden.virtual_wire), ("docking wire", garden.docking_wire)):
        if line and not lawn.buffer(0.01).contains(ShapelyLine(line)):
            garden.warnings.append(f"the {name} leaves the lawn")
    reach = max(math.hypot(x, y) for x, y in garden.lawn)
    if reach > PLANNER_REACH_M:
        garden.warnings.append(
            f"the lawn reaches {reach:.0f} m from its centre; lanes farther than "
            f"{PLANNER_REACH_M:.0f} m out are not planned"
        )
