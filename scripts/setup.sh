#!/usr/bin/env bash
# Sets up everything swathwise needs on a fresh machine, idempotently:
# GoogleTest (Debian package), Clipper2 (built from a pinned registry archive
# into .deps/), a virtual environment in .venv with the test tools, and the
# swathwise package itself, built from this checkout.
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

quiet "$VENV/bin/python" -m pip install -q --disable-pip-version-check -r requirements-dev.txt

log "building and installing swathwise ($VENV, sanitizers $SANITIZE)"
quiet "$VENV/bin/python" -m pip install -q --disable-pip-version-check \
  --config-settings=cmake.define.SWATHWISE_SANITIZE="$SANITIZE" \
  --config-settings=build-dir="build/wheel${SWATHWISE_BUILD_TAG:-}-sanitize-$SANITIZE" \
  .
