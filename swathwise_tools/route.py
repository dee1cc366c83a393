"""Route files: the plan as GeoJSON in the garden's own coordinates.

One feature per piece (``role`` "piece": ``index``, ``kind``, ``order``,
``reached``, ``length``), one per transit stretch (``role`` "transit"), one
for the whole path (``role`` "path"), the start (``role`` "start"), and the
summary as the scalar properties of a feature with ``role`` "summary" and no
geometry.  Every property is a scalar, so GDAL, QGIS and geopandas read the
file as one table.  A garden in a CRS other than longitude/latitude gets the
top-level ``crs`` member that GDAL reads.
"""

from __future__ import annotations

import json
import sys
from pathlib import Path
from typing import Any, Mapping

from .frame import XY, crs_label, crs_urn
from .garden import Garden
from .pieces import path_length
from .plan import GEOGRAPHIC_DIGITS, PLANAR_DIGITS, Plan, flatten


def route_collection(plan: Plan, summary: Mapping[str, Any] | None = None) -> dict[str, Any]:
    """The route as a GeoJSON FeatureCollection (see :meth:`Plan.to_geojson`)."""
    return plan.to_geojson(summary)


def write_route(path: str | Path, plan: Plan, summary: Mapping[str, Any] | None = None) -> None:
    """Write the route as GeoJSON to ``path`` (``"-"``: standard output)."""
    text = json.dumps(route_collection(plan, summary), separators=(",", ":")) + "\n"
    if str(path) == "-":
        sys.stdout.write(text)
        sys.stdout.flush()
        return
    Path(path).write_text(text, encoding="utf-8")


# --- a way between two points (swathwise route) --------------------------------


def _source_point(garden: Garden, point: XY) -> list[float]:
    digits = GEOGRAPHIC_DIGITS if garden.frame.is_geographic else PLANAR_DIGITS
    (x, y), = garden.frame.to_source([point])
    return [round(x, digits), round(y, digits)]


def way_summary(garden: Garden, way: list[XY], seconds: float, angle: float) -> dict[str, Any]:
    """Figures of a way from :func:`.plan.route_between`: its ends (the
    file's coordinates), points, length (m), the lane angle it was searched
    for (degrees) and the search time (s)."""
    return {"from": _source_point(garden, way[0]), "to": _source_point(garden, way[-1]),
            "points": len(way), "length": path_length(way), "angle": angle, "seconds": seconds}


def way_collection(garden: Garden, way: list[XY], summary: Mapping[str, Any]) -> dict[str, Any]:
    """The way as a GeoJSON FeatureCollection in the garden's source CRS: one
    LineString feature with ``role`` "route" and the summary's figures."""
    coordinates = [_source_point(garden, p) for p in way]
    if len(coordinates) == 1:
        coordinates *= 2
    collection: dict[str, Any] = {"type": "FeatureCollection"}
    crs = garden.frame.crs
    if crs is not None and crs_label(crs) not in ("OGC:CRS84", "EPSG:4326"):
        collection["crs"] = {"type": "name", "properties": {"name": crs_urn(crs)}}
    collection["properties"] = {"crs": garden.frame.crs_name}
    collection["features"] = [{"type": "Feature", "properties": {"role": "route", **flatten(summary)},
                               "geometry": {"type": "LineString", "coordinates": coordinates}}]
    return collection


def write_way(path: str | Path, garden: Garden, way: list[XY], summary: Mapping[str, Any]) -> None:
    """Write the way as GeoJSON to ``path`` (``"-"``: standard output)."""
    text = json.dumps(way_collection(garden, way, summary), separators=(",", ":")) + "\n"
    if str(path) == "-":
        sys.stdout.write(text)
        sys.stdout.flush()
        return
    Path(path).write_text(text, encoding="utf-8")
