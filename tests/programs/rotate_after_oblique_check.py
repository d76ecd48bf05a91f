"""Checks of rotate_after_oblique.zul (see its comment)."""
import math
import sys

sys.path.insert(0, "reference")
from harris_kaiser import standard_form  # noqa: E402
from rotations import close, find, load_tables, mat_mul, matrix, transpose, varimax_kaiser  # noqa: E402

tables = load_tables(sys.argv[1])


def identity(m):
    return [[float(i == j) for j in range(m)] for i in range(m)]


def no_table(name, step, after):
    assert not [t for k, t in enumerate(tables) if k > after and t["step"] == step
                and t["name"] == name], f"step {step}: {name} after the last rotation"


# 1: VARIMAX after QUARTIMIN.
_, vari = find(tables, "OrthRotFactPat", 0)
_, unrot = find(tables, "FactorPattern", 1)
i, quart = find(tables, "ObliqueRotFactPat", 1)
i, trans = find(tables, "OrthTrans", 1, i)
i, final = find(tables, "OrthRotFactPat", 1, i)
no_table("InterFactorCorr", 1, i)
a, l2 = matrix(unrot), matrix(final)
close(mat_mul(a, matrix(trans)), l2, 1e-10, "unrotated pattern times OrthTrans")
close(mat_mul(l2, transpose(l2)), mat_mul(a, transpose(a)), 1e-10, "communalities")
m = len(l2[0])
close(standard_form(l2, identity(m))[0], standard_form(matrix(vari), identity(m))[0], 1e-7,
      "varimax after quartimin")

# 3: BIQUARTIMIN after QUARTIMIN.
_, direct = find(tables, "ObliqueRotFactPat", 2)
_, direct_phi = find(tables, "InterFactorCorr", 2)
_, unrot = find(tables, "FactorPattern", 3)
i, _ = find(tables, "InterFactorCorr", 3)
i, phi = find(tables, "InterFactorCorr", 3, i)
i, second = find(tables, "ObliqueRotFactPat", 3, i)
a, l, p = matrix(unrot), matrix(second), matrix(phi)
close(mat_mul(mat_mul(l, p), transpose(l)), mat_mul(a, transpose(a)), 1e-10, "L Phi L^T")
got, want = standard_form(l, p), standard_form(matrix(direct), matrix(direct_phi))
close(got[0], want[0], 1e-7, "biquartimin after quartimin: pattern")
close(got[1], want[1], 1e-7, "biquartimin after quartimin: Phi")

# 4: VARIMAX of an input pattern with Phi = [1 .5; .5 1].
i, given = find(tables, "InputFactorPattern", 4)
i, final = find(tables, "OrthRotFactPat", 4, i)
no_table("InterFactorCorr", 4, i)
l, l2 = matrix(given), matrix(final)
phi = [[1.0, 0.5], [0.5, 1.0]]
c = [[1.0, 0.0], [0.5, math.sqrt(0.75)]]  # Phi = C C^T
close(mat_mul(l2, transpose(l2)), mat_mul(mat_mul(l, phi), transpose(l)), 1e-10, "input L Phi L^T")
close(standard_form(l2, identity(2))[0], standard_form(varimax_kaiser(mat_mul(l, c)), identity(2))[0],
      1e-7, "varimax of L C")
