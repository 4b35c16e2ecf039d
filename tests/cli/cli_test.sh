#!/usr/bin/env bash
# Tests of the loadwing command line, one case per call: cli_test.sh CASE.
# Environment: LOADWING (the program), LOADWING_SIM (loadwing-sim), SOURCE_DIR, WORK_DIR.
# Every wait is bounded by `timeout`, so a hang fails the case instead of holding CI.
set -uo pipefail

: "${LOADWING:?}" "${SOURCE_DIR:?}" "${WORK_DIR:?}"
EXAMPLES="$SOURCE_DIR/examples"
HERE="$(cd "$(dirname "$0")" && pwd)"
case_name="$1"
work="$WORK_DIR/$case_name"
rm -rf "$work" && mkdir -p "$work"
cd "$work" || exit 1
# Each case keeps a flash record of its own, never the user's.
export XDG_STATE_HOME="$work/state"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# run EXPECTED_EXIT LIMIT_SECONDS ARGS...: runs loadwing, stdout in out.txt, stderr in err.txt.
run() {
  local expected=$1 limit=$2
  shift 2
  timeout -k 2 "$limit" "$LOADWING" "$@" >out.txt 2>err.txt
  local rc=$?
  if [ "$rc" -ne "$expected" ]; then
    fail "loadwing $* exited $rc, expected $expected"
    echo "--- stdout" >&2 && cat out.txt >&2
    echo "--- stderr" >&2 && cat err.txt >&2
  fi
}

# expect_line FILE TEXT: the file has a line exactly TEXT (leading blanks count).
expect_line() {
  grep -qxF -- "$2" "$1" || fail "$1 lacks the line '$2': $(cat "$1")"
}
expect_last_line() {
  [ "$(tail -n 1 "$1")" = "$2" ] || fail "last line of $1 is '$(tail -n 1 "$1")', not '$2'"
}
expect_text() {
  grep -qF -- "$2" "$1" || fail "$1 lacks '$2': $(cat "$1")"
}

# The image srec_cat makes of an example, the independent reference for decode.
reference_image() {
  case "$1" in
    *.mot) srec_cat "$EXAMPLES/$1" -motorola -offset -0x10000 -fill 0xFF 0 0x20000 \
             -o "$2" -binary ;;
    *.hex) srec_cat "$EXAMPLES/$1" -intel -fill 0xFF 0 0x10000 -o "$2" -binary ;;
  esac
}

image_size_of() {
  case "$1" in
    webc.mot) echo 131072 ;;
    main_controller.hex) echo 65536 ;;
    *) echo 32768 ;;
  esac
}

flash_example() {
  local file=$1 status=$2
  run 0 60 flash "$EXAMPLES/$file" --port sim
  expect_line err.txt "$status"
  expect_line err.txt " flash: query system..."
  expect_line err.txt " flash: start..."
  expect_line err.txt " flash: wait for success message..."
  expect_last_line out.txt " flash: completed"
}

# flash_failure EXIT STATUS_TEXT SIM_OPTIONS...: module 3 against a misbehaving machine, with its
# time limits passing 50 times faster.
flash_failure() {
  local expected=$1 status=$2
  shift 2
  run "$expected" 60 flash "$EXAMPLES/module3.mot" --port sim --sim-clock-scale 50 "$@"
  expect_last_line out.txt "$status"
}

case "$case_name" in
  version)
    run 0 10 --version
    expect_last_line out.txt "loadwing 1.12.0"
    for command in ports info decode flash; do
      run 0 10 "$command" --version
      expect_last_line out.txt "loadwing 1.12.0"
    done ;;
  help)
    run 0 10 --help
    for command in ports info decode flash; do expect_text out.txt "$command"; done
    run 0 10 flash --help
    expect_text out.txt "--port"
    expect_text out.txt "--sim-refuse-block"
    run 0 10 decode --help
    expect_text out.txt "--full" ;;
  usage_errors)
    run 1 10
    run 1 10 frobnicate
    expect_text err.txt "unknown command 'frobnicate'"
    run 1 10 info
    expect_text err.txt "FILE"
    run 1 10 flash "$EXAMPLES/module3.mot"
    expect_text err.txt "--port PORT, or --usb"
    run 1 10 flash "$EXAMPLES/module3.mot" --port sim --usb
    expect_text err.txt "excludes"
    run 1 10 flash "$EXAMPLES/module3.mot" --port /dev/null --sim-silent
    expect_text err.txt "only with --port sim"
    run 1 10 flash "$EXAMPLES/module3.mot" --port sim --sim-refuse-block many
    run 1 10 decode "$EXAMPLES/module3.mot"
    expect_text err.txt "--output" ;;
  info_examples)
    for file in module3.mot can_module.mot webc.mot main_controller.hex; do
      size=$(image_size_of "$file")
      run 0 10 info "$EXAMPLES/$file"
      expect_text out.txt "bytes sent:   $size"
      expect_text out.txt "blocks:       $((size / 256)) of 256 bytes"
      run 0 10 info --json "$EXAMPLES/$file"
      python3 "$HERE/check_json.py" info "$size" <out.txt || fail "info --json $file"
    done
    run 0 10 info "$EXAMPLES/module3.mot"
    expect_text out.txt '" firmware for module 3 loaded"'
    expect_text out.txt "request:      MO3"
    run 0 10 info "$EXAMPLES/can_module.mot"
    expect_text out.txt "request:      CAN"
    run 0 10 info "$EXAMPLES/webc.mot"
    expect_text out.txt "ready answer: 128OK1"
    run 0 10 info "$EXAMPLES/main_controller.hex"
    expect_text out.txt "request:      064"
    printf 'S00600004844521B\r\nS804010000FA\r\n' >no_marker.mot
    run 2 10 info no_marker.mot
    expect_text out.txt '" load firmware: invalid firmware file"' ;;
  info_check_byte)
    # The check byte info reports must be the remainder of the sent bytes divided by 0x19B,
    # computed here from srec_cat's image.
    for file in module3.mot can_module.mot webc.mot main_controller.hex; do
      reference_image "$file" ref.bin || fail "srec_cat $file"
      run 0 10 info --json "$EXAMPLES/$file"
      python3 "$HERE/check_json.py" check-byte ref.bin "$(image_size_of "$file")" <out.txt ||
        fail "check byte of $file"
    done ;;
  decode_examples)
    for file in module3.mot can_module.mot webc.mot main_controller.hex; do
      reference_image "$file" ref.bin || fail "srec_cat $file"
      run 0 10 decode "$EXAMPLES/$file" --full -o full.bin
      size=$(image_size_of "$file")
      case "$file" in
        *.mot) cmp full.bin ref.bin || fail "decode --full $file differs from srec_cat" ;;
        *.hex) cmp -n 65536 full.bin ref.bin || fail "decode --full $file differs from srec_cat"
               [ "$(stat -c %s full.bin)" -eq 131072 ] || fail "--full is not 131072 bytes" ;;
      esac
      run 0 10 decode "$EXAMPLES/$file" -o sent.bin
      [ "$(stat -c %s sent.bin)" -eq "$size" ] || fail "decode $file wrote $(stat -c %s sent.bin)"
      cmp -n "$size" sent.bin ref.bin || fail "decode $file differs from srec_cat"
      [ ! -e sent.bin.part ] || fail "decode left sent.bin.part"
    done ;;
  decode_refuses_bad_file)
    printf 'S00600004844521B\r\nS9030000FC\r\n' >bad.mot
    run 2 10 decode bad.mot -o out.bin
    expect_line out.txt " load firmware: can't open file, error 5"
    [ ! -e out.bin ] || fail "decode wrote out.bin for a bad file"
    run 2 10 decode "$work/missing.hex" -o out.bin
    expect_line out.txt " load firmware: can't open file, error 1"
    run 11 10 decode "$EXAMPLES/module3.mot" -o "$work/no/such/dir/out.bin"
    expect_text err.txt "cannot" ;;
  hex_address_warning)
    printf ':020000040001F9\r\n:01001000559A\r\n:00000001FF\r\n' >extended.hex
    run 0 10 info extended.hex
    expect_text err.txt "warning"
    expect_text err.txt "types 02-05"
    run 0 10 decode extended.hex -o out.bin
    expect_text err.txt "types 02-05"
    run 0 10 info "$EXAMPLES/main_controller.hex"
    [ ! -s err.txt ] || fail "a plain Intel HEX file got a warning: $(cat err.txt)" ;;
  flash_module) flash_example module3.mot " firmware for module 3 loaded" ;;
  flash_can) flash_example can_module.mot " firmware CAN module loaded" ;;
  flash_webc) flash_example webc.mot " firmware for WebC loaded" ;;
  flash_main) flash_example main_controller.hex " firmware for Fanfolder/Crossfolder loaded" ;;
  flash_no_answer) flash_failure 4 " flash: no answer" --sim-silent ;;
  flash_unexpected) flash_failure 5 " flash: unexpected answer MO7OK1" --sim-unexpected MO7OK1 ;;
  flash_erase_error) flash_failure 6 " flash: erase error 0AX" --sim-erase-error ;;
  flash_refused_block)
    flash_failure 7 " flash: error while flashing" --sim-refuse-block 40
    expect_text err.txt "progress 32/128" ;;
  flash_silent_block) flash_failure 7 " flash: no answer while flashing" --sim-silent-block 3 ;;
  flash_check_failed) flash_failure 8 " flash: crc error, DATA INVALID" --sim-verdict CSFAIL ;;
  flash_other_verdict)
    flash_failure 9 " flash: no success, returncode: FAILED" --sim-verdict FAILED ;;
  flash_no_verdict) flash_failure 9 " flash: no answer after flashing" --sim-silent-verdict ;;
  flash_bad_file)
    printf ':0100000041BE\r\n' >truncated.hex
    run 2 10 flash truncated.hex --port sim
    expect_last_line out.txt " load firmware: unexpected end of file" ;;
  flash_no_link)
    run 3 10 flash "$EXAMPLES/module3.mot" --port /dev/loadwing-no-such-port
    expect_last_line out.txt " COM: invalid handle"
    expect_text err.txt "/dev/loadwing-no-such-port" ;;
  flash_json)
    run 0 60 flash "$EXAMPLES/module3.mot" --port sim --json
    [ ! -s err.txt ] || fail "--json wrote to stderr: $(cat err.txt)"
    python3 "$HERE/check_json.py" flash-events <out.txt || fail "--json events"
    run 6 60 flash "$EXAMPLES/module3.mot" --port sim --json --sim-erase-error
    expect_text out.txt '"outcome":"erase-error","exit":6' ;;
  flash_paced)
    # At 115200 baud the 33 KiB of module 3 take at least 2.8 s on the line.
    start=$(date +%s%N)
    run 0 60 flash "$EXAMPLES/module3.mot" --port sim --sim-baud 115200
    elapsed_ms=$((($(date +%s%N) - start) / 1000000))
    [ "$elapsed_ms" -ge 2800 ] || fail "paced transfer took only $elapsed_ms ms"
    expect_last_line out.txt " flash: completed" ;;
  fingerprints)
    # The file's SHA-256 and the sent bytes' against sha256sum of the file and of decode's output.
    run 0 10 decode "$EXAMPLES/main_controller.hex" -o sent.bin
    run 0 10 info --json "$EXAMPLES/main_controller.hex"
    expect_text out.txt "\"fileSha256\":\"$(sha256sum <"$EXAMPLES/main_controller.hex" | cut -c1-64)\""
    expect_text out.txt "\"sentSha256\":\"$(sha256sum <sent.bin | cut -c1-64)\""
    expect_text out.txt '"bytesBeyond":0'
    wrong=$(printf '%064d' 0)
    run 2 10 flash "$EXAMPLES/module3.mot" --port sim --expect-sha256 "$wrong"
    expect_text err.txt "not the expected $wrong; nothing sent"
    [ ! -e "$XDG_STATE_HOME/loadwing/flash-record.jsonl" ] || fail "a refused file was recorded"
    right=$(sha256sum <"$EXAMPLES/module3.mot" | cut -c1-64 | tr a-f A-F)
    run 0 60 flash "$EXAMPLES/module3.mot" --port sim --expect-sha256 "$right"
    run 1 10 flash "$EXAMPLES/module3.mot" --port sim --expect-sha256 12ab ;;
  bytes_beyond)
    # Module 3 with one more S2 record 0x9000 past its start: beyond the 32768 bytes sent.
    python3 - "$EXAMPLES/module3.mot" >beyond.mot <<'PY'
import sys
lines = open(sys.argv[1]).read().splitlines()
first = next(l for l in lines if l.startswith("S2"))
addr = int(first[4:10], 16) + 0x9000
body = bytes([7, addr >> 16, (addr >> 8) & 255, addr & 255, 1, 2, 3])
extra = "S2" + body.hex().upper() + "%02X" % (255 - sum(body) % 256)
end = next(i for i, l in enumerate(lines) if l.startswith("S8"))
print("\n".join(lines[:end] + [extra] + lines[end:]))
PY
    run 0 10 info --json beyond.mot
    expect_text out.txt '"bytesBeyond":3'
    expect_text err.txt "3 data byte(s) beyond the first 32768 bytes"
    run 2 10 info --strict beyond.mot
    run 2 10 flash beyond.mot --port sim --strict
    expect_text err.txt "--strict" ;;
  record)
    run 0 60 flash "$EXAMPLES/module3.mot" --port sim
    run 9 60 flash "$EXAMPLES/can_module.mot" --port sim --sim-clock-scale 50 --sim-verdict NOPE
    printf '{"time":"2026-' >>"$XDG_STATE_HOME/loadwing/flash-record.jsonl"  # cut by a power loss
    run 0 10 record --json
    expect_text err.txt "line 3"
    python3 - out.txt "$(sha256sum <"$EXAMPLES/module3.mot" | cut -c1-64)" <<'PY' || fail "record --json"
import json, sys
r = json.load(open(sys.argv[1]))
a, b = r["entries"]
assert r["skipped"] == 1
assert (a["target"], a["outcome"], a["blocksAcknowledged"], a["fileSha256"]) == ("Module3", "completed", 128, sys.argv[2]), a
assert (b["target"], b["outcome"], b["verdict"], b["status"]) == ("CanModule", "no-success", "NOPE", " flash: no success, returncode: NOPE"), b
assert a["link"].startswith("sim /dev/") and a["seconds"]["blocks"] > 0, a
PY
    run 0 10 record --last 1
    [ "$(wc -l <out.txt)" -eq 2 ] || fail "record --last 1: $(cat out.txt)"
    expect_text out.txt "CanModule"
    # A record that cannot be written: said on stderr, the transfer is not touched.
    touch blocker
    XDG_STATE_HOME="$PWD/blocker" run 0 60 flash "$EXAMPLES/module3.mot" --port sim
    expect_text err.txt "the flash record was not written"
    expect_last_line out.txt " flash: completed" ;;
  update_set)
    mkdir set && cp "$EXAMPLES"/*.mot "$EXAMPLES"/*.hex set/
    run 0 120 update set --port sim --json
    python3 - out.txt <<'PY' || fail "update --json"
import json, sys
events = [json.loads(l) for l in open(sys.argv[1])]
order = [e["controller"] for e in events if e["event"] == "transfer"]
assert order == ["Module3", "CanModule", "WebC", "FanfolderCrossfolder"], order
summary = events[-1]
assert summary["event"] == "summary" and summary["exit"] == 0, summary
assert [t["outcome"] for t in summary["transfers"]] == ["completed"] * 4, summary
PY
    [ "$(wc -l <"$XDG_STATE_HOME/loadwing/flash-record.jsonl")" -eq 4 ] || fail "4 records expected"
    # Block 300 exists only in the WebC image: the set stops there, or goes on past it.
    run 7 120 update set --port sim --sim-refuse-block 300
    expect_text out.txt "error-while-flashing"
    expect_text out.txt "not sent"
    run 7 120 update set --port sim --sim-refuse-block 300 --keep-going
    [ "$(grep -c ' completed ' out.txt)" -eq 3 ] || fail "--keep-going: $(cat out.txt)"
    # A set file: a bad file, a duplicate controller, a wrong fingerprint, a wrong controller.
    printf ':0100000041BE\r\n' >set/truncated.hex
    cat >set.toml <<TOML
[[firmware]]
file = "set/module3.mot"
controller = "module 4"
[[firmware]]
file = "set/webc.mot"
sha256 = "$(printf '%064d' 0)"
[[firmware]]
file = "set/truncated.hex"
[[firmware]]
file = "$EXAMPLES/module3.mot"
TOML
    rm -f "$XDG_STATE_HOME/loadwing/flash-record.jsonl"
    run 2 20 update set.toml --port sim
    expect_text err.txt "not for the module 4"
    expect_text err.txt "not the expected"
    expect_text err.txt "truncated.hex: did not load: load firmware: unexpected end of file"
    expect_text err.txt "are both for the module 3"
    [ ! -e "$XDG_STATE_HOME/loadwing/flash-record.jsonl" ] || fail "a refused set sent something"
    run 1 10 update set.toml ;;
  external_simulator)
    # loadwing-sim as a separate machine on its own pty: it checks every block and the check
    # byte itself. Then an interrupted transfer must leave the port free for the next one.
    : "${LOADWING_SIM:?}"
    timeout -k 2 60 "$LOADWING_SIM" --baud 115200 >sim.txt 2>sim_err.txt &
    sim_pid=$!
    device=""
    for _ in $(seq 100); do
      device=$(sed -n 's/^device: //p' sim.txt)
      [ -n "$device" ] && break
      sleep 0.05
    done
    [ -n "$device" ] || fail "loadwing-sim printed no device"
    run 0 30 flash "$EXAMPLES/module3.mot" --port "$device"
    for _ in $(seq 40); do grep -q "^transfer 1" sim.txt && break; sleep 0.05; done
    expect_text sim.txt "blocks 128/128"
    expect_text sim.txt "matched"
    expect_text sim.txt "verdict SUCCES"
    # Interrupted half way: exit 130 with a message, and the port is not left locked.
    timeout -k 2 30 "$LOADWING" flash "$EXAMPLES/webc.mot" --port "$device" >int_out.txt \
      2>int_err.txt &
    flash_pid=$!
    sleep 2
    kill -INT "$flash_pid"
    wait "$flash_pid"
    rc=$?
    [ "$rc" -eq 130 ] || fail "interrupted flash exited $rc, expected 130: $(cat int_err.txt)"
    expect_text int_err.txt "interrupted"
    # The machine drops the half-done transfer after 5 s of silence; then it is flashed again
    # through the same port, which must open.
    sleep 5.5
    run 0 30 flash "$EXAMPLES/can_module.mot" --port "$device"
    expect_line err.txt " $device connected"
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2 ;;
esac

[ "$failures" -eq 0 ] || exit 1
echo "ok: $case_name"
