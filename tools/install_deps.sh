#!/usr/bin/env bash
# Installs, from Debian's packages, what a job needs; each job gets only its own.
#
#   tools/install_deps.sh build     the command line and the simulator (what tools/demo.sh builds)
#   tools/install_deps.sh test      everything tools/test.sh builds and runs: both Windows builds,
#                                   Wine (64- and 32-bit), the sanitizers, the release check
#   tools/install_deps.sh release   what tools/release.sh needs
#
# Several jobs may be named; "test" is the default. Idempotent: what is installed is left alone.
set -euo pipefail

build=(cmake ninja-build g++ pkg-config libcli11-dev libftdi1-dev
  libssl-dev nlohmann-json3-dev libtomlplusplus-dev)
release=("${build[@]}"
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 python3
  help2man dpkg-dev lintian zip unzip file)
# clang only recommends its sanitizer runtimes; without them the sanitize preset cannot link.
test=("${release[@]}"
  clang llvm libclang-rt-14-dev clang-format
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  wine wine64 wine32:i386 xvfb xauth x11-apps x11-utils imagemagick
  socat srecord)

jobs=("$@")
[ ${#jobs[@]} -gt 0 ] || jobs=(test)
packages=()
for job in "${jobs[@]}"; do
  case $job in
    build) packages+=("${build[@]}") ;;
    release) packages+=("${release[@]}") ;;
    test) packages+=("${test[@]}") ;;
    *) echo "install_deps: unknown job '$job' (build, test or release)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Several jobs share packages: name each once.
mapfile -t missing < <(printf '%s\n' ${missing[@]+"${missing[@]}"} | awk 'NF && !seen[$0]++')

if [ ${#missing[@]} -eq 0 ]; then
  echo "install_deps: everything for ${jobs[*]} is installed"
  exit 0
fi

echo "install_deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# The 32-bit Wine runs the 32-bit Windows build's tests.
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
  ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
