import pytest

from swathwise_tools.garden import Garden
from swathwise_tools.pieces import AREA, OBSTACLE, PERIMETER, Piece, trace_pieces
from swathwise_tools.plan import plan_garden
from swathwise_tools.summary import format_summary, summarise

SQUARE = [(0.0, 0.0), (10.0, 0.0), (10.0, 10.0), (0.0, 10.0)]
LANES_ONLY = {"offset": 1.0, "distanceToBorder": 0.0, "mowBorder": False, "mowExclusionsBoder": False}


def test_ten_lanes_on_a_ten_metre_square():
    plan = plan_garden(Garden(lawn=list(SQUARE), start=(0.0, 0.0)), LANES_ONLY)
    summary = summarise(plan, speed=0.5)

    assert summary["pieces"]["planned"] == {AREA: 10, PERIMETER: 0, OBSTACLE: 0, "total": 10}
    assert summary["slicesLength"] == pytest.approx(100.0)
    assert summary["mowableArea"] == pytest.approx(100.0)
    assert summary["plannedCoverage"] == pytest.approx(1.0, abs=1e-9)
    if len(plan.path) < 2:
        assert summary["jobSeconds"] is None
        return
    # From (0, 0) to the first lane's end, then nine 1 m turns between lanes.
    assert summary["pieces"]["reached"]["total"] == 10
    assert summary["pieces"]["givenUp"]["total"] == 0
    assert summary["path"]["mowing"] == pytest.approx(100.0)
    assert summary["path"]["transit"] == pytest.approx(9.5)
    assert summary["drivingSeconds"] == pytest.approx(109.5 / 0.5)
    # Three seconds at both ends of each of the ten lanes.
    assert summary["jobSeconds"] == pytest.approx(109.5 / 0.5 + 10 * 2 * 3.0)
    assert summary["coverage"] == pytest.approx(1.0, abs=1e-9)
    assert len(plan.transit_stretches()) == 10


def test_pieces_behind_a_hedge_are_given_up():
    hedge = [(9.0, -1.0), (11.0, -1.0), (11.0, 11.0), (9.0, 11.0)]
    garden = Garden(lawn=[(0.0, 0.0), (20.0, 0.0), (20.0, 10.0), (0.0, 10.0)],
                    obstacles=[hedge], start=(1.0, 1.0))
    plan = plan_garden(garden, LANES_ONLY)
    summary = summarise(plan)
    assert summary["pieces"]["planned"]["total"] == 20
    assert summary["mowableArea"] == pytest.approx(180.0)
    if len(plan.path) < 2:
        return
    assert summary["pieces"]["reached"]["total"] == summary["pieces"]["givenUp"]["total"] == 10
    assert all(p.reached == (p.points[0][0] < 9.0) for p in plan.pieces)
    assert summary["path"]["mowing"] == pytest.approx(90.0)
    assert summary["coverage"] == pytest.approx(0.5, abs=1e-6)


def test_coverage_counts_only_the_mowable_area():
    # Lanes 2 m apart swept 2 m wide cover everything but the obstacle.
    garden = Garden(lawn=list(SQUARE), obstacles=[[(4.0, 4.0), (6.0, 4.0), (6.0, 6.0), (4.0, 6.0)]],
                    mow_areas=[[(0.0, 0.0), (10.0, 0.0), (10.0, 8.0), (0.0, 8.0)]], start=(0.0, 0.0))
    plan = plan_garden(garden, {**LANES_ONLY, "offset": 2.0})
    summary = summarise(plan)
    assert summary["mowableArea"] == pytest.approx(80.0 - 4.0)
    assert summary["plannedCoverage"] == pytest.approx(1.0, abs=1e-6)
    assert all(p.kind == AREA for p in plan.pieces)
    assert all(max(y for _, y in p.points) < 8.0 for p in plan.pieces)


def test_laps_are_told_apart_by_stage():
    garden = Garden(lawn=list(SQUARE), obstacles=[[(4.0, 4.0), (6.0, 4.0), (6.0, 6.0), (4.0, 6.0)]],
                    start=(0.5, 0.5))
    plan = plan_garden(garden, {"offset": 0.5, "distanceToBorder": 0.5,
                                "borderLaps": 2, "exclusionsBorderLaps": 3})
    laps = [p for p in plan.pieces if p.kind != AREA]
    if not laps:
        pytest.skip("this planner build lays no laps")
    assert plan.classified_by == "stage"
    assert [p.kind for p in laps] == [PERIMETER] * 2 + [OBSTACLE] * 3
    # The first perimeter lap runs just inside the lawn, the first obstacle
    # lap just outside the obstacle.
    assert laps[0].length == pytest.approx(40.0, abs=0.02)
    assert laps[2].length == pytest.approx(8.0, abs=0.02)
    counts = summarise(plan)["pieces"]["planned"]
    assert (counts[PERIMETER], counts[OBSTACLE]) == (2, 3)


RING = [(0.0, 0.0), (2.0, 0.0), (2.0, 2.0), (0.0, 2.0)]
CLOSED_RING = RING + [RING[0]]
LANE = [(5.0, 0.0), (9.0, 0.0)]


@pytest.mark.parametrize(
    "piece, path, reached, mowing",
    [
        # Lanes in either direction; the approach is transit.
        (LANE, [(5.0, -1.0), (5.0, 0.0), (9.0, 0.0)], True, [False, True]),
        (LANE, [(9.0, 1.0), (9.0, 0.0), (5.0, 0.0), (5.0, 1.0)], True, [False, True, False]),
        # Only one end visited, or the ends with something in between.
        (LANE, [(5.0, 0.0), (5.0, 1.0)], False, [False]),
        (LANE, [(5.0, 0.0), (7.0, 1.0), (9.0, 0.0)], False, [False, False]),
        # A lap entered at vertex 2 and driven round to it again.
        (RING, [(3.0, 3.0), (2.0, 2.0), (0.0, 2.0), (0.0, 0.0), (2.0, 0.0), (2.0, 2.0)], True,
         [False, True, True, True, True]),
        # Entered from a position within a millimetre of vertex 1, not repeated.
        (RING, [(2.0, 0.0004), (2.0, 2.0), (0.0, 2.0), (0.0, 0.0), (2.0, 0.0)], True,
         [True, True, True, True]),
        # A lap that repeats its first point, entered at vertex 0.
        (CLOSED_RING, [(-1.0, 0.0), (0.0, 0.0), (2.0, 0.0), (2.0, 2.0), (0.0, 2.0), (0.0, 0.0),
                       (0.0, 0.0)], True, [False, True, True, True, True, True]),
        # Driven the wrong way round, or cut short.
        (RING, [(0.0, 0.0), (0.0, 2.0), (2.0, 2.0), (2.0, 0.0), (0.0, 0.0)], False, [False] * 4),
        (RING, [(0.0, 0.0), (2.0, 0.0), (2.0, 2.0), (3.0, 3.0)], False, [False] * 3),
    ],
    ids=["lane forwards", "lane backwards", "one end", "detour", "lap rotated", "lap entered nearby",
         "closed lap", "lap reversed", "lap cut short"],
)
def test_reached_pieces_and_mowing_segments(piece, path, reached, mowing):
    pieces = [Piece(0, AREA if len(piece) < 3 else PERIMETER, list(piece))]
    assert trace_pieces(path, pieces) == mowing
    assert pieces[0].reached is reached


def test_two_identical_lanes_need_two_runs():
    pieces = [Piece(0, AREA, list(LANE)), Piece(1, AREA, list(LANE))]
    trace_pieces([(5.0, 0.0), (9.0, 0.0), (9.0, 1.0)], pieces)
    assert [p.reached for p in pieces] == [True, False]


def test_text_summary_names_every_number():
    plan = plan_garden(Garden(lawn=list(SQUARE), start=(0.0, 0.0)), LANES_ONLY)
    text = format_summary(summarise(plan, speed=0.3))
    for label in ("planned", "reached", "given up", "path", "job time", "coverage", "times"):
        assert any(line.startswith(label) for line in text.splitlines())
    assert "10 area lanes" in text
