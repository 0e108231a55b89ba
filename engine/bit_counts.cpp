// Counting a large node's codes by bit masks: the mask builders and the popcount kernels.
#include "bit_counts.hpp"

#include <algorithm>
#include <bit>

namespace forests {

namespace {

struct MaskCounts {
  long long low = 0, high = 0, both = 0;  // cases of the mask whose code has the low bit, the high bit, both
};

// The loop is compiled once per instruction set below; vector popcounts make it several times
// quicker than popcounting word by word.
[[gnu::always_inline]] inline MaskCounts mask_counts_body(const std::uint64_t* column, const std::uint64_t* mask,
                                                          int nwords) {
  MaskCounts r;
  for (int k = 0; k < nwords; ++k) {
    const std::uint64_t low = column[k] & mask[k];
    const std::uint64_t high = (column[k] >> 1) & mask[k];
    r.low += std::popcount(low);
    r.high += std::popcount(high);
    r.both += std::popcount(low & high);
  }
  return r;
}

__attribute__((target("avx512f,avx512vl,avx512bw,avx512vpopcntdq"))) MaskCounts mask_counts_avx512(
    const std::uint64_t* column, const std::uint64_t* mask, int nwords) {
  return mask_counts_body(column, mask, nwords);
}

__attribute__((target("popcnt"))) MaskCounts mask_counts_popcnt(const std::uint64_t* column,
                                                                 const std::uint64_t* mask, int nwords) {
  return mask_counts_body(column, mask, nwords);
}

MaskCounts mask_counts_plain(const std::uint64_t* column, const std::uint64_t* mask, int nwords) {
  return mask_counts_body(column, mask, nwords);
}

enum class PopcountKind { avx512, popcnt, plain };

PopcountKind popcount_kind() {
  static const PopcountKind kind = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512vpopcntdq") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512bw"))
      return PopcountKind::avx512;
    if (__builtin_cpu_supports("popcnt")) return PopcountKind::popcnt;
    return PopcountKind::plain;
  }();
  return kind;
}

MaskCounts mask_counts(const std::uint64_t* column, const std::uint64_t* mask, int nwords) {
  switch (popcount_kind()) {
    case PopcountKind::avx512:
      return mask_counts_avx512(column, mask, nwords);
    case PopcountKind::popcnt:
      return mask_counts_popcnt(column, mask, nwords);
    default:
      return mask_counts_plain(column, mask, nwords);
  }
}

}  // namespace

bool masks_worthwhile(int n, int words, int nmask) {
  // Rough costs measured against counting case by case (about one unit per case): a word of
  // one mask costs a quarter of that with vector popcounts and over one unit without.
  const long long word_masks = static_cast<long long>(words) * nmask;
  switch (popcount_kind()) {
    case PopcountKind::avx512:
      return word_masks < 3LL * n;
    case PopcountKind::popcnt:
      return 3 * word_masks < 2LL * n;
    default:
      return false;
  }
}

void build_node_masks(const int* rows, int n, const int* y, int nclass, std::vector<int>& copies, NodeMasks& m) {
  m.active = false;
  if (n <= 0) return;
  int low = rows[0], high = rows[0];
  for (int k = 1; k < n; ++k) {
    low = std::min(low, rows[k]);
    high = std::max(high, rows[k]);
  }
  if (copies.size() <= static_cast<std::size_t>(high)) copies.resize(static_cast<std::size_t>(high) + 1, 0);
  int most = 0;
  for (int k = 0; k < n; ++k) most = std::max(most, ++copies[rows[k]]);
  m.nclass = nclass;
  m.nplane = std::bit_width(static_cast<unsigned>(most));
  m.first_word = low / 32;
  m.nwords = high / 32 - m.first_word + 1;
  const int nmask = m.nplane * nclass;
  if (!masks_worthwhile(n, m.nwords, nmask)) {
    for (int k = 0; k < n; ++k) copies[rows[k]] = 0;
    return;
  }
  m.mask.assign(static_cast<std::size_t>(nmask) * m.nwords, 0);
  m.mask_cases.assign(nmask, 0);
  m.total.assign(nclass, 0);
  for (int k = 0; k < n; ++k) {
    const int row = rows[k];
    const int c = copies[row];
    if (c == 0) continue;  // a copy of a case already entered
    copies[row] = 0;
    const int cls = y[row];
    m.total[cls] += c;
    const std::uint64_t bit = std::uint64_t{1} << (2 * (row & 31));
    const std::size_t word = static_cast<std::size_t>(row / 32 - m.first_word);
    for (int p = 0; p < m.nplane; ++p) {
      if (((c >> p) & 1) == 0) continue;
      const int q = p * nclass + cls;
      m.mask[static_cast<std::size_t>(q) * m.nwords + word] |= bit;
      ++m.mask_cases[q];
    }
  }
  m.active = true;
}

void count_by_masks(const std::uint64_t* column, const NodeMasks& m, int* hist) {
  const int nclass = m.nclass;
  std::fill(hist, hist + 4 * nclass, 0);
  const std::uint64_t* words = column + m.first_word;
  for (int p = 0; p < m.nplane; ++p) {
    for (int cls = 0; cls < nclass; ++cls) {
      const int q = p * nclass + cls;
      const MaskCounts r = mask_counts(words, m.mask.data() + static_cast<std::size_t>(q) * m.nwords, m.nwords);
      const long long code3 = r.both, code1 = r.low - r.both, code2 = r.high - r.both;
      const long long code0 = m.mask_cases[q] - code1 - code2 - code3;
      hist[cls] += static_cast<int>(code0 << p);
      hist[nclass + cls] += static_cast<int>(code1 << p);
      hist[2 * nclass + cls] += static_cast<int>(code2 << p);
      hist[3 * nclass + cls] += static_cast<int>(code3 << p);
    }
  }
}

}  // namespace forests
