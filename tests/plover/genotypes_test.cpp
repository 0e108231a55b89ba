#include <gtest/gtest.h>

#include <random>

#include "genotype_rows.hpp"
#include "genotypes.hpp"
#include "read_text.hpp"

using namespace forests;

namespace {

struct GenoRead {
  DataSet d;
  GenoStore g;
  std::string report, error;
};

GenoRead read_geno(const std::string& text, WorkerPool* pool = nullptr) {
  GenoRead r;
  r.report = read_through(
      text, [&](TokenReader& in, OutFile& report) { read_genotype_file(in, report, r.d, r.g, pool); }, r.error);
  return r;
}

// Reads `text` as a file to classify against the training data `train`.
bool read_prediction(const DataSet& train, const std::string& text, GenoStore& g) {
  bool qualified = false;
  std::string error;
  read_through(text, [&](TokenReader& in, OutFile&) { qualified = read_genotype_prediction(in, train, g); }, error);
  return qualified;
}

std::string data_error(int row, int col) {
  return format("Data error: row %d col %d not in {0, 1, 2, NA/.}\n", row, col);
}

// The simple form of the training reader: token by token, each genotype packed into the rows
// of the store, which are then turned into columns.
GenoRead read_geno_by_tokens(const std::string& text) {
  GenoRead r;
  r.report = read_through(
      text,
      [&](TokenReader& in, OutFile& report) {
        const ColumnLayout layout = read_kind_line(in, "No data in the file\n");
        bool have_names = true;
        const std::vector<int> cov_of_col = read_column_heads(in, layout, r.d, have_names);
        r.g = make_geno_store(r.d.ncov);
        std::vector<int> labels;
        RowScan scan;
        if (have_names)
          scan = scan_rows(in, static_cast<int>(layout.col_kind.size()), [&](int row, int col, std::string_view token) {
            if (col == 0) add_geno_case(r.g), labels.push_back(0);
            const int kind = layout.col_kind[col];
            if (kind > 0) {
              int genotype = kMissingGenotype;
              const GenotypeCell cell = read_genotype_cell(token, genotype);
              if (cell == GenotypeCell::not_a_number) invalid_data(row, col, token);
              if (cell == GenotypeCell::out_of_range) fail(data_error(row, cov_of_col[col]));
              pack_genotype(r.g, cov_of_col[col], row, cell == GenotypeCell::missing ? kMissingGenotype : genotype);
              return true;
            }
            const bool missing = is_missing_token(token, false);
            double value = 0.0;
            if (!missing && !parse_number(token, value)) invalid_data(row, col, token);
            if (kind == kResponseColumn) labels[row] = response_label(row, col, token, missing);
            return true;
          });
        if (scan.unfinished) unfinished_row_error(scan);
        r.d.ncase = r.g.ncase = scan.rows;
        labels.resize(scan.rows);
        columns_from_rows(r.g);
        code_classes(labels, r.d);
        set_genotype_categories(r.d);
        write_summary_head(report, r.d);
        for (int j = 0; j < r.d.ncov; ++j) {
          if (r.d.ncat[j] == kOrdinal) {
            report.printf("%s:\t\t 0 2\n", r.d.name[j].c_str());
            continue;
          }
          long long count[4] = {0, 0, 0, 0};
          for (int i = 0; i < r.g.ncase; ++i) ++count[geno_get(r.g, j, i)];
          report.printf("%s:\t\t %lld(0) %lld(1) %lld(2)", r.d.name[j].c_str(), count[0], count[1], count[2]);
          report.puts(count[3] > 0 ? format(" %lld(missing)\n", count[3]).c_str() : "\n");
        }
      },
      r.error);
  return r;
}

GenoRead read_geno_in_blocks(const std::string& text, WorkerPool* pool, std::size_t block_size) {
  GenoRead r;
  r.report = read_through(
      text, [&](TokenReader& in, OutFile& report) { read_genotype_file(in, report, r.d, r.g, pool, block_size); },
      r.error);
  return r;
}

// A genotype file of random shape: a response and skipped columns among the covariates, cells
// mostly plain but some missing or spelled otherwise, spaces or tabs between cells, odd
// spacing, rows broken across lines, CR LF line ends; sometimes invalid cells at random places
// and a last row cut short.
std::string random_genotype_file(std::mt19937& gen, int nrows) {
  auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(gen) < p; };
  auto pick = [&](const std::vector<std::string>& v) { return v[gen() % v.size()]; };
  const int ncols = 1 + static_cast<int>(gen() % 70);
  std::vector<char> kind(ncols);
  for (char& k : kind) k = chance(0.1) ? 'd' : chance(0.3) ? 'n' : 'o';
  kind[gen() % ncols] = 'r';
  const double invalid_cells = chance(0.6) ? 0.0 : 1.0 / (1 + nrows * ncols), odd_spaces = chance(0.5) ? 0.0 : 0.02;
  const std::string sep = chance(0.2) ? "\t" : " ";
  const std::vector<std::string> spaces{"  ", "\t", "\r\n", "\n", " \n "}, ends{"\n", "\r\n", " \n", "\n\n"};
  const std::vector<std::string> other_genotypes{".", "NA", "0.0", "2.000", "1e0"};
  const std::vector<std::string> invalid{"3", "9", "x", "/", ":", "-1", "1.5", "NaN", "\x80", "+", "00z"};
  std::string text;
  for (int c = 0; c < ncols; ++c) text += std::string(1, kind[c]) + (c + 1 < ncols ? " " : "\n");
  for (int c = 0; c < ncols; ++c) text += "v" + std::to_string(c) + (c + 1 < ncols ? " " : "\n");
  for (int row = 0; row < nrows; ++row) {
    for (int c = 0; c < ncols; ++c) {
      std::string cell;
      if (chance(invalid_cells)) cell = kind[c] == 'r' ? pick({"NA", "x"}) : pick(invalid);
      else if (kind[c] == 'r') cell = pick({"1", "2", "1", "2", "13"});
      else if (kind[c] == 'd') cell = pick({"7", ".", "-4.5", "12"});
      else cell = chance(0.1) ? pick(other_genotypes) : pick({"0", "0", "1", "2"});
      text += cell;
      text += c + 1 < ncols ? (chance(odd_spaces) ? pick(spaces) : sep) : pick(ends);
    }
  }
  if (nrows > 0 && chance(0.1)) text.resize(text.size() - 1 - gen() % 8);
  return text;
}

void expect_same_read(const GenoRead& expected, const GenoRead& got) {
  ASSERT_EQ(got.error, expected.error);
  if (!expected.error.empty()) return;
  EXPECT_EQ(got.report, expected.report);
  EXPECT_EQ(got.g.ncase, expected.g.ncase);
  EXPECT_EQ(got.g.stride, expected.g.stride);
  EXPECT_EQ(got.g.column_group, expected.g.column_group);  // the unused bits of the last word too
  EXPECT_TRUE(got.g.geno.empty());
  EXPECT_EQ(got.d.y, expected.d.y);
  for (int j = 0; j < got.g.ncov; ++j) {
    int missing = 0;
    for (int i = 0; i < got.g.ncase; ++i) missing += geno_get(got.g, j, i) == kMissingGenotype;
    ASSERT_EQ(count_missing(got.g.column(j), got.g.stride), missing) << j;
  }
}

}  // namespace

TEST(GenoStore, BitPositionsWithTwentyCovariates) {
  // Rows as the reader packs them, then the columns made from them.
  GenoStore g = make_geno_store(20);
  for (int i = 0; i < 70; ++i) {
    add_geno_case(g);
    for (int j = 0; j < 20; ++j) pack_genotype(g, j, i, (i + j) % 4);
  }
  EXPECT_EQ(g.nword, 2);
  EXPECT_EQ(g.shift[0], 30);  // the first covariate of a full row in the two highest bits
  EXPECT_EQ(g.shift[15], 0);
  EXPECT_EQ(g.shift[16], 6);  // last row of 4 covariates: 16 at bits 6-7, 17 at bits 4-5
  EXPECT_EQ(g.shift[17], 4);
  EXPECT_EQ(g.geno[1][1], (1u << 6) | (2u << 4) | (3u << 2) | 0u);
  columns_from_rows(g);
  EXPECT_TRUE(g.geno.empty());
  EXPECT_EQ(g.stride, 3);  // 70 cases in words of 32
  // Cases 32, 33, 34, 35, ... of covariate 17 hold 1, 2, 3, 0, ...: bits 01, 10, 11, 00 upwards.
  EXPECT_EQ(g.column(17)[1], 0x3939393939393939ull);
  for (int j = 0; j < 20; ++j)
    for (int i = 0; i < 70; ++i) ASSERT_EQ(geno_get(g, j, i), (i + j) % 4) << j << " " << i;

  std::string kinds, names, row;
  for (int j = 0; j < 20; ++j) {
    kinds += "o ";
    names += std::to_string(j) + "c ";
    row += std::to_string(j % 3) + " ";
  }
  GenoRead r = read_geno(kinds + "r\n" + names + "y\n" + row + "0\n" + row + "1\n");
  ASSERT_EQ(r.error, "");
  for (int j = 0; j < 20; ++j) EXPECT_EQ(geno_get(r.g, j, 1), j % 3) << j;
}

TEST(GenotypeReader, WholeGenotypesOnly) {
  const std::string head = "d o o r\nid a b y\n1 0.0 2.000 1\n2 1 NA 2\n3 . 1 1\n";
  GenoRead ok = read_geno(head);
  ASSERT_EQ(ok.error, "");
  EXPECT_EQ(ok.d.ncase, 3);
  EXPECT_EQ(geno_get(ok.g, 0, 0), 0);
  EXPECT_EQ(geno_get(ok.g, 1, 0), 2);
  EXPECT_EQ(geno_get(ok.g, 1, 1), kMissingGenotype);
  EXPECT_EQ(geno_get(ok.g, 0, 2), kMissingGenotype);
  // Case and covariate are both 0-based; the skipped column is not counted.
  EXPECT_EQ(read_geno(head + "4 0 1.5 2\n").error, data_error(3, 1));
  EXPECT_EQ(read_geno(head + "4 3 1 2\n").error, data_error(3, 0));
  EXPECT_EQ(read_geno(head + "4 -1 1 2\n").error, data_error(3, 0));
  EXPECT_EQ(read_geno(head + "4 0 NaN 2\n").error, "Invalid data at line 4 variable number 2 value = NaN !\n");
  EXPECT_EQ(read_geno(head + "x 0 1 2\n").error, "Invalid data at line 4 variable number 0 value = x !\n");
}

TEST(GenotypeReader, FatalMessages) {
  EXPECT_EQ(read_geno("").error, "No data in the file\n");
  EXPECT_EQ(read_geno("o r\na y\n0 1\n1\n").error,
            "Data file not complete error at line 2 variable number 1 value = 1 !\n");
  EXPECT_EQ(read_geno("o r\na y\n0 1\n1 NA\n").error, "label missing: 1\n");
  EXPECT_EQ(read_geno("o r\na y\n0 1\n1 1\n").error, "only one response.\n");
  EXPECT_EQ(read_geno("o o\na b\n0 1\n").error, "There is no response.\n");
}

TEST(GenotypeSummary, LinesWithAndWithoutMissingGenotypes) {
  GenoRead r = read_geno("o n n r\na b c y\n0 0 0 1\n2 1 1 2\nNA 2 . 1\n1 2 2 2\n");
  ASSERT_EQ(r.error, "");
  const std::string mark = "---------------  --------------------\n";
  EXPECT_NE(r.report.find("Original status of variables are\n1 3 3 \n"), std::string::npos);
  EXPECT_EQ(r.report.substr(r.report.find(mark) + mark.size()),
            "a:\t\t 0 2\n"
            "b:\t\t 1(0) 1(1) 2(2)\n"
            "c:\t\t 1(0) 1(1) 1(2) 1(missing)\n");
  EXPECT_EQ(r.d.ncat, (std::vector<int>{1, 4, 4}));
  EXPECT_EQ(r.d.class_label, (std::vector<int>{1, 2}));
}

TEST(GenotypePrediction, QualifiesByCovariateKindsAndCount) {
  GenoRead t = read_geno("o n o r\na b c y\n0 1 2 1\n1 2 0 2\n");
  ASSERT_EQ(t.error, "");
  GenoStore g;
  // Response first, an extra skipped column between covariates.
  ASSERT_TRUE(read_prediction(t.d, "r o d n o\ny a x b c\n5 2 7 NA 1\n5 0 7 1 0\n", g));
  EXPECT_EQ(g.ncase, 2);
  EXPECT_EQ(geno_get(g, 0, 0), 2);
  EXPECT_EQ(geno_get(g, 1, 0), kMissingGenotype);
  EXPECT_EQ(geno_get(g, 2, 1), 0);
  EXPECT_TRUE(read_prediction(t.d, "o n o\na b c\n0 1 2\n", g));  // no response column
  EXPECT_FALSE(read_prediction(t.d, "o o o r\na b c y\n0 1 2 1\n", g));    // b differs in kind
  EXPECT_FALSE(read_prediction(t.d, "o n o o r\na b c d y\n0 1 2 1 1\n", g));  // one covariate more
  EXPECT_FALSE(read_prediction(t.d, "o n r\na b y\n0 1 1\n", g));
  EXPECT_FALSE(read_prediction(t.d, "o n o\na b c\n0 1 2\n0 1\n", g));  // unfinished last row
  EXPECT_FALSE(read_prediction(t.d, "o n o\na b c\n0 3 2\n", g));
  EXPECT_FALSE(read_prediction(t.d, "o n o\na b c\n0 z 2\n", g));
  EXPECT_FALSE(read_prediction(t.d, "o n o d\na b c x\n0 1 2 ?\n", g));  // no number, skipped column too
  EXPECT_TRUE(g.geno.empty());
  EXPECT_TRUE(g.column_group.empty());

  testing::internal::CaptureStderr();
  EXPECT_FALSE(read_prediction(t.d, "", g));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "No data in the file! ");
  // A file that ends inside its name line qualifies with no case (wren's reader refuses it).
  EXPECT_TRUE(read_prediction(t.d, "o n o\na b\n", g));
  EXPECT_EQ(g.ncase, 0);

  // With one training covariate a file of that covariate alone qualifies.
  GenoRead one = read_geno("o r\na y\n0 1\n2 2\n");
  EXPECT_TRUE(read_prediction(one.d, "o\na\n2\n1\n", g));
  EXPECT_EQ(g.ncase, 2);
}

TEST(GenotypeReader, ThreadsReadTheSameAndStopAtTheFirstError) {
  std::string text = "o n o o r\na b c d y\n";
  for (int i = 0; i < 300; ++i) text += std::to_string(i % 3) + " " + std::to_string(i % 2) + " . 2 " + std::to_string(i % 2) + "\n";
  WorkerPool two(2);
  const GenoRead plain = read_geno(text), side_by_side = read_geno(text, &two);
  ASSERT_EQ(side_by_side.error, "");
  EXPECT_EQ(side_by_side.report, plain.report);
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 300; ++i) ASSERT_EQ(geno_get(side_by_side.g, j, i), geno_get(plain.g, j, i));
  // Errors near the start and near the end: the first one is reported.
  std::string bad = text;
  bad.replace(bad.rfind("\n1 "), 3, "\n7 ");
  EXPECT_EQ(read_geno(bad, &two).error, data_error(298, 0));
  bad.replace(bad.find("\n1 "), 3, "\nz ");
  EXPECT_EQ(read_geno(bad, &two).error, read_geno(bad).error);
  EXPECT_EQ(read_geno(text + "0 1", &two).error, read_geno(text + "0 1").error);  // unfinished last row
}

TEST(GenotypeReader, PlainCellsReadLikeTokensOnRandomFiles) {
  std::mt19937 gen(5);
  WorkerPool two(2);
  for (int round = 0; round < 300; ++round) {
    // Now and then enough rows that the columns grow while they are read.
    const int nrows = round % 50 == 7 ? 2100 + static_cast<int>(gen() % 500) : static_cast<int>(gen() % 120);
    const std::string text = random_genotype_file(gen, nrows);
    SCOPED_TRACE(text.substr(0, 200));
    const GenoRead expected = read_geno_by_tokens(text);
    const std::size_t block_size = 1 + gen() % 600;
    expect_same_read(expected, read_geno_in_blocks(text, nullptr, block_size));
    expect_same_read(expected, read_geno_in_blocks(text, &two, block_size));
    expect_same_read(expected, read_geno(text));
    if (HasFatalFailure()) return;
  }
}

TEST(GenotypeReader, FourPlainCellsAtOnce) {
  std::uint32_t bits = 0;
  ASSERT_TRUE(four_plain_genotypes("0 1 2 . ", ' ', bits));
  EXPECT_EQ(bits, 0u | (1u << 2) | (2u << 4) | (3u << 6));
  ASSERT_TRUE(four_plain_genotypes("2\t.\t0\t1\t", '\t', bits));
  EXPECT_EQ(bits, 2u | (3u << 2) | (0u << 4) | (1u << 6));
  // Each byte that is not of the plain form is seen, wherever it lies.
  for (const char sep : {' ', '\t'})
    for (int at = 0; at < 8; ++at)
      for (const char c : std::string("3/:-x\t\n\r.0 ") + '\xAE' + '\x1E') {
        std::string bytes = "2 0 1 1 ";
        for (int k = 1; k < 8; k += 2) bytes[k] = sep;
        if (bytes[at] == c || (at % 2 == 0 && c == '0') || (at % 2 == 0 && c == '.')) continue;
        bytes[at] = c;
        EXPECT_FALSE(four_plain_genotypes(bytes.data(), sep, bits)) << at << " " << static_cast<int>(c);
      }
}

TEST(GenotypeReader, TileTransposition) {
  std::mt19937_64 gen(3);
  std::uint64_t a[32], t[32];
  for (std::uint64_t& w : a) w = gen();
  std::copy(a, a + 32, t);
  transpose_tile(t);
  for (int r = 0; r < 32; ++r)
    for (int c = 0; c < 32; ++c) ASSERT_EQ((t[c] >> (2 * r)) & 3, (a[r] >> (2 * c)) & 3) << r << " " << c;
}
