#!/usr/bin/env python3
"""Independent check of the OUT= tables of scores_out.zul: for each step the
scores are recomputed from the input data and the factor pattern printed in
the JSON output, B = R^-1 L (regression method), applied to the data
standardized with the moments of the complete rows (about the mean, or
about zero under NOINT; PARTIAL: least-squares residuals on the partial
variable). Usage: scores_out.check.py WORKDIR"""
import csv, json, math, os, sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "reference"))
from refmath import inverse

work = sys.argv[1]
tables = json.load(open(os.path.join(work, "out.json")))["tables"]
all_data = list(csv.DictReader(open("scores_data.csv")))
ALL = ["Population", "School", "Employment", "Services", "HouseValue"]
failures = []


def num(x):
    return None if x in ("", ".") else float(x)


def pattern(step, name="FactorPattern", region=None):
    t = [t for t in tables if t["name"] == name and t["step"] == step
         and (region is None or t.get("by") == {"Region": region})][-1]
    return [row[2::2] for row in t["rows"]]  # the exact value beside each display


def check(step, out_name, names, noint=False, partial=None, m_cols=2, unit=False,
          loadings="FactorPattern", region=None):
    out = list(csv.DictReader(open(os.path.join(work, out_name + ".csv"))))
    data = all_data
    if region:  # one BY group: its rows, and its own printed pattern
        data = [r for r in all_data if r["Region"] == region]
        out = [o for o in out if o["Region"] == region]
    if len(out) != len(data):
        failures.append(f"{out_name}: {len(out)} rows, expected {len(data)}")
        return
    used = [r for r in data if all(num(r[v]) is not None for v in names + (partial or []))]
    n, p = len(used), len(names)
    X = [[num(r[v]) for v in names] for r in used]
    if partial:
        # Least-squares residuals of each variable on the partial variables
        # (with intercept), from the normal equations.
        q = len(partial)
        Z = [[num(r[v]) for v in partial] for r in used]
        zm = [sum(z[a] for z in Z) / n for a in range(q)]
        Zc = [[z[a] - zm[a] for a in range(q)] for z in Z]
        Szz = inverse([[sum(z[a] * z[b] for z in Zc) for b in range(q)] for a in range(q)])
        for j in range(p):
            xm = sum(x[j] for x in X) / n
            sxz = [sum((x[j] - xm) * z[a] for x, z in zip(X, Zc)) for a in range(q)]
            beta = [sum(Szz[a][b] * sxz[b] for b in range(q)) for a in range(q)]
            for x, z in zip(X, Zc):
                x[j] = x[j] - xm - sum(beta[a] * z[a] for a in range(q))
    mean = [0.0 if noint else sum(x[j] for x in X) / n for j in range(p)]
    div = n if noint else n - 1
    sd = [math.sqrt(sum((x[j] - mean[j]) ** 2 for x in X) / div) for j in range(p)]
    S = [[(x[j] - mean[j]) / sd[j] for j in range(p)] for x in X]
    R = [[sum(s[i] * s[j] for s in S) / div for j in range(p)] for i in range(p)]
    L = pattern(step, loadings, region)
    m = len(L[0])
    Ri = inverse(R)
    B = [[sum(Ri[i][k] * L[k][f] for k in range(p)) for f in range(m)] for i in range(p)]
    k = 0
    scores = []
    for r, o in zip(data, out):
        cols = [f"Factor{f + 1}" for f in range(m_cols)]
        if r not in used:
            if any(o[c] != "" for c in cols):
                failures.append(f"{out_name} {r['Tract']}: scores for a row with a missing value")
            continue
        want = [sum(S[k][i] * B[i][f] for i in range(p)) for f in range(m)]
        got = [num(o[c]) for c in cols]
        for f in range(m_cols):
            if f >= m:
                if got[f] is not None:
                    failures.append(f"{out_name} {r['Tract']}: Factor{f + 1} should be missing")
            elif got[f] is None or abs(got[f] - want[f]) > 1e-9 * max(1, abs(want[f])):
                failures.append(f"{out_name} {r['Tract']} Factor{f + 1}: {got[f]}, expected {want[f]}")
        if partial:
            for j, v in enumerate(names):
                g = num(o["R_" + v])
                if g is None or abs(g - X[k][j]) > 1e-9 * max(1, abs(X[k][j])):
                    failures.append(f"{out_name} {r['Tract']} R_{v}: {g}, expected {X[k][j]}")
        for c in r:  # the input columns come through unchanged
            if o[c] != r[c] and (c == "Tract" or num(o[c]) != num(r[c])):
                failures.append(f"{out_name} {r['Tract']} {c}: {o[c]!r}, expected {r[c]!r}")
        scores.append(got[:m])
        k += 1
    if unit:
        # Components: unit variance and no correlation (divisor N - 1).
        for a in range(m):
            for b in range(m):
                c = sum(s[a] * s[b] for s in scores) / (n - 1)
                if abs(c - (a == b)) > 1e-9:
                    failures.append(f"{out_name}: score covariance ({a + 1},{b + 1}) = {c}")


check(0, "pc", ALL, unit=True)
check(1, "pc3", ALL, m_cols=3, unit=True)
check(2, "pf", ALL)
check(3, "noint", ALL, noint=True)
check(4, "part", ["Population", "School", "Employment", "HouseValue"], partial=["Services"], unit=True)
# Two correlated partial variables (r = 0.78): the residuals must be those
# of the multiple regression, scaled by their own standard deviations.
check(5, "part2", ["Population", "School", "Employment"], partial=["Services", "HouseValue"], unit=True)
# BY groups: each group scored with its own solution, appended in order.
check(7, "bygroup", ALL, region="A", unit=True)
check(7, "bygroup", ALL, region="B", unit=True)
regions = [o["Region"] for o in csv.DictReader(open(os.path.join(work, "bygroup.csv")))]
if regions != [r["Region"] for r in all_data]:
    failures.append(f"bygroup: rows out of order: {regions}")

# An oblique solution is scored from its structure: B = R^-1 S.
check(6, "promax", ALL, loadings="FactorStructure")

# Under NOINT the OUTSTAT= rows are the uncorrected kinds, scoring rows
# typed USCORE.
types = [r["_TYPE_"] for r in csv.DictReader(open(os.path.join(work, "nointstat.csv")))]
want = (["MEAN", "USTD", "N"] + ["UCORR"] * 5 + ["COMMUNAL", "PRIORS", "EIGENVAL"]
        + ["PATTERN"] * 2 + ["USCORE"] * 2)
if types != want:
    failures.append(f"nointstat _TYPE_: {types}, expected {want}")
# PROMAX: the prerotation's rows, then the oblique solution's.
types = [r["_TYPE_"] for r in csv.DictReader(open(os.path.join(work, "promaxstat.csv")))]
pairs = lambda *ts: [t for t in ts for _ in range(2)]
want = (["MEAN", "STD", "N"] + ["CORR"] * 5 + ["COMMUNAL", "PRIORS", "EIGENVAL"]
        + pairs("UNROTATE", "PRETRANS", "PREROTAT", "PRESCORE", "TRANSFOR", "FCORR", "PATTERN",
                "RCORR", "REFERENC", "STRUCTUR", "SCORE"))
if types != want:
    failures.append(f"promaxstat _TYPE_: {types}, expected {want}")
print("\n".join(failures[:20]))
sys.exit(1 if failures else 0)
