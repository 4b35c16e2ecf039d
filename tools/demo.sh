#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: install what the command line's build needs (no
# test tools: tools/test.sh installs those), build the command line and the simulator (what the
# demo and the next steps of docs/cli.md run: the demo preset, -O2 without debug information, no
# tests) and flash the module 3 example into the built-in simulated machine at the machine's
# 38400 baud, showing each status line and the progress. Exits with the flash's exit code
# (0: completed).
# LOADWING_BUILD_DIR chooses another build tree (default: build/demo of the demo preset).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install_deps.sh build

build="${LOADWING_BUILD_DIR:-build/demo}"
cmake --preset demo -B "$build"
cmake --build "$build" -j2 --target loadwing loadwing-sim
echo "built: $build/src/cli/loadwing and $build/src/cli/loadwing-sim"

echo
echo "=== flashing examples/module3.mot into the simulated machine (38400 baud) ==="
set +e
"$build/src/cli/loadwing" flash examples/module3.mot --port sim --sim-baud 38400
status=$?
set -e
echo "=== loadwing exited with $status ==="
exit "$status"
