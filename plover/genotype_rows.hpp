// Reading the data rows of a genotype training file straight into the column store.
//
// Each row is packed into 2-bit words, 32 covariates to a word, as its cells arrive; every 32
// rows (a tile) then become one column word per covariate by a bit transposition. Cells of the
// common form, one character each followed by a single space (or tab, as the file's first row
// has it), are read eight bytes (four cells) at a time; every other cell takes the token path,
// whose checks and messages are those of reading token by token. The file is read a block at
// a time, in file order, so the first error is the first in the file; with threads, the next
// block is read and the tiles done are turned into columns meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "data_set.hpp"
#include "genotypes.hpp"
#include "parallel.hpp"
#include "row_blocks.hpp"

namespace forests {

// The genotypes of the four cells at p when the eight bytes are four cells '0', '1', '2' or
// '.' (missing), each followed by the separator `sep`: cell k in bits 2k and 2k+1.
bool four_plain_genotypes(const char* p, char sep, std::uint32_t& bits);

// Reads the data rows (the rest of `in`) into `g` (in columns, `g` made for the covariates)
// and the label of each row into `labels`. A file that ends inside a row is reported in the
// scan. Blocks hold block_size bytes and more.
RowScan read_genotype_rows(TokenReader& in, const ColumnLayout& layout, const std::vector<int>& cov_of_col,
                           GenoStore& g, std::vector<int>& labels, WorkerPool* pool,
                           std::size_t block_size = std::size_t{1} << 20);

}  // namespace forests
