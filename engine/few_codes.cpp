// The ordinal search of few-code columns at two-class nodes under the Gini index.
#include "split_search.hpp"

namespace forests {

namespace {

// A cut as the sweep meets it: left class counts (missing cases included when they go left).
struct FewCut {
  int left0, left1, code, na_right;
};

// The cuts of both missing-value passes in sweep order, the inadmissible ones left out.
int few_code_cuts(const int* hist, int ncode, int missing, int minnode, int n, FewCut* cuts) {
  int run_code[kFewCodes], run0[kFewCodes], run1[kFewCodes];
  int nruns = 0;
  for (int code = 0; code < ncode; ++code) {
    if (code == missing || hist[2 * code] + hist[2 * code + 1] == 0) continue;
    run_code[nruns] = code;
    run0[nruns] = hist[2 * code];
    run1[nruns] = hist[2 * code + 1];
    ++nruns;
  }
  const bool counted = missing >= 0 && missing < ncode;
  const int miss0 = counted ? hist[2 * missing] : 0, miss1 = counted ? hist[2 * missing + 1] : 0;
  const int npass = miss0 + miss1 > 0 ? 2 : 1;
  int ncut = 0;
  for (int pass = 0; pass < npass; ++pass) {
    // Missing cases go left in the first pass, right in the second.
    int a = pass == 0 ? miss0 : 0, b = pass == 0 ? miss1 : 0;
    for (int q = 0; q + 1 < nruns; ++q) {
      a += run0[q];
      b += run1[q];
      const int nL = a + b;
      if (nL < minnode || n - nL < minnode) continue;
      cuts[ncut++] = {a, b, run_code[q], npass == 2 ? pass : 0};
    }
  }
  return ncut;
}

}  // namespace

// The Gini index of a cut is 1 - s / (n nL nR) with s = (l0^2 + l1^2) nR + (r0^2 + r1^2) nL,
// the same for every cut but s / (nL nR), which cross-multiplication compares without a
// division. Only cuts within 2^-40 of the lowest index get the sweep's own four divisions, in
// sweep order: rounding moves neither the comparison nor an index by a thousandth of that, so
// the first lowest computed index is the sweep's.
OrdinalSplit few_code_gini_split(const int* hist, int ncode, int missing, int minnode) {
  int t0 = 0, t1 = 0;
  for (int code = 0; code < ncode; ++code) {
    t0 += hist[2 * code];
    t1 += hist[2 * code + 1];
  }
  const int n = t0 + t1;
  FewCut cuts[2 * kFewCodes];
  const int ncut = few_code_cuts(hist, ncode, missing, minnode, n, cuts);
  double sum[2 * kFewCodes], size[2 * kFewCodes];
  int best = 0;
  for (int j = 0; j < ncut; ++j) {
    const double a = cuts[j].left0, b = cuts[j].left1, dl = a + b, dr = n - dl, r0 = t0 - a, r1 = t1 - b;
    sum[j] = (a * a + b * b) * dr + (r0 * r0 + r1 * r1) * dl;
    size[j] = dl * dr;
    if (sum[j] * size[best] > sum[best] * size[j]) best = j;
  }
  OrdinalSplit out = no_admissible_cut(2);
  const double dn = n;
  for (int j = 0; j < ncut; ++j) {
    if (sum[best] * size[j] - sum[j] * size[best] > 0x1p-40 * dn * size[best] * size[j]) continue;
    const double a = cuts[j].left0, b = cuts[j].left1, dl = a + b, dr = dn - dl, r0 = t0 - a, r1 = t1 - b;
    double v = 1.0;
    v -= (a * a) / (dl * dn);
    v -= (b * b) / (dl * dn);
    v -= (r0 * r0) / (dr * dn);
    v -= (r1 * r1) / (dr * dn);
    if (v < out.score) out = {v, cuts[j].code, cuts[j].na_right};
  }
  return out;
}

}  // namespace forests
