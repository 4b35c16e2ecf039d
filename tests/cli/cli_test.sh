#!/usr/bin/env bash
# Tests of the loadwing command line, one case per call: cli_test.sh CASE.
# Environment: LOADWING (the program), LOADWING_SIM (loadwing-sim), LOADWING_VERSION, SOURCE_DIR,
# WORK_DIR.
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
# A folder an unprivileged user can reach wherever the checkout lies (/root is closed to it): a
# copy of the program and of the files it must read. Removed when the case ends.
nobody=""
nobody_copy() {
  nobody=$(mktemp -d /tmp/loadwing-nobody.XXXXXX) || { fail "no folder for nobody"; return; }
  trap 'rm -rf "$nobody"' EXIT
  cp "$LOADWING" "$nobody/loadwing" && cp "$@" "$nobody/" && chmod -R a+rX "$nobody" ||
    fail "cannot prepare $nobody"
}

# start_sim ARGS...: loadwing-sim on a pty of its own (at most 60 s); sets sim_pid and device.
start_sim() {
  timeout -k 2 60 "$LOADWING_SIM" "$@" >sim.txt 2>sim_err.txt &
  sim_pid=$!
  device=""
  for _ in $(seq 100); do
    device=$(sed -n 's/^device: //p' sim.txt)
    [ -n "$device" ] && break
    sleep 0.05
  done
}

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
    expect_last_line out.txt "loadwing ${LOADWING_VERSION:?}"
    for command in ports info decode flash update record; do
      run 0 10 "$command" --version
      expect_last_line out.txt "loadwing ${LOADWING_VERSION:?}"
    done ;;
  help)
    run 0 10 --help
    for command in ports info decode flash update record; do expect_text out.txt "$command"; done
    # Every command's help three ways, and the same text each way.
    for command in ports info decode flash update record; do
      run 0 10 help "$command"
      expect_text out.txt "Usage: loadwing $command "
      mv out.txt help.txt
      run 0 10 "$command" --help
      cmp -s out.txt help.txt || fail "help $command differs from $command --help"
    done
    run 0 10 help update
    for key in file sha256 controller machine '[[firmware]]' 'main controller' 'CAN module'; do
      expect_text out.txt "$key"
    done
    run 0 10 --help-all
    for command in ports info decode flash update record; do
      expect_line out.txt "loadwing $command:"
    done
    run 0 10 flash --help
    expect_text out.txt "--port"
    expect_text out.txt "--sim-refuse-block"
    run 0 10 decode --help
    expect_text out.txt "--full" ;;
  usage_errors)
    run 1 10
    run 1 10 frobnicate
    expect_text err.txt "loadwing: unknown command 'frobnicate'"
    run 1 10 help frobnicate
    expect_text err.txt "loadwing: unknown command 'frobnicate'"
    # Every usage error is one line with the prefix, then where the help is; values in words.
    for args in "record --last 0" "decode x -o ''" "flash x --port sim --sim-clock-scale 0.5" \
      "flash x --port sim --sim-baud 0" "flash x --port sim --sim-refuse-block many" \
      "flash x --bogus" "update" "info" "flash x --port ''"; do
      eval "run 1 10 $args"
      [ "$(head -c 10 err.txt)" = "loadwing: " ] || fail "$args: no prefix: $(cat err.txt)"
      [ "$(wc -l <err.txt)" -eq 2 ] || fail "$args: not two lines: $(cat err.txt)"
      if grep -qE '0\.000000|179769|could not be converted|Could not convert|nothing written' err.txt; then
        fail "$args: unreadable: $(cat err.txt)"
      fi
    done
    run 1 10 record --last 0
    expect_text err.txt "loadwing: --last: takes a whole number from 1 to"
    run 1 10 decode "$EXAMPLES/module3.mot" -o ""
    expect_text err.txt "loadwing: --output: takes a file name, or - for standard output"
    run 1 10 info
    expect_text err.txt "FILE"
    run 1 10 flash "$EXAMPLES/module3.mot"
    expect_text err.txt "loadwing: flash: give the machine's link: --port PORT, or --usb"
    run 1 10 flash "$EXAMPLES/module3.mot" --port sim --usb
    expect_text err.txt "excludes"
    run 1 10 flash "$EXAMPLES/module3.mot" --port /dev/null --sim-silent
    expect_text err.txt "loadwing: --sim-silent: only with --port sim"
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
    printf ':020000040000FA\r\n:01001000559A\r\n:0400000500001234B1\r\n:00000001FF\r\n' >zero_base.hex
    run 0 10 info zero_base.hex
    expect_text err.txt "warning"
    expect_text err.txt "skipped 2 address record(s)"
    run 0 10 decode zero_base.hex -o out.bin
    expect_text err.txt "types 02-05"
    printf ':020000040001F9\r\n:01001000559A\r\n:00000001FF\r\n' >extended.hex
    run 2 10 decode extended.hex -o high.bin
    expect_line out.txt " load firmware: can't open file, error 7"
    [ ! -e high.bin ] || fail "decode wrote high.bin for a file above 64 KiB"
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
    [ ! -s err.txt ] || fail "--json wrote to stderr: $(cat err.txt)"
    run 0 10 info beyond.mot
    expect_text err.txt "3 data byte(s) beyond the first 32768 bytes"
    run 2 10 info --strict beyond.mot
    run 2 10 info --strict --json beyond.mot
    expect_text out.txt '"problems":['
    expect_text out.txt 'beyond the 32768 bytes a transfer sends (--strict)'
    [ ! -s err.txt ] || fail "--json wrote to stderr: $(cat err.txt)"
    run 2 10 flash beyond.mot --port sim --strict
    expect_text err.txt "--strict" ;;
  record)
    run 0 60 flash "$EXAMPLES/module3.mot" --port sim --machine "FF 2041/7"
    run 9 60 flash "$EXAMPLES/can_module.mot" --port sim --sim-clock-scale 50 --sim-verdict NOPE
    record="$XDG_STATE_HOME/loadwing/flash-record.jsonl"
    # A transfer killed after its start: no outcome line follows.
    printf '%s\n' '{"schema":2,"time":"2026-01-02T03:04:05Z","program":"loadwing","machine":"FF-7","link":"COM9","file":"=x.mot","target":"WebC","outcome":"started"}' >>"$record"
    printf '{"time":"2026-' >>"$record"  # cut by a power loss
    [ "$(stat -c %a "$record")" = 600 ] && [ "$(stat -c %a "$(dirname "$record")")" = 700 ] ||
      fail "the record is not private"
    run 0 10 record --json
    expect_text err.txt "line 6"
    python3 - out.txt "$(sha256sum <"$EXAMPLES/module3.mot" | cut -c1-64)" <<'PY' || fail "record --json"
import json, sys
r = json.load(open(sys.argv[1]))
a, b, c = r["entries"]
assert r["skipped"] == 1
assert (a["machine"], b["machine"]) == ("FF 2041/7", ""), (a, b)
assert (a["schema"], a["target"], a["outcome"], a["blocksAcknowledged"], a["fileSha256"]) == (2, "Module3", "completed", 128, sys.argv[2]), a
assert (b["target"], b["outcome"], b["verdict"], b["status"]) == ("CanModule", "no-success", "NOPE", " flash: no success, returncode: NOPE"), b
assert a["link"].startswith("sim /dev/") and a["seconds"]["blocks"] > 0, a
assert (c["outcome"], c["machine"]) == ("did-not-finish", "FF-7"), c
PY
    run 0 10 record
    expect_text out.txt "did not finish"
    run 0 10 record --csv --machine FF-7
    [ "$(wc -l <out.txt)" -eq 2 ] || fail "record --csv --machine: $(cat out.txt)"
    expect_text out.txt "2,2026-01-02T03:04:05Z,loadwing,,FF-7,COM9,'=x.mot,,,WebC,0,0,0,did-not-finish,"
    run 1 10 record --last 0
    expect_text err.txt "loadwing: --last: takes a whole number from 1 to"
    # A record that is there but cannot be read: said, and a non-zero exit.
    mkdir -p unreadable/loadwing/flash-record.jsonl
    XDG_STATE_HOME="$PWD/unreadable" run 15 10 record
    expect_text err.txt "cannot read the flash record: cannot use $PWD/unreadable/loadwing/flash-record.jsonl: it is no regular file"
    run 0 10 record --last 2
    [ "$(wc -l <out.txt)" -eq 3 ] || fail "record --last 2: $(cat out.txt)"
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
    # A started line before each transfer, its outcome after.
    [ "$(grep -c '"outcome":"started"' "$XDG_STATE_HOME/loadwing/flash-record.jsonl")" -eq 4 ] &&
      [ "$(wc -l <"$XDG_STATE_HOME/loadwing/flash-record.jsonl")" -eq 8 ] || fail "4 transfers expected"
    # Block 300 exists only in the WebC image: the set stops there, or goes on past it.
    run 7 120 update set --port sim --sim-refuse-block 300 --machine FF-2041
    expect_text out.txt "error-while-flashing"
    expect_text out.txt "not sent"
    expect_text err.txt "erased and partly written: stopped at block 300 of 512"
    grep -q '"machine":"FF-2041".*"file":"set/webc.mot".*"outcome":"error-while-flashing"' \
      "$XDG_STATE_HOME/loadwing/flash-record.jsonl" || fail "--machine not in the record"
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
    run 2 20 update set.toml --port sim --json
    [ ! -s err.txt ] || fail "update --json wrote to stderr: $(cat err.txt)"
    expect_text out.txt '"outcome":"refused"'
    run 2 20 update set.toml --port sim
    expect_text err.txt "not for the module 4"
    expect_text err.txt "not the expected"
    expect_text err.txt "truncated.hex: did not load: load firmware: unexpected end of file"
    expect_text err.txt "are both for the module 3"
    [ ! -e "$XDG_STATE_HOME/loadwing/flash-record.jsonl" ] || fail "a refused set sent something"
    run 1 10 update set.toml
    # A set file naming its machine: kept in the record; another --machine refuses the set.
    printf 'machine = "CF-7"\n[[firmware]]\nfile = "set/module3.mot"\n' >machine.toml
    run 2 20 update machine.toml --port sim --machine CF-8
    expect_text err.txt "the set file is for machine CF-7, but --machine says CF-8"
    run 0 60 update machine.toml --port sim
    grep -q '"machine":"CF-7"' "$XDG_STATE_HOME/loadwing/flash-record.jsonl" ||
      fail "the set file's machine is not in the record" ;;
  display_rule)
    # A path with an escape sequence never reaches the terminal raw; UTF-8 shows as it is.
    esc=$(printf 'bad\033[31m')
    mkdir -p "Пример" "$esc"
    cp "$EXAMPLES/module3.mot" "Пример/März.mot"
    cp "$EXAMPLES/module3.mot" "$esc/m.mot"
    run 0 10 info "Пример/März.mot"
    expect_line out.txt "file:         Пример/März.mot"
    run 2 10 info "$esc/gone.mot"
    if grep -q "$(printf '\033')" out.txt err.txt; then fail "an escape reached the terminal"; fi
    expect_text err.txt 'bad\x1B[31m/gone.mot'
    printf '[[firmware]]\nfile = "%s/m.mot"\ncontroller = "module 4"\n' "$esc" >"$esc/set.toml"
    run 2 10 update "$esc/set.toml" --port sim
    if grep -q "$(printf '\033')" out.txt err.txt; then fail "an escape reached the terminal"; fi
    expect_text err.txt 'bad\x1B[31m/set.toml is refused'
    run 0 60 flash "Пример/März.mot" --port sim
    run 0 10 record
    expect_text out.txt "Пример/März.mot"
    if grep -qF '\x' out.txt; then fail "UTF-8 escaped in the record table: $(cat out.txt)"; fi ;;
  external_simulator)
    # loadwing-sim as a separate machine on its own pty: it checks every block and the check
    # byte itself. Then an interrupted transfer must leave the port free for the next one.
    : "${LOADWING_SIM:?}"
    start_sim --baud 115200
    [ -n "$device" ] || fail "loadwing-sim printed no device"
    run 0 30 flash "$EXAMPLES/module3.mot" --port "$device"
    for _ in $(seq 40); do grep -q "^transfer 1" sim.txt && break; sleep 0.05; done
    expect_text sim.txt "blocks 128/128"
    expect_text sim.txt "matched"
    expect_text sim.txt "verdict SUCCES"
    # Interrupted half way: exit 130 with a message, and the port is not left locked.
    # A background job of a script inherits SIGINT ignored, which loadwing keeps: give it the
    # default back, as a terminal's foreground job has it.
    timeout -k 2 30 env --default-signal=INT "$LOADWING" flash "$EXAMPLES/webc.mot" \
      --port "$device" >int_out.txt 2>int_err.txt &
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
  reader_quits)
    # A reader that quits after the first line must not end the transfer half way.
    timeout -k 2 60 "$LOADWING" flash "$EXAMPLES/webc.mot" --port sim --json 2>err.txt |
      head -n 1 >out.txt
    rc=${PIPESTATUS[0]}
    [ "$rc" -eq 0 ] || fail "flash into a reader that quits exited $rc: $(cat err.txt)"
    expect_text err.txt "closed early; the transfer ran to its end:  flash: completed" ;;
  decode_destinations)
    cp "$EXAMPLES/module3.mot" own.mot
    run 11 10 decode own.mot -o own.mot
    expect_text err.txt "is the firmware file itself"
    cmp own.mot "$EXAMPLES/module3.mot" || fail "decode replaced its own input"
    mkfifo fifo && mkdir folder
    for destination in /dev/null fifo folder; do
      run 11 10 decode own.mot -o "$destination"
      expect_text err.txt "decode writes only regular files"
    done
    [ -c /dev/null ] && [ -p fifo ] && [ -d folder ] || fail "a destination was replaced"
    ln -s nowhere dangling
    run 11 10 decode own.mot -o dangling
    expect_text err.txt "symbolic link to nothing"
    # A link to a regular file is written through and stays a link.
    echo old >target.bin && ln -s target.bin link.bin
    run 0 10 decode own.mot -o link.bin
    [ -L link.bin ] && [ "$(stat -c %s target.bin)" -eq 32768 ] || fail "link.bin not written through"
    # Nothing lying beside the destination is opened: a link planted at the old fixed name, an
    # input of that name. A replaced file keeps its mode; no temporary file stays behind.
    echo victim >victim && ln -s victim out.bin.part
    cp "$EXAMPLES/main_controller.hex" img.bin.part
    echo old >img.bin && chmod 0640 img.bin
    run 0 10 decode own.mot -o out.bin
    run 0 10 decode img.bin.part -o img.bin
    [ "$(cat victim)" = victim ] && [ -L out.bin.part ] || fail "decode followed a planted link"
    cmp img.bin.part "$EXAMPLES/main_controller.hex" || fail "decode img.bin.part -o img.bin lost its input"
    [ "$(stat -c %a img.bin)" = 640 ] || fail "the replaced file's mode is now $(stat -c %a img.bin)"
    [ "$(stat -c %s img.bin)" -gt 4 ] || fail "img.bin not replaced"
    [ -z "$(ls -A | grep '^\.')" ] || fail "temporary files left: $(ls -A)"
    run 0 10 decode own.mot -o -
    cmp out.txt target.bin || fail "decode -o - differs from the file"
    expect_text err.txt "wrote 32768 bytes to standard output"
    nobody_copy own.mot
    mkdir -m 755 "$nobody/locked"
    runuser -u nobody -- "$nobody/loadwing" decode "$nobody/own.mot" -o "$nobody/locked/x.bin" \
      >out.txt 2>err.txt
    [ $? -eq 11 ] || fail "decode into a folder it may not write did not exit 11"
    expect_text err.txt "Permission denied" ;;
  load_failure_advice)
    head -n 20 "$EXAMPLES/module3.mot" >cut.mot
    : >empty.mot
    cp "$EXAMPLES/main_controller.hex" hex.mot
    printf 'S00600004844521B\r\nS1130000000102030405060708090A0B0C0D0E0F74\r\nS9030000FC\r\n' >s1.mot
    head -c 300 /dev/urandom | tr -d 'S:' >random.mot
    cp "$EXAMPLES/module3.mot" module.s19
    mkdir folder.hex
    mkfifo fifo.hex
    printf ':020000040001F9\r\n:0100000041BE\r\n:00000001FF\r\n' >wide.hex
    while IFS='|' read -r file advice; do
      run 2 10 info "$file"
      expect_text err.txt "$advice"
    done <<'TABLE'
cut.mot|no S8 record at the end
empty.mot|is empty
hex.mot|this looks like Intel HEX, but only S-record files may end in .mot
s1.mot|only S2 records (24-bit addresses) carry data here
random.mot|this is not S-record text
module.s19|if this holds S-records, rename it to .mot
folder.hex|is a folder
missing.hex|no such file
fifo.hex|is not a regular file
/dev/zero|is not a regular file
wide.hex|the file uses addresses above 64 KiB
TABLE
    # The status once on stdout, the advice on stderr, for a file that does not load and for one
    # that is refused.
    run 2 10 flash cut.mot --port sim
    [ "$(grep -cxF " load firmware: can't open file, error 5" out.txt)" -eq 1 ] ||
      fail "status not once: $(cat out.txt)"
    expect_text err.txt "no S8 record at the end"
    run 2 10 flash "$EXAMPLES/module3.mot" --port sim --expect-sha256 "$(printf '%064d' 0)"
    [ "$(grep -cxF " firmware for module 3 loaded" out.txt)" -eq 1 ] ||
      fail "status not once: $(cat out.txt)"
    expect_text err.txt "not the expected" ;;
  port_failures)
    # As an unprivileged user: each failure in its own words.
    nobody_copy "$EXAMPLES/module3.mot"
    as_nobody() {
      runuser -u nobody -- timeout -k 2 20 "$nobody/loadwing" flash "$nobody/module3.mot" "$@" \
        >"$work/out.txt" 2>"$work/err.txt"
      local rc=$?
      [ "$rc" -eq 3 ] || fail "flash $* as nobody exited $rc: $(cat "$work/err.txt")"
    }
    as_nobody --port /dev/loadwing-no-such-port
    expect_text err.txt "no such device: /dev/loadwing-no-such-port"
    expect_text err.txt "the ports there are"
    touch "$nobody/regular.txt" && chmod 644 "$nobody/regular.txt"
    (cd "$nobody" && as_nobody --port regular.txt)
    expect_text err.txt "give it as ./regular.txt"
    as_nobody --port "$nobody/regular.txt"
    expect_text err.txt "is not a serial device but a regular file"
    as_nobody --port /dev/null
    expect_text err.txt "/dev/null is not a serial device"
    : "${LOADWING_SIM:?}"
    timeout -k 2 60 "$LOADWING_SIM" >sim.txt 2>/dev/null &
    sim_pid=$!
    for _ in $(seq 100); do grep -q "^device: " sim.txt && break; sleep 0.05; done
    device=$(sed -n 's/^device: //p' sim.txt)
    as_nobody --port "$device"
    # A pty belongs to root and no group may open it: the owner is named, no group offered.
    expect_text err.txt "permission denied: $device belongs to root"
    expect_text err.txt "run as its owner (sudo)"
    if grep -q "usermod" err.txt; then fail "a group offered for $device: $(cat err.txt)"; fi
    flock "$device" sleep 10 &
    holder=$!
    sleep 0.3
    run 3 20 flash "$EXAMPLES/module3.mot" --port "$device"
    expect_text err.txt "is held by another program: "
    expect_text err.txt "flock (pid $holder)"
    kill "$holder" "$sim_pid" 2>/dev/null
    wait 2>/dev/null ;;
  stage_messages)
    flash_failure 4 " flash: no answer" --sim-silent
    expect_text err.txt "the controller is untouched"
    expect_text err.txt 'the machine never answered the request "MO3" (module 3)'
    expect_text err.txt "in update mode"
    flash_failure 7 " flash: error while flashing" --sim-refuse-block 40
    expect_text err.txt "stopped at block 40 of 128 (blocks 0 to 39 went in)"
    flash_failure 9 " flash: no answer after flashing" --sim-silent-verdict
    expect_text err.txt "all 128 blocks are written; only the machine's verdict is missing"
    expect_text err.txt "progress 128/128 blocks"
    # Interrupted while the machine is still being asked, and half way through the blocks.
    for when in request blocks; do
      if [ "$when" = request ]; then options=(--sim-silent); else options=(--sim-baud 38400); fi
      # Not under timeout, which would pass the signal on twice (to the child and its group).
      env --default-signal=INT "$LOADWING" flash "$EXAMPLES/webc.mot" --port sim "${options[@]}" \
        >out.txt 2>err.txt &
      pid=$!
      (sleep 30 && kill -KILL "$pid" 2>/dev/null) &
      watchdog=$!
      sleep 2
      kill -INT "$pid"
      wait "$pid"
      rc=$?
      kill "$watchdog" 2>/dev/null
      [ "$rc" -eq 130 ] || fail "flash interrupted at $when exited $rc"
      case "$when" in
        request) expect_text err.txt "interrupted; the controller is untouched" ;;
        blocks) expect_text err.txt "interrupted; the controller is erased and partly written: stopped at block" ;;
      esac
    done ;;
  refused_options)
    run 1 10 flash "$EXAMPLES/module3.mot" --port sim --sim-refuse-block 128
    expect_text err.txt "has only 128 blocks (0 to 127)"
    run 1 10 flash "$EXAMPLES/module3.mot" --port sim --sim-silent-block 200
    expect_text err.txt "--sim-silent-block 200"
    run 1 10 flash "$EXAMPLES/module3.mot" --port sim --sim-silent --sim-erase-error
    expect_text err.txt "excludes"
    run 1 10 flash "$EXAMPLES/module3.mot" --port sim --sim-verdict X --sim-silent-verdict
    expect_text err.txt "excludes"
    run 1 10
    expect_text out.txt "Subcommands:"
    run 0 10 help
    expect_text out.txt "Subcommands:"
    run 0 10 help flash
    expect_text out.txt "libftdi"
    timeout 10 "$LOADWING_SIM" --version >out.txt || fail "loadwing-sim --version failed"
    expect_text out.txt "loadwing-sim ${LOADWING_VERSION:?}"
    status=0
    timeout 10 "$LOADWING_SIM" --baud fast >out.txt 2>err.txt || status=$?
    [ "$status" = 2 ] || fail "loadwing-sim --baud fast: exit $status, not 2"
    [ "$(head -c 14 err.txt)" = "loadwing-sim: " ] || fail "loadwing-sim: no prefix: $(cat err.txt)"
    expect_text err.txt "--baud = fast"
    expect_text err.txt "Run 'loadwing-sim --help'"
    # A value out of range is refused, not taken as "no block" (the simulator then ran for good);
    # a value quoted back shows no control characters.
    status=0
    timeout 10 "$LOADWING_SIM" --refuse-block -99999999999999999999 >out.txt 2>err.txt || status=$?
    [ "$status" = 2 ] || fail "loadwing-sim --refuse-block out of range: exit $status, not 2"
    status=0
    timeout 10 "$LOADWING_SIM" --target $'MO\e[31m' >out.txt 2>err.txt || status=$?
    [ "$status" = 2 ] || fail "loadwing-sim --target with an escape: exit $status, not 2"
    expect_text err.txt 'unknown target MO\x1B[31m'
    if grep -q $'\e' err.txt; then fail "loadwing-sim wrote an escape: $(cat -v err.txt)"; fi ;;
  json_schema)
    # With --json nothing goes to stderr; warnings and hints are events; results say what is known.
    printf ':0400000512345678E3\r\n:00000001FF\r\n' >start.hex
    run 0 30 flash start.hex --port sim --json
    [ ! -s err.txt ] || fail "--json wrote to stderr: $(cat err.txt)"
    expect_text out.txt '"event":"warning"'
    printf ':020000040000FA\r\n:0100100055' >cut.hex
    run 2 10 flash cut.hex --port sim --json
    [ ! -s err.txt ] || fail "--json wrote to stderr: $(cat err.txt)"
    expect_text out.txt '"event":"hint"'
    expect_text out.txt '"outcome":"bad-firmware","exit":2,"status":" load firmware: unexpected end of file","target":"None","bytes":0'
    run 3 10 flash "$EXAMPLES/module3.mot" --port /dev/loadwing-no-such-port --json
    [ ! -s err.txt ] || fail "--json wrote to stderr: $(cat err.txt)"
    expect_text out.txt '"outcome":"no-link","exit":3,"status":" COM: invalid handle","target":"Module3","bytes":32768'
    run 8 60 flash "$EXAMPLES/module3.mot" --port sim --json --sim-verdict CSFAIL
    expect_text out.txt '"event":"progress","stage":"blocks","pos":128,"max":128'
    expect_text out.txt '"target":"Module3","bytes":32768,"blocksWritten":128' ;;
  final_status_once)
    # Both outputs into one file: the final status is there once.
    timeout -k 2 60 "$LOADWING" flash "$EXAMPLES/module3.mot" --port sim >both.txt 2>&1 ||
      fail "flash into one file failed"
    [ "$(grep -cxF ' flash: completed' both.txt)" -eq 1 ] || fail "final status not once: $(cat both.txt)" ;;
  field_trace_replay)
    run 6 30 flash "$EXAMPLES/module3.mot" --port sim --sim-erase-error --trace t.trace
    expect_line t.trace '# loadwing trace 1'
    grep -qE '^[0-9]+ write 3 4d4f33$' t.trace || fail "no request in the trace: $(cat t.trace)"
    grep -qE '^[0-9]+ close$' t.trace || fail "no close in the trace"
    cp t.trace kept.trace
    run 11 10 flash "$EXAMPLES/module3.mot" --port sim --trace t.trace
    expect_text err.txt 'exists already'
    cmp -s t.trace kept.trace || fail "a refused trace file was changed"
    ln -s kept.trace link.trace && mkfifo fifo.trace
    for refused in link.trace fifo.trace; do
      run 11 10 flash "$EXAMPLES/module3.mot" --port sim --trace "$refused" --trace-replace
    done
    run 6 30 flash "$EXAMPLES/module3.mot" --port sim --sim-erase-error --trace t.trace --trace-replace
    # The machine of the trace, replayed: the loader does it all again, to the same end.
    timeout -k 2 30 "$LOADWING_SIM" --replay kept.trace >sim.txt 2>&1 &
    sim=$!
    for _ in $(seq 50); do grep -q '^device: ' sim.txt 2>/dev/null && break; sleep 0.1; done
    device=$(sed -n 's/^device: //p' sim.txt)
    run 6 30 flash "$EXAMPLES/module3.mot" --port "$device"
    wait "$sim" || fail "the replay ended $?: $(cat sim.txt)"
    expect_text sim.txt 'replay: the loader did all the trace shows'
    for bad in /dev/null out.txt fifo.trace; do
      timeout -k 2 10 "$LOADWING_SIM" --replay "$bad" >sim.txt 2>&1
      [ $? -eq 1 ] || fail "--replay $bad was not refused: $(cat sim.txt)"
    done ;;
  field_selftest)
    run 1 10 selftest
    run 1 10 selftest --port sim --usb
    run 12 20 selftest --port sim
    expect_text err.txt 'nothing came back'
    run 12 20 selftest --port sim --json
    expect_text out.txt '"verdict":"nothing-back","exit":12'
    socat PTY,raw,echo=0,link="$work/loop" EXEC:cat >/dev/null 2>&1 &
    plug=$!
    for _ in $(seq 50); do [ -e "$work/loop" ] && break; sleep 0.1; done
    run 0 20 selftest --port "$work/loop"
    expect_text out.txt "this adapter carries the machine's line: 38400 baud 8N1"
    run 0 20 selftest --port "$work/loop" --json
    expect_text out.txt '"verdict":"carries","exit":0'
    kill "$plug" ;;
  signals)
    # Each run paces the line (about 11 s of blocks) and is killed by a watchdog if it hangs.
    record="$XDG_STATE_HOME/loadwing/flash-record.jsonl"
    start_flash() {
      "$@" "$LOADWING" flash "$EXAMPLES/module3.mot" --port sim --sim-baud 38400 >out.txt 2>err.txt &
      pid=$!
      (sleep 40 && kill -KILL "$pid" 2>/dev/null) &
      watchdog=$!
      sleep 2
    }
    end_flash() {  # end_flash EXPECTED_EXIT WHAT
      wait "$pid"
      rc=$?
      kill "$watchdog" 2>/dev/null
      [ "$rc" -eq "$1" ] || fail "$2 exited $rc, expected $1: $(cat err.txt)"
    }
    # Two copies of one signal, as timeout and kill -TERM -PGID send them: one request.
    start_flash
    kill -TERM "$pid"
    kill -TERM "$pid"
    end_flash 130 "two copies of TERM"
    expect_text err.txt "interrupted; the controller is erased and partly written: stopped at block"
    grep -q "stopping at once" err.txt && fail "a copy of TERM ended at once: $(cat err.txt)"
    [ "$(grep -c '"outcome":"interrupted"' "$record")" -eq 1 ] || fail "no record line after TERM"
    # A later, different request ends at once, yet leaves the record line and the hint. Both are
    # sent while the process is stopped, so that the first cannot end the transfer before the
    # second arrives.
    start_flash
    kill -STOP "$pid"
    kill -TERM "$pid"
    kill -HUP "$pid"
    kill -CONT "$pid"
    end_flash 130 "TERM then HUP"
    expect_text err.txt "stopping at once"
    expect_text err.txt "interrupted; the controller is erased and partly written: stopped at block"
    [ "$(grep -c '"outcome":"interrupted"' "$record")" -eq 2 ] || fail "no record line at once"
    # Under nohup a hang-up does not stop the flash.
    start_flash nohup
    kill -HUP "$pid"
    end_flash 0 "flash under nohup after HUP"
    expect_last_line out.txt " flash: completed"
    # Ctrl-Z during the blocks waits for the end of the transfer: a machine of its own, which
    # gives up after 5 s of silence, must see the whole transfer although loadwing then stays
    # suspended for 6 s.
    start_sim --baud 38400 --transfers 1
    "$LOADWING" flash "$EXAMPLES/module3.mot" --port "$device" >out.txt 2>err.txt &
    pid=$!
    (sleep 40 && kill -KILL "$pid" 2>/dev/null) &
    watchdog=$!
    sleep 2
    kill -TSTP "$pid"
    stopped=""
    for _ in $(seq 300); do
      [ "$(ps -o stat= -p "$pid" | cut -c1)" = T ] && stopped=yes && break
      sleep 0.1
    done
    [ -n "$stopped" ] || fail "loadwing never suspended after Ctrl-Z"
    sleep 6
    kill -CONT "$pid"
    end_flash 0 "flash suspended with Ctrl-Z"
    wait "$sim_pid"
    expect_text sim.txt "verdict SUCCES"
    expect_text err.txt "the machine cannot wait: suspending after the transfer"
    expect_last_line out.txt " flash: completed" ;;
  hostile_sets)
    # Set files that would hang, exhaust memory or reach the TOML parser's faults: each refused
    # at once with exit 2 and nothing sent. Three entries with no file at all would load nothing.
    mkfifo fifo.toml
    head -c 70000 /dev/zero | tr '\0' '#' >big.toml
    for i in $(seq 12); do printf '[[firmware]]\nfile = "m%d.mot"\n' "$i"; done >many.toml
    printf '[\xc6\xbd]\n' >utf8.toml
    printf '[[firmware]]\nfile = "\xff.mot"\n' >latin1.toml
    printf '[firmware]\n[\x15]\n' >control.toml
    cp "$EXAMPLES/module3.mot" firmware.mot
    while IFS='|' read -r set expected; do
      run 2 5 update "$set" --port sim
      expect_text err.txt "$expected"
    done <<'CASES'
fifo.toml|fifo.toml: is a FIFO, not a regular file
/dev/zero|/dev/zero: is a device, not a regular file
big.toml|big.toml: is larger than 65536 bytes
many.toml|many.toml: 12 [[firmware]] tables; a machine has only 11 controllers
utf8.toml|utf8.toml:1: a letter beyond ASCII outside quotes
latin1.toml|latin1.toml:2: not UTF-8 text
control.toml|control.toml:2: control character 0x15
firmware.mot|firmware.mot is a firmware file, not a set: flash one controller with
CASES
    # A folder whose firmware-named entries cannot be read: refused, not skipped.
    mkdir -p folder/main.hex && cp "$EXAMPLES/module3.mot" folder/
    ln -s nowhere.mot folder/webc.mot
    run 2 10 update folder --port sim
    expect_text err.txt "folder/main.hex is not a readable firmware file"
    expect_text err.txt "folder/webc.mot is not a readable firmware file (a link to nothing?)"
    [ ! -e "$XDG_STATE_HOME/loadwing/flash-record.jsonl" ] || fail "a refused set sent something" ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2 ;;
esac

[ "$failures" -eq 0 ] || exit 1
echo "ok: $case_name"
