"""The lane angle search before and after, in one run: the exhaustive search
(every candidate planned in full, in worker processes) and the ranked one
(lanes priced, the best priced planned, on threads).  Prints, asserts nothing.

    .venv/bin/python benchmarks/angle_search.py [--workers N] [--no-exhaustive] GARDEN...

GARDEN: a file bench_planner --export wrote (NAME.garden; ``bash
benchmarks/run.sh --angle-search`` runs this on the 2 ha garden with 200
obstacles and the 1.7 ha park) or a garden file the tools read (.geojson).
Per garden: wall time, processor time (all threads and worker processes;
on a busy machine the wall time says more about the neighbours), plans,
chosen angle and estimated job time of each search, and the ranked choice's
job time against the exhaustive one's.
"""

from __future__ import annotations

import argparse
import resource
import time
from pathlib import Path
from typing import Any

from python_calls import read_garden

from swathwise_tools.angle import Scene, search_angle, search_angle_exhaustive
from swathwise_tools.garden import load_garden

_BOOLS = {"mowArea", "mowBorder", "mowBorderCcw", "mowExclusionsBoder", "mowExclusionsBorderCcw"}
_COUNTS = {"borderLaps", "exclusionsBorderLaps"}


def load(path: Path) -> tuple[Scene, dict[str, Any], tuple[float, float]]:
    """Outlines, settings and start of a garden file."""
    if path.suffix != ".garden":
        garden = load_garden(path)
        return Scene.of(garden), garden.settings.to_dict(), garden.default_start()
    g = read_garden(path)
    values: dict[str, Any] = {}
    for field, text in g["settings"].items():
        if field in _BOOLS:
            values[field] = text != "0"
        elif field in _COUNTS:
            values[field] = int(text)
        elif field == "pattern":
            values[field] = text
        else:
            values[field] = float(text)
    scene = Scene(tuple(g["lawn"]), tuple(tuple(r) for r in g["obstacles"]),
                  tuple(tuple(r) for r in g["mowAreas"]), tuple(g.get("virtualWire", ())),
                  tuple(g.get("dockingWire", ())))
    return scene, values, g["start"]


def cpu_seconds() -> float:
    """Processor time so far of this process and its finished children."""
    own = resource.getrusage(resource.RUSAGE_SELF)
    children = resource.getrusage(resource.RUSAGE_CHILDREN)
    return own.ru_utime + own.ru_stime + children.ru_utime + children.ru_stime


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("gardens", nargs="+", type=Path)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--no-exhaustive", action="store_true", help="the ranked search only")
    args = parser.parse_args()
    print(f"{'garden':<16} {'search':<10} {'wall':>8} {'cpu':>8} {'plans':>5} {'angle':>7} {'job':>10} {'missed':>6}"
          f" {'job / exhaustive':>17}")
    for path in args.gardens:
        scene, values, start = load(path)
        rows = []
        if not args.no_exhaustive:
            began, cpu = time.perf_counter(), cpu_seconds()
            every = search_angle_exhaustive(scene, values, start, workers=args.workers)
            rows.append(("exhaustive", time.perf_counter() - began, cpu_seconds() - cpu, every))
        began, cpu = time.perf_counter(), cpu_seconds()
        ranked = search_angle(scene, values, start, workers=args.workers)
        rows.append(("ranked", time.perf_counter() - began, cpu_seconds() - cpu, ranked))
        for name, wall, used, choice in rows:
            ratio = (f"{choice.best.seconds / rows[0][3].best.seconds:>17.5f}"
                     if not args.no_exhaustive and rows[0][3].best.seconds else "")
            print(f"{path.stem:<16} {name:<10} {wall:>7.2f}s {used:>7.2f}s {choice.plans:>5} {choice.best.degrees:>6.1f}°"
                  f" {choice.best.seconds:>9.0f}s {choice.best.missed:>6} {ratio}", flush=True)


if __name__ == "__main__":
    main()
