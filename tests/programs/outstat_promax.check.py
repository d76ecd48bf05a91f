#!/usr/bin/env python3
"""OUTSTAT= rows of outstat_promax.zul against the printed tables: factor
k's row of a p x m matrix is printed column k, of an m x m transformation
its column k, of a symmetric m x m matrix its row k; rows of m values end
in 24 - m missing values. Usage: outstat_promax.check.py WORKDIR"""
import csv, json, os, sys

work = sys.argv[1]
tables = json.load(open(os.path.join(work, "out.json")))["tables"]
rows = list(csv.reader(open(os.path.join(work, "pst.csv"))))[1:]
m, p = 3, 24
problems = []


def printed(name, which=0):
    t = [t for t in tables if t["name"] == name][which]
    return [r[2::2] for r in t["rows"]]  # exact values, one list per printed row


def column(matrix, k):
    return [row[k] for row in matrix]


def block(kind):
    got = [r for r in rows if r[0] == kind]
    if len(got) != m:
        problems.append(f"{kind}: {len(got)} rows, expected {m}")
    return got


def same(kind, k, got, want):
    for j, w in enumerate(want):
        if got[j] == "" or abs(float(got[j]) - w) > 1e-12 * max(1, abs(w)):
            problems.append(f"{kind} row {k + 1} value {j + 1}: {got[j]!r}, expected {w}")
            return


checks = [  # _TYPE_, printed table (which occurrence), orientation
    ("PRETRANS", "OrthTrans", 0, "column"), ("PREROTAT", "OrthRotFactPat", 0, "column"),
    ("PRESCORE", "StdScoreCoef", 0, "column"), ("FCORR", "InterFactorCorr", 0, "row"),
    ("PATTERN", "ObliqueRotFactPat", 0, "column"), ("RCORR", "ReferenceAxisCorr", 0, "row"),
    ("REFERENC", "ReferenceStructure", 0, "column"), ("STRUCTUR", "FactorStructure", 0, "column"),
    ("SCORE", "StdScoreCoef", 1, "column")]
for kind, name, which, how in checks:
    matrix = printed(name, which)
    for k, r in enumerate(block(kind)):
        if r[1] != f"Factor{k + 1}":
            problems.append(f"{kind} row {k + 1}: _NAME_ {r[1]!r}")
        want = column(matrix, k) if how == "column" else matrix[k]
        same(kind, k, r[2:], want)
        if len(want) == m and any(x != "" for x in r[2 + m:]):
            problems.append(f"{kind} row {k + 1}: values after the {m} of the factors")
for r in block("TRANSFOR"):
    if any(x == "" for x in r[2:2 + m]) or any(x != "" for x in r[2 + m:]):
        problems.append(f"TRANSFOR {r[1]}: {m} values then missing ones expected")


def stored(name):
    """The factor blocks of OUTSTAT= table `name` by BY group: {group: {type: rows}},
    each row the values of one factor (column k of a p x m or m x m matrix)."""
    lines = list(csv.reader(open(os.path.join(work, name + ".csv"))))
    at = lines[0].index("_TYPE_")
    groups = {}
    for r in lines[1:]:
        values = [float(x) if x else None for x in r[at + 2:]]
        groups.setdefault(tuple(r[:at]), {}).setdefault(r[at].strip(), []).append(values)
    return groups


def maps(name, group, rows, source, result):
    """unrotated x T = rotated, with T's columns in the `source` rows."""
    if source not in rows or result not in rows:
        problems.append(f"{name} {group}: no {source} or {result} rows")
        return
    a, t, l = rows["UNROTATE"], rows[source], rows[result]
    m = len(t)
    p = len(a[0])
    for j in range(m):
        for i in range(p):
            want = l[j][i]
            got = sum(a[k][i] * t[j][k] for k in range(m))
            if abs(got - want) > 1e-9:
                problems.append(f"{name} {group}: UNROTATE x {source} = {got} at ({i + 1}, "
                                f"{j + 1}), {result} holds {want}")
                return


for name in ["pst", "vq", "qv", "qh", "qop", "np"]:
    for group, rows in stored(name).items():
        maps(name, group, rows, "TRANSFOR", "PATTERN")
        if "PRETRANS" in rows:
            maps(name, group, rows, "PRETRANS", "PREROTAT")

# What the listing shows: the last transformation printed in a step is the
# stored one.
for step, name in [(1, "vq"), (2, "qv"), (3, "qh"), (4, "qop")]:
    shown = [t for t in tables if t["step"] == step and t["name"].endswith("Trans")][-1]
    matrix = [r[2::2] for r in shown["rows"]]
    for k, r in enumerate(stored(name)[()]["TRANSFOR"]):
        if any(abs(w - g) > 1e-12 for w, g in zip(column(matrix, k), r)):
            problems.append(f"step {step}: printed {shown['name']} column {k + 1} differs "
                            f"from TRANSFOR")

# Read back, the stored oblique solution has the structure it was stored with.
back = [t for t in tables if t["step"] == 6 and t["name"] == "FactorStructure"]
first = [t for t in tables if t["step"] == 1 and t["name"] == "FactorStructure"]
if not back or not first:
    problems.append("no FactorStructure of step 1 or of its table read back")
else:
    got, want = [r[2::2] for r in back[-1]["rows"]], [r[2::2] for r in first[-1]["rows"]]
    if any(abs(g - w) > 1e-9 for gr, wr in zip(got, want) for g, w in zip(gr, wr)):
        problems.append("the structure read back differs from the one stored")
print("\n".join(problems[:20]))
sys.exit(1 if problems else 0)
