// The search of one node: whether it may split, the best split of one candidate covariate
// (dispatched to the search that suits the covariate and the store), and the split itself.
#pragma once

#include <algorithm>
#include <vector>

#include "bit_counts.hpp"
#include "split_search.hpp"
#include "tree.hpp"

namespace forests {

// read(column) with covariate v's column; stores with a quicker form for some widths overload it.
template <class Store, class Read>
decltype(auto) with_column(const Store& store, int v, Read&& read) {
  return read(store.column(v));
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
  double value;  // nominal: the Gray-code step (an ordinal cut-off: see split_value)
  int cut_code;  // ordinal: the code of the cut-off, -1 for none
  int na_right;
};

// A store whose covariates are two-bit columns (32 cases to a word) can count large nodes by
// bit masks.
template <class Store>
concept TwoBitColumns = requires(const Store& store, int v) { store.two_bit_column(v); };

// A search's result as a candidate: an ordinal cut-off as its code, a nominal subset as its
// Gray-code step.
inline Candidate as_candidate(const OrdinalSplit& r) { return {r.score, 0.0, r.cut_code, r.na_right}; }
inline Candidate as_candidate(const NominalSplit& r) { return {r.score, static_cast<double>(r.step), -1, 0}; }

// The split value of covariate v by candidate c: an ordinal cut-off read from the value table
// (only for splits made: a wide table lies far from the cache), a nominal Gray-code step.
template <class Store>
double split_value(const Store& store, int v, const Candidate& c) {
  if (store.nominal(v)) return c.value;
  return c.cut_code >= 0 ? store.cut_value(v, c.cut_code) : 0.0;
}

template <class Store>
Candidate search_candidate(const Store& store, int v, const int* rows, int n, const int* y, const SearchSettings& s,
                           SplitScratch& w, const NodeMasks* masks = nullptr) {
  if constexpr (TwoBitColumns<Store>) {
    if (masks && (masks->active || masks->listed) && store.two_bit_column(v)) {
      count_by_masks(store.two_bit_column(v), *masks, w.hist.data());
      std::copy(masks->total.begin(), masks->total.end(), w.total.begin());
      if (store.nominal(v)) return as_candidate(sweep_nominal_categories(store.ncode(v), store.missing(v), n, s, w));
      return as_candidate(ordinal_split_counted(store.ncode(v), store.missing(v), n, s, w));
    }
  }
  return with_column(store, v, [&](const auto& col) {
    if (store.nominal(v)) return as_candidate(nominal_split(col, store.ncode(v), store.missing(v), rows, n, y, s, w));
    return as_candidate(ordinal_split(col, store.ncode(v), store.missing(v), rows, n, y, s, w));
  });
}

// How a node's searches of few-code columns wait in a batch: not at all, counted one by one
// by the node's masks, or counted together over its listed cases. They wait at two-class nodes
// under the Gini index, whose masks (or class lists) are built.
enum class FewCodeCounting { none, by_masks, listed };

inline FewCodeCounting few_code_counting(const NodeMasks* masks, const SearchSettings& s) {
  if (!masks || !(masks->active || masks->listed) || s.nclass != 2 || s.impurity_rule == 1)
    return FewCodeCounting::none;
  return counts_listed_columns(*masks) ? FewCodeCounting::listed : FewCodeCounting::by_masks;
}

// Whether covariate v is a two-bit ordinal column of few values.
template <class Store>
bool few_code_column(const Store& store, int v) {
  return store.two_bit_column(v) && !store.nominal(v) && has_few_values(store.ncode(v), store.missing(v));
}

// Weighs the batch's columns into their results and empties it. A listed node's columns are
// counted first, all at once.
inline void weigh_few_code_batch(FewCodeBatch& batch, const NodeMasks& masks, FewCodeCounting counting,
                                 const SearchSettings& s, Candidate* results) {
  static_assert(kListedColumns == kFewCodeLanes);
  if (counting == FewCodeCounting::listed) count_listed_columns(batch.column, batch.size, masks, batch.count);
  OrdinalSplit out[kFewCodeLanes];
  few_code_gini_splits(batch, s.minnode, out);
  for (int k = 0; k < batch.size; ++k) results[batch.slot[k]] = as_candidate(out[k]);
  batch.size = 0;
}

// Puts covariate v (a few_code_column) in the batch, its result due at results[slot]; a full
// batch is weighed. The columns of a node of listed cases wait to be counted together.
template <class Store>
void add_to_few_code_batch(const Store& store, int v, int slot, const NodeMasks& masks, FewCodeCounting counting,
                           const SearchSettings& s, FewCodeBatch& batch, Candidate* results) {
  if (counting == FewCodeCounting::listed) {
    batch.add_column(store.two_bit_column(v), store.ncode(v), store.missing(v), slot);
  } else {
    int hist[8];
    count_by_masks(store.two_bit_column(v), masks, hist);
    batch.add(hist, store.ncode(v), store.missing(v), slot);
  }
  if (batch.size == kFewCodeLanes) weigh_few_code_batch(batch, masks, counting, s, results);
}

// What the search of any covariate comes to at a node without an admissible cut or subset
// (fewer than twice minnode cases): the score of no split, nclass, which is never chosen; the
// other fields are never read.
inline Candidate no_split_result(int nclass) { return {static_cast<double>(nclass), 0.0, -1, 0}; }

// Work tables of a nominal split: the categories present at the node and the side of each.
struct CategorySides {
  std::vector<int> present;
  std::vector<char> right;
};

// Splits node i on covariate v with the search's result: a nominal step becomes the category
// set code in split_value[i]; an ordinal split sends missing codes by na_right and larger codes right.
template <class Store>
void apply_split(const Store& store, TreeRecord& t, int i, int v, const Candidate& c, const int* y, int nclass,
                 CategorySides& sides) {
  t.split_var[i] = v;
  with_column(store, v, [&](const auto& col) {
    if (store.nominal(v)) {
      present_categories(col, store.ncode(v), t.node_rows(i), t.count[i], sides.present);
      sides.right.assign(store.ncode(v), 0);
      t.split_value[i] = encode_category_set(sides.present, static_cast<int>(c.value), sides.right);
      partition_node(t, i, y, nclass, [&](int row) { return sides.right[col(row)] != 0; });
      return;
    }
    t.split_value[i] = split_value(store, v, c);
    t.na_right[i] = c.na_right;
    const int missing = store.missing(v);
    const int cut = c.cut_code;
    const bool na_right = c.na_right != 0;
    partition_node(t, i, y, nclass, [&](int row) {
      const int code = col(row);
      return code == missing ? na_right : code > cut;
    });
  });
}

}  // namespace forests
