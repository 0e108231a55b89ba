// The reference form of the ordinal split search, which the tests hold the fast form to.
#pragma once

#include <algorithm>
#include <utility>
#include <vector>

#include "split_search.hpp"

namespace forests {

// The reference form of the ordinal search, step by step as the rule reads: sort the node's
// (code, class) pairs, then try every cut between distinct non-missing values, missing values
// to the left and then to the right. Tests compare the fast form with it.
template <class Col>
OrdinalSplit ordinal_split_reference(const Col& col, int missing, const int* rows, int n, const int* y,
                                     const SearchSettings& s) {
  std::vector<std::pair<int, int>> pairs;
  for (int k = 0; k < n; ++k) pairs.emplace_back(col(rows[k]), y[rows[k]]);
  std::sort(pairs.begin(), pairs.end());
  const int nclass = s.nclass;
  std::vector<int> total(nclass), miss(nclass);
  int m = 0;
  for (auto [code, c] : pairs) {
    ++total[c];
    if (code == missing) ++miss[c], ++m;
  }
  OrdinalSplit best{static_cast<double>(nclass), -1, 0};
  for (int na_right = 0; na_right <= (m > 0 ? 1 : 0); ++na_right) {
    std::vector<int> left(nclass), right = total;
    int nL = 0;
    if (m > 0 && na_right == 0) {
      left = miss;
      for (int c = 0; c < nclass; ++c) right[c] -= miss[c];
      nL = m;
    }
    std::vector<std::pair<int, int>> observed;
    for (auto pc : pairs)
      if (pc.first != missing) observed.push_back(pc);
    for (std::size_t k = 0; k + 1 < observed.size(); ++k) {
      ++left[observed[k].second];
      --right[observed[k].second];
      ++nL;
      if (observed[k + 1].first == observed[k].first) continue;  // a cut lies between distinct values
      const int nR = n - nL;
      if (nL < s.minnode || nR < s.minnode) continue;
      const double imp = split_impurity(left.data(), nL, right.data(), nR, n, nclass, s.impurity_rule);
      if (imp < best.score) best = {imp, observed[k].first, na_right};
    }
  }
  return best;
}

}  // namespace forests
