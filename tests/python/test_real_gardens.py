"""Real-style gardens through the command: exit 0, or exit 3/4 with the right one-line reason."""

import json
import math
from pathlib import Path

import pytest
from shapely.geometry import LineString, Point, Polygon

import real_gardens as rg
from swathwise_tools import cli
from swathwise_tools.garden import parse_garden
from swathwise_tools.pipeline import make_plan
from swathwise_tools.plan import plan_garden
from swathwise_tools.settings import SettingsError

BACK = Path(__file__).resolve().parents[2] / "examples" / "back_garden.geojson"

# name, builder, extra flags, exit code, fragments of the first warning line
# (exit 3/4), of some warning, or of the error line (exit 1).
CASES = [
    ("ringed by buildings", rg.ringed_by_buildings, [], 0, ['"shed") reaches beyond', '"far barn") lies outside']),
    ("trees on the edge", rg.trees_on_edge, [], 0, ["3 obstacles (", "reach beyond"]),
    ("paths crossing", rg.paths_crossing, [], 4,
     ["pieces in 3 parts of the lawn (", "m²) are cut off from the start by", '"footway"', '"path"']),
    ("courtyard", rg.courtyard, [], 0, ['"block") has holes', "outline is planned"]),
    ("dock under a tree", rg.dock_under_tree, [], 0, ['inside obstacle feature 1 ("walnut")', "drives"]),
    ("dock on a fence", rg.dock_on_fence, [], 0, ['inside obstacle feature 1 ("fence")', "0.15 m from free"]),
    ("dock deep in a building", rg.dock_deep_in_building, [], 1, ['5.00 m deep inside', '"barn"', "move the start"]),
    ("odd obstacles", rg.odd_obstacles, [], 0,
     ['"two nodes") is skipped', '"flat") is skipped', '"bow tie"): the outline crosses itself']),
    ("bed touching at a point", rg.bed_touching_at_a_point, [], 0, ['"compost") lies outside']),
    ("dock beside a hedge", rg.dock_beyond_fence, [], 0, ["0.30 m outside the lawn"]),
    ("neck closed by clearance", rg.dumbbell, ["--clearance", "0.6"], 4,
     ["pieces in 1 part of the lawn (", "cut off from the start where the clearance of 0.6 m closes"]),
    ("clearance leaves a strip", rg.dumbbell, ["--clearance", "0.35"], 0, ["a strip 0.10 m wide", "m²)"]),
    ("wide clearance keeps the dock", lambda: json.loads(BACK.read_text()), ["--clearance", "2.5"], 4,
     ["pieces in 4 parts of the lawn (", '"shed"']),
    ("clearance leaves nothing", rg.dumbbell, ["--clearance", "6"], 1,
     ["clearance of 6 m leaves no lawn", "below 5.00 m"]),
]


def run(tmp_path, capsys, data, *flags):
    path = tmp_path / "garden.geojson"
    path.write_text(json.dumps(data))
    code = cli.main(["plan", str(path), *flags])
    return code, capsys.readouterr().err.splitlines()


@pytest.mark.parametrize("build, flags, code, fragments", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_garden_plans_or_says_why(tmp_path, capsys, build, flags, code, fragments):
    got, err = run(tmp_path, capsys, build(), *flags)
    assert got == code, err
    assert not any("Traceback" in line for line in err)
    said = err[0] if code in (3, 4) else "\n".join(err)
    for fragment in fragments:
        assert fragment in said, err
    if code == 1:
        assert len(err) == 1
    # Piece indices stay out of the messages; one line for obstacles beyond the edge.
    assert not any("area pieces" in line for line in err)
    assert sum("beyond the lawn's edge" in line for line in err) <= 1


def _plan(data, **settings):
    garden = parse_garden(data)
    return garden, make_plan(garden, settings)


def _inside(ring, margin=1e-3):
    return Polygon(ring).buffer(0).buffer(-margin)


@pytest.mark.parametrize("build, clearance", [
    (rg.dock_under_tree, 0), (rg.dock_on_fence, 0), (rg.dock_beyond_fence, 0), (rg.trees_on_edge, 0),
    (rg.dock_beyond_fence, 0.2), (rg.paths_crossing, 0.3)])
def test_only_the_drive_out_is_inside_an_obstacle(build, clearance):
    garden, plan = _plan(build(), clearance=clearance)
    assert plan.reached and (clearance or not plan.given_up)
    inside = any(_inside(r).contains(Point(plan.start)) for r in garden.obstacles)
    # The drive out of the dock, and back into it at the end of the way home.
    later = LineString(plan.path[1:-1] if inside and plan.home else plan.path[1:] if inside else plan.path)
    for ring in garden.obstacles:
        assert not _inside(ring).intersects(later)
    if inside and not clearance:
        # The drive-out is the shortest way out: to the nearest free point.
        free = garden.mowable_area()
        first = math.dist(plan.path[0], plan.path[1])
        assert first == pytest.approx(free.distance(Point(plan.start)), abs=0.02)


def test_round_obstacles_contain_their_circle():
    data = rg.trees_on_edge()
    garden, plan = _plan(data)
    path = LineString(plan.path)
    for feature in data["features"]:
        if "radius" in feature["properties"]:
            (x, y), r = feature["geometry"]["coordinates"], feature["properties"]["radius"]
            centre = Point(garden.frame.to_local([(x, y)])[0])
            assert path.distance(centre) >= r


def test_clearance_plans_every_part_and_judges_the_dock_by_its_own():
    garden = parse_garden(rg.dumbbell())
    plan = make_plan(garden, {"clearance": 0.6})
    # Dock at the small lawn: its part is mown, the big one planned and given up.
    assert plan.reached and plan.given_up
    (neck, _), = garden.frame.to_local([(12.0, 5.0)])
    assert all(x > neck + 1 for p in plan.given_up for x, _ in p.points)
    assert all(x < neck - 1 for p in plan.reached for x, _ in p.points)


def test_start_within_a_centimetre_is_on_the_lawn(tmp_path, capsys):
    code, err = run(tmp_path, capsys, rg.dock_on_edge())
    assert (code, err) == (0, [])


@pytest.mark.parametrize("settings", [{"mowExclusionsBorder": False}, {"mowExclusionsBoder": False}])
def test_correct_spelling_of_obstacle_laps_is_the_same_setting(settings):
    data = rg.ringed_by_buildings()
    data["properties"]["settings"] = settings
    assert parse_garden(data).settings.mow_exclusions_border is False


def test_two_spellings_with_two_values_are_refused():
    data = rg.ringed_by_buildings()
    data["properties"]["settings"] = {"mowExclusionsBorder": False, "mowExclusionsBoder": True}
    with pytest.raises(ValueError, match="one setting with two values"):
        parse_garden(data)


@pytest.mark.parametrize("angle", ["automatic", "30", float("nan"), True])
def test_make_plan_names_the_angles_it_takes(angle):
    with pytest.raises(SettingsError, match='"auto", "edge"'):
        make_plan(parse_garden(rg.dock_on_edge()), angle=angle)


def test_plan_garden_plans_as_the_command_does():
    garden = parse_garden(rg.ringed_by_buildings())
    by_api, by_command = plan_garden(garden), make_plan(garden)
    assert by_api.settings.distance_to_border == by_command.settings.distance_to_border < 1.5
    # The command's route then drives home to the dock.
    assert by_command.path[-1] == by_command.start and by_command.home
    assert by_api.path == by_command.path[:len(by_command.path) - len(by_command.home) + 1]


def test_start_given_as_lon_lat_against_a_projected_garden(tmp_path, capsys):
    data = rg.ringed_by_buildings()
    data["properties"]["crs"] = "EPSG:25832"
    code, err = run(tmp_path, capsys, _shift(data, 500000, 5400000), "--start", "8.5", "48.7")
    assert code == 1 and len(err) == 1
    assert "looks like longitude/latitude" in err[0] and "EPSG:25832" in err[0]


def _shift(data, dx, dy):
    def move(c):
        if isinstance(c[0], (int, float)):
            return [c[0] + dx, c[1] + dy]
        return [move(x) for x in c]
    for feature in data["features"]:
        feature["geometry"]["coordinates"] = move(feature["geometry"]["coordinates"])
    return data


def test_no_false_warning_for_lawns_reaching_far():
    data = rg.garden(rg.lawn(rg.box(0, 0, 2400, 30)))
    assert not any("1000 m" in w for w in parse_garden(data).warnings)


def test_buildings_only_touching_from_outside_say_nothing():
    warnings = parse_garden(rg.ringed_by_buildings()).warnings
    assert len(warnings) == 2
    assert not any(name in " ".join(warnings) for name in ("house", "garage", "neighbour"))


def test_given_up_indices_are_in_the_json_summary(tmp_path, capsys):
    path = tmp_path / "garden.geojson"
    path.write_text(json.dumps(rg.paths_crossing()))
    assert cli.main(["plan", str(path), "--json"]) == cli.EXIT_GIVEN_UP
    unreached = json.loads(capsys.readouterr().out)["unreached"]
    assert len(unreached["givenUpIndices"]) == sum(p["pieces"] for p in unreached["cutOffParts"]) > 0
    assert len(unreached["cutOffParts"]) == 3


def test_reasons_never_read_the_free_lawn_of_another_garden():
    from swathwise_tools.reach import FreeLawn, explain

    plan = make_plan(parse_garden(rg.paths_crossing()))
    said = explain(plan).to_dict()
    assert said["cutOffParts"] and said["reason"]
    # The free lawn made ahead is the drawn garden's; one of other outlines
    # or another clearance is passed over.
    assert plan.free_lawn.fits(plan.garden, 0.0)
    for other in (FreeLawn(parse_garden(rg.dumbbell()), 0.0), FreeLawn(plan.garden, 0.6)):
        plan.free_lawn = other
        assert explain(plan).to_dict() == said
