#!/usr/bin/env bash
# The benchmark of the suite, in one run on the same files:
#   runetally against iconv -f UTF-8 -t UTF-8 (validation only),
#   runeflip against rev (util-linux),
# both against the page-cache read speed (dd bs=1M), on three corpora from
# bench/corpus.py (prose: mostly ASCII; cjk: 3-byte characters; wide: every
# plane, about a million distinct characters), from a regular file and from
# a pipe, into /dev/null, for each code path the processor has: the AVX-512
# and AVX2 vector kernels and the scalar fallback (chosen through the
# variable RUNEKIT_VECTOR_TARGET, see README.md, "Developing"). Then peak
# memory (GNU time), runeflip -g against runeflip on each path (prose, cjk,
# and the "nfd" corpus of combining marks), the start-up time on a one-character input, and
# runeflip's memory on long lines (the "mixed" corpus), and, last, runetally
# -l and the table over about ten thousand files against isutf8, through
# xargs and with --files0-from; memory against the number of names; -m
# over hundreds of shard tables; and runetally -l, -e and -s on one file,
# with the memory of -e and of -m on the worst inputs.
#
#   bash bench/run.sh [runs] [size]      (default 5 runs, 100000000 bytes)
#
# Corpora are generated from a fixed seed into build/bench/ and kept there.
# Build first, preferably with -DCMAKE_BUILD_TYPE=Release. Not part of the
# test run. rev, being ~100 times slower, is timed once per corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
size=${2:-100000000}
bin=build/bin
work=${RUNEKIT_BENCH_DIR:-build/bench}
tally=$bin/runetally
flip=$bin/runeflip
for program in "$tally" "$flip"; do
  [ -x "$program" ] || { echo "build the programs first ($program)" >&2; exit 1; }
done
command -v rev >/dev/null || { echo "rev not found (util-linux)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "GNU time not found (Debian package time)" >&2; exit 1; }
mkdir -p "$work"
export LC_ALL=C.UTF-8

# ---- timing helpers ---------------------------------------------------------

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Wall-clock seconds of one run of the shell command $1 (stdout to /dev/null).
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

# Peak resident set size in KiB of the program run by the shell command $1,
# which must start with /usr/bin/time -f %M.
peak_kib() { eval "$1" 2>&1 > /dev/null | tail -n 1; }

mbps() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.0f", b / s / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a / b }'; }

corpus_of() {
  local file=$work/corpus_$1.txt
  if [ ! -s "$file" ]; then
    echo "generating $file ..." >&2
    python3 bench/corpus.py "$1" "$size" "$file.tmp" && mv "$file.tmp" "$file"
  fi
  echo "$file"
}

# ---- the machine and the paths ---------------------------------------------

flags=$(grep -m1 '^flags' /proc/cpuinfo || true)
paths=()
has_all() { local f; for f in "$@"; do [[ " $flags " == *" $f "* ]] || return 1; done; }
has_all avx512vbmi avx512_vbmi2 avx512_bitalg avx512_vpopcntdq vaes vpclmulqdq && paths+=(avx3_dl)
[[ $flags == *avx512bw* && $flags == *avx512vl* ]] && paths+=(avx3)
[[ $flags == *avx2* ]] && paths+=(avx2)
paths+=(scalar)
name() { case $1 in avx3_dl) echo AVX-512 VBMI2 ;; avx3) echo AVX-512 ;; avx2) echo AVX2 ;; scalar) echo scalar ;; esac; }

echo "runekit benchmark, $(date -u +%Y-%m-%d), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'),"
echo "$(nproc) cores, $runs runs each (median), corpora of $size bytes, output to /dev/null"
echo "paths: $(for p in "${paths[@]}"; do printf '%s ' "$(name "$p")"; done)"

declare -A result
for kind in prose cjk wide; do
  corpus=$(corpus_of "$kind")
  bytes=$(stat -c %s "$corpus")
  cat "$corpus" > /dev/null  # into the page cache
  read_s=$(median_of 'dd if="$corpus" of=/dev/null bs=1M status=none' "$runs")
  iconv_s=$(median_of 'iconv -f UTF-8 -t UTF-8 < "$corpus"' "$runs")
  rev_s=$(median_of 'rev < "$corpus"' 1)
  echo
  echo "== $kind: $bytes bytes; page cache (dd bs=1M) $(mbps "$bytes" "$read_s") MB/s; iconv $(mbps "$bytes" "$iconv_s") MB/s; rev $(mbps "$bytes" "$rev_s") MB/s"
  printf '%-10s %-8s %10s %10s %14s %14s %10s\n' program path "file MB/s" "pipe MB/s" "file: x peer" "pipe: x peer" "% of read"
  for program in runetally runeflip; do
    if [ $program = runetally ]; then peer_s=$iconv_s; else peer_s=$rev_s; fi
    for path in "${paths[@]}"; do
      export RUNEKIT_VECTOR_TARGET=$path
      file_s=$(median_of '"$bin/$program" < "$corpus"' "$runs")
      pipe_s=$(median_of 'cat "$corpus" | "$bin/$program"' "$runs")
      rss=$(peak_kib '/usr/bin/time -f %M "$bin/$program" < "$corpus"')
      unset RUNEKIT_VECTOR_TARGET
      result[$program,$kind,$path]=$(mbps "$bytes" "$file_s")
      printf '%-10s %-8s %10s %10s %13sx %13sx %9s%%   peak RSS %s KiB\n' "$program" "$(name "$path")" \
        "$(mbps "$bytes" "$file_s")" "$(mbps "$bytes" "$pipe_s")" "$(ratio "$peer_s" "$file_s")" \
        "$(ratio "$peer_s" "$pipe_s")" "$(awk -v r="$read_s" -v f="$file_s" 'BEGIN { printf "%.0f", r / f * 100 }')" "$rss"
    done
  done
  # Every path gives the same table, and runeflip what rev gives on valid text.
  want_table=$(RUNEKIT_VECTOR_TARGET=scalar "$tally" < "$corpus" | md5sum)
  want_lines=$(rev < "$corpus" | md5sum)
  for path in "${paths[@]}"; do
    [ "$(RUNEKIT_VECTOR_TARGET=$path "$tally" < "$corpus" | md5sum)" = "$want_table" ] ||
      { echo "runetally $path: TABLES DIFFER" >&2; exit 1; }
    [ "$(RUNEKIT_VECTOR_TARGET=$path "$flip" < "$corpus" | md5sum)" = "$want_lines" ] ||
      { echo "runeflip $path: OUTPUT DIFFERS FROM rev" >&2; exit 1; }
  done
  echo "outputs agree: every path, and runeflip with rev"
done

# runeflip -g against runeflip on the same corpora, and on decomposed text
# whose every other letter carries a combining mark (the slow path's worst),
# for each code path; -g writes the same on every path.
echo
for kind in prose cjk nfd; do
  corpus=$(corpus_of "$kind")
  bytes=$(stat -c %s "$corpus")
  want_g=$(RUNEKIT_VECTOR_TARGET=scalar "$flip" -g < "$corpus" | md5sum)
  for path in "${paths[@]}"; do
    export RUNEKIT_VECTOR_TARGET=$path
    g_s=$(median_of '"$flip" -g < "$corpus"' "$runs")
    plain_s=$(median_of '"$flip" < "$corpus"' "$runs")
    rss=$(peak_kib '/usr/bin/time -f %M "$flip" -g < "$corpus"')
    [ "$("$flip" -g < "$corpus" | md5sum)" = "$want_g" ] || { echo "runeflip -g $path: OUTPUT DIFFERS" >&2; exit 1; }
    unset RUNEKIT_VECTOR_TARGET
    echo "runeflip -g, $kind, $(name "$path"): $(mbps "$bytes" "$g_s") MB/s, runeflip $(mbps "$bytes" "$plain_s") MB/s" \
         "($(awk -v a="$plain_s" -v b="$g_s" 'BEGIN { printf "%.2f", a / b }')x), peak RSS $rss KiB"
  done
done

# Start-up: a one-character input, many runs, beside a program that does
# nothing at all (process creation alone).
printf 'a' > "$work/one.txt"
corpus=$work/one.txt
echo
for program in runetally runeflip "runeflip -g"; do
  one=$(median_of '"$bin/"$program < "$corpus"' 51)
  rss=$(peak_kib '/usr/bin/time -f %M "$bin/"$program < "$corpus"')
  echo "$program, one-character input: median $(awk -v m="$one" 'BEGIN { printf "%.2f", m * 1000 }') ms over 51 runs, peak RSS $rss KiB"
done
echo "/bin/true: median $(awk -v m="$(median_of '/bin/true < "$corpus"' 51)" 'BEGIN { printf "%.2f", m * 1000 }') ms"

# runeflip's memory follows the longest line.
corpus=$(corpus_of mixed)
longest=$(LC_ALL=C awk '{ if (length($0) > m) m = length($0) } END { print m }' "$corpus")
rss=$(peak_kib '/usr/bin/time -f %M "$flip" < "$corpus"')
echo "runeflip on $(stat -c %s "$corpus") bytes of mixed text, longest line $longest bytes: peak RSS $rss KiB" \
     "(limit 3 x longest + 8 MiB = $(( (3 * longest + 8 * 1048576) / 1024 )) KiB)"

# Checking a tree: every regular file under a few system folders (about ten
# thousand, small and large, valid and not) passed as operands through xargs:
# runetally -l against isutf8 -l (Debian package moreutils), then the table
# of the valid files against isutf8 on the same files.
if command -v isutf8 > /dev/null; then
  list=$work/files.list valid=$work/valid.list
  find /usr/share/doc /usr/share/common-licenses /usr/share/perl /usr/lib/python3 -type f -print0 2>/dev/null > "$list"
  { xargs -0 "$tally" -l < "$list" 2>/dev/null || true; } |
    python3 -c 'import sys; bad = set(sys.stdin.read().split("\n")); names = open(sys.argv[1], "rb").read().decode("utf-8", "surrogateescape").split("\0"); sys.stdout.buffer.write("\0".join(n for n in names if n and n not in bad).encode("utf-8", "surrogateescape"))' "$list" > "$valid"
  echo
  echo "== $(tr -cd '\0' < "$list" | wc -c) files, $(tr -cd '\0' < "$valid" | wc -c) of them valid UTF-8"
  printf '%-34s %10s %10s\n' "" "runetally" "isutf8"
  printf '%-34s %9.3fs %9.3fs\n' "list the invalid files (-l)" \
    "$(median_of 'xargs -0 "$tally" -l < "$list" 2>/dev/null || true' "$runs")" \
    "$(median_of 'xargs -0 isutf8 -l < "$list" 2>/dev/null || true' "$runs")"
  printf '%-34s %9.3fs %9.3fs\n' "table / check of the valid files" \
    "$(median_of 'xargs -0 "$tally" < "$valid"' "$runs")" "$(median_of 'xargs -0 isutf8 < "$valid"' "$runs")"
  # The same with the names read by runetally itself: one run, one table.
  printf '%-34s %9.3fs %9.3fs\n' "-l --files0-from (isutf8: xargs)" \
    "$(median_of '"$tally" -l --files0-from="$list" 2>/dev/null || true' "$runs")" \
    "$(median_of 'xargs -0 isutf8 -l < "$list" 2>/dev/null || true' "$runs")"
  printf '%-34s %9.3fs %9.3fs\n' "--files0-from, valid files" \
    "$(median_of '"$tally" --files0-from="$valid"' "$runs")" "$(median_of 'xargs -0 isutf8 < "$valid"' "$runs")"
else
  echo "isutf8 not found (Debian package moreutils): the many-files comparison is left out"
fi

# --files0-from reads the names as it needs them: peak memory for 10 and for
# 100,000 names of one small file.
printf 'ab\n' > "$work/small.txt"
for n in 10 100000; do
  python3 -c 'import sys; sys.stdout.buffer.write(sys.argv[1].encode() * int(sys.argv[2]))' "$work/small.txt"$'\x01' "$n" |
    tr '\001' '\000' > "$work/names.list"
  echo "--files0-from, $n names of one small file: peak RSS $(peak_kib '/usr/bin/time -f %M "$tally" --files0-from="$work/names.list"') KiB"
done

# runetally -m: the tables (-g) of 300 shards of a "wide" corpus of 40 MB
# (about 30,000 distinct characters each), merged from files, checked
# against one run over the whole corpus; peak memory against 3 of them.
shards=$work/shards text=$work/corpus_shards.txt
if [ ! -s "$shards/299.tab" ] || [ ! -s "$text" ]; then
  mkdir -p "$shards"
  python3 bench/corpus.py wide 40000000 "$text"
  split -n l/300 -d -a 3 "$text" "$shards/text."
  for f in "$shards"/text.*; do "$tally" -g "$f" > "$shards/${f##*.}.tab" && rm "$f"; done
fi
tables=("$shards"/*.tab)
bytes=$(cat "${tables[@]}" | wc -c)
[ "$("$tally" -m -g "${tables[@]}" | md5sum)" = "$("$tally" -g < "$text" | md5sum)" ] ||
  { echo "runetally -m: MERGED TABLE DIFFERS" >&2; exit 1; }
merge_s=$(median_of '"$tally" -m "${tables[@]}"' "$runs")
echo
echo "== runetally -m: ${#tables[@]} tables, $bytes bytes: $(mbps "$bytes" "$merge_s") MB/s (median ${merge_s} s)," \
     "peak RSS $(peak_kib '/usr/bin/time -f %M "$tally" -m "${tables[@]}"') KiB" \
     "(3 tables: $(peak_kib '/usr/bin/time -f %M "$tally" -m "${tables[@]:0:3}"') KiB); equal to one run over the text"

# runetally -l (validation only) against the table, -e against -l on valid
# text, and -s against the same run without it, on each corpus from a file;
# -e on prose with an ill-formed sequence in each KiB ("faulty") and on ten
# million bytes 0x80 (a line of output each); peak memory of -e there and of
# -m on a table line of 1 GiB (its glyph).
echo
printf '%-8s %10s %10s %10s %12s %12s %12s\n' corpus "-l MB/s" "-e MB/s" "table MB/s" "-e / -l" "-l -s / -l" "-s / table"
for kind in prose cjk wide; do
  corpus=$(corpus_of "$kind")
  bytes=$(stat -c %s "$corpus")
  l_s=$(median_of '"$tally" -l "$corpus"' "$runs")
  e_s=$(median_of '"$tally" -e "$corpus"' "$runs")
  t_s=$(median_of '"$tally" "$corpus"' "$runs")
  ls_s=$(median_of '"$tally" -l -s "$corpus"' "$runs")
  ts_s=$(median_of '"$tally" -s "$corpus"' "$runs")
  printf '%-8s %10s %10s %10s %12s %12s %12s\n' "$kind" "$(mbps "$bytes" "$l_s")" "$(mbps "$bytes" "$e_s")" \
    "$(mbps "$bytes" "$t_s")" "$(awk -v a="$e_s" -v b="$l_s" 'BEGIN { printf "%.3f", a / b }')" \
    "$(awk -v a="$ls_s" -v b="$l_s" 'BEGIN { printf "%.3f", a / b }')" \
    "$(awk -v a="$ts_s" -v b="$t_s" 'BEGIN { printf "%.3f", a / b }')"
done
corpus=$(corpus_of faulty)
bytes=$(stat -c %s "$corpus")
e_s=$(median_of '"$tally" -e "$corpus"' "$runs")
echo "runetally -e, prose with an ill-formed sequence in each KiB: $(mbps "$bytes" "$e_s") MB/s," \
     "$("$tally" -e "$corpus" | wc -l) lines, peak RSS $(peak_kib '/usr/bin/time -f %M "$tally" -e "$corpus"') KiB"
corpus=$work/corpus_x80_10MB.txt
[ -s "$corpus" ] || python3 bench/corpus.py x80 10000000 "$corpus"
e_s=$(median_of '"$tally" -e "$corpus"' "$runs")
echo "runetally -e, 10,000,000 bytes 0x80: $(awk -v s="$e_s" 'BEGIN { printf "%.1f", 10 / s }') million lines/s," \
     "peak RSS $(peak_kib '/usr/bin/time -f %M "$tally" -e "$corpus"') KiB"
gib_line() {
  python3 -c 'import sys; o = sys.stdout.buffer; o.write(b"\t1\t1\t0x61\t"); [o.write(b"a" * (1 << 20)) for _ in range(1024)]; o.write(b"\n")'
}
echo "runetally -m, a table line of 1 GiB: peak RSS $(gib_line | /usr/bin/time -f %M "$tally" -m -g 2>&1 > /dev/null | tail -n 1) KiB"
