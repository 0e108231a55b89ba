// Classifying the files named with -p by the vote of a forest: each file is read by the
// program's own reader, every tree votes for each of its cases, and the majority goes to the
// file's ".pre" file; a file that does not qualify is said to be so and skipped.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "descend.hpp"
#include "program_shell.hpp"
#include "run_clock.hpp"
#include "tokens.hpp"

namespace forests {

// A file to classify once read: its number of cases and the class a tree gives one of them.
// tree_class reads the program's store of the file, which stays as it is until the next read.
struct CasesToClassify {
  int ncase = 0;
  std::function<int(const StoredTree& tree, int i)> tree_class;
};

// A program's reader of files to classify: nothing when the file does not qualify.
using CaseReader = std::function<std::optional<CasesToClassify>(TokenReader& in)>;

// The forest and what its votes mean.
struct VotingForest {
  const std::vector<StoredTree>* trees;
  int nclass = 0;
  const std::vector<int>* class_label;  // the response label of each class
};

// The votes of the forest for every case: votes[i * nclass + c] trees give case i class c.
std::vector<int> forest_votes(const VotingForest& forest, const CasesToClassify& cases);

// The ".pre" file: the number of cases, then the label of each case's majority class.
void write_predicted_labels(const std::string& path, const VotingForest& forest, const std::vector<int>& votes);

// Classifies each file in order ("Finish predicting" on standard output after each); a file
// that does not qualify gets "N testdata isn't qualified." on standard error, N counting the
// files from 0, and its ".pre" file is left as it is. With `vote_shares` the shares of the
// votes go to a ".votes" file beside each ".pre" file.
void predict_files(const std::vector<std::string>& files, const OutputNames& output, const VotingForest& forest,
                   const CaseReader& read, const RunClock& clock, bool vote_shares = false);

}  // namespace forests
