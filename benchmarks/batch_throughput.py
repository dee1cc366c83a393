"""Gardens per second of ``swathwise batch``: 1 and 2 local worker processes,
and a two-worker Dask cluster on this machine, on the same gardens.

    .venv/bin/python benchmarks/batch_throughput.py [--gardens N] [--angle auto]

The gardens are generated (fixed seed): lawns of 100 to 600 m² ringed by a
house and a fence, with trees as 32-gon circles (some over the edge) and
beds.  Every run starts from an empty output folder; the time includes
starting the workers (and, for Dask, connecting to the running cluster).
"""

from __future__ import annotations

import argparse
import json
import math
import random
import tempfile
import time
from pathlib import Path
from typing import Any

from swathwise_tools.batch import plan_many

EAST, NORTH = 512_000.0, 5_710_000.0


def _circle(cx: float, cy: float, r: float) -> list[list[float]]:
    return [[EAST + cx + r * math.cos(2 * math.pi * i / 32), NORTH + cy + r * math.sin(2 * math.pi * i / 32)]
            for i in range(33)]


def _garden(rng: random.Random, index: int) -> dict[str, Any]:
    width, height = rng.uniform(10, 30), rng.uniform(10, 20)
    features = [{"type": "Feature", "properties": {"role": "lawn"}, "geometry": {"type": "Polygon", "coordinates": [
        [[EAST, NORTH], [EAST + width, NORTH], [EAST + width, NORTH + height], [EAST, NORTH + height],
         [EAST, NORTH]]]}}]
    for _ in range(rng.randint(1, 5)):
        x, y = rng.uniform(0, width), rng.uniform(0, height)
        features.append({"type": "Feature", "properties": {"role": "obstacle"},
                         "geometry": {"type": "Polygon", "coordinates": [_circle(x, y, rng.uniform(0.4, 1.5))]}})
    features.append({"type": "Feature", "properties": {"role": "start"},
                     "geometry": {"type": "Point", "coordinates": [EAST + 0.3, NORTH + 0.3]}})
    return {"type": "FeatureCollection", "name": f"garden-{index}",
            "crs": {"type": "name", "properties": {"name": "urn:ogc:def:crs:EPSG::25832"}},
            "properties": {"settings": {"offset": 0.3}}, "features": features}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--gardens", type=int, default=24)
    parser.add_argument("--angle", default=None, help="degrees, auto or edge (default: the files')")
    args = parser.parse_args()
    angle: float | str | None = args.angle
    if angle not in (None, "auto", "edge"):
        angle = float(angle)

    from distributed import LocalCluster

    rng = random.Random(24)
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp) / "gardens"
        folder.mkdir()
        for i in range(args.gardens):
            (folder / f"g{i:04d}.geojson").write_text(json.dumps(_garden(rng, i)))
        print(f"{args.gardens} gardens, angle {angle if angle is not None else 'from the files'}")
        reference = None
        runs: list[tuple[str, dict[str, Any]]] = [("1 local worker", {"workers": 1}),
                                                  ("2 local workers", {"workers": 2})]
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
            runs.append(("Dask, 2 workers", {"scheduler": cluster.scheduler_address}))
            for label, how in runs:
                began = time.perf_counter()
                result = plan_many([folder], Path(tmp) / label.replace(" ", "_"), angle=angle, **how)
                seconds = time.perf_counter() - began
                rows = [{k: v for k, v in row.items() if not k.endswith("seconds")} for row in result.rows]
                same = "" if reference is None else ("same rows" if rows == reference else "ROWS DIFFER")
                reference = reference or rows
                print(f"{label:<18} {seconds:7.2f} s  {result.planned / seconds:7.2f} gardens/s  "
                      f"{result.failed} failed  {same}")


if __name__ == "__main__":
    main()
