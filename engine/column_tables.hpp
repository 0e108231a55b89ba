// What a column read to the end comes to: the cells of each spelling, its value table, the
// keys an ordinal column of scaled cells keeps; and the two-bit cell counts and recoding.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cell_reading.hpp"

namespace forests {

// Cells of each code 0 to 3 among the first n cells of a column of two-bit cells (the cells
// past them 0).
std::array<long long, 4> count_two_bit_codes(const std::uint64_t* words, std::size_t n);

// The first n cells of a column of two-bit cells with each code c turned into code[c], 32 at a
// time; the cells past them in the last word are left 0.
void recode_two_bit_cells(const std::uint64_t* from, std::size_t n, const std::array<std::uint32_t, 4>& code,
                          std::uint64_t* to);

// The value table of a column read: equal values spelled differently are one value, which
// takes the first spelling's value (-0 and 0 are equal). `rank` gets the table index of each
// spelling.
ValueTable value_table(const ColumnBeingRead& c, double missing_code, std::vector<int>& rank);

// For a column read to the end as scaled cells: the value table index of each spelling, and
// the value table without its counts, enough for an ordinal column, whose cells of each code
// are not counted.
std::vector<int> scaled_ranks(const ColumnBeingRead& c);
ValueTable ordinal_scaled_table(const ColumnBeingRead& c, double missing_code);

// The same table without all its values: its size, its values appended to `value`, and its
// first and last values alone (the missing code, the smallest and the largest value, those the
// column has), which is all the data summary reads of an ordinal column.
std::size_t ordinal_scaled_size(const ColumnBeingRead& c);
void append_ordinal_scaled_values(const ColumnBeingRead& c, double missing_code, std::vector<double>& value);
ValueTable ordinal_scaled_ends(const ColumnBeingRead& c, double missing_code);

// When a column spells zero both with and without a minus sign, its value table keeps the zero
// that sorting the whole column and dropping repeats keeps, so that a cut-off at zero is
// written with the same sign as ever. `rank` is the value table index of each spelling (for a
// column of scaled cells it may be left empty: scaled_ranks gives it).
void zero_as_sorted(const ColumnBeingRead& c, const std::vector<int>& rank, double* value);

// An ordinal column of scaled cells as the store keeps it: the key of each table index, with
// one key for all the missing ones and, when the column spells both zeros, the key of the zero
// kept as zero_as_sorted keeps it. The column's distinct keys are handed over for it (`rank` as
// for zero_as_sorted).
std::vector<std::int32_t> release_ordinal_scaled_keys(ColumnBeingRead& c, const std::vector<int>& rank);

// The partition step of std::sort's introsort (Hoare's, unguarded) on cells held as 2 * their
// table index (plus a bit the comparison ignores), the pivot at first[-1]: the cells are left as
// it leaves them, and the cut it returns. Rather than scanning from both ends with a branch per
// cell, the cells that stop either scan are listed first, without branches, then swapped in
// pairs until the lists cross. `scratch` is room reused from call to call.
std::uint32_t* partition_by_index(std::uint32_t* first, std::uint32_t* last, std::vector<std::uint32_t>& scratch);

}  // namespace forests
