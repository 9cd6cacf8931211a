#!/usr/bin/env bash
# Builds the libFuzzer targets (the "fuzz" preset, clang) and runs one of them
# over its seed corpus for SECONDS (default 600), niced, in one process.
#   scripts/fuzz.sh text_analysis|scene_file|render|preview_request [SECONDS]
# New inputs go to build-fuzz/corpus/TARGET and crash reproducers to
# build-fuzz/artifacts/TARGET/, both outside git: copy a reproducer into
# fuzz/corpus/TARGET/ once its fault is fixed, so the tests replay it.
set -euo pipefail
cd "$(dirname "$0")/.."

target="${1:-}"
seconds="${2:-600}"
case "$target" in
  text_analysis | scene_file | render | preview_request) ;;
  *)
    echo "usage: $0 text_analysis|scene_file|render|preview_request [SECONDS]" >&2
    exit 2
    ;;
esac

. ./scripts/ensure_setup.sh

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "fuzz_$target"

scratch="build-fuzz/corpus/$target"
artifacts="build-fuzz/artifacts/$target/"
mkdir -p "$scratch" "$artifacts"
options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1
  -artifact_prefix="$artifacts")
if [ -f "fuzz/$target.dict" ]; then options+=(-dict="fuzz/$target.dict"); fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0}"
exec nice -n 10 "build-fuzz/fuzz/fuzz_$target" "${options[@]}" "$scratch" "fuzz/corpus/$target"
