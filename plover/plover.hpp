// plover: a bootstrap forest on genotype data with out-of-bag error, permutation importance
// and prediction of further files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "parallel.hpp"
#include "workflow.hpp"

namespace forests {

struct PloverSettings {
  std::string data_file = "sample_SNP.txt";
  std::string out_prefix;  // -out; empty: outputs beside the data files
  ForestOptions forest;    // -save, -forest, -votes
  int threads = default_threads();
  std::vector<std::string> pred_files;
  int ntree = 1000;
  double max_missing = 1.0;
  int nsplitvar = 0;
  bool nsplitvar_given = false;
  int minnode = 1;
  bool seed_given = false;
  std::uint32_t seed = 0;
};

PloverSettings parse_plover_args(int argc, const char* const* argv);

// The whole run; returns the exit status.
int run_plover(const PloverSettings& s);

}  // namespace forests
