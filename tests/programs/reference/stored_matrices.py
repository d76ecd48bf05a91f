#!/usr/bin/env python3
"""Reference values for the stored-matrix, OUTSTAT= and residual program
tests, computed once, independently of zul: plain Python (refmath.py).

    python3 stored_matrices.py           prints the values
    python3 stored_matrices.py --write   also writes the expected files

Harman's 24 psychological tests (Harman 1976, table 7.4; N = 145) and the
six ability tests (Smith and Stanley 1983; covariances, N = 112) are read
from examples/. Principal factors: eigen decomposition of R with the prior
communalities on its diagonal, loadings = vector * sqrt(eigenvalue)."""
import csv, math, os, sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
from refmath import (csv_moments, eigen_rows, inverse, jacobi, plain_rows, stored_rows,
                     write_expected)

examples = os.path.join(here, "..", "..", "..", "examples")


def read_matrix(name, word):
    """Names, matrix (its rows in the names' order) and N of a stored table."""
    path = os.path.join(examples, name)
    names = open(path).readline().strip().split(",")[2:]
    return names, stored_rows(path, word), stored_rows(path, "N")[0][0]


def to_corr(c):
    s = [math.sqrt(c[i][i]) for i in range(len(c))]
    return [[c[i][j] / (s[i] * s[j]) for j in range(len(c))] for i in range(len(c))], s


def principal_factors(R, priors, m):
    p = len(R)
    Rr = [[priors[i] if i == j else R[i][j] for j in range(p)] for i in range(p)]
    vals, vecs = jacobi(Rr)
    load = [[vecs[j][i] * math.sqrt(vals[j]) for j in range(m)] for i in range(p)]
    return vals, load


def smc(R):
    inv = inverse(R)
    return [1 - 1 / inv[i][i] for i in range(len(R))]




SOURCE = "Computed once by tests/programs/reference/stored_matrices.py (plain Python, Jacobi eigen solver, Gauss-Jordan inverse)."

# Harman 74: principal factors with SMC priors, four factors.
hn, hR, hN = read_matrix("harman74.csv", "CORR")
hsmc = smc(hR)
hvals, hload = principal_factors(hR, hsmc, 4)
print("harman74 eigenvalues", hvals[:6])

# Ability: covariances to correlations; principal components, two factors.
an, aC, aN = read_matrix("ability.csv", "COV")
aR, asd = to_corr(aC)
avals, aload = principal_factors(aR, [1.0] * len(aR), 2)
print("ability eigenvalues", avals)

if "--write" not in sys.argv:
    sys.exit(0)

h_tables = lambda step: [
    {"name": "PriorCommunalEst", "step": step, "rows": [[hn[i], hsmc[i]] for i in range(24)]},
    {"name": "Eigenvalues", "step": step, "rows": eigen_rows(hvals)},
    {"name": "FactorPattern", "step": step, "rows": plain_rows(hn, hload)},
]
# Residuals R - L L' (|x| < 1.0536712127723509e-8 counted as 0), the
# partial correlations controlling for the factors, their root mean squares,
# and the scoring coefficients B = R^-1 L with d_j = L_j' B_j.
def rms(M):
    p = len(M)
    each = [math.sqrt(sum(M[i][j] ** 2 for j in range(p) if j != i) / (p - 1)) for i in range(p)]
    overall = math.sqrt(sum(M[i][j] ** 2 for i in range(p) for j in range(p) if j != i) / (p * (p - 1)))
    return each, overall

P24 = range(24)
hres = [[hR[i][j] - sum(hload[i][k] * hload[j][k] for k in range(4)) for j in P24] for i in P24]
hres = [[0.0 if abs(x) < 1.0536712127723509e-8 else x for x in row] for row in hres]
hu = [math.sqrt(hres[i][i]) for i in P24]
hpar = [[1.0 if i == j else hres[i][j] / (hu[i] * hu[j]) for j in P24] for i in P24]
hRi = inverse(hR)
hB = [[sum(hRi[i][k] * hload[k][f] for k in P24) for f in range(4)] for i in P24]
hd = [sum(hload[i][f] * hB[i][f] for i in P24) for f in range(4)]
res_each, res_all = rms(hres)
par_each, par_all = rms(hpar)
print("harman74 overall RMS residual", res_all, "partial", par_all)
fn = ["Factor%d" % (k + 1) for k in range(4)]
outstat = ([["MEAN", None] + [0] * 24, ["STD", None] + [1] * 24, ["N", None] + [145] * 24]
           + [["CORR", hn[i]] + hR[i] for i in P24]
           + [["COMMUNAL", None] + [sum(x * x for x in hload[i]) for i in P24],
              ["PRIORS", None] + hsmc, ["EIGENVAL", None] + hvals]
           + [["RESIDUAL", hn[i]] + hres[i] for i in P24]
           + [["PATTERN", fn[k]] + [hload[i][k] for i in P24] for k in range(4)]
           + [["SCORE", fn[k]] + [hB[i][k] for i in P24] for k in range(4)])
write_expected("stored_harman74", {
    "_source": SOURCE + " Both steps must give the same numbers: the second reads the CORR rows of the first step's OUTSTAT= table, whose every row is checked.",
    "tolerance": {"absolute": 1e-9, "relative": 1e-9},
    "tables": [{"name": "NObs", "step": 0, "rows": [["N of the Input Table", 145], ["N for Significance Tests", 145]]}]
              + h_tables(0)
              + [{"name": "VarFactorCorr", "step": 0, "rows": [[fn[k], hd[k]] for k in range(4)]},
                 {"name": "StdScoreCoef", "step": 0, "rows": plain_rows(hn, hB)},
                 {"name": "ResCorrUniqueDiag", "step": 0, "rows": plain_rows(hn, hres)},
                 {"name": "RMSOffDiagResids", "step": 0, "rows": [[hn[i], res_each[i]] for i in P24],
                  "titles": ["Root Mean Square Off-Diagonal Residuals: Overall = %g (each variable against 23 others, overall over 552 pairs)" % res_all]},
                 {"name": "ParCorrControlFactor", "step": 0, "rows": plain_rows(hn, hpar)},
                 {"name": "RMSOffDiagPartials", "step": 0, "rows": [[hn[i], par_each[i]] for i in P24]}]
              + h_tables(1),
    "csv": {"h74stat.csv": {"columns": ["_TYPE_", "_NAME_"] + hn, "rows": outstat}},
    "checkScript": "stored_harman74.check.py",
    "log": ["no MEAN values; means of 0 are assumed", "no STD values; standard deviations of 1 are assumed"],
})

write_expected("stored_ability", {
    "_source": SOURCE + " The covariances of examples/ability.csv turned into correlations.",
    "tolerance": {"absolute": 1e-9, "relative": 1e-9},
    "tables": [
        {"name": "SimpleStatistics", "step": 0, "rows": [[an[i], 0, asd[i]] for i in range(6)]},
        {"name": "Eigenvalues", "step": 0, "rows": eigen_rows(avals)},
        {"name": "FactorPattern", "step": 0, "rows": plain_rows(an, aload)},
    ],
})

# Harman's socioeconomic data (tests/programs/extract_socioeconomics.csv)
# stored by hand as TYPE=CORR (MEAN, STD, N, CORR rows) and TYPE=UCORR
# (MEAN, USTD, N, UCORR rows; moments about zero, divisor N): read back
# they must give what the raw data gives, with and without NOINT.
sn, data, mean, _, cov, _ = csv_moments(os.path.join(here, "..", "extract_socioeconomics.csv"))
n, p = len(data), len(sn)
ucp = [[sum(r[i] * r[j] for r in data) / n for j in range(p)] for i in range(p)]
sR, ssd = to_corr(cov)
uR, usd = to_corr(ucp)


def stored_csv(name, word, stdword, R, sd):
    with open(os.path.join(here, "..", name), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["_TYPE_", "_NAME_"] + sn)
        w.writerow(["MEAN", ""] + [repr(x) for x in mean])
        w.writerow([stdword, ""] + [repr(x) for x in sd])
        w.writerow(["N", ""] + [n] * p)
        for i in range(p):
            w.writerow([word, sn[i].lower()] + [repr(x) for x in R[i]])


stored_csv("stored_socio_corr.csv", "CORR", "STD", sR, ssd)
stored_csv("stored_socio_ucorr.csv", "UCORR", "USTD", uR, usd)
svals, _ = jacobi(sR)
uvals, _ = jacobi(uR)
# Sums of squares about zero and about the mean, divisor N - 1 (VARDEF=DF):
# what the UCORR table gives without NOINT once it is recentred.
write_expected("stored_roundtrip", {
    "_source": SOURCE + " Eigenvalues of the correlations of the raw data about the mean (steps 0, 1, 3) and about zero (steps 2, 4).",
    "tolerance": {"absolute": 1e-9, "relative": 1e-9},
    "tables": [
        {"name": "SimpleStatistics", "step": 0, "rows": [[sn[i], mean[i], ssd[i]] for i in range(p)]},
        {"name": "Eigenvalues", "step": 0, "rows": eigen_rows(svals)},
        {"name": "SimpleStatistics", "step": 1, "rows": [[sn[i], mean[i], ssd[i]] for i in range(p)]},
        {"name": "Eigenvalues", "step": 1, "rows": eigen_rows(svals)},
        {"name": "Eigenvalues", "step": 2, "rows": eigen_rows(uvals)},
        {"name": "SimpleStatistics", "step": 3, "rows": [[sn[i], mean[i], ssd[i]] for i in range(p)]},
        {"name": "Eigenvalues", "step": 3, "rows": eigen_rows(svals)},
        {"name": "Eigenvalues", "step": 4, "rows": eigen_rows(uvals)},
    ],
})

# Rows that the priors and the weights take from a stored table: a WEIGHT
# row (the weights of a weighted analysis), and PRIORS=INPUT on an OUTSTAT=
# table, which finds its COMMUNAL row (final communalities, before the
# PRIORS row) first.
with open(os.path.join(here, "..", "stored_socio_weight.csv"), "w") as f:
    f.write(open(os.path.join(here, "..", "stored_socio_corr.csv")).read())
    f.write("WEIGHT,," + ",".join(str(k) for k in range(1, p + 1)) + "\n")
hcomm = [sum(x * x for x in hload[i]) for i in range(24)]
ivals, iload = principal_factors(hR, hcomm, 4)
write_expected("stored_input_rows", {
    "_source": SOURCE + " PRIORS=INPUT: the final communalities of the first Harman step as priors."
    " The PRIORS row with an empty cell: the priors as written, 0 for the gap.",
    "tolerance": {"absolute": 1e-9, "relative": 1e-9},
    "tables": [
        {"name": "FinalCommunWgt", "step": 0, "rows": [[sn[i], "*", i + 1] for i in range(p)]},
        {"name": "PriorCommunalEst", "step": 2, "rows": [[hn[i], hcomm[i]] for i in range(24)]},
        {"name": "Eigenvalues", "step": 2, "rows": eigen_rows(ivals)},
        {"name": "FactorPattern", "step": 2, "rows": plain_rows(hn, iload)},
        {"name": "PriorCommunalEst", "step": 3, "rows": [["a", 0.5], ["b", 0], ["c", 0.4]]},
    ],
    "log": ["PRIORS=INPUT takes the prior communalities from the COMMUNAL row of the input table (line",
            "Table T.STORED_PRIORS_GAP, line 6: the PRIORS row has no value for b; it is read as 0."],
    "logCount": {"from the COMMUNAL row": 1},
})
