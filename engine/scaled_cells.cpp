// Scaling the cells of a decimal column, and finding its distinct values by counting.
#include "scaled_cells.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <immintrin.h>
#include <span>

#include "cpu_features.hpp"

namespace forests {

bool raise_scale(ScaledCells& s, int more) {
  // Rare (a column's decimals grow at most 15 times): the largest number is looked for here.
  std::uint32_t largest = 0;
  for (const std::int32_t k : s.key)
    if (k > kMissingNan) largest = std::max(largest, static_cast<std::uint32_t>(k < 0 ? -k : k) >> 1);
  if (largest > kLargestScaled / kPowerOfTen[more]) return false;
  const auto times = static_cast<std::int32_t>(kPowerOfTen[more]);
  s.low = std::numeric_limits<std::int32_t>::max();
  s.high = std::numeric_limits<std::int32_t>::min();
  for (std::int32_t& k : s.key) {
    if (k <= kMissingNan) continue;
    if (k != -1) k *= times;
    s.low = std::min(s.low, k);
    s.high = std::max(s.high, k);
  }
  s.scale += more;
  return true;
}

KeyRun measure_key_run(const std::int32_t* keys, int n) {
  KeyRun run;
  for (int k = 0; k < n; ++k) {
    run.missing[0] += keys[k] == kMissingNa ? 1 : 0;
    run.missing[1] += keys[k] == kMissingDot ? 1 : 0;
    run.missing[2] += keys[k] == kMissingNan ? 1 : 0;
    run.low = std::min(run.low, static_cast<std::uint32_t>(keys[k]) - static_cast<std::uint32_t>(kOtherForm));
    run.high = std::max(run.high, keys[k]);
  }
  return run;
}

void append_own_keys(ScaledCells& s, const std::int32_t* keys, int n) {
  if (n == 0) return;
  static const bool wide = cpu_has_wide_vectors();
  const int whole = wide ? n & ~15 : 0;
  KeyRun run = whole > 0 ? measure_key_run_wide(keys, whole) : KeyRun{};
  if (whole < n) {
    const KeyRun rest = measure_key_run(keys + whole, n - whole);
    run.low = std::min(run.low, rest.low);
    run.high = std::max(run.high, rest.high);
    for (int m = 0; m < 3; ++m) run.missing[m] += rest.missing[m];
  }
  if (run.missing[0] + run.missing[1] + run.missing[2] < n) {
    s.any_number = true;
    s.low = std::min(s.low, static_cast<std::int32_t>(run.low + static_cast<std::uint32_t>(kOtherForm)));
    s.high = std::max(s.high, run.high);
  }
  for (int m = 0; m < 3; ++m) s.missing[m] += static_cast<std::size_t>(run.missing[m]);
  s.key.insert(s.key.end(), keys, keys + n);
}

void append_key(ScaledCells& s, std::int32_t key) {
  if (key <= kMissingNan) {
    ++s.missing[key - kMissingNa];
  } else {
    s.low = std::min(s.low, key);
    s.high = std::max(s.high, key);
  }
  s.key.push_back(key);
}

bool add_other_scaled_cell(ScaledCells& s, std::string_view token, bool keep_spellings, bool nan_is_missing) {
  PlainDecimal d;
  if (!read_plain_decimal(token, d)) {
    const bool na = token == "NA", dot = token == ".";
    if (!na && !dot && !(nan_is_missing && token == "NaN")) return false;
    append_key(s, na ? kMissingNa : dot ? kMissingDot : kMissingNan);
    return true;
  }
  if (keep_spellings && !d.canonical) return false;
  if (d.decimals < s.scale) {
    if (keep_spellings || d.digits > kLargestScaled / kPowerOfTen[s.scale - d.decimals]) return false;
    d.digits *= kPowerOfTen[s.scale - d.decimals];
  } else if (d.decimals > s.scale && ((keep_spellings && s.any_number) || !raise_scale(s, d.decimals - s.scale))) {
    return false;
  }
  if (d.digits > kLargestScaled) return false;
  s.any_number = true;
  const auto twice = static_cast<std::int32_t>(2 * d.digits);
  append_key(s, !d.negative ? twice : d.digits == 0 ? -1 : -twice);
  return true;
}

std::string scaled_spelling(std::int32_t key, int scale) {
  if (key == kMissingNa) return "NA";
  if (key == kMissingDot) return ".";
  if (key == kMissingNan) return "NaN";
  const std::uint64_t number = key < 0 ? static_cast<std::uint64_t>(-(static_cast<std::int64_t>(key) / 2)) : key / 2;
  // The number with a leading 1 above its decimals, so that their leading zeros are printed.
  char digits[24];
  const char* const end = std::to_chars(digits, digits + sizeof digits, number + kPowerOfTen[scale] * 10).ptr;
  std::string text = key < 0 ? "-" : "";
  const std::uint64_t whole = number / kPowerOfTen[scale];
  text += std::to_string(whole);
  if (scale > 0) {
    text += '.';
    text.append(end - scale, end);
  }
  return text;
}

FORESTS_WIDE_VECTORS_BEGIN

namespace {

// Bytes from .. to - 1 of each lane's word (none where to <= from), as printed_shape's bytes().
FORESTS_WIDE_VECTORS inline __m512i byte_span(__m512i from, __m512i to) {
  const __m512i ones = _mm512_set1_epi64(-1);
  const __m512i span = _mm512_andnot_si512(_mm512_sllv_epi64(ones, _mm512_slli_epi64(_mm512_sub_epi64(to, from), 3)), ones);
  return _mm512_maskz_sllv_epi64(_mm512_cmpgt_epi64_mask(to, from), span, _mm512_slli_epi64(from, 3));
}

}  // namespace

// The steps of printed_shape and printed_scaled_key, lane by lane.
FORESTS_WIDE_VECTORS void printed_scaled_keys_wide(const char* b, const std::uint32_t* at, const int* scale, std::int32_t* key) {
  const __m512i tokens = _mm512_loadu_si512(at);
  const __m512i start = _mm512_and_si512(tokens, _mm512_set1_epi64(0xffffffff));
  const __m512i n = _mm512_srli_epi64(tokens, 32);
  const __m512i s = _mm512_cvtepi32_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(scale)));
  const __m512i word = _mm512_i64gather_epi64(start, b, 1);
  const __m512i one = _mm512_set1_epi64(1), zero = _mm512_setzero_si512();
  const __mmask8 minus = _mm512_cmpeq_epi64_mask(_mm512_and_si512(word, _mm512_set1_epi64(0xff)), _mm512_set1_epi64('-'));
  const __m512i negative = _mm512_maskz_mov_epi64(minus, one);
  const __mmask8 decimals = _mm512_cmpgt_epi64_mask(s, zero);
  // The point's byte, or the end.
  const __m512i point = _mm512_mask_sub_epi64(n, decimals, _mm512_sub_epi64(n, one), s);
  const __m512i whole_digits = _mm512_sub_epi64(point, negative);
  __mmask8 fits = _mm512_cmpge_epi64_mask(s, zero) & _mm512_cmplt_epi64_mask(s, _mm512_set1_epi64(kPrintedScales)) &
                  _mm512_cmpge_epi64_mask(n, one) & _mm512_cmplt_epi64_mask(n, _mm512_set1_epi64(8)) &
                  _mm512_cmpge_epi64_mask(whole_digits, one);
  const __m512i point_byte = byte_span(point, _mm512_add_epi64(point, one));
  const __m512i digits = _mm512_andnot_si512(point_byte, byte_span(negative, n));
  const __m512i whole = _mm512_maskz_mov_epi64(decimals, byte_span(zero, point));
  const __m512i point_mask = _mm512_maskz_mov_epi64(decimals, point_byte);
  const __m512i point_value = _mm512_maskz_sllv_epi64(decimals, _mm512_set1_epi64('.'), _mm512_slli_epi64(point, 3));
  fits &= _mm512_cmpeq_epi64_mask(_mm512_and_si512(word, point_mask), point_value);
  // No leading zero before another whole digit.
  const __m512i lead = _mm512_slli_epi64(negative, 3);
  const __m512i lead_byte = _mm512_and_si512(_mm512_srlv_epi64(word, lead), _mm512_set1_epi64(0xff));
  fits &= ~(_mm512_cmpgt_epi64_mask(whole_digits, one) & _mm512_cmpeq_epi64_mask(lead_byte, _mm512_set1_epi64('0')));
  __m512i d = _mm512_and_si512(_mm512_xor_si512(word, _mm512_set1_epi64(0x3030303030303030ll)), digits);
  const __m512i high = _mm512_and_si512(
      _mm512_or_si512(_mm512_add_epi64(_mm512_and_si512(d, _mm512_set1_epi64(0x7f7f7f7f7f7f7f7fll)), _mm512_set1_epi64(0x7676767676767676ll)), d),
      _mm512_set1_epi64(static_cast<long long>(0x8080808080808080ull)));
  fits &= _mm512_cmpeq_epi64_mask(high, zero);
  d = _mm512_or_si512(_mm512_slli_epi64(_mm512_and_si512(d, whole), 8), _mm512_andnot_si512(whole, d));
  __m512i v = _mm512_sllv_epi64(d, _mm512_slli_epi64(_mm512_sub_epi64(_mm512_set1_epi64(8), n), 3));
  v = _mm512_add_epi64(_mm512_mullo_epi64(v, _mm512_set1_epi64(10)), _mm512_srli_epi64(v, 8));
  const __m512i pairs = _mm512_set1_epi64(0x000000ff000000ffll);
  v = _mm512_srli_epi64(
      _mm512_add_epi64(_mm512_mullo_epi64(_mm512_and_si512(v, pairs), _mm512_set1_epi64(100 + (1000000ll << 32))),
                       _mm512_mullo_epi64(_mm512_and_si512(_mm512_srli_epi64(v, 16), pairs), _mm512_set1_epi64(1 + (10000ll << 32)))),
      32);
  // Twice the number, negated for a minus sign; -1 for minus zero.
  const __m256i twice = _mm256_slli_epi32(_mm512_cvtepi64_epi32(v), 1);
  __m256i k = _mm256_mask_sub_epi32(twice, minus, _mm256_setzero_si256(), twice);
  k = _mm256_mask_mov_epi32(k, minus & _mm256_cmpeq_epi32_mask(twice, _mm256_setzero_si256()), _mm256_set1_epi32(-1));
  k = _mm256_mask_mov_epi32(_mm256_set1_epi32(kOtherForm), fits, k);
  // "NA" in a column with keys: its missing key.
  const __mmask8 na = _mm512_cmpeq_epi64_mask(n, _mm512_set1_epi64(2)) & _mm512_cmpge_epi64_mask(s, zero) &
                      _mm512_cmpeq_epi64_mask(_mm512_and_si512(word, _mm512_set1_epi64(0xffff)), _mm512_set1_epi64('N' | 'A' << 8));
  k = _mm256_mask_mov_epi32(k, na, _mm256_set1_epi32(kMissingNa));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(key), k);
}

FORESTS_WIDE_VECTORS KeyRun measure_key_run_wide(const std::int32_t* keys, int n) {
  const __m512i other = _mm512_set1_epi32(kOtherForm);
  __m512i low = _mm512_set1_epi32(-1), high = _mm512_set1_epi32(std::numeric_limits<std::int32_t>::min());
  KeyRun run;
  for (int k = 0; k < n; k += 16) {
    const __m512i x = _mm512_loadu_si512(keys + k);
    low = _mm512_min_epu32(low, _mm512_sub_epi32(x, other));
    high = _mm512_max_epi32(high, x);
    const __mmask16 missing = _mm512_cmple_epi32_mask(x, _mm512_set1_epi32(kMissingNan));
    if (missing == 0) continue;
    for (int m = 0; m < 3; ++m)
      run.missing[m] += static_cast<int>(ones(_mm512_cmpeq_epi32_mask(x, _mm512_set1_epi32(kMissingNa + m))));
  }
  run.low = _mm512_reduce_min_epu32(low);
  run.high = _mm512_reduce_max_epi32(high);
  return run;
}

// Cells' keys turned into their indexes, as number_among_distinct_keys turns them, sixteen at a
// time: the slots of the number keys gathered, minus zero's index and the missing keys' put in.
FORESTS_WIDE_VECTORS void number_cells_wide(std::int32_t* key, std::size_t n, const std::uint32_t* slot, std::int32_t even_low,
                                            std::uint32_t minus_zero, const std::uint32_t* missing_index) {
  const __m512i low = _mm512_set1_epi32(even_low);
  const __m512i missing = _mm512_setr_epi32(static_cast<int>(missing_index[0]), static_cast<int>(missing_index[1]),
                                            static_cast<int>(missing_index[2]), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  for (std::size_t i = 0; i < n; i += 16) {
    const __m512i k = _mm512_loadu_si512(key + i);
    const __mmask16 is_missing = _mm512_cmple_epi32_mask(k, _mm512_set1_epi32(kMissingNan));
    const __mmask16 is_minus_zero = _mm512_cmpeq_epi32_mask(k, _mm512_set1_epi32(-1));
    const auto number = static_cast<__mmask16>(~(is_missing | is_minus_zero));
    const __m512i place = _mm512_srli_epi32(_mm512_sub_epi32(k, low), 1);
    __m512i index = _mm512_mask_i32gather_epi32(_mm512_set1_epi32(static_cast<int>(minus_zero)), number, place, slot, 4);
    index = _mm512_mask_permutexvar_epi32(index, is_missing, _mm512_sub_epi32(k, _mm512_set1_epi32(kMissingNa)), missing);
    _mm512_storeu_si512(key + i, index);
  }
}

FORESTS_WIDE_VECTORS_END

namespace {

// The missing keys take the place past the range, so that every key has one without a branch.
inline std::uint32_t place_of_key(std::int32_t k, std::int32_t low, std::size_t range) {
  return k > kMissingNan ? static_cast<std::uint32_t>(k - low) : static_cast<std::uint32_t>(range);
}

// The bits of the keys present, cells in turn setting bits in four sets, so that near keys set
// bits of one word without waiting on one another.
void present_by_bits(const ScaledCells& s, std::int32_t low, std::size_t range, std::vector<std::uint64_t>& present) {
  const std::size_t words = range / 64 + 1;
  std::vector<std::uint64_t> lanes(4 * words, 0);
  auto set = [&](std::size_t lane, std::int32_t k) {
    const std::uint32_t q = place_of_key(k, low, range);
    lanes[lane * words + (q >> 6)] |= std::uint64_t{1} << (q & 63);
  };
  const std::int32_t* key = s.key.data();
  const std::size_t n = s.key.size();
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4)
    for (std::size_t lane = 0; lane < 4; ++lane) set(lane, key[i + lane]);
  for (; i < n; ++i) set(0, key[i]);
  for (std::size_t w = 0; w < present.size(); ++w)
    present[w] = lanes[w] | lanes[words + w] | lanes[2 * words + w] | lanes[3 * words + w];
  if (range % 64 != 0) present.back() &= (std::uint64_t{1} << (range % 64)) - 1;
}

// Ranges of at most this many keys: a byte per key, which a cell sets by a plain store.
constexpr std::size_t kByteRange = std::size_t{1} << 15;

// The bits of the keys present, from a byte per possible key: eight bytes of 0 or 1 gather into
// the eight bits of one byte by a multiplication. The bytes, in `seen` (all 0, and left so), are
// cleared as they are gathered, so that the room serves the next column without a fresh
// allocation.
void present_by_bytes(const ScaledCells& s, std::int32_t low, std::size_t range, std::vector<std::uint64_t>& present,
                      std::vector<std::uint8_t>& seen) {
  if (seen.size() < 64 * (range / 64 + 1)) seen.resize(64 * (range / 64 + 1), 0);
  std::uint8_t* const at = seen.data();
  for (const std::int32_t k : s.key) at[place_of_key(k, low, range)] = 1;
  at[range] = 0;
  for (std::size_t w = 0; w < present.size(); ++w) {
    std::uint64_t bits = 0;
    for (int b = 0; b < 8; ++b) {
      std::uint64_t x;
      std::memcpy(&x, at + 64 * w + 8 * b, sizeof x);
      bits |= ((x * 0x0102040810204080ull) >> 56) << (8 * b);
    }
    std::memset(at + 64 * w, 0, 64);
    present[w] = bits;
  }
}

// Number keys within 64 per cell of one another: a bit per possible key.
void distinct_by_bits(const ScaledCells& s, std::int32_t low, std::size_t range, DistinctKeys& d,
                      std::vector<std::uint8_t>& seen) {
  d.low = low;
  d.present.assign((range + 63) / 64, 0);
  if (range <= kByteRange)
    present_by_bytes(s, low, range, d.present, seen);
  else
    present_by_bits(s, low, range, d.present);
  d.before.resize(d.present.size());
  auto count = static_cast<std::uint32_t>(d.key.size());
  for (std::size_t w = 0; w < d.present.size(); ++w) {
    d.before[w] = count;
    count += ones(d.present[w]);
  }
  std::size_t at = d.key.size();
  d.key.resize(count);
  std::int32_t* out = d.key.data();
  for (std::size_t w = 0; w < d.present.size(); ++w)
    for (std::uint64_t bits = d.present[w]; bits != 0; bits &= bits - 1)
      out[at++] = static_cast<std::int32_t>(low + static_cast<std::int64_t>(64 * w) + std::countr_zero(bits));
}

void distinct_by_sorting(const ScaledCells& s, DistinctKeys& d) {
  const std::size_t missing = d.key.size();
  for (std::int32_t k : s.key)
    if (k > kMissingNan) d.key.push_back(k);
  std::sort(d.key.begin() + static_cast<std::ptrdiff_t>(missing), d.key.end());
  d.key.erase(std::unique(d.key.begin() + static_cast<std::ptrdiff_t>(missing), d.key.end()), d.key.end());
}

}  // namespace

KeyIndex::KeyIndex(const DistinctKeys& d, std::size_t cells, std::vector<std::uint32_t>& room) : d_(d) {
  const std::size_t range = 64 * d.present.size();
  if (range == 0 || range > 4 * cells + 65536) return;
  const std::size_t nslot = range / 2 + 1;
  if (room.size() < nslot) room.resize(nslot);
  std::uint32_t* slot = room.data();
  even_low_ = d.low - (d.low & 1);  // rounded down, also below zero
  for (std::size_t w = 0; w < d.present.size(); ++w) {
    std::uint32_t index = d.before[w];
    for (std::uint64_t bits = d.present[w]; bits != 0; bits &= bits - 1) {
      const auto key = static_cast<std::int32_t>(d.low + static_cast<std::int64_t>(64 * w) + std::countr_zero(bits));
      if (key == -1)
        minus_zero_ = index;
      else
        slot[static_cast<std::uint32_t>(key - even_low_) >> 1] = index;
      ++index;
    }
  }
  slot_ = slot;
}

namespace {

// Keys in a range of at most this many: counted by a bit per possible key.
constexpr std::uint64_t kFewValuesRange = std::uint64_t{1} << 16;

// Whether the number keys are fewer than `limit`, each key setting its bit and counting when it
// was not set, without a branch; the count is looked at after every 64 cells.
bool fewer_values_by_bits(const ScaledCells& s, std::size_t limit, std::uint64_t range) {
  std::array<std::uint64_t, kFewValuesRange / 64> present;
  std::fill_n(present.begin(), range / 64 + 1, 0);
  const std::int32_t* key = s.key.data();
  const std::size_t n = s.key.size();
  std::size_t count = 0;
  for (std::size_t i = 0; i < n;) {
    for (const std::size_t end = std::min(n, i + 64); i < end; ++i) {
      // The missing keys set the bit past the range.
      const auto q = key[i] > kMissingNan ? static_cast<std::uint32_t>(key[i] - s.low) : static_cast<std::uint32_t>(range);
      const std::uint64_t word = present[q >> 6], bit = std::uint64_t{1} << (q & 63);
      count += (word & bit) == 0 && q != range ? 1 : 0;
      present[q >> 6] = word | bit;
    }
    if (count >= limit) return false;
  }
  return true;
}

}  // namespace

bool fewer_values(const ScaledCells& s, std::size_t limit) {
  // Keys within a narrow range are no more than the range holds.
  const std::size_t missing = (s.missing[0] > 0) + (s.missing[1] > 0) + (s.missing[2] > 0);
  if (s.low > s.high || missing >= limit) return missing < limit;
  const auto range = static_cast<std::uint64_t>(static_cast<std::int64_t>(s.high) - s.low + 1);
  if (missing + range / 2 + 2 < limit) return true;  // the number keys are even, but for -1
  if (range <= kFewValuesRange) return fewer_values_by_bits(s, limit - missing, range);
  // A set of the keys seen, open addressing at most a quarter full; kOtherForm is no cell's key.
  std::array<std::int32_t, 4 * kFewValuesLimit> seen;
  const int bits = std::bit_width(4 * limit - 1);
  std::fill_n(seen.begin(), std::size_t{1} << bits, kOtherForm);
  const std::size_t mask = (std::size_t{1} << bits) - 1;
  std::size_t count = 0;
  for (const std::int32_t k : s.key) {
    std::size_t at = (static_cast<std::uint32_t>(k) * 2654435769u) >> (32 - bits);
    while (seen[at] != k && seen[at] != kOtherForm) at = (at + 1) & mask;
    if (seen[at] == k) continue;
    seen[at] = k;
    if (++count == limit) return false;
  }
  return true;
}

bool number_among_distinct_keys(ScaledCells& s, DistinctKeys& d, std::vector<std::uint8_t>& seen,
                                std::vector<std::uint32_t>& slots) {
  if (s.low > s.high) return false;
  const auto range = static_cast<std::size_t>(static_cast<std::int64_t>(s.high) - s.low + 1);
  if (range > kByteRange) return false;
  d = DistinctKeys{};
  for (int m = 0; m < 3; ++m) {
    if (s.missing[m] == 0) continue;
    d.missing_index[m] = static_cast<std::uint32_t>(d.key.size());
    d.key.push_back(kMissingNa + m);
  }
  const std::int32_t low = s.low;
  d.low = low;
  std::vector<std::uint64_t> present((range + 63) / 64, 0);
  present_by_bytes(s, low, range, present, seen);
  std::size_t count = d.key.size();
  for (const std::uint64_t bits : present) count += ones(bits);
  // The keys in order, each one's index going to the slot of its even key (minus zero's aside),
  // in the one pass over their bits.
  if (slots.size() < range / 2 + 1) slots.resize(range / 2 + 1);
  std::uint32_t* const slot = slots.data();
  const std::int32_t even_low = low - (low & 1);  // rounded down, also below zero
  auto at = static_cast<std::uint32_t>(d.key.size());
  std::uint32_t minus_zero = 0;
  d.key.resize(count);
  std::int32_t* const out = d.key.data();
  for (std::size_t w = 0; w < present.size(); ++w)
    for (std::uint64_t bits = present[w]; bits != 0; bits &= bits - 1) {
      const auto key = static_cast<std::int32_t>(low + static_cast<std::int64_t>(64 * w) + std::countr_zero(bits));
      out[at] = key;
      if (key == -1)
        minus_zero = at;
      else
        slot[static_cast<std::uint32_t>(key - even_low) >> 1] = at;
      ++at;
    }
  static const bool wide = cpu_has_wide_vectors();
  const std::size_t whole = wide ? s.key.size() & ~std::size_t{15} : 0;
  if (whole > 0) number_cells_wide(s.key.data(), whole, slot, even_low, minus_zero, d.missing_index);
  for (std::int32_t& k : std::span(s.key).subspan(whole)) {
    const std::uint32_t index = k <= kMissingNan ? d.missing_index[k - kMissingNa]
                                : k == -1        ? minus_zero
                                                 : slot[static_cast<std::uint32_t>(k - even_low) >> 1];
    k = static_cast<std::int32_t>(index);
  }
  return true;
}

DistinctKeys distinct_keys(const ScaledCells& s) {
  std::vector<std::uint8_t> seen;
  return distinct_keys(s, seen);
}

DistinctKeys distinct_keys(const ScaledCells& s, std::vector<std::uint8_t>& seen) {
  DistinctKeys d;
  for (int m = 0; m < 3; ++m) {
    if (s.missing[m] == 0) continue;
    d.missing_index[m] = static_cast<std::uint32_t>(d.key.size());
    d.key.push_back(kMissingNa + m);
  }
  if (s.low > s.high) return d;
  const auto range = static_cast<std::size_t>(static_cast<std::int64_t>(s.high) - s.low + 1);
  if (range <= 64 * s.key.size() + 65536)
    distinct_by_bits(s, s.low, range, d, seen);
  else
    distinct_by_sorting(s, d);
  return d;
}

}  // namespace forests
