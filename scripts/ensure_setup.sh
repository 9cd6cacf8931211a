# Sourced by the scripts: installs the build's dependencies, as root directly
# or through sudo.
if [ "$(id -u)" -eq 0 ]; then
  ./scripts/setup.sh
elif command -v sudo >/dev/null 2>&1; then
  sudo ./scripts/setup.sh
else
  ./scripts/setup.sh
fi
