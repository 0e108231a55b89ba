// The training data reader shared by kestrel and wren, and the pieces plover's readers share.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "data_set.hpp"

int trunc_int(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT_MAX;
  if (v <= -2147483648.0) return INT_MIN;
  return static_cast<int>(v);
}

int kind_letter(std::string_view token) {
  if (token.size() != 1) return 2;
  switch (token[0]) {
    case 'o': case 'O': return kOrdinal;
    case 'n': case 'N': return kNominal;
    case 'd': case 'D': return kSkipColumn;
    case 'r': case 'R': return kResponseColumn;
    default: return 2;
  }
}

bool read_kind_letters(TokenReader& in, std::vector<int>& kinds) {
  std::string_view tok;
  kinds.clear();
  if (!in.next(tok)) return false;
  // The kind line is the first line: a token on a later line ends it like a name does.
  for (bool first = true;; first = false) {
    if (!first && (!in.next(tok) || in.line_break_before())) break;
    int kind = kind_letter(tok);
    if (kind == 2) break;
    kinds.push_back(kind);
  }
  return true;
}

ColumnLayout read_kind_line(TokenReader& in, const char* empty_message) {
  ColumnLayout layout;
  if (!read_kind_letters(in, layout.col_kind)) fail(empty_message);
  const auto responses = std::count(layout.col_kind.begin(), layout.col_kind.end(), kResponseColumn);
  if (responses > 1)
    fail("There are multiple responses, please make sure there is only one response column.\n");
  if (responses == 0) fail("There is no response.\n");
  for (int kind : layout.col_kind)
    if (kind > 0) ++layout.ncov;
  if (layout.col_kind.size() < 2 || layout.ncov == 0) fail("ERROR: No covariate!\n");
  return layout;
}

bool skip_tokens(TokenReader& in, std::size_t n) {
  std::string_view tok;
  for (std::size_t i = 0; i < n; ++i)
    if (!in.next(tok)) return false;
  return true;
}

bool is_missing_token(std::string_view token, bool nan_is_missing) {
  return token == "NA" || token == "." || (nan_is_missing && token == "NaN");
}

void unfinished_row_error(const RowScan& scan) {
  fail(format("Data file not complete error at line %d variable number %d value = %s !\n", scan.rows + 1,
              scan.unfinished_column, scan.last_token.c_str()));
}

bool parse_label(std::string_view token, int& label) {
  std::string text(token);
  char* stop = nullptr;
  long long v = std::strtoll(text.c_str(), &stop, 10);
  if (v > INT_MAX || v < INT_MIN) return false;
  label = static_cast<int>(v);
  return true;
}

void code_classes(const std::vector<int>& labels, DataSet& d) {
  std::vector<int> distinct = labels;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  if (distinct.size() < 2) fail("only one response.\n");
  d.nclass = static_cast<int>(distinct.size());
  d.class_label = distinct;
  d.y.resize(labels.size());
  for (std::size_t i = 0; i < labels.size(); ++i)
    d.y[i] = static_cast<int>(std::lower_bound(distinct.begin(), distinct.end(), labels[i]) - distinct.begin());
}

void invalid_data(int case_index, int column, std::string_view token) {
  fail(format("Invalid data at line %d variable number %d value = %s !\n", case_index + 1, column,
              std::string(token).c_str()));
}

int response_label(int case_index, int column, std::string_view token, bool missing) {
  if (missing) fail(format("label missing: %d\n", case_index));
  int label = 0;
  if (!parse_label(token, label)) invalid_data(case_index, column, token);
  return label;
}

std::vector<int> read_column_heads(TokenReader& in, const ColumnLayout& layout, DataSet& d, bool& have_names) {
  const int ncols = static_cast<int>(layout.col_kind.size());
  d.ncov = layout.ncov;
  std::vector<int> cov_of_col(ncols, -1);
  for (int j = 0; j < ncols; ++j) {
    if (layout.col_kind[j] > 0) {
      cov_of_col[j] = static_cast<int>(d.ncat.size());
      d.ncat.push_back(layout.col_kind[j]);
    }
  }
  d.ncat_orig = d.ncat;

  in.rewind();
  skip_tokens(in, ncols);
  std::string_view tok;
  have_names = true;
  for (int j = 0; j < ncols && have_names; ++j) {
    have_names = in.next(tok);
    if (have_names && cov_of_col[j] >= 0) d.name.emplace_back(tok);
  }
  return cov_of_col;
}

namespace {

bool fits_int(double v) { return v > -2147483649.0 && v < 2147483648.0; }

}  // namespace

void read_data_file(TokenReader& in, OutFile& report, const ReadOptions& options, DataSet& d) {
  ColumnLayout layout = read_kind_line(in, "No data in the file");
  const int ncols = static_cast<int>(layout.col_kind.size());
  bool have_names = true;
  const std::vector<int> cov_of_col = read_column_heads(in, layout, d, have_names);

  d.X.assign(d.ncov, {});
  if (options.keep_text) d.X_char.assign(d.ncov, {});
  std::vector<int> labels;
  std::vector<std::pair<int, int>> missing_cells;  // (covariate, case)
  double smallest = 0.0;

  RowScan scan;
  if (have_names) {
    scan = scan_rows(in, ncols, [&](int row, int col, std::string_view token) {
      const int kind = layout.col_kind[col];
      const bool missing = is_missing_token(token, options.nan_is_missing);
      double value = 0.0;
      if (!missing && !parse_number(token, value)) invalid_data(row, col, token);
      guarded_grow(
          [&] {
            if (kind > 0) {
              const int j = cov_of_col[col];
              if (missing) {
                d.X[j].push_back(-9.0);
                missing_cells.emplace_back(j, row);
              } else {
                if (kind == kNominal && !fits_int(value)) invalid_data(row, col, token);
                smallest = std::min(smallest, value);
                d.X[j].push_back(value);
              }
              if (options.keep_text) d.X_char[j].emplace_back(token);
            } else if (kind == kResponseColumn) {
              const int label = response_label(row, col, token, missing);
              smallest = std::min(smallest, static_cast<double>(label));
              labels.push_back(label);
            }
          },
          "allocation failure in realloc");
      return true;
    });
    if (scan.unfinished) unfinished_row_error(scan);
  }
  d.ncase = scan.rows;
  code_classes(labels, d);

  // The missing code lies below every value and label, also when no cell is missing, so that
  // no real value is ever taken for a missing one.
  d.has_missing = !missing_cells.empty();
  d.missing_code = -9.0;
  if (smallest <= -9.0) {
    if (d.has_missing) std::fputs("Missing temp value > valid data case!!! \n", stdout);
    d.missing_code = std::floor(smallest) - 1.0;
    for (auto [j, i] : missing_cells) d.X[j][i] = d.missing_code;
  }

  const DataSummary summary = recode_nominal_covariates(d);
  write_summary_head(report, d);
  write_covariate_summary(report, d, summary);
}

bool within_missing_share(long long count, int ncase, double max_missing) {
  if (!(max_missing >= 0.0)) return false;
  return static_cast<double>(count) <= std::trunc(static_cast<double>(ncase) * max_missing);
}

std::vector<int> screen_missing(const DataSet& d, double max_missing, int& nusable) {
  std::vector<int> var_usable = ivector(d.ncov);
  const int missing_int = trunc_int(d.missing_code);
  nusable = 0;
  for (int j = 0; j < d.ncov; ++j) {
    long long count = 0;
    const auto& col = d.X[j];
    if (d.ncat_orig[j] == kOrdinal) {
      for (double v : col) count += v == d.missing_code;
    } else {
      const auto& codes = d.ori_catg[j];
      for (double v : col) count += codes[static_cast<std::size_t>(v)] == missing_int;
    }
    var_usable[j] = within_missing_share(count, d.ncase, max_missing) ? 1 : 0;
    nusable += var_usable[j];
  }
  return var_usable;
}
