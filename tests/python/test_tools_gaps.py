"""Gaps as drawn and counted: holes, slivers, bands and the one job time."""

from pathlib import Path

import pytest
from shapely.geometry import Polygon

from swathwise_tools.coverage import MIN_GAP_WIDTH_M, find_gaps
from swathwise_tools.garden import load_garden
from swathwise_tools.picture import GAP, draw_plan
from swathwise_tools.pipeline import make_plan
from swathwise_tools.summary import format_summary, summarise

ROOT = Path(__file__).resolve().parents[2]


def sample(name, overrides=None, **kw):
    return make_plan(load_garden(ROOT / "examples" / f"{name}.geojson"), overrides, **kw)


@pytest.fixture(scope="module")
def banded():
    """The front lawn with the module's 1.5 m distance: a ring of grass round every piece."""
    return sample("front_lawn", {"distanceToBorder": 1.5})


def test_picture_leaves_the_holes_of_a_gap_open(banded):
    import matplotlib.pyplot as plt
    import numpy as np

    holed = [g for g in banded.coverage.gaps.geoms if g.interiors]
    assert holed
    red = np.array([int(GAP[i:i + 2], 16) for i in (1, 3, 5)])
    fig = draw_plan(banded, summarise(banded))
    try:
        fig.canvas.draw()
        pixels = np.asarray(fig.canvas.buffer_rgba())[:, :, :3].astype(int)
        ax = fig.axes[0]

        def reddish(point):
            x, y = ax.transData.transform((point.x, point.y))
            colour = pixels[pixels.shape[0] - int(round(y)), int(round(x))]
            return abs(colour - red).max() < 40

        for gap in holed:
            # A point of each hole clear of the gap's outline and of other gaps.
            keep_off = banded.coverage.gaps.boundary.buffer(0.1).union(banded.coverage.gaps)
            for hole in gap.interiors:
                inside = Polygon(hole).difference(keep_off)
                if not inside.is_empty:
                    assert not reddish(inside.representative_point())
            assert reddish(gap.buffer(-0.1).representative_point())
    finally:
        plt.close(fig)


@pytest.mark.parametrize("name", ["back_garden", "front_lawn"])
def test_slivers_between_passes_are_not_places(name):
    plan = sample(name)
    gaps = plan.coverage.gaps.geoms
    # Every place left is at least a centimetre wide somewhere.
    assert all(not g.buffer(-0.45 * MIN_GAP_WIDTH_M).is_empty for g in gaps)
    assert plan.coverage.sliver_area > 0
    assert summarise(plan)["gaps"] == len(gaps)


def test_sliver_beside_a_patch_is_cut_off():
    # A 1 m square patch with a 5 mm wide tail 3 m long: one place of about 1 m².
    mowable = Polygon([(0, 0), (1, 0), (1, 0.4), (4, 0.4), (4, 0.405), (1, 0.405), (1, 1), (0, 1)])
    coverage = find_gaps(mowable, [], 0.2)
    assert len(coverage.gaps.geoms) == 1
    assert coverage.gap_area == pytest.approx(1.0, abs=1e-3)
    assert coverage.sliver_area == pytest.approx(0.015, abs=1e-3)


def test_bands_add_up_to_at_most_the_gaps(banded):
    summary = summarise(banded)
    assert len(summary["bands"]) == 2
    areas = [float(text.split(" m² of the unmown")[0].split("(")[-1]) for text in summary["bands"]]
    assert all(a > 0 for a in areas)
    assert sum(areas) <= summary["gapArea"] + 0.1


def test_one_job_time_and_one_rounding():
    plan = sample("front_lawn", angle="auto", workers=1)
    summary = summarise(plan)
    # The search prices the route to its last piece; the job also drives home.
    home = summary["path"]["home"] / summary["speed"]
    assert summary["jobSeconds"] == pytest.approx(plan.angle_search.best.seconds + home, rel=1e-9)
    assert summary["jobSeconds"] == pytest.approx(summary["drivingSeconds"] + summary["turningSeconds"])
    text = format_summary(summary)
    assert "mowing time" not in text and "estimated with" not in text
    summary["coverage"] = 0.9974
    import matplotlib.pyplot as plt

    fig = draw_plan(plan, summary)
    try:
        assert "coverage 99.7 %" in fig.axes[0].get_title()
    finally:
        plt.close(fig)
