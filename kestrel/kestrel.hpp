// kestrel: covariate importance by maximal chi-square, with permutation p-values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data_set.hpp"
#include "parallel.hpp"

namespace forests {

struct KestrelSettings {
  std::string data_file = "sample.txt";
  std::string out_prefix;  // -out; empty: outputs beside the data files
  int ntree = 1000;
  double max_missing = 0.05;
  double fdr_level = 0.75;  // accepted and kept; no output depends on it
  int nsplitvar = 0;
  bool nsplitvar_given = false;
  int nperm = 10;
  int minnode = 5;
  int impurity_rule = 0;
  int threads = default_threads();
  bool seed_given = false;
  std::uint32_t seed = 0;
};

KestrelSettings parse_kestrel_args(int argc, const char* const* argv);

// The whole run; returns the exit status.
int run_kestrel(const KestrelSettings& s);

// The statistic of one split: Pearson's chi-square of the daughter-by-class table with a
// continuity correction of 0.5 when any cell is below 5. Table layout as the split table.
double split_chisq(const std::vector<int>& table, int nclass, int n);

// Results of the passes, as the importance file needs them.
struct PassResults {
  std::vector<double> mcc_obs;          // MCC importance of the unpermuted pass
  std::vector<double> perm_max;         // largest importance of each permuted pass
  std::vector<std::vector<int>> where;  // per covariate: tree and node of its maximum, or -1 -1
  std::vector<std::vector<int>> trace_spv, trace_parent;  // per tree of the unpermuted pass
};

void append_pass0_importance(const std::string& path, const DataSet& d, const std::vector<int>& var_usable,
                             const std::vector<double>& mcc_obs);
void append_permuted_max(const std::string& path, int q, double max);
void write_final_importance(const std::string& path, const DataSet& d, const std::vector<int>& var_usable,
                            const PassResults& r, int nperm);

// The LCC list of a covariate whose maximum was reached at node `node` of a tree.
std::string lcc_list(const DataSet& d, const std::vector<int>& split_var, const std::vector<int>& parent, int node);

}  // namespace forests
