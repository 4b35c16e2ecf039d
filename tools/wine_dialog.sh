#!/usr/bin/env bash
# Opens loadwing.exe's dialog under Wine on the current X display, connected to the simulated
# machine: loadwing-sim serves a pseudo-terminal that Wine maps as a COM port (and, with --usb,
# that the stand-in USB cable carries). Everything is undone when the dialog closes or the
# script is interrupted.
#
# usage: tools/wine_dialog.sh [--com N] [--usb] [--windows-build DIR] [--native-build DIR]
#                             [-- LOADWING_SIM_OPTIONS...]
#   --com N            the COM port number to map (default 5)
#   --usb              put the stand-in FTD2XX.dll beside a copy of loadwing.exe: the list then
#                      ends with "ORV USB cable", whose bytes travel over COM N
#   --windows-build    the windows build tree (default build/windows); built when missing
#   --native-build     the native build tree (default build/native); built when missing
#   after --            options for loadwing-sim, e.g. -- --request erase --erase-code 4F
#
# It restarts the wineserver of the windows build's prefix: do not run it while that tree's
# tests run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
com=5
usb=0
windows_build=$root/build/windows
native_build=$root/build/native
sim_options=()
while [ $# -gt 0 ]; do
  case $1 in
    --com) com=$2; shift 2 ;;
    --usb) usb=1; shift ;;
    --windows-build) windows_build=$(realpath -m "$2"); shift 2 ;;
    --native-build) native_build=$(realpath -m "$2"); shift 2 ;;
    --) shift; sim_options=("$@"); break ;;
    -h | --help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "wine_dialog: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
done
if ! [[ $com =~ ^[0-9]+$ ]] || [ "$com" -lt 1 ] || [ "$com" -gt 99 ]; then
  echo "wine_dialog: --com takes a port number 1..99" >&2
  exit 2
fi
if [ -z "${DISPLAY:-}" ]; then
  echo "wine_dialog: no X display; set DISPLAY, or start one: Xvfb :83 & export DISPLAY=:83" >&2
  exit 1
fi

# --- What is needed, built where it is missing.
sim=$native_build/src/cli/loadwing-sim
if [ ! -x "$sim" ]; then
  cmake --preset native -B "$native_build"
  cmake --build "$native_build" -j2 --target loadwing-sim
fi
exe=$windows_build/src/gui/loadwing.exe
standin=$windows_build/tests/wine/ftd2xx_standin/FTD2XX.dll
if [ ! -f "$exe" ] || { [ $usb = 1 ] && [ ! -f "$standin" ]; }; then
  [ -f "$windows_build/CMakeCache.txt" ] || cmake --preset windows -B "$windows_build"
  cmake --build "$windows_build" -j2 --target loadwing ftd2xx_standin
fi
wine_run=$windows_build/wine-run.sh
export WINEPREFIX=$windows_build/wineprefix
ports_key='HKLM\Software\Wine\Ports'
port=COM$com
link=$WINEPREFIX/dosdevices/com$com

sim_pid=""
app_pid=""
pty=""
work=$(mktemp -d /tmp/loadwing-wine-dialog.XXXXXX)
cleanup() {
  trap - EXIT INT TERM
  echo "wine_dialog: cleaning up"
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  if [ -n "$pty" ]; then
    timeout 60 "$wine_run" reg delete "$ports_key" /v "$port" /f >/dev/null 2>&1 || true
    timeout 60 wineserver -k >/dev/null 2>&1 || true
    timeout 60 wineserver -w >/dev/null 2>&1 || true
    # Wine leaves the link behind, and the pty's number is soon another terminal's.
    [ "$(readlink "$link" 2>/dev/null)" = "$pty" ] && rm -f "$link"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- The machine on a pty of its own; it keeps the pty open when the dialog closes the port.
: >"$work/sim.out"
"$sim" "${sim_options[@]}" >>"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^device: ' "$work/sim.out" && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
pty=$(sed -n 's/^device: //p' "$work/sim.out")
if [ -z "$pty" ]; then
  cat "$work/sim.out" >&2
  echo "wine_dialog: loadwing-sim did not start" >&2
  exit 1
fi
tail -f "$work/sim.out" --pid "$sim_pid" | sed -u 's/^/loadwing-sim: /' &

# --- The pty as a COM port: Wine makes the device when its server starts again.
timeout 60 "$wine_run" reg add "$ports_key" /v "$port" /d "$pty" /f >/dev/null
timeout 60 wineserver -k >/dev/null 2>&1 || true
timeout 60 wineserver -w >/dev/null 2>&1 || true
timeout 120 "$wine_run" reg query "$ports_key" >/dev/null 2>&1
for _ in $(seq 300); do
  [ "$(readlink "$link" 2>/dev/null)" = "$pty" ] && break
  sleep 0.1
done
if [ "$(readlink "$link" 2>/dev/null)" != "$pty" ]; then
  echo "wine_dialog: Wine did not map $port to $pty" >&2
  exit 1
fi
echo "wine_dialog: $port is $pty, served by loadwing-sim ${sim_options[*]}"

# --- The dialog; with --usb, a copy of the program with the stand-in cable beside it.
if [ $usb = 1 ]; then
  mkdir -p "$work/app"
  cp "$exe" "$standin" "$work/app/"
  exe=$work/app/loadwing.exe
  export LOADWING_STANDIN_PORT=$port
  echo "wine_dialog: the cable \"ORV USB cable\" carries its bytes over $port"
fi
echo "wine_dialog: starting loadwing.exe on $DISPLAY; choose \"$port\" or the cable in the list"
# In the background: a Wine program ignores Ctrl-C, and the shell would wait for it before
# handling the signal; "wait" returns at once, and the cleanup's server stop ends the dialog.
"$wine_run" "$exe" &
app_pid=$!
status=0
wait "$app_pid" || status=$?
exit $status
