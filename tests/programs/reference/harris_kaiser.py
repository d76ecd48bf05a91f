#!/usr/bin/env python3
"""The Harris-Kaiser (1964) orthoblique solution, computed independently of
zul: the pattern L is written L = Q M^(1/2) V^T, with M the eigenvalues and
V the eigenvectors of L^T L and Q = L V M^(-1/2) its unit-length principal
axes. With power c the rescaled axes B = Q M^(c/2) are rotated by varimax
with Kaiser normalisation (Kaiser's pairwise planar rotations, rotations.py),
giving the orthogonal T; then

    pattern P = Q M^(c/2) T D,  Phi = D^-1 T^T M^(1-c) T D^-1,
    D = diag(T^T M^(1-c) T)^(1/2),

so that P Phi P^T = L L^T. Power 0 is the independent-cluster solution
(case II) with correlated factors; power 1 rotates L V, an orthogonal
turn of L, and leaves Phi = I. Factors are ordered by decreasing sums of
squares of their pattern columns, and signed to a positive column sum.

    python3 harris_kaiser.py ../../../examples/harman74.csv
prints case II of the first four principal components of Harman's 24 tests
(PRIORS=ONE)."""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from refmath import jacobi, stored_rows  # noqa: E402
from rotations import mat_mul, transpose, varimax_kaiser  # noqa: E402


def principal_axes(l):
    """M (decreasing) and Q = L V M^(-1/2) of the pattern l."""
    vals, vecs = jacobi(mat_mul(transpose(l), l))
    v = transpose(vecs)  # eigenvectors as columns
    q = mat_mul(l, v)
    q = [[x / math.sqrt(vals[j]) for j, x in enumerate(row)] for row in q]
    return vals, q


def harris_kaiser(l, power=0.0):
    """Pattern and Phi of the Harris-Kaiser solution of l with the power."""
    vals, q = principal_axes(l)
    m = len(vals)
    b = [[x * vals[j] ** (power / 2) for j, x in enumerate(row)] for row in q]
    rotated = varimax_kaiser(b)
    # T = (B^T B)^-1 B^T (B T), with B^T B = M^c.
    bt_r = mat_mul(transpose(b), rotated)
    t = [[bt_r[i][j] / vals[i] ** power for j in range(m)] for i in range(m)]
    s = [[sum(t[k][i] * vals[k] ** (1 - power) * t[k][j] for k in range(m)) for j in range(m)]
         for i in range(m)]
    d = [math.sqrt(s[j][j]) for j in range(m)]
    pattern = [[x * d[j] for j, x in enumerate(row)] for row in rotated]
    phi = [[s[i][j] / (d[i] * d[j]) for j in range(m)] for i in range(m)]
    return standard_form(pattern, phi)


def standard_form(pattern, phi):
    """Factors ordered by decreasing column sums of squares, each signed so
    that its pattern column sums to a positive number."""
    m = len(phi)
    sums = [sum(row[j] ** 2 for row in pattern) for j in range(m)]
    order = sorted(range(m), key=lambda j: -sums[j])
    sign = [1.0 if sum(row[j] for row in pattern) >= 0 else -1.0 for j in range(m)]
    pattern = [[row[j] * sign[j] for j in order] for row in pattern]
    phi = [[phi[i][j] * sign[i] * sign[j] for j in order] for i in order]
    return pattern, phi


def principal_components(corr, m):
    """The first m principal components of a correlation matrix."""
    vals, vecs = jacobi(corr)
    return [[vecs[j][i] * math.sqrt(vals[j]) for j in range(m)] for i in range(len(corr))]


if __name__ == "__main__":
    l = principal_components(stored_rows(sys.argv[1], "CORR"), 4)
    pattern, phi = harris_kaiser(l, 0.0)
    print("pattern")
    for row in pattern:
        print(" ".join(f"{x:9.5f}" for x in row))
    print("Phi")
    for row in phi:
        print(" ".join(f"{x:9.5f}" for x in row))
