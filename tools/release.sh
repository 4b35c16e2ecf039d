#!/usr/bin/env bash
# Builds the release of the checked-out commit into dist/:
#   loadwing_<version>_amd64.deb        the command line and the simulator, for Debian 12 and later
#   loadwing-<version>-windows.zip      loadwing.exe and loadwing-cli.exe, 64-bit and 32-bit, with
#                                       LICENSE.txt and the third-party notices (COPYRIGHT.txt)
#   SHA256SUMS
# The version is the CMake project's. Builds are reproducible: every date written is the
# commit's (SOURCE_DATE_EPOCH), so two runs of one commit give the same bytes.
#
# usage: tools/release.sh [--check] [--dist DIR]
#   --check   build everything a second time in other build trees and fail unless every
#             artefact is byte-identical to the first build's
#   --dist    where the artefacts go (default dist)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
check=0
dist=$root/dist
while [ $# -gt 0 ]; do
  case $1 in
    --check) check=1; shift ;;
    --dist) dist=$(realpath -m "$2"); shift 2 ;;
    -h | --help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "release: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
done

bash tools/install_deps.sh release

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) || {
    echo "release: not a git checkout; set SOURCE_DATE_EPOCH" >&2
    exit 1
  }
fi
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  echo "release: warning: the checkout has uncommitted changes; the artefacts are not the commit's" >&2
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C.UTF-8
umask 022

# build TREE_PREFIX OUT_DIR: every artefact of one release into OUT_DIR.
build() {
  local trees=$1 out=$2
  rm -rf "$out"
  mkdir -p "$out"
  local common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DLOADWING_TESTS=OFF -DLOADWING_WERROR=ON)

  # The Debian package.
  cmake -S "$root" -B "$trees/linux" "${common[@]}" -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc
  cmake --build "$trees/linux" -j2
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$trees/linux/CMakeCache.txt")
  rm -rf "$trees/linux/package"
  (cd "$trees/linux" && cpack -G DEB)
  cp "$trees/linux/package/loadwing_${version}_amd64.deb" "$out/"

  # The Windows programs, both bitnesses, stripped.
  local stage=$trees/zip/loadwing-$version-windows
  rm -rf "$trees/zip"
  mkdir -p "$stage"
  local arch bits
  for arch in x86_64 i686; do
    bits=64
    [ $arch = i686 ] && bits=32
    cmake -S "$root" -B "$trees/windows-$arch" "${common[@]}" \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$arch.cmake"
    cmake --build "$trees/windows-$arch" -j2 --target loadwing loadwing-cli
    mkdir -p "$stage/$bits-bit"
    "$arch-w64-mingw32-strip" -o "$stage/$bits-bit/loadwing.exe" \
      "$trees/windows-$arch/src/gui/loadwing.exe"
    "$arch-w64-mingw32-strip" -o "$stage/$bits-bit/loadwing-cli.exe" \
      "$trees/windows-$arch/src/cli/loadwing-cli.exe"
  done
  sed "s/@VERSION@/$version/g" packaging/windows-README.txt | sed 's/$/\r/' >"$stage/README.txt"
  # Loadwing's licence, and the notices of what the programs carry statically (C++ runtime,
  # winpthreads, the header-only libraries).
  sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
  sed 's/$/\r/' packaging/copyright >"$stage/COPYRIGHT.txt"
  # A zip that depends on nothing but the files: fixed times, modes and order, no extra fields.
  find "$trees/zip" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
  find "$trees/zip" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  (cd "$trees/zip" && find "loadwing-$version-windows" | LC_ALL=C sort |
    zip -q -X -D -9 "$out/loadwing-$version-windows.zip" -@)

  (cd "$out" && sha256sum "loadwing_${version}_amd64.deb" "loadwing-$version-windows.zip" >SHA256SUMS)
}

build "$root/build/release" "$dist"
echo "=== lintian"
lintian --fail-on error "$dist"/loadwing_*_amd64.deb
echo "=== release $version in $dist"
cat "$dist/SHA256SUMS"

if [ $check = 1 ]; then
  echo "=== building again to compare"
  build "$root/build/release-check" "$root/build/release-check/dist"
  if cmp "$dist/SHA256SUMS" "$root/build/release-check/dist/SHA256SUMS"; then
    echo "release: reproducible: the second build is byte-identical"
  else
    echo "release: NOT reproducible: the artefacts differ between two builds" >&2
    diff "$dist/SHA256SUMS" "$root/build/release-check/dist/SHA256SUMS" >&2 || true
    exit 1
  fi
fi
