#!/usr/bin/env bash
# Builds the libFuzzer target for the planning pipeline with AddressSanitizer
# and UndefinedBehaviorSanitizer (clang from the Debian packages) and runs it.
#
#   scripts/fuzz.sh [SECONDS]     default 120
#
# Crashes are written to build/fuzz/; replay one with
#   build/fuzz/fuzz_pipeline build/fuzz/crash-...
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_TO_RUN="${1:-120}"

if ! command -v clang++ >/dev/null; then
  SUDO=""
  if [[ "$(id -u)" != 0 ]]; then SUDO=sudo; fi
  $SUDO apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
fi
PREFIX="$(python3 scripts/fetch_clipper2.py)"

mkdir -p build/fuzz/corpus
clang++ -std=c++17 -O1 -g -ffp-contract=off -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I. -I"$PREFIX/include" \
  planner/*.cpp tests/fuzz/fuzz_pipeline.cpp "$PREFIX/lib/libClipper2.a" \
  -o build/fuzz/fuzz_pipeline
cd build/fuzz
./fuzz_pipeline -max_total_time="$SECONDS_TO_RUN" -timeout=20 -rss_limit_mb=4096 \
  -max_len=512 -len_control=0 corpus
