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
print("\n".join(problems[:20]))
sys.exit(1 if problems else 0)
