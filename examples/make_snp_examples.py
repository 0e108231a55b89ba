#!/usr/bin/env python3
"""Makes the genotype example data shipped in this folder (deterministic).

sample_SNP.txt: 300 cases, 40 genotypes (0, 1, 2; about 2% missing), every tenth one nominal;
the response (1 or 2) follows snp3 and snp17, the rest is noise.
predict_SNP.txt: 40 further cases made the same way, with the response column first.
"""
import random

rng = random.Random(20261208)
NCOV = 40
KINDS = ["n" if j % 10 == 9 else "o" for j in range(NCOV)]
NAMES = ["snp%d" % (j + 1) for j in range(NCOV)]


def case():
    g = [rng.choice([0, 1, 1, 2]) for _ in range(NCOV)]
    risk = g[2] + (2 - g[16]) + rng.gauss(0, 0.7)
    cells = ["NA" if rng.random() < 0.02 else str(v) for v in g]
    return cells, "2" if risk > 2.0 else "1"


def main():
    with open("sample_SNP.txt", "w") as f:
        f.write(" ".join(KINDS + ["r"]) + "\n" + " ".join(NAMES + ["status"]) + "\n")
        for _ in range(300):
            cells, label = case()
            f.write(" ".join(cells + [label]) + "\n")
    with open("predict_SNP.txt", "w") as f:
        f.write(" ".join(["r"] + KINDS) + "\n" + " ".join(["status"] + NAMES) + "\n")
        for _ in range(40):
            cells, label = case()
            f.write(" ".join([label] + cells) + "\n")


if __name__ == "__main__":
    main()
