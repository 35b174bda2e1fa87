#!/usr/bin/env bash
# Builds the Debian package of the suite: a separate Release build configured
# for the prefix /usr (so runetally looks for its catalogues under
# /usr/share/locale) with the Debian documentation layout, then cpack.
#
#   bash packaging/build-deb.sh [build-dir]     (default build-deb)
#
# Prints the path of the package on its last line. The compiler flags are
# Debian's own (dpkg-buildflags: all hardening, optimisation); the build date of
# the version blocks is the date of the newest changelog entry unless
# SOURCE_DATE_EPOCH is already set, so the package is reproducible.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:-build-deb}
for tool in dpkg-buildflags dpkg-shlibdeps dpkg-parsechangelog cpack; do
  command -v "$tool" >/dev/null || { echo "build-deb: $tool not found (install dpkg-dev and cmake)" >&2; exit 1; }
done

export DEB_BUILD_MAINT_OPTIONS=${DEB_BUILD_MAINT_OPTIONS:-hardening=+all}
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(dpkg-parsechangelog -l packaging/changelog -STimestamp)}
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DRUNEKIT_DEB_LAYOUT=ON -DRUNEKIT_TESTS=OFF \
      -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >&2
cmake --build "$dir" -j2 >&2
(cd "$dir" && cpack -G DEB) >&2
ls "$dir"/runekit_*.deb
