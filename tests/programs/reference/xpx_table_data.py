#!/usr/bin/env python3
"""Writes xpx_table/_MKXPX_.csv: the crossproduct table of
datapass_weights.csv (VAR x y z, WEIGHT w), computed here in plain
Python: records with a weight at or below 0 dropped, sums of w (x - shift)
and crossproducts about the first used record. Run from
tests/programs/ (check_reference.py --cwd .)."""
import csv
import os

COLUMNS = ["_NREAD_", "_NUSED_", "_NMISS_", "_FREAD_", "_FUSED_", "_WREAD_", "_WUSED_",
           "_NVAR_", "_KEY_", "_DNAME_"]


def summarise(rows, names, weight=None):
    used = []
    for r in rows:
        w = float(r[weight]) if weight else 1.0
        if w <= 0:
            continue
        used.append((w, [float(r[v]) for v in names]))
    shift = used[0][1]
    n = len(names)
    sums = [sum(w * (x[i] - shift[i]) for w, x in used) for i in range(n)]
    cross = [sum(w * (x[i] - shift[i]) * (x[j] - shift[j]) for w, x in used)
             for i in range(n) for j in range(i + 1)]
    wsum = sum(w for w, _ in used)
    counts = [len(rows), len(used), 0, len(rows), len(used), wsum, wsum, n]
    return counts, sums, cross, shift


def header(by, names):
    n = len(names)
    q = ["_Q%d_%d_" % (i + 1, j + 1) for i in range(n) for j in range(i + 1)]
    return COLUMNS + by + names + q + ["_SHIFT%d_" % (i + 1) for i in range(n)]


def write(path, by, names, groups, dname):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(header(by, names))
        for key, (byvals, rows, weight) in enumerate(groups, start=1 if by else 0):
            counts, sums, cross, shift = summarise(rows, names, weight)
            out.writerow([repr(c) for c in counts] + [key, dname] + byvals +
                         [repr(v) for v in sums + cross + shift])


names = ["x", "y", "z"]
rows = list(csv.DictReader(open("datapass_weights.csv")))
write("xpx_table/_MKXPX_.csv", [], names, [([], rows, "w")], "WORK.DATAPASS_WEIGHTS")
