// The searches of one level of a tree, on the pool, and the splits of its nodes in node order.
//
// The level's plan lists each node's candidates and the searches still to make (some results
// may be known already); the searches are handed out in runs ("chunks") of about equal work.
// The calling thread splits the nodes in node order, each as soon as its searches are done,
// and takes searches itself while it waits; the workers take searches. A split only rewrites
// its own node's slice and appends daughters, so it never disturbs the searches of the other
// nodes. A thread with nothing left to take sleeps until what it waits for is done.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "bit_counts.hpp"
#include "node_search.hpp"
#include "parallel.hpp"
#include "tree.hpp"

namespace forests {

// Levels with less search work than this (cases times candidates) are searched on one thread.
constexpr long long kParallelLevelWork = 4096;

// What the searches of a level read.
template <class Store>
struct LevelInputs {
  const Store& store;
  const int* y;
  const TreeRecord& t;
  int first;  // the level's first node
  const SearchSettings& search;
  std::vector<SplitScratch>& scratch;  // per thread
};

class LevelGrowth {
 public:
  // A new level of `count` nodes, none with a search planned.
  void plan(int count);
  // Node `node` of the level: its candidates and their results, filled by the searches.
  std::vector<int>& candidates(int node) { return candidates_[node]; }
  std::vector<Candidate>& results(int node) { return results_[node]; }
  // Plans the search of candidate k of node `node`, which holds `size` cases.
  void add_search(int node, int k, int size) {
    searches_.push_back({node, k});
    search_size_.push_back(size);
    work_ += size;
  }
  // Node `node` needs the result of its best candidate only: the others' may say less.
  void keep_best_only(int node) { best_only_[node] = 1; }
  // The class counts of node `node`'s cases (copies included) once its searches are done, where
  // they built its masks or class lists; nullptr otherwise.
  const std::vector<int>* class_totals(int node) const;
  // Puts the planned searches in covariate order, node order within a covariate: when the
  // nodes share their candidates, each column then comes from memory once for the level.
  void order_by_covariate();

  // Makes the planned searches and calls finish(i) for the level's nodes i in order, on the
  // calling thread (thread 0 of the pool), each once its searches are done. A failure stops
  // the level; the first one is passed on.
  template <class Store, class Finish>
  void run(const LevelInputs<Store>& in, WorkerPool* pool, Finish&& finish);

 private:
  struct Search {
    int node;
    int k;
  };
  // The pool when the level's work is worth it (else none), and the chunks for it.
  WorkerPool* share_out(WorkerPool* pool);
  // Mask states (when the store has two-bit columns) and scratch for the threads.
  void prepare_masks(bool masks, int threads);
  // Counts of searches left per node, for the threads of a pool.
  void prepare_waits();
  // Marks the searches from .. to-1 done, waking a thread that waits for their node.
  void release(int from, int to);
  // The chunk to search next, -1 when none is left.
  int next_chunk();

  template <class Store>
  void search_chunk(const LevelInputs<Store>& in, int chunk, int thread);
  template <class Store>
  void search_node(const LevelInputs<Store>& in, int from, int to, int end, int thread);
  template <class Store>
  const NodeMasks* node_masks(const LevelInputs<Store>& in, int node, int thread);
  template <class Store, class Finish>
  void finish_in_order(const LevelInputs<Store>& in, Finish& finish);
  template <class Store, class Finish>
  void run_alone(const LevelInputs<Store>& in, Finish& finish);

  int count_ = 0;
  std::vector<std::vector<int>> candidates_;
  std::vector<std::vector<Candidate>> results_;
  std::vector<char> best_only_;  // per node
  std::vector<Search> searches_;
  std::vector<int> search_size_;  // cases of each search's node
  long long work_ = 0;
  std::vector<int> chunks_;  // chunk c: searches chunks_[c] .. chunks_[c+1]-1
  std::unique_ptr<std::atomic<int>[]> left_;        // per node: searches not done yet
  std::unique_ptr<std::atomic<int>[]> mask_state_;  // per node: 0 to build, 1 being built, 2 built
  int waits_size_ = 0;
  bool masks_used_ = false;               // this level's store has two-bit columns
  std::vector<NodeMasks> masks_;          // per node, for stores of two-bit columns
  std::vector<std::vector<int>> copies_;  // per thread, for building masks
  // Shared by the threads of a level (held apart so that the tables can move).
  struct Progress {
    std::atomic<int> next_chunk{0};
    std::atomic<bool> failed{false};
    ProgressWaits waits;  // for a node's masks or its last searches
  };
  std::unique_ptr<Progress> progress_ = std::make_unique<Progress>();
  int next_to_finish_ = 0;
};

enum MaskState { kMasksToBuild = 0, kMasksBuilding = 1, kMasksBuilt = 2 };

// The masks of a node, built by the first of its searches to need them; the others wait.
// After a failed build the masks are not to be read: progress_->failed says so.
template <class Store>
const NodeMasks* LevelGrowth::node_masks(const LevelInputs<Store>& in, int node, int thread) {
  if constexpr (TwoBitColumns<Store>) {
    if (!in.store.has_two_bit_columns()) return nullptr;
    std::atomic<int>& state = mask_state_[node];
    int seen = state.load(std::memory_order_acquire);
    if (seen == kMasksBuilt) return &masks_[node];
    if (seen == kMasksToBuild && state.compare_exchange_strong(seen, kMasksBuilding, std::memory_order_acq_rel)) {
      const int i = in.first + node;
      try {
        build_node_masks(in.t.node_rows(i), in.t.count[i], in.y, in.search.nclass, copies_[thread], masks_[node]);
      } catch (...) {
        progress_->failed = true;  // before the waiting searches are let go
        state.store(kMasksBuilt, std::memory_order_release);
        progress_->waits.wake_all();
        throw;
      }
      state.store(kMasksBuilt, std::memory_order_release);
      progress_->waits.wake_all();
    } else {
      progress_->waits.wait_until([&] { return state.load(std::memory_order_acquire) == kMasksBuilt; });
    }
    return &masks_[node];
  } else {
    (void)in, (void)node, (void)thread;
    return nullptr;
  }
}

// Searches from .. to-1, all of one node; searches up to `end` may be fetched ahead. Columns of
// few codes wait in a batch and are weighed together. The node's masks are asked for once, by
// its first search of a two-bit column.
template <class Store>
void LevelGrowth::search_node(const LevelInputs<Store>& in, int from, int to, int end, int thread) {
  const int node = searches_[from].node;
  const int i = in.first + node;
  SplitScratch& w = in.scratch[thread];
  Candidate* results = results_[node].data();
  w.few_codes.start(best_only_[node] != 0);
  const NodeMasks* masks = nullptr;
  bool asked = false;
  FewCodeCounting counting = FewCodeCounting::none;
  for (int q = from; q < to && !progress_->failed.load(std::memory_order_relaxed); ++q) {
    const int k = searches_[q].k;
    const int v = candidates_[node][k];
    if constexpr (TwoBitColumns<Store>) {
      // The next search's column, and the record of the one after, are on their way from
      // memory while this one runs.
      if (q + 2 < end) in.store.prefetch_meta(candidates_[searches_[q + 2].node][searches_[q + 2].k]);
      if (q + 1 < end) {
        const int v1 = candidates_[searches_[q + 1].node][searches_[q + 1].k];
        const bool same_node = masks && (masks->active || masks->listed) && searches_[q + 1].node == node;
        const std::uint64_t* next = same_node ? in.store.two_bit_column(v1) : nullptr;
        if (next) {
          // Only the words that hold the node's cases.
          const char* from = reinterpret_cast<const char*>(next + masks->first_word);
          for (int b = 0; b < 8 * masks->nwords; b += 64) __builtin_prefetch(from + b);
        } else {
          in.store.prefetch_column(v1);
        }
      }
      if (!asked && in.store.two_bit_column(v)) {
        asked = true;
        masks = node_masks(in, node, thread);
        if (progress_->failed) return;  // the masks may be half built
        counting = few_code_counting(masks, in.search);
      }
      if (counting != FewCodeCounting::none && few_code_column(in.store, v)) {
        add_to_few_code_batch(in.store, v, k, *masks, counting, in.search, w.few_codes, results);
        continue;
      }
    }
    results[k] = search_candidate(in.store, v, in.t.node_rows(i), in.t.count[i], in.y, in.search, w, masks);
  }
  if (w.few_codes.size > 0) weigh_few_code_batch(w.few_codes, *masks, counting, in.search, results);
}

// The searches of one chunk; every search of it is released once, whatever happens.
template <class Store>
void LevelGrowth::search_chunk(const LevelInputs<Store>& in, int chunk, int thread) {
  const int end = chunks_[chunk + 1];
  int task = chunks_[chunk];
  try {
    while (task < end) {
      const int node = searches_[task].node;
      int stop = task;
      while (stop < end && searches_[stop].node == node) ++stop;
      search_node(in, task, stop, end, thread);
      release(task, stop);
      task = stop;
    }
  } catch (...) {
    progress_->failed = true;
    release(task, end);
    throw;
  }
}

template <class Store, class Finish>
void LevelGrowth::finish_in_order(const LevelInputs<Store>& in, Finish& finish) {
  for (; next_to_finish_ < count_ && !progress_->failed; ++next_to_finish_) {
    const int node = next_to_finish_;
    std::atomic<int>& left = left_[node];
    for (int seen; (seen = left.load(std::memory_order_acquire)) > 0;) {
      const int chunk = next_chunk();
      if (chunk >= 0)
        search_chunk(in, chunk, 0);
      else
        progress_->waits.wait_until([&] { return left.load(std::memory_order_acquire) != seen; });
    }
    if (progress_->failed) return;
    try {
      finish(in.first + node);
    } catch (...) {
      progress_->failed = true;  // the searches still running stop
      throw;
    }
  }
}

// Every search in plan order on this thread, then the nodes in order.
template <class Store, class Finish>
void LevelGrowth::run_alone(const LevelInputs<Store>& in, Finish& finish) {
  const int nsearch = static_cast<int>(searches_.size());
  for (int q = 0; q < nsearch;) {
    int stop = q;
    while (stop < nsearch && searches_[stop].node == searches_[q].node) ++stop;
    search_node(in, q, stop, nsearch, 0);
    q = stop;
  }
  for (int node = 0; node < count_; ++node) finish(in.first + node);
}

template <class Store, class Finish>
void LevelGrowth::run(const LevelInputs<Store>& in, WorkerPool* pool, Finish&& finish) {
  pool = share_out(pool);
  prepare_masks(TwoBitColumns<Store>, pool ? pool->threads() : 1);
  if (!pool) {
    run_alone(in, finish);
    return;
  }
  prepare_waits();
  // The pool runs thread 0 on this thread: it splits, so a worker busy elsewhere never holds
  // the level up. Should the workers take every turn, this thread splits after them.
  bool splitting = false;
  pool->run(pool->threads(), [&](int, int thread) {
    if (thread == 0) {
      if (!splitting) {
        splitting = true;
        finish_in_order(in, finish);
      }
    } else {
      for (int chunk; (chunk = next_chunk()) >= 0;) search_chunk(in, chunk, thread);
    }
  });
  finish_in_order(in, finish);
}

// Searches node i on each of `candidates` into `results` (in candidate order), on the pool when
// the work is worth it: the scoring of one node rather than a level of a growing tree.
// scratch: one per thread of the pool.
template <class Store>
void search_every_candidate(const Store& store, const int* y, const TreeRecord& t, int i,
                            const std::vector<int>& candidates, const SearchSettings& s,
                            std::vector<SplitScratch>& scratch, LevelGrowth& level, WorkerPool* pool,
                            std::vector<Candidate>& results) {
  level.plan(1);
  level.candidates(0) = candidates;
  level.results(0).resize(candidates.size());
  for (std::size_t k = 0; k < candidates.size(); ++k) level.add_search(0, static_cast<int>(k), t.count[i]);
  level.run(LevelInputs<Store>{store, y, t, i, s, scratch}, pool, [](int) {});
  results = level.results(0);
}

}  // namespace forests
