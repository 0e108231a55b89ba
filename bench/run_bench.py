#!/usr/bin/env python3
"""Benchmarks of kestrel, plover and wren on deterministic synthetic data.

  python3 bench/run_bench.py                 # the standard scenarios on ./build
  python3 bench/run_bench.py --compare       # ... and ranger and scikit-learn on the same data
  python3 bench/run_bench.py --big           # ... and all three on 5,000 x 100,000 genotypes (memory)
  python3 bench/run_bench.py --only scale    # kestrel and wren on wide genotypes and mixed data
  python3 bench/run_bench.py --build DIR     # measure the programs built in DIR

Every timing is repeated (--repeat, default 3) and the best wall time is shown, since the
machine is shared. The "scale" scenarios time the reading of kestrel, wren and plover (MB/s of
everything before the first tree), kestrel and wren on 2,000 x 10,000 genotypes and on mixed
2,000 x 1,000 data, and -threads 8 against -threads 2. Peak memory is the child's maximum resident set size (/usr/bin/time, else wait4). Input MB/s
is the data file size divided by the "Finish loading" time that plover and wren print, and for
kestrel (which prints none) divided by the wall time of a run of one tree.

When a program's --help mentions "-threads", the programs run with "-threads 1" in the
single-thread scenarios, and plover and wren (and a short kestrel run) also run with
"-threads 1" and "-threads 2" in turns: the speed-up is printed and every output file must be
byte-identical between the two, else the script says so and exits with status 1. Beside it
stands the machine's own limit: two "-threads 1" runs started together, against one.

Standard library only. The comparison needs Rscript with the ranger package and python3 with
scikit-learn (Debian: r-cran-ranger, python3-sklearn); when one is missing, its rows are skipped
with a message.
"""
import argparse
import filecmp
import math
import os
import re
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import datagen  # noqa: E402

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MB = 1e6
# Bumped whenever datagen changes what it writes, so that cached data files are rebuilt.
DATA_VERSION = 1


# ---------------------------------------------------------------------------------------------
# Running a program


class Run:
    """One finished child process."""

    def __init__(self, wall, cpu, maxrss_kb, rc, stdout, stderr):
        self.wall, self.cpu, self.maxrss_kb, self.rc, self.stdout, self.stderr = wall, cpu, maxrss_kb, rc, stdout, stderr

    def loading_seconds(self):
        m = re.search(r"Finish loading\.\s*Running time:\s*([0-9.]+)", self.stdout)
        return float(m.group(1)) if m else None


# A child forked from this Python process counts the parent's resident set (about 20 MB) in its
# own peak, so the peak is taken by /usr/bin/time, whose fork is small; wait4 is the fallback.
TIME = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None


def run_child(cmd, cwd, env=None, timeout=None):
    """Runs cmd in cwd with its output in files; wall time and peak memory of that child alone."""
    out_path = os.path.join(cwd, "stdout.txt")
    err_path = os.path.join(cwd, "stderr.txt")
    rss_path = os.path.join(cwd, "peak_kb.txt")
    if TIME:
        cmd = [TIME, "-o", rss_path, "-f", "%M"] + list(cmd)
    with open(out_path, "w") as out, open(err_path, "w") as err:
        t0 = time.perf_counter()
        p = subprocess.Popen(cmd, cwd=cwd, stdout=out, stderr=err, stdin=subprocess.DEVNULL, env=env)
        deadline = None if timeout is None else t0 + timeout
        while True:
            pid, status, usage = os.wait4(p.pid, os.WNOHANG if deadline else 0)
            if pid:
                break
            if time.perf_counter() > deadline:
                p.kill()
                pid, status, usage = os.wait4(p.pid, 0)
                break
            time.sleep(0.01)
        wall = time.perf_counter() - t0
    p.returncode = os.waitstatus_to_exitcode(status)
    with open(out_path) as f:
        stdout = f.read()
    with open(err_path) as f:
        stderr = f.read()
    peak_kb = usage.ru_maxrss
    if TIME:
        # The last line is the peak; a line before it reports a non-zero exit or a signal.
        with open(rss_path) as f:
            lines = f.read().split()
        peak_kb = int(lines[-1]) if lines and lines[-1].isdigit() else peak_kb
        os.remove(rss_path)
    # Processor time of the child and of what it waited for (the program under /usr/bin/time).
    cpu = usage.ru_utime + usage.ru_stime
    return Run(wall, cpu, peak_kb, p.returncode, stdout, stderr)


class Failure(Exception):
    pass


def report_failure(failures, e):
    """Keeps a failure for the summary at the end and says it at once."""
    failures.append(str(e))
    print("  FAILED: %s" % e, flush=True)


class Program:
    def __init__(self, name, build):
        self.name = name
        self.path = os.path.join(build, name, name)
        self.threads = False
        self.help_text = ""

    def exists(self):
        return os.access(self.path, os.X_OK)

    def detect(self, runs_dir):
        """Does --help mention -threads? (No --help at all: no threads option.) It runs in a
        folder of its own below runs_dir: a build without --help takes it for a file name."""
        d = os.path.join(runs_dir, "help-" + self.name)
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
        r = run_child([self.path, "--help"], d, timeout=20)
        self.help_text = r.stdout + r.stderr
        self.threads = "-threads" in self.help_text
        return True

    def args(self, args, threads):
        """The command line; "-threads N" only when the program has that option."""
        cmd = [self.path] + list(args)
        if threads is not None and self.threads:
            cmd += ["-threads", str(threads)]
        return cmd


def prepare_dir(run_dir, data_path, extra_links=()):
    """An empty run_dir holding links to the data files."""
    shutil.rmtree(run_dir, ignore_errors=True)
    os.makedirs(run_dir)
    for src in (data_path,) + tuple(extra_links):
        os.symlink(os.path.abspath(src), os.path.join(run_dir, os.path.basename(src)))


def run_checked(cmd, run_dir):
    r = run_child(cmd, run_dir)
    if r.rc != 0:
        raise Failure("%s exited with status %d in %s\n%s" % (" ".join(cmd), r.rc, run_dir, r.stderr[-2000:]))
    return r


def run_in_dir(prog, data_path, args, threads, run_dir, repeat, extra_links=()):
    """Runs prog repeat times in run_dir on a link to data_path; returns the runs."""
    prepare_dir(run_dir, data_path, extra_links)
    cmd = prog.args(["-t", os.path.basename(data_path)] + list(args), threads)
    return cmd, [run_checked(cmd, run_dir) for _ in range(repeat)]


def run_side_by_side(cmd, run_dirs):
    """Starts cmd in every directory at once; the wall time until the last one ends."""
    t0 = time.perf_counter()
    children = [subprocess.Popen(cmd, cwd=d, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                 stdin=subprocess.DEVNULL) for d in run_dirs]
    codes = [c.wait() for c in children]
    wall = time.perf_counter() - t0
    if any(codes):
        raise Failure("%s exited with status %s side by side in %s" % (" ".join(cmd), codes, ", ".join(run_dirs)))
    return wall


def output_files(run_dir):
    """The files a run wrote (everything but the data links and the captured console)."""
    names = []
    for n in sorted(os.listdir(run_dir)):
        p = os.path.join(run_dir, n)
        if os.path.islink(p) or n in ("stdout.txt", "stderr.txt", "peak_kb.txt"):
            continue
        names.append(n)
    return names


def same_outputs(dir_a, dir_b):
    """Names of output files that differ or exist in one directory only (cmp, byte for byte)."""
    a, b = output_files(dir_a), output_files(dir_b)
    bad = sorted(set(a) ^ set(b))
    for n in sorted(set(a) & set(b)):
        if not filecmp.cmp(os.path.join(dir_a, n), os.path.join(dir_b, n), shallow=False):
            bad.append(n)
    return bad, a


# ---------------------------------------------------------------------------------------------
# Data


def parse_size(text):
    m = re.fullmatch(r"(\d+)[xX](\d+)", text.replace(",", "").replace("_", ""))
    if not m:
        raise argparse.ArgumentTypeError("give a size as CASESxCOVARIATES, e.g. 2000x10000")
    return int(m.group(1)), int(m.group(2))


def data_file(work, kind, size, classes=2):
    """The deterministic data file, written once and then reused from the work directory."""
    n, p = size
    name = "%s_%dx%d%s_v%d.txt" % (kind, n, p, "_c%d" % classes if kind == "mixed" and classes != 2 else "",
                                   DATA_VERSION)
    path = os.path.join(work, "data", name)
    if not os.path.exists(path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        t0 = time.perf_counter()
        tmp = path + ".part"
        if kind == "geno":
            datagen.write_geno(tmp, n, p)
        else:
            datagen.write_mixed(tmp, n, p, nclass=classes)
        os.replace(tmp, path)
        print("  wrote %s (%.1f MB) in %.1f s" % (name, os.path.getsize(path) / MB, time.perf_counter() - t0),
              flush=True)
    return path


def fmt_size(size):
    return "%s x %s" % ("{:,}".format(size[0]), "{:,}".format(size[1]))


# ---------------------------------------------------------------------------------------------
# Tables


def print_table(title, header, rows, notes=()):
    print()
    print(title)
    widths = [max(len(str(r[i])) for r in [header] + rows) for i in range(len(header))]
    line = "  ".join("-" * w for w in widths)
    print("  ".join(str(h).ljust(w) for h, w in zip(header, widths)))
    print(line)
    for r in rows:
        print("  ".join(str(c).ljust(w) if i < 2 else str(c).rjust(w) for i, (c, w) in enumerate(zip(r, widths))))
    for n in notes:
        print("  " + n)
    sys.stdout.flush()


def f2(x, digits=2):
    return "-" if x is None else ("%.*f" % (digits, x))


def mbps(nbytes, seconds):
    if seconds is None:
        return "-"
    if seconds <= 0:
        return "> %.0f" % (nbytes / MB / 0.001)  # below the 1 ms resolution of the printed time
    return "%.0f" % (nbytes / MB / seconds)


class Result:
    """The figures of one scenario."""

    def __init__(self, label, prog, cmd, data_path, size, trees, runs, run_dir, target=None, met=None):
        self.label, self.prog, self.cmd, self.data_path, self.size = label, prog, cmd, data_path, size
        self.trees, self.runs, self.run_dir, self.target, self.met = trees, runs, run_dir, target, met
        if trees is None:  # as many as the program says it grew
            counts = re.findall(r"Number of trees completed: (\d+)", runs[0].stdout)
            self.trees = int(counts[-1]) if counts else None
        self.best = min(r.wall for r in runs)
        self.worst = max(r.wall for r in runs)
        self.cpu = min(r.cpu for r in runs)
        self.peak_mb = max(r.maxrss_kb for r in runs) * 1024 / MB
        loads = [r.loading_seconds() for r in runs]
        self.load = None if None in loads else min(loads)
        self.read_seconds = self.load  # may be replaced by a one-tree run's wall time
        self.read_note = ""

    def shown_command(self):
        shown = [os.path.basename(self.cmd[0])] + [os.path.basename(a) if a.endswith(".txt") else a
                                                   for a in self.cmd[1:]]
        return " ".join(shown)

    def row(self, repeat):
        nbytes = os.path.getsize(self.data_path)
        met = "" if self.met is None or not self.target else (" (met)" if self.met(self) else " (NOT MET)")
        return [
            self.label,
            self.shown_command(),
            fmt_size(self.size),
            "%.2f / %.2f" % (self.best, self.worst) if repeat > 1 else "%.2f" % self.best,
            "%.2f" % self.cpu,
            ("%.0f" if self.trees >= 10 * self.best else "%.1f") % (self.trees / self.best) if self.trees else "-",
            "%.0f" % self.peak_mb,
            f2(self.load, 3),
            mbps(nbytes, self.read_seconds) + self.read_note,
            (self.target or "") + met,
        ]


MAIN_HEADER = ["scenario", "command", "cases x covariates", "wall s best/worst", "cpu s", "trees/s", "peak MB",
               "load s", "input MB/s", "target"]


# ---------------------------------------------------------------------------------------------
# Comparison with ranger and scikit-learn (fit, and importance, only; loading is not timed)

RANGER_CODE = r"""
args <- commandArgs(TRUE)
path <- args[1]; ntree <- as.integer(args[2]); boot <- args[3] == "1"
min_node <- as.integer(args[4]); mtry <- as.integer(args[5]); reps <- as.integer(args[6])
imps <- strsplit(args[7], ",")[[1]]; modes <- strsplit(args[8], ",")[[1]]
suppressMessages(library(ranger))
kinds <- tolower(scan(path, what = "", nlines = 1, quiet = TRUE))
cells <- scan(path, what = double(), skip = 2, na.strings = c("NA", "."), quiet = TRUE)
m <- matrix(cells, ncol = length(kinds), byrow = TRUE)
rm(cells)
covs <- which(kinds %in% c("o", "n"))
y <- factor(m[, which(kinds == "r")])
fill <- function(v, nominal) {  # missing cells: the most common value / the median
  if (!anyNA(v)) return(v)
  v[is.na(v)] <- if (nominal) as.numeric(names(which.max(table(v)))) else median(v, na.rm = TRUE)
  v
}
if (any(kinds[covs] == "n")) {
  x <- as.data.frame(lapply(covs, function(j) {
    v <- fill(m[, j], kinds[j] == "n")
    if (kinds[j] == "n") factor(v) else v
  }))
  names(x) <- paste0("v", covs)
} else {
  x <- m[, covs, drop = FALSE]
  for (j in seq_len(ncol(x))) x[, j] <- fill(x[, j], FALSE)
  colnames(x) <- paste0("v", covs)
}
rm(m)
cat(sprintf("VERSION ranger %s\n", as.character(packageVersion("ranger"))))
# Factor handling only where there are factors: on an all-numeric matrix "partition" takes
# every column for unordered and is many times slower.
if (!is.data.frame(x)) modes <- "none"
for (mode in modes) for (imp in imps) {
  times <- numeric(0)
  for (r in seq_len(reps)) {
    gc()
    t <- system.time(fit <- if (mode == "none") {
      ranger(x = x, y = y, num.trees = ntree, mtry = mtry, min.node.size = min_node, replace = boot,
             sample.fraction = 1, importance = imp, num.threads = 1, seed = r, verbose = FALSE)
    } else {
      ranger(x = x, y = y, num.trees = ntree, mtry = mtry, min.node.size = min_node, replace = boot,
             sample.fraction = 1, importance = imp, num.threads = 1, seed = r, verbose = FALSE,
             respect.unordered.factors = mode)
    })
    times <- c(times, t[["elapsed"]])
    rm(fit)
  }
  cat(sprintf("RESULT %s:%s %s\n", imp, mode, paste(sprintf("%.4f", times), collapse = ",")))
}
"""

SKLEARN_CODE = r"""
import io, sys, time
import numpy as np
import sklearn
from sklearn.ensemble import RandomForestClassifier
path, ntree, boot, min_leaf, criterion, reps = sys.argv[1:7]
ntree, boot, min_leaf, reps = int(ntree), boot == "1", int(min_leaf), int(reps)
with open(path) as f:
    kinds = f.readline().lower().split()
    f.readline()
    text = f.read().replace("NA", "nan")  # the generator writes missing cells as NA
m = np.loadtxt(io.StringIO(text), dtype=np.float64, ndmin=2)
del text
covs = [j for j, k in enumerate(kinds) if k in ("o", "n")]
y = m[:, kinds.index("r")].astype(np.int64)
x = m[:, covs]
for c, j in enumerate(covs):  # missing cells: the most common value / the median
    col = x[:, c]
    miss = np.isnan(col)
    if miss.any():
        if kinds[j] == "n":
            vals, counts = np.unique(col[~miss], return_counts=True)
            col[miss] = vals[np.argmax(counts)]
        else:
            col[miss] = np.median(col[~miss])
x = np.ascontiguousarray(x, dtype=np.float32)  # what fit converts to anyway
try:
    from threadpoolctl import threadpool_info
    pools = ", ".join("%s %s %s" % (p.get("internal_api"), p.get("architecture", ""), p.get("num_threads"))
                      for p in threadpool_info())
except Exception as e:
    pools = "threadpoolctl unavailable (%s)" % e
print("VERSION scikit-learn %s, numpy %s; thread pools: %s" % (sklearn.__version__, np.__version__, pools))
times = []
for r in range(reps):
    clf = RandomForestClassifier(n_estimators=ntree, max_features="sqrt", criterion=criterion,
                                 min_samples_leaf=min_leaf, bootstrap=boot, n_jobs=1, random_state=r)
    t0 = time.perf_counter()
    clf.fit(x, y)
    times.append(time.perf_counter() - t0)
    del clf
print("RESULT fit %s" % ",".join("%.4f" % t for t in times))
"""


def have_ranger():
    if not shutil.which("Rscript"):
        return "Rscript not found (Debian package r-cran-ranger)"
    r = subprocess.run(["Rscript", "-e", "suppressMessages(library(ranger))"], capture_output=True, text=True)
    return None if r.returncode == 0 else "R package ranger not installed (Debian package r-cran-ranger)"


def find_sklearn_python(given):
    """The first Python that imports scikit-learn: --python, this one, then Debian's."""
    tried = []
    for py in ([given] if given else []) + [sys.executable, "/usr/bin/python3"]:
        if py in tried or not (shutil.which(py) or os.access(py, os.X_OK)):
            continue
        tried.append(py)
        if subprocess.run([py, "-c", "import sklearn, numpy"], capture_output=True).returncode == 0:
            return py, None
    return None, "scikit-learn not importable by %s (Debian package python3-sklearn)" % " or ".join(tried)


def foreign_env():
    """OPENBLAS_CORETYPE and OPENBLAS_L2_SIZE are set on this machine for old OpenBLAS builds;
    they slow a current numpy, so the comparison runs without both."""
    env = dict(os.environ)
    env.pop("OPENBLAS_CORETYPE", None)
    env.pop("OPENBLAS_L2_SIZE", None)
    return env


def parse_foreign(run, what):
    if run.rc != 0:
        raise Failure("%s failed (status %d):\n%s" % (what, run.rc, (run.stderr or run.stdout)[-2000:]))
    results, version = {}, ""
    for line in run.stdout.splitlines():
        if line.startswith("RESULT "):
            _, key, times = line.split(" ", 2)
            results[key] = [float(t) for t in times.split(",")]
        elif line.startswith("VERSION "):
            version = line[len("VERSION "):]
    return results, version


def run_ranger(work, data_path, ntree, boot, min_node, mtry, reps, imps, modes=("partition",)):
    run_dir = os.path.join(work, "runs", "ranger-" + os.path.basename(data_path))
    os.makedirs(run_dir, exist_ok=True)
    script = os.path.join(run_dir, "fit.R")
    with open(script, "w") as f:
        f.write(RANGER_CODE)
    cmd = ["Rscript", script, os.path.abspath(data_path), str(ntree), "1" if boot else "0", str(min_node),
           str(mtry), str(reps), ",".join(imps), ",".join(modes)]
    run = run_child(cmd, run_dir, env=foreign_env())
    return parse_foreign(run, "ranger") + (run,)


def run_sklearn(python, work, data_path, ntree, boot, min_leaf, criterion, reps):
    run_dir = os.path.join(work, "runs", "sklearn-" + os.path.basename(data_path))
    os.makedirs(run_dir, exist_ok=True)
    script = os.path.join(run_dir, "fit.py")
    with open(script, "w") as f:
        f.write(SKLEARN_CODE)
    cmd = [python, script, os.path.abspath(data_path), str(ntree), "1" if boot else "0", str(min_leaf),
           criterion, str(reps)]
    run = run_child(cmd, run_dir, env=foreign_env())
    return parse_foreign(run, "scikit-learn") + (run,)


# ---------------------------------------------------------------------------------------------
# The benchmark


ORDER = ("plover", "kestrel", "wren", "read", "read-kestrel-geno", "read-kestrel-mixed", "read-wren-geno",
         "read-wren-mixed", "read-plover-geno", "kestrel-geno", "wren-geno", "wren-mixed", "big", "big-kestrel",
         "big-wren", "big-plover")


def scale_scenarios(a, progs, geno, mixed, scenario, results):
    """kestrel and wren on wide genotypes and on mixed data: reading speed, time and memory."""
    def reading_rate(target_mbps):
        return lambda r: r.read_seconds is not None and r.read_seconds > 0 and \
            os.path.getsize(r.data_path) / MB / r.read_seconds >= target_mbps

    for key, data, size, what in (("geno", geno, a.geno_size, "genotypes"), ("mixed", mixed, a.scale_mixed_size, "mixed")):
        r = scenario("read-kestrel-" + key, "kestrel reading, " + what, progs["kestrel"], data, size,
                     ["-n", "1", "-perm", "0", "-m", "1", "-seed", "1"], 0, target=">= 200 MB/s",
                     met=reading_rate(200))
        if r:
            # kestrel prints no loading time, but its clock starts with the first tree: reading is the
            # wall time of a run of one tree less that tree's time.
            def reading(run):
                m = re.search(r"Number of trees completed: 1\.\s*Running time:\s*([0-9.]+)", run.stdout)
                return run.wall - (float(m.group(1)) if m else 0.0)
            r.read_seconds = min(reading(x) for x in r.runs)
            r.read_note = " (wall - tree)"
        scenario("read-wren-" + key, "wren reading, " + what, progs["wren"], data, size, ["-o", "1", "-n", "1"], 0,
                 target=">= 200 MB/s", met=reading_rate(200))
    scenario("read-plover-geno", "plover reading, genotypes", progs["plover"], geno, a.geno_size,
             ["-n", "1", "-seed", "1"], 0, target=">= 500 MB/s", met=reading_rate(500))
    scenario("kestrel-geno", "kestrel genotypes", progs["kestrel"], geno, a.geno_size,
             ["-n", "100", "-perm", "0", "-seed", "1"], 100, target="<= 0.6 s, peak <= 100 MB",
             met=lambda r: r.best <= 0.6 and r.peak_mb <= 100)
    scenario("wren-geno", "wren default forest, genotypes", progs["wren"], geno, a.geno_size, [], None,
             target="<= 3 s, peak <= 250 MB", met=lambda r: r.best <= 3.0 and r.peak_mb <= 250)
    scenario("wren-mixed", "wren default forest, mixed", progs["wren"], mixed, a.scale_mixed_size, [], None,
             target="<= 2 s", met=lambda r: r.best <= 2.0)


def big_scenarios(progs, big_data, size, scenario, results):
    """The three programs on the --big genotypes: memory (and plover's time with two threads)."""
    scenario("big-kestrel", "kestrel memory", progs["kestrel"], big_data, size, ["-n", "10", "-perm", "0", "-seed", "1"],
             10, target="peak <= 2000 MB", met=lambda r: r.peak_mb <= 2000, reps=1)
    scenario("big-wren", "wren memory", progs["wren"], big_data, size, ["-o", "2", "-n", "1"], 2,
             target="peak <= 2000 MB", met=lambda r: r.peak_mb <= 2000, reps=1)
    scenario("big-plover", "plover default, 2 threads", progs["plover"], big_data, size, ["-seed", "1"], 1000,
             target="finishes, peak <= 250 MB", met=lambda r: r.peak_mb <= 250, reps=1, threads=2)


def many_threads(progs, geno, runs_dir, repeat, failures):
    """-threads 8 against -threads 2 on this machine: waiting threads must not spin for long."""
    rows = []
    for prog, args in ((progs["plover"], ["-n", "100", "-seed", "1"]), (progs["kestrel"], ["-n", "20", "-perm", "0", "-seed", "1"]),
                       (progs["wren"], ["-o", "2", "-n", "2"])):
        if not prog.threads:
            continue
        dirs = [os.path.join(runs_dir, "%s-many-t%d" % (prog.name, t)) for t in (2, 8)]
        walls = {2: [], 8: []}
        try:
            for d in dirs:
                prepare_dir(d, geno)
            for _ in range(repeat):
                for t, d in zip((2, 8), dirs):
                    walls[t].append(run_checked(prog.args(["-t", os.path.basename(geno)] + args, t), d).wall)
        except Failure as e:
            report_failure(failures, e)
            continue
        bad, _ = same_outputs(dirs[0], dirs[1])
        ratio = min(walls[8]) / min(walls[2])
        rows.append([prog.name, " ".join([prog.name] + args), "%.2f" % min(walls[2]), "%.2f" % min(walls[8]),
                     "%.2f" % ratio + (" (met)" if ratio <= 1.2 else " (NOT MET)"),
                     "IDENTICAL" if not bad else "DIFFER: " + ", ".join(bad)])
        if bad:
            failures.append("%s: files differ between -threads 2 and -threads 8: %s" % (prog.name, ", ".join(bad)))
    print_table("More threads than processors (genotypes %s)" % os.path.basename(geno),
                ["program", "command", "-threads 2 s", "-threads 8 s", "8 / 2", "output files"], rows,
                ["8 / 2: best -threads 8 wall over best -threads 2 wall; target <= 1.2 (runs take turns)"])


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(REPO, "build"), help="build directory [./build]")
    ap.add_argument("--work", default=None, help="data and run directory [BUILD/bench]")
    ap.add_argument("--repeat", type=int, default=3, help="runs of each timing; the best is shown [3]")
    ap.add_argument("--compare", action="store_true", help="also time ranger and scikit-learn on the same data")
    ap.add_argument("--python", default=None, help="Python with scikit-learn [this one, else /usr/bin/python3]")
    ap.add_argument("--big", action="store_true", help="also plover on the --big-size genotypes (memory)")
    ap.add_argument("--only", default="plover,kestrel,wren,read,scale",
                    help="comma-separated scenarios among plover, kestrel, wren, read, scale [all]")
    ap.add_argument("--geno-size", type=parse_size, metavar="NxP", default=(2000, 10000), help="plover's data [2000x10000]")
    ap.add_argument("--plover-trees", type=int, default=100, help="plover's trees [100]")
    ap.add_argument("--mixed-size", type=parse_size, metavar="NxP", default=(1000, 50), help="kestrel's data [1000x50]")
    ap.add_argument("--kestrel-trees", type=int, default=1000, help="kestrel's trees per pass [1000, its default]")
    ap.add_argument("--kestrel-perm", type=int, default=10, help="kestrel's permuted passes [10, its default]")
    ap.add_argument("--compare-trees", type=int, default=500, help="trees of the mixed-data comparison [500]")
    ap.add_argument("--wren-size", type=parse_size, metavar="NxP", default=(1000, 100), help="wren's data, 3 classes [1000x100]")
    ap.add_argument("--read-size", type=parse_size, metavar="NxP", default=(2000, 100000), help="reading speed data [2000x100000]")
    ap.add_argument("--big-size", type=parse_size, metavar="NxP", default=(5000, 100000), help="--big data [5000x100000]")
    ap.add_argument("--scale-mixed-size", type=parse_size, metavar="NxP", default=(2000, 1000),
                    help="mixed data of the scale scenarios [2000x1000]")
    a = ap.parse_args()
    a.build = os.path.abspath(a.build)  # the runs start in directories of their own
    work = a.work or os.path.join(a.build, "bench")
    # Everything the benchmark writes stays below the build directory.
    if not datagen.inside(work, a.build):
        ap.error("--work %s is not inside the build directory %s" % (work, a.build))
    only = set(s.strip() for s in a.only.split(",") if s.strip())
    unknown = only - {"plover", "kestrel", "wren", "read", "scale"}
    if unknown:
        ap.error("unknown scenario in --only: %s" % ", ".join(sorted(unknown)))
    repeat = max(1, a.repeat)
    failures = []

    progs = {n: Program(n, os.path.abspath(a.build)) for n in ("kestrel", "plover", "wren")}
    print("Benchmark of the programs in %s (data and runs in %s)" % (os.path.abspath(a.build), work))
    print("Machine: %d cores, load average %.2f %.2f %.2f at the start; each timing is the best of %d runs"
          % ((os.cpu_count() or 0,) + os.getloadavg() + (repeat,)))
    missing = [p.path for p in progs.values() if not p.exists()]
    if missing:
        print("Not built: %s\nBuild first: cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build -j2"
              % ", ".join(missing), file=sys.stderr)
        return 2
    os.makedirs(work, exist_ok=True)
    runs_dir = os.path.join(work, "runs")
    for p in progs.values():
        p.detect(runs_dir)
    for p in progs.values():
        print("  %-8s %s" % (p.name, "has -threads: runs with -threads 1 (and 2 where said)" if p.threads
                             else "no -threads option: runs as it is"))

    print("\nData (deterministic; made once, then reused from %s):" % os.path.join(work, "data"), flush=True)
    geno = data_file(work, "geno", a.geno_size) if {"plover", "scale"} & only or a.compare else None
    scale_mixed = data_file(work, "mixed", a.scale_mixed_size) if "scale" in only else None
    mixed = data_file(work, "mixed", a.mixed_size) if {"kestrel"} & only or a.compare else None
    wren_data = data_file(work, "mixed", a.wren_size, classes=3) if "wren" in only else None
    read_data = data_file(work, "geno", a.read_size) if "read" in only else None
    big_data = data_file(work, "geno", a.big_size) if a.big else None

    results = {}
    threads_rows = []

    def scenario(key, label, prog, data_path, size, args, trees, target=None, met=None, reps=None, threads=1):
        run_dir = os.path.join(runs_dir, key + ("-t%d" % threads if prog.threads else ""))
        print("  running %s ..." % label, flush=True)
        try:
            cmd, runs = run_in_dir(prog, data_path, args, threads, run_dir, reps or repeat)
        except Failure as e:
            report_failure(failures, e)
            return None
        results[key] = Result(label, prog, cmd, data_path, size, trees, runs, run_dir, target, met)
        return results[key]

    def threads_check(key, label, prog, data_path, args, timed=True, extra_links=()):
        """-threads 1 against -threads 2, in turns so that both meet the same load; identical files.

        Timed checks also run two -threads 1 runs side by side: their total against one run is
        what two threads can give at most on this machine for this work (two cores may share
        their execution units, and the machine its memory)."""
        t1_dir = os.path.join(runs_dir, key + "-t1")
        t2_dir = os.path.join(runs_dir, key + "-t2")
        pair_dirs = [os.path.join(runs_dir, key + "-pair%d" % k) for k in (1, 2)]
        cmd1 = prog.args(["-t", os.path.basename(data_path)] + list(args), 1)
        cmd2 = prog.args(["-t", os.path.basename(data_path)] + list(args), 2)
        runs1, runs2, pairs = [], [], []
        try:
            for d in [t1_dir, t2_dir] + (pair_dirs if timed else []):
                prepare_dir(d, data_path, extra_links)
            for _ in range(repeat if timed else 1):
                runs1.append(run_checked(cmd1, t1_dir))
                runs2.append(run_checked(cmd2, t2_dir))
                if timed:
                    pairs.append(run_side_by_side(cmd1, pair_dirs))
        except Failure as e:
            report_failure(failures, e)
            return
        bad, files = same_outputs(t1_dir, t2_dir)
        if bad:
            msg = "%s: output files differ between -threads 1 and -threads 2: %s (see %s and %s)" % (
                label, ", ".join(bad), t1_dir, t2_dir)
            failures.append(msg)
            print("  FAILED: " + msg, file=sys.stderr, flush=True)
        b1, b2 = min(r.wall for r in runs1), min(r.wall for r in runs2)
        limit = "%.2f" % (2 * b1 / min(pairs)) if timed else "-"
        threads_rows.append([label, " ".join([os.path.basename(cmd2[0])] + [os.path.basename(x) for x in cmd2[1:-2]]),
                             "%.2f" % b1 if timed else "-", "%.2f" % b2 if timed else "-",
                             ("%.2f" % (b1 / b2) + (" (met)" if b1 / b2 >= 1.6 else " (NOT MET)")) if timed else "-",
                             limit,
                             ("IDENTICAL (%s)" % ", ".join(f.split(".txt")[-1] or f for f in files)) if not bad
                             else "DIFFER: " + ", ".join(bad)])

    print("\nScenarios:", flush=True)
    if "plover" in only:
        std = a.geno_size == (2000, 10000) and a.plover_trees == 100
        r = scenario("plover", "plover genotypes", progs["plover"], geno, a.geno_size,
                     ["-n", str(a.plover_trees), "-seed", "1"], a.plover_trees,
                     target="<= 1.0 s" if std else None, met=lambda r: r.best <= 1.0)
    if "kestrel" in only:
        std = a.mixed_size == (1000, 50) and (a.kestrel_trees, a.kestrel_perm) == (1000, 10)
        r = scenario("kestrel", "kestrel default run" if std else "kestrel", progs["kestrel"], mixed, a.mixed_size,
                     ["-n", str(a.kestrel_trees), "-perm", str(a.kestrel_perm), "-seed", "1"],
                     a.kestrel_trees * (a.kestrel_perm + 1), target="<= 5 s" if std else None,
                     met=lambda r: r.best <= 5.0)
        if r:
            # kestrel prints no loading time: a run of one tree stands for its reading.
            try:
                _, one = run_in_dir(progs["kestrel"], mixed, ["-n", "1", "-perm", "0", "-seed", "1"], 1,
                                    os.path.join(runs_dir, "kestrel-read"), repeat)
                r.read_seconds = min(x.wall for x in one)
                r.read_note = " (1-tree run)"
            except Failure as e:
                failures.append(str(e))
    if "wren" in only:
        std = a.wren_size == (1000, 100)
        scenario("wren", "wren default forest", progs["wren"], wren_data, a.wren_size, [], None,
                 target="<= 0.5 s" if std else None, met=lambda r: r.best <= 0.5)
    if "read" in only:
        n, p = a.read_size
        bound = 1.2 * n * p / 4 / MB + 50
        scenario("read", "plover reading", progs["plover"], read_data, a.read_size, ["-n", "1", "-seed", "1"], 0,
                 target=">= 500 MB/s, peak <= %.0f MB" % bound,
                 met=lambda r: r.load is not None and r.load > 0
                 and os.path.getsize(r.data_path) / MB / r.load >= 500 and r.peak_mb <= bound)
    if "scale" in only:
        scale_scenarios(a, progs, geno, scale_mixed, scenario, results)
    if a.big:
        n, p = a.big_size
        bound = 1.2 * n * p / 4 / MB + 50
        scenario("big", "plover memory", progs["plover"], big_data, a.big_size, ["-n", "10", "-seed", "1"], 0,
                 target="peak <= %.0f MB + forest" % bound, met=lambda r: r.peak_mb <= bound, reps=1)
        big_scenarios(progs, big_data, a.big_size, scenario, results)

    notes = ["wall: whole run (reading, growing, importance, writing), best / worst of %d; trees/s from the best"
             " (not shown for the runs that measure reading and memory)" % repeat,
             "cpu s: the least processor time (user + system) of those runs; steadier than wall on a busy machine",
             "peak MB: maximum resident set of the program; load s: its \"Finish loading\" time",
             "input MB/s: file size / load s (the file is in the page cache: parsing speed, not disk speed)"]
    if a.big:
        notes.append("plover memory: run once (the data file is about 1 GB); 10 trees")
        notes.append("big runs: once each; plover's default 1,000 trees with -threads 2")
    if "scale" in only:
        notes.append("reading rows: everything before the first tree; kestrel prints no loading time, so its"
                     " reading is the wall time of a one-tree run less the tree's running time")
    print_table("Our programs (one thread unless the command says otherwise)", MAIN_HEADER,
                [results[k].row(repeat) for k in ORDER if k in results], notes)

    # Threads: only when the programs have the option.
    if any(progs[n].threads for n in ("plover", "wren", "kestrel")):
        print("\nThreads: -threads 1 against -threads 2, output files compared byte for byte", flush=True)
        if progs["plover"].threads and "plover" in results:
            threads_check("plover", "plover genotypes", progs["plover"], geno,
                          ["-n", str(a.plover_trees), "-seed", "1"])
            threads_check("plover-predict", "plover with -p (files only)", progs["plover"], geno,
                          ["-n", "20", "-seed", "3", "-p", os.path.basename(geno)], timed=False)
        if progs["wren"].threads and "wren" in results:
            threads_check("wren", "wren default forest", progs["wren"], wren_data, [])
            threads_check("wren-predict", "wren with -p (files only)", progs["wren"], wren_data,
                          ["-p", os.path.basename(wren_data)], timed=False)
        if progs["kestrel"].threads and mixed:
            threads_check("kestrel-short", "kestrel 200 trees x 3 passes (files only)", progs["kestrel"], mixed,
                          ["-n", "200", "-perm", "2", "-seed", "5"], timed=False)
        if "scale" in only:
            threads_check("kestrel-geno", "kestrel genotypes 20 trees (files only)", progs["kestrel"], geno,
                          ["-n", "20", "-perm", "1", "-seed", "1"], timed=False)
            threads_check("wren-scale", "wren default forest, mixed %s (files only)" % fmt_size(a.scale_mixed_size),
                          progs["wren"], scale_mixed, [], timed=False)
        print_table("Threads", ["scenario", "command", "-threads 1 s", "-threads 2 s", "speed-up", "machine limit",
                                "output files"],
                    threads_rows, ["speed-up: best -threads 1 wall / best -threads 2 wall; target >= 1.6",
                                   "(the runs take turns, so that both meet the same load on a shared machine)",
                                   "machine limit: 2 x best -threads 1 wall / best wall of two -threads 1 runs started together",
                                   "output files: every file the runs wrote, compared byte for byte; must be identical"])
    else:
        print("\nThreads: no program has a -threads option yet; nothing to compare.")

    if "scale" in only and geno:
        many_threads(progs, geno, runs_dir, repeat, failures)

    if a.compare:
        compare(a, work, progs, geno, mixed, results, repeat, failures)

    print("\nLoad average at the end: %.2f %.2f %.2f" % os.getloadavg())
    if failures:
        print("\nFAILED:", file=sys.stderr)
        for f in failures:
            print("  " + f, file=sys.stderr)
        return 1
    return 0


def compare(a, work, progs, geno, mixed, results, repeat, failures):
    print("\nComparison (fit and importance timed inside each tool, loading not timed), %d runs each:" % repeat,
          flush=True)
    no_ranger = have_ranger()
    sk_python, no_sklearn = find_sklearn_python(a.python)
    for why in (no_ranger, no_sklearn):
        if why:
            print("  SKIPPED: %s" % why, flush=True)
    rows, versions = [], []

    # Genotypes: plover's settings (bootstrap, sqrt(p) candidates, smallest node 1).
    n, p = a.geno_size
    mtry = int(math.sqrt(p))
    ours = results.get("plover")
    if ours is None:
        r = None
        try:
            cmd, runs = run_in_dir(progs["plover"], geno, ["-n", str(a.plover_trees), "-seed", "1"], 1,
                                   os.path.join(work, "runs", "plover-t1"), repeat)
            ours = Result("plover", progs["plover"], cmd, geno, a.geno_size, a.plover_trees, runs, None)
        except Failure as e:
            failures.append(str(e))
    case = "genotypes %s, %d trees" % (fmt_size(a.geno_size), a.plover_trees)
    ours_growth = None if ours is None or ours.load is None else ours.best - ours.load
    if ours:
        rows.append([case, "plover (reading + forest + permutation importance)", "%.2f" % ours.best, "", "", ""])
    theirs = []
    if not no_ranger:
        print("  ranger on %s ..." % os.path.basename(geno), flush=True)
        try:
            res, ver, _ = run_ranger(work, geno, a.plover_trees, True, 1, mtry, repeat, ["permutation", "none"])
            versions.append(ver)
            theirs += [("ranger, permutation importance", min(res["permutation:none"]), "<= 0.15"),
                       ("ranger, no importance", min(res["none:none"]), "")]
        except Failure as e:
            report_failure(failures, e)
    if not no_sklearn:
        print("  scikit-learn on %s ..." % os.path.basename(geno), flush=True)
        try:
            res, ver, _ = run_sklearn(sk_python, work, geno, a.plover_trees, True, 1, "entropy", repeat)
            versions.append(ver)
            theirs.append(("scikit-learn fit (no importance)", min(res["fit"]), ""))
        except Failure as e:
            report_failure(failures, e)
    for name, t, target in theirs:
        rows.append([case, name, "%.2f" % t,
                     "%.3f" % (ours.best / t) if ours else "-",
                     "%.3f" % (ours_growth / t) if ours_growth is not None else "-",
                     (target + (" (met)" if ours and ours.best / t <= 0.15 else " (NOT MET)")) if target and ours
                     else target])

    # Genotypes without bootstrap: kestrel's one pass of 100 trees (all cases, sqrt(p) candidates, Gini).
    if "kestrel-geno" in results and not no_ranger:
        ours = results["kestrel-geno"]
        case = "genotypes %s, 100 trees, no bootstrap" % fmt_size(a.geno_size)
        rows.append([case, "kestrel -n 100 -perm 0 (reading + forest + MCC importance)", "%.2f" % ours.best, "", "", ""])
        print("  ranger on %s without bootstrap ..." % os.path.basename(geno), flush=True)
        try:
            res, ver, _ = run_ranger(work, geno, 100, False, 9, mtry, repeat, ["none"])
            t = min(res["none:none"])
            rows.append([case, "ranger (replace=FALSE, min.node.size=9, no importance)", "%.2f" % t,
                         "%.3f" % (ours.best / t), "", "<= 0.1" + (" (met)" if ours.best / t <= 0.1 else " (NOT MET)")])
        except Failure as e:
            report_failure(failures, e)

    # Mixed data: kestrel's settings for one pass (all cases, sqrt(p) candidates, Gini, daughters >= 5).
    n, p = a.mixed_size
    mtry = int(math.sqrt(p))
    case = "mixed %s, %d trees, no bootstrap" % (fmt_size(a.mixed_size), a.compare_trees)
    print("  kestrel, %d trees in one pass ..." % a.compare_trees, flush=True)
    try:
        cmd, runs = run_in_dir(progs["kestrel"], mixed, ["-n", str(a.compare_trees), "-perm", "0", "-seed", "1"], 1,
                               os.path.join(work, "runs", "kestrel-compare"), repeat)
        k_best = min(r.wall for r in runs)
        rows.append([case, "kestrel -perm 0 (reading + forest + MCC importance)", "%.2f" % k_best, "", "", ""])
    except Failure as e:
        failures.append(str(e))
        k_best = None
    theirs = []
    if not no_ranger:
        print("  ranger on %s ..." % os.path.basename(mixed), flush=True)
        try:
            # ranger 0.14 has no smallest-daughter setting: nodes of at most min.node.size cases stay
            # unsplit, so 2 x 5 - 1 lets exactly the nodes split that kestrel may split.
            res, ver, _ = run_ranger(work, mixed, a.compare_trees, False, 9, mtry, repeat, ["none"],
                                     ["partition", "order"])
            theirs.append(("ranger (replace=FALSE, min.node.size=9, factors: partition)", min(res["none:partition"])))
            theirs.append(("ranger (the same, factors: order)", min(res["none:order"])))
        except Failure as e:
            report_failure(failures, e)
    if not no_sklearn:
        print("  scikit-learn on %s ..." % os.path.basename(mixed), flush=True)
        try:
            res, ver, _ = run_sklearn(sk_python, work, mixed, a.compare_trees, False, 5, "gini", repeat)
            theirs.append(("scikit-learn (bootstrap=False, min_samples_leaf=5)", min(res["fit"])))
        except Failure as e:
            report_failure(failures, e)
    for name, t in theirs:
        rows.append([case, name, "%.2f" % t, "%.3f" % (k_best / t) if k_best else "-", "", ""])

    print_table("Comparison (best of %d; ratio below 1: ours faster)" % repeat,
                ["data", "tool", "time s", "ours/theirs (wall)", "ours/theirs (growth)", "target"], rows,
                ["ours: wall time of the whole run; growth: wall minus plover's \"Finish loading\" time",
                 "theirs: fit (+ importance) only, single thread; data loaded and missing cells filled before timing",
                 "genotypes: %d candidates per node, bootstrap of n, nodes split down to 1 case; plover uses entropy,"
                 % int(math.sqrt(a.geno_size[1])),
                 "  scikit-learn criterion=\"entropy\", ranger its Gini rule (it has no entropy rule)",
                 "mixed: Gini, %d candidates, daughters of at least 5 cases (ranger 0.14 has no such setting: nodes"
                 % int(math.sqrt(a.mixed_size[1])),
                 "  of 9 cases or fewer stay unsplit); nominal covariates are factors in ranger, split by searching",
                 "  subsets as ours do (partition) or ordered once by their response (order); scikit-learn takes",
                 "  their codes as numbers"] + (["versions: " + "; ".join(versions)] if versions else [])
                + ["SKIPPED: " + why for why in (no_ranger, no_sklearn) if why])


if __name__ == "__main__":
    sys.exit(main())
