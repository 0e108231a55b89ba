// Use counts and prediction through the stored trees.
#include <cstdio>

#include "outfile.hpp"
#include "tree_text.hpp"
#include "wren.hpp"

void count_used_covariates(const TreeRecord& t, std::vector<int>& use_count) {
  for (int v = 0; v < t.nnd; ++v)
    if (t.dt[v] > 0) ++use_count[t.spv[v]];
}

void write_use_counts(const std::string& path, const DataSet& d, const std::vector<int>& use_count) {
  int selected = 0;
  for (int c : use_count) selected += c > 0;
  OutFile out(path, "w");
  out.printf("The number of variables selected is %d\n", selected);
  out.puts("index count\n");
  for (int j = 0; j < d.ncov; ++j)
    if (use_count[j] > 0) out.printf("%s %d\n", d.name[j].c_str(), use_count[j]);
  out.close();
}

int predict_case(const std::vector<StoredTree>& forest, const DataSet& d, const PredictionData& p, int i,
                 std::vector<int>& votes) {
  std::fill(votes.begin(), votes.end(), 0);
  for (const StoredTree& tree : forest) {
    const int k = descend(
        tree, d.ncat, d.missing_code, [&](int v) { return p.X[v][i]; },
        [&](int v) -> const std::vector<int>& { return d.ori_catg[v]; });
    ++votes[k];
  }
  return majority_class(votes.data(), d.nclass);
}

bool predict_file(const std::string& path, const std::string& pre_path, const DataSet& d,
                  const std::vector<StoredTree>& forest) {
  std::FILE* file = open_for_reading(path);
  if (!file) fail(format("Data file %s does not exist!\n", path.c_str()));
  PredictionData p;
  bool qualified;
  {
    TokenReader in(file);
    qualified = read_prediction_file(in, d, p);
  }
  std::fclose(file);
  if (!qualified) return false;

  OutFile out(pre_path, "w");
  out.printf("The number of samples for prediction is %d\n", p.ncase);
  std::vector<int> votes(d.nclass);
  for (int i = 0; i < p.ncase; ++i) out.printf("%d\n", d.class_label[predict_case(forest, d, p, i, votes)]);
  out.close();
  return true;
}
