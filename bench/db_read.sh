#!/usr/bin/env bash
# Reading a table from PostgreSQL against reading the same table from CSV:
# a throwaway cluster (tests/databases/pg_cluster.py) gets ROWS x VARS of
# double precision values, and zul reads it once for the correlations
# (FACTOR NFACTORS=0) from the database and from a CSV file of the same
# values. Prints the best wall time of each, their ratio (target: the
# database read at most twice the CSV read), psql's own COPY of the table
# to a file beside them, and the machine's load average (other work on
# the machine slows every figure alike).
#
# usage: bench/db_read.sh [BUILD_DIR] [ROWS] [VARS]
#   BUILD_DIR  a build with bin/zul (default: build)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
rows="${2:-200000}"
vars="${3:-20}"

python3 - "$build/bin/zul" "$here/../tests/databases" "$rows" "$vars" "${REPEATS:-3}" <<'PY'
import os, random, subprocess, sys, tempfile, time
zul, pgdir, rows, nvars, repeats = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
sys.path.insert(0, pgdir)
import pg_cluster

work = tempfile.mkdtemp(prefix="zul-dbread-")
os.chmod(work, 0o755)
csv = os.path.join(work, "wide.csv")
rnd = random.Random(1)
names = [f"x{j + 1}" for j in range(nvars)]
with open(csv, "w") as f:
    f.write(",".join(names) + "\n")
    for _ in range(rows):
        f.write(",".join(repr(round(rnd.gauss(0, 1), 6)) for _ in names) + "\n")
os.chmod(csv, 0o644)

def best(program):
    path = os.path.join(work, "p.zul")
    with open(path, "w") as f:
        f.write(program)
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        r = subprocess.run([zul, "--work", work, "--listing", "/dev/null", path],
                           capture_output=True, text=True)
        times.append(time.perf_counter() - t0)
        if r.returncode != 0:
            sys.exit("zul failed:\n" + r.stdout[-2000:] + r.stderr)
    return min(times)

with pg_cluster.Cluster() as pg:
    cols = ", ".join(f"{n} double precision" for n in names)
    pg.psql(f"CREATE TABLE wide ({cols})")
    pg.psql(f"COPY wide FROM '{csv}' WITH (FORMAT csv, HEADER true)")
    pg.psql("VACUUM ANALYZE wide")
    t_csv = best(f"FACTOR DATA='{csv}' NFACTORS=0 NOPRINT;\nRUN;\n")
    # INDB=NO: the rows are read by zul (else the sums are one statement
    # run in the database, which db_bench.sh times).
    t_pg = best(f"LIBNAME pg POSTGRES '{pg.conninfo()}';\nOPTIONS INDB=NO;\n"
                "FACTOR DATA=pg.wide NFACTORS=0 NOPRINT;\nRUN;\n")
    out = os.path.join(work, "copy.csv")
    t0 = time.perf_counter()
    subprocess.run(["psql", "-X", "-q", "-h", pg.socket, "-U", pg.user, "-d", "postgres",
                    "-c", f"\\copy wide TO '{out}' WITH (FORMAT csv)"], check=True)
    t_copy = time.perf_counter() - t0

subprocess.run(["rm", "-rf", work])
print(f"{rows} x {nvars}: CSV {t_csv:.2f} s, PostgreSQL {t_pg:.2f} s "
      f"(ratio {t_pg / t_csv:.2f}, target at most 2), psql COPY TO {t_copy:.2f} s; "
      f"load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")
PY
