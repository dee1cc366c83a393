"""Many gardens at once: one garden per task, each through the command's flow.

    sources ──► one task per garden ──► route file + row ──► summary table
                (load, make_plan, summarise,  (written by the task,
                 write the route)              atomically)

The tasks run in local worker processes (``workers``, default one per core)
or on a Dask cluster (``scheduler``, the address of a ``dask.distributed``
scheduler; the optional extra ``swathwise[fleet]``).  On a cluster the
workers read the garden files and write into ``out`` at the same paths, as
on a shared file system.  Each garden gets ``routes/<garden>.geojson`` and
``rows/<garden>.json`` (written last, by rename, so no half-written file
counts); a rerun with the same options skips gardens whose row is there.
``summary.csv`` and ``summary.parquet`` gather every garden's row::

    from swathwise_tools.batch import plan_many

    result = plan_many(["gardens/"], "out", settings={"offset": 0.4}, angle="auto")
    print(result.planned, result.skipped, [r["error"] for r in result.rows if r["error"]])
"""

from __future__ import annotations

import csv
import hashlib
import io
import json
import multiprocessing
import os
import re
import sys
import time
import uuid
from concurrent.futures import FIRST_COMPLETED, Executor, Future, ProcessPoolExecutor, wait
from concurrent.futures.process import BrokenProcessPool
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable, Iterator, Mapping, Sequence

from .angle import DEFAULT_SPEED_M_S, DEFAULT_TURN_TIME_S
from .cli import EXIT_ERROR, EXIT_GIVEN_UP, EXIT_NOTHING_REACHED, EXIT_OK
from .frame import CrsError
from .garden import GEOJSON_SUFFIXES, Garden, GardenError, load_garden, read_garden
from .plan import Plan, PlanError
from .settings import SettingsError, check_settings

__all__ = ["BatchError", "BatchResult", "GardenSource", "COLUMNS", "find_gardens", "plan_many",
           "plan_one"]

# Garden files taken from a folder; tables of many gardens have a garden column.
FILE_SUFFIXES = GEOJSON_SUFFIXES + (".gpkg", ".parquet", ".shp", ".kml", ".fgb")
TABLE_SUFFIXES = (".gpkg", ".parquet")
GARDEN_COLUMN = "garden"
# A garden whose worker process died this many times is recorded as failed.
MAX_ATTEMPTS = 2
# The summary table's columns, in order; lengths in metres, times in seconds,
# coverage a share from 0 to 1, the angle in degrees.
COLUMNS = ("garden", "source", "exit_code", "error", "route", "pieces", "pieces_reached",
           "pieces_given_up", "path_length", "mowing_length", "transit_length", "coverage", "angle",
           "angle_source", "job_seconds", "planning_seconds", "angle_search_seconds", "task_seconds",
           "warnings")


class BatchError(ValueError):
    """Inputs or options that give no batch at all; the message is one line."""


@dataclass(frozen=True)
class GardenSource:
    """One garden of a batch.

    ``id`` names the garden in the summary and (made safe, :attr:`stem`) its
    files; the garden is read from the file ``path``, or is the GeoJSON
    FeatureCollection ``data`` (one garden's rows of a table) in ``crs``.
    ``origin`` says where it came from.
    """

    id: str
    origin: str
    path: str | None = None
    data: Mapping[str, Any] | None = None
    crs: str | None = None

    @property
    def stem(self) -> str:
        """The garden's id as a file name."""
        return re.sub(r"[^A-Za-z0-9._-]+", "_", self.id).strip("._") or "garden"

    def load(self) -> Garden:
        """The garden, read as ``swathwise plan`` reads it."""
        if self.path is not None:
            return load_garden(self.path)
        garden = read_garden(self.data, crs=self.crs)
        if not garden.name:
            garden.name = self.id
        return garden


@dataclass(frozen=True)
class _Job:
    """What every task of one batch shares."""

    out: str
    settings: Mapping[str, Any]
    angle: float | str | None
    speed: float
    turn_time: float

    def fingerprint(self, source: GardenSource) -> str:
        text = json.dumps([source.origin, dict(self.settings), self.angle, self.speed, self.turn_time],
                          sort_keys=True, default=str)
        return hashlib.sha256(text.encode()).hexdigest()


@dataclass
class BatchResult:
    """What a batch did: ``rows`` (one per garden, input order, :data:`COLUMNS`),
    how many gardens were ``planned`` now, ``skipped`` as already done, and
    ``failed`` (exit code 1), the summary files, and the wall time in seconds."""

    rows: list[dict[str, Any]]
    planned: int
    skipped: int
    seconds: float
    summary_files: list[Path] = field(default_factory=list)
    notes: list[str] = field(default_factory=list)

    @property
    def failed(self) -> int:
        """Gardens that produced nothing (exit code 1)."""
        return sum(1 for row in self.rows if row["exit_code"] == EXIT_ERROR)


# --- sources ---------------------------------------------------------------------


def find_gardens(inputs: Sequence[str | Path]) -> list[GardenSource]:
    """The gardens of ``inputs``: garden files, folders of garden files
    (:data:`FILE_SUFFIXES`, not recursive, by name), and GeoPackage or
    GeoParquet tables with a ``garden`` column (one garden per value).
    Raises :class:`BatchError` for a missing input or two gardens of one name."""
    sources: list[GardenSource] = []
    for given in inputs:
        path = Path(given)
        if path.is_dir():
            files = sorted(p for p in path.iterdir() if p.is_file() and p.suffix.lower() in FILE_SUFFIXES)
            for file in files:
                sources.extend(_file_gardens(file))
        elif path.is_file():
            sources.extend(_file_gardens(path))
        else:
            raise BatchError(f"{given}: no such file or folder")
    seen: dict[str, GardenSource] = {}
    for source in sources:
        other = seen.setdefault(source.stem.lower(), source)
        if other is not source:
            raise BatchError(f"two gardens would share the name {source.stem!r} ({other.origin}, "
                             f"{source.origin}); rename one")
    return sources


def _file_gardens(path: Path) -> list[GardenSource]:
    absolute = str(path.resolve())
    suffix = path.suffix.lower()
    if suffix not in TABLE_SUFFIXES or (suffix != ".parquet" and GARDEN_COLUMN not in _columns(path)):
        return [GardenSource(path.stem, absolute, path=absolute)]
    frame = _read_table(path)
    crs = frame.crs.to_wkt() if frame.crs is not None else None
    if GARDEN_COLUMN not in frame.columns:
        return [GardenSource(path.stem, absolute, data=_collection(frame), crs=crs)]
    sources = []
    for value, rows in frame.groupby(GARDEN_COLUMN, sort=False):
        name = str(value)
        sources.append(GardenSource(name, f"{absolute}#{name}", data=_collection(rows.drop(columns=GARDEN_COLUMN)),
                                    crs=crs))
    return sources


def _columns(path: Path) -> list[str]:
    try:
        import pyogrio
    except ImportError:
        return []
    try:
        return [str(name) for name in pyogrio.read_info(path)["fields"]]
    except Exception:  # not a table the drivers know: read as one garden
        return []


def _read_table(path: Path) -> Any:
    try:
        import geopandas
    except ImportError:
        raise BatchError(f"{path}: reading {path.suffix} tables needs geopandas: "
                         "pip install 'swathwise[gis]'") from None
    try:
        if path.suffix.lower() == ".parquet":
            return geopandas.read_parquet(path)
        return geopandas.read_file(path)
    except Exception as exc:  # the readers raise many kinds
        raise BatchError(f"{path}: cannot read the table: {str(exc).splitlines()[0]}") from None


def _collection(frame: Any) -> dict[str, Any]:
    return dict(json.loads(frame.to_json(na="null", drop_id=True)))


# --- one garden --------------------------------------------------------------------


def plan_exit_code(plan: Plan) -> int:
    """The exit code ``swathwise plan`` gives this plan."""
    if not plan.reached:
        return EXIT_NOTHING_REACHED
    if plan.given_up:
        return EXIT_GIVEN_UP
    return EXIT_OK


def plan_one(source: GardenSource, job: _Job) -> dict[str, Any]:
    """Plan one garden as ``swathwise plan`` does, write its route and its row
    (both atomically), and return the row.  A garden that cannot be planned
    gets a row with exit code 1 and the error."""
    from .pipeline import make_plan
    from .route import write_route
    from .summary import summarise

    began = time.perf_counter()
    out = Path(job.out)
    row: dict[str, Any] = {name: None for name in COLUMNS}
    row.update(garden=source.id, source=source.origin, error="", route="", warnings="")
    try:
        garden = source.load()
        settings = garden.settings.updated(job.settings, source="option")
        # One process per garden: the angle search stays in it.
        plan = make_plan(garden, settings, angle=job.angle, speed=job.speed, turn_time=job.turn_time,
                         workers=1, progress=False)
        summary = summarise(plan, speed=job.speed)
        route = Path("routes") / f"{source.stem}.geojson"
        _write_atomically(out / route, lambda path: write_route(path, plan, summary))
        row.update(_row_figures(summary), exit_code=plan_exit_code(plan), route=str(route))
        row["warnings"] = "; ".join(garden.warnings + plan.warnings)
    except (GardenError, SettingsError, CrsError, PlanError) as exc:
        row.update(exit_code=EXIT_ERROR, error=str(exc))
    except OSError as exc:
        row.update(exit_code=EXIT_ERROR, error=f"{exc.filename or ''}: {exc.strerror or exc}")
    row["task_seconds"] = time.perf_counter() - began
    record = {"fingerprint": job.fingerprint(source), "row": row}
    _write_atomically(out / "rows" / f"{source.stem}.json",
                      lambda path: path.write_text(json.dumps(record), encoding="utf-8"))
    return row


def _row_figures(summary: Mapping[str, Any]) -> dict[str, Any]:
    pieces = summary["pieces"]
    path = summary["path"]
    return {
        "pieces": pieces["planned"]["total"], "pieces_reached": pieces["reached"]["total"],
        "pieces_given_up": pieces["givenUp"]["total"], "path_length": path["length"],
        "mowing_length": path["mowing"], "transit_length": path["transit"],
        "coverage": summary["coverage"], "angle": summary["settings"]["angle"],
        "angle_source": summary["angleSource"], "job_seconds": summary.get("jobSeconds"),
        "planning_seconds": summary["planningSeconds"],
        "angle_search_seconds": summary.get("angleSearchSeconds"),
    }


def _write_atomically(path: Path, write: Callable[[Path], object]) -> None:
    """Write through ``write`` into a temporary file beside ``path``, then
    rename it: ``path`` is either the whole file or absent."""
    path.parent.mkdir(parents=True, exist_ok=True)
    temporary = path.with_name(f".tmp-{uuid.uuid4().hex}-{path.name}")
    try:
        write(temporary)
        os.replace(temporary, path)
    finally:
        temporary.unlink(missing_ok=True)


def _done_row(source: GardenSource, job: _Job) -> dict[str, Any] | None:
    """The garden's row from an earlier run with the same options, if complete."""
    try:
        record = json.loads((Path(job.out) / "rows" / f"{source.stem}.json").read_text(encoding="utf-8"))
    except (OSError, ValueError):
        return None
    if not isinstance(record, dict) or record.get("fingerprint") != job.fingerprint(source):
        return None
    row = record.get("row")
    if not isinstance(row, dict) or row.get("garden") != source.id or set(row) != set(COLUMNS):
        return None
    if row["route"] and not (Path(job.out) / row["route"]).is_file():
        return None
    return row


# --- many gardens --------------------------------------------------------------------


def plan_many(
    inputs: Sequence[str | Path] | Sequence[GardenSource],
    out: str | Path,
    *,
    settings: Mapping[str, Any] | None = None,
    angle: float | str | None = None,
    speed: float = DEFAULT_SPEED_M_S,
    turn_time: float = DEFAULT_TURN_TIME_S,
    workers: int | None = None,
    scheduler: str | None = None,
    progress: bool | None = None,
) -> BatchResult:
    """Plan many gardens into the folder ``out``; see the module's docstring.

    Args:
        inputs: garden files, folders of them, tables with a ``garden``
            column (see :func:`find_gardens`), or :class:`GardenSource`\\ s.
        out: folder for ``routes/``, ``rows/``, ``summary.csv`` and
            ``summary.parquet``; created when missing.
        settings: settings over every garden's own (file keys, angle in
            degrees), as the command's setting flags.
        angle: degrees, ``"auto"`` (searched per garden) or ``"edge"``;
            ``None`` keeps the settings'.
        speed: mowing speed in m/s; ``turn_time``: seconds per lane end (the
            time estimate and ``angle="auto"``).
        workers: local worker processes (default: one per core).
        scheduler: address of a Dask scheduler to run the gardens on instead
            (needs ``swathwise[fleet]``).
        progress: a progress bar on standard error (default: when it is a
            terminal).

    Raises :class:`BatchError` for unusable inputs or options; a garden that
    fails gets its error in its row and the others go on.
    """
    began = time.perf_counter()
    try:
        checked = check_settings(settings or {}, source="setting")
    except SettingsError as exc:
        raise BatchError(str(exc)) from None
    if isinstance(angle, str) and angle not in ("auto", "edge"):
        raise BatchError(f"angle must be degrees, auto or edge, got {angle!r}")
    if speed <= 0 or turn_time < 0:
        raise BatchError("the speed must be positive and the turn time not negative")
    if workers is not None and workers < 1:
        raise BatchError(f"workers must be at least 1, got {workers}")
    sources = [s for s in inputs if isinstance(s, GardenSource)]
    if len(sources) != len(inputs):
        sources = find_gardens([s for s in inputs if not isinstance(s, GardenSource)])
    job = _Job(str(Path(out).resolve()), checked, angle, speed, turn_time)
    Path(job.out).mkdir(parents=True, exist_ok=True)
    # What a killed run left half-written; it never counts.
    for folder in ("routes", "rows"):
        for leftover in (Path(job.out) / folder).glob(".tmp-*"):
            leftover.unlink(missing_ok=True)

    rows: dict[str, dict[str, Any]] = {}
    todo = []
    for source in sources:
        row = _done_row(source, job)
        if row is None:
            todo.append(source)
        else:
            rows[source.id] = row
    skipped = len(rows)
    with _progress(len(todo), progress) as tick:
        if scheduler is not None:
            runner = _on_dask(scheduler)
        else:
            runner = _locally(workers or os.cpu_count() or 1)
        for source, row in runner(todo, job):
            rows[source.id] = row
            tick()
    ordered = [rows[source.id] for source in sources]
    result = BatchResult(ordered, len(todo), skipped, 0.0)
    _write_summary(Path(job.out), ordered, result)
    result.seconds = time.perf_counter() - began
    return result


_Runner = Callable[[list[GardenSource], _Job], Iterator[tuple[GardenSource, dict[str, Any]]]]


def _locally(workers: int) -> _Runner:
    def run(todo: list[GardenSource], job: _Job) -> Iterator[tuple[GardenSource, dict[str, Any]]]:
        attempts: dict[str, int] = {}
        waiting = list(reversed(todo))
        while waiting:
            # Forked, as the angle search's workers: the tools are loaded
            # already, and the caller's script need not be importable.
            context = multiprocessing.get_context("fork")
            with ProcessPoolExecutor(min(workers, len(waiting)), mp_context=context) as pool:
                for source, outcome in _window(pool, waiting, job, workers):
                    if isinstance(outcome, dict):
                        yield source, outcome
                        continue
                    if not isinstance(outcome, BrokenProcessPool):
                        yield source, _lost(source, f"{type(outcome).__name__}: {outcome}")
                        continue
                    attempts[source.id] = attempts.get(source.id, 0) + 1
                    if attempts[source.id] >= MAX_ATTEMPTS:
                        yield source, _lost(source, "the worker process planning it stopped "
                                                    "(killed or out of memory)")
                    else:
                        waiting.append(source)
    return run


def _on_dask(address: str) -> _Runner:
    try:
        import distributed
    except ImportError:
        raise BatchError("--scheduler needs Dask: pip install 'swathwise[fleet]'") from None

    def run(todo: list[GardenSource], job: _Job) -> Iterator[tuple[GardenSource, dict[str, Any]]]:
        try:
            # Dask's client is untyped.
            client: Any = getattr(distributed, "Client")(address, timeout=30)
        except (OSError, TimeoutError) as exc:
            raise BatchError(f"cannot reach the Dask scheduler at {address}: {exc}") from None
        with client:
            threads = sum(client.nthreads().values()) or 1
            executor = client.get_executor(pure=False)
            waiting = list(reversed(todo))
            for source, outcome in _window(executor, waiting, job, 2 * threads):
                if isinstance(outcome, dict):
                    yield source, outcome
                else:
                    yield source, _lost(source, f"{type(outcome).__name__}: {outcome}")
    return run


def _window(executor: Executor, waiting: list[GardenSource], job: _Job,
            width: int) -> Iterator[tuple[GardenSource, dict[str, Any] | BaseException]]:
    """Keep ``width`` gardens running (taken from the end of ``waiting``) and
    yield each with its row, or with the exception its task ended in."""
    running: dict[Future[dict[str, Any]], GardenSource] = {}
    while waiting or running:
        while waiting and len(running) < width:
            source = waiting.pop()
            try:
                running[executor.submit(plan_one, source, job)] = source
            except BrokenProcessPool as exc:
                yield source, exc
                return
        done, _ = wait(running, return_when=FIRST_COMPLETED)
        broken = False
        for future in done:
            source = running.pop(future)
            try:
                yield source, future.result()
            except BrokenProcessPool as exc:
                broken = True
                yield source, exc
            except Exception as exc:  # the cluster lost the task
                yield source, exc
        if broken:
            for future, source in running.items():
                yield source, BrokenProcessPool("stopped with its pool")
            return


def _lost(source: GardenSource, reason: str) -> dict[str, Any]:
    """The row of a garden whose task never ended; no row file, so a rerun tries again."""
    row: dict[str, Any] = {name: None for name in COLUMNS}
    row.update(garden=source.id, source=source.origin, exit_code=EXIT_ERROR, error=reason, route="",
               warnings="")
    return row


class _progress:
    """A tqdm bar on standard error when it is a terminal (or when asked)."""

    def __init__(self, total: int, show: bool | None) -> None:
        self.total = total
        self.show = sys.stderr.isatty() if show is None else show
        self.bar: Any = None

    def __enter__(self) -> Callable[[], None]:
        if self.show and self.total:
            try:
                from tqdm import tqdm
            except ImportError:
                return lambda: None
            tqdm.monitor_interval = 0  # no thread of its own: the workers are forked
            self.bar = tqdm(total=self.total, unit="garden", file=sys.stderr, dynamic_ncols=True)
        return lambda: self.bar.update(1) if self.bar is not None else None

    def __exit__(self, *exc: object) -> None:
        if self.bar is not None:
            self.bar.close()


def _write_summary(out: Path, rows: list[dict[str, Any]], result: BatchResult) -> None:
    text = io.StringIO()
    writer = csv.DictWriter(text, fieldnames=COLUMNS, lineterminator="\n")
    writer.writeheader()
    writer.writerows(rows)
    _write_atomically(out / "summary.csv", lambda path: path.write_text(text.getvalue(), encoding="utf-8"))
    result.summary_files.append(out / "summary.csv")
    try:
        import pyarrow
        import pyarrow.parquet
    except ImportError:
        result.notes.append("summary.parquet not written: it needs pyarrow (pip install 'swathwise[fleet]')")
        return
    types = {"garden": pyarrow.string(), "source": pyarrow.string(), "exit_code": pyarrow.int64(),
             "error": pyarrow.string(), "route": pyarrow.string(), "angle_source": pyarrow.string(),
             "warnings": pyarrow.string(), "pieces": pyarrow.int64(), "pieces_reached": pyarrow.int64(),
             "pieces_given_up": pyarrow.int64()}
    schema = pyarrow.schema([(name, types.get(name, pyarrow.float64())) for name in COLUMNS])
    table = pyarrow.Table.from_pylist(rows, schema=schema)
    _write_atomically(out / "summary.parquet", lambda path: pyarrow.parquet.write_table(table, path))
    result.summary_files.append(out / "summary.parquet")
