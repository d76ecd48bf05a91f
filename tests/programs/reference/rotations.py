"""Rotations computed by other means than zul's, for the rotation program
tests: varimax by Kaiser's (1959) pairwise planar rotations with the
closed-form angle, the oblique criteria of two factors by a search over
the two axis angles, and promax by its definition (Hendrickson and White
1964). Also helpers to read the tables of zul's JSON output."""
import json
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from refmath import inverse  # noqa: E402


def load_tables(workdir):
    with open(os.path.join(workdir, "out.json")) as f:
        return json.load(f)["tables"]


def find(tables, name, step=None, after=-1):
    """Index and table of the first table called name after index `after`."""
    for i, t in enumerate(tables):
        if i > after and t["name"] == name and (step is None or t["step"] == step):
            return i, t
    raise SystemExit(f"no table {name} (step {step}) after {after}")


def matrix(table):
    """The exact values of a printed matrix: the columns of role
    OriginalVal when there are any, else every numeric column."""
    cols = table["columns"]
    keep = [k for k, c in enumerate(cols) if c.get("role") == "OriginalVal"]
    if not keep:
        keep = [k for k, c in enumerate(cols) if c["type"] == "numeric"]
    return [[row[k] for k in keep] for row in table["rows"]]


def mat_mul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(len(b))) for j in range(len(b[0]))]
            for i in range(len(a))]


def transpose(a):
    return [list(r) for r in zip(*a)]


def normalise_rows(a):
    h = [math.sqrt(sum(x * x for x in row)) for row in a]
    return [[x / hi for x in row] for row, hi in zip(a, h)], h


def varimax_kaiser(a, sweeps=200):
    """Varimax of the Kaiser-normalised rows of a by planar rotations of
    each pair of factors through the angle that maximises the criterion
    of that pair (Kaiser 1959): tan 4phi = (D - 2AB/p) / (C - (A^2 - B^2)/p)."""
    x, h = normalise_rows(a)
    p, m = len(x), len(x[0])
    for _ in range(sweeps):
        biggest = 0.0
        for j in range(m - 1):
            for k in range(j + 1, m):
                u = [r[j] ** 2 - r[k] ** 2 for r in x]
                v = [2 * r[j] * r[k] for r in x]
                A, B = sum(u), sum(v)
                C = sum(ui * ui - vi * vi for ui, vi in zip(u, v))
                D = 2 * sum(ui * vi for ui, vi in zip(u, v))
                phi = math.atan2(D - 2 * A * B / p, C - (A * A - B * B) / p) / 4
                biggest = max(biggest, abs(phi))
                c, s = math.cos(phi), math.sin(phi)
                for r in x:
                    r[j], r[k] = c * r[j] + s * r[k], -s * r[j] + c * r[k]
        if biggest < 1e-15:
            break
    return [[v * hi for v in row] for row, hi in zip(x, h)]


def cf_value(l, k):
    """The generalized Crawford-Ferguson criterion with k = (k1, k2, k3, k4)."""
    sq = [[v * v for v in row] for row in l]
    total = sum(map(sum, sq))
    rows = sum(sum(r) ** 2 for r in sq)
    cols = sum(sum(r[j] for r in sq) ** 2 for j in range(len(sq[0])))
    quart = sum(v * v for r in sq for v in r)
    return k[0] * total ** 2 + k[1] * rows + k[2] * cols + k[3] * quart


def oblique2(a, u, v):
    """Two-factor oblique pattern with axes at angles u and v: A (T^T)^-1."""
    t = [[math.cos(u), math.cos(v)], [math.sin(u), math.sin(v)]]
    x = transpose(inverse(t))
    return mat_mul(a, x)


def oblique2_search(a, k):
    """Minimum of the criterion over the two axis angles (Kaiser-normalised
    rows), by a grid shrunk around its best point; returns the value."""
    x, _ = normalise_rows(a)
    best, cu, cv, width = float("inf"), 0.0, math.pi / 2, math.pi / 2
    for _ in range(9):
        bu, bv = cu, cv
        for s in range(-40, 41):
            for t in range(-40, 41):
                u, v = cu + width * s / 40, cv + width * t / 40
                if abs(math.sin(v - u)) < 0.05:
                    continue
                f = cf_value(oblique2(x, u, v), k)
                if f < best:
                    best, bu, bv = f, u, v
        cu, cv, width = bu, bv, width / 12
    return best


def promax(l, power=3.0, normalise=True):
    """Promax of the (orthogonal) pattern l: target t|t|^(k-1) of the
    row-normalised pattern, then the Procrustes rotation towards it."""
    x = normalise_rows(l)[0] if normalise else l
    return procrustes(l, [[abs(v) ** (power - 1) * v for v in row] for row in x])


def procrustes(l, target):
    """T = (L^T L)^-1 L^T target, its columns scaled so that the factors
    have unit variance (Phi = (T^T T)^-1 with unit diagonal); returns L T
    and T."""
    lt = transpose(l)
    t = mat_mul(inverse(mat_mul(lt, l)), mat_mul(lt, target))
    phi = inverse(mat_mul(transpose(t), t))
    m = len(t)
    for j in range(m):
        s = math.sqrt(phi[j][j])
        for i in range(m):
            t[i][j] *= s
    return mat_mul(l, t), t


def close(a, b, tol, what):
    for i, (ra, rb) in enumerate(zip(a, b)):
        for j, (x, y) in enumerate(zip(ra, rb)):
            if abs(x - y) > tol:
                raise SystemExit(f"{what}[{i}][{j}] = {x!r}, expected {y!r}")
