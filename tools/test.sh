#!/usr/bin/env bash
# The test command: installs what is missing, builds every preset and runs every test —
# native, under Wine (64- and 32-bit, with a virtual X display for the dialog), and under the
# sanitizers — then checks that the release builds are reproducible (tools/release.sh --check).
# Names given as arguments run those steps only: native windows windows32 sanitize release.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/install_deps.sh test

xvfb_pid=""
cleanup() {
  for tree in windows windows32; do
    if [ -d "$root/build/$tree/wineprefix" ]; then
      WINEPREFIX="$root/build/$tree/wineprefix" wineserver -k >/dev/null 2>&1 || true
    fi
  done
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

steps=(native windows windows32 sanitize release)
[ $# -gt 0 ] && steps=("$@")
for step in "${steps[@]}"; do
  echo "=== $step ==="
  if [ "$step" = release ]; then
    bash tools/release.sh --check --dist build/release-dist
  else
    cmake --workflow --preset "$step"
  fi
done
