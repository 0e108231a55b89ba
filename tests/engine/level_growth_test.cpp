// Level growth on the pool against growth on one thread, and failures inside a parallel level.
#include <gtest/gtest.h>

#include <random>

#include "coded_covariates.hpp"
#include "random.hpp"
#include "read_text.hpp"
#include "tree_growth.hpp"

using namespace forests;

namespace {

// Mixed ordinal and nominal covariates with missing cells; the class leans on the first three.
std::string mixed_training_text(int ncase, int ncov, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s;
  for (int j = 0; j < ncov; ++j) s += j % 4 == 3 ? "n " : "o ";
  s += "r\n";
  for (int j = 0; j < ncov; ++j) {
    s += 'v';
    s += std::to_string(j);
    s += ' ';
  }
  s += "y\n";
  for (int i = 0; i < ncase; ++i) {
    int signal = 0;
    for (int j = 0; j < ncov; ++j) {
      const int v = static_cast<int>(rng() % (j % 4 == 3 ? 5 : 30));
      if (j < 3) signal += v;
      s += rng() % 40 == 0 ? "NA " : std::to_string(v) + " ";
    }
    s += std::to_string((signal + static_cast<int>(rng() % 25)) % 3) + "\n";
  }
  return s;
}

// The coded covariates, except that searching covariate `failing` throws Failure.
struct Failure {
  int covariate;
};
struct FailingStore {
  const CodedCovariates* store;
  int failing;
  CodeColumn column(int v) const {
    if (v == failing) throw Failure{v};
    return store->column(v);
  }
  int ncode(int v) const { return store->ncode(v); }
  int missing(int v) const { return store->missing(v); }
  bool nominal(int v) const { return store->nominal(v); }
  double cut_value(int v, int code) const { return store->cut_value(v, code); }
};

struct Forest {
  ReadResult data;
  CodedCovariates store;
  std::vector<int> usable, list, sample;

  explicit Forest(const std::string& text) : data(read_text(text)), store(data.d.codes) {
    EXPECT_EQ(data.error, "");
    for (int j = 0; j < data.d.ncov; ++j) {
      usable.push_back(j != 2);
      if (j != 2) list.push_back(j);
    }
  }

  GrowSettings settings(CandidateRule rule, int nsplitvar) const {
    GrowSettings g;
    g.search = {data.d.nclass, 2, 0};
    g.candidates = rule;
    g.nsplitvar = nsplitvar;
    g.least_decrease = 0.00001;
    g.var_usable = &usable;
    g.var_pool = &list;
    return g;
  }

  // Every tree's nodes and hand-overs, trees on bootstrap samples.
  template <class Store>
  std::vector<int> grow(const Store& s, const GrowSettings& g, WorkerPool* pool, int ntree, int capacity = 1000) {
    GrowWork w(data.d.nclass, 100, pool);
    TreeRecord t(capacity, data.d.nclass);
    seed_random(17);
    const int n = data.d.ncase;
    std::vector<int> rows(n), record;
    for (int k = 0; k < ntree; ++k) {
      for (int& r : rows) r = rand_below(n);
      grow_tree(s, data.d.y.data(), rows.data(), n, t, g, w, [&](const MadeSplit& m) {
        record.insert(record.end(), {m.covariate, m.node, m.size, m.split.cut_code});
        record.insert(record.end(), m.table.begin(), m.table.end());
      });
      for (int i = 0; i < t.node_count; ++i)
        record.insert(record.end(), {t.left_daughter[i], t.split_var[i], t.na_right[i], static_cast<int>(t.split_value[i] * 1000)});
    }
    return record;
  }
};

}  // namespace

TEST(LevelGrowth, ThreadsGrowTheSameTreesForEveryCandidateRule) {
  // Large enough levels to be searched on the pool; small trees so that nodes near the
  // capacity are grown one at a time too.
  Forest f(mixed_training_text(2500, 13, 4));
  WorkerPool pool(3);
  for (CandidateRule rule :
       {CandidateRule::draw_from_usable_list, CandidateRule::draw_redrawing_unusable, CandidateRule::every_usable}) {
    const GrowSettings g = f.settings(rule, 4);
    for (int capacity : {1000, 21}) {
      const std::vector<int> alone = f.grow(f.store, g, nullptr, 6, capacity);
      EXPECT_EQ(f.grow(f.store, g, &pool, 6, capacity), alone) << static_cast<int>(rule) << " " << capacity;
    }
  }
}

TEST(LevelGrowth, AFailureInsideAParallelLevelIsPassedOnAsItIs) {
  Forest f(mixed_training_text(2500, 13, 8));
  const GrowSettings g = f.settings(CandidateRule::draw_from_usable_list, 6);
  WorkerPool pool(3);
  for (int round = 0; round < 30; ++round) {
    const FailingStore failing{&f.store, 5 + round % 7};
    try {
      f.grow(failing, g, &pool, 3);
      ADD_FAILURE() << "no failure in round " << round;
    } catch (const Failure& e) {
      EXPECT_EQ(e.covariate, failing.failing);
    }
  }
  // A failure of the thread that splits the nodes stops the level the same way.
  GrowWork w(f.data.d.nclass, 100, &pool);
  TreeRecord t(1000, f.data.d.nclass);
  std::vector<int> all(f.data.d.ncase);
  for (int i = 0; i < f.data.d.ncase; ++i) all[i] = i;
  for (int fail_at : {0, 1, 4}) {
    EXPECT_THROW(grow_tree(f.store, f.data.d.y.data(), all.data(), f.data.d.ncase, t, g, w,
                           [&](const MadeSplit& m) {
                             if (m.node == fail_at) throw Failure{-1};
                           }),
                 Failure);
  }
  // The pool and the work tables serve the next tree as before.
  const GrowSettings every = f.settings(CandidateRule::every_usable, 0);
  EXPECT_EQ(f.grow(f.store, every, &pool, 2), f.grow(f.store, every, nullptr, 2));
}
