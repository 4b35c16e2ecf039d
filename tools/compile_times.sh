#!/usr/bin/env bash
# Prints the slowest compiles of a build tree.
#
# usage: tools/compile_times.sh [--cpu] [--count N] [--filter REGEX] [BUILD_DIR]
#   (default)     wall time of each output from the tree's .ninja_log: run it after a clean
#                 build without ccache, or the log shows cache hits; under load the wall times
#                 are mostly waiting for a CPU
#   --cpu         compiles every file of compile_commands.json again (ccache off, objects into a
#                 scratch folder, 2 at a time) and prints the CPU time (user+sys) of each, which
#                 other work on the machine hardly changes; the last line is the sum
#   --count N     how many files to print (default 10; 0: all)
#   --filter RE   --cpu only: just the files whose path matches RE (grep -E)
#   BUILD_DIR     default build/native
set -euo pipefail
cpu=0
count=10
filter=
while [ $# -gt 0 ]; do
  case $1 in
    --cpu) cpu=1; shift ;;
    --count) count=$2; shift 2 ;;
    --filter) filter=$2; shift 2 ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "compile_times: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -le 1 ] || { echo "compile_times: one build folder at most" >&2; exit 2; }
build=${1:-build/native}
[ -d "$build" ] || { echo "compile_times: no folder $build" >&2; exit 1; }
[[ $count =~ ^[0-9]+$ ]] || { echo "compile_times: --count takes a number" >&2; exit 2; }
top() { if [ "$count" -eq 0 ]; then cat; else head -n "$count"; fi; }

if [ $cpu = 0 ]; then
  log=$build/.ninja_log
  [ -f "$log" ] || { echo "compile_times: no $log (a Ninja build tree?)" >&2; exit 1; }
  # One line per output, the last build's; only compiles (objects and precompiled headers).
  awk -F'\t' '!/^#/ && NF >= 4 { t[$4] = $2 - $1 }
    END { for (o in t) if (o ~ /\.(o|obj|gch|pch)$/) printf "%8.1f s  %s\n", t[o] / 1000, o }' \
    "$log" | sort -rn | top
  exit 0
fi

db=$build/compile_commands.json
[ -f "$db" ] || { echo "compile_times: no $db (configure with CMAKE_EXPORT_COMPILE_COMMANDS)" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# One shell line per compile: its folder, the command with its object sent to the scratch
# folder, and the file's name, NUL-separated.
python3 - "$db" "$scratch" "$filter" >"$scratch/jobs" <<'PY'
import json, re, shlex, sys
db, scratch, pattern = sys.argv[1:4]
for i, entry in enumerate(json.load(open(db))):
    if pattern and not re.search(pattern, entry["file"]):
        continue
    args = entry.get("arguments") or shlex.split(entry["command"])
    if "-o" in args:
        args[args.index("-o") + 1] = f"{scratch}/{i}.o"
    # Dependency files would land beside the real objects.
    out, skip = [], False
    for a in args:
        if skip:
            skip = False
            continue
        if a in ("-MD", "-MMD"):
            continue
        if a in ("-MF", "-MT", "-MQ"):
            skip = True
            continue
        out.append(a)
    line = "cd " + shlex.quote(entry["directory"]) + " && " + shlex.join(out)
    sys.stdout.write(line + "\0" + entry["file"] + "\0")
PY
export CCACHE_DISABLE=1
# xargs takes pairs (command, file); each compile reports "user+sys file".
# A compile that fails is reported, not counted.
xargs -0 -n 2 -P 2 sh -c '
  t=$(mktemp)
  if /usr/bin/time -f "%U %S" -o "$t" sh -c "$0" >/dev/null 2>&1; then
    echo "$(cat "$t") $1"
  else
    echo "compile_times: the compile of $1 failed" >&2
  fi
  rm -f "$t"' <"$scratch/jobs" >"$scratch/times"
awk -v root="$(cd "$(dirname "$0")/.." && pwd)/" '{ f = $3; sub("^" root, "", f);
  printf "%8.2f s  %s\n", $1 + $2, f; sum += $1 + $2 }
  END { printf "%8.2f s  total of %d files (CPU, user+sys)\n", sum, NR > "/dev/stderr" }' \
  "$scratch/times" | sort -rn | top
