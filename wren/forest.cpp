#include "forest.hpp"

#include <algorithm>
#include <numeric>

#include "cut_text.hpp"

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

GrowScratch make_grow_scratch(const ForestData& f) {
  int max_codes = 1;
  for (int v = 0; v < f.d->ncov; ++v) max_codes = std::max(max_codes, f.store.ncode(v));
  GrowScratch w;
  w.search.prepare(f.search.nclass, max_codes);
  return w;
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

std::string split_text(const ForestData& f, const TreeRecord& t, int v, int covariate, const Candidate& c) {
  if (f.store.nominal(covariate)) return {};
  return cut_off_text(*f.d, f.store, f.spelling, covariate, c.cut_code, t.node_rows(v), t.count[v]);
}

void split_by(const ForestData& f, TreeRecord& t, int v, const SplitRow& row, GrowScratch& w) {
  apply_split(f.store, t, v, row.covariate, row.split, f.d->y.data(), f.search.nclass, w.present, w.right);
  t.spvl_char[v] = row.text;
}

// Below the forced levels: the best split over the usable covariates, the first of equal scores;
// covariate -1 when the node stays terminal.
SplitRow best_split(const ForestData& f, const TreeRecord& t, int v, GrowScratch& w) {
  const int n = t.count[v];
  const int* rows = t.node_rows(v);
  const int* y = f.d->y.data();
  SplitRow best;
  if (!node_splittable(f.store, rows, n, y, f.var_usable)) return best;
  best.split.score = f.search.nclass;
  for (int j = 0; j < f.d->ncov; ++j) {
    if (!f.var_usable[j]) continue;
    Candidate c = search_candidate(f.store, j, rows, n, y, f.search, w.search);
    if (c.score < best.split.score) {
      best.covariate = j;
      best.split = c;
    }
  }
  if (best.covariate >= 0) best.text = split_text(f, t, v, best.covariate, best.split);
  return best;
}

}  // namespace

void score_node(const ForestData& f, const TreeRecord& t, int v, int limit, std::vector<SplitRow>& table,
                int first_row, GrowScratch& w, WorkerPool* pool) {
  const int n = t.count[v];
  if (n == 0) return;
  const int p = f.d->ncov;
  const double nclass = f.search.nclass;
  const int* rows = t.node_rows(v);
  const int* y = f.d->y.data();
  std::vector<double> score(p, 2 * nclass);
  std::vector<Candidate> found(p);
  if (node_splittable(f.store, rows, n, y, f.var_usable)) {
    // The covariates' searches are independent: on the pool, a scratch table per thread.
    std::vector<GrowScratch> extra;
    for (int k = 1; k < (pool ? pool->threads() : 1); ++k) extra.push_back(make_grow_scratch(f));
    run_tasks(pool, p, [&](int j, int thread) {
      if (!f.var_usable[j]) return;
      GrowScratch& mine = thread == 0 ? w : extra[thread - 1];
      found[j] = search_candidate(f.store, j, rows, n, y, f.search, mine.search);
      score[j] = found[j].score;
    });
  }
  const std::vector<int> best = rank_by_exchange(score, limit, nclass);
  for (std::size_t r = 0; r < best.size(); ++r) {
    const int j = best[r];
    SplitRow& row = table[first_row + r];
    row.covariate = j;
    row.split = found[j];
    row.text = split_text(f, t, v, j, found[j]);
  }
}

SplitTables prepare_split_tables(const ForestData& f, int ntop, int nsub, TreeRecord& t, GrowScratch& w,
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
    split_by(f, t, 0, s.top_splits[i], w);
    score_node(f, t, 1, nsub, s.left_splits, i * nsub, w, pool);
    score_node(f, t, 2, nsub, s.right_splits, i * nsub, w, pool);
  }
  return s;
}

void grow_forced_tree(const ForestData& f, const SplitTables& s, int tree, TreeRecord& t, GrowScratch& w,
                      SplitMemo& memo) {
  const int per_root = s.nsub * s.nsub;
  const int i = tree / per_root;
  const int a = (tree - i * per_root) / s.nsub;
  const int b = tree - i * per_root - a * s.nsub;
  const SplitRow* forced[3] = {&s.top_splits[i], &s.left_splits[i * s.nsub + a], &s.right_splits[i * s.nsub + b]};
  // Each node's key into the memo: the daughter row above it, the side, and its path below that
  // daughter as bits after a leading 1.
  int row[kNodeCap] = {0, i * s.nsub + a, i * s.nsub + b};
  int side[kNodeCap] = {0, 1, 2};
  unsigned path[kNodeCap] = {0, 1, 1};
  t.reset(f.all_rows.data(), static_cast<int>(f.all_rows.size()));
  for (int v = 0; v < t.nnd; ++v) {
    t.node_size[v] = node_cases(t, v);
    if (v < 3) {
      if (forced[v]->covariate >= 0) split_by(f, t, v, *forced[v], w);
    } else if (t.nnd < kNodeCap - 1) {
      const auto key = std::make_tuple(row[v], side[v], path[v]);
      auto found = memo.by_node.find(key);
      if (found == memo.by_node.end()) found = memo.by_node.emplace(key, best_split(f, t, v, w)).first;
      if (found->second.covariate >= 0) split_by(f, t, v, found->second, w);
    }
    if (v > 0 && t.dt[v] != 0) {
      for (int k = 0; k < 2; ++k) {
        row[t.dt[v] + k] = row[v];
        side[t.dt[v] + k] = side[v];
        path[t.dt[v] + k] = 2 * path[v] + k;
      }
    }
  }
}
