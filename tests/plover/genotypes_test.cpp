#include <gtest/gtest.h>

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
