"""Writes garden files as plain text for the C++ benchmark.

    python export_gardens.py OUT_DIR GARDEN.geojson...

Each garden is loaded with swathwise_tools.garden (so it is in the planning
frame, in metres) and written as one record per line:

    name <text>
    setting <field> <value>          (PathSettings fields: angle in radians)
    start <x> <y>
    lawn|obstacle|mowArea|virtualWire|dockingWire <n> <x1> <y1> ... <xn> <yn>

Numbers are written with repr(), which reads back to the same double.
"""

from __future__ import annotations

import sys
from pathlib import Path

from swathwise_tools.garden import load_garden
from swathwise_tools.settings import MODULE_FIELDS


def _points(tag: str, points) -> str:
    coords = " ".join(f"{x!r} {y!r}" for x, y in points)
    return f"{tag} {len(points)} {coords}".rstrip()


def export(path: Path, out_dir: Path) -> Path:
    garden = load_garden(path)
    lines = [f"name {path.stem}"]
    settings = garden.settings.to_path_settings()
    for field in MODULE_FIELDS:
        value = getattr(settings, field)
        if isinstance(value, bool):
            value = int(value)
        lines.append(f"setting {field} {value!r}" if isinstance(value, float) else f"setting {field} {value}")
    x, y = garden.default_start()
    lines.append(f"start {x!r} {y!r}")
    lines.append(_points("lawn", garden.lawn))
    lines += [_points("obstacle", ring) for ring in garden.obstacles]
    lines += [_points("mowArea", ring) for ring in garden.mow_areas]
    if garden.virtual_wire:
        lines.append(_points("virtualWire", garden.virtual_wire))
    if garden.docking_wire:
        lines.append(_points("dockingWire", garden.docking_wire))
    target = out_dir / f"{path.stem}.garden"
    target.write_text("\n".join(lines) + "\n", encoding="utf-8")
    return target


def main(argv: list[str]) -> int:
    out_dir = Path(argv[1])
    out_dir.mkdir(parents=True, exist_ok=True)
    for name in argv[2:]:
        export(Path(name), out_dir)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
