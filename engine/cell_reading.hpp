// Reading the data rows of a training file into columns of spelling numbers, and the value
// tables of the columns read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "data_set.hpp"
#include "scaled_cells.hpp"
#include "spellings.hpp"

namespace forests {

// A covariate column while the file is read: its spellings with their values (NaN for a missing
// one) and the spelling of every cell. A column whose first cells come in rows of decimals is
// read as scaled cells instead, as long as its cells allow; a column that stops fitting is
// spelled out on the spot. In one that stays scaled to the end, its distinct keys, in order of
// value, serve as its spellings (without text unless spellings are kept) and each cell keeps
// the number of its key among them.
struct ColumnBeingRead {
  enum Form { kUnread, kSpelled, kScaled } form = kUnread;
  SpellingTable spellings;
  std::vector<double> value;
  SpellingCells cells;
  ScaledCells scaled;
  // Of a column read to the end as scaled cells: its distinct keys and each cell's spelling.
  DistinctKeys distinct;
  std::vector<std::int32_t> spelling_of_cell;
};

// A column read, as spellings: how many, the value of each, and each cell's spelling number
// (f(i, k) for every cell i in order).
int spelling_count(const ColumnBeingRead& c);
double spelling_value(const ColumnBeingRead& c, int k);
template <class F>
void for_each_cell(const ColumnBeingRead& c, F&& f) {
  if (c.form != ColumnBeingRead::kScaled) return c.cells.for_each(f);
  const std::vector<std::int32_t>& k = c.spelling_of_cell;
  for (std::size_t i = 0; i < k.size(); ++i) f(i, static_cast<std::uint32_t>(k[i]));
}

// Hands over the text of a column's spellings; the column's cells stay.
SpellingList release_spellings(ColumnBeingRead& c);

// What the reader learns of the data rows beyond the columns.
struct RowsRead {
  std::vector<int> labels;
  double smallest = 0.0;  // of all values and labels, and 0
  bool has_missing = false;
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
                  std::size_t block_size = std::size_t{1} << 22);

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

// The value table of a column read: equal values spelled differently are one value, which
// takes the first spelling's value (-0 and 0 are equal). `rank` gets the table index of each
// spelling.
ValueTable value_table(const ColumnBeingRead& c, double missing_code, std::vector<int>& rank);

// When a column spells zero both with and without a minus sign, its value table keeps the zero
// that sorting the whole column and dropping repeats keeps, so that a cut-off at zero is
// written with the same sign as ever. `rank` is the value table index of each spelling.
void zero_as_sorted(const ColumnBeingRead& c, const std::vector<int>& rank, double* value);

}  // namespace forests
