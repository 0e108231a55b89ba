#include <gtest/gtest.h>

#include <random>

#include "forest.hpp"
#include "read_text.hpp"

using namespace forests;

namespace {

// A data set read as wren reads it, with its forest tables for the given settings.
struct Forest {
  ReadResult data;
  ForestData f;
  GrowWork w;
  GrownTree g;
  TreeRecord& t;
  SplitTables tables;
  SearchMemo memo;

  Forest(const std::string& text, int ntop, int nsub, int minnode = 1)
      : data(read_text(text, {false, true})),
        f(make_forest_data(data.d, std::vector<int>(data.d.ncov, 1), minnode)),
        w(make_grow_work(f)),
        g(make_grown_tree(f)),
        t(g.t) {
    EXPECT_EQ(data.error, "");
    tables = prepare_split_tables(f, ntop, nsub, t, w);
    memo.reset(1);
  }

  // Covariate of each split node of tree `tree`, in node order.
  std::vector<int> split_covariates(int tree) {
    grow_forced_tree(f, tables, tree, g, w, memo);
    std::vector<int> split_var;
    for (int v = 0; v < t.node_count; ++v)
      if (t.left_daughter[v] != 0) split_var.push_back(t.split_var[v]);
    return split_var;
  }
};

std::string rows_of(const std::vector<std::vector<int>>& rows) {
  std::string s;
  for (const auto& row : rows) {
    for (int x : row) s += std::to_string(x) + " ";
    s += "\n";
  }
  return s;
}

}  // namespace

TEST(Ranking, EqualScoresFollowTheExchange) {
  // 0.2 0.5 0.2: the first swap moves covariate 1 forward, so covariate 2 ranks before 0.
  EXPECT_EQ(rank_by_exchange({0.2, 0.5, 0.2}, 3, 1.0), (std::vector<int>{2, 0, 1}));
  EXPECT_EQ(rank_by_exchange({0.2, 0.5, 0.2}, 3, 0.4), (std::vector<int>{2, 0}));
  // All equal: nothing moves and the last covariate is best.
  EXPECT_EQ(rank_by_exchange({0.3, 0.3, 0.3}, 2, 1.0), (std::vector<int>{2, 1}));
  EXPECT_EQ(rank_by_exchange({0.1, 0.4, 0.1, 0.4, 0.1}, 3, 1.0), (std::vector<int>{4, 0, 2}));
  EXPECT_EQ(rank_by_exchange({0.1, 0.4}, 0, 1.0), (std::vector<int>{}));
}

TEST(Ranking, MatchesTheFullExchange) {
  std::mt19937 rng(5);
  for (int round = 0; round < 2000; ++round) {
    const int p = 1 + static_cast<int>(rng() % 30);
    std::vector<double> score(p);
    for (double& x : score) x = (rng() % 5) * 0.25;  // few values, many ties; 1.0 is "no split"
    std::vector<double> sorted = score;
    std::vector<int> rank(p);
    for (int k = 0; k < p; ++k) rank[k] = k;
    for (int i = 0; i < p - 1; ++i) {
      for (int j = i + 1; j < p; ++j) {
        if (sorted[j] > sorted[i]) {
          std::swap(sorted[i], sorted[j]);
          std::swap(rank[i], rank[j]);
        }
      }
    }
    const int want = 1 + static_cast<int>(rng() % 6);
    std::vector<int> expected;
    for (int r = 0; r < want && r < p && sorted[p - 1 - r] < 1.0; ++r) expected.push_back(rank[p - 1 - r]);
    ASSERT_EQ(rank_by_exchange(score, want, 1.0), expected) << "round " << round;
  }
}

TEST(Forest, RootTiesFollowTheExchangeRanking) {
  // a and b separate the classes equally well, c does worse. Nothing moves in the exchange, so
  // b ranks first; with c last instead, c's move sends a to the end and a ranks first.
  const std::string rows = rows_of({{5, 1, 1, 0}, {3, 2, 2, 0}, {4, 3, 3, 1}, {6, 4, 4, 1}});
  Forest g("o o o r\nc a b y\n" + rows, 3, 1);
  EXPECT_EQ(g.tables.top_splits[0].covariate, 2);
  EXPECT_EQ(g.tables.top_splits[1].covariate, 1);
  EXPECT_EQ(g.tables.top_splits[2].covariate, 0);
  Forest h("o o o r\na b c y\n" + rows_of({{1, 1, 5, 0}, {2, 2, 3, 0}, {3, 3, 4, 1}, {4, 4, 6, 1}}), 3, 1);
  EXPECT_EQ(h.tables.top_splits[0].covariate, 0);
  EXPECT_EQ(h.tables.top_splits[1].covariate, 1);
}

TEST(Forest, TiesBelowTheForcedLevelsGoToTheLowerCovariate) {
  // a and b are the same column. The exchange ranking gives the root and its daughters to b;
  // every node below takes a, the first of equal scores.
  std::vector<std::vector<int>> rows;
  for (int i = 0; i < 16; ++i) rows.push_back({i, i, (i / 2) % 2});
  Forest g("o o r\na b y\n" + rows_of(rows), 1, 1);
  ASSERT_GE(g.split_covariates(0).size(), 4u);
  for (int v = 0; v < g.t.node_count; ++v)
    if (g.t.left_daughter[v] != 0) {
      EXPECT_EQ(g.t.split_var[v], v < 3 ? 1 : 0) << "node " << v;
    }
}

TEST(Forest, DeepTreesStopAtThirtyOneNodesAndReuseOnlyTheirOwnSplits) {
  // Classes by an exclusive or of a and b, every ninth flipped: both root daughters grow deep.
  std::vector<std::vector<int>> rows;
  for (int i = 0; i < 200; ++i) {
    const int b = (i * 7) % 200;
    rows.push_back({i, b, (i * 11) % 13, ((i < 100) != (b < 100)) != (i % 9 == 0)});
  }
  Forest g("o o o r\na b c y\n" + rows_of(rows), 2, 2);
  const int* y = g.data.d.y.data();
  for (int tree = 0; tree < 8; ++tree) {
    g.split_covariates(tree);  // reusing the splits that earlier trees found
    EXPECT_EQ(g.t.node_count, kNodeCap);
    // Each split below the forced levels is the best for the cases the node holds.
    for (int v = 3; v < g.t.node_count; ++v) {
      if (g.t.left_daughter[v] == 0) continue;
      int best = -1;
      double best_score = 2;
      for (int j = 0; j < 3; ++j) {
        const double score = search_candidate(g.f.store, j, g.t.node_rows(v), g.t.count[v], y, g.f.search,
                                              g.w.scratch[0]).score;
        if (score < best_score) {
          best = j;
          best_score = score;
        }
      }
      EXPECT_EQ(g.t.split_var[v], best) << "tree " << tree << " node " << v;
    }
  }
}

TEST(Forest, SharedSearchesGrowTheSameTreesAsSearchingEveryNode) {
  // Random ordinal columns with values spelled in two ways, a nominal column, missing cells;
  // every tree of a root split grown with the memo of its group, and again with a fresh memo.
  std::mt19937 rng(13);
  std::string text = "o o n o o r\na b c d e y\n";
  const char* spellings[][2] = {{"0.5", "0.50"}, {"1", "1.0"}, {"2", "2"}, {"3.25", "3.250"}};
  for (int i = 0; i < 300; ++i) {
    int signal = 0;
    for (int j = 0; j < 5; ++j) {
      const int v = static_cast<int>(rng() % (j == 2 ? 3 : 4));
      signal += j < 2 ? v : 0;
      if (rng() % 30 == 0)
        text += "NA ";
      else if (j == 2)
        text += std::to_string(v + 1) + " ";
      else
        text += std::string(spellings[(v + j) % 4][rng() % 2]) + " ";
    }
    text += std::to_string((signal + static_cast<int>(rng() % 3)) % 3) + "\n";
  }
  Forest shared(text, 3, 2);
  Forest alone(text, 3, 2);
  const int ntree = 3 * 2 * 2;
  for (int tree = 0; tree < ntree; ++tree) {
    if (tree % 4 == 0) shared.memo.reset(1);
    alone.memo.reset(1);
    const std::vector<int> split_var = shared.split_covariates(tree);
    ASSERT_EQ(alone.split_covariates(tree), split_var) << "tree " << tree;
    EXPECT_EQ(alone.t.node_count, shared.t.node_count);
    for (int v = 0; v < shared.t.node_count; ++v) {
      EXPECT_EQ(alone.t.split_value[v], shared.t.split_value[v]) << "tree " << tree << " node " << v;
      EXPECT_EQ(alone.t.na_right[v], shared.t.na_right[v]);
      EXPECT_EQ(alone.t.count[v], shared.t.count[v]);
      EXPECT_EQ(alone.g.cut_text[v], shared.g.cut_text[v]);
    }
  }
  EXPECT_GT(shared.memo.entries.size(), 8u);
}
