#!/usr/bin/env bash
# Sets everything up (scripts/setup.sh) and plans one sample garden: writes
# its route (GeoJSON) and a picture (PNG) into out/ and prints the summary.
# The setup's output goes to out/setup.log and is shown only if it fails; an
# up-to-date module is not built again.
#
#   scripts/plan_sample.sh                       the back garden
#   scripts/plan_sample.sh examples/park_lawn.geojson [swathwise plan options]
set -euo pipefail
cd "$(dirname "$0")/.."

GARDEN="${1:-examples/back_garden.geojson}"
shift || true
VENV="${SWATHWISE_VENV:-.venv}"

mkdir -p out
if ! scripts/setup.sh >out/setup.log 2>&1; then
  cat out/setup.log >&2
  echo "plan_sample: the setup failed (its output is above and in out/setup.log)" >&2
  exit 1
fi

NAME="$(basename "$GARDEN")"
NAME="${NAME%.*}"
rm -f "out/$NAME.route.geojson" "out/$NAME.png"
status=0
"$VENV/bin/swathwise" plan "$GARDEN" \
  -o "out/$NAME.route.geojson" --picture "out/$NAME.png" "$@" || status=$?
if [[ -f "out/$NAME.route.geojson" ]]; then
  echo "route: out/$NAME.route.geojson  picture: out/$NAME.png" >&2
fi
exit "$status"
