#!/usr/bin/env bash
# Installs what the build needs, builds the vantrel command and the module,
# and renders the first example at half resolution into out/preview, with its
# contact sheet at out/preview/contact.png.
# VANTREL_BUILD_DIR picks the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."

. ./scripts/ensure_setup.sh

build="${VANTREL_BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target vantrel vantrel_module

"$build/cli/vantrel" render examples/01-title-slide.json --resolution half --out out/preview
echo "contact sheet: out/preview/contact.png"
echo "to change its controls live in the browser: $build/cli/vantrel preview examples/01-title-slide.json"
