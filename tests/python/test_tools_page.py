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
        "route": str(len(plan.path) - 1), "wires": str(bool(plan.garden.virtual_wire) + bool(plan.garden.docking_wire)), "marks": "3",
    }
    assert int(counts["gaps"]) > 0
    assert dom.count("<polyline") == len(plan.pieces) + int(counts["wires"])
    # The summary wraps within the window rather than running off its right edge.
    right = int(re.search(r'data-summary-right="(\d+)"', dom).group(1))
    assert 0 < right <= int(re.search(r'data-viewport="(\d+)"', dom).group(1))

    ARTEFACTS.mkdir(parents=True, exist_ok=True)
    shot = ARTEFACTS / "page.png"
    chromium(f"--screenshot={shot}", page.as_uri())
    assert shot.stat().st_size > 10_000


# Appended to the page under test: a finger drags, two fingers pinch, the
# slider goes to half the job; what each did is left on the body.
TOUCH = """<script>(function(){
const svg = document.getElementById('map'), b = document.body.dataset, r = svg.getBoundingClientRect();
const cx = r.left + r.width / 2, cy = r.top + r.height / 2;
function send(type, id, x, y){ svg.dispatchEvent(new PointerEvent(type, {pointerId: id, pointerType: 'touch',
  isPrimary: id === 1, clientX: x, clientY: y, bubbles: true})); }
function box(){ return svg.getAttribute('viewBox').split(' ').map(Number); }
b.before = box().join(' ');
send('pointerdown', 1, cx, cy); send('pointermove', 1, cx + 100, cy); send('pointerup', 1, cx + 100, cy);
b.panned = box().join(' ');
send('pointerdown', 1, cx - 50, cy); send('pointerdown', 2, cx + 50, cy);
send('pointermove', 1, cx - 100, cy); send('pointermove', 2, cx + 100, cy);
send('pointerup', 1, cx - 100, cy); send('pointerup', 2, cx + 100, cy);
b.pinched = box().join(' '); b.bar = document.getElementById('scalebar').dataset.metres;
const slider = document.getElementById('slider');
b.minutes = slider.max; slider.value = slider.max / 2; slider.dispatchEvent(new Event('input'));
b.half = document.getElementById('step').dataset.segments; b.label = document.getElementById('step').textContent;
})();</script>"""


def test_page_pans_and_pinches_by_touch_and_plays_in_minutes(tmp_path):
    plan = make_plan(load_garden(ROOT / "examples" / "front_lawn.geojson"))
    summary = summarise(plan)
    page = tmp_path / "front.html"
    write_page(page, plan, summary)
    text = page.read_text()
    for label in ("docking wire", "start", "end", "transit", "scalebar"):
        assert label in text
    touched = tmp_path / "touched.html"
    touched.write_text(text.replace("</body>", TOUCH + "</body>"))
    dom = chromium("--dump-dom", touched.as_uri()).stdout
    got = dict(re.findall(r'data-([a-z]+)="([^"]*)"', dom.split("<body", 1)[1].split(">", 1)[0]))
    before, panned, pinched = ([float(v) for v in got[k].split()] for k in ("before", "panned", "pinched"))
    # A finger 100 px to the right shows what lay to the left; the size stays.
    assert panned[0] < before[0] and panned[2:] == pytest.approx(before[2:])
    # Fingers twice as far apart: half the width, about the same centre.
    assert pinched[2] == pytest.approx(panned[2] / 2, rel=1e-6)
    centre = lambda v: (v[0] + v[2] / 2, v[1] + v[3] / 2)  # noqa: E731
    assert centre(pinched) == pytest.approx(centre(panned), abs=1e-6 * before[2])
    assert float(got["bar"]) > 0
    # The slider counts the job's minutes: the summary's job time.
    assert float(got["minutes"]) == pytest.approx(summary["jobSeconds"] / 60, abs=0.01)
    assert 0 < int(got["half"]) < len(plan.path) - 1
    assert got["label"].endswith(f"of {round(summary['jobSeconds'] / 60)} min")

    ARTEFACTS.mkdir(parents=True, exist_ok=True)
    for name, target in (("front_page.png", page), ("front_page_pinched.png", touched)):
        shot = ARTEFACTS / name
        chromium(f"--screenshot={shot}", target.as_uri())
        assert shot.stat().st_size > 10_000


@pytest.mark.parametrize("name", ["back_garden", "front_lawn"])
def test_page_legend_is_the_pictures(name):
    import matplotlib.pyplot as plt

    from swathwise_tools.page import legend
    from swathwise_tools.picture import draw_plan

    plan = make_plan(load_garden(ROOT / "examples" / f"{name}.geojson"), {"distanceToBorder": 1.5})
    fig = draw_plan(plan)
    try:
        drawn = {t.get_text() for t in fig.axes[0].get_legend().get_texts()}
    finally:
        plt.close(fig)
    # The page shows the direction by the route's colours, not by arrows.
    assert {label for label, _ in legend(plan)} - {"route, start to end"} == drawn - {"driving direction"}
