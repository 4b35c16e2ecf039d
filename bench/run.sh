#!/usr/bin/env bash
# Benchmarks, run by hand (not part of the test suite); prints tables.
#   1. Decoding: a 401,408-byte S-record file and a 10 MB Intel HEX file, `loadwing decode`
#      against `srec_cat` writing the same file as binary; median of REPS runs each.
#   2. Flashing each target size into the simulated machine paced at 38400 baud over a real
#      pseudo-terminal: through the command line (loadwing-sim on a pty, `loadwing flash --port`),
#      wall time against the line's own time and the loader's CPU time; and block by block with
#      bench/flash_bench (the same code in one process), the host's overhead per block.
#   3. The Linux cable layer (libftdi) over the tests' stand-in chip, in simulated time: each
#      block against its line time plus one 16 ms latency period, by bench/cable_bench.
#   4. What --trace costs a transfer, against its line time, by bench/trace_bench.
#   5. Only with WINDOWS_BUILD_DIR (a windows build; needs an X display in DISPLAY): the same
#      flashing through loadwing.exe's dialog under Wine, by bench/wine_dialog_bench.py. It
#      restarts that tree's wineserver: not while its tests run.
# Usage: bench/run.sh [BUILD_DIR] [REPS] [WINDOWS_BUILD_DIR]
#        (BUILD_DIR: a native build, default build/native)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build/native}" && pwd)
reps=${2:-7}
windows_build=${3:-}
if [[ -n $windows_build ]]; then
  windows_build=$(cd "$windows_build" && pwd)
  [[ -n ${DISPLAY:-} ]] || { echo "run.sh: the dialog benchmark needs DISPLAY (e.g. Xvfb)" >&2; exit 1; }
fi
loadwing=$build/src/cli/loadwing
sim=$build/src/cli/loadwing-sim
flash_bench=$build/bench/flash_bench
cable_bench=$build/bench/cable_bench
for tool in "$loadwing" "$sim" "$flash_bench" "$cable_bench"; do
  [[ -x $tool ]] || { echo "run.sh: $tool is missing; build the native preset first" >&2; exit 1; }
done
for tool in srec_cat python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing (tools/install_deps.sh)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "machine: $(nproc) CPUs, $(lscpu | sed -n 's/^Model name: *//p'), kernel $(uname -r)"
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo

# --- Test files.
python3 - "$work" "$here/tools" <<'EOF'
import random, sys
work = sys.argv[1]
sys.path.insert(0, sys.argv[2])
from make_examples import s_record
rng = random.Random(20240521)

def srec(kind, address, data, address_bytes):
    return s_record(kind, address.to_bytes(address_bytes, "big"), bytes(data)) + "\r\n"

# S-records: a 128 KiB image from 0x10000 on, in records of 13 and 14 bytes, mixed so that with
# one header record the file is exactly 401,408 bytes.
target = 401408
image = bytearray(rng.getrandbits(8) for _ in range(0x20000))
image[0:4] = b"WebC"
end = srec("8", 0x10000, b"", 3)
for fourteens in range(len(image) // 14 + 1):
    if (len(image) - 14 * fourteens) % 13:
        continue
    thirteens = (len(image) - 14 * fourteens) // 13
    rest = target - (40 * thirteens + 42 * fourteens + len(end) + len(srec("0", 0, b"", 2)))
    if 0 <= rest <= 500 and rest % 2 == 0:
        break
else:
    sys.exit("no mix of record sizes fits")
sizes = [14] * fourteens + [13] * thirteens
rng.shuffle(sizes)
records, at = [srec("0", 0, b"h" * (rest // 2), 2)], 0
for n in sizes:
    records.append(srec("2", 0x10000 + at, image[at:at + n], 3))
    at += n
text = "".join(records) + end
assert len(text) == target, len(text)
with open(work + "/big.mot", "w", newline="") as f:
    f.write(text)

# Intel HEX: 10 MB of 32-byte data records walking the 64 KiB address space over and over.
out, size, address = [], 0, 0
while size < 10_000_000:
    data = bytes(rng.getrandbits(8) for _ in range(32))
    body = bytes([32, address >> 8, address & 0xFF, 0]) + data
    line = ":%s%02X\r\n" % (body.hex().upper(), (-sum(body)) & 0xFF)
    out.append(line)
    size += len(line)
    address = (address + 32) & 0xFFFF
out.append(":00000001FF\r\n")
with open(work + "/big.hex", "w", newline="") as f:
    f.write("".join(out))
EOF
mot_size=$(stat -c %s "$work/big.mot")
hex_size=$(stat -c %s "$work/big.hex")

# Median wall time of a command, in milliseconds, over $reps runs. Timed with bash's own clock
# variable: a `date` process on either side would add its start-up to both programs' times.
median_ms() {
  local times=() start end
  for ((i = 0; i < reps; i++)); do
    start=${EPOCHREALTIME/[.,]/}
    "$@" >/dev/null 2>&1 || { echo "run.sh: failed: $*" >&2; exit 1; }
    end=${EPOCHREALTIME/[.,]/}
    times+=($((end - start)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]/1000}'
}

echo "Decoding (median of $reps runs; srec_cat writes the same file as binary)"
printf '%-34s %12s %12s %14s %8s\n' "file" "bytes" "loadwing ms" "srec_cat ms" "ratio"
row() {
  local name=$1 size=$2 ours=$3 theirs=$4
  printf '%-34s %12s %12s %14s %7.1fx\n' "$name" "$size" "$ours" "$theirs" \
    "$(awk -v a="$ours" -v b="$theirs" 'BEGIN {print b / a}')"
}
ours=$(median_ms "$loadwing" decode "$work/big.mot" -o "$work/ours.bin" --full)
theirs=$(median_ms srec_cat "$work/big.mot" -motorola -offset -0x10000 -o "$work/theirs.bin" -binary)
row "S-records (.mot, 128 KiB image)" "$mot_size" "$ours" "$theirs"
cmp -s "$work/ours.bin" "$work/theirs.bin" || echo "  note: the two images differ"
ours=$(median_ms "$loadwing" decode "$work/big.hex" -o "$work/ours.bin")
theirs=$(median_ms srec_cat -multiple "$work/big.hex" -intel -o "$work/theirs.bin" -binary)
row "Intel HEX (.hex, overlapping)" "$hex_size" "$ours" "$theirs"
echo

echo "Flashing at 38400 baud into loadwing-sim on a pty, through the command line"
printf '%-8s %7s %10s %10s %10s %10s %8s\n' "target" "blocks" "wall s" "line s" "extra s" \
  "CPU s" "CPU %"
flash_cli() {
  local name=$1 file=$2 blocks=$3
  "$sim" --baud 38400 --transfers 1 >"$work/sim.out" 2>&1 &
  local sim_pid=$!
  local device=""
  for _ in $(seq 100); do
    device=$(sed -n 's/^device: //p' "$work/sim.out")
    [[ -n $device ]] && break
    sleep 0.05
  done
  [[ -n $device ]] || { echo "run.sh: loadwing-sim gave no device" >&2; kill "$sim_pid"; exit 1; }
  /usr/bin/time -f '%e %U %S' -o "$work/time.out" \
    "$loadwing" flash "$file" --port "$device" --json >"$work/flash.json"
  wait "$sim_pid" || true
  grep -q '"outcome":"completed"' "$work/flash.json" || { echo "run.sh: $name did not complete" >&2; exit 1; }
  read -r wall user sys <"$work/time.out"
  # The line's own time: request and ready answer, each frame and its acknowledgement, the
  # check byte and the verdict, 10 bits a byte, plus one drain read limit (15 ms) per exchange.
  awk -v n="$name" -v b="$blocks" -v w="$wall" -v u="$user" -v s="$sys" 'BEGIN {
    line = ((3 + 6) + b * (257 + 1) + (1 + 6)) * 10 / 38400 + (b + 2) * 0.015
    printf "%-8s %7d %10.2f %10.2f %10.2f %10.2f %7.2f%%\n", n, b, w, line, w - line, u + s,
           100 * (u + s) / w }'
}
flash_cli module "$here/examples/module3.mot" 128
flash_cli main "$here/examples/main_controller.hex" 256
flash_cli webc "$here/examples/webc.mot" 512
echo

echo "Flashing at 38400 baud, block by block (bench/flash_bench: the transfer and the simulator"
echo "in one process; a block's time beyond its line time (frame + acknowledgement + 15 ms"
echo "drain limit), and its time outside the waits of the reads: the host's own work)"
printf '%-8s %7s %10s %12s %12s %12s %12s %8s\n' "target" "blocks" "wall s" "beyond med" \
  "beyond max" "host med ms" "host max ms" "CPU %"
for target in module main webc; do
  line=$("$flash_bench" "$target" 38400)
  eval "$(tr ' ' '\n' <<<"$line" | sed 's/^/r_/')"
  # shellcheck disable=SC2154
  printf '%-8s %7s %10.2f %12s %12s %12s %12s %7s%%\n' "$r_target" "$r_blocks" \
    "$(awk -v w="$r_wall_ms" 'BEGIN {print w / 1000}')" "$r_beyond_line_median_ms" \
    "$r_beyond_line_max_ms" "$r_host_median_ms" "$r_host_max_ms" "$r_cpu_pct"
done

echo
echo "The USB cable through libftdi, over the stand-in FT232R (62 data bytes a packet, 16 ms"
echo "latency timer) at 38400 baud, in simulated time (bench/cable_bench): a block's time"
echo "against its line time (257-byte frame + acknowledgement) and the goal (line + 16 ms + 1 ms)"
printf '%-8s %7s %10s %10s %10s %10s %10s\n' "target" "blocks" "USB reads" "median ms" \
  "max ms" "line ms" "goal ms"
for target in module main webc; do
  line=$("$cable_bench" "$target")
  eval "$(tr ' ' '\n' <<<"$line" | sed 's/^/c_/')"
  # shellcheck disable=SC2154
  printf '%-8s %7s %10s %10s %10s %10s %10s\n' "$c_target" "$c_blocks" "$c_usb_reads" \
    "$c_block_ms_median" "$c_block_ms_max" "$c_line_ms" "$c_goal_ms"
done

echo
echo "What --trace costs a WebC transfer (bench/trace_bench, host time over simulated links):"
"$build/bench/trace_bench" "$reps"

if [[ -n $windows_build ]]; then
  echo
  python3 "$here/bench/wine_dialog_bench.py" --native "$build" --windows "$windows_build"
else
  echo
  echo "(The dialog under Wine: bench/run.sh BUILD_DIR REPS WINDOWS_BUILD_DIR, or"
  echo " bench/wine_dialog_bench.py --native BUILD_DIR --windows WINDOWS_BUILD_DIR)"
fi
