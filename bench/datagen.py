#!/usr/bin/env python3
"""Deterministic synthetic training files for the benchmarks (standard library only).

  python3 bench/datagen.py geno  CASES MARKERS OUT [--seed S] [--missing SHARE] [--nominal-every K]
  python3 bench/datagen.py mixed CASES COVARIATES OUT [--seed S] [--missing SHARE] [--classes C]

geno:  every covariate a genotype 0, 1 or 2 (frequencies about 50/35/15 %), "NA" in about
       SHARE of the cells (rounded to 1/256; default 0.004); all markers ordinal unless
       --nominal-every K makes every K-th one nominal. Two classes (1, 2) that follow the
       first five markers plus noise. Rows are made from random bytes, so 5,000 x 100,000
       (about 1 GB) takes about ten seconds.
mixed: every 5th covariate nominal with 2 to 14 categories (those with more than 10 get their
       rarest ones merged by the readers), the others ordinal with two or three decimals,
       "NA" in SHARE of the cells (default 0.01). The response (C classes, default 2) follows
       three ordinal covariates and one nominal one plus noise.

OUT must lie inside the repository's build/ folder. The same arguments always give the same
file, byte for byte.
"""
import argparse
import math
import os
import random
import statistics

BUILD = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build")


def inside(path, folder):
    """Whether path lies inside folder (both resolved, links followed)."""
    path, folder = os.path.realpath(path), os.path.realpath(folder)
    return os.path.commonpath([path, folder]) == folder and path != folder

# Byte value -> genotype character: 128/256 '0', 90/256 '1', 37/256 '2', the rest 'N' (-> "NA").
def _geno_table(missing):
    nmiss = max(0, min(255, round(missing * 256)))
    rest = 256 - nmiss
    n0 = round(rest * 0.50)
    n1 = round(rest * 0.35)
    n2 = rest - n0 - n1
    table = b"0" * n0 + b"1" * n1 + b"2" * n2 + b"N" * nmiss
    assert len(table) == 256
    return table


def write_geno(path, ncase, nmarker, seed=1, missing=0.004, nominal_every=0):
    """Genotype file: kind line, name line, one line per case."""
    rng = random.Random(seed * 1000003 + ncase * 7919 + nmarker)
    table = _geno_table(missing)
    kinds = ["n" if nominal_every and j % nominal_every == nominal_every - 1 else "o" for j in range(nmarker)]
    spaces = b" " * nmarker
    with open(path, "wb") as f:
        f.write((" ".join(kinds + ["r"]) + "\n").encode())
        f.write((" ".join(["snp%d" % (j + 1) for j in range(nmarker)] + ["y"]) + "\n").encode())
        for _ in range(ncase):
            codes = rng.randbytes(nmarker).translate(table)
            line = bytearray(2 * nmarker)
            line[0::2] = codes
            line[1::2] = spaces
            risk = sum(int(chr(c)) for c in codes[:5] if c != ord("N")) + rng.gauss(0, 1)
            f.write(bytes(line).replace(b"N", b"NA"))
            f.write(b"2\n" if risk > 3.2 else b"1\n")


def write_mixed(path, ncase, ncov, seed=1, missing=0.01, nclass=2):
    """Mixed ordinal/nominal file: kind line, name line, one line per case."""
    rng = random.Random(seed * 1000003 + ncase * 104729 + ncov * 31 + nclass)
    nominal = [j % 5 == 4 for j in range(ncov)]
    ncat = [2 + (j // 5) % 13 if nominal[j] else 0 for j in range(ncov)]
    kinds = ["n" if nom else "o" for nom in nominal]
    names = ["c%d" % (j + 1) if nominal[j] else "x%d" % (j + 1) for j in range(ncov)]
    informative = [j for j in range(ncov) if not nominal[j]][:3]
    nominal_informative = next((j for j in range(ncov) if nominal[j] and ncat[j] >= 3), None)
    # Class boundaries at the quantiles of the risk score, so the classes come out about equal.
    p_nom = 2.0 / ncat[nominal_informative] if nominal_informative is not None else 0.0
    mean = 0.8 * p_nom
    sd = math.sqrt(0.7 ** 2 + 0.9 ** 2 + 0.7 ** 2 + 0.5 ** 2 + 0.64 * p_nom * (1 - p_nom))
    cuts = [mean + sd * statistics.NormalDist().inv_cdf((k + 1) / nclass) for k in range(nclass - 1)]
    with open(path, "w") as f:
        f.write(" ".join(kinds + ["r"]) + "\n")
        f.write(" ".join(names + ["y"]) + "\n")
        for _ in range(ncase):
            values = []
            for j in range(ncov):
                if nominal[j]:
                    values.append(rng.randrange(ncat[j]))
                else:
                    values.append(rng.gauss(0, 1))
            risk = rng.gauss(0, 0.7)
            for w, j in zip((0.9, 0.7, 0.5), informative):
                risk += w * values[j]
            if nominal_informative is not None and values[nominal_informative] in (0, 2):
                risk += 0.8
            label = 1 + sum(risk > c for c in cuts)
            cells = []
            for j, v in enumerate(values):
                if rng.random() < missing:
                    cells.append("NA")
                elif nominal[j]:
                    cells.append(str(v + 1))
                else:
                    cells.append("%.3f" % v if j % 2 else "%.2f" % v)
            f.write(" ".join(cells) + " %d\n" % label)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("kind", choices=("geno", "mixed"))
    ap.add_argument("cases", type=int)
    ap.add_argument("covariates", type=int)
    ap.add_argument("out")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--missing", type=float, default=None, help="share of missing cells")
    ap.add_argument("--nominal-every", type=int, default=0, help="geno: every K-th marker nominal")
    ap.add_argument("--classes", type=int, default=2, help="mixed: number of response classes")
    a = ap.parse_args()
    # Generated data lives under build/ only: a stray argument must not become a file elsewhere.
    if not inside(a.out, BUILD):
        ap.error("OUT must lie inside %s" % BUILD)
    if a.kind == "geno":
        write_geno(a.out, a.cases, a.covariates, a.seed, 0.004 if a.missing is None else a.missing, a.nominal_every)
    else:
        write_mixed(a.out, a.cases, a.covariates, a.seed, 0.01 if a.missing is None else a.missing, a.classes)


if __name__ == "__main__":
    main()
