// What makes a run easy to place, to repeat and to use later: outputs named from a prefix of
// the user's choice, the seed line of runs seeded from the clock, saved forests that classify
// files in a later run, and the vote shares behind each predicted label.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "forest_file.hpp"
#include "options.hpp"
#include "predict_files.hpp"
#include "program_shell.hpp"

namespace forests {

// "-out PREFIX": every output is named from PREFIX instead of the data files.
OptionSpec out_option(std::string& prefix);

// The options that end every program's table: -out and -threads.
std::vector<OptionSpec> run_options(std::string& out_prefix, int& threads);

// The names of a run's outputs: from `out_prefix` when given, else beside `data_file`. A prefix
// must name a file in an existing folder, and the files to classify must then differ in their
// names without folders; otherwise the run stops with a message before any work.
OutputNames output_names(const std::string& out_prefix, const std::string& data_file,
                         const std::vector<std::string>& pred_files);

// The options of saved forests and vote shares.
struct ForestOptions {
  bool save = false;        // -save: the grown forest goes to PREFIX.forest
  std::string forest_file;  // -forest FILE: classify with a saved forest instead of growing one
  bool votes = false;       // -votes: the vote shares beside each .pre file
};
std::vector<OptionSpec> forest_options(ForestOptions& f);

// The outputs these options add to a training run: PREFIX.forest, and a .votes file beside each
// .pre file (and PREFIX.oob.votes when `oob_votes`).
void add_forest_outputs(std::vector<OutputPath>& outputs, const ForestOptions& f, const OutputNames& names,
                        const std::vector<std::string>& pred_files, bool oob_votes);

// A vote-share table: the header "case" and the class labels, then for each case its number
// (from 1) and the share of its votes that each class got, with six decimals; "NA" for a case
// without votes. votes[i * nclass + c]: the votes of case i for class c.
void write_vote_shares(const std::string& path, const std::vector<int>& class_label, const std::vector<int>& votes);

// A run with -forest: reads the saved forest of `program` (a damaged or foreign file stops the
// run before any output), then classifies the files to classify into the .pre (and .votes)
// files that the training run would have written. reader_for(model) gives the program's reader
// of files to classify against the saved training covariates; it may refuse the model.
struct SavedForestRun {
  std::string program;
  const ForestOptions& forest;
  const std::vector<std::string>& pred_files;
  std::string out_prefix;
};
void classify_with_saved_forest(const SavedForestRun& run,
                                const std::function<CaseReader(const DataSet& model)>& reader_for);

// A seed drawn from the clock (none given) is told on standard output, with how to repeat the
// run: the first line of a run that got past its input checks.
void tell_drawn_seed(bool given, std::uint32_t seed);

}  // namespace forests
