// The tree record and the breadth-first growth of one tree.
//
// A tree is a set of parallel per-node arrays; node 0 is the root and the daughters of a split
// node i are dt[i] (left) and dt[i] + 1 (right), appended at the end. The cases of the sample
// are kept in one array `rows` (their data rows) in which every node owns a contiguous slice,
// in sample order; a split divides the slice with a stable partition.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "bit_counts.hpp"
#include "fatal.hpp"
#include "parallel.hpp"
#include "split_search.hpp"

struct TreeRecord {
  int capacity = 0;
  int nnd = 1;
  std::vector<int> spv, dt, na_right, parent, node_size, nodeclass;
  std::vector<double> spvl;
  std::vector<std::string> spvl_char;  // wren: the cut-off as the data file spelled it
  std::vector<int> begin, count;       // each node's slice of `rows`
  std::vector<int> rows;               // data row of every sample case
  std::vector<int> split_table;        // 2*nclass counts of the last split
  std::vector<int> scratch_rows;

  TreeRecord(int capacity, int nclass);

  // Every case in the root, every node slot cleared (dt 0, spv -1, spvl 0.0, na_right 0).
  void reset(const int* sample_rows, int n);

  const int* node_rows(int i) const { return rows.data() + begin[i]; }
};

// The node's cases: their data rows and number. A node without cases stops the run with the
// empty-node message naming its parent's split.
int node_cases(const TreeRecord& t, int i);

// Partitions node i's cases to new daughters nnd (left) and nnd+1 (right) by goes_right(row),
// fills the split table (class c: right count at 2(nclass-1-c), left count next to it) and
// appends the daughters.
template <class GoesRight>
void partition_node(TreeRecord& t, int i, const int* y, int nclass, GoesRight&& goes_right) {
  std::fill(t.split_table.begin(), t.split_table.end(), 0);
  int* slice = t.rows.data() + t.begin[i];
  const int n = t.count[i];
  int nleft = 0, nright = 0;
  for (int k = 0; k < n; ++k) {
    const int row = slice[k];
    const int cell = 2 * (nclass - 1 - y[row]);
    if (goes_right(row)) {
      t.scratch_rows[nright++] = row;
      ++t.split_table[cell];
    } else {
      slice[nleft++] = row;
      ++t.split_table[cell + 1];
    }
  }
  std::copy(t.scratch_rows.begin(), t.scratch_rows.begin() + nright, slice + nleft);
  const int left = t.nnd;
  t.begin[left] = t.begin[i];
  t.count[left] = nleft;
  t.begin[left + 1] = t.begin[i] + nleft;
  t.count[left + 1] = nright;
  t.parent[left] = t.parent[left + 1] = i;
  t.dt[i] = left;
  t.nnd += 2;
}

// Whether a node may be split: more than one case, at least two classes, and some usable
// covariate (in index order) with two different codes among its cases.
template <class Store>
bool node_splittable(const Store& store, const int* rows, int n, const int* y, const std::vector<int>& var_usable) {
  if (n <= 1) return false;
  bool two_classes = false;
  for (int k = 1; k < n && !two_classes; ++k) two_classes = y[rows[k]] != y[rows[0]];
  if (!two_classes) return false;
  const int ncov = static_cast<int>(var_usable.size());
  for (int v = 0; v < ncov; ++v) {
    if (!var_usable[v]) continue;
    auto col = store.column(v);
    const int first = col(rows[0]);
    for (int k = 1; k < n; ++k)
      if (col(rows[k]) != first) return true;
  }
  return false;
}

// The best split of one candidate covariate at a node.
struct Candidate {
  double score;
  double value;  // ordinal: the cut-off; nominal: the Gray-code step
  int cut_code;
  int na_right;
};

// A store whose covariates are two-bit columns (32 cases to a word) can count large nodes by
// bit masks.
template <class Store>
concept TwoBitColumns = requires(const Store& store, int v) { store.two_bit_column(v); };

template <class Store>
Candidate search_candidate(const Store& store, int v, const int* rows, int n, const int* y, const SearchSettings& s,
                           SplitScratch& w, const NodeMasks* masks = nullptr) {
  if constexpr (TwoBitColumns<Store>) {
    if (masks && masks->active && store.two_bit_column(v)) {
      count_by_masks(store.two_bit_column(v), *masks, w.hist.data());
      std::copy(masks->total.begin(), masks->total.end(), w.total.begin());
      if (store.nominal(v)) {
        NominalSplit r = sweep_nominal_categories(store.ncode(v), store.missing(v), n, s, w);
        return {r.score, static_cast<double>(r.step), -1, 0};
      }
      OrdinalSplit r = ordinal_split_counted(store.ncode(v), store.missing(v), n, s, w);
      return {r.score, r.cut_code >= 0 ? store.cut_value(v, r.cut_code) : 0.0, r.cut_code, r.na_right};
    }
  }
  auto col = store.column(v);
  if (store.nominal(v)) {
    NominalSplit r = nominal_split(col, store.ncode(v), store.missing(v), rows, n, y, s, w);
    return {r.score, static_cast<double>(r.step), -1, 0};
  }
  OrdinalSplit r = ordinal_split(col, store.ncode(v), store.missing(v), rows, n, y, s, w);
  return {r.score, r.cut_code >= 0 ? store.cut_value(v, r.cut_code) : 0.0, r.cut_code, r.na_right};
}

// Splits node i on covariate v with the search's result: a nominal step becomes the category
// set code in spvl[i]; an ordinal split sends missing codes by na_right and larger codes right.
template <class Store>
void apply_split(const Store& store, TreeRecord& t, int i, int v, const Candidate& c, const int* y, int nclass,
                 std::vector<int>& present, std::vector<char>& right) {
  t.spv[i] = v;
  auto col = store.column(v);
  if (store.nominal(v)) {
    present_categories(col, store.ncode(v), t.node_rows(i), t.count[i], present);
    right.assign(store.ncode(v), 0);
    t.spvl[i] = encode_category_set(present, static_cast<int>(c.value), right);
    partition_node(t, i, y, nclass, [&](int row) { return right[col(row)] != 0; });
  } else {
    t.spvl[i] = c.value;
    t.na_right[i] = c.na_right;
    const int missing = store.missing(v);
    const int cut = c.cut_code;
    const bool na_right = c.na_right != 0;
    partition_node(t, i, y, nclass, [&](int row) {
      const int code = col(row);
      return code == missing ? na_right : code > cut;
    });
  }
}

// Search results of nodes that recur from tree to tree. When every tree grows on the same cases
// with the same classes (kestrel within a pass), a node's cases follow from the covariates and
// sides of the splits above it, so a candidate's search at a recurring node gives the result it
// gave before. Only nodes of at least min_size cases are kept, within a memory budget.
struct SearchMemo {
  struct Entry {
    std::vector<Candidate> result;           // per covariate
    std::vector<char> known;                 // per covariate: result searched
    std::vector<std::pair<int, int>> child;  // (2 * covariate + side, entry)
  };
  int ncov = 0;
  int min_size = 64;
  std::size_t max_entries = 0;
  std::vector<Entry> entries;  // entry 0: the root

  // Forgets everything (the classes changed).
  void reset(int ncov);
  // The entry of a daughter of `entry` split on covariate v; -1 when the budget is spent.
  int daughter(int entry, int v, int side);
};

struct GrowSettings {
  SearchSettings search;
  int nsplitvar = 0;
  bool impurity_test = false;  // refuse splits that lower the node impurity by less than 0.00001
  bool draw_from_pool = true;  // draw positions in var_pool; otherwise covariates, redrawing unusable ones
  const std::vector<int>* var_usable = nullptr;
  const std::vector<int>* var_pool = nullptr;
  SearchMemo* memo = nullptr;  // only when every tree has the same sample and classes
};

// The number of candidates per node: the given one, or the whole part of sqrt(nusable). More
// than nusable could never be drawn distinct: that stops the run.
int candidates_per_node(bool given, int nsplitvar, int nusable);

// Work tables of tree growth, kept from tree to tree: a search scratch per thread, and the
// candidates and search results of the nodes of one level.
struct GrowWork {
  WorkerPool* pool = nullptr;
  std::vector<SplitScratch> scratch;  // per thread
  std::vector<std::vector<int>> candidates;
  std::vector<std::vector<Candidate>> results;
  std::vector<std::pair<int, int>> tasks;  // (node, candidate position)
  std::vector<int> task_work;               // the node's cases
  std::vector<int> chunks;                  // tasks handed out together: [chunks[c], chunks[c+1])
  std::vector<char> drawn;                 // marks of the covariates (or pool positions) drawn
  std::vector<int> present;
  std::vector<char> right;
  std::vector<NodeMasks> masks;           // per node of a level, for stores of two-bit columns
  std::vector<int> mask_state;            // per node of a level: 0 to build, 1 being built, 2 built
  std::vector<std::vector<int>> copies;   // per thread
  std::vector<int> node_tasks;            // per node of a level: searches not done yet
  std::vector<int> memo_entry;  // per node of the tree: its memo entry, -1 for none
  std::vector<char> known;      // per candidate of a node: result recalled from the memo

  GrowWork(int nclass, int max_codes, WorkerPool* pool = nullptr);
};

// Draws the node's candidate covariates, distinct, in draw order.
void draw_candidates(const GrowSettings& g, std::vector<int>& candidates, std::vector<char>& drawn);

// Levels with less search work than this (cases times candidates) are searched on one thread.
constexpr long long kParallelLevelWork = 4096;

// Picks the best of a node's searched candidates (the first of equal scores, in draw order) and
// splits the node unless it is refused.
template <class Store, class OnSplit>
void finish_node(const Store& store, const int* y, TreeRecord& t, int i, const std::vector<int>& candidates,
                 const std::vector<Candidate>& results, const GrowSettings& g, GrowWork& work, SplitScratch& w,
                 OnSplit& on_split) {
  const int nclass = g.search.nclass;
  Candidate best{static_cast<double>(nclass), 0.0, -1, 0};
  int best_v = -1;
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    const Candidate& c = results[k];
    if (c.score < best.score) {
      best = c;
      best_v = candidates[k];
      t.spv[i] = best_v;
      t.spvl[i] = c.value;
      t.na_right[i] = c.na_right;
    }
  }
  if (!(best.score < nclass)) return;
  const int size = t.count[i];
  if (g.impurity_test) {
    std::fill(w.total.begin(), w.total.end(), 0);
    const int* rows = t.node_rows(i);
    for (int k = 0; k < size; ++k) ++w.total[y[rows[k]]];
    if (node_impurity(w.total.data(), size, nclass, g.search.impurity_rule) - best.score < 0.00001) return;
  }
  apply_split(store, t, i, best_v, best, y, nclass, work.present, work.right);
  if (g.memo && work.memo_entry[i] >= 0) {
    for (int side = 0; side < 2; ++side)
      if (t.count[t.dt[i] + side] >= g.memo->min_size)
        work.memo_entry[t.dt[i] + side] = g.memo->daughter(work.memo_entry[i], best_v, side);
  }
  on_split(best_v, i, size, t.split_table);
}

// The node's known results from the memo; the others are left to search. True when some are left.
inline bool recall_searches(const GrowSettings& g, GrowWork& work, int i, const std::vector<int>& candidates,
                            std::vector<Candidate>& results, std::vector<char>& known) {
  known.assign(candidates.size(), 0);
  const int e = g.memo ? work.memo_entry[i] : -1;
  bool left = false;
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    if (e >= 0 && g.memo->entries[e].known[candidates[k]]) {
      results[k] = g.memo->entries[e].result[candidates[k]];
      known[k] = 1;
    } else {
      left = true;
    }
  }
  return left;
}

inline void remember_search(const GrowSettings& g, GrowWork& work, int i, int v, const Candidate& c) {
  const int e = g.memo ? work.memo_entry[i] : -1;
  if (e < 0) return;
  g.memo->entries[e].result[v] = c;
  g.memo->entries[e].known[v] = 1;
}

// The searches of a level and the splits of its nodes. One thread splits the nodes in node
// order, each as soon as its searches are done, and takes searches itself while it waits; the
// others take searches. A split only rewrites its own node's slice and appends daughters, so
// it never disturbs the searches of the other nodes.
template <class Store, class OnSplit>
void search_and_finish_level(const Store& store, const int* y, TreeRecord& t, int first, int last,
                             const GrowSettings& g, GrowWork& work, WorkerPool* pool, OnSplit& on_split) {
  const int count = last - first;
  const int nchunks = static_cast<int>(work.chunks.size()) - 1;
  const int threads = pool ? pool->threads() : 1;
  work.node_tasks.assign(count, 0);
  for (const auto& [node, k] : work.tasks) ++work.node_tasks[node];
  if constexpr (TwoBitColumns<Store>) {
    if (static_cast<int>(work.masks.size()) < count) work.masks.resize(count);
    // A store without two-bit columns needs no masks: they count as built and inactive.
    const bool two_bit = store.has_two_bit_columns();
    for (int k = 0; k < count && !two_bit; ++k) work.masks[k].active = false;
    work.mask_state.assign(count, two_bit ? 0 : 2);
    if (static_cast<int>(work.copies.size()) < threads) work.copies.resize(threads);
  }
  std::atomic<int> next_chunk{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  std::mutex error_mutex;
  // The masks of a node, built by the first of its searches to need them; the others wait.
  auto node_masks = [&](int node, int thread) -> const NodeMasks* {
    if constexpr (TwoBitColumns<Store>) {
      std::atomic_ref<int> state(work.mask_state[node]);
      if (state.load(std::memory_order_acquire) != 2) {
        int expected = 0;
        if (state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
          const int i = first + node;
          try {
            build_node_masks(t.node_rows(i), t.count[i], y, g.search.nclass, work.copies[thread], work.masks[node]);
          } catch (...) {
            failed = true;  // before the waiting searches are let go
            state.store(2, std::memory_order_release);
            throw;
          }
          state.store(2, std::memory_order_release);
        } else {
          while (state.load(std::memory_order_acquire) != 2) cpu_relax();
          if (failed) throw std::runtime_error("level abandoned");
        }
      }
      return &work.masks[node];
    } else {
      return nullptr;
    }
  };
  // The searches of one run of tasks; each node's count of searches left drops once per run.
  auto search_chunk = [&](int chunk, int thread) {
    const int end = work.chunks[chunk + 1];
    for (int task = work.chunks[chunk]; task < end;) {
      const int node = work.tasks[task].first;
      const int i = first + node;
      int done = 0;
      try {
        if (failed.load(std::memory_order_relaxed)) throw std::runtime_error("level abandoned");
        const NodeMasks* masks = node_masks(node, thread);
        for (; task < end && work.tasks[task].first == node; ++task, ++done) {
          if constexpr (TwoBitColumns<Store>) {
            // The next search's column is on its way from memory while this one runs.
            if (task + 1 < end) {
              const auto [next_node, next_k] = work.tasks[task + 1];
              store.prefetch_column(work.candidates[next_node][next_k]);
            }
          }
          const int k = work.tasks[task].second;
          work.results[node][k] = search_candidate(store, work.candidates[node][k], t.node_rows(i), t.count[i], y,
                                                   g.search, work.scratch[thread], masks);
        }
      } catch (...) {
        std::lock_guard<std::mutex> lock(error_mutex);
        if (!error) error = std::current_exception();
        failed = true;
        for (; task < end && work.tasks[task].first == node; ++task) ++done;
      }
      std::atomic_ref<int>(work.node_tasks[node]).fetch_sub(done, std::memory_order_release);
    }
  };
  auto take_chunk = [&](int thread) {
    const int chunk = next_chunk.fetch_add(1);
    if (chunk >= nchunks) return false;
    search_chunk(chunk, thread);
    return true;
  };
  int next_to_finish = first;
  auto finish_in_order = [&](int thread) {
    for (; next_to_finish < last && !failed; ++next_to_finish) {
      const int i = next_to_finish, node = i - first;
      while (std::atomic_ref<int>(work.node_tasks[node]).load(std::memory_order_acquire) > 0)
        if (!take_chunk(thread)) cpu_relax();
      if (failed) break;
      if (g.memo) {
        for (std::size_t k = 0; k < work.candidates[node].size(); ++k)
          remember_search(g, work, i, work.candidates[node][k], work.results[node][k]);
      }
      finish_node(store, y, t, i, work.candidates[node], work.results[node], g, work, work.scratch[thread], on_split);
    }
  };
  // The calling thread splits the nodes: a worker busy elsewhere never holds the level up.
  // Should the workers take every turn, the calling thread splits after them.
  bool splitting = false;
  run_tasks(pool, threads, [&](int, int thread) {
    if (thread == 0 && !splitting) {
      splitting = true;
      finish_in_order(thread);
    } else {
      while (take_chunk(thread)) {
      }
    }
  });
  finish_in_order(0);
  if (error) std::rethrow_exception(error);
}

// The nodes first .. last-1 of one level. Whether a node is split, and the draws, never depend
// on the searches of the same level (no node of it can meet the capacity), so the draws are
// taken in node order first; then the searches run on the pool while the nodes are split in
// node order.
template <class Store, class OnSplit>
void grow_level(const Store& store, const int* y, TreeRecord& t, int first, int last, const GrowSettings& g,
                GrowWork& work, OnSplit& on_split) {
  const int count = last - first;
  if (static_cast<int>(work.candidates.size()) < count) {
    work.candidates.resize(count);
    work.results.resize(count);
  }
  work.tasks.clear();
  work.task_work.clear();
  long long total = 0;
  for (int i = first; i < last; ++i) {
    const int size = node_cases(t, i);
    t.node_size[i] = size;
    std::vector<int>& candidates = work.candidates[i - first];
    candidates.clear();
    if (!node_splittable(store, t.node_rows(i), size, y, *g.var_usable)) continue;
    draw_candidates(g, candidates, work.drawn);
    work.results[i - first].resize(candidates.size());
    recall_searches(g, work, i, candidates, work.results[i - first], work.known);
    for (std::size_t k = 0; k < candidates.size(); ++k) {
      if (work.known[k]) continue;
      work.tasks.emplace_back(i - first, static_cast<int>(k));
      work.task_work.push_back(size);
      total += size;
    }
  }
  // Searches are handed out in runs of about equal work, so that small nodes do not cost a
  // hand-over each.
  WorkerPool* pool = total >= kParallelLevelWork ? work.pool : nullptr;
  work.chunks.assign(1, 0);
  if (pool) {
    const long long per_chunk = std::max<long long>(total / (8LL * pool->threads()), 1024);
    long long acc = 0;
    for (std::size_t k = 0; k < work.tasks.size(); ++k) {
      acc += work.task_work[k];
      if (acc >= per_chunk) {
        work.chunks.push_back(static_cast<int>(k + 1));
        acc = 0;
      }
    }
  }
  if (work.chunks.back() != static_cast<int>(work.tasks.size())) work.chunks.push_back(static_cast<int>(work.tasks.size()));
  search_and_finish_level(store, y, t, first, last, g, work, pool, on_split);
}

// One node on its own, when earlier splits of its level decide whether it may still split.
template <class Store, class OnSplit>
void grow_node(const Store& store, const int* y, TreeRecord& t, int i, const GrowSettings& g, GrowWork& work,
               OnSplit& on_split) {
  const int size = node_cases(t, i);
  t.node_size[i] = size;
  if (t.nnd >= t.capacity - 1) return;
  std::vector<int>& candidates = work.candidates[0];
  candidates.clear();
  if (!node_splittable(store, t.node_rows(i), size, y, *g.var_usable)) return;
  draw_candidates(g, candidates, work.drawn);
  std::vector<Candidate>& results = work.results[0];
  results.resize(candidates.size());
  recall_searches(g, work, i, candidates, results, work.known);
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    if (work.known[k]) continue;
    results[k] = search_candidate(store, candidates[k], t.node_rows(i), size, y, g.search, work.scratch[0]);
    remember_search(g, work, i, candidates[k], results[k]);
  }
  finish_node(store, y, t, i, candidates, results, g, work, work.scratch[0], on_split);
}

// Grows one tree on the sample (data rows sample_rows[0..n-1]) breadth-first: nodes are split in
// number order while fewer than capacity-1 nodes exist. on_split(v, i, node_size, split_table)
// is called after every accepted split.
template <class Store, class OnSplit>
void grow_tree(const Store& store, const int* y, const int* sample_rows, int n, TreeRecord& t, const GrowSettings& g,
               GrowWork& work, OnSplit&& on_split) {
  t.reset(sample_rows, n);
  work.memo_entry.assign(t.capacity, -1);
  if (g.memo && !g.memo->entries.empty()) work.memo_entry[0] = 0;
  if (work.candidates.empty()) {
    work.candidates.resize(1);
    work.results.resize(1);
  }
  for (int first = 0; first < t.nnd;) {
    const int last = t.nnd;
    if (last + 2 * (last - 1 - first) < t.capacity - 1) {
      grow_level(store, y, t, first, last, g, work, on_split);
    } else {
      for (int i = first; i < last; ++i) grow_node(store, y, t, i, g, work, on_split);
    }
    first = last;
  }
}
