#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "split_search.hpp"
#include "split_search_reference.hpp"

using namespace forests;

namespace {

struct Codes {
  std::vector<int> code;
  int operator()(int row) const { return code[row]; }
};

}  // namespace

// Columns of at most three values and missing at two-class nodes under the Gini index: the weighing of a few
// cuts by cross-multiplication must give the reference sweep's split and score to the last
// bit. Small nodes tie often; mirrored and class-swapped counts tie exactly, and rounding then
// decides which cut is lower.
TEST(FewCodeSplit, SameSplitAsTheReferenceSweep) {
  std::mt19937 gen(31);
  for (int trial = 0; trial < 6000; ++trial) {
    int ncode = 1 + static_cast<int>(gen() % (kFewValues + 1));
    const int missing = gen() % 2 ? static_cast<int>(gen() % ncode) : -1;
    if (missing < 0) ncode = std::min(ncode, kFewValues);
    const int n = trial % 5 == 0 ? 1 + static_cast<int>(gen() % 3000) : 1 + static_cast<int>(gen() % 40);
    Codes col;
    std::vector<int> y(n), rows(n);
    const int shape = trial % 4;
    for (int i = 0; i < n; ++i) {
      rows[i] = i;
      const int c = static_cast<int>(gen() % ncode);
      col.code.push_back(c);
      if (shape == 1) {
        y[i] = (std::min(c, ncode - 1 - c) + i) % 2;  // mirrored codes hold like classes
      } else if (shape == 2) {
        y[i] = (c + i / 2) % 2;  // codes alternate their majority class
      } else {
        y[i] = static_cast<int>(gen() % 2);
      }
    }
    const SearchSettings s{2, static_cast<int>(gen() % 8), 0};
    SplitScratch w;
    w.prepare(2, ncode);
    std::fill(w.hist.begin(), w.hist.end(), 77);  // counts past the column's codes are not its own
    count_codes(col, ncode, rows.data(), n, y.data(), 2, w);
    const OrdinalSplit fast = few_code_gini_split(w.hist.data(), ncode, missing, s.minnode);
    const OrdinalSplit ref = ordinal_split_reference(col, missing, rows.data(), n, y.data(), s);
    ASSERT_EQ(fast.score, ref.score) << "trial " << trial;
    ASSERT_EQ(fast.cut_code, ref.cut_code) << "trial " << trial;
    ASSERT_EQ(fast.na_right, ref.na_right) << "trial " << trial;
  }
}
