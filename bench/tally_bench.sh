#!/usr/bin/env bash
# Throughput, start-up time and peak memory of build/bin/runetally against the
# tools a user would pick instead, measured in the same run on the same files:
#   iconv -f UTF-8 -t UTF-8   (validation only)
#   wc -m under C.UTF-8       (counting only)
#   a python3 collections.Counter one-liner (a histogram), where python3 exists
#
#   bash bench/tally_bench.sh [runs] [size]   (default 5 runs, 100000000 bytes)
#
# Three corpora are generated from a fixed seed by bench/corpus.py (mostly
# ASCII prose, CJK-heavy text, code points from every plane) and kept in
# build/bench/. Not part of the test run.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
size=${2:-100000000}
tally=build/bin/runetally
work=build/bench
[ -x "$tally" ] || { echo "build runetally first (build/bin/runetally)" >&2; exit 1; }
mkdir -p "$work"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Wall-clock seconds of one run of the shell command $1 with $corpus set.
time_once() {
  local t0=$EPOCHREALTIME
  eval "$1" > /dev/null
  local t1=$EPOCHREALTIME
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f\n", b - a }'
}

# Median of $2 runs of the shell command $1.
median_of() {
  local i times=()
  for ((i = 0; i < $2; i++)); do times+=("$(time_once "$1")"); done
  printf '%s\n' "${times[@]}" | median
}

# Peak resident set size in KiB of runetally reading $1 (GNU time, Debian
# package "time": a forking wrapper would count its own memory).
peak_kib() {
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f %M "$tally" < "$1" 2>&1 > /dev/null | tail -n 1
  else
    echo "?"
  fi
}

counter='python3 -c "import sys, collections; c = collections.Counter(sys.stdin.buffer.read().decode()); sys.stdout.write(\"\".join(\"%d\t%d\n\" % (ord(k), v) for k, v in sorted(c.items())))"'

echo "runetally benchmark, $(date -u +%Y-%m-%d), $(nproc) cores, $runs runs each (python: 1 run)"
for kind in prose cjk planes; do
  corpus=$work/tally_$kind.txt
  if [ ! -s "$corpus" ]; then
    echo "generating $corpus ..." >&2
    python3 bench/corpus.py "$kind" "$size" "$corpus.tmp" && mv "$corpus.tmp" "$corpus"
  fi
  bytes=$(stat -c %s "$corpus")
  declare -A med=()
  med[file]=$(median_of '"$tally" < "$corpus"' "$runs")
  med[pipe]=$(median_of 'cat "$corpus" | "$tally"' "$runs")
  med[iconv]=$(median_of 'iconv -f UTF-8 -t UTF-8 < "$corpus"' "$runs")
  med[wc]=$(median_of 'LC_ALL=C.UTF-8 wc -m < "$corpus"' "$runs")
  command -v python3 > /dev/null && med[python]=$(median_of "$counter < \"\$corpus\"" 1)
  rss=$(peak_kib "$corpus")
  echo
  echo "corpus $kind: $bytes bytes; runetally peak RSS $rss KiB"
  for k in file pipe iconv wc python; do
    [ -n "${med[$k]:-}" ] || continue
    awk -v k="$k" -v m="${med[$k]}" -v b="$bytes" -v f="${med[file]}" -v p="${med[pipe]}" 'BEGIN {
      line = sprintf("  %-7s median %7.3f s %8.1f MB/s", k, m, b / m / 1e6)
      if (k != "file" && k != "pipe") line = line sprintf("   runetally file %.1fx, pipe %.1fx", m / f, m / p)
      print line }'
  done
done

# Start-up: a one-character input, many runs, beside a program that does
# nothing at all (process creation alone, on the same machine in the same run).
printf 'a' > "$work/one.txt"
corpus=$work/one.txt
one=$(median_of '"$tally" < "$corpus"' 51)
none=$(median_of '/bin/true < "$corpus"' 51)
echo
awk -v m="$one" -v t="$none" 'BEGIN { printf "one-character input: median %.2f ms over 51 runs (/bin/true: %.2f ms)\n", m * 1000, t * 1000 }'
echo "one-character input: peak RSS $(peak_kib "$corpus") KiB"
