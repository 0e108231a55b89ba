// The growth of one tree: which covariates a node searches, the choice of its split, and the
// breadth-first order of the nodes, level by level.
#pragma once

#include <optional>
#include <vector>

#include "level_growth.hpp"
#include "node_search.hpp"
#include "parallel.hpp"
#include "search_memo.hpp"
#include "split_search.hpp"
#include "tree.hpp"

namespace forests {

// Which covariates a node searches.
enum class CandidateRule {
  draw_from_usable_list,    // nsplitvar distinct positions of the list of usable covariates
  draw_redrawing_unusable,  // nsplitvar distinct covariates, an unusable draw drawn again
  every_usable,             // every usable covariate, in index order
};

struct GrowSettings {
  SearchSettings search;
  CandidateRule candidates = CandidateRule::draw_from_usable_list;
  int nsplitvar = 0;  // covariates drawn per node
  // Splits that lower the node impurity by less are refused; none: every admissible split is made.
  std::optional<double> least_decrease;
  const std::vector<int>* var_usable = nullptr;
  const std::vector<int>* var_pool = nullptr;  // the usable covariates in index order
  SearchMemo* memo = nullptr;  // only when every tree has the same cases and classes
};

// The number of candidates per node: the given one, or the whole part of sqrt(nusable). More
// than nusable could never be drawn distinct: that stops the run.
int candidates_per_node(bool given, int nsplitvar, int nusable);

// The node's candidate covariates by the settings' rule, drawn ones distinct and in draw order.
// drawn: marks of the draws, all clear between calls.
void choose_candidates(const GrowSettings& g, std::vector<int>& candidates, std::vector<char>& drawn);

// What on_split hears of each split made.
struct MadeSplit {
  int covariate;
  int node;
  int size;                       // the node's cases
  const std::vector<int>& table;  // the split table
  const Candidate& split;
};

// Work tables of tree growth, kept from tree to tree.
struct GrowWork {
  WorkerPool* pool = nullptr;
  std::vector<SplitScratch> scratch;  // searches: one per thread
  std::vector<char> drawn;            // candidate draws
  std::vector<char> known;            // per candidate of a node: result recalled from the memo
  MemoPlaces memo;                    // each node's entry in the memo
  CategorySides sides;                // nominal splits
  LevelGrowth level;                  // the level being grown

  GrowWork(int nclass, int max_codes, WorkerPool* pool = nullptr);
};

// Splits node i on covariate v by the search result c, gives its daughters their memo places
// and tells on_split.
template <class Store, class OnSplit>
void split_node(const Store& store, const int* y, TreeRecord& t, int i, int v, const Candidate& c,
                const GrowSettings& g, GrowWork& work, OnSplit& on_split) {
  const int size = t.count[i];
  apply_split(store, t, i, v, c, y, g.search.nclass, work.sides);
  work.memo.follow_split(t, i, v);
  on_split(MadeSplit{v, i, size, t.split_table, c});
}

// Picks the best of a node's searched candidates (the first of equal scores, in candidate
// order) and splits the node unless it is refused. totals: the node's class counts where its
// searches found them, else nullptr.
template <class Store, class OnSplit>
void finish_node(const Store& store, const int* y, TreeRecord& t, int i, const std::vector<int>& candidates,
                 const std::vector<Candidate>& results, const std::vector<int>* totals, const GrowSettings& g,
                 GrowWork& work, OnSplit& on_split) {
  const int nclass = g.search.nclass;
  if (g.candidates != CandidateRule::every_usable) work.memo.remember(i, candidates, results);
  Candidate best{static_cast<double>(nclass), 0.0, -1, 0};
  int best_v = -1;
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    if (results[k].score < best.score) {
      best = results[k];
      best_v = candidates[k];
    }
  }
  // The best one's split is recorded even when the node is not split; its value only now, as
  // reading a cut-off's value table may wait on memory.
  if (best_v >= 0) {
    t.split_var[i] = best_v;
    t.split_value[i] = split_value(store, best_v, best);
    t.na_right[i] = best.na_right;
  }
  if (g.candidates == CandidateRule::every_usable) work.memo.remember_best(i, best_v, best);
  if (!(best.score < nclass)) return;
  if (g.least_decrease) {
    const int size = t.count[i];
    if (!totals) {
      SplitScratch& w = work.scratch[0];
      std::fill(w.total.begin(), w.total.end(), 0);
      const int* rows = t.node_rows(i);
      for (int k = 0; k < size; ++k) ++w.total[y[rows[k]]];
      totals = &w.total;
    }
    if (node_impurity(totals->data(), size, nclass, g.search.impurity_rule) - best.score < *g.least_decrease) return;
  }
  split_node(store, y, t, i, best_v, best, g, work, on_split);
}

// Plans the searches of node i (position `node` of its level): none when it may not split,
// only those the memo does not know otherwise.
template <class Store>
void plan_node(const Store& store, const int* y, const TreeRecord& t, int i, int node, const GrowSettings& g,
               GrowWork& work) {
  std::vector<int>& candidates = work.level.candidates(node);
  std::vector<Candidate>& results = work.level.results(node);
  candidates.clear();
  const int size = t.count[i];
  if (!node_splittable(store, t.node_rows(i), size, y, *g.var_usable)) return;
  if (g.candidates == CandidateRule::every_usable && work.memo.recall_best(i, candidates, results)) return;
  choose_candidates(g, candidates, work.drawn);
  results.resize(candidates.size());
  work.memo.recall(i, candidates, results, work.known);
  // finish_node reads the other candidates' results only to keep them in the memo.
  if (g.candidates == CandidateRule::every_usable || !work.memo.keeps(i)) work.level.keep_best_only(node);
  // Fewer than twice minnode cases admit no split: the candidates are drawn all the same (the
  // draws that follow depend on it), but their searches would find nothing (and their
  // covariates' records need not be read).
  const bool admits_no_split = size < 2LL * g.search.minnode;
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    if (work.known[k]) continue;
    if (admits_no_split)
      results[k] = no_split_result(g.search.nclass);
    else
      work.level.add_search(node, static_cast<int>(k), size);
  }
}

// The planned searches of the level from node `first` on, then its nodes' splits in order.
template <class Store, class OnSplit>
void search_and_finish_level(const Store& store, const int* y, TreeRecord& t, int first, const GrowSettings& g,
                             GrowWork& work, WorkerPool* pool, OnSplit& on_split) {
  const LevelInputs<Store> in{store, y, t, first, g.search, work.scratch};
  work.level.run(in, pool, [&](int i) {
    const int node = i - first;
    finish_node(store, y, t, i, work.level.candidates(node), work.level.results(node), work.level.class_totals(node), g,
                work, on_split);
  });
}

// The nodes first .. last-1 of one level. Whether a node is split, and the draws, never depend
// on the searches of the same level (no node of it can meet the capacity), so the draws are
// taken in node order first; then the searches run on the pool while the nodes are split in
// node order.
template <class Store, class OnSplit>
void grow_level(const Store& store, const int* y, TreeRecord& t, int first, int last, const GrowSettings& g,
                GrowWork& work, OnSplit& on_split) {
  work.level.plan(last - first);
  for (int i = first; i < last; ++i) {
    node_cases(t, i);  // a node without cases stops the run
    plan_node(store, y, t, i, i - first, g, work);
  }
  if (g.candidates == CandidateRule::every_usable) work.level.order_by_covariate();
  search_and_finish_level(store, y, t, first, g, work, work.pool, on_split);
}

// One node on its own, when earlier splits of its level decide whether it may still split.
template <class Store, class OnSplit>
void grow_node(const Store& store, const int* y, TreeRecord& t, int i, const GrowSettings& g, GrowWork& work,
               OnSplit& on_split) {
  node_cases(t, i);  // a node without cases stops the run
  if (t.node_count >= t.capacity - 1) return;
  work.level.plan(1);
  plan_node(store, y, t, i, 0, g, work);
  search_and_finish_level(store, y, t, i, g, work, nullptr, on_split);
}

// A new tree on the sample (data rows sample_rows[0..n-1]): every case in the root.
void start_tree(const int* sample_rows, int n, TreeRecord& t, const GrowSettings& g, GrowWork& work);

// Grows the tree breadth-first from node `first` on (the first node of a level): nodes are
// split in number order while fewer than capacity-1 nodes exist. on_split(MadeSplit) is called
// after every split made.
template <class Store, class OnSplit>
void grow_from(const Store& store, const int* y, int first, TreeRecord& t, const GrowSettings& g, GrowWork& work,
               OnSplit&& on_split) {
  while (first < t.node_count) {
    const int last = t.node_count;
    if (last + 2 * (last - 1 - first) < t.capacity - 1) {
      grow_level(store, y, t, first, last, g, work, on_split);
    } else {
      for (int i = first; i < last; ++i) grow_node(store, y, t, i, g, work, on_split);
    }
    first = last;
  }
}

// Grows one tree on the sample from its root.
template <class Store, class OnSplit>
void grow_tree(const Store& store, const int* y, const int* sample_rows, int n, TreeRecord& t, const GrowSettings& g,
               GrowWork& work, OnSplit&& on_split) {
  start_tree(sample_rows, n, t, g, work);
  grow_from(store, y, 0, t, g, work, on_split);
}

}  // namespace forests
