#!/usr/bin/env bash
# Installs what the build needs, builds everything (the Linux module, the
# Windows module when mingw-w64 is present, the stand-in host, the vantrel
# command and the tests) and runs every test.
# VANTREL_BUILD_DIR picks the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."

. ./scripts/ensure_setup.sh

build="${VANTREL_BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
