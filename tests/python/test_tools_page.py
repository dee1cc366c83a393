"""The interactive page, opened in headless Chromium."""

import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from swathwise_tools.garden import load_garden
from swathwise_tools.page import write_page
from swathwise_tools.pipeline import make_plan
from swathwise_tools.summary import summarise

ROOT = Path(__file__).resolve().parents[2]
ARTEFACTS = ROOT / "build" / "test-artefacts"
BROWSER = ["--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars", "--window-size=1200,900"]
# Appended to the page under test: how far the summary's text reaches to the right.
MEASURE = """<script>const s = document.querySelector('pre'), text = document.createRange();
text.selectNodeContents(s);
document.body.dataset.summaryRight = Math.ceil(Math.max(s.getBoundingClientRect().right, text.getBoundingClientRect().right));
document.body.dataset.viewport = document.documentElement.clientWidth;</script>"""


def chromium(*args):
    exe = shutil.which("chromium")
    if exe is None:
        if os.environ.get("CI"):
            pytest.fail("chromium is missing; scripts/setup.sh installs it")
        pytest.skip("chromium is not installed (scripts/setup.sh installs it)")
    # The sanitizer runs preload their runtime into Python; the browser needs none of it.
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
    return subprocess.run([exe, *BROWSER, *args], capture_output=True, text=True, timeout=120, env=env)


def test_page_draws_every_layer_of_the_plan(tmp_path):
    plan = make_plan(load_garden(ROOT / "examples" / "back_garden.geojson"), {"distanceToBorder": 1.5})
    page = tmp_path / "plan.html"
    write_page(page, plan, summarise(plan))
    # Self-contained: nothing but the SVG namespace names a web address.
    text = page.read_text()
    assert "//" not in text.replace("http://www.w3.org/2000/svg", "").replace("://", "")

    measured = tmp_path / "measured.html"
    measured.write_text(text.replace("</body>", MEASURE + "</body>"))
    dom = chromium("--dump-dom", measured.as_uri()).stdout
    counts = dict(re.findall(r'<g id="layer-([a-z-]+)" data-count="(\d+)"', dom))
    assert 'data-ready="1"' in dom
    assert counts == {
        "lawn": "1", "mow-areas": "0", "obstacles": str(len(plan.garden.obstacles)),
        "gaps": str(len(plan.coverage.gaps.geoms)), "pieces": str(len(plan.pieces)),
        "route": str(len(plan.path) - 1), "marks": "2",
    }
    assert int(counts["gaps"]) > 0
    assert dom.count("<polyline") == len(plan.pieces)
    # The summary wraps within the window rather than running off its right edge.
    right = int(re.search(r'data-summary-right="(\d+)"', dom).group(1))
    assert 0 < right <= int(re.search(r'data-viewport="(\d+)"', dom).group(1))

    ARTEFACTS.mkdir(parents=True, exist_ok=True)
    shot = ARTEFACTS / "page.png"
    chromium(f"--screenshot={shot}", page.as_uri())
    assert shot.stat().st_size > 10_000
