// The tree record's set-up and the empty-node check.
#include "tree.hpp"

#include "fatal.hpp"

namespace forests {

TreeRecord::TreeRecord(int cap, int nclass)
    : capacity(cap),
      split_var(cap, -1),
      left_daughter(cap, 0),
      na_right(cap, 0),
      parent(cap, 0),
      split_value(cap, 0.0),
      begin(cap, 0),
      count(cap, 0),
      split_table(2 * nclass, 0) {}

void TreeRecord::reset(const int* sample_rows, int n) {
  rows.assign(sample_rows, sample_rows + n);
  if (scratch_rows.size() < static_cast<std::size_t>(n)) scratch_rows.resize(n);
  std::fill(split_var.begin(), split_var.end(), -1);
  std::fill(left_daughter.begin(), left_daughter.end(), 0);
  std::fill(split_value.begin(), split_value.end(), 0.0);
  std::fill(na_right.begin(), na_right.end(), 0);
  node_count = 1;
  begin[0] = 0;
  count[0] = n;
}

int node_cases(const TreeRecord& t, int i) {
  const int n = t.count[i];
  if (n == 0) {
    const int p = t.parent[i];
    fail(format("The split using variable %d at a value of %f results in", t.split_var[p] + 1, t.split_value[p]) +
         " an empty node\n");
  }
  return n;
}

}  // namespace forests
