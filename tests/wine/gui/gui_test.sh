#!/usr/bin/env bash
# Runs loadwing.exe under Wine on the X display in $DISPLAY and drives it with gui_driver.exe.
# Leaves dialog.png (a screenshot of the dialog with a module firmware loaded) in WORK_DIR.
# Every wait is bounded, so a dialog that hangs fails the test instead of stopping CI.
#
# usage: gui_test.sh WINE_RUN LOADWING_EXE GUI_DRIVER_EXE WORK_DIR APP_ICO
set -uo pipefail
wine_run=$1 loadwing=$2 driver=$3 work=$4 app_ico=$5

if [ -z "${DISPLAY:-}" ]; then
  echo "gui_test: no X display: set DISPLAY (for example to an Xvfb server)" >&2
  exit 1
fi

rm -rf "$work"
# The firmware files sit in a folder whose name no single-byte code page holds: the program's
# UTF-8 code page must open them and show the path as it is. Wine reads command lines in the
# Unix locale's encoding.
export LC_ALL=C.UTF-8
files=$work/прошивки
mkdir -p "$files"
# Wine sees the whole Linux file system as drive Z:.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Firmware files: a module 3 S-record file (S2 records from 0x010000, an S8 record), a
# Fanfolder/Crossfolder Intel HEX file, and an S-record file with a wrong checksum.
python3 - "$files" "$(dirname "$0")/../../../tools" <<'PY'
import sys
work = sys.argv[1]
sys.path.insert(0, sys.argv[2])
from make_examples import intel_hex_file, s_record

def srec2(address, data):
    return s_record("2", address.to_bytes(3, "big"), data)

mot = [srec2(0x10000, b"Mod3" + bytes(range(12))), srec2(0x10010, bytes(range(16, 32))),
       "S804010000FA"]
with open(f"{work}/module3.mot", "w", newline="\r\n") as f:
    f.write("\n".join(mot) + "\n")
with open(f"{work}/main.hex", "w", newline="") as f:
    f.write(intel_hex_file(bytes(range(16))))
bad = mot[0][:-2] + "%02X" % ((int(mot[0][-2:], 16) + 1) % 256)
with open(f"{work}/bad.mot", "w", newline="\r\n") as f:
    f.write("\n".join([bad, mot[2]]) + "\n")
PY

key='HKCU\software\ORVTovrel_KVT.EXE\loadwing'
timeout 60 "$wine_run" reg delete "$key" /f >/dev/null 2>&1

status=0
fail() {
  echo "FAIL: $*"
  status=1
}

# Waits at most $2 seconds for process $1 to end; kills it if it does not.
wait_exit() {
  local pid=$1 limit=$2
  for _ in $(seq $((limit * 10))); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return 0; }
    sleep 0.1
  done
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 1
}

echo "--- the template and the resources in loadwing.exe"
timeout 60 "$wine_run" "$driver" template "$(winpath "$loadwing")" || fail "template"

echo "--- run 1: layout, loads, keys, minimise, Escape"
timeout 150 "$wine_run" "$loadwing" &
app=$!
timeout 150 "$wine_run" "$driver" main "$(winpath "$files/module3.mot")" \
  "$(winpath "$files/main.hex")" "$(winpath "$files/bad.mot")" \
  "$(winpath "$work/shot-ready")" "$(winpath "$work/shot-done")" &
drv=$!
for _ in $(seq 600); do
  [ -s "$work/shot-ready" ] && break
  kill -0 "$drv" 2>/dev/null || break
  sleep 0.1
done
if [ -s "$work/shot-ready" ]; then
  geometry=$(tr -d '\r\n' <"$work/shot-ready")
  if xwd -root -silent -display "$DISPLAY" | /usr/bin/convert xwd:- -crop "$geometry" +repage \
    png:"$work/dialog.png"; then
    echo "screenshot: $work/dialog.png ($geometry)"
  else
    fail "screenshot"
  fi
fi
# The window icon, as Wine hands it to X: the 32 x 32 true-colour image of icon 128.
xid=$(xwininfo -root -tree -display "$DISPLAY" | grep '"ORV Loadwing V1.12"' | awk '{print $1; exit}')
if [ -n "$xid" ]; then
  xprop -display "$DISPLAY" -id "$xid" -notype -f _NET_WM_ICON 32c _NET_WM_ICON >"$work/icon.txt"
  python3 - "$work/icon.txt" "$app_ico" <<'PY' || fail "window icon"
import re, struct, sys
text = open(sys.argv[1]).read()
values = [int(v) for v in re.findall(r"\d+", text.split("=", 1)[-1])] if "=" in text else []
if len(values) < 2 or values[:2] != [32, 32]:
    sys.exit(f"no 32 x 32 window icon: {text[:80]!r}")
shown = values[2:2 + 32 * 32]
ico = open(sys.argv[2], "rb").read()
count = struct.unpack_from("<H", ico, 4)[0]
for i in range(count):
    w, h, _, _, _, bits, size, offset = struct.unpack_from("<BBBBHHII", ico, 6 + 16 * i)
    if (w, h, bits) == (32, 32, 32):
        break
else:
    sys.exit("icon file has no 32 x 32 true-colour image")
pixels = ico[offset + 40:offset + 40 + 32 * 32 * 4]
wanted = []
for row in range(31, -1, -1):  # bottom-up in the file
    for col in range(32):
        b, g, r, a = pixels[(row * 32 + col) * 4:(row * 32 + col) * 4 + 4]
        wanted.append((a, r, g, b))
def close(x, want):
    got = ((x >> 24) & 255, (x >> 16) & 255, (x >> 8) & 255, x & 255)
    if want[0] == 0:
        return got[0] == 0
    return all(abs(p - q) <= 8 for p, q in zip(got, want))
same = sum(close(x, w) for x, w in zip(shown, wanted))
print(f"window icon: {same} of 1024 pixels as drawn")
sys.exit(0 if same >= 1000 else 1)
PY
else
  fail "no X window for the dialog"
fi
touch "$work/shot-done"
wait "$drv" || fail "driver, run 1"
wait_exit "$app" 20 || fail "loadwing.exe did not exit after Escape"

# The window's destruction stored the link that was open: none, so 0, in a key it created.
saved=$(timeout 60 "$wine_run" reg query "$key" /v COMSetting 2>/dev/null | tr -d '\r')
echo "$saved" | grep -Eq 'COMSetting[[:space:]]+REG_DWORD[[:space:]]+0x0$' ||
  fail "COMSetting after closing: '$saved'"

echo "--- run 2: Cancel while a handler runs"
timeout 90 "$wine_run" "$loadwing" &
app=$!
timeout 90 "$wine_run" "$driver" nested "$(winpath "$files/module3.mot")" || fail "driver, run 2"
wait_exit "$app" 20 || fail "loadwing.exe did not exit after Cancel"

[ $status -eq 0 ] && echo "gui_test: passed"
exit $status
