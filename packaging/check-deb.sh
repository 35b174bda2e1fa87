#!/usr/bin/env bash
# Builds the Debian package (packaging/build-deb.sh) and checks it: its
# control fields, its file list and modes (dpkg-deb -c), the extracted
# programs (dpkg-deb -x: each runs as its copy in the build tree does, is
# stripped, and runetally looks for its catalogues under /usr/share/locale),
# and lintian, which must report no error. The version and the programs are
# those the build was configured with (its CMakeCache.txt). Ends with a
# "package: N passed, N failed" line; exits non-zero on any failure.
#
#   bash packaging/check-deb.sh [build-dir]     (default build-deb)
set -uo pipefail
cd "$(dirname "$0")/.."

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...: runs the command, counts the result
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "package: FAILED: $what" >&2
  fi
}

for tool in dpkg-deb lintian readelf; do
  command -v "$tool" >/dev/null || { echo "check-deb: $tool not found" >&2; exit 1; }
done
dir=${1:-build-deb}
deb=$(bash packaging/build-deb.sh "$dir" | tail -n 1)
[ -f "$deb" ] || { echo "check-deb: no package was built" >&2; exit 1; }
cached() { sed -n "s/^$1:[A-Z]*=//p" "$dir/CMakeCache.txt"; }
version=$(cached CMAKE_PROJECT_VERSION)
programs=$(cached RUNEKIT_PROGRAMS | tr ';' ' ')
[ -n "$version" ] && [ -n "$programs" ] || { echo "check-deb: $dir/CMakeCache.txt names no version or programs" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

field() { dpkg-deb -f "$deb" "$1"; }
check "package name" test "$(field Package)" = runekit
check "version" test "$(field Version)" = "$version"
check "maintainer" grep -q '<.*@.*>' <<<"$(field Maintainer)"
check "description" test "$(field Description | wc -l)" -ge 3
check "C library dependency" grep -Eq '(^|, )libc6 \(>= [0-9.]+\)' <<<"$(field Depends)"
# runeflip -g links utf8proc, which shlibdeps must name.
if [ "$(cached RUNEKIT_GRAPHEMES)" = ON ]; then
  check "utf8proc library dependency" grep -Eq '(^|, )libutf8proc2( |,|$)' <<<"$(field Depends)"
fi
# The vector kernels use Highway's headers only: no libhwy at run time.
check "no Highway library dependency" test -z "$(grep -o 'libhwy' <<<"$(field Depends)")"
# Nor the compiler's support library: its one helper is linked in.
check "no support library dependency" test -z "$(grep -o 'libgcc-s' <<<"$(field Depends)")"

# The file list: exactly these files, owned by root, folders and programs
# 0755, everything else 0644.
dpkg-deb -c "$deb" >"$tmp/list"
awk '{ sub(/^\.\//, "", $6); print $1, $2, $6 }' "$tmp/list" >"$tmp/entries"
expected="usr/share/doc/runekit/README.md.gz usr/share/doc/runekit/changelog.gz usr/share/doc/runekit/copyright"
for name in $programs; do
  expected+=" usr/bin/$name usr/share/man/man1/$name.1.gz"
done
for lang in $(sed 's/#.*//' po/LINGUAS); do
  expected+=" usr/share/locale/$lang/LC_MESSAGES/runekit.mo"
done
check "file list" diff <(tr ' ' '\n' <<<"$expected" | grep . | sort) \
  <(awk '$1 !~ /^d/ { print $3 }' "$tmp/entries" | sort)
check "owners" test -z "$(awk '$2 != "root/root"' "$tmp/entries")"
check "modes" test -z "$(awk '($1 ~ /^d/ || $3 ~ /^usr\/bin\//) && $1 !~ /^.rwxr-xr-x$/ { print }
                               $1 !~ /^d/ && $3 !~ /^usr\/bin\// && $1 != "-rw-r--r--" { print }' "$tmp/entries")"

# The extracted programs: each writes its version block with the status of
# its copy in the build tree, carries no symbols or .comment, and runetally
# does its job and names the system's catalogue directory.
dpkg-deb -x "$deb" "$tmp/root"
for name in $programs; do
  "$dir/bin/$name" -v 2>/dev/null </dev/null
  built=$?
  "$tmp/root/usr/bin/$name" -v 2>"$tmp/version" </dev/null
  status=$?
  check "$name -v status $status" test "$status" = "$built"
  check "$name version block" test "$(sed -n 2p "$tmp/version")" = "$name  $version"
  check "$name stripped" test -z "$(readelf -S -W "$tmp/root/usr/bin/$name" | grep -E '\.(symtab|comment) ')"
done
check "runetally table" test "$(printf 'aab\n' | "$tmp/root/usr/bin/runetally")" = "$(printf '\t 25.000\t       1\t0x00000A\n\t 50.000\t       2\t0x000061\ta\n\t 25.000\t       1\t0x000062\tb')"
check "runetally catalogue directory" grep -qaF /usr/share/locale "$tmp/root/usr/bin/runetally"
check "runetally page names it" grep -qF /usr/share/locale/ <(zcat "$tmp/root/usr/share/man/man1/runetally.1.gz")

# lintian: every tag is shown, an error fails the check.
lintian --info --pedantic "$deb" >"$tmp/lintian" 2>&1
cat "$tmp/lintian"
check "lintian errors" test -z "$(grep '^E:' "$tmp/lintian")"

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
