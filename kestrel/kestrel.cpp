// kestrel's command line, run set-up and forest passes.
#include "kestrel.hpp"

#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>

#include "coded_covariates.hpp"
#include "options.hpp"
#include "program_shell.hpp"
#include "random.hpp"
#include "run_clock.hpp"
#include "tree_growth.hpp"
#include "staged_outputs.hpp"
#include "tree_text.hpp"
#include "workflow.hpp"

namespace forests {

namespace {

const char* const kAbout =
    "Grows forests of classification trees on all cases of a data file and scores every\n"
    "covariate by its MCC importance (the largest chi-square of a split on it), with\n"
    "permutation p-values from forests grown on shuffled responses.\n";

const char* const kFiles =
    "Writes FILE.inf (data summary and one line per tree of the unpermuted pass) and\n"
    "FILE.importance (importance, p-value and LCC list of every covariate).\n";

const ProgramHelp kHelp{"kestrel", kAbout, kFiles};

}  // namespace

KestrelSettings parse_kestrel_args(int argc, const char* const* argv) {
  KestrelSettings s;
  const std::vector<OptionSpec> own{
      data_file_option(s.data_file, "sample.txt"),
      count_option("-n", s.ntree, 1, "trees per pass", "1000"),
      count_option("-perm", s.nperm, 0, "permuted passes after the unpermuted one", "10"),
      candidates_option(s.nsplitvar, s.nsplitvar_given),
      minnode_option(s.minnode, "5"),
      missing_share_option(s.max_missing, "largest share of missing values a covariate may have", "0.05"),
      {"-s", ValueType::whole, "N", "1 entropy, any other value the Gini index", "0", INT_MIN, INT_MAX,
       [&](const OptionValue& v) { s.impurity_rule = static_cast<int>(v.whole); }},
      {"-fdr", ValueType::real, "LEVEL", "accepted and kept; changes nothing", "0.75", -HUGE_VAL, HUGE_VAL,
       [&](const OptionValue& v) { s.fdr_level = v.real; }},
      seed_option(s.seed, s.seed_given),
  };
  parse_options(argc, argv, option_table({own, run_options(s.out_prefix, s.threads)}), kHelp);
  return s;
}

namespace {

const ProgressRule kProgress{1000, "    "};

// Nodes of fewer cases are searched again rather than remembered: their searches are cheap.
constexpr int kMemoMinCases = 128;
// Below the root, a depth of nodes is remembered only while its kept results answer at least
// this share of the searches asked of them (on wide data nodes seldom recur).
constexpr double kMemoLeastHitShare = 1.0 / 16;

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
  g.candidates = CandidateRule::draw_from_usable_list;
  g.nsplitvar = nsplitvar;
  g.least_decrease = 0.00001;
  g.var_usable = &var_usable;
  g.var_pool = &var_pool;
  SearchMemo memo;
  memo.least_hit_share = kMemoLeastHitShare;
  g.memo = &memo;

  PassResults r;
  r.where.assign(d.ncov, {-1, -1});
  r.trace_spv.resize(std::max(s.ntree, 0));
  r.trace_parent.resize(std::max(s.ntree, 0));
  std::vector<double> mcc_max(d.ncov);
  RunClock clock;
  TerminalProgress line(static_cast<long long>(s.nperm + 1) * s.ntree);
  for (int p = 0; p <= s.nperm; ++p) {
    line.set_pass(p, s.nperm + 1, s.ntree);
    if (p >= 1) shuffle_ints(d.y.data(), d.ncase);
    std::fill(mcc_max.begin(), mcc_max.end(), 0.0);
    memo.reset(kMemoMinCases);  // the classes were shuffled
    for (int t = 0; t < s.ntree; ++t) {
      grow_tree(store, d.y.data(), sample_row.data(), d.ncase, tree, g, work,
                [&](const MadeSplit& split) {
                  const int v = split.covariate;
                  const double stat = split_chisq(split.table, d.nclass, split.size);
                  if (stat > mcc_max[v]) {
                    mcc_max[v] = stat;
                    if (p == 0) r.where[v] = {t, split.node};
                  }
                });
      if (p == 0) {
        append_tree_line(
            inf_path, t + 1, tree, d, [&](int v) -> const std::vector<int>& { return d.ori_catg[v]; },
            [](OutFile& out, const TreeRecord& grown, int i) { out.put_fixed(grown.split_value[i], ' '); });
        r.trace_spv[t].assign(tree.split_var.begin(), tree.split_var.begin() + tree.node_count);
        r.trace_parent[t].assign(tree.parent.begin(), tree.parent.begin() + tree.node_count);
      }
      print_tree_progress(kProgress, s.ntree, t + 1, clock.seconds(), &line);
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
    line.before_output();
    std::printf("finish permute %d at: %s", p, std::ctime(&now));
  }
  line.finish();
  return r;
}

}  // namespace

int run_kestrel(const KestrelSettings& s) {
  const OutputNames output = output_names(s.out_prefix, s.data_file, {});
  const std::uint32_t seed = seed_random_or_clock(s.seed_given, s.seed);
  InFile data = open_data_file(s.data_file, " Data file %s does not exist!\n");
  const std::string inf_path = output(".inf");
  const std::string importance_path = output(".importance");
  StagedOutputs outputs({inf_path, importance_path});
  tell_drawn_seed(s.seed_given, seed);

  DataSet d;
  {
    OutFile report(inf_path, "w");
    TokenReader in(data.get());
    read_data_file(in, report, ReadOptions{}, d);
    write_tree_lines_banner(report, s.ntree);
    report.close();
    data.reset();
  }

  int nusable = 0;
  const std::vector<int> var_usable = screen_missing(d, s.max_missing, nusable);
  const int nsplitvar = candidates_per_node(s.nsplitvar_given, s.nsplitvar, nusable);

  PassResults r = run_passes(s, d, var_usable, nsplitvar, inf_path, importance_path);
  write_final_importance(importance_path, d, var_usable, r, s.nperm);
  outputs.commit();
  std::printf("Finish building.\n");
  return 0;
}

}  // namespace forests
