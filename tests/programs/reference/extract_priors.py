#!/usr/bin/env python3
"""Reference prior communalities of the extract_priors program test,
computed in plain Python independently of zul:

- PRIORS=RANDOM with RANDOM=1: the first numbers of the multiplicative
  congruential generator x := 397204094 x mod (2^31 - 1) from x = 1 (Python
  integers), each divided by 2147483647;
- PRIORS=ASMC: SMC_i * (sum over j of the row maxima of |r|) / (sum of SMC);
- PRIORS=MAX: the largest |r| of each row off the diagonal (0 for a
  constant variable, whose correlations are 0);
- a singular R (b a copy of a): SMC falls back to 1, ASMC to the row maxima.

    python3 extract_priors.py
prints the PriorCommunalEst tables of the test as JSON."""
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from refmath import csv_correlations, inverse  # noqa: E402


def row_maxima(R):
    p = len(R)
    return [max((abs(R[i][j]) for j in range(p) if j != i), default=0.0) for i in range(p)]


def rows(names, values):
    return [[n, v] for n, v in zip(names, values)]


def main():
    harman = os.path.join(HERE, "..", "extract_socioeconomics.csv")
    names, R = csv_correlations(harman)
    p = len(names)

    x, randoms = 1, []
    for _ in range(p):
        x = 397204094 * x % 2147483647
        randoms.append(x / 2147483647)

    Ri = inverse(R)
    smc = [1 - 1 / Ri[i][i] for i in range(p)]
    maxima = row_maxima(R)
    asmc = [s * sum(maxima) / sum(smc) for s in smc]

    copy_names, copy_R = csv_correlations(os.path.join(HERE, "..", "extract_priors.csv"))
    copy_maxima = row_maxima(copy_R)
    tables = [
        {"name": "PriorCommunalEst", "step": 0, "rows": rows(names, randoms)},
        {"name": "PriorCommunalEst", "step": 1, "rows": rows(names, asmc)},
        {"name": "PriorCommunalEst", "step": 2, "rows": rows(names, maxima)},
        # VAR a b c: R is singular, SMC falls back to 1 and ASMC to the maxima.
        {"name": "PriorCommunalEst", "step": 3, "rows": rows(copy_names[:3], [1.0] * 3)},
        {"name": "PriorCommunalEst", "step": 4,
         "rows": rows(copy_names[:3], row_maxima([r[:3] for r in copy_R[:3]]))},
        {"name": "PriorCommunalEst", "step": 5, "rows": rows(copy_names, copy_maxima)},
    ]
    print(json.dumps(tables, indent=1))


if __name__ == "__main__":
    main()
