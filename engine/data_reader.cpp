// The reader of mixed training files, and the pieces the genotype readers share.
#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numeric>

#include "cell_reading.hpp"
#include "column_tables.hpp"
#include "data_set.hpp"

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

void pack_codes(const ColumnBeingRead& c, const std::vector<int>& code_of_spelling, int bits, std::uint64_t* words);

// How the file spelled an ordinal column: its spellings (taken from the column), the only
// spelling of each code, and the spelling of every cell when some code has more than one.
CellText cell_text(ColumnBeingRead& c, const std::vector<int>& code_of_spelling, int ncode, int ncase) {
  CellText text;
  const int nsp = spelling_count(c);
  text.spelling = release_spellings(c);
  constexpr int kUnseen = -2;
  text.code_spelling.assign(ncode, kUnseen);
  bool varied = false;
  for (int k = 0; k < nsp; ++k) {
    int& s = text.code_spelling[code_of_spelling[k]];
    if (s == kUnseen) {
      s = k;
    } else if (s >= 0 && !text.spelling.same(s, k)) {
      s = -1;  // a spelling may have several numbers when the column no longer looked up
      varied = true;
    }
  }
  if (varied) {
    text.cell_spelling.assign(ncase, nsp);
    std::vector<int> itself(nsp);
    std::iota(itself.begin(), itself.end(), 0);
    pack_codes(c, itself, text.cell_spelling.bits, text.cell_spelling.words.data());
  }
  return text;
}

// Cells of one byte each: a table lookup per cell and whole words at a time.
template <int kBits>
void pack_byte_cells(const ColumnBeingRead& c, const std::vector<int>& code_of_spelling, std::uint64_t* words) {
  constexpr int kPerWord = 64 / kBits;
  const std::array<std::uint32_t, 256> spelling = c.spelling_of_byte();
  std::array<std::uint64_t, 256> code{};
  for (std::size_t k = 0; k < 256; ++k)
    if (spelling[k] < code_of_spelling.size()) code[k] = static_cast<std::uint32_t>(code_of_spelling[spelling[k]]);
  const std::uint8_t* b = c.cell_bytes();
  const std::size_t n = c.cell_count();
  std::size_t i = 0, w = 0;
  for (; i + kPerWord <= n; i += kPerWord) {
    std::uint64_t word = 0;
    for (int q = 0; q < kPerWord; ++q) word |= code[b[i + q]] << (q * kBits);
    words[w++] = word;
  }
  std::uint64_t word = 0;
  for (int q = 0; i < n; ++i, ++q) word |= code[b[i]] << (q * kBits);
  if (n % kPerWord != 0) words[w] = word;
}

// A column of slots in two-bit codes: the slots of two cells side by side make one byte, which
// a table turns into their two codes; 32 cells to a word.
void pack_slot_cells(const ColumnBeingRead& c, const std::vector<int>& code_of_spelling, std::uint64_t* words) {
  std::array<std::uint64_t, 16> code{};
  for (int slot = 0; slot < kShortSlots; ++slot)
    if (c.slot_spelling[slot] >= 0) code[slot] = static_cast<std::uint32_t>(code_of_spelling[c.slot_spelling[slot]]);
  std::array<std::uint64_t, 256> two{};
  for (int k = 0; k < 256; ++k) two[k] = code[k & 15] | code[k >> 4] << 2;
  const std::uint8_t* b = c.slots;
  const std::size_t n = c.nslots;
  std::size_t i = 0, w = 0;
  for (; i + 32 <= n; i += 32) {
    std::uint64_t word = 0;
    for (int q = 0; q < 4; ++q) {
      std::uint64_t x;
      std::memcpy(&x, b + i + 8 * q, sizeof x);
      const std::uint64_t pairs = x | (x >> 4);  // bytes 0, 2, 4, 6: a cell's slot and the next one's
      word |= (two[pairs & 0xff] | two[(pairs >> 16) & 0xff] << 4 | two[(pairs >> 32) & 0xff] << 8 |
               two[(pairs >> 48) & 0xff] << 12) << (16 * q);
    }
    words[w++] = word;
  }
  std::uint64_t word = 0;
  for (int q = 0; i < n; ++i, ++q) word |= code[b[i]] << (2 * q);
  if (n % 32 != 0) words[w] = word;
}

// A column of two-bit cells in two-bit codes: each cell's code turned into the code of its
// spelling.
void pack_two_bit_cells(const ColumnBeingRead& c, const std::vector<int>& code_of_spelling, std::uint64_t* words) {
  std::array<std::uint32_t, 4> code{};
  for (int k = 0; k < 4; ++k)
    if (c.code_spelling[k] >= 0) code[k] = static_cast<std::uint32_t>(code_of_spelling[c.code_spelling[k]]);
  recode_two_bit_cells(c.two_bit_words, c.nslots, code, words);
}

// Codes of whole bytes (8, 16 or 32 bits), stored a cell at a time: on a little-endian machine a
// cell's bytes lie in order within the words.
template <class Code>
void store_byte_codes(const ColumnBeingRead& c, const std::vector<int>& code_of_spelling, std::uint64_t* words) {
  auto* out = reinterpret_cast<unsigned char*>(words);
  c.for_each_spelling([&](std::size_t i, std::uint32_t k) {
    const auto code = static_cast<Code>(code_of_spelling[k]);
    std::memcpy(out + i * sizeof(Code), &code, sizeof(Code));
  });
}

// The cells' codes packed `bits` to a cell into `words`, a word at a time.
void pack_codes(const ColumnBeingRead& c, const std::vector<int>& code_of_spelling, int bits, std::uint64_t* words) {
  if (c.form == ColumnBeingRead::kScaled && std::endian::native == std::endian::little && bits > 2) {
    if (bits == 8) return store_byte_codes<std::uint8_t>(c, code_of_spelling, words);
    if (bits == 16) return store_byte_codes<std::uint16_t>(c, code_of_spelling, words);
    return store_byte_codes<std::uint32_t>(c, code_of_spelling, words);
  }
  if (c.form == ColumnBeingRead::kSlots && bits == 2) return pack_slot_cells(c, code_of_spelling, words);
  if (c.form == ColumnBeingRead::kTwoBits && bits == 2) return pack_two_bit_cells(c, code_of_spelling, words);
  if (c.one_byte_cells() && bits == 2) return pack_byte_cells<2>(c, code_of_spelling, words);
  if (c.one_byte_cells() && bits == 8) return pack_byte_cells<8>(c, code_of_spelling, words);
  const int per_word = 64 / bits;
  std::uint64_t word = 0;
  std::size_t w = 0;
  int filled = 0;
  c.for_each_spelling([&](std::size_t, std::uint32_t k) {
    word |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(code_of_spelling[k])) << (filled * bits);
    if (++filled == per_word) {
      words[w++] = word;
      word = 0;
      filled = 0;
    }
  });
  if (filled > 0) words[w] = word;
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

// Cells of a column whose spelling has code `code`.
long long cells_of_code(const ColumnBeingRead& c, const std::vector<int>& code_of_spelling, int code) {
  long long count = 0;
  c.for_each_spelling([&](std::size_t, std::uint32_t k) { count += code_of_spelling[k] == code ? 1 : 0; });
  return count;
}

// An ordinal column of scaled cells: its value table holds its ends only, and its values go
// straight from its keys to the store.
bool ends_only(const DataSet& d, int j, const ColumnBeingRead& c) {
  return c.form == ColumnBeingRead::kScaled && d.ncat_orig[j] == kOrdinal;
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
  } else if (ends_only(d, j, c)) {
    m.scale = c.scaled.scale;
    m.ncode = static_cast<int>(ordinal_scaled_size(c));
    if (!t.value.empty() && t.value.front() == d.missing_code) m.missing = 0;
  } else {
    m.ncode = static_cast<int>(t.value.size());
    s.values.insert(s.values.end(), t.value.begin(), t.value.end());
    if (!t.value.empty() && t.value.front() == d.missing_code) m.missing = 0;
  }
  m.bits = bits_for_codes(m.ncode);
  return m;
}

// Writes covariate j's codes into the store (and its text, when kept), gives an ordinal
// column's zero its sign, and frees its cells.
void code_column(DataSet& d, int j, ColumnBeingRead& c, const ValueTable& t, const std::vector<int>& rank,
                 const ReadOptions& options, std::vector<std::uint32_t>& room) {
  number_scaled_cells(c, room);
  const int nsp = spelling_count(c);
  std::vector<int> code_of_spelling(nsp);
  std::vector<int> ranks;
  const std::vector<int>& table_index = rank.empty() ? (ranks = scaled_ranks(c)) : rank;
  // An ordinal column's codes are its value table indexes.
  for (int k = 0; k < nsp; ++k) code_of_spelling[k] = d.ncat_orig[j] == kOrdinal ? table_index[k] : t.code[table_index[k]];
  const ColumnMeta& m = d.codes.meta[j];
  if (d.ncat_orig[j] == kOrdinal && !ends_only(d, j, c)) zero_as_sorted(c, table_index, d.codes.values.data() + m.value);
  // Before the codes: cells of two bits may be recoded where they lie.
  if (options.keep_spellings) d.text[j] = cell_text(c, code_of_spelling, m.ncode, d.ncase);
  pack_codes(c, code_of_spelling, m.bits, d.codes.words.data() + m.word);
  if (!t.count.empty())
    d.missing_cells[j] = missing_cells(d, j, t);
  else if (ends_only(d, j, c))
    d.missing_cells[j] = static_cast<long long>(c.scaled.missing[0] + c.scaled.missing[1] + c.scaled.missing[2]);
  else if (m.missing >= 0)
    d.missing_cells[j] = cells_of_code(c, code_of_spelling, m.missing);
  if (ends_only(d, j, c)) d.codes.keys[j] = release_ordinal_scaled_keys(c, table_index);
  c = ColumnBeingRead{};
}

// When every column is one of two-bit cells and keeps two-bit codes, the reader's store of such
// cells becomes the store of codes: each column moves down to its place (no further than it
// lies, each one of room at least as large as its place), to be recoded there.
bool adopt_two_bit_cells(DataSet& d, std::vector<ColumnBeingRead>& columns, RowsRead& r, std::size_t nwords) {
  CodedCovariates& s = d.codes;
  const std::size_t words = column_words(d.ncase, 2);
  if (r.two_bit_room < words || r.two_bit_cells.size() < nwords) return false;
  for (int j = 0; j < d.ncov; ++j)
    if (columns[j].form != ColumnBeingRead::kTwoBits || s.meta[j].bits != 2) return false;
  std::uint64_t* store = r.two_bit_cells.data();
  for (int j = 0; j < d.ncov; ++j) {
    std::memmove(store + s.meta[j].word, columns[j].two_bit_words, words * sizeof(std::uint64_t));
    columns[j].two_bit_words = store + s.meta[j].word;
  }
  s.words.swap(r.two_bit_cells);
  s.words.resize(nwords);
  return true;
}

// Every column's record, then its cells, into the store.
void code_columns(DataSet& d, std::vector<ColumnBeingRead>& columns, const std::vector<ValueTable>& tables,
                  const std::vector<std::vector<int>>& rank, const ReadOptions& options, RowsRead& r) {
  CodedCovariates& s = d.codes;
  s = CodedCovariates{};
  std::size_t nvalues = 0;  // at most: one per value of each table, one for each column of one category
  for (int j = 0; j < d.ncov; ++j)
    if (!ends_only(d, j, columns[j])) nvalues += tables[j].value.size() + 1;
  s.values.reserve(nvalues);
  s.keys.assign(d.ncov, {});
  s.missing_value = d.missing_code;
  std::size_t nwords = 0;
  for (int j = 0; j < d.ncov; ++j) {
    ColumnMeta m = column_meta(d, j, columns[j], tables[j]);
    m.word = nwords;
    nwords += column_words(d.ncase, m.bits);
    s.any_two_bit = s.any_two_bit || m.bits == 2;
    s.meta.push_back(m);
  }
  if (!adopt_two_bit_cells(d, columns, r, nwords)) s.words.assign(nwords, 0);
  d.missing_cells.assign(d.ncov, 0);
  if (options.keep_spellings) d.text.assign(d.ncov, {});
  std::vector<std::uint32_t> room;
  for (int j = 0; j < d.ncov; ++j) code_column(d, j, columns[j], tables[j], rank[j], options, room);
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
    guarded_grow([&] { scan = read_rows(in, CellRules{layout.col_kind, cov_of_col, options}, columns, r); },
                 "allocation failure in realloc");
    if (scan.unfinished) unfinished_row_error(scan);
  }
  d.ncase = scan.rows;
  code_classes(r.labels, d);
  set_missing_code(d, r);

  std::vector<ValueTable> tables(d.ncov);
  std::vector<std::vector<int>> rank(d.ncov);
  // An ordinal column of scaled cells needs no counts and, for the summary, its ends only; the
  // ranks of its spellings come when its cells are coded.
  for (int j = 0; j < d.ncov; ++j)
    tables[j] = ends_only(d, j, columns[j]) ? ordinal_scaled_ends(columns[j], d.missing_code)
                                            : value_table(columns[j], d.missing_code, rank[j]);
  const DataSummary summary = recode_nominal_covariates(d, tables);
  write_summary_head(report, d);
  write_covariate_summary(report, d, summary);

  guarded_grow([&] { code_columns(d, columns, tables, rank, options, r); }, "allocation failure in realloc");
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
