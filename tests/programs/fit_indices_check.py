"""Checks of fit_indices.zul (see its comment): the indices by hand."""
import json
import math
import os
import sys

work = sys.argv[1]
tables = json.load(open(os.path.join(work, "out.json")))["tables"]


def table(name, step):
    found = [t for t in tables if t["name"] == name and t["step"] == step]
    return found[0] if found else None


def close(got, want, tol, what):
    assert abs(got - want) <= tol, f"{what}: {got} != {want}"


def indices(step):
    return {r[0]: r[1] for r in table("FitIndices", step)["rows"]}


for step, k in ((0, 4), (1, 2)):
    p, n_obs = 24, 145
    tests = table("SignifTests", step)["rows"]
    df0, chi0 = tests[0][1], tests[0][2]
    dfk, chik = tests[2][1], tests[2][2]
    n = n_obs - 1 - (2 * p + 5) / 6 - 2 * k / 3
    got = indices(step)
    rmsea = math.sqrt(max(chik - dfk, 0) / (dfk * n))
    close(got["Root Mean Square Error of Approximation (RMSEA)"], rmsea, 1e-12, "RMSEA")
    assert got["RMSEA 90% Lower Limit"] < rmsea < got["RMSEA 90% Upper Limit"]
    cfi = 1 - max(chik - dfk, 0) / max(chi0 - df0, chik - dfk, 0)
    close(got["Comparative Fit Index (CFI)"], cfi, 1e-12, "CFI")
    # The printed residuals carry the uniquenesses on the diagonal; the
    # residual variances of the ML correlation structure are 0.
    rows = table("ResCorrUniqueDiag", step)["rows"]
    values = [[x for x in r[1:]][1::2] for r in rows]  # the unrounded columns
    total = sum(values[i][j] ** 2 for i in range(p) for j in range(i))
    srmr = math.sqrt(total / (p * (p + 1) / 2))
    close(got["Standardized Root Mean Square Residual (SRMR)"], srmr, 1e-9, "SRMR")

# Published 4-factor chi-square 226.68 on 186 df: RMSEA 0.0406, and its
# interval by numerical integration of the noncentral density.
got = indices(0)
close(got["RMSEA 90% Lower Limit"], 0.01649, 5e-5, "lower limit")
close(got["RMSEA 90% Upper Limit"], 0.05798, 5e-5, "upper limit")
for step in (2, 3):
    assert all(v is None for v in indices(step).values()), step
assert table("FitIndices", 4) is None

# NOINT: the test of 3 factors and the discrepancy N F share F, in the
# ratio of their multipliers N - (2p + 5)/6 - 2k/3 and N.
tests = table("SignifTests", 5)["rows"]
discrepancy = table("FitMeasures", 5)["rows"][0][1]
close(tests[2][2] / discrepancy, (300 - 23 / 6 - 2) / 300, 1e-12, "NOINT multiplier")
print("fit indices checked")
