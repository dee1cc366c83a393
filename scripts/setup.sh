#!/usr/bin/env bash
# Sets up everything swathwise needs on a fresh machine, idempotently:
# GoogleTest (Debian package), Clipper2 (built from a pinned registry archive
# into .deps/), a virtual environment in .venv with the test tools, and the
# swathwise package itself, built from this checkout as a wheel. Steps whose
# inputs have not changed since they last ran are skipped.
#
#   scripts/setup.sh [--sanitize]
#
# SWATHWISE_VENV and SWATHWISE_BUILD_TAG choose another environment and build
# folder, so that several checkouts' builds can run side by side.
# With --sanitize the module is built with AddressSanitizer and
# UndefinedBehaviorSanitizer into the separate environment .venv-sanitize.
set -euo pipefail
cd "$(dirname "$0")/.."

SANITIZE=OFF
VENV="${SWATHWISE_VENV:-.venv}"
if [[ "${1:-}" == "--sanitize" ]]; then
  SANITIZE=ON
  VENV="${SWATHWISE_VENV:-.venv}-sanitize"
fi

log() { echo "setup: $*" >&2; }

if [[ ! -f /usr/include/gtest/gtest.h ]] && ! ls /usr/lib/*/cmake/GTest/GTestConfig.cmake >/dev/null 2>&1; then
  log "installing GoogleTest (libgtest-dev)"
  SUDO=""
  if [[ "$(id -u)" != 0 ]]; then SUDO=sudo; fi
  $SUDO apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq libgtest-dev >/dev/null
fi

# Headless Chromium opens the interactive plan page in the tests.
if ! command -v chromium >/dev/null 2>&1; then
  log "installing Chromium (chromium) for the page test"
  SUDO=""
  if [[ "$(id -u)" != 0 ]]; then SUDO=sudo; fi
  APT_LOG="$(mktemp)"
  if ! { $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq &&
         DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
           --no-install-recommends chromium; } >"$APT_LOG" 2>&1; then
    cat "$APT_LOG" >&2
    exit 1
  fi
  rm -f "$APT_LOG"
fi

python3 scripts/fetch_clipper2.py >/dev/null

if [[ ! -x "$VENV/bin/python" ]]; then
  log "creating $VENV"
  python3 -m venv "$VENV"
fi
# pip's notes about local package folders are noise here.
quiet() { "$@" 2>&1 | { grep -v '^WARNING: Location' >&2 || true; }; }

# What a step was last done for, kept in the environment: a step whose
# inputs have not changed since is skipped.
stamp_ok() { [[ -f "$VENV/.stamp-$1" && "$(cat "$VENV/.stamp-$1")" == "$2" ]]; }
stamp() { echo "$2" > "$VENV/.stamp-$1"; }

REQUIREMENTS="$(sha256sum requirements-dev.txt | cut -d' ' -f1)"
if ! stamp_ok requirements "$REQUIREMENTS"; then
  log "installing the test tools into $VENV"
  quiet "$VENV/bin/python" -m pip install -q --disable-pip-version-check -r requirements-dev.txt
  stamp requirements "$REQUIREMENTS"
fi

# The package is built as a wheel (kept in DIST, where the tests find it to
# install into a fresh environment) and installed from it, only when a file
# it is built from changed.
DIST="build/dist${SWATHWISE_BUILD_TAG:-}-sanitize-$SANITIZE"
SOURCES="$( { find planner bindings stubs swathwise_tools -type f ! -name '*.pyc' -print0 \
              | sort -z | xargs -0 sha256sum
            sha256sum CMakeLists.txt pyproject.toml README.md LICENSE THIRD_PARTY_LICENSES.md \
              scripts/fetch_clipper2.py; } | sha256sum | cut -d' ' -f1)"
if stamp_ok package "$SOURCES" && compgen -G "$DIST/swathwise-*.whl" >/dev/null \
    && "$VENV/bin/python" -c "from importlib.util import find_spec as f
assert f('swathwise') and f('swathwise_tools')" 2>/dev/null; then
  exit 0
fi
log "building and installing swathwise ($VENV, sanitizers $SANITIZE)"
rm -rf "$DIST"
quiet "$VENV/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps -w "$DIST" \
  --config-settings=cmake.define.SWATHWISE_SANITIZE="$SANITIZE" \
  --config-settings=build-dir="build/wheel${SWATHWISE_BUILD_TAG:-}-sanitize-$SANITIZE" \
  .
quiet "$VENV/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps \
  "$DIST"/swathwise-*.whl
stamp package "$SOURCES"
