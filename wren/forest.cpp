#include "forest.hpp"

#include <algorithm>
#include <iterator>
#include <numeric>

#include "cut_text.hpp"

namespace forests {

ForestData make_forest_data(const DataSet& d, const std::vector<int>& var_usable, int minnode) {
  ForestData f;
  f.d = &d;
  f.store = d.codes;
  f.spelling = uniform_spellings(d, f.store);
  f.var_usable = var_usable;
  f.all_rows.resize(d.ncase);
  std::iota(f.all_rows.begin(), f.all_rows.end(), 0);
  f.search = {d.nclass, minnode, 1};
  return f;
}

GrowWork make_grow_work(const ForestData& f) {
  int max_codes = 1;
  for (int v = 0; v < f.d->ncov; ++v) max_codes = std::max(max_codes, f.store.ncode(v));
  return GrowWork(f.search.nclass, max_codes);
}

GrowSettings greedy_settings(const ForestData& f, SearchMemo* memo) {
  GrowSettings g;
  g.search = f.search;
  g.candidates = CandidateRule::every_usable;
  g.var_usable = &f.var_usable;
  g.memo = memo;
  return g;
}

GrownTree make_grown_tree(const ForestData& f) {
  return {TreeRecord(kNodeCap, f.search.nclass), std::vector<std::string>(kNodeCap)};
}

// Only the scores that can be taken are followed: those up to the `want`-th smallest below the
// limit ("small"). The others ("big") only ever swap among themselves once one of them holds
// position i, so a pass whose holder is big is skipped, and a pass whose holder is small ends at
// the first big score after it.
std::vector<int> rank_by_exchange(const std::vector<double>& score, int want, double limit) {
  std::vector<double> below;
  for (double x : score)
    if (x < limit) below.push_back(x);
  const int take = std::min(want, static_cast<int>(below.size()));
  if (take <= 0) return {};
  std::nth_element(below.begin(), below.begin() + (take - 1), below.end());
  const double largest_small = below[take - 1];

  const int p = static_cast<int>(score.size());
  std::vector<double> sorted = score;
  std::vector<int> rank(p);
  std::iota(rank.begin(), rank.end(), 0);
  auto small = [&](int k) { return sorted[k] <= largest_small; };
  auto exchange = [&](int i, int j) {
    std::swap(sorted[i], sorted[j]);
    std::swap(rank[i], rank[j]);
  };
  for (int i = 0; i < p - 1; ++i) {
    if (!small(i)) continue;
    for (int j = i + 1; j < p; ++j) {
      const bool big = !small(j);
      if (big || sorted[j] > sorted[i]) exchange(i, j);
      if (big) break;
    }
  }
  std::vector<int> best;
  for (int r = 0; r < take; ++r) best.push_back(rank[p - 1 - r]);
  return best;
}

namespace {

// The cases of node v, just split, in data-row order: each daughter keeps them in that order.
std::vector<int> split_node_rows(const TreeRecord& t, int v) {
  const int left = t.left_daughter[v];
  std::vector<int> rows;
  rows.reserve(t.count[v]);
  std::merge(t.node_rows(left), t.node_rows(left) + t.count[left], t.node_rows(left + 1),
             t.node_rows(left + 1) + t.count[left + 1], std::back_inserter(rows));
  return rows;
}

std::string split_text(const ForestData& f, const TreeRecord& t, int v, int covariate, const Candidate& c) {
  if (f.store.nominal(covariate)) return {};
  const std::vector<int> rows = split_node_rows(t, v);
  return cut_off_text(*f.d, f.store, f.spelling, covariate, c.cut_code, rows.data(), static_cast<int>(rows.size()));
}

}  // namespace

void score_node(const ForestData& f, const TreeRecord& t, int v, int limit, std::vector<SplitRow>& table,
                int first_row, GrowWork& w, WorkerPool* pool) {
  const int n = t.count[v];
  if (n == 0) return;
  const int p = f.d->ncov;
  const double nclass = f.search.nclass;
  const int* rows = t.node_rows(v);
  const int* y = f.d->y.data();
  std::vector<double> score(p, 2 * nclass);
  std::vector<Candidate> found(p);
  if (node_splittable(f.store, rows, n, y, f.var_usable)) {
    std::vector<int> usable;
    for (int j = 0; j < p; ++j)
      if (f.var_usable[j]) usable.push_back(j);
    std::vector<SplitScratch> scratch(pool ? pool->threads() : 1, w.scratch[0]);
    std::vector<Candidate> results;
    search_every_candidate(f.store, y, t, v, usable, f.search, scratch, w.level, pool, results);
    for (std::size_t k = 0; k < usable.size(); ++k) {
      found[usable[k]] = results[k];
      score[usable[k]] = results[k].score;
    }
  }
  const std::vector<int> best = rank_by_exchange(score, limit, nclass);
  for (std::size_t r = 0; r < best.size(); ++r) {
    const int j = best[r];
    SplitRow& row = table[first_row + r];
    row.covariate = j;
    row.split = found[j];
  }
}

SplitTables prepare_split_tables(const ForestData& f, int ntop, int nsub, TreeRecord& t, GrowWork& w,
                                 WorkerPool* pool) {
  SplitTables s;
  s.ntop = ntop;
  s.nsub = nsub;
  s.top_splits.resize(ntop);
  s.left_splits.resize(static_cast<std::size_t>(ntop) * nsub);
  s.right_splits.resize(static_cast<std::size_t>(ntop) * nsub);
  const int n = static_cast<int>(f.all_rows.size());
  t.reset(f.all_rows.data(), n);
  score_node(f, t, 0, ntop, s.top_splits, 0, w, pool);
  for (int i = 0; i < ntop; ++i) {
    if (s.top_splits[i].covariate < 0) continue;  // the root stays whole: its daughters are empty
    t.reset(f.all_rows.data(), n);
    apply_split(f.store, t, 0, s.top_splits[i].covariate, s.top_splits[i].split, f.d->y.data(), f.search.nclass,
                w.sides);
    score_node(f, t, 1, nsub, s.left_splits, i * nsub, w, pool);
    score_node(f, t, 2, nsub, s.right_splits, i * nsub, w, pool);
  }
  return s;
}

void grow_forced_tree(const ForestData& f, const SplitTables& s, int tree, GrownTree& g, GrowWork& w,
                      SearchMemo& memo) {
  const int per_root = s.nsub * s.nsub;
  const int i = tree / per_root;
  const int a = (tree - i * per_root) / s.nsub;
  const int b = tree - i * per_root - a * s.nsub;
  const SplitRow* forced[3] = {&s.top_splits[i], &s.left_splits[i * s.nsub + a], &s.right_splits[i * s.nsub + b]};
  const GrowSettings settings = greedy_settings(f, &memo);
  const int* y = f.d->y.data();
  TreeRecord& t = g.t;
  auto on_split = [&](const MadeSplit& m) { g.cut_text[m.node] = split_text(f, t, m.node, m.covariate, m.split); };
  start_tree(f.all_rows.data(), static_cast<int>(f.all_rows.size()), t, settings, w);
  for (int v = 0; v < 3 && v < t.node_count; ++v) {
    node_cases(t, v);  // a node without cases stops the run
    if (forced[v]->covariate >= 0) split_node(f.store, y, t, v, forced[v]->covariate, forced[v]->split, settings, w, on_split);
  }
  grow_from(f.store, y, 3, t, settings, w, on_split);
}

}  // namespace forests
