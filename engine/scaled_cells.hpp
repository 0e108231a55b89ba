// Columns of plain decimals read without spelling tables: each cell is kept as a whole number,
// its value times a power of ten that the column's cells share, so that the distinct values of
// a column are found by counting afterwards rather than by looking each cell up.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "tokens.hpp"

namespace forests {

// Keys of the missing cells, one per missing token.
constexpr std::int32_t kMissingNa = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMissingDot = kMissingNa + 1;
constexpr std::int32_t kMissingNan = kMissingNa + 2;
// Whole numbers up to this magnitude: twice them stays clear of the missing keys. Such numbers
// have at most 10 digits, so distinct ones over one power of ten are distinct doubles.
constexpr std::uint64_t kLargestScaled = (std::uint64_t{1} << 30) - 8;

struct ScaledCells {
  int scale = 0;  // every value times 10^scale is a whole number
  bool any_number = false;
  std::vector<std::int32_t> key;  // per cell: twice its number (-1 for minus zero), or a missing key
  // Kept as the cells come, so that finding the distinct keys takes no pass of its own: the
  // least and greatest number key (low > high while there is none), and the cells of each
  // missing key.
  std::int32_t low = std::numeric_limits<std::int32_t>::max();
  std::int32_t high = std::numeric_limits<std::int32_t>::min();
  std::size_t missing[3] = {0, 0, 0};
};

inline constexpr std::uint64_t kPowerOfTen[] = {1,
                                                10,
                                                100,
                                                1000,
                                                10000,
                                                100000,
                                                1000000,
                                                10000000,
                                                100000000,
                                                1000000000,
                                                10000000000,
                                                100000000000,
                                                1000000000000,
                                                10000000000000,
                                                100000000000000,
                                                1000000000000000};

// Multiplies the numbers of all cells so far by 10^more; false (nothing changed) when one
// would outgrow kLargestScaled.
bool raise_scale(ScaledCells& s, int more);

// The key of a cell of the column's own form, kOtherForm for any other.
constexpr std::int32_t kOtherForm = kMissingNan + 1;

// The key of a plain decimal that is of its column's own form: `scale` decimals, a number that
// fits, and spelled as printed when spellings are kept. kOtherForm otherwise.
inline std::int32_t own_form_key(const PlainDecimal& d, int scale, bool keep_spellings) {
  if (d.decimals != scale || d.digits > kLargestScaled || (keep_spellings && !d.canonical)) return kOtherForm;
  const auto twice = static_cast<std::int32_t>(2 * d.digits);
  return !d.negative ? twice : d.digits == 0 ? -1 : -twice;
}

// Where the bytes of a token of n bytes (at most 7) lie when it is printed with `scale`
// decimals, with or without a minus sign: as masks over the 8 bytes from its start.
struct PrintedShape {
  std::uint64_t digits = 0;      // its digits' bytes
  std::uint64_t whole = 0;       // its whole digits' bytes when a point follows them
  std::uint64_t point_mask = 0;  // the point's byte, which must hold `point`
  std::uint64_t point = 1;       // (no token of this length takes this shape: never met)
  std::uint64_t lead_mask = 0;   // the first of several whole digits, which may not hold `lead_zero`
  std::uint64_t lead_zero = ~std::uint64_t{0};
  int shift = 0;  // moves the last digit to the highest byte
};

constexpr int kPrintedScales = 7;  // more decimals leave no whole digit within 7 bytes

constexpr PrintedShape printed_shape(int n, int negative, int scale) {
  PrintedShape p;
  const int point = scale > 0 ? n - 1 - scale : n;  // the point's byte, or the end
  if (scale >= kPrintedScales || point - negative < 1) return p;
  auto bytes = [](int from, int to) { return to <= from ? std::uint64_t{0} : ((std::uint64_t{1} << (8 * (to - from))) - 1) << (8 * from); };
  p.digits = bytes(negative, n) & ~bytes(point, point + 1);
  p.whole = scale > 0 ? bytes(0, point) : 0;
  p.point_mask = scale > 0 ? bytes(point, point + 1) : 0;
  p.point = scale > 0 ? std::uint64_t{'.'} << (8 * point) : 0;
  if (point - negative > 1) {
    p.lead_mask = bytes(negative, negative + 1);
    p.lead_zero = std::uint64_t{'0'} << (8 * negative);
  }
  p.shift = 8 * (8 - n);
  return p;
}

// Shapes by scale, length and sign.
inline constexpr auto kPrintedShapes = [] {
  std::array<std::array<std::array<PrintedShape, 2>, 8>, kPrintedScales + 1> shapes{};
  for (int scale = 0; scale <= kPrintedScales; ++scale)
    for (int n = 1; n < 8; ++n)
      for (int negative = 0; negative < 2; ++negative) shapes[scale][n][negative] = printed_shape(n, negative, scale);
  return shapes;
}();

// The key of a token of at most 7 bytes, given as the 8 bytes from its start (the first in the
// lowest byte) and its length n, when it is a number of the column's own form spelled as printed
// with `scale` decimals: [-]digits[.digits], no leading zero before another digit. kOtherForm for
// any other token, whatever own_form_key would make of it: such tokens take that route.
inline std::int32_t printed_scaled_key(std::uint64_t word, int n, int scale) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  const int negative = (word & 0xff) == '-' ? 1 : 0;
  const PrintedShape& p = kPrintedShapes[std::min(scale, kPrintedScales)][n][negative];
  if ((word & p.point_mask) != p.point || (word & p.lead_mask) == p.lead_zero) return kOtherForm;
  // Each digit's value, the whole digits moved up over the point: the digits end at byte n - 1
  // with zeros before them. Any other byte reads above 9.
  std::uint64_t d = (word ^ (kOnes * '0')) & p.digits;
  if (((((d & (kOnes * 0x7f)) + kOnes * 0x76) | d) & (kOnes * 0x80)) != 0) return kOtherForm;
  d = ((d & p.whole) << 8) | (d & ~p.whole);
  std::uint64_t v = d << p.shift;
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000ff000000ffull) * (100 + (1000000ull << 32))) +
       (((v >> 16) & 0x000000ff000000ffull) * (1 + (10000ull << 32)))) >> 32;
  // Minus the number for a minus sign, -1 for minus zero, without a branch: signs come at random.
  const auto twice = static_cast<std::int32_t>(2 * static_cast<std::uint32_t>(v));
  const std::int32_t minus = -negative;
  return ((twice ^ minus) - minus) - (minus & (twice == 0 ? 1 : 0));
}

// printed_scaled_key of eight tokens at once, on wide vectors (only where cpu_has_wide_vectors):
// token q starts at b + at[2q] and is at[2q + 1] bytes long, with 8 bytes readable from its
// start, in a column of scale[q] decimals; and "NA" its missing key. A token of 8 bytes or
// more, or of a column whose scale is below 0, gets kOtherForm.
void printed_scaled_keys_wide(const char* b, const std::uint32_t* at, const int* scale, std::int32_t* key);

// What a run of keys adds to its column's bounds and missing cells: less kOtherForm, as unsigned
// numbers, the number keys keep their order and the missing keys (below them as signed ones) lie
// above them.
struct KeyRun {
  std::uint32_t low = std::numeric_limits<std::uint32_t>::max();  // the least key less kOtherForm
  std::int32_t high = std::numeric_limits<std::int32_t>::min();
  int missing[3] = {0, 0, 0};
};
KeyRun measure_key_run(const std::int32_t* keys, int n);

// The same, on wide vectors (only where cpu_has_wide_vectors), for n a multiple of 16.
KeyRun measure_key_run_wide(const std::int32_t* keys, int n);

// Appends n cells by their keys: of the column's own form, or missing.
void append_own_keys(ScaledCells& s, const std::int32_t* keys, int n);

// Appends a cell by its key, a number's or a missing one.
void append_key(ScaledCells& s, std::int32_t key);

// Appends a cell of another form than the column's own: missing, or a plain decimal of other
// decimals. False (nothing appended) when it does not fit: when it is neither missing nor a
// plain decimal that fits the column, or, when spellings are kept, when it is not spelled as
// its number is printed with the column's decimals. Such a column is read with spellings instead.
bool add_other_scaled_cell(ScaledCells& s, std::string_view token, bool keep_spellings, bool nan_is_missing);

// Appends cells token(0), token(1), ... token(n - 1) up to the first that does not fit. Returns
// the number appended. Runs of cells of the column's own form are gathered on the stack first.
// `kPadded`: 8 bytes are readable from the start of every token.
template <bool kPadded, class TokenOf>
int add_scaled_cells(ScaledCells& s, int n, TokenOf&& token, bool keep_spellings, bool nan_is_missing) {
  constexpr int kRun = 64;
  std::int32_t run[kRun];
  for (int k = 0; k < n;) {
    const int end = std::min(n, k + kRun);
    int filled = 0;
    for (; k < end; ++k) {
      PlainDecimal d;
      if (!(kPadded ? read_plain_decimal_padded(token(k), d) : read_plain_decimal(token(k), d))) break;
      run[filled] = own_form_key(d, s.scale, keep_spellings);
      if (run[filled] == kOtherForm) break;
      ++filled;
    }
    append_own_keys(s, run, filled);
    if (k < end) {
      if (!add_other_scaled_cell(s, token(k), keep_spellings, nan_is_missing)) return k;
      ++k;
    }
  }
  return n;
}

// The distinct keys of a column's cells, the missing ones first (in the order of the missing
// keys) and then the numbers ascending, and what finds the index of a key among them: a bit per
// possible number key with the count of keys before each word when they lie close enough,
// else the sorted keys themselves.
struct DistinctKeys {
  std::vector<std::int32_t> key;
  std::uint32_t missing_index[3] = {0, 0, 0};
  std::int32_t low = 0;                // the number key of the first bit
  std::vector<std::uint64_t> present;  // empty when the keys are looked up by bisection
  std::vector<std::uint32_t> before;   // per word of `present`: the distinct keys before it
};
DistinctKeys distinct_keys(const ScaledCells& s);
// The same, with room (all 0, and left so) reused from column to column.
DistinctKeys distinct_keys(const ScaledCells& s, std::vector<std::uint8_t>& seen);

// For cells whose number keys lie close together: their distinct keys, as distinct_keys finds
// them but without the bits that look keys up, for the cells no longer need them: each cell's
// key becomes its index among them, in place. False, and nothing changed, for keys spread wider
// or none but missing ones. `seen` as for distinct_keys; `slots`: room reused.
bool number_among_distinct_keys(ScaledCells& s, DistinctKeys& d, std::vector<std::uint8_t>& seen,
                                std::vector<std::uint32_t>& slots);

// The numbering's last step on wide vectors (only where cpu_has_wide_vectors), for n a multiple
// of 16: each key becomes slot[(key - even_low) / 2], minus_zero for -1, or the missing key's index.
void number_cells_wide(std::int32_t* key, std::size_t n, const std::uint32_t* slot, std::int32_t even_low,
                       std::uint32_t minus_zero, const std::uint32_t* missing_index);

// The bits set in a word, without a call where the processor's count is not built in.
inline std::uint32_t ones(std::uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555ull;
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0full;
  return static_cast<std::uint32_t>((x * 0x0101010101010101ull) >> 56);
}

// The index of a key that is among the distinct keys.
inline std::uint32_t key_index(const DistinctKeys& d, std::int32_t key) {
  if (key <= kMissingNan) return d.missing_index[key - kMissingNa];
  if (d.present.empty())
    return static_cast<std::uint32_t>(std::lower_bound(d.key.begin(), d.key.end(), key) - d.key.begin());
  const auto q = static_cast<std::uint32_t>(key - d.low);
  return d.before[q >> 6] + ones(d.present[q >> 6] & ((std::uint64_t{1} << (q & 63)) - 1));
}

// The index among a column's distinct keys of the keys of its cells: through a table over the
// keys' range, held in `room`, where that range is not too wide for the column's `cells`, else
// as key_index finds it. Only the slots of keys present are written. The number keys are even
// but for minus zero's, -1: the table has a slot per even key, half as many as the range holds.
class KeyIndex {
 public:
  KeyIndex(const DistinctKeys& d, std::size_t cells, std::vector<std::uint32_t>& room);
  std::uint32_t operator()(std::int32_t key) const {
    if (key <= kMissingNan) return d_.missing_index[key - kMissingNa];
    if (!slot_) return key_index(d_, key);
    return key == -1 ? minus_zero_ : slot_[static_cast<std::uint32_t>(key - even_low_) >> 1];
  }

 private:
  const DistinctKeys& d_;
  const std::uint32_t* slot_ = nullptr;
  std::int32_t even_low_ = 0;    // the even key of the first slot
  std::uint32_t minus_zero_ = 0;  // the index of -1, when present
};

// Whether the cells hold fewer than `limit` distinct keys (limit 2 to kFewValuesLimit); stops
// soon after the cell that reaches it.
constexpr std::size_t kFewValuesLimit = 256;
bool fewer_values(const ScaledCells& s, std::size_t limit);

// The value of a cell kept as `key` (NaN when missing), and its spelling when every cell was
// spelled as printed with the column's decimals.
inline double scaled_value(std::int32_t key, int scale) {
  if (key <= kMissingNan) return std::numeric_limits<double>::quiet_NaN();
  if (key == -1) return -0.0;
  const double v = static_cast<double>(key / 2);
  return scale > 0 ? v / static_cast<double>(kPowerOfTen[scale]) : v;
}
std::string scaled_spelling(std::int32_t key, int scale);

}  // namespace forests
