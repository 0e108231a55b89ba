#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "bit_counts.hpp"
#include "split_search.hpp"

using namespace forests;

namespace {

struct TwoBitColumn {
  std::vector<std::uint64_t> word;
  int operator()(int row) const { return static_cast<int>((word[row >> 5] >> (2 * (row & 31))) & 3u); }
};

}  // namespace

TEST(BitCounts, SameCountsAsCaseByCase) {
  // Nodes of bootstrap-like samples (repeated cases), of the whole range or a part of it, over
  // case numbers that end inside a word and on its edge, with two to five classes: counted by
  // masks (their last block shifted over the column's last words where vector popcounts count
  // them) or by class lists.
  std::mt19937 gen(5);
  int built = 0, listed = 0;
  for (int ncase : {1, 31, 32, 33, 70, 200, 2000}) {
    const int nword = (ncase + 31) / 32;
    TwoBitColumn col;
    for (int k = 0; k < nword; ++k) col.word.push_back((std::uint64_t{gen()} << 32) | gen());
    for (int nclass : {2, 3, 5}) {
      std::vector<int> y(ncase);
      for (int& c : y) c = static_cast<int>(gen() % nclass);
      for (int trial = 0; trial < 20; ++trial) {
        const int low = trial % 2 ? static_cast<int>(gen() % ncase) : 0;
        const int span = ncase - low;
        const int n = 1 + static_cast<int>(gen() % (4 * span));
        std::vector<int> rows(n);
        for (int& r : rows) r = low + static_cast<int>(gen() % span);
        std::vector<int> copies;
        NodeMasks m;
        build_node_masks(rows.data(), n, y.data(), nclass, copies, m);
        for (int c : copies) ASSERT_EQ(c, 0);
        ASSERT_NE(m.active, m.listed);
        ++(m.active ? built : listed);
        SplitScratch w;
        w.prepare(nclass, 4);
        count_codes(col, 4, rows.data(), n, y.data(), nclass, w);
        std::vector<int> hist(4 * nclass);
        count_by_masks(col.word.data(), m, hist.data());
        ASSERT_EQ(hist, std::vector<int>(w.hist.begin(), w.hist.begin() + 4 * nclass)) << ncase << " " << n;
        ASSERT_EQ(m.total, w.total);
      }
    }
  }
  EXPECT_GT(built, 50);
  EXPECT_GT(listed, 20);

  // More cases of one code and class than a 16-bit lane holds: a case repeated this often makes
  // masks for every bit of its copies too many for counting by masks.
  const int ncase = 130000, n = 70000;
  TwoBitColumn col;
  for (int k = 0; k < (ncase + 31) / 32; ++k) col.word.push_back((std::uint64_t{gen()} << 32) | gen());
  std::vector<int> y(ncase), rows(n, 7);
  for (int i = 0; i < ncase; ++i) y[i] = i % 50 == 0 ? 1 + static_cast<int>(gen() % 4) : 0;  // mostly class 0
  for (int k = 66000; k < n; ++k) rows[k] = static_cast<int>(gen() % ncase);
  std::vector<int> copies;
  NodeMasks m;
  build_node_masks(rows.data(), n, y.data(), 5, copies, m);
  ASSERT_TRUE(m.listed);
  SplitScratch w;
  w.prepare(5, 4);
  count_codes(col, 4, rows.data(), n, y.data(), 5, w);
  std::vector<int> hist(4 * 5);
  count_by_masks(col.word.data(), m, hist.data());
  EXPECT_EQ(hist, std::vector<int>(w.hist.begin(), w.hist.begin() + 4 * 5));
}

TEST(BitCounts, SmallNodesAreCountedCaseByCase) {
  std::vector<int> y(2000, 0), copies;
  const std::vector<int> rows = {5, 1999};  // two cases spread over the whole column
  NodeMasks m;
  build_node_masks(rows.data(), 2, y.data(), 2, copies, m);
  EXPECT_FALSE(m.active);
  EXPECT_TRUE(m.listed);
  EXPECT_EQ(std::count(copies.begin(), copies.end(), 0), static_cast<std::ptrdiff_t>(copies.size()));
}

TEST(BitCounts, ListedColumnsTogetherAsOneByOne) {
  // Small two-class nodes (repeated cases too) counted for up to eight columns at once, each
  // column's counts those of counting it alone.
  std::mt19937 gen(11);
  const int ncase = 2000;
  std::vector<TwoBitColumn> cols(kListedColumns);
  for (auto& col : cols)
    for (int k = 0; k < (ncase + 31) / 32; ++k) col.word.push_back((std::uint64_t{gen()} << 32) | gen());
  std::vector<int> y(ncase);
  for (int& c : y) c = static_cast<int>(gen() % 2);
  int counted = 0;
  for (int trial = 0; trial < 300; ++trial) {
    const int n = 1 + static_cast<int>(gen() % 60);
    std::vector<int> rows(n);
    for (int& r : rows) r = static_cast<int>(gen() % ncase);
    std::vector<int> copies;
    NodeMasks m;
    build_node_masks(rows.data(), n, y.data(), 2, copies, m);
    if (!counts_listed_columns(m)) continue;
    ++counted;
    const int ncolumns = 1 + static_cast<int>(gen() % kListedColumns);
    const std::uint64_t* columns[kListedColumns];
    for (int j = 0; j < ncolumns; ++j) columns[j] = cols[gen() % kListedColumns].word.data();
    int counts[8][kListedColumns];
    count_listed_columns(columns, ncolumns, m, counts);
    for (int j = 0; j < ncolumns; ++j) {
      int hist[8];
      count_by_masks(columns[j], m, hist);
      for (int c = 0; c < 8; ++c) ASSERT_EQ(counts[c][j], hist[c]) << "trial " << trial << " column " << j;
    }
  }
  EXPECT_GT(counted, 150);
}
