#!/usr/bin/env python3
"""Tables in SQLite and PostgreSQL libraries, through zul.

Usage: check_databases.py ZUL WORKDIR

Starts a throwaway PostgreSQL cluster (pg_cluster.py), runs every check
against it and an SQLite file, and stops the cluster at the end, whatever
happened. A check that fails prints why; the exit status is 1 when any did.
"""
import csv
import json
import math
import os
import sqlite3
import subprocess
import sys
import time
from datetime import date

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pg_cluster  # noqa: E402

GROUPS = ["O'Brien", "Zhang", "van der Berg"]  # a quote, blanks; in byte order
ROWS_PER_GROUP = 40
HEADER = ["id", "grp", "x1", "x2", "x3", "x4", "x5"]
# zul's catalogue of table types, labels and formats, as zul makes it.
CATALOGUE = ("table_name varchar(200) NOT NULL, column_name varchar(200) NOT NULL, "
             "type varchar(8), label varchar(256)")
PG_COLUMNS = "id integer, grp text, x1 float8, x2 float8, x3 float8, x4 float8, x5 float8"


def lcg(seed):
    """A small deterministic generator, so the data are the same everywhere."""
    state = seed
    while True:
        state = (state * 6364136223846793005 + 1442695040888963407) % 2**64
        yield (state >> 11) / 2**53


def survey_rows():
    """id, grp, x1..x5 with two factors; values with 4 decimals, so that the
    text of every value is read to the same double by every database."""
    rnd = lcg(2024)
    rows = []
    for g in GROUPS:
        for i in range(ROWS_PER_GROUP):
            f1, f2 = next(rnd) - 0.5, next(rnd) - 0.5
            x = [f1 + 0.3 * (next(rnd) - 0.5), f1 + 0.4 * (next(rnd) - 0.5),
                 f1 + f2 + 0.3 * (next(rnd) - 0.5), f2 + 0.3 * (next(rnd) - 0.5),
                 f2 + 0.5 * (next(rnd) - 0.5)]
            rows.append([len(rows) + 1, g] + [round(v * 100, 4) for v in x])
    return rows


def sql_literal(v):
    """v as a PostgreSQL literal: None is null, NaN and infinities quoted."""
    if v is None:
        return "null"
    if isinstance(v, float) and not math.isfinite(v):
        return "'NaN'" if v != v else ("'Infinity'" if v > 0 else "'-Infinity'")
    return "'" + v.replace("'", "''") + "'" if isinstance(v, str) else repr(v)


def sql_rows(rows):
    """The rows of a VALUES list."""
    return ",".join("(" + ",".join(map(sql_literal, r)) + ")" for r in rows)


def three_factor_rows(seed, nv, nrows, missing=False):
    """Rows of id and nv variables on three factors; with `missing`, one
    value of every 97th row is None."""
    rnd = lcg(seed)
    rows = []
    for i in range(nrows):
        f = [next(rnd) - 0.5 for _ in range(3)]
        x = [round(100 * (f[j % 3] + 0.6 * (next(rnd) - 0.5)), 4) for j in range(nv)]
        if missing and i % 97 == 5:
            x[i % nv] = None
        rows.append([i + 1] + x)
    return rows


class Checks:
    def __init__(self, zul, work, cluster):
        self.zul, self.work, self.pg = zul, work, cluster
        self.failures = []
        self.lite = os.path.join(work, "lite.db")
        self.rows = survey_rows()

    def fail(self, what):
        self.failures.append(what)
        print("FAIL:", what)

    def program_file(self, program, name):
        path = os.path.join(self.work, name + ".zul")
        with open(path, "w") as f:
            f.write(program)
        return path

    def start(self, program, name):
        """zul started on program, its log going to NAME.log."""
        with open(os.path.join(self.work, name + ".log"), "w") as log:
            return subprocess.Popen([self.zul, "--work", self.work, self.program_file(program, name)],
                                    cwd=self.work, stdout=subprocess.DEVNULL, stderr=log)

    def run(self, program, name, expect_ok=True, env=None, timeout=None):
        path = self.program_file(program, name)
        out = os.path.join(self.work, name + ".json")
        r = subprocess.run([self.zul, "--work", self.work, "--json", out, path],
                           capture_output=True, text=True, cwd=self.work,
                           env=dict(os.environ, **env) if env else None, timeout=timeout)
        # A refusal ends with 1 or 2, never by a signal.
        if r.returncode != 0 and (expect_ok or r.returncode not in (1, 2)):
            self.fail(f"{name}: zul ended with {r.returncode}:\n{r.stdout[-2000:]}{r.stderr}")
        # A database's reason is one log line: none of libpq's layout (its
        # second line, DETAIL, CONTEXT, the statement excerpt and caret).
        stray = [l for l in r.stderr.splitlines() if l.startswith("\t") or l.lstrip().startswith(
            ("DETAIL:", "HINT:", "CONTEXT:", "LINE ", "^", "Is the server running"))]
        if stray:
            self.fail(f"{name}: a reason spread over log lines: {stray[:3]}")
        tables = json.load(open(out))["tables"] if os.path.exists(out) else []
        return r, tables

    def libnames(self):
        return (f"LIBNAME lite SQLITE '{self.lite}';\n"
                f"LIBNAME pg POSTGRES '{self.pg.conninfo()}';\n")

    def log(self, r):
        return r.stdout + r.stderr

    def expect_log(self, r, text, what):
        """Whether the log of r has text; a failure named `what` when not."""
        if text in self.log(r):
            return True
        self.fail(f"{what}:\n{self.log(r)[-1500:]}")
        return False

    def refused(self, program, name, *texts, absent=(), env=None, timeout=None):
        """Runs program, which must fail with each of texts in its log and
        none of absent: the run."""
        r, _ = self.run(program, name, expect_ok=False, env=env, timeout=timeout)
        log = self.log(r)
        if r.returncode == 0 or not all(t in log for t in texts) or any(t in log for t in absent):
            self.fail(f"{name}: not refused with {texts}:\n{log[-1500:]}")
        return r

    def sqlite(self, sql, rows=None, path=None):
        """One statement on an SQLite file (for each of rows when given),
        committed: the rows it selected."""
        con = sqlite3.connect(path or self.lite)
        try:
            got = (con.execute(sql) if rows is None else con.executemany(sql, rows)).fetchall()
            con.commit()
            return got
        finally:
            con.close()

    def row_and_in(self, step, name, marker="processed inside the database"):
        """step ({} for "row" or "in") run by the row path (INDB=NO) and
        then inside the database: the tables of each, those of the latter
        None (a failure) when its log lacks marker."""
        _, t_row = self.run(self.libnames() + "OPTIONS INDB=NO;\n" + step.format("row"), name + "_row")
        r, t_in = self.run(self.libnames() + step.format("in"), name + "_in")
        return t_row, t_in if self.expect_log(r, marker, f"{name}: not inside the database") else None

    def pg_value(self, sql):
        return self.pg.psql(sql).strip()

    def wait_for(self, sql, done, seconds):
        """sql's value once done(value) holds, or after seconds."""
        end, value = time.time() + seconds, self.pg_value(sql)
        while not done(value) and time.time() < end:
            time.sleep(0.1)
            value = self.pg_value(sql)
        return value

    def csv_rows(self, name):
        """The rows of the CSV output NAME in the work folder."""
        with open(os.path.join(self.work, name + ".csv"), newline="") as f:
            return list(csv.DictReader(f))

    def write_csv(self, name, rows):
        with open(os.path.join(self.work, name + ".csv"), "w", newline="") as f:
            csv.writer(f).writerows(rows)

    # ---- data ----
    def load_large_means(self):
        """The survey's numbers moved to about 10^6 with a spread near 1/30:
        big.csv in the work folder and the table big in PostgreSQL."""
        rows = [[r[0], r[1]] + [1e6 + v / 30 for v in r[2:]] for r in self.rows]
        self.write_csv("big", [HEADER] + rows)
        self.pg.psql(f"CREATE TABLE big ({PG_COLUMNS}); INSERT INTO big VALUES {sql_rows(rows)}")

    def load(self):
        self.write_csv("survey", [HEADER] + self.rows)
        self.sqlite("CREATE TABLE Survey (id INTEGER, grp TEXT, x1 REAL, x2 REAL, x3 REAL, "
                    "x4 REAL, x5 REAL)")
        self.sqlite("INSERT INTO Survey VALUES (?,?,?,?,?,?,?)", self.rows)
        self.pg.psql('CREATE TABLE "Survey" (id integer, grp varchar(20), x1 float8, '
                     "x2 float8, x3 numeric, x4 real, x5 float8)")
        # x4 as real keeps fewer digits: it is stored back as float8 below.
        self.pg.psql('ALTER TABLE "Survey" ALTER COLUMN x4 TYPE float8')
        self.pg.psql(f'INSERT INTO "Survey" VALUES {sql_rows(self.rows)}')

    def binary_numbers(self):
        """Integers beyond 2**31, booleans, and float NaN and infinities read
        as doubles: the integers exact, booleans 0 and 1, the others missing."""
        self.pg.psql("CREATE TABLE kinds (id bigint, b boolean, n smallint, x1 float8, "
                     "x2 float8, x3 float8)")
        rows = [(3000000000 + i, bool(i % 2), i - 6, i * 0.5, (i % 5) * 1.25 - 0.75,
                 {3: math.nan, 4: -math.inf}.get(i, i * i / 7.0)) for i in range(12)]
        self.pg.psql("INSERT INTO kinds VALUES " + sql_rows(rows))
        self.run(self.libnames() + "FACTOR DATA=pg.kinds NFACTORS=1 OUT=kinds_out;\n"
                 "  VAR x1-x3;\nRUN;\n", "binary_numbers")
        got = self.csv_rows("kinds_out")
        ids = [float(r["id"]) for r in got]
        if ids != [3000000000.0 + i for i in range(12)]:
            self.fail(f"binary numbers: ids {ids}")
        if [float(r["b"]) for r in got[:2]] != [0, 1] or float(got[0]["n"]) != -6:
            self.fail(f"binary numbers: boolean or smallint {got[:2]}")
        if got[3]["x3"] != "" or got[4]["x3"] != "" or got[3]["Factor1"] != "":
            self.fail(f"binary numbers: NaN or infinity not missing {got[3:5]}")

    # ---- checks ----
    def groups_read_again_mid_stream(self):
        """BY groups of a table large enough that reading a group again
        leaves the rows of the table's stream unread: the scores are those
        of the same rows from a CSV file, row by row."""
        self.pg.psql("CREATE TABLE many AS SELECT i AS id, i % 3 AS g, sin(i) AS x1, "
                     "sin(i) + cos(3 * i) AS x2, cos(i) + sin(7 * i) AS x3 "
                     "FROM generate_series(1, 60000) AS i")
        path = os.path.join(self.work, "many.csv")
        with open(path, "w") as f:
            f.write("id,g,x1,x2,x3\n" + self.pg.psql(
                "COPY (SELECT * FROM many ORDER BY g, id) TO STDOUT WITH (FORMAT csv)"))
        step = "FACTOR DATA={} NFACTORS=1 NOPRINT OUT={};\n  BY g;\n  VAR x1-x3;\nRUN;\n"
        self.run(self.libnames() + "OPTIONS INDB=NO;\n" + step.format("pg.many", "many_pg"),
                 "many_pg")
        self.run(step.format("'many.csv'", "many_csv"), "many_csv")
        scores = [{int(r["id"]): float(r["Factor1"]) for r in self.csv_rows(name)}
                  for name in ("many_pg", "many_csv")]
        if len(scores[0]) != 60000 or scores[0].keys() != scores[1].keys():
            self.fail(f"groups read again: {len(scores[0])} rows from PostgreSQL, "
                      f"{len(scores[1])} from CSV")
        elif not all(close(scores[0][i], scores[1][i]) for i in scores[1]):
            self.fail("groups read again: the scores differ from those of the CSV file")

    def logged_statements(self, action):
        """The statements the server ran during action(): every statement
        logged, from the end of the server's log as it was before."""
        with open(self.pg.log) as f:
            f.seek(0, 2)
            start = f.tell()
        self.pg.psql("ALTER SYSTEM SET log_statement = 'all'")
        self.pg.psql("SELECT pg_reload_conf()")
        try:
            result = action()
        finally:
            self.pg.psql("ALTER SYSTEM RESET log_statement")
            self.pg.psql("SELECT pg_reload_conf()")
        with open(self.pg.log) as f:
            f.seek(start)
            return result, f.read()

    def ranges_in_storage_order(self):
        """A plain table read in ranges of its blocks on two connections
        gives the rows of one stream, in the same order, bit for bit: rows
        deleted (one range left empty) and updated (new versions elsewhere
        in the table), a last range shorter than the others; a table of one
        range is read as one stream."""
        self.pg.psql("CREATE TABLE heap AS SELECT i AS id, sin(i) AS x1, sin(i) + cos(3 * i) AS x2, "
                     "cos(i) + sin(7 * i) AS x3 FROM generate_series(1, 20000) AS i")
        self.pg.psql("DELETE FROM heap WHERE id % 7 = 0 OR id BETWEEN 4000 AND 9000")
        self.pg.psql("UPDATE heap SET x1 = x1 + 1 WHERE id % 11 = 0")
        self.pg.psql("CREATE TABLE tiny AS SELECT * FROM heap WHERE id < 500")
        outputs = {}
        for table in ("heap", "tiny"):
            for streams in ("1", "2"):
                name = f"{table}_{streams}"
                step = (self.libnames() + "OPTIONS INDB=NO;\n"
                        f"FACTOR DATA=pg.{table} NFACTORS=1 NOPRINT OUT={name};\n"
                        "  VAR x1-x3;\nRUN;\n")
                _, log = self.logged_statements(
                    lambda: self.run(step, name, env={"ZUL_PG_STREAMS": streams}))
                ranges = log.count("ctid >= ")
                outputs[name] = open(os.path.join(self.work, name + ".csv")).read()
                if (ranges > 0) != (table == "heap" and streams == "2"):
                    self.fail(f"ranges: {table} with ZUL_PG_STREAMS={streams} read {ranges} ranges")
            if outputs[f"{table}_1"] != outputs[f"{table}_2"]:
                self.fail(f"ranges: the rows of {table} differ from those of one stream")
        kept = sum(1 for i in range(1, 20001) if i % 7 and not 4000 <= i <= 9000)
        if outputs["heap_2"].count("\n") != 1 + kept:
            self.fail(f"ranges: {outputs['heap_2'].count(chr(10)) - 1} rows of heap read")

    def range_fails_on_one_connection(self):
        """The server fails while sending one range, on one of the two
        connections: the step ends with the server's message, the output
        file is not written, and the other connection's COPY, cancelled,
        leaves it ready: the next step reads a table in ranges on both."""
        # A note that the table keeps compressed and COPY sends whole: 60 MB
        # of rows from 2 MB of table, more than a reader's queue holds, so
        # that the connection that does not fail is cancelled mid-COPY.
        self.pg.psql("CREATE TABLE guarded AS SELECT i AS id, sin(i) AS x1, sin(i) + cos(3 * i) AS x2, "
                     "cos(i) + sin(7 * i) AS x3, repeat('abc', 1000) AS note "
                     "FROM generate_series(1, 20000) AS i")
        # A row-level policy that raises on one row of an early range, only
        # while the rows are sent, not when the table is first looked at.
        # The rows after it are sent slowly, so that the other connection is
        # still in its COPY when the first fails, however busy the machine.
        self.pg.psql("CREATE FUNCTION fails_in_copy(i int) RETURNS boolean LANGUAGE plpgsql AS $$ "
                     "BEGIN IF current_query() NOT LIKE 'COPY%' THEN RETURN true; END IF; "
                     "IF i = 3000 THEN RAISE EXCEPTION 'the second disk caught fire'; END IF; "
                     "IF i > 3000 THEN PERFORM pg_sleep(0.0002); END IF; RETURN true; END $$")
        self.pg.psql("ALTER TABLE guarded ENABLE ROW LEVEL SECURITY")
        self.pg.psql("CREATE POLICY readable ON guarded FOR SELECT USING (fails_in_copy(id))")
        self.pg.psql("CREATE ROLE reader LOGIN")
        self.pg.psql("GRANT SELECT ON ALL TABLES IN SCHEMA public TO reader")  # zul_tables too
        lib = f"LIBNAME pg POSTGRES '{self.pg.conninfo().replace('user=zul', 'user=reader')}';\n"
        step = lib + ("OPTIONS INDB=NO;\nFACTOR DATA=pg.guarded NFACTORS=1 NOPRINT OUT=guarded_out;\n"
                      "  VAR x1-x3;\nRUN;\n"
                      "FACTOR DATA=pg.heap NFACTORS=1 NOPRINT OUT=after_guarded;\n"
                      "  VAR x1-x3;\nRUN;\n")
        (r, _), log = self.logged_statements(lambda: self.run(step, "guarded", expect_ok=False))
        if r.returncode == 0:
            self.fail("range fails: zul reported success")
        if "second disk caught fire" not in r.stdout + r.stderr:
            self.fail("range fails: the server's message is not in the log:\n" + r.stderr[-2000:])
        if log.count("ctid >= ") < 2 or 'FROM "heap" WHERE ctid' not in log:
            self.fail("range fails: the tables were not read in ranges")
        if "canceling statement due to user request" not in log:
            self.fail("range fails: the other connection's COPY was not cancelled")
        after = os.path.join(self.work, "after_guarded.csv")
        if not os.path.exists(after) or open(after).read() != open(
                os.path.join(self.work, "heap_1.csv")).read():
            self.fail("range fails: the next step did not read the rows of heap")
        if any(n.startswith("guarded_out") for n in os.listdir(self.work)):
            self.fail(f"range fails: output left: {sorted(os.listdir(self.work))}")
        # The server ends a closed session's backend soon after.
        busy = self.wait_for("SELECT count(*) FROM pg_stat_activity WHERE usename = 'reader'",
                             lambda v: v == "0", 2)
        if busy != "0":
            self.fail(f"range fails: {busy} sessions of zul are left")

    def dates_times_timestamps(self):
        """Date, time and timestamp columns read as days and seconds since
        1960 and written back as the same types."""
        self.pg.psql("CREATE TABLE visits (d date, t time, ts timestamp, x1 float8, x2 float8, "
                     "x3 float8)")
        self.pg.psql("INSERT INTO visits VALUES " + sql_rows(
            (f"2030-06-{1 + i % 28:02d}", f"{i % 24:02d}:30:15.5", f"2030-01-01 {i % 24:02d}:00:01",
             r[2], r[3], r[5]) for i, r in enumerate(self.rows[:30])))
        self.run(self.libnames() + "FACTOR DATA=pg.visits NFACTORS=1 OUT=pg.visits_out;\n"
                 "  VAR x1-x3;\nRUN;\nFACTOR DATA=pg.visits NFACTORS=1 OUT=visits_csv;\n"
                 "  VAR x1-x3;\nRUN;\n", "dates")
        types = self.pg.psql("SELECT column_name || ':' || data_type FROM "
                             "information_schema.columns WHERE table_name = 'visits_out' "
                             "ORDER BY ordinal_position").splitlines()
        if types[:3] != ["d:date", "t:time without time zone", "ts:timestamp without time zone"]:
            self.fail(f"dates: the output columns are {types}")
        back = self.pg_value("SELECT count(*) FROM visits v JOIN visits_out o ON v.d = o.d AND "
                             "v.t = o.t AND v.ts = o.ts AND v.x1 = o.x1")
        if back != "30":
            self.fail(f"dates: {back} of 30 rows came back with the same date, time and timestamp")
        first = self.csv_rows("visits_csv")[0]
        days = (date(2030, 6, 1) - date(1960, 1, 1)).days
        want = {"d": days, "t": 30 * 60 + 15.5,
                "ts": (date(2030, 1, 1) - date(1960, 1, 1)).days * 86400 + 1}
        for k, v in want.items():
            if float(first[k]) != v:
                self.fail(f"dates: column {k} of the first row is {first[k]}, not {v}")

    def awkward_text_copied(self):
        """Text with a tab, a backslash, a line break, a quote and \\N, a
        number that needs all 17 digits and a missing one come back
        unchanged from the COPY stream (binary, as every column is a double
        or text)."""
        self.pg.psql("CREATE TABLE notes AS SELECT id, x1 + 1e-13 / 3 AS x1, "
                     "CASE WHEN id = 3 THEN NULL ELSE x2 END AS x2, x3, CASE id % 4 "
                     "WHEN 0 THEN E'tab\\there' WHEN 1 THEN E'back\\\\slash \\\\N' "
                     "WHEN 2 THEN E'two\\nlines\\r' ELSE 'O''Brien; DROP TABLE notes' END "
                     'AS note FROM "Survey"')
        self.run(self.libnames() + "FACTOR DATA=pg.notes NFACTORS=1 OUT=pg.notes_out;\n"
                 "  VAR x1-x3;\nRUN;\n", "notes")
        # Notes unchanged, x1 and x2 exact, and the row with a missing x2
        # without x2 and score.
        got = self.pg_value("SELECT count(*) FILTER (WHERE n.note = o.note), count(*) FILTER "
                            "(WHERE n.x1 = o.x1 AND n.x2 IS NOT DISTINCT FROM o.x2), bool_and("
                            "o.x2 IS NULL AND o.factor1 IS NULL) FILTER (WHERE id = 3) "
                            "FROM notes n JOIN notes_out o USING (id)")
        if got != f"{len(self.rows)}|{len(self.rows)}|t":
            self.fail(f"awkward text: notes kept, x1 and x2 kept, row 3 missing: {got}")
        # The notes as BY values in the scoring statement, on a connection
        # whose server would read a backslash in a literal as an escape.
        legacy = self.pg.conninfo(extra="options=''-c standard_conforming_strings=off''")
        r, _ = self.run(f"LIBNAME pg POSTGRES '{legacy}';\nFACTOR DATA=pg.notes NFACTORS=1 "
                        "OUT=pg.notes_by NOPRINT;\n  BY note;\n  VAR x1-x3;\nRUN;\n", "notes_by")
        if "inside the database" not in r.stderr or self.pg_value(
                "SELECT count(*) FROM notes_by") != str(len(self.rows)):
            self.fail("awkward text as BY values: not scored inside the database:\n" + r.stderr[-1500:])

    def stopped_step_leaves_nothing(self):
        """A step whose reading fails half way writes no table; an earlier
        table of that name stays, and no transaction stays open. Each pass
        over the rows reads each once; the third (the scoring) fails."""
        n = len(self.rows)
        self.fails_half_way("kept", f"{{calls}} > {2 * n + n // 2}", "")

    def locked_table_times_out(self):
        """A table another session holds locked stops the step after the
        lock timeout (10 s, or the user's own) with an error that says so,
        instead of waiting for ever; the table is left as it was, and so is
        the step's other output, in SQLite (it was committed before)."""
        self.pg.psql("CREATE TABLE held AS SELECT 1 AS marker")
        holder = subprocess.Popen([pg_cluster._tool("psql"), "-X", "-q", "-h", self.pg.socket,
                                   "-U", self.pg.user, "-d", "postgres"],
                                  stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, text=True)
        try:
            holder.stdin.write("BEGIN; LOCK TABLE held; SELECT pg_sleep(600);\n")
            holder.stdin.flush()
            self.wait_for("SELECT count(*) FROM pg_locks WHERE granted AND "
                          "relation = 'held'::regclass", lambda v: v != "0", 60)
            for name, program, env in (
                    ("locked_read", "FACTOR DATA=pg.held NFACTORS=1;\nRUN;\n", None),
                    ("locked_write", "FACTOR DATA=pg.survey NFACTORS=1 OUT=lite.held_copy OUTSTAT=pg.held;\n"
                                     "  VAR x1-x5;\nRUN;\n",
                     {"PGOPTIONS": "-c lock_timeout=1s"})):
                self.refused(self.libnames() + program, name, "locked by another session",
                             env=env, timeout=60)
        finally:
            # The backend asleep would keep the lock after its client died.
            self.pg.psql("SELECT pg_terminate_backend(pid) FROM pg_locks WHERE granted AND "
                         "relation = 'held'::regclass")
            holder.kill()
            holder.wait()
        if self.pg.psql("SELECT * FROM held").strip() != "1":
            self.fail("locked table: the table was changed")
        if self.sqlite("SELECT name FROM sqlite_master WHERE name = 'held_copy'"):
            self.fail("locked table: the step's other output was written")
        # An SQLite file another process keeps a write transaction open on.
        holder = sqlite3.connect(self.lite, isolation_level=None)
        try:
            holder.execute("BEGIN IMMEDIATE")
            self.refused(self.libnames() + "FACTOR DATA=lite.survey NFACTORS=1 OUT=lite.held;\n"
                         "  VAR x1-x5;\nRUN;\n", "locked_sqlite", "run the step again", timeout=60)
        finally:
            holder.close()

    def two_runs_at_once(self):
        """Two runs writing at once into a schema without a catalogue: other
        tables are both written, with their labels; one table is written by
        one of them, whole, and a run that lost says to run the step again."""
        lib = self.pg.conninfo("postgres", "options=-csearch_path=race")
        for attempt in range(3):
            self.pg.psql("DROP SCHEMA IF EXISTS race CASCADE; CREATE SCHEMA race")
            for names in (("one", "two"), ("same", "same")):
                runs = [self.start(f"LIBNAME r POSTGRES '{lib}';\nFACTOR DATA='survey.csv' "
                                   f"NFACTORS=1 OUT=r.{n}(LABEL='run {k}');\n  VAR x1-x5;\nRUN;\n",
                                   f"race_{k}") for k, n in enumerate(names)]
                codes = [zul.wait(timeout=120) for zul in runs]
                logs = [open(os.path.join(self.work, f"race_{k}.log")).read() for k in (0, 1)]
                labels = self.pg_value("SELECT string_agg(table_name || ':' || label, ',' ORDER "
                                       f"BY label) FROM race.zul_tables WHERE column_name = '' "
                                       f"AND table_name IN ('{names[0]}', '{names[1]}')")
                lost = [log for code, log in zip(codes, logs)
                        if code != 0 and "run the step again" not in log]
                if names[0] != names[1] and (codes != [0, 0] or labels != "one:run 0,two:run 1"):
                    self.fail(f"two runs, two tables: {codes}, labels {labels!r}:\n{logs}")
                if names[0] == names[1] and (0 not in codes or lost or labels not in (
                        "same:run 0", "same:run 1")):
                    self.fail(f"two runs, one table: {codes}, labels {labels!r}:\n{logs}")
        # Two libraries of one run write two tables of one catalogue, which
        # exists (the runs above made it) or not: the run waits on no lock of
        # its own. So do two libraries of one SQLite file, however spelt.
        # Of other connection strings, one that would wait is refused at once.
        other = lib + " application_name=zul_b"
        race_db = os.path.join(self.work, "race.db")
        catalogue = f"CREATE TABLE race.zul_tables ({CATALOGUE})"
        # So is one that widens the catalogue for a label too long for it.
        for fresh in (False, True):
            for k, (a, b) in enumerate(((f"POSTGRES '{lib}'", f"POSTGRES '{lib}'"),
                                        ("SQLITE 'race.db'", f"SQLITE '{race_db}'"),
                                        (f"POSTGRES '{lib}'", f"POSTGRES '{other}'"),
                                        (f"POSTGRES '{lib}'", f"POSTGRES '{other}'"))):
                self.pg.psql("DROP SCHEMA race CASCADE; CREATE SCHEMA race" +
                             ("" if fresh else "; " + catalogue))
                refused = k == 3 or (fresh and k == 2)
                label = "(LABEL='" + "long " * 60 + "')" if k == 3 else ""
                started = time.monotonic()
                r, _ = self.run(f"LIBNAME a {a};\nLIBNAME b {b};\nFACTOR DATA='survey.csv' "
                                f"NFACTORS=1 OUT=a.three{label} OUTSTAT=b.four; VAR x1-x5; RUN;\n",
                                "race_libraries", expect_ok=not refused, timeout=60)
                written = self.pg_value("SELECT count(*) FROM pg_class WHERE relname = 'four' "
                                        "AND relnamespace = 'race'::regnamespace")
                fast = time.monotonic() - started < 8
                if not fast or (r.returncode == 0) == refused or written != (
                        "1" if k != 1 and not refused else "0") or (
                        refused and "each would wait for the other" not in r.stderr):
                    self.fail(f"two libraries {a} and {b} of one run, fresh schema {fresh}: "
                              f"{written} table four:\n" + r.stderr[-1500:])

    def no_rows_no_table(self):
        """When no BY group gives a result, no table is created. A group
        without a solution among others keeps its rows in OUT=, in their
        place, with a null score, on the row path and inside the database."""
        rows = [(i, (i > 3) + (i > 4), float(i % 5), float(i * i % 7), float(i % 3 + i % 4))
                for i in range(9)]  # group g=1 is one row
        self.table_in_both("one_short", "id INTEGER, g INTEGER, x1 REAL, x2 REAL, x3 REAL", rows)
        for lib, query in (("lite", self.sqlite), ("pg", self.pg.psql)):
            step = (f"FACTOR DATA={lib}.one_short NFACTORS=1 NOPRINT OUT={lib}.short_{lib}_{{}};\n"
                    "  BY g;\n  VAR x1-x3;\nRUN;\n")
            r, _ = self.run(self.libnames() + step.format("in"), f"short_{lib}", expect_ok=False)
            self.run(self.libnames() + "OPTIONS INDB=NO;\n" + step.format("row"),
                     f"short_{lib}_row", expect_ok=False)
            # OUT= columns are doubles: compared as integers.
            cast = "CAST({} AS INTEGER)" if lib == "lite" else "{}::int"
            got = [str(query(f"SELECT {cast.format('id')}, {cast.format('g')}, factor1 IS NULL "
                             f"FROM short_{lib}_{p} ORDER BY id")) for p in ("row", "in")]
            want = str(query("SELECT id, g, g = 1 FROM one_short ORDER BY id"))
            if got != [want, want] or "processed inside the database" not in self.log(r):
                self.fail(f"a group without a solution in {lib}: {got}, expected {want}")
        self.pg.psql("CREATE TABLE empty_groups AS SELECT grp, NULL::float8 AS x1, "
                     'NULL::float8 AS x2, NULL::float8 AS x3 FROM "Survey"')
        self.run(self.libnames() + "FACTOR DATA=pg.empty_groups NFACTORS=1 OUT=pg.none;\n"
                 "  BY grp;\n  VAR x1-x3;\nRUN;\n", "no_rows", expect_ok=False)
        left = self.pg.psql("SELECT count(*) FROM pg_class WHERE relname = 'none' "
                            "OR relname LIKE 'zul_new%'").strip()
        if left != "0":
            self.fail("no rows: a table was written")
        # An empty SQLite table: the crossproducts' untyped result columns
        # must not make a formatted numeric BY variable a character one.
        self.table_in_both("no_rows", "g REAL, x1 REAL, x2 REAL", [(1.0, 2.0, 3.0)], [("g", "3.")])
        self.sqlite("DELETE FROM no_rows")
        r, _ = self.run(self.libnames() + "FACTOR DATA=lite.no_rows NFACTORS=1 OUT=lite.none;\n"
                        "  BY g;\n  VAR x1 x2;\nRUN;\n", "no_rows_lite")
        if "processed inside the database" not in self.log(r) or "character BY" in self.log(r):
            self.fail("no rows in SQLite: not processed inside the database:\n" + self.log(r)[-1000:])

    def read_only_and_wrong_libraries(self):
        """A role that may read a table but not zul_tables reads it without
        the catalogue, with a note. An output a read-only database or role
        refuses stops the step at once, naming the table and the database's
        reason, with no cascade of failed statements. A file that is no
        SQLite database is refused at its LIBNAME."""
        self.run(self.libnames() + "FACTOR DATA=lite.survey NFACTORS=2 OUTSTAT=pg.rostat;\n"
                 "  VAR x1-x5;\nRUN;\n", "catalogue_made")
        self.pg.psql('CREATE ROLE zulreader LOGIN; GRANT SELECT ON "Survey" TO zulreader')
        reader = self.pg.conninfo().replace(f"user={self.pg.user}", "user=zulreader")
        r, _ = self.run(f"LIBNAME rdr POSTGRES '{reader}';\n"
                        "FACTOR DATA=rdr.survey NFACTORS=2; VAR x1-x5; RUN;\n", "catalogue_refused")
        if r.returncode != 0 or "are not known" not in r.stderr:
            self.fail("a role that may not read zul_tables cannot read a table:\n" + r.stderr)
        ro = self.pg.conninfo(extra="options='-c default_transaction_read_only=on'")
        ro = ro.replace("'", "''")
        # A read-only library of the writable library's file would need a
        # connection of its own, which can lock the other out: it is refused.
        self.refused(self.libnames() + "LIBNAME rolite SQLITE 'file:lite.db?mode=ro';\n",
                     "readonly_beside", "Library ROLITE cannot be assigned", "mode=ro")
        self.sqlite("CREATE TABLE IF NOT EXISTS kept (a REAL)",
                    path=os.path.join(self.work, "ro.db"))
        for lib, target in [("rolite", "SQLITE 'file:ro.db?mode=ro'"),
                            ("ropg", f"POSTGRES '{ro}'"), ("rdr", f"POSTGRES '{reader}'")]:
            r, _ = self.run(self.libnames() + f"LIBNAME {lib} {target};\n"
                            f"FACTOR DATA=lite.survey NFACTORS=2 OUT={lib}.scores; VAR x1-x5;\n"
                            "RUN;\n", "readonly_" + lib, expect_ok=False)
            errors = [l for l in r.stderr.splitlines() if l.startswith("ERROR")]
            if (r.returncode == 0 or len(errors) != 2 or
                    not any(f"Table {lib.upper()}.SCORES cannot be {what}" in errors[0]
                            for what in ("created", "written"))):
                self.fail(f"read-only {lib}: not one clear error:\n{r.stderr}")
        self.refused("LIBNAME notdb SQLITE 'survey.csv';\n", "not_a_database",
                     "cannot be opened: file is not a database")

    def no_output_over_input(self):
        """An output is refused when it is the input, however spelt."""
        self.refused(self.libnames() + "FACTOR DATA=pg.survey NFACTORS=1 OUT=pg.SURVEY;\n"
                     "  VAR x1-x5;\nRUN;\n", "overwrite", "would be overwritten")
        # A view of the output's name is refused before the step runs, not
        # when its end drops it, after the step's other outputs were written.
        self.pg.psql("CREATE VIEW shown AS SELECT 1 AS a")
        self.sqlite("CREATE VIEW shown AS SELECT 1 AS a")
        for lib, other in (("pg", "lite"), ("lite", "pg")):
            self.refused(self.libnames() + f"FACTOR DATA=pg.survey NFACTORS=1 OUT={lib}.Shown "
                         f"OUTSTAT={other}.beside;\n  VAR x1-x5;\nRUN;\n", "over_view",
                         "has a view shown")
            if (self.pg_value("SELECT count(*) FROM pg_class WHERE relname = 'beside'") != "0" or
                    self.sqlite("SELECT name FROM sqlite_master WHERE name = 'beside'")):
                self.fail(f"output over a view in {lib}: the other output was written")
        # A name PostgreSQL would cut to 63 bytes, writing another table.
        self.refused(self.libnames() + f"FACTOR DATA=pg.survey NFACTORS=1 OUT=pg.{'a' * 70};\n"
                     "  VAR x1-x5;\nRUN;\n", "long_name", "longer than the 63 bytes")

    def libraries_with_other_search_paths(self):
        """Two libraries of one database whose search paths hold other
        tables of one name: OUT= in the second is scored from the first's
        table, as the row path scores it, not from the second's namesake."""
        self.pg.psql("CREATE SCHEMA sp1; CREATE SCHEMA sp2; " + "; ".join(
            f"CREATE TABLE {s}.t AS SELECT i AS id, {f}(i) AS x1, {f}(i) + {g}(i * 1.3) AS x2, "
            f"{g}(i * 2.7) + {f}(i) AS x3 FROM generate_series(1, 60) i"
            for s, f, g in (("sp1", "sin", "cos"), ("sp2", "cos", "sin"))))
        conninfo = {s: self.pg.conninfo("postgres", "options=-csearch_path=" + s)
                    for s in ("sp1", "sp2")}
        libs = "".join(f"LIBNAME {s} POSTGRES '{c}';\n" for s, c in conninfo.items())
        for path in ("row", "in"):
            self.run(libs + ("OPTIONS INDB=NO;\n" if path == "row" else "") +
                     f"FACTOR DATA=sp1.t NFACTORS=1 OUT=sp2.o_{path} NOPRINT;\n"
                     "  VAR x1-x3;\nRUN;\n",
                     f"search_path_{path}")
        same = self.pg_value("SELECT count(*) FROM sp1.t JOIN sp2.o_row r USING (id) "
                             "JOIN sp2.o_in i USING (id) WHERE i.x1 = t.x1 AND "
                             "abs(i.factor1 - r.factor1) < 1e-12")
        if same != "60":
            self.fail(f"other search paths: {same} of 60 rows scored from DATA='s own table")

    def one_name_in_two_schemas(self):
        """Tables of one name. A library whose search path puts schema sx
        before public: its raw table sx.twin is not read with the TYPE of
        public.twin (each schema keeps its own catalogue), and OUT= over a
        table it reaches in public replaces that table in public, with its
        label there, instead of dropping it and writing a new one into sx.
        Of two spellings the one SQL without quotes reaches is replaced."""
        self.run(self.libnames() + "FACTOR DATA=pg.survey NFACTORS=1 OUTSTAT=pg.twin;\n"
                 "  VAR x1-x5;\nRUN;\n", "twin_outstat")
        self.pg.psql("CREATE SCHEMA sx; CREATE TABLE sx.twin AS SELECT id, x1, x2, x3 FROM "
                     '"Survey"; CREATE TABLE public.only_pub AS SELECT 1 AS marker')
        sx = self.pg.conninfo("postgres", "options=-csearch_path=sx,public")
        r, _ = self.run(f"LIBNAME sx POSTGRES '{sx}';\nFACTOR DATA=sx.twin NFACTORS=1 "
                        "OUT=sx.only_pub(LABEL='kept in public');\n  VAR x1-x3;\nRUN;\n",
                        "twin_raw")
        if "ended normally" not in r.stderr:
            self.fail("two schemas: sx.twin not read as raw data:\n" + r.stderr[-1500:])
        where = self.pg_value("SELECT string_agg(table_schema || '.' || column_name, ',' ORDER BY "
                              "table_schema) FROM information_schema.columns WHERE table_name = "
                              "'only_pub' AND column_name IN ('marker', 'factor1')")
        label = self.pg_value("SELECT label FROM public.zul_tables WHERE table_name = 'only_pub'")
        if where != "public.factor1" or label != "kept in public":
            self.fail(f"two schemas: OUT= went to {where!r}, label {label!r}")
        # "Twin2" and twin2: TWIN2 is twin2, as SQL without quotes has it.
        self.pg.psql('CREATE TABLE "Twin2" AS SELECT 1 AS marker; '
                     "CREATE TABLE twin2 AS SELECT 1 AS marker")
        self.run(self.libnames() + "FACTOR DATA=pg.survey NFACTORS=1 OUT=pg.TWIN2;\n"
                 "  VAR x1-x5;\nRUN;\n", "twin_case")
        replaced = self.pg_value("SELECT string_agg(table_name, ',') FROM "
                                 "information_schema.columns WHERE column_name = 'factor1' "
                                 "AND lower(table_name) = 'twin2'")
        if replaced != "twin2":
            self.fail(f"two spellings: OUT=pg.TWIN2 replaced {replaced!r}, not twin2")

    def nul_byte_in_text_by(self):
        """SQLite keeps a NUL byte inside a text: BY groups 'ab' and
        'ab<NUL>cd' are two, and each group's scores go to its own rows once
        (cut at the NUL, the second group scored the first's rows again)."""
        self.sqlite("CREATE TABLE nulby (id INTEGER, g TEXT, x1 REAL, x2 REAL, x3 REAL)")
        rnd = lcg(91)
        self.sqlite("INSERT INTO nulby VALUES (?, ?, ?, ?, ?)", [
            (i, "ab\0cd" if i > 20 else "ab", *(next(rnd) + (i % 5) for _ in range(3)))
            for i in range(1, 41)])
        if self.row_and_in("FACTOR DATA=lite.nulby NFACTORS=1 OUT=lite.nulby_{} NOPRINT;\n"
                           "  BY g;\n  VAR x1-x3;\nRUN;\n", "nulby")[1] is None:
            return
        same = self.sqlite("SELECT count(*), count(DISTINCT id) FROM nulby_in i JOIN nulby_row r "
                           "USING (id) WHERE abs(i.factor1 - r.factor1) < 1e-12 AND i.g = r.g")
        if same != [(40, 40)]:
            self.fail(f"NUL in a text BY value: (rows, ids) as the row path's {same}, not 40")

    def password_never_shown(self):
        """The password of a connection string stays out of the log, also
        when the connection fails."""
        for dbname in ("postgres", "no_such_db"):
            program = (f"LIBNAME pg POSTGRES '{self.pg.conninfo(dbname, 'password=Sekr3t')}';\n"
                       "FACTOR DATA=pg.survey NFACTORS=1;\n  VAR x1-x5;\nRUN;\n")
            r, tables = self.run(program, "password_" + dbname, expect_ok=dbname == "postgres")
            seen = r.stdout + r.stderr + json.dumps(tables)
            if "Sekr3t" in seen:
                self.fail(f"password: shown when connecting to {dbname}")
            if dbname == "no_such_db" and "password=***" not in r.stderr:
                self.fail("password: the failed connection is not described:\n" + r.stderr)
        # URIs as libpq reads them, and libpq's messages that quote a URI
        # (or the part of it that it cannot decode).
        host = self.pg.socket
        for k, uri in enumerate((f"postgresql://zul:Se?kr3t@/no_such_db?host={host}",
                                 f"postgresql:///no_such_db?host={host}&sslpassword=Sekr3t&password=Sekr3t",
                                 f"postgresql://zul:Se%zzkr3t@/postgres?host={host}",
                                 "postgresql://zul:Sekr3t@[::1/postgres")):
            r, _ = self.run(f"LIBNAME pg POSTGRES '{uri}';\n", f"password_uri{k}", expect_ok=False)
            if "kr3t" in r.stdout + r.stderr or "***" not in r.stderr:
                self.fail(f"password: shown or not described for {uri}:\n{r.stderr}")
        # No server on the socket: libpq's two lines of reason become one.
        self.refused(f"LIBNAME pg POSTGRES 'host={self.work}/nowhere dbname=x';\n", "no_server",
                     "cannot be reached")

    def missing_sqlite_file_not_created(self):
        """A misspelt SQLite path that is only read leaves no empty file;
        one that is written to becomes a database."""
        read, written = (os.path.join(self.work, n) for n in ("misspelt.db", "fresh.db"))
        self.refused(f"LIBNAME gone SQLITE '{read}';\nFACTOR DATA=gone.survey NFACTORS=1;\n"
                     "  VAR x1-x5;\nRUN;\n", "missing_sqlite", "a new file")
        # With no report file (the listing on standard output) the library
        # was closed at exit after the list of temporary files was gone.
        bare = subprocess.run([self.zul, "--work", self.work, self.program_file(
            f"LIBNAME gone SQLITE '{read}';\nFACTOR DATA=gone.survey;\n", "missing_bare")],
            capture_output=True, text=True, cwd=self.work)
        if bare.returncode != 2:
            self.fail(f"missing SQLite file, no reports: zul ended with {bare.returncode}")
        if os.path.exists(read):
            self.fail("missing SQLite file: reading it created it")
        self.run(f"LIBNAME fresh SQLITE '{written}';\nFACTOR DATA=survey NFACTORS=1 "
                 "OUT=fresh.scores;\n  VAR x1-x5;\nRUN;\n", "fresh_sqlite")
        if self.sqlite("SELECT count(*) FROM scores", path=written)[0][0] != len(self.rows):
            self.fail("new SQLite file: the scores are not in it")

    def interrupted_backend_ends(self):
        """Ctrl-C in the middle of a long statement in the database: the
        backend stops too, its transaction rolled back and zul's temporary
        functions gone, without waiting for the statement to end. An SQLite
        file the run created for its output is removed with its journal."""
        self.make_crawling_view()
        fresh = os.path.join(self.work, "interrupted.db")
        others = ("SELECT count(*) FROM pg_stat_activity WHERE datname = 'postgres' AND "
                  "pid <> pg_backend_pid() AND state <> 'idle'")
        left = ("SELECT (SELECT count(*) FROM pg_stat_activity WHERE datname = 'postgres' AND "
                "pid <> pg_backend_pid()) + (SELECT count(*) FROM pg_proc WHERE proname "
                "LIKE 'zul_put%')")
        zul = self.start(self.libnames() + f"LIBNAME fresh SQLITE '{fresh}';\nFACTOR DATA=pg.crawling "
                         "NFACTORS=1 OUT=pg.crawled OUTSTAT=fresh.st;\n  VAR x1-x3;\nRUN;\n", "interrupted")
        self.wait_for(others, lambda v: v != "0", 30)
        time.sleep(0.5)
        zul.send_signal(2)
        zul.wait()
        if self.wait_for(left, lambda v: v == "0", 10) != "0":
            self.fail("interrupted: a backend of zul, or its temporary functions, are still "
                      "there 10 s after zul ended")
        if os.path.exists(fresh):
            self.fail("interrupted: the SQLite file made for the output is left behind")

    def make_crawling_view(self):
        """pg.crawling: 100,000 rows read at a millisecond each."""
        self.pg.psql("CREATE TABLE IF NOT EXISTS slow_rows AS SELECT i AS id, random() AS x1, "
                     "random() AS x2, random() AS x3 FROM generate_series(1, 100000) i")
        self.pg.psql("CREATE OR REPLACE FUNCTION crawl(x float8) RETURNS float8 LANGUAGE plpgsql "
                     "AS $$ BEGIN PERFORM pg_sleep(0.001); RETURN x; END $$")
        self.pg.psql("CREATE OR REPLACE VIEW crawling AS SELECT id, crawl(x1) AS x1, x2, x3 "
                     "FROM slow_rows")

    def server_lost_mid_step(self):
        """The server stops while zul's aggregate runs, or while the row
        path reads by COPY: the step stops with an error that says the
        connection was lost, nothing is written and an old table is kept."""
        self.make_crawling_view()
        self.pg.psql("CREATE TABLE lost AS SELECT 1 AS marker")
        for name, options in (("server_lost", ""), ("server_lost_rows", "OPTIONS INDB=NO;\n")):
            zul = self.start(self.libnames() + options + "FACTOR DATA=pg.crawling NFACTORS=1 "
                             "OUT=pg.lost;\n  VAR x1-x3;\nRUN;\n", name)
            time.sleep(1.5)
            self.pg.crash()
            zul.wait(timeout=60)
            log = open(os.path.join(self.work, name + ".log")).read()
            self.pg.start_again()
            # One error for the loss: the rows are not tried on a server that has gone.
            if (zul.returncode == 0 or "ended normally" in log
                    or (not options and "not used" in log)
                    or log.count("the connection to the server was lost") != 1
                    or "run the program again" not in log):
                self.fail(f"{name}: status {zul.returncode}, log:\n{log[-1500:]}")
            if self.pg_value("SELECT count(marker) FROM lost") != "1":
                self.fail(f"{name}: the old table was not kept")
        # The server stops while zul waits for an SQLite file another process
        # holds locked: its next statement finds the connection gone.
        holder = sqlite3.connect(self.lite, isolation_level=None)
        try:
            holder.execute("BEGIN EXCLUSIVE")
            zul = self.start(f"LIBNAME pg POSTGRES '{self.pg.conninfo()}';\nLIBNAME lite SQLITE "
                             f"'{self.lite}';\nFACTOR DATA=lite.survey NFACTORS=1 OUT=pg.lost;\n"
                             "  VAR x1-x5;\nRUN;\n", "server_lost_idle")
            self.wait_for("SELECT count(*) FROM pg_stat_activity WHERE datname = 'postgres' "
                          "AND pid <> pg_backend_pid()", lambda v: v != "0", 30)
            self.pg.crash()
        finally:
            holder.close()
        zul.wait(timeout=60)
        log = open(os.path.join(self.work, "server_lost_idle.log")).read()
        self.pg.start_again()
        if zul.returncode == 0 or "the connection to the server was lost" not in log:
            self.fail(f"server lost while idle: status {zul.returncode}, log:\n{log[-1500:]}")

    def labels_and_type_kept(self):
        """TYPE and the table label go into the catalogue table and come back."""
        self.run(self.libnames() + "FACTOR DATA=lite.survey NFACTORS=2 "
                 "OUTSTAT=lite.fstat(LABEL='Two factors, O''Brien''s');\n  VAR x1-x5;\nRUN;\n"
                 "FACTOR DATA=lite.fstat NFACTORS=2;\nRUN;\n", "labels")
        rows = self.sqlite("SELECT type, label FROM zul_tables WHERE table_name = 'fstat' "
                           "AND column_name = ''")
        if rows != [("FACTOR", "Two factors, O'Brien's")]:
            self.fail(f"labels: the catalogue holds {rows}")

    def foreign_zul_tables(self):
        """A user's own table named zul_tables (other columns) does not stop
        reading the database; writing, whose TYPE would be lost, is refused
        up front with a message naming it, as is an output named like the
        catalogue itself, which is left whole."""
        path = os.path.join(self.work, "own.db")
        self.sqlite("CREATE TABLE zul_tables (id INTEGER, note TEXT)", path=path)
        self.sqlite("CREATE TABLE t (x1 REAL, x2 REAL, x3 REAL)", path=path)
        self.sqlite("INSERT INTO t VALUES (?, ?, ?)", [r[2:5] for r in self.rows], path=path)
        self.refused(f"LIBNAME own SQLITE '{path}';\nFACTOR DATA=own.t NFACTORS=1 OUTSTAT=own.st;\n"
                     "RUN;\n", "foreign_catalogue", "zul_tables of its own",
                     absent=["could not be prepared"])
        # A role that may read a table but not the catalogue.
        self.pg.psql(f"CREATE TABLE IF NOT EXISTS zul_tables ({CATALOGUE}); "
                     "CREATE ROLE outsider LOGIN; GRANT SELECT ON \"Survey\" TO outsider; "
                     "GRANT CREATE ON SCHEMA public TO outsider")
        outsider = self.pg.conninfo().replace(f"user={self.pg.user}", "user=outsider")
        self.refused(f"LIBNAME pg POSTGRES '{outsider}';\nFACTOR DATA=pg.survey NFACTORS=1;\n"
                     "  VAR x1-x5;\nRUN;\nFACTOR DATA=pg.survey NFACTORS=1 OUTSTAT=pg.st;\n"
                     "  VAR x1-x5;\nRUN;\n", "unreadable_catalogue", "does not let this user write",
                     absent=["permission denied"])
        # A table the role may read but not drop is refused before the step
        # runs, and one it may not read says which right it lacks.
        self.pg.psql("GRANT SELECT, INSERT, DELETE ON zul_tables TO outsider; "
                     "CREATE TABLE not_theirs AS SELECT 1 AS marker; "
                     "GRANT SELECT ON not_theirs TO outsider; CREATE TABLE unseen (x1 float8)")
        self.refused(f"LIBNAME pg POSTGRES '{outsider}';\nFACTOR DATA=pg.survey NFACTORS=1 "
                     "OUT=pg.not_theirs;\n  VAR x1-x5;\nRUN;\nFACTOR DATA=pg.unseen;\nRUN;\n",
                     "not_theirs", "belongs to another user", "have the right granted",
                     absent=["processed inside"])
        if self.pg_value("SELECT count(marker) FROM not_theirs") != "1":
            self.fail("a table of another owner: changed")
        kept = self.pg_value("SELECT count(*) FROM zul_tables")
        self.refused(self.libnames() + "FACTOR DATA=pg.survey NFACTORS=1 OUTSTAT=pg.ZUL_Tables;\n"
                     "  VAR x1-x5;\nRUN;\n", "catalogue_as_output", "zul_tables is where zul keeps")
        if self.pg_value("SELECT count(*) FROM zul_tables") != kept:
            self.fail("an output named zul_tables: the catalogue changed")
        # A name SQLite keeps for itself, refused before the step runs.
        self.refused(self.libnames() + "FACTOR DATA=lite.survey NFACTORS=1 "
                     "OUTSTAT=lite.sqlite_st;\n  VAR x1-x5;\nRUN;\n", "sqlite_name_as_output",
                     "start with sqlite_",
                     absent=["retained"])

    def formats_kept(self):
        """A FORMAT statement's formats go with OUT= into the catalogue and
        come back when that table is read."""
        for lib in ("lite", "pg"):
            self.run(self.libnames() +
                     f"FACTOR DATA={lib}.survey NFACTORS=2 OUT={lib}.fmt_scores;\n"
                     "  VAR x1-x5;\n  FORMAT x1 8.2 grp $12.;\nRUN;\n"
                     f"FACTOR DATA={lib}.fmt_scores NFACTORS=2 OUT=fmt_back_{lib};\n"
                     "  VAR x1-x5;\nRUN;\n", "formats_" + lib)
            path = os.path.join(self.work, f"fmt_back_{lib}.csv-metadata.json")
            columns = (json.load(open(path))["tableSchema"]["columns"]
                       if os.path.exists(path) else [])
            got = {c["name"]: c["zul:format"] for c in columns if "zul:format" in c}
            if got != {"x1": "8.2", "grp": "$12."}:
                self.fail(f"formats: read back from {lib}.fmt_scores as {got}")


    def long_values_kept(self):
        """A copied text longer than its column's width (a CSV width stops at
        32767), a label over 256 characters and a TYPE over 8 exceed the
        varchar columns first declared in PostgreSQL: all are kept whole."""
        note = "é" + "ab'\"" * 10000
        self.write_csv("long_notes", [["id", "note", "x1", "x2", "x3"]] + [
            [r[0], note if r[0] == 7 else "short", *r[2:5]] for r in self.rows])
        label = "Long " + "ü" * 290
        self.run(self.libnames() + f"FACTOR DATA=long_notes NFACTORS=1 OUT=pg.long_notes"
                 f"(LABEL='{label}') OUTSTAT=pg.long_type(TYPE='NOTESLONG');\n  VAR x1-x3;\n"
                 "RUN;\nFACTOR DATA=pg.long_notes NFACTORS=1 OUT=long_back;\n  VAR x1-x3;\nRUN;\n",
                 "long_values")
        stored = self.pg.psql("SELECT string_agg(CASE table_name WHEN 'long_notes' THEN label ELSE "
                              "type END, '|' ORDER BY table_name) FROM zul_tables WHERE "
                              "table_name IN ('long_notes', 'long_type') AND column_name = ''")
        back = [row["note"] for row in self.csv_rows("long_back") if row["id"] == "7"]
        if stored.strip() != label + "|NOTESLONG" or back != [note]:
            self.fail(f"long values: {stored[:40]!r}..., note read back whole: {back == [note]}")

    def groups_read_again(self):
        """OUT= reads each BY group twice: the row path replays a small group
        from the rows it kept and reads a large one (10 MB of text) again
        from the database; both give the scores of the in-database path."""
        self.pg.psql("CREATE TABLE again AS SELECT i AS id, i / 10 AS g, CASE WHEN i / 10 = 2 "
                     "THEN repeat('n', 1000000) ELSE 'short' END AS note, sin(i) AS x1, "
                     "cos(1.3 * i) AS x2, sin(0.7 * i) + cos(i) AS x3 "
                     "FROM generate_series(0, 59) i")
        scores = {}
        for indb in ("NO", "YES"):
            self.run(f"OPTIONS INDB={indb};\n" + self.libnames() + "FACTOR DATA=pg.again "
                     f"NFACTORS=1 OUT=pg.again_{indb};\n  VAR x1-x3;\n  BY g;\nRUN;\n",
                     "again_" + indb)
            rows = self.pg.psql(f"SELECT id, length(note), factor1 FROM again_{indb} ORDER BY id")
            scores[indb] = [line.split("|") for line in rows.split()]
        if len(scores["NO"]) != 60 or any(
                a[:2] != b[:2] or abs(float(a[2]) - float(b[2])) > 1e-9
                for a, b in zip(scores["NO"], scores["YES"])):
            self.fail(f"groups read again: the row path's scores differ:\n{scores}"[:1500])

    def table_under_a_view_replaced(self):
        """An SQLite table that a view reads is replaced by OUT= under it. A
        PostgreSQL one, which cannot be dropped while a view reads it, is
        refused before the step runs, and kept."""
        self.pg.psql("CREATE TABLE pg_viewed AS SELECT 1 AS marker; "
                     "CREATE VIEW pg_viewer AS SELECT * FROM pg_viewed")
        self.refused(self.libnames() + "FACTOR DATA=pg.survey NFACTORS=1 OUT=pg.pg_viewed;\n"
                     "  VAR x1-x5;\nRUN;\n", "pg_viewed", "view pg_viewer", absent=["retained"])
        if self.pg_value("SELECT count(marker) FROM pg_viewer") != "1":
            self.fail("a PostgreSQL table under a view: changed")
        self.sqlite("CREATE TABLE viewed (old REAL)")
        self.sqlite("CREATE VIEW viewer AS SELECT * FROM viewed")
        self.run(self.libnames() + "FACTOR DATA=lite.survey NFACTORS=1 OUT=lite.viewed;\n"
                 "  VAR x1-x5;\nRUN;\n", "viewed")
        n = self.sqlite("SELECT count(Factor1) FROM viewer")[0][0]
        if n != len(self.rows):
            self.fail(f"view: {n} of {len(self.rows)} new rows are seen through the view")

    # ---- the crossproducts computed by one aggregate statement and the
    # scores written by one insert ... select, against the row path ----
    def scores_in(self, lib, table):
        """id: [id, grp, factor1, factor2] of a scores table."""
        if lib == "lite":
            return {r[0]: list(r) for r in self.sqlite(f"SELECT id, grp, Factor1, Factor2 FROM {table}")}
        rows = (line.split("|") for line in self.pg.psql(
            f"SELECT id, grp, factor1, factor2 FROM {table}").splitlines())
        return {int(i): [int(i), g, *(float(f) if f else None for f in fs)] for i, g, *fs in rows}

    def same_as_row_path(self):
        """The CSV file, and both databases by the row path and inside the
        database: the same tables and scores, BY groups with a quote and
        blanks (pg.SURVEY is the table "Survey", OUT=pg.Scores its scores);
        the echo shows the statements and the closing note counts the rows."""
        step = "FACTOR DATA={} NFACTORS=2 ROTATE=VARIMAX OUT={};\n  BY grp;\n  VAR x1-x5;\nRUN;\n"
        _, t_csv = self.run(step.format("survey", "scores_csv"), "same_csv")
        want = {int(r["id"]): [int(r["id"]), r["grp"], float(r["Factor1"]), float(r["Factor2"])]
                for r in self.csv_rows("scores_csv")}
        by_groups = json.dumps([t["by"] for t in t_csv])
        if "O'Brien" not in by_groups or "van der Berg" not in by_groups:
            self.fail(f"same analysis: BY groups seen {by_groups[:300]}")
        for lib in ("lite", "pg"):
            r_row, t_row = self.run(self.libnames() + "OPTIONS INDB=NO;\n" +
                                    step.format(f"{lib}.survey", f"{lib}.sc_row"), "rowpath_" + lib)
            r_in, t_in = self.run(self.libnames() + "OPTIONS SQLECHO=YES;\n" +
                                  step.format(f"{lib}.SURVEY", f"{lib}.Scores"), "indb_" + lib)
            if "processed inside the database" not in self.log(r_in):
                self.fail(f"in-database {lib}: not used:\n{self.log(r_in)[-1500:]}")
                continue
            if "processed inside the database" in self.log(r_row):
                self.fail(f"in-database {lib}: INDB=NO did not switch it off")
            if "not one zul knows" in self.log(r_in) + self.log(r_row):
                self.fail(f"in-database {lib}: INDB= or SQLECHO= is not known")
            echo = self.log(r_in).lower()
            if "insert into" not in echo or "sum(" not in echo:
                self.fail(f"in-database {lib}: the echo lacks the statements")
            note = (f"Rows written to {lib.upper()}.SCORES inside the database, over all BY "
                    f"groups: {len(self.rows)}.")
            if note not in self.log(r_in):
                self.fail(f"in-database {lib}: no closing note with the row count")
            for path, tables, scores in (("row path", t_row, "sc_row"), ("inside", t_in, "scores")):
                if not t_csv or not close(t_csv, tables):
                    self.fail(f"{lib}, {path}: the tables differ from those of the CSV file")
                if not close(want, self.scores_in(lib, scores)):
                    self.fail(f"{lib}, {path}: the scores differ from those of the CSV file")

    def table_in_both(self, name, lite_columns, rows, formats=(), pg_columns=None):
        """Table `name` with the same rows in SQLite and PostgreSQL (None is
        null), and display formats (column, format) in both catalogues. The
        PostgreSQL columns are the SQLite ones, REAL as float8, unless given."""
        self.sqlite(f"CREATE TABLE {name} ({lite_columns})")
        self.sqlite(f"INSERT INTO {name} VALUES ({','.join('?' * len(rows[0]))})", rows)
        self.pg.psql(f"CREATE TABLE {name} ({pg_columns or lite_columns.replace(' REAL', ' float8')})")
        values = [sql_rows([r]) for r in rows]
        step = max(1, 60000 // max(map(len, values)))  # a command line holds at most 128 kB
        for at in range(0, len(values), step):
            self.pg.psql(f"INSERT INTO {name} VALUES " + ",".join(values[at:at + step]))
        if formats:
            values = ",".join(f"('{name}', '{c}', '{f}', '')" for c, f in formats)
            for run in (self.sqlite, self.pg.psql):
                run(f"CREATE TABLE IF NOT EXISTS zul_tables ({CATALOGUE})")
                run("INSERT INTO zul_tables VALUES " + values)

    def load_formatted(self):
        """fmt(id, g, c, x1-x4) in both databases, with g formatted 3. and c
        $1. in the catalogue: raw values 1.2 1.4 | 2.1 2.3 | 999.6 1000.2
        ("1000", wider than its format), names Anna Abe | Bea Bob | Cy Cyd.
        fmtr holds the same rows with g and c as formatted, and no format."""
        rnd = lcg(33)
        raw = [(1.4, "Anna"), (1.2, "Abe"), (2.3, "Bob"), (2.1, "Bea"),
               (1000.2, "Cyd"), (999.6, "Cy")]
        rows = []
        for i in range(120):
            g, c = raw[i % 6]
            f = [next(rnd) - 0.5, next(rnd) - 0.5]
            x = [f[0] + 0.3 * next(rnd), f[0] + 0.4 * next(rnd), f[1] + 0.3 * next(rnd),
                 f[0] + f[1] + 0.5 * next(rnd)]
            rows.append([i + 1, g, c] + [round(10 * v, 4) for v in x])
        shown = [[r[0], round(r[1]), r[2][0]] + r[3:] for r in rows]
        for name, data in (("fmt", rows), ("fmtr", shown)):
            self.table_in_both(name, "id INTEGER, g REAL, c TEXT, x1 REAL, x2 REAL, x3 REAL, x4 REAL",
                               data, [("g", "3."), ("c", "$1.")] if name == "fmt" else ())
        return len(rows)

    def formatted_by_groups(self):
        """A formatted BY variable, numeric and character, in both
        databases: three BY groups formed inside the database; the tables
        equal those of the same rows with the BY values as formatted, and
        the scores written inside the database cover every row, equal to
        theirs (each group selected by its formatted value)."""
        n = self.load_formatted()
        for lib in ("lite", "pg"):
            for by in ("g", "c"):
                step = (f"FACTOR DATA={lib}.{{}} NFACTORS=2 OUT={lib}.{{}}_{by};\n"
                        f"  BY {by};\n  VAR x1-x4;\nRUN;\n")
                what = f"formatted BY {by} in {lib}"
                r_fmt, t_fmt = self.run(self.libnames() + step.format("fmt", "fo"),
                                        f"fo_{lib}_{by}")
                _, t_shown = self.run(self.libnames() + step.format("fmtr", "fr"),
                                      f"fr_{lib}_{by}")
                log = self.log(r_fmt)
                if (f"Rows written to {lib.upper()}.FO_{by.upper()} inside the database, "
                        f"over all BY groups: {n}.") not in log:
                    self.fail(f"{what}: not scored inside the database:\n{log[-1500:]}")
                    continue
                groups = {json.dumps(t["by"]) for t in t_fmt}
                if len(groups) != 3:
                    self.fail(f"{what}: BY groups {sorted(groups)}")
                # Each group shows its formatted value, as the rows with
                # the values already formatted show theirs.
                shown = [t["by"] for t in t_fmt], [t["by"] for t in t_shown]
                if shown[0] != shown[1]:
                    self.fail(f"{what}: BY values shown {shown[0]}, not {shown[1]}")
                unby = [[{k: v for k, v in t.items() if k != "by"} for t in ts]
                        for ts in (t_fmt, t_shown)]
                if not t_shown or not close(unby[0], unby[1], 1e-8):
                    self.fail(f"{what}: the tables differ from those of the formatted values")
                want, got = (self.nullable_scores(lib, f"{t}_{by}") for t in ("fr", "fo"))
                if len(got) != n or not close(want, got, 1e-8):
                    self.fail(f"{what}: {len(got)} of {n} rows scored, or scores differ")
        self.formatted_by_crossproducts()

    def formatted_by_then_more_row_path(self):
        """Rows read from a database (INDB=NO) by a formatted BY variable
        followed by another: g 1. with 2 and 2.4 one group, c $1. with Aa
        and Ab one group, the later BY variable ordered against the raw
        values (2.4 a after 2 b). The groups are those of the same rows with
        the values as formatted, none split."""
        rnd = lcg(61)
        rows = []
        for i in range(64):
            g, h = [(2, "b"), (2.4, "a"), (2, "a"), (2.4, "b")][i % 4]
            c, k = [("Ab", 1), ("Aa", 2), ("Ab", 2), ("Aa", 1)][(i // 4) % 4]
            x = [next(rnd) for _ in range(3)]
            rows.append((g, h, c, k, x[0], x[0] + 0.5 * x[1], x[1] + 0.5 * x[2]))
        shown = [(round(r[0]), r[1], r[2][0]) + r[3:] for r in rows]
        for name, data in (("fmt2", rows), ("fmt2r", shown)):
            self.table_in_both(name, "g REAL, h TEXT, c TEXT, k REAL, x1 REAL, x2 REAL, x3 REAL",
                               data, [("g", "1."), ("c", "$1.")] if name == "fmt2" else ())
        for lib in ("lite", "pg"):
            for by in ("g h", "c k"):
                got = [self.run(self.libnames() + f"OPTIONS INDB=NO;\nFACTOR DATA={lib}.{t} "
                                "NFACTORS=1;\n  BY " + by + ";\n  VAR x1-x3;\nRUN;\n",
                                f"f2_{lib}_{t}_{by[0]}")[1] for t in ("fmt2", "fmt2r")]
                groups = {json.dumps(t["by"]) for t in got[0]}
                if len(groups) != 2 or not close(got[0], got[1], 1e-12):
                    self.fail(f"formatted BY {by} then more in {lib}: groups {sorted(groups)}, "
                              "or tables not those of the formatted values")

    def formatted_by_without_temp_right(self):
        """A user who may not create temporary functions (no TEMP right)
        has no zul_put. Rows that must be sorted by it stop the step with an
        error that says why and what to do, not the database's "schema
        pg_temp does not exist"; without a formatted BY the rows are read,
        after one warning for all the queries the database refused; the
        crossproducts of a formatted BY variable are computed from the
        rows, with a note, and the step succeeds."""
        self.pg.psql("CREATE ROLE no_temp LOGIN; GRANT SELECT ON ALL TABLES IN SCHEMA public TO "
                     "no_temp; REVOKE TEMP ON DATABASE postgres FROM PUBLIC")
        lib = f"LIBNAME pg POSTGRES '{self.pg.conninfo('postgres', 'user=no_temp')}';\n"
        step = "FACTOR DATA=pg.fmt2 NFACTORS=1;\n  BY g h;\n  VAR x1-x3;\nRUN;\n"
        try:
            by_put, _ = self.run(lib + step, "no_temp", expect_ok=False)
            rows, _ = self.run(lib + step.replace("  BY g h;\n", ""), "no_temp_rows")
            xpx, tables = self.run(lib + "FACTOR DATA=pg.fmt NFACTORS=1;\n  BY g;\n  VAR x1-x4;\nRUN;\n"
                                   "CROSSPRODUCTS DATA=pg.fmt OUT=xnotemp;\n  BY g;\n  VAR x1-x4;\n"
                                   "RUN;\n", "fo_notemp")
        finally:
            self.pg.psql("GRANT TEMP ON DATABASE postgres TO PUBLIC")
        self.expect_log(by_put, "the user needs the TEMP right", "no TEMP right: unclear error")
        if self.log(rows).count("permission denied to create temporary tables") != 1:
            self.fail("no TEMP right: not one warning:\n" + self.log(rows)[-1500:])
        for note in ("could not compute the crossproducts",
                     "The crossproducts of PG.FMT are computed from its rows"):
            self.expect_log(xpx, note, "formatted BY without zul_put: the rows were not read")
        if not tables:
            self.fail("formatted BY without zul_put: FACTOR gave no tables")

    def text_by_as_row_path(self):
        """A character BY column whose collation is not byte order (a
        case-blind ICU one in PostgreSQL, where 'AB' = 'Ab'; NOCASE in
        SQLite) and whose values differ by a trailing blank ('B', 'B '),
        with null, empty and blank values (the one missing value),
        without and with a format ($1.: AB and Ab are
        group A, whose first value in byte order is AB): the groups
        formed in the database are the row path's, in its order; every row
        is scored once; the OUTSTAT= table carries each group's BY value;
        CROSSPRODUCTS gives the same groups."""
        rnd = lcg(51)
        rows = []
        for i, g in enumerate(["AB", "Ab", "B", "B ", None, "", "  ", "a", "b"] * 8):
            x = [next(rnd) for _ in range(3)]
            rows.append((i + 1, g, x[0], x[0] + 0.5 * x[1], x[1] + 0.5 * x[2]))
        self.pg.psql("CREATE COLLATION caseless (provider = icu, locale = 'und-u-ks-level2', "
                     "deterministic = false)")
        self.table_in_both("bytext", "id INTEGER, grp TEXT COLLATE NOCASE, x1 REAL, x2 REAL, x3 REAL",
                           rows, pg_columns='id integer, grp varchar(4) COLLATE caseless, '
                           "x1 float8, x2 float8, x3 float8")
        for lib in ("lite", "pg"):
            for fmt in ("", "  FORMAT grp $1.;\n"):
                what = f"text BY in {lib}" + (" formatted" if fmt else "")
                outstat, scores, written = self.both_paths(lib, "bytext", "grp", fmt, "bt")
                if "in" not in outstat:
                    continue
                by = [[row["grp"] for row in outstat[p]] for p in ("row", "in")]
                want = ["", "AB", "B", "a", "b"] if fmt else ["", "AB", "Ab", "B", "a", "b"]
                if by[0] != want or by[1] != want:
                    self.fail(f"{what}: OUTSTAT= BY values {by[1]}, row path {by[0]}")
                if not close([float(row["x1"]) for row in outstat["in"]],
                             [float(row["x1"]) for row in outstat["row"]], 1e-12):
                    self.fail(f"{what}: group sizes {outstat['in']} against {outstat['row']}")
                if written["in"] != len(rows) or len(scores["in"]) != len(rows) or any(
                        v is None for v in scores["in"].values()):
                    self.fail(f"{what}: {written['in']} rows written for {len(rows)} rows")
            r, _ = self.run(self.libnames() + f"CROSSPRODUCTS DATA={lib}.bytext OUT=btx_{lib};\n"
                            "  BY grp;\n  VAR x1-x3;\nRUN;\n", f"btx_{lib}")
            groups = [row["grp"] for row in self.csv_rows(f"btx_{lib}")]
            if groups != ["", "AB", "Ab", "B", "a", "b"]:
                self.fail(f"text BY crossproducts in {lib}: groups {groups}")

    def missing_text_then_more_by(self):
        """Null, empty and blank values of a text BY variable are one missing
        value on the row path too: the rows of a later BY variable, mixed
        among them, are still in order (without and with a format)."""
        rnd = lcg(53)
        rows = [(i + 1, [None, "", "  "][i % 3], 1 + i // 12) + tuple(next(rnd) for _ in range(3))
                for i in range(24)]
        self.table_in_both("mixmiss", "id INTEGER, grp TEXT, k INTEGER, x1 REAL, x2 REAL, x3 REAL", rows)
        for lib in ("lite", "pg"):
            for fmt in ("", "  FORMAT grp $1.;\n"):
                name = f"mixmiss_{lib}{'_f' if fmt else ''}"
                self.run(self.libnames() + f"OPTIONS INDB=NO;\nFACTOR DATA={lib}.mixmiss "
                         f"NFACTORS=1 OUTSTAT={name} NOPRINT;\n  BY grp k;\n{fmt}"
                         "  VAR x1-x3;\nRUN;\n", name)
                got = [(row["grp"], row["k"], row["x1"]) for row in self.csv_rows(name)
                       if row["_TYPE_"] == "N"]
                if got != [("", "1", "12"), ("", "2", "12")]:
                    self.fail(f"{name}: groups {got}")

    def not_finite_by_values(self):
        """NaN and the infinities in a numeric BY column (a double and a
        numeric in PostgreSQL; SQLite keeps a NaN as null) are missing to
        zul, as null is: one missing group on both paths, ordered first, its
        rows scored with its coefficients. Integers beyond 2^53 form the
        groups of the doubles zul reads (2^53 + 1 is 2^53), and every row of
        such a group is scored. The OUT= table copies the rows alike on both
        paths: a NaN as missing, text without trailing blanks."""
        rnd = lcg(53)
        rows = []
        for i, g in enumerate([1.0, math.inf, 2.0, None, -math.inf, math.nan] * 10):
            x = [next(rnd) for _ in range(3)]
            rows.append((i + 1, g, g, 2 ** 53 + 1 + i % 3, ["a ", "a", None, " b", "c  "][i % 5],
                         x[0], x[0] + 0.5 * x[1], x[1] + 0.5 * x[2]))
        self.table_in_both("nonfinite", "id INTEGER, g REAL, gn NUMERIC, big INTEGER, t TEXT, x1 REAL, "
                           "x2 REAL, x3 REAL", rows, pg_columns="id integer, g float8, gn numeric, "
                           "big bigint, t varchar(5), x1 float8, x2 float8, x3 float8")
        expected = {"g": ["", "1", "2"], "gn": ["", "1", "2"],
                    "big": [str(2 ** 53), str(2 ** 53 + 2), str(2 ** 53 + 4)]}
        for lib in ("lite", "pg"):
            for by in ("g", "gn", "big"):
                what = f"non-finite BY {by} in {lib}"
                outstat, scores, written = self.both_paths(lib, "nonfinite", by, "", "nf")
                if "in" not in outstat:
                    continue
                groups = [[row[by] for row in outstat[p]] for p in ("row", "in")]
                if groups[0] != expected[by] or groups[1] != groups[0]:
                    self.fail(f"{what}: groups {groups[1]}, row path {groups[0]}")
                if written["in"] != len(rows) or not close(scores["in"], scores["row"], 1e-10):
                    self.fail(f"{what}: scores differ from the row path's")
                copies = {}
                for path in ("row", "in"):
                    query = f"SELECT id, {by}, coalesce(t, 'null') FROM nf_{lib}_{by}_{path} ORDER BY id"
                    copies[path] = self.pg.psql(query) if lib == "pg" else self.sqlite(query)
                if copies["in"] != copies["row"]:
                    self.fail(f"{what}: copied columns differ:\n{copies['in']}\nrow path:\n{copies['row']}")
        # A PostgreSQL timestamp or date of +-infinity is missing too: the row
        # path orders it with the nulls (it came last, and stopped the step),
        # and OUT= copies it as missing on both paths.
        self.pg.psql("CREATE TABLE infdates AS SELECT id, CASE WHEN g = 'Infinity' THEN 'infinity' "
                     "WHEN g = '-Infinity' THEN '-infinity' WHEN g = 1 THEN '2030-01-01 10:00+02' "
                     "WHEN g = 2 THEN '1950-06-30' END::timestamptz AS ts, x1, x2, x3 FROM nonfinite")
        for kind in ("timestamptz", "date"):
            self.pg.psql(f"ALTER TABLE infdates ALTER COLUMN ts TYPE {kind}")
            outstat, _, written = self.both_paths("pg", "infdates", "ts", "", "nfd_" + kind)
            groups = [[row["ts"] for row in outstat.get(p, [])] for p in ("row", "in")]
            if len(groups[0]) != 3 or groups[1] != groups[0] or written.get("in") != len(rows):
                self.fail(f"infinite {kind} BY values: groups {groups[1]}, row path {groups[0]}")
            same = self.pg_value(f"SELECT count(*) FROM nfd_{kind}_pg_ts_row r JOIN nfd_{kind}_pg_ts_in i "
                                 "USING (id) WHERE r.ts IS NOT DISTINCT FROM i.ts")
            if same != str(len(rows)):
                self.fail(f"infinite {kind} copied: {same} of {len(rows)} as the row path's")

    def far_dates_and_numeric_by(self):
        """PostgreSQL dates before the year 1 (0044-03-15 BC) and after
        9999, and numeric BY values 9 and 10: the row path reads such dates
        (it read them as missing) and orders such groups by their values,
        not their text (10000-01-01 before 2020-02-02, 10 before 9, which
        stopped the step); both paths give the same groups, scores and
        copies."""
        self.pg.psql("CREATE TABLE far AS SELECT i AS id, (ARRAY[date '0044-03-15 BC', date '10000-01-01', "
                     "date '2020-02-02'])[i % 3 + 1] AS d, (ARRAY[9, 10, 100])[i % 3 + 1]::numeric AS n, "
                     "sin(i) AS x1, cos(i * 1.3) + sin(i) AS x2, sin(i * 2.7) AS x3 FROM generate_series(1, 60) i")
        for by in ("d", "n"):
            outstat, scores, written = self.both_paths("pg", "far", by, "", "far")
            if "in" not in outstat:
                continue
            groups = [[row[by] for row in outstat[p]] for p in ("row", "in")]
            if len(groups[0]) != 3 or groups[0] != groups[1] or written["in"] != 60 or not close(
                    scores["in"], scores["row"], 1e-10):
                self.fail(f"far dates BY {by}: groups {groups[1]}, row path {groups[0]}, or scores differ")
        copies = [self.pg.psql(f"SELECT id, d FROM far_pg_d_{p} ORDER BY id") for p in ("row", "in")]
        if copies[0] != copies[1] or "BC" not in copies[0]:
            self.fail(f"far dates: copies {copies[1][:80]} against the row path's {copies[0][:80]}")
        # A numeric beyond a double stops the step, on both paths, rather
        # than be read as missing (its row dropped, a null copied).
        self.pg.psql("UPDATE far SET n = 1e400 WHERE id = 7")
        for path in ("OPTIONS INDB=NO;\n", ""):
            self.refused(self.libnames() + path + "FACTOR DATA=pg.far NFACTORS=1 NOPRINT "
                         "OUT=pg.far_out;\n  VAR n x1-x3;\nRUN;\n", "far_numeric",
                         "column n: the value 1000000")

    def text_in_numeric_sqlite_columns(self):
        """Text that SQLite keeps in a numeric column ('abc', '') is missing
        to zul; inside the database cast() made it 0 and the step ran on
        wrong sums. Analysis, BY and WEIGHT columns, on both paths."""
        self.sqlite("CREATE TABLE mixed (id INTEGER, g INTEGER, w REAL, x1 REAL, x2 REAL, x3 REAL)")
        rnd = lcg(57)
        rows = []
        for i in range(1, 61):
            x = [next(rnd) for _ in range(3)]
            rows.append((i, "x" if i % 11 == 0 else i % 2, "" if i % 9 == 0 else 1 + i % 3,
                         "abc" if i % 10 == 0 else x[0], "" if i % 13 == 0 else x[0] + 0.5 * x[1],
                         x[1] + 0.5 * x[2]))
        self.sqlite("INSERT INTO mixed VALUES (?,?,?,?,?,?)", rows)
        outstat, scores, written = self.both_paths("lite", "mixed", "g", "  WEIGHT w;\n", "mx")
        if "in" in outstat:
            if len(outstat["row"]) != 3 or not close(outstat["row"], outstat["in"], 1e-12):
                self.fail(f"text in numeric columns: N {outstat['in']} against {outstat['row']}")
            if written["in"] != 60 or not close(scores["in"], scores["row"], 1e-10):
                self.fail("text in numeric columns: scores differ from the row path's")
        # A column without a declared type that holds text is character to
        # zul: inside the database its copies were written as nulls.
        self.sqlite("CREATE VIEW noted AS SELECT *, CASE WHEN id % 2 THEN 'odd' END AS note FROM mixed")
        self.row_and_in("FACTOR DATA=lite.noted NFACTORS=1 NOPRINT OUT=lite.noted_{};\n  BY g;\n"
                        "  VAR x1-x3;\nRUN;\n", "noted")
        notes = [self.sqlite(f"SELECT id, note FROM noted_{p} ORDER BY id") for p in ("row", "in")]
        if notes[0] != notes[1] or (1, "odd") not in notes[0]:
            self.fail(f"untyped text copied: {notes[1][:4]}, row path {notes[0][:4]}")

    def formatted_by_crossproducts(self):
        """CROSSPRODUCTS of the formatted BY variable inside both databases:
        the sums of the formatted values' groups, each group with its
        smallest raw value."""
        for lib in ("lite", "pg"):
            got = {}
            for t in ("fmt", "fmtr"):
                r, _ = self.run(self.libnames() + f"CROSSPRODUCTS DATA={lib}.{t} OUT=x{t}_{lib};\n"
                                "  BY g;\n  VAR x1-x4;\nRUN;\n", f"x{t}_{lib}")
                if "computed inside the database" not in self.log(r):
                    self.fail(f"formatted crossproducts {lib}: not inside the database")
                got[t] = [{k: float(v) for k, v in row.items() if k != "_DNAME_"}
                          for row in self.csv_rows(f"x{t}_{lib}")]
            by = [row.pop("g") for row in got["fmt"]]
            if by != [1.2, 2.1, 999.6]:
                self.fail(f"formatted crossproducts {lib}: BY values {by}")
            for row in got["fmtr"]:
                del row["g"]
            if not close(got["fmt"], got["fmtr"], 1e-8):
                self.fail(f"formatted crossproducts {lib}: the sums differ from those of "
                          "the formatted values")

    def sqlite_types_probed(self):
        """SQLite: analysis columns without a declared type and a DATE column
        kept as text are scored in the database (the type probe must not
        refuse them as characters), as the row path scores them."""
        self.sqlite("CREATE TABLE loose (id INTEGER, seen DATE, x1, x2, x3)")
        self.sqlite("INSERT INTO loose VALUES (?,?,?,?,?)",
                    [(r[0], f"2030-01-{1 + r[0] % 28:02d}", r[2], r[3], r[4]) for r in self.rows])
        self.row_and_in("FACTOR DATA=lite.loose NFACTORS=1 OUT=lite.loose_{};\n  VAR x1-x3;\nRUN;\n",
                        "loose", "Rows written to LITE.LOOSE_IN inside the database")
        diff = self.sqlite("SELECT count(*) FROM loose_row a JOIN loose_in b USING (id) WHERE "
                           "a.seen = b.seen AND abs(a.Factor1 - b.Factor1) < 1e-9")[0][0]
        if diff != len(self.rows):
            self.fail(f"SQLite types: {diff} of {len(self.rows)} rows agree with the row path")

    def one_pass_far_groups(self):
        """Under SQLPASSES=1 every group is summed about the table's first
        row: a group near 1e8 would keep no digit of its variances, so
        FACTOR and CROSSPRODUCTS refuse it (two passes analyse it)."""
        rnd = lcg(7)
        rows = [(g, base + next(rnd), base + next(rnd)) for g, base in ((1, 0.0), (2, 1e8))
                for _ in range(20)]
        self.table_in_both("far_groups", "g REAL, x1 REAL, x2 REAL", rows)
        os.makedirs(os.path.join(self.work, "far"), exist_ok=True)
        for lib in ("lite", "pg"):
            for passes, step in ((1, "FACTOR DATA={}.far_groups NFACTORS=1 OUTSTAT=far_stat;"),
                                 (1, "CROSSPRODUCTS DATA={}.far_groups OUT=far._MKXPX_;"),
                                 (2, "FACTOR DATA={}.far_groups NFACTORS=1 OUTSTAT=far_stat;")):
                r, _ = self.run(f"OPTIONS SQLPASSES={passes};\n" + self.libnames() +
                                f"LIBNAME far '{self.work}/far';\n" + step.format(lib) +
                                "\n  BY g;\nRUN;\n", f"far_{lib}", expect_ok=passes == 2)
                if passes == 1 and (r.returncode == 0 or "too far from the means" not in r.stderr):
                    self.fail(f"one pass, {lib}: {step.split()[0]} not refused:\n" + r.stderr[-800:])

    def partial_takes_row_path(self):
        """PARTIAL needs the rows: the note says so and the scores are written."""
        r, _ = self.run(self.libnames() + "FACTOR DATA=pg.survey NFACTORS=1 OUT=pg.part;\n"
                        "  VAR x1-x4;\n  PARTIAL x5;\nRUN;\n", "partial")
        log = self.log(r)
        if "switched off because the step has a PARTIAL statement" not in log:
            self.fail("partial: no note of the row path:\n" + log[-1500:])
        if "processed inside the database" in log:
            self.fail("partial: processed inside the database")
        if self.pg.psql("SELECT count(*) FROM part").strip() != str(len(self.rows)):
            self.fail("partial: the scores were not written")

    def wide_table(self):
        """120 variables: more crossproducts than a statement has columns, so
        the aggregate is written in blocks; still processed inside both
        databases, with the row path's tables and scores. Under SQLPASSES=1
        the query of the first row is finished before SQLite's table of
        deviations is dropped (a statement under way locks it)."""
        self.scores_as_row_path("wide", three_factor_rows(99, 120, 300))
        step = "FACTOR DATA=lite.wide NFACTORS=3;\n  VAR x1-x120;\nRUN;\n"
        _, want = self.run(self.libnames() + "OPTIONS INDB=NO;\n" + step, "wide_rows")
        r, got = self.run(self.libnames() + "OPTIONS SQLPASSES=1;\n" + step, "wide_one_pass")
        if "ERROR" in self.log(r) or not want or not close(want, got, 1e-8):
            self.fail("wide, one pass in SQLite: " + self.log(r)[-800:])

    def very_wide_table(self):
        """700 columns: more than one statement may return when each column
        is looked at three ways. Read by the row path, the numbers equal
        those of the same rows from CSV; the text and the untyped SQLite
        column at the end (in a later statement) keep their width and type."""
        nx, nrows = 697, 60
        rnd = lcg(7)
        rows = []
        for i in range(nrows):
            f = next(rnd) - 0.5
            x = [round(10 * (f + 0.5 * (next(rnd) - 0.5)), 6) if j < 5 else i + j
                 for j in range(nx + 1)]  # the last is u
            rows.append([i + 1] + x + ["name number " + "x" * (i % 17) + str(i)])
        self.write_csv("verywide", [["id"] + [f"x{j + 1}" for j in range(nx)] + ["u", "name"]] + rows)
        xs = ", ".join(f"x{j + 1} REAL" for j in range(nx))
        self.table_in_both("verywide", f"id INTEGER, {xs}, u, name TEXT", rows,
                           pg_columns=f"id integer, {xs.replace('REAL', 'float8')}, u float8, name text")
        step = ("OPTIONS INDB=NO;\nFACTOR DATA={} NFACTORS=1 OUT=vw_{};\n"
                "  VAR x1-x4 u;\nRUN;\n")
        _, want = self.run(self.libnames() + step.format("verywide", "csv"), "verywide_csv")
        names = [r[-1] for r in rows]
        for lib in ("lite", "pg"):
            r, got = self.run(self.libnames() + step.format(lib + ".verywide", lib),
                              "verywide_" + lib)
            if r.returncode != 0:
                continue
            if not want or not close(want, got, 1e-10):
                self.fail(f"very wide {lib}: the tables differ from those of the CSV file")
            out = self.csv_rows(f"vw_{lib}")
            if [o["name"] for o in out] != names:
                self.fail(f"very wide {lib}: the text column came back as "
                          f"{[o['name'] for o in out][:3]}")

    def dates_summed_in_database(self):
        """Date and time analysis variables count days and seconds from 1960
        in the aggregate as in the row path (not the year SQLite would read
        from a date's text); an infinite date is a missing value there too."""
        self.pg.psql("INSERT INTO visits VALUES ('infinity', '10:00', '-infinity', 1, 2, 3)")
        for lib, src, vars_ in (("pg", "visits", "d t x1-x3"), ("lite", "loose", "seen x1-x3")):
            t_row, t_in = self.row_and_in(f"FACTOR DATA={lib}.{src} NFACTORS=1 CORR;\n  VAR {vars_};\n"
                                          "RUN;\n", "dsum_" + lib)
            if t_in is not None and (not t_row or not close(t_row, t_in, 1e-8)):
                self.fail(f"dates summed {lib}: the tables differ from the row path")

    def dates_as_by_groups(self):
        """A date and a timestamp (2030) as BY variables, with and without a
        format, in both databases: the groups, the OUTSTAT= table and the
        scores written inside the database are the row path's (each group's
        rows selected by the day or second count zul reads). CROSSPRODUCTS
        of a date variable sums its day counts, as the row path does. Some
        timestamps are spelled with a 'T', after the other group's as text."""
        rnd = lcg(77)
        rows = []
        for i in range(60):
            ts = "2030-01-01T10:00:00" if i % 4 == 1 else "2030-01-01 10:00:00"
            d, ts = ("2020-01-01", ts) if i % 2 else ("2021-06-30", "2030-01-01 10:00:30")
            rows.append((i + 1, d, ts, next(rnd), next(rnd), next(rnd)))
        self.table_in_both("dated", "id INTEGER, d DATE, ts TIMESTAMP, x1 REAL, x2 REAL, x3 REAL", rows)
        for lib in ("lite", "pg"):
            for by, fmt in (("d", ""), ("ts", ""), ("d", "  FORMAT d 6.;\n")):
                what = f"BY {by}{' formatted' if fmt else ''} in {lib}"
                outstat, scores, _ = self.both_paths(lib, "dated", by, fmt, "dby")
                if "in" not in outstat:
                    continue
                if [(r[by], r["x1"]) for r in outstat["in"]] != [(r[by], r["x1"]) for r in outstat["row"]]:
                    self.fail(f"{what}: groups {outstat['in']} against {outstat['row']}")
                if len(scores["in"]) != len(rows) or not close(scores["row"], scores["in"], 1e-8):
                    self.fail(f"{what}: the scores differ from the row path")
            self.row_and_in(f"CROSSPRODUCTS DATA={lib}.dated OUT=_MKXPX_;\n  VAR d x1 x2;\nRUN;\n"
                            f"FACTOR DATA=_MKXPX_ NFACTORS=1 CORR NOPRINT OUTSTAT=dxp_{lib}_{{0}};\n"
                            "  VAR d x1 x2;\nRUN;\n", f"dxp_{lib}", "computed inside the database")
            tables = [[numeric(row) for row in self.csv_rows(f"dxp_{lib}_{p}")] for p in ("row", "in")]
            if not tables[0] or not close(tables[0], tables[1], 1e-8):
                self.fail(f"date crossproducts in {lib}: {tables[1]} against {tables[0]}")

    def messages_name_data(self):
        """A group summarised inside the database is reported under the
        user's table, not the crossproducts table zul reads it from."""
        self.sqlite("CREATE TABLE tiny (g INTEGER, x REAL, y REAL)")
        self.sqlite("INSERT INTO tiny VALUES (?,?,?)", [(1, 1, 2), (2, 1, 2), (2, 2, 3), (2, 3, 5)])
        r, _ = self.run(self.libnames() + "FACTOR DATA=lite.tiny NFACTORS=1;\n  BY g;\n  VAR x y;\nRUN;\n",
                        "tiny", expect_ok=False)
        if "Table LITE.TINY has too few usable observations" not in self.log(r) or "_ZSQL_" in self.log(r):
            self.fail(f"messages of a group summarised in the database:\n{self.log(r)[-1000:]}")

    def both_paths(self, lib, data, by, fmt, prefix):
        """FACTOR BY `by` (with the FORMAT statement `fmt`) of lib.data with
        OUT= in the database, by the row path ("row") and inside the
        database ("in"): for each, the N rows of its OUTSTAT= table, id:
        factor1 of its OUT= table and the number of rows written (empty
        when not scored inside the database)."""
        name = f"{prefix}_{lib}_{by}_{{0}}{'_f' if fmt else ''}"
        if self.row_and_in(f"FACTOR DATA={lib}.{data} NFACTORS=1 OUTSTAT={name} OUT={lib}.{name} "
                           f"NOPRINT;\n  BY {by};\n{fmt}  VAR x1-x3;\nRUN;\n", name.format("run"),
                           "Rows written to")[1] is None:
            return {}, {}, {}
        outstat, scores, written = {}, {}, {}
        for path in ("row", "in"):
            outstat[path] = [row for row in self.csv_rows(name.format(path)) if row["_TYPE_"] == "N"]
            rows = self.numbers(lib, f"SELECT id, factor1 FROM {name.format(path)}")
            scores[path] = {int(r[0]): r[1] for r in rows}
            written[path] = len(rows)
        return outstat, scores, written

    def failed_aggregate_still_commits(self):
        """A view that fails PostgreSQL's aggregate (and only it): the step
        falls back to the rows, and the OUT= table of the same transaction
        is committed with the row path's scores."""
        self.pg.psql("CREATE FUNCTION no_sums() RETURNS boolean LANGUAGE plpgsql AS $$ BEGIN "
                     "IF position('\"_Q1_1_\"' in current_query()) > 0 THEN "
                     "RAISE EXCEPTION 'no sums here'; END IF; RETURN true; END $$")
        self.pg.psql("CREATE VIEW huge AS SELECT id, n AS big, x1, x2, x3 FROM kinds WHERE no_sums()")
        self.row_and_in("FACTOR DATA=pg.huge NFACTORS=1 OUT=pg.huge_{};\n  VAR big x1-x3;\nRUN;\n",
                        "huge", "could not compute the crossproducts")
        same = self.pg_value("SELECT count(*) FROM huge_row a JOIN huge_in b USING (id) WHERE "
                             "a.factor1 IS NOT DISTINCT FROM b.factor1")
        if same != "12":
            self.fail(f"failed aggregate: {same} of 12 scores committed as the row path's")

    def booleans_in_database(self):
        """A boolean column, which the row path reads as 0 and 1, as an
        analysis variable, as a BY variable and copied to OUT=: summed and
        scored inside PostgreSQL, with the row path's OUTSTAT= table and
        scores (the boolean written to OUT='s numeric column)."""
        for name, stmts in (("bv", "  VAR b x1-x3;\n"), ("bb", "  BY b;\n  VAR n x1-x3;\n")):
            scores = self.outstat_and_scores("kinds", stmts, name, "b", 1e-9)
            if scores is not None and len(scores) != 12:
                self.fail(f"booleans {name}: {len(scores)} scores")
        self.crossproducts_as_row_path("kinds", "  VAR b x1-x3;\n", ["b", "x1", "x2", "x3"], 1e-12)
        self.crossproducts_as_row_path("kinds", "  BY b;\n  VAR n x1-x3;\n", ["n", "x1", "x2", "x3"], 1e-12)

    def reals_in_database(self):
        """Single precision columns, which zul reads by their decimal text
        (0.1, not 0.10000000149011612), as an analysis variable near 10^6
        (where the two readings differ in the spread), a BY variable and a
        copied column: summed and scored inside PostgreSQL with the row
        path's OUTSTAT= table, scores and copied values; r's type is a
        domain of a domain of real, read as a real. A date BY variable
        beside it selects its groups' rows by their days since 1960."""
        rnd = lcg(77)
        rows = []
        for i in range(40):
            f = next(rnd) - 0.5
            rows.append((i + 1, None if i % 7 == 0 else f"2014-10-0{i % 3 + 1}", round(1e6 + f * 5, 2),
                         [0.1, 2.6][i % 2], round(f + 0.3 * next(rnd), 4), round(f + 0.4 * next(rnd), 4)))
        self.pg.psql("CREATE DOMAIN reading AS real; CREATE DOMAIN positive AS reading CHECK (VALUE > 0); "
                     "CREATE TABLE reals (id integer, d date, r positive, g real, x1 float8, x2 float8); "
                     "INSERT INTO reals VALUES " + sql_rows(rows))
        scores = self.outstat_and_scores("reals", "  BY g d;\n  VAR r x1 x2;\n", "reals", "g, r", 1e-10)
        if scores is not None and (len(scores) != 40 or any(s.endswith("|") for s in scores)):
            self.fail(f"reals: scores {scores[:3]}")
        self.crossproducts_as_row_path("reals", "  BY g;\n  VAR r x1 x2;\n", ["r", "x1", "x2"], 1e-10)

    def outstat_and_scores(self, data, stmts, name, copied, tol):
        """FACTOR of pg.data with OUTSTAT= and OUT=, by the row path and
        inside PostgreSQL: the same OUTSTAT= tables and the same copied
        columns and scores; the latter rows as text (None when the step was
        not processed inside the database)."""
        if self.row_and_in(f"FACTOR DATA=pg.{data} NFACTORS=1 OUTSTAT={name}_{{0}} OUT=pg.{name}_{{0}} "
                           f"NOPRINT;\n{stmts}RUN;\n", name)[1] is None:
            return None
        outstat = [[numeric(row) for row in self.csv_rows(f"{name}_{p}")] for p in ("row", "in")]
        if not outstat[0] or not close(*outstat, tol):
            self.fail(f"{name}: OUTSTAT= {outstat[1]} against {outstat[0]}")
        scores = [self.pg.psql(f"SELECT id, {copied}, round(factor1::numeric, 9) FROM {name}_{p} "
                               "ORDER BY id").splitlines() for p in ("row", "in")]
        if scores[1] != scores[0]:
            self.fail(f"{name}: scores {scores[1][:3]} against {scores[0][:3]}")
        return scores[1]

    def crossproducts_as_row_path(self, data, stmts, variables, tol):
        """CROSSPRODUCTS of pg.data computed inside PostgreSQL gives the
        row path's counts, means and corrected crossproducts (the two take
        them about different shifts)."""
        def centred(row):
            w = row["_WUSED_"] or 1  # a group without usable rows: sums 0
            sums = [row[v] for v in variables]
            out = {k: row[k] for k in row if not k.startswith(("_Q", "_SHIFT")) and k not in variables}
            for i, v in enumerate(variables):
                out[v] = row[f"_SHIFT{i + 1}_"] + sums[i] / w
                for j in range(i + 1):
                    out[f"_Q{i + 1}_{j + 1}_"] = row[f"_Q{i + 1}_{j + 1}_"] - sums[i] * sums[j] / w
            return out

        table = f"xp_{data}_{len(stmts)}_{{0}}"
        if self.row_and_in(f"CROSSPRODUCTS DATA=pg.{data} OUT={table};\n{stmts}RUN;\n",
                           table.format("run"), "computed inside the database")[1] is None:
            return
        got = [[centred({k: float(v) if v else None for k, v in row.items() if k != "_DNAME_"})
                for row in self.csv_rows(table.format(p))] for p in ("row", "in")]
        if not got[0] or not close(got[0], got[1], tol):
            self.fail(f"crossproducts of {data}: {got[1][:2]} against the row path's {got[0][:2]}")

    def put_functions(self):
        """zul_put and zul_puti as PostgreSQL functions write the texts zul's
        own formatter writes (the SQLite ones are that formatter)."""
        if not self.put_cases:
            return
        out = subprocess.run([self.put_cases], capture_output=True, text=True, check=True).stdout
        create, cases = out.split("--\n")
        for line in cases.splitlines():
            sql, want = line.rsplit("|", 1)
            got = self.pg.psql(create + sql + ";").rstrip("\n")
            if got != want:
                self.fail(f"put functions: {sql} gave {got!r}, zul writes {want!r}")

    def many_variables(self):
        """30 variables x 5,000 rows, some values missing: the aggregate's
        crossproducts each use every variable's missing test, so a planner
        that copies the test into each of them makes a statement that takes
        minutes; processed inside both databases, the row path's tables and
        scores."""
        self.scores_as_row_path("thirty", three_factor_rows(30, 30, 5000, missing=True))

    def nullable_scores(self, lib, table, factors=2):
        """id: [factor1, ...] of each row, None where a score is missing."""
        columns = ", ".join(f"factor{k + 1}" for k in range(factors))
        rows = self.numbers(lib, f"SELECT id, {columns} FROM {table}")
        return {int(r[0]): list(r[1:]) for r in rows}

    def numbers(self, lib, sql):
        """The rows of a query of numbers, None for a null."""
        if lib == "lite":
            return self.sqlite(sql)
        return [tuple(float(v) if v else None for v in line.split("|"))
                for line in self.pg.psql(sql).splitlines()]

    def scores_as_row_path(self, name, rows):
        """FACTOR with OUT= on the table `name` (id, x1-x<nv>) of rows in
        both databases, in the database and by the row path: the same
        tables and scores."""
        nv = len(rows[0]) - 1
        self.table_in_both(name, "id INTEGER, " + ", ".join(f"x{j + 1} REAL" for j in range(nv)), rows)
        for lib in ("lite", "pg"):
            t_row, t_in = self.row_and_in(f"FACTOR DATA={lib}.{name} NFACTORS=3 OUT={lib}.{name}_{{}};\n"
                                          f"  VAR x1-x{nv};\nRUN;\n", f"{name}_{lib}")
            if t_in is None:
                continue
            if not t_row or not close(t_row, t_in, 1e-8):
                self.fail(f"{name} {lib}: the tables differ from the row path")
            want, got = (self.nullable_scores(lib, f"{name}_{p}", 3) for p in ("row", "in"))
            if len(want) != len(rows) or not close(want, got, 1e-8):
                self.fail(f"{name} {lib}: the scores differ from the row path")

    def column_types_probed_once(self):
        """In-database scores ask PostgreSQL for the input's column types
        once per step, not once per BY group: each ask is four round trips."""
        self.pg.psql("CREATE TABLE probed AS SELECT i AS id, i % 2 AS g2, i % 6 AS g6, sin(i) AS x1, "
                     "sin(i) + cos(3 * i) AS x2, cos(i) + sin(7 * i) AS x3 FROM generate_series(1, 60) AS i")
        asks = {}
        for by in ("g2", "g6"):
            step = self.libnames() + (f"FACTOR DATA=pg.probed NFACTORS=1 NOPRINT OUT=pg.probed_{by};\n"
                                      f"  BY {by};\n  VAR x1-x3;\nRUN;\n")
            _, log = self.logged_statements(lambda: self.run(step, "probed_" + by))
            asks[by] = log.count("SAVEPOINT zul_describe")
        if asks["g2"] != asks["g6"] or self.pg_value("SELECT count(*) FROM probed_g6") != "60":
            self.fail(f"column types asked per BY group: {asks} savepoints for 2 and 6 groups")

    def stopped_insert_leaves_nothing(self):
        """The insert ... select fails half way through the rows: no table,
        the earlier one stays, no work table or temporary table is left."""
        self.fails_half_way("kept2", "current_query() ILIKE '%insert into%' AND "
                            f"{{calls}} > {len(self.rows) // 2}", "processed inside the database")

    def fails_half_way(self, name, when, note):
        """FACTOR with OUT= over the table `name` on a view of the survey
        whose function raises once `when` holds ({calls} counts its calls):
        the step fails with the database's message (and the log has note),
        `name` is unchanged and no half-written or work table is left."""
        calls = f"nextval('{name}_calls')"
        self.pg.psql(f"CREATE TABLE {name} AS SELECT 1 AS marker; CREATE SEQUENCE {name}_calls; "
                     f"CREATE FUNCTION {name}_boom(x float8) RETURNS float8 LANGUAGE plpgsql AS $$ "
                     f"BEGIN IF {when.format(calls=calls)} THEN RAISE EXCEPTION '{name} caught fire'; "
                     f"END IF; RETURN x; END $$; CREATE VIEW {name}_view AS SELECT id, "
                     f'{name}_boom(x1) AS x1, x2, x3, x4, x5 FROM "Survey"')
        self.refused(self.libnames() + f"FACTOR DATA=pg.{name}_view NFACTORS=2 OUT=pg.{name};\n"
                     "  VAR x1-x5;\nRUN;\n", name, f"{name} caught fire", note)
        left = self.pg_value(f"SELECT (SELECT string_agg(marker::text, ',') FROM {name}), (SELECT "
                             "count(*) FROM pg_class WHERE relname LIKE 'zul_new%' OR relname LIKE 'zul_q%')")
        if left != "1|0":
            self.fail(f"{name}: the earlier table, and the tables left: {left}")

def numeric(row):
    """A CSV row with its values as numbers, but for _TYPE_-like columns and
    missing values."""
    return {k: v if k[0] == "_" or v in ("", ".") else float(v) for k, v in row.items()}


def close(a, b, tol=1e-9):
    """Equal structures, numbers to a relative tolerance."""
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(close(x, y, tol) for x, y in zip(a, b))
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(close(a[k], b[k], tol) for k in a)
    if isinstance(a, (int, float)) and isinstance(b, (int, float)):
        return math.isclose(a, b, rel_tol=tol, abs_tol=tol)
    return a == b


def main():
    def checker(zul, work, cluster):
        c = Checks(zul, work, cluster)
        c.put_cases = sys.argv[3] if len(sys.argv) > 3 else None
        return c

    return pg_cluster.check_main(
        pg_cluster.Cluster, checker,
        lambda c: (c.same_as_row_path, c.dates_times_timestamps, c.awkward_text_copied,
                   c.stopped_step_leaves_nothing, c.locked_table_times_out, c.two_runs_at_once,
                   c.no_rows_no_table,
                   c.no_output_over_input, c.read_only_and_wrong_libraries,
                   c.password_never_shown, c.missing_sqlite_file_not_created,
                   c.libraries_with_other_search_paths, c.one_name_in_two_schemas,
                   c.nul_byte_in_text_by,
                   c.interrupted_backend_ends, c.server_lost_mid_step,
                   c.labels_and_type_kept, c.foreign_zul_tables, c.formats_kept, c.long_values_kept,
                   c.table_under_a_view_replaced, c.groups_read_again,
                   c.binary_numbers,
                   c.formatted_by_groups, c.formatted_by_then_more_row_path,
                   c.formatted_by_without_temp_right,
                   c.text_by_as_row_path, c.missing_text_then_more_by, c.not_finite_by_values,
                   c.text_in_numeric_sqlite_columns,
                   c.far_dates_and_numeric_by,
                   c.wide_table, c.very_wide_table,
                   c.many_variables,
                   c.sqlite_types_probed, c.dates_summed_in_database, c.dates_as_by_groups,
                   c.failed_aggregate_still_commits, c.booleans_in_database, c.reals_in_database,
                   c.put_functions, c.messages_name_data,
                   c.one_pass_far_groups, c.partial_takes_row_path,
                   c.stopped_insert_leaves_nothing, c.column_types_probed_once,
                   c.groups_read_again_mid_stream,
                   c.ranges_in_storage_order, c.range_fails_on_one_connection))


if __name__ == "__main__":
    sys.exit(main())
