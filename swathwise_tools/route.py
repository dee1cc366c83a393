"""Route files: the plan in the garden's own coordinates, as GeoJSON,
GeoPackage or GeoParquet, by the file name's suffix.

The route is one feature per piece (``role`` "piece": ``index``, ``kind``,
``order``, ``reached``, ``length`` in metres), one per transit stretch
(``role`` "transit"), one for the whole path (``role`` "path"), the unmown
gaps (``role`` "gaps") and the start (``role`` "start").  The summary is kept
apart from them, never as columns of every feature:

* GeoJSON (``.geojson``, ``.json``, ``-``): the collection's
  ``properties.summary``, which GIS tools leave out of the table; a garden
  in a CRS other than longitude/latitude gets the top-level ``crs`` member
  that GDAL reads.
* GeoPackage (``.gpkg``): one layer per role (``pieces``, ``transit``,
  ``path``, ``gaps``, ``start``), each of one geometry type, and the table
  ``summary`` of one row without geometry.
* GeoParquet (``.parquet``): the features as one table; the summary as JSON
  in the file's metadata under :data:`PARQUET_SUMMARY_KEY`.

:func:`route_layers` gives the same layers as GeoDataFrames, one geometry
type each, for formats of one layer per file such as Shapefile.
"""

from __future__ import annotations

import json
import re
import sys
import os
from pathlib import Path
from typing import Any, Mapping, Sequence

import numpy as np

try:
    import orjson
except ImportError:  # the route is written by json alone, the same text
    orjson = None  # type: ignore[assignment]

from .frame import XY, coordinate_lists, crs_label, crs_urn
from .garden import Garden
from .pieces import path_length
from .plan import GEOGRAPHIC_DIGITS, PLANAR_DIGITS, Plan, flatten
from .sessions import Sessions

# File suffix -> route format.
ROUTE_FORMATS = {".geojson": "geojson", ".json": "geojson", ".gpkg": "gpkg", ".parquet": "parquet"}
# Layer names by feature role, in the order they are written.
LAYERS = {"session": "sessions", "piece": "pieces", "transit": "transit", "path": "path", "gaps": "gaps", "start": "start"}
PARQUET_SUMMARY_KEY = b"swathwise:summary"
# Where Python's repr writes a float without an exponent: 1e-4 up to 1e16.
REPR_FIXED_FROM = 1e-4
REPR_FIXED_BELOW = 1e16


def route_format(path: str | Path) -> str:
    """The route format for a file name (``"-"``: GeoJSON); ValueError for an unknown suffix."""
    if str(path) == "-":
        return "geojson"
    suffix = Path(path).suffix.lower()
    if suffix not in ROUTE_FORMATS:
        known = ", ".join(sorted(ROUTE_FORMATS))
        raise ValueError(f"cannot tell the route format from {str(path)!r}; end the name in {known}")
    return ROUTE_FORMATS[suffix]


def route_collection(plan: Plan, summary: Mapping[str, Any] | None = None,
                     sessions: Sessions | None = None) -> dict[str, Any]:
    """The route as a GeoJSON FeatureCollection (see :meth:`Plan.to_geojson`)."""
    return plan.to_geojson(summary, sessions)


def route_layers(plan: Plan, summary: Mapping[str, Any] | None = None,
                 sessions: Sessions | None = None) -> dict[str, Any]:
    """The route as GeoDataFrames in the garden's CRS, one per role and each of
    one geometry type (``pieces``, ``transit``, ``path``, ``gaps``, ``start``;
    empty ones left out), plus ``summary``: a pandas DataFrame of one row, the
    summary's figures flattened (``path_length``).  Needs geopandas."""
    try:
        import geopandas
        import pandas
    except ImportError:
        raise ImportError("route layers need geopandas: pip install 'swathwise[gis]'") from None
    collection = plan.to_geojson(summary, sessions)
    layers: dict[str, Any] = {}
    for role, name in LAYERS.items():
        features = [f for f in collection["features"]
                    if f["properties"]["role"] == role and f["geometry"] is not None]
        if features:
            layers[name] = geopandas.GeoDataFrame.from_features(features, crs=plan.garden.frame.crs)
    layers["summary"] = pandas.DataFrame([flatten(collection["properties"]["summary"])])
    return layers


def write_route(path: str | Path, plan: Plan, summary: Mapping[str, Any] | None = None,
                sessions: Sessions | None = None) -> None:
    """Write the route to ``path`` (``"-"``: GeoJSON to standard output); the
    suffix picks the format (see :func:`route_format`).  GeoPackage and
    GeoParquet need geopandas, GeoParquet pyarrow too.  With ``sessions``,
    one line per session (``role`` "session", the GeoPackage layer
    ``sessions``) and the ``session`` of every piece and transit stretch."""
    fmt = route_format(path)
    if fmt == "gpkg":
        _write_gpkg(Path(path), plan, summary, sessions)
        return
    if fmt == "parquet":
        _write_parquet(Path(path), plan, summary, sessions)
        return
    text = route_text(plan, summary, sessions)
    if str(path) == "-":
        sys.stdout.write(text)
        sys.stdout.flush()
        return
    Path(path).write_text(text, encoding="utf-8")


def route_text(plan: Plan, summary: Mapping[str, Any] | None = None,
               sessions: Sessions | None = None) -> str:
    """The route as GeoJSON text, as ``json.dumps`` writes
    :func:`route_collection` compactly (``,`` and ``:`` between items), and a
    newline.  The coordinates, nearly all of the text, are written straight
    from their arrays by orjson where it writes every number as ``json``
    does (see :class:`_CoordinateText`)."""
    coordinates = _CoordinateText()
    collection = plan.to_geojson(summary, sessions, coordinates=coordinates)
    # The collection is plain nested lists and dicts made here: no cycles to look for.
    return coordinates.fill(json.dumps(collection, separators=(",", ":"), check_circular=False)) + "\n"


class _CoordinateText:
    """Coordinates for :meth:`Plan.to_geojson` that become text at once.

    Each line's coordinates are written by orjson from the rounded array and
    stand in the collection as a token (a string ``json`` writes as it is);
    :meth:`fill` puts the text in the token's place.  orjson writes a float
    as Python's ``repr`` does (the shortest text that reads back the same)
    except below 1e-4, where ``repr`` turns to an exponent and orjson does
    not: arrays holding such values (or none finite, or 1e16 and beyond) are
    given as ``[x, y]`` lists instead, and so is everything without orjson.
    """

    def __init__(self) -> None:
        # Nothing a garden or a summary holds can spell this token.
        self.token = f"@{os.urandom(16).hex()}:"
        self.texts: list[str] = []

    def __call__(self, rounded: np.ndarray, counts: Sequence[int]) -> list[Any]:
        size = np.abs(rounded)
        if orjson is None or not bool(np.all((rounded == 0) | ((size >= REPR_FIXED_FROM) & (size < REPR_FIXED_BELOW)))):
            return coordinate_lists(rounded, counts)
        rows = np.ascontiguousarray(rounded, dtype=np.float64)
        out, at = [], 0
        for count in counts:
            out.append(f"{self.token}{len(self.texts)}")
            self.texts.append(orjson.dumps(rows[at:at + count], option=orjson.OPT_SERIALIZE_NUMPY).decode())
            at += count
        return out

    def fill(self, text: str) -> str:
        """``text`` with every token (a JSON string) replaced by its coordinates."""
        if not self.texts:
            return text
        return re.sub(f'"{re.escape(self.token)}(\\d+)"', lambda m: self.texts[int(m.group(1))], text)


def _write_gpkg(path: Path, plan: Plan, summary: Mapping[str, Any] | None,
                sessions: Sessions | None = None) -> None:
    import warnings

    import pyogrio

    layers = route_layers(plan, summary, sessions)
    path.unlink(missing_ok=True)
    with warnings.catch_warnings():
        # A garden in plain local metres has no CRS to write, and says so itself.
        warnings.filterwarnings("ignore", message=".*'crs' was not provided")
        for name, layer in layers.items():
            pyogrio.write_dataframe(layer, path, layer=name, driver="GPKG", append=path.exists())


def _write_parquet(path: Path, plan: Plan, summary: Mapping[str, Any] | None,
                   sessions: Sessions | None = None) -> None:
    try:
        import pyarrow.parquet as pq
    except ImportError:
        raise ImportError("GeoParquet routes need pyarrow: pip install 'swathwise[gis]'") from None
    # geopandas writes the GeoParquet metadata; the summary joins it.
    plan.to_geodataframe(summary, sessions).to_parquet(path)
    table = pq.read_table(path)
    meta = dict(table.schema.metadata or {})
    meta[PARQUET_SUMMARY_KEY] = json.dumps(plan.to_geojson(summary)["properties"]["summary"]).encode()
    pq.write_table(table.replace_schema_metadata(meta), path)


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
