// The ordinal search of columns of few values at two-class nodes under the Gini index: one
// column at a time, or a batch of columns weighed together in vector lanes.
#include <algorithm>
#include <bit>

#include <immintrin.h>

#include "cpu_features.hpp"
#include "split_search.hpp"

namespace forests {

namespace {

// The sweep's own Gini index of a cut: the same four quotients, two to a vector register, taken
// off in the same order.
double gini_of_cut(int l0, int l1, int t0, int t1, int n) {
  using Pair = double __attribute__((vector_size(16)));
  const double a = l0, b = l1, dn = n, dl = a + b, dr = dn - dl, r0 = t0 - a, r1 = t1 - b;
  const Pair left = Pair{a * a, b * b} / Pair{dl * dn, dl * dn};
  const Pair right = Pair{r0 * r0, r1 * r1} / Pair{dr * dn, dr * dn};
  double v = 1.0;
  v -= left[0];
  v -= left[1];
  v -= right[0];
  v -= right[1];
  return v;
}

// The cuts of one column, in sweep order: after v0 and v1 with the missing cases left, then
// right. Left class counts, class totals, which cuts are admissible (bit j for cut j) and the
// values they follow.
struct FewCodeCuts {
  int left0[4], left1[4];
  int t0, t1, n;
  unsigned admissible;
  int value[2];
  int some_missing;
};

// The values are codes v0 < v1 < v2 (the codes other than the missing one; absent ones count
// nothing). A cut follows v0 when it and a later value are present, and v1 when v1 and v2 are.
// The missing cases start on the left (first pass), then on the right (second pass, made only
// when some are missing). Which of the four cuts are admissible is found without a branch (a
// branch per flag would be mispredicted).
FewCodeCuts few_code_cuts(const int* hist, int ncode, int missing, int minnode) {
  const bool counted = missing >= 0 && missing < ncode;
  int v[kFewValues], x[kFewValues], y[kFewValues];
  for (int k = 0; k < kFewValues; ++k) {
    v[k] = k + static_cast<int>(counted && k >= missing);
    x[k] = v[k] < ncode ? hist[2 * v[k]] : 0;
    y[k] = v[k] < ncode ? hist[2 * v[k] + 1] : 0;
  }
  const int miss0 = counted ? hist[2 * missing] : 0, miss1 = counted ? hist[2 * missing + 1] : 0;
  const int some = miss0 + miss1 > 0;
  const int p0 = x[0] + y[0] > 0, p1 = x[1] + y[1] > 0, p2 = x[2] + y[2] > 0;
  FewCodeCuts c{{miss0 + x[0], miss0 + x[0] + x[1], x[0], x[0] + x[1]},
                {miss1 + y[0], miss1 + y[0] + y[1], y[0], y[0] + y[1]},
                miss0 + x[0] + x[1] + x[2],
                miss1 + y[0] + y[1] + y[2],
                0,
                0,
                {v[0], v[1]},
                some};
  c.n = c.t0 + c.t1;
  const int cut[4] = {p0 & (p1 | p2), p1 & p2, some & p0 & (p1 | p2), some & p1 & p2};
  for (int j = 0; j < 4; ++j) {
    const int nL = c.left0[j] + c.left1[j];
    c.admissible |= static_cast<unsigned>(cut[j] & static_cast<int>(nL >= minnode) &
                                          static_cast<int>(c.n - nL >= minnode))
                    << j;
  }
  return c;
}

OrdinalSplit split_of_cut(const FewCodeCuts& c, double gini, int j) {
  return {gini, c.value[j % 2], c.some_missing ? j / 2 : 0};
}

// Each lane's best cut over a batch's columns, one lane per column: the same cuts as
// few_code_cuts, chosen by the same rule. A lane takes the very operations of gini_of_cut in the
// same order, and divisions and subtractions are correctly rounded in every lane, so the scores
// are the same doubles. Compiled once per instruction set below.
[[gnu::always_inline]] inline void weigh_batch_body(const FewCodeBatch& batch, int minnode, double* score,
                                                    long long* cut) {
  using Lanes = double __attribute__((vector_size(8 * kFewCodeLanes)));
  using Masks = long long __attribute__((vector_size(8 * kFewCodeLanes)));
  using Ints = int __attribute__((vector_size(4 * kFewCodeLanes)));
  Ints in[9];
  __builtin_memcpy(in, batch.count, sizeof batch.count);
  __builtin_memcpy(&in[8], batch.missing_value, sizeof batch.missing_value);
  Lanes h[8];
  for (int c = 0; c < 8; ++c) h[c] = __builtin_convertvector(in[c], Lanes);
  const Lanes m = __builtin_convertvector(in[8], Lanes);
  const Lanes zero{};
  // Value k is code k, or k + 1 from the missing code on; a code the column lacks counts nothing.
  const Lanes x0 = m == 0 ? h[2] : h[0], y0 = m == 0 ? h[3] : h[1];
  const Lanes x1 = m <= 1 ? h[4] : h[2], y1 = m <= 1 ? h[5] : h[3];
  const Lanes x2 = m <= 2 ? h[6] : h[4], y2 = m <= 2 ? h[7] : h[5];
  const Lanes miss0 = m == 0 ? h[0] : m == 1 ? h[2] : m == 2 ? h[4] : m == 3 ? h[6] : zero;
  const Lanes miss1 = m == 0 ? h[1] : m == 1 ? h[3] : m == 2 ? h[5] : m == 3 ? h[7] : zero;
  const Masks some = miss0 + miss1 > 0;
  const Masks p0 = x0 + y0 > 0, p1 = x1 + y1 > 0, p2 = x2 + y2 > 0;
  const Lanes t0 = miss0 + x0 + x1 + x2, t1 = miss1 + y0 + y1 + y2, dn = t0 + t1;
  const Lanes left0[4] = {miss0 + x0, miss0 + x0 + x1, x0, x0 + x1};
  const Lanes left1[4] = {miss1 + y0, miss1 + y0 + y1, y0, y0 + y1};
  const Masks after_v0 = p0 & (p1 | p2), after_v1 = p1 & p2;
  const Masks present[4] = {after_v0, after_v1, some & after_v0, some & after_v1};
  const double least = minnode;
  Lanes best = zero + 2.0;
  Masks best_cut = Masks{} - 1;
  for (int j = 0; j < 4; ++j) {
    const Lanes a = left0[j], b = left1[j];
    const Lanes dl = a + b, dr = dn - dl, r0 = t0 - a, r1 = t1 - b;
    const Masks admissible = present[j] & (dl >= least) & (dr >= least);
    const Lanes left_n = dl * dn, right_n = dr * dn;
    Lanes v = 1.0 - a * a / left_n;
    v -= b * b / left_n;
    v -= r0 * r0 / right_n;
    v -= r1 * r1 / right_n;
    const Masks take = admissible & (v < best);
    best = take ? v : best;
    best_cut = take ? Masks{} + j : best_cut;
  }
  __builtin_memcpy(score, &best, sizeof best);
  __builtin_memcpy(cut, &best_cut, sizeof best_cut);
}

// Nodes up to this many cases keep the screening ratios' numerators and denominators exact.
constexpr double kExactScreeningCases = 131072;
FORESTS_WIDE_VECTORS_BEGIN

FORESTS_WIDE_VECTORS inline __m512d lanes(const int* from) {
  return _mm512_cvtepi32_pd(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)));
}

FORESTS_WIDE_VECTORS inline __mmask8 positive(__m512d x) {
  return _mm512_cmp_pd_mask(x, _mm512_setzero_pd(), _CMP_GT_OQ);
}

// The sweep's Gini index of cuts with left class counts a, b, in each lane.
FORESTS_WIDE_VECTORS inline __m512d gini_lanes(__m512d a, __m512d b, __m512d t0, __m512d t1, __m512d dn) {
  const __m512d dl = _mm512_add_pd(a, b), dr = _mm512_sub_pd(dn, dl);
  const __m512d r0 = _mm512_sub_pd(t0, a), r1 = _mm512_sub_pd(t1, b);
  const __m512d left_n = _mm512_mul_pd(dl, dn), right_n = _mm512_mul_pd(dr, dn);
  __m512d v = _mm512_sub_pd(_mm512_set1_pd(1.0), _mm512_div_pd(_mm512_mul_pd(a, a), left_n));
  v = _mm512_sub_pd(v, _mm512_div_pd(_mm512_mul_pd(b, b), left_n));
  v = _mm512_sub_pd(v, _mm512_div_pd(_mm512_mul_pd(r0, r0), right_n));
  return _mm512_sub_pd(v, _mm512_div_pd(_mm512_mul_pd(r1, r1), right_n));
}

// (a a + b b) / dl + (r0 r0 + r1 r1) / dr as one fraction: larger for a lower Gini index.
FORESTS_WIDE_VECTORS inline void screening_ratio(__m512d a, __m512d b, __m512d t0, __m512d t1, __m512d dn,
                                                 __m512d& numerator, __m512d& denominator) {
  const __m512d dl = _mm512_add_pd(a, b), dr = _mm512_sub_pd(dn, dl);
  const __m512d r0 = _mm512_sub_pd(t0, a), r1 = _mm512_sub_pd(t1, b);
  const __m512d left = _mm512_add_pd(_mm512_mul_pd(a, a), _mm512_mul_pd(b, b));
  const __m512d right = _mm512_add_pd(_mm512_mul_pd(r0, r0), _mm512_mul_pd(r1, r1));
  numerator = _mm512_add_pd(_mm512_mul_pd(left, dr), _mm512_mul_pd(right, dl));
  denominator = _mm512_mul_pd(dl, dr);
}

// Every admissible cut weighed in sweep order, as the sweep does.
FORESTS_WIDE_VECTORS void weigh_every_cut_wide(const __m512d* left0, const __m512d* left1, const __mmask8* admissible,
                                               __m512d t0, __m512d t1, __m512d dn, double* score, long long* cut) {
  __m512d best = _mm512_set1_pd(2.0);
  __m512i best_cut = _mm512_set1_epi64(-1);
  for (int j = 0; j < 4; ++j) {
    if (admissible[j] == 0) continue;  // no lane has the cut: its quotients are spared
    const __m512d v = gini_lanes(left0[j], left1[j], t0, t1, dn);
    const __mmask8 take = admissible[j] & _mm512_cmp_pd_mask(v, best, _CMP_LT_OQ);
    best = _mm512_mask_mov_pd(best, take, v);
    best_cut = _mm512_mask_mov_epi64(best_cut, take, _mm512_set1_epi64(j));
  }
  _mm512_storeu_pd(score, best);
  _mm512_storeu_si512(cut, best_cut);
}

// Whether every weighed column of the batch falls short of the best column of the node so far
// (its best cut's ratio top_n / top_d against beat_n / beat_d): only columns of the same cases
// compare, by the margin that screens cuts.
FORESTS_WIDE_VECTORS inline bool falls_short_of_best(const FewCodeBatch& batch, __m512d top_n, __m512d top_d,
                                                     __m512d dn, __mmask8 found, __m512d above) {
  const __m512d x = _mm512_mul_pd(top_n, _mm512_set1_pd(batch.beat_d));
  const __m512d y = _mm512_mul_pd(_mm512_set1_pd(batch.beat_n), top_d);
  const __mmask8 short_of = _mm512_cmp_pd_mask(_mm512_mul_pd(x, above), y, _CMP_LT_OQ) &
                            _mm512_cmp_pd_mask(dn, _mm512_set1_pd(batch.beat_cases), _CMP_EQ_OQ);
  const auto in = static_cast<__mmask8>((1u << batch.size) - 1);
  return (found & in & static_cast<__mmask8>(~short_of)) == 0;
}

// The batch keeps the best column weighed so far, by its exact score `best`.
FORESTS_WIDE_VECTORS inline void keep_best_column(FewCodeBatch& batch, __m512d best, __m512d top_n, __m512d top_d,
                                                  __m512d dn, __mmask8 found) {
  const __mmask8 weighed = found & static_cast<__mmask8>((1u << batch.size) - 1);
  const double lowest = _mm512_mask_reduce_min_pd(weighed, best);
  if (weighed == 0 || !(lowest < batch.beat_score)) return;
  const __mmask8 at = weighed & _mm512_cmp_pd_mask(best, _mm512_set1_pd(lowest), _CMP_EQ_OQ);
  const int k = std::countr_zero(static_cast<unsigned>(at));
  alignas(64) double n[kFewCodeLanes], d[kFewCodeLanes], cases[kFewCodeLanes];
  _mm512_store_pd(n, top_n);
  _mm512_store_pd(d, top_d);
  _mm512_store_pd(cases, dn);
  batch.beat_score = lowest;
  batch.beat_n = n[k];
  batch.beat_d = d[k];
  batch.beat_cases = cases[k];
}

// weigh_batch_body on 512-bit registers, the lanes' conditions in mask registers (the generic
// form would test lane by lane). Where only the node's best column counts, a batch that cannot
// hold it is passed over, and the best column weighed so far is kept.
FORESTS_WIDE_VECTORS void weigh_batch_wide(FewCodeBatch& batch, int minnode, double* score, long long* cut) {
  static_assert(kFewCodeLanes == 8);
  __m512d h[8];
  for (int c = 0; c < 8; ++c) h[c] = lanes(batch.count[c]);
  const __m512d m = lanes(batch.missing_value), zero = _mm512_setzero_pd();
  const __mmask8 m0 = _mm512_cmp_pd_mask(m, _mm512_set1_pd(0.0), _CMP_EQ_OQ);
  const __mmask8 m1 = _mm512_cmp_pd_mask(m, _mm512_set1_pd(1.0), _CMP_EQ_OQ);
  const __mmask8 m2 = _mm512_cmp_pd_mask(m, _mm512_set1_pd(2.0), _CMP_EQ_OQ);
  const __mmask8 m3 = _mm512_cmp_pd_mask(m, _mm512_set1_pd(3.0), _CMP_EQ_OQ);
  // Value k is code k, or k + 1 from the missing code on.
  const __m512d x0 = _mm512_mask_blend_pd(m0, h[0], h[2]), y0 = _mm512_mask_blend_pd(m0, h[1], h[3]);
  const __m512d x1 = _mm512_mask_blend_pd(m0 | m1, h[2], h[4]), y1 = _mm512_mask_blend_pd(m0 | m1, h[3], h[5]);
  const __m512d x2 = _mm512_mask_blend_pd(m0 | m1 | m2, h[4], h[6]), y2 = _mm512_mask_blend_pd(m0 | m1 | m2, h[5], h[7]);
  __m512d miss0 = _mm512_mask_mov_pd(zero, m0, h[0]), miss1 = _mm512_mask_mov_pd(zero, m0, h[1]);
  miss0 = _mm512_mask_mov_pd(_mm512_mask_mov_pd(_mm512_mask_mov_pd(miss0, m1, h[2]), m2, h[4]), m3, h[6]);
  miss1 = _mm512_mask_mov_pd(_mm512_mask_mov_pd(_mm512_mask_mov_pd(miss1, m1, h[3]), m2, h[5]), m3, h[7]);
  const __mmask8 some = positive(_mm512_add_pd(miss0, miss1));
  const __mmask8 p0 = positive(_mm512_add_pd(x0, y0)), p1 = positive(_mm512_add_pd(x1, y1)),
                 p2 = positive(_mm512_add_pd(x2, y2));
  const __m512d t0 = _mm512_add_pd(_mm512_add_pd(_mm512_add_pd(miss0, x0), x1), x2);
  const __m512d t1 = _mm512_add_pd(_mm512_add_pd(_mm512_add_pd(miss1, y0), y1), y2);
  const __m512d dn = _mm512_add_pd(t0, t1);
  const __m512d left0[4] = {_mm512_add_pd(miss0, x0), _mm512_add_pd(_mm512_add_pd(miss0, x0), x1), x0,
                            _mm512_add_pd(x0, x1)};
  const __m512d left1[4] = {_mm512_add_pd(miss1, y0), _mm512_add_pd(_mm512_add_pd(miss1, y0), y1), y0,
                            _mm512_add_pd(y0, y1)};
  const __mmask8 after_v0 = p0 & (p1 | p2), after_v1 = p1 & p2;
  const __mmask8 present[4] = {after_v0, after_v1, static_cast<__mmask8>(some & after_v0),
                               static_cast<__mmask8>(some & after_v1)};
  const __m512d least = _mm512_set1_pd(minnode);
  __mmask8 admissible[4];
  for (int j = 0; j < 4; ++j) {
    const __m512d dl = _mm512_add_pd(left0[j], left1[j]), dr = _mm512_sub_pd(dn, dl);
    admissible[j] = present[j] & _mm512_cmp_pd_mask(dl, least, _CMP_GE_OQ) & _mm512_cmp_pd_mask(dr, least, _CMP_GE_OQ);
  }
  // The cut of the lowest index has the largest (a a + b b) / dl + (r0 r0 + r1 r1) / dr = N / D,
  // at least n / 2. Two cuts' ratios are compared by cross-multiplication, without a division;
  // the products are exact to 2^-52 (N and D are exact below 2^53). A cut whose ratio falls short
  // of a better one's by over 1e-12 of it has a Gini index higher by over 5e-13, and every index
  // the sweep computes lies within 1e-15 of its exact value: the better cut is the sweep's choice
  // between them. Cuts closer than that are weighed as the sweep weighs them.
  const __m512d above = _mm512_set1_pd(1.0 + 1e-12), below = _mm512_set1_pd(1.0 - 1e-12);
  __m512d top_n = _mm512_setzero_pd(), top_d = _mm512_set1_pd(1.0);
  __m512i top_cut = _mm512_set1_epi64(-1);
  __mmask8 found = 0;
  __mmask8 close = _mm512_cmp_pd_mask(dn, _mm512_set1_pd(kExactScreeningCases), _CMP_GT_OQ);
  for (int j = 0; j < 4; ++j) {
    if (admissible[j] == 0) continue;
    __m512d ratio_n, ratio_d;
    screening_ratio(left0[j], left1[j], t0, t1, dn, ratio_n, ratio_d);
    const __m512d x = _mm512_mul_pd(ratio_n, top_d), y = _mm512_mul_pd(top_n, ratio_d);
    const __mmask8 better = admissible[j] & (static_cast<__mmask8>(~found) |
                                             _mm512_cmp_pd_mask(x, _mm512_mul_pd(y, above), _CMP_GT_OQ));
    close |= admissible[j] & found & static_cast<__mmask8>(~better) &
             _mm512_cmp_pd_mask(x, _mm512_mul_pd(y, below), _CMP_GE_OQ);
    top_n = _mm512_mask_mov_pd(top_n, better, ratio_n);
    top_d = _mm512_mask_mov_pd(top_d, better, ratio_d);
    top_cut = _mm512_mask_mov_epi64(top_cut, better, _mm512_set1_epi64(j));
    found |= better;
  }
  if (close != 0) return weigh_every_cut_wide(left0, left1, admissible, t0, t1, dn, score, cut);
  if (batch.best_only && falls_short_of_best(batch, top_n, top_d, dn, found, above)) {
    _mm512_storeu_pd(score, _mm512_set1_pd(2.0));
    _mm512_storeu_si512(cut, _mm512_set1_epi64(-1));
    return;
  }
  __m512d a = left0[0], b = left1[0];
  for (int j = 1; j < 4; ++j) {
    const __mmask8 at = _mm512_cmpeq_epi64_mask(top_cut, _mm512_set1_epi64(j));
    a = _mm512_mask_mov_pd(a, at, left0[j]);
    b = _mm512_mask_mov_pd(b, at, left1[j]);
  }
  const __m512d best = _mm512_mask_mov_pd(_mm512_set1_pd(2.0), found, gini_lanes(a, b, t0, t1, dn));
  const __m512i best_cut = top_cut;
  _mm512_storeu_pd(score, best);
  _mm512_storeu_si512(cut, best_cut);
  keep_best_column(batch, best, top_n, top_d, dn, found);
}

FORESTS_WIDE_VECTORS_END

void weigh_batch_plain(const FewCodeBatch& batch, int minnode, double* score, long long* cut) {
  weigh_batch_body(batch, minnode, score, cut);
}

}  // namespace

OrdinalSplit few_code_gini_split(const int* hist, int ncode, int missing, int minnode) {
  const FewCodeCuts c = few_code_cuts(hist, ncode, missing, minnode);
  OrdinalSplit out = no_admissible_cut(2);
  // The admissible cuts weighed in sweep order.
  for (unsigned admissible = c.admissible; admissible != 0; admissible &= admissible - 1) {
    const int j = std::countr_zero(admissible);
    const double gini = gini_of_cut(c.left0[j], c.left1[j], c.t0, c.t1, c.n);
    if (gini < out.score) out = split_of_cut(c, gini, j);
  }
  return out;
}

void few_code_gini_splits(FewCodeBatch& batch, int minnode, OrdinalSplit* out) {
  alignas(64) double score[kFewCodeLanes];
  alignas(64) long long cut[kFewCodeLanes];
  if (cpu_has_wide_vectors())
    weigh_batch_wide(batch, minnode, score, cut);
  else
    weigh_batch_plain(batch, minnode, score, cut);
  for (int k = 0; k < batch.size; ++k) {
    const int j = static_cast<int>(cut[k]), after = j & 1;
    out[k] = j < 0 ? no_admissible_cut(2)
                   : OrdinalSplit{score[k], after + static_cast<int>(after >= batch.missing_value[k]), j >> 1};
  }
}

}  // namespace forests
