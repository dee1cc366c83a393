"""The before/after table of benchmarks/speed_table.py: figures an older
revision cannot take, or takes too long over, still give a table."""

import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "benchmarks"))
import speed_table  # noqa: E402


def after_figures():
    figures = {key: {"seconds": 0.05} for key in ("park-lean", "angle-2ha", "angle-park", "park-coverage",
                                                  "python-call", *speed_table.BED_CASES)}
    figures.update({f"cliff-{o}": {"seconds": 0.1 + 0.01 * k} for k, o in enumerate(speed_table.CLIFF_OFFSETS)})
    figures["command"] = {"seconds": 1.5, "planning": 1.2}
    return figures


@pytest.mark.parametrize("before, shown", [
    ({}, ["n/a"]),
    ({"park-lean": {"na": "ImportError: no module"}, "bed-2000-oct": {"timeout": 20.0},
      "cliff-0.50": {"timeout": 10.0}, "command": {"timeout": 60.0}}, ["n/a", "> 20 s", "> 60 s"]),
])
def test_the_table_shows_what_a_revision_lacks_or_takes_too_long_over(capsys, before, shown):
    speed_table.table("e8c9aff", before, after_figures())
    out = capsys.readouterr().out
    lines = [line for line in out.splitlines() if line.strip()]
    assert lines[0].startswith("figure") and "before (e8c9aff)" in lines[0]
    assert len(lines) == 1 + 1 + len(speed_table.BED_CASES) + 6
    for text in shown:
        assert text in out
    assert "1.50 s / 1.20 s = 1.25x, +0.30 s" in out  # wall against planning
    assert "100 ms - 300 ms; 1 of 21 at 0.3 s or more" in out


def test_a_figure_the_imported_version_lacks_is_not_available(capsys, monkeypatch, tmp_path):
    def lacking(gardens):
        from swathwise_tools.coverage import no_such_function  # noqa: F401  as an older revision

    monkeypatch.setitem(speed_table.FIGURES, "park-coverage", lacking)
    assert speed_table.one("park-coverage", tmp_path, None) == 0
    assert '"na": "ImportError' in capsys.readouterr().out
