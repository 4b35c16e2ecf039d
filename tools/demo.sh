#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: install what the command line's build needs (no
# test tools: tools/test.sh installs those), build the command line and
# flash the module 3 example into the built-in simulated machine at the machine's 38400 baud,
# showing each status line and the progress. Exits with the flash's exit code (0: completed).
# LOADWING_BUILD_DIR chooses another build tree (default: build/native of the native preset).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install_deps.sh build

build="${LOADWING_BUILD_DIR:-build/native}"
# Without the tests: they need packages the demo does not install (tools/test.sh turns them on).
cmake --preset native -B "$build" -DLOADWING_TESTS=OFF
cmake --build "$build" -j2 --target loadwing

echo
echo "=== flashing examples/module3.mot into the simulated machine (38400 baud) ==="
set +e
"$build/src/cli/loadwing" flash examples/module3.mot --port sim --sim-baud 38400
status=$?
set -e
echo "=== loadwing exited with $status ==="
exit "$status"
