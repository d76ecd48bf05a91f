#!/usr/bin/env python3
"""Crossproduct tables written by CROSSPRODUCTS and read by FACTOR, and the
passes of the crossproducts computed inside a database.

Usage: check_crossproducts.py ZUL WORKDIR

FACTOR on a crossproduct table must give the numbers of FACTOR on the rows
it summarises (to 1e-12 relative), whether it was made from a CSV file,
SQLite or PostgreSQL, and when it is the sum of the tables of two parts.
"""
import csv
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pg_cluster  # noqa: E402
from check_databases import HEADER, Checks, close  # noqa: E402

WEIGHTED = HEADER + ["f", "w"]
TIGHT = 1e-12


def analysis_tables(tables):
    """The tables of the analysis; the observation counts apart (a
    crossproduct table has no WEIGHT variable to show the weights of)."""
    return [{k: v for k, v in t.items() if k != "step"} for t in tables if t["name"] != "NObs"]


def counts(tables):
    """Observations read and used, per BY group."""
    return [(str(t["by"]), t["rows"][:2]) for t in tables if t["name"] == "NObs"]


class XpxChecks(Checks):
    def weighted_rows(self):
        """The survey with a frequency (0 and 2.7 among them) and a weight
        (0 among them), and a few missing values: every observation rule."""
        rows = []
        for r in self.rows:
            i = r[0]
            x = list(r[2:])
            if i % 17 == 0:
                x[i % 5] = None
            rows.append([i, r[1]] + x + [[1, 2, 0, 2.7][i % 4], [0.5, 1.5, 0, 2.25, 1][i % 5]])
        return rows

    def load_weighted(self, name, rows):
        """rows in name.csv, and as the table name in both databases."""
        self.write_csv(name, [WEIGHTED] + rows)  # None is an empty field
        self.table_in_both(name, "id INTEGER, grp TEXT, x1 REAL, x2 REAL, x3 REAL, x4 REAL, x5 REAL, "
                           "f REAL, w REAL", rows)

    def factor_on(self, data, name, options=""):
        step = (f"{options}FACTOR DATA={data} NFACTORS=2 ROTATE=VARIMAX SIMPLE CORR;\n"
                "  BY grp;\n  VAR x1-x5;\nRUN;\n")
        return self.run(self.libnames() + "LIBNAME xc 'xc';\nLIBNAME xa 'xa';\n"
                        "LIBNAME xb 'xb';\nLIBNAME xw 'xw';\n" + step, name)

    def same_as(self, what, want, got):
        if not want or not close(analysis_tables(want), analysis_tables(got), TIGHT):
            self.fail(f"{what}: the analysis differs from the one of the rows")
        if counts(want) != counts(got):
            self.fail(f"{what}: observations {counts(got)}, not {counts(want)}")

    def tables_equal_the_rows(self):
        """CSV (row path), SQLite and PostgreSQL (in the database, two
        passes and one): FACTOR on the table is FACTOR on the rows."""
        for d in ("xc", "xa", "xb", "xw"):
            os.makedirs(os.path.join(self.work, d), exist_ok=True)
        self.load_weighted("wsurvey", self.weighted_rows())
        _, want = self.factor_on("wsurvey", "xpx_rows", "")
        want_weighted = self.run(self.libnames() +
                                 "FACTOR DATA=wsurvey NFACTORS=2 ROTATE=VARIMAX SIMPLE CORR;\n"
                                 "  BY grp;\n  VAR x1-x5;\n  FREQ f;\n  WEIGHT w;\nRUN;\n",
                                 "xpx_rows_weighted")[1]
        for src, out, opts in [("wsurvey", "xc._MKXPX_", ""), ("lite.wsurvey", "lite._MKXPX_", ""),
                               ("pg.wsurvey", "pg._MKXPX_", ""),
                               ("pg.wsurvey", "xw._MKXPX_", "OPTIONS SQLPASSES=1 SQLECHO=YES;\n")]:
            r, _ = self.run(self.libnames() + "LIBNAME xc 'xc';\nLIBNAME xw 'xw';\n" + opts +
                            f"CROSSPRODUCTS DATA={src} OUT={out};\n  BY grp;\n  VAR x1-x5;\n"
                            "  FREQ f;\n  WEIGHT w;\nRUN;\n", "xpx_make_" + out.split(".")[0])
            log = self.log(r)
            if src.startswith(("pg", "lite")) and "computed inside the database" not in log:
                self.fail(f"crossproducts of {src}: not computed in the database:\n{log[-1500:]}")
            if opts and "limit 1" not in log.lower():
                self.fail("SQLPASSES=1: the first usable row was not taken by its own query")
            _, got = self.factor_on(out, "xpx_read_" + out.split(".")[0])
            self.same_as(f"table {out} of {src}", want_weighted, got)
        if close(analysis_tables(want), analysis_tables(want_weighted), TIGHT):
            self.fail("the frequencies and weights change nothing: the check is too weak")

    def parts_add_up(self):
        """Two halves summarised apart (one in PostgreSQL about its means,
        one from a CSV file about its first row; a BY group split between
        them) add up to the table of the whole."""
        rows = self.weighted_rows()
        half = len(rows) // 2 + 7  # the middle group is split
        self.load_weighted("part1", rows[:half])
        self.load_weighted("part2", rows[half:])
        _, want = self.run(self.libnames() +
                           "FACTOR DATA=wsurvey NFACTORS=2 ROTATE=VARIMAX SIMPLE CORR;\n"
                           "  BY grp;\n  VAR x1-x5;\n  FREQ f;\n  WEIGHT w;\nRUN;\n", "xpx_whole")
        step = "CROSSPRODUCTS DATA={} OUT={};\n  BY grp;\n  VAR x1-x5;\n  FREQ f;\n  WEIGHT w;\nRUN;\n"
        r, _ = self.run(self.libnames() + "LIBNAME xa 'xa';\nLIBNAME xb 'xb';\n"
                        "LIBNAME xw 'xw';\n" + step.format("pg.part1", "xa._MKXPX_") +
                        step.format("part2", "xb._MKXPX_") +
                        "CROSSPRODUCTS DATA=xa._MKXPX_ ADD=xb._MKXPX_ OUT=xw._MKXPX_;\nRUN;\n",
                        "xpx_parts")
        keys = [(row["_KEY_"], row["grp"]) for row in self.csv_rows("xw/_MKXPX_")]
        if keys != [("1", "O'Brien"), ("2", "Zhang"), ("3", "van der Berg")]:
            self.fail(f"parts: the combined groups are {keys}")
        r, got = self.factor_on("xw._MKXPX_", "xpx_parts_read", "OPTIONS INDBNOTES=YES;\n")
        self.same_as("the sum of two parts", want, got)
        # The same variables in another order in the second part.
        os.makedirs(os.path.join(self.work, "xo"), exist_ok=True)
        self.run(self.libnames() + "LIBNAME xa 'xa';\nLIBNAME xo 'xo';\n" +
                 step.replace("x1-x5", "x3 x1 x5 x2 x4").format("part2", "xo.p2") +
                 "CROSSPRODUCTS DATA=xa._MKXPX_ ADD=xo.p2 OUT=xo._MKXPX_;\nRUN;\n", "xpx_order")
        self.same_as("parts in other variable orders", want,
                     self.factor_on("xo._MKXPX_", "xpx_order_read", "LIBNAME xo 'xo';\n")[1])
        if "Using _MKXPX_ table." not in self.log(r):
            self.fail("parts: the notes of reading a crossproduct table are missing")

    def fewer_by_groups(self):
        """Without BY, a table of BY groups is analysed whole: its groups
        add up, as the rows would."""
        step = "FACTOR DATA={} NFACTORS=2 SIMPLE CORR;\n  VAR x1-x5;\n{}RUN;\n"
        _, want = self.run(step.format("wsurvey", "  FREQ f;\n  WEIGHT w;\n"), "xpx_noby_rows")
        _, got = self.run("LIBNAME xc 'xc';\n" + step.format("xc._MKXPX_", ""), "xpx_noby")
        self.same_as("a table of BY groups read without BY", want, got)
        r, _ = self.run("LIBNAME xc 'xc';\nFACTOR DATA=xc._MKXPX_ NFACTORS=1;\n  VAR x1-x3;\nRUN;\n"
                        "FACTOR DATA=xc._MKXPX_ NFACTORS=1;\n  VAR x1-x3;\n  WEIGHT x4;\nRUN;\n",
                        "xpx_fewer_vars", expect_ok=False)
        log = self.log(r)
        if "records with a missing value in any of its 5 variables" not in log:
            self.fail("fewer variables than the table: its dropped records are not mentioned")
        if "WEIGHT do not apply to XC._MKXPX_" not in log:
            self.fail("a WEIGHT column of a crossproduct table was passed over:\n" + log[-1500:])

    def numeric_groups_in_order(self):
        """Numeric BY values, a missing one among them, in parts that each
        lack a group: the sum keeps zul's BY order (missing first), which
        FACTOR's BY reading checks; so do parts summarised BY DESCENDING."""
        rows = self.weighted_rows()
        for r in rows:
            r[1] = {"O'Brien": "", "Zhang": "-2.5", "van der Berg": "7"}[r[1]]
        half = len(rows) // 2 + 7  # the middle group is split; each part lacks a group
        parts = {"na": rows[:half], "nb": rows[half:], "nall": rows}
        os.makedirs(os.path.join(self.work, "xq"), exist_ok=True)
        step = "CROSSPRODUCTS DATA={} OUT={};\n  BY grp;\n  VAR x1-x5;\n  WEIGHT w;\nRUN;\n"
        factor = "FACTOR DATA={} NFACTORS=2 SIMPLE CORR;\n  BY grp;\n  VAR x1-x5;\n{}RUN;\n"
        for order, keys in (("", ["", "-2.5", "7"]), ("DESCENDING ", ["7", "-2.5", ""])):
            what, sfx = f"BY {order}numeric groups", "_desc" if order else ""
            for name, part in parts.items():
                self.write_csv(name + sfx, [WEIGHTED] + (part[::-1] if order else part))
            xpx, fac = (t.replace("BY grp", "BY " + order + "grp") for t in (step, factor))
            _, got = self.run("LIBNAME xq 'xq';\n" + xpx.format("na" + sfx, "xq.a") +
                              xpx.format("nb" + sfx, "xq.b") +
                              "CROSSPRODUCTS DATA=xq.b ADD=xq.a OUT=xq._MKXPX_;\nRUN;\n" +
                              fac.format("xq._MKXPX_", ""), "xpx_numeric_by" + sfx)
            _, want = self.run(fac.format("nall" + sfx, "  WEIGHT w;\n"), "xpx_numeric_rows" + sfx)
            self.same_as(what, want, got)
            got_keys = [(row["_KEY_"], row["grp"]) for row in self.csv_rows("xq/_MKXPX_")]
            if got_keys != [(str(k + 1), g) for k, g in enumerate(keys)]:
                self.fail(f"{what}: the combined groups are {got_keys}")

    def formatted_groups_in_order(self):
        """A BY variable formatted 1. (2 to 2.4 one group; the column f)
        followed by grp, its raw values ordered against grp: (2.4, a) and (2, b), and in the other part
        (2.3, a) and (2.4, b). Summed inside SQLite and PostgreSQL, and from two CSV
        parts added with ADD=, the groups are (2, a) and (2, b), each one
        whole, in that order: FACTOR on each table is FACTOR on the rows."""
        rows = [r[:] for r in self.weighted_rows()[:80]]
        for i, r in enumerate(rows):
            r[1] = "ab"[i // 20 % 2]
            r[-2] = [2.4, 2, 2.3, 2.4][i // 20]  # the frequency column holds g
        os.makedirs(os.path.join(self.work, "xf"), exist_ok=True)
        self.load_weighted("fsurvey", sorted(rows, key=lambda r: r[1]))  # CSV: in BY order
        for name, part in (("fpart1", rows[:40]), ("fpart2", rows[40:])):
            self.write_csv(name, [WEIGHTED] + part)
        by = "  BY f grp;\n  FORMAT f 1.;\n  VAR x1-x5;\n"
        factor = "FACTOR DATA={} NFACTORS=1;\n" + by + "RUN;\n"
        _, want = self.run(factor.format("fsurvey"), "xpx_fmt_rows")
        step = "CROSSPRODUCTS DATA={} OUT={};\n" + by + "RUN;\n"
        libs = self.libnames() + "LIBNAME xf 'xf';\n"
        made = {"lite": step.format("lite.fsurvey", "lite._MKXPX_"),
                "pg": step.format("pg.fsurvey", "pg._MKXPX_"),
                "xf": step.format("fpart1", "xf.p1") + step.format("fpart2", "xf.p2") +
                "CROSSPRODUCTS DATA=xf.p1 ADD=xf.p2 OUT=xf._MKXPX_;\nRUN;\n"}
        for lib, program in made.items():
            _, got = self.run(libs + program + factor.format(lib + "._MKXPX_"), f"xpx_fmt_{lib}")
            groups = [t["by"] for t in got if t["name"] == "Eigenvalues"]
            if groups != [{"f": 2, "grp": "a"}, {"f": 2, "grp": "b"}]:
                self.fail(f"formatted BY groups summed in {lib}: {groups}")
            elif not close(analysis_tables(want), analysis_tables(got), TIGHT):
                self.fail(f"formatted BY groups summed in {lib}: the analysis differs from the rows'")

    def refusals(self):
        """Tables that do not go together, and an output over an input,
        stop the step and write nothing."""
        os.makedirs(os.path.join(self.work, "xn"), exist_ok=True)
        # Tables of other variables, a table of observations added as a
        # crossproduct table, OUT= over DATA=.
        self.refused(self.libnames() + "LIBNAME xa 'xa';\nLIBNAME xn 'xn';\n"
                     "CROSSPRODUCTS DATA=survey OUT=xn._MKXPX_;\n  VAR x1-x3;\nRUN;\n"
                     "CROSSPRODUCTS DATA=xa._MKXPX_ ADD=xn._MKXPX_ OUT=xn.both;\nRUN;\n"
                     "CROSSPRODUCTS DATA=xa._MKXPX_ ADD=survey OUT=xn.both;\nRUN;\n"
                     "CROSSPRODUCTS DATA=survey OUT=survey;\nRUN;\n", "xpx_refused",
                     "do not summarise the same variables", "WORK.SURVEY is no crossproduct table",
                     "would be overwritten")
        if os.path.exists(os.path.join(self.work, "xn", "both.csv")):
            self.fail("refusals: a combined table was written")
        self.refused("LIBNAME xn 'xn';\nFACTOR DATA=xn._MKXPX_ NFACTORS=1 OUT=xn.scores;\n"
                     "  VAR x1-x3;\nRUN;\n", "xpx_scores", "OUT= scores need the observations")
        if os.path.exists(os.path.join(self.work, "xn", "scores.csv")):
            self.fail("refusals: scores of a crossproduct table's own rows were written")
        with open(os.path.join(self.work, "xn", "_MKXPX_.csv")) as f:
            table = list(csv.reader(f))
        # A text, a missing value among the crossproducts or the counts, a
        # wrong count of variables, a BY group's number in a table without
        # BY columns.
        for column, bad in (("_Q2_1_", "abc"), ("_Q2_1_", ""), ("_NUSED_", ""), ("_NVAR_", "4"),
                            ("_KEY_", "1")):
            os.makedirs(os.path.join(self.work, "xm"), exist_ok=True)
            rows = [row[:] for row in table]
            rows[1][rows[0].index(column)] = bad
            with open(os.path.join(self.work, "xm", "_MKXPX_.csv"), "w", newline="") as f:
                csv.writer(f).writerows(rows)
            r, _ = self.run("LIBNAME xm 'xm';\nLIBNAME xn 'xn';\n"
                            "FACTOR DATA=xm._MKXPX_ NFACTORS=1;\n  VAR x1-x3;\nRUN;\n"
                            "CROSSPRODUCTS DATA=xn._MKXPX_ ADD=xm._MKXPX_ OUT=xm.both;\nRUN;\n",
                            "xpx_malformed", expect_ok=False)
            log = self.log(r)
            if log.count("ERROR: XM._MKXPX_") != 2 or "ended normally" in log:
                self.fail(f"refusals: a table with {bad!r} among its crossproducts was read:\n"
                          + log[-1500:])

    def large_means_passes(self):
        """Values near 1e6 with unit spread: one pass and two give the
        correlations of the CSV path."""
        self.load_large_means()
        step = "FACTOR DATA={} NFACTORS=2 CORR;\n  BY grp;\n  VAR x1-x5;\nRUN;\n"
        _, want = self.run(self.libnames() + step.format("big"), "big_rows")
        for passes in ("1", "2"):
            r, got = self.run(self.libnames() + f"OPTIONS SQLPASSES={passes} SQLECHO=YES;\n" +
                              step.format("pg.big"), "big_passes" + passes)
            log = self.log(r)
            if "processed inside the database" not in log:
                self.fail(f"large means, {passes} pass(es): not processed in the database")
            if ("limit 1" in log.lower()) != (passes == "1"):
                self.fail(f"large means, {passes} pass(es): the first-row query is "
                          + ("missing" if passes == "1" else "run"))
            if not want or not close(want, got, 1e-9):
                self.fail(f"large means, {passes} pass(es): the correlations differ")
        self.refused(self.libnames() + "OPTIONS SQLPASSES=3;\n" + step.format("pg.big"),
                     "big_passes3", "SQLPASSES= takes 1 or 2")

    def overflow_refused(self):
        """Values near 1e200, whose squares overflow, and a frequency times
        a weight past the largest double: CROSSPRODUCTS stops and writes no
        table (a missing or zero sum would be stored), wherever the rows
        are; FACTOR in SQLite, whose sums come back null, stops naming the
        variable or the weights (not a far one-pass shift, nor no data)."""
        rows = [[1, 1e200, 1.0, 1, 1], [2, -3e200, 2.0, 1, 1], [3, 2e200, 4.0, 1, 1],
                [4, 1.0, 3.0, 1e300, 1e300], [5, 2.0, 1.0, 1, 1]]
        self.write_csv("huge", [["id", "x", "y", "f", "w"]] + rows)
        self.table_in_both("huge", "id INTEGER, x REAL, y REAL, f REAL, w REAL", rows)
        os.makedirs(os.path.join(self.work, "xv"), exist_ok=True)
        for src in ("huge", "lite.huge", "pg.huge"):
            for roles, want in (("VAR x y;", "crossproducts of variable x"),
                                ("VAR y;\n  FREQ f;\n  WEIGHT w;", "weights of the observations")):
                self.refused(self.libnames() + "LIBNAME xv 'xv';\n"
                             f"CROSSPRODUCTS DATA={src} OUT=xv._MKXPX_;\n  {roles}\nRUN;\n",
                             "xpx_overflow", want)
                if os.path.exists(os.path.join(self.work, "xv", "_MKXPX_.csv")):
                    self.fail(f"overflow, {src} {roles}: a table was written")
        for roles, want in (("VAR x y;", "OPTIONS INDB=NO"),
                            ("VAR y;\n  FREQ f;\n  WEIGHT w;", "add up to more than the largest")):
            self.refused(self.libnames() + f"FACTOR DATA=lite.huge NFACTORS=1;\n  {roles}\nRUN;\n",
                         "fac_overflow", want)


def main():
    return pg_cluster.check_main(
        pg_cluster.Cluster, XpxChecks,
        lambda c: (c.tables_equal_the_rows, c.fewer_by_groups, c.parts_add_up,
                   c.numeric_groups_in_order,
                   c.formatted_groups_in_order,
                   c.refusals, c.large_means_passes, c.overflow_refused))

if __name__ == "__main__":
    sys.exit(main())
