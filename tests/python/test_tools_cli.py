import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from swathwise_tools import cli
from swathwise_tools.garden import load_garden
from swathwise_tools.plan import plan_garden
from swathwise_tools.summary import summarise
from swathwise_tools.route import write_route

ROOT = Path(__file__).resolve().parents[2]
FRONT = ROOT / "examples" / "front_lawn.geojson"

SQUARE_GARDEN = {
    "type": "FeatureCollection",
    "properties": {"crs": "local-metres", "name": "square",
                   "settings": {"offset": 1, "distanceToBorder": 0, "mowBorder": False,
                                "mowExclusionsBoder": False}},
    "features": [
        {"type": "Feature", "properties": {"role": "lawn"},
         "geometry": {"type": "Polygon",
                      "coordinates": [[[100, 200], [110, 200], [110, 210], [100, 210], [100, 200]]]}},
        {"type": "Feature", "properties": {"role": "start"},
         "geometry": {"type": "Point", "coordinates": [100, 200]}},
    ],
}


@pytest.fixture
def square(tmp_path):
    path = tmp_path / "square.geojson"
    path.write_text(json.dumps(SQUARE_GARDEN))
    return path


def run(capsys, *args):
    code = cli.main([str(a) for a in args])
    out, err = capsys.readouterr()
    return code, out, err


def test_plan_writes_route_and_picture(tmp_path, square, capsys):
    route, picture = tmp_path / "route.geojson", tmp_path / "route.svg"
    code, out, err = run(capsys, "plan", square, "-o", route, "--picture", picture)
    assert (code, err) == (0, "")
    assert "10 area lanes" in out and "planning" in out
    data = json.loads(route.read_text())
    assert data["properties"]["crs"] == "local-metres"
    roles = [f["properties"]["role"] for f in data["features"]]
    assert roles.count("piece") == 10 and roles.count("path") == 1 and "summary" not in roles
    pieces = [f for f in data["features"] if f["properties"]["role"] == "piece"]
    assert all(f["properties"]["kind"] == "area" and f["properties"]["reached"] for f in pieces)
    assert sorted(f["properties"]["order"] for f in pieces) == list(range(1, 11))
    # Written back in the file's own coordinates.
    assert pieces[0]["geometry"]["coordinates"] == [[100.0, 200.5], [110.0, 200.5]]
    start = next(f for f in data["features"] if f["properties"]["role"] == "start")
    assert start["geometry"]["coordinates"] == [100.0, 200.0]
    path = next(f for f in data["features"] if f["properties"]["role"] == "path")["geometry"]
    assert path["type"] == "LineString" and path["coordinates"][0] == [100.0, 200.0]
    assert data["properties"]["summary"]["pieces"]["reached"]["total"] == 10
    assert all(not isinstance(v, (list, dict)) for f in data["features"] for v in f["properties"].values())
    assert picture.read_text().lstrip().startswith("<?xml")


def test_json_summary_and_setting_flags(square, capsys):
    code, out, _ = run(capsys, "plan", square, "--json", "--offset", "2", "--angle", "90",
                       "--mow-border", "--border-laps", "1", "--speed", "0.5")
    assert code == 0
    summary = json.loads(out)
    settings = summary["settings"]
    assert settings["offset"] == 2.0 and settings["mowBorder"] is True and settings["borderLaps"] == 1
    assert settings["angle"] == 90.0  # degrees, as given
    assert settings["mowExclusionsBoder"] is False  # from the file
    assert summary["speed"] == 0.5
    assert summary["pieces"]["planned"]["area"] == 5
    assert summary["slicesLength"] >= 50.0 - 1e-9


@pytest.mark.parametrize(
    "args, fragment",
    [
        (["--offset", "0"], "--offset (the lane spacing in metres) must be at least"),
        (["--border-laps", "5000"], "--border-laps must be between 0 and 1000"),
        (["-o", "r.shp"], "-o: cannot tell the route format from 'r.shp'; end the name in .geojson, .gpkg"),
    ],
)
def test_unusable_option_values(square, capsys, args, fragment):
    code, out, err = run(capsys, "plan", square, *args)
    assert code == 1 and out == ""
    assert err.startswith(f"swathwise: error: {fragment}")
    assert err.count("\n") == 1


def test_malformed_file_gives_an_error_line(tmp_path, capsys):
    bad = tmp_path / "bad.geojson"
    data = json.loads(json.dumps(SQUARE_GARDEN))
    data["features"][0]["geometry"]["type"] = "MultiPolygon"
    bad.write_text(json.dumps(data))
    code, out, err = run(capsys, "plan", bad, "-o", tmp_path / "never.geojson")
    assert code == 1 and out == ""
    assert err.startswith(f"swathwise: error: {bad}: lawn feature 0: ")
    assert err.count("\n") == 1 and "Traceback" not in err
    assert not (tmp_path / "never.geojson").exists()


def test_unwritable_output_is_an_error_line(tmp_path, square, capsys):
    code, _, err = run(capsys, "plan", square, "-o", tmp_path / "no" / "such" / "dir.geojson")
    assert code == 1
    assert err.startswith("swathwise: error: ") and err.count("\n") == 1


def test_start_far_outside_the_lawn_is_an_error(square, capsys):
    code, out, err = run(capsys, "plan", square, "--start", "50", "50")
    assert code == 1 and out == ""
    assert "m outside the lawn" in err and err.count("\n") == 1


@pytest.mark.parametrize("suffix, magic", [(".png", b"\x89PNG\r\n\x1a\n"), (".svg", b"<?xml")])
def test_picture_formats(tmp_path, suffix, magic):
    from swathwise_tools.picture import write_picture

    plan = plan_garden(load_garden(FRONT))
    target = tmp_path / f"front{suffix}"
    write_picture(target, plan, summarise(plan))
    data = target.read_bytes()
    assert data.startswith(magic) and len(data) > 10_000


def test_route_of_a_lonlat_garden_stays_in_lonlat(tmp_path):
    garden = load_garden(ROOT / "examples" / "park_lawn.geojson")
    plan = plan_garden(garden, {"offset": 2.0, "borderLaps": 1})
    target = tmp_path / "park.geojson"
    write_route(target, plan)
    data = json.loads(target.read_text())
    lawn = json.loads((ROOT / "examples" / "park_lawn.geojson").read_text())["features"][0]
    lons = [p[0] for p in lawn["geometry"]["coordinates"][0]]
    lats = [p[1] for p in lawn["geometry"]["coordinates"][0]]
    points = [p for f in data["features"] if f["properties"]["role"] == "piece"
              for p in f["geometry"]["coordinates"]]
    assert points
    assert all(min(lons) - 1e-5 <= x <= max(lons) + 1e-5 for x, _ in points)
    assert all(min(lats) - 1e-5 <= y <= max(lats) + 1e-5 for _, y in points)


def test_module_runs_as_a_command(tmp_path, square):
    env = dict(os.environ, PYTHONPATH=str(ROOT) + os.pathsep + os.environ.get("PYTHONPATH", ""))
    done = subprocess.run([sys.executable, "-m", "swathwise_tools", "plan", str(square), "--json"],
                          capture_output=True, text=True, env=env, timeout=60)
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout)["pieces"]["planned"]["total"] == 10

    done = subprocess.run([sys.executable, "-m", "swathwise_tools", "plan", str(tmp_path / "none")],
                          capture_output=True, text=True, env=env, timeout=60)
    assert done.returncode == 1
    assert done.stderr.startswith("swathwise: error: ") and "Traceback" not in done.stderr


def test_console_script_is_installed():
    script = Path(sys.executable).with_name("swathwise")
    if not script.exists():
        script = Path(shutil.which("swathwise") or "")
    if not script.is_file():
        pytest.skip("the swathwise command is not installed in this environment")
    done = subprocess.run([str(script), "plan", "--help"], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0 and "--distance-to-border" in done.stdout
    for fragment in ("(default: 0.5)", '"role"', "local-metres", "example:", "exit codes:"):
        assert fragment in done.stdout
