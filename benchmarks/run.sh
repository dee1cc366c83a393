#!/usr/bin/env bash
# Benchmarks of the planner: time, peak memory and counts per garden, the
# fast planner against the straightforward one, the time of the transit
# searches alone (each call's searches replayed, lean and keeping the search
# edges), and the growth of time with the number of slices, then whole calls
# of the Python module on the same gardens (conversion included).  Sets up first (scripts/setup.sh), then builds the
# benchmark program with the Release flags and runs it.
#
#   bash benchmarks/run.sh [--runs N] [--no-reference] [--no-lean] [--only TEXT] [--quick]
#                          [--before REV] [--angle-search]
#
# --runs N        computeFullTask calls per garden (median shown; default 5)
# --no-reference  skip the straightforward planner (no "before" column)
# --no-lean       skip the runs without connectors and search edges
# --only TEXT     only gardens whose name contains TEXT
# --quick         the four smaller sizes of each sweep only
# --before REV    also build the same benchmark with the planner of commit REV
#                 (git rev) and print a table of both lean times per garden
# --angle-search  then the lane angle search on the 2 ha garden with 200
#                 obstacles and the 1.7 ha park: the exhaustive search and the
#                 ranked one, in one run (benchmarks/angle_search.py; minutes)
#
# SWATHWISE_VENV chooses the virtual environment, as for scripts/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

VENV="${SWATHWISE_VENV:-.venv}"
OUT="build/bench${SWATHWISE_BUILD_TAG:-}"

BEFORE=""
ANGLES=""
ARGS=()
while [[ $# -gt 0 ]]; do
  if [[ "$1" == "--before" && $# -gt 1 ]]; then BEFORE="$2"; shift 2; continue; fi
  if [[ "$1" == "--angle-search" ]]; then ANGLES=1; shift; continue; fi
  ARGS+=("$1"); shift
done
set -- ${ARGS[@]+"${ARGS[@]}"}

scripts/setup.sh

mkdir -p "$OUT/obj"
"$VENV/bin/python" benchmarks/export_gardens.py "$OUT/gardens" examples/*.geojson

bash benchmarks/build_bench.sh

# The planner of commit $BEFORE, built with this benchmark and its gardens.
if [[ -n "$BEFORE" ]]; then
  BOUT="$OUT/before"
  rm -rf "$BOUT/src" && mkdir -p "$BOUT/src" "$BOUT/obj"
  git archive "$BEFORE" planner | tar -x -C "$BOUT/src"
  BSOURCES=("$BOUT"/src/planner/*.cpp tests/cpp/reference_planner.cpp tests/cpp/reference_lanes.cpp
            benchmarks/bench_planner.cpp)
  echo "bench: building $BOUT/bench_planner (planner of $BEFORE)" >&2
  printf '%s\n' "${BSOURCES[@]}" | OUT_DIR="$BOUT" xargs -P "$(nproc)" -I{} sh -c \
    'src="$1"; shift; obj="$OUT_DIR/obj/$(basename "$(dirname "$src")")_$(basename "$src").o"; g++ "$@" -c "$src" -o "$obj"' \
    _ {} -std=c++17 -O3 -DNDEBUG -ffp-contract=off -fno-fast-math -pthread -I"$BOUT/src" -I. \
    -I.deps/clipper2/include
  g++ -pthread "$BOUT"/obj/*.o .deps/clipper2/lib/libClipper2.a -o "$BOUT/bench_planner"
  echo "== the planner of $BEFORE"
  "$BOUT/bench_planner" --no-reference --times "$BOUT/times" "$@" "$OUT"/gardens/*.garden || true
  echo "== this checkout"
fi

# Every garden is written out for the whole Python calls measured after.
rm -rf "$OUT/export" && mkdir -p "$OUT/export"
status=0
"$OUT/bench_planner" --export "$OUT/export" --times "$OUT/times" "$@" "$OUT"/gardens/*.garden ||
  status=$?
if [[ -n "$BEFORE" ]]; then
  "$VENV/bin/python" benchmarks/before_after.py "$BEFORE" "$OUT/before/times" "$OUT/times"
fi
"$VENV/bin/python" benchmarks/python_calls.py "$@" "$OUT/export"
if [[ -n "$ANGLES" ]]; then
  echo "== lane angle search" >&2
  GARDENS=()
  for name in full-20000 park-1.7ha; do
    if [[ -f "$OUT/export/$name.garden" ]]; then GARDENS+=("$OUT/export/$name.garden"); fi
  done
  if [[ ${#GARDENS[@]} -gt 0 ]]; then "$VENV/bin/python" benchmarks/angle_search.py "${GARDENS[@]}"; fi
fi
exit "$status"
