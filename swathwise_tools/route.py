"""Route files: the plan as GeoJSON, in the garden file's coordinates.

The collection holds

* one feature with role ``"path"``: the mower's path as a LineString (its
  geometry is null while the path has fewer than two points);
* one feature with role ``"slices"``: every planned piece as one line of a
  MultiLineString, in the planner's order; laps are written closed.  The
  properties ``kind`` and ``reached`` are lists with one entry per line
  (``kind``: ``"area"``, ``"perimeter"`` or ``"obstacle"``);
* one feature with role ``"transit"``: the path's transit stretches as a
  MultiLineString;
* one feature with role ``"gaps"``: the mowable area that no mowing pass
  sweeps at the swath width, as a MultiPolygon (property ``area`` in m²);
* one feature with role ``"start"``: the start Point.

The collection's ``properties`` repeat the garden's ``crs`` and carry the
summary numbers.
"""

from __future__ import annotations

import json
from pathlib import Path
from typing import Any, Mapping, Sequence

from .garden import XY
from .plan import Plan

# About 0.1 mm either way.
_DIGITS = {"wgs84": 9, "local-metres": 4}


def _coords(points: Sequence[XY], digits: int) -> list[list[float]]:
    return [[round(x, digits), round(y, digits)] for x, y in points]


def route_collection(plan: Plan, summary: Mapping[str, Any] | None = None) -> dict[str, Any]:
    frame = plan.garden.frame
    digits = _DIGITS[frame.crs_name]

    def out(points: Sequence[XY]) -> list[list[float]]:
        return _coords(frame.to_file(list(points)), digits)

    path_geometry = (
        {"type": "LineString", "coordinates": out(plan.path)} if len(plan.path) >= 2 else None
    )
    slice_lines = [p.points + p.points[:1] if p.is_lap else p.points for p in plan.pieces]
    features = [
        {
            "type": "Feature",
            "properties": {"role": "path", "points": len(plan.path)},
            "geometry": path_geometry,
        },
        {
            "type": "Feature",
            "properties": {
                "role": "slices",
                "kind": [p.category for p in plan.pieces],
                "reached": [p.reached for p in plan.pieces],
            },
            "geometry": {"type": "MultiLineString", "coordinates": [out(l) for l in slice_lines]},
        },
        {
            "type": "Feature",
            "properties": {"role": "transit"},
            "geometry": {
                "type": "MultiLineString",
                "coordinates": [out(s) for s in plan.transit_stretches()],
            },
        },
        {
            "type": "Feature",
            "properties": {"role": "gaps", "area": round(plan.coverage.gap_area, 3),
                           "swath": plan.coverage.swath},
            "geometry": {
                "type": "MultiPolygon",
                "coordinates": [[out(list(ring.coords)) for ring in (g.exterior, *g.interiors)]
                                for g in plan.coverage.gaps.geoms],
            },
        },
        {
            "type": "Feature",
            "properties": {"role": "start"},
            "geometry": {"type": "Point", "coordinates": out([plan.start])[0]},
        },
    ]
    properties: dict[str, Any] = {"crs": frame.crs_name}
    if plan.garden.name:
        properties["name"] = plan.garden.name
    if summary is not None:
        properties["summary"] = dict(summary)
    return {"type": "FeatureCollection", "properties": properties, "features": features}


def write_route(path: str | Path, plan: Plan, summary: Mapping[str, Any] | None = None) -> None:
    text = json.dumps(route_collection(plan, summary), separators=(",", ":"))
    Path(path).write_text(text + "\n", encoding="utf-8")
