#!/usr/bin/env python3
"""Deterministic synthetic data for the benchmarks.

  make_data.py mixed CASES COVARIATES OUT   mixed ordinal/nominal data, a few missing cells
  make_data.py geno  CASES MARKERS OUT      genotype data (0, 1, 2, NA), nominal every 10th marker

The response depends on the first few covariates, so the trees have something to find.
"""
import random
import sys


def mixed(n, p, out):
    rng = random.Random(n * 7919 + p)
    kinds = ["n" if j % 5 == 4 else "o" for j in range(p)]
    with open(out, "w") as f:
        f.write(" ".join(kinds + ["r"]) + "\n")
        f.write(" ".join(["v%d" % (j + 1) for j in range(p)] + ["y"]) + "\n")
        for _ in range(n):
            row, signal = [], 0.0
            for j in range(p):
                if kinds[j] == "n":
                    v = rng.randint(1, 6)
                    cell = str(v)
                    if j < 10:
                        signal += 0.3 if v % 2 else -0.3
                else:
                    v = rng.gauss(0, 1)
                    cell = "%.3f" % v
                    if j < 10:
                        signal += v * 0.5
                if rng.random() < 0.01:
                    cell = "NA"
                row.append(cell)
            row.append("2" if signal + rng.gauss(0, 1) > 0 else "1")
            f.write(" ".join(row) + "\n")


def geno(n, p, out):
    rng = random.Random(n * 104729 + p)
    kinds = ["n" if j % 10 == 9 else "o" for j in range(p)]
    cells = ["0", "1", "2"]
    with open(out, "w") as f:
        f.write(" ".join(kinds + ["r"]) + "\n")
        f.write(" ".join(["snp%d" % (j + 1) for j in range(p)] + ["y"]) + "\n")
        for _ in range(n):
            g = rng.choices(range(3), weights=(0.5, 0.35, 0.15), k=p)
            signal = sum(g[:5]) - 3.5 + rng.gauss(0, 1)
            row = [cells[v] if rng.random() > 0.005 else "NA" for v in g]
            row.append("1" if signal > 0 else "0")
            f.write(" ".join(row) + "\n")


if __name__ == "__main__":
    kind, n, p, out = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    {"mixed": mixed, "geno": geno}[kind](n, p, out)
