#!/usr/bin/env bash
# Usage: fuzz/run.sh SECONDS [BUILD_DIR]
# Builds the libFuzzer targets with clang (ASan and UBSan) in BUILD_DIR
# (default build-fuzz) and runs each for SECONDS seconds, starting from its
# committed seed corpus. The corpus in the repository is not changed: new
# inputs go to a scratch corpus under BUILD_DIR. A crash, a sanitizer report
# or a mismatch stops the run with a non-zero status and leaves the input
# that caused it in BUILD_DIR/artifacts/<target>/ (add it to the seed corpus
# once it is fixed).
set -euo pipefail
seconds=${1:?usage: fuzz/run.sh SECONDS [BUILD_DIR]}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build-fuzz}

mkdir -p "$build"
if ! { CXX=clang++ cmake -S "$root" -B "$build" -DRUNEKIT_FUZZ=ON -DRUNEKIT_TESTS=OFF -DRUNEKIT_WERROR=ON &&
       cmake --build "$build" -j2 --target tally_fuzz flip_reverse_fuzz anatomy_explain_fuzz flip_vector_fuzz
     } >"$build/build.log" 2>&1; then
  cat "$build/build.log"
  echo "fuzz/run.sh: building the fuzz targets failed" >&2
  exit 1
fi

# target and its largest input (the block reader's input must fit in a pipe)
targets=("tally_fuzz 8192" "flip_reverse_fuzz 4096" "anatomy_explain_fuzz 7" "flip_vector_fuzz 4096")
for entry in "${targets[@]}"; do
  read -r target max_len <<<"$entry"
  scratch=$build/corpus/$target
  artifacts=$build/artifacts/$target
  mkdir -p "$scratch" "$artifacts"
  echo "== $target: $seconds s"
  "$build/bin/$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$scratch" "$root/fuzz/corpus/$target" 2>"$build/$target.log" || {
      tail -n 60 "$build/$target.log"
      echo "fuzz/run.sh: $target failed; the input is in $artifacts/" >&2
      exit 1
    }
  grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|stat::new_units_added)|^Done' "$build/$target.log" || true
done
