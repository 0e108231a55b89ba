// A tree kept for prediction with the classes of its terminal nodes, and the descent of a
// case to its terminal node.
#pragma once

#include <vector>

#include "tree.hpp"

namespace forests {

struct StoredTree {
  int node_count = 0;
  std::vector<int> split_var, left_daughter;
  std::vector<double> split_value;
  std::vector<int> node_class, na_right;
};

// Index of the largest count; ties go to the lowest class, no counts to class 0.
int majority_class(const int* counts, int nclass);

// The class of each node of a grown tree: the majority class of a terminal node's cases
// (y[row] is the class of a data row), 0 for the other nodes.
std::vector<int> terminal_classes(const TreeRecord& t, const int* y, int nclass);

// The tree as prediction keeps it: its node fields and the classes of its terminal nodes.
StoredTree store_tree(const TreeRecord& t, const int* y, int nclass);

// Sends a case from the root to a terminal node and returns that node. value_of(v) is the
// case's value of covariate v (a double, or a genotype code); `missing` is the missing value of
// ordinal covariates; category_codes(v) are the data-file codes of v's categories. For a case
// with one covariate substituted, pass a value_of that reads it elsewhere.
template <class ValueOf, class CategoryCodes>
int descend_node(const StoredTree& t, const std::vector<int>& ncat, double missing, ValueOf&& value_of,
                 CategoryCodes&& category_codes) {
  int a = 0;
  while (t.left_daughter[a] != 0) {
    const int v = t.split_var[a];
    const double x = value_of(v);
    bool right = false;
    if (ncat[v] < 2) {
      right = x == missing ? t.na_right[a] == 1 : x > t.split_value[a];
    } else {
      const std::vector<int>& codes = category_codes(v);
      const int own = codes[static_cast<int>(x)];
      for (long long code = static_cast<long long>(t.split_value[a]); code != 0 && !right; code /= 10)
        right = codes[code % 10 - 1] == own;
    }
    a = right ? t.left_daughter[a] + 1 : t.left_daughter[a];
  }
  return a;
}

// The class of the terminal node the case reaches.
template <class ValueOf, class CategoryCodes>
int descend(const StoredTree& t, const std::vector<int>& ncat, double missing, ValueOf&& value_of,
            CategoryCodes&& category_codes) {
  return t.node_class[descend_node(t, ncat, missing, value_of, category_codes)];
}

}  // namespace forests
