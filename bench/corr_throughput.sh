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

. "$(dirname "$0")/bench_csv.sh"
bytes=$(stat -c %s "$csv")
calc() { python3 -c "print($1)"; }

repeats=${REPEATS:-5}
printf '%s: %d rows x %d variables, %.1f MB\n' "$(basename "$csv")" "$rows" "$nvars" \
  "$(calc "$bytes / 1e6")"
# Other work on the machine changes every figure: say how busy it was.
load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "cores: $(nproc --all) ($(nproc) usable here); load average before: $(load)"
results=$data/corr_results.txt
: > "$results"
# "1" and "2" are zacorr_threads; "1c" is one thread pinned to one core,
# where the host's helpers (the type pass in parts) cannot run beside it.
for run in 1c 1 2; do
  threads=${run%c}
  pin=()
  [ "$run" = 1c ] && command -v taskset > /dev/null && pin=(taskset -c 0)
  prog=$data/corr_t$threads.zul
  cat > "$prog" <<ZUL
OPTIONS SET zacorr_threads=$threads;
FACTOR DATA='$csv' NFACTORS=0 NOPRINT;
RUN;
ZUL
  # Wall time and the CPU time of zul (all its threads), best of the runs.
  python3 - "$zul" "$prog" "$data/corr_t$threads.log" "$repeats" "$rows" "$bytes" "$run" "${pin[@]}" <<'PY'
import resource, subprocess, sys, time
zul, prog, log, repeats, rows, nbytes, threads = sys.argv[1:8]
pin = sys.argv[8:]
best_wall = best_cpu = None
for _ in range(int(repeats)):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    rc = subprocess.run(pin + [zul, "--listing", "/dev/null", "--log", log, prog]).returncode
    wall = time.perf_counter() - t0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if rc != 0:
        sys.exit(f"zul failed with status {rc}; see {log}")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    best_wall = wall if best_wall is None else min(best_wall, wall)
    best_cpu = cpu if best_cpu is None else min(best_cpu, cpu)
rows, mb = int(rows), int(nbytes) / 1e6
print(f"threads={threads:<2}  wall {best_wall:.3f} s: {rows / best_wall / 1e6:.2f} M rows/s, "
      f"{mb / best_wall:.0f} MB/s of CSV   (CPU {best_cpu:.3f} s: {mb / best_cpu:.0f} MB per CPU second)")
with open(log + ".mbs", "w") as f:
    f.write(f"{mb / best_wall}\n")
PY
  echo "$run $(cat "$data/corr_t$threads.log.mbs")" >> "$results"
done
echo "load average after: $(load)"
# Two threads against one, on one core (1c) and unpinned (1).
python3 - "$results" <<'PY'
import sys
mbs = dict(line.split() for line in open(sys.argv[1]))
two = float(mbs["2"])
print(f"two threads / one: {two / float(mbs['1c']):.2f} against one core (1c), "
      f"{two / float(mbs['1']):.2f} against one thread unpinned (1)")
PY

# The block update alone (one BLAS thread), at this variable count when the
# benchmark program has it: GFLOP/s per thread.
bench=$build/bin/crossproduct_bench
if [ -x "$bench" ]; then
  OPENBLAS_NUM_THREADS=1 "$bench" --benchmark_filter="BM_BlockUpdate/n:$nvars/weighted:0/" \
    --benchmark_format=json 2>/dev/null | python3 -c '
import json, sys
for b in json.load(sys.stdin).get("benchmarks", []):
    g = b.get("GFLOP/s")
    if g is not None:
        name = b["name"]
        print(f"block update {name}: {g / 1e9 if g > 1e6 else g:.1f} GFLOP/s per thread")
'
fi
