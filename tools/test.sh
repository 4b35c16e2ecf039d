#!/usr/bin/env bash
# The test command: installs what is missing, builds every preset and runs every test —
# native, under Wine (with a virtual X display for the dialog), and under the sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/install_deps.sh test

xvfb_pid=""
cleanup() {
  if [ -d "$root/build/windows/wineprefix" ]; then
    WINEPREFIX="$root/build/windows/wineprefix" wineserver -k >/dev/null 2>&1 || true
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  display=":$((90 + RANDOM % 400))"
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY="$display"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
fi

presets=(native windows sanitize)
[ $# -gt 0 ] && presets=("$@")
for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  cmake --workflow --preset "$preset"
done
