#!/usr/bin/env bash
# Reading a table from PostgreSQL against reading the same table from CSV:
# a throwaway cluster (tests/databases/pg_cluster.py) gets ROWS x VARS of
# double precision values, and zul reads it once for the correlations
# (FACTOR NFACTORS=0) from the database and from a CSV file of the same
# values. The database is read twice: as one stream (ZUL_PG_STREAMS=1) and
# as zul reads it by default (ranges of the table on two connections when
# the table is at most a quarter of shared_buffers). Prints for each the
# best wall time, zul's CPU (user + system, all threads) and the server's
# (its reaped backends), the ratio to the CSV read (target: the database
# read at most twice the CSV read), psql's own COPY of the table to a file
# beside them, and the machine's load average (other work on the machine
# slows every figure alike).
#
# usage: bench/db_read.sh [BUILD_DIR] [ROWS] [VARS]
#   BUILD_DIR  a build with bin/zul (default: build)
#   REPEATS=3  runs of each (the best wall time is shown, with its CPU)
#   SHARED_BUFFERS=1GB  the server's shared_buffers (default: the server's
#              own default, 128MB, below which ranges are not used for a
#              table of more than 32 MB)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
rows="${2:-200000}"
vars="${3:-20}"

python3 - "$build/bin/zul" "$here/../tests/databases" "$rows" "$vars" "${REPEATS:-3}" \
  "${SHARED_BUFFERS:-}" <<'PY'
import os, random, resource, subprocess, sys, tempfile, time
zul, pgdir, rows, nvars, repeats, buffers = sys.argv[1:7]
rows, nvars, repeats = int(rows), int(nvars), int(repeats)
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

def server_cpu(pg):
    """CPU seconds of the server's ended processes (the postmaster's
    reaped children) and its own."""
    with open(os.path.join(pg.data, "postmaster.pid")) as f:
        pid = f.readline().strip()
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return sum(int(x) for x in fields[11:15]) / os.sysconf("SC_CLK_TCK")

def once(argv, pg, env):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    s0, t0 = server_cpu(pg), time.perf_counter()
    r = subprocess.run(argv, capture_output=True, text=True, env=env)
    wall = time.perf_counter() - t0
    if r.returncode != 0:
        sys.exit(f"{argv[0]} failed:\n" + r.stdout[-2000:] + r.stderr)
    time.sleep(0.2)  # the postmaster reaps the ended backends
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, server_cpu(pg) - s0

def best(program, pg, streams=None):
    path = os.path.join(work, "p.zul")
    with open(path, "w") as f:
        f.write(program)
    env = dict(os.environ)
    if streams:
        env["ZUL_PG_STREAMS"] = streams
    return min(once([zul, "--work", work, "--listing", "/dev/null", path], pg, env)
               for _ in range(repeats))

settings = f"-c shared_buffers={buffers}" if buffers else ""
with pg_cluster.Cluster(settings=settings) as pg:
    cols = ", ".join(f"{n} double precision" for n in names)
    pg.psql(f"CREATE TABLE wide ({cols})")
    pg.psql(f"COPY wide FROM '{csv}' WITH (FORMAT csv, HEADER true)")
    pg.psql("VACUUM ANALYZE wide")
    size = pg.psql("SELECT pg_size_pretty(pg_relation_size('wide')) || ', shared_buffers ' || "
                   "current_setting('shared_buffers')").strip()
    t_csv = best(f"FACTOR DATA='{csv}' NFACTORS=0 NOPRINT;\nRUN;\n", pg)
    # INDB=NO: the rows are read by zul (else the sums are one statement
    # run in the database, which db_bench.sh times).
    program = (f"LIBNAME pg POSTGRES '{pg.conninfo()}';\nOPTIONS INDB=NO;\n"
               "FACTOR DATA=pg.wide NFACTORS=0 NOPRINT;\nRUN;\n")
    t_one = best(program, pg, "1")
    t_pg = best(program, pg)
    out = os.path.join(work, "copy.csv")
    t_copy = min(once(["psql", "-X", "-q", "-h", pg.socket, "-U", pg.user, "-d", "postgres", "-c",
                       f"\\copy wide TO '{out}' WITH (FORMAT csv)"], pg, None)
                 for _ in range(repeats))

subprocess.run(["rm", "-rf", work])
print(f"{rows} x {nvars} (table {size}), best of {repeats}: wall, zul CPU, server CPU")
for name, t in (("CSV", t_csv), ("PostgreSQL, one stream", t_one), ("PostgreSQL", t_pg),
                ("psql \\copy TO CSV", t_copy)):
    ratio = f"  ratio {t[0] / t_csv[0]:.2f}" if name.startswith("Postgre") else ""
    print(f"  {name:<24} {t[0]:6.2f} s {t[1]:6.2f} s {t[2]:6.2f} s{ratio}")
print(f"target: PostgreSQL at most 2 x CSV; load average {os.getloadavg()[0]:.1f} "
      f"on {os.cpu_count()} cores")
PY
