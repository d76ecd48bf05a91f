#!/usr/bin/env bash
# End-to-end cost of OUT= factor scores: zul reads a raw CSV of 1,000,000
# rows by 20 variables once for the correlations (FACTOR NFACTORS=0) and,
# with NFACTORS=3 OUT=, a second time to write every row again with three
# score columns. Prints the best wall time of each, their ratio (target:
# at most 2.5) and the peak resident memory of zul (flat: the scoring pass
# holds one row at a time).
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
import os, resource, subprocess, sys, time
zul, data, repeats, nbytes = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])

def run(prog):
    """Best wall time and the largest peak RSS (MB) over the runs, each run
    in its own child so that its peak is its own."""
    best, peak = None, 0.0
    for _ in range(repeats):
        t0 = time.perf_counter()
        out = subprocess.run([sys.executable, "-c",
            "import resource, subprocess, sys\n"
            "rc = subprocess.run(sys.argv[1:]).returncode\n"
            "print(rc, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)",
            zul, "--work", data, "--listing", "/dev/null", "--log", prog + ".log", prog],
            capture_output=True, text=True).stdout.split()
        wall = time.perf_counter() - t0
        if out[0] != "0":
            sys.exit(f"zul failed with status {out[0]}; see {prog}.log")
        best = wall if best is None else min(best, wall)
        peak = max(peak, int(out[1]) / 1024)
    return best, peak

base, base_rss = run(os.path.join(data, "out_base.zul"))
scores, scores_rss = run(os.path.join(data, "out_scores.zul"))
out_mb = os.path.getsize(os.path.join(data, "scores.csv")) / 1e6
print(f"NFACTORS=0          wall {base:.3f} s   peak RSS {base_rss:.0f} MB")
print(f"NFACTORS=3 OUT=     wall {scores:.3f} s   peak RSS {scores_rss:.0f} MB   "
      f"(writes {out_mb:.0f} MB)")
print(f"ratio {scores / base:.2f} (target at most 2.5); input {nbytes / 1e6:.0f} MB")
PY
