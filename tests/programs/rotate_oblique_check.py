"""Checks of rotate_oblique.zul (see its comment)."""
import sys

sys.path.insert(0, "reference")
from refmath import inverse  # noqa: E402
from rotations import (cf_value, close, find, load_tables, mat_mul, matrix,  # noqa: E402
                       normalise_rows, oblique2_search, procrustes, promax, transpose,
                       varimax_kaiser)

tables = load_tables(sys.argv[1])


def oblique(step, trans_name="ObliqueTrans", after=-1):
    """Checks the invariants of the oblique solution of a step; returns the
    unrotated pattern, T, Phi and the rotated pattern."""
    _, unrot = find(tables, "FactorPattern", step)
    i, trans = find(tables, trans_name, step, after)
    i, phi_t = find(tables, "InterFactorCorr", step, i)
    i, pat = find(tables, "ObliqueRotFactPat", step, i)
    _, struct = find(tables, "FactorStructure", step, i)
    a, t, phi, l = matrix(unrot), matrix(trans), matrix(phi_t), matrix(pat)
    m = len(t)
    for j in range(m):
        assert phi[j][j] == 1.0, f"step {step}: Phi diagonal {phi[j][j]}"
    close(mat_mul(a, t), l, 1e-10, f"step {step} L0 T")
    close(inverse(mat_mul(transpose(t), t)), phi, 1e-10, f"step {step} Phi")
    close(mat_mul(l, phi), matrix(struct), 1e-12, f"step {step} structure")
    close(mat_mul(mat_mul(l, phi), transpose(l)), mat_mul(a, transpose(a)), 1e-10,
          f"step {step} communality")
    return a, t, phi, l


# Quartimin: criterion at the solution equals the best over the axis angles.
quartimin = (0, 1, 0, -1)
a, _, _, l = oblique(0)
# The criterion is that of the Kaiser-normalised rows of the unrotated
# pattern, rotated: L with each row divided by the length of A's row.
_, h = normalise_rows(a)
rows = [[v / hi for v in row] for row, hi in zip(l, h)]
best = oblique2_search(a, quartimin)
value = cf_value(rows, quartimin)
assert abs(value - best) <= 1e-9 * abs(best), f"quartimin {value!r}, search {best!r}"
# OBLIMIN without TAU= is quartimin.
close(oblique(1)[3], l, 1e-12, "oblimin")

# Promax (power 3) after varimax.
a, t, phi, l = oblique(2, "NormObliqueTrans")
ref_l, _ = promax(varimax_kaiser(a))
close(l, ref_l, 1e-9, "promax pattern")
# Power 1 without normalisation: the target is the varimax pattern itself.
a, t, phi, l = oblique(3, "NormObliqueTrans")
_, proc = find(tables, "ProcrustesTrans", 3)
close(matrix(proc), [[1.0, 0.0], [0.0, 1.0]], 1e-12, "promax(1) T")
_, pre = find(tables, "OrthRotFactPat", 3)
close(l, matrix(pre), 1e-12, "promax(1) pattern")

# Harris-Kaiser: an oblique solution whose T maps the unrotated pattern.
oblique(4)
hk = [t for t in tables if t["step"] == 4 and t["name"] == "FactorWeightRotate"]
assert hk, "no factor weights for HKPOWER=0.5"

# A second quartimin of the quartimin solution leaves it as it is.
i, _ = find(tables, "ObliqueRotFactPat", 5)
_, second = find(tables, "ObliqueRotFactPat", 5, i)
close(matrix(second), matrix(find(tables, "ObliqueRotFactPat", 5)[1]), 1e-8, "second quartimin")

# Procrustes towards the TARGET= rows (a missing value counts as 0; the
# third row is extra).
a, t, phi, l = oblique(6, "NormObliqueTrans")
target = [[1, 0], [0, 1], [1, 0], [0, 1], [0, 1]]
close(l, procrustes(a, target)[0], 1e-10, "procrustes pattern")
