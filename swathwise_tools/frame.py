"""Coordinate systems: the garden's source CRS and the local planning frame.

The planner works in metres.  Whatever coordinate system a garden comes in,
it is planned in a local frame in which distances are true: an azimuthal
equidistant projection centred on the lawn, on the datum of the source CRS
(for files in metres without a CRS, ``local-metres``, the coordinates are
only shifted so that the lawn centre is the origin).  :class:`LocalFrame`
takes coordinates and shapely geometries both ways.

Coordinates are always read and written x first: east, then north, or
longitude, then latitude, as GeoJSON and GIS tools write them, whatever axis
order the CRS's definition has.
"""

from __future__ import annotations

import json
from dataclasses import dataclass, field
from functools import lru_cache
from typing import TYPE_CHECKING, Any, Callable, Sequence, TypeVar

import numpy as np
import shapely
from shapely.geometry import Polygon

# pyproj is imported where a CRS is first needed: gardens in plain metres
# never load it.
if TYPE_CHECKING:
    from pyproj import CRS, Transformer

XY = tuple[float, float]
Ring = list[XY]
G = TypeVar("G", bound=shapely.Geometry)
# Makes the coordinates of lines laid end to end in an array of rounded
# x, y rows, ``counts[i]`` rows for line i: one object per line.
Coordinates = Callable[[np.ndarray, Sequence[int]], list[Any]]

LOCAL_METRES = "local-metres"
# Names that these tools have always read.
LONLAT_NAMES = {"wgs84", "lonlat", "lon/lat", "crs84"}
METRE_NAMES = {"local-metres", "local-meters", "metres", "meters"}


@lru_cache(maxsize=1)
def geojson_default() -> CRS:
    """What GeoJSON without a CRS is (RFC 7946): longitude and latitude on WGS 84."""
    from pyproj import CRS

    return CRS.from_user_input("OGC:CRS84")


class CrsError(ValueError):
    """A coordinate system that cannot be used; the message is one line."""


def read_crs(value: Any) -> CRS | None:
    """The CRS that a garden names; None for ``local-metres``.

    ``value`` may be an EPSG code (``"EPSG:3857"``, ``3857``), a URN
    (``"urn:ogc:def:crs:EPSG::25832"``), an OGC name (``"OGC:CRS84"``), WKT,
    a pyproj ``CRS``, ``"local-metres"``, or a GeoJSON 2008 ``crs`` object
    (``{"type": "name", "properties": {"name": ...}}`` as GDAL and QGIS
    write it, or ``{"type": "EPSG", "properties": {"code": ...}}``).
    """
    original = value
    if isinstance(value, dict):
        props = value.get("properties")
        if isinstance(props, dict) and value.get("type") == "name":
            value = props.get("name")
        elif isinstance(props, dict) and str(value.get("type", "")).upper() == "EPSG":
            value = f"EPSG:{props.get('code')}"
    if isinstance(value, str):
        key = value.strip().lower()
        if key in METRE_NAMES:
            return None
        if key in LONLAT_NAMES:
            return geojson_default()
    from pyproj import CRS
    from pyproj.exceptions import CRSError

    if isinstance(value, (str, int, CRS)) and not isinstance(value, bool):
        try:
            crs = CRS.from_user_input(value)
        except CRSError:
            pass
        else:
            return _horizontal(crs, original)
    shown = json.dumps(original) if isinstance(original, (str, int, dict, list)) else repr(original)
    if len(shown) > 80:
        shown = shown[:77] + "..."
    raise CrsError(
        f'unknown "crs" {shown}; give an EPSG code ("EPSG:25832"), a URN, an OGC name, WKT, '
        f'or "{LOCAL_METRES}" for plain metres'
    )


def _horizontal(crs: CRS, original: Any) -> CRS:
    if crs.is_compound and crs.sub_crs_list:
        crs = crs.sub_crs_list[0]
    if not (crs.is_geographic or crs.is_projected):
        raise CrsError(
            f'"crs" {crs.to_string()} is neither geographic (lon/lat) nor projected; '
            "give the coordinate system the lawn was drawn in"
        )
    return crs


def crs_label(crs: CRS | None) -> str:
    """A short name: ``"EPSG:3857"``, ``"OGC:CRS84"`` or ``"local-metres"``."""
    if crs is None:
        return LOCAL_METRES
    authority = crs.to_authority()
    if authority is not None:
        return f"{authority[0]}:{authority[1]}"
    return crs.name


def crs_urn(crs: CRS) -> str:
    """The name GDAL reads from a GeoJSON ``crs`` member (a URN where one exists)."""
    authority = crs.to_authority()
    if authority is None:
        return crs.to_wkt()
    name, code = authority
    if name == "OGC":
        return f"urn:ogc:def:crs:OGC:1.3:{code}"
    return f"urn:ogc:def:crs:{name}::{code}"


@dataclass(frozen=True)
class LocalFrame:
    """Maps source coordinates to the planning frame (metres) and back.

    Attributes:
        crs: the source CRS (pyproj), or None for plain metres
            (``local-metres``).
        centre: the origin of the planning frame in source coordinates.
    """

    crs: CRS | None
    centre: XY
    _forward: Transformer | None = field(default=None, repr=False, compare=False)
    _inverse: Transformer | None = field(default=None, repr=False, compare=False)

    @classmethod
    def metres(cls, centre: XY) -> "LocalFrame":
        """A frame for plain metres: a shift that puts ``centre`` at the origin."""
        return cls(crs=None, centre=centre)

    @classmethod
    def around(cls, crs: CRS, centre: XY) -> "LocalFrame":
        """An equidistant frame centred on ``centre`` (given in ``crs``)."""
        from pyproj import Transformer
        from pyproj.crs import ProjectedCRS
        from pyproj.crs.coordinate_operation import AzimuthalEquidistantConversion

        geodetic = crs.geodetic_crs or geojson_default()
        to_geodetic = Transformer.from_crs(crs, geodetic, always_xy=True)
        lon, lat = to_geodetic.transform(*centre)
        local = ProjectedCRS(
            conversion=AzimuthalEquidistantConversion(latitude_natural_origin=lat,
                                                      longitude_natural_origin=lon),
            geodetic_crs=geodetic,
        )
        return cls(
            crs=crs,
            centre=centre,
            _forward=Transformer.from_crs(crs, local, always_xy=True),
            _inverse=Transformer.from_crs(local, crs, always_xy=True),
        )

    @property
    def crs_name(self) -> str:
        """The source CRS's short name (``"EPSG:3857"``, ``"local-metres"`` ...)."""
        return crs_label(self.crs)

    @property
    def is_geographic(self) -> bool:
        """Whether source coordinates are longitude and latitude in degrees."""
        return self.crs is not None and self.crs.is_geographic

    def to_local(self, points: Sequence[XY]) -> Ring:
        """Source coordinates to the planning frame (metres)."""
        return _pairs(self._convert(np.asarray(points, dtype=float).reshape(-1, 2), forward=True))

    def to_source(self, points: Sequence[XY]) -> Ring:
        """Planning-frame coordinates back to the source CRS."""
        return _pairs(self._convert(np.asarray(points, dtype=float).reshape(-1, 2), forward=False))

    def to_source_rounded(self, points: Sequence[Sequence[float]], digits: int,
                          put: Coordinates | None = None) -> Any:
        """As :meth:`to_source`, each coordinate rounded to ``digits`` decimals,
        as ``[x, y]`` lists (the way GeoJSON writes them); ``put`` as for
        :meth:`to_source_rounded_split`."""
        return self.to_source_rounded_many([points], digits, put)[0]

    def to_source_rounded_many(self, lines: Sequence[Sequence[Sequence[float]]],
                               digits: int, put: Coordinates | None = None) -> list[Any]:
        """:meth:`to_source_rounded` of every line, converted in one go."""
        flat = [p for line in lines for p in line]
        if not flat:
            return [[] for _ in lines]
        return self.to_source_rounded_split(np.asarray(flat, dtype=float), [len(line) for line in lines], digits,
                                            put)

    def to_source_rounded_split(self, coords: np.ndarray, counts: Sequence[int], digits: int,
                                put: Coordinates | None = None) -> list[Any]:
        """As :meth:`to_source_rounded_many`, of the lines laid end to end in
        ``coords`` (an array of x, y rows), ``counts[i]`` points for line i.
        ``put`` makes each line's coordinates from the rounded array and the
        counts (default :func:`coordinate_lists`: ``[x, y]`` lists)."""
        if len(coords) == 0:
            return [[] for _ in counts]
        converted = self._convert(coords.reshape(-1, 2), forward=False)
        return (put or coordinate_lists)(_rounded(converted, digits), counts)

    def geometry_to_local(self, geometry: G) -> G:
        """A shapely geometry from the source CRS into the planning frame."""
        return shapely.transform(geometry, lambda c: self._convert(c, forward=True))

    def geometry_to_source(self, geometry: G) -> G:
        """A shapely geometry from the planning frame back into the source CRS."""
        return shapely.transform(geometry, lambda c: self._convert(c, forward=False))

    def _convert(self, coords: np.ndarray, *, forward: bool) -> np.ndarray:
        if len(coords) == 0:
            return coords
        transformer = self._forward if forward else self._inverse
        if transformer is None:
            shift = np.asarray(self.centre, dtype=float)
            moved: np.ndarray = coords - shift if forward else coords + shift
            return moved
        xs, ys = transformer.transform(coords[:, 0], coords[:, 1])
        return np.column_stack([np.asarray(xs, dtype=float), np.asarray(ys, dtype=float)])


def _rounded(coords: np.ndarray, digits: int) -> np.ndarray:
    """Every value rounded to ``digits`` decimals exactly as Python's round
    does: numpy's scaled rounding, and Python's where the scaled value lies
    so near a half that the scaling could have moved it across."""
    out: np.ndarray = np.round(coords, digits)
    scaled = coords * 10.0 ** digits
    near = np.abs(scaled - np.floor(scaled) - 0.5) < 1e-6
    if near.any():
        out[near] = [round(value, digits) for value in coords[near].tolist()]
    return out


def coordinate_lists(rounded: np.ndarray, counts: Sequence[int]) -> list[list[list[float]]]:
    """The rows of ``rounded`` as ``[x, y]`` lists, ``counts[i]`` of them for line i."""
    flat: list[list[float]] = rounded.tolist()
    out, at = [], 0
    for count in counts:
        out.append(flat[at:at + count])
        at += count
    return out


def ring_polygon(ring: Sequence[Sequence[float]]) -> Polygon:
    """``Polygon(ring)`` of a ring of (x, y) positions, made from an array of
    them (given a list, shapely reads it position by position)."""
    return Polygon(np.asarray(ring, dtype=float).reshape(-1, 2))


def polygon_ring(polygon: Polygon) -> Ring:
    """The positions of a polygon's outline as (x, y), the closing one included."""
    return [(x, y) for x, y in shapely.get_coordinates(polygon.exterior).tolist()]


def _pairs(coords: np.ndarray) -> Ring:
    return [(float(x), float(y)) for x, y in coords]
