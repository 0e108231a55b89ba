// The memo of searches at nodes that recur from tree to tree, and each node's place in it.
//
// When trees grow on the same cases with the same classes (the trees of one pass over the
// whole data, or trees that share a forced split), a node's cases follow from the covariates
// and sides of the splits above it, so a candidate's search at a recurring node gives the
// result it gave before. A node is known by that path: its entry is a daughter of its
// parent's entry.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "node_search.hpp"
#include "tree.hpp"

namespace forests {

struct SearchMemo {
  static constexpr int kBestUnknown = -2;
  // A node's kept results sit in a table of open addressing by covariate, so that a node of
  // wide data holds only the covariates searched at it.
  struct Entry {
    std::vector<int> slot_covariate;         // -1: an empty slot
    std::vector<Candidate> slot_result;
    int kept = 0;
    int best = kBestUnknown;                 // a node searched on every usable covariate: its best one, -1 none
    Candidate best_result{};
    std::vector<std::pair<int, int>> child;  // (2 * covariate + side, entry)
    int depth = 0;                           // of its nodes: 0 for the root
  };
  int min_size = 64;  // smaller daughters get no entry: their searches are cheap
  std::size_t budget = std::size_t{64} << 20;  // bytes of entries and results
  std::size_t used = 0;
  std::vector<Entry> entries;  // entry 0: the root
  // On wide data a node below the root seldom recurs with the same candidates, and keeping its
  // results costs more than the few searches it spares: a depth whose entries answer fewer
  // than this share of the candidates asked for, once it has been asked enough, gets no new
  // entries. 0: every depth keeps entries.
  double least_hit_share = 0.0;
  long long depth_trial = 4096;  // candidates asked for at a depth before its share decides
  std::vector<long long> asked_at_depth, answered_at_depth;

  // Forgets everything (the cases or classes changed).
  void reset(int min_size);
  // The entry of a daughter of `entry` split on covariate v; -1 when the budget is spent or the
  // daughter's depth does not pay.
  int daughter(int entry, int v, int side);
  // Whether entries at this depth pay for themselves, as far as known.
  bool depth_pays(int depth) const;
  // Counts candidates asked for at an entry of this depth, and those it knew.
  void count_answers(int depth, long long asked, long long answered);
  // Keeps covariate v's result at the entry, unless the budget is spent.
  void keep(int entry, int v, const Candidate& c);
  // Covariate v's kept result at the entry, or none.
  const Candidate* kept_result(const Entry& e, int v) const;

  // Room for `more` results at the entry besides those kept; false when the budget is spent.
  bool make_room(Entry& e, int more);
};

// Each node's entry in the memo while one tree grows; -1 for none (or no memo).
struct MemoPlaces {
  SearchMemo* memo = nullptr;
  std::vector<int> entry;

  // A new tree: only its root has a place (entry 0).
  void start(SearchMemo* memo, int capacity);
  // The places of the daughters of node i, just split on covariate v.
  void follow_split(const TreeRecord& t, int i, int v);

  // Fills the results the memo knows for node i's candidates and marks them known; true when
  // some are left to search.
  bool recall(int i, const std::vector<int>& candidates, std::vector<Candidate>& results,
              std::vector<char>& known) const;
  // Whether remember() keeps node i's results.
  bool keeps(int i) const { return memo && entry[i] >= 0; }
  // Keeps node i's results of its candidates.
  void remember(int i, const std::vector<int>& candidates, const std::vector<Candidate>& results);

  // A node searched on every usable covariate recurs with the same best one: when the memo
  // knows it, the candidates become that one (none: the node stays whole) with its result.
  bool recall_best(int i, std::vector<int>& candidates, std::vector<Candidate>& results) const;
  void remember_best(int i, int v, const Candidate& c);
};

}  // namespace forests
