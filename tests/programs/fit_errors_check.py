"""Checks of fit_errors.zul, step 5 (see its comment): under ULTRAHEYWOOD
the ML pattern at a negative uniqueness reproduces the iteration's
estimates, communality = 1 - psi (the condition diag(R - LL' - Psi) = 0 of
the ML optimum, Joreskog 1967, holds for any psi without a zero)."""
import sys

sys.path.insert(0, "reference")
from rotations import find, load_tables  # noqa: E402

tables = load_tables(sys.argv[1])


def table(name, step):
    return find(tables, name, step)[1]


history = table("IterHistory", 5)
estimates = history["rows"][-1][4:]
assert estimates[0] > 1.03, f"Population's estimate {estimates[0]} should be above 1"
pattern = table("FactorPattern", 5)["rows"]
final = table("FinalCommunWgt", 5)["rows"]
for i, row in enumerate(pattern):
    loadings = row[2::2]  # rounded and original columns alternate
    h = sum(a * a for a in loadings)
    assert abs(h - estimates[i]) < 1e-6, f"{row[0]}: pattern gives {h}, estimate {estimates[i]}"
    assert abs(final[i][1] - estimates[i]) < 1e-6, f"{row[0]}: final {final[i][1]}"
