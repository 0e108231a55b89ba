// Counting a node's codes of two-bit columns: the builders of its masks (or class lists), the
// popcount kernels and the counting of listed cases.
#include "bit_counts.hpp"

#include <immintrin.h>

#include <algorithm>
#include <bit>

#include "cpu_features.hpp"

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

// Two masks in one pass over the column: each word's low and high bits are found once.
[[gnu::always_inline]] inline void mask_pair_counts_body(const std::uint64_t* column, const std::uint64_t* mask0,
                                                         const std::uint64_t* mask1, int nwords, MaskCounts* r) {
  long long low0 = 0, high0 = 0, both0 = 0, low1 = 0, high1 = 0, both1 = 0;
  for (int k = 0; k < nwords; ++k) {
    const std::uint64_t low = column[k], high = column[k] >> 1, both = low & high;
    low0 += std::popcount(low & mask0[k]);
    high0 += std::popcount(high & mask0[k]);
    both0 += std::popcount(both & mask0[k]);
    low1 += std::popcount(low & mask1[k]);
    high1 += std::popcount(high & mask1[k]);
    both1 += std::popcount(both & mask1[k]);
  }
  r[0].low += low0, r[0].high += high0, r[0].both += both0;
  r[1].low += low1, r[1].high += high1, r[1].both += both1;
}

__attribute__((target("popcnt"))) void mask_pair_counts_popcnt(const std::uint64_t* column, const std::uint64_t* mask0,
                                                                const std::uint64_t* mask1, int nwords, MaskCounts* r) {
  mask_pair_counts_body(column, mask0, mask1, nwords, r);
}

void mask_pair_counts_plain(const std::uint64_t* column, const std::uint64_t* mask0, const std::uint64_t* mask1,
                            int nwords, MaskCounts* r) {
  mask_pair_counts_body(column, mask0, mask1, nwords, r);
}

#define FORESTS_VECTOR_POPCOUNTS __attribute__((target("avx512f,avx512vl,avx512bw,avx512vpopcntdq")))
FORESTS_WIDE_VECTORS_BEGIN

// The six counts of eight words in the lanes of six registers.
struct MaskPairLanes {
  __m512i low0, high0, both0, low1, high1, both1;
};

FORESTS_VECTOR_POPCOUNTS inline void add_mask_pair_block(__m512i column, __m512i mask0, __m512i mask1,
                                                         MaskPairLanes& a) {
  const __m512i high = _mm512_srli_epi64(column, 1), both = _mm512_and_si512(column, high);
  a.low0 = _mm512_add_epi64(a.low0, _mm512_popcnt_epi64(_mm512_and_si512(column, mask0)));
  a.high0 = _mm512_add_epi64(a.high0, _mm512_popcnt_epi64(_mm512_and_si512(high, mask0)));
  a.both0 = _mm512_add_epi64(a.both0, _mm512_popcnt_epi64(_mm512_and_si512(both, mask0)));
  a.low1 = _mm512_add_epi64(a.low1, _mm512_popcnt_epi64(_mm512_and_si512(column, mask1)));
  a.high1 = _mm512_add_epi64(a.high1, _mm512_popcnt_epi64(_mm512_and_si512(high, mask1)));
  a.both1 = _mm512_add_epi64(a.both1, _mm512_popcnt_epi64(_mm512_and_si512(both, mask1)));
}

// Lanes' sums of fewer than 2^21 each: one mask's three counts packed 21 bits apart in every
// lane, so that one sum over the lanes gives all three.
constexpr int kPackedCountWords = 1 << 17;

FORESTS_VECTOR_POPCOUNTS inline void sum_mask_lanes(__m512i low, __m512i high, __m512i both, bool packed,
                                                    MaskCounts& r) {
  if (!packed) {
    r.low += _mm512_reduce_add_epi64(low);
    r.high += _mm512_reduce_add_epi64(high);
    r.both += _mm512_reduce_add_epi64(both);
    return;
  }
  const __m512i lanes = _mm512_add_epi64(low, _mm512_add_epi64(_mm512_slli_epi64(high, 21), _mm512_slli_epi64(both, 42)));
  const auto sum = static_cast<std::uint64_t>(_mm512_reduce_add_epi64(lanes));
  r.low += static_cast<long long>(sum & 0x1fffff);
  r.high += static_cast<long long>((sum >> 21) & 0x1fffff);
  r.both += static_cast<long long>(sum >> 42);
}

// Blocks of eight words, and the words past the last whole block: with a shifted tail its last
// block over the column's last eight words, otherwise loaded under a lane mask.
FORESTS_VECTOR_POPCOUNTS void mask_pair_counts_avx512(const std::uint64_t* column, const std::uint64_t* mask0,
                                                      const std::uint64_t* mask1, int nwords, int stride,
                                                      bool shifted_tail, MaskCounts* r) {
  const __m512i zero = _mm512_setzero_si512();
  MaskPairLanes a{zero, zero, zero, zero, zero, zero};
  const int whole = shifted_tail ? stride - 8 : nwords / 8 * 8;
  for (int k = 0; k < whole; k += 8)
    add_mask_pair_block(_mm512_loadu_si512(column + k), _mm512_loadu_si512(mask0 + k), _mm512_loadu_si512(mask1 + k), a);
  if (shifted_tail) {
    add_mask_pair_block(_mm512_loadu_si512(column + nwords - 8), _mm512_loadu_si512(mask0 + whole),
                        _mm512_loadu_si512(mask1 + whole), a);
  } else if (whole < nwords) {
    const auto in = static_cast<__mmask8>((1u << (nwords - whole)) - 1);
    add_mask_pair_block(_mm512_maskz_loadu_epi64(in, column + whole), _mm512_maskz_loadu_epi64(in, mask0 + whole),
                        _mm512_maskz_loadu_epi64(in, mask1 + whole), a);
  }
  const bool packed = nwords < kPackedCountWords;
  sum_mask_lanes(a.low0, a.high0, a.both0, packed, r[0]);
  sum_mask_lanes(a.low1, a.high1, a.both1, packed, r[1]);
}

FORESTS_WIDE_VECTORS_END

// r[0] and r[1] for masks mask0 and mask1 (the layout of m's masks).
void mask_pair_counts(const std::uint64_t* column, const std::uint64_t* mask0, const std::uint64_t* mask1,
                      const NodeMasks& m, MaskCounts* r) {
  r[0] = r[1] = MaskCounts{};
  const int nwords = m.nwords;
  switch (popcount_kind()) {
    case PopcountKind::avx512:
      return mask_pair_counts_avx512(column, mask0, mask1, nwords, m.stride, m.shifted_tail, r);
    case PopcountKind::popcnt:
      return mask_pair_counts_popcnt(column, mask0, mask1, nwords, r);
    default:
      return mask_pair_counts_plain(column, mask0, mask1, nwords, r);
  }
}

// The codes of a two-bit column among the listed cases, counts[code] for codes 0 .. 3: each
// case adds one to its code's 16-bit lane of a word, in two words that do not wait on each
// other, emptied into the counts every 65535 cases.
[[gnu::always_inline]] inline void count_listed(const std::uint64_t* column, const unsigned* bits, int n,
                                              int* counts) {
  constexpr int kLaneLimit = 65535;
  auto lane = [column](unsigned bit) {
    const unsigned code = static_cast<unsigned>(column[bit >> 6] >> (bit & 63u)) & 3u;
    return std::uint64_t{1} << (16 * code);
  };
  for (int start = 0; start < n; start += kLaneLimit) {
    const int end = std::min(n, start + kLaneLimit);
    std::uint64_t even = 0, odd = 0;
    int k = start;
    for (; k + 2 <= end; k += 2) {
      even += lane(bits[k]);
      odd += lane(bits[k + 1]);
    }
    if (k < end) even += lane(bits[k]);
    const std::uint64_t sum = even + odd;
    for (int code = 0; code < 4; ++code) counts[code] += static_cast<int>((sum >> (16 * code)) & 0xffffu);
  }
}

[[gnu::always_inline]] inline void count_by_class_lists_body(const std::uint64_t* column, const unsigned* class_bits,
                                                             const int* class_start, int nclass, int* hist) {
  for (int cls = 0; cls < nclass; ++cls) {
    int counts[4] = {};
    count_listed(column, class_bits + class_start[cls], class_start[cls + 1] - class_start[cls], counts);
    for (int code = 0; code < 4; ++code) hist[code * nclass + cls] = counts[code];
  }
}

// Shifts by a register's count take one instruction with BMI2, three without.
__attribute__((target("bmi2"))) void count_by_class_lists_bmi2(const std::uint64_t* column, const unsigned* class_bits,
                                                               const int* class_start, int nclass, int* hist) {
  count_by_class_lists_body(column, class_bits, class_start, nclass, hist);
}

void count_by_class_lists_plain(const std::uint64_t* column, const unsigned* class_bits, const int* class_start,
                                int nclass, int* hist) {
  count_by_class_lists_body(column, class_bits, class_start, nclass, hist);
}

FORESTS_WIDE_VECTORS_BEGIN

// count_listed eight cases at a time: their words gathered into the lanes of a register, each
// lane counting its codes in 16-bit fields. The lanes hold at most 65535 cases in all.
FORESTS_WIDE_VECTORS inline void count_listed_wide(const std::uint64_t* column, const unsigned* bits, int n,
                                                   int* counts) {
  const __m512i zero = _mm512_setzero_si512(), low6 = _mm512_set1_epi64(63), three = _mm512_set1_epi64(3),
                one = _mm512_set1_epi64(1);
  __m512i sum = zero;
  for (int k = 0; k < n; k += 8) {
    const __mmask8 in = n - k >= 8 ? static_cast<__mmask8>(0xff) : static_cast<__mmask8>((1u << (n - k)) - 1);
    const __m512i bit = _mm512_cvtepu32_epi64(_mm256_maskz_loadu_epi32(in, bits + k));
    const __m512i word = _mm512_mask_i64gather_epi64(zero, in, _mm512_srli_epi64(bit, 6), column, 8);
    const __m512i code = _mm512_and_si512(_mm512_srlv_epi64(word, _mm512_and_si512(bit, low6)), three);
    sum = _mm512_mask_add_epi64(sum, in, sum, _mm512_sllv_epi64(one, _mm512_slli_epi64(code, 4)));
  }
  const auto fields = static_cast<std::uint64_t>(_mm512_reduce_add_epi64(sum));
  for (int code = 0; code < 4; ++code) counts[code] += static_cast<int>((fields >> (16 * code)) & 0xffffu);
}

FORESTS_WIDE_VECTORS void count_by_class_lists_wide(const std::uint64_t* column, const unsigned* class_bits,
                                                    const int* class_start, int nclass, int* hist) {
  constexpr int kLaneLimit = 65535;
  for (int cls = 0; cls < nclass; ++cls) {
    int counts[4] = {};
    for (int k = class_start[cls]; k < class_start[cls + 1]; k += kLaneLimit)
      count_listed_wide(column, class_bits + k, std::min(kLaneLimit, class_start[cls + 1] - k), counts);
    for (int code = 0; code < 4; ++code) hist[code * nclass + cls] = counts[code];
  }
}

// Column j's counts of the four codes, 16 bits each, in lane j of `fields`: to counts[code * 2 + cls][j].
FORESTS_WIDE_VECTORS inline void store_listed_counts(__m512i fields, int cls, int (*counts)[kListedColumns]) {
  const __m512i low16 = _mm512_set1_epi64(0xffff);
  for (int code = 0; code < 4; ++code) {
    const __m512i lane = _mm512_and_si512(_mm512_srli_epi64(fields, static_cast<unsigned>(16 * code)), low16);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(counts[code * 2 + cls]), _mm512_cvtepi64_epi32(lane));
  }
}

// One gather per case brings its word of every column, whose addresses are the lanes.
FORESTS_WIDE_VECTORS void count_listed_columns_wide(const std::uint64_t* const* columns, const unsigned* bits,
                                                    const int* class_start, int (*counts)[kListedColumns]) {
  static_assert(kListedColumns == 8);
  const __m512i address = _mm512_loadu_si512(columns), three = _mm512_set1_epi64(3), one = _mm512_set1_epi64(1);
  for (int cls = 0; cls < 2; ++cls) {
    __m512i even = _mm512_setzero_si512(), odd = even;
    int k = class_start[cls];
    const int end = class_start[cls + 1];
    for (; k + 2 <= end; k += 2) {
      const unsigned b0 = bits[k], b1 = bits[k + 1];
      const __m512i w0 = _mm512_i64gather_epi64(_mm512_add_epi64(address, _mm512_set1_epi64((b0 >> 6) * 8)), nullptr, 1);
      const __m512i w1 = _mm512_i64gather_epi64(_mm512_add_epi64(address, _mm512_set1_epi64((b1 >> 6) * 8)), nullptr, 1);
      const __m512i c0 = _mm512_and_si512(_mm512_srl_epi64(w0, _mm_cvtsi32_si128(static_cast<int>(b0 & 63))), three);
      const __m512i c1 = _mm512_and_si512(_mm512_srl_epi64(w1, _mm_cvtsi32_si128(static_cast<int>(b1 & 63))), three);
      even = _mm512_add_epi64(even, _mm512_sllv_epi64(one, _mm512_slli_epi64(c0, 4)));
      odd = _mm512_add_epi64(odd, _mm512_sllv_epi64(one, _mm512_slli_epi64(c1, 4)));
    }
    if (k < end) {
      const unsigned b0 = bits[k];
      const __m512i w0 = _mm512_i64gather_epi64(_mm512_add_epi64(address, _mm512_set1_epi64((b0 >> 6) * 8)), nullptr, 1);
      const __m512i c0 = _mm512_and_si512(_mm512_srl_epi64(w0, _mm_cvtsi32_si128(static_cast<int>(b0 & 63))), three);
      even = _mm512_add_epi64(even, _mm512_sllv_epi64(one, _mm512_slli_epi64(c0, 4)));
    }
    store_listed_counts(_mm512_add_epi64(even, odd), cls, counts);
  }
}

FORESTS_WIDE_VECTORS_END

// The same, one column after another within a case.
void count_listed_columns_plain(const std::uint64_t* const* columns, const unsigned* bits, const int* class_start,
                                int (*counts)[kListedColumns]) {
  for (int cls = 0; cls < 2; ++cls) {
    std::uint64_t fields[kListedColumns] = {};
    for (int k = class_start[cls]; k < class_start[cls + 1]; ++k) {
      const unsigned word = bits[k] >> 6, shift = bits[k] & 63;
      for (int j = 0; j < kListedColumns; ++j) fields[j] += std::uint64_t{1} << (16 * ((columns[j][word] >> shift) & 3));
    }
    for (int code = 0; code < 4; ++code)
      for (int j = 0; j < kListedColumns; ++j) counts[code * 2 + cls][j] = static_cast<int>((fields[j] >> (16 * code)) & 0xffffu);
  }
}

void count_by_class_lists(const std::uint64_t* column, const NodeMasks& m, int* hist) {
  static const bool bmi2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("bmi2") != 0;
  }();
  if (cpu_has_wide_vectors())
    count_by_class_lists_wide(column, m.class_bits.data(), m.class_start.data(), m.nclass, hist);
  else if (bmi2)
    count_by_class_lists_bmi2(column, m.class_bits.data(), m.class_start.data(), m.nclass, hist);
  else
    count_by_class_lists_plain(column, m.class_bits.data(), m.class_start.data(), m.nclass, hist);
}

}  // namespace

bool masks_worthwhile(int n, int words, int nmask) {
  // Rough costs measured against counting case by case (about one unit per case): a word of
  // one mask costs a quarter of that with vector popcounts and over one unit without.
  const long long word_masks = static_cast<long long>(words) * nmask;
  switch (popcount_kind()) {
    case PopcountKind::avx512:
      // Listed cases counted eight to a register cost about half as much again.
      return cpu_has_wide_vectors() ? 2 * word_masks < 3LL * n : word_masks < 3LL * n;
    case PopcountKind::popcnt:
      return 3 * word_masks < 2LL * n;
    default:
      return false;
  }
}

namespace {

// The node's cases by class; two classes in one pass, class 0 from the front in node order and
// class 1 from the back.
void list_two_classes(const int* rows, int n, const int* y, NodeMasks& m) {
  m.class_bits.resize(n);
  unsigned* front = m.class_bits.data();
  unsigned* back = front + n;
  for (int k = 0; k < n; ++k) {
    // Without a branch: the case is written to both free places, and only its class's moves on.
    const unsigned bit = 2 * static_cast<unsigned>(rows[k]);
    const int cls = y[rows[k]];
    *front = bit;
    back[-1] = bit;
    front += 1 - cls;
    back -= cls;
  }
  const int n0 = static_cast<int>(front - m.class_bits.data());
  m.class_start.assign({0, n0, n});
  m.total.assign({n0, n - n0});
  m.nclass = 2;
  m.listed = true;
}

// The node's cases by class, in node order within a class.
void list_by_class(const int* rows, int n, const int* y, int nclass, NodeMasks& m) {
  if (nclass == 2) return list_two_classes(rows, n, y, m);
  m.class_start.assign(nclass + 1, 0);
  for (int k = 0; k < n; ++k) ++m.class_start[y[rows[k]] + 1];
  for (int c = 0; c < nclass; ++c) m.class_start[c + 1] += m.class_start[c];
  m.class_bits.resize(n);
  m.total.assign(nclass, 0);
  for (int k = 0; k < n; ++k) {
    const int c = y[rows[k]];
    m.class_bits[m.class_start[c] + m.total[c]++] = 2 * static_cast<unsigned>(rows[k]);
  }
  m.nclass = nclass;
  m.listed = true;
}

}  // namespace

void build_node_masks(const int* rows, int n, const int* y, int nclass, std::vector<int>& copies, NodeMasks& m) {
  m.active = false;
  m.listed = false;
  if (n <= 0) return;
  int low = rows[0], high = rows[0];
  for (int k = 1; k < n; ++k) {
    low = std::min(low, rows[k]);
    high = std::max(high, rows[k]);
  }
  m.nclass = nclass;
  m.first_word = low / 32;
  m.nwords = high / 32 - m.first_word + 1;
  // Repeated cases only add masks: a node too small for one mask per class needs no copies counted.
  if (!masks_worthwhile(n, m.nwords, nclass)) return list_by_class(rows, n, y, nclass, m);
  if (copies.size() <= static_cast<std::size_t>(high)) copies.resize(static_cast<std::size_t>(high) + 1, 0);
  int most = 0;
  for (int k = 0; k < n; ++k) most = std::max(most, ++copies[rows[k]]);
  m.nplane = std::bit_width(static_cast<unsigned>(most));
  const int nmask = m.nplane * nclass;
  if (!masks_worthwhile(n, m.nwords, nmask)) {
    for (int k = 0; k < n; ++k) copies[rows[k]] = 0;
    list_by_class(rows, n, y, nclass, m);
    return;
  }
  // A shifted tail pays where vector popcounts leave a long tail; masks come in pairs for it.
  m.shifted_tail = popcount_kind() == PopcountKind::avx512 && m.nwords >= 8 && m.nwords % 8 >= 5 && nmask % 2 == 0;
  m.stride = m.shifted_tail ? (m.nwords + 7) / 8 * 8 : m.nwords;
  const int tail_from = m.stride - 8, tail_shift = m.stride - m.nwords;
  m.mask.assign(static_cast<std::size_t>(nmask) * m.stride, 0);
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
    int w = row / 32 - m.first_word;
    if (m.shifted_tail && w >= tail_from) w += tail_shift;
    const std::size_t word = static_cast<std::size_t>(w);
    for (int p = 0; p < m.nplane; ++p) {
      if (((c >> p) & 1) == 0) continue;
      const int q = p * nclass + cls;
      m.mask[static_cast<std::size_t>(q) * m.stride + word] |= bit;
      ++m.mask_cases[q];
    }
  }
  m.active = true;
}

bool counts_listed_columns(const NodeMasks& m) {
  // Each column's counts of a class and code take 16 bits.
  return m.listed && m.nclass == 2 && m.class_start[2] <= 65535;
}

void count_listed_columns(const std::uint64_t* const* columns, int ncolumns, const NodeMasks& m,
                          int (*counts)[kListedColumns]) {
  // Columns past the last count a copy of the first.
  const std::uint64_t* all[kListedColumns];
  for (int j = 0; j < kListedColumns; ++j) all[j] = columns[j < ncolumns ? j : 0];
  if (cpu_has_wide_vectors())
    count_listed_columns_wide(all, m.class_bits.data(), m.class_start.data(), counts);
  else
    count_listed_columns_plain(all, m.class_bits.data(), m.class_start.data(), counts);
}

void count_by_masks(const std::uint64_t* column, const NodeMasks& m, int* hist) {
  if (!m.active) return count_by_class_lists(column, m, hist);
  const int nclass = m.nclass;
  std::fill(hist, hist + 4 * nclass, 0);
  const std::uint64_t* words = column + m.first_word;
  const int nmask = m.nplane * nclass;
  auto mask = [&](int q) { return m.mask.data() + static_cast<std::size_t>(q) * m.stride; };
  // Mask q is plane p's mask of class cls.
  int p = 0, cls = 0;
  for (int q = 0; q < nmask; q += 2) {
    MaskCounts r[2];
    if (q + 1 < nmask)
      mask_pair_counts(words, mask(q), mask(q + 1), m, r);
    else
      r[0] = mask_counts(words, mask(q), m.nwords);
    for (int j = 0; j < 2 && q + j < nmask; ++j) {
      const long long code3 = r[j].both, code1 = r[j].low - r[j].both, code2 = r[j].high - r[j].both;
      const long long code0 = m.mask_cases[q + j] - code1 - code2 - code3;
      hist[cls] += static_cast<int>(code0 << p);
      hist[nclass + cls] += static_cast<int>(code1 << p);
      hist[2 * nclass + cls] += static_cast<int>(code2 << p);
      hist[3 * nclass + cls] += static_cast<int>(code3 << p);
      if (++cls == nclass) {
        cls = 0;
        ++p;
      }
    }
  }
}

}  // namespace forests
