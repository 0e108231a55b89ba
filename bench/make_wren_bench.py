#!/usr/bin/env python3
"""Writes a wren timing data set (deterministic): 1,000 cases x 100 covariates.

80 ordinal covariates (two decimals, a few missing), 20 nominal ones (2 to 14 categories, so
some are merged into 999); the response (1, 2 or 3) follows three of them plus noise.

  python3 bench/make_wren_bench.py OUT.txt
  time build/wren/wren -t OUT.txt -p OUT.txt
"""
import random
import sys

rng = random.Random(5)
NCASE, NORD, NNOM = 1000, 80, 20


def main(path):
    kinds = ["o"] * NORD + ["n"] * NNOM + ["r"]
    names = ["x%d" % j for j in range(NORD)] + ["c%d" % j for j in range(NNOM)] + ["status"]
    ncats = [2 + j % 13 for j in range(NNOM)]
    with open(path, "w") as f:
        f.write(" ".join(kinds) + "\n" + " ".join(names) + "\n")
        for _ in range(NCASE):
            xs = [rng.gauss(0, 1) for _ in range(NORD)]
            cs = [rng.randrange(k) for k in ncats]
            risk = xs[0] + 0.8 * xs[1] + (0.9 if cs[3] in (0, 2) else 0) + rng.gauss(0, 0.7)
            status = 1 if risk < 0 else 2 if risk < 1.2 else 3
            cells = ["NA" if rng.random() < 0.02 else "%.2f" % x for x in xs] + [str(c) for c in cs]
            f.write(" ".join(cells) + " " + str(status) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "wren_bench.txt")
