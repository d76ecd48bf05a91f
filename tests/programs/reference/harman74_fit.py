#!/usr/bin/env python3
"""Reference values for the ML fit tests on Harman's (1976) 24 psychological
tests (N = 145), computed once, independently of zul: ln|R| by Gaussian
elimination in plain Python, Bartlett's chi-square of "no common factors",
and the fit measures of 4 factors derived from the published chi-square
226.68 on 186 df (Harman 1976; to ten digits below) through
F = chi2 / (B - 2k/3); and the ML communalities of 4 factors by the EM
algorithm of Rubin and Thayer (1982), a method that shares nothing with zul's Newton-Raphson fit.

    python3 harman74_fit.py ../../../examples/harman74.csv
prints the values; --write also writes fit_harman74.expected.json."""
import json, math, os, sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from refmath import inverse, logdet, stored_rows
from rotations import mat_mul as matmul, transpose

corr = stored_rows(sys.argv[1], "CORR")
n = stored_rows(sys.argv[1], "N")[0][0]
p = len(corr)
lndet = logdet(corr)
B = n - 1 - (2 * p + 5) / 6
df0 = p * (p - 1) / 2
chi0 = -B * lndet
rho0 = chi0 / df0
print("ln|R| = %.12f  chi2_0 = %.6f on %d df" % (lndet, chi0, df0))

# The k-factor chi-squares of R 4.2.2's stats::factanal on the same matrix
# (tight settings); rounded, they are Harman's published 622.91, 420.24,
# 295.59, 226.68 and 186.82.
published = {1: (622.9065234046, 252), 2: (420.2351921364, 229), 3: (295.5912505484, 207),
             4: (226.6838447232, 186), 5: (186.8203069468, 166)}


def measures(k, chi, df):
    F = chi / (B - 2 * k / 3) if k else -lndet
    D = (n - 1) * F
    rhok = chi / df if df > 0 else rho0
    return [D, D - 2 * df, D - math.log(n) * df, 0.0 if rho0 <= 1 else (rho0 - rhok) / (rho0 - 1)]


m0 = measures(0, chi0, df0)
m4 = measures(4, *published[4])
print("k = 0 measures", m0)
print("k = 4 measures", m4)


def em_uniquenesses(S, k, tol=1e-14, maxit=100000):
    """ML by EM (Rubin and Thayer 1982): with beta = L' Sigma^-1 and
    E = I - beta L + beta S beta', L <- S beta' E^-1 and
    psi <- diag(S - L beta S); Sigma^-1 by the Woodbury identity."""
    p = len(S)
    Si = inverse(S)
    psi = [1 / Si[i][i] for i in range(p)]
    L = [[(0.5 if j == 0 else 0.1 * ((i + j) % 3 - 1)) for j in range(k)] for i in range(p)]
    for _ in range(maxit):
        PiL = [[L[i][j] / psi[i] for j in range(k)] for i in range(p)]
        M = matmul(transpose(L), PiL)
        for j in range(k):
            M[j][j] += 1
        beta = transpose(matmul(PiL, inverse(M)))  # L' Sigma^-1 = M^-1 L' Psi^-1
        Sb = matmul(S, transpose(beta))
        bSb, bL = matmul(beta, Sb), matmul(beta, L)
        E = [[(a == b) - bL[a][b] + bSb[a][b] for b in range(k)] for a in range(k)]
        L = matmul(Sb, inverse(E))
        new = [S[i][i] - sum(L[i][a] * Sb[i][a] for a in range(k)) for i in range(p)]
        change = max(abs(a - b) for a, b in zip(new, psi))
        psi = new
        if change < tol:
            break
    return psi


em4 = [1 - x for x in em_uniquenesses(corr, 4)]
print("EM communalities, 4 factors", ["%.10f" % x for x in em4])
names = open(sys.argv[1]).readline().strip().split(",")[2:]

if "--write" not in sys.argv:
    sys.exit(0)

null = None
tables = []
for k in range(1, 6):
    chi, df = published[k]
    tables.append({"step": k - 1, "name": "SignifTests", "rows": [
        ["*", df0, chi0, "*"], ["*", null, null, null], ["*", df, chi, "*"], ["*", null, null, null]]})
    if k == 4:
        tables.append({"step": 3, "name": "FitMeasures", "rows": [["*", v] for v in m4]})
tables.append({"step": 5, "name": "SignifTests", "rows": [["*", df0, chi0, "*"], ["*", null, null, null]]})
tables.append({"step": 5, "name": "FitMeasures", "rows": [["*", v] for v in m0]})
tables.append({"step": 6, "name": "ConvergenceStatus", "rows": [[0, "Convergence criterion satisfied"]]})
here = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(here, "..", "fit_harman74.expected.json"), "w") as f:
    json.dump({
        "_source": "tests/programs/reference/harman74_fit.py: ln|R| by Gaussian elimination; the "
                   "k-factor chi-squares are R's factanal to ten digits (Harman's 1976 published "
                   "622.91, 420.24, 295.59, 226.68 and 186.82 rounded); the 4-factor fit measures "
                   "are derived from that chi-square.",
        "tolerance": {"absolute": 1e-6, "relative": 1e-9},
        "tables": tables,
        "log": ["No factor is retained"],
        "noTables": [{"step": 6, "name": "SignifTests"}],
    }, f, indent=1)
    f.write("\n")

with open(os.path.join(here, "..", "fit_communalities.expected.json"), "w") as f:
    json.dump({
        "_source": "tests/programs/reference/harman74_fit.py: ML communalities of Harman's 24 tests "
                   "with 4 factors by the EM algorithm (Rubin and Thayer 1982), to 1e-14 in psi; four "
                   "Newton steps (the first with the approximate second derivatives, the others "
                   "with the exact ones), where CONVERGE=0.001 stops, reach the optimum to 1e-7.",
        "tolerance": {"absolute": 1e-7, "relative": 1e-12},
        "tables": [
            {"name": "IterHistory", "rows": [["*"] * 28] * 3 + [[4, "*", "*", "*"] + em4]},
            {"name": "FinalCommunWgt", "rows": [[names[i], em4[i], "*"] for i in range(p)]},
        ],
    }, f, indent=1)
    f.write("\n")
