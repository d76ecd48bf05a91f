#!/usr/bin/env python3
"""Reference values for the iterated methods on Harman's socioeconomic data
(Harman 1976, table 2.1), computed once, independently of zul: plain Python,
cyclic Jacobi rotations for every eigen problem, and the plain fixed-point
loops written out here.

- PRINIT: h <- diag of the k leading eigenpairs of R with h on its diagonal,
  repeated until the largest change is below the criterion; the fixed point
  of this loop also minimises the unweighted least-squares criterion, so it
  serves for METHOD=ULS too (Harman 1976, minres).
- ALPHA (Kaiser and Caffrey 1965): the same with the reduced matrix scaled
  by H^-1/2 on both sides, h <- h * (diag of the leading eigenpairs).

    python3 iterated_socioeconomic.py ../extract_socioeconomics.csv
prints the values; --write also writes the expected files of the
iterated_* program tests beside this folder."""
import math, os, sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from refmath import csv_moments, jacobi, write_expected

names, data, mean, sd, cov, R = csv_moments(sys.argv[1])
n, p = len(data), len(names)


def prinit(h, k, criterion, alpha=False, maxiter=10000):
    """HEYWOOD: estimates above 1 are set to 1 after each pass. Returns the
    (change, estimates) of every pass, the last eigenvalues and the pattern
    of the last pass, its rows above 1 scaled back to a communality of 1."""
    passes = []
    for it in range(maxiter):
        if alpha:
            s = [1 / math.sqrt(x) for x in h]
            A = [[(h[i] if i == j else R[i][j]) * s[i] * s[j] for j in range(p)] for i in range(p)]
        else:
            A = [[(h[i] if i == j else R[i][j]) for j in range(p)] for i in range(p)]
        vals, vecs = jacobi(A)
        new = [sum(max(0, vals[j]) * vecs[j][i] ** 2 for j in range(k)) for i in range(p)]
        if alpha:
            new = [new[i] * h[i] for i in range(p)]
        # ALPHA's vectors belong to the scaled matrix: its loadings are
        # multiplied back by sqrt(h).
        u = [math.sqrt(h[i]) if alpha else 1.0 for i in range(p)]
        pattern = [[vecs[j][i] * math.sqrt(max(0, vals[j])) * u[i] for j in range(k)]
                   for i in range(p)]
        pattern = [[a / math.sqrt(max(1.0, sum(b * b for b in row))) for a in row]
                   for row in pattern]
        new = [min(1.0, x) for x in new]
        change = max(abs(a - b) for a, b in zip(new, h))
        passes.append((change, new))
        h = new
        if criterion > change:
            break
    return passes, vals, pattern


def communalities(pattern):
    return [sum(a * a for a in row) for row in pattern]


ones = [1.0] * p
pr_passes, pr_vals, pr_pattern = prinit(ones, 2, 1e-10)
pr_final = communalities(pr_pattern)
print("PRINIT k=2 HEYWOOD from ONE:", len(pr_passes), "passes, h =", ["%.12f" % x for x in pr_passes[-1][1]])
print("  final communalities", ["%.12f" % x for x in pr_final])
al_passes, al_vals, al_pattern = prinit(ones, 2, 1e-10, alpha=True)
print("ALPHA k=2 HEYWOOD from ONE:", len(al_passes), "passes, h =", ["%.12f" % x for x in al_passes[-1][1]])
print("  pattern", al_pattern)
print("  eigenvalues", ["%.10f" % v for v in al_vals])

if "--write" not in sys.argv:
    sys.exit(0)

SOURCE = ("Computed once by tests/programs/reference/iterated_socioeconomic.py: plain Python, "
          "Jacobi eigen solver, the fixed-point loop of iterated principal factors (and of "
          "alpha factoring) written out; its fixed point also minimises the ULS criterion.")


def communal_rows(h):
    return [[names[i], h[i]] for i in range(p)]


# MAXITER=0: no pass, so the principal factor solution at the priors (ONE):
# the principal components.
pc_vals, pc_vecs = jacobi(R)
# Coefficient alpha of each factor: p (1 - 1/lambda) / (p - 1).
coef = [p * (1 - 1 / al_vals[j]) / (p - 1) for j in range(2)]
first = pr_passes[0]
write_expected("iterated_socioeconomic", {
    "_source": SOURCE,
    "tolerance": {"absolute": 1e-8, "relative": 1e-8},
    "tables": [
        {"step": 0, "name": "ConvergenceStatus", "rows": [[0, "Convergence criterion satisfied"]]},
        {"step": 0, "name": "FinalCommun", "rows": communal_rows(pr_final)},
        {"step": 1, "name": "IterHistory", "rows": [[1, first[0]] + first[1]],
         "columns": [{"name": "Iteration", "label": ""}, {"name": "Change", "label": ""}]
         + [{"name": v, "label": "EstCommunal " + v} for v in names]},
        {"step": 1, "name": "ConvergenceStatus", "rows": [[3, "*"]]},
        {"step": 2, "name": "ConvergenceStatus", "rows": [[0, "Convergence criterion satisfied"]]},
        {"step": 2, "name": "AlphaCoef", "rows": [["Factor1", coef[0]], ["Factor2", coef[1]]]},
        {"step": 2, "name": "FinalCommunWgt",
         "rows": [[names[i], h, "*"] for i, h in enumerate(communalities(al_pattern))]},
        {"step": 3, "name": "ConvergenceStatus", "rows": [[3, "*"]]},
        {"step": 3, "name": "FactorPattern", "rows": [
            [names[i]] + [x for j in range(2) for x in (pc_vecs[j][i] * math.sqrt(pc_vals[j]),) * 2]
            for i in range(p)]},
    ],
    "log": ["The iteration did not converge within MAXITER= passes"],
    # MAXITER=0 runs no pass, so there is no history to show.
    "noTables": [{"name": "IterHistory", "step": 3}],
})
# ULS with HEYWOOD: the bounded minimum is the fixed point above, reached
# by Newton steps to about 1e-7; Population's row is held to a communality
# of 1.
write_expected("uls_socioeconomic", {
    "_source": SOURCE,
    "tolerance": {"absolute": 1e-6, "relative": 1e-6},
    "tables": [
        {"name": "ConvergenceStatus", "rows": [[0, "Convergence criterion satisfied"]]},
        {"name": "FactorPattern", "rows": [
            [names[i]] + [x for a in pr_pattern[i] for x in (a, a)] for i in range(p)]},
        {"name": "FinalCommun", "rows": communal_rows(pr_final)},
    ],
    "log": ["With HEYWOOD the loadings of the last eigen step gave variable Population a "
            "communality of 1.00296 times its variance"],
})
