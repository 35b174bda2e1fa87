#!/usr/bin/env bash
# Installs with apt-get the Debian packages that one kind of work on runekit
# needs, where they are missing:
#
#   bash scripts/install-packages.sh build   the programs: cmake, make, g++,
#                                             msgfmt (gettext), Highway's headers,
#                                             utf8proc (runeflip -g)
#   bash scripts/install-packages.sh test    build's, and the test suite's:
#                                             GoogleTest, Python 3, the locale
#                                             sources, groff, man-db, objdump
#                                             (binutils), the Unicode data
#                                             files (GraphemeBreakTest.txt)
#                                             and GNU parallel (the README's
#                                             recipes)
#   bash scripts/install-packages.sh ci      test's, and the rest of .ci/run's:
#                                             the Debian package check, clang and
#                                             its sanitizer runtime, valgrind,
#                                             mmdebstrap, the cross compilers,
#                                             qemu-user and each target's
#                                             GoogleTest and utf8proc (and
#                                             Highway, if it has one), and the
#                                             engines the README's recipes for
#                                             large corpora are tested on
#                                             (openssh-server, slurm-wlm,
#                                             munge: ctest -L engines)
#
# apt-get runs as root, or through sudo for anyone else; when nothing is
# missing, nothing is run. On a system without dpkg and apt-get it installs
# nothing and says so: the build then finds what it needs or tells what it
# lacks.
set -euo pipefail

build=(cmake make g++ gettext libhwy-dev libutf8proc-dev)
test=("${build[@]}" libgtest-dev python3 locales groff-base man-db binutils unicode-data parallel)
ci=("${test[@]}" clang libclang-rt-14-dev valgrind binutils dpkg-dev lintian mmdebstrap
    g++-i686-linux-gnu g++-aarch64-linux-gnu g++-s390x-linux-gnu qemu-user
    openssh-server slurm-wlm munge)
# The cross builds' targets (tests/cross.sh), as Debian names them.
foreign=(i386 arm64 s390x)

case "${1-}" in
  build) wanted=("${build[@]}") ;;
  test) wanted=("${test[@]}") ;;
  ci) wanted=("${ci[@]}") ;;
  *) echo "usage: bash scripts/install-packages.sh build|test|ci" >&2; exit 2 ;;
esac
optional=()
if [ "$1" = ci ]; then
  for arch in "${foreign[@]}"; do
    wanted+=("libgtest-dev:$arch" "libutf8proc-dev:$arch")
    optional+=("libhwy-dev:$arch")  # without it, tests/cross.sh builds that target without the vector kernels
  done
fi

if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
  echo "install-packages: no dpkg or apt-get here; install these (Debian names) yourself: ${wanted[*]}" >&2
  exit 0
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing_of() {
  local p
  for p in "$@"; do
    installed "$p" || printf '%s\n' "$p"
  done
}
mapfile -t missing < <(missing_of "${wanted[@]}" "${optional[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "install-packages: not root and no sudo; as root, run: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  as_root=(sudo)
fi
apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get)

if [ "$1" = ci ]; then
  for arch in "${foreign[@]}"; do
    dpkg --print-foreign-architectures | grep -qx "$arch" || "${as_root[@]}" dpkg --add-architecture "$arch"
  done
fi
# An index that fails to download (a mirror in the middle of a sync, often
# one foreign architecture's) leaves the others usable; what is really
# missing makes the installation below fail.
"${apt[@]}" update || echo "install-packages: apt-get update failed in part; going on with the indexes at hand" >&2
mapfile -t required < <(missing_of "${wanted[@]}")
if [ ${#required[@]} -gt 0 ]; then
  "${apt[@]}" install -y --no-install-recommends "${required[@]}"
fi
for p in "${optional[@]}"; do
  installed "$p" || "${apt[@]}" install -y --no-install-recommends "$p" || echo "install-packages: $p is not available" >&2
done
