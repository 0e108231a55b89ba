#include <gtest/gtest.h>

#include "kestrel.hpp"

TEST(SplitChisq, WorkedValues) {
  // Class c: right count at 2(nclass-1-c), left count next.
  EXPECT_DOUBLE_EQ(split_chisq({0, 10, 10, 0}, 2, 20), 16.2);
  EXPECT_DOUBLE_EQ(split_chisq({10, 30, 30, 10}, 2, 80), 20.0);
  // A class absent from the node makes every statistic 0.
  EXPECT_EQ(split_chisq({0, 0, 0, 10, 10, 0}, 3, 20), 0.0);
  // More than ten classes fit.
  std::vector<int> wide(24, 5);
  EXPECT_EQ(split_chisq(wide, 12, 120), 0.0);
}

TEST(Lcc, WalksFromTheParentUpToTheRoot) {
  DataSet d;
  d.name = {"a", "b", "c"};
  // Node 5 is a daughter of node 2, itself a daughter of the root.
  std::vector<int> spv = {0, 2, 1, -1, -1, -1, -1};
  std::vector<int> parent = {0, 0, 0, 1, 1, 2, 2};
  EXPECT_EQ(lcc_list(d, spv, parent, 5), "b a");
  EXPECT_EQ(lcc_list(d, spv, parent, 1), "a");
  EXPECT_EQ(lcc_list(d, spv, parent, 0), " ");
  EXPECT_EQ(lcc_list(d, spv, parent, -1), "NA");
}
