// Use counts, and the class a stored tree gives a case of a file to classify.
#include <cstdio>

#include "outfile.hpp"
#include "tree_text.hpp"
#include "wren.hpp"

namespace forests {

void count_used_covariates(const TreeRecord& t, std::vector<int>& use_count) {
  for (int v = 0; v < t.node_count; ++v)
    if (t.left_daughter[v] > 0) ++use_count[t.split_var[v]];
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

int tree_class(const StoredTree& tree, const DataSet& d, const PredictionData& p, int i) {
  return descend(
      tree, d.ncat, d.missing_code, [&](int v) { return p.X[v][i]; },
      [&](int v) -> const std::vector<int>& { return d.ori_catg[v]; });
}

CaseReader prediction_case_reader(const DataSet& d, PredictionData& p) {
  return [&d, &p](TokenReader& in) -> std::optional<CasesToClassify> {
    if (!read_prediction_file(in, d, p)) return std::nullopt;
    return CasesToClassify{p.ncase, [&d, &p](const StoredTree& t, int i) { return tree_class(t, d, p, i); }};
  };
}

}  // namespace forests
