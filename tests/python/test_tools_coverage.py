"""Coverage gaps against the straightforward union of shapely buffers (slivers
narrower than the least gap width dropped from both)."""

import sys
from pathlib import Path

import pytest
import shapely
from shapely.geometry import LineString

from swathwise_tools.coverage import MIN_GAP_M2, OVERLAP_M, find_gaps, mowing_lines, without_slivers
from swathwise_tools.garden import load_garden
from swathwise_tools.pipeline import make_plan

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "benchmarks"))
from park_garden import park_garden  # noqa: E402


def gardens():
    yield "back", load_garden(ROOT / "examples" / "back_garden.geojson"), {}
    yield "back squares", load_garden(ROOT / "examples" / "back_garden.geojson"), \
        {"pattern": "squares", "offset": 0.3, "angle": 20}
    yield "front rings", load_garden(ROOT / "examples" / "front_lawn.geojson"), {"pattern": "rings"}
    yield "front wide swath", load_garden(ROOT / "examples" / "front_lawn.geojson"), {"angle": 33, "swath": 0.6}
    yield "park", park_garden(0.4), {"angle": 12}


@pytest.mark.parametrize("name, garden, values", list(gardens()), ids=lambda v: v if isinstance(v, str) else "")
def test_gaps_are_the_union_of_buffers_within_half_a_percent(name, garden, values):
    plan = make_plan(garden, values)
    lines = mowing_lines(plan.pieces)
    mowable = garden.mowable_area()
    swath = plan.settings.swath_width
    found = find_gaps(mowable, lines, swath)
    buffers = shapely.buffer([LineString(line) for line in lines if len(line) >= 2], swath / 2 + OVERLAP_M,
                             quad_segs=8)
    unswept = shapely.make_valid(mowable.difference(shapely.union_all(buffers)))
    union = shapely.make_valid(without_slivers(unswept))
    expected = sum(p.area for p in shapely.get_parts(union) if p.area >= MIN_GAP_M2)
    assert found.gaps.is_valid
    assert all(p.area >= MIN_GAP_M2 for p in found.gaps.geoms)
    limit = max(0.005 * expected, 1e-5 * mowable.area)
    assert abs(found.gap_area - expected) <= limit
    assert found.gaps.symmetric_difference(union).area <= 2 * limit


def test_no_passes_or_no_swath_leave_the_whole_area():
    garden = load_garden(ROOT / "examples" / "front_lawn.geojson")
    mowable = garden.mowable_area()
    for lines, swath in (([], 0.5), ([[(0.0, 0.0), (5.0, 0.0)]], 0.0), ([[(1.0, 1.0), (1.0, 1.0)]], 0.5)):
        assert find_gaps(mowable, lines, swath).gap_area == pytest.approx(mowable.area)


@pytest.mark.parametrize("name, garden, values",
                         [g for g in gardens() if g[0] in ("back", "park")] + [("whole park", park_garden(), {})],
                         ids=lambda v: v if isinstance(v, str) else "")
def test_coverage_swept_ahead_is_that_of_the_pieces(name, garden, values):
    # The whole park gives pieces up (parts cut off by its path strips).
    # make_plan sweeps every piece while the planner orders them; the plan's
    # coverages are those of its own pieces all the same.
    plan = make_plan(garden, values)
    assert plan.coverage_ahead is not None
    mowable = garden.mowable_area()
    swath = plan.settings.swath_width
    planned = find_gaps(mowable, mowing_lines(plan.pieces, False), swath)
    reached = find_gaps(mowable, mowing_lines(plan.pieces), swath)
    assert plan.planned_coverage.gap_area == planned.gap_area
    assert plan.coverage.gap_area == reached.gap_area
    assert plan.coverage.sliver_area == reached.sliver_area
    assert (plan.reached_ahead is None) == all(p.reached for p in plan.pieces)
    if name == "whole park":
        # Its given-up pieces lie in the parts cut off from the start: the
        # guess was right, and their coverage was swept with every piece's.
        assert plan.reached_ahead is plan.coverage_ahead
    # Other lines than the plan's are not answered from what was swept ahead.
    assert plan.coverage_ahead.result(mowable, mowing_lines(plan.pieces[1:], False), swath) is None
