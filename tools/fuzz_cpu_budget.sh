#!/usr/bin/env bash
# Runs one libFuzzer harness until it has used a given amount of CPU time (not wall time), then
# interrupts it so libFuzzer prints its final statistics. On a shared machine a wall-clock limit
# says little about how much fuzzing was actually done.
#
#   tools/fuzz_cpu_budget.sh CPU_SECONDS HARNESS [libFuzzer arguments...]
#
# Prints "cpu_seconds=N wall_seconds=M" on stderr at the end; the exit status is the harness's
# (72 for a SIGINT-ended run is libFuzzer's "interrupted" code and counts as success here).
# To stop a run early, send SIGTERM to this script (a background job of a script ignores SIGINT)
# or SIGINT to the harness itself; either way libFuzzer prints its statistics.
set -u
if [[ $# -lt 2 ]]; then
  echo "usage: $0 CPU_SECONDS HARNESS [libFuzzer arguments...]" >&2
  exit 2
fi
budget=$1
shift
ticks_per_second=$(getconf CLK_TCK)
start=$(date +%s)
"$@" &
pid=$!
cpu=0
trap 'kill -INT "$pid" 2>/dev/null' INT TERM
while kill -0 "$pid" 2>/dev/null; do
  # Fields 14 and 15 of /proc/PID/stat are user and system time in clock ticks; the command name
  # (field 2) may hold blanks, so count from after its closing parenthesis.
  if stat=$(cat "/proc/$pid/stat" 2>/dev/null); then
    read -r -a rest <<<"${stat##*) }"
    cpu=$(((rest[11] + rest[12]) / ticks_per_second))
    if ((cpu >= budget)); then
      kill -INT "$pid" 2>/dev/null
      break
    fi
  fi
  sleep 5
done
wait "$pid"
status=$?
echo "cpu_seconds=$cpu wall_seconds=$(($(date +%s) - start))" >&2
if ((status == 72 || status == 130)); then
  status=0
fi
exit "$status"
