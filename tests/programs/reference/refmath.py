"""Plain-Python linear algebra for the reference scripts: cyclic Jacobi
rotations for symmetric eigen problems (eigenvalues in decreasing order,
each vector signed to a positive sum) and Gauss-Jordan inversion with
partial pivoting; and the rows of the tables the expected files compare.
Slow, simple and independent of zul."""
import json
import math
import os


def jacobi(A):
    n = len(A); A = [row[:] for row in A]; V = [[float(i == j) for j in range(n)] for i in range(n)]
    for sweep in range(100):
        off = sum(A[i][j] ** 2 for i in range(n) for j in range(n) if i != j)
        if off < 1e-30: break
        for p_ in range(n):
            for q in range(p_ + 1, n):
                if abs(A[p_][q]) < 1e-300: continue
                theta = (A[q][q] - A[p_][p_]) / (2 * A[p_][q])
                t = (1 if theta >= 0 else -1) / (abs(theta) + math.sqrt(theta * theta + 1))
                c = 1 / math.sqrt(t * t + 1); s = t * c
                for k in range(n):
                    akp, akq = A[k][p_], A[k][q]
                    A[k][p_], A[k][q] = c * akp - s * akq, s * akp + c * akq
                for k in range(n):
                    apk, aqk = A[p_][k], A[q][k]
                    A[p_][k], A[q][k] = c * apk - s * aqk, s * apk + c * aqk
                for k in range(n):
                    vkp, vkq = V[k][p_], V[k][q]
                    V[k][p_], V[k][q] = c * vkp - s * vkq, s * vkp + c * vkq
    vals = [A[i][i] for i in range(n)]
    order = sorted(range(n), key=lambda i: -vals[i])
    vecs = []
    for i in order:
        v = [V[k][i] for k in range(n)]
        if sum(v) < 0: v = [-x for x in v]   # sign: positive sum
        vecs.append(v)
    return [vals[i] for i in order], vecs

def inverse(A):
    n = len(A); M = [row[:] + [float(i == j) for j in range(n)] for i, row in enumerate(A)]
    for c in range(n):
        piv = max(range(c, n), key=lambda r: abs(M[r][c])); M[c], M[piv] = M[piv], M[c]
        d = M[c][c]; M[c] = [x / d for x in M[c]]
        for r in range(n):
            if r != c:
                f = M[r][c]; M[r] = [a - f * b for a, b in zip(M[r], M[c])]
    return [row[n:] for row in M]


def logdet(A):
    """ln|det A| by Gaussian elimination with partial pivoting."""
    n = len(A); A = [row[:] for row in A]; out = 0.0
    for c in range(n):
        piv = max(range(c, n), key=lambda r: abs(A[r][c])); A[c], A[piv] = A[piv], A[c]
        out += math.log(abs(A[c][c]))
        for r in range(c + 1, n):
            f = A[r][c] / A[c][c]; A[r] = [a - f * b for a, b in zip(A[r], A[c])]
    return out


def stored_rows(path, word):
    """The rows of _TYPE_ word of a stored matrix table (_TYPE_, _NAME_, values)."""
    import csv
    return [[float(x) for x in r[2:]] for r in csv.reader(open(path)) if r[0] == word]


def eigen_rows(vals):
    """Rows of the Eigenvalues table: number, eigenvalue, difference to the
    next, proportion and cumulative proportion of their sum."""
    s = sum(vals); cum = 0; out = []
    for i, v in enumerate(vals):
        cum += v / s
        out.append([i + 1, v, vals[i] - vals[i + 1] if i + 1 < len(vals) else None, v / s, cum])
    return out


def plain_rows(labels, matrix):
    """Rows of a matrix table: each value as displayed and as original."""
    return [[labels[i]] + [x for v in row for x in (v, v)] for i, row in enumerate(matrix)]


def csv_moments(path):
    """Column names, rows, means, standard deviations, covariance matrix
    (divisor n - 1) and Pearson correlation matrix (0 for a constant
    column) of a numeric CSV file."""
    import csv
    rows = list(csv.reader(open(path)))
    names, data = rows[0], [[float(x) for x in r] for r in rows[1:]]
    n, p = len(data), len(names)
    mean = [sum(r[j] for r in data) / n for j in range(p)]
    cov = [[sum((r[i] - mean[i]) * (r[j] - mean[j]) for r in data) / (n - 1) for j in range(p)] for i in range(p)]
    sd = [math.sqrt(cov[i][i]) for i in range(p)]
    return names, data, mean, sd, cov, [[cov[i][j] / (sd[i] * sd[j]) if sd[i] > 0 and sd[j] > 0 else 0.0
                                         for j in range(p)] for i in range(p)]


def csv_correlations(path):
    """Column names and Pearson correlation matrix of a numeric CSV file."""
    names, *_, r = csv_moments(path)
    return names, r


def write_expected(name, obj):
    """Writes NAME.expected.json beside the program tests, indented by one."""
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "..", name + ".expected.json"), "w") as f:
        json.dump(obj, f, indent=1)
        f.write("\n")
