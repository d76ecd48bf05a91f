#!/usr/bin/env python3
"""Writes nfactors_blocks.csv: 300 rows of 9 variables, three independent
latent factors with three indicators each (loading 0.8, uniqueness weight 0.6,
so every variable has variance 1 and indicators of one factor correlate
0.64 in the population). Python's own Mersenne Twister with seed 1965
makes the file reproducible. By construction the data have three common
factors: the number that MAP and parallel analysis should find."""
import random

rng = random.Random(1965)
with open("nfactors_blocks.csv", "w") as out:
    out.write(",".join(f"x{i + 1}" for i in range(9)) + "\n")
    for _ in range(300):
        f = [rng.gauss(0, 1) for _ in range(3)]
        row = [0.8 * f[i // 3] + 0.6 * rng.gauss(0, 1) for i in range(9)]
        out.write(",".join(f"{v:.6f}" for v in row) + "\n")
