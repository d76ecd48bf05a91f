#!/usr/bin/env python3
"""Writes a raw CSV for the correlation throughput benchmark.

usage: make_corr_csv.py FILE ROWS VARS [SEED]

Each row holds VARS variables x1..xVARS built from two common factors and
noise (x_i = a_i f1 + b_i f2 + e_i, plus a mean of 10 i), printed with six
decimals, so that the correlation matrix has a clear two-factor structure.
"""
import random
import sys


def main():
    path, rows, nvars = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 20261206)
    a = [0.8 if i % 2 == 0 else 0.2 for i in range(nvars)]
    b = [0.2 if i % 2 == 0 else 0.7 for i in range(nvars)]
    mean = [10.0 * (i + 1) for i in range(nvars)]
    gauss = rng.gauss
    with open(path, "w", buffering=1 << 20) as out:
        out.write(",".join("x%d" % (i + 1) for i in range(nvars)) + "\n")
        chunk = []
        for r in range(rows):
            f1, f2 = gauss(0, 1), gauss(0, 1)
            chunk.append(",".join(
                "%.6f" % (mean[i] + a[i] * f1 + b[i] * f2 + gauss(0, 0.6))
                for i in range(nvars)))
            if len(chunk) == 10000:
                out.write("\n".join(chunk) + "\n")
                chunk = []
        if chunk:
            out.write("\n".join(chunk) + "\n")


if __name__ == "__main__":
    main()
