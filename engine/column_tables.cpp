// What a column read to the end comes to: the cells of each spelling, the value table and the
// rank of each spelling in it, the keys an ordinal column of scaled cells keeps, and the sort
// replays that keep a zero's sign as sorting the whole column would.
#include "column_tables.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <immintrin.h>
#include <limits>

#include "cpu_features.hpp"

namespace forests {

namespace {

// A key whose unsigned order is the order of the values, -0 and 0 being equal.
std::uint64_t order_key(double v) {
  if (v == 0.0) v = 0.0;
  const auto u = std::bit_cast<std::uint64_t>(v);
  return u >> 63 ? ~u : u | (std::uint64_t{1} << 63);
}

struct KeyedSpelling {
  std::uint64_t key;
  int spelling;
  bool operator<(const KeyedSpelling& o) const { return key != o.key ? key < o.key : spelling < o.spelling; }
};

// Sorts by key, then spelling number. Items come in spelling order, so a stable sort by the
// keys' high half, byte by byte from the lowest (passing over bytes that all keys share), then
// a sort of each run of equal high halves does it.
void sort_by_key(std::vector<KeyedSpelling>& items) {
  const std::size_t n = items.size();
  if (std::is_sorted(items.begin(), items.end())) return;  // as columns of scaled cells come
  if (n < 64) {
    std::sort(items.begin(), items.end());
    return;
  }
  std::array<std::array<std::uint32_t, 256>, 4> counts{};
  for (const KeyedSpelling& it : items)
    for (int byte = 0; byte < 4; ++byte) ++counts[byte][(it.key >> (32 + 8 * byte)) & 0xff];
  std::vector<KeyedSpelling> other(n);
  for (int byte = 0; byte < 4; ++byte) {
    const int shift = 32 + 8 * byte;
    std::array<std::uint32_t, 256>& count = counts[byte];
    if (count[(items[0].key >> shift) & 0xff] == n) continue;
    std::uint32_t start = 0;
    for (std::uint32_t& c : count) {
      const std::uint32_t here = c;
      c = start;
      start += here;
    }
    for (const KeyedSpelling& it : items) other[count[(it.key >> shift) & 0xff]++] = it;
    items.swap(other);
  }
  for (std::size_t q = 0; q < n;) {
    std::size_t end = q + 1;
    while (end < n && (items[end].key >> 32) == (items[q].key >> 32)) ++end;
    if (end - q > 1) std::sort(items.begin() + static_cast<std::ptrdiff_t>(q), items.begin() + static_cast<std::ptrdiff_t>(end));
    q = end;
  }
}

// Cells of each slot seen in a column of slots. Eight cells at a time, a byte per cell tells
// whether it holds a slot; the bytes are summed in eight lanes, for every slot seen but the
// last, which has the cells left.
std::vector<long long> count_slots(const ColumnBeingRead& c, int nsp) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kLow7 = 0x7f7f7f7f7f7f7f7full, kHigh = 0x8080808080808080ull;
  constexpr std::uint64_t kLaneBytes = 0x00ff00ff00ff00ffull;
  std::array<int, kShortSlots> seen;
  int nseen = 0;
  for (int slot = 0; slot < kShortSlots; ++slot)
    if (c.slot_spelling[slot] >= 0) seen[nseen++] = slot;
  std::array<long long, kShortSlots> of_slot{};
  const std::uint8_t* b = c.slots;
  const std::size_t n = c.nslots, words = n / 8;
  for (int q = 0; q + 1 < nseen; ++q) {
    const std::uint64_t pattern = kOnes * static_cast<std::uint64_t>(seen[q]);
    for (std::size_t w0 = 0; w0 < words; w0 += 255) {  // a lane holds at most 255
      std::uint64_t lanes = 0;
      for (std::size_t w = w0; w < std::min(words, w0 + 255); ++w) {
        std::uint64_t x;
        std::memcpy(&x, b + 8 * w, sizeof x);
        lanes += (~((x ^ pattern) + kLow7) & kHigh) >> 7;  // the bytes stay below 0x80: no carries
      }
      lanes = (lanes & kLaneBytes) + ((lanes >> 8) & kLaneBytes);
      of_slot[seen[q]] += static_cast<long long>((lanes * 0x0001000100010001ull) >> 48);
    }
    for (std::size_t i = 8 * words; i < n; ++i) of_slot[seen[q]] += b[i] == seen[q];
  }
  std::vector<long long> count(nsp, 0);
  long long rest = static_cast<long long>(n);
  for (int q = 0; q < nseen; ++q) {
    const long long k = q + 1 < nseen ? of_slot[seen[q]] : rest;
    count[c.slot_spelling[seen[q]]] += k;
    rest -= k;
  }
  return count;
}

// Cells of each spelling. One-byte cells are counted in four tallies in turn, so that runs of
// equal cells do not wait on one another.
std::vector<long long> count_spellings(const ColumnBeingRead& c, int nsp) {
  if (c.form == ColumnBeingRead::kSlots) return count_slots(c, nsp);
  std::vector<long long> count(nsp, 0);
  if (c.form == ColumnBeingRead::kTwoBits) {
    const std::array<long long, 4> of_code = count_two_bit_codes(c.two_bit_words, c.nslots);
    for (int code = 0; code < 4; ++code)
      if (c.code_spelling[code] >= 0) count[c.code_spelling[code]] += of_code[code];
    return count;
  }
  if (!c.one_byte_cells()) {
    c.cells.for_each([&](std::size_t, std::uint32_t k) { ++count[k]; });
    return count;
  }
  std::vector<std::uint32_t> tally(4 * static_cast<std::size_t>(nsp), 0);
  const std::uint8_t* b = c.cells.data();
  const std::size_t n = c.cells.size();
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    ++tally[b[i]];
    ++tally[nsp + b[i + 1]];
    ++tally[2 * nsp + b[i + 2]];
    ++tally[3 * nsp + b[i + 3]];
  }
  for (; i < n; ++i) ++tally[b[i]];
  for (int k = 0; k < nsp; ++k) count[k] = static_cast<long long>(tally[k]) + tally[nsp + k] + tally[2 * nsp + k] + tally[3 * nsp + k];
  return count;
}

}  // namespace

namespace {

// Cells of codes 1 to 3 among the words, as count_two_bit_codes; compiled for the processor's
// own count of bits too, where it has one.
template <class Ones>
void count_two_bit_words(const std::uint64_t* words, std::size_t nwords, std::array<long long, 4>& count, Ones&& ones_in) {
  constexpr std::uint64_t kLow = 0x5555555555555555ull;
  for (std::size_t w = 0; w < nwords; ++w) {
    const std::uint64_t lo = words[w] & kLow, hi = (words[w] >> 1) & kLow;
    count[1] += ones_in(lo & ~hi);
    count[2] += ones_in(hi & ~lo);
    count[3] += ones_in(lo & hi);
  }
}

__attribute__((target("popcnt"))) void count_two_bit_words_popcnt(const std::uint64_t* words, std::size_t nwords,
                                                                  std::array<long long, 4>& count) {
  count_two_bit_words(words, nwords, count, [](std::uint64_t x) { return __builtin_popcountll(x); });
}

}  // namespace

std::array<long long, 4> count_two_bit_codes(const std::uint64_t* words, std::size_t n) {
  static const bool popcnt = (__builtin_cpu_init(), __builtin_cpu_supports("popcnt"));
  std::array<long long, 4> count{};
  if (popcnt)
    count_two_bit_words_popcnt(words, (n + 31) / 32, count);
  else
    count_two_bit_words(words, (n + 31) / 32, count, [](std::uint64_t x) { return ones(x); });
  count[0] = static_cast<long long>(n) - count[1] - count[2] - count[3];
  return count;
}

void recode_two_bit_cells(const std::uint64_t* from, std::size_t n, const std::array<std::uint32_t, 4>& code,
                          std::uint64_t* to) {
  constexpr std::uint64_t kLow = 0x5555555555555555ull;
  // The low and the high bit of each new code, as masks over the cells of each old code.
  std::array<std::uint64_t, 4> low{}, high{};
  for (int c = 0; c < 4; ++c) {
    low[c] = (code[c] & 1) ? kLow : 0;
    high[c] = (code[c] & 2) ? kLow : 0;
  }
  const std::size_t words = (n + 31) / 32;
  for (std::size_t w = 0; w < words; ++w) {
    const std::uint64_t lo = from[w] & kLow, hi = (from[w] >> 1) & kLow;
    const std::uint64_t is[4] = {~(lo | hi) & kLow, lo & ~hi, hi & ~lo, lo & hi};
    std::uint64_t out_low = 0, out_high = 0;
    for (int c = 0; c < 4; ++c) {
      out_low |= is[c] & low[c];
      out_high |= is[c] & high[c];
    }
    to[w] = out_low | (out_high << 1);
  }
  if (n % 32 != 0) to[words - 1] &= (std::uint64_t{1} << (2 * (n % 32))) - 1;
}

std::vector<int> scaled_ranks(const ColumnBeingRead& c) {
  // The missing keys come first and share one index, and so do -0 and 0 (keys -1 and 0, side
  // by side); every other key has an index of its own.
  const std::vector<std::int32_t>& key = c.distinct.key;
  const auto n = static_cast<int>(key.size());
  const auto missing = static_cast<int>(std::find_if(key.begin(), key.end(), [](std::int32_t k) { return k > kMissingNan; }) - key.begin());
  const auto zeros = static_cast<int>(std::lower_bound(key.begin() + missing, key.end(), -1) - key.begin());
  const int shared_zero = zeros + 1 < n && key[zeros] == -1 && key[zeros + 1] == 0 ? zeros + 1 : n;
  std::vector<int> rank(key.size());
  const int before = missing > 0 ? missing - 1 : 0;
  for (int k = 0; k < n; ++k) rank[k] = k - before - (k >= shared_zero ? 1 : 0);
  for (int k = 0; k < missing; ++k) rank[k] = 0;
  return rank;
}

// A column of scaled cells: its spellings, the distinct keys, come in order of value already,
// and only the missing keys, and -0 and 0 (keys -1 and 0), share a value.
void append_ordinal_scaled_values(const ColumnBeingRead& c, double missing_code, std::vector<double>& value) {
  const std::vector<std::int32_t>& key = c.distinct.key;
  const auto number = std::find_if(key.begin(), key.end(), [](std::int32_t k) { return k > kMissingNan; });
  if (number != key.begin()) value.push_back(missing_code);
  const std::size_t at = value.size();
  value.resize(at + static_cast<std::size_t>(key.end() - number));
  // The values as scaled_value gives them, in a loop without branches (a division by 1 changes
  // nothing); the minus zero, if any, is set apart.
  const auto power = static_cast<double>(kPowerOfTen[c.scaled.scale]);
  double* out = value.data() + at;
  for (auto k = number; k != key.end(); ++k) *out++ = static_cast<double>(*k / 2) / power;
  const auto minus_zero = std::lower_bound(number, key.end(), -1);
  if (minus_zero == key.end() || *minus_zero != -1) return;
  const auto q = static_cast<std::ptrdiff_t>(at) + (minus_zero - number);
  value[q] = -0.0;
  if (minus_zero + 1 != key.end() && minus_zero[1] == 0) value.erase(value.begin() + q + 1);  // one zero for both
}

std::size_t ordinal_scaled_size(const ColumnBeingRead& c) {
  const std::vector<std::int32_t>& key = c.distinct.key;
  const auto number = std::find_if(key.begin(), key.end(), [](std::int32_t k) { return k > kMissingNan; });
  const auto missing = static_cast<std::size_t>(number - key.begin());  // the missing keys come first
  const auto zeros = std::lower_bound(number, key.end(), -1);
  const bool shared_zero = zeros != key.end() && *zeros == -1 && zeros + 1 != key.end() && zeros[1] == 0;
  return key.size() - missing + (missing > 0 ? 1 : 0) - (shared_zero ? 1 : 0);
}

ValueTable ordinal_scaled_table(const ColumnBeingRead& c, double missing_code) {
  ValueTable t;
  t.value.reserve(c.distinct.key.size());
  append_ordinal_scaled_values(c, missing_code, t.value);
  return t;
}

ValueTable ordinal_scaled_ends(const ColumnBeingRead& c, double missing_code) {
  const std::vector<std::int32_t>& key = c.distinct.key;
  ValueTable t;
  if (key.empty()) return t;
  if (key[0] <= kMissingNan) t.value.push_back(missing_code);
  const auto first = std::find_if(key.begin(), key.end(), [](std::int32_t k) { return k > kMissingNan; });
  if (first == key.end()) return t;
  t.value.push_back(scaled_value(*first, c.scaled.scale));
  if (first + 1 == key.end()) return t;
  // The last value: a zero shared by both spellings is the minus zero's, which comes first.
  const bool shared_zero = key.back() == 0 && key.end()[-2] == -1;
  if (!(shared_zero && first + 2 == key.end())) t.value.push_back(scaled_value(shared_zero ? -1 : key.back(), c.scaled.scale));
  return t;
}

ValueTable value_table(const ColumnBeingRead& c, double missing_code, std::vector<int>& rank) {
  if (c.form == ColumnBeingRead::kScaled) {
    ValueTable t = ordinal_scaled_table(c, missing_code);
    rank = scaled_ranks(c);
    t.count.assign(t.value.size(), 0);
    c.for_each_spelling([&](std::size_t, std::uint32_t k) { ++t.count[rank[k]]; });
    return t;
  }
  const int nsp = static_cast<int>(c.value.size());
  const std::vector<long long> spelling_count = count_spellings(c, nsp);
  std::vector<KeyedSpelling> order;  // equal values in spelling order
  order.reserve(nsp);
  bool missing = false;
  for (int k = 0; k < nsp; ++k) {
    if (std::isnan(c.value[k]))
      missing = true;
    else
      order.push_back({order_key(c.value[k]), k});
  }
  sort_by_key(order);
  ValueTable t;
  rank.assign(nsp, 0);
  if (missing) {
    t.value.push_back(missing_code);
    t.count.push_back(0);
  }
  for (std::size_t q = 0; q < order.size(); ++q) {
    if (q == 0 || order[q].key != order[q - 1].key) {
      t.value.push_back(c.value[order[q].spelling]);
      t.count.push_back(0);
    }
    rank[order[q].spelling] = static_cast<int>(t.value.size()) - 1;
  }
  for (int k = 0; k < nsp; ++k) t.count[rank[k]] += spelling_count[k];
  return t;
}

namespace {

// A cell in the search for the kept zero: 2 * its value table index, plus 1 for a minus zero.
// Cells compare by table index only, as their values compare.
bool index_before(std::uint32_t a, std::uint32_t b) { return (a >> 1) < (b >> 1); }

void move_median_to_first(std::uint32_t* result, std::uint32_t* a, std::uint32_t* b, std::uint32_t* c) {
  if (index_before(*a, *b)) {
    if (index_before(*b, *c))
      std::iter_swap(result, b);
    else if (index_before(*a, *c))
      std::iter_swap(result, c);
    else
      std::iter_swap(result, a);
  } else if (index_before(*a, *c)) {
    std::iter_swap(result, a);
  } else if (index_before(*b, *c)) {
    std::iter_swap(result, c);
  } else {
    std::iter_swap(result, b);
  }
}

}  // namespace

namespace {

// Lists the places k = from .. to, in this order, whose cell first[k - 1] has an index at least
// `index`; returns how many. (list[count] may be written past them.)
std::uint32_t list_from_left(const std::uint32_t* first, std::uint32_t from, std::uint32_t to, std::uint32_t index,
                             std::uint32_t* list) {
  std::uint32_t count = 0;
  for (std::uint32_t k = from; k <= to; ++k) {
    list[count] = k;
    count += (first[k - 1] >> 1) >= index ? 1 : 0;
  }
  return count;
}

// Lists the places k = from, from - 1, .. stop + 1 whose cell has an index at most `index`.
std::uint32_t list_from_right(const std::uint32_t* first, std::uint32_t from, std::uint32_t stop, std::uint32_t index,
                              std::uint32_t* list) {
  std::uint32_t count = 0;
  for (std::uint32_t k = from; k > stop; --k) {
    list[count] = k;
    count += (first[k - 1] >> 1) <= index ? 1 : 0;
  }
  return count;
}

FORESTS_WIDE_VECTORS_BEGIN

// The same, sixteen cells at a time on wide vectors (only where cpu_has_wide_vectors).
FORESTS_WIDE_VECTORS std::uint32_t list_from_left_wide(const std::uint32_t* first, std::uint32_t from, std::uint32_t to,
                                                       std::uint32_t index, std::uint32_t* list) {
  const __m512i lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m512i bound = _mm512_set1_epi32(static_cast<int>(index));
  std::uint32_t count = 0;
  for (std::uint32_t k = from; k <= to; k += 16) {
    const std::uint32_t lanes = std::min<std::uint32_t>(16, to - k + 1);
    const auto in = static_cast<__mmask16>((1u << lanes) - 1);
    const __m512i x = _mm512_maskz_loadu_epi32(in, first + (k - 1));
    const __mmask16 listed = _mm512_mask_cmpge_epu32_mask(in, _mm512_srli_epi32(x, 1), bound);
    _mm512_mask_compressstoreu_epi32(list + count, listed, _mm512_add_epi32(lane, _mm512_set1_epi32(static_cast<int>(k))));
    count += ones(listed);
  }
  return count;
}

FORESTS_WIDE_VECTORS std::uint32_t list_from_right_wide(const std::uint32_t* first, std::uint32_t from, std::uint32_t stop,
                                                        std::uint32_t index, std::uint32_t* list) {
  const __m512i lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m512i bound = _mm512_set1_epi32(static_cast<int>(index));
  std::uint32_t count = 0;
  for (std::uint32_t k = from; k > stop; k -= std::min<std::uint32_t>(16, k - stop)) {
    // The cells of places k - lanes + 1 .. k, turned so that lane q holds place k - q.
    const std::uint32_t lanes = std::min<std::uint32_t>(16, k - stop);
    const auto in = static_cast<__mmask16>((1u << lanes) - 1);
    const __m512i loaded = _mm512_maskz_loadu_epi32(in, first + (k - lanes));
    const __m512i x = _mm512_permutexvar_epi32(_mm512_sub_epi32(_mm512_set1_epi32(static_cast<int>(lanes) - 1), lane), loaded);
    const __mmask16 listed = _mm512_mask_cmple_epu32_mask(in, _mm512_srli_epi32(x, 1), bound);
    _mm512_mask_compressstoreu_epi32(list + count, listed, _mm512_sub_epi32(_mm512_set1_epi32(static_cast<int>(k)), lane));
    count += ones(listed);
  }
  return count;
}

FORESTS_WIDE_VECTORS_END

}  // namespace

std::uint32_t* partition_by_index(std::uint32_t* first, std::uint32_t* last, std::vector<std::uint32_t>& scratch) {
  static const bool wide = cpu_has_wide_vectors();
  constexpr std::uint32_t kRun = 64;  // cells listed at a time from either end
  const std::uint32_t index = first[-1] >> 1;
  const auto n = static_cast<std::uint32_t>(last - first);
  // Places counted from the pivot's, 0: the pivot stops the scan from the right at the latest.
  scratch.resize(2 * static_cast<std::size_t>(n) + 1);
  std::uint32_t* const from_left = scratch.data();
  std::uint32_t* const from_right = scratch.data() + n;
  std::uint32_t nleft = 0, nright = 0, left_next = 1, right_next = n, m = 0;
  // Runs are listed only as the pairs need them, so the lists end near where they cross. A run
  // may take in cells already swapped: only past the last pair swapped on its side, where it
  // changes neither the cut nor where the swaps stop.
  for (;;) {
    if (m == nleft) {
      if (left_next > n) break;
      const std::uint32_t end = std::min(n, left_next + kRun - 1);
      nleft += (wide ? list_from_left_wide : list_from_left)(first, left_next, end, index, from_left + nleft);
      left_next = end + 1;
    } else if (m == nright) {
      const std::uint32_t stop = right_next > kRun ? right_next - kRun : 0;
      nright += (wide ? list_from_right_wide : list_from_right)(first, right_next, stop, index, from_right + nright);
      if (stop == 0) from_right[nright++] = 0;
      right_next = stop;
    } else if (from_left[m] < from_right[m]) {
      std::swap(first[from_left[m] - 1], first[from_right[m] - 1]);
      ++m;
    } else {
      break;
    }
  }
  // The scan from the left stops at the next cell listed, or at the last cell swapped to the right.
  std::uint32_t cut = m < nleft ? from_left[m] : n + 1;
  if (m > 0) cut = std::min(cut, from_right[m - 1]);
  return first + (cut - 1);
}

namespace {

// The partitioning steps of std::sort (introsort: median of three, unguarded partition, heap
// sort past the depth limit, parts of 16 or fewer left to a final insertion sort), replayed on
// the parts that can hold cells of table index `zero`. The final insertion sort never moves a
// cell past an equal one, so the first zero cell left here is the first after std::sort.
void sort_toward(std::uint32_t* first, std::uint32_t* last, long depth, std::uint32_t zero, std::vector<std::uint32_t>& scratch) {
  while (last - first > 16) {
    if (depth == 0) {
      std::partial_sort(first, last, last, index_before);
      return;
    }
    --depth;
    move_median_to_first(first, first + 1, first + (last - first) / 2, last - 1);
    std::uint32_t* cut = partition_by_index(first + 1, last, scratch);
    const std::uint32_t pivot = *first >> 1;  // the cells before cut are at most it, the rest at least
    if (pivot <= zero) sort_toward(cut, last, depth, zero, scratch);
    if (pivot < zero) return;
    last = cut;
  }
}

}  // namespace

namespace {

// x holds each cell as 2 * its rank, plus 1 for a minus zero. The sort is replayed as far as the
// zeros' rank, and the zero it leaves first there gives the kept zero its sign: true for minus.
bool sort_keeps_minus_zero(std::vector<std::uint32_t>& x, std::uint32_t zero) {
  std::vector<std::uint32_t> scratch;
  sort_toward(x.data(), x.data() + x.size(), 2 * (static_cast<long>(std::bit_width(x.size())) - 1), zero, scratch);
  const auto first = std::find_if(x.begin(), x.end(), [&](std::uint32_t a) { return (a >> 1) == zero; });
  return (*first & 1) != 0;
}

// The kept zero of a column of scaled cells, whose spellings of -0 and 0 are its keys -1 and 0:
// its table index, -1 when the column does not spell both, and whether it is the minus zero.
int scaled_kept_zero(const ColumnBeingRead& c, const std::vector<int>& ranks, bool& minus_kept) {
  const std::vector<std::int32_t>& key = c.distinct.key;
  const auto minus = std::lower_bound(key.begin(), key.end(), -1);
  if (minus == key.end() || *minus != -1 || minus + 1 == key.end() || minus[1] != 0) return -1;
  const std::vector<int> found = ranks.empty() ? scaled_ranks(c) : std::vector<int>();
  const std::vector<int>& rank = ranks.empty() ? found : ranks;
  const auto minus_zero = static_cast<std::int32_t>(minus - key.begin());
  const auto zero = static_cast<std::uint32_t>(rank[minus_zero]);
  std::vector<std::uint32_t> x(c.cell_count());
  c.for_each_spelling([&](std::size_t i, std::uint32_t k) {
    x[i] = 2 * static_cast<std::uint32_t>(rank[k]) + (k == static_cast<std::uint32_t>(minus_zero) ? 1 : 0);
  });
  minus_kept = sort_keeps_minus_zero(x, zero);
  return static_cast<int>(zero);
}

void scaled_zero_as_sorted(const ColumnBeingRead& c, const std::vector<int>& ranks, double* value) {
  bool minus = false;
  const int zero = scaled_kept_zero(c, ranks, minus);
  if (zero >= 0) value[zero] = minus ? -0.0 : 0.0;
}

}  // namespace

void zero_as_sorted(const ColumnBeingRead& c, const std::vector<int>& rank, double* value) {
  if (c.form == ColumnBeingRead::kScaled) return scaled_zero_as_sorted(c, rank, value);
  int zero = -1;
  bool plus = false, minus = false;
  for (std::size_t k = 0; k < c.value.size(); ++k) {
    if (c.value[k] != 0.0) continue;
    (std::signbit(c.value[k]) ? minus : plus) = true;
    zero = rank[k];
  }
  if (!plus || !minus) return;
  std::vector<std::uint32_t> cell_of_spelling(c.value.size());
  for (std::size_t k = 0; k < c.value.size(); ++k)
    cell_of_spelling[k] = 2 * static_cast<std::uint32_t>(rank[k]) + (c.value[k] == 0.0 && std::signbit(c.value[k]) ? 1 : 0);
  std::vector<std::uint32_t> x(c.cell_count());
  c.for_each_spelling([&](std::size_t i, std::uint32_t k) { x[i] = cell_of_spelling[k]; });
  value[zero] = sort_keeps_minus_zero(x, static_cast<std::uint32_t>(zero)) ? -0.0 : 0.0;
}

std::vector<std::int32_t> release_ordinal_scaled_keys(ColumnBeingRead& c, const std::vector<int>& rank) {
  bool minus = false;
  const int zero = scaled_kept_zero(c, rank, minus);
  std::vector<std::int32_t> key = std::move(c.distinct.key);
  c.distinct.key = {};
  const auto number = std::find_if(key.begin(), key.end(), [](std::int32_t k) { return k > kMissingNan; });
  if (number - key.begin() > 1) key.erase(key.begin() + 1, number);  // one code for every missing key
  if (zero >= 0) {
    key.erase(key.begin() + zero + 1);  // the plain zero, which follows the minus zero
    key[zero] = minus ? -1 : 0;
  }
  return key;
}

}  // namespace forests
