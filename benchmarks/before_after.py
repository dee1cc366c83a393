"""Prints the lean call's time per garden before and after, side by side.

    python before_after.py REV BEFORE_TIMES AFTER_TIMES

Each times file holds, per garden, one line that bench_planner --times
wrote: name, vertices, then the lean, full and straightforward planner's
times in seconds, and the lean call's processor time (all threads; negative
where not measured).
"""

from __future__ import annotations

import sys
from pathlib import Path


def read_times(path: Path) -> dict[str, tuple[int, float, float, float]]:
    """Per garden name: vertices, lean and full call time and the lean
    call's processor time, in seconds."""
    times = {}
    for line in path.read_text(encoding="utf-8").splitlines():
        name, vertices, lean, full, _reference, cpu = line.split()
        times[name] = (int(vertices), float(lean), float(full), float(cpu))
    return times


def _seconds(s: float) -> str:
    if s < 0:
        return "-"
    return f"{s * 1000:.1f} ms" if s < 1 else f"{s:.2f} s"


def main(argv: list[str]) -> int:
    if len(argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    rev, before, after = argv[1], read_times(Path(argv[2])), read_times(Path(argv[3]))
    print(f"\nlean call (as from Python), the planner of {rev} against this checkout")
    print("(wall clock, and processor time of all threads)")
    print(f"{'garden':<16} {'vertices':>9} {'before':>10} {'after':>10} {'speedup':>8}"
          f" {'cpu before':>10} {'cpu after':>10}")
    for name, (vertices, lean, full, cpu) in after.items():
        now = lean if lean > 0 else full
        then = before.get(name, (0, -1.0, -1.0, -1.0))
        was = then[1] if then[1] > 0 else then[2]
        speedup = f"{was / now:.1f}x" if was > 0 and now > 0 else "-"
        print(f"{name:<16} {vertices:>9} {_seconds(was):>10} {_seconds(now):>10} {speedup:>8}"
              f" {_seconds(then[3]):>10} {_seconds(cpu):>10}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
