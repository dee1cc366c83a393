"""Features of a garden: each source's items read, typed and checked with shapely.

Every way into a garden ends here: a feature with a role and a shapely
geometry in source coordinates, or a :class:`GardenError` whose one-line
message names the feature and the fix.
"""

from __future__ import annotations

import json
import math
from dataclasses import dataclass
from typing import Any, Mapping, cast

import numpy as np
import shapely
from shapely.geometry import LineString, Point, Polygon, shape

ROLES = ("lawn", "obstacle", "mowArea", "virtualWire", "dockingWire", "start")
# What messages say of an outline with fewer than three distinct corners.
DEGENERATE = "needs at least 3 distinct corners"


class GardenError(ValueError):
    """A garden that cannot be planned; the message is one line."""


@dataclass
class Feature:
    """One feature of a garden: its role and shapely geometry in source coordinates."""

    label: str  # how messages name it: 'obstacle feature 3 ("shed")'
    role: str
    geometry: Any  # shapely geometry in source coordinates
    radius: float | None = None


def read_feature(index: int, feature: Any) -> Feature:
    """A GeoJSON feature (mapping) checked for its role, geometry and optional ``radius`` (metres)."""
    where = f"feature {index}"
    if not isinstance(feature, Mapping) or feature.get("type") != "Feature":
        raise GardenError(f"{where}: not a GeoJSON Feature")
    props = feature.get("properties")
    if not isinstance(props, Mapping):
        raise GardenError(f'{where}: no "properties" with a "role"')
    name = props.get("name")
    if isinstance(name, str) and name:
        where = f'{where} ("{name}")'
    role = props.get("role")
    if role is None or (isinstance(role, float) and math.isnan(role)):
        raise GardenError(f'{where}: no "role" property; use one of {", ".join(ROLES)}')
    if role not in ROLES:
        raise GardenError(f"{where}: unknown role {json.dumps(role)}; use one of {', '.join(ROLES)}")
    label = f"{role} {where}"
    try:
        geometry = to_shape(label, feature.get("geometry"))
    except GardenError as exc:
        if role != "obstacle" or DEGENERATE not in str(exc):
            raise
        # One odd obstacle does not stop the garden: it is skipped, with a warning.
        geometry = Polygon()
    radius = props.get("radius")
    if radius is not None and not (isinstance(radius, float) and math.isnan(radius)):
        if isinstance(radius, bool) or not isinstance(radius, (int, float)) or not 0 < radius < math.inf:
            raise GardenError(f'{label}: "radius" must be a positive number of metres, got {radius!r}')
        return Feature(label, role, geometry, float(radius))
    return Feature(label, role, geometry)


def to_shape(label: str, geometry: Any) -> Any:
    """A GeoJSON geometry mapping as a 2D shapely geometry (``shapely.geometry.shape``)."""
    if isinstance(geometry, shapely.Geometry):
        return geometry
    if not isinstance(geometry, Mapping) or not isinstance(geometry.get("type"), str):
        raise GardenError(f"{label}: no geometry")
    key = "geometries" if geometry["type"] == "GeometryCollection" else "coordinates"
    if key not in geometry:
        raise GardenError(f"{label}: the {geometry['type']} has no {key}")
    if key == "coordinates":
        check_numbers(label, geometry["coordinates"])
    try:
        rings = _polygon_rings(geometry)
        if rings is not None:
            return shapely.force_2d(Polygon(rings[0], rings[1:]))
        return shapely.force_2d(shape(cast("dict[str, Any]", geometry)))
    except (ValueError, TypeError, shapely.errors.GEOSException) as exc:
        if "linearring requires at least 4" in str(exc).lower():
            raise GardenError(f"{label}: the polygon {DEGENERATE}") from None
        raise GardenError(f"{label}: {exc}") from None


def _polygon_rings(geometry: Mapping[str, Any]) -> list[np.ndarray] | None:
    """A GeoJSON Polygon's rings as arrays of x, y, for shapely to read at
    once (given lists, it reads them position by position); None for any
    other geometry, and for rings shapely should judge itself (empty ones,
    positions of other than two numbers)."""
    if geometry["type"] != "Polygon" or not isinstance(geometry["coordinates"], list) \
            or not geometry["coordinates"]:
        return None
    rings = []
    for ring in geometry["coordinates"]:
        try:
            points = np.asarray(ring, dtype=float)
        except (ValueError, TypeError):
            return None
        if points.ndim != 2 or points.shape[1] != 2 or len(points) == 0:
            return None
        rings.append(points)
    return rings


def check_numbers(label: str, coordinates: Any) -> None:
    """Every coordinate a finite number (shapely would read ``"10"`` as 10)."""
    if isinstance(coordinates, np.ndarray):
        if coordinates.dtype.kind not in "fiu" or not np.isfinite(coordinates).all():
            raise GardenError(f"{label}: the coordinates must be finite numbers")
        return
    if isinstance(coordinates, (list, tuple)):
        for item in coordinates:
            # A finite float, the usual coordinate, is fine as it is.
            if type(item) is not float or not math.isfinite(item):
                check_numbers(label, item)
        return
    if isinstance(coordinates, bool) or not isinstance(coordinates, (int, float, np.number)) \
            or not math.isfinite(coordinates):
        shown = json.dumps(coordinates) if isinstance(coordinates, (str, int, float)) else repr(coordinates)
        raise GardenError(f"{label}: coordinate {shown} is not a finite number")


def lawn_polygon(feature: Feature) -> Polygon:
    """The lawn: a Polygon, or a MultiPolygon of one part, valid."""
    geometry = feature.geometry
    if geometry.geom_type == "MultiPolygon":
        if len(geometry.geoms) != 1:
            raise GardenError(
                f"{feature.label}: the lawn must be a single Polygon, not a MultiPolygon of "
                f"{len(geometry.geoms)} parts; join the parts with a passage or plan them as separate gardens"
            )
        geometry = geometry.geoms[0]
    if geometry.geom_type != "Polygon":
        raise GardenError(f"{feature.label}: expected a Polygon, got a {geometry.geom_type}")
    return valid_polygon(feature.label, geometry)


def obstacle_parts(feature: Feature, warnings: list[str], notes: list[str]) -> list[Polygon]:
    """An obstacle's polygons; none for a round one (a Point with a radius, drawn later in metres).

    An odd obstacle never stops the garden: holes are dropped (the outline
    is the obstacle, with a note), a degenerate one (fewer than three
    distinct corners, no area) is skipped and a self-crossing outline is
    repaired, each with a warning naming the feature.
    """
    if feature.geometry.geom_type == "Point":
        if feature.radius is None:
            raise GardenError(f'{feature.label}: a Point obstacle needs a "radius" property in metres')
        return []  # drawn as a circle in the planning frame
    parts = polygon_parts(feature, holes=True, check=False)
    if any(p.interiors for p in parts):
        notes.append(f"{feature.label} has holes (a courtyard?); its outline is planned as the obstacle")
        parts = [Polygon(p.exterior) for p in parts]
    kept: list[Polygon] = []
    for part in parts:
        if part.is_empty or len(set(part.exterior.coords)) < 3:
            warnings.append(f"{feature.label} is skipped: its outline {DEGENERATE}")
            continue
        reason = shapely.is_valid_reason(part)
        if reason != "Valid Geometry":
            repaired = [p for p in _polygons(shapely.make_valid(part)) if p.area > 0]
            if not repaired:
                warnings.append(f"{feature.label} is skipped: its outline encloses no area")
                continue
            warnings.append(f"{feature.label}: the outline crosses itself ({reason}); "
                            "planned as the area it encloses")
            kept += [Polygon(p.exterior) for p in repaired]
            continue
        kept.append(part)
    return kept


def _polygons(geometry: Any) -> list[Polygon]:
    if isinstance(geometry, Polygon):
        return [] if geometry.is_empty else [geometry]
    return [p for g in getattr(geometry, "geoms", []) for p in _polygons(g)]


def polygon_parts(feature: Feature, *, holes: bool, check: bool = True) -> list[Polygon]:
    """The valid parts of a Polygon or MultiPolygon; holes refused unless ``holes``;
    ``check=False`` leaves validity to the caller."""
    geometry = feature.geometry
    if geometry.geom_type == "Polygon":
        parts = [geometry]
    elif geometry.geom_type == "MultiPolygon" and not check:
        parts = list(geometry.geoms)
    elif geometry.geom_type == "MultiPolygon":
        parts = list(geometry.geoms)
        if not parts:
            raise GardenError(f"{feature.label}: the MultiPolygon has no polygons")
    else:
        wanted = "a Polygon, MultiPolygon or a Point with a radius" if feature.role == "obstacle" \
            else "a Polygon or MultiPolygon"
        raise GardenError(f"{feature.label}: expected {wanted}, got a {geometry.geom_type}")
    for part in parts:
        if part.interiors and not holes:
            raise GardenError(f"{feature.label}: the polygon has holes, which are not supported here; "
                              "give the outline only")
    return [valid_polygon(feature.label, p) for p in parts] if check else parts


def valid_polygon(label: str, polygon: Polygon) -> Polygon:
    """The polygon, if shapely finds it valid and it has three distinct corners."""
    if polygon.is_empty:
        raise GardenError(f"{label}: the polygon has no outline")
    if len(set(polygon.exterior.coords)) < 3:
        raise GardenError(f"{label}: the polygon {DEGENERATE}")
    reason = shapely.is_valid_reason(polygon)
    if reason != "Valid Geometry":
        raise GardenError(f"{label}: the outline is not a simple polygon ({reason})")
    return polygon


def line_of(feature: Feature) -> LineString:
    """A wire: a LineString (or a one-part MultiLineString) of two or more positions."""
    geometry = feature.geometry
    if geometry.geom_type == "MultiLineString" and len(geometry.geoms) == 1:
        geometry = geometry.geoms[0]
    if geometry.geom_type != "LineString":
        raise GardenError(f"{feature.label}: expected a LineString, got a {geometry.geom_type}")
    if len(geometry.coords) < 2:
        raise GardenError(f"{feature.label}: a LineString needs at least 2 positions")
    return cast(LineString, geometry)


def point_of(feature: Feature) -> Point:
    """A start: a Point (or a one-part MultiPoint)."""
    geometry = feature.geometry
    if geometry.geom_type == "MultiPoint" and len(geometry.geoms) == 1:
        geometry = geometry.geoms[0]
    if geometry.geom_type != "Point" or geometry.is_empty:
        raise GardenError(f"{feature.label}: expected a Point, got a {geometry.geom_type}")
    return cast(Point, geometry)
