#include "prediction_reader.hpp"

#include <algorithm>

#include "random.hpp"

namespace {

// The kind line of a prediction file: a response column is read like a skipped one. False at
// the first covariate column whose kind differs from the training covariate at its place, or
// when the covariate columns are not exactly the training ones.
bool read_prediction_kinds(TokenReader& in, const DataSet& training, std::vector<int>& col_kind) {
  std::string_view tok;
  if (!in.next(tok)) return false;
  int ncov = 0;
  for (bool first = true;; first = false) {
    if (!first && (!in.next(tok) || in.line_break_before())) break;
    int kind = kind_letter(tok);
    if (kind == 2) break;
    if (kind == kResponseColumn) kind = kSkipColumn;
    if (kind != kSkipColumn) {
      if (ncov >= training.ncov || training.ncat_orig[ncov] != kind) return false;
      ++ncov;
    }
    col_kind.push_back(kind);
  }
  return ncov == training.ncov;
}

}  // namespace

int map_category(const std::vector<int>& ori_catg, int ncat, int v, int missing_int) {
  const auto first = ori_catg.begin(), last = ori_catg.begin() + ncat;
  auto at = std::find(first, last, v);
  if (at == last) at = std::find(first, last, 999);
  if (at != last) return static_cast<int>(at - first);
  if (ori_catg[ncat - 1] == missing_int) return ncat - 1;
  return rand_scaled_draw(ncat);
}

bool read_prediction_file(TokenReader& in, const DataSet& training, PredictionData& p) {
  p = PredictionData{};
  std::vector<int> col_kind;
  if (!read_prediction_kinds(in, training, col_kind)) return false;
  const int ncols = static_cast<int>(col_kind.size());
  std::vector<int> cov_of_col(ncols, -1);
  for (int col = 0, j = 0; col < ncols; ++col)
    if (col_kind[col] != kSkipColumn) cov_of_col[col] = j++;

  in.rewind();
  if (!skip_tokens(in, 2 * static_cast<std::size_t>(ncols))) return false;
  const int missing_int = trunc_int(training.missing_code);
  p.X.assign(training.ncov, {});
  RowScan scan = scan_rows(in, ncols, [&](int, int col, std::string_view token) {
    const bool missing = is_missing_token(token, false);
    double value = training.missing_code;
    if (!missing && !parse_number(token, value)) return false;
    const int j = cov_of_col[col];
    if (j < 0) return true;
    if (col_kind[col] == kNominal) {
      const int v = missing ? missing_int : trunc_int(value);
      value = map_category(training.ori_catg[j], training.ncat[j], v, missing_int);
    }
    guarded_grow([&] { p.X[j].push_back(value); }, "allocation failure in realloc");
    return true;
  });
  if (scan.rejected || scan.unfinished) {
    p = PredictionData{};
    return false;
  }
  p.ncase = scan.rows;
  return true;
}
