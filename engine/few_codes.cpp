// The ordinal search of columns of few values at two-class nodes under the Gini index.
#include <algorithm>
#include <bit>

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

}  // namespace

// The values are codes v0 < v1 < v2 (the codes other than the missing one; absent ones count
// nothing). A cut follows v0 when it and a later value are present, and v1 when v1 and v2 are.
// The missing cases start on the left (first pass), then on the right (second pass, made only
// when some are missing). Which of the four cuts are admissible is found without a branch (a
// branch per flag would be mispredicted); the admissible ones are weighed in sweep order.
OrdinalSplit few_code_gini_split(const int* hist, int ncode, int missing, int minnode) {
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
  const int t0 = miss0 + x[0] + x[1] + x[2], t1 = miss1 + y[0] + y[1] + y[2], n = t0 + t1;
  // Cuts in sweep order: after v0 and v1 with the missing cases left, then right.
  const int left0[4] = {miss0 + x[0], miss0 + x[0] + x[1], x[0], x[0] + x[1]};
  const int left1[4] = {miss1 + y[0], miss1 + y[0] + y[1], y[0], y[0] + y[1]};
  const int cut[4] = {p0 & (p1 | p2), p1 & p2, some & p0 & (p1 | p2), some & p1 & p2};
  unsigned admissible = 0;
  for (int j = 0; j < 4; ++j) {
    const int nL = left0[j] + left1[j];
    admissible |= static_cast<unsigned>(cut[j] & static_cast<int>(nL >= minnode) & static_cast<int>(n - nL >= minnode))
                  << j;
  }
  OrdinalSplit out = no_admissible_cut(2);
  for (; admissible != 0; admissible &= admissible - 1) {
    const int j = std::countr_zero(admissible);
    const double gini = gini_of_cut(left0[j], left1[j], t0, t1, n);
    if (gini < out.score) out = {gini, v[j % 2], some ? j / 2 : 0};
  }
  return out;
}

}  // namespace forests
