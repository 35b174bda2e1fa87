#!/usr/bin/env bash
# Throughput and peak memory of build/bin/runeflip against the system's rev on
# the same ~100 MB UTF-8 text of mixed scripts, under a UTF-8 locale.
#
#   bash bench/flip_bench.sh [runs]     (default 5 runs of each program)
#
# The text is generated from a fixed seed, so every run and every machine
# sees the same bytes; it is kept in build/bench/ and made again only when
# missing. Not part of the test run.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
flip=build/bin/runeflip
work=build/bench
corpus=$work/flip_corpus.txt
export LC_ALL=C.UTF-8

[ -x "$flip" ] || { echo "build runeflip first (build/bin/runeflip)" >&2; exit 1; }
command -v rev >/dev/null || { echo "rev not found" >&2; exit 1; }
mkdir -p "$work"

# Words from seven scripts (1- to 4-byte characters), lines of 0 to ~300
# words, and now and then a line of several hundred kilobytes up to 2 MB.
generate() {
  python3 - "$1" <<'PY'
import random, sys
rng = random.Random(20261209)
scripts = [
    (0x61, 0x7A, 6), (0xE0, 0xFF, 2), (0x430, 0x44F, 3), (0x3B1, 0x3C9, 2),
    (0x4E00, 0x9FFF, 2), (0x905, 0x939, 1), (0x1F600, 0x1F64F, 1),
]
weights = [w for *_, w in scripts]
vocab = []
for _ in range(20000):
    lo, hi, _w = rng.choices(scripts, weights)[0]
    vocab.append("".join(chr(rng.randint(lo, hi)) for _ in range(rng.randint(1, 9))).encode())
target, size, out = 100 * 1000 * 1000, 0, []
with open(sys.argv[1], "wb") as f:
    while size < target:
        roll = rng.random()
        if roll < 0.05:
            words = 0
        elif roll < 0.9995:
            words = rng.randint(1, 40) if rng.random() < 0.8 else rng.randint(40, 300)
        else:
            words = rng.randint(20000, 150000)
        line = b" ".join(rng.choices(vocab, k=words)) + b"\n"
        out.append(line)
        size += len(line)
        if len(out) >= 10000:
            f.write(b"".join(out))
            out = []
    f.write(b"".join(out))
PY
}

if [ ! -s "$corpus" ]; then
  echo "generating $corpus ..." >&2
  generate "$corpus.tmp" && mv "$corpus.tmp" "$corpus"
fi

bytes=$(stat -c %s "$corpus")
longest=$(LC_ALL=C awk '{ if (length($0) > m) m = length($0) } END { print m }' "$corpus")

# Wall-clock seconds of one run of "$@" < corpus > /dev/null.
time_once() {
  local t0=$EPOCHREALTIME
  "$@" < "$corpus" > /dev/null
  local t1=$EPOCHREALTIME
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f\n", b - a }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Peak resident set size in KiB of one run.
peak_kib() {
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -v "$@" < "$corpus" 2>&1 > /dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
  else
    python3 -c 'import os, sys
pid = os.fork()
if pid == 0:
    fd = os.open(sys.argv[1], os.O_RDONLY); os.dup2(fd, 0)
    null = os.open(os.devnull, os.O_WRONLY); os.dup2(null, 1)
    os.execvp(sys.argv[2], sys.argv[2:])
print(os.wait4(pid, 0)[2].ru_maxrss)' "$corpus" "$@"
  fi
}

echo "input: $bytes bytes, longest line $longest bytes, locale $LC_ALL, $runs runs each"
declare -A med
for prog in "$flip" rev; do
  times=()
  for _ in $(seq "$runs"); do times+=("$(time_once "$prog")"); done
  med[$prog]=$(printf '%s\n' "${times[@]}" | median)
  rss=$(peak_kib "$prog")
  awk -v p="$prog" -v m="${med[$prog]}" -v b="$bytes" -v r="$rss" -v all="${times[*]}" 'BEGIN {
    printf "%-18s median %8.3f s  %8.1f MB/s  peak RSS %7d KiB  (runs: %s)\n", p, m, b / m / 1e6, r, all }'
done
awk -v f="${med[$flip]}" -v r="${med[rev]}" 'BEGIN { printf "throughput ratio runeflip/rev: %.1fx\n", r / f }'

# Both programs reverse well-formed text the same way; a difference is a fault.
if cmp -s <("$flip" < "$corpus") <(rev < "$corpus"); then
  echo "outputs identical"
else
  echo "OUTPUTS DIFFER" >&2
  exit 1
fi
