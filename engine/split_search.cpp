// The split searches' non-template parts: impurities, the ordinal and nominal sweeps, category set codes.
#include "split_search.hpp"

#include <immintrin.h>

#include <limits>
#include <optional>

namespace forests {

void SplitScratch::prepare(int nclass, int max_codes) {
  max_codes = std::max(max_codes, 4);  // counting by bit masks fills the four codes of a two-bit column
  const std::size_t cells = static_cast<std::size_t>(max_codes) * nclass;
  left.assign(nclass, 0);
  right.assign(nclass, 0);
  total.assign(nclass, 0);
  miss.assign(nclass, 0);
  if (hist.size() < cells) hist.resize(cells);
  if (run_code.size() < static_cast<std::size_t>(max_codes)) {
    run_code.resize(max_codes);
    run_size.resize(max_codes);
  }
  if (run_cls.size() < cells) run_cls.resize(cells);
}

namespace {

// log(a / b) for 0 < a <= b <= kLogTableMax, computed once with the very expression the
// impurities use, so a looked-up value is the same double as a computed one.
constexpr int kLogTableMax = 1024;

const std::vector<double>& log_ratio_table() {
  static const std::vector<double> table = [] {
    std::vector<double> t(static_cast<std::size_t>(kLogTableMax + 1) * (kLogTableMax + 2) / 2);
    for (int b = 1; b <= kLogTableMax; ++b)
      for (int a = 1; a <= b; ++a) t[static_cast<std::size_t>(b) * (b + 1) / 2 + a] = std::log(a / static_cast<double>(b));
    return t;
  }();
  return table;
}

inline double log_ratio(int a, int b, const double* table) {
  return b <= kLogTableMax ? table[static_cast<std::size_t>(b) * (b + 1) / 2 + a] : std::log(a / static_cast<double>(b));
}

// The weighted impurity of two daughters; NC > 0 fixes the class count at compile time.
// Terms are summed in class order, left daughter first, so every form gives the same double.
template <int NC>
inline double impurity_of(const int* left, int nL, const int* right, int nR, int n, int nclass, int rule) {
  const int nc = NC > 0 ? NC : nclass;
  const double dn = n, dl = nL, dr = nR;
  if (rule == 1) {
    static const double* logs = log_ratio_table().data();
    double e = 0.0;
    for (int k = 0; k < nc; ++k)
      if (left[k] > 0) e -= (left[k] / dn) * log_ratio(left[k], nL, logs);
    for (int k = 0; k < nc; ++k)
      if (right[k] > 0) e -= (right[k] / dn) * log_ratio(right[k], nR, logs);
    return e;
  }
  double g = 1.0;
  for (int k = 0; k < nc; ++k) g -= (static_cast<double>(left[k]) * left[k]) / (dl * dn);
  for (int k = 0; k < nc; ++k) g -= (static_cast<double>(right[k]) * right[k]) / (dr * dn);
  return g;
}

}  // namespace

double split_impurity(const int* left, int nL, const int* right, int nR, int n, int nclass, int impurity_rule) {
  return impurity_of<0>(left, nL, right, nR, n, nclass, impurity_rule);
}

double node_impurity(const int* counts, int n, int nclass, int impurity_rule) {
  const double dn = n;
  if (impurity_rule == 1) {
    double e = 0.0;
    for (int k = 0; k < nclass; ++k)
      if (counts[k] > 0) e -= (counts[k] / dn) * std::log(counts[k] / dn);
    return e;
  }
  double g = 1.0;
  for (int k = 0; k < nclass; ++k) g -= (static_cast<double>(counts[k]) * counts[k]) / (dn * dn);
  return g;
}

namespace {

// A sweep computes the impurity of every cut or subset: a logarithm per class and side under
// entropy, four divisions or more under Gini. A cheaper estimate comes first. n times the
// entropy of two daughters is xlogx(nL) + xlogx(nR) less xlogx of every class count, read
// from a table of x log x; n times the Gini index is n less (sum of l^2) / nL less (sum of
// r^2) / nR, which takes one division at most. Estimate and computed impurity differ by rounding
// alone, far below kSlack per unit. The first lowest computed impurity therefore belongs to a
// split whose estimate lies within twice the slack of the lowest estimate met so far (itself
// included): only those are computed, in the same order, with the same expression, so the
// sweep finds the very split of a full sweep.
struct SplitScreen {
  static constexpr double kSlack = 1e-9;
  bool entropy;
  const double* x_log_x = nullptr;
  double slack;  // in units of n times the impurity
  double lowest = std::numeric_limits<double>::infinity();

  SplitScreen(int n, const SearchSettings& s, SplitScratch& w)
      : entropy(s.impurity_rule == 1),
        // bit_width(n + 2) > log(n + 2): a slack a little wider, without a logarithm per search.
        slack(2 * kSlack * (s.nclass + 2) * std::bit_width(static_cast<unsigned>(n) + 2u) * n) {
    if (entropy) x_log_x = x_log_x_table(n, w);
  }

  static const double* x_log_x_table(int n, SplitScratch& w) {
    const std::size_t have = w.x_log_x.size();
    if (have <= static_cast<std::size_t>(n)) {
      w.x_log_x.resize(std::max<std::size_t>(static_cast<std::size_t>(n) + 1, 2 * have));
      for (std::size_t x = have; x < w.x_log_x.size(); ++x)
        w.x_log_x[x] = x > 0 ? static_cast<double>(x) * std::log(static_cast<double>(x)) : 0.0;
    }
    return w.x_log_x.data();
  }

  // n times the entropy.
  template <int NC>
  double entropy_estimate(const int* left, int nL, const int* right, int nR, int nclass) const {
    const int nc = NC > 0 ? NC : nclass;
    double e = x_log_x[nL] + x_log_x[nR];
    for (int k = 0; k < nc; ++k) e -= x_log_x[left[k]] + x_log_x[right[k]];
    return e;
  }

  // Whether the split of these counts may hold the first lowest impurity. The Gini estimate
  // (n times the index, less n) is -(a / b); it is held against the bound as -a against the
  // bound times b, so that only the splits let through take a division. Rounding moves that
  // test by far less than the slack.
  template <int NC>
  bool may_be_lowest(const int* left, int nL, const int* right, int nR, int nclass) {
    if (!entropy) {
      const int nc = NC > 0 ? NC : nclass;
      double squares_left = 0.0, squares_right = 0.0;
      for (int k = 0; k < nc; ++k) {
        squares_left += static_cast<double>(left[k]) * left[k];
        squares_right += static_cast<double>(right[k]) * right[k];
      }
      const double dl = nL, dr = nR;
      const double a = squares_left * dr + squares_right * dl, b = dl * dr;
      if (-a > (lowest + slack) * b) return false;
      lowest = std::min(lowest, -a / b);
      return true;
    }
    const double e = entropy_estimate<NC>(left, nL, right, nR, nclass);
    if (e > lowest + slack) return false;
    lowest = std::min(lowest, e);
    return true;
  }
};

// Screening pays once a node has a few splits to pass over; so do the two-class passes over
// arrays of cuts.
constexpr int kTwoClassPassesFromRuns = 8;
constexpr int kScreenFromSplits = 8;

template <int NC>
bool takes_two_class_passes(int nruns) {
  return NC == 2 && nruns > kTwoClassPassesFromRuns;
}

// Two classes under entropy: moving cases of one class only across a cut, n times the entropy
// is a strictly concave function of how many have moved, when both classes are at the node: its
// second derivative is at most -1/n^2. So a cut inside a stretch of runs that hold that one
// class lies above the lower of the stretch's end cuts by at least 1/(2n^3) per unit, far above
// any rounding of the computed impurities for nodes up to kOneClassStretchesUpTo cases: it is
// never the first lowest, and is left out when both end cuts are admissible in both
// missing-value passes. (Under Gini the margin is 2/n^4, and the vector pass over every cut
// costs less than leaving some out.)
constexpr int kOneClassStretchesUpTo = 2048;

// Both missing-value passes: the missing cases (m of them, class counts `miss`) start on the
// left, then stay on the right throughout; one pass when none is missing.
// pass(base, base_cls, na_right) sweeps with `base` cases of class counts `base_cls` on the left.
template <class Pass>
void missing_value_passes(int m, const int* miss, Pass&& pass) {
  if (m == 0) return pass(0, nullptr, 0);
  pass(m, miss, 0);
  pass(0, nullptr, 1);
}

// Two classes: estimates that screen a cut or subset with left counts (a, b), hence a + b cases,
// at a node of n cases and class totals (t0, t1). Under Gini the larger (a^2 + b^2) / nL +
// (r0^2 + r1^2) / nR, in one division, has the lower impurity; it is reckoned in single
// precision, eight to a vector register. Under entropy, n times the entropy from the table of
// x log x. Sums within kFloatGiniSlack * n of the largest, and entropy estimates within the
// screen's slack of the lowest, are computed exactly. Why the Gini slack holds: a sum is at most
// n, and its single-precision form, at most six roundings deep, lies within 6 * 2^-24 (< 4e-7)
// of it per unit of n; the exact sum of the first lowest impurity lies within double rounding of
// the largest exact sum.
constexpr float kFloatGiniSlack = 1e-6f;

[[gnu::always_inline]] inline float two_class_gini_sum_single(int left0, int left1, int n, int t0, int t1) {
  const float a = static_cast<float>(left0), b = static_cast<float>(left1);
  const float r0 = static_cast<float>(t0 - left0), r1 = static_cast<float>(t1 - left1);
  const float nL = static_cast<float>(left0 + left1), nR = static_cast<float>(n - left0 - left1);
  return ((a * a + b * b) * nR + (r0 * r0 + r1 * r1) * nL) / (nL * nR);
}

[[gnu::always_inline]] inline double two_class_entropy_estimate(const double* x_log_x, int a, int b, int n, int t0,
                                                                 int t1) {
  return x_log_x[a + b] + x_log_x[n - a - b] - (x_log_x[a] + x_log_x[b] + x_log_x[t0 - a] + x_log_x[t1 - b]);
}

// Room in the scratch for the arrays of `ncut` cuts (or subsets).
void make_room_for_cuts(int ncut, SplitScratch& w) {
  if (static_cast<int>(w.cut_l0.size()) >= ncut) return;
  w.cut_l0.resize(ncut);
  w.cut_l1.resize(ncut);
  w.cut_code.resize(ncut);
  w.cut_score.resize(ncut);
  w.cut_sum.resize(ncut);
  w.cut_inner.resize(ncut);
}

// The cuts q whose neighbours q - 1 and q + 1 are admissible in both missing-value passes: the
// runs before q hold at least `low` cases, and the runs up to q + 1 at most `high`. Sizes grow
// from cut to cut, so these cuts are one range, [first, last).
void cuts_between_admissible_ones(int ncut, const int* cls, int observed, int low, int high, int& first, int& last) {
  first = 0;
  last = ncut;
  for (int before = 0; first < ncut && before < low; ++first) before += cls[2 * first] + cls[2 * first + 1];
  // Runs up to q + 1 hold `observed` cases less those of the runs after q + 1.
  for (int after = 0; last > first && observed - after > high; --last) after += cls[2 * last] + cls[2 * last + 1];
}


FORESTS_WIDE_VECTORS_BEGIN

// The lanes of cuts q .. q + 15 that exist.
FORESTS_WIDE_VECTORS inline __mmask16 cut_lanes(int ncut, int q) {
  return ncut - q >= 16 ? static_cast<__mmask16>(0xffff) : static_cast<__mmask16>((1u << (ncut - q)) - 1);
}

// Each of sixteen lanes plus the lanes before it (an inclusive scan), plus `before`.
FORESTS_WIDE_VECTORS inline __m512i inclusive_scan_lanes(__m512i x, __m512i before) {
  const __m512i zero = _mm512_setzero_si512();
  x = _mm512_add_epi32(x, _mm512_alignr_epi32(x, zero, 15));
  x = _mm512_add_epi32(x, _mm512_alignr_epi32(x, zero, 14));
  x = _mm512_add_epi32(x, _mm512_alignr_epi32(x, zero, 12));
  x = _mm512_add_epi32(x, _mm512_alignr_epi32(x, zero, 8));
  return _mm512_add_epi32(x, before);
}

// Writes the lanes of `keep` of x, in order, at out[0..].
FORESTS_WIDE_VECTORS inline void store_kept_lanes(int* out, __mmask16 keep, __m512i x) {
  const unsigned count = static_cast<unsigned>(std::popcount(static_cast<unsigned>(keep)));
  _mm512_mask_storeu_epi32(out, static_cast<__mmask16>((1u << count) - 1), _mm512_maskz_compress_epi32(keep, x));
}

// Class counts of runs q .. q + 15 (ints cls[2q ..], as many runs as `in` has lanes) into
// one register per class.
FORESTS_WIDE_VECTORS inline void run_class_lanes(const int* cls, int q, __mmask16 in, __m512i& class0, __m512i& class1) {
  const unsigned ints = 2 * static_cast<unsigned>(std::popcount(static_cast<unsigned>(in)));
  const __mmask16 low = static_cast<__mmask16>(ints >= 16 ? 0xffffu : (1u << ints) - 1);
  const __mmask16 high = static_cast<__mmask16>(ints <= 16 ? 0u : ints >= 32 ? 0xffffu : (1u << (ints - 16)) - 1);
  const __m512i first = _mm512_maskz_loadu_epi32(low, cls + 2 * q), second = _mm512_maskz_loadu_epi32(high, cls + 2 * q + 16);
  const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
  const __m512i odd = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
  class0 = _mm512_permutex2var_epi32(first, even, second);
  class1 = _mm512_permutex2var_epi32(first, odd, second);
}

// two_class_cuts on 512-bit registers, sixteen runs at a time: the left counts by a scan of the
// lanes, the cuts kept compressed into place.
FORESTS_WIDE_VECTORS int outer_cuts_wide(int ncut, const int* cls, const int* code, int first, int last, int* l0,
                                         int* l1, int* last_code) {
  const __m512i lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m512i zero = _mm512_setzero_si512(), top = _mm512_set1_epi32(15);
  __m512i left0 = zero, left1 = zero;
  int kept = 0;
  for (int q = 0; q < ncut; q += 16) {
    const __mmask16 in = cut_lanes(ncut, q);
    __m512i c0, c1, next0, next1;
    run_class_lanes(cls, q, in, c0, c1);
    run_class_lanes(cls, q + 1, in, next0, next1);
    const __mmask16 one_class = _mm512_cmpeq_epi32_mask(_mm512_or_si512(c0, next0), zero) |
                                _mm512_cmpeq_epi32_mask(_mm512_or_si512(c1, next1), zero);
    const __m512i position = _mm512_add_epi32(lane, _mm512_set1_epi32(q));
    const __mmask16 inner = one_class & _mm512_cmpge_epi32_mask(position, _mm512_set1_epi32(first)) &
                            _mm512_cmplt_epi32_mask(position, _mm512_set1_epi32(last));
    const __mmask16 keep = in & static_cast<__mmask16>(~inner);
    left0 = inclusive_scan_lanes(c0, left0);
    left1 = inclusive_scan_lanes(c1, left1);
    store_kept_lanes(l0 + kept, keep, left0);
    store_kept_lanes(l1 + kept, keep, left1);
    store_kept_lanes(last_code + kept, keep, _mm512_maskz_loadu_epi32(in, code + q));
    kept += std::popcount(static_cast<unsigned>(keep));
    left0 = _mm512_permutexvar_epi32(top, left0);  // the counts before the next sixteen runs
    left1 = _mm512_permutexvar_epi32(top, left1);
  }
  return kept;
}
FORESTS_WIDE_VECTORS_END

// The cuts between runs as left class counts before any missing case, with the code of the
// last run left of each; cuts inside one-class stretches are left out. Returns their number.
int two_class_cuts(int nruns, int m, int n, const SearchSettings& s, SplitScratch& w) {
  const int ncut = nruns - 1;
  make_room_for_cuts(ncut, w);
  const int* __restrict cls = w.run_cls.data();
  const int* __restrict code = w.run_code.data();
  int* __restrict l0 = w.cut_l0.data();
  int* __restrict l1 = w.cut_l1.data();
  int* __restrict last_code = w.cut_code.data();
  std::uint8_t* __restrict inner = w.cut_inner.data();
  const bool stretches = n <= kOneClassStretchesUpTo && s.minnode >= 1 && w.total[0] > 0 && w.total[1] > 0;
  int first = 0, last = 0;
  if (stretches) cuts_between_admissible_ones(ncut, cls, n - m, s.minnode, n - m - s.minnode, first, last);
  if (cpu_has_wide_vectors()) return outer_cuts_wide(ncut, cls, code, first, last, l0, l1, last_code);
  // First, on vector lanes, which cuts lie inside a stretch of one-class runs.
  for (int q = 0; q < ncut; ++q) {
    const int one_class = static_cast<int>((cls[2 * q] | cls[2 * q + 2]) == 0) | static_cast<int>((cls[2 * q + 1] | cls[2 * q + 3]) == 0);
    inner[q] = static_cast<std::uint8_t>(one_class & static_cast<int>(q >= first) & static_cast<int>(q < last));
  }
  int a = 0, b = 0, kept = 0;
  for (int q = 0; q < ncut; ++q) {
    a += cls[2 * q];
    b += cls[2 * q + 1];
    l0[kept] = a;
    l1[kept] = b;
    last_code[kept] = code[q];
    kept += 1 - inner[q];
  }
  return kept;
}

// The admissible cuts, those with nL in [low, high]: sizes grow from cut to cut, so they are
// one range, [first, last).
struct CutRange {
  int first, last;
};
// Found from both ends: minnode is small against most nodes.
CutRange two_class_admissible_cuts(const int* l0, const int* l1, int ncut, int low, int high) {
  CutRange r{0, ncut};
  while (r.first < ncut && l0[r.first] + l1[r.first] < low) ++r.first;
  while (r.last > r.first && l0[r.last - 1] + l1[r.last - 1] > high) --r.last;
  return r;
}

// The extremes of x[first..last-1] in Lanes independent lanes, so that each step need not wait
// for the one before.
template <int Lanes, class T, class Better>
[[gnu::always_inline]] inline T extreme_of(const T* x, CutRange r, T none, Better better) {
  T lane[Lanes];
  for (int k = 0; k < Lanes; ++k) lane[k] = none;
  int q = r.first;
  for (; q + Lanes <= r.last; q += Lanes)
    for (int k = 0; k < Lanes; ++k) lane[k] = better(x[q + k], lane[k]) ? x[q + k] : lane[k];
  for (; q < r.last; ++q) lane[0] = better(x[q], lane[0]) ? x[q] : lane[0];
  for (int k = 1; k < Lanes; ++k) lane[0] = better(lane[k], lane[0]) ? lane[k] : lane[0];
  return lane[0];
}

// The cuts between runs of two classes as left counts before any missing case.
void two_class_left_counts(int nruns, SplitScratch& w) {
  const int ncut = nruns - 1;
  make_room_for_cuts(ncut, w);
  const int* __restrict cls = w.run_cls.data();
  int* __restrict l0 = w.cut_l0.data();
  int* __restrict l1 = w.cut_l1.data();
  int a = 0, b = 0;
  for (int q = 0; q < ncut; ++q) {
    a += cls[2 * q];
    b += cls[2 * q + 1];
    l0[q] = a;
    l1[q] = b;
  }
}

// Two classes under the Gini index. The impurity of a cut takes four divisions, its screening
// sum one: the sums of all cuts come first, on vector lanes; then only the cuts near the largest
// admissible one are computed, in order, with the very expression of the plain loop, so the
// first lowest is the plain loop's. `base` cases (the missing ones when they go left) start on
// the left with class counts `base_cls`.
// The thread sanitizer cannot run the chooser of the clones, which runs before it starts.
#if defined(__SANITIZE_THREAD__)
#define AVX2_CLONE
#else
#define AVX2_CLONE __attribute__((target_clones("avx2", "default")))
#endif

// The exact impurity of a cut with left class counts (a, b), by the very expression of the plain
// sweep; it replaces the best when lower. The passes give the rule as a constant (1 entropy,
// 0 Gini), so that it folds away.
[[gnu::always_inline]] inline void consider_two_class_cut(int a, int b, int n, int t0, int t1, int code, int na_right,
                                                          int impurity_rule, OrdinalSplit& best) {
  const int nL = a + b;
  const int left[2] = {a, b}, right[2] = {t0 - a, t1 - b};
  const double v = impurity_of<2>(left, nL, right, n - nL, n, 2, impurity_rule);
  if (v < best.score) {
    best.score = v;
    best.cut_code = code;
    best.na_right = na_right;
  }
}

// What a two-class pass reads: the cuts' left counts before any missing case, the class counts
// of the `base` cases that start on the left, and the class totals.
struct PassInputs {
  const int* l0;
  const int* l1;
  int b0, b1, t0, t1;
};

inline PassInputs pass_inputs(const SplitScratch& w, const int* base_cls) {
  return {w.cut_l0.data(), w.cut_l1.data(), base_cls ? base_cls[0] : 0, base_cls ? base_cls[1] : 0, w.total[0],
          w.total[1]};
}

AVX2_CLONE void gini_pass_two_classes_on_arrays(int ncut, int n, int base, const int* base_cls, int na_right,
                                                const SearchSettings& s, SplitScratch& w, OrdinalSplit& best) {
  const auto [l0, l1, b0, b1, t0, t1] = pass_inputs(w, base_cls);
  float* __restrict sum = w.cut_sum.data();
  for (int q = 0; q < ncut; ++q) sum[q] = two_class_gini_sum_single(l0[q] + b0, l1[q] + b1, n, t0, t1);
  const CutRange range = two_class_admissible_cuts(l0, l1, ncut, s.minnode - base, n - s.minnode - base);
  if (range.first >= range.last) return;  // no admissible cut
  const float largest = extreme_of<8>(sum, range, -1.0f, [](float x, float y) { return x > y; });
  const float floor = largest - 2 * kFloatGiniSlack * static_cast<float>(n);
  // Mostly one cut comes near the largest: counting them on vector lanes first spares a
  // hard-to-predict branch per cut.
  int near = 0;
  for (int q = range.first; q < range.last; ++q) near += sum[q] >= floor ? 1 : 0;
  for (int q = range.first; near > 0; ++q) {
    if (sum[q] < floor) continue;
    --near;
    consider_two_class_cut(b0 + l0[q], b1 + l1[q], n, t0, t1, w.run_code[q], na_right, 0, best);
  }
}

FORESTS_WIDE_VECTORS_BEGIN

// The lanes of cuts q .. q + 15 whose left side holds between low and high cases.
FORESTS_WIDE_VECTORS inline __mmask16 admissible_cut_lanes(const int* l0, const int* l1, int q, __mmask16 in,
                                                           __m512i low, __m512i high) {
  const __m512i size = _mm512_add_epi32(_mm512_maskz_loadu_epi32(in, l0 + q), _mm512_maskz_loadu_epi32(in, l1 + q));
  return static_cast<__mmask16>(in & _mm512_cmpge_epi32_mask(size, low) & _mm512_cmple_epi32_mask(size, high));
}

// two_class_gini_sum_single on sixteen lanes, those of `in`: left class counts (a, b), class
// totals (t0, t1), n cases in all.
FORESTS_WIDE_VECTORS inline __m512 gini_sum_lanes(__mmask16 in, __m512i a_count, __m512i b_count, __m512i total0,
                                                  __m512i total1, __m512i all) {
  const __m512i left = _mm512_add_epi32(a_count, b_count);
  const __m512 a = _mm512_cvtepi32_ps(a_count), b = _mm512_cvtepi32_ps(b_count);
  const __m512 r0 = _mm512_cvtepi32_ps(_mm512_sub_epi32(total0, a_count));
  const __m512 r1 = _mm512_cvtepi32_ps(_mm512_sub_epi32(total1, b_count));
  const __m512 nL = _mm512_cvtepi32_ps(left), nR = _mm512_cvtepi32_ps(_mm512_sub_epi32(all, left));
  const __m512 squares_left = _mm512_add_ps(_mm512_mul_ps(a, a), _mm512_mul_ps(b, b));
  const __m512 squares_right = _mm512_add_ps(_mm512_mul_ps(r0, r0), _mm512_mul_ps(r1, r1));
  const __m512 top = _mm512_add_ps(_mm512_mul_ps(squares_left, nR), _mm512_mul_ps(squares_right, nL));
  return _mm512_maskz_div_ps(in, top, _mm512_mul_ps(nL, nR));
}

// The same pass on 512-bit registers, sixteen cuts at a time: admissibility and nearness
// become lane masks, so no loop has a tail or a branch per cut.
FORESTS_WIDE_VECTORS void gini_pass_two_classes_wide(int ncut, int n, int base, const int* base_cls, int na_right,
                                                     const SearchSettings& s, SplitScratch& w, OrdinalSplit& best) {
  const auto [l0, l1, b0, b1, t0, t1] = pass_inputs(w, base_cls);
  float* sum = w.cut_sum.data();
  const __m512i low = _mm512_set1_epi32(s.minnode - base), high = _mm512_set1_epi32(n - s.minnode - base);
  const __m512i base0 = _mm512_set1_epi32(b0), base1 = _mm512_set1_epi32(b1);
  const __m512i total0 = _mm512_set1_epi32(t0), total1 = _mm512_set1_epi32(t1), all = _mm512_set1_epi32(n);
  __m512 largest_lanes = _mm512_set1_ps(-1.0f);
  __mmask16 any = 0;
  for (int q = 0; q < ncut; q += 16) {
    const __mmask16 in = cut_lanes(ncut, q);
    const __m512i a_count = _mm512_add_epi32(_mm512_maskz_loadu_epi32(in, l0 + q), base0);
    const __m512i b_count = _mm512_add_epi32(_mm512_maskz_loadu_epi32(in, l1 + q), base1);
    const __m512 lane_sum = gini_sum_lanes(in, a_count, b_count, total0, total1, all);
    _mm512_mask_storeu_ps(sum + q, in, lane_sum);
    const __mmask16 ok = admissible_cut_lanes(l0, l1, q, in, low, high);
    any |= ok;
    largest_lanes = _mm512_mask_max_ps(largest_lanes, ok, largest_lanes, lane_sum);
  }
  if (any == 0) return;  // no admissible cut
  const float floor = _mm512_reduce_max_ps(largest_lanes) - 2 * kFloatGiniSlack * static_cast<float>(n);
  const __m512 floor_lanes = _mm512_set1_ps(floor);
  for (int q = 0; q < ncut; q += 16) {
    const __mmask16 in = cut_lanes(ncut, q);
    const __mmask16 near_sum = _mm512_mask_cmp_ps_mask(in, _mm512_maskz_loadu_ps(in, sum + q), floor_lanes, _CMP_GE_OQ);
    unsigned near = admissible_cut_lanes(l0, l1, q, in, low, high) & near_sum;
    for (; near != 0; near &= near - 1) {
      const int cut = q + std::countr_zero(near);
      consider_two_class_cut(b0 + l0[cut], b1 + l1[cut], n, t0, t1, w.run_code[cut], na_right, 0, best);
    }
  }
}

// One missing-value pass over the cuts after the sorted keys: each lane's screening sum, and
// the largest admissible one.
struct KeyPass {
  int base;             // missing cases on the left
  int base_ones;        // of class 1
  int na_right;
  float sum[kSortableKeys + 16];
  __mmask16 admissible[kSortableKeys / 16 + 1];
  float largest = -1.0f;
  bool any = false;
};

// The cut after key p leaves the keys 0..p on the left, less the m missing ones in the pass that
// sends them right: p + 1 - m + base cases, of which ones_up_to(p) - missing_ones + base_ones of
// class 1.
FORESTS_WIDE_VECTORS void screen_key_cuts(const std::uint16_t* keys, int n, int m, int missing_ones,
                                          const SearchSettings& s, KeyPass* passes, int npass, int* ones_up_to) {
  const int ones = ones_up_to[n - 1];
  const __m512i total0 = _mm512_set1_epi32(n - ones), total1 = _mm512_set1_epi32(ones), all = _mm512_set1_epi32(n);
  const __m512i lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  __m512 largest[2] = {_mm512_set1_ps(-1.0f), _mm512_set1_ps(-1.0f)};
  for (int q = 0; q + 1 < n; q += 16) {
    const __mmask16 in = cut_lanes(n - 1, q);
    const __m512i key = _mm512_cvtepu16_epi32(_mm256_maskz_loadu_epi16(in, keys + q));
    const __m512i next = _mm512_cvtepu16_epi32(_mm256_maskz_loadu_epi16(in, keys + q + 1));
    const __m512i position = _mm512_add_epi32(lane, _mm512_set1_epi32(q));
    const __mmask16 cut = in & _mm512_cmpneq_epi32_mask(_mm512_srli_epi32(key, 1), _mm512_srli_epi32(next, 1)) &
                          _mm512_cmpge_epi32_mask(position, _mm512_set1_epi32(m));
    const __m512i ones_left = _mm512_loadu_si512(ones_up_to + q);
    for (int k = 0; k < npass; ++k) {
      KeyPass& pass = passes[k];
      const __m512i shift = _mm512_set1_epi32(pass.base - m);
      const __m512i size = _mm512_add_epi32(_mm512_add_epi32(position, _mm512_set1_epi32(1)), shift);
      const __m512i b_count = _mm512_add_epi32(ones_left, _mm512_set1_epi32(pass.base_ones - missing_ones));
      const __m512i a_count = _mm512_sub_epi32(size, b_count);
      const __mmask16 ok = cut & _mm512_cmpge_epi32_mask(size, _mm512_set1_epi32(s.minnode)) &
                           _mm512_cmple_epi32_mask(size, _mm512_set1_epi32(n - s.minnode));
      const __m512 lane_sum = gini_sum_lanes(in, a_count, b_count, total0, total1, all);
      _mm512_storeu_ps(pass.sum + q, lane_sum);
      pass.admissible[q / 16] = ok;
      pass.any = pass.any || ok != 0;
      largest[k] = _mm512_mask_max_ps(largest[k], ok, largest[k], lane_sum);
    }
  }
  for (int k = 0; k < npass; ++k) passes[k].largest = _mm512_reduce_max_ps(largest[k]);
}

// The class-1 keys up to each key, kept for the exact impurities.
FORESTS_WIDE_VECTORS void count_ones_up_to(const std::uint16_t* keys, int n, int* ones_up_to) {
  int before = 0;
  for (int q = 0; q < n; q += 16) {
    const __mmask16 in = cut_lanes(n, q);
    const __m512i key = _mm512_cvtepu16_epi32(_mm256_maskz_loadu_epi16(in, keys + q));
    const __m512i class_bits = _mm512_and_si512(key, _mm512_set1_epi32(1));
    _mm512_storeu_si512(ones_up_to + q, inclusive_scan_lanes(class_bits, _mm512_set1_epi32(before)));
    before += std::popcount(static_cast<unsigned>(_mm512_test_epi32_mask(key, _mm512_set1_epi32(1)) & in));
  }
}

FORESTS_WIDE_VECTORS OrdinalSplit two_class_gini_of_sorted_keys(const std::uint16_t* keys, int n, int missing,
                                                                const SearchSettings& s) {
  OrdinalSplit best = no_admissible_cut(2);
  if (n < 2) return best;
  alignas(64) int ones_up_to[kSortableKeys + 16];
  count_ones_up_to(keys, n, ones_up_to);
  int m = 0;  // the missing code, 0, sorts first
  if (missing == 0)
    while (m < n && keys[m] < 2) ++m;
  const int missing_ones = m > 0 ? ones_up_to[m - 1] : 0;
  // Missing cases first on the left, then on the right; one pass when none is missing.
  KeyPass passes[2];
  passes[0].base = m;
  passes[0].base_ones = missing_ones;
  passes[0].na_right = 0;
  passes[1].base = 0;
  passes[1].base_ones = 0;
  passes[1].na_right = 1;
  const int npass = m > 0 ? 2 : 1;
  screen_key_cuts(keys, n, m, missing_ones, s, passes, npass, ones_up_to);
  const int ones = ones_up_to[n - 1];
  for (int k = 0; k < npass; ++k) {
    const KeyPass& pass = passes[k];
    if (!pass.any) continue;
    const __m512 floor = _mm512_set1_ps(pass.largest - 2 * kFloatGiniSlack * static_cast<float>(n));
    for (int q = 0; q + 1 < n; q += 16) {
      unsigned near = pass.admissible[q / 16] & _mm512_cmp_ps_mask(_mm512_loadu_ps(pass.sum + q), floor, _CMP_GE_OQ);
      for (; near != 0; near &= near - 1) {
        const int p = q + std::countr_zero(near);
        const int size = p + 1 - m + pass.base, b = ones_up_to[p] - missing_ones + pass.base_ones;
        consider_two_class_cut(size - b, b, n, n - ones, ones, keys[p] >> 1, pass.na_right, 0, best);
      }
    }
  }
  return best;
}

FORESTS_WIDE_VECTORS_END

// The pass on the widest vectors the processor has.
void gini_pass_two_classes(int ncut, int n, int base, const int* base_cls, int na_right, const SearchSettings& s,
                           SplitScratch& w, OrdinalSplit& best) {
  if (cpu_has_wide_vectors()) return gini_pass_two_classes_wide(ncut, n, base, base_cls, na_right, s, w, best);
  gini_pass_two_classes_on_arrays(ncut, n, base, base_cls, na_right, s, w, best);
}

// Under entropy, every cut's estimate from the table of x log x first; then only the cuts whose
// estimate comes within the screen's slack of the lowest admissible one are computed, in order.
void entropy_pass_two_classes_on_arrays(int ncut, int n, int base, const int* base_cls, int na_right,
                                        const SearchSettings& s, SplitScratch& w, OrdinalSplit& best) {
  const SplitScreen screen(n, s, w);
  const double* xlx = screen.x_log_x;
  const auto [l0, l1, b0, b1, t0, t1] = pass_inputs(w, base_cls);
  double* estimate = w.cut_score.data();
  for (int q = 0; q < ncut; ++q) estimate[q] = two_class_entropy_estimate(xlx, b0 + l0[q], b1 + l1[q], n, t0, t1);
  const CutRange range = two_class_admissible_cuts(l0, l1, ncut, s.minnode - base, n - s.minnode - base);
  const double lowest = extreme_of<4>(estimate, range, std::numeric_limits<double>::infinity(),
                                   [](double a, double b) { return a < b; });
  const double ceiling = lowest + screen.slack;
  for (int q = range.first; q < range.last; ++q)
    if (estimate[q] <= ceiling)
      consider_two_class_cut(b0 + l0[q], b1 + l1[q], n, t0, t1, w.cut_code[q], na_right, 1, best);
}

FORESTS_WIDE_VECTORS_BEGIN

// The lanes of cuts q .. q + 7 that exist.
FORESTS_WIDE_VECTORS inline __mmask8 eight_cut_lanes(int ncut, int q) {
  return ncut - q >= 8 ? static_cast<__mmask8>(0xff) : static_cast<__mmask8>((1u << (ncut - q)) - 1);
}

// x log x of eight counts, from the table.
FORESTS_WIDE_VECTORS inline __m512d x_log_x_lanes(__mmask8 in, __m256i count, const double* xlx) {
  return _mm512_mask_i32gather_pd(_mm512_setzero_pd(), in, count, xlx, 8);
}

// The lanes of cuts q .. q + 7 whose left side holds between low and high cases.
FORESTS_WIDE_VECTORS inline __mmask8 admissible_eight_cut_lanes(const int* l0, const int* l1, int q, __mmask8 in,
                                                                __m256i low, __m256i high) {
  const __m256i size = _mm256_add_epi32(_mm256_maskz_loadu_epi32(in, l0 + q), _mm256_maskz_loadu_epi32(in, l1 + q));
  return static_cast<__mmask8>(_mm256_mask_cmpge_epi32_mask(in, size, low) & _mm256_mask_cmple_epi32_mask(in, size, high));
}

// The same pass on 512-bit registers, eight cuts at a time: the table is read by gathers, and
// admissibility and nearness become lane masks.
FORESTS_WIDE_VECTORS void entropy_pass_two_classes_wide(int ncut, int n, int base, const int* base_cls, int na_right,
                                                        const SearchSettings& s, SplitScratch& w, OrdinalSplit& best) {
  const SplitScreen screen(n, s, w);
  const double* xlx = screen.x_log_x;
  const auto [l0, l1, b0, b1, t0, t1] = pass_inputs(w, base_cls);
  double* estimate = w.cut_score.data();
  const __m256i low = _mm256_set1_epi32(s.minnode - base), high = _mm256_set1_epi32(n - s.minnode - base);
  const __m256i base0 = _mm256_set1_epi32(b0), base1 = _mm256_set1_epi32(b1), all = _mm256_set1_epi32(n);
  const __m256i total0 = _mm256_set1_epi32(t0), total1 = _mm256_set1_epi32(t1);
  __m512d lowest_lanes = _mm512_set1_pd(std::numeric_limits<double>::infinity());
  for (int q = 0; q < ncut; q += 8) {
    const __mmask8 in = eight_cut_lanes(ncut, q);
    const __m256i a = _mm256_add_epi32(_mm256_maskz_loadu_epi32(in, l0 + q), base0);
    const __m256i b = _mm256_add_epi32(_mm256_maskz_loadu_epi32(in, l1 + q), base1);
    const __m256i left = _mm256_add_epi32(a, b);
    const __m512d sides = _mm512_add_pd(x_log_x_lanes(in, left, xlx), x_log_x_lanes(in, _mm256_sub_epi32(all, left), xlx));
    __m512d classes = _mm512_add_pd(x_log_x_lanes(in, a, xlx), x_log_x_lanes(in, b, xlx));
    classes = _mm512_add_pd(classes, x_log_x_lanes(in, _mm256_sub_epi32(total0, a), xlx));
    classes = _mm512_add_pd(classes, x_log_x_lanes(in, _mm256_sub_epi32(total1, b), xlx));
    const __m512d lane_estimate = _mm512_sub_pd(sides, classes);
    _mm512_mask_storeu_pd(estimate + q, in, lane_estimate);
    lowest_lanes = _mm512_mask_min_pd(lowest_lanes, admissible_eight_cut_lanes(l0, l1, q, in, low, high), lowest_lanes,
                                      lane_estimate);
  }
  const __m512d ceiling = _mm512_set1_pd(_mm512_reduce_min_pd(lowest_lanes) + screen.slack);
  for (int q = 0; q < ncut; q += 8) {
    const __mmask8 in = eight_cut_lanes(ncut, q);
    const __mmask8 near_estimate =
        _mm512_mask_cmp_pd_mask(in, _mm512_maskz_loadu_pd(in, estimate + q), ceiling, _CMP_LE_OQ);
    unsigned near = admissible_eight_cut_lanes(l0, l1, q, in, low, high) & near_estimate;
    for (; near != 0; near &= near - 1) {
      const int cut = q + std::countr_zero(near);
      consider_two_class_cut(b0 + l0[cut], b1 + l1[cut], n, t0, t1, w.cut_code[cut], na_right, 1, best);
    }
  }
}
FORESTS_WIDE_VECTORS_END

void entropy_pass_two_classes(int ncut, int n, int base, const int* base_cls, int na_right, const SearchSettings& s,
                              SplitScratch& w, OrdinalSplit& best) {
  if (cpu_has_wide_vectors()) return entropy_pass_two_classes_wide(ncut, n, base, base_cls, na_right, s, w, best);
  entropy_pass_two_classes_on_arrays(ncut, n, base, base_cls, na_right, s, w, best);
}

// Both missing-value passes over the cuts of two classes.
void two_class_passes(int nruns, int m, int n, const SearchSettings& s, SplitScratch& w, OrdinalSplit& best) {
  if (s.impurity_rule != 1) {
    two_class_left_counts(nruns, w);
    missing_value_passes(m, w.miss.data(), [&](int base, const int* base_cls, int na_right) {
      gini_pass_two_classes(nruns - 1, n, base, base_cls, na_right, s, w, best);
    });
    return;
  }
  const int ncut = two_class_cuts(nruns, m, n, s, w);
  missing_value_passes(m, w.miss.data(), [&](int base, const int* base_cls, int na_right) {
    entropy_pass_two_classes(ncut, n, base, base_cls, na_right, s, w, best);
  });
}

// One pass over the cuts between non-missing runs. `base` cases (the missing ones when they go
// left) start on the left with class counts `base_cls`.
template <int NC>
void ordinal_pass(int nruns, int n, int base, const int* base_cls, int na_right, const SearchSettings& s,
                  SplitScratch& w, OrdinalSplit& best_so_far, SplitScreen* screen) {
  // A local copy: the scratch's int arrays might alias the one in memory, which would be read
  // back after every store.
  OrdinalSplit best = best_so_far;
  const int nclass = NC > 0 ? NC : s.nclass;
  // A fixed class count keeps the counts in registers.
  int left_fixed[NC > 0 ? NC : 1], right_fixed[NC > 0 ? NC : 1];
  int* left = NC > 0 ? left_fixed : w.left.data();
  int* right = NC > 0 ? right_fixed : w.right.data();
  for (int k = 0; k < nclass; ++k) {
    left[k] = base_cls ? base_cls[k] : 0;
    right[k] = w.total[k] - left[k];
  }
  int nL = base;
  for (int q = 0; q + 1 < nruns; ++q) {
    const int* cls = &w.run_cls[static_cast<std::size_t>(q) * nclass];
    for (int k = 0; k < nclass; ++k) {
      left[k] += cls[k];
      right[k] -= cls[k];
    }
    if constexpr (NC == 2)
      nL += cls[0] + cls[1];  // two classes: runs come without sizes
    else
      nL += w.run_size[q];
    const int nR = n - nL;
    if (nL < s.minnode || nR < s.minnode) continue;
    if (screen && !screen->may_be_lowest<NC>(left, nL, right, nR, nclass)) continue;
    const double imp = impurity_of<NC>(left, nL, right, nR, n, nclass, s.impurity_rule);
    if (imp < best.score) {
      best.score = imp;
      best.cut_code = w.run_code[q];
      best.na_right = na_right;
    }
  }
  best_so_far = best;
}

template <int NC>
void ordinal_passes(int nruns, int m, int n, const SearchSettings& s, SplitScratch& w, OrdinalSplit& best) {
  if (takes_two_class_passes<NC>(nruns)) return two_class_passes(nruns, m, n, s, w, best);
  std::optional<SplitScreen> screen;
  if (nruns >= kScreenFromSplits) screen.emplace(n, s, w);
  SplitScreen* sc = screen ? &*screen : nullptr;
  missing_value_passes(m, w.miss.data(), [&](int base, const int* base_cls, int na_right) {
    ordinal_pass<NC>(nruns, n, base, base_cls, na_right, s, w, best, sc);
  });
}

}  // namespace

OrdinalSplit sweep_ordinal_runs(int nruns, int m, int n, const SearchSettings& s, SplitScratch& w) {
  OrdinalSplit best = no_admissible_cut(s.nclass);
  switch (s.nclass) {
    case 2: ordinal_passes<2>(nruns, m, n, s, w, best); break;
    case 3: ordinal_passes<3>(nruns, m, n, s, w, best); break;
    default: ordinal_passes<0>(nruns, m, n, s, w, best); break;
  }
  return best;
}

FORESTS_WIDE_VECTORS int present_two_class_codes_wide(int ncode, int missing, SplitScratch& w) {
  const long long* pairs = reinterpret_cast<const long long*>(w.hist.data());  // (class 0, class 1) per code
  long long* run_pairs = reinterpret_cast<long long*>(w.run_cls.data());
  int* run_code = w.run_code.data();
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  int nruns = 0;
  for (int q = 0; q < ncode; q += 8) {
    const __mmask8 in = ncode - q >= 8 ? static_cast<__mmask8>(0xff) : static_cast<__mmask8>((1u << (ncode - q)) - 1);
    const __m512i counts = _mm512_maskz_loadu_epi64(in, pairs + q);
    __mmask8 present = _mm512_mask_test_epi64_mask(in, counts, counts);
    if (missing >= q && missing < q + 8) present &= static_cast<__mmask8>(~(1u << (missing - q)));
    // Compressed in registers, then stored: a compressing store to memory is slow.
    const int count = std::popcount(static_cast<unsigned>(present));
    const __mmask8 first = static_cast<__mmask8>((1u << count) - 1);
    _mm512_mask_storeu_epi64(run_pairs + nruns, first, _mm512_maskz_compress_epi64(present, counts));
    _mm256_mask_storeu_epi32(run_code + nruns, first,
                             _mm256_maskz_compress_epi32(present, _mm256_add_epi32(lane, _mm256_set1_epi32(q))));
    nruns += count;
  }
  return nruns;
}

OrdinalSplit two_class_gini_of_keys(std::uint16_t* keys, int n, int missing, const SearchSettings& s) {
  sort_small_keys(keys, n);
  return two_class_gini_of_sorted_keys(keys, n, missing, s);
}

namespace {

// Two classes and many subsets: as the ordinal passes, the left counts of every subset come
// first into arrays, then every estimate in a loop free of branches, then the exact impurity of
// those near the best estimate. The arrays run in binary order of the subsets' patterns (bit k
// set: category k goes right), which doubling fills on vector lanes; the sweep's own order is
// the Gray code's, so among equal impurities the subset of the earliest Gray step is kept, as
// the sweep in that order would. The subset of the missing category against all others, and
// subsets leaving fewer than minnode cases on a side, get an estimate that can never be near
// the best.
constexpr unsigned kSubsetArraysFrom = 15;

// The Gray-code step at which the sweep meets a pattern.
int gray_step_of(unsigned pattern) {
  unsigned step = pattern;
  for (unsigned shifted = pattern >> 1; shifted != 0; shifted >>= 1) step ^= shifted;
  return static_cast<int>(step);
}

// Left counts of the 2^bits patterns over the first `bits` categories present (the last one
// stays left).
void subset_left_counts(const int* present, int bits, SplitScratch& w) {
  make_room_for_cuts(1 << bits, w);
  int* __restrict l0 = w.cut_l0.data();
  int* __restrict l1 = w.cut_l1.data();
  l0[0] = w.total[0];
  l1[0] = w.total[1];
  for (int k = 0; k < bits; ++k) {
    const int* h = &w.hist[2 * static_cast<std::size_t>(present[k])];
    const int half = 1 << k, h0 = h[0], h1 = h[1];
    for (int p = 0; p < half; ++p) {
      l0[half + p] = l0[p] - h0;
      l1[half + p] = l1[p] - h1;
    }
  }
}

// Under the Gini index on 512-bit registers: keep(p) for each admissible subset p whose sum
// comes near the largest, in binary order.
FORESTS_WIDE_VECTORS_BEGIN
template <class Keep>
FORESTS_WIDE_VECTORS void near_subsets_wide(int count, bool top_is_missing, int n, const SearchSettings& s,
                                            SplitScratch& w, Keep& keep) {
  const int* l0 = w.cut_l0.data();
  const int* l1 = w.cut_l1.data();
  float* sum = w.cut_sum.data();
  const __m512i total0 = _mm512_set1_epi32(w.total[0]), total1 = _mm512_set1_epi32(w.total[1]);
  const __m512i all = _mm512_set1_epi32(n);
  const __m512i low = _mm512_set1_epi32(std::max(s.minnode, 0)), high = _mm512_set1_epi32(n - s.minnode);
  // All on the left (pattern 0), and missing against all observed (the last), are no split.
  const int last_split = top_is_missing ? count - 2 : count - 1;
  __m512 largest_lanes = _mm512_set1_ps(-1.0f);
  __mmask16 any = 0;
  for (int q = 0; q < count; q += 16) {
    const __mmask16 in = cut_lanes(count, q);
    const __m512i a_count = _mm512_maskz_loadu_epi32(in, l0 + q), b_count = _mm512_maskz_loadu_epi32(in, l1 + q);
    const __m512 lane_sum = gini_sum_lanes(in, a_count, b_count, total0, total1, all);
    _mm512_mask_storeu_ps(sum + q, in, lane_sum);
    const __mmask16 ok = admissible_cut_lanes(l0, l1, q, in & cut_lanes(last_split + 1, q) & ~__mmask16{q == 0}, low,
                                              high);
    any |= ok;
    largest_lanes = _mm512_mask_max_ps(largest_lanes, ok, largest_lanes, lane_sum);
  }
  if (any == 0) return;  // no admissible subset
  const __m512 floor =
      _mm512_set1_ps(_mm512_reduce_max_ps(largest_lanes) - 2 * kFloatGiniSlack * static_cast<float>(n));
  for (int q = 0; q < count; q += 16) {
    const __mmask16 in = cut_lanes(count, q);
    unsigned near = admissible_cut_lanes(l0, l1, q, in & cut_lanes(last_split + 1, q) & ~__mmask16{q == 0}, low, high) &
                    _mm512_mask_cmp_ps_mask(in, _mm512_maskz_loadu_ps(in, sum + q), floor, _CMP_GE_OQ);
    for (; near != 0; near &= near - 1) keep(q + std::countr_zero(near));
  }
}
FORESTS_WIDE_VECTORS_END

AVX2_CLONE void two_class_subsets(const int* present, int bits, bool top_is_missing, int n, const SearchSettings& s,
                                  SplitScratch& w, NominalSplit& best) {
  subset_left_counts(present, bits, w);
  const int count = 1 << bits;
  const int* __restrict l0 = w.cut_l0.data();
  const int* __restrict l1 = w.cut_l1.data();
  const int t0 = w.total[0], t1 = w.total[1];
  const int low = std::max(s.minnode, 0), high = n - s.minnode;
  // All on the left, and missing against all observed, are no split.
  auto admissible = [&](int p) {
    const int nL = l0[p] + l1[p];
    return nL >= low && nL <= high && p != 0 && !(top_is_missing && p == count - 1);
  };
  auto keep = [&](int p) {
    const int nL = l0[p] + l1[p];
    const int left[2] = {l0[p], l1[p]}, right[2] = {t0 - l0[p], t1 - l1[p]};
    const double v = impurity_of<2>(left, nL, right, n - nL, n, 2, s.impurity_rule);
    const int step = gray_step_of(static_cast<unsigned>(p));
    if (v < best.score || (v == best.score && step < best.step)) {
      best.score = v;
      best.step = step;
    }
  };
  const CutRange all{0, count};
  if (s.impurity_rule == 1) {
    double* estimate = w.cut_score.data();
    const SplitScreen screen(n, s, w);
    const double* xlx = screen.x_log_x;
    const double none = std::numeric_limits<double>::infinity();
    for (int p = 0; p < count; ++p) {
      const double e = two_class_entropy_estimate(xlx, l0[p], l1[p], n, t0, t1);
      estimate[p] = admissible(p) ? e : none;
    }
    const double lowest = extreme_of<4>(estimate, all, none, [](double x, double y) { return x < y; });
    if (lowest == none) return;  // no admissible subset
    const double ceiling = lowest + screen.slack;
    for (int p = 0; p < count; ++p)
      if (estimate[p] <= ceiling) keep(p);
    return;
  }
  if (cpu_has_wide_vectors()) return near_subsets_wide(count, top_is_missing, n, s, w, keep);
  float* sum = w.cut_sum.data();
  for (int p = 0; p < count; ++p) sum[p] = two_class_gini_sum_single(l0[p], l1[p], n, t0, t1);
  for (int p = 0; p < count; ++p)
    if (!admissible(p)) sum[p] = -1.0f;
  const float largest = extreme_of<8>(sum, all, -1.0f, [](float x, float y) { return x > y; });
  if (largest < 0.0f) return;  // no admissible subset
  const float floor = largest - 2 * kFloatGiniSlack * static_cast<float>(n);
  for (int p = 0; p < count; ++p)
    if (sum[p] >= floor) keep(p);
}

// The Gray-code sweep over the subsets of the categories present; NC > 0 fixes the class count.
template <int NC>
NominalSplit nominal_sweep(int ncode, int missing, int n, const SearchSettings& s, SplitScratch& w) {
  const int nclass = NC > 0 ? NC : s.nclass;
  NominalSplit best = no_admissible_subset(nclass);
  int present[32];
  int size[32];
  int P = 0;
  for (int c = 0; c < ncode; ++c) {
    int sz = 0;
    const int* h = &w.hist[static_cast<std::size_t>(c) * nclass];
    for (int k = 0; k < nclass; ++k) sz += h[k];
    if (sz > 0) {
      present[P] = c;
      size[P] = sz;
      ++P;
    }
  }
  if (P <= 1) return best;
  const unsigned all_right = (1u << (P - 1)) - 1;
  const bool top_is_missing = present[P - 1] == missing;
  if (NC == 2 && all_right >= kSubsetArraysFrom) {
    two_class_subsets(present, P - 1, top_is_missing, n, s, w, best);
    return best;
  }
  int left_fixed[NC > 0 ? NC : 1], right_fixed[NC > 0 ? NC : 1];
  int* left = NC > 0 ? left_fixed : w.left.data();
  int* right = NC > 0 ? right_fixed : w.right.data();
  for (int k = 0; k < nclass; ++k) {
    left[k] = w.total[k];
    right[k] = 0;
  }
  int nL = n, nR = 0;
  unsigned pattern = 0;
  std::optional<SplitScreen> screen;
  if (all_right >= kScreenFromSplits) screen.emplace(n, s, w);
  for (unsigned j = 1; j <= all_right; ++j) {
    const int k = std::countr_zero(j);
    const int* h = &w.hist[static_cast<std::size_t>(present[k]) * nclass];
    if ((j >> (k + 1)) & 1u) {  // back from the right to the left
      pattern -= 1u << k;
      for (int c = 0; c < nclass; ++c) {
        left[c] += h[c];
        right[c] -= h[c];
      }
      nL += size[k];
      nR -= size[k];
    } else {
      pattern += 1u << k;
      for (int c = 0; c < nclass; ++c) {
        left[c] -= h[c];
        right[c] += h[c];
      }
      nL -= size[k];
      nR += size[k];
    }
    if (top_is_missing && pattern == all_right) continue;  // missing against all observed
    if (nL < s.minnode || nR < s.minnode) continue;
    if (screen && !screen->may_be_lowest<NC>(left, nL, right, nR, nclass)) continue;
    const double imp = impurity_of<NC>(left, nL, right, nR, n, nclass, s.impurity_rule);
    if (imp < best.score) {
      best.score = imp;
      best.step = static_cast<int>(j);
    }
  }
  return best;
}

}  // namespace

NominalSplit sweep_nominal_categories(int ncode, int missing, int n, const SearchSettings& s, SplitScratch& w) {
  switch (s.nclass) {
    case 2: return nominal_sweep<2>(ncode, missing, n, s, w);
    case 3: return nominal_sweep<3>(ncode, missing, n, s, w);
    default: return nominal_sweep<0>(ncode, missing, n, s, w);
  }
}

void gray_bits(int step, int* bits, int count) {
  const int g = step ^ (step >> 1);
  for (int i = 0; i < count; ++i) bits[i] = (g >> i) & 1;
}

double encode_category_set(const std::vector<int>& present, int step, std::vector<char>& right) {
  const int P = static_cast<int>(present.size());
  std::fill(right.begin(), right.end(), 0);
  int bits[32] = {0};
  if (P > 1) gray_bits(step, bits, P - 1);
  long long code = 0;
  for (int k = 0; k + 1 < P; ++k) {
    if (!bits[k]) continue;
    right[present[k]] = 1;
    code = 10 * code + (present[k] + 1);
  }
  return static_cast<double>(code);
}

}  // namespace forests
