import re
import runpy
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
TYPING = ROOT / "tests" / "typing"


@pytest.fixture(scope="module")
def mypy_cache(tmp_path_factory):
    """One cache for the checks here: the standard library is read once."""
    pytest.importorskip("mypy")
    return tmp_path_factory.mktemp("mypy") / "cache"


def test_stubs_accept_correct_use_and_reject_misuse(mypy_cache):
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--hide-error-context",
         "--cache-dir", str(mypy_cache), "--python-version", "3.11",
         str(TYPING / "usage.py"), str(TYPING / "misuse.py")],
        capture_output=True, text=True, timeout=300,
        env={"MYPYPATH": str(ROOT / "stubs"), "PATH": ""},
    )
    flagged = {
        (Path(m.group(1)).name, int(m.group(2)))
        for m in re.finditer(r"^(.*?\.py):(\d+): error:", done.stdout, re.MULTILINE)
    }
    misuse = TYPING / "misuse.py"
    expected = {
        ("misuse.py", n)
        for n, line in enumerate(misuse.read_text().splitlines(), start=1)
        if line.endswith("# reject")
    }
    assert flagged == expected, done.stdout + done.stderr


def test_typed_example_runs():
    example = runpy.run_path(str(TYPING / "usage.py"))
    corners, count = example["plan"](1.0, 2)
    assert sorted(corners) == [(0.0, 0.0), (0.0, 8.0), (12.0, 0.0), (12.0, 8.0)]
    assert count == 2 + 1 + 3


def test_mypy_finds_the_installed_stubs_in_a_fresh_venv(tmp_path, mypy_cache):
    tag = f"cp{sys.version_info.major}{sys.version_info.minor}"
    wheels = sorted(ROOT.glob(f"build/dist*/swathwise-*-{tag}-*.whl"), key=lambda p: p.stat().st_mtime)
    if not wheels:
        pytest.skip("no wheel of the package for this interpreter (scripts/setup.sh builds one)")
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", str(venv)], check=True, timeout=120)
    python = venv / "bin" / "python"
    subprocess.run([sys.executable, "-m", "pip", "--python", str(python), "install", "-q", "--no-deps",
                    "--no-index", "--disable-pip-version-check", str(wheels[-1])],
                   check=True, capture_output=True, timeout=120)
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--python-executable", str(python),
         "--cache-dir", str(mypy_cache), str(TYPING / "usage.py")],
        capture_output=True, text=True, timeout=300, cwd=tmp_path, env={"PATH": ""},
    )
    assert done.returncode == 0, done.stdout + done.stderr


def test_tools_package_passes_mypy_strict(tmp_path, mypy_cache):
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir", str(mypy_cache),
         "--config-file", str(ROOT / "pyproject.toml"), str(ROOT / "swathwise_tools")],
        capture_output=True, text=True, timeout=300, cwd=tmp_path, env={"PATH": ""},
    )
    assert done.returncode == 0, done.stdout + done.stderr
