// The tree kept for prediction, made from a grown tree.
#include "descend.hpp"

#include <algorithm>

namespace forests {

int majority_class(const int* counts, int nclass) {
  int best = 0, best_count = 0;
  for (int k = 0; k < nclass; ++k) {
    if (counts[k] > best_count) {
      best = k;
      best_count = counts[k];
    }
  }
  return best;
}

std::vector<int> terminal_classes(const TreeRecord& t, const int* y, int nclass) {
  std::vector<int> classes(t.node_count, 0);
  std::vector<int> counts(nclass);
  for (int i = 0; i < t.node_count; ++i) {
    if (t.left_daughter[i] != 0) continue;
    std::fill(counts.begin(), counts.end(), 0);
    const int* rows = t.node_rows(i);
    for (int k = 0; k < t.count[i]; ++k) ++counts[y[rows[k]]];
    classes[i] = majority_class(counts.data(), nclass);
  }
  return classes;
}

StoredTree store_tree(const TreeRecord& t, const int* y, int nclass) {
  StoredTree s;
  s.node_count = t.node_count;
  s.split_var.assign(t.split_var.begin(), t.split_var.begin() + t.node_count);
  s.left_daughter.assign(t.left_daughter.begin(), t.left_daughter.begin() + t.node_count);
  s.split_value.assign(t.split_value.begin(), t.split_value.begin() + t.node_count);
  s.node_class = terminal_classes(t, y, nclass);
  s.na_right.assign(t.na_right.begin(), t.na_right.begin() + t.node_count);
  return s;
}

}  // namespace forests
