#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "coded_covariates.hpp"
#include "descend.hpp"
#include "random.hpp"
#include "read_text.hpp"
#include "tree_growth.hpp"
#include "tree_text.hpp"

using namespace forests;

namespace {

// A data set, its coded covariates and a grown tree, with every covariate usable.
struct Grown {
  ReadResult data;
  CodedCovariates store;
  std::vector<int> usable, pool, sample;
  TreeRecord tree;
  std::vector<std::pair<int, int>> splits;  // (covariate, node) handed over

  Grown(const std::string& text, int nsplitvar, int minnode, bool impurity_test = true)
      : data(read_text(text)), store(data.d.codes), tree(1000, data.d.nclass) {
    EXPECT_EQ(data.error, "");
    for (int j = 0; j < data.d.ncov; ++j) {
      usable.push_back(1);
      pool.push_back(j);
    }
    for (int i = 0; i < data.d.ncase; ++i) sample.push_back(i);
    GrowSettings g;
    g.search = {data.d.nclass, minnode, 0};
    g.nsplitvar = nsplitvar;
    if (impurity_test) g.least_decrease = 0.00001;
    g.var_usable = &usable;
    g.var_pool = &pool;
    GrowWork w(data.d.nclass, 100);
    seed_random(3);
    grow_tree(store, data.d.y.data(), sample.data(), data.d.ncase, tree, g, w,
              [&](const MadeSplit& m) { splits.emplace_back(m.covariate, m.node); });
  }

  std::string line() {
    ScratchDir dir;
    OutFile out(dir.file("t"), "w");
    out.printf("%d: ", 1);
    write_tree_line(out, tree, data.d.y.data(), data.d.nclass, data.d.ncat,
                    [&](int v) -> const std::vector<int>& { return data.d.ori_catg[v]; },
                    [](OutFile& o, const TreeRecord& t, int i) { o.printf("%lf ", t.split_value[i]); });
    out.close();
    return dir.read("t");
  }
};

}  // namespace

TEST(GrowTree, OneNodeTrees) {
  Grown small("o o r\na b y\n1 1 0\n2 2 0\n3 3 0\n4 4 0\n5 5 1\n", 1, 10);
  EXPECT_EQ(small.tree.node_count, 1);  // minnode 10 leaves no admissible cut
  Grown constant("o o r\na b y\n1 1 0\n1 1 0\n1 1 1\n", 2, 1);
  EXPECT_EQ(constant.tree.node_count, 1);
  EXPECT_EQ(constant.tree.left_daughter[0], 0);
  Grown none("o r\na y\n1 0\n2 1\n", 0, 1);
  EXPECT_EQ(none.tree.node_count, 1);
}

TEST(GrowTree, TwoCasesSplitOnlyWithMinnodeOne) {
  EXPECT_EQ(Grown("o r\na y\n1 0\n2 1\n", 1, 1).tree.node_count, 3);
  EXPECT_EQ(Grown("o r\na y\n1 0\n2 1\n", 1, 2).tree.node_count, 1);
}

TEST(GrowTree, DaughtersAreNumberedInCreationOrder) {
  // Split nodes in number order get daughters 1 2, 3 4, ...; the hand-over follows node order.
  Grown g("o o r\na b y\n1 5 0\n2 3 1\n3 8 2\n4 1 3\n5 5 0\n6 2 1\n7 7 2\n8 6 3\n", 2, 1, false);
  int next = 1;
  std::vector<int> split_nodes;
  for (int i = 0; i < g.tree.node_count; ++i) {
    if (g.tree.left_daughter[i] == 0) continue;
    split_nodes.push_back(i);
    EXPECT_EQ(g.tree.left_daughter[i], next);
    EXPECT_EQ(g.tree.parent[next], i);
    EXPECT_EQ(g.tree.parent[next + 1], i);
    next += 2;
  }
  EXPECT_EQ(g.tree.node_count, next);
  EXPECT_GE(g.tree.node_count, 7);
  ASSERT_EQ(g.splits.size(), split_nodes.size());
  for (std::size_t k = 0; k < split_nodes.size(); ++k) EXPECT_EQ(g.splits[k].second, split_nodes[k]);
  // A case whose value equals the cut-off went left.
  Grown cut("o r\na y\n1 0\n2 0\n3 1\n4 1\n", 1, 1);
  EXPECT_EQ(cut.line(), "1: 1 2 1 2.000000 2 0 2 0 3 0 0 2 \n");
}

TEST(GrowTree, SplitsThatBarelyLowerTheImpurityAreRefused) {
  // Any cut leaves the class mix unchanged: the decrease is 0.
  const char* text = "o r\na y\n1 0\n1 1\n2 0\n2 1\n";
  EXPECT_EQ(Grown(text, 1, 1, true).tree.node_count, 1);
  EXPECT_EQ(Grown(text, 1, 1, false).tree.node_count, 3);
}

TEST(TreeLine, SingleRootAndCategorySets) {
  std::string text = "o r\na y\n";
  for (int i = 0; i < 7; ++i) text += "1 0\n";
  for (int i = 0; i < 3; ++i) text += "1 1\n";
  Grown g(text, 1, 1);
  EXPECT_EQ(g.line(), "1: 1 0 7 3 \n");
  EXPECT_EQ(store_tree(g.tree, g.data.d.y.data(), 2).node_class, std::vector<int>{0});

  ScratchDir dir;
  OutFile out(dir.file("s"), "w");
  write_category_set(out, 13, {10, 20, 30});
  out.puts(" ");
  write_category_set(out, 2, {10, 20, 30});
  out.close();
  EXPECT_EQ(dir.read("s"), "30,10 20");
  // Numbers as printf("%d ") writes them, the extremes too, many at once.
  OutFile ints(dir.file("i"), "w");
  ints.put_ints({0, -1, 2147483647, -2147483647 - 1, 17, -17, 1000000, 9, 10});
  ints.put_ints({});
  ints.close();
  EXPECT_EQ(dir.read("i"), "0 -1 2147483647 -2147483648 17 -17 1000000 9 10 ");
  int tie[2] = {3, 3};
  EXPECT_EQ(majority_class(tie, 2), 0);
}

TEST(TreeLine, FixedNumbersAsPrintfWritesThem) {
  // Exact halves at the sixth decimal (k / 128) test the rounding of ties; the extremes
  // and non-numbers go through printf.
  std::vector<double> values = {0.0, -0.0, 1.0, 2.0, -1e-9, 0.0078125, 0.0234375, 2.5e-7, 1e15, -1e15, 1e300,
                                999999.9999995, 5e-324, std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN()};
  std::mt19937_64 gen(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < 3000; ++i) {
    const double magnitude = std::pow(10.0, static_cast<int>(gen() % 20) - 8);
    values.push_back((gen() % 2 ? -1 : 1) * unit(gen) * magnitude);
    values.push_back(static_cast<double>(static_cast<std::int64_t>(gen() % 100000000)) / 128.0);
    values.push_back(std::bit_cast<double>(gen()));
  }
  ScratchDir dir;
  OutFile out(dir.file("f"), "w");
  std::string expected;
  for (double v : values) {
    out.put_fixed(v, ' ');
    expected += format("%f ", v);
  }
  out.close();
  EXPECT_EQ(dir.read("f"), expected);
}

TEST(TreeLine, NominalSplitWritesDataFileCodes) {
  Grown g("n r\nc y\n10 0\n20 1\n30 0\n10 0\n20 1\n30 0\n", 1, 1);
  EXPECT_EQ(g.line(), "1: 1 2 1 {20} 2 0 4 0 3 0 0 2 \n");
}

TEST(StoredTree, TerminalClassesNeedNoReport) {
  // Nothing written: the stored tree still knows the class of each terminal node.
  Grown g("o r\na y\n1 0\n2 0\n3 1\n4 1\n5 1\n", 1, 1);
  ASSERT_EQ(g.tree.node_count, 3);
  EXPECT_EQ(store_tree(g.tree, g.data.d.y.data(), 2).node_class, (std::vector<int>{0, 0, 1}));
  // Two cases of each class in a node: the lower class.
  Grown tie("o r\na y\n1 0\n1 1\n1 0\n1 1\n", 1, 1);
  ASSERT_EQ(tie.tree.node_count, 1);
  EXPECT_EQ(store_tree(tie.tree, tie.data.d.y.data(), 2).node_class, std::vector<int>{0});
}

TEST(Descend, FollowsThePartitionRules) {
  StoredTree t;
  t.node_count = 3;
  t.split_var = {0, -1, -1};
  t.left_daughter = {1, 0, 0};
  t.split_value = {2.5, 0, 0};
  t.node_class = {0, 0, 1};
  t.na_right = {1, 0, 0};
  std::vector<int> ordinal = {1};
  std::vector<int> no_codes;
  auto codes = [&](int) -> const std::vector<int>& { return no_codes; };
  // Missing code 0: below the cut-off, so only na_right sends it right.
  EXPECT_EQ(descend(t, ordinal, 0.0, [](int) { return 2.5; }, codes), 0);
  EXPECT_EQ(descend(t, ordinal, 0.0, [](int) { return 2.6; }, codes), 1);
  EXPECT_EQ(descend(t, ordinal, 0.0, [](int) { return 0.0; }, codes), 1);
  EXPECT_EQ(descend(t, ordinal, 0.0, [](int) { return 0.1; }, codes), 0);

  std::vector<int> nominal = {4};
  std::vector<int> cats = {0, 1, 2, 3};
  auto cat_codes = [&](int) -> const std::vector<int>& { return cats; };
  t.split_value[0] = 13;  // categories 0 and 2 go right
  for (int c = 0; c < 4; ++c)
    EXPECT_EQ(descend(t, nominal, -9.0, [&](int) { return double(c); }, cat_codes), c % 2 == 0 ? 1 : 0);

  StoredTree root;
  root.node_count = 1;
  root.split_var = {-1};
  root.left_daughter = {0};
  root.split_value = {0};
  root.node_class = {1};
  root.na_right = {0};
  EXPECT_EQ(descend(root, ordinal, -9.0, [](int) { return 0.0; }, codes), 1);
}

TEST(GrowTree, RememberedSearchesGrowTheSameTrees) {
  // Forests of many trees on the same cases, with and without the memo of recurring nodes
  // (small min_size so that deep nodes recur too), and with a memo that stops keeping the
  // depths that answer too little: every tree and hand-over the same.
  std::string text = "o o n o r\na b c d y\n";
  unsigned x = 99;
  for (int i = 0; i < 400; ++i) {
    x = x * 1103515245u + 12345u;
    const int a = (x >> 16) % 50, b = (x >> 8) % 30, c = (x >> 4) % 4, d = (x >> 20) % 7;
    text += std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + " " + std::to_string(d) + " " +
            std::to_string((a + 2 * c + (x >> 12) % 20) > 40 ? 1 : 0) + "\n";
  }
  ReadResult data = read_text(text);
  ASSERT_EQ(data.error, "");
  const CodedCovariates& store = data.d.codes;
  std::vector<int> usable(4, 1), pool = {0, 1, 2, 3}, sample(data.d.ncase);
  for (int i = 0; i < data.d.ncase; ++i) sample[i] = i;
  enum Memo { kNone, kEveryDepth, kPayingDepths };
  std::size_t entries[3] = {0, 0, 0};
  auto forest = [&](Memo mode) {
    GrowSettings g;
    g.search = {2, 2, 0};
    g.nsplitvar = 2;
    g.least_decrease = 0.00001;
    g.var_usable = &usable;
    g.var_pool = &pool;
    SearchMemo memo;
    memo.reset(4);
    if (mode == kPayingDepths) {
      memo.least_hit_share = 0.5;
      memo.depth_trial = 16;
    }
    if (mode != kNone) g.memo = &memo;
    GrowWork w(2, 100);
    TreeRecord t(1000, 2);
    seed_random(11);
    std::vector<std::vector<int>> trees;
    for (int k = 0; k < 40; ++k) {
      std::vector<int> record;
      grow_tree(store, data.d.y.data(), sample.data(), data.d.ncase, t, g, w,
                [&](const MadeSplit& m) {
                  record.insert(record.end(), {m.covariate, m.node, m.size});
                  record.insert(record.end(), m.table.begin(), m.table.end());
                });
      for (int i = 0; i < t.node_count; ++i) record.insert(record.end(), {t.left_daughter[i], t.split_var[i], static_cast<int>(t.split_value[i] * 1000)});
      trees.push_back(record);
    }
    entries[mode] = memo.entries.size();
    return trees;
  };
  const auto plain = forest(kNone);
  EXPECT_EQ(forest(kEveryDepth), plain);
  EXPECT_EQ(forest(kPayingDepths), plain);
  EXPECT_GT(entries[kEveryDepth], 10u);
  EXPECT_GT(entries[kPayingDepths], 1u);
  EXPECT_LT(entries[kPayingDepths], entries[kEveryDepth]);
}

// A node's results sit in a table of open addressing: covariates that meet in a slot, tables
// that grow, results kept twice and a budget that runs out must read back as a plain map would.
TEST(SearchMemo, KeptResultsReadBackAsAPlainMap) {
  std::mt19937 gen(5);
  for (int trial = 0; trial < 40; ++trial) {
    SearchMemo memo;
    memo.reset(1);
    if (trial % 4 == 3) memo.budget = memo.used + 900 + gen() % 4000;  // spent part way
    std::vector<std::pair<int, Candidate>> kept;
    const int wide = trial % 2 ? 100000 : 64;
    for (int k = 0; k < 2000; ++k) {
      const int v = trial % 3 == 0 ? static_cast<int>(gen() % 40) * 1024 : static_cast<int>(gen() % wide);
      const Candidate c{static_cast<double>(gen() % 1000), 0.5 * v, static_cast<int>(gen() % 7), k % 2};
      const std::size_t before = memo.used;
      memo.keep(0, v, c);
      const bool known = std::any_of(kept.begin(), kept.end(), [&](const auto& p) { return p.first == v; });
      const Candidate* now = memo.kept_result(memo.entries[0], v);
      if (!known && now) kept.emplace_back(v, c);
      if (!known && !now) {
        ASSERT_EQ(memo.used, before) << "a result refused must cost nothing";
      }
    }
    for (const auto& [v, c] : kept) {
      const Candidate* r = memo.kept_result(memo.entries[0], v);
      ASSERT_NE(r, nullptr) << "covariate " << v;
      EXPECT_EQ(r->score, c.score);
      EXPECT_EQ(r->cut_code, c.cut_code);
      EXPECT_EQ(r->na_right, c.na_right);
    }
    EXPECT_EQ(memo.entries[0].kept, static_cast<int>(kept.size()));
    EXPECT_LE(memo.used, memo.budget);
    for (int v = 0; v < 200; ++v) {
      const bool known = std::any_of(kept.begin(), kept.end(), [&](const auto& p) { return p.first == v; });
      EXPECT_EQ(memo.kept_result(memo.entries[0], v) != nullptr, known) << "covariate " << v;
    }
  }
}

TEST(GrowTree, NodesTooSmallToSplitGetTheSearchResultUnsearched) {
  // Covariates of every kind (two-bit, wide ordinal with missing values, nominal); nodes of
  // fewer than twice minnode cases: the search of each covariate finds no split, the score
  // no_split_result gives without a search.
  std::string text = "o o n o r\na b c d y\n";
  unsigned x = 7;
  for (int i = 0; i < 300; ++i) {
    x = x * 1103515245u + 12345u;
    const unsigned b = (x >> 8) % 300;
    text += std::to_string((x >> 16) % 3) + " " + (b < 20 ? std::string("NA") : std::to_string(b)) + " " +
            std::to_string((x >> 4) % 6) + " " + std::to_string((x >> 20) % 40) + " " + std::to_string((x >> 12) % 3) +
            "\n";
  }
  ReadResult data = read_text(text);
  ASSERT_EQ(data.error, "");
  const CodedCovariates& store = data.d.codes;
  SplitScratch w;
  w.prepare(data.d.nclass, 400);
  std::mt19937 gen(5);
  for (int trial = 0; trial < 400; ++trial) {
    const SearchSettings s{data.d.nclass, 1 + static_cast<int>(gen() % 8), static_cast<int>(gen() % 2)};
    const int n = static_cast<int>(gen() % (2 * s.minnode));
    std::vector<int> rows(n);
    for (int& r : rows) r = static_cast<int>(gen() % data.d.ncase);
    std::sort(rows.begin(), rows.end());
    for (int v = 0; v < data.d.ncov; ++v) {
      const Candidate searched = search_candidate(store, v, rows.data(), n, data.d.y.data(), s, w);
      const Candidate unsearched = no_split_result(s.nclass);
      EXPECT_EQ(searched.score, unsearched.score) << "covariate " << v;
      if (!store.nominal(v)) {
        EXPECT_EQ(searched.cut_code, -1) << "covariate " << v;
      }
    }
  }
}

TEST(CandidateDraws, SameCandidatesAndDrawsAsDrawingOneAtATime) {
  // The plain form: below() until a draw is usable and new, once per candidate.
  auto reference = [](const GrowSettings& g, std::vector<int>& out) {
    const bool from_list = g.candidates == CandidateRule::draw_from_usable_list;
    const int n = static_cast<int>(from_list ? g.var_pool->size() : g.var_usable->size());
    std::vector<char> seen(n, 0);
    out.clear();
    for (int j = 0; j < g.nsplitvar; ++j) {
      int r;
      do r = rand_below(n);
      while ((!from_list && !(*g.var_usable)[r]) || seen[r]);
      seen[r] = 1;
      out.push_back(from_list ? (*g.var_pool)[r] : r);
    }
  };
  std::mt19937 gen(17);
  std::vector<int> usable, pool, got, want;
  std::vector<char> drawn;
  for (int trial = 0; trial < 300; ++trial) {
    // Mostly a few hundred covariates; now and then more than 32767, whose draws take two each.
    const int ncov = trial % 50 == 0 ? 40000 + static_cast<int>(gen() % 1000) : 1 + static_cast<int>(gen() % 400);
    const int unusable_share = static_cast<int>(gen() % 3);  // none, some or most unusable
    usable.assign(ncov, 1);
    pool.clear();
    for (int v = 0; v < ncov; ++v) {
      if (v > 0 && static_cast<int>(gen() % 4) < unusable_share + (unusable_share == 2)) usable[v] = 0;
      if (usable[v]) pool.push_back(v);
    }
    GrowSettings g;
    g.var_usable = &usable;
    g.var_pool = &pool;
    const int nusable = static_cast<int>(pool.size());
    g.nsplitvar = 1 + static_cast<int>(gen() % std::min(nusable, 120));
    for (CandidateRule rule : {CandidateRule::draw_from_usable_list, CandidateRule::draw_redrawing_unusable}) {
      g.candidates = rule;
      const std::uint32_t seed = static_cast<std::uint32_t>(gen());
      seed_random(seed);
      choose_candidates(g, got, drawn);
      const std::uint32_t after = random_state();
      seed_random(seed);
      reference(g, want);
      ASSERT_EQ(got, want) << "trial " << trial;
      ASSERT_EQ(after, random_state()) << "trial " << trial;
      ASSERT_TRUE(std::all_of(drawn.begin(), drawn.end(), [](char c) { return c == 0; }));
    }
  }
}
