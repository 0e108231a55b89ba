#!/usr/bin/env python3
"""Tests of forest-plot on result files written by kestrel, plover and wren themselves.

  plot_test.py CASE --plot PATH --kestrel EXE --plover EXE --wren EXE --examples DIR --work DIR

CASE is kestrel, plover, wren, rejected or options. The drawing cases end with status 77
(CTest's skip) when forest-plot reports that matplotlib is missing; rejected files and wrong
options are caught before anything is drawn, so those cases always run.
"""
import argparse
import html
import os
import re
import shutil
import struct
import subprocess
import sys

SKIP = 77
NO_MATPLOTLIB = 3


class Skipped(Exception):
    pass


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def run(command, cwd):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=120)


def run_program(exe, cwd, *arguments):
    result = run([exe, *arguments, "-threads", "1"], cwd)
    check(result.returncode == 0, f"{exe} {arguments} failed: {result.stderr}")


def messages(result):
    """forest-plot's lines on standard error, without matplotlib's notes of a first run
    ("Matplotlib is building the font cache...") or of a home it cannot write to."""
    return [line for line in result.stderr.splitlines() if not line.startswith("Matplotlib ")]


class Setting:
    def __init__(self, options):
        self.options = options
        self.work = os.path.join(options.work, options.case)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)

    def data(self, example, name):
        shutil.copyfile(os.path.join(self.options.examples, example), os.path.join(self.work, name))
        return name

    def plot(self, *arguments):
        result = run([self.options.plot, *arguments], self.work)
        if result.returncode == NO_MATPLOTLIB and "matplotlib" in result.stderr:
            raise Skipped(result.stderr.strip())
        check("Traceback" not in result.stderr, f"forest-plot {arguments} crashed: {result.stderr}")
        return result

    def plot_fine(self, *arguments):
        result = self.plot(*arguments)
        check(result.returncode == 0 and not messages(result),
              f"forest-plot {arguments}: status {result.returncode}, {result.stderr}")
        return result

    def path(self, name):
        return os.path.join(self.work, name)

    def text(self, name):
        with open(self.path(name), encoding="utf-8") as stream:
            return stream.read()

    def write(self, name, text):
        with open(self.path(name), "w", encoding="utf-8") as stream:
            stream.write(text)
        return name


def check_png(path):
    """A real PNG of a picture's size, not an empty or tiny file."""
    with open(path, "rb") as stream:
        head = stream.read(24)
    check(head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR", f"{path} is no PNG")
    width, height = struct.unpack(">II", head[16:24])
    check(width >= 600 and height >= 250, f"{path} is {width} x {height} pixels")
    check(os.path.getsize(path) > 10000, f"{path} holds only {os.path.getsize(path)} bytes")


def svg_labels(svg):
    """The texts of an SVG written with its text kept as text, in drawing order."""
    return [html.unescape(text) for text in re.findall(r"<text[^>]*>([^<]*)</text>", svg)]


def ranked_names(lines, count):
    """The names of the `count` largest values of "NAME VALUE" lines; ties keep file order."""
    rows = [line.split()[:2] for line in lines]
    return [name for name, value in sorted(rows, key=lambda row: -float(row[1]))][:count]


def unfinished_copy(lines, passes):
    """The importance file as kestrel leaves it during the run, after `passes` permuted passes."""
    ncov = int(lines[0])
    firsts = ["\t".join(line.split("\t")[:2]) for line in lines[2:2 + ncov + passes]]
    return "\n".join([lines[0], "index\tMCC importance"] + firsts) + "\n"


def null_line(maxima):
    """The 95th percentile of the maxima, interpolated linearly between the sorted values."""
    ordered = sorted(maxima)
    position = 0.95 * (len(ordered) - 1)
    below = int(position)
    return ordered[below] + (position - below) * (ordered[min(below + 1, len(ordered) - 1)] - ordered[below])


def test_kestrel(setting):
    data = setting.data("sample.txt", "trial data.txt")
    run_program(setting.options.kestrel, setting.work, "-t", data, "-n", "20", "-perm", "4", "-seed", "3")
    shutil.copyfile(setting.path(data), setting.path("no passes.txt"))
    run_program(setting.options.kestrel, setting.work, "-t", "no passes.txt", "-n", "20", "-perm", "0", "-seed", "3")
    result_file = data + ".importance"
    before = setting.text(result_file)
    setting.plot_fine(result_file)
    check_png(setting.path(result_file + ".png"))
    check(setting.text(result_file) == before, "the result file changed")

    lines = before.splitlines()
    setting.write("unfinished.importance", unfinished_copy(lines, 2))
    setting.plot_fine("--svg", "--top", "3", result_file, "no passes.txt.importance", "unfinished.importance")
    labels = svg_labels(setting.text(result_file + ".svg"))
    covariates = [line.split("\t") for line in lines[2:2 + int(lines[0])]]
    top = sorted(covariates, key=lambda fields: -float(fields[1]))[:3]
    names = {fields[0] for fields in covariates}
    check([label for label in labels if label in names] == [fields[0] for fields in top], f"bars {labels}")
    p_column = labels[labels.index("p-value") + 1:][:3]
    check(p_column == [f"{float(fields[2]):.3f}" for fields in top], f"p-values {p_column}")
    maxima = [float(line.split("\t")[1]) for line in lines[2 + len(covariates):]]
    line = f"95th percentile of the 4 permuted maxima ({null_line(maxima):.2f})"
    check(line in labels, f"no '{line}' in {labels}")
    labels = svg_labels(setting.text("no passes.txt.importance.svg"))
    check(any("no permuted passes" in label for label in labels), f"title {labels}")
    check("p-value" not in labels and not any("percentile" in label for label in labels), "marks without passes")
    labels = svg_labels(setting.text("unfinished.importance.svg"))
    check(any("unfinished run (2 permuted passes so far)" in label for label in labels), f"title {labels}")


def test_plover(setting):
    data = setting.data("sample_SNP.txt", "snp data.txt")
    run_program(setting.options.plover, setting.work, "-t", data, "-n", "20", "-seed", "3")
    result_file = data + ".importance"
    setting.plot_fine(result_file)
    check_png(setting.path(result_file + ".png"))
    setting.plot_fine("--top", "5", "-o", "top five.svg", result_file)
    labels = svg_labels(setting.text("top five.svg"))
    lines = setting.text(result_file).splitlines()
    rate = float(lines[0].split()[-1])
    check(any(f"out-of-bag error rate {rate:.4f}" in label for label in labels), f"title {labels}")
    top = ranked_names(lines[3:], 5)
    tick_labels = [label for label in labels if label in {line.split()[0] for line in lines[3:]}]
    check(tick_labels[-5:] == top, f"bars {tick_labels}, expected {top}")


def test_wren(setting):
    data = setting.data("bramble.txt", "bramble data.txt")
    run_program(setting.options.wren, setting.work, "-t", data)
    shutil.copyfile(setting.path(data), setting.path("stumps.txt"))
    run_program(setting.options.wren, setting.work, "-t", "stumps.txt", "-minnode", "100000")
    check(setting.text("stumps.txt.count").startswith("The number of variables selected is 0\n"), "stumps split")
    setting.plot_fine(data + ".count")
    check_png(setting.path(data + ".count.png"))
    # A missing file and a picture that cannot be written are each said once; the good file
    # between them is still drawn.
    shutil.copyfile(setting.path(data + ".count"), setting.path("blocked.count"))
    os.makedirs(setting.path("blocked.count.svg"))
    result = setting.plot("--svg", "missing.count", "stumps.txt.count", "blocked.count")
    check(result.returncode == 2 and len(messages(result)) == 2
          and messages(result)[0].startswith("forest-plot: cannot read 'missing.count'")
          and messages(result)[1].startswith("forest-plot: cannot write 'blocked.count.svg'"),
          f"missing file and unwritable picture: {result.returncode} {result.stderr}")
    check(any("no covariate split" in label for label in svg_labels(setting.text("stumps.txt.count.svg"))),
          "empty forest not said")


def with_field(line, index, text):
    fields = line.split("\t")
    fields[index] = text
    return "\t".join(fields)


def tampered_files(setting):
    """Result files of the three programs, each spoiled in one way, with the words of its message."""
    data = setting.data("sample.txt", "sample.txt")
    run_program(setting.options.kestrel, setting.work, "-t", data, "-n", "5", "-perm", "2", "-seed", "1")
    kestrel = setting.text(data + ".importance").splitlines(keepends=True)
    snp = setting.data("sample_SNP.txt", "snp.txt")
    run_program(setting.options.plover, setting.work, "-t", snp, "-n", "5", "-seed", "1")
    plover = setting.text(snp + ".importance").splitlines(keepends=True)
    bramble = setting.data("bramble.txt", "bramble.txt")
    run_program(setting.options.wren, setting.work, "-t", bramble, "-o", "2", "-n", "1")
    wren = setting.text(bramble + ".count").splitlines(keepends=True)
    return {
        "empty.importance": ("", "is empty"),
        "blank lines.count": ("\n\n", "is empty"),
        "sample.txt": (None, "is not a result file"),
        "cut short.importance": ("".join(kestrel[:5]), "line 6 should be a covariate's line"),
        "word for number.importance": ("".join(kestrel[:3] + [kestrel[3].replace("\t", "\tx", 1)] + kestrel[4:]), "line 4"),
        "pass renumbered.importance": ("".join(kestrel).replace("max2\t", "max7\t"), "permuted pass 2"),
        "p missing.importance": ("".join(kestrel[:4] + [with_field(kestrel[4], 2, "NA")] + kestrel[5:]), "line 5"),
        "plover heads.importance": ("".join(plover[:2] + ["index value\n"] + plover[3:]), "'index importance'"),
        "plover comma.importance": ("".join(plover[:5] + [plover[5].replace(".", ",")] + plover[6:]), "line 6"),
        "plover headers only.importance": ("".join(plover[:3]), "the first marker's line"),
        "wren short.count": ("".join(wren[:-1]), "the file ends there"),
        "wren extra.count": ("".join(wren + ["height 3\n"]), "goes on after the 8 covariates"),
        "wren zero.count": ("".join(wren[:2] + [wren[2].split()[0] + " 0\n"] + wren[3:]), "use count"),
        "binary.count": ("The number of variables selected is 1\nindex count\nx\0 1\n", "not a text file"),
        "missing.importance": (False, "cannot read"),
    }


def test_rejected(setting):
    tampered = tampered_files(setting)
    for name, (text, words) in tampered.items():
        if isinstance(text, str):
            setting.write(name, text)
    result = setting.plot(*tampered)
    check(result.returncode == 2, f"status {result.returncode}, {result.stderr}")
    lines = messages(result)
    check(len(lines) == len(tampered), f"{len(tampered)} files, messages: {result.stderr}")
    for (name, (text, words)), message in zip(tampered.items(), lines):
        check(message.startswith("forest-plot: ") and f"'{name}'" in message and words in message,
              f"{name}: expected its name and '{words}', got {message}")
        check(not os.path.exists(setting.path(name + ".png")), f"{name}: a picture was drawn")


def test_options(setting):
    for arguments in (["--top", "0", "x"], ["--top", "201", "x"], ["--alpha", "2", "x"], ["-o", "p.png", "a", "b"], []):
        result = setting.plot(*arguments)
        check(result.returncode == 2 and result.stderr.startswith("usage: forest-plot"),
              f"{arguments}: status {result.returncode}, {result.stderr}")
    result = setting.plot("--version")
    check(result.returncode == 0 and result.stdout == "forest-plot 1.0.0\n", f"--version: {result.stdout}")
    # Without site packages and without the system Python to turn to, matplotlib is missing:
    # one line says how to get it, with its own status for make example.
    data = setting.data("bramble.txt", "bramble.txt")
    run_program(setting.options.wren, setting.work, "-t", data, "-o", "2", "-n", "1")
    result = subprocess.run([sys.executable, "-S", setting.options.plot, data + ".count"], cwd=setting.work,
                            capture_output=True, text=True, env=dict(os.environ, FOREST_PLOT_RERUN="1"))
    if "matplotlib" in result.stderr or result.returncode != 0:
        check(result.returncode == NO_MATPLOTLIB and len(messages(result)) == 1
              and "python3-matplotlib" in result.stderr, f"no matplotlib: {result.returncode} {result.stderr}")


CASES = {"kestrel": test_kestrel, "plover": test_plover, "wren": test_wren,
         "rejected": test_rejected, "options": test_options}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    for option in ("plot", "kestrel", "plover", "wren", "examples", "work"):
        parser.add_argument("--" + option, required=True)
    options = parser.parse_args()
    try:
        CASES[options.case](Setting(options))
    except Skipped as reason:
        print(f"skipped: {reason}")
        return SKIP
    except AssertionError as failure:
        print(f"FAILED: {failure}")
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
