#!/usr/bin/env python3
"""Reference values for Harman's socioeconomic data (Harman 1976, table
2.1), computed once, independently of zul: plain Python with cyclic Jacobi
rotations for the eigen problems and Gauss-Jordan elimination with full
matrices for the inverse. The eigenvalues of R agree with the published
2.87331, 1.79666, 0.21483, 0.09993, 0.01527.

    python3 harman_socioeconomic.py ../extract_socioeconomics.csv
prints every value; with --write it also writes the expected files of the
extract_harman_* program tests beside this folder."""
import math, os, sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from refmath import csv_moments, eigen_rows, inverse, jacobi, plain_rows, write_expected

names, data, mean, sd, cov, R = csv_moments(sys.argv[1])
n, p = len(data), len(names)

print("means", mean); print("std", sd)
print("R"); [print(" ".join("%.10f" % x for x in row)) for row in R]
vals, vecs = jacobi(R)
print("eigenvalues of R", ["%.10f" % v for v in vals])
for j in range(2):
    print("PC%d eigenvector" % (j + 1), ["%.10f" % x for x in vecs[j]])
    print("PC%d loadings" % (j + 1), ["%.10f" % (x * math.sqrt(vals[j])) for x in vecs[j]])
comm = [sum((vecs[j][i] * math.sqrt(vals[j])) ** 2 for j in range(2)) for i in range(p)]
print("PC communalities (2)", ["%.10f" % x for x in comm], "total %.10f" % sum(comm))
Ri = inverse(R)
smc = [1 - 1 / Ri[i][i] for i in range(p)]
print("SMC", ["%.10f" % x for x in smc])
P = [[(1.0 if i == j else -Ri[i][j] / math.sqrt(Ri[i][i] * Ri[j][j])) for j in range(p)] for i in range(p)]
print("partial correlations controlling all others"); [print(" ".join("%.10f" % x for x in row)) for row in P]
r2 = [sum(R[i][j] ** 2 for j in range(p) if j != i) for i in range(p)]
p2 = [sum(P[i][j] ** 2 for j in range(p) if j != i) for i in range(p)]
print("MSA", ["%.10f" % (r2[i] / (r2[i] + p2[i])) for i in range(p)], "overall %.10f" % (sum(r2) / (sum(r2) + sum(p2))))
Rr = [[(smc[i] if i == j else R[i][j]) for j in range(p)] for i in range(p)]
vals2, vecs2 = jacobi(Rr)
print("eigenvalues of reduced R (SMC)", ["%.10f" % v for v in vals2], "sum %.10f" % sum(vals2))
for j in range(2):
    print("PF%d loadings" % (j + 1), ["%.10f" % (x * math.sqrt(vals2[j])) for x in vecs2[j]])
comm2 = [sum(vecs2[j][i] ** 2 * vals2[j] for j in range(2)) for i in range(p)]
print("PF communalities (2)", ["%.10f" % x for x in comm2], "total %.10f" % sum(comm2))

# Harris (1962) component analysis: the reduced matrix (SMC diagonal) scaled
# by w = 1 / max(1 - SMC, 0.001) on both sides; loadings z sqrt(lambda) / sqrt(w).
w = [1 / max(1 - s, 0.001) for s in smc]
Rh = [[math.sqrt(w[i]) * Rr[i][j] * math.sqrt(w[j]) for j in range(p)] for i in range(p)]
vals3, vecs3 = jacobi(Rh)
k3 = 0
while k3 < p and vals3[k3] > 1.0:  # Harris: eigenvalues above 1
    k3 += 1
load3 = [[vecs3[j][i] * math.sqrt(vals3[j]) / math.sqrt(w[i]) for j in range(k3)] for i in range(p)]
print("Harris eigenvalues", ["%.10f" % v for v in vals3], "retained", k3)

# Principal components of the covariance matrix (COV): weights are the
# variances, the threshold their mean; loadings z sqrt(lambda) / sd.
vals4, vecs4 = jacobi(cov)
t4 = sum(cov[i][i] for i in range(p)) / p
k4 = 0
while k4 < p and vals4[k4] > t4:
    k4 += 1
load4 = [[vecs4[j][i] * math.sqrt(vals4[j]) / sd[i] for j in range(k4)] for i in range(p)]
print("covariance eigenvalues", ["%.6f" % v for v in vals4], "retained", k4)

if "--write" not in sys.argv:
    sys.exit(0)

SOURCE = ("Computed once by tests/programs/reference/harman_socioeconomic.py: plain Python, "
          "Jacobi eigen solver, Gauss-Jordan inverse; the eigenvalues of R agree with Harman's "
          "published 2.87331, 1.79666, 0.21483, 0.09993, 0.01527.")

pc = [[vecs[j][i] * math.sqrt(vals[j]) for j in range(2)] for i in range(p)]
write_expected("extract_harman_components", {
    "_source": SOURCE,
    "tolerance": {"absolute": 1e-9, "relative": 1e-9},
    "tables": [
        {"name": "ParCorrControlVar", "rows": plain_rows(names, P)},
        {"name": "SamplingAdequacy",
         "rows": [[names[i], r2[i] / (r2[i] + p2[i])] for i in range(p)],
         "values": {"_OverallMSA": sum(r2) / (sum(r2) + sum(p2))}},
        {"name": "Eigenvalues", "rows": eigen_rows(vals)},
        {"name": "Eigenvectors", "rows": plain_rows(names, [[vecs[j][i] for j in range(2)] for i in range(p)])},
        {"name": "FactorPattern", "rows": plain_rows(names, pc)},
        {"name": "VarExplain", "rows": [["Factor1", vals[0]], ["Factor2", vals[1]]]},
        {"name": "FinalCommun", "rows": [[names[i], comm[i]] for i in range(p)]},
    ],
    "log": ["2 factors will be retained by the MINEIGEN criterion"],
})

# Principal factor with SMC priors, ROUND and REORDER: rows ordered by the
# factor of the largest |loading|, then by decreasing loading; values times
# 100, flagged above the root mean square of the printed loadings.
pf = [[vecs2[j][i] * math.sqrt(vals2[j]) for j in range(2)] for i in range(p)]
dom = [max(range(2), key=lambda j: (abs(pf[i][j]), -j)) for i in range(p)]
order = sorted(range(p), key=lambda i: (dom[i], -pf[i][dom[i]], i))
rms = math.sqrt(sum(x * x for row in pf for x in row) / (2 * p))
write_expected("extract_harman_smc", {
    "_source": SOURCE + " Flag threshold = root mean square of the ten loadings.",
    "tolerance": {"absolute": 1e-9, "relative": 1e-9},
    "tables": [
        {"name": "PriorCommunalEst", "rows": [[names[i], smc[i]] for i in range(p)]},
        {"name": "Eigenvalues", "rows": eigen_rows(vals2)},
        {"name": "FactorPattern",
         "rows": [[names[i]] + [x for v in pf[i] for x in (100 * v, "*" if abs(v) > rms else "", v)]
                  for i in order]},
        {"name": "VarExplain", "rows": [["Factor1", vals2[0]], ["Factor2", vals2[1]]]},
        {"name": "FinalCommun", "rows": [[names[i], comm2[i]] for i in range(p)]},
    ],
    "log": ["2 factors will be retained by the PROPORTION criterion"],
    "listing": ["Values greater than %.6g" % rms],
})

comm3 = [sum(x * x for x in load3[i]) for i in range(p)]
write_expected("extract_harman_harris", {
    "_source": SOURCE,
    "tolerance": {"absolute": 1e-9, "relative": 1e-9},
    "tables": [
        {"name": "Eigenvalues", "rowsPrefix": [[i + 1, vals3[i]] + ["*"] * 3 for i in range(p)]},
        {"name": "FactorPattern", "rows": plain_rows(names, load3)},
        {"name": "VarExplainWgt", "rows": [
            ["Weighted"] + [sum(w[i] * load3[i][j] ** 2 for i in range(p)) for j in range(k3)],
            ["Unweighted"] + [sum(load3[i][j] ** 2 for i in range(p)) for j in range(k3)]]},
        {"name": "FinalCommunWgt", "rows": [[names[i], comm3[i], w[i]] for i in range(p)]},
    ],
})

comm4 = [sum(x * x for x in load4[i]) for i in range(p)]
write_expected("extract_harman_cov", {
    "_source": SOURCE + " Covariances with divisor N - 1.",
    # Variances 1.3e7 apart are well within double precision.
    "logAbsent": ["cannot tell the factors"],
    "tolerance": {"absolute": 1e-9, "relative": 1e-9},
    "tables": [
        {"name": "Eigenvalues", "rowsPrefix": [[i + 1, vals4[i]] + ["*"] * 3 for i in range(p)]},
        {"name": "FactorPattern", "rows": plain_rows(names, load4)},
        {"name": "VarExplainWgt", "rows": [
            ["Weighted"] + [vals4[j] for j in range(k4)],
            ["Unweighted"] + [sum(load4[i][j] ** 2 for i in range(p)) for j in range(k4)]]},
        {"name": "FinalCommunWgt", "rows": [[names[i], comm4[i], cov[i][i]] for i in range(p)]},
    ],
})

