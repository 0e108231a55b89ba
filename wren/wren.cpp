// wren's command line and run sequence.
#include "wren.hpp"

#include <climits>
#include <cstdio>
#include <algorithm>
#include <memory>

#include "forest.hpp"
#include "options.hpp"
#include "program_shell.hpp"
#include "outfile.hpp"
#include "run_clock.hpp"
#include "staged_outputs.hpp"
#include "tree_text.hpp"
#include "workflow.hpp"

namespace forests {

namespace {

const char* const kAbout =
    "Builds a forest without randomness: every tree is forced to use one of the best root\n"
    "splits and one of the best splits of each root daughter, and is grown greedily below.\n"
    "Counts how often each covariate splits and classifies the cases of further files by\n"
    "majority vote.\n";

const char* const kFiles =
    "The forest has o x n x n trees, both numbers lowered to the number of usable covariates.\n"
    "Writes FILE.inf (data summary and one line per tree), FILE.count (how many splits each\n"
    "covariate made) and, for each file P given with -p, P.pre (the predicted label of each of\n"
    "its cases). With -out PREFIX the outputs are PREFIX.inf, PREFIX.count and PREFIX.P.pre\n"
    "instead. -save adds FILE.forest, which a later run classifies with\n"
    "(wren -forest FILE.forest -p NEW.txt); -votes adds P.votes (the vote shares of each case).\n";

const ProgramHelp kHelp{"wren", kAbout, kFiles};

}  // namespace

WrenSettings parse_wren_args(int argc, const char* const* argv) {
  WrenSettings s;
  const std::vector<OptionSpec> own{
      data_file_option(s.data_file, "bramble.txt"),
      count_option("-o", s.ntop, 1, "best root splits that seed the forest", "20"),
      count_option("-n", s.nsub, 1, "best splits kept for each daughter of the root", "3"),
      minnode_option(s.minnode, "1"),
      missing_share_option(s.max_missing, "largest share of missing values a covariate may have", "1.0"),
  };
  parse_options(argc, argv,
                option_table({own, prediction_options(s.pred_files), forest_options(s.forest),
                              run_options(s.out_prefix, s.threads)}),
                kHelp);
  return s;
}

namespace {

const ProgressRule kProgress{1, "\t\t"};

struct Loaded {
  DataSet d;
  std::vector<int> var_usable;
  int ntop = 0;
  int nsub = 0;
  int ntree = 0;
};

// Reads and summarises the data into the report, screens the covariates and fixes the number
// of trees, which the banner of the tree lines announces.
Loaded load_data(const WrenSettings& s, std::FILE* data, OutFile& report) {
  Loaded l;
  TokenReader in(data);
  read_data_file(in, report, ReadOptions{/*nan_token_is_missing*/ false, /*keep_spellings*/ true}, l.d);
  int nusable = 0;
  l.var_usable = screen_missing(l.d, s.max_missing, nusable);
  l.ntop = std::min(s.ntop, nusable);
  l.nsub = std::min(s.nsub, nusable);
  const long long ntree = static_cast<long long>(l.ntop) * l.nsub * l.nsub;
  if (ntree > INT_MAX) fail(format("A forest of %lld trees is more than wren can count.\n", ntree));
  l.ntree = static_cast<int>(ntree);
  write_tree_lines_banner(report, l.ntree);
  return l;
}

// Appends the tree line to the report, then counts and stores the tree.
void record_tree(const std::string& inf_path, const DataSet& d, GrownTree& g, std::vector<int>& use_count,
                 std::vector<StoredTree>& forest) {
  append_tree_line(
      inf_path, static_cast<int>(forest.size()) + 1, g.t, d,
      [&](int v) -> const std::vector<int>& { return d.ori_catg[v]; },
      [&](OutFile& out, const TreeRecord& t, int i) {
        out.puts(g.cut_text[i]);
        write_missing_side(out, t, i);
      });
  count_used_covariates(g.t, use_count);
  forest.push_back(store_tree(g.t, d.y.data(), d.nclass));
}

std::vector<StoredTree> build_forest(const WrenSettings& s, const Loaded& l, const std::string& inf_path,
                                     std::vector<int>& use_count, const RunClock& clock) {
  std::vector<StoredTree> forest;
  forest.reserve(l.ntree);
  const ForestData f = make_forest_data(l.d, l.var_usable, s.minnode);
  const std::unique_ptr<WorkerPool> pool = make_pool(s.threads);
  const int threads = pool ? pool->threads() : 1;
  std::vector<GrowWork> work;
  for (int k = 0; k < threads; ++k) work.push_back(make_grow_work(f));
  GrownTree tree = make_grown_tree(f);
  const SplitTables tables = prepare_split_tables(f, l.ntop, l.nsub, tree.t, work[0], pool.get());

  // Trees under different root splits share no greedy split: the groups of trees of one root
  // split grow side by side, and are recorded in tree order.
  const int per_root = l.nsub * l.nsub;
  TerminalProgress line(l.ntree);
  std::vector<std::vector<GrownTree>> grown(threads, std::vector<GrownTree>(per_root, tree));
  for (int first = 0; first < l.ntop; first += threads) {
    const int groups = std::min(threads, l.ntop - first);
    run_tasks(pool.get(), groups, [&](int k, int thread) {
      SearchMemo memo;
      memo.reset(1);
      for (int b = 0; b < per_root; ++b)
        grow_forced_tree(f, tables, (first + k) * per_root + b, grown[k][b], work[thread], memo);
    });
    for (int k = 0; k < groups; ++k) {
      for (int b = 0; b < per_root; ++b) {
        record_tree(inf_path, l.d, grown[k][b], use_count, forest);
        print_tree_progress(kProgress, l.ntree, static_cast<int>(forest.size()), clock.seconds(), &line);
      }
    }
  }
  line.finish();
  return forest;
}

// -forest: the files to classify go through a saved forest; nothing is built.
void classify_with_saved_wren_forest(const WrenSettings& s) {
  PredictionData p;
  classify_with_saved_forest({"wren", s.forest, s.pred_files, s.out_prefix},
                             [&](const DataSet& model) { return prediction_case_reader(model, p); });
}

}  // namespace

int run_wren(const WrenSettings& s) {
  if (!s.forest.forest_file.empty()) {
    classify_with_saved_wren_forest(s);
    return 0;
  }
  const OutputNames output = output_names(s.out_prefix, s.data_file, s.pred_files);
  InFile data = open_data_file(s.data_file);
  check_prediction_files(s.pred_files);
  const std::string inf_path = output(".inf");
  const std::string count_path = output(".count");
  std::vector<OutputPath> paths = run_outputs({count_path, inf_path}, s.pred_files, output);
  add_forest_outputs(paths, s.forest, output, s.pred_files, false);
  StagedOutputs outputs(paths);
  OutFile report(inf_path, "w");
  const RunClock clock;

  Loaded l = load_data(s, data.get(), report);
  report.close();
  data.reset();
  std::vector<int> use_count(l.d.ncov, 0);
  std::printf("Finish loading.\t\tRunning time:%fs\n", clock.seconds());

  const std::vector<StoredTree> forest = build_forest(s, l, inf_path, use_count, clock);
  write_use_counts(count_path, l.d, use_count);
  // Prediction needs only the summary tables of the training data.
  l.d.codes = {};
  l.d.text = {};
  std::printf("Finish building.\t\tRunning time:%fs\n", clock.seconds());
  if (s.forest.save)
    write_forest_file(output(".forest"), "wren", l.d,
                      [&](int v) -> const std::vector<int>& { return l.d.ori_catg[v]; }, forest);

  PredictionData p;
  predict_files(s.pred_files, output, VotingForest{&forest, l.d.nclass, &l.d.class_label},
                prediction_case_reader(l.d, p), clock, s.forest.votes);
  outputs.commit();
  return 0;
}

}  // namespace forests
