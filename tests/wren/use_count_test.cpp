#include <gtest/gtest.h>

#include "read_text.hpp"
#include "wren.hpp"

using namespace forests;

TEST(UseCounts, EveryInternalNodeCountsOnce) {
  ReadResult r = read_text("o o o r\nroot deep never y\n1 1 1 0\n2 2 2 1\n", {false, true});
  ASSERT_EQ(r.error, "");
  // Covariate 0 splits the root of 60 trees and node 1 of 10 of them; elsewhere node 1 and
  // node 2 are terminal, holding whatever split was examined there last.
  std::vector<int> use_count(3, 0);
  TreeRecord t(31, 2);
  for (int tree = 0; tree < 60; ++tree) {
    t.node_count = tree < 10 ? 5 : 3;
    t.left_daughter[0] = 1;
    t.split_var[0] = 0;
    t.left_daughter[1] = tree < 10 ? 3 : 0;
    t.split_var[1] = 0;
    t.split_var[2] = 1;
    count_used_covariates(t, use_count);
  }
  EXPECT_EQ(use_count, (std::vector<int>{70, 0, 0}));

  ScratchDir dir;
  use_count = {70, 0, 3};
  write_use_counts(dir.file("c"), r.d, use_count);
  EXPECT_EQ(dir.read("c"), "The number of variables selected is 2\nindex count\nroot 70\nnever 3\n");
}
