#!/usr/bin/env bash
# Installs what the build needs, builds everything (the Linux module, the
# Windows module when mingw-w64 is present, the stand-in host, the vantrel
# command and the tests) and runs every test.
# VANTREL_BUILD_DIR picks the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then
  ./scripts/setup.sh
elif command -v sudo >/dev/null 2>&1; then
  sudo ./scripts/setup.sh
else
  ./scripts/setup.sh
fi

build="${VANTREL_BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
