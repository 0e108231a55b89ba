// The ordinal search of few-code columns at two-class nodes under the Gini index.
#include <algorithm>
#include <bit>

#include "split_search.hpp"

namespace forests {

namespace {

// Whether a cut with left class counts (l0, l1) leaves at least minnode cases on each side.
struct CutSizes {
  int n, minnode;
  bool operator()(int l0, int l1) const { return l0 + l1 >= minnode && n - l0 - l1 >= minnode; }
};

// The Gini sum (l0^2 + l1^2) / nL + (r0^2 + r1^2) / nR of a cut with left class counts (l0, l1)
// at a node of n cases and class totals (t0, t1), in one division.
struct CutSums {
  double t0, t1, n;
  double operator()(int l0, int l1) const {
    const double a = l0, b = l1, dl = a + b, dr = n - dl, r0 = t0 - a, r1 = t1 - b;
    return ((a * a + b * b) * dr + (r0 * r0 + r1 * r1) * dl) / (dl * dr);
  }
};

// The sweep's own Gini index of a cut.
double gini_of_cut(int l0, int l1, int t0, int t1, int n) {
  const double a = l0, b = l1, dn = n, dl = a + b, dr = dn - dl, r0 = t0 - a, r1 = t1 - b;
  double v = 1.0;
  v -= (a * a) / (dl * dn);
  v -= (b * b) / (dl * dn);
  v -= (r0 * r0) / (dr * dn);
  v -= (r1 * r1) / (dr * dn);
  return v;
}

}  // namespace

// A cut lies after each present code c < 3 with a present code after it; the missing code
// counts as absent and its cases start on the left (first pass), then on the right (second
// pass, made only when some are missing). The Gini index of a cut is 1 - q / n with q its Gini
// sum: with more than one admissible cut, every cut's q comes first. Only the cuts within 2^-40
// of the lowest index get the sweep's own four divisions, in sweep order: rounding moves
// neither q nor an index by a thousandth of that, so the first lowest computed index is the
// sweep's.
OrdinalSplit few_code_gini_split(const int* hist, int ncode, int missing, int minnode) {
  auto count = [&](int code, int cls) { return code < ncode && code != missing ? hist[2 * code + cls] : 0; };
  const int x0 = count(0, 0), x1 = count(1, 0), x2 = count(2, 0), x3 = count(3, 0);
  const int y0 = count(0, 1), y1 = count(1, 1), y2 = count(2, 1), y3 = count(3, 1);
  const bool counted = missing >= 0 && missing < ncode;
  const int miss0 = counted ? hist[2 * missing] : 0, miss1 = counted ? hist[2 * missing + 1] : 0;
  const bool some_missing = miss0 + miss1 > 0;
  const bool p1 = x1 + y1 > 0, p2 = x2 + y2 > 0, p3 = x3 + y3 > 0;
  const bool cut0 = x0 + y0 > 0 && (p1 || p2 || p3), cut1 = p1 && (p2 || p3), cut2 = p2 && p3;
  const int t0 = miss0 + x0 + x1 + x2 + x3, t1 = miss1 + y0 + y1 + y2 + y3, n = t0 + t1;
  const int a0 = x0, a1 = x0 + x1, a2 = a1 + x2, b0 = y0, b1 = y0 + y1, b2 = b1 + y2;
  const int left0[6] = {miss0 + a0, miss0 + a1, miss0 + a2, a0, a1, a2};
  const int left1[6] = {miss1 + b0, miss1 + b1, miss1 + b2, b0, b1, b2};
  const CutSizes sized{n, minnode};
  const bool cut[6] = {cut0, cut1, cut2, some_missing && cut0, some_missing && cut1, some_missing && cut2};
  unsigned admissible = 0;
  for (int j = 0; j < 6; ++j) admissible |= static_cast<unsigned>(cut[j] && sized(left0[j], left1[j])) << j;
  OrdinalSplit out = no_admissible_cut(2);
  unsigned near = admissible;
  if ((admissible & (admissible - 1)) != 0) {
    // Several cuts: every admissible one's sum, the others set below any sum.
    const CutSums sums{static_cast<double>(t0), static_cast<double>(t1), static_cast<double>(n)};
    double q[6];
    for (int j = 0; j < 6; ++j) q[j] = (admissible >> j) & 1u ? sums(left0[j], left1[j]) : -1.0;
    const double highest = std::max(std::max(std::max(q[0], q[1]), std::max(q[2], q[3])), std::max(q[4], q[5]));
    const double floor = highest - 0x1p-40 * n;
    near = 0;
    for (int j = 0; j < 6; ++j) near |= static_cast<unsigned>(q[j] >= floor) << j;
  }
  for (; near != 0; near &= near - 1) {
    const int j = std::countr_zero(near);
    const double v = gini_of_cut(left0[j], left1[j], t0, t1, n);
    if (v < out.score) out = {v, j % 3, some_missing ? j / 3 : 0};
  }
  return out;
}

}  // namespace forests
