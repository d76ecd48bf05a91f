"""Checks of rotate_by_groups.zul: both groups give the same rotated tables."""
import sys

sys.path.insert(0, "reference")
from rotations import close, load_tables, matrix  # noqa: E402

tables = load_tables(sys.argv[1])
for name in ("OrthRotFactPat", "ObliqueRotFactPat", "InterFactorCorr"):
    found = [t for t in tables if t["name"] == name]
    assert len(found) == 2, f"{name}: {len(found)} tables"
    close(matrix(found[1]), matrix(found[0]), 1e-12, name)
