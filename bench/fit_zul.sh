#!/bin/sh
# The whole zul run of an ML and a PRINIT fit on Harman's 24 tests (4
# factors, the stored correlations of examples/harman74.csv): start-up,
# reading the table, the fit and the listing. Best and median wall time of
# REPEATS runs (default 20), once with the listing written (to /dev/null)
# and once with NOPRINT. Argument: the build folder (default build-bench).
set -e
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build-bench}
zul="$build/bin/zul"
[ -x "$zul" ] || { echo "no $zul: run make bench first" >&2; exit 1; }
data="$here/../examples/harman74.csv"
REPEATS=${REPEATS:-20} python3 - "$zul" "$data" <<'PY'
import os, subprocess, sys, time
zul, data = sys.argv[1], sys.argv[2]
repeats = int(os.environ["REPEATS"])
cases = [
    ("ML, listing", f"FACTOR DATA='{data}' METHOD=ML NFACTORS=4; RUN;"),
    ("ML, NOPRINT", f"FACTOR DATA='{data}' METHOD=ML NFACTORS=4 NOPRINT; RUN;"),
    ("PRINIT CONVERGE=1E-6, listing",
     f"FACTOR DATA='{data}' METHOD=PRINIT PRIORS=SMC NFACTORS=4 CONVERGE=1E-6 MAXITER=1000; RUN;"),
]
for name, program in cases:
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        subprocess.run([zul, "--log", os.devnull, "-e", program], stdout=subprocess.DEVNULL, check=True)
        times.append(time.perf_counter() - start)
    times.sort()
    print(f"{name:32s} best {times[0] * 1000:7.2f} ms   median {times[len(times) // 2] * 1000:7.2f} ms")
PY
