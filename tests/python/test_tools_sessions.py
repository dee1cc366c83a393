"""Battery sessions and the way home: every trip from the dock and back,
within the battery, safe, and together mowing exactly what the plan mows."""

import functools
import heapq
import json
import math
from pathlib import Path

import pytest
from shapely.geometry import LineString, Point, Polygon

from swathwise_tools import cli
from swathwise_tools.garden import Garden
from swathwise_tools.pipeline import make_plan
from swathwise_tools.sessions import SessionError, split_sessions, with_way_home

SPEED = 0.3
TURN = 3.0


def straight(a, b):
    return [a, b]


def circle(x, y, r, n=32):
    return [(x + r * math.cos(2 * math.pi * k / n), y + r * math.sin(2 * math.pi * k / n)) for k in range(n)]


def shapely_way(garden):
    """Shortest way over the corners of the lawn and obstacles, judged by shapely alone."""
    lawn = Polygon(garden.lawn).buffer(1e-6)
    blocks = [Polygon(r).buffer(-1e-6) for r in garden.obstacles]
    corners = [c for ring in [garden.lawn, *garden.obstacles] for c in ring]

    @functools.cache
    def free(a, b):
        seg = LineString([a, b]) if a != b else Point(a)
        return lawn.covers(seg) and not any(o.intersects(seg) for o in blocks)

    def way(a, b):
        nodes = [a, b] + corners
        best = {0: 0.0}
        parent = {}
        heap = [(0.0, 0)]
        while heap:
            d, i = heapq.heappop(heap)
            if i == 1:
                out = [b]
                while i in parent:
                    i = parent[i]
                    out.append(nodes[i])
                return out[::-1]
            if d > best.get(i, math.inf):
                continue
            for j, n in enumerate(nodes):
                if j == i:
                    continue
                nd = d + math.dist(nodes[i], n)
                if nd < best.get(j, math.inf) and free(nodes[i], n):
                    best[j], parent[j] = nd, i
                    heapq.heappush(heap, (nd, j))
        return None

    return way, free


LAWNS = {
    "empty": Garden(lawn=[(0, 0), (30, 0), (30, 18), (0, 18)], start=(0.5, 0.5)),
    "beds and trees": Garden(
        lawn=[(0, 0), (40, 0), (40, 25), (20, 32), (0, 25)],
        obstacles=[[(8, 6), (8, 12), (14, 12), (14, 6)], circle(28, 14, 2.5), circle(39.5, 5, 2.0)],
        start=(1.0, 1.0)),
}


def plan_of(garden, pattern="lines", **kw):
    kw.setdefault("return_home", False)
    return make_plan(garden, {"offset": 0.5, "angle": 10, "pattern": pattern}, speed=SPEED, turn_time=TURN, **kw)


def mowing_segments(path, mowing):
    return [(path[i], path[i + 1]) for i, m in enumerate(mowing) if m]


def assert_same_mowing(plan, sessions):
    """The sessions' mowing, joined in order, is the plan's mowing segment for segment."""
    ours = [s for session in sessions.sessions for s in mowing_segments(session.path, session.mowing)]
    k = 0
    for a, b in mowing_segments(plan.path, plan.mowing):
        assert ours[k][0] == a
        while ours[k][1] != b:  # a segment split by a stop: its parts meet on it
            q = ours[k][1]
            assert LineString([a, b]).distance(Point(q)) < 1e-9
            k += 1
            assert ours[k][0] == q
        k += 1
    assert k == len(ours)
    assert sessions.mowing_m == pytest.approx(plan.mowing_length, abs=1e-6)


@pytest.mark.parametrize("name", LAWNS)
@pytest.mark.parametrize("battery", [8.0, 25.0])
def test_sessions_start_and_end_at_the_dock_within_the_battery(name, battery):
    garden = LAWNS[name]
    plan = plan_of(garden)
    way, free = shapely_way(garden) if garden.obstacles else (straight, None)
    sessions = split_sessions(plan, way, battery, reserve=0.1, charge_min=30)
    assert len(sessions.sessions) >= 2
    for number, s in enumerate(sessions.sessions, start=1):
        assert s.number == number
        assert s.path[0] == plan.start and s.path[-1] == plan.start
        assert s.seconds <= 0.9 * battery * 60 + 1e-6
        assert s.mowing_m > 0
        if free is not None:
            assert all(free(a, b) for a, b in zip(s.path, s.path[1:]))
    assert_same_mowing(plan, sessions)
    # Time is driving at the speed plus two turns per lane, however split.
    driving = sum(LineString(s.path).length for s in sessions.sessions) / SPEED
    lanes = sum(1 for p in plan.pieces if p.reached and not p.is_lap)
    assert sum(s.seconds for s in sessions.sessions) == pytest.approx(driving + 2 * TURN * lanes)
    n = len(sessions.sessions)
    assert sessions.job_seconds == pytest.approx(sum(s.seconds for s in sessions.sessions) + (n - 1) * 1800)
    # Each piece is mowed whole, once, over the parts the sessions list.
    for piece in plan.reached:
        parts = [p for s in sessions.sessions for p in s.parts if p.piece == piece.index]
        driven = sum(math.dist(plan.path[i], plan.path[i + 1]) for i in piece.segments)
        assert sum(p.length for p in parts) == pytest.approx(driven, abs=1e-6)


def test_a_stop_in_a_lane_is_where_the_battery_turns_home():
    garden = LAWNS["empty"]
    plan = plan_of(garden)
    sessions = split_sessions(plan, straight, 8.0, reserve=0.1)
    first = sessions.sessions[0]
    stop = first.path[-2]
    # The mower stopped mid-lane and only just got home: within a
    # millimetre's drive of the reserve.
    assert 0.9 * 8 * 60 - first.seconds < 0.002 / SPEED + 1e-9
    assert sessions.sessions[1].path[1] == stop


def test_one_charge_enough_is_one_session_with_the_way_home():
    plan = plan_of(LAWNS["empty"])
    sessions = split_sessions(plan, straight, 10_000)
    (only,) = sessions.sessions
    # The planner's route begins within rounding of the dock.
    assert list(only.path) == [plan.start] + plan.path + [plan.start]
    assert sessions.job_seconds == only.seconds


@pytest.mark.parametrize("battery, reserve", [(0.5, 0.1), (3.0, 0.99)])
def test_a_battery_too_small_for_the_trip_is_an_error(battery, reserve):
    garden = Garden(lawn=[(0, 0), (60, 0), (60, 10), (0, 10)], start=(0.5, 0.5))
    with pytest.raises(SessionError, match="battery"):
        split_sessions(plan_of(garden), straight, battery, reserve=reserve)


@pytest.mark.parametrize("value", [dict(battery_min=0), dict(battery_min=10, reserve=1.0),
                                   dict(battery_min=10, charge_min=-1)])
def test_bad_session_figures_are_errors(value):
    with pytest.raises(SessionError):
        split_sessions(plan_of(LAWNS["empty"]), straight, **value)


def test_the_way_home_ends_the_route_and_sessions_leave_it_out():
    plan = plan_of(LAWNS["empty"])
    before = plan.length
    end = plan.path[-1]
    with_way_home(plan, straight)
    assert plan.path[-1] == plan.start and plan.home == [end, plan.start]
    assert plan.length == pytest.approx(before + math.dist(end, plan.start))
    assert len(plan.mowing) == len(plan.path) - 1 and not plan.mowing[-1]
    (only,) = split_sessions(plan, straight, 10_000).sessions
    assert list(only.path) == [plan.start] + plan.path


# Real-style gardens planned by the command's way through, with the planner's
# own transit as the safe way: beds, trees over the edge, a virtual wire, and
# docks on the edge (half a metre outside the fence) and under a tree.
def park(start, wire=None):
    return Garden(
        lawn=[(0, 0), (45, 0), (45, 20), (30, 30), (0, 30)],
        obstacles=[[(6, 6), (6, 14), (16, 14), (16, 6)], circle(25, 12, 3.0), circle(45, 10, 2.5),
                   [(20, 22), (24, 22), (24, 30.5), (20, 30.5)]],
        virtual_wire=wire, start=start)


GARDENS = {
    "dock outside the fence": park((-0.5, 15.0)),
    "dock by a bed, with a wire": park((18.0, 5.0), wire=[(18.0, 5.0), (18.0, 18.0), (35.0, 18.0), (40.0, 3.0)]),
    "dock in a corner": park((0.3, 29.7)),
    "dock under a tree": park((27.5, 12.0)),
}


def safe_check(garden):
    """Whether a drive a-b keeps inside the lawn and off every obstacle, to shapely."""
    lawn = Polygon(garden.lawn).buffer(1e-4)
    blocks = [Polygon(r).buffer(-1e-4) for r in garden.obstacles]

    def free(a, b):
        seg = LineString([a, b]) if a != b else Point(a)
        return lawn.covers(seg) and not any(o.intersects(seg) for o in blocks)

    return free


@pytest.mark.parametrize("pattern", ["lines", "squares", "rings"])
@pytest.mark.parametrize("name", GARDENS)
def test_sessions_on_real_style_gardens_are_safe_and_add_up(name, pattern):
    garden = GARDENS[name]
    plan = plan_of(garden, pattern, return_home=True)
    assert plan.path[-1] == plan.start and plan.home
    sessions = plan.sessions(20.0, reserve=0.15, charge_min=45)
    assert len(sessions.sessions) >= 3
    free = safe_check(garden)
    for s in sessions.sessions:
        assert s.path[0] == plan.start and s.path[-1] == plan.start
        assert s.seconds <= 0.85 * 20 * 60 + 1e-6
        trips = [(a, b) for (a, b), m in zip(zip(s.path, s.path[1:]), s.mowing) if not m]
        # Only the drive between the dock and its lawn point may leave the free lawn.
        inside = [(a, b) for a, b in trips if plan.entry is None or plan.start not in (a, b)]
        assert all(free(a, b) for a, b in inside)
    assert_same_mowing(plan, sessions)


def test_no_return_ends_at_the_last_piece():
    plan = plan_of(GARDENS["dock in a corner"], return_home=False)
    last = max(plan.reached, key=lambda p: p.order)
    assert not plan.home and plan.path[-1] == plan.path[last.segments.stop]


FRONT = Path(__file__).resolve().parents[2] / "examples" / "front_lawn.geojson"


def test_command_writes_sessions_to_the_summary_and_the_route_file(tmp_path, capsys):
    route = tmp_path / "route.geojson"
    code = cli.main(["plan", str(FRONT), "--battery", "12", "--charge", "30", "--json", "-o", str(route)])
    out, _ = capsys.readouterr()
    assert code == 0
    summary = json.loads(out)
    sessions = summary["sessions"]
    features = json.loads(route.read_text())["features"]
    lines = [f for f in features if f["properties"]["role"] == "session"]
    (dock,) = [f["geometry"]["coordinates"] for f in features if f["properties"]["role"] == "start"]
    assert sessions["count"] == len(lines) == len(sessions["each"]) >= 3
    for number, f in enumerate(lines, start=1):
        props, coords = f["properties"], f["geometry"]["coordinates"]
        assert props["session"] == number and props["minutes"] <= 12
        assert coords[0] == coords[-1] == pytest.approx(dock, abs=1e-8)
    pieces = [f["properties"] for f in features if f["properties"]["role"] == "piece"]
    assert all(p["session"] in range(1, len(lines) + 1) for p in pieces)
    assert sum(p["length"] for p in pieces) == pytest.approx(summary["path"]["mowing"], abs=1e-3)
    assert sessions["mowing"] == pytest.approx(summary["path"]["mowing"], abs=1e-6)
    transit = [f["properties"] for f in features if f["properties"]["role"] == "transit"]
    assert {t["session"] for t in transit} == set(range(1, len(lines) + 1))
    total = sum(s["minutes"] for s in sessions["each"]) * 60 + 30 * 60 * (len(lines) - 1)
    assert sessions["jobSeconds"] == pytest.approx(total)


@pytest.mark.parametrize("flag, home", [([], True), (["--no-return"], False)])
def test_the_route_ends_at_the_dock_unless_told_not_to(capsys, flag, home):
    assert cli.main(["plan", str(FRONT), "--json", *flag]) == 0
    summary = json.loads(capsys.readouterr().out)
    assert (summary["path"]["home"] > 0) == home
    assert summary["drivingSeconds"] == pytest.approx(summary["path"]["length"] / 0.3)


@pytest.mark.parametrize("args, fragment", [(["--battery", "0.2"], "battery"),
                                            (["--battery", "20", "--reserve", "100"], "--reserve")])
def test_session_options_that_cannot_work_are_one_error_line(capsys, args, fragment):
    assert cli.main(["plan", str(FRONT), *args]) == 1
    err = capsys.readouterr().err
    assert fragment in err and len(err.strip().splitlines()) == 1


def test_picture_and_page_draw_the_sessions(tmp_path):
    from swathwise_tools.page import page_data
    from swathwise_tools.picture import write_picture

    plan = plan_of(GARDENS["dock by a bed, with a wire"], return_home=True)
    sessions = plan.sessions(20.0)
    data = page_data(plan, None, sessions)
    n = len(sessions.sessions)
    assert len(data["kinds"]) == len(data["sessions"]) == len(data["path"]) - 1
    assert sorted(set(data["sessions"])) == list(range(1, n + 1))
    # The slider's clock: every session and the charging between them.
    assert len(data["arrivals"]) == len(data["waits"]) == len(data["path"])
    assert data["arrivals"][-1] + data["waits"][-1] == pytest.approx(sessions.job_seconds, abs=0.05 * n)
    write_picture(tmp_path / "plan.svg", plan, None, sessions)
    assert (tmp_path / "plan.svg").read_text().count("session ") >= min(n, 10)


def test_a_geopackage_route_has_a_sessions_layer(tmp_path):
    pyogrio = pytest.importorskip("pyogrio")
    from swathwise_tools.route import write_route
    from swathwise_tools.summary import summarise

    plan = plan_of(GARDENS["dock outside the fence"], return_home=True)
    sessions = plan.sessions(20.0)
    write_route(tmp_path / "route.gpkg", plan, summarise(plan, sessions=sessions), sessions)
    lines = pyogrio.read_dataframe(tmp_path / "route.gpkg", layer="sessions")
    assert list(lines["session"]) == list(range(1, len(sessions.sessions) + 1))
    pieces = pyogrio.read_dataframe(tmp_path / "route.gpkg", layer="pieces")
    assert set(pieces["session"]) == set(lines["session"])
