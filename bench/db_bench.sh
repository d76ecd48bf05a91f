#!/usr/bin/env bash
# The database paths against the CSV path on one table: ROWS x VARS (default
# 1,000,000 x 20, the CSV of corr_throughput.sh) loaded into a throwaway
# PostgreSQL cluster (tests/databases/pg_cluster.py), then timed:
#   csv      FACTOR NFACTORS=0, and NFACTORS=3 OUT= scores, from the CSV file
#   row      the same from the database table with OPTIONS INDB=NO (rows read
#            by zul; the scores written back to the database)
#   indb     NFACTORS=3 OUT= in the same database, in-database path
#   psql     psql's own \copy of the table TO a CSV file
# the database runs with PostgreSQL parallel aggregation off
# (max_parallel_workers_per_gather=0) and on (=2). For each run: wall time,
# the CPU of zul (user + system, all threads) and of the server (all its
# processes, from the postmaster's reaped children), with the load average
# before and after ("client" is zul, or psql). A run cut by the time limit
# is shown as such.
#
# usage: bench/db_bench.sh [BUILD_DIR] [ROWS] [VARS]
#   BUILD_DIR  a build with bin/zul (default: build-bench, as made by
#              `make bench`); TIMEOUT=600 limits each run (seconds),
#              REPEATS=2 the runs of each (the best is shown), RUNS=csv,row,indb,psql
#              the kinds of run made (default all).
set -euo pipefail

. "$(dirname "$0")/bench_csv.sh"

python3 - "$zul" "$root/tests/databases" "$csv" "$nvars" "${REPEATS:-2}" "${TIMEOUT:-600}" \
  "${RUNS:-csv,row,indb,psql}" <<'PY'
import os, resource, shutil, subprocess, sys, tempfile, time
zul, pgdir, csv, nvars, repeats, limit, runs = sys.argv[1:8]
runs = set(runs.split(","))
nvars, repeats, limit = int(nvars), int(repeats), float(limit)
sys.path.insert(0, pgdir)
import pg_cluster

work = tempfile.mkdtemp(prefix="zul-dbbench-")
os.chmod(work, 0o755)
os.chmod(os.path.dirname(csv), 0o755)

def server_cpu(pg):
    """CPU seconds of the server so far: the postmaster's own and its
    reaped children's (every backend and parallel worker that ended)."""
    with open(os.path.join(pg.data, "postmaster.pid")) as f:
        pid = f.readline().strip()
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return sum(int(x) for x in fields[11:15]) / os.sysconf("SC_CLK_TCK")

def timed(argv, pg, env=None):
    """(wall, CPU of argv, CPU of the server) of one run; wall None when cut."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    s0, t0 = server_cpu(pg), time.perf_counter()
    try:
        r = subprocess.run(argv, capture_output=True, text=True, timeout=limit, env=env)
        if r.returncode != 0:
            sys.exit(f"{argv[0]} failed:\n" + r.stdout[-2000:] + r.stderr[-2000:])
        wall = time.perf_counter() - t0
    except subprocess.TimeoutExpired:
        wall = None
        # The server may go on with the statement; stop it.
        pg.psql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                "WHERE pid <> pg_backend_pid() AND backend_type = 'client backend'")
        time.sleep(1)
    time.sleep(0.2)  # the postmaster reaps the ended backends
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, server_cpu(pg) - s0

def best(argv, pg, env=None):
    runs = []
    for _ in range(repeats):
        runs.append(timed(argv, pg, env))
        if runs[-1][0] is None:
            return runs[-1]  # cut: not run again
    return min(runs)

def zul_run(program, pg, workers):
    path = os.path.join(work, "p.zul")
    with open(path, "w") as f:
        f.write(program)
    env = dict(os.environ, PGOPTIONS=f"-c max_parallel_workers_per_gather={workers}")
    return best([zul, "--work", work, "--listing", "/dev/null", path], pg, env)

def show(name, r):
    wall = f"{r[0]:8.2f} s" if r[0] is not None else f"  > {limit:.0f} s (cut)"
    print(f"{name:<44} wall {wall}   client CPU {r[1]:6.2f} s   server CPU {r[2]:6.2f} s",
          flush=True)

print(f"load average before: {' '.join(f'{x:.1f}' for x in os.getloadavg())} "
      f"on {os.cpu_count()} cores", flush=True)
with pg_cluster.Cluster() as pg:
    names = [f"x{j + 1}" for j in range(nvars)]
    pg.psql("CREATE TABLE wide (" + ", ".join(f"{n} double precision" for n in names) + ")")
    pg.psql(f"COPY wide FROM '{csv}' WITH (FORMAT csv, HEADER true)")
    pg.psql("VACUUM ANALYZE wide")
    lib = f"LIBNAME pg POSTGRES '{pg.conninfo()}';\n"
    if "csv" in runs:
        show("csv NFACTORS=0", zul_run(f"FACTOR DATA='{csv}' NFACTORS=0 NOPRINT;\nRUN;\n", pg, 0))
        show("csv NFACTORS=3 OUT= (CSV)",
             zul_run(f"FACTOR DATA='{csv}' NFACTORS=3 NOPRINT OUT=scores;\nRUN;\n", pg, 0))
    indb_cut = False
    for workers in (0, 2):
        tag = f"[parallel {'on' if workers else 'off'}]"
        if "row" in runs:
            show(f"row NFACTORS=0 {tag}", zul_run(
                lib + "OPTIONS INDB=NO;\nFACTOR DATA=pg.wide NFACTORS=0 NOPRINT;\nRUN;\n", pg, workers))
            show(f"row NFACTORS=3 OUT=pg {tag}", zul_run(
                lib + "OPTIONS INDB=NO;\nFACTOR DATA=pg.wide NFACTORS=3 NOPRINT OUT=pg.s_row;\nRUN;\n",
                pg, workers))
        if "indb" not in runs:
            continue
        if indb_cut:
            print(f"indb NFACTORS=3 OUT=pg {tag}: not run (cut before)")
            continue
        r = zul_run(lib + "FACTOR DATA=pg.wide NFACTORS=3 NOPRINT OUT=pg.s_in;\nRUN;\n", pg, workers)
        show(f"indb NFACTORS=3 OUT=pg {tag}", r)
        indb_cut = r[0] is None
    out = os.path.join(work, "copy.csv")
    if "psql" in runs:
        show("psql \\copy wide TO a CSV file", best(
            ["psql", "-X", "-q", "-h", pg.socket, "-U", pg.user, "-d", "postgres",
             "-c", f"\\copy wide TO '{out}' WITH (FORMAT csv)"], pg))
        show("psql \\copy wide TO a file (binary)", best(
            ["psql", "-X", "-q", "-h", pg.socket, "-U", pg.user, "-d", "postgres",
             "-c", f"\\copy wide TO '{out}' WITH (FORMAT binary)"], pg))

shutil.rmtree(work, ignore_errors=True)
print(f"load average after: {' '.join(f'{x:.1f}' for x in os.getloadavg())}")
PY
