// kestrel's command line, run set-up and forest passes.
#include "kestrel.hpp"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>

#include "coded_covariates.hpp"
#include "options.hpp"
#include "random.hpp"
#include "run_clock.hpp"
#include "tree.hpp"
#include "tree_text.hpp"

namespace {

const char* const kAbout =
    "Grows forests of classification trees on all cases of a data file and scores every\n"
    "covariate by its MCC importance (the largest chi-square of a split on it), with\n"
    "permutation p-values from forests grown on shuffled responses.\n";

const char* const kOptions =
    "  -t FILE      training data file [sample.txt]\n"
    "  -n N         trees per pass [1000]\n"
    "  -perm N      permuted passes after the unpermuted one [10]\n"
    "  -m N         candidate covariates drawn at each node [square root of the usable ones]\n"
    "  -minnode N   smallest number of cases each side of a split must receive [5]\n"
    "  -r SHARE     largest share of missing values a covariate may have [0.05]\n"
    "  -s N         1 entropy, any other value the Gini index [0]\n"
    "  -fdr LEVEL   accepted and kept; changes nothing [0.75]\n"
    "  -seed N      seed of the random draws [the calendar time]\n";

const char* const kFiles =
    "Writes FILE.inf (data summary and one line per tree of the unpermuted pass) and\n"
    "FILE.importance (importance, p-value and LCC list of every covariate).\n";

const ProgramHelp kHelp{"kestrel", kAbout, kOptions, kFiles};

}  // namespace

KestrelSettings parse_kestrel_args(int argc, const char* const* argv) {
  KestrelSettings s;
  parse_options(argc, argv,
                {
                    {"-t", [&](const char* v) { s.data_file = v; }},
                    {"-n", [&](const char* v) { s.ntree = option_int(v); }},
                    {"-r", [&](const char* v) { s.max_missing = option_double(v); }},
                    {"-fdr", [&](const char* v) { s.fdr_level = option_double(v); }},
                    given_int_option("-m", s.nsplitvar, s.nsplitvar_given),
                    {"-perm", [&](const char* v) { s.nperm = option_int(v); }},
                    {"-minnode", [&](const char* v) { s.minnode = option_int(v); }},
                    {"-s", [&](const char* v) { s.impurity_rule = option_int(v); }},
                    seed_option(s.seed, s.seed_given),
                    threads_option(s.threads),
                },
                &kHelp);
  return s;
}

namespace {

void print_progress(int ntree, int t, const RunClock& clock) {
  if (ntree < 10)
    std::printf("Number of trees completed: %d.\t\tRunning time: %fs\n", t + 1, clock.seconds());
  else if ((t + 1) % 1000 == 0)
    std::printf("Number of trees completed: %d.    Running time: %fs\n", t + 1, clock.seconds());
}

// The nperm + 1 passes: pass 0 on the data as read, then each pass on a further shuffle of the
// response. Every pass grows ntree trees on all cases and keeps each covariate's largest split
// statistic.
PassResults run_passes(const KestrelSettings& s, DataSet& d, const std::vector<int>& var_usable, int nsplitvar,
                       const std::string& inf_path, const std::string& importance_path) {
  const CodedCovariates& store = d.codes;
  int max_codes = 1;
  for (int v = 0; v < d.ncov; ++v) max_codes = std::max(max_codes, store.ncode(v));
  const std::unique_ptr<WorkerPool> pool = make_pool(s.threads);
  GrowWork work(d.nclass, max_codes, pool.get());
  TreeRecord tree(1000, d.nclass);

  std::vector<int> sample_row(d.ncase);
  for (int i = 0; i < d.ncase; ++i) sample_row[i] = i;
  std::vector<int> var_pool;
  for (int j = 0; j < d.ncov; ++j)
    if (var_usable[j]) var_pool.push_back(j);

  GrowSettings g;
  g.search = {d.nclass, s.minnode, s.impurity_rule};
  g.nsplitvar = nsplitvar;
  g.impurity_test = true;
  g.draw_from_pool = true;
  g.var_usable = &var_usable;
  g.var_pool = &var_pool;
  SearchMemo memo;
  g.memo = &memo;

  PassResults r;
  r.where.assign(d.ncov, {-1, -1});
  r.trace_spv.resize(std::max(s.ntree, 0));
  r.trace_parent.resize(std::max(s.ntree, 0));
  std::vector<double> mcc_max(d.ncov);
  RunClock clock;
  for (int p = 0; p <= s.nperm; ++p) {
    if (p >= 1) shuffle_ints(d.y.data(), d.ncase);
    std::fill(mcc_max.begin(), mcc_max.end(), 0.0);
    memo.reset(d.ncov);  // the classes were shuffled
    for (int t = 0; t < s.ntree; ++t) {
      grow_tree(store, d.y.data(), sample_row.data(), d.ncase, tree, g, work,
                [&](int v, int node, int n, const std::vector<int>& table) {
                  const double stat = split_chisq(table, d.nclass, n);
                  if (stat > mcc_max[v]) {
                    mcc_max[v] = stat;
                    if (p == 0) r.where[v] = {t, node};
                  }
                });
      if (p == 0) {
        OutFile report(inf_path, "a");
        report.printf("%d: ", t + 1);
        write_tree_line(
            report, tree, d.y.data(), d.nclass, d.ncat, [&](int v) -> const std::vector<int>& { return d.ori_catg[v]; },
            CutStyle::six_decimals);
        report.close();
        r.trace_spv[t].assign(tree.spv.begin(), tree.spv.begin() + tree.nnd);
        r.trace_parent[t].assign(tree.parent.begin(), tree.parent.begin() + tree.nnd);
      }
      print_progress(s.ntree, t, clock);
    }
    if (p == 0) {
      r.mcc_obs = mcc_max;
      append_pass0_importance(importance_path, d, var_usable, r.mcc_obs);
    } else {
      double largest = 0.0;
      for (double m : mcc_max) largest = std::max(largest, m);
      r.perm_max.push_back(largest);
      append_permuted_max(importance_path, p, largest);
    }
    std::time_t now = std::time(nullptr);
    std::printf("finish permute %d at: %s", p, std::ctime(&now));
  }
  return r;
}

}  // namespace

int run_kestrel(const KestrelSettings& s) {
  seed_random_or_clock(s.seed_given, s.seed);
  InFile data(open_for_reading(s.data_file));
  if (!data) fail(format(" Data file %s does not exist!\n", s.data_file.c_str()));
  const std::string inf_path = s.data_file + ".inf";
  const std::string importance_path = s.data_file + ".importance";

  DataSet d;
  {
    OutFile report(inf_path, "w");
    TokenReader in(data.get());
    read_data_file(in, report, ReadOptions{}, d);
    write_part2_banner(report, s.ntree);
    report.close();
    data.reset();
  }

  int nusable = 0;
  const std::vector<int> var_usable = screen_missing(d, s.max_missing, nusable);
  const int nsplitvar = candidates_per_node(s.nsplitvar_given, s.nsplitvar, nusable);
  create_empty(importance_path);

  PassResults r = run_passes(s, d, var_usable, nsplitvar, inf_path, importance_path);
  write_final_importance(importance_path, d, var_usable, r, s.nperm);
  std::printf("Finish building.\n");
  return 0;
}
