#!/usr/bin/env bash
# Usage: tests/cross.sh TARGET [BUILD_DIR]
# Builds the suite for another processor with Debian's cross compiler and
# runs its tests there under qemu-user (no binfmt set-up needed): the unit
# tests, the golden CLI cases, the fuzz corpus replays and, for aarch64 and
# s390x, the UTF-8 corpus test. TARGET is one of
#   i686     32-bit x86 (x87 arithmetic, 32-bit long and pointers)
#   aarch64  64-bit Arm (char unsigned)
#   s390x    IBM Z (big-endian, char unsigned)
# BUILD_DIR defaults to build-TARGET. Needs g++-<triplet>, qemu-user,
# libgtest-dev:<arch> and libutf8proc-dev:<arch> (without it, runeflip is
# built without -g), and libhwy-dev:<arch> where there is one; .ci/run
# installs them. Cases the emulator cannot run are listed as SKIP with their
# reason at the end.
set -euo pipefail
target=${1:?usage: tests/cross.sh i686|aarch64|s390x [BUILD_DIR]}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build-$target}

case $target in
  i686) triplet=i686-linux-gnu arch=i386 skip=(-E utf8_corpus) ;;
  aarch64) triplet=aarch64-linux-gnu arch=arm64 skip=() ;;
  s390x) triplet=s390x-linux-gnu arch=s390x skip=() ;;
  *) echo "tests/cross.sh: unknown target $target (i686, aarch64 or s390x)" >&2; exit 2 ;;
esac

# Highway's vector kernels where Highway is there for the target; the scalar
# code elsewhere. runeflip -g where the target's utf8proc is there.
has() { dpkg-query -W -f='${Status}' "$1:$arch" 2>/dev/null | grep -q 'install ok installed'; }
options=(-DRUNEKIT_WERROR=ON -DRUNEKIT_VECTOR=ON -DRUNEKIT_GRAPHEMES=ON)
has libhwy-dev || options[1]=-DRUNEKIT_VECTOR=OFF
if ! has libutf8proc-dev; then
  options[2]=-DRUNEKIT_GRAPHEMES=OFF
  echo "SKIP runeflip -g for $target: libutf8proc-dev:$arch is not installed"
fi

start=$SECONDS
cmake --no-warn-unused-cli -S "$root" -B "$build" --toolchain "$root/cmake/toolchains/$triplet.cmake" "${options[@]}" >/dev/null
if ! cmake --build "$build" -j2 >"$build/cross-build.log" 2>&1; then
  cat "$build/cross-build.log"
  echo "tests/cross.sh: building for $target failed" >&2
  exit 1
fi
echo "== $target: configure and build took $((SECONDS - start)) s"

start=$SECONDS
status=0
ctest --test-dir "$build" -L 'unit|cli|fuzz' "${skip[@]}" --output-on-failure -j2 || status=1
echo "== $target: tests took $((SECONDS - start)) s"
grep -h '^SKIP ' "$build/Testing/Temporary/LastTest.log" | sort -u || true
exit $status
