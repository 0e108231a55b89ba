// Split searches at one node: the best cut-off of an ordinal covariate and the best category
// subset of a nominal one. Written once over a column-access type (codes per data row), so
// every program and every covariate store shares them.
//
// A column `col` answers col(row) with a small integer code: for an ordinal covariate codes are
// ordered like the values, and one code (`missing`, or -1) stands for a missing value; for a
// nominal covariate the code is the category.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "cpu_features.hpp"
#include "key_sort.hpp"

namespace forests {

struct SearchSettings {
  int nclass = 2;
  int minnode = 1;
  int impurity_rule = 0;  // 1 entropy, any other value Gini
};

struct OrdinalSplit {
  double score;  // nclass when no admissible cut exists
  int cut_code;  // code of the largest value sent left
  int na_right;  // 1: missing values go right
};

struct NominalSplit {
  double score;  // nclass when no admissible subset exists
  int step;      // Gray-code step of the best subset
};

// What the searches return when no cut (subset) is admissible; they start from it.
inline OrdinalSplit no_admissible_cut(int nclass) { return {static_cast<double>(nclass), -1, 0}; }
inline NominalSplit no_admissible_subset(int nclass) { return {static_cast<double>(nclass), 1}; }

// Columns of few values whose counts wait to be weighed together, one vector lane each: the
// divisions of several columns then overlap, and no branch picks a column's best cut.
constexpr int kFewCodeLanes = 8;
struct FewCodeBatch {
  int count[8][kFewCodeLanes] = {};       // [code * 2 + class][column], codes 0 .. 3
  int missing_value[kFewCodeLanes] = {};  // the missing code where it is one of the column's codes, else 4
  int slot[kFewCodeLanes] = {};           // where the caller wants each column's result
  const std::uint64_t* column[kFewCodeLanes] = {};  // two-bit columns whose counts are still to come
  int size = 0;
  // Where only the node's best column counts (the others' results are read for nothing but to
  // be passed over): a batch whose every column falls short of the best one weighed so far is
  // not weighed exactly, its columns getting no_admissible_cut. The best one so far: its best
  // cut's screening ratio beat_n / beat_d (0 for none), its score and its number of cases.
  bool best_only = false;
  double beat_n = 0.0, beat_d = 1.0, beat_score = 2.0, beat_cases = 0.0;
  // A new node's batch: empty, nothing weighed.
  void start(bool only_best) {
    size = 0;
    best_only = only_best;
    beat_n = 0.0;
    beat_d = 1.0;
    beat_score = 2.0;
    beat_cases = 0.0;
  }
  // Counts hist[code * 2 + class] (codes 0 .. ncode-1, at most kFewValues besides `missing`,
  // or -1) as the next column.
  void add(const int* hist, int ncode, int missing, int result_slot) {
    for (int c = 0; c < 2 * ncode; ++c) count[c][size] = hist[c];
    for (int c = 2 * ncode; c < 8; ++c) count[c][size] = 0;
    add_column(nullptr, ncode, missing, result_slot);
  }
  // A two-bit column as the next one, to be counted into `count` before the batch is weighed.
  void add_column(const std::uint64_t* two_bits, int ncode, int missing, int result_slot) {
    column[size] = two_bits;
    missing_value[size] = missing >= 0 && missing < ncode ? missing : 4;
    slot[size++] = result_slot;
  }
};

// Work tables of the searches, reused for every node of a tree.
struct SplitScratch {
  std::vector<int> left, right, total, miss;
  std::vector<int> hist;            // code * nclass + class
  std::vector<int> run_code, run_size, run_cls;
  std::vector<std::uint64_t> keys;  // code << 32 | class
  std::vector<std::uint64_t> code_bits;  // codes present in the node, one bit each
  std::vector<int> sparse_hist;          // code * nclass + class; all zero between searches
  // Two classes, per cut (or subset): left class counts before the missing cases; under entropy
  // also the last code left. The estimate that screens the cut (cut_sum under Gini).
  std::vector<int> cut_l0, cut_l1, cut_code;
  std::vector<float> cut_sum;
  std::vector<std::uint8_t> cut_inner;  // cut inside a one-class stretch
  std::vector<double> cut_score;
  std::vector<double> x_log_x;                        // x log x for x = 0, 1, ...: entropy estimates
  FewCodeBatch few_codes;
  void prepare(int nclass, int max_codes);
};

double split_impurity(const int* left, int nL, const int* right, int nR, int n, int nclass, int impurity_rule);
double node_impurity(const int* counts, int n, int nclass, int impurity_rule);

// The sweep over the non-missing runs (ascending codes) with both missing-value passes.
// Runs are in scratch.run_code/run_size/run_cls (run_size only with more than two classes);
// missing class counts in scratch.miss (m cases); class totals in scratch.total.
OrdinalSplit sweep_ordinal_runs(int nruns, int m, int n, const SearchSettings& s, SplitScratch& w);

// Gray-code enumeration over per-category class counts (scratch.hist, `ncode` categories).
NominalSplit sweep_nominal_categories(int ncode, int missing, int n, const SearchSettings& s, SplitScratch& w);

// Right-going categories of the Gray-code step among the present ones: fills right[c] and
// returns the category set code (one decimal digit c+1 per right-going category, ascending).
double encode_category_set(const std::vector<int>& present, int step, std::vector<char>& right);

// Bits of the Gray pattern of step j for the first `count` present categories.
void gray_bits(int step, int* bits, int count);

// Counts into hist through four interleaved tables of CELLS cells, so that successive
// increments are independent; few cells (genotypes) are cleared and summed quickly.
template <int CELLS, class Col>
void count_interleaved(const Col& col, int cells, const int* rows, int n, const int* y, int nclass, int* hist) {
  int part[4][CELLS] = {};
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    ++part[0][col(rows[k]) * nclass + y[rows[k]]];
    ++part[1][col(rows[k + 1]) * nclass + y[rows[k + 1]]];
    ++part[2][col(rows[k + 2]) * nclass + y[rows[k + 2]]];
    ++part[3][col(rows[k + 3]) * nclass + y[rows[k + 3]]];
  }
  for (; k < n; ++k) ++part[0][col(rows[k]) * nclass + y[rows[k]]];
  for (int c = 0; c < cells; ++c) hist[c] = part[0][c] + part[1][c] + part[2][c] + part[3][c];
}

// Below this many cases, clearing and summing four tables costs more than the stalls they save.
constexpr int kInterleaveFromCases = 24;

// Counts (code, class) pairs of the node's cases into scratch.hist and the class totals; NC > 0
// fixes the class count.
template <int NC, class Col>
void count_codes_of(const Col& col, int ncode, const int* rows, int n, const int* y, int nclass_given,
                    SplitScratch& w) {
  const int nclass = NC > 0 ? NC : nclass_given;
  const int cells = ncode * nclass;
  int* hist = w.hist.data();
  int* total = w.total.data();
  // An index loop: std::fill over a pointer range makes g++ 12 doubt the length's sign.
  for (int c = 0; c < nclass; ++c) total[c] = 0;
  if (cells > 32) {
    // Many codes: the class totals from the cases rather than from every code's counts.
    std::fill(hist, hist + static_cast<std::size_t>(cells), 0);
    if constexpr (NC == 2) {
      // Class 1 counted in a register: two counters in memory would wait on each other.
      int ones = 0;
      for (int k = 0; k < n; ++k) {
        const int row = rows[k];
        ++hist[static_cast<std::size_t>(col(row)) * 2 + y[row]];
        ones += y[row];
      }
      total[0] = n - ones;
      total[1] = ones;
      return;
    }
    for (int k = 0; k < n; ++k) {
      const int row = rows[k];
      ++hist[static_cast<std::size_t>(col(row)) * nclass + y[row]];
      ++total[y[row]];
    }
    return;
  }
  if (cells <= 8 && n < kInterleaveFromCases) {
    std::fill(hist, hist + cells, 0);
    for (int k = 0; k < n; ++k) ++hist[col(rows[k]) * nclass + y[rows[k]]];
  } else if (cells <= 8) {
    count_interleaved<8>(col, cells, rows, n, y, nclass, hist);
  } else {
    count_interleaved<32>(col, cells, rows, n, y, nclass, hist);
  }
  for (int code = 0; code < ncode; ++code)
    for (int c = 0; c < nclass; ++c) total[c] += hist[static_cast<std::size_t>(code) * nclass + c];
}

template <class Col>
void count_codes(const Col& col, int ncode, const int* rows, int n, const int* y, int nclass, SplitScratch& w) {
  if (nclass == 2)
    count_codes_of<2>(col, ncode, rows, n, y, nclass, w);
  else
    count_codes_of<0>(col, ncode, rows, n, y, nclass, w);
}

// Runs of equal codes from a two-class histogram, without a branch per code: every code is
// written as a run, and counted only when present and not missing. Their sizes are left out:
// two-class sweeps add the class counts.
// On 512-bit registers the present codes are compressed into the runs eight at a time; that
// pays for columns of many codes only.
int present_two_class_codes_wide(int ncode, int missing, SplitScratch& w);
constexpr int kWideRunsFromCodes = 64;

inline int runs_from_two_class_histogram(int ncode, int missing, SplitScratch& w, int& m) {
  const int* h = w.hist.data();
  int nruns = 0;
  if (ncode >= kWideRunsFromCodes && cpu_has_wide_vectors()) {
    nruns = present_two_class_codes_wide(ncode, missing, w);
  } else {
    int* run_code = w.run_code.data();
    int* run_cls = w.run_cls.data();
    for (int code = 0; code < ncode; ++code) {
      const int a = h[2 * code], b = h[2 * code + 1];
      run_code[nruns] = code;
      run_cls[2 * nruns] = a;
      run_cls[2 * nruns + 1] = b;
      nruns += static_cast<int>(a + b != 0) & static_cast<int>(code != missing);
    }
  }
  const bool counted = missing >= 0 && missing < ncode;
  w.miss[0] = counted ? h[2 * missing] : 0;
  w.miss[1] = counted ? h[2 * missing + 1] : 0;
  m = w.miss[0] + w.miss[1];
  return nruns;
}

// Runs of equal codes from a class histogram over all codes.
inline int runs_from_histogram(int ncode, int missing, int nclass, SplitScratch& w, int& m) {
  if (nclass == 2) return runs_from_two_class_histogram(ncode, missing, w, m);
  int nruns = 0;
  m = 0;
  std::fill(w.miss.begin(), w.miss.begin() + nclass, 0);
  for (int code = 0; code < ncode; ++code) {
    const int* h = &w.hist[static_cast<std::size_t>(code) * nclass];
    int size = 0;
    for (int k = 0; k < nclass; ++k) size += h[k];
    if (size == 0) continue;
    if (code == missing) {
      for (int k = 0; k < nclass; ++k) w.miss[k] = h[k];
      m = size;
      continue;
    }
    w.run_code[nruns] = code;
    w.run_size[nruns] = size;
    std::copy(h, h + nclass, &w.run_cls[static_cast<std::size_t>(nruns) * nclass]);
    ++nruns;
  }
  return nruns;
}

// Runs of equal codes by sorting the node's (code, class) pairs.
template <class Col>
int runs_by_sorting(const Col& col, int missing, const int* rows, int n, const int* y, int nclass, SplitScratch& w,
                    int& m) {
  w.keys.resize(n);
  std::fill(w.total.begin(), w.total.begin() + nclass, 0);
  std::fill(w.miss.begin(), w.miss.begin() + nclass, 0);
  for (int k = 0; k < n; ++k) {
    const int row = rows[k];
    w.keys[k] = (static_cast<std::uint64_t>(col(row)) << 32) | static_cast<std::uint32_t>(y[row]);
    ++w.total[y[row]];
  }
  std::sort(w.keys.begin(), w.keys.begin() + n);
  int nruns = 0;
  m = 0;
  for (int k = 0; k < n;) {
    const int code = static_cast<int>(w.keys[k] >> 32);
    int* cls;
    if (code == missing) {
      cls = w.miss.data();
    } else {
      w.run_code[nruns] = code;
      w.run_size[nruns] = 0;
      cls = &w.run_cls[static_cast<std::size_t>(nruns) * nclass];
      std::fill(cls, cls + nclass, 0);
    }
    int size = 0;
    for (; k < n && static_cast<int>(w.keys[k] >> 32) == code; ++k, ++size) ++cls[w.keys[k] & 0xffffffffu];
    if (code == missing)
      m = size;
    else
      w.run_size[nruns++] = size;
  }
  return nruns;
}

// Runs of equal codes through a bitmap of the codes present: the class counts of a code are
// gathered in a table that is zero outside a search, and the set bits list the codes in order.
// NC > 0 fixes the class count.
template <int NC, class Col>
int runs_by_bitmap_of(const Col& col, int ncode, int missing, const int* rows, int n, const int* y, int nclass_given,
                      SplitScratch& w, int& m) {
  const int nclass = NC > 0 ? NC : nclass_given;
  const int words = (ncode + 63) / 64;
  if (static_cast<int>(w.code_bits.size()) < words) w.code_bits.resize(words);
  const std::size_t cells = static_cast<std::size_t>(ncode) * nclass;
  if (w.sparse_hist.size() < cells) w.sparse_hist.resize(cells);
  std::uint64_t* bits = w.code_bits.data();
  int* hist = w.sparse_hist.data();
  std::fill(bits, bits + words, 0);
  std::fill(w.total.begin(), w.total.begin() + nclass, 0);
  std::fill(w.miss.begin(), w.miss.begin() + nclass, 0);
  int ones = 0;  // two classes: class 1 counted in a register
  for (int k = 0; k < n; ++k) {
    const int row = rows[k];
    const int code = col(row);
    bits[code >> 6] |= std::uint64_t{1} << (code & 63);
    ++hist[static_cast<std::size_t>(code) * nclass + y[row]];
    if constexpr (NC == 2)
      ones += y[row];
    else
      ++w.total[y[row]];
  }
  if constexpr (NC == 2) {
    w.total[0] = n - ones;
    w.total[1] = ones;
  }
  int nruns = 0;
  m = 0;
  for (int word = 0; word < words; ++word) {
    for (std::uint64_t b = bits[word]; b != 0; b &= b - 1) {
      const int code = word * 64 + std::countr_zero(b);
      int* h = &hist[static_cast<std::size_t>(code) * nclass];
      int* cls = code == missing ? w.miss.data() : &w.run_cls[static_cast<std::size_t>(nruns) * nclass];
      int size = 0;
      for (int c = 0; c < nclass; ++c) {
        cls[c] = h[c];
        size += h[c];
        h[c] = 0;
      }
      if (code == missing) {
        m = size;
      } else {
        w.run_code[nruns] = code;
        w.run_size[nruns++] = size;
      }
    }
  }
  return nruns;
}

template <class Col>
int runs_by_bitmap(const Col& col, int ncode, int missing, const int* rows, int n, const int* y, int nclass,
                   SplitScratch& w, int& m) {
  if (nclass == 2) return runs_by_bitmap_of<2>(col, ncode, missing, rows, n, y, nclass, w, m);
  return runs_by_bitmap_of<0>(col, ncode, missing, rows, n, y, nclass, w, m);
}

// Values (codes other than the missing one) a column may have for few_code_gini_split: three,
// as genotypes have.
constexpr int kFewValues = 3;

// Whether codes 0 .. ncode-1 hold at most kFewValues values besides `missing` (or -1).
inline bool has_few_values(int ncode, int missing) {
  return ncode - static_cast<int>(missing >= 0 && missing < ncode) <= kFewValues;
}

// The best cut-off of a column of few values (has_few_values) at a node of two classes under the
// Gini index, from the counts hist[2 * code + class] of codes 0 .. ncode-1, with at least
// minnode cases on each side: the very split sweep_ordinal_runs finds on the same counts, to the
// last bit of its score.
OrdinalSplit few_code_gini_split(const int* hist, int ncode, int missing, int minnode);


// out[k]: few_code_gini_split of the batch's column k, for its columns; with batch.best_only,
// possibly no_admissible_cut instead for every column of a batch that cannot hold the node's
// best one. Keeps the best column's ratio and score in the batch.
void few_code_gini_splits(FewCodeBatch& batch, int minnode, OrdinalSplit* out);

// Best cut-off of an ordinal covariate from its counts per code (scratch.hist and .total).
inline OrdinalSplit ordinal_split_counted(int ncode, int missing, int n, const SearchSettings& s, SplitScratch& w) {
  if (s.nclass == 2 && s.impurity_rule != 1 && has_few_values(ncode, missing))
    return few_code_gini_split(w.hist.data(), ncode, missing, s.minnode);
  int m = 0;
  const int nruns = runs_from_histogram(ncode, missing, s.nclass, w, m);
  return sweep_ordinal_runs(nruns, m, n, s, w);
}

// Small nodes of two classes under the Gini index: the node's keys (code << 1 | class) sorted
// in vector registers give its cuts at once, without gathering runs. Codes must stay below
// 2^15, and a missing code must be 0 (it then sorts first).
template <class Col>
concept CellsOfAtMost16Bits = Col::kCellBits <= 16;

inline bool takes_sorted_keys(int ncode, int missing, int n, const SearchSettings& s) {
  return n <= kSortableKeys && s.nclass == 2 && s.impurity_rule != 1 && ncode <= (1 << 15) && missing <= 0 &&
         cpu_has_wide_vectors();
}

// The best cut-off from the node's keys, which it sorts (room for kSortableKeys).
OrdinalSplit two_class_gini_of_keys(std::uint16_t* keys, int n, int missing, const SearchSettings& s);

template <class Col>
OrdinalSplit two_class_gini_by_sorted_keys(const Col& col, int missing, const int* rows, int n, const int* y,
                                           const SearchSettings& s) {
  std::uint16_t keys[kSortableKeys];
  for (int k = 0; k < n; ++k) {
    const int row = rows[k];
    keys[k] = static_cast<std::uint16_t>((col(row) << 1) | y[row]);
  }
  return two_class_gini_of_keys(keys, n, missing, s);
}

// Codes per case up to which a two-class node counts per code when wide vectors gather the
// present ones.
constexpr long long kWideCountCodesPerCase = 8;

// Best cut-off of an ordinal covariate over the node's cases (rows[0..n-1]).
template <class Col>
OrdinalSplit ordinal_split(const Col& col, int ncode, int missing, const int* rows, int n, const int* y,
                           const SearchSettings& s, SplitScratch& w) {
  int m = 0;
  int nruns;
  // Few distinct values against the node's size: count per code; more: count the codes
  // present through a bitmap; far more (a small node): sort the node. Two classes take all their
  // runs from a count per code for more codes against the node's size where wide vectors
  // gather them eight codes at a time, and sort small nodes in vector registers first.
  const bool few_codes = static_cast<long long>(ncode) <= 2LL * n + 16;
  if constexpr (CellsOfAtMost16Bits<Col>)
    if (!few_codes && takes_sorted_keys(ncode, missing, n, s))
      return two_class_gini_by_sorted_keys(col, missing, rows, n, y, s);
  const bool wide_two_classes = s.nclass == 2 && cpu_has_wide_vectors();
  if (few_codes || (wide_two_classes && static_cast<long long>(ncode) <= kWideCountCodesPerCase * n + 16)) {
    count_codes(col, ncode, rows, n, y, s.nclass, w);
    return ordinal_split_counted(ncode, missing, n, s, w);
  }
  if (static_cast<long long>(ncode) <= 64LL * n) {
    nruns = runs_by_bitmap(col, ncode, missing, rows, n, y, s.nclass, w, m);
  } else {
    nruns = runs_by_sorting(col, missing, rows, n, y, s.nclass, w, m);
  }
  return sweep_ordinal_runs(nruns, m, n, s, w);
}

// Best category subset of a nominal covariate; `missing` is the missing category or -1.
template <class Col>
NominalSplit nominal_split(const Col& col, int ncode, int missing, const int* rows, int n, const int* y,
                           const SearchSettings& s, SplitScratch& w) {
  count_codes(col, ncode, rows, n, y, s.nclass, w);
  return sweep_nominal_categories(ncode, missing, n, s, w);
}

// Categories present among the node's cases, ascending.
template <class Col>
void present_categories(const Col& col, int ncode, const int* rows, int n, std::vector<int>& present) {
  std::vector<char> seen(ncode, 0);
  for (int k = 0; k < n; ++k) seen[col(rows[k])] = 1;
  present.clear();
  for (int c = 0; c < ncode; ++c)
    if (seen[c]) present.push_back(c);
}

}  // namespace forests
