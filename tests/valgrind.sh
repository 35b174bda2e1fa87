#!/usr/bin/env bash
# Usage: tests/valgrind.sh [BUILD_DIR [CASE_FILE...]]
# Runs every golden CLI case (or those of the given files) with each program
# under valgrind's memcheck: configures BUILD_DIR (default build-valgrind)
# with RUNEKIT_TEST_WRAPPER set to valgrind, builds it and runs its CLI cases
# with ctest. An invalid access or a definite leak makes valgrind end the
# program with status 99, which fails the case; valgrind writes to its own
# log files, so that the programs' standard error is still compared byte for
# byte, and any log that is not empty fails as well.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-valgrind}")
shift $(($# > 0 ? 1 : 0))
tests='cli_.*'
if [ $# -gt 0 ]; then  # tests/cli/<tool>/<topic>.cases is the test cli_<tool>_<topic>
  tests=$(for f in "$@"; do echo "cli_$(basename "$(dirname "$f")")_$(basename "$f" .cases)"; done | paste -sd '|')
fi

logs=$build/valgrind-logs
cmake -S "$root" -B "$build" -DRUNEKIT_TEST_WRAPPER="valgrind -q --error-exitcode=99 --leak-check=full \
--errors-for-leak-kinds=definite --log-file=$logs/%p.log" >/dev/null
cmake --build "$build" -j2 >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 1; }
rm -rf "$logs"
mkdir -p "$logs"
status=0
ctest --test-dir "$build" --output-on-failure -j2 -R "^($tests)\$" || status=1

# Anything valgrind said, even where the case passed, is shown and fails.
for log in "$logs"/*.log; do
  if [ -s "$log" ]; then
    echo "== valgrind report $log:"
    cat "$log"
    status=1
  fi
done
exit $status
