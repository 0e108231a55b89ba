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

// Where only a node's best column counts, a batch whose every column falls short of the best
// one so far may be passed over: every column's result must then be the one weighed alone, or
// no cut where that one's score lies above the node's best, and the node's first best column
// (score, cut and side of the missing cases) must be the same. The columns share the node's
// class totals; copies and mirror images of earlier columns tie exactly.
TEST(OrdinalSplitFewCodeBatch, BatchesThatCannotHoldTheBestColumnMayBePassedOver) {
  std::mt19937 gen(23);
  int passed = 0;
  for (int trial = 0; trial < 300; ++trial) {
    const int n = trial % 10 == 0 ? 2000 + static_cast<int>(gen() % 5000) : 2 + static_cast<int>(gen() % 150);
    const int t1 = static_cast<int>(gen() % (n + 1)), t0 = n - t1;
    const int minnode = static_cast<int>(gen() % 6);
    const int ncolumn = 1 + static_cast<int>(gen() % 120);
    std::vector<std::vector<int>> hists;
    std::vector<int> ncodes, missings;
    for (int j = 0; j < ncolumn; ++j) {
      const int pick = static_cast<int>(gen() % 3);
      int ncode = pick == 1 ? 4 : 3, missing = pick == 0 ? -1 : pick == 1 ? 0 : 4;
      std::vector<int> hist(8, 0);
      if (j > 0 && gen() % 6 == 0) {
        const int earlier = static_cast<int>(gen() % j);  // a copy of an earlier column
        hist = hists[earlier];
        ncode = ncodes[earlier];
        missing = missings[earlier];
        if (gen() % 2) std::swap(hist[2], hist[4]), std::swap(hist[3], hist[5]);
      } else {
        const int lean = static_cast<int>(gen() % 5);  // how much the codes follow the classes
        for (int cls = 0; cls < 2; ++cls)
          for (int k = 0; k < (cls ? t1 : t0); ++k) {
            int code = static_cast<int>(gen() % ncode);
            if (static_cast<int>(gen() % 5) < lean) code = cls ? ncode - 1 : ncode - 2;
            ++hist[2 * code + cls];
          }
      }
      hists.push_back(hist);
      ncodes.push_back(ncode);
      missings.push_back(missing);
    }
    std::vector<OrdinalSplit> got(ncolumn), alone(ncolumn);
    FewCodeBatch batch;
    batch.start(true);
    for (int j0 = 0; j0 < ncolumn; j0 += kFewCodeLanes) {
      batch.size = 0;
      const int size = std::min(kFewCodeLanes, ncolumn - j0);
      for (int k = 0; k < size; ++k) batch.add(hists[j0 + k].data(), ncodes[j0 + k], missings[j0 + k], k);
      OrdinalSplit out[kFewCodeLanes];
      few_code_gini_splits(batch, minnode, out);
      for (int k = 0; k < size; ++k) got[j0 + k] = out[k];
    }
    auto first_best = [](const std::vector<OrdinalSplit>& r) {
      int best = -1;
      double score = 2.0;
      for (int j = 0; j < static_cast<int>(r.size()); ++j)
        if (r[j].score < score) score = r[best = j].score;
      return best;
    };
    for (int j = 0; j < ncolumn; ++j) alone[j] = few_code_gini_split(hists[j].data(), ncodes[j], missings[j], minnode);
    const int best = first_best(alone);
    ASSERT_EQ(first_best(got), best) << "trial " << trial;
    for (int j = 0; j < ncolumn; ++j) {
      const bool same = got[j].score == alone[j].score && got[j].cut_code == alone[j].cut_code &&
                        got[j].na_right == alone[j].na_right;
      if (same) continue;
      ++passed;
      ASSERT_NE(j, best) << "trial " << trial;
      ASSERT_EQ(got[j].cut_code, -1) << "trial " << trial << " column " << j;
      ASSERT_EQ(got[j].score, 2.0) << "trial " << trial << " column " << j;
      ASSERT_GT(alone[j].score, alone[best].score) << "trial " << trial << " column " << j;
    }
  }
  if (cpu_has_wide_vectors()) {
    EXPECT_GT(passed, 1000);
  }
}
