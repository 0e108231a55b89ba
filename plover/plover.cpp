// plover's command line, file checks and forest loop.
#include "plover.hpp"

#include <cstdio>

#include "forest.hpp"
#include "genotypes.hpp"
#include "options.hpp"
#include "predict_files.hpp"
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
    "Grows a random forest on bootstrap samples of genotype data (every covariate 0, 1, 2 or\n"
    "missing), reports its out-of-bag error rate and a permutation importance for every\n"
    "covariate, and classifies the cases of further files by majority vote.\n";

const char* const kFiles =
    "Writes FILE.inf (data summary and one line per tree), FILE.importance (out-of-bag error\n"
    "rate and the importance of every covariate) and, for each file P given with -p, P.pre\n"
    "(the predicted label of each of its cases). With -out PREFIX the outputs are PREFIX.inf,\n"
    "PREFIX.importance and PREFIX.P.pre instead. -save adds FILE.forest, which a later run\n"
    "classifies with (plover -forest FILE.forest -p NEW.txt); -votes adds P.votes (the vote\n"
    "shares of each case), FILE.oob.votes (the out-of-bag shares) and the out-of-bag\n"
    "confusion table on the screen.\n";

const ProgramHelp kHelp{"plover", kAbout, kFiles};

}  // namespace

PloverSettings parse_plover_args(int argc, const char* const* argv) {
  PloverSettings s;
  const std::vector<OptionSpec> own{
      data_file_option(s.data_file, "sample_SNP.txt"),
      count_option("-n", s.ntree, 1, "number of trees", "1000"),
      candidates_option(s.nsplitvar, s.nsplitvar_given),
      minnode_option(s.minnode, "1"),
      missing_share_option(s.max_missing, "largest share of missing genotypes a covariate may have", "1.0"),
  };
  parse_options(argc, argv,
                option_table({own, prediction_options(s.pred_files), {seed_option(s.seed, s.seed_given)},
                              forest_options(s.forest), run_options(s.out_prefix, s.threads)}),
                kHelp);
  return s;
}

namespace {

const ProgressRule kProgress{10, "\t\t"};

// The bootstrap sample: ncase draws with replacement, in draw order.
void draw_bootstrap(int ncase, std::vector<int>& in_bag, std::vector<int>& sample) {
  std::fill(in_bag.begin(), in_bag.end(), 0);
  for (int k = 0; k < ncase; ++k) {
    const int i = rand_below(ncase);
    in_bag[i] = 1;
    sample[k] = i;
  }
}

struct ForestRun {
  const PloverSettings& s;
  const DataSet& d;
  const GenoStore& g;
  const std::vector<int>& var_usable;
  int nsplitvar;
  std::string inf_path;
};

// Grows the trees on bootstrap samples, writes each into the report and keeps it, and
// tallies the out-of-bag votes and permutation errors.
//
// A tree's importance takes a number of draws known once the tree is grown, so with threads
// its out-of-bag work runs in the background, the shuffles drawn from a copy of the generator
// while the generator jumps past those draws and the next tree grows. One tree's out-of-bag
// work runs at a time; two work lists take turns.
std::vector<StoredTree> grow_forest(const ForestRun& run, OobTally& tally, const RunClock& clock) {
  const DataSet& d = run.d;
  const GenoCovariates store{&run.g, &d.ncat};
  GrowSettings settings;
  settings.search = {d.nclass, run.s.minnode, 1};
  settings.candidates = CandidateRule::draw_redrawing_unusable;
  settings.nsplitvar = run.nsplitvar;
  settings.var_usable = &run.var_usable;

  // Sized at once: the background work reads its tree while the next one is stored.
  std::vector<StoredTree> forest(run.s.ntree);
  TreeOob oob[2];
  const std::unique_ptr<WorkerPool> pool = make_pool(run.s.threads);  // after what its jobs use
  GrowWork work(d.nclass, 4, pool.get());
  TreeRecord tree(1000, d.nclass);
  std::vector<int> in_bag(d.ncase), sample(d.ncase);
  TerminalProgress line(run.s.ntree);
  for (int t = 0; t < run.s.ntree; ++t) {
    draw_bootstrap(d.ncase, in_bag, sample);
    grow_tree(store, d.y.data(), sample.data(), d.ncase, tree, settings, work,
              [](const MadeSplit&) {});
    append_tree_line(
        run.inf_path, t + 1, tree, d, [](int) -> const std::vector<int>& { return geno_label(); },
        [](OutFile& out, const TreeRecord& grown, int i) {
          out.printf("%d", static_cast<int>(grown.split_value[i]));
          write_missing_side(out, grown, i);
        });
    forest[t] = store_tree(tree, d.y.data(), d.nclass);
    const StoredTree& grown = forest[t];
    TreeOob& lists = oob[t % 2];
    list_out_of_bag(grown, in_bag, run.var_usable, lists);
    const long long draws = importance_draws(lists);
    if (pool) pool->wait_background();  // the previous tree's out-of-bag work
    if (pool && draws >= 0) {
      RandomStream random = random_stream();
      skip_random_draws(static_cast<std::uint64_t>(draws));
      pool->post([&, random, t](int) mutable {
        out_of_bag_work(forest[t], run.g, d, tally, oob[t % 2], &random, nullptr);
      });
    } else {
      out_of_bag_work(grown, run.g, d, tally, lists, nullptr, pool.get());
    }
    print_tree_progress(kProgress, run.s.ntree, t + 1, clock.seconds(), &line);
  }
  if (pool) pool->wait_background();
  line.finish();
  return forest;
}

// -forest: the files to classify go through a saved forest; nothing is grown.
void classify_with_saved_genotype_forest(const PloverSettings& s) {
  GenoStore g;
  classify_with_saved_forest({"plover", s.forest, s.pred_files, s.out_prefix}, [&](const DataSet& model) {
    check_genotype_model(model, s.forest.forest_file);
    return genotype_case_reader(model, g);
  });
}

// What -save and -votes add once the forest is grown.
void write_forest_extras(const PloverSettings& s, const OutputNames& output, const DataSet& d, const OobTally& tally,
                         const std::vector<StoredTree>& forest) {
  if (s.forest.save)
    write_forest_file(output(".forest"), "plover", d, [](int) -> const std::vector<int>& { return geno_label(); },
                      forest);
  if (s.forest.votes) {
    write_vote_shares(output(".oob.votes"), d.class_label, tally.oob_votes);
    print_out_of_bag_confusion(tally, d);
  }
}

}  // namespace

int run_plover(const PloverSettings& s) {
  if (!s.forest.forest_file.empty()) {
    classify_with_saved_genotype_forest(s);
    return 0;
  }
  const OutputNames output = output_names(s.out_prefix, s.data_file, s.pred_files);
  const std::uint32_t seed = seed_random_or_clock(s.seed_given, s.seed);
  InFile data = open_data_file(s.data_file);
  check_prediction_files(s.pred_files);
  const std::string inf_path = output(".inf");
  const std::string importance_path = output(".importance");
  std::vector<OutputPath> paths = run_outputs({importance_path, inf_path}, s.pred_files, output);
  add_forest_outputs(paths, s.forest, output, s.pred_files, true);
  StagedOutputs outputs(paths);
  tell_drawn_seed(s.seed_given, seed);

  DataSet d;
  GenoStore g;
  const RunClock clock;
  std::unique_ptr<WorkerPool> loading_pool = make_pool(s.threads);
  {
    OutFile report(inf_path, "w");
    TokenReader in(data.get());
    read_genotype_file(in, report, d, g, loading_pool.get());
    write_tree_lines_banner(report, s.ntree);
    report.close();
    data.reset();
  }

  int nusable = 0;
  const std::vector<int> var_usable = screen_genotypes(g, s.max_missing, nusable, loading_pool.get());
  loading_pool.reset();
  const int nsplitvar = candidates_per_node(s.nsplitvar_given, s.nsplitvar, nusable);
  std::printf("Number of variables used to split each node: %d\n", nsplitvar);

  OobTally tally(d.ncase, d.nclass, d.ncov);
  std::printf("Finish loading.\t\tRunning time:%f\n", clock.seconds());
  const std::vector<StoredTree> forest =
      grow_forest(ForestRun{s, d, g, var_usable, nsplitvar, inf_path}, tally, clock);
  write_importance_file(importance_path, d, tally, s.ntree);
  release_geno(g);
  std::printf("Finish building.\t\tRunning time:%fs\n", clock.seconds());
  write_forest_extras(s, output, d, tally, forest);

  GenoStore to_classify;
  predict_files(s.pred_files, output, VotingForest{&forest, d.nclass, &d.class_label},
                genotype_case_reader(d, to_classify), clock, s.forest.votes);
  outputs.commit();
  return 0;
}

}  // namespace forests
