// The reader of mixed training files, and the pieces the genotype readers share.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "data_set.hpp"
#include "row_blocks.hpp"
#include "spellings.hpp"

namespace forests {

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

// A covariate column while the file is read: its spellings with their values (NaN for a missing
// one) and the spelling of every cell.
struct ColumnBeingRead {
  SpellingTable spellings;
  std::vector<double> value;
  SpellingCells cells;
};

// What the reader learns of the data rows beyond the columns.
struct RowsRead {
  std::vector<int> labels;
  double smallest = 0.0;  // of all values and labels, and 0
  bool has_missing = false;
};

// Enters a spelling first met in row `row`, column `col`: missing, or a number (a nominal one
// must fit an int).
int add_spelling(ColumnBeingRead& c, std::string_view token, int row, int col, int kind, const ReadOptions& options,
                 RowsRead& r) {
  double value = std::numeric_limits<double>::quiet_NaN();
  if (is_missing_token(token, options.nan_token_is_missing)) {
    r.has_missing = true;
  } else {
    if (!parse_number(token, value) || (kind == kNominal && !fits_int(value))) invalid_data(row, col, token);
    r.smallest = std::min(r.smallest, value);
  }
  c.value.push_back(value);
  const int k = c.spellings.add(token);
  // Nearly every cell spelled differently so far: no more looking up.
  if (k >= 256 && 2 * static_cast<std::size_t>(k) > c.cells.size()) c.spellings.stop_finding();
  return k;
}

RowScan read_rows(TokenReader& in, const ColumnLayout& layout, const std::vector<int>& cov_of_col,
                  const ReadOptions& options, std::vector<ColumnBeingRead>& columns, RowsRead& r) {
  const int ncols = static_cast<int>(layout.col_kind.size());
  // The spelling numbers of one-digit cells, the most common ones, in one small table (-1: not
  // seen yet): a genotype cell then touches little more than its column's cells.
  std::vector<int> digit_spelling(columns.size() * 10, -1);
  auto on_cell = [&](int row, int col, std::string_view token) {
    const int kind = layout.col_kind[col];
    guarded_grow(
        [&] {
          if (kind > 0) {
            const int j = cov_of_col[col];
            ColumnBeingRead& c = columns[j];
            const unsigned digit = static_cast<unsigned>(token[0] - '0');
            int k;
            if (token.size() == 1 && digit < 10) {
              int& known = digit_spelling[static_cast<std::size_t>(j) * 10 + digit];
              if (known < 0) known = add_spelling(c, token, row, col, kind, options, r);
              k = known;
            } else {
              k = c.spellings.find(token);  // -1 also when the column no longer finds
              if (k < 0) k = add_spelling(c, token, row, col, kind, options, r);
            }
            c.cells.push(static_cast<std::uint32_t>(k));
            return;
          }
          const bool missing = is_missing_token(token, options.nan_token_is_missing);
          double value = 0.0;
          if (!missing && !parse_number(token, value)) invalid_data(row, col, token);
          if (kind == kResponseColumn) {
            const int label = response_label(row, col, token, missing);
            r.smallest = std::min(r.smallest, static_cast<double>(label));
            r.labels.push_back(label);
          }
        },
        "allocation failure in realloc");
    return true;
  };
  return scan_rows_side_by_side(in, ncols, nullptr, [](int) {}, on_cell);
}

// The value table of a column read: equal values spelled differently are one value, which
// takes the first spelling's value (-0 and 0 are equal). `rank` gets the table index of each
// spelling.
ValueTable value_table(const ColumnBeingRead& c, double missing_code, std::vector<int>& rank) {
  const int nsp = c.spellings.size();
  std::vector<long long> spelling_count(nsp, 0);
  c.cells.for_each([&](std::size_t, std::uint32_t k) { ++spelling_count[k]; });
  std::vector<std::pair<double, int>> order;  // (value, spelling): equal values in spelling order
  bool missing = false;
  for (int k = 0; k < nsp; ++k) {
    if (std::isnan(c.value[k]))
      missing = true;
    else
      order.emplace_back(c.value[k], k);
  }
  std::sort(order.begin(), order.end());
  ValueTable t;
  rank.assign(nsp, 0);
  if (missing) {
    t.value.push_back(missing_code);
    t.count.push_back(0);
  }
  for (std::size_t q = 0; q < order.size(); ++q) {
    if (q == 0 || order[q].first != order[q - 1].first) {
      t.value.push_back(c.value[order[q].second]);
      t.count.push_back(0);
    }
    rank[order[q].second] = static_cast<int>(t.value.size()) - 1;
  }
  for (int k = 0; k < nsp; ++k) {
    if (std::isnan(c.value[k])) rank[k] = 0;
    t.count[rank[k]] += spelling_count[k];
  }
  return t;
}

// How the file spelled an ordinal column: its spellings, the only spelling of each code, and
// the spelling of every cell when some code has more than one.
CellText cell_text(const ColumnBeingRead& c, const std::vector<int>& code_of_spelling, int ncode, int ncase) {
  CellText text;
  const int nsp = c.spellings.size();
  for (int k = 0; k < nsp; ++k) text.spelling.emplace_back(c.spellings.spelling(k));
  constexpr int kUnseen = -2;
  text.code_spelling.assign(ncode, kUnseen);
  bool varied = false;
  for (int k = 0; k < nsp; ++k) {
    int& s = text.code_spelling[code_of_spelling[k]];
    if (s == kUnseen) {
      s = k;
    } else if (s >= 0 && text.spelling[s] != text.spelling[k]) {
      s = -1;  // a spelling may have several numbers when the column no longer looked up
      varied = true;
    }
  }
  if (varied) {
    text.cell_spelling.assign(ncase, nsp);
    c.cells.for_each([&](std::size_t i, std::uint32_t k) { text.cell_spelling.set(static_cast<int>(i), k); });
  }
  return text;
}

// The cells' codes packed `bits` to a cell into `words`, a word at a time.
void pack_codes(const SpellingCells& spelled, const std::vector<int>& code_of_spelling, int bits,
                std::uint64_t* words) {
  const int per_word = 64 / bits;
  std::uint64_t word = 0;
  std::size_t w = 0;
  int filled = 0;
  spelled.for_each([&](std::size_t, std::uint32_t k) {
    word |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(code_of_spelling[k])) << (filled * bits);
    if (++filled == per_word) {
      words[w++] = word;
      word = 0;
      filled = 0;
    }
  });
  if (filled > 0) words[w] = word;
}

// When a column spells zero both with and without a minus sign, its value table keeps the zero
// that sorting the whole column and dropping repeats keeps, so that a cut-off at zero is
// written with the same sign as ever.
void zero_as_sorted(const ColumnBeingRead& c, double missing_code, double* value, std::size_t nvalue) {
  bool plus = false, minus = false;
  for (double v : c.value) {
    if (v != 0.0) continue;
    (std::signbit(v) ? minus : plus) = true;
  }
  if (!plus || !minus) return;
  std::vector<double> x(c.cells.size());
  c.cells.for_each([&](std::size_t i, std::uint32_t k) { x[i] = std::isnan(c.value[k]) ? missing_code : c.value[k]; });
  std::sort(x.begin(), x.end());
  x.erase(std::unique(x.begin(), x.end()), x.end());
  const double zero = *std::lower_bound(x.begin(), x.end(), 0.0);
  *std::lower_bound(value, value + nvalue, 0.0) = zero;
}

// Cells of covariate j that are missing: ordinal cells of the missing code, nominal cells of a
// category whose data-file code is the missing code.
long long missing_cells(const DataSet& d, int j, const ValueTable& t) {
  const int missing_int = trunc_int(d.missing_code);
  long long count = 0;
  for (std::size_t r = 0; r < t.value.size(); ++r) {
    const bool missing =
        d.ncat_orig[j] == kOrdinal ? t.value[r] == d.missing_code : d.ori_catg[j][t.code[r]] == missing_int;
    if (missing) count += t.count[r];
  }
  return count;
}

// Covariate j's record in the store: its codes, and its value table appended to the store's.
ColumnMeta column_meta(DataSet& d, int j, const ColumnBeingRead& c, const ValueTable& t) {
  CodedCovariates& s = d.codes;
  ColumnMeta m;
  m.value = s.values.size();
  m.nominal = d.ncat[j] > 1 ? 1 : 0;
  if (m.nominal) {
    m.ncode = d.ncat[j];
    const int missing_int = trunc_int(d.missing_code);
    for (int k = 0; k < d.ncat[j]; ++k)
      if (d.ori_catg[j][k] == missing_int) m.missing = k;
  } else if (d.ncat_orig[j] == kNominal) {
    m.ncode = 1;  // one category: a column that never splits
    s.values.push_back(0.0);
  } else {
    m.ncode = static_cast<int>(t.value.size());
    s.values.insert(s.values.end(), t.value.begin(), t.value.end());
    zero_as_sorted(c, d.missing_code, s.values.data() + m.value, t.value.size());
    if (!t.value.empty() && t.value.front() == d.missing_code) m.missing = 0;
  }
  m.bits = bits_for_codes(m.ncode);
  return m;
}

// Writes covariate j's codes into the store (and its text, when kept) and frees its cells.
void code_column(DataSet& d, int j, ColumnBeingRead& c, const ValueTable& t, const std::vector<int>& rank,
                 const ReadOptions& options) {
  const int nsp = c.spellings.size();
  std::vector<int> code_of_spelling(nsp);
  for (int k = 0; k < nsp; ++k) code_of_spelling[k] = t.code[rank[k]];
  const ColumnMeta& m = d.codes.meta[j];
  pack_codes(c.cells, code_of_spelling, m.bits, d.codes.words.data() + m.word);
  d.missing_cells[j] = missing_cells(d, j, t);
  if (options.keep_spellings) d.text[j] = cell_text(c, code_of_spelling, m.ncode, d.ncase);
  c = ColumnBeingRead{};
}

// Every column's record, then its cells, into the store.
void code_columns(DataSet& d, std::vector<ColumnBeingRead>& columns, const std::vector<ValueTable>& tables,
                  const std::vector<std::vector<int>>& rank, const ReadOptions& options) {
  CodedCovariates& s = d.codes;
  s = CodedCovariates{};
  std::size_t nwords = 0;
  for (int j = 0; j < d.ncov; ++j) {
    ColumnMeta m = column_meta(d, j, columns[j], tables[j]);
    m.word = nwords;
    nwords += column_words(d.ncase, m.bits);
    s.any_two_bit = s.any_two_bit || m.bits == 2;
    s.meta.push_back(m);
  }
  s.words.assign(nwords, 0);
  d.missing_cells.assign(d.ncov, 0);
  if (options.keep_spellings) d.text.assign(d.ncov, {});
  for (int j = 0; j < d.ncov; ++j) code_column(d, j, columns[j], tables[j], rank[j], options);
}

// The missing code lies below every value and label, also when no cell is missing, so that no
// real value is ever taken for a missing one.
void set_missing_code(DataSet& d, const RowsRead& r) {
  d.has_missing = r.has_missing;
  d.missing_code = -9.0;
  if (r.smallest <= -9.0) {
    if (d.has_missing) std::fputs("Missing temp value > valid data case!!! \n", stdout);
    d.missing_code = std::floor(r.smallest) - 1.0;
  }
}

}  // namespace

void read_data_file(TokenReader& in, OutFile& report, const ReadOptions& options, DataSet& d) {
  ColumnLayout layout = read_kind_line(in, "No data in the file");
  bool have_names = true;
  const std::vector<int> cov_of_col = read_column_heads(in, layout, d, have_names);

  std::vector<ColumnBeingRead> columns(d.ncov);
  RowsRead r;
  RowScan scan;
  if (have_names) {
    scan = read_rows(in, layout, cov_of_col, options, columns, r);
    if (scan.unfinished) unfinished_row_error(scan);
  }
  d.ncase = scan.rows;
  code_classes(r.labels, d);
  set_missing_code(d, r);

  std::vector<ValueTable> tables(d.ncov);
  std::vector<std::vector<int>> rank(d.ncov);
  for (int j = 0; j < d.ncov; ++j) tables[j] = value_table(columns[j], d.missing_code, rank[j]);
  const DataSummary summary = recode_nominal_covariates(d, tables);
  write_summary_head(report, d);
  write_covariate_summary(report, d, summary);

  guarded_grow([&] { code_columns(d, columns, tables, rank, options); }, "allocation failure in realloc");
}

double cell_value(const DataSet& d, int j, int i) {
  const int code = d.codes.column(j)(i);
  return d.codes.nominal(j) ? code : d.codes.cut_value(j, code);
}

bool within_missing_share(long long count, int ncase, double max_missing) {
  if (!(max_missing >= 0.0)) return false;
  return static_cast<double>(count) <= std::trunc(static_cast<double>(ncase) * max_missing);
}

std::vector<int> screen_missing(const DataSet& d, double max_missing, int& nusable) {
  std::vector<int> var_usable = ivector(d.ncov);
  nusable = 0;
  for (int j = 0; j < d.ncov; ++j) {
    var_usable[j] = within_missing_share(d.missing_cells[j], d.ncase, max_missing) ? 1 : 0;
    nusable += var_usable[j];
  }
  return var_usable;
}

}  // namespace forests
