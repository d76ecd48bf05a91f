#!/usr/bin/env bash
# End-to-end cost of OUT= factor scores: zul reads a raw CSV of 1,000,000
# rows by 20 variables once for the correlations (FACTOR NFACTORS=0) and,
# with NFACTORS=3 OUT=, a second time to write every row again with three
# score columns, both replacing the table of the run before and as a new
# table. Prints the best wall time of each, their ratios (target: at most
# 2.5) and the peak resident memory of zul (flat: the scoring pass holds
# one row at a time).
#
# usage: bench/out_scores.sh [BUILD_DIR] [ROWS] [VARS]
#   BUILD_DIR  a build with bin/zul (default: build-bench, as made by
#              `make bench`)
# The CSV is shared with corr_throughput.sh (bench/data/, not in git).
set -euo pipefail

. "$(dirname "$0")/bench_csv.sh"

cat > "$data/out_base.zul" <<ZUL
FACTOR DATA='$csv' NFACTORS=0 NOPRINT;
RUN;
ZUL
cat > "$data/out_scores.zul" <<ZUL
FACTOR DATA='$csv' NFACTORS=3 NOPRINT OUT=scores;
RUN;
ZUL

python3 - "$zul" "$data" "${REPEATS:-3}" "$(stat -c %s "$csv")" <<'PY'
import os, subprocess, sys, time
zul, data, repeats, nbytes = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
out_csv = os.path.join(data, "scores.csv")

def run(prog, fresh=False):
    """Best wall time, median CPU time (user + system, all threads) and the
    largest peak RSS (MB) of zul itself over the runs: each run is waited
    for with wait4, so neither the timing nor the peak includes another
    process. fresh: the output table is removed before each run (a new
    table), otherwise it replaces the one of the run before."""
    walls, cpus, peak = [], [], 0.0
    for _ in range(repeats):
        if fresh:
            for name in ("scores.csv", "scores.csv-metadata.json"):
                if os.path.exists(os.path.join(data, name)):
                    os.remove(os.path.join(data, name))
            os.sync()
        t0 = time.perf_counter()
        child = subprocess.Popen([zul, "--work", data, "--listing", "/dev/null",
                                  "--log", prog + ".log", prog])
        _, status, usage = os.wait4(child.pid, 0)
        walls.append(time.perf_counter() - t0)
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit(f"zul failed with status {os.waitstatus_to_exitcode(status)}; see {prog}.log")
        cpus.append(usage.ru_utime + usage.ru_stime)
        peak = max(peak, usage.ru_maxrss / 1024)
    return min(walls), sorted(cpus)[len(cpus) // 2], peak

base, base_cpu, base_rss = run(os.path.join(data, "out_base.zul"))
run(os.path.join(data, "out_scores.zul"))  # so that the first timed run replaces a table
scores, scores_cpu, scores_rss = run(os.path.join(data, "out_scores.zul"))
fresh, fresh_cpu, _ = run(os.path.join(data, "out_scores.zul"), fresh=True)
out_mb = os.path.getsize(out_csv) / 1e6
print(f"NFACTORS=0                  wall {base:.3f} s   CPU {base_cpu:.2f} s   peak RSS {base_rss:.0f} MB")
print(f"NFACTORS=3 OUT= (replacing) wall {scores:.3f} s   CPU {scores_cpu:.2f} s   "
      f"peak RSS {scores_rss:.0f} MB   (writes {out_mb:.0f} MB)")
print(f"NFACTORS=3 OUT= (new table) wall {fresh:.3f} s   CPU {fresh_cpu:.2f} s")
print(f"ratio {scores / base:.2f} replacing, {fresh / base:.2f} new (target at most 2.5); "
      f"input {nbytes / 1e6:.0f} MB")
PY
