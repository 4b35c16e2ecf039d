#!/usr/bin/env bash
# Runs a command on a fresh Debian 12 in a chroot, as a new user's first minutes would: a minimal
# system with git, a clone of this checkout's commit, then COMMAND in the clone, timed.
# Needs root and debootstrap (apt-get install debootstrap); the pristine root is made once
# (debootstrap --variant=minbase bookworm) and copied for every trial, so it stays pristine.
#
# usage: sudo tools/fresh_debian.sh [--base DIR] [--trial DIR] [--keep] COMMAND
#   --base DIR    the pristine root (default /var/tmp/loadwing-fresh/base; made when missing)
#   --trial DIR   the trial's root (default /var/tmp/loadwing-fresh/trial), replaced
#   --keep        keep the trial root afterwards (unmounted)
# example: sudo tools/fresh_debian.sh 'bash tools/demo.sh'
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
base=/var/tmp/loadwing-fresh/base
trial=/var/tmp/loadwing-fresh/trial
keep=0
while [ $# -gt 1 ]; do
  case $1 in
    --base) base=$2; shift 2 ;;
    --trial) trial=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) break ;;
  esac
done
[ $# -eq 1 ] || { sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
command=$1
[ "$(id -u)" -eq 0 ] || { echo "fresh_debian: needs root (chroot, mounts)" >&2; exit 1; }

if [ ! -x "$base/bin/bash" ]; then
  mkdir -p "$(dirname "$base")"
  debootstrap --variant=minbase bookworm "$base" http://deb.debian.org/debian
fi
rm -rf "$trial"
cp -a "$base" "$trial"
cp /etc/resolv.conf "$trial/etc/resolv.conf"
mounted=()
cleanup() {
  local i
  # A program of the trial may take a moment to let go of /dev; then it is detached lazily.
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || { sleep 3; umount "${mounted[i]}"; } || umount -l "${mounted[i]}"
  done
  [ $keep = 1 ] || rm -rf "$trial"
}
trap cleanup EXIT
mount -t proc proc "$trial/proc" && mounted+=("$trial/proc")
mount -t sysfs sys "$trial/sys" && mounted+=("$trial/sys")
mount --bind /dev "$trial/dev" && mounted+=("$trial/dev")
mount --bind /dev/pts "$trial/dev/pts" && mounted+=("$trial/dev/pts")
git clone -q --bare "$repo" "$trial/root/loadwing.git"

chroot "$trial" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin TERM=dumb \
  bash -c '
  set -e
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  apt-get install -y -q --no-install-recommends git ca-certificates >/dev/null
  git clone -q /root/loadwing.git /root/loadwing
  cd /root/loadwing
  TIMEFORMAT="fresh_debian: %R s"
  set +e
  time (eval "$1")
  status=$?
  echo "fresh_debian: exit $status"
  exit $status' fresh_debian "$command"
