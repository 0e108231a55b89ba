#!/usr/bin/env python3
"""Writes a large genotype training file for timing plover (deterministic).

  python3 bench/make_snp_bench.py OUT [CASES] [GENOTYPES]

Defaults: 2000 cases x 10000 genotypes, every 50th covariate nominal, 1% missing cells; the
response (1 or 2) follows the first two covariates. Time a run with
  time build/plover/plover -t OUT -n 500 -seed 1
"""
import random
import sys


def main():
    out = sys.argv[1]
    ncase = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    ncov = int(sys.argv[3]) if len(sys.argv) > 3 else 10000
    rng = random.Random(4242)
    kinds = ["n" if j % 50 == 49 else "o" for j in range(ncov)] + ["r"]
    names = ["g%d" % (j + 1) for j in range(ncov)] + ["y"]
    with open(out, "w") as f:
        f.write(" ".join(kinds) + "\n" + " ".join(names) + "\n")
        for _ in range(ncase):
            cells = [rng.choice("0112") for _ in range(ncov)]
            risk = int(cells[0]) + int(cells[1]) + rng.gauss(0, 0.8)
            for j in range(ncov):
                if rng.random() < 0.01:
                    cells[j] = "NA"
            f.write(" ".join(cells) + " " + ("2" if risk > 2.2 else "1") + "\n")


main()
