// wren's command line and run sequence.
#include "wren.hpp"

#include <climits>
#include <cstdio>
#include <algorithm>
#include <memory>

#include "forest.hpp"
#include "options.hpp"
#include "outfile.hpp"
#include "run_clock.hpp"
#include "tree_text.hpp"

namespace {

const char* const kAbout =
    "Builds a forest without randomness: every tree is forced to use one of the best root\n"
    "splits and one of the best splits of each root daughter, and is grown greedily below.\n"
    "Counts how often each covariate splits and classifies the cases of further files by\n"
    "majority vote.\n";

const char* const kOptions =
    "  -t FILE      training data file [bramble.txt]\n"
    "  -o N         best root splits that seed the forest [20]\n"
    "  -n N         best splits kept for each daughter of the root [3]\n"
    "  -minnode N   smallest number of cases each side of a split must receive [1]\n"
    "  -r SHARE     largest share of missing values a covariate may have [1.0]\n"
    "  -p FILE      a file to classify; repeat for more files [none]\n"
    "  -s N         accepted and ignored: the trees always split by entropy\n";

const char* const kFiles =
    "The forest has o x n x n trees, both numbers lowered to the number of usable covariates.\n"
    "Writes FILE.inf (data summary and one line per tree), FILE.count (how many splits each\n"
    "covariate made) and, for each file P given with -p, P.pre (the predicted label of each of\n"
    "its cases).\n";

const ProgramHelp kHelp{"wren", kAbout, kOptions, kFiles};

}  // namespace

WrenSettings parse_wren_args(int argc, const char* const* argv) {
  WrenSettings s;
  parse_options(argc, argv,
                {
                    {"-t", [&](const char* v) { s.data_file = v; }},
                    {"-s", [](const char*) {}},  // accepted; wren always uses entropy
                    {"-n", [&](const char* v) { s.nsub = option_int(v); }},
                    {"-r", [&](const char* v) { s.max_missing = option_double(v); }},
                    {"-p", [&](const char* v) { s.pred_files.emplace_back(v); }},
                    {"-o", [&](const char* v) { s.ntop = option_int(v); }},
                    {"-minnode", [&](const char* v) { s.minnode = option_int(v); }},
                    threads_option(s.threads),
                },
                &kHelp);
  if (s.ntop < 1) fail(format("The number of best root splits (-o %d) must be at least 1.\n", s.ntop));
  if (s.nsub < 1) fail(format("The number of best daughter splits (-n %d) must be at least 1.\n", s.nsub));
  return s;
}

namespace {

struct Loaded {
  DataSet d;
  std::vector<int> var_usable;
  int ntop = 0;
  int nsub = 0;
  int ntree = 0;
};

// Reads and summarises the data into the report, screens the covariates and fixes the number
// of trees, which the Part II banner announces.
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
  write_part2_banner(report, l.ntree);
  return l;
}

// Every prediction file must be readable and its ".pre" file writable before the forest grows.
void check_prediction_files(const std::vector<std::string>& pred_files) {
  for (const std::string& name : pred_files) {
    InFile in(open_for_reading(name));
    if (!in) fail(format("Data file %s does not exist!\n", name.c_str()));
    create_empty(name + ".pre", "Cannot over-write to file %s. It seems protected.");
  }
}

// Appends the tree line to the report (which fixes the class of each terminal node), then
// counts and stores the tree.
void record_tree(const std::string& inf_path, const DataSet& d, TreeRecord& t, std::vector<int>& use_count,
                 std::vector<StoredTree>& forest) {
  OutFile report(inf_path, "a");
  report.printf("%d: ", static_cast<int>(forest.size()) + 1);
  write_tree_line(
      report, t, d.y.data(), d.nclass, d.ncat, [&](int v) -> const std::vector<int>& { return d.ori_catg[v]; },
      CutStyle::text);
  count_used_covariates(t, use_count);
  forest.push_back(store_tree(t));
  report.close();
}

std::vector<StoredTree> build_forest(const WrenSettings& s, const Loaded& l, const std::string& inf_path,
                                     std::vector<int>& use_count, const RunClock& clock) {
  std::vector<StoredTree> forest;
  forest.reserve(l.ntree);
  const ForestData f = make_forest_data(l.d, l.var_usable, s.minnode);
  const std::unique_ptr<WorkerPool> pool = make_pool(s.threads);
  const int threads = pool ? pool->threads() : 1;
  std::vector<GrowScratch> scratch;
  for (int k = 0; k < threads; ++k) scratch.push_back(make_grow_scratch(f));
  TreeRecord tree(kNodeCap, l.d.nclass);
  const SplitTables tables = prepare_split_tables(f, l.ntop, l.nsub, tree, scratch[0], pool.get());

  // Trees under different root splits share no greedy split: the groups of trees of one root
  // split grow side by side, and are recorded in tree order.
  const int per_root = l.nsub * l.nsub;
  std::vector<std::vector<TreeRecord>> grown(threads, std::vector<TreeRecord>(per_root, tree));
  for (int first = 0; first < l.ntop; first += threads) {
    const int groups = std::min(threads, l.ntop - first);
    run_tasks(pool.get(), groups, [&](int k, int thread) {
      SplitMemo memo;
      for (int b = 0; b < per_root; ++b)
        grow_forced_tree(f, tables, (first + k) * per_root + b, grown[k][b], scratch[thread], memo);
    });
    for (int k = 0; k < groups; ++k) {
      for (int b = 0; b < per_root; ++b) {
        record_tree(inf_path, l.d, grown[k][b], use_count, forest);
        std::printf("Number of trees completed: %d.\t\tRunning time: %fs\n", static_cast<int>(forest.size()),
                    clock.seconds());
      }
    }
  }
  return forest;
}

}  // namespace

int run_wren(const WrenSettings& s) {
  InFile data(open_for_reading(s.data_file));
  if (!data) fail(format("Data file %s does not exist!\n", s.data_file.c_str()));
  const std::string inf_path = s.data_file + ".inf";
  const std::string count_path = s.data_file + ".count";
  create_empty(count_path);
  OutFile report(inf_path, "w");
  const RunClock clock;

  Loaded l = load_data(s, data.get(), report);
  report.close();
  data.reset();
  check_prediction_files(s.pred_files);
  std::vector<int> use_count(l.d.ncov, 0);
  std::printf("Finish loading.\t\tRunning time:%fs\n", clock.seconds());

  const std::vector<StoredTree> forest = build_forest(s, l, inf_path, use_count, clock);
  write_use_counts(count_path, l.d, use_count);
  // Prediction needs only the summary tables of the training data.
  l.d.codes = {};
  l.d.text = {};
  std::printf("Finish building.\t\tRunning time:%fs\n", clock.seconds());

  for (std::size_t k = 0; k < s.pred_files.size(); ++k) {
    const std::string& name = s.pred_files[k];
    std::fflush(stdout);  // the console shows both streams in the order they were written
    if (predict_file(name, name + ".pre", l.d, forest))
      std::printf("Finish predicting %s.\t\tRunning time:%fs\n", name.c_str(), clock.seconds());
    else
      std::fprintf(stderr, "%d testdata isn't qualified.\n", static_cast<int>(k));
  }
  return 0;
}
