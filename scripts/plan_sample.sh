#!/usr/bin/env bash
# Sets everything up (scripts/setup.sh) and plans one sample garden: writes
# its route (GeoJSON) and a picture (PNG) into out/ and prints the summary.
#
#   scripts/plan_sample.sh                       the back garden
#   scripts/plan_sample.sh examples/park_lawn.geojson [swathwise plan options]
set -euo pipefail
cd "$(dirname "$0")/.."

GARDEN="${1:-examples/back_garden.geojson}"
shift || true
VENV="${SWATHWISE_VENV:-.venv}"

scripts/setup.sh

NAME="$(basename "$GARDEN" .geojson)"
mkdir -p out
"$VENV/bin/swathwise" plan "$GARDEN" \
  -o "out/$NAME.route.geojson" --picture "out/$NAME.png" "$@"
echo "route: out/$NAME.route.geojson  picture: out/$NAME.png" >&2
