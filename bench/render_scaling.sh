#!/usr/bin/env bash
# `vantrel render` of the 120 frames of bench/scenes/cascade-120.json held to
# one core (taskset, one job: the host's own worker threads share that core)
# and on all cores (one job per core), wall-clock seconds of each (best of
# three) and the speed-up. Usage: bench/render_scaling.sh VANTREL [RESOLUTION]
set -euo pipefail
vantrel=${1:?usage: render_scaling.sh VANTREL [RESOLUTION]}
resolution=${2:-full}
here=$(cd "$(dirname "$0")" && pwd)
scene=$here/scenes/cascade-120.json
cores=$(nproc)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Best of three wall-clock runs, in nanoseconds. $1: the CPUs, $2: the jobs.
best_of_three() {
  local cpus=$1 jobs=$2 best=0 start t
  for _ in 1 2 3; do
    start=$(date +%s%N)
    taskset -c "$cpus" "$vantrel" render "$scene" --jobs "$jobs" --resolution "$resolution" \
      --out "$out/j$jobs" --no-contact-sheet --quiet
    t=$(($(date +%s%N) - start))
    if [ "$best" -eq 0 ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  echo "$best"
}

one=$(best_of_three 0 1)
all=$(best_of_three "0-$((cores - 1))" "$cores")
awk -v one="$one" -v all="$all" -v cores="$cores" -v scene="$(basename "$scene")" \
  -v res="$resolution" 'BEGIN {
    printf "\nvantrel render, 120 frames of %s at %s resolution (best of 3)\n", scene, res
    printf "  one core, --jobs 1: %8.2f s\n", one / 1e9
    printf "  %d cores, --jobs %d: %8.2f s\n", cores, cores, all / 1e9
    printf "  speed-up:           %8.2f (target: at least 1.7 on 2 cores)\n", one / all
  }'
