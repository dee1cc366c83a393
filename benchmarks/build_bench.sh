#!/usr/bin/env bash
# Builds the benchmark program with the Release flags into
# build/bench${SWATHWISE_BUILD_TAG}/bench_planner, unless it is newer than
# every file it is built from (the planner, the straightforward planner, the
# benchmark and its garden generators).  Expects scripts/setup.sh to have run
# (Clipper2 in .deps/).
#
#   bash benchmarks/build_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."

OUT="build/bench${SWATHWISE_BUILD_TAG:-}"
BIN="$OUT/bench_planner"
CXXFLAGS=(-std=c++17 -O3 -DNDEBUG -ffp-contract=off -fno-fast-math -Wall -Wextra -pthread
          -I. -I.deps/clipper2/include)
SOURCES=(planner/*.cpp tests/cpp/reference_planner.cpp tests/cpp/reference_lanes.cpp
         benchmarks/bench_planner.cpp)
INPUTS=(planner/* tests/cpp/reference_* tests/cpp/test_helpers.h benchmarks/bench_planner.cpp
        benchmarks/*.h benchmarks/build_bench.sh)
if [[ -x "$BIN" ]]; then
  stale=0
  for f in "${INPUTS[@]}"; do
    if [[ -e "$f" && "$f" -nt "$BIN" ]]; then stale=1; break; fi
  done
  if [[ $stale == 0 ]]; then exit 0; fi
fi
mkdir -p "$OUT/obj"
echo "bench: building $BIN" >&2
printf '%s\n' "${SOURCES[@]}" | OUT_DIR="$OUT" xargs -P "$(nproc)" -I{} sh -c \
  'src="$1"; shift; obj="$OUT_DIR/obj/$(echo "$src" | tr / _).o"; g++ "$@" -c "$src" -o "$obj"' \
  _ {} "${CXXFLAGS[@]}"
OBJECTS=()
for src in "${SOURCES[@]}"; do OBJECTS+=("$OUT/obj/$(echo "$src" | tr / _).o"); done
g++ -pthread "${OBJECTS[@]}" .deps/clipper2/lib/libClipper2.a -o "$BIN"
