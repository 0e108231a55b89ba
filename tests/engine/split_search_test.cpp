#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "coded_covariates.hpp"
#include "key_sort.hpp"
#include "split_search.hpp"
#include "split_search_reference.hpp"

using namespace forests;

namespace {

struct Node {
  std::vector<int> code, y, rows;
  Node(std::vector<int> c, std::vector<int> cls) : code(std::move(c)), y(std::move(cls)) {
    for (std::size_t i = 0; i < code.size(); ++i) rows.push_back(static_cast<int>(i));
  }
  int operator()(int row) const { return code[row]; }
  int n() const { return static_cast<int>(rows.size()); }
};

SplitScratch scratch(int nclass, int ncode) {
  SplitScratch w;
  w.prepare(nclass, ncode);
  return w;
}

// The fast ordinal search of a node against the step-by-step reference.
::testing::AssertionResult cut_as_reference(const Node& node, int ncode, int missing, const SearchSettings& s) {
  auto w = scratch(s.nclass, ncode);
  const OrdinalSplit fast = ordinal_split(node, ncode, missing, node.rows.data(), node.n(), node.y.data(), s, w);
  const OrdinalSplit ref = ordinal_split_reference(node, missing, node.rows.data(), node.n(), node.y.data(), s);
  if (fast.score == ref.score && fast.cut_code == ref.cut_code && fast.na_right == ref.na_right)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "fast " << fast.score << " at " << fast.cut_code << "/" << fast.na_right
                                       << ", reference " << ref.score << " at " << ref.cut_code << "/" << ref.na_right;
}

}  // namespace

TEST(Impurity, WorkedValues) {
  int l[2] = {3, 0}, r[2] = {0, 2};
  EXPECT_EQ(split_impurity(l, 3, r, 2, 5, 2, 1), 0.0);
  EXPECT_EQ(split_impurity(l, 3, r, 2, 5, 2, 0), 0.0);
  int a[2] = {1, 1};
  EXPECT_NEAR(split_impurity(a, 2, a, 2, 4, 2, 1), 0.693147, 1e-6);
  EXPECT_DOUBLE_EQ(split_impurity(a, 2, a, 2, 4, 2, 0), 0.5);
  int c[3] = {4, 0, 2};
  EXPECT_NEAR(node_impurity(c, 6, 3, 1), 0.636514, 1e-6);
  EXPECT_NEAR(node_impurity(c, 6, 3, 0), 1.0 - (16.0 + 4.0) / 36.0, 1e-12);
}

TEST(OrdinalSplit, CutOffsAreObservedValuesBelowTheLargest) {
  // Codes 0,1,1,2,2 stand for values 1,2,2,3,3. Classes make cut 1 the best, cut 2 second.
  Node node({0, 1, 1, 2, 2}, {0, 1, 1, 1, 1});
  SearchSettings s{2, 1, 0};
  auto w = scratch(2, 8);
  OrdinalSplit r = ordinal_split(node, 3, -1, node.rows.data(), node.n(), node.y.data(), s, w);
  EXPECT_EQ(r.cut_code, 0);
  EXPECT_EQ(r.score, 0.0);
  s.minnode = 2;  // cut 1 leaves one case on the left
  r = ordinal_split(node, 3, -1, node.rows.data(), node.n(), node.y.data(), s, w);
  EXPECT_EQ(r.cut_code, 1);

  Node flat({4, 4, 4}, {0, 1, 0});
  r = ordinal_split(flat, 5, -1, flat.rows.data(), flat.n(), flat.y.data(), s, w);
  EXPECT_EQ(r.score, 2.0);
  // Only missing values plus one value: no admissible split.
  Node miss({0, 0, 3, 3}, {0, 1, 0, 1});
  r = ordinal_split(miss, 4, 0, miss.rows.data(), miss.n(), miss.y.data(), SearchSettings{2, 1, 0}, w);
  EXPECT_EQ(r.score, 2.0);
}

TEST(OrdinalSplit, MissingValuesGoTheBetterWay) {
  // Missing code 0 (lowest) or 3 (highest, as genotypes) gives the same search.
  Node node({0, 1, 2, 0, 1, 2, 1}, {0, 0, 1, 1, 0, 1, 1});
  Node geno({3, 0, 1, 3, 0, 1, 0}, {0, 0, 1, 1, 0, 1, 1});
  auto w = scratch(2, 4);
  for (int rule : {0, 1}) {
    OrdinalSplit r = ordinal_split(node, 3, 0, node.rows.data(), node.n(), node.y.data(), SearchSettings{2, 1, rule}, w);
    OrdinalSplit g = ordinal_split(geno, 4, 3, geno.rows.data(), geno.n(), geno.y.data(), SearchSettings{2, 1, rule}, w);
    EXPECT_EQ(g.na_right, r.na_right);
    EXPECT_EQ(g.score, r.score);
    EXPECT_EQ(g.cut_code + 1, r.cut_code);
  }
  // Missing cases that belong with the high values go right.
  Node right({0, 0, 1, 1, 2, 2}, {1, 1, 0, 0, 1, 1});
  OrdinalSplit r = ordinal_split(right, 3, 0, right.rows.data(), right.n(), right.y.data(), SearchSettings{2, 1, 1}, w);
  EXPECT_EQ(r.na_right, 1);
  EXPECT_EQ(r.cut_code, 1);
  EXPECT_EQ(r.score, 0.0);
  // ...and with the low ones, left.
  Node left({0, 0, 1, 1, 2, 2}, {0, 0, 0, 0, 1, 1});
  r = ordinal_split(left, 3, 0, left.rows.data(), left.n(), left.y.data(), SearchSettings{2, 1, 1}, w);
  EXPECT_EQ(r.na_right, 0);
  EXPECT_EQ(r.cut_code, 1);
}

TEST(OrdinalSplit, FastFormsAgreeWithTheReferenceOnRandomNodes) {
  std::mt19937 gen(7);
  for (int trial = 0; trial < 800; ++trial) {
    // Half the nodes small against their codes (sorting paths), half large (counting).
    const bool many_codes = trial % 2;
    const int n = 1 + gen() % (many_codes ? 400 : 60);
    const int ncode = 1 + gen() % (many_codes ? 5000 : 80), nclass = 2 + gen() % 4;
    const int missing = (gen() % 3 == 0) ? static_cast<int>(gen() % ncode) : -1;
    std::vector<int> code(n), y(n);
    for (int i = 0; i < n; ++i) {
      code[i] = gen() % ncode;
      y[i] = gen() % nclass;
    }
    Node node(code, y);
    SearchSettings s{nclass, static_cast<int>(gen() % 4), static_cast<int>(gen() % 2)};
    auto w = scratch(nclass, ncode);
    OrdinalSplit fast = ordinal_split(node, ncode, missing, node.rows.data(), n, y.data(), s, w);
    OrdinalSplit ref = ordinal_split_reference(node, missing, node.rows.data(), n, y.data(), s);
    ASSERT_EQ(fast.score, ref.score);
    ASSERT_EQ(fast.cut_code, ref.cut_code);
    ASSERT_EQ(fast.na_right, ref.na_right);
  }
}

TEST(NominalSplit, GrayOrderAndCodes) {
  std::vector<int> present = {0, 1, 2};
  std::vector<char> right(3);
  EXPECT_EQ(encode_category_set(present, 1, right), 1);
  EXPECT_EQ(encode_category_set(present, 2, right), 12);
  EXPECT_EQ(encode_category_set(present, 3, right), 2);
  std::vector<char> wide(7);
  EXPECT_EQ(encode_category_set({1, 4, 6}, 2, wide), 25);
  EXPECT_EQ(wide, (std::vector<char>{0, 1, 0, 0, 1, 0, 0}));
}

TEST(NominalSplit, FirstSubsetInGrayOrderWinsAndMissingAgainstAllIsSkipped) {
  auto w = scratch(2, 4);
  SearchSettings s{2, 1, 0};
  Node one({2, 2, 2}, {0, 1, 0});
  EXPECT_EQ(nominal_split(one, 4, -1, one.rows.data(), 3, one.y.data(), s, w).score, 2.0);

  Node two({0, 1, 0, 1}, {0, 1, 0, 1});
  NominalSplit r = nominal_split(two, 2, -1, two.rows.data(), 4, two.y.data(), s, w);
  EXPECT_EQ(r.step, 1);
  EXPECT_EQ(r.score, 0.0);
  // The higher of the two is the missing category: nothing to split.
  EXPECT_EQ(nominal_split(two, 2, 1, two.rows.data(), 4, two.y.data(), s, w).score, 2.0);

  // Categories 0 and 1 separate the classes equally well against 2 ({0} and {0,1} tie? no:
  // {0,1} right is perfect): the perfect subset {0,1} is step 2.
  Node three({0, 1, 2, 0, 1, 2}, {1, 1, 0, 1, 1, 0});
  r = nominal_split(three, 3, -1, three.rows.data(), 6, three.y.data(), s, w);
  EXPECT_EQ(r.step, 2);
  // With minnode 3 the subsets that leave fewer than 3 cases on a side are passed over.
  s.minnode = 5;
  EXPECT_EQ(nominal_split(three, 3, -1, three.rows.data(), 6, three.y.data(), s, w).score, 2.0);
}

namespace {

// The nominal sweep step by step: each Gray-code step's sides counted afresh from its bits.
NominalSplit nominal_split_reference(const std::vector<int>& hist, int ncode, int missing, int nclass,
                                     const SearchSettings& s) {
  std::vector<int> present;
  for (int c = 0; c < ncode; ++c) {
    int size = 0;
    for (int k = 0; k < nclass; ++k) size += hist[c * nclass + k];
    if (size > 0) present.push_back(c);
  }
  NominalSplit best{static_cast<double>(nclass), 1};
  const int P = static_cast<int>(present.size());
  if (P <= 1) return best;
  for (int step = 1; step < (1 << (P - 1)); ++step) {
    int bits[32] = {0};
    gray_bits(step, bits, P - 1);
    std::vector<int> left(nclass), right(nclass);
    int nL = 0, nR = 0, nright_observed = 0;
    for (int p = 0; p < P; ++p) {
      std::vector<int>& side = bits[p] ? right : left;
      for (int k = 0; k < nclass; ++k) side[k] += hist[present[p] * nclass + k];
      for (int k = 0; k < nclass; ++k) (bits[p] ? nR : nL) += hist[present[p] * nclass + k];
      nright_observed += bits[p];
    }
    if (present[P - 1] == missing && nright_observed == P - 1) continue;
    if (nL < s.minnode || nR < s.minnode) continue;
    const double imp = split_impurity(left.data(), nL, right.data(), nR, nL + nR, nclass, s.impurity_rule);
    if (imp < best.score) best = {imp, step};
  }
  return best;
}

}  // namespace

// The sweeps compute only the splits a cheap estimate cannot rule out; they must still find the
// very split of the full sweep, also among exact ties that rounding tells apart.
TEST(ScreenedSweeps, FindTheFullSweepsSplitOnLargeAndTiedNodes) {
  std::mt19937 gen(11);
  for (int trial = 0; trial < 600; ++trial) {
    const int nclass = trial % 3 ? 2 : 3 + static_cast<int>(gen() % 3);
    const bool mirrored = trial % 2;
    int n = 20 + gen() % 3000;
    int ncode = 2 + gen() % (trial % 3 == 0 ? 12 : n);
    int missing = gen() % 2 ? static_cast<int>(gen() % ncode) : -1;
    if (mirrored) {
      // Code c and code ncode-1-c hold the same classes: a cut and its mirror tie exactly, and
      // rounding decides which is lower.
      ncode = 2 + gen() % 400;
      n = ncode * (1 + static_cast<int>(gen() % 8));
      missing = -1;
    }
    const int period = 1 + gen() % 7;
    std::vector<int> code(n), y(n);
    for (int i = 0; i < n; ++i) {
      code[i] = mirrored ? i % ncode : static_cast<int>(gen() % ncode);
      const int fold = std::min(code[i], ncode - 1 - code[i]);
      y[i] = mirrored ? (fold / period + i / ncode + fold * (i / ncode)) % nclass : static_cast<int>(gen() % nclass);
    }
    Node node(code, y);
    const SearchSettings s{nclass, static_cast<int>(gen() % 6), (trial / 2) % 2};  // entropy, Gini
    ASSERT_TRUE(cut_as_reference(node, ncode, missing, s)) << "trial " << trial;

    const int ncat = 2 + gen() % 9;
    std::vector<int> cat(n);
    for (int i = 0; i < n; ++i) cat[i] = trial % 2 ? i % ncat : static_cast<int>(gen() % ncat);
    Node categories(cat, y);
    auto wc = scratch(nclass, ncat);
    const int cat_missing = gen() % 2 ? ncat - 1 : -1;
    const NominalSplit nominal = nominal_split(categories, ncat, cat_missing, categories.rows.data(), n, y.data(), s, wc);
    const NominalSplit nominal_ref = nominal_split_reference(wc.hist, ncat, cat_missing, nclass, s);
    ASSERT_EQ(nominal.score, nominal_ref.score) << "trial " << trial;
    ASSERT_EQ(nominal.step, nominal_ref.step) << "trial " << trial;
  }
}

// Two classes under entropy: the cuts inside a stretch of runs of one class are never swept.
// Nodes made of long one-class stretches, with missing cases, large minimum node sizes, nodes
// of one class only and nodes just above and below the size limit must still give the split
// of the full sweep.
TEST(ScreenedSweeps, OneClassStretchesHideNoBestCut) {
  std::mt19937 gen(23);
  for (int trial = 0; trial < 800; ++trial) {
    const int n = trial % 50 == 0 ? 2040 + static_cast<int>(gen() % 20) : 10 + static_cast<int>(gen() % 400);
    const int ncode = 2 + static_cast<int>(gen() % (2 * n));
    const int missing = gen() % 3 == 0 ? 0 : -1;
    const int stretch = 1 + static_cast<int>(gen() % 40);
    const bool one_class_node = trial % 40 == 1;
    std::vector<int> code(n), y(n);
    for (int i = 0; i < n; ++i) {
      code[i] = missing == 0 && gen() % 4 == 0 ? 0 : static_cast<int>(gen() % ncode);
      // Classes in stretches of codes, with a little noise: long runs of one class each.
      y[i] = one_class_node ? 1 : (code[i] / stretch + (gen() % 16 == 0 ? 1 : 0)) % 2;
    }
    Node node(code, y);
    const SearchSettings s{2, static_cast<int>(gen() % (trial % 4 == 0 ? n / 2 + 2 : 6)), 1};
    ASSERT_TRUE(cut_as_reference(node, ncode, missing, s)) << "trial " << trial;
  }
}

// Categories in mirrored pairs, (a, b) and (b, a) cases of the two classes: many subsets tie
// exactly, and rounding alone tells them apart. The screened sweep must pick the reference's.
TEST(ScreenedSweeps, MirroredCategoriesTieAsInTheFullSweep) {
  std::mt19937 gen(31);
  for (int trial = 0; trial < 400; ++trial) {
    const int pairs = 2 + static_cast<int>(gen() % 4);
    const int ncat = 2 * pairs + static_cast<int>(gen() % 2);
    std::vector<int> cat, y;
    for (int c = 0; c < ncat; c += 2) {
      const int a = 1 + static_cast<int>(gen() % 9), b = 1 + static_cast<int>(gen() % 9);
      for (int side = 0; side < 2 && c + side < ncat; ++side)
        for (int k = 0; k < a + b; ++k) {
          cat.push_back(c + side);
          y.push_back((k < a) == (side == 0) ? 0 : 1);
        }
    }
    Node node(cat, y);
    // Now and then a minimum node size that no subset meets.
    const SearchSettings s{2, trial % 10 == 3 ? node.n() / 2 + 1 : static_cast<int>(gen() % 4), trial % 2};
    auto w = scratch(2, ncat);
    const int missing = gen() % 3 == 0 ? ncat - 1 : -1;
    const NominalSplit fast = nominal_split(node, ncat, missing, node.rows.data(), node.n(), node.y.data(), s, w);
    const NominalSplit ref = nominal_split_reference(w.hist, ncat, missing, 2, s);
    ASSERT_EQ(fast.score, ref.score) << "trial " << trial;
    ASSERT_EQ(fast.step, ref.step) << "trial " << trial;
  }
}

// Large nodes under Gini, screened in single precision. Classes that alternate along the codes
// make every other cut tie exactly (half of each class on both sides), so rounding alone picks
// the first lowest; classes that follow the codes smoothly make the best cut's neighbours differ
// by less than single precision tells apart. The slack must let the reference's cut through.
TEST(ScreenedSweeps, GiniTiesAndFlatOptimaOnLargeNodes) {
  std::mt19937 gen(41);
  for (int trial = 0; trial < 60; ++trial) {
    const bool alternating = trial % 2 == 0;
    const int n = 2000 + static_cast<int>(gen() % 30000);
    const int ncode = alternating ? n : n / (1 + static_cast<int>(gen() % 3));
    const int missing = trial % 3 == 0 ? 0 : -1;
    std::vector<int> code(n), y(n);
    for (int i = 0; i < n; ++i) {
      code[i] = alternating ? i : static_cast<int>(gen() % ncode);
      const double p = 0.2 + 0.6 * code[i] / ncode;  // one broad optimum past the middle
      y[i] = alternating ? i % 2 : std::uniform_real_distribution<double>(0.0, 1.0)(gen) < p ? 1 : 0;
      if (code[i] == missing) y[i] = static_cast<int>(gen() % 2);
    }
    Node node(code, y);
    const SearchSettings s{2, 1 + static_cast<int>(gen() % 3), 0};
    ASSERT_TRUE(cut_as_reference(node, ncode, missing, s)) << "trial " << trial;
  }
}

// Small nodes of two classes under Gini sort their (code, class) keys in vector registers.
TEST(SortedKeys, NetworkSortsLikeTheLibrary) {
  if (!cpu_has_wide_vectors()) GTEST_SKIP() << "no wide vectors on this processor";
  std::mt19937 gen(31);
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = trial % (kSortableKeys + 1);
    const unsigned range = trial % 3 == 0 ? 4u : 65536u;  // many repeats, or none to speak of
    std::uint16_t keys[kSortableKeys];
    std::vector<std::uint16_t> expected(n);
    for (int k = 0; k < n; ++k) expected[k] = keys[k] = static_cast<std::uint16_t>(gen() % range);
    if (n > 0 && trial % 5 == 0) expected[0] = keys[0] = 0xffff;
    std::sort(expected.begin(), expected.end());
    sort_small_keys(keys, n);
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), keys)) << "n " << n;
  }
}

// The sorted-keys search against the step-by-step reference on nodes of 8- and 16-bit cells:
// repeated and distinct codes, missing cases (code 0), exact ties of mirrored cuts, minimum
// node sizes, and nodes of one class.
TEST(SortedKeys, CutsAsTheReferenceOnSmallNodes) {
  if (!cpu_has_wide_vectors()) GTEST_SKIP() << "no wide vectors on this processor";
  std::mt19937 gen(37);
  for (int trial = 0; trial < 4000; ++trial) {
    const bool wide = trial % 2;
    const int n = 1 + static_cast<int>(gen() % kSortableKeys);
    const int ncode = wide ? 2 * n + 17 + static_cast<int>(gen() % 30000) : 2 * n + 17 + static_cast<int>(gen() % 100);
    const int distinct = trial % 3 == 0 ? 1 + static_cast<int>(gen() % 6) : ncode;
    const bool with_missing = gen() % 2;
    std::vector<std::uint16_t> cells(n + 4);
    std::vector<int> y(n), rows(n);
    for (int i = 0; i < n; ++i) {
      int code = static_cast<int>(gen() % distinct);
      if (trial % 7 == 1) code = i % 2 ? ncode - 1 - i : i;  // mirrored pairs of codes
      if (with_missing && gen() % 5 == 0) code = 0;
      if (!with_missing && code == 0) code = 1;
      cells[i] = static_cast<std::uint16_t>(code);
      y[i] = trial % 11 == 0 ? 1 : static_cast<int>(trial % 7 == 1 ? (i / 2) % 2 : gen() % 2);
      rows[i] = n - 1 - i;  // the node's rows in an order of their own
    }
    const int missing = with_missing ? 0 : -1;
    const SearchSettings s{2, static_cast<int>(gen() % 5), 0};
    const auto check = [&](const auto& col) {
      auto w = scratch(2, ncode);
      const OrdinalSplit fast = ordinal_split(col, ncode, missing, rows.data(), n, y.data(), s, w);
      const OrdinalSplit ref = ordinal_split_reference(col, missing, rows.data(), n, y.data(), s);
      return fast.score == ref.score && fast.cut_code == ref.cut_code && fast.na_right == ref.na_right;
    };
    if (ncode <= 256) {
      std::vector<std::uint8_t> narrow(cells.begin(), cells.end());
      ASSERT_TRUE(check(FixedWidthColumn<std::uint8_t>{narrow.data()})) << "trial " << trial;
    }
    ASSERT_TRUE(check(FixedWidthColumn<std::uint16_t>{reinterpret_cast<const unsigned char*>(cells.data())}))
        << "trial " << trial;
  }
}
