import csv
import json
import math
import os
from pathlib import Path

import pytest

from swathwise_tools import batch, cli
from swathwise_tools.batch import COLUMNS, plan_many

PLAN_ONE = batch.plan_one

TIMES = ("planning_seconds", "angle_search_seconds", "task_seconds")


def circle(cx, cy, r, corners=32):
    return [[cx + r * math.cos(2 * math.pi * i / corners), cy + r * math.sin(2 * math.pi * i / corners)]
            for i in range(corners + 1)]


def feature(role, kind, coordinates, **props):
    return {"type": "Feature", "properties": {"role": role, **props},
            "geometry": {"type": kind, "coordinates": coordinates}}


# Gardens in UTM metres, a few kilometres from anywhere in particular.
EAST, NORTH = 512_000.0, 5_710_000.0


def garden(name, width, height, start=(0.2, 0.2)):
    """A small lawn ringed by a house and a fence: a tree over the edge, a bed
    touching the lawn at a corner, a path across, the dock at a corner."""
    def at(points):
        return [[EAST + x, NORTH + y] for x, y in points]

    lawn = [[0, 0], [width, 0], [width, height], [0, height], [0, 0]]
    bed = [[width / 2, height / 3], [width / 2 + 1.5, height / 3], [width / 2 + 1.5, height / 3 + 1.0],
           [width / 2, height / 3 + 1.0], [width / 2, height / 3]]
    return {
        "type": "FeatureCollection",
        "crs": {"type": "name", "properties": {"name": "urn:ogc:def:crs:EPSG::25832"}},
        "properties": {"name": name, "settings": {"offset": 0.6, "borderLaps": 1, "exclusionsBorderLaps": 1}},
        "features": [
            feature("lawn", "Polygon", [at(lawn)]),
            feature("obstacle", "Polygon", [at(circle(width, height / 2, 1.2))]),  # tree over the fence
            feature("obstacle", "Polygon", [at(bed)]),
            feature("obstacle", "Polygon", [at([[-1, height], [0, height], [-1, height + 1], [-1, height]])]),
            feature("obstacle", "Polygon", [at([[2, -0.5], [2.6, -0.5], [2.6, height * 0.6],
                                                [2, height * 0.6], [2, -0.5]])]),  # path from the house
            feature("start", "Point", at([start])[0]),
        ],
    }


GARDENS = {"corner": garden("corner", 9, 6), "long": garden("long", 14, 5), "deep": garden("deep", 7, 10)}


@pytest.fixture
def folder(tmp_path):
    where = tmp_path / "gardens"
    where.mkdir()
    for name, data in GARDENS.items():
        (where / f"{name}.geojson").write_text(json.dumps(data))
    return where


def untimed(rows, *also):
    return [{k: v for k, v in row.items() if k not in TIMES + also} for row in rows]


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


@pytest.mark.parametrize("flags", [["--angle", "25"], ["--angle", "auto", "--offset", "1"]])
def test_batch_rows_equal_single_plans(folder, tmp_path, capsys, flags):
    out = tmp_path / "out"
    assert cli.main(["batch", str(folder), "--out", str(out), "--workers", "2", *flags]) == 0
    capsys.readouterr()
    rows = {row["garden"]: row for row in read_csv(out / "summary.csv")}
    assert list(rows) == sorted(GARDENS)
    for name in GARDENS:
        route = tmp_path / f"{name}.geojson"
        code = cli.main(["plan", str(folder / f"{name}.geojson"), "--json", "-o", str(route), *flags])
        single = json.loads(capsys.readouterr().out)
        row = rows[name]
        pieces = single["pieces"]
        assert int(row["exit_code"]) == code
        assert (int(row["pieces"]), int(row["pieces_reached"]), int(row["pieces_given_up"])) == (
            pieces["planned"]["total"], pieces["reached"]["total"], pieces["givenUp"]["total"])
        # Written with repr: the same floats, bit for bit.
        figures = ("path_length", "transit_length", "coverage", "angle", "job_seconds")
        assert [float(row[k]) for k in figures] == [
            single["path"]["length"], single["path"]["transit"], single["coverage"],
            single["settings"]["angle"], single["jobSeconds"]]
        batch_route = json.loads((out / row["route"]).read_text())
        single_route = json.loads(route.read_text())
        assert [f["geometry"] for f in batch_route["features"]] == [f["geometry"] for f in single_route["features"]]


def test_failing_gardens_are_recorded_and_the_rest_planned(folder, tmp_path, capsys):
    (folder / "broken.geojson").write_text('{"type": "FeatureCollection", "features": [')
    (folder / "far_dock.geojson").write_text(json.dumps(garden("far_dock", 8, 6, start=(20, 3))))
    out = tmp_path / "out"
    assert cli.main(["batch", str(folder), "--out", str(out), "--workers", "1"]) == cli.BATCH_EXIT_SOME
    err = capsys.readouterr().err
    assert "broken: invalid JSON" in err and "far_dock: the start lies" in err
    rows = {row["garden"]: row for row in read_csv(out / "summary.csv")}
    assert {name: int(row["exit_code"]) for name, row in rows.items()} == {
        "broken": 1, "corner": 0, "deep": 0, "far_dock": 1, "long": 0}
    assert rows["broken"]["route"] == "" and rows["corner"]["route"] == "routes/corner.geojson"
    pyarrow = pytest.importorskip("pyarrow.parquet")
    table = pyarrow.read_table(out / "summary.parquet").to_pylist()
    assert [row["garden"] for row in table] == list(rows) and list(table[0]) == list(COLUMNS)
    assert table[0]["error"] == rows["broken"]["error"] and table[1]["pieces"] == int(rows["corner"]["pieces"])


@pytest.mark.parametrize("interruption", ["row missing, temporary file left", "row half-written"])
def test_rerun_replans_only_the_interrupted_garden(folder, tmp_path, interruption):
    out = tmp_path / "out"
    first = plan_many([folder], out, workers=1)
    assert (first.planned, first.skipped, first.failed) == (3, 0, 0)
    rows = out / "rows"
    before = {p.name: p.stat().st_mtime_ns for p in rows.iterdir()}
    record = rows / "long.json"
    if interruption == "row missing, temporary file left":
        record.unlink()
        (out / "routes" / ".tmp-0-long.geojson").write_text('{"type": "Feat')
    else:
        record.write_text(record.read_text()[:40])
    again = plan_many([folder], out, workers=1)
    assert (again.planned, again.skipped) == (1, 2)
    assert untimed(again.rows) == untimed(first.rows)
    after = {p.name: p.stat().st_mtime_ns for p in rows.iterdir()}
    assert {k for k in before if before[k] != after.get(k)} == {"long.json"}
    assert not list(out.glob("*/.tmp-*"))
    assert plan_many([folder], out, workers=1).planned == 0
    # Other options are another result: everything again.
    assert plan_many([folder], out, workers=1, settings={"offset": 0.8}).planned == 3


def test_dask_cluster_and_tables_give_the_same_rows(folder, tmp_path):
    distributed = pytest.importorskip("distributed")
    geopandas = pytest.importorskip("geopandas")
    pytest.importorskip("pyarrow")
    # A table holds no settings of its own: the same ones for all.
    settings = {"offset": 1.0, "borderLaps": 1, "exclusionsBorderLaps": 1}
    local = plan_many([folder], tmp_path / "local", workers=2, angle="auto", settings=settings)

    table = tmp_path / "gardens.parquet"
    frames = [geopandas.read_file(folder / f"{name}.geojson").assign(garden=name) for name in GARDENS]
    import pandas
    geopandas.GeoDataFrame(pandas.concat(frames, ignore_index=True)).to_parquet(table)

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        on_dask = plan_many([table], tmp_path / "dask", scheduler=cluster.scheduler_address,
                            angle="auto", settings=settings)
    assert on_dask.planned == 3
    assert [row["source"] for row in on_dask.rows] == [f"{table}#{name}" for name in GARDENS]
    # The same rows as the files planned locally, but for where each came from.
    by_name = sorted(on_dask.rows, key=lambda row: row["garden"])
    assert untimed(by_name, "source") == untimed(local.rows, "source")
    assert all(row["angle_source"] == "search" for row in local.rows)


def _dies_on_long(source, job):
    if source.id == "long":
        os._exit(9)  # as if killed mid-garden
    return PLAN_ONE(source, job)


def test_a_killed_worker_loses_only_its_garden_and_a_rerun_plans_it(folder, tmp_path, monkeypatch):
    out = tmp_path / "out"
    # The workers are forked, so they plan with the patched task.
    monkeypatch.setattr(batch, "plan_one", _dies_on_long)
    first = plan_many([folder], out, workers=1)
    assert [(r["garden"], r["exit_code"]) for r in first.rows] == [("corner", 0), ("deep", 0), ("long", 1)]
    assert "worker process" in first.rows[2]["error"] and not (out / "rows" / "long.json").exists()
    monkeypatch.setattr(batch, "plan_one", PLAN_ONE)
    again = plan_many([folder], out, workers=1)
    assert (again.planned, again.skipped, again.failed) == (1, 2, 0)
