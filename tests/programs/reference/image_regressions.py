#!/usr/bin/env python3
"""Reference values of METHOD=IMAGE for a raw-data CSV, computed once,
independently of zul: each variable regressed on all the others by the
normal equations (the inverse of the other variables' correlations times
their correlations with it), so that the image coefficients are the
regression weights, the squared multiple correlations r'b, and the image
covariance matrix G = W R W'. Eigen problems by refmath's Jacobi rotations
(vectors signed to a positive sum); the default number of factors keeps
the eigenvalues of G above the mean SMC; the final pattern solves W x = a.

    python3 image_regressions.py ../extract_socioeconomics.csv [--expected]
prints every value, or with --expected the tables of the
image_regressions program test as JSON."""
import math, os, sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from refmath import jacobi, inverse, csv_correlations

names, R = csv_correlations(sys.argv[1])
p = len(names)

W = [[0.0] * p for _ in range(p)]
smc = []
for i in range(p):
    others = [j for j in range(p) if j != i]
    Roo = inverse([[R[a][b] for b in others] for a in others])
    b = [sum(Roo[a][c] * R[others[c]][i] for c in range(len(others))) for a in range(len(others))]
    for a, j in enumerate(others):
        W[i][j] = b[a]
    smc.append(sum(b[a] * R[others[a]][i] for a in range(len(others))))
G = [[sum(W[i][a] * R[a][c] * W[j][c] for a in range(p) for c in range(p)) for j in range(p)] for i in range(p)]
vals, vecs = jacobi(G)
threshold = sum(smc) / p
k = 0
while k < p and vals[k] > threshold:
    k += 1
A = [[vecs[j][i] * math.sqrt(max(0.0, vals[j])) for j in range(k)] for i in range(p)]
Winv = inverse(W)
X = [[sum(Winv[i][c] * A[c][j] for c in range(p)) for j in range(k)] for i in range(p)]

def show(label, M):
    print(label)
    for i, row in enumerate(M):
        print(" ", names[i], "[" + ", ".join(repr(x) for x in row) + "]")

if "--expected" not in sys.argv:
    print("SMC", [repr(x) for x in smc])
    show("image coefficients W", W)
    show("image covariance G", G)
    print("eigenvalues of G", [repr(v) for v in vals], "mean SMC", repr(threshold), "k", k)
    show("image factors", A)
    show("pattern (W x = a)", X)

if "--expected" in sys.argv:
    # The tables of the image_regressions program test, as its expected
    # file holds them (matrix tables: each value twice, shown and exact).
    import json
    def matrix(name, M):
        return {"name": name, "rows": [[names[i]] + [x for v in row for x in (v, v)]
                                       for i, row in enumerate(M)]}
    print(json.dumps([
        {"name": "MultipleCorr", "rows": [[names[i], smc[i]] for i in range(p)]},
        matrix("ImageCoef", W),
        matrix("ImageCov", G),
        {"name": "Eigenvalues", "rowsPrefix": [[j + 1, vals[j], "*", "*", "*"] for j in range(p)]},
        matrix("ImageFactors", A),
        matrix("FactorPattern", X)], indent=1))
