"""Checks of rotate_riter0.zul (see its comment)."""
import csv
import os
import sys

sys.path.insert(0, "reference")
from rotations import close, find, load_tables, matrix, transpose  # noqa: E402

work = sys.argv[1]
tables = load_tables(work)


def rows(table, kind):
    got = [r for r in csv.reader(open(os.path.join(work, table + ".csv"))) if r[0] == kind]
    assert len(got) == 2, f"{table}: {len(got)} {kind} rows"
    return [[float(x) for x in r[2:4]] for r in got]


identity = [[1.0, 0.0], [0.0, 1.0]]
close(rows("vst", "TRANSFOR"), identity, 0, "VARIMAX RITER=0 TRANSFOR")
close(rows("pst", "PRETRANS"), identity, 0, "PROMAX RITER=0 PRETRANS")
# TRANSFOR row k is column k of the printed transformation.
_, t = find(tables, "NormObliqueTrans", 1)
close(rows("pst", "TRANSFOR"), transpose(matrix(t)), 1e-12, "PROMAX RITER=0 TRANSFOR")
assert any(abs(x) > 0.1 for r in matrix(t) for x in r)
