// wren: a deterministic forest from the best root and daughter splits; use counts and
// prediction of further data files.
#pragma once

#include <string>
#include <vector>

#include "data_set.hpp"
#include "descend.hpp"
#include "parallel.hpp"
#include "prediction_reader.hpp"
#include "tree.hpp"

struct WrenSettings {
  std::string data_file = "bramble.txt";
  std::string out_prefix;  // -out; empty: outputs beside the data files
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

// Majority vote of the forest for case i of the prediction data; ties and no votes go to the
// lowest class.
int predict_case(const std::vector<StoredTree>& forest, const DataSet& d, const PredictionData& p, int i,
                 std::vector<int>& votes);

// Reads a prediction file and writes its ".pre" file; false when the file does not qualify.
bool predict_file(const std::string& path, const std::string& pre_path, const DataSet& d,
                  const std::vector<StoredTree>& forest);
