#!/usr/bin/env bash
# `vantrel render` of the 120 frames of bench/scenes/cascade-120.json with
# one job and with one job per core, wall-clock seconds of each (best of
# three) and the speed-up. Usage: bench/render_scaling.sh VANTREL [RESOLUTION]
set -euo pipefail
vantrel=${1:?usage: render_scaling.sh VANTREL [RESOLUTION]}
resolution=${2:-full}
here=$(cd "$(dirname "$0")" && pwd)
scene=$here/scenes/cascade-120.json
cores=$(nproc)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Best of three wall-clock runs, in nanoseconds.
best_of_three() {
  local jobs=$1 best=0 start t
  for _ in 1 2 3; do
    start=$(date +%s%N)
    "$vantrel" render "$scene" --jobs "$jobs" --resolution "$resolution" --out "$out/j$jobs" \
      --no-contact-sheet --quiet
    t=$(($(date +%s%N) - start))
    if [ "$best" -eq 0 ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  echo "$best"
}

one=$(best_of_three 1)
all=$(best_of_three "$cores")
awk -v one="$one" -v all="$all" -v cores="$cores" -v scene="$(basename "$scene")" \
  -v res="$resolution" 'BEGIN {
    printf "\nvantrel render, 120 frames of %s at %s resolution (best of 3)\n", scene, res
    printf "  --jobs 1: %8.2f s\n", one / 1e9
    printf "  --jobs %d: %8.2f s\n", cores, all / 1e9
    printf "  speed-up: %8.2f (target: at least 1.7 on 2 cores)\n", one / all
  }'
