#!/usr/bin/env bash
# Usage: tests/valgrind.sh [BUILD_DIR [CASE_FILE...]]
# Runs every golden CLI case (or those of the given files) with each program under valgrind's memcheck, in
# a build made by the README's test command (default: build). An invalid
# access or a definite leak makes valgrind end the program with status 99,
# which fails the case; valgrind writes to its own log files, so that the
# programs' standard error is still compared byte for byte. Cases that limit
# the address space are skipped (the limit would not leave room for valgrind),
# and so are those with standard output closed (valgrind's log may take it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
build=$(cd "$build" && pwd)
shift $(($# > 0 ? 1 : 0))
if [ $# -eq 0 ]; then
  set -- "$root"/tests/cli/*/*.cases
fi

date=$(grep -o '"[A-Z][a-z][a-z] [0-9].*"' "$build/generated/build_info.hpp" | tr -d '"')
cmake -DLOCPATH="$build/locales" -P "$root/tests/make_locales.cmake"
logs=$(mktemp -d "${TMPDIR:-/tmp}/runekit-valgrind.XXXXXX")
wrapper="valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite --log-file=$logs/%p.log"

status=0
python3 "$root/tests/cli/run_cases.py" --bin-dir "$build/bin" --build-date "$date" \
  --locpath "$build/locales" --failread "$build/tests/failread.so" --timeout 300 \
  --wrapper "$wrapper" "$@" || status=1

# Anything valgrind said, even where the case passed, is shown and fails.
for log in "$logs"/*.log; do
  if [ -s "$log" ]; then
    echo "== valgrind report $log:"
    cat "$log"
    status=1
  fi
done
rm -rf "$logs"
exit $status
