#!/usr/bin/env bash
# The benchmarks in one command: installs what the build needs, configures a
# Release build with the benchmarks in build-bench/ (VANTREL_BUILD_DIR picks
# another folder), builds them, prints the table of timings and the ratios of
# the performance targets, then times `vantrel render` of 120 frames on one
# core against all cores, and measures the preview page in headless Chromium.
# Extra arguments go to the benchmark executable, e.g. --benchmark_filter=Peer.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

. ./scripts/ensure_setup.sh

build=${VANTREL_BUILD_DIR:-$root/build-bench}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVANTREL_BUILD_BENCH=ON -DVANTREL_BUILD_TESTS=OFF -DVANTREL_BUILD_WINDOWS_MODULE=OFF >/dev/null
cmake --build "$build" --target vantrel_bench -- -j"$(nproc)"

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; load: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/vantrel_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.5 "$@"

if ! cmake --build "$build" --target vantrel -- -j"$(nproc)"; then
  echo "the vantrel command did not build in this configuration: render scaling not measured" >&2
  exit 1
fi
"$root/bench/render_scaling.sh" "$build/cli/vantrel"

# The preview page in headless Chromium, where it is installed.
if command -v chromium >/dev/null && [ -x /usr/bin/chromedriver ]; then
  cmake --build "$build" --target vantrel_module -- -j"$(nproc)"
  /usr/bin/python3 "$root/bench/preview_page.py" "$build/cli/vantrel" \
    "$build/module/Vantrel_v1.3.so" "$root/examples/01-title-slide.json"
fi
