// The cell reader's tiles, short-cell rows, value tables and kept zero against their plain forms
// on random files and columns.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "cell_reading_reference.hpp"
#include "read_text.hpp"
#include "row_blocks.hpp"

using namespace forests;

namespace {

std::string bits_of(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return std::to_string(u);
}

// All a read leaves behind, as text; or its error. Columns are told by what they mean, not by
// how they number their spellings: each cell's value (and text, when spellings are kept), the
// column's value table and its kept zero.
std::string read_dump(const std::string& text, const CellRules& rules, bool fast, std::size_t block_size) {
  std::vector<ColumnBeingRead> columns(std::count_if(rules.col_kind.begin(), rules.col_kind.end(), [](int k) {
    return k > 0;
  }));
  RowsRead r;
  RowScan scan;
  std::string error;
  read_through(
      text,
      [&](TokenReader& in, OutFile&) {
        std::string_view head;
        in.next(head);
        scan = fast ? read_rows(in, rules, columns, r, block_size) : read_rows_reference(in, rules, columns, r);
      },
      error);
  if (!error.empty()) return error;
  std::string d = format("rows %d unfinished %d at %d last '%s' smallest %s missing %d\nlabels", scan.rows,
                         scan.unfinished, scan.unfinished_column, scan.last_token.c_str(), bits_of(r.smallest).c_str(),
                         r.has_missing);
  for (int label : r.labels) d += format(" %d", label);
  for (const ColumnBeingRead& c : columns) {
    d += "\ncells:";
    ColumnBeingRead copy = c;
    const SpellingList text = release_spellings(copy);
    c.for_each_spelling([&](std::size_t, std::uint32_t k) {
      d += ' ';
      d += bits_of(spelling_value(c, static_cast<int>(k)));
      if (rules.options.keep_spellings) d.append("=").append(text[static_cast<int>(k)]);
    });
    std::vector<int> rank;
    const ValueTable t = value_table(c, -1e6, rank);
    std::vector<double> kept = t.value;
    zero_as_sorted(c, rank, kept.data());
    if (c.form == ColumnBeingRead::kScaled) {
      // The ordinal form: the table without counts, the kept zero without ranks given.
      std::vector<double> lean = ordinal_scaled_table(c, -1e6).value;
      // Its size and its ends, for the summary, found without the table.
      std::vector<double> ends;
      if (!lean.empty()) ends.push_back(lean.front());
      if (lean.size() > 1 && lean.front() == -1e6) ends.push_back(lean[1]);
      if (lean.size() > ends.size()) ends.push_back(lean.back());
      const std::vector<double> found_ends = ordinal_scaled_ends(c, -1e6).value;
      if (ordinal_scaled_size(c) != lean.size() || found_ends.size() != ends.size() ||
          !std::equal(ends.begin(), ends.end(), found_ends.begin(), [](double a, double b) { return bits_of(a) == bits_of(b); }))
        d += "\nordinal table's size or ends differ";
      zero_as_sorted(c, {}, lean.data());
      if (lean.size() != kept.size() || !std::equal(lean.begin(), lean.end(), kept.begin(), [](double a, double b) {
            return bits_of(a) == bits_of(b);
          }))
        d += "\nordinal table differs";
      // The keys the store keeps instead: the same values, the kept zero's sign among them.
      ColumnBeingRead taken = c;
      const std::vector<std::int32_t> keys = release_ordinal_scaled_keys(taken, {});
      if (keys.size() != lean.size() || !std::equal(keys.begin(), keys.end(), lean.begin(), [&](std::int32_t k, double v) {
            return bits_of(k <= kMissingNan ? -1e6 : scaled_value(k, c.scaled.scale)) == bits_of(v);
          }))
        d += "\nordinal keys differ";
    }
    d += "\ntable:";
    for (std::size_t q = 0; q < t.value.size(); ++q) d += format(" %s*%lld", bits_of(kept[q]).c_str(), t.count[q]);
  }
  return d;
}

// Decimals printed with a column's own number of places (and now and then one more or one
// less), both zeros among them, over a narrow or a wide range; late in a column, now and then
// a number of another form.
std::string printed_decimal(std::mt19937& gen, int places, bool wide, int row) {
  if (row > 100 && gen() % 500 == 0) {
    static const char* const kOther[] = {"1e-3", "+2", "2.", "007", "1234567890", "0x1p3"};
    return kOther[gen() % 6];
  }
  if (gen() % 30 == 0) places += gen() % 2 ? 1 : -1;
  places = std::clamp(places, 0, 9);
  const double range = wide ? 1e6 : 3.0;
  const double v = (static_cast<double>(gen() % 2000001) / 1e6 - 1.0) * range;
  return format("%.*f", places, gen() % 25 == 0 ? (gen() % 2 ? -0.0 : 0.0) : v);
}

// A cell of a column read in one of nine manners: genotypes, decimals of one to two places
// (with both zeros), small integers, anything short, a missing cell then a new decimal in
// every row (so that the column stops looking spellings up) then short cells, numbers spelled
// in odd ways, or printed decimals of one to three places; now and then no number at all.
std::string random_cell(std::mt19937& gen, int manner, int kind, int row, bool errors) {
  if (errors && gen() % 400 == 0) {
    static const char* const kBad[] = {"x", "abc", "1e999", "inf", "-", "99999999999", "1.2.3", "NaN"};
    return kBad[gen() % 8];
  }
  if (manner == 4) {
    if (row == 0) return "NA";
    if (row < 255) return format("%d.5", row);
    return row % 3 ? std::to_string(gen() % 3) : "NA";
  }
  if (gen() % 60 == 0) return gen() % 2 ? "NA" : ".";
  switch (manner) {
    case 0: return std::to_string(gen() % 3);
    case 1: {
      if (gen() % 20 == 0) return gen() % 2 ? "-0.00" : "0.0";
      const int v = static_cast<int>(gen() % 4000) - 2000;
      std::string cell = v < 0 ? "-" : "";
      cell += std::to_string(std::abs(v) / 100);
      cell += '.';
      cell += std::to_string(std::abs(v) % 100);
      return cell;
    }
    case 2: return std::to_string(static_cast<int>(gen() % 30) - (kind == kNominal ? 0 : 5));
    case 3: {
      static const char* const kShort[] = {"0", "1", "7", "9", "NA", ".", "NaN", "-0", "12", "+3"};
      return kShort[gen() % 10];
    }
    case 5: {
      static const char* const kOdd[] = {"1.0", "1", "-0", "0", "-0.0", "0.00", "+1", "1e3", "1E-2", "-2.5e1",
                                         "0.12345678901234567", "123456789.5", "00.5", ".5", "5.", "-.5", "2.50",
                                         "2.5", "1073741816", "1073741823", "-3", "NaN", "0.000000000000001"};
      return kOdd[gen() % 23];
    }
    default: return printed_decimal(gen, manner - 5, manner == 7, row);
  }
}

struct RandomFile {
  std::string text;
  CellRules rules;
};

// One more file column of this kind; a covariate column takes the next covariate number.
void add_column(CellRules& rules, int kind, int& ncov) {
  rules.col_kind.push_back(kind);
  rules.cov_of_col.push_back(kind > 0 ? ncov++ : -1);
}

RandomFile random_file(std::mt19937& gen) {
  RandomFile f;
  const int ncols = 1 + static_cast<int>(gen() % 8);
  const int response = static_cast<int>(gen() % ncols);
  std::vector<int> manner(ncols);
  int ncov = 0;
  for (int col = 0; col < ncols; ++col) {
    const int pick = static_cast<int>(gen() % 10);
    const int kind = col == response ? kResponseColumn : pick < 5 ? kOrdinal : pick < 8 ? kNominal : kSkipColumn;
    add_column(f.rules, kind, ncov);
    const int style = static_cast<int>(gen() % 3);
    manner[col] = style == 0 ? 0 : style == 1 ? static_cast<int>(gen() % 9) : 6 + static_cast<int>(gen() % 3);
  }
  f.rules.options = {gen() % 2 == 0, gen() % 2 == 0};
  const bool messy = gen() % 3 == 0, errors = gen() % 3 == 0;
  static const char* const kSpaces[] = {" ", "  ", "\t", "\n", "\r\n", " \n "};
  const int nrows = static_cast<int>(gen() % 40 == 0 ? 1000 + gen() % 600 : gen() % (gen() % 4 == 0 ? 700 : 150));
  f.text = "head\n";
  for (int row = 0; row < nrows; ++row) {
    for (int col = 0; col < ncols; ++col) {
      const int kind = f.rules.col_kind[col];
      if (kind == kResponseColumn)
        f.text += errors && gen() % 300 == 0 ? "NA" : gen() % 50 == 0 ? "12" : std::to_string(gen() % 2);
      else
        f.text += random_cell(gen, manner[col], kind, row, errors);
      f.text += col + 1 == ncols ? (messy && gen() % 5 == 0 ? "\r\n" : "\n") : messy && gen() % 5 == 0 ? kSpaces[gen() % 6] : " ";
    }
  }
  if (gen() % 4 == 0) f.text += "1 ";  // a row left unfinished (or one more row of one column)
  if (gen() % 2 == 0) f.text.pop_back();  // no white space at the end
  return f;
}

// A wide file of genotype cells, each column with its own habits: "0", "1", "2" with "NA" or "."
// missing, other digits or longer tokens first met late in a column (after hundreds of rows,
// so that a column of short cells turns into one of spellings late), invalid cells late, and
// now and then rows cut by odd white space or CR LF. The first rows may be all "NA", so that
// rows turn out shorter than the first and more than expected.
RandomFile random_genotype_file(std::mt19937& gen) {
  RandomFile f;
  const int ncols = 2 + static_cast<int>(gen() % 40);
  const int response = gen() % 4 == 0 ? static_cast<int>(gen() % ncols) : ncols - 1;
  int ncov = 0;
  for (int col = 0; col < ncols; ++col) {
    const int pick = static_cast<int>(gen() % 10);
    const int kind = col == response ? kResponseColumn : pick < 6 ? kOrdinal : pick < 9 ? kNominal : kSkipColumn;
    add_column(f.rules, kind, ncov);
  }
  f.rules.options = {gen() % 2 == 0, gen() % 2 == 0};
  const int nrows = static_cast<int>(gen() % 20 == 0 ? 2000 + gen() % 600 : gen() % 3 == 0 ? 300 + gen() % 900 : gen() % 200);
  const int na_rows = gen() % 4 == 0 ? static_cast<int>(gen() % 30) : 0;
  const bool messy = gen() % 3 == 0;
  const int late = nrows > 0 ? static_cast<int>(gen() % nrows) : 0;  // where the surprises begin
  static const char* const kLate[] = {"5", "9", "3", "NaN", "12", "-0", "2.5", "+1", "007", "x", "1e999", "NA"};
  std::vector<int> habit(ncols);  // per column: 0 plain, 1 digits late, 2 long tokens late, 3 invalid late
  for (int col = 0; col < ncols; ++col) habit[col] = gen() % 3 == 0 ? static_cast<int>(gen() % 4) : 0;
  const char* missing = gen() % 2 ? "NA" : ".";
  f.text = "head\n";
  for (int row = 0; row < nrows; ++row) {
    for (int col = 0; col < ncols; ++col) {
      const int kind = f.rules.col_kind[col];
      std::string cell = std::to_string(gen() % 3);
      if (row < na_rows && kind != kResponseColumn) cell = "NA";
      if (gen() % 50 == 0) cell = gen() % 3 ? missing : gen() % 2 ? "NA" : ".";
      if (kind == kResponseColumn) cell = row >= late && gen() % 1000 == 0 ? missing : std::to_string(gen() % 2);
      if (row >= late && gen() % 40 == 0) {
        if (habit[col] == 1) cell = kLate[gen() % 3];
        if (habit[col] == 2) cell = kLate[3 + gen() % 6];
        if (habit[col] == 3 && gen() % 10 == 0) cell = kLate[9 + gen() % 3];
      }
      f.text += cell;
      static const char* const kSpaces[] = {"  ", "\t", "\n", "\r\n", " \n ", "\v"};
      f.text += col + 1 == ncols ? (messy && gen() % 5 == 0 ? "\r\n" : "\n") : messy && gen() % 20 == 0 ? kSpaces[gen() % 6] : " ";
    }
  }
  if (gen() % 5 == 0) f.text += "1 ";  // a row left unfinished
  if (gen() % 2 == 0 && !f.text.empty()) f.text.pop_back();
  return f;
}

// A file of cells "0", "1", "2" and one missing token, and labels of one digit, most rows of
// which are read two bits a cell: wide or narrow, with up to a few thousand rows (several tiles of them), the first rows
// now and then all missing. Now and then, at a random place, a cell that has no two-bit code
// (the other missing token, another digit, a longer token, an invalid one, a missing label) or
// other white space or a byte that joins two cells, so that a row, and a column, leave the
// two-bit path there (or not, for a single byte of white space).
RandomFile random_two_bit_file(std::mt19937& gen) {
  RandomFile f;
  const int ncols = 2 + static_cast<int>(gen() % (gen() % 3 == 0 ? 100 : 40));
  const int response = gen() % 3 == 0 ? static_cast<int>(gen() % ncols) : ncols - 1;
  int ncov = 0;
  for (int col = 0; col < ncols; ++col) {
    const int pick = static_cast<int>(gen() % 10);
    add_column(f.rules, col == response ? kResponseColumn : pick < 6 ? kOrdinal : pick < 9 ? kNominal : kSkipColumn, ncov);
  }
  f.rules.options = {gen() % 2 == 0, gen() % 2 == 0};
  const int nrows = static_cast<int>(gen() % 10 == 0 ? 1500 + gen() % 1500 : gen() % 600);
  const int na_rows = gen() % 5 == 0 ? static_cast<int>(gen() % 40) : 0;
  const bool dot = gen() % 3 == 0;
  const char* missing = dot ? "." : "NA";
  const char* other_missing = dot ? "NA" : ".";
  const unsigned surprise = 1 + gen() % (gen() % 2 ? 200 : 20000);  // one cell in so many
  const unsigned labels = gen() % 2 ? 2 : 2 + gen() % 9;
  static const char* const kOther[] = {"3", "9", "12", "1.0", "NaN", "-0", "+1", "x"};
  f.text = "head\n";
  for (int row = 0; row < nrows; ++row) {
    for (int col = 0; col < ncols; ++col) {
      const bool is_response = col == response;
      std::string cell = std::to_string(gen() % (is_response ? labels : 3));
      if (!is_response && (row < na_rows || gen() % 40 == 0)) cell = missing;
      if (gen() % surprise == 0) {
        const int pick = static_cast<int>(gen() % 10);
        cell = pick < 3 ? other_missing : pick < 9 ? kOther[gen() % (f.rules.options.keep_spellings ? 8 : 7)] : missing;
      }
      f.text += cell;
      // White space of other kinds, and bytes next to it that are none and join two cells.
      static const char* const kOddSpaces[] = {"\t\t", "\t", "\v", "\f", "\r", " \n", "\x0e", "\x08", "\x1f", "!"};
      f.text += col + 1 == ncols ? (gen() % surprise == 0 ? "\r\n" : "\n") : gen() % surprise == 0 ? kOddSpaces[gen() % 10] : " ";
    }
  }
  if (gen() % 5 == 0) f.text += "1 ";  // a row left unfinished
  if (gen() % 2 == 0 && !f.text.empty()) f.text.pop_back();
  return f;
}

ColumnBeingRead random_column(std::mt19937& gen, int nsp, int ncell) {
  static const double kValues[] = {0.0, -0.0, 1.5, -2.0, 3.25, -1e-300, 1e300, 7.0};
  ColumnBeingRead c;
  for (int k = 0; k < nsp; ++k) {
    c.spellings.add(format("s%d", k));
    const int pick = static_cast<int>(gen() % 10);
    const double near_one = 1.0 + static_cast<double>(gen() % 100000) * 1e-13;  // differing in the low bytes
    c.value.push_back(pick == 0   ? std::nan("")
                      : pick < 4  ? kValues[gen() % 8]
                      : pick < 7  ? (gen() % 2 ? near_one : -near_one)
                                  : static_cast<double>(gen() % 5000) / 7 - 300);
  }
  for (int i = 0; i < ncell; ++i) c.cells.push(static_cast<std::uint32_t>(i < nsp ? i : gen() % nsp));
  std::shuffle(c.value.begin(), c.value.end(), gen);
  return c;
}

// The file read in blocks of 4 MB and of two random sizes, a few bytes and up to max_block,
// against the token-by-token reference.
::testing::AssertionResult reads_as_token_by_token(const RandomFile& f, std::mt19937& gen, unsigned max_block) {
  const std::string expected = read_dump(f.text, f.rules, false, 0);
  for (std::size_t block_size : {std::size_t{1} << 22, std::size_t{1} + gen() % 64, std::size_t{1} + gen() % max_block}) {
    const std::string got = read_dump(f.text, f.rules, true, block_size);
    if (got != expected)
      return ::testing::AssertionFailure() << "blocks of " << block_size << ":\n" << got << "\nexpected:\n"
                                           << expected << "\nfile:\n" << f.text;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST(CellReading, RandomFilesReadAsTokenByToken) {
  // Genotype rows that take the short path, rows that fall back to tokens, new digits late in a
  // column, columns past 255 spellings and past looking up, both zeros, errors anywhere, rows
  // broken across lines, unfinished last rows; blocks of every size from a few bytes. Columns
  // of decimals kept as scaled whole numbers: more or fewer places than the column's, numbers
  // too large for them, odd spellings and other forms late in a column, values spread too
  // widely to count by slots, few values over many rows; with spellings kept or not.
  std::mt19937 gen(23);
  for (int trial = 0; trial < 300; ++trial) ASSERT_TRUE(reads_as_token_by_token(random_file(gen), gen, 4096)) << trial;
}

TEST(CellReading, ColumnsOfFewDecimalsReadAsTokenByToken) {
  // Few values each, often both zeros as the smallest or the largest value, or the only one:
  // the ends of an ordinal column's table and its kept zero.
  std::mt19937 gen(41);
  static const char* const kCells[] = {"-0.00", "0.00", "-1.25", "2.50", "NA", ".", "-0.5", "1.75"};
  for (int trial = 0; trial < 80; ++trial) {
    RandomFile f;
    int ncov = 0;
    const int ncols = 1 + static_cast<int>(gen() % 4);
    for (int col = 0; col < ncols; ++col) add_column(f.rules, gen() % 4 ? kOrdinal : kNominal, ncov);
    add_column(f.rules, kResponseColumn, ncov);
    f.rules.options = {true, gen() % 2 == 0};
    std::vector<unsigned> allowed(ncols);  // a bit per cell each column may hold
    for (unsigned& a : allowed) a = 1 + gen() % 255;
    f.text = "head\n";
    const int nrows = 1 + static_cast<int>(gen() % 30);
    for (int row = 0; row < nrows; ++row) {
      for (int col = 0; col < ncols; ++col) {
        unsigned pick;
        do pick = gen() % 8; while (!((allowed[col] >> pick) & 1));
        f.text += kCells[pick];
        f.text += ' ';
      }
      f.text += std::to_string(gen() % 2) + "\n";
    }
    ASSERT_TRUE(reads_as_token_by_token(f, gen, 64)) << trial;
  }
}

TEST(CellReading, DecimalColumnsPastTheRowsExpectedReadAsTokenByToken) {
  // A first row spread wide by white space makes few rows expected: the columns of decimals
  // outgrow their share of the store of keys, at any point of a tile, and read on.
  std::mt19937 gen(61);
  for (int trial = 0; trial < 40; ++trial) {
    RandomFile f;
    int ncov = 0;
    const int ncols = 1 + static_cast<int>(gen() % 12);
    for (int col = 0; col < ncols; ++col) add_column(f.rules, gen() % 5 ? kOrdinal : kNominal, ncov);
    add_column(f.rules, kResponseColumn, ncov);
    f.rules.options = {gen() % 2 == 0, gen() % 2 == 0};
    f.text = "head\n";
    const int nrows = 100 + static_cast<int>(gen() % 400);
    for (int row = 0; row < nrows; ++row) {
      for (int col = 0; col < ncols; ++col) {
        f.text += format("%d.%02d", static_cast<int>(gen() % 2000) - 1000, static_cast<int>(gen() % 100));
        f.text += row == 0 ? std::string(1 + gen() % 3000, ' ') : std::string(" ");
      }
      f.text += std::to_string(gen() % 2) + "\n";
    }
    ASSERT_TRUE(reads_as_token_by_token(f, gen, 8192)) << trial;
  }
}

TEST(CellReading, RandomGenotypeFilesReadAsTokenByToken) {
  // Wide rows of short cells, whose columns keep their cells as slots until a cell of another
  // form comes; new digits, other forms, invalid cells and missing labels late; blocks of
  // every size, so that rows are also cut between blocks.
  std::mt19937 gen(31);
  for (int trial = 0; trial < 200; ++trial)
    ASSERT_TRUE(reads_as_token_by_token(random_genotype_file(gen), gen, 8192)) << trial;
}

TEST(CellReading, RandomTwoBitFilesReadAsTokenByToken) {
  // Rows read two bits a cell, turned into columns 32 rows at a time; columns and rows that
  // leave that path anywhere, in blocks of every size, so that tiles of such rows span blocks
  // and end early.
  std::mt19937 gen(43);
  for (int trial = 0; trial < 150; ++trial)
    ASSERT_TRUE(reads_as_token_by_token(random_two_bit_file(gen), gen, 1 << 15)) << trial;
}

TEST(CellReading, TwoBitCodesCountedAndRecodedAsCellByCell) {
  std::mt19937_64 gen(47);
  for (int round = 0; round < 2000; ++round) {
    const std::size_t n = gen() % 300;
    std::vector<std::uint64_t> words(n / 32 + 2, 0);
    for (std::size_t i = 0; i < n; ++i) words[i / 32] |= (gen() % (round % 3 + 2)) << (2 * (i % 32));
    std::array<std::uint32_t, 4> code;
    for (std::uint32_t& c : code) c = static_cast<std::uint32_t>(gen() % 4);
    std::array<long long, 4> expected_count{};
    std::vector<std::uint64_t> expected(words.size(), 0);
    for (std::size_t i = 0; i < n; ++i) {
      const auto c = static_cast<int>((words[i / 32] >> (2 * (i % 32))) & 3);
      ++expected_count[c];
      expected[i / 32] |= static_cast<std::uint64_t>(code[c]) << (2 * (i % 32));
    }
    ASSERT_EQ(count_two_bit_codes(words.data(), n), expected_count) << round;
    std::vector<std::uint64_t> got(words.size(), 0);
    recode_two_bit_cells(words.data(), n, code, got.data());
    ASSERT_EQ(got, expected) << round;
  }
}

TEST(CellReading, FourShortCellsAtOnceAsByteByByte) {
  // Words of digits, points, the bytes next to them, white space of every kind, other control
  // bytes and bytes past 0x7f: four cells are told at once exactly when each byte says so.
  std::mt19937 gen(37);
  static const char kBytes[] = "0129./:-N \t\n\v\f\r\x08\x0e\x1f!\x80\xb0\xff";
  for (int round = 0; round < 200000; ++round) {
    char w[8];
    for (char& c : w) c = kBytes[gen() % (sizeof kBytes - 1)];
    bool expected = true;
    std::uint64_t expected_slots = 0;
    for (int q = 0; q < 4; ++q) {
      const auto cell = static_cast<unsigned char>(w[2 * q]);
      expected = expected && ((cell >= '0' && cell <= '9') || cell == '.') && space_byte(static_cast<unsigned char>(w[2 * q + 1]));
      expected_slots |= static_cast<std::uint64_t>(cell == '.' ? kDotSlot : cell - '0') << (16 * q);
    }
    std::uint64_t slots = 0;
    ASSERT_EQ(four_short_cells(w, slots), expected) << std::string(w, 8);
    if (expected) {
      ASSERT_EQ(slots, expected_slots) << std::string(w, 8);
    }
  }
}

namespace {

// Column c's value table, table indexes (`rank`) and kept zero against the reference forms on
// `as_spelled`, the same cells (or c itself).
void expect_table_as_reference(const ColumnBeingRead& c, const ColumnBeingRead& as_spelled, double missing_code,
                               int trial, std::vector<int>& rank) {
  std::vector<int> expected_rank;
  const ValueTable t = value_table(c, missing_code, rank);
  const ValueTable expected = value_table_reference(as_spelled, missing_code, expected_rank);
  ASSERT_EQ(rank, expected_rank) << trial;
  ASSERT_EQ(t.count, expected.count) << trial;
  ASSERT_EQ(t.value.size(), expected.value.size()) << trial;
  for (std::size_t q = 0; q < t.value.size(); ++q) ASSERT_EQ(bits_of(t.value[q]), bits_of(expected.value[q])) << trial;
  std::vector<double> kept = t.value;
  zero_as_sorted(c, rank, kept.data());
  const auto zero = std::find(kept.begin(), kept.end(), 0.0);
  if (zero != kept.end()) {
    ASSERT_EQ(bits_of(*zero), bits_of(zero_as_sorted_reference(as_spelled, missing_code))) << trial;
  }
}

}  // namespace

TEST(CellReading, ValueTablesAndTheKeptZeroAsBySorting) {
  std::mt19937 gen(29);
  for (int trial = 0; trial < 300; ++trial) {
    const int nsp = 1 + static_cast<int>(gen() % (trial % 2 ? 40 : 3000));
    const ColumnBeingRead c = random_column(gen, nsp, nsp + static_cast<int>(gen() % 3000));
    const double missing_code = trial % 3 ? -1000.0 : -1e301;  // below every value, as the reader fixes it
    std::vector<int> rank;
    expect_table_as_reference(c, c, missing_code, trial, rank);
  }
}

TEST(CellReading, ScaledColumnsAsTheSameCellsSpelled) {
  // Columns of scaled cells (missing keys, -0 beside 0, keys all at -1 or above, narrow and wide
  // ranges): their table indexes, value tables, kept zero and cells numbered in place are those
  // of the same cells held as spellings.
  std::mt19937 gen(53);
  for (int trial = 0; trial < 400; ++trial) {
    ColumnBeingRead c;
    c.form = ColumnBeingRead::kScaled;
    c.scaled.scale = static_cast<int>(gen() % 4);
    const int n = 1 + static_cast<int>(gen() % (trial % 4 ? 300 : 5000));
    const std::int32_t spread = trial % 5 == 0 ? 2000000 : 1 + static_cast<std::int32_t>(gen() % 400);
    const std::int32_t shift = trial % 3 == 0 ? 0 : spread / 2;  // none below -1, or many
    for (int i = 0; i < n; ++i) {
      const unsigned pick = gen() % 30;
      std::int32_t k = 2 * (static_cast<std::int32_t>(gen() % static_cast<unsigned>(spread + 1)) - shift);
      if (pick == 0) k = kMissingNa + static_cast<std::int32_t>(gen() % 3);
      if (pick == 1) k = -1;
      if (pick == 2) k = 0;
      append_key(c.scaled, k);
    }
    c.distinct = distinct_keys(c.scaled);
    ColumnBeingRead spelled;
    for (const std::int32_t k : c.distinct.key) {
      spelled.value.push_back(scaled_value(k, c.scaled.scale));
      spelled.spellings.add(scaled_spelling(k, c.scaled.scale));
    }
    c.for_each_spelling([&](std::size_t, std::uint32_t k) { spelled.cells.push(k); });
    ASSERT_EQ(spelled.cells.size(), c.scaled.key.size()) << trial;

    std::vector<int> rank;
    expect_table_as_reference(c, spelled, -1e301, trial, rank);
    ASSERT_EQ(scaled_ranks(c), rank) << trial;

    std::vector<std::uint32_t> room(gen() % 2 ? 0 : 100000, 7);  // fresh or used before
    number_scaled_cells(c, room);
    std::vector<std::uint32_t> numbered;
    c.for_each_spelling([&](std::size_t, std::uint32_t k) { numbered.push_back(k); });
    std::size_t i = 0;
    spelled.cells.for_each([&](std::size_t, std::uint32_t k) { ASSERT_EQ(numbered[i++], k) << trial; });
  }
}

TEST(CellReading, PartitionAsTheScansFromBothEnds) {
  // Few or many distinct indexes, runs of equal cells, the pivot the smallest or the largest:
  // the cells end where the two scans with their swaps leave them, and the cut is theirs.
  std::mt19937 gen(43);
  std::vector<std::uint32_t> scratch;
  for (int trial = 0; trial < 20000; ++trial) {
    const int n = 1 + static_cast<int>(gen() % (trial % 10 == 0 ? 2000 : 40));
    const std::uint32_t values = 1 + gen() % (gen() % 2 ? 4 : 1000);
    std::vector<std::uint32_t> cells(n + 1);
    for (std::uint32_t& x : cells) x = 2 * (gen() % values) + gen() % 2;
    cells[0] = cells[1 + gen() % n];  // a cell at least the pivot stops the scan from the left
    std::vector<std::uint32_t> expected = cells;
    std::uint32_t* first = expected.data() + 1;
    std::uint32_t* last = expected.data() + expected.size();
    const std::uint32_t index = expected[0] >> 1;
    for (;;) {
      while ((*first >> 1) < index) ++first;
      --last;
      while (index < (*last >> 1)) --last;
      if (!(first < last)) break;
      std::swap(*first, *last);
      ++first;
    }
    const std::uint32_t* cut = partition_by_index(cells.data() + 1, cells.data() + cells.size(), scratch);
    ASSERT_EQ(cut - cells.data(), first - expected.data()) << trial;
    ASSERT_EQ(cells, expected) << trial;
  }
}
