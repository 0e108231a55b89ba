// The tree line of a grown tree in the report.
#pragma once

#include <vector>

#include "outfile.hpp"
#include "tree.hpp"

namespace forests {

// The mark after an ordinal cut-off whose missing values go right ("|NA"), and the space.
void write_missing_side(OutFile& out, const TreeRecord& t, int i);

// Writes one category set: the codes of the listed categories, last digit first.
void write_category_set(OutFile& out, double code, const std::vector<int>& category_codes);

// Appends the node entries of the tree and the line end; a terminal node lists the count of
// each class among its cases.
// category_codes(v) gives the data-file codes of covariate v's categories; write_cut(out, t, i)
// writes the ordinal cut-off of node i and the space after it, as the program spells cut-offs.
template <class CategoryCodes, class WriteCut>
void write_tree_line(OutFile& out, const TreeRecord& t, const int* y, int nclass, const std::vector<int>& ncat,
                     CategoryCodes&& category_codes, WriteCut&& write_cut) {
  std::vector<int> counts(nclass);
  for (int i = 0; i < t.node_count; ++i) {
    if (t.left_daughter[i] != 0) {
      const int c = t.split_var[i];
      out.put_ints({i + 1, t.left_daughter[i] + 1, c + 1});
      if (ncat[c] > 1) {
        out.write("{", 1);
        write_category_set(out, t.split_value[i], category_codes(c));
        out.write("} ", 2);
      } else {
        write_cut(out, t, i);
      }
      continue;
    }
    std::fill(counts.begin(), counts.end(), 0);
    const int* rows = t.node_rows(i);
    int n = t.count[i];
    for (int k = 0; k < n; ++k) ++counts[y[rows[k]]];
    if (n == 0) continue;
    out.put_ints({i + 1, 0});
    for (int k = 0; k < nclass; ++k) out.put_ints({counts[k]});
  }
  out.puts("\n");
}

}  // namespace forests
