#!/usr/bin/env bash
# End-to-end throughput of the data pass: zul reads a raw CSV of 1,000,000
# rows by 20 variables and forms its correlation matrix (FACTOR
# NFACTORS=0), with 1 and with 2 threads of the crossproduct engine.
#
# usage: bench/corr_throughput.sh [BUILD_DIR] [ROWS] [VARS]
#   BUILD_DIR  a build with bin/zul (default: build-bench, as made by
#              `make bench`; any RelWithDebInfo or Release build works)
# The CSV is generated once into bench/data/ (not in git) and reused.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
rows=${2:-1000000}
nvars=${3:-20}
zul=$build/bin/zul
[ -x "$zul" ] || { echo "no zul in $build/bin: build first (make bench)" >&2; exit 2; }

data=$root/bench/data
mkdir -p "$data"
csv=$data/corr_${rows}x${nvars}.csv
if [ ! -s "$csv" ]; then
  echo "generating $csv ..."
  python3 "$root/bench/make_corr_csv.py" "$csv.tmp" "$rows" "$nvars"
  mv "$csv.tmp" "$csv"
fi
bytes=$(stat -c %s "$csv")
calc() { python3 -c "print($1)"; }
# Bring the file into the page cache so that every run reads from memory.
cat "$csv" > /dev/null

repeats=${REPEATS:-3}
printf '%s: %d rows x %d variables, %.1f MB\n' "$(basename "$csv")" "$rows" "$nvars" \
  "$(calc "$bytes / 1e6")"
for threads in 1 2; do
  prog=$data/corr_t$threads.zul
  cat > "$prog" <<ZUL
OPTIONS SET zacorr_threads=$threads;
FACTOR DATA='$csv' NFACTORS=0 NOPRINT;
RUN;
ZUL
  best=
  for ((k = 0; k < repeats; ++k)); do
    start=$(date +%s.%N)
    "$zul" --listing /dev/null --log "$data/corr_t$threads.log" "$prog" \
      || { echo "zul failed; see $data/corr_t$threads.log" >&2; exit 1; }
    end=$(date +%s.%N)
    t=$(calc "$end - $start")
    if [ -z "$best" ] || [ "$(calc "int($t < $best)")" = 1 ]; then best=$t; fi
  done
  printf 'threads=%d  best of %d: %.3f s  %.2f M rows/s  %.0f MB/s of CSV\n' "$threads" "$repeats" \
    "$best" "$(calc "$rows / $best / 1e6")" "$(calc "$bytes / $best / 1e6")"
done
