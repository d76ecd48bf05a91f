"""Checks of rotate_harris_kaiser.zul (see its comment)."""
import sys

sys.path.insert(0, "reference")
from harris_kaiser import harris_kaiser, standard_form  # noqa: E402
from rotations import close, find, load_tables, mat_mul, matrix, transpose  # noqa: E402

tables = load_tables(sys.argv[1])


def check(step, power):
    _, unrot = find(tables, "FactorPattern", step)
    i, phi_t = find(tables, "InterFactorCorr", step)
    _, pat = find(tables, "ObliqueRotFactPat", step, i)
    a, phi, l = matrix(unrot), matrix(phi_t), matrix(pat)
    close(mat_mul(mat_mul(l, phi), transpose(l)), mat_mul(a, transpose(a)), 1e-10,
          f"step {step} L Phi L^T")
    ref_l, ref_phi = harris_kaiser(a, power)
    got_l, got_phi = standard_form(l, phi)
    close(got_l, ref_l, 1e-7, f"step {step} pattern")
    close(got_phi, ref_phi, 1e-7, f"step {step} Phi")
    return got_phi


phi = check(0, 0.0)
# Case II has correlated factors.
assert min(abs(phi[i][j]) for i in range(4) for j in range(4) if i != j) > 0.3, phi
phi = check(1, 1.0)
close(phi, [[float(i == j) for j in range(4)] for i in range(4)], 1e-10, "power 1 Phi")
check(2, 0.5)
check(3, 0.0)
