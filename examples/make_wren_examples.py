#!/usr/bin/env python3
"""Makes wren's example data (deterministic).

bramble.txt: 200 cases, 8 covariates of both kinds with some missing values; the response
(0 or 1) follows the ordinal `height` and the nominal `soil`, the rest is noise. Some values of
`ph` are spelled with a trailing zero ("6.50"), which the report keeps as spelled.
predict.txt: 25 further cases with the same covariates and no response column; a few `soil`
codes were never seen in training.
"""
import random

rng = random.Random(20261208)

KINDS = ["o", "n", "o", "d", "o", "n", "o", "n", "o"]
NAMES = ["height", "soil", "ph", "plot", "shade", "slope", "rain", "aspect", "age"]


def case(i, soils):
    height = round(rng.uniform(20, 180), 1)
    soil = rng.choice(soils)
    ph = "%.2f" % (rng.randint(50, 80) / 10)
    risk = height / 180 + (0.4 if soil in (2, 5) else 0) + rng.gauss(0, 0.15)
    cells = [
        "%.1f" % height, str(soil), ph, str(i + 1),
        "NA" if rng.random() < 0.05 else "%.2f" % rng.uniform(0, 1),
        str(rng.choice([1, 2, 3])), str(rng.randint(300, 1200)),
        "." if rng.random() < 0.04 else str(rng.choice([0, 90, 180, 270])),
        str(rng.randint(1, 60)),
    ]
    return cells, 1 if risk > 0.75 else 0


def write(path, kinds, names, rows):
    with open(path, "w") as f:
        f.write(" ".join(kinds) + "\n" + " ".join(names) + "\n")
        for r in rows:
            f.write("\t".join(r) + "\n")


def main():
    rows = []
    for i in range(200):
        cells, status = case(i, [1, 2, 3, 4, 5])
        rows.append(cells + [str(status)])
    write("bramble.txt", KINDS + ["r"], NAMES + ["status"], rows)
    write("predict.txt", KINDS, NAMES, [case(i, [1, 2, 3, 4, 5, 6, 7])[0] for i in range(25)])


if __name__ == "__main__":
    main()
