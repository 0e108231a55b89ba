// Output names from a prefix, and the seed line of runs seeded from the clock.
#include "workflow.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <map>

#include "fatal.hpp"
#include "outfile.hpp"
#include "run_clock.hpp"
#include "staged_outputs.hpp"

namespace forests {

namespace {

void check_prefix_folder(const std::string& prefix) {
  const std::size_t slash = prefix.find_last_of('/');
  if (slash + 1 == prefix.size())
    fail(format("The output prefix %s must end with a name, as in results/trial (-out).\n", prefix.c_str()));
  if (slash == std::string::npos) return;
  const std::string folder = slash == 0 ? "/" : prefix.substr(0, slash);
  struct stat st;
  if (stat(folder.c_str(), &st) != 0)
    fail(format("The folder %s of the output prefix %s does not exist (-out).\n", folder.c_str(), prefix.c_str()));
  if (!S_ISDIR(st.st_mode))
    fail(format("%s, in the output prefix %s, is not a folder (-out).\n", folder.c_str(), prefix.c_str()));
}

// With a prefix, files to classify of the same name would share their outputs.
void check_distinct_names(const OutputNames& names, const std::vector<std::string>& pred_files) {
  std::map<std::string, std::string> first_of;
  for (const std::string& f : pred_files) {
    const std::string pre = names.for_file(f, ".pre");
    const auto [at, fresh] = first_of.emplace(pre, f);
    if (!fresh)
      fail(format("The files to classify %s and %s have the same name; with -out both would be written to %s.\n",
                  at->second.c_str(), f.c_str(), pre.c_str()));
  }
}

}  // namespace

OptionSpec out_option(std::string& prefix) {
  return {"-out", ValueType::text, "PREFIX", "name every output PREFIX.inf, PREFIX.NAME.pre...",
          "beside the data files", 0, 0, [&prefix](const OptionValue& v) { prefix = v.text; }};
}

std::vector<OptionSpec> run_options(std::string& out_prefix, int& threads) {
  return {out_option(out_prefix), threads_option(threads)};
}

OutputNames output_names(const std::string& out_prefix, const std::string& data_file,
                         const std::vector<std::string>& pred_files) {
  if (out_prefix.empty() && data_file == kStandardInput)
    fail("Reading the training data from standard input (-t -) needs -out PREFIX to name the outputs.\n");
  if (out_prefix.empty()) return OutputNames{data_file, false};
  check_prefix_folder(out_prefix);
  const OutputNames names{out_prefix, true};
  check_distinct_names(names, pred_files);
  return names;
}

void tell_drawn_seed(bool given, std::uint32_t seed) {
  if (!given) std::printf("Random seed: %u (add -seed %u to repeat this run)\n", seed, seed);
}

std::vector<OptionSpec> forest_options(ForestOptions& f) {
  return {
      {"-save", ValueType::flag, "", "keep the grown forest in PREFIX.forest to classify files later", "", 0, 0,
       [&f](const OptionValue&) { f.save = true; }},
      {"-forest", ValueType::text, "FILE", "classify the -p files with a saved forest; nothing is grown", "none", 0,
       0, [&f](const OptionValue& v) { f.forest_file = v.text; }},
      {"-votes", ValueType::flag, "", "write the vote shares of each case beside each .pre file", "", 0, 0,
       [&f](const OptionValue&) { f.votes = true; }},
  };
}

void add_forest_outputs(std::vector<OutputPath>& outputs, const ForestOptions& f, const OutputNames& names,
                        const std::vector<std::string>& pred_files, bool oob_votes) {
  if (f.save) outputs.emplace_back(names(".forest"));
  if (!f.votes) return;
  if (oob_votes) outputs.emplace_back(names(".oob.votes"));
  for (const std::string& file : pred_files) outputs.emplace_back(names.for_file(file, ".votes"));
}

void write_vote_shares(const std::string& path, const std::vector<int>& class_label, const std::vector<int>& votes) {
  const int nclass = static_cast<int>(class_label.size());
  OutFile out(path, "w");
  out.puts("case");
  for (int label : class_label) out.printf("\t%d", label);
  out.puts("\n");
  const std::size_t ncase = nclass > 0 ? votes.size() / nclass : 0;
  for (std::size_t i = 0; i < ncase; ++i) {
    const int* v = votes.data() + i * nclass;
    long long total = 0;
    for (int c = 0; c < nclass; ++c) total += v[c];
    out.printf("%zu", i + 1);
    for (int c = 0; c < nclass; ++c) {
      if (total == 0)
        out.puts("\tNA");
      else
        out.printf("\t%.6f", static_cast<double>(v[c]) / static_cast<double>(total));
    }
    out.puts("\n");
  }
  out.close();
}

void classify_with_saved_forest(const SavedForestRun& run,
                                const std::function<CaseReader(const DataSet& model)>& reader_for) {
  if (run.forest.save) fail("-save keeps a forest that this run grows; with -forest no forest is grown.\n");
  if (run.pred_files.empty()) fail(format("-forest %s needs at least one -p FILE to classify.\n",
                                          run.forest.forest_file.c_str()));
  // Only the files to classify name outputs here.
  const OutputNames names = output_names(run.out_prefix, "", run.pred_files);
  check_prediction_files(run.pred_files);
  const RunClock clock;
  const SavedForest saved = read_forest_file(run.forest.forest_file, run.program);
  const CaseReader read = reader_for(saved.model);
  std::vector<OutputPath> paths = run_outputs({}, run.pred_files, names);
  add_forest_outputs(paths, run.forest, names, run.pred_files, false);
  StagedOutputs outputs(paths);
  std::printf("Finish loading the forest of %d trees.\t\tRunning time:%fs\n", static_cast<int>(saved.trees.size()),
              clock.seconds());
  predict_files(run.pred_files, names, VotingForest{&saved.trees, saved.model.nclass, &saved.model.class_label},
                read, clock, run.forest.votes);
  outputs.commit();
}

}  // namespace forests
