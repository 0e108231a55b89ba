#include <gtest/gtest.h>

#include "kestrel.hpp"
#include "run_program.hpp"

using namespace forests;

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
  std::vector<int> split_var = {0, 2, 1, -1, -1, -1, -1};
  std::vector<int> parent = {0, 0, 0, 1, 1, 2, 2};
  EXPECT_EQ(lcc_list(d, split_var, parent, 5), "b a");
  EXPECT_EQ(lcc_list(d, split_var, parent, 1), "a");
  EXPECT_EQ(lcc_list(d, split_var, parent, 0), " ");
  EXPECT_EQ(lcc_list(d, split_var, parent, -1), "NA");
}

TEST(ImportanceFile, PValuesCountOnlyStrictlyLargerMaxima) {
  ScratchDir dir;
  DataSet d;
  d.ncov = 4;
  d.name = {"a", "b", "c", "d"};
  PassResults r;
  r.mcc_obs = {4.0, 5.5, 0.0, 3.0};
  r.perm_max = {5.0, 3.0, 4.0};
  r.where = {{1, 2}, {0, 0}, {-1, -1}, {0, 0}};
  r.trace_spv = {{1, -1, -1}, {0, 1, 3, -1, -1}};
  r.trace_parent = {{0, 0, 0}, {0, 0, 0, 1, 1}};
  write_final_importance(dir.file("imp"), d, {1, 1, 1, 0}, r, 3);
  EXPECT_EQ(dir.read("imp"),
            "4\nindex\tMCC importance\tp_value\tLCC\n"
            "a\t4.000000\t0.333333\ta\n"  // the maximum 4.0 equal to its own does not count
            "b\t5.500000\t0.000000\t \n"
            "c\t0.000000\t1.000000\tNA\n"
            "d\t0\t1\tNA\n"
            "max1\t5.000000\tNA\tNA\nmax2\t3.000000\tNA\tNA\nmax3\t4.000000\tNA\tNA\n");
}
