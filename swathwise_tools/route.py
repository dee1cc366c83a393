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

from .plan import Plan
from .sessions import Sessions


def route_collection(plan: Plan, summary: Mapping[str, Any] | None = None,
                     sessions: Sessions | None = None) -> dict[str, Any]:
    """The route as a GeoJSON FeatureCollection (see :meth:`Plan.to_geojson`)."""
    return plan.to_geojson(summary, sessions)


def write_route(path: str | Path, plan: Plan, summary: Mapping[str, Any] | None = None,
                sessions: Sessions | None = None) -> None:
    """Write the route as GeoJSON to ``path`` (``"-"``: standard output);
    with ``sessions``, one line per session and the ``session`` of every
    piece and transit stretch."""
    text = json.dumps(route_collection(plan, summary, sessions), separators=(",", ":")) + "\n"
    if str(path) == "-":
        sys.stdout.write(text)
        sys.stdout.flush()
        return
    Path(path).write_text(text, encoding="utf-8")
