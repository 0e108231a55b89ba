// The tree kept for prediction, made from a grown tree.
#include "descend.hpp"

#include <algorithm>

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
  std::vector<int> classes(t.nnd, 0);
  std::vector<int> counts(nclass);
  for (int i = 0; i < t.nnd; ++i) {
    if (t.dt[i] != 0) continue;
    std::fill(counts.begin(), counts.end(), 0);
    const int* rows = t.node_rows(i);
    for (int k = 0; k < t.count[i]; ++k) ++counts[y[rows[k]]];
    classes[i] = majority_class(counts.data(), nclass);
  }
  return classes;
}

StoredTree store_tree(const TreeRecord& t, const int* y, int nclass) {
  StoredTree s;
  s.nnd = t.nnd;
  s.spv.assign(t.spv.begin(), t.spv.begin() + t.nnd);
  s.dt.assign(t.dt.begin(), t.dt.begin() + t.nnd);
  s.spvl.assign(t.spvl.begin(), t.spvl.begin() + t.nnd);
  s.nodeclass = terminal_classes(t, y, nclass);
  s.na_right.assign(t.na_right.begin(), t.na_right.begin() + t.nnd);
  return s;
}
