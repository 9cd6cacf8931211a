#!/usr/bin/env bash
# Installs what the build needs, builds everything (the Linux module, the
# Windows module when mingw-w64 is present, the stand-in host, the vantrel
# command and the tests) and runs every test; then builds and runs them all
# again with AddressSanitizer, LeakSanitizer and UBSan (the "asan-ubsan"
# preset, in build-asan). Fails when either run fails.
# VANTREL_BUILD_DIR picks the build folder of the first run (default: build);
# VANTREL_SANITIZERS=0 leaves out the sanitizer run.
set -euo pipefail
cd "$(dirname "$0")/.."

. ./scripts/ensure_setup.sh

build="${VANTREL_BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"

if [ "${VANTREL_SANITIZERS:-1}" != 0 ]; then
  cmake --preset asan-ubsan >/dev/null
  cmake --build --preset asan-ubsan
  ctest --preset asan-ubsan
fi
