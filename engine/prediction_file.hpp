// Files to classify: the check that their covariate columns line up with the training
// covariates, and the reading of their rows, shared by the programs' own readers.
#pragma once

#include <string_view>
#include <vector>

#include "data_set.hpp"
#include "tokens.hpp"

namespace forests {

// Matches the kind codes of a file to classify (`kinds`, as read_kind_letters gives them) to
// the kinds of the training covariates (`training_kinds`, 1 or 3 each): its covariate columns
// must be the training covariates in number, order and kind. A response column counts like a
// skipped one, so the response may be anywhere or left out. Fills `cov_of_col` with the training
// covariate of each column (-1 for the others); false when the columns do not line up.
bool match_prediction_columns(const std::vector<int>& kinds, const std::vector<int>& training_kinds,
                              std::vector<int>& cov_of_col);

// What came of reading a file to classify.
enum class PredictionRead {
  qualified,       // every row read
  no_token,        // the file holds no token at all
  columns_differ,  // its covariate columns are not the training ones
  head_cut_short,  // it ends before its name line does: no row
  row_rejected,    // a cell is no number, or a covariate cell that the program refuses
  row_unfinished,  // it ends inside a row
};

// Reads a file to classify: the kind line is matched to the training covariates, the name line
// skipped, then the rows are read. A cell of a skipped or response column must be missing
// ("NA", ".") or a number; covariate cells go to on_covariate(row, j, token), which returns
// false to refuse the file. `ncase` receives the number of complete rows.
template <class OnCovariate>
PredictionRead read_prediction_rows(TokenReader& in, const std::vector<int>& training_kinds,
                                    OnCovariate&& on_covariate, int& ncase) {
  ncase = 0;
  std::vector<int> kinds, cov_of_col;
  if (!read_kind_letters(in, kinds)) return PredictionRead::no_token;
  if (!match_prediction_columns(kinds, training_kinds, cov_of_col)) return PredictionRead::columns_differ;
  const int ncols = static_cast<int>(kinds.size());
  in.rewind();
  if (!skip_tokens(in, 2 * static_cast<std::size_t>(ncols))) return PredictionRead::head_cut_short;
  const RowScan scan = scan_rows(in, ncols, [&](int row, int col, std::string_view token) {
    const int j = cov_of_col[col];
    if (j >= 0) return on_covariate(row, j, token);
    double value = 0.0;
    return is_missing_token(token, false) || parse_number(token, value);
  });
  if (scan.rejected) return PredictionRead::row_rejected;
  if (scan.unfinished) return PredictionRead::row_unfinished;
  ncase = scan.rows;
  return PredictionRead::qualified;
}

}  // namespace forests
