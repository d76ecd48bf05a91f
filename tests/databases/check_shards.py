#!/usr/bin/env python3
"""A table spread over two servers, analysed through a third.

Usage: check_shards.py ZUL WORKDIR

Three throwaway clusters (pg_cluster.Clusters): two shards and a
coordinator. On the coordinator, SURVEY is partitioned by id: the first
part is a foreign table on shard 1 (postgres_fdw), the second is itself
partitioned, into a foreign table on shard 2 and a local table. WHOLE holds
the same rows in one plain table. FACTOR on SURVEY must give the numbers
of WHOLE, each partition's aggregate must run on the server that holds it,
and scores must still be written; the crossproduct tables of the parts,
each summarised on its own server, add up to the table of WHOLE.
"""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pg_cluster  # noqa: E402
from check_databases import GROUPS, Checks, close, sql_rows  # noqa: E402
from check_databases import PG_COLUMNS as COLUMNS  # noqa: E402

STEP = ("FACTOR DATA=coord.{data} NFACTORS=2 ROTATE=VARIMAX OUT=coord.{out};\n"
        "  BY grp;\n  VAR x1-x5;\nRUN;\n")
FACTOR = "FACTOR DATA={} NFACTORS=2 ROTATE=VARIMAX;\n  BY grp;\n  VAR x1-x5;\nRUN;\n"
XPX = "CROSSPRODUCTS DATA={} OUT={}._MKXPX_;\n  BY grp;\n  VAR x1-x5;\nRUN;\n"


class ShardChecks(Checks):
    def __init__(self, zul, work, shard1, shard2, coord):
        super().__init__(zul, work, coord)
        self.shards, self.coord = [shard1, shard2], coord
        # A missing BY value written three ways, one on each server: null,
        # empty and blank are the one missing group, which only adding the
        # parts up can form.
        for first, missing in ((31, None), (61, ""), (111, "  ")):
            for row in self.rows[first - 1:first + 9]:
                row[1] = missing

    def run(self, program, name, user=None):
        """program run with the library coord, as user: its log and tables."""
        conninfo = self.coord.conninfo(extra=f"user={user}" if user else "")
        r, tables = super().run(f"LIBNAME coord POSTGRES '{conninfo}';\n" + program, name)
        return self.log(r), tables

    def same_as_whole(self, whole, parts, name, what, user=None):
        """Runs the programs whole and parts: the tables of parts must be
        those of whole. The log of parts."""
        _, want = self.run(whole, name + "_whole", user)
        log, got = self.run(parts, name + "_parts", user)
        if not want or not close(want, got, 1e-12):
            self.fail(f"{what}: the tables differ from those of the plain table")
        return log

    def libraries(self, *names):
        """LIBNAME statements for folders of the work folder, made."""
        for d in names:
            os.makedirs(os.path.join(self.work, d), exist_ok=True)
        return "".join(f"LIBNAME {d} '{d}';\n" for d in names)

    def load(self):
        """Ids 1-50 on shard 1, 51-90 on shard 2, the rest local; every BY
        group spans more than one server."""
        low, mid, high = self.rows[:50], self.rows[50:90], self.rows[90:]
        for shard, rows in zip(self.shards, (low, mid)):
            shard.psql(f"CREATE TABLE survey_part ({COLUMNS})")
            shard.psql("INSERT INTO survey_part VALUES " + sql_rows(rows))
        c = self.coord
        c.psql(f"CREATE TABLE whole ({COLUMNS})")
        c.psql("INSERT INTO whole VALUES " + sql_rows(self.rows))
        c.psql("CREATE EXTENSION postgres_fdw")
        for k, shard in enumerate(self.shards, 1):
            c.psql(f"CREATE SERVER shard{k} FOREIGN DATA WRAPPER postgres_fdw "
                   f"OPTIONS (host '{shard.socket}', dbname 'postgres', fdw_tuple_cost '0.2')")
            c.psql(f"CREATE USER MAPPING FOR CURRENT_USER SERVER shard{k} "
                   f"OPTIONS (user '{shard.user}')")
        c.psql(f'CREATE TABLE "Survey" ({COLUMNS}) PARTITION BY RANGE (id)')
        c.psql('CREATE FOREIGN TABLE low PARTITION OF "Survey" FOR VALUES FROM (1) TO (51) '
               "SERVER shard1 OPTIONS (table_name 'survey_part')")
        c.psql('CREATE TABLE upper_half PARTITION OF "Survey" FOR VALUES FROM (51) TO (MAXVALUE) '
               "PARTITION BY RANGE (id)")
        c.psql("CREATE FOREIGN TABLE mid PARTITION OF upper_half FOR VALUES FROM (51) TO (91) "
               "SERVER shard2 OPTIONS (table_name 'survey_part')")
        c.psql("CREATE TABLE high PARTITION OF upper_half FOR VALUES FROM (91) TO (MAXVALUE)")
        c.psql("INSERT INTO high VALUES " + sql_rows(high))
        count = c.psql('SELECT count(*) FROM "Survey"').strip()
        if count != str(len(self.rows)):
            raise RuntimeError(f"the partitioned table holds {count} rows")

    def same_numbers_as_one_table(self):
        """The tables of the partitioned table are those of the plain one,
        the scores too; the aggregates are pushed to the shards."""
        log = self.same_as_whole(STEP.format(data="whole", out="sc_whole"), "OPTIONS SQLECHO=YES;\n"
                                 + STEP.format(data="survey", out="sc_parts"), "plain", "partitioned")
        if "processed inside the database" not in log:
            self.fail("partitioned: not processed inside the database:\n" + log[-2000:])
        self.same_scores()
        self.aggregates_pushed(log, "partitioned")

    def formatted_by_pushed(self):
        """A formatted BY variable: each shard still sums its partition,
        by the BY values themselves (zul_put lives only on the coordinator,
        which groups the parts' sums by the formatted value)."""
        step = STEP.replace("  BY grp;\n", "  BY grp;\n  FORMAT grp $1.;\n")
        log = self.same_as_whole(step.format(data="whole", out="fw"), "OPTIONS SQLECHO=YES;\n"
                                 + step.format(data="survey", out="fp"), "formatted", "formatted BY")
        self.aggregates_pushed(log, "formatted BY")

    def same_scores(self):
        got = {table: self.scores_in("pg", table) for table in ("sc_parts", "sc_whole")}
        if len(got["sc_parts"]) != len(self.rows) or not close(got["sc_whole"], got["sc_parts"], 1e-10):
            self.fail("partitioned: the scores differ from those of the plain table")

    def aggregates_pushed(self, log, what):
        """EXPLAIN of the echoed statements (with BY groups, the moments
        about the shift, then the sums about it): each foreign partition's
        sums (over its usable rows, and its record counts) in its Remote
        SQL, no row fetch aggregated on the coordinator."""
        statements = [line.strip() for line in log.splitlines() if " union all " in line]
        if len(statements) != 2:
            self.fail(f"{what}: {len(statements)} echoed statements with union all")
        for statement in statements:
            self.statement_pushed(statement[statement.index("select"):], what)

    def statement_pushed(self, sql, what):
        # zul makes zul_put in its own session; EXPLAIN needs one in psql's,
        # in plpgsql as zul's is (a SQL function would be inlined, and its
        # body sent to the shards).
        put = ("CREATE FUNCTION pg_temp.zul_put(x text, f text) RETURNS text "
               "LANGUAGE plpgsql IMMUTABLE AS 'BEGIN RETURN x; END'; " if "zul_put" in sql else "")
        plan = self.coord.psql(put + "EXPLAIN (VERBOSE) " + sql)
        remote = [line for line in plan.splitlines() if "Remote SQL:" in line]
        pushed = [line for line in remote if re.search(r"\bsum\(", line) and "GROUP BY" in line]
        if len(remote) != 4 or len(pushed) != 4 or "Partial Aggregate" in plan:
            self.fail(f"{what}: the aggregates are not run by the shards:\n" + plan)

    def distant_group_means(self):
        """BY groups near 0 and near 1e6 (spread about 30) share no shift
        that keeps their digits: FACTOR and CROSSPRODUCTS of the
        partitioned table must still give the numbers of the plain one.
        The far group is the last, the first row (the shift) in another."""
        rows = [r[:2] + [v + 1e6 if r[1] == GROUPS[-1] else v for v in r[2:]] for r in self.rows]
        c, shard = self.coord, self.shards[0]
        shard.psql(f"CREATE TABLE far_part ({COLUMNS}); INSERT INTO far_part VALUES " + sql_rows(rows[:60]))
        c.psql(f"CREATE TABLE far_whole ({COLUMNS}); INSERT INTO far_whole VALUES " + sql_rows(rows))
        c.psql(f"CREATE TABLE far ({COLUMNS}) PARTITION BY RANGE (id)")
        c.psql("CREATE FOREIGN TABLE far_low PARTITION OF far FOR VALUES FROM (1) TO (61) "
               "SERVER shard1 OPTIONS (table_name 'far_part')")
        c.psql("CREATE TABLE far_high PARTITION OF far FOR VALUES FROM (61) TO (MAXVALUE)")
        c.psql("INSERT INTO far_high VALUES " + sql_rows(rows[60:]))
        libs = self.libraries("fx", "fw")
        self.same_as_whole(libs + XPX.format("coord.far_whole", "fw") + FACTOR.format("coord.far_whole")
                           + FACTOR.format("fw._MKXPX_"), libs + XPX.format("coord.far", "fx")
                           + FACTOR.format("coord.far") + FACTOR.format("fx._MKXPX_"), "far",
                           "distant group means")

    def large_common_means_pushed(self):
        """Every group near 1e10 with the survey's spread (about 30), near
        the shift: the shards still sum their partitions (a first pass
        about zero would lose the variances to cancellation and have the
        whole table fetched), with the numbers of the plain table."""
        rows = [r[:2] + [v + 1e10 for v in r[2:]] for r in self.rows]
        c = self.coord
        c.psql(f"CREATE TABLE big_whole ({COLUMNS}); INSERT INTO big_whole VALUES "
               + sql_rows(rows))
        c.psql(f"CREATE TABLE big ({COLUMNS}) PARTITION BY RANGE (id)")
        for k, (shard, low, high) in enumerate(zip(self.shards, (1, 51), (51, 91)), 1):
            shard.psql(f"CREATE TABLE big_part ({COLUMNS}); INSERT INTO big_part VALUES "
                       + sql_rows(rows[low - 1:high - 1]))
            c.psql(f"CREATE FOREIGN TABLE big_{k} PARTITION OF big FOR VALUES FROM ({low}) "
                   f"TO ({high}) SERVER shard{k} OPTIONS (table_name 'big_part')")
        c.psql("CREATE TABLE big_rest PARTITION OF big FOR VALUES FROM (91) TO (MAXVALUE)")
        c.psql("INSERT INTO big_rest VALUES " + sql_rows(rows[90:]))
        log = self.same_as_whole(FACTOR.format("coord.big_whole"),
                                 "OPTIONS SQLECHO=YES;\n" + FACTOR.format("coord.big"), "big",
                                 "large common means")
        self.aggregates_pushed(log, "large common means")
        log, _ = self.run(self.libraries("xbig") + "OPTIONS SQLECHO=YES;\n"
                          + XPX.format("coord.big", "xbig"), "big_xpx")
        self.aggregates_pushed(log, "large common means, crossproducts")

    def row_security_kept(self):
        """A role that sees only some rows of the parent (a policy on it)
        and may read its leaves by name: summing the leaves apart would
        skip the policy. Also a role that may read the parent only."""
        c = self.coord
        c.psql("CREATE ROLE analyst LOGIN; CREATE ROLE reader LOGIN; "
               "GRANT SELECT ON ALL TABLES IN SCHEMA public TO analyst, reader; "
               "REVOKE SELECT ON low, mid, high FROM reader")
        for k in (1, 2):
            for role in ("analyst", "reader"):
                c.psql(f"CREATE USER MAPPING FOR {role} SERVER shard{k} "
                       f"OPTIONS (user '{self.shards[k - 1].user}', password_required 'false')")
        step = STEP.replace(" OUT=coord.{out}", "")
        try:
            for table in ('"Survey"', "whole"):
                c.psql(f"ALTER TABLE {table} ENABLE ROW LEVEL SECURITY; "
                       f"CREATE POLICY even ON {table} FOR SELECT USING (id % 2 = 0)")
            for role in ("analyst", "reader"):
                log = self.same_as_whole(step.format(data="whole"), step.format(data="survey"), role,
                                         f"row security, role {role}", role)
                if "processed inside the database" not in log:
                    self.fail(f"row security, role {role}: not processed inside the database:\n" + log[-2000:])
        finally:
            for table in ('"Survey"', "whole"):
                c.psql(f"ALTER TABLE {table} DISABLE ROW LEVEL SECURITY")

    def crossproducts_summed_by_shards(self):
        """CROSSPRODUCTS of the partitioned table: each shard sums its
        partition, and the table read by FACTOR gives what the table made
        from the rows on the coordinator gives."""
        libs = self.libraries("xs", "xr")
        log, _ = self.run(libs + "OPTIONS SQLECHO=YES;\n" + XPX.format("coord.survey", "xs"), "xpx_shards")
        if "computed inside the database" not in log:
            self.fail("crossproducts: not computed inside the database:\n" + log[-2000:])
        self.aggregates_pushed(log, "crossproducts")
        self.run(libs + "OPTIONS INDB=NO;\n" + XPX.format("coord.survey", "xr"), "xpx_rows")
        self.same_as_whole(libs + FACTOR.format("xr._MKXPX_"), libs + FACTOR.format("xs._MKXPX_"),
                           "xpx_read", "crossproducts of the shards")

    def crossproduct_tables_add_up(self):
        """Each server's part summarised where it lives (the shards through
        their own libraries) into a crossproduct table; the three tables
        added give the analysis of the table of the whole."""
        libs = self.libraries("xa", "xb", "xc", "xab", "xall", "xw")
        libs += "".join(f"LIBNAME s{k} POSTGRES '{shard.conninfo()}';\n"
                        for k, shard in enumerate(self.shards, 1))
        add = "CROSSPRODUCTS DATA={}._MKXPX_ ADD={}._MKXPX_ OUT={}._MKXPX_;\nRUN;\n"
        self.run(libs + XPX.format("s1.survey_part", "xa") + XPX.format("s2.survey_part", "xb") +
                 XPX.format("coord.high", "xc") + XPX.format("coord.whole", "xw") +
                 add.format("xa", "xb", "xab") + add.format("xab", "xc", "xall"), "xpx_parts")
        self.same_as_whole(libs + FACTOR.format("xw._MKXPX_"), libs + FACTOR.format("xall._MKXPX_"),
                           "xpx_sum", "crossproduct tables added")


def main():
    return pg_cluster.check_main(
        lambda: pg_cluster.Clusters(3),
        lambda zul, work, clusters: ShardChecks(zul, work, *clusters),
        lambda c: (c.same_numbers_as_one_table, c.formatted_by_pushed,
                   c.crossproducts_summed_by_shards, c.crossproduct_tables_add_up,
                   c.distant_group_means, c.large_common_means_pushed, c.row_security_kept))

if __name__ == "__main__":
    sys.exit(main())
