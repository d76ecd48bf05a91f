"""Checks of stderr_ml.zul (see its comment): the printed standard errors
against the OUTSTAT= rows, the limits, coverage pictures and tests from
the printed estimates and errors, and the errors of the nine tests against
a numerical bordered Hessian of the ML discrepancy function (plain Python,
no code shared with zul)."""
import csv
import json
import math
import os
import sys

sys.path.insert(0, "reference")
from refmath import inverse, logdet, stored_rows  # noqa: E402

work = sys.argv[1]
tables = json.load(open(os.path.join(work, "out.json")))["tables"]
Z95, Z90 = 1.959963984540054, 1.6448536269514722


def table(name, step):
    found = [t for t in tables if t["name"] == name and t["step"] == step]
    assert found, f"no {name} in step {step}"
    return found[0]


def column(t, name):
    at = [c["name"] for c in t["columns"]].index(name)
    return [r[at] for r in t["rows"]]


def close(got, want, tol, what):
    assert abs(got - want) <= tol * max(1.0, abs(want)), f"{what}: {got} != {want}"


def outstat_rows(name, type_):
    with open(os.path.join(work, name)) as f:
        return [[float(x) for x in r[2:]] for r in csv.reader(f) if r[0].strip() == type_]


# 0, 1: the OUTSTAT= rows hold the printed errors.
for step, file, type_ in ((0, "s0.csv", "SE_PAT"), (1, "s1.csv", "SE_UNROT")):
    rows = outstat_rows(file, type_)
    assert len(rows) == 4, (file, type_)
    for k in range(4):
        printed = column(table("FactorPattern", step), f"SEFactor{k + 1}")
        for a, b in zip(rows[k], printed):
            close(a, b, 1e-12, f"{type_} {k}")


# 1: limits estimate -/+ z SE and the pictures of each interval.
def picture(est, lo, hi, cover):
    mark = cover if est >= 0 else -cover
    # On the number line; at a tie "[" comes first and "]" last, so that a
    # point on a bound is inside.
    items = [(lo, 0, "["), (hi, 2, "]"), (0.0, 1, "0")]
    if cover == 0:
        return " " + "".join(s for _, _, s in sorted(items))
    items.append((mark, 1, "*"))
    return "".join(s for _, _, s in sorted(items))


t, cover_table = table("FactorPattern", 1), table("FactorPatternCoverage", 1)
assert t["titles"] == ["Factor Pattern With 95% Confidence Limits"], t["titles"]
for k in range(1, 5):
    est, se = column(t, f"Factor{k}"), column(t, f"SEFactor{k}")
    lo, hi = column(t, f"LoFactor{k}"), column(t, f"UpFactor{k}")
    pics = column(cover_table, f"CvFactor{k}")
    for i in range(24):
        close(lo[i], est[i] - Z95 * se[i], 1e-12, "lower")
        close(hi[i], est[i] + Z95 * se[i], 1e-12, "upper")
        assert pics[i] == picture(est[i], lo[i], hi[i], 0.3), (k, i, pics[i])
assert table("FactorPattern", 2)["titles"] == ["Factor Pattern With 90% Confidence Limits"]
pics = column(table("FactorPatternCoverage", 2), "CvFactor1")
assert all(p in (" []0", " [0]", " 0[]") for p in pics), pics


# 2, 3: the nine tests, against a numerical bordered Hessian.
def discrepancy(s, theta, p, k):
    sigma = [[(theta[p * k + i] if i == j else 0.0) + sum(theta[c * p + i] * theta[c * p + j] for c in range(k))
              for j in range(p)] for i in range(p)]
    inv = inverse(sigma)
    return logdet(sigma) + sum(s[i][j] * inv[j][i] for i in range(p) for j in range(p))


def numerical_cov(s, theta, p, k, d):
    q, h = len(theta), 1e-4

    def f(u, du, v, dv):
        x = theta[:]
        x[u] += du
        x[v] += dv
        return discrepancy(s, x, p, k)

    n = q + 1  # two factors: one condition, lambda_1' Psi^-1 lambda_2 = 0
    a = [[0.0] * n for _ in range(n)]
    for u in range(q):
        for v in range(u + 1):
            a[u][v] = a[v][u] = (f(u, h, v, h) - f(u, h, v, -h) - f(u, -h, v, h) + f(u, -h, v, -h)) / (4 * h * h)
    for i in range(p):
        psi, l1, l2 = theta[2 * p + i], theta[i], theta[p + i]
        a[q][i] = a[i][q] = l2 / psi
        a[q][p + i] = a[p + i][q] = l1 / psi
        a[q][2 * p + i] = a[2 * p + i][q] = -l1 * l2 / psi ** 2
    inv = inverse(a)
    return [[2 * inv[u][v] / d for v in range(q)] for u in range(q)]


p, k, d = 9, 2, 144.0
r = [row[:p] for row in stored_rows("../../examples/harman74.csv", "CORR")[:p]]
for step, standardised in ((2, True), (3, False)):
    t = table("FactorPattern", step)
    lam = [x for c in range(1, k + 1) for x in column(t, f"Factor{c}")]
    theta = lam + [1 - lam[i] ** 2 - lam[p + i] ** 2 for i in range(p)]
    cov = numerical_cov(r, theta, p, k, d)
    if standardised:  # the delta method, its Jacobian by differences
        def g(x):
            return [x[c * p + i] / math.sqrt(x[2 * p + i] + x[i] ** 2 + x[p + i] ** 2)
                    for c in range(k) for i in range(p)]
        q, e = len(theta), 1e-6
        jac = []
        for u in range(q):
            up, dn = theta[:], theta[:]
            up[u] += e
            dn[u] -= e
            jac.append([(a - b) / (2 * e) for a, b in zip(g(up), g(dn))])
        var = [sum(jac[u][a] * cov[u][v] * jac[v][a] for u in range(q) for v in range(q)) for a in range(p * k)]
    else:
        var = [cov[a][a] for a in range(p * k)]
    printed = [x for c in range(1, k + 1) for x in column(t, f"SEFactor{c}")]
    for a in range(p * k):
        close(printed[a], math.sqrt(var[a]), 2e-3 * printed[a], f"step {step} SE {a}")
    if step == 2:
        lo = column(t, "LoFactor1")
        close(lo[0], lam[0] - Z90 * printed[0], 1e-12, "90% lower")

# 4, 5: z = (|estimate| - 0.3) / SE with one- and two-sided p-values.
for step, sides in ((4, 1), (5, 2)):
    t = table("FactorPattern", step)
    for c in (1, 2):
        for est, se, z, pv in zip(column(t, f"Factor{c}"), column(t, f"SEFactor{c}"),
                                  column(t, f"ZFactor{c}"), column(t, f"PFactor{c}")):
            close(z, (abs(est) - 0.3) / se, 1e-12, "z")
            tail = 0.5 * math.erfc((z if sides == 1 else abs(z)) / math.sqrt(2))
            close(pv, sides * tail, 1e-12, "p")

# 6: the Heywood case prints its pattern without errors.
assert "SEFactor1" not in [c["name"] for c in table("FactorPattern", 6)["columns"]]
# 7: each BY group its own errors, none where they cannot be computed.
by_tables = {t["by"]["g"]: t for t in tables if t["name"] == "FactorPattern" and t["step"] == 7}
assert "SEFactor1" in [c["name"] for c in by_tables["A"]["columns"]]
assert "SEFactor1" not in [c["name"] for c in by_tables["B"]["columns"]]
with open(os.path.join(work, "sby.csv")) as f:
    groups = [r[0] for r in csv.reader(f) if r[1].strip() == "SE_PAT"]
assert groups == ["A", "A"], groups
# 8: NOBS=290 for the 145 of the table: the errors shrink by sqrt(144/289),
# the ratio of the VARDEF=DF divisors.
for c in range(1, 5):
    for a, b in zip(column(table("FactorPattern", 8), f"SEFactor{c}"),
                    column(table("FactorPattern", 0), f"SEFactor{c}")):
        close(a, b * math.sqrt(144 / 289), 1e-9, "NOBS= errors")
# 9, 10: one partial variable. The errors of the same partial solution
# under the two N differ by the root of the ratio of the divisors that
# the chi-square tests use, (145 - 1 - 1) and (290 - 1 - 1).
for c in range(1, 3):
    for a, b in zip(column(table("FactorPattern", 10), f"SEFactor{c}"),
                    column(table("FactorPattern", 9), f"SEFactor{c}")):
        close(a, b * math.sqrt(143 / 288), 1e-9, "PARTIAL errors")
# 11: under NOPRINT the OUTSTAT= table holds every row of the printing
# step 1: standard errors, residuals and scoring coefficients included.
with open(os.path.join(work, "s1.csv")) as f1, open(os.path.join(work, "s11.csv")) as f11:
    printed, quiet = f1.read(), f11.read()
assert quiet == printed, "NOPRINT changed the OUTSTAT= table"
for type_, count in (("SE_UNROT", 4), ("SE_PAT", 4), ("RESIDUAL", 24), ("SCORE", 4)):
    assert len(outstat_rows("s11.csv", type_)) == count, type_
print("standard errors checked")
