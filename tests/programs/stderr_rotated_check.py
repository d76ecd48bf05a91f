"""Checks of stderr_rotated.zul: which rotated tables carry standard errors
(an SE column beside each factor, all positive where the estimate is not
fixed at 1)."""
import json
import os
import sys

tables = json.load(open(os.path.join(sys.argv[1], "out.json")))["tables"]


def with_errors(t):
    names = [c["name"] for c in t["columns"]]
    return "SEFactor1" in names and "SEFactor2" in names


rotated = ("OrthRotFactPat", "ObliqueRotFactPat", "InterFactorCorr", "FactorStructure")
first = [t for t in tables if t["step"] == 0 and t["name"] in rotated]
# VARIMAX, then QUARTIMIN and PROMAX with factor correlations and structure.
assert [t["name"] for t in first].count("OrthRotFactPat") == 1, first
assert len(first) == 7, [t["name"] for t in first]
for t in first:
    assert with_errors(t), t["name"]
    names = [c["name"] for c in t["columns"]]
    for r in t["rows"]:
        for j in (1, 2):
            est, se = r[names.index(f"Factor{j}")], r[names.index(f"SEFactor{j}")]
            assert se > 0 or abs(est) == 1.0, (t["name"], r)
for t in tables:
    if t["step"] in (1, 2, 3) and t["name"] in rotated:
        assert not with_errors(t), (t["step"], t["name"])
# Too little memory (step 4): no errors anywhere; with it back (step 5),
# the unrotated and the QUARTIMIN tables have them.
patterns = rotated + ("FactorPattern",)
for step, errors in ((4, False), (5, True)):
    shown = [t for t in tables if t["step"] == step and t["name"] in patterns]
    assert len(shown) == 4, (step, [t["name"] for t in shown])
    for t in shown:
        assert with_errors(t) == errors, (step, t["name"])
