#!/usr/bin/env python3
"""Reference moments of the data-pass program tests, computed in plain
Python independently of zul: two-pass weighted means, standard deviations
and Pearson correlations; partial correlations as correlations of the
least-squares residuals on the partial variables.

    python3 datapass_moments.py NAME
prints, as JSON, the tables of the program test NAME (datapass_noint,
datapass_weights, datapass_groups, datapass_partial, datapass_notes,
datapass_threads, extract_fuzz) that its expected file holds.

Rules of the data pass: a row is used when no analysis value is missing,
its WEIGHT is above 0 and floor(FREQ) is at least 1; each row counts with
c = WEIGHT * floor(FREQ). The variance divisor (VARDEF=) is N - 1 for DF
(N the sum of floor(FREQ)), W - 1 for WDF (W the sum of c), N for N; less
the partial variables used, and without the 1 under NOINT (moments about
zero). A constant variable has standard deviation 0 and correlations 0."""
import csv
import json
import math
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from refmath import inverse  # noqa: E402


def value(text):
    """A number, None for a missing value, or the text itself."""
    if text.strip() in ("", "."):
        return None
    try:
        return float(text)
    except ValueError:
        return text


def read(name):
    with open(os.path.join(HERE, "..", name)) as f:
        rows = list(csv.reader(f))
    cols = rows[0]
    return [{c: value(t) for c, t in zip(cols, r)} for r in rows[1:]]


def used(rows, names, weight=None, freq=None):
    """(values, count c) of the rows the data pass uses."""
    out = []
    for r in rows:
        if any(r[v] is None for v in names):
            continue
        w = r[weight] if weight else 1.0
        f = math.floor(r[freq]) if freq else 1
        if w is None or w <= 0 or f < 1:
            continue
        out.append(([r[v] for v in names], w * f, f))
    return out


def moments(obs, vardef="DF"):
    """Means, standard deviations and correlations of obs (two passes)."""
    p = len(obs[0][0])
    W = sum(c for _, c, _ in obs)
    N = sum(f for _, _, f in obs)
    mean = [sum(c * x[i] for x, c, _ in obs) / W for i in range(p)]
    S = [[sum(c * (x[i] - mean[i]) * (x[j] - mean[j]) for x, c, _ in obs) for j in range(p)]
         for i in range(p)]
    divisor = {"DF": N - 1, "WDF": W - 1, "N": N}[vardef]
    sd = [math.sqrt(S[i][i] / divisor) for i in range(p)]
    R = [[S[i][j] / math.sqrt(S[i][i] * S[j][j]) if S[i][i] > 0 and S[j][j] > 0 else 0.0
          for j in range(p)] for i in range(p)]
    return mean, sd, R


def residuals(obs, nx, noint=False):
    """Each of the first nx variables regressed on the others (least squares,
    with an intercept unless noint): the residuals, as new observations."""
    out = []
    q = len(obs[0][0]) - nx
    design = [([1.0] if not noint else []) + x[nx:] for x, _, _ in obs]
    k = len(design[0])
    XtX = [[sum(c * d[a] * d[b] for d, (_, c, _) in zip(design, obs)) for b in range(k)]
           for a in range(k)]
    inv = inverse(XtX)
    coef = []
    for i in range(nx):
        Xty = [sum(c * d[a] * x[i] for d, (x, c, _) in zip(design, obs)) for a in range(k)]
        coef.append([sum(inv[a][b] * Xty[b] for b in range(k)) for a in range(k)])
    for d, (x, c, f) in zip(design, obs):
        out.append(([x[i] - sum(b * v for b, v in zip(coef[i], d)) for i in range(nx)], c, f))
    return out, q


def partial_moments(obs, nx, vardef="DF", noint=False):
    """Partial correlations and conditional standard deviations."""
    e, q = residuals(obs, nx, noint)
    N = sum(f for _, _, f in obs)
    divisor = {"DF": N - q - (0 if noint else 1), "N": N}[vardef]
    S = [[sum(c * x[i] * x[j] for x, c, _ in e) for j in range(nx)] for i in range(nx)]
    sd = [math.sqrt(S[i][i] / divisor) for i in range(nx)]
    R = [[S[i][j] / math.sqrt(S[i][i] * S[j][j]) for j in range(nx)] for i in range(nx)]
    return sd, R


def corr_rows(names, R):
    """A correlation table as printed: a display column before each value."""
    return [[names[i]] + [v for x in R[i] for v in ("*", x)] for i in range(len(names))]


def stats(names, mean, sd):
    return [[names[i], mean[i], sd[i]] for i in range(len(names))]


def table(name, rows, **where):
    return dict({"name": name, "rows": rows}, **where)


def simple_and_corr(names, obs, vardef="DF", **where):
    mean, sd, R = moments(obs, vardef)
    return [table("SimpleStatistics", stats(names, mean, sd), **where),
            table("Corr", corr_rows(names, R), **where)]


def datapass_noint():
    # Moments about zero: the means printed are still sum(x)/N.
    xyz = ["x", "y", "z"]
    obs = used(read("datapass_weights.csv"), xyz)
    N = len(obs)
    sd = [math.sqrt(sum(x[i] ** 2 for x, _, _ in obs) / N) for i in range(3)]
    mean = [sum(x[i] for x, _, _ in obs) / N for i in range(3)]
    R = [[sum(x[i] * x[j] for x, _, _ in obs) /
          math.sqrt(sum(x[i] ** 2 for x, _, _ in obs) * sum(x[j] ** 2 for x, _, _ in obs))
          for j in range(3)] for i in range(3)]
    return [table("SimpleStatistics", stats(xyz, mean, sd)), table("Corr", corr_rows(xyz, R))]


def datapass_weights():
    rows, xyz = read("datapass_weights.csv"), ["x", "y", "z"]
    out = []
    for step, (weight, freq) in enumerate([("w", None), (None, "f")]):
        out += simple_and_corr(xyz, used(rows, xyz, weight, freq), step=step)
    return out


def datapass_groups():
    rows, xyc = read("datapass_groups.csv"), ["x", "y", "c"]
    group = lambda g: [r for r in rows if r["g"] == g]
    out = []
    for g in (2, 3):
        out += simple_and_corr(xyc, used(group(g), xyc), step=0, by={"g": g})
    out += simple_and_corr(xyc, used(group(2), xyc, "w"), "WDF", step=1, by={"g": 2})
    return out


def datapass_partial():
    rows, xs = read("datapass_partial.csv"), ["x1", "x2", "x3"]
    out = []
    cases = [(0, ["p1"], "DF", False), (1, ["p1", "p2"], "DF", False),
             (2, ["p1"], "DF", True), (3, ["p1"], "N", False), (4, ["big"], "DF", False)]
    for step, partials, vardef, noint in cases:
        # p2 = 2 p1 + 1 depends on p1 and is not swept: step 1 is step 0.
        sweep = partials[:1]
        sd, R = partial_moments(used(rows, xs + sweep), 3, vardef, noint)
        if step != 4:
            out.append(table("CondStdDev", [[xs[i], sd[i]] for i in range(3)], step=step))
        if step != 3:
            out.append(table("PartialCorr", corr_rows(xs, R), step=step))
        if step == 0:  # its OUTSTAT= read back by step 5
            out.append(table("Corr", corr_rows(xs, R), step=5))
        if step == 0:  # NOBS=5 leaves the standard deviations as they are
            out.append(table("CondStdDev", [[xs[i], sd[i]] for i in range(3)], step=6))
    # p2 = 2 p1 + 1 on p1: no residual; x1 as in step 0.
    sd, _ = partial_moments(used(rows, ["x1", "p1"]), 1)
    out.append(table("CondStdDev", [["x1", sd[0]], ["p2", 0.0]], step=7))
    return out


def datapass_notes():
    _, _, R = moments(used(read("datapass_rawtype.csv"), ["a", "b"]))
    return [table("Corr", corr_rows(["a", "b"], R), step=1)]


def datapass_threads():
    abcd = ["a", "b", "c", "d"]
    obs = used(read("datapass_threads.csv"), abcd, "w", "f")
    return [t for step in range(4) for t in simple_and_corr(abcd, obs, step=step)]


def extract_fuzz():
    # FUZZ=0.3: correlations below 0.3 in absolute value are not shown,
    # partial correlations below half of it (0.15).
    xyz = ["x", "y", "z"]
    obs = used(read("extract_fuzz.csv"), xyz)
    _, _, R = moments(obs)
    _, P = partial_moments(used(read("extract_fuzz.csv"), ["x", "y", "z"]), 2)
    shown = lambda v, fuzz: None if abs(v) < fuzz else v
    corr = [[xyz[i]] + [v for x in R[i] for v in (shown(x, 0.3), x)] for i in range(3)]
    part = [[xyz[i]] + [v for x in P[i] for v in (shown(x, 0.15), x)] for i in range(2)]
    return [table("Corr", corr), table("PartialCorr", part)]


TESTS = {"datapass_noint": datapass_noint, "datapass_weights": datapass_weights,
         "datapass_groups": datapass_groups, "datapass_partial": datapass_partial,
         "datapass_notes": datapass_notes, "datapass_threads": datapass_threads,
         "extract_fuzz": extract_fuzz}

if __name__ == "__main__":
    if len(sys.argv) != 2 or sys.argv[1] not in TESTS:
        sys.exit("usage: datapass_moments.py " + "|".join(TESTS))
    print(json.dumps(TESTS[sys.argv[1]](), indent=1))
