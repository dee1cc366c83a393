"""The speed figures of the real-garden work, before and after, in one table.

    python speed_table.py measure GARDENS OUT.json [--timeout S]
    python speed_table.py table REV BEFORE.json AFTER.json
    python speed_table.py one FIGURE GARDENS [CASE]   (one figure, as JSON; used by measure)
    python speed_table.py park-file OUT.geojson       (park_garden.py as a garden file)

``measure`` takes every figure with the ``swathwise`` module and the
``swathwise_tools`` package that this interpreter imports (benchmarks/
speed_table.sh points PYTHONPATH at an older build for the "before" column),
each in a child process stopped after ``--timeout`` seconds (then shown as
"> S s"); a figure that the imported version cannot take (an API it lacks)
is "n/a".  GARDENS holds the gardens that bench_planner --export-only wrote
(park-1.7ha, bed-*, cliff-*, full-20000) and park.geojson (park_garden.py as
a garden file).  Times are medians of a few runs; wall-clock unless noted.
"""

from __future__ import annotations

import json
import os
import resource
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Any, Callable

HERE = Path(__file__).resolve().parent
BED_CASES = ("bed-1000-oct", "bed-2000-oct", "bed-1000-ring", "bed-2000-ring")
CLIFF_OFFSETS = tuple(f"{0.40 + 0.01 * k:.2f}" for k in range(21))


def _module_call(garden_file: Path, runs: int) -> float:
    """Median seconds of the module's computeFullTask on a benchmark garden
    (objects built beforehand, the result not read back)."""
    import swathwise
    from python_calls import module_objects, read_garden

    garden = read_garden(garden_file)
    times = []
    for _ in range(runs):
        env, settings, start = module_objects(garden)
        began = time.perf_counter()
        swathwise.PathService().computeFullTask(env, settings, start)
        times.append(time.perf_counter() - began)
    return statistics.median(times)


def _tools_garden(garden_file: Path) -> Any:
    """A benchmark garden as the tools' Garden (local metres, default settings)."""
    from python_calls import module_objects, read_garden

    from swathwise_tools.garden import make_garden

    g = read_garden(garden_file)
    return make_garden(g["lawn"], obstacles=g["obstacles"], mow_areas=g["mowAreas"],
                       virtual_wire=g.get("virtualWire"), start=g["start"], crs="local-metres")


def fig_park_lean(gardens: Path) -> dict[str, Any]:
    return {"seconds": _module_call(gardens / "park-1.7ha.garden", 3)}


def fig_bed(gardens: Path, name: str) -> dict[str, Any]:
    return {"seconds": _module_call(gardens / f"{name}.garden", 1)}


def fig_cliff(gardens: Path, offset: str) -> dict[str, Any]:
    return {"seconds": _module_call(gardens / f"cliff-{offset}.garden", 1)}


def _angle_search(garden: Any) -> dict[str, Any]:
    from swathwise_tools.angle import Scene, search_angle

    began = time.perf_counter()
    choice = search_angle(Scene.of(garden), garden.settings.to_dict(), garden.default_start())
    return {"seconds": time.perf_counter() - began, "degrees": choice.degrees}


def fig_angle_2ha(gardens: Path) -> dict[str, Any]:
    return _angle_search(_tools_garden(gardens / "full-20000.garden"))


def fig_angle_park(gardens: Path) -> dict[str, Any]:
    from park_garden import park_garden

    return _angle_search(park_garden())


def fig_park_coverage(gardens: Path) -> dict[str, Any]:
    """CPU seconds of the coverage gaps of the park (park_garden.py)."""
    from park_garden import park_garden

    from swathwise_tools.coverage import find_gaps, mowing_lines
    from swathwise_tools.pipeline import make_plan

    garden = park_garden()
    plan = make_plan(garden)
    lines = mowing_lines(plan.pieces)
    mowable = garden.mowable_area()
    times, area = [], 0.0
    for _ in range(3):
        began = time.process_time()
        gaps = find_gaps(mowable, lines, plan.settings.swath_width)
        times.append(time.process_time() - began)
        area = gaps.gap_area
    return {"seconds": statistics.median(times), "gap_area": area}


def fig_python_call(gardens: Path) -> dict[str, Any]:
    """The whole Python call on full-20000: objects built, planned, read back."""
    from python_calls import plan, read_garden

    garden = read_garden(gardens / "full-20000.garden")
    times = []
    for _ in range(5):
        began = time.perf_counter()
        plan(garden)
        times.append(time.perf_counter() - began)
    return {"seconds": statistics.median(times)}


def fig_command(gardens: Path) -> dict[str, Any]:
    """`swathwise plan` on the park file against its own planner call (the
    planning time its summary gives), one run; and the command's CPU time."""
    with tempfile.TemporaryDirectory() as folder:
        route = Path(folder) / "route.geojson"
        garden = str((gardens / "park.geojson").resolve())
        used = resource.getrusage(resource.RUSAGE_CHILDREN)
        began = time.perf_counter()
        done = subprocess.run([sys.executable, "-m", "swathwise_tools", "plan", garden, "-o", str(route), "--json"],
                              capture_output=True, text=True, cwd=folder)
        wall = time.perf_counter() - began
        now = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = now.ru_utime + now.ru_stime - used.ru_utime - used.ru_stime
    if done.returncode not in (0, 3, 4):
        raise RuntimeError(done.stderr.strip().splitlines()[-1] if done.stderr.strip() else "failed")
    summary = json.loads(done.stdout)
    return {"seconds": wall, "planning": float(summary["planningSeconds"]), "cpu": cpu}


FIGURES: dict[str, Callable[..., dict[str, Any]]] = {
    "park-lean": fig_park_lean,
    "bed": fig_bed,
    "cliff": fig_cliff,
    "angle-2ha": fig_angle_2ha,
    "angle-park": fig_angle_park,
    "park-coverage": fig_park_coverage,
    "python-call": fig_python_call,
    "command": fig_command,
}


def one(name: str, gardens: Path, arg: str | None) -> int:
    sys.path.insert(0, str(HERE))
    try:
        figure = FIGURES[name](gardens, arg) if arg is not None else FIGURES[name](gardens)
    except (ImportError, AttributeError, TypeError, KeyError) as exc:
        print(json.dumps({"na": f"{type(exc).__name__}: {exc}"}))
        return 0
    print(json.dumps(figure))
    return 0


def _child(name: str, gardens: Path, timeout: float, arg: str | None = None) -> dict[str, Any]:
    command = [sys.executable, str(Path(__file__).resolve()), "one", name, str(gardens)] + ([arg] if arg else [])
    # In a session of its own, so that a figure stopped for taking too long
    # is stopped with the worker processes it started (the angle search).
    child = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             start_new_session=True)
    try:
        stdout, stderr = child.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(child.pid, signal.SIGKILL)
        child.communicate()
        return {"timeout": timeout}
    finally:
        try:
            os.killpg(child.pid, signal.SIGKILL)  # workers left behind, if any
        except ProcessLookupError:
            pass
    lines = stdout.strip().splitlines()
    if child.returncode != 0 or not lines:
        tail = stderr.strip().splitlines()
        return {"na": tail[-1] if tail else f"exit {child.returncode}"}
    result: dict[str, Any] = json.loads(lines[-1])
    return result


def measure(gardens: Path, out: Path, timeout: float) -> int:
    figures: dict[str, Any] = {}

    def take(key: str, name: str, arg: str | None = None, limit: float = timeout) -> None:
        figures[key] = _child(name, gardens, limit, arg)
        print(f"speed_table: {key}: {figures[key]}", file=sys.stderr, flush=True)

    take("park-lean", "park-lean")
    for case in BED_CASES:
        take(case, "bed", case)
    for offset in CLIFF_OFFSETS:
        take(f"cliff-{offset}", "cliff", offset, limit=min(timeout, 10.0))
    take("angle-2ha", "angle-2ha", limit=3 * timeout)
    take("angle-park", "angle-park", limit=3 * timeout)
    take("park-coverage", "park-coverage", limit=3 * timeout)
    take("python-call", "python-call")
    take("command", "command", limit=3 * timeout)
    out.write_text(json.dumps(figures, indent=1), encoding="utf-8")
    return 0


def _seconds(s: float) -> str:
    return f"{s * 1000:.0f} ms" if s < 1 else f"{s:.2f} s"


def _text(figure: dict[str, Any] | None) -> str:
    if figure is None or "na" in figure:
        return "n/a"
    if "timeout" in figure:
        return f"> {figure['timeout']:g} s"
    return _seconds(float(figure["seconds"]))


def _cliff_range(figures: dict[str, Any]) -> tuple[str, str]:
    cases = [figures.get(f"cliff-{o}") for o in CLIFF_OFFSETS]
    if any(c is None or "na" in c for c in cases):
        return "n/a", "n/a"
    slow = [c for c in cases if "timeout" in c]
    times = [float(c["seconds"]) for c in cases if "seconds" in c]
    low = _seconds(min(times)) if times else "-"
    high = f"> {slow[0]['timeout']:g} s ({len(slow)} offsets)" if slow else _seconds(max(times))
    return f"{low} - {high}", "" if slow else f"{sum(t >= 0.3 for t in times)} of {len(times)} at 0.3 s or more"


def _command(figure: dict[str, Any] | None) -> str:
    if figure is None or "na" in figure or "timeout" in figure:
        return _text(figure)
    wall, planning = float(figure["seconds"]), float(figure["planning"])
    text = f"{_seconds(wall)} / {_seconds(planning)} = {wall / planning:.2f}x, +{wall - planning:.2f} s"
    return text + (f" (CPU {_seconds(float(figure['cpu']))})" if "cpu" in figure else "")


def table(rev: str, before: dict[str, Any], after: dict[str, Any]) -> int:
    rows: list[tuple[str, str, str, str]] = []
    rows.append(("park-1.7ha lean call (module)", _text(before.get("park-lean")), _text(after.get("park-lean")),
                 "< 150 ms"))
    for case in BED_CASES:
        rows.append((f"{case} (bed repro)", _text(before.get(case)), _text(after.get(case)), "< 100 ms"))
    b_range, _ = _cliff_range(before)
    a_range, a_note = _cliff_range(after)
    rows.append(("cliff hedge 0.40-0.60, range", b_range, a_range + (f"; {a_note}" if a_note else ""), "< 300 ms each"))
    rows.append(("angle search, 2 ha (full-20000)", _text(before.get("angle-2ha")), _text(after.get("angle-2ha")),
                 "< 2 s"))
    rows.append(("angle search, park", _text(before.get("angle-park")), _text(after.get("angle-park")), "< 10 s"))
    rows.append(("park coverage (CPU)", _text(before.get("park-coverage")), _text(after.get("park-coverage")),
                 "< 100 ms"))
    rows.append(("full-20000 whole Python call", _text(before.get("python-call")), _text(after.get("python-call")),
                 "< 100 ms"))
    rows.append(("swathwise plan / its planner call", _command(before.get("command")), _command(after.get("command")),
                 "<= 1.3x or +0.6 s"))
    widths = [max(len(r[i]) for r in rows + [("figure", f"before ({rev})", "after", "goal")]) for i in range(4)]
    header = ("figure", f"before ({rev})", "after (this checkout)", "goal")
    widths = [max(w, len(h)) for w, h in zip(widths, header)]
    print()
    for row in [header] + rows:
        print("  ".join(cell.ljust(w) for cell, w in zip(row, widths)).rstrip())
    return 0


def main(argv: list[str]) -> int:
    if len(argv) >= 4 and argv[1] == "one":
        return one(argv[2], Path(argv[3]), argv[4] if len(argv) > 4 else None)
    if len(argv) >= 4 and argv[1] == "measure":
        timeout = float(argv[argv.index("--timeout") + 1]) if "--timeout" in argv else 20.0
        return measure(Path(argv[2]), Path(argv[3]), timeout)
    if len(argv) == 3 and argv[1] == "park-file":
        from park_garden import park_geojson

        Path(argv[2]).write_text(json.dumps(park_geojson()), encoding="utf-8")
        return 0
    if len(argv) == 5 and argv[1] == "table":
        read = lambda p: json.loads(Path(p).read_text(encoding="utf-8")) if Path(p).exists() else {}  # noqa: E731
        return table(argv[2], read(argv[3]), read(argv[4]))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
