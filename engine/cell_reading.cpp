// Reading data rows into columns: blocks of whole rows are read into a tile first, then column by
// column, so that each column's spelling table stays at hand for a run of cells. Rows of the
// cells "0", "1", "2" and one missing token (and a label of one digit) are read 32 cells at a
// time on wide vectors, else four, into two bits a cell, and groups of 32 rows turned into
// columns of such cells by a bit transposition: a column that has met nothing else keeps them
// so, and its codes take their spellings only when it is spelled out or read to the end.
// Other rows of short cells (one digit, "NA", ".") are kept as a byte per cell, their slot; a
// column of them that has met nothing else copies the slots as they are into the store of such
// columns. Other rows keep each token, and for a column of plain decimals its key, made as the
// row is cut, so that such a column takes whole runs of keys.
#include "cell_reading.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <exception>
#include <immintrin.h>
#include <limits>

#include "cpu_features.hpp"
#include "row_blocks.hpp"

namespace forests {

namespace {

bool fits_int(double v) { return v > -2147483649.0 && v < 2147483648.0; }

// Tile rows: as many as keep a tile within reach of the cache, at most kMaxTileRows. Tiles of
// short cells keep kMinShortTileRows at least, so that very wide rows do not take the columns
// in turn for a row or two at a time.
constexpr int kMaxTileRows = 64;
constexpr std::size_t kShortTileBytes = std::size_t{1} << 18;
constexpr int kMinShortTileRows = 16;
constexpr std::size_t kTokenTileCells = std::size_t{1} << 16;
// Tiles of two-bit rows: whole groups of 32 rows, as many as fit in about a megabyte, at most
// kMaxTwoBitGroups (so that each column takes a few words at once).
constexpr std::size_t kTwoBitTileBytes = std::size_t{1} << 20;
constexpr int kMaxTwoBitGroups = 8;
// Cells of a column a tile holds at most.
constexpr int kMaxColumnRun = std::max(kMaxTileRows, 32 * kMaxTwoBitGroups);

// Blocks of a megabyte or more grow to hold two tiles of rows, up to kLargestBlock. (Smaller
// ones are kept as asked: they try the cuts between blocks.)
constexpr std::size_t kGrowingBlock = std::size_t{1} << 20;
constexpr std::size_t kLargestBlock = std::size_t{1} << 26;

// Short cells by their slot numbers: the ten digits, "NA" and ".".
constexpr std::string_view kShortToken[kShortSlots] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "NA", "."};

int tile_rows(std::size_t cells, int ncols) {
  return static_cast<int>(std::clamp<std::size_t>(cells / static_cast<std::size_t>(ncols), 1, kMaxTileRows));
}

// A token of a block: its offset and length.
struct TokenAt {
  std::uint32_t at = 0, len = 0;
};

// Whole rows of a block: the slot of each cell when all are short, column by column (cell of
// row r, column j at j * capacity + r), else each cell's token, row by row (at r * columns + j),
// and its key, column by column. Most cells are taken by their keys, and the tokens are
// written in order, so that a row's stores do not spread over a line per column.
// Rows of two-bit cells are kept a word per 32 file columns, from row two_bit_base (a multiple
// of 32) on, word w of row r at w * two_bit_capacity + r - two_bit_base: the words of a column
// group follow one another, to be turned into columns, while a row's words are written a
// few lines apart. The rows of the tile's groups of 32 before and after its own are 0.
struct Tile {
  enum Kind { kEmpty, kShort, kTokens, kTwoBits } kind = kEmpty;
  int first_row = 0;
  int rows = 0;
  int short_capacity = 0, token_capacity = 0;
  std::vector<std::uint8_t> slots;
  std::vector<TokenAt> tokens;
  std::vector<std::int32_t> keys;  // its key when of its scaled column's own form, or "NA"'s
  std::vector<std::uint32_t> starts, ends;  // where a row's tokens lie, found on wide vectors
  std::vector<std::uint64_t> two_bit_rows;
  std::vector<std::uint8_t> labels;  // of the rows of two-bit cells, as their slots
  int two_bit_base = 0, two_bit_capacity = 0, row_words = 0;
};

struct CellReader {
  const CellRules& rules;
  std::vector<ColumnBeingRead>& columns;
  RowsRead& r;
  int ncols = 0;
  // Per file column, the spelling number of each short cell: -1 while not seen, and for "NA"
  // and "." while the column does not look spellings up.
  std::vector<std::int32_t> short_spelling;
  // Per file column, the decimals of its scaled cells, -1 when it is read otherwise: the keys of
  // a tile's tokens are made with them as the rows are cut.
  std::vector<int> key_scale;
  // Bytes of data rows in the file (-1 when unknown), and the rows they are expected to hold
  // once the first tile tells the length of a row (0 before).
  long long data_bytes = -1;
  std::size_t expected_rows = 0;
  // Per file column: kInSlots while it is a column of slots, and a bit per slot with a spelling.
  std::vector<std::uint16_t> slot_state;
  int slot_columns = 0;  // columns of slots: when the last is spelled out, the store goes
  bool wide_keys = false;  // keys are made eight at a time on wide vectors, two-bit cells 32 at a time
  // The missing slot that code 3 of the columns of two bits stands for: kNaSlot or kDotSlot,
  // -1 until the first missing cell that could take it.
  int two_bit_missing = -1;
  int response_col = -1;  // the file column of the labels
  // The two-bit code of each slot while the missing slot of code 3 is code_table_missing
  // (kNoTwoBitCode for a slot without one).
  std::array<std::uint8_t, 16> code_of_slot{};
  int code_table_missing = -2;
};

constexpr std::uint8_t kNoTwoBitCode = 0x80;

constexpr std::uint16_t kInSlots = 0x8000;
constexpr std::uint16_t kInTwoBits = 0x4000;
constexpr unsigned kEnteredSlots = (1u << kShortSlots) - 1;

CellReader make_cell_reader(const CellRules& rules, std::vector<ColumnBeingRead>& columns, RowsRead& r) {
  CellReader cr{rules, columns, r, static_cast<int>(rules.col_kind.size()), {}, {}, -1, 0, {}, 0, cpu_has_wide_vectors()};
  cr.short_spelling.assign(static_cast<std::size_t>(cr.ncols) * kShortSlots, -1);
  cr.slot_state.assign(cr.ncols, 0);
  cr.key_scale.resize(cr.ncols);
  for (int col = 0; col < cr.ncols; ++col)
    if (rules.col_kind[col] == kResponseColumn) cr.response_col = col;
  for (int col = 0; col < cr.ncols; ++col) cr.key_scale[col] = rules.col_kind[col] > 0 ? 0 : -1;
  return cr;
}

// The spelling number of a covariate's cell; `cells_before` counts the column's cells before it.
std::uint32_t spelling_of(CellReader& cr, int row, int col, std::string_view token, std::size_t cells_before) {
  const int kind = cr.rules.col_kind[col];
  ColumnBeingRead& c = cr.columns[cr.rules.cov_of_col[col]];
  std::int32_t* entry = cr.short_spelling.data() + static_cast<std::size_t>(col) * kShortSlots;
  auto add = [&] {
    const int k = add_spelling(c, token, row, col, kind, cr.rules.options, cells_before, cr.r);
    if (!c.spellings.finding()) entry[kNaSlot] = entry[kDotSlot] = -1;  // each such cell is new from now on
    return k;
  };
  const unsigned digit = static_cast<unsigned>(token[0] - '0');
  if (token.size() == 1 && digit < 10) {
    // A digit keeps its first number, even in a column that no longer looks spellings up.
    std::int32_t& known = entry[digit];
    if (known < 0) known = add();
    return static_cast<std::uint32_t>(known);
  }
  int k = c.spellings.find(token);  // -1 also when the column no longer finds
  if (k < 0) k = add();
  if (c.spellings.finding() && token == "NA") entry[kNaSlot] = k;
  if (c.spellings.finding() && token == ".") entry[kDotSlot] = k;
  return static_cast<std::uint32_t>(k);
}

// Reads the cells of a column read as scaled cells from cell `k` on, `token(k)` giving each
// token, up to `rows` cells or the first that does not fit, where the column is spelled out.
// Returns where it stopped. `kPadded`: 8 bytes are readable from the start of every token.
// A column of few values takes a byte per cell as spellings against four as scaled cells: once
// it holds kFewValuesCheck cells (it had `cells_before`), it is spelled out if they hold fewer
// than 256 values.
constexpr std::size_t kFewValuesCheck = 1024;

void spell_out_few_values(CellReader& cr, ColumnBeingRead& c, std::size_t cells_before) {
  if (cells_before >= kFewValuesCheck || c.scaled.key.size() < kFewValuesCheck) return;
  if (fewer_values(c.scaled, 256)) spell_scaled_cells(c, cr.r);
}

template <bool kPadded, class TokenOf>
int add_scaled_cells(CellReader& cr, ColumnBeingRead& c, int k, int rows, TokenOf&& token) {
  const ReadOptions& options = cr.rules.options;
  const std::size_t cells_before = c.scaled.key.size();
  k += add_scaled_cells<kPadded>(c.scaled, rows - k, [&](int q) { return token(k + q); }, options.keep_spellings,
                        options.nan_token_is_missing);
  if (k < rows)
    spell_scaled_cells(c, cr.r);
  else
    spell_out_few_values(cr, c, cells_before);
  return k;
}

// Reads the cells of a tile's column read as scaled cells, by their keys made at the column's
// scale, "NA" by its missing key (kOtherForm: by their token), up to `rows` cells or the first that does not fit, where
// the column is spelled out. Returns where it stopped.
template <class TokenOf>
int add_keyed_cells(CellReader& cr, ColumnBeingRead& c, const std::int32_t* keys, int rows, TokenOf&& token) {
  const ReadOptions& options = cr.rules.options;
  const int scale = c.scaled.scale;
  const std::size_t cells_before = c.scaled.key.size();
  int others = 0;  // counted without a branch: mostly there are none
  for (int k = 0; k < rows; ++k) others += keys[k] == kOtherForm ? 1 : 0;
  if (others == 0) {
    append_own_keys(c.scaled, keys, rows);
    spell_out_few_values(cr, c, cells_before);
    return rows;
  }
  for (int k = 0; k < rows; ++k) {
    int end = k;
    while (end < rows && keys[end] != kOtherForm) ++end;
    append_own_keys(c.scaled, keys + k, end - k);
    if (end == rows) break;
    k = end;
    if (!add_other_scaled_cell(c.scaled, token(k), options.keep_spellings, options.nan_token_is_missing)) {
      spell_scaled_cells(c, cr.r);
      return k;
    }
    if (c.scaled.scale != scale) return add_scaled_cells<true>(cr, c, k + 1, rows, token);  // the keys are out of date
  }
  spell_out_few_values(cr, c, cells_before);
  return rows;
}

// The slot of a short cell, -1 for any other token.
int slot_of_token(std::string_view token) {
  const unsigned digit = static_cast<unsigned>(token[0] - '0');
  if (token.size() == 1 && digit < 10) return static_cast<int>(digit);
  if (token == ".") return kDotSlot;
  if (token == "NA") return kNaSlot;
  return -1;
}

std::uint8_t* slot_column(CellReader& cr, int col) {
  return cr.r.slot_cells.data() + static_cast<std::size_t>(cr.rules.cov_of_col[col]) * cr.r.slot_rows;
}

// Room in the store of slots for the rows before `rows`: the rows expected, else twice as many
// as held.
void grow_slot_room(CellReader& cr, std::size_t rows) {
  RowsRead& r = cr.r;
  const std::size_t room = std::max({rows, cr.expected_rows, 2 * r.slot_rows, std::size_t{kMaxTileRows}});
  BigBuffer<std::uint8_t> grown(cr.columns.size() * room);
  for (std::size_t j = 0; j < cr.columns.size() && r.slot_rows > 0; ++j)
    if (cr.columns[j].form == ColumnBeingRead::kSlots)
      std::memcpy(grown.data() + j * room, r.slot_cells.data() + j * r.slot_rows, r.slot_rows);
  r.slot_cells.swap(grown);
  r.slot_rows = room;
}

inline void make_slot_room(CellReader& cr, std::size_t rows) {
  if (rows > cr.r.slot_rows) grow_slot_room(cr, rows);
}

// Whether every slot of slots[0..n-1] has its spelling (`entered`: a bit per slot). The
// slots below the first one without a spelling are told eight at a time.
bool all_slots_entered(const std::uint8_t* slots, int n, unsigned entered) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  const auto below = static_cast<std::uint64_t>(std::countr_one(entered));
  int k = 0;
  for (; k + 8 <= n; k += 8) {
    std::uint64_t x;
    std::memcpy(&x, slots + k, sizeof x);
    if (((x + kOnes * (0x80 - below)) & kHigh) == 0) continue;  // slots stay below 0x80: no carries
    for (int q = 0; q < 8; ++q)
      if (((entered >> slots[k + q]) & 1) == 0) return false;
  }
  for (; k < n; ++k)
    if (((entered >> slots[k]) & 1) == 0) return false;
  return true;
}

// A slot first seen in row `row` of a column of slots (or of two bits) takes its spelling.
// Without kept spellings, such a column has their values only: the text of its spellings waits
// until the column meets a cell of another form (spell_slots).
void enter_slot(CellReader& cr, int col, int slot, int row) {
  ColumnBeingRead& c = cr.columns[cr.rules.cov_of_col[col]];
  std::int32_t& s = cr.short_spelling[static_cast<std::size_t>(col) * kShortSlots + slot];
  if (cr.rules.options.keep_spellings) {
    s = add_spelling(c, kShortToken[slot], row, col, cr.rules.col_kind[col], cr.rules.options, static_cast<std::size_t>(row),
                     cr.r);
  } else {
    const bool missing = slot >= 10;
    c.value.push_back(missing ? std::numeric_limits<double>::quiet_NaN() : static_cast<double>(slot));
    cr.r.has_missing = cr.r.has_missing || missing;  // a digit is never below the smallest, 0 or less
    s = static_cast<std::int32_t>(c.value.size()) - 1;
  }
  cr.slot_state[col] = static_cast<std::uint16_t>(cr.slot_state[col] | (1u << slot));
}

// The slots first seen among the short cells of rows first_row .. first_row+n-1 get their
// spellings in order of first appearance, as when each cell is looked up.
void enter_slots(CellReader& cr, int col, const std::uint8_t* slots, int n, int first_row) {
  const std::int32_t* known = cr.short_spelling.data() + static_cast<std::size_t>(col) * kShortSlots;
  for (int k = 0; k < n; ++k)
    if (known[slots[k]] < 0) enter_slot(cr, col, slots[k], first_row + k);
}

// The text of the spellings of a column of slots, in their order, when it was left for later.
void spell_out_slot_texts(CellReader& cr, ColumnBeingRead& c, int col) {
  const std::int32_t* known = cr.short_spelling.data() + static_cast<std::size_t>(col) * kShortSlots;
  for (int k = c.spellings.size(); k < static_cast<int>(c.value.size()); ++k)
    for (int slot = 0; slot < kShortSlots; ++slot)
      if (known[slot] == k) c.spellings.add(kShortToken[slot]);
}

// Puts the short cells of rows first_row .. first_row+n-1 into a column of slots.
void put_slots(CellReader& cr, int col, const std::uint8_t* slots, int n, int first_row) {
  if (!all_slots_entered(slots, n, cr.slot_state[col] & kEnteredSlots)) enter_slots(cr, col, slots, n, first_row);
  make_slot_room(cr, static_cast<std::size_t>(first_row + n));
  std::memcpy(slot_column(cr, col) + first_row, slots, static_cast<std::size_t>(n));
}

// A column of slots meets a cell of another form in row `rows`: its cells become spellings.
void spell_slots(CellReader& cr, ColumnBeingRead& c, int col, int rows) {
  spell_out_slot_texts(cr, c, col);
  const std::int32_t* known = cr.short_spelling.data() + static_cast<std::size_t>(col) * kShortSlots;
  std::array<std::uint8_t, kShortSlots> spelling{};
  for (int slot = 0; slot < kShortSlots; ++slot) spelling[slot] = static_cast<std::uint8_t>(std::max(known[slot], 0));
  const std::uint8_t* slots = slot_column(cr, col);
  std::array<std::uint8_t, 256> run;
  for (int k = 0; k < rows;) {
    const int n = std::min(rows - k, 256);
    for (int q = 0; q < n; ++q) run[q] = spelling[slots[k + q]];
    c.cells.append_small(run.data(), static_cast<std::size_t>(n));
    k += n;
  }
  c.form = ColumnBeingRead::kSpelled;
  cr.slot_state[col] = 0;
  if (--cr.slot_columns == 0) {
    BigBuffer<std::uint8_t>().swap(cr.r.slot_cells);
    cr.r.slot_rows = 0;
  }
}

// The two-bit code of a slot, -1 for a slot without one: the digits 0 to 2 are codes 0 to 2,
// and the missing slot code 3 stands for is 3 (the first missing slot asked for becomes it).
int two_bit_code(CellReader& cr, int slot) {
  if (slot <= 2) return slot;
  if (slot != kNaSlot && slot != kDotSlot) return -1;
  if (cr.two_bit_missing < 0) cr.two_bit_missing = slot;
  return slot == cr.two_bit_missing ? 3 : -1;
}

int slot_of_two_bit_code(const CellReader& cr, int code) { return code < 3 ? code : cr.two_bit_missing; }

// The codes of slots[0..n-1] into codes[], when every one has a code. A table lookup per cell,
// the cells without a code told at the end.
bool two_bit_codes(CellReader& cr, const std::uint8_t* slots, int n, std::uint8_t* codes) {
  for (int k = 0; k < n && cr.two_bit_missing < 0; ++k) two_bit_code(cr, slots[k]);  // the first missing slot met
  if (cr.code_table_missing != cr.two_bit_missing) {
    for (int slot = 0; slot < 16; ++slot) {
      const int c = slot <= 2 ? slot : slot == cr.two_bit_missing ? 3 : -1;
      cr.code_of_slot[slot] = c >= 0 ? static_cast<std::uint8_t>(c) : kNoTwoBitCode;
    }
    cr.code_table_missing = cr.two_bit_missing;
  }
  const std::array<std::uint8_t, 16> code = cr.code_of_slot;
  unsigned none = 0;
  for (int k = 0; k < n; ++k) {
    codes[k] = code[slots[k] & 15];
    none |= codes[k];
  }
  return (none & kNoTwoBitCode) == 0;
}

std::uint64_t* two_bit_column(CellReader& cr, int col) {
  return cr.r.two_bit_cells.data() + static_cast<std::size_t>(cr.rules.cov_of_col[col]) * cr.r.two_bit_room;
}

// Room in the store of two-bit cells for the rows before `rows`: the rows expected, else twice
// as many as held, and a word more (which the store of codes keeps after each column); new room
// is 0.
void make_two_bit_room(CellReader& cr, std::size_t rows) {
  RowsRead& r = cr.r;
  const std::size_t words = (rows + 31) / 32;
  if (words <= r.two_bit_room) return;
  const std::size_t room = std::max({words, (cr.expected_rows + 31) / 32, 2 * r.two_bit_room, std::size_t{2}}) + 1;
  BigBuffer<std::uint64_t> grown(cr.columns.size() * room, 0);
  for (std::size_t j = 0; j < cr.columns.size() && r.two_bit_room > 0; ++j)
    if (cr.columns[j].form == ColumnBeingRead::kTwoBits)
      std::memcpy(grown.data() + j * room, r.two_bit_cells.data() + j * r.two_bit_room, r.two_bit_room * sizeof(std::uint64_t));
  r.two_bit_cells.swap(grown);
  r.two_bit_room = room;
}

// Puts the codes of the cells of rows first_row .. first_row+n-1 into a column of two bits.
void put_two_bit_cells(CellReader& cr, int col, const std::uint8_t* codes, int n, int first_row) {
  make_two_bit_room(cr, static_cast<std::size_t>(first_row + n));
  std::uint64_t* words = two_bit_column(cr, col);
  for (int k = 0; k < n;) {  // a word at a time
    const auto row = static_cast<std::size_t>(first_row + k);
    const int in_word = std::min(n - k, 32 - static_cast<int>(row % 32));
    std::uint64_t word = 0;
    for (int q = 0; q < in_word; ++q) word |= static_cast<std::uint64_t>(codes[k + q]) << (2 * q);
    words[row / 32] |= word << (2 * (row % 32));
    k += in_word;
  }
}

// Puts the short cells of rows first_row .. first_row+n-1 into a column of two bits; false
// (nothing put) when some cell has no code.
bool take_in_two_bits(CellReader& cr, int col, const std::uint8_t* slots, int n, int first_row) {
  std::array<std::uint8_t, kMaxColumnRun> codes;
  if (!two_bit_codes(cr, slots, n, codes.data())) return false;
  put_two_bit_cells(cr, col, codes.data(), n, first_row);
  return true;
}

// The two-bit codes of w that lanes (two bits each) `lanes` marks: a bit per code.
unsigned two_bit_codes_in(std::uint64_t w, std::uint64_t lanes) {
  constexpr std::uint64_t kLow = 0x5555555555555555ull;
  const std::uint64_t lo = w & kLow, hi = (w >> 1) & kLow, in = lanes & kLow;
  return ((~(lo | hi) & in) != 0 ? 1u : 0u) | ((lo & ~hi) != 0 ? 2u : 0u) | ((hi & ~lo) != 0 ? 4u : 0u) |
         ((lo & hi) != 0 ? 8u : 0u);
}

// The cells of code c among those of w: a bit at the low bit of each.
std::uint64_t two_bit_cells_of(std::uint64_t w, int c) {
  constexpr std::uint64_t kLow = 0x5555555555555555ull;
  const std::uint64_t lo = (c & 1 ? w : ~w) & kLow, hi = (c & 2 ? w >> 1 : ~(w >> 1)) & kLow;
  return lo & hi;
}

// A column of two bits takes the spellings of its codes when it is spelled out or read to the
// end, as many cells of it as `rows`: in order of their first cells, as when each is entered
// as it comes.
void enter_two_bit_spellings(CellReader& cr, int col, std::size_t rows) {
  const std::int32_t* known = cr.short_spelling.data() + static_cast<std::size_t>(col) * kShortSlots;
  unsigned wanted = 0;
  for (int code = 0; code < 4; ++code) {
    const int slot = slot_of_two_bit_code(cr, code);
    if (slot >= 0 && known[slot] < 0) wanted |= 1u << code;
  }
  const std::uint64_t* words = two_bit_column(cr, col);
  std::array<std::pair<std::size_t, int>, 4> first;  // row and code
  int found = 0;
  for (std::size_t w = 0; 32 * w < rows && wanted != 0; ++w) {
    const std::size_t in = std::min<std::size_t>(32, rows - 32 * w);
    const std::uint64_t lanes = in == 32 ? ~std::uint64_t{0} : (std::uint64_t{1} << (2 * in)) - 1;
    if ((two_bit_codes_in(words[w], lanes) & wanted) == 0) continue;
    for (int code = 0; code < 4; ++code) {
      const std::uint64_t cells = two_bit_cells_of(words[w], code) & lanes;
      if (!((wanted >> code) & 1) || cells == 0) continue;
      first[found++] = {32 * w + static_cast<std::size_t>(std::countr_zero(cells) / 2), code};
      wanted &= ~(1u << code);
    }
  }
  for (int k = 1; k < found; ++k)  // a few, in order of their words already
    for (int q = k; q > 0 && first[q].first < first[q - 1].first; --q) std::swap(first[q], first[q - 1]);
  for (int k = 0; k < found; ++k)
    enter_slot(cr, col, slot_of_two_bit_code(cr, first[k].second), static_cast<int>(first[k].first));
}

// A column of two bits meets a cell without a code in row `rows`: its cells become spellings.
void spell_two_bits(CellReader& cr, ColumnBeingRead& c, int col, int rows) {
  enter_two_bit_spellings(cr, col, static_cast<std::size_t>(rows));
  spell_out_slot_texts(cr, c, col);
  const std::int32_t* known = cr.short_spelling.data() + static_cast<std::size_t>(col) * kShortSlots;
  std::array<std::uint8_t, 4> spelling{};
  for (int code = 0; code < 4; ++code) {
    const int slot = slot_of_two_bit_code(cr, code);
    if (slot >= 0) spelling[code] = static_cast<std::uint8_t>(std::max(known[slot], 0));
  }
  const TwoBitColumn code_of{two_bit_column(cr, col)};
  std::array<std::uint8_t, 256> run;
  for (int k = 0; k < rows;) {
    const int n = std::min(rows - k, 256);
    for (int q = 0; q < n; ++q) run[q] = spelling[code_of(k + q)];
    c.cells.append_small(run.data(), static_cast<std::size_t>(n));
    k += n;
  }
  c.form = ColumnBeingRead::kSpelled;
  cr.slot_state[col] = 0;
}

// A column of two bits meets a short cell without a code in row `rows`: it becomes a column of
// slots.
void two_bits_to_slots(CellReader& cr, ColumnBeingRead& c, int col, int rows) {
  enter_two_bit_spellings(cr, col, static_cast<std::size_t>(rows));
  make_slot_room(cr, static_cast<std::size_t>(rows));
  std::array<std::uint8_t, 4> slot{};
  for (int code = 0; code < 4; ++code) slot[code] = static_cast<std::uint8_t>(std::max(slot_of_two_bit_code(cr, code), 0));
  const TwoBitColumn code_of{two_bit_column(cr, col)};
  std::uint8_t* out = slot_column(cr, col);
  for (int i = 0; i < rows; ++i) out[i] = slot[code_of(i)];
  c.form = ColumnBeingRead::kSlots;
  cr.slot_state[col] = static_cast<std::uint16_t>((cr.slot_state[col] & kEnteredSlots) | kInSlots);
  ++cr.slot_columns;
}

void read_cell(CellReader& cr, int row, int col, std::string_view token) {
  const int kind = cr.rules.col_kind[col];
  if (kind > 0) {
    ColumnBeingRead& c = cr.columns[cr.rules.cov_of_col[col]];
    if (c.form == ColumnBeingRead::kTwoBits) {
      const int slot = slot_of_token(token);
      const auto s = static_cast<std::uint8_t>(slot);
      if (slot >= 0 && take_in_two_bits(cr, col, &s, 1, row)) return;
      if (slot >= 0)
        two_bits_to_slots(cr, c, col, row);
      else
        spell_two_bits(cr, c, col, row);
    }
    if (c.form == ColumnBeingRead::kSlots) {
      const int slot = slot_of_token(token);
      if (slot >= 0) {
        const auto s = static_cast<std::uint8_t>(slot);
        put_slots(cr, col, &s, 1, row);
        return;
      }
      spell_slots(cr, c, col, row);
    }
    if (c.form == ColumnBeingRead::kUnread) c.form = ColumnBeingRead::kScaled;
    if (c.form == ColumnBeingRead::kScaled && add_scaled_cells<false>(cr, c, 0, 1, [&](int) { return token; }) == 1) return;
    c.cells.push(spelling_of(cr, row, col, token, c.cells.size()));
  } else {
    read_other_cell(row, col, kind, token, cr.rules.options, cr.r);
  }
}

// Reads the cells of b[i..len-1] one by one, up to the next row start when `to_row_start`.
// Returns where it stopped.
std::size_t read_cells_one_by_one(CellReader& cr, const char* b, std::size_t i, std::size_t len, bool to_row_start,
                                  int& row, int& col) {
  for (;;) {
    if (to_row_start && col == 0) return i;
    while (i < len && space_byte(b[i])) ++i;
    if (i >= len) return i;
    std::size_t e = i;
    while (e < len && !space_byte(b[e])) ++e;
    read_cell(cr, row, col, std::string_view(b + i, e - i));
    i = e;
    if (++col == cr.ncols) col = 0, ++row;
  }
}

// The slot of the short cell at u[i] (two bytes or more readable there), followed by one
// white-space byte, and i moved past both; -1 (i as it was) for a token of any other form.
inline int short_cell_at(const unsigned char* u, std::size_t& i, std::size_t len) {
  const unsigned d = static_cast<unsigned>(u[i]) - '0';
  if (d < 10 && space_byte(u[i + 1])) {
    i += 2;
    return static_cast<int>(d);
  }
  if (u[i] == '.' && space_byte(u[i + 1])) {
    i += 2;
    return kDotSlot;
  }
  if (u[i] == 'N' && u[i + 1] == 'A' && len - i >= 3 && space_byte(u[i + 2])) {
    i += 3;
    return kNaSlot;
  }
  return -1;
}

// A row of short cells, each followed by one white-space byte, starting at b[i]: their slots
// go to the tile. Returns the end of the row, or 0 when the row has any other shape or does not
// end within b[0..len-1].
std::size_t tile_short_row(int ncols, const char* b, std::size_t i, std::size_t len, Tile& tile) {
  const auto* u = reinterpret_cast<const unsigned char*>(b);
  std::uint8_t* out = tile.slots.data() + tile.rows;
  const std::size_t stride = static_cast<std::size_t>(tile.short_capacity);
  for (int j = 0; j < ncols; ++j) {
    // Four cells of one byte at a time while they last.
    std::uint64_t four;
    while (j + 4 <= ncols && len - i >= 8 && four_short_cells(b + i, four)) {
      out[j * stride] = static_cast<std::uint8_t>(four);
      out[(j + 1) * stride] = static_cast<std::uint8_t>(four >> 16);
      out[(j + 2) * stride] = static_cast<std::uint8_t>(four >> 32);
      out[(j + 3) * stride] = static_cast<std::uint8_t>(four >> 48);
      j += 4;
      i += 8;
    }
    if (j == ncols) break;
    if (len - i < 2) return 0;
    const int slot = short_cell_at(u, i, len);
    if (slot < 0) return 0;
    out[j * stride] = static_cast<std::uint8_t>(slot);
  }
  return i;
}

// The key of a token b[i..i+n-1] of a column of `scale` decimals (-1: a column without keys).
// The block is padded: 8 bytes are readable from the token's start.
std::int32_t cell_key(const char* b, std::size_t i, std::size_t n, int scale, bool keep_spellings) {
  std::int32_t k = kOtherForm;
  if (scale < 0) return k;
  if (std::endian::native == std::endian::little && n < 8) {
    std::uint64_t word;
    std::memcpy(&word, b + i, 8);
    k = printed_scaled_key(word, static_cast<int>(n), scale);
    if (k == kOtherForm && n == 2 && (word & 0xffff) == ('N' | 'A' << 8)) k = kMissingNa;
  }
  PlainDecimal d;
  if (k == kOtherForm && read_plain_decimal_padded(std::string_view(b + i, n), d)) k = own_form_key(d, scale, keep_spellings);
  return k;
}

// The keys of a row's tokens, eight columns at a time on wide vectors; the tokens that take
// another route there (of 8 bytes or more, "NA", of other forms) are keyed one by one.
// (The reader's fields are read into locals once: the stores of keys could otherwise be them.)
void key_row_wide(const CellReader& cr, const char* b, const TokenAt* token, std::int32_t* key, std::size_t stride) {
  const bool keep_spellings = cr.rules.options.keep_spellings;
  const int ncols = cr.ncols;
  const int* scale = cr.key_scale.data();
  int j = 0;
  for (; j + 8 <= ncols; j += 8) {
    std::int32_t k[8];
    printed_scaled_keys_wide(b, &token[j].at, scale + j, k);
    for (int q = 0; q < 8; ++q) {
      if (k[q] == kOtherForm && scale[j + q] >= 0)
        k[q] = cell_key(b, token[j + q].at, token[j + q].len, scale[j + q], keep_spellings);
      key[(j + q) * stride] = k[q];
    }
  }
  for (; j < ncols; ++j) key[j * stride] = cell_key(b, token[j].at, token[j].len, scale[j], keep_spellings);
}

// The tokens of a row starting at b[i] go to the tile, with their keys for the columns read as
// scaled cells. Returns the end of its last token, or 0 when the row does not end within
// b[0..len-1]. The block is padded: 8 bytes are readable from each token's start.
std::size_t tile_token_row(const CellReader& cr, const char* b, std::size_t i, std::size_t len, Tile& tile) {
  TokenAt* out = tile.tokens.data() + static_cast<std::size_t>(tile.rows) * cr.ncols;
  std::int32_t* key = tile.keys.data() + tile.rows;
  const std::size_t stride = static_cast<std::size_t>(tile.token_capacity);
  if (cr.wide_keys) {
    std::uint32_t* start = tile.starts.data();
    std::uint32_t* end = tile.ends.data();
    const int ncols = cr.ncols;
    if (!token_bounds_wide(b, i, len, ncols, start, end)) return 0;
    for (int j = 0; j < ncols; ++j) out[j] = {start[j], end[j] - start[j]};
    key_row_wide(cr, b, out, key, stride);
    return end[ncols - 1];
  }
  const bool keep_spellings = cr.rules.options.keep_spellings;
  TokenCursor tokens(b, i, len);
  std::size_t e = i;  // the end of the last token
  for (int j = 0; j < cr.ncols; ++j) {
    if (!tokens.next(i, e)) return 0;
    out[j] = {static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(e - i)};
    key[j * stride] = cell_key(b, i, e - i, cr.key_scale[j], keep_spellings);
  }
  return e;
}

// The first failure in file order among the cells of a tile.
struct FirstFailure {
  long long at = std::numeric_limits<long long>::max();  // row * ncols + column
  std::exception_ptr error;

  void note(long long place) {
    if (place < at) at = place, error = std::current_exception();
  }
};

// Appends the spellings of `n` short cells in one go when all are known and below 256; false
// (nothing appended) otherwise.
bool append_known_slots(const std::uint8_t* slots, int n, const std::int32_t* known, SpellingCells& cells) {
  std::array<std::uint8_t, kShortSlots> spelling{};
  unsigned usable = 0;  // a bit per slot
  for (int slot = 0; slot < kShortSlots; ++slot) {
    if (static_cast<std::uint32_t>(known[slot]) > 0xff) continue;
    spelling[slot] = static_cast<std::uint8_t>(known[slot]);
    usable |= 1u << slot;
  }
  std::array<std::uint8_t, kMaxColumnRun> out;
  unsigned seen = 0;
  for (int k = 0; k < n; ++k) {
    seen |= 1u << slots[k];
    out[k] = spelling[slots[k]];
  }
  if ((seen & ~usable) != 0) return false;
  cells.append_small(out.data(), static_cast<std::size_t>(n));
  return true;
}

// Takes the short cells of rows first_row .. first_row+n-1 of file column `col` (n at most
// kMaxColumnRun), by their slots.
void take_short_column(CellReader& cr, int col, const std::uint8_t* slots, int n, int first_row, FirstFailure& failure) {
  const std::int32_t* known = cr.short_spelling.data() + static_cast<std::size_t>(col) * kShortSlots;
  const int kind = cr.rules.col_kind[col];
  int k = 0;
  try {
    if (cr.slot_state[col] & kInSlots) return put_slots(cr, col, slots, n, first_row);
    if (kind > 0) {
      ColumnBeingRead& c = cr.columns[cr.rules.cov_of_col[col]];
      SpellingCells& cells = c.cells;
      if (c.form == ColumnBeingRead::kTwoBits) {
        if (take_in_two_bits(cr, col, slots, n, first_row)) return;
        two_bits_to_slots(cr, c, col, first_row);
        return put_slots(cr, col, slots, n, first_row);
      }
      if (c.form == ColumnBeingRead::kUnread) {
        c.form = ColumnBeingRead::kSlots;
        cr.slot_state[col] = kInSlots;
        ++cr.slot_columns;
        return put_slots(cr, col, slots, n, first_row);
      }
      if (c.form == ColumnBeingRead::kScaled) {
        k = add_scaled_cells<false>(cr, c, 0, n, [&](int q) { return kShortToken[slots[q]]; });
        if (k == n) return;
      }
      if (k == 0 && append_known_slots(slots, n, known, cells)) return;
      for (; k < n; ++k) {
        const std::int32_t s = known[slots[k]];
        cells.push(s >= 0 ? static_cast<std::uint32_t>(s)
                          : spelling_of(cr, first_row + k, col, kShortToken[slots[k]], cells.size()));
      }
    } else if (kind == kResponseColumn) {
      for (; k < n; ++k) {
        if (slots[k] < 10)
          cr.r.labels.push_back(slots[k]);  // never below 0: the smallest stays
        else
          read_other_cell(first_row + k, col, kind, kShortToken[slots[k]], cr.rules.options, cr.r);
      }
    }
  } catch (...) {
    failure.note(static_cast<long long>(first_row + k) * cr.ncols + col);
  }
}

void flush_short_tile(CellReader& cr, const Tile& tile) {
  FirstFailure failure;
  for (int col = 0; col < cr.ncols; ++col) {
    // The columns' ends lie far apart: fetch them a few columns ahead.
    if (col + 16 < cr.ncols && cr.rules.cov_of_col[col + 16] >= 0 && !(cr.slot_state[col + 16] & kInSlots))
      __builtin_prefetch(&cr.columns[cr.rules.cov_of_col[col + 16]].cells);
    if (col + 8 < cr.ncols && cr.rules.cov_of_col[col + 8] >= 0)
      __builtin_prefetch(cr.slot_state[col + 8] & kInSlots ? slot_column(cr, col + 8) + tile.first_row
                                                           : cr.columns[cr.rules.cov_of_col[col + 8]].cells.end(),
                         1);
    const std::uint8_t* slots = tile.slots.data() + static_cast<std::size_t>(col) * tile.short_capacity;
    if (cr.slot_state[col] & kInSlots)
      put_slots(cr, col, slots, tile.rows, tile.first_row);  // no cell fails there
    else
      take_short_column(cr, col, slots, tile.rows, tile.first_row, failure);
  }
  if (failure.error) std::rethrow_exception(failure.error);
}

// Appends the spellings of the cells of rows from .. rows - 1 of a tile's column (its tokens a
// row apart) while they are digits or "NA" whose spelling is known and below 256, in one go; returns
// how many.
int append_known_short_tokens(const char* b, const TokenAt* tokens, int stride, int from, int rows,
                              const std::int32_t* known, SpellingCells& cells) {
  std::array<std::uint8_t, kMaxTileRows> run;
  int n = 0;
  for (int k = from; k < rows; ++k, ++n) {
    const TokenAt t = tokens[static_cast<std::size_t>(k) * stride];
    const unsigned digit = static_cast<unsigned char>(b[t.at]) - '0';
    const int slot = t.len == 1 && digit < 10 ? static_cast<int>(digit)
                     : t.len == 2 && b[t.at] == 'N' && b[t.at + 1] == 'A' ? kNaSlot
                                                                         : -1;
    if (slot < 0 || static_cast<std::uint32_t>(known[slot]) > 0xff) break;
    run[n] = static_cast<std::uint8_t>(known[slot]);
  }
  cells.append_small(run.data(), static_cast<std::size_t>(n));
  return n;
}

// Puts the cells of a tile's column of two bits (its tokens a row apart) into it when every one
// has a code; false (nothing put) otherwise.
bool take_tokens_in_two_bits(CellReader& cr, int col, const char* b, const TokenAt* tokens, const Tile& tile) {
  std::array<std::uint8_t, kMaxColumnRun> slots;
  for (int k = 0; k < tile.rows; ++k) {
    const TokenAt t = tokens[static_cast<std::size_t>(k) * cr.ncols];
    const int slot = slot_of_token(std::string_view(b + t.at, t.len));
    if (slot < 0) return false;
    slots[k] = static_cast<std::uint8_t>(slot);
  }
  return take_in_two_bits(cr, col, slots.data(), tile.rows, tile.first_row);
}

void flush_token_tile(CellReader& cr, const char* b, const Tile& tile) {
  FirstFailure failure;
  for (int col = 0; col < cr.ncols; ++col) {
    const TokenAt* tokens = tile.tokens.data() + col;
    const auto token_at = [&](int q) { return tokens[static_cast<std::size_t>(q) * cr.ncols]; };
    const int kind = cr.rules.col_kind[col];
    int k = 0;
    try {
      if (kind > 0) {
        ColumnBeingRead& c = cr.columns[cr.rules.cov_of_col[col]];
        SpellingCells& cells = c.cells;
        if (c.form == ColumnBeingRead::kTwoBits) {
          if (take_tokens_in_two_bits(cr, col, b, tokens, tile)) continue;
          spell_two_bits(cr, c, col, tile.first_row);
        }
        if (c.form == ColumnBeingRead::kSlots) spell_slots(cr, c, col, tile.first_row);
        if (c.form == ColumnBeingRead::kUnread) {
          c.form = ColumnBeingRead::kScaled;
          c.scaled.key.reserve(cr.expected_rows);
        }
        if (c.form == ColumnBeingRead::kScaled)
          k = add_keyed_cells(cr, c, tile.keys.data() + static_cast<std::size_t>(col) * tile.token_capacity, tile.rows,
                              [&](int q) { return std::string_view(b + token_at(q).at, token_at(q).len); });
        const std::int32_t* known = cr.short_spelling.data() + static_cast<std::size_t>(col) * kShortSlots;
        while (k < tile.rows) {
          k += append_known_short_tokens(b, tokens, cr.ncols, k, tile.rows, known, cells);
          if (k == tile.rows) break;
          const std::string_view token(b + token_at(k).at, token_at(k).len);
          cells.push(spelling_of(cr, tile.first_row + k, col, token, cells.size()));
          ++k;
        }
      } else {
        for (; k < tile.rows; ++k)
          read_other_cell(tile.first_row + k, col, kind, std::string_view(b + token_at(k).at, token_at(k).len),
                          cr.rules.options, cr.r);
      }
    } catch (...) {
      failure.note(static_cast<long long>(tile.first_row + k) * cr.ncols + col);
    }
  }
  if (failure.error) std::rethrow_exception(failure.error);
}

// The decimals with which the keys of the next tiles are made.
void refresh_key_scales(CellReader& cr) {
  for (int col = 0; col < cr.ncols; ++col) {
    if (cr.key_scale[col] < 0) continue;
    const ColumnBeingRead& c = cr.columns[cr.rules.cov_of_col[col]];
    cr.key_scale[col] = c.form == ColumnBeingRead::kScaled || c.form == ColumnBeingRead::kUnread ? c.scaled.scale : -1;
  }
}

FORESTS_WIDE_VECTORS_BEGIN

// How many of the 32 cells of two bytes at p, from the first on, are "0", "1", "2" (or ".", when
// the missing token of code 3 is, or may become, ".") followed by a white-space byte; their codes
// go to `codes`, cell k in bits 2k and 2k+1, the bits past them 0. On wide vectors only (where
// cpu_has_wide_vectors).
FORESTS_WIDE_VECTORS int leading_cells_wide(const char* p, int& missing, std::uint64_t& codes) {
  constexpr std::uint64_t kCells = 0x5555555555555555ull;
  const __m512i x = _mm512_loadu_si512(p);
  __m512i digit = _mm512_sub_epi8(x, _mm512_set1_epi8('0'));
  const __mmask64 space = _mm512_cmpeq_epi8_mask(x, _mm512_set1_epi8(' ')) |
                          _mm512_cmplt_epu8_mask(_mm512_sub_epi8(x, _mm512_set1_epi8(9)), _mm512_set1_epi8(5));
  std::uint64_t cell = _mm512_cmplt_epu8_mask(digit, _mm512_set1_epi8(3));
  const std::uint64_t dot = missing < 0 || missing == kDotSlot ? _mm512_cmpeq_epi8_mask(x, _mm512_set1_epi8('.')) : 0;
  cell = (cell | dot) & (space >> 1) & kCells;
  const int n = std::countr_one(cell | ~kCells) / 2;
  codes = 0;
  if (n == 0) return 0;
  const std::uint64_t inside = n == 32 ? ~std::uint64_t{0} : (std::uint64_t{1} << (2 * n)) - 1;
  if ((dot & inside) != 0) {
    missing = kDotSlot;
    digit = _mm512_mask_mov_epi8(digit, dot, _mm512_set1_epi8(3));
  }
  // Each cell's code in the low byte of its 16-bit lane: its low bit to bit 7, its high bit to
  // bit 15, whose bytes' top bits are then gathered.
  const __m512i lane = _mm512_and_si512(digit, _mm512_set1_epi16(0x00ff));
  codes = _mm512_movepi8_mask(_mm512_or_si512(_mm512_slli_epi16(lane, 7), _mm512_slli_epi16(lane, 14))) & inside;
  return n;
}

FORESTS_WIDE_VECTORS_END

// A row of cells "0", "1", "2" and the missing token of code 3 (the first met becomes it), each
// followed by one white-space byte, starting at b[i], but for a label of one digit, which goes
// to `label` (code 0 in its place): their two-bit codes go to `out`, 32 to a word, the words
// `stride` apart. Returns the end of the row, or 0 when the row has any other shape or does not
// end within b[0..len-1], which `cut` then tells (`out` may hold some of its codes). On wide
// vectors, 32 cells are read at a time.
std::size_t two_bit_row(CellReader& cr, const char* b, std::size_t i, std::size_t len, std::uint64_t* out,
                        std::size_t stride, std::uint8_t& label, bool& cut) {
  constexpr std::uint64_t kCellOnes = 0x0001000100010001ull, kCellHigh = kCellOnes * 0x80;
  const auto* u = reinterpret_cast<const unsigned char*>(b);
  const int ncols = cr.ncols, response = cr.response_col;
  int& missing = cr.two_bit_missing;
  std::uint64_t word = 0;
  int filled = 0;  // bits of `word`
  auto put = [&](std::uint64_t bits, int n) {  // n bits, 0 to 64
    word |= bits << filled;
    filled += n;
    if (filled < 64) return;
    *out = word;
    out += stride;
    filled -= 64;
    word = filled > 0 ? bits >> (n - filled) : 0;
  };
  for (int j = 0; j < ncols; ++j) {
    const int limit = j <= response ? response : ncols;  // the label takes the last way
    while (cr.wide_keys && j + 32 <= limit && len - i >= 64) {
      std::uint64_t codes;
      const int n = leading_cells_wide(b + i, missing, codes);
      put(codes, 2 * n);
      j += n;
      i += 2 * static_cast<std::size_t>(n);
      if (n < 32) break;  // the next cell takes the other ways
    }
    std::uint64_t four;
    while (j + 4 <= limit && len - i >= 8 && four_short_cells(b + i, four)) {
      const std::uint64_t past_two = (four + kCellOnes * (0x80 - 3)) & kCellHigh;
      if (past_two != 0) {
        const std::uint64_t not_dot = ((four ^ (kCellOnes * kDotSlot)) + kCellOnes * 0x7f) & kCellHigh;
        if ((past_two & not_dot) != 0) return 0;
        if (missing < 0) missing = kDotSlot;
        if (missing != kDotSlot) return 0;
      }
      // The four codes (a point's slot, 11, ends in code 3) side by side: the other products
      // fall below bit 40 or past bit 63.
      put((((four & (kCellOnes * 3)) * 0x0001000400100040ull) >> 48) & 0xff, 8);
      j += 4;
      i += 8;
    }
    if (j == ncols) break;
    cut = len - i < 2 || (len - i == 2 && u[i] == 'N' && u[i + 1] == 'A');
    if (cut) return 0;
    const unsigned d = static_cast<unsigned>(u[i]) - '0';
    if (j == response) {
      if (d >= 10 || !space_byte(u[i + 1])) return 0;  // a missing label, too, takes the other ways
      label = static_cast<std::uint8_t>(d);
      put(0, 2);
      i += 2;
      continue;
    }
    const int slot = short_cell_at(u, i, len);
    if (slot < 0 || (slot > 2 && slot < 10)) return 0;
    if (slot > 2) {
      if (missing < 0) missing = slot;
      if (slot != missing) return 0;
    }
    put(slot > 2 ? 3u : static_cast<unsigned>(slot), 2);
  }
  if (filled > 0) *out = word;
  return i;
}

// Reads a row of two-bit cells at b[i] into the tile; returns its end, or 0 (the tile as it was)
// and whether the row was cut by the end of the block. Kept out of the loop over rows, whose
// other ways it would crowd.
[[gnu::noinline]] std::size_t tile_two_bit_row(CellReader& cr, const char* b, std::size_t i, std::size_t len, Tile& tile, int row,
                             bool& cut) {
  if (tile.rows == 0) tile.two_bit_base = row / 32 * 32;
  const auto stride = static_cast<std::size_t>(tile.two_bit_capacity);
  std::uint64_t* out = tile.two_bit_rows.data() + (row - tile.two_bit_base);
  const std::size_t end = two_bit_row(cr, b, i, len, out, stride, tile.labels[row - tile.two_bit_base], cut);
  if (end == 0)
    for (int w = 0; w < tile.row_words; ++w) out[w * stride] = 0;
  return end;
}

// The codes of a tile's column (its words, one per group of 32 rows) of rows first .. end-1,
// from row `base` on, as slots.
void two_bit_slots(const CellReader& cr, const std::uint64_t* words, int base, int first, int end, std::uint8_t* slots) {
  const int missing = std::max(cr.two_bit_missing, 0);
  const TwoBitColumn code_of{words};
  for (int row = first; row < end; ++row) {
    const int code = code_of(row - base);
    slots[row - first] = static_cast<std::uint8_t>(code < 3 ? code : missing);
  }
}

// A tile's column of two-bit cells into a column of two bits: its words (one per group of 32
// rows, those of rows outside the tile 0) or'ed in.
void put_two_bit_words(CellReader& cr, int col, const std::uint64_t* words, const Tile& tile) {
  std::uint64_t* to = two_bit_column(cr, col) + tile.two_bit_base / 32;
  for (int g = 0; g * 32 < tile.first_row + tile.rows - tile.two_bit_base; ++g) to[g] |= words[g];
}

void flush_two_bit_tile(CellReader& cr, Tile& tile) {
  const int end = tile.first_row + tile.rows, base = tile.two_bit_base;
  const int groups = (end - base + 31) / 32;
  make_two_bit_room(cr, static_cast<std::size_t>(end));
  std::array<std::array<std::uint64_t, 32>, kMaxTwoBitGroups> words;  // per group of rows, per column
  std::array<std::uint64_t, kMaxTwoBitGroups> column;
  std::array<std::uint8_t, kMaxColumnRun> slots;
  FirstFailure failure;
  for (int w = 0; w < tile.row_words; ++w) {
    std::uint64_t* rows = tile.two_bit_rows.data() + static_cast<std::size_t>(w) * tile.two_bit_capacity;
    for (int g = 0; g < groups; ++g) {
      std::copy_n(rows + 32 * g, 32, words[g].data());
      transpose_tile(words[g].data());
    }
    std::fill_n(rows + (tile.first_row - base), tile.rows, 0);
    for (int q = 0; q < 32 && 32 * w + q < cr.ncols; ++q) {
      const int col = 32 * w + q;
      // The columns' words lie far apart: fetch them a few columns ahead.
      if (col + 8 < cr.ncols && (cr.slot_state[col + 8] & kInTwoBits)) {
        const std::uint64_t* ahead = two_bit_column(cr, col + 8) + base / 32;
        __builtin_prefetch(ahead, 1);
        __builtin_prefetch(ahead + groups - 1, 1);
      }
      for (int g = 0; g < groups; ++g) column[g] = words[g][q];
      const int cov = cr.rules.cov_of_col[col];
      if (!(cr.slot_state[col] & kInTwoBits) && cov >= 0 && cr.columns[cov].form == ColumnBeingRead::kUnread) {
        cr.columns[cov].form = ColumnBeingRead::kTwoBits;
        cr.columns[cov].value.reserve(4);  // the spellings it will mostly have
        cr.slot_state[col] = kInTwoBits;
      }
      if (cr.slot_state[col] & kInTwoBits) {
        put_two_bit_words(cr, col, column.data(), tile);
        continue;
      }
      if (col == cr.response_col)
        std::copy_n(tile.labels.data() + (tile.first_row - base), tile.rows, slots.data());
      else
        two_bit_slots(cr, column.data(), base, tile.first_row, end, slots.data());
      take_short_column(cr, col, slots.data(), tile.rows, tile.first_row, failure);
    }
  }
  if (failure.error) std::rethrow_exception(failure.error);
}

void flush_tile(CellReader& cr, const char* b, Tile& tile) {
  if (tile.kind == Tile::kTwoBits) flush_two_bit_tile(cr, tile);
  if (tile.kind == Tile::kShort) flush_short_tile(cr, tile);
  if (tile.kind == Tile::kTokens) flush_token_tile(cr, b, tile);
  refresh_key_scales(cr);
  tile.kind = Tile::kEmpty;
  tile.rows = 0;
}

// Rows like the first short one fill the file: the columns take room for them at once.
void expect_rows(CellReader& cr, std::size_t row_bytes) {
  if (cr.data_bytes <= 0) return;
  const double rows = static_cast<double>(cr.data_bytes) / static_cast<double>(row_bytes);
  cr.expected_rows = static_cast<std::size_t>(std::min(rows * 1.01, 1e9)) + kMaxTileRows;
}

// The columns of keys take the decimals of their cell in the first row, b[i..], as its cell
// would raise them: so the first tile's keys are made at the scale they keep.
void scale_as_first_row(CellReader& cr, const char* b, std::size_t i, std::size_t len) {
  TokenCursor tokens(b, i, len);
  std::size_t e = i;
  for (int j = 0; j < cr.ncols && tokens.next(i, e); ++j) {
    PlainDecimal d;
    if (cr.key_scale[j] != 0 || !read_plain_decimal(std::string_view(b + i, e - i), d) || d.decimals == 0) continue;
    ColumnBeingRead& c = cr.columns[cr.rules.cov_of_col[j]];
    if (c.form == ColumnBeingRead::kUnread && c.scaled.key.empty()) c.scaled.scale = cr.key_scale[j] = d.decimals;
  }
}

// Reads the whole rows of b[i..len-1] that start at row `row` in tiles. Returns the start of
// the first row that does not end within the block (or len). A tile of two-bit rows, which
// holds no bytes of the block, may be left for the rows of the next block.
std::size_t read_whole_rows(CellReader& cr, const char* b, std::size_t i, std::size_t len, Tile& tile, int& row) {
  refresh_key_scales(cr);  // cells read one by one may have changed them
  for (;;) {
    while (i < len && space_byte(b[i])) ++i;
    if (i >= len) break;
    if (tile.rows == 0) tile.first_row = row;
    std::size_t end = 0;
    if (tile.kind == Tile::kEmpty || tile.kind == Tile::kTwoBits) {
      bool cut = false;
      end = tile_two_bit_row(cr, b, i, len, tile, row, cut);
      if (cut) break;
      if (end == 0 && tile.kind == Tile::kTwoBits) {
        flush_tile(cr, b, tile);
        tile.first_row = row;
      }
      if (end > 0) tile.kind = Tile::kTwoBits;
    }
    if (end == 0 && tile.kind != Tile::kTokens) {
      end = tile_short_row(cr.ncols, b, i, len, tile);
      if (end > 0) tile.kind = Tile::kShort;
    }
    if (end > 0) {
      if (cr.expected_rows == 0) expect_rows(cr, end - i);
    } else {
      if (tile.kind == Tile::kShort) {
        flush_tile(cr, b, tile);
        tile.first_row = row;
      }
      if (row == 0) scale_as_first_row(cr, b, i, len);
      end = tile_token_row(cr, b, i, len, tile);
      if (end == 0) break;
      if (cr.expected_rows == 0) expect_rows(cr, end - i + 1);
      tile.kind = Tile::kTokens;
    }
    i = end;
    ++row;
    ++tile.rows;
    const bool full = tile.kind == Tile::kTwoBits ? row == tile.two_bit_base + tile.two_bit_capacity
                      : tile.rows == (tile.kind == Tile::kShort ? tile.short_capacity : tile.token_capacity);
    if (full) flush_tile(cr, b, tile);
  }
  if (tile.kind != Tile::kTwoBits) flush_tile(cr, b, tile);
  return i;
}

// The values of a column's distinct keys count toward `r`.
void note_scaled_values(const DistinctKeys& d, int scale, RowsRead& r) {
  if (!d.key.empty() && d.key.front() <= kMissingNan) r.has_missing = true;
  const auto number = std::find_if(d.key.begin(), d.key.end(), [](std::int32_t k) { return k > kMissingNan; });
  if (number != d.key.end()) r.smallest = std::min(r.smallest, scaled_value(*number, scale));
}

// A column of scaled cells read to the end finds its distinct keys, and its cells take their
// numbers among them at once, while the keys are still at hand from the count. The rooms are
// reused from column to column.
void finish_scaled_cells(ColumnBeingRead& c, RowsRead& r, std::vector<std::uint8_t>& seen,
                         std::vector<std::uint32_t>& slots) {
  if (number_among_distinct_keys(c.scaled, c.distinct, seen, slots)) {
    c.numbered = true;
  } else {
    c.distinct = distinct_keys(c.scaled, seen);
    number_scaled_cells(c, slots);
  }
  note_scaled_values(c.distinct, c.scaled.scale, r);
}

}  // namespace

int add_spelling(ColumnBeingRead& c, std::string_view token, int row, int col, int kind, const ReadOptions& options,
                 std::size_t cells_before, RowsRead& r) {
  double value = std::numeric_limits<double>::quiet_NaN();
  // Missing tokens start with 'N' or '.': most cells need no closer look.
  if ((token[0] == 'N' || token[0] == '.') && is_missing_token(token, options.nan_token_is_missing)) {
    r.has_missing = true;
  } else {
    if (!parse_number(token, value) || (kind == kNominal && !fits_int(value))) invalid_data(row, col, token);
    r.smallest = std::min(r.smallest, value);
  }
  c.value.push_back(value);
  const int k = c.spellings.add(token);
  // Nearly every cell spelled differently so far: no more looking up.
  if (k >= 256 && 2 * static_cast<std::size_t>(k) > cells_before) c.spellings.stop_finding();
  return k;
}

void read_other_cell(int row, int col, int kind, std::string_view token, const ReadOptions& options, RowsRead& r) {
  const bool missing = is_missing_token(token, options.nan_token_is_missing);
  double value = 0.0;
  if (!missing && !parse_number(token, value)) invalid_data(row, col, token);
  if (kind == kResponseColumn) {
    const int label = response_label(row, col, token, missing);
    r.smallest = std::min(r.smallest, static_cast<double>(label));
    r.labels.push_back(label);
  }
}

namespace {

// The tile's room for the reader's columns.
Tile make_tile(const CellReader& cr) {
  Tile tile;
  tile.short_capacity = std::max(kMinShortTileRows, tile_rows(kShortTileBytes, cr.ncols));
  tile.token_capacity = tile_rows(kTokenTileCells, cr.ncols);
  tile.slots.resize(static_cast<std::size_t>(tile.short_capacity) * cr.ncols);
  tile.tokens.resize(static_cast<std::size_t>(tile.token_capacity) * cr.ncols);
  tile.keys.resize(tile.tokens.size());
  if (cr.wide_keys) {
    tile.starts.resize(static_cast<std::size_t>(cr.ncols) + 64);
    tile.ends.resize(tile.starts.size());
  }
  tile.row_words = (cr.ncols + 31) / 32;
  const std::size_t group_bytes = 32 * sizeof(std::uint64_t) * static_cast<std::size_t>(tile.row_words);
  tile.two_bit_capacity = 32 * static_cast<int>(std::clamp<std::size_t>(kTwoBitTileBytes / group_bytes, 1, kMaxTwoBitGroups));
  tile.two_bit_rows.assign(static_cast<std::size_t>(tile.two_bit_capacity) * tile.row_words, 0);
  tile.labels.resize(tile.two_bit_capacity);
  return tile;
}

// The columns read to the end (`rows` whole rows, and the first `last_col` cells of one more):
// columns of decimals find their distinct keys, and columns of two bits or slots take their
// cells and the spellings of their codes or slots.
void finish_columns(CellReader& cr, const CellRules& rules, std::vector<ColumnBeingRead>& columns, RowsRead& r,
                    int rows, int last_col) {
  std::vector<std::uint8_t> seen;
  std::vector<std::uint32_t> slots;
  for (ColumnBeingRead& c : columns)
    if (c.form == ColumnBeingRead::kScaled) finish_scaled_cells(c, r, seen, slots);
  for (int col = 0; col < cr.ncols; ++col) {
    if (rules.cov_of_col[col] < 0) continue;
    ColumnBeingRead& c = columns[rules.cov_of_col[col]];
    const std::size_t cells = static_cast<std::size_t>(rows) + (col < last_col ? 1 : 0);
    if (c.form == ColumnBeingRead::kTwoBits) {
      c.nslots = cells;
      enter_two_bit_spellings(cr, col, c.nslots);
      for (int code = 0; code < 4; ++code) {
        const int slot = slot_of_two_bit_code(cr, code);
        c.code_spelling[code] = slot < 0 ? -1 : cr.short_spelling[static_cast<std::size_t>(col) * kShortSlots + slot];
      }
      c.two_bit_words = two_bit_column(cr, col);
    }
    if (c.form != ColumnBeingRead::kSlots) continue;
    std::copy_n(cr.short_spelling.data() + static_cast<std::size_t>(col) * kShortSlots, kShortSlots, c.slot_spelling.begin());
    c.slots = slot_column(cr, col);
    c.nslots = cells;
  }
}

}  // namespace

RowScan read_rows(TokenReader& in, const CellRules& rules, std::vector<ColumnBeingRead>& columns, RowsRead& r,
                  std::size_t block_size) {
  CellReader cr = make_cell_reader(rules, columns, r);
  Tile tile = make_tile(cr);
  Block block;
  block.take(in.take_read_ahead(), block_size);
  const long long rest_of_file = bytes_left(in.file());
  if (rest_of_file >= 0) cr.data_bytes = rest_of_file + static_cast<long long>(block.filled);
  int row = 0, col = 0;
  std::string last_token;
  for (bool at_end = false; !at_end;) {
    const std::size_t len = next_block(in.file(), block, block_size, at_end);
    const char* b = block.data.data();
    const int rows_before = row;
    const bool whole_rows = len <= std::numeric_limits<std::uint32_t>::max();
    if (col != 0 || !whole_rows) flush_tile(cr, b, tile);  // the rows before those read one by one
    std::size_t i = read_cells_one_by_one(cr, b, 0, len, true, row, col);  // a row begun in the last block
    if (whole_rows) i = read_whole_rows(cr, b, i, len, tile, row);
    // The row begun at the end of a block of whole rows waits for the next block, to be read
    // whole with the rows after it.
    const bool carry_row = !at_end && row > rows_before && col == 0;
    if (!carry_row) {
      flush_tile(cr, b, tile);
      read_cells_one_by_one(cr, b, i, len, false, row, col);
    }
    const std::string_view last = last_token_in(b, len);
    if (!last.empty()) last_token.assign(last);
    block.drop_front(carry_row ? i : len);
    // Wide rows: blocks of two tiles' rows at least, so that tiles fill up.
    const auto rows_read = static_cast<std::size_t>(row - rows_before);
    const std::size_t two_tiles = 2 * static_cast<std::size_t>(tile.short_capacity);
    if (rows_read < two_tiles && block_size >= kGrowingBlock && block_size < kLargestBlock)
      block_size = std::min(kLargestBlock, std::max(block_size, len / std::max<std::size_t>(rows_read, 1) * two_tiles));
  }
  finish_columns(cr, rules, columns, r, row, col);
  return rows_scanned(static_cast<long long>(row) * cr.ncols + col, cr.ncols, last_token);
}

void spell_scaled_cells(ColumnBeingRead& c, RowsRead& r) {
  const DistinctKeys d = distinct_keys(c.scaled);
  const int scale = c.scaled.scale;
  note_scaled_values(d, scale, r);
  for (std::int32_t key : d.key) {
    c.value.push_back(scaled_value(key, scale));
    c.spellings.add(scaled_spelling(key, scale));
  }
  std::vector<std::uint32_t> of_cell(c.scaled.key.size()), room;
  const KeyIndex spelling(d, of_cell.size(), room);
  for (std::size_t i = 0; i < of_cell.size(); ++i) of_cell[i] = spelling(c.scaled.key[i]);
  c.cells.assign(of_cell, static_cast<std::uint32_t>(d.key.size()));
  const std::size_t nsp = d.key.size();
  if (nsp >= 256 && 2 * nsp > c.cells.size()) c.spellings.stop_finding();
  c.scaled = ScaledCells{};
  c.form = ColumnBeingRead::kSpelled;
}

void number_scaled_cells(ColumnBeingRead& c, std::vector<std::uint32_t>& room) {
  if (c.form != ColumnBeingRead::kScaled || c.numbered) return;
  const KeyIndex spelling(c.distinct, c.scaled.key.size(), room);
  for (std::int32_t& k : c.scaled.key) k = static_cast<std::int32_t>(spelling(k));
  c.numbered = true;
}

int spelling_count(const ColumnBeingRead& c) {
  return c.form == ColumnBeingRead::kScaled ? static_cast<int>(c.distinct.key.size()) : static_cast<int>(c.value.size());
}

double spelling_value(const ColumnBeingRead& c, int k) {
  return c.form == ColumnBeingRead::kScaled ? scaled_value(c.distinct.key[k], c.scaled.scale) : c.value[k];
}

SpellingList release_spellings(ColumnBeingRead& c) {
  if (c.form != ColumnBeingRead::kScaled) return c.spellings.release();
  SpellingList printed;
  printed.printed = c.distinct.key;
  printed.decimals = c.scaled.scale;
  return printed;
}

}  // namespace forests
