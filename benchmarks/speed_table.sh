#!/usr/bin/env bash
# The speed figures of the work on real gardens, before and after, in one
# table: the park's lean call, the round-bed cases, the cliff hedge over its
# offsets, the angle search (2 ha and park), the park's coverage, the whole
# Python call on full-20000, and `swathwise plan` against its planner call.
#
#   bash benchmarks/speed_table.sh [--before REV] [--timeout S]
#
# --before REV  the revision of the "before" column (default e8c9aff); its
#               module and tools are built once as a wheel into
#               build/before-REV/ and imported from there
# --timeout S   a figure taking longer is shown as "> S s" (default 20; the
#               angle search, the park's coverage with its plan and the
#               command get 3 S, a cliff offset 10 s)
#
# The "after" column is this checkout, as scripts/setup.sh installs it in
# .venv.  Figures a revision cannot take (an API it lacks) are "n/a".  The
# gardens come from the benchmark's generators (bench_planner --export-only)
# and benchmarks/park_garden.py.  Takes a few minutes, the first run longer.
set -euo pipefail
cd "$(dirname "$0")/.."

REV="e8c9aff"
TIMEOUT=20
while [[ $# -gt 0 ]]; do
  case "$1" in
    --before) REV="$2"; shift 2 ;;
    --timeout) TIMEOUT="$2"; shift 2 ;;
    *) echo "usage: bash benchmarks/speed_table.sh [--before REV] [--timeout S]" >&2; exit 2 ;;
  esac
done
VENV="${SWATHWISE_VENV:-.venv}"
OUT="build/bench${SWATHWISE_BUILD_TAG:-}"

scripts/setup.sh
bash benchmarks/build_bench.sh
GARDENS="$OUT/table-gardens"
rm -rf "$GARDENS" && mkdir -p "$GARDENS"
for only in park-1.7ha bed- cliff- full-20000; do
  "$OUT/bench_planner" --export-only "$GARDENS" --only "$only" >/dev/null
done
"$VENV/bin/python" benchmarks/speed_table.py park-file "$GARDENS/park.geojson"

# The "before" module and tools, built once per revision.
HASH="$(git rev-parse --short=12 "$REV^{commit}")"
BEFORE="build/before-$HASH"
if [[ ! -f "$BEFORE/site/.complete" ]]; then
  echo "speed_table: building swathwise at $REV into $BEFORE" >&2
  rm -rf "$BEFORE" && mkdir -p "$BEFORE/src"
  git archive "$HASH" | tar -x -C "$BEFORE/src"
  ln -s "$PWD/.deps" "$BEFORE/src/.deps"
  if "$VENV/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps -w "$BEFORE/dist" \
       --config-settings=build-dir="$PWD/$BEFORE/wheel" "$BEFORE/src" >"$BEFORE/build.log" 2>&1; then
    "$VENV/bin/python" -m zipfile -e "$BEFORE"/dist/swathwise-*.whl "$BEFORE/site"
    touch "$BEFORE/site/.complete"
  else
    echo "speed_table: $REV does not build (see $BEFORE/build.log); its column is n/a" >&2
  fi
fi

rm -f "$OUT/table-before.json" "$OUT/table-after.json"
if [[ -f "$BEFORE/site/.complete" ]]; then
  echo "== the module and tools of $REV" >&2
  PYTHONPATH="$PWD/$BEFORE/site" "$VENV/bin/python" benchmarks/speed_table.py measure "$GARDENS" \
    "$OUT/table-before.json" --timeout "$TIMEOUT"
fi
echo "== this checkout" >&2
"$VENV/bin/python" benchmarks/speed_table.py measure "$GARDENS" "$OUT/table-after.json" --timeout "$TIMEOUT"
"$VENV/bin/python" benchmarks/speed_table.py table "$REV" "$OUT/table-before.json" "$OUT/table-after.json"
