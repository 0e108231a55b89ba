// The cut-off of an ordinal split as the data file spelled it.
//
// The cut-off is the value at the winning position of the node's values sorted by a pairwise
// exchange sort, and a value may be spelled in several ways ("0.5", "0.50"). When all cells of
// the cut value spell it alike any order gives the same text; otherwise the text is that of the
// case the exchange sort leaves at the winning position.
#pragma once

#include <string>
#include <vector>

#include "coded_covariates.hpp"
#include "data_set.hpp"

namespace forests {

// Per ordinal covariate and value code: the number of the one spelling of the value's cells
// (in DataSet::text), or -1 when the file spells that value in more than one way.
std::vector<std::vector<int>> uniform_spellings(const DataSet& d, const CodedCovariates& store);

// The exchange sort over values given by codes[k] (the node's cases in data-row order): for
// each position i from the first, every later position holding a smaller value is swapped with
// it. Returns the index k of the case it leaves at the last position of the run of value `cut`.
int exchange_sort_last_of_run(const std::vector<int>& codes, int cut);

// The text of the cut-off of covariate v at a node with cases rows[0..n-1] (ascending).
std::string cut_off_text(const DataSet& d, const CodedCovariates& store, const std::vector<std::vector<int>>& spelling,
                         int v, int cut_code, const int* rows, int n);

}  // namespace forests
