// The tree record: the per-node arrays of one grown tree, the cases each node holds, and the
// partition of a node's cases between its daughters.
//
// A tree is a set of parallel per-node arrays; node 0 is the root and the daughters of a split
// node i are left_daughter[i] (left) and left_daughter[i] + 1 (right), appended at the end. The cases of the sample
// are kept in one array `rows` (their data rows) in which every node owns a contiguous slice,
// in sample order; a split divides the slice with a stable partition.
#pragma once

#include <algorithm>
#include <vector>

namespace forests {

struct TreeRecord {
  int capacity = 0;
  int node_count = 1;
  std::vector<int> split_var, left_daughter, na_right, parent;
  std::vector<double> split_value;
  std::vector<int> begin, count;  // each node's slice of `rows`
  std::vector<int> rows;          // data row of every sample case
  std::vector<int> split_table;   // 2*nclass counts of the last split
  std::vector<int> scratch_rows;

  TreeRecord(int capacity, int nclass);

  // Every case in the root, every node slot cleared (left_daughter 0, split_var -1, split_value 0.0, na_right 0).
  void reset(const int* sample_rows, int n);

  const int* node_rows(int i) const { return rows.data() + begin[i]; }
};

// The node's cases: their data rows and number. A node without cases stops the run with the
// empty-node message naming its parent's split.
int node_cases(const TreeRecord& t, int i);

// Partitions node i's cases to new daughters node_count (left) and node_count+1 (right) by goes_right(row),
// fills the split table (class c: right count at 2(nclass-1-c), left count next to it) and
// appends the daughters.
template <class GoesRight>
void partition_node(TreeRecord& t, int i, const int* y, int nclass, GoesRight&& goes_right) {
  std::fill(t.split_table.begin(), t.split_table.end(), 0);
  int* slice = t.rows.data() + t.begin[i];
  const int n = t.count[i];
  int nleft = 0, nright = 0;
  int* right_rows = t.scratch_rows.data();
  int* table = t.split_table.data();
  // Without a branch: which side a case takes is as good as random. The row is written to
  // both sides, and only the side it takes moves on (the left never overtakes the reading).
  for (int k = 0; k < n; ++k) {
    const int row = slice[k];
    const int right = goes_right(row) ? 1 : 0;
    right_rows[nright] = row;
    slice[nleft] = row;
    nright += right;
    nleft += 1 - right;
    ++table[2 * (nclass - 1 - y[row]) + 1 - right];
  }
  std::copy(t.scratch_rows.begin(), t.scratch_rows.begin() + nright, slice + nleft);
  const int left = t.node_count;
  t.begin[left] = t.begin[i];
  t.count[left] = nleft;
  t.begin[left + 1] = t.begin[i] + nleft;
  t.count[left + 1] = nright;
  t.parent[left] = t.parent[left + 1] = i;
  t.left_daughter[i] = left;
  t.node_count += 2;
}

}  // namespace forests
