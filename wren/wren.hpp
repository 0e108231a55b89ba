// wren: a deterministic forest from the best root and daughter splits; use counts and
// prediction of further data files.
#pragma once

#include <string>
#include <vector>

#include "data_set.hpp"
#include "descend.hpp"
#include "parallel.hpp"
#include "workflow.hpp"
#include "predict_files.hpp"
#include "prediction_reader.hpp"
#include "tree.hpp"

namespace forests {

struct WrenSettings {
  std::string data_file = "bramble.txt";
  std::string out_prefix;  // -out; empty: outputs beside the data files
  ForestOptions forest;    // -save, -forest, -votes
  std::vector<std::string> pred_files;
  int ntop = 20;
  int nsub = 3;
  double max_missing = 1.0;
  int minnode = 1;
  int threads = default_threads();
};

// Reads the option/value pairs; "-o" or "-n" below 1 stops before anything is written.
WrenSettings parse_wren_args(int argc, const char* const* argv);

// The whole run; returns the exit status.
int run_wren(const WrenSettings& s);

// Adds the split covariate of every internal node of the tree to use_count.
void count_used_covariates(const TreeRecord& t, std::vector<int>& use_count);

// The ".count" file: the covariates used at least once, in covariate order.
void write_use_counts(const std::string& path, const DataSet& d, const std::vector<int>& use_count);

// The class a tree gives case i of a file to classify.
int tree_class(const StoredTree& tree, const DataSet& d, const PredictionData& p, int i);

// Reads files to classify into `p` for the forest grown on `d`.
CaseReader prediction_case_reader(const DataSet& d, PredictionData& p);

}  // namespace forests
