// wren's deterministic forest: every tree is forced to take one of the ntop best root splits
// and one of the nsub best splits of each root daughter, and is grown greedily below.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "coded_covariates.hpp"
#include "data_set.hpp"
#include "parallel.hpp"
#include "split_search.hpp"
#include "tree.hpp"

constexpr int kNodeCap = 31;

// One kept split; covariate -1 marks an empty row.
struct SplitRow {
  int covariate = -1;
  Candidate split{};  // score, cut-off or Gray-code step, cut code, na_right
  std::string text;   // ordinal cut-off as the data file spelled it
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

// Work tables reused by every node.
struct GrowScratch {
  SplitScratch search;
  std::vector<int> present;
  std::vector<char> right;
};

GrowScratch make_grow_scratch(const ForestData& f);

// The exchange ranking of covariates by score: for each position i from the first, every later
// position whose score is strictly greater is swapped with it, leaving the scores descending and
// the best split last. Returns the covariates read from the last position backwards, at most
// `want` of them and only those scoring below `limit`: best first, equal scores in the order the
// exchange leaves them.
std::vector<int> rank_by_exchange(const std::vector<double>& score, int want, double limit);

// Scores node v of `t` over the usable covariates and fills at most `limit` rows of `table`
// from `first_row` with its best splits, best first. An empty or unsplittable node fills none.
void score_node(const ForestData& f, const TreeRecord& t, int v, int limit, std::vector<SplitRow>& table,
                int first_row, GrowScratch& w, WorkerPool* pool = nullptr);

// Scores the root once, then each root daughter once per kept root split.
SplitTables prepare_split_tables(const ForestData& f, int ntop, int nsub, TreeRecord& t, GrowScratch& w,
                                 WorkerPool* pool = nullptr);

// Greedy splits found so far. A node's cases, and so its split, follow from the root row, the
// daughter row above it and its path of left and right steps below that daughter: trees that
// share these share the node.
struct SplitMemo {
  std::map<std::tuple<int, int, unsigned>, SplitRow> by_node;  // (daughter row, side, path)
};

// Grows tree number `tree` (root rank, then left rank, then right rank) into `t`.
void grow_forced_tree(const ForestData& f, const SplitTables& s, int tree, TreeRecord& t, GrowScratch& w,
                      SplitMemo& memo);
