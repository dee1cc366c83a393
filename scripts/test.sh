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

# The installed C++ package, as another project uses it: install into a
# throw-away prefix, configure, build and run the example consumer.
echo "== C++ package (examples/cpp against the installed package)" >&2
PACKAGE="$BUILD/package"
rm -rf "$PACKAGE"
cmake --install "$BUILD" --prefix "$PACKAGE/prefix" >/dev/null
cmake -S examples/cpp -B "$PACKAGE/example" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$PWD/$PACKAGE/prefix" >/dev/null
cmake --build "$PACKAGE/example" >/dev/null
PACKAGE_SAYS="$("$PACKAGE/example/plan_garden")"
# The same garden through the Python module: the same planner, the same route.
PRELOAD=""
if [[ "$SANITIZE" == ON ]]; then
  PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libstdc++.so)"
fi
MODULE_SAYS="$(LD_PRELOAD="$PRELOAD" ASAN_OPTIONS=detect_leaks=0 "$VENV/bin/python" - <<'PY'
import math
import swathwise as sw
P = lambda *xy: sw.Polygon([sw.Point(x, y) for x, y in xy])
env = sw.Environment(P((0, 0), (10, 0), (10, 6), (0, 6)))
env.addObstacle(P((4, 2), (6, 2), (6, 4), (4, 4)))
s = sw.PathSettings()
s.offset, s.distanceToBorder, s.angle = 0.5, 0.5, 0.0
r = sw.PathService().computeFullTask(env, s, sw.Point(0, 0))
pts = [(p.x, p.y) for p in r.path.getPoints()]
length = 0.0
for (ax, ay), (bx, by) in zip(pts, pts[1:]):
    dx, dy = bx - ax, by - ay
    length += math.sqrt(dx * dx + dy * dy)
print(f"{len(r.slices)} pieces, {len(pts)} path points, path length {length:.3f} m")
PY
)"
echo "plan_garden: $PACKAGE_SAYS" >&2
if [[ "$PACKAGE_SAYS" != "$MODULE_SAYS" ]]; then
  echo "the installed package planned otherwise than the module: $MODULE_SAYS" >&2
  exit 1
fi

echo "== Python tests" >&2
if [[ "$SANITIZE" == ON ]]; then
  # The interpreter is not instrumented: load the runtime first (with the C++
  # runtime, so that exceptions thrown in the module are intercepted), and
  # leave leak checking to the C++ tests (the interpreter keeps memory at exit).
  export LD_PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libstdc++.so)"
  export ASAN_OPTIONS=detect_leaks=0
fi
"$VENV/bin/python" -m pytest -q tests/python "$@"
