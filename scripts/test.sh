#!/usr/bin/env bash
# Sets up everything (scripts/setup.sh) and runs all tests, C++ and Python.
#
#   scripts/test.sh              normal build
#   scripts/test.sh --sanitize   everything built and run under
#                                AddressSanitizer and UndefinedBehaviorSanitizer
# Extra arguments after the option are passed to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."

SANITIZE=OFF
VENV="${SWATHWISE_VENV:-.venv}"
SETUP_ARGS=()
if [[ "${1:-}" == "--sanitize" ]]; then
  SANITIZE=ON
  VENV="${SWATHWISE_VENV:-.venv}-sanitize"
  SETUP_ARGS=(--sanitize)
  shift
fi

scripts/setup.sh "${SETUP_ARGS[@]}"

BUILD="build/cpp-tests${SWATHWISE_BUILD_TAG:-}-sanitize-$SANITIZE"
echo "== C++ tests" >&2
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSWATHWISE_BUILD_MODULE=OFF \
  -DSWATHWISE_BUILD_TESTS=ON -DSWATHWISE_SANITIZE="$SANITIZE" >/dev/null
cmake --build "$BUILD" -j "$(nproc)" >/dev/null
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=detect_leaks=1
"$BUILD/planner_tests" --gtest_brief=1

echo "== Python tests" >&2
if [[ "$SANITIZE" == ON ]]; then
  # The interpreter is not instrumented: load the runtime first (with the C++
  # runtime, so that exceptions thrown in the module are intercepted), and
  # leave leak checking to the C++ tests (the interpreter keeps memory at exit).
  export LD_PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libstdc++.so)"
  export ASAN_OPTIONS=detect_leaks=0
fi
"$VENV/bin/python" -m pytest -q tests/python "$@"
