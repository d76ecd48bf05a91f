"""Checks of rotate_orthogonal.zul (see its comment)."""
import sys

sys.path.insert(0, "reference")
from rotations import (close, find, load_tables, mat_mul, matrix, transpose,  # noqa: E402
                       varimax_kaiser)

tables = load_tables(sys.argv[1])


def solution(step):
    _, unrot = find(tables, "FactorPattern", step)
    _, trans = find(tables, "OrthTrans", step)
    _, rot = find(tables, "OrthRotFactPat", step)
    return matrix(unrot), matrix(trans), matrix(rot)


def check_orthogonal(step):
    a, t, l = solution(step)
    m = len(t)
    close(mat_mul(transpose(t), t), [[float(i == j) for j in range(m)] for i in range(m)], 1e-12,
          f"step {step} T^T T")
    close(mat_mul(a, t), l, 1e-12, f"step {step} A T")
    return a, l


for step in (0, 2):
    a, l = check_orthogonal(step)
    close(l, varimax_kaiser(a), 1e-9, f"step {step} varimax")
# ORTHOMAX without GAMMA= is varimax.
close(solution(1)[2], solution(0)[2], 1e-12, "orthomax")
check_orthogonal(3)

# Any thread count gives the same bits.
one = matrix(find(tables, "ObliqueRotFactPat", 4)[1])
two = matrix(find(tables, "ObliqueRotFactPat", 5)[1])
assert one == two, "OBLIMIN(0.5) differs between THREADS=1 and THREADS=2"
