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

// A batch weighs its columns in vector lanes, all at once and without a branch per cut: every
// column's split must be the one weighed alone, score to the last bit, for any codes, missing
// code (none, one of the codes, or past them), minnode and batch size. Ties are frequent in the
// small counts; one batch in eight has counts of large nodes.
TEST(OrdinalSplitFewCodeBatch, SameSplitsAsOneColumnAtATime) {
  std::mt19937 gen(17);
  int admissible = 0, tied = 0;
  for (int trial = 0; trial < 4000; ++trial) {
    FewCodeBatch batch;
    const int size = 1 + static_cast<int>(gen() % kFewCodeLanes);
    const int minnode = static_cast<int>(gen() % 6);
    const int most = trial % 8 == 0 ? 1500 : trial % 8 == 1 ? 60000 : 6;
    std::vector<std::vector<int>> hists;
    std::vector<int> ncodes, missings;
    for (int k = 0; k < size; ++k) {
      const int ncode = 1 + static_cast<int>(gen() % 4);
      const int pick = static_cast<int>(gen() % 4);
      const int missing = pick == 0 ? -1 : pick == 1 ? static_cast<int>(gen() % 5) : static_cast<int>(gen() % ncode);
      if (!has_few_values(ncode, missing)) {
        --k;
        continue;
      }
      std::vector<int> hist(8, 0);
      for (int c = 0; c < 2 * ncode; ++c) hist[c] = gen() % 3 == 0 ? 0 : static_cast<int>(gen() % (most + 1));
      if (gen() % 4 == 0) std::copy(hist.begin(), hist.begin() + 2, hist.begin() + 2);  // codes alike
      batch.add(hist.data(), ncode, missing, k);
      hists.push_back(hist);
      ncodes.push_back(ncode);
      missings.push_back(missing);
    }
    OrdinalSplit out[kFewCodeLanes];
    few_code_gini_splits(batch, minnode, out);
    for (int k = 0; k < size; ++k) {
      const OrdinalSplit one = few_code_gini_split(hists[k].data(), ncodes[k], missings[k], minnode);
      ASSERT_EQ(out[k].score, one.score) << "trial " << trial << " column " << k;
      ASSERT_EQ(out[k].cut_code, one.cut_code) << "trial " << trial << " column " << k;
      ASSERT_EQ(out[k].na_right, one.na_right) << "trial " << trial << " column " << k;
      admissible += one.cut_code >= 0;
      tied += one.cut_code >= 0 && hists[k][0] == hists[k][2] && hists[k][1] == hists[k][3];
    }
  }
  EXPECT_GT(admissible, 5000);
  EXPECT_GT(tied, 300);
}
