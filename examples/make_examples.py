#!/usr/bin/env python3
"""Makes the small example data sets shipped in this folder (deterministic).

sample.txt: 300 cases, 12 covariates of both kinds with some missing values; the response
(1 or 2) follows covariate `dose` and the nominal `site`, the rest is noise.
"""
import random

rng = random.Random(20261207)


def sample():
    kinds = ["o", "n", "o", "o", "n", "o", "d", "o", "n", "o", "o", "o", "n", "r"]
    names = ["dose", "site", "age", "weight", "smoker", "score", "id", "x1", "batch", "x2", "x3", "x4",
             "group", "status"]
    rows = []
    for i in range(300):
        dose = round(rng.uniform(0, 10), 2)
        site = rng.choice([1, 2, 3, 4])
        risk = dose / 10 + (0.35 if site in (1, 3) else 0) + rng.gauss(0, 0.2)
        status = 2 if risk > 0.8 else 1
        row = [
            "%.2f" % dose, str(site), str(rng.randint(20, 80)), "%.1f" % rng.uniform(45, 110),
            rng.choice(["0", "1", "NA"]) if rng.random() < 0.1 else rng.choice(["0", "1"]),
            "%.3f" % rng.gauss(0, 1), str(i + 1), "%.2f" % rng.uniform(-5, 5), str(rng.randint(1, 12)),
            "NA" if rng.random() < 0.03 else "%.2f" % rng.uniform(0, 1), str(rng.randint(0, 3)),
            "%.1f" % rng.uniform(100, 200), str(rng.choice([1, 2, 3])), str(status),
        ]
        rows.append(row)
    with open("sample.txt", "w") as f:
        f.write(" ".join(kinds) + "\n" + " ".join(names) + "\n")
        for r in rows:
            f.write("\t".join(r) + "\n")


if __name__ == "__main__":
    sample()
