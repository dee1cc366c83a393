"""Whole calls of the Python module on the benchmark's gardens.

    python python_calls.py [--runs N] [--only TEXT] [other bench options] DIR

DIR holds the gardens that bench_planner --export wrote (NAME.garden) and,
beside each, NAME.before: the straightforward planner's time (negative when
it did not run) and the lean C++ call's time.  For every garden this prints
the median time of the whole Python call -- building the module's objects
from coordinates, computeFullTask, reading the path and the slices back --
its peak memory (growth of the resident set during the first call), and the
straightforward planner's time divided by the Python call's.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import gc
import statistics
import sys
import time
from pathlib import Path

import swathwise

_BOOLS = {"mowArea", "mowBorder", "mowBorderCcw", "mowExclusionsBoder", "mowExclusionsBorderCcw"}
_COUNTS = {"borderLaps", "exclusionsBorderLaps"}


def _pairs(fields: list[str]) -> list[tuple[float, float]]:
    count = int(fields[0])
    numbers = [float(v) for v in fields[1 : 1 + 2 * count]]
    return list(zip(numbers[0::2], numbers[1::2]))


def read_garden(path: Path) -> dict:
    garden: dict = {"settings": {}, "obstacles": [], "mowAreas": []}
    for line in path.read_text(encoding="utf-8").splitlines():
        tag, *fields = line.split()
        if tag == "name":
            garden["name"] = fields[0]
        elif tag == "setting":
            garden["settings"][fields[0]] = fields[1]
        elif tag == "start":
            garden["start"] = (float(fields[0]), float(fields[1]))
        elif tag in ("lawn", "virtualWire", "dockingWire"):
            garden[tag] = _pairs(fields)
        elif tag in ("obstacle", "mowArea"):
            garden[tag + "s"].append(_pairs(fields))
    return garden


def _points(pairs):
    return [swathwise.Point(x, y) for x, y in pairs]


def module_objects(garden: dict) -> tuple:
    """The module's environment, settings and start for a benchmark garden."""
    env = swathwise.Environment(swathwise.Polygon(_points(garden["lawn"])))
    for ring in garden["obstacles"]:
        env.addObstacle(swathwise.Polygon(_points(ring)))
    for ring in garden["mowAreas"]:
        env.addMowArea(swathwise.Polygon(_points(ring)))
    if "virtualWire" in garden:
        env.setVirtualWire(swathwise.LineString(_points(garden["virtualWire"])))
    if "dockingWire" in garden:
        env.setDockingWire(swathwise.LineString(_points(garden["dockingWire"])))
    settings = swathwise.PathSettings()
    for field, value in garden["settings"].items():
        if field in _BOOLS:
            setattr(settings, field, value != "0")
        elif field in _COUNTS:
            setattr(settings, field, int(value))
        elif field == "pattern":
            settings.pattern = value
        else:
            setattr(settings, field, float(value))
    return env, settings, swathwise.Point(*garden["start"])


def plan(garden: dict) -> int:
    """One whole call: the module's objects from coordinates, the plan, the result read back."""
    env, settings, start = module_objects(garden)
    result = swathwise.PathService().computeFullTask(env, settings, start)
    path = result.path.getPoints()
    slices = [piece.getPoints() for piece in result.slices]
    return len(path) + len(slices)


def _status_kb(key: str) -> int:
    for line in Path("/proc/self/status").read_text().splitlines():
        if line.startswith(key + ":"):
            return int(line.split()[1])
    return 0


def _reset_peak() -> bool:
    # Free heap goes back to the system first, so that the resident set
    # counts live memory only.
    gc.collect()
    try:
        ctypes.CDLL(ctypes.util.find_library("c")).malloc_trim(0)
    except (OSError, AttributeError):
        pass
    try:
        Path("/proc/self/clear_refs").write_text("5")
        return True
    except OSError:
        return False


def measure(garden: dict, runs: int) -> tuple[float, float | None]:
    resettable = _reset_peak()
    before = _status_kb("VmRSS")
    times = []
    peak = None
    for run in range(runs):
        t0 = time.perf_counter()
        plan(garden)
        times.append(time.perf_counter() - t0)
        if run == 0 and resettable:
            peak = max(0, _status_kb("VmHWM") - before) / 1024.0
    return statistics.median(times), peak


def _seconds(s: float) -> str:
    if s < 0:
        return "-"
    return f"{s * 1000:.2f} ms" if s < 1 else f"{s:.2f} s"


def main(argv: list[str]) -> int:
    runs, only, folder = 5, "", None
    args = iter(argv[1:])
    for arg in args:
        if arg == "--runs":
            runs = max(1, int(next(args)))
        elif arg == "--only":
            only = next(args)
        elif not arg.startswith("--"):
            folder = Path(arg)
    if folder is None:
        print(__doc__, file=sys.stderr)
        return 2
    print(f"\nwhole Python calls (median of {runs}); ratio = straightforward planner / Python call")
    print(f"{'garden':<16} {'python':>10} {'peak':>9} {'lean C++':>10} {'before':>10} {'ratio':>8}")
    for path in sorted(folder.glob("*.garden")):
        garden = read_garden(path)
        if only and only not in garden["name"]:
            continue
        before, lean = -1.0, -1.0
        timing = path.with_suffix(".before")
        if timing.exists():
            before, lean = (float(v) for v in timing.read_text().split())
        seconds, peak = measure(garden, runs)
        peak_text = "-" if peak is None else f"{peak:.1f} MB"
        ratio = f"{before / seconds:.1f}x" if before > 0 else "-"
        print(f"{garden['name']:<16} {_seconds(seconds):>10} {peak_text:>9} {_seconds(lean):>10} "
              f"{_seconds(before):>10} {ratio:>8}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
