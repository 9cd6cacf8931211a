#!/usr/bin/env bash
# Installs everything the project needs on a fresh Debian machine (as root).
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config clang-format
  libfreetype-dev libharfbuzz-dev libpixman-1-dev libpng-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev fonts-dejavu-core
  # Fonts by family through fontconfig, bidirectional and complex-script
  # layout through libraqm, the command line through CLI11; the fonts cover
  # the scripts the tests and examples use.
  libfontconfig-dev libraqm-dev libcli11-dev
  fonts-noto-core fonts-wqy-microhei fonts-freefont-ttf
  # `vantrel preview` serves its page with cpp-httplib; its browser test drives
  # headless Chromium through Selenium.
  libcpp-httplib-dev chromium chromium-driver python3-selenium
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64
  ffmpeg
  # The sanitizer preset uses gcc's runtimes (with g++); the fuzz preset needs
  # clang with libFuzzer and its sanitizer runtimes, and llvm-symbolizer for
  # readable stacks.
  clang-14 libclang-rt-14-dev llvm-14
)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
