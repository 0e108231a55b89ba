// wren's deterministic forest: every tree is forced to take one of the ntop best root splits
// and one of the nsub best splits of each root daughter, and is grown greedily below.
#pragma once

#include <string>
#include <vector>

#include "coded_covariates.hpp"
#include "data_set.hpp"
#include "parallel.hpp"
#include "split_search.hpp"
#include "tree_growth.hpp"

namespace forests {

constexpr int kNodeCap = 31;

// One kept split; covariate -1 marks an empty row.
struct SplitRow {
  int covariate = -1;
  Candidate split{};  // score, cut-off or Gray-code step, cut code, na_right
};

struct SplitTables {
  int ntop = 0;
  int nsub = 0;
  std::vector<SplitRow> top_splits;    // row r: the r-th best root split
  std::vector<SplitRow> left_splits;   // row i*nsub + r: the r-th best split of node 1 under top row i
  std::vector<SplitRow> right_splits;  // the same for node 2
};

// What growth reads, fixed for the whole forest.
struct ForestData {
  const DataSet* d = nullptr;
  CodedCovariates store;
  std::vector<std::vector<int>> spelling;  // see uniform_spellings
  std::vector<int> var_usable;
  std::vector<int> all_rows;  // every data row, ascending
  SearchSettings search;
};

ForestData make_forest_data(const DataSet& d, const std::vector<int>& var_usable, int minnode);

// Work tables of growth on one thread, reused by every node.
GrowWork make_grow_work(const ForestData& f);

// Below the forced levels every node takes the best split over the usable covariates; trees
// that share the splits above a node share its search through the memo.
GrowSettings greedy_settings(const ForestData& f, SearchMemo* memo);

// A grown tree and the cut-off of each ordinal split as the data file spelled it.
struct GrownTree {
  TreeRecord t;
  std::vector<std::string> cut_text;  // per node
};

GrownTree make_grown_tree(const ForestData& f);

// The exchange ranking of covariates by score: for each position i from the first, every later
// position whose score is strictly greater is swapped with it, leaving the scores descending and
// the best split last. Returns the covariates read from the last position backwards, at most
// `want` of them and only those scoring below `limit`: best first, equal scores in the order the
// exchange leaves them.
std::vector<int> rank_by_exchange(const std::vector<double>& score, int want, double limit);

// Scores node v of `t` over the usable covariates and fills at most `limit` rows of `table`
// from `first_row` with its best splits, best first. An empty or unsplittable node fills none.
void score_node(const ForestData& f, const TreeRecord& t, int v, int limit, std::vector<SplitRow>& table,
                int first_row, GrowWork& w, WorkerPool* pool = nullptr);

// Scores the root once, then each root daughter once per kept root split.
SplitTables prepare_split_tables(const ForestData& f, int ntop, int nsub, TreeRecord& t, GrowWork& w,
                                 WorkerPool* pool = nullptr);

// Grows tree number `tree` (root rank, then left rank, then right rank) into `g`. A node's
// cases, and so its split, follow from the splits above it: the trees of one root split share
// `memo`, which starts empty for each root split (trees of different root splits share no node
// below the root).
void grow_forced_tree(const ForestData& f, const SplitTables& s, int tree, GrownTree& g, GrowWork& w,
                      SearchMemo& memo);

}  // namespace forests
