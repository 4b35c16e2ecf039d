#!/usr/bin/env bash
# Installs, from Debian's packages, everything the builds and tests need.
# Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang llvm pkg-config clang-format
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libftdi1-dev libssl-dev nlohmann-json3-dev libtomlplusplus-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 xvfb xauth x11-apps x11-utils imagemagick
  socat srecord python3 file
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install_deps: everything is installed"
  exit 0
fi

echo "install_deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
