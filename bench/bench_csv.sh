# Sourced by the end-to-end benchmark scripts: the build and the raw CSV
# they run on. Sets root, build, rows, nvars, zul and csv from the script's
# arguments [BUILD_DIR] [ROWS] [VARS]; the CSV (rows x nvars, made by
# make_corr_csv.py) is generated once into bench/data/ (not in git), reused,
# and read once so that every run finds it in the page cache.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
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
cat "$csv" > /dev/null
