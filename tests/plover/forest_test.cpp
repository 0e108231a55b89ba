#include <gtest/gtest.h>

#include "forest.hpp"
#include "random.hpp"
#include "tree_growth.hpp"

using namespace forests;

namespace {

// A store of two covariates from per-case genotypes.
GenoStore store_of(const std::vector<int>& a, const std::vector<int>& b) {
  GenoStore g = make_geno_store(2);
  for (std::size_t i = 0; i < a.size(); ++i) {
    add_geno_case(g);
    pack_genotype(g, 0, static_cast<int>(i), a[i]);
    pack_genotype(g, 1, static_cast<int>(i), b[i]);
  }
  columns_from_rows(g);
  return g;
}

StoredTree stored(std::vector<int> split_var, std::vector<int> left_daughter, std::vector<double> split_value, std::vector<int> node_class,
                  std::vector<int> na_right) {
  return {static_cast<int>(split_var.size()), split_var, left_daughter, split_value, node_class, na_right};
}

// Root splits covariate 0 (ordinal, cut 0, missing right); its right daughter splits the
// nominal covariate 1 with `code`. Terminal nodes 1, 3, 4 give classes 0, 1, 0.
StoredTree two_level_tree(double code) {
  return stored({0, -1, 1, -1, -1}, {1, 0, 3, 0, 0}, {0, 0, code, 0, 0}, {0, 0, 0, 1, 0}, {1, 0, 0, 0, 0});
}

const std::vector<int> kNcat{1, 4};

}  // namespace

TEST(Classify, OrdinalAndNominalNodes) {
  // Cases: genotypes of covariate 0 and 1.
  GenoStore g = store_of({0, 1, 3, 1, 1, 2}, {2, 0, 0, 2, 3, 1});
  StoredTree t = two_level_tree(13);  // categories 0 and 2 go right
  EXPECT_EQ(classify(t, g, kNcat, 0), 0);  // at the cut-off: left
  EXPECT_EQ(classify(t, g, kNcat, 1), 0);  // right, category 0: right again, node 4
  EXPECT_EQ(classify(t, g, kNcat, 2), 0);  // missing follows na_right, then category 0
  EXPECT_EQ(terminal_node(t, g, kNcat, 2), 4);
  EXPECT_EQ(classify(t, g, kNcat, 3), 0);  // category 2: node 4
  EXPECT_EQ(classify(t, g, kNcat, 4), 1);  // missing genotype, not in the set: left, node 3
  EXPECT_EQ(classify(t, g, kNcat, 5), 1);
  t.split_value[2] = 4;  // digit 4 names the missing genotype
  EXPECT_EQ(classify(t, g, kNcat, 4), 0);
  // Taking covariate 1 from another case changes the class only below node 2.
  EXPECT_EQ(classify_with_donor(t, g, kNcat, 5, 1, 4), 0);
  EXPECT_EQ(classify_with_donor(t, g, kNcat, 0, 1, 4), 0);
  EXPECT_EQ(classify_with_donor(t, g, kNcat, 5, 0, 0), 0);  // now left of the root
}

TEST(Importance, CovariatesTakingPart) {
  StoredTree t = two_level_tree(1);
  EXPECT_EQ(covariates_taking_part(t, {1, 1}), (std::vector<int>{0, 1}));
  EXPECT_EQ(covariates_taking_part(t, {1, 0}), (std::vector<int>{0}));  // screened out
  t.split_var[1] = 1;  // the first node naming covariate 1 is terminal
  EXPECT_EQ(covariates_taking_part(t, {1, 1}), (std::vector<int>{0}));
}

TEST(Importance, CovariateNotUsedAddsTheTreeError) {
  // A root on covariate 0 only; covariate 1 never splits.
  StoredTree t = stored({0, -1, -1}, {1, 0, 0}, {0, 0, 0}, {0, 0, 1}, {0, 0, 0});
  GenoStore g = store_of({0, 2, 0, 2}, {1, 1, 1, 1});
  DataSet d;
  d.ncov = 2;
  d.ncase = 4;
  d.nclass = 2;
  d.ncat = {1, 1};
  d.y = {0, 1, 1, 1};  // case 2 is misclassified
  OobTally tally(d.ncase, d.nclass, d.ncov);
  out_of_bag_pass(t, g, d, {0, 0, 0, 1}, {1, 1}, tally);
  EXPECT_EQ(tally.oob_err_total, 1);
  EXPECT_EQ(tally.perm_err[1], 1);
  EXPECT_EQ(tally.oob_votes, (std::vector<int>{1, 0, 0, 1, 1, 0, 0, 0}));
  // Case 3 was in the bag: no votes count as class 0, wrong for its class 1.
  EXPECT_DOUBLE_EQ(oob_error_rate(tally, d), 2.0 / 4);
  // Tied votes go to class 0.
  tally.oob_votes = {3, 3, 3, 3, 3, 3, 0, 0};
  EXPECT_DOUBLE_EQ(oob_error_rate(tally, d), 3.0 / 4);
}

TEST(Screen, MissingGenotypeShare) {
  std::vector<int> nine(95, 0), ten(95, 0);
  for (int i = 0; i < 9; ++i) nine[i] = kMissingGenotype;
  for (int i = 0; i < 10; ++i) ten[i] = kMissingGenotype;
  GenoStore g = store_of(nine, ten);
  int nusable = 0;
  EXPECT_EQ(screen_genotypes(g, 0.1, nusable), (std::vector<int>{1, 0}));
  EXPECT_EQ(nusable, 1);
  EXPECT_EQ(screen_genotypes(g, 0.0, nusable), (std::vector<int>{0, 0}));
  EXPECT_EQ(screen_genotypes(g, 1.0, nusable), (std::vector<int>{1, 1}));
}

namespace {

// Random genotypes 0 .. ncodes-1 (in columns); the class follows the first three covariates.
GenoStore random_genotypes(int ncase, int ncov, int ncodes, int nclass, unsigned seed, std::vector<int>& y) {
  GenoStore g = make_geno_store(ncov);
  y.assign(ncase, 0);
  unsigned x = seed;
  for (int i = 0; i < ncase; ++i) {
    add_geno_case(g);
    int signal = 0;
    for (int j = 0; j < ncov; ++j) {
      x = x * 1103515245u + 12345u;
      const int genotype = static_cast<int>((x >> 16) % ncodes);
      pack_genotype(g, j, i, genotype);
      if (j < 3) signal += genotype;
    }
    y[i] = static_cast<int>((signal + (x >> 8) % nclass) % nclass);
  }
  columns_from_rows(g);
  return g;
}

// Growth as plover grows its trees: entropy, nodes down to one case, candidates drawn among
// the usable covariates.
GrowSettings genotype_settings(int nclass, int nsplitvar, const std::vector<int>& usable) {
  GrowSettings s;
  s.search = {nclass, 1, 1};
  s.nsplitvar = nsplitvar;
  s.candidates = CandidateRule::draw_redrawing_unusable;
  s.var_usable = &usable;
  return s;
}

// The genotype store without its two-bit columns: every node is counted case by case.
struct CaseByCase {
  GenoCovariates g;
  GenoColumn column(int v) const { return g.column(v); }
  int ncode(int v) const { return g.ncode(v); }
  int missing(int v) const { return g.missing(v); }
  bool nominal(int v) const { return g.nominal(v); }
  double cut_value(int v, int code) const { return g.cut_value(v, code); }
};

}  // namespace

TEST(GrowTree, CountingByMasksGrowsTheSameTrees) {
  // Bootstrap samples of 600 cases over 30 covariates, a third of them nominal, three classes.
  const int ncase = 600, ncov = 30;
  std::vector<int> y, ncat(ncov);
  const GenoStore g = random_genotypes(ncase, ncov, 4, 3, 7, y);
  for (int j = 0; j < ncov; ++j) ncat[j] = j % 3 == 0 ? 4 : 1;
  std::vector<int> usable(ncov, 1);
  auto forest = [&](const auto& store) {
    const GrowSettings s = genotype_settings(3, 5, usable);
    GrowWork w(3, 4);
    TreeRecord t(1000, 3);
    seed_random(3);
    std::vector<int> sample(ncase), record;
    for (int k = 0; k < 10; ++k) {
      for (int& r : sample) r = rand_below(ncase);
      grow_tree(store, y.data(), sample.data(), ncase, t, s, w, [](const MadeSplit&) {});
      for (int i = 0; i < t.node_count; ++i) record.insert(record.end(), {t.left_daughter[i], t.split_var[i], static_cast<int>(t.split_value[i])});
    }
    return record;
  };
  const GenoCovariates by_masks{&g, &ncat};
  EXPECT_EQ(forest(by_masks), forest(CaseByCase{by_masks}));
}

TEST(Importance, BackgroundAndSideBySideFormsAgree) {
  // A grown tree's importance from a copy of the generator on one thread, and from the
  // process-wide generator with the descents on three threads: the same errors, and the
  // generator ends where the copy does.
  const int ncase = 3000, ncov = 40;
  DataSet d;
  d.ncov = ncov;
  d.ncase = ncase;
  d.nclass = 2;
  d.ncat.assign(ncov, 1);
  const GenoStore g = random_genotypes(ncase, ncov, 3, 2, 11, d.y);
  std::vector<int> usable(ncov, 1), in_bag(ncase, 0), sample(ncase);
  seed_random(21);
  for (int& r : sample) in_bag[r = rand_below(ncase)] = 1;
  const GrowSettings s = genotype_settings(2, 6, usable);
  GrowWork w(2, 4);
  TreeRecord t(1000, 2);
  const GenoCovariates store{&g, &d.ncat};
  grow_tree(store, d.y.data(), sample.data(), ncase, t, s, w, [](const MadeSplit&) {});
  const StoredTree tree = store_tree(t, d.y.data(), 2);

  OobTally first(ncase, 2, ncov), second(ncase, 2, ncov);
  TreeOob in_order, side_by_side;
  for (auto [tally, oob] : {std::pair{&first, &in_order}, std::pair{&second, &side_by_side}}) {
    list_out_of_bag(tree, in_bag, usable, *oob);
    classify_out_of_bag(tree, g, d, *tally, *oob);
  }
  ASSERT_GT(static_cast<long long>(in_order.used.size() * in_order.oob_cases.size()), 32768);  // worth threads
  RandomStream copy = random_stream();
  permuted_errors_in_order(tree, g, d, copy, in_order);
  WorkerPool pool(3);
  permuted_errors_side_by_side(tree, g, d, side_by_side, &pool);
  EXPECT_EQ(in_order.err, side_by_side.err);
  EXPECT_EQ(copy.state, random_state());
  add_permuted_errors(in_order, first);
  add_permuted_errors(side_by_side, second);
  EXPECT_EQ(first.perm_err, second.perm_err);
}
