// Reading the data rows of a training file into columns of spelling numbers (column_tables.hpp
// has what the columns read come to).
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "big_buffer.hpp"
#include "data_set.hpp"
#include "scaled_cells.hpp"
#include "spellings.hpp"

namespace forests {

// Short cells: the ten digits, "NA" and ".", by their slot numbers.
constexpr int kShortSlots = 12;

// Slots of the missing cells.
constexpr int kNaSlot = 10;
constexpr int kDotSlot = 11;

// Whether the eight bytes at p are four cells of one byte, a digit or '.', each followed by one
// white-space byte; their slots then go to bytes 0, 2, 4 and 6 of `slots`, the others 0.
inline bool four_short_cells(const char* p, std::uint64_t& slots) {
  static_assert(std::endian::native == std::endian::little, "the cells are read as a little-endian word");
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  constexpr std::uint64_t kCellOnes = 0x0001000100010001ull, kCellHigh = kCellOnes * 0x80, kAfterCell = kCellOnes * 0xff00;
  std::uint64_t x;
  std::memcpy(&x, p, sizeof x);
  if ((x & kHigh) != 0) return false;
  // Cells '0' to '9' become 0 to 9 and '.' 0x1e, spaces after them 0. Every byte stays below
  // 0x80, so that adding to a cell byte carries into no other.
  std::uint64_t v = x ^ (kCellOnes * 0x2030);
  if ((v & kAfterCell) != 0) {
    // Other white space after a cell: as plain bytes, 9 to 13 (adding 0x80 - b to a byte below
    // 0x80 sets its high bit exactly when it is b or more).
    auto at_least = [x](unsigned b) { return (x + kOnes * (0x80 - b)) & kHigh; };
    const std::uint64_t space = (at_least(' ') & ~at_least(' ' + 1)) | (at_least('\t') & ~at_least('\r' + 1));
    if ((space & ~kCellHigh) != (kHigh & ~kCellHigh)) return false;
    v &= ~kAfterCell;
  }
  const std::uint64_t past_nine = (v + kCellOnes * (0x80 - 10)) & kCellHigh;
  if (past_nine != 0) {
    const std::uint64_t not_dot = ((v ^ (kCellOnes * 0x1e)) + kCellOnes * 0x7f) & kCellHigh;
    if ((past_nine & not_dot) != 0) return false;
    v ^= ((kCellHigh & ~not_dot) >> 7) * (0x1e ^ kDotSlot);
  }
  slots = v;
  return true;
}

// A covariate column while the file is read: its spellings with their values (NaN for a missing
// one) and the spelling of every cell. A column whose first cells come in rows of decimals is
// read as scaled cells instead, as long as its cells allow; a column that stops fitting is
// spelled out on the spot. In one that stays scaled to the end, its distinct keys, in order of
// value, serve as its spellings (without text unless spellings are kept) and each cell keeps
// the number of its key among them.
// A column whose cells are all short keeps each cell's slot instead of its spelling, and the
// spelling of each slot: its cells are copied from the rows as they are, into a store of such
// columns that the reader keeps (RowsRead::slot_cells). A column of cells "0", "1", "2" and one
// missing token keeps them in two bits each instead (codes 0 to 2 for the digits, 3 for the
// missing token), 32 cells to a word as the searches read them, in a store of its own
// (RowsRead::two_bit_cells), with the spelling of each code.
struct ColumnBeingRead {
  enum Form { kUnread, kSpelled, kScaled, kSlots, kTwoBits } form = kUnread;
  SpellingTable spellings;
  std::vector<double> value;
  SpellingCells cells;
  ScaledCells scaled;
  std::array<std::int32_t, kShortSlots> slot_spelling{};  // of a column of slots, -1 for a slot not seen
  const std::uint8_t* slots = nullptr;                    // its cells' slots, once read
  std::size_t nslots = 0;                                 // its cells, of slots or of two bits
  std::array<std::int32_t, 4> code_spelling{};             // of a column of two bits, -1 for a code not seen
  const std::uint64_t* two_bit_words = nullptr;           // its cells' codes, once read

  // Of a column read to the end as scaled cells: its distinct keys, whose index is each cell's
  // spelling, and whether its cells hold their spellings in place of their keys by now.
  DistinctKeys distinct;
  bool numbered = false;

  std::size_t cell_count() const {
    return form == kSlots || form == kTwoBits ? nslots : form == kScaled ? scaled.key.size() : cells.size();
  }
  // The cells as a byte each, when each takes one (slots or spellings).
  bool one_byte_cells() const { return form == kSlots || (form == kSpelled && cells.width() == 1); }
  const std::uint8_t* cell_bytes() const { return form == kSlots ? slots : cells.data(); }

  // The spelling of each byte a one-byte cell may hold (0 for a slot not seen).
  std::array<std::uint32_t, 256> spelling_of_byte() const {
    std::array<std::uint32_t, 256> s{};
    for (std::uint32_t k = 0; k < 256; ++k)
      s[k] = form != kSlots ? k : k < kShortSlots ? static_cast<std::uint32_t>(std::max(slot_spelling[k], 0)) : 0;
    return s;
  }
  // Calls f(i, k) with the spelling k of every cell in order. The cells are read through local
  // copies of where they lie: f may store bytes, which could otherwise be this column's fields,
  // and each cell would reload them.
  template <class F>
  void for_each_spelling(F&& f) const {
    if (form == kScaled) {
      const std::int32_t* key = scaled.key.data();
      const std::size_t n = scaled.key.size();
      if (numbered) {
        for (std::size_t i = 0; i < n; ++i) f(i, static_cast<std::uint32_t>(key[i]));
        return;
      }
      std::vector<std::uint32_t> room;
      const KeyIndex spelling(distinct, n, room);
      for (std::size_t i = 0; i < n; ++i) f(i, spelling(key[i]));
      return;
    }
    if (form == kTwoBits) {
      const TwoBitColumn code_of{two_bit_words};
      const std::array<std::int32_t, 4> spelling = code_spelling;
      const std::size_t n = nslots;
      for (std::size_t i = 0; i < n; ++i) f(i, static_cast<std::uint32_t>(spelling[code_of(static_cast<int>(i))]));
      return;
    }
    if (form != kSlots) return cells.for_each(f);
    const std::uint8_t* slot = slots;
    const std::size_t n = nslots;
    for (std::size_t i = 0; i < n; ++i) f(i, static_cast<std::uint32_t>(slot_spelling[slot[i]]));
  }
};

// A column read to the end as scaled cells gets the spelling of each cell in place of its key,
// for the passes over its cells to come. `room`: reused from column to column.
void number_scaled_cells(ColumnBeingRead& c, std::vector<std::uint32_t>& room);

// A column read, as spellings: how many, and the value of each.
int spelling_count(const ColumnBeingRead& c);
double spelling_value(const ColumnBeingRead& c, int k);

// Hands over the text of a column's spellings; the column's cells stay.
SpellingList release_spellings(ColumnBeingRead& c);

// What the reader learns of the data rows beyond the columns.
struct RowsRead {
  std::vector<int> labels;
  double smallest = 0.0;  // of all values and labels, and 0
  bool has_missing = false;
  // The cells of the columns of slots: covariate j's cell of row i at j * slot_rows + i.
  BigBuffer<std::uint8_t> slot_cells;
  std::size_t slot_rows = 0;
  // The cells of the columns of two bits: covariate j's cell of row i in bits 2(i mod 32) and
  // 2(i mod 32) + 1 of word j * two_bit_room + i / 32; unwritten cells are 0.
  BigBuffer<std::uint64_t> two_bit_cells;
  std::size_t two_bit_room = 0;
};

// How the cells of each file column are read.
struct CellRules {
  std::vector<int> col_kind;    // per file column: kSkipColumn, kOrdinal, kNominal or kResponseColumn
  std::vector<int> cov_of_col;  // per file column: its covariate, -1 for the others
  ReadOptions options;
};

// Reads the data rows of the rest of the file into `columns` (one per covariate) and `r`. The
// first invalid cell in file order ends the read with its message; a file that ends inside a row
// is reported in the result. Rows are cut in blocks of `block_size` bytes and more.
RowScan read_rows(TokenReader& in, const CellRules& rules, std::vector<ColumnBeingRead>& columns, RowsRead& r,
                  std::size_t block_size = std::size_t{1} << 20);

// Enters a spelling first met in row `row`, file column `col` of a column of kind `kind`:
// missing, or a number (a nominal one must fit an int). `cells_before` counts the column's cells
// read before it.
int add_spelling(ColumnBeingRead& c, std::string_view token, int row, int col, int kind, const ReadOptions& options,
                 std::size_t cells_before, RowsRead& r);

// Turns a column of scaled cells into spellings, their values and the cells' spellings, which
// are numbered in order of value, the missing ones first, to be looked up by cells to come. The
// values count toward `r`.
void spell_scaled_cells(ColumnBeingRead& c, RowsRead& r);

// Reads a cell of a column that is no covariate: a response label or a skipped number.
void read_other_cell(int row, int col, int kind, std::string_view token, const ReadOptions& options, RowsRead& r);

}  // namespace forests
