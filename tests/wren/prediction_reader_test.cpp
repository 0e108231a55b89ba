#include <gtest/gtest.h>

#include "prediction_reader.hpp"
#include "random.hpp"
#include "read_text.hpp"

using namespace forests;

namespace {

struct Predicted {
  bool qualified = false;
  PredictionData p;
};

Predicted read_prediction(const DataSet& training, const std::string& text) {
  ScratchDir dir;
  dir.write("p.txt", text);
  std::FILE* f = open_for_reading(dir.file("p.txt"));
  Predicted r;
  {
    TokenReader in(f);
    r.qualified = read_prediction_file(in, training, r.p);
  }
  std::fclose(f);
  return r;
}

DataSet training(const std::string& text) {
  ReadResult r = read_text(text, {false, true});
  EXPECT_EQ(r.error, "");
  return r.d;
}

// Twelve categories 1..12 with counts 1..12: 1 and 2 and 3 are merged into 999.
std::string merged_training() {
  std::string s = "n r\nc y\n";
  for (int c = 1; c <= 12; ++c)
    for (int k = 0; k < c; ++k) s += std::to_string(c) + " " + std::to_string(k % 2) + "\n";
  return s;
}

}  // namespace

TEST(PredictionReader, NominalValuesTakeTheTrainingCategories) {
  // m: 2 5 9, recoded 0 1 2, with missing cells (category 3); u: 1 2, no missing cell.
  DataSet d = training("n n o r\nm u x y\n2 1 0.5 0\n5 2 1 1\n9 1 2 0\nNA 2 3 1\n");
  ASSERT_EQ(d.ori_catg[0], (std::vector<int>{2, 5, 9, -9}));
  Predicted r = read_prediction(d, "n n o\nm u x\n5 2 7\n4 1 NA\nNA 2 .\n9.8 1 -3\n");
  ASSERT_TRUE(r.qualified);
  ASSERT_EQ(r.p.ncase, 4);
  EXPECT_EQ(r.p.X[0], (std::vector<double>{1, 3, 3, 2}));  // unseen 4 and a missing cell: missing category
  EXPECT_EQ(r.p.X[1], (std::vector<double>{1, 0, 1, 0}));
  EXPECT_EQ(r.p.X[2], (std::vector<double>{7, -9, -9, -3}));

  DataSet merged = training(merged_training());
  ASSERT_EQ(merged.ori_catg[0].back(), 999);
  r = read_prediction(merged, "n\nc\n2\n77\n12\n");
  ASSERT_TRUE(r.qualified);
  EXPECT_EQ(r.p.X[0], (std::vector<double>{9, 9, 8}));
}

TEST(PredictionReader, UnseenValuesWithoutAFallbackAreDrawn) {
  DataSet d = training("n r\nu y\n1 0\n2 1\n3 0\n");
  // From state 1 the draws are 41 and 18467: categories 0 and 1 of 3.
  seed_random(1);
  Predicted r = read_prediction(d, "n r\nu y\n7 0\n2 0\nNA 1\n");
  ASSERT_TRUE(r.qualified);
  EXPECT_EQ(r.p.X[0], (std::vector<double>{0, 1, 1}));
  EXPECT_EQ(map_category({4}, 1, 5, -9), 0);  // a single category still takes a draw
  EXPECT_EQ(rand_draw(), 26500);
}

TEST(PredictionReader, ColumnsMustMatchTheTrainingCovariates) {
  DataSet d = training("o r n\na y b\n1 0 1\n2 1 2\n");
  // Response anywhere or absent, skipped columns anywhere, any case of letters.
  EXPECT_TRUE(read_prediction(d, "O d N\na s b\n1 5 2\n").qualified);
  EXPECT_TRUE(read_prediction(d, "r o n\ny a b\n1 1 2\n").qualified);
  EXPECT_TRUE(read_prediction(d, "o n\na b\n").qualified);
  // Kind mismatch, too few or too many covariates.
  EXPECT_FALSE(read_prediction(d, "o o\na b\n1 2\n").qualified);
  EXPECT_FALSE(read_prediction(d, "o r\na y\n1 2\n").qualified);
  EXPECT_FALSE(read_prediction(d, "o n o n o n\na b c d e f\n1 1 1 1 1 1\n").qualified);
  // One covariate and nothing else is enough.
  DataSet one = training("o r\na y\n1 0\n2 1\n");
  Predicted r = read_prediction(one, "o\na\n3\n4\n");
  ASSERT_TRUE(r.qualified);
  EXPECT_EQ(r.p.ncase, 2);
}

TEST(PredictionReader, DataProblemsMakeTheFileUnqualified) {
  DataSet d = training("o n r\na b y\n1 1 0\n2 2 1\n");
  EXPECT_FALSE(read_prediction(d, "").qualified);
  EXPECT_FALSE(read_prediction(d, "o n\na\n").qualified);               // name line cut short
  EXPECT_FALSE(read_prediction(d, "o n\na b\n1 2\n3\n").qualified);     // unfinished last row
  EXPECT_FALSE(read_prediction(d, "o n d\na b s\n1 2 x\n").qualified);  // no number, skipped column too
  EXPECT_FALSE(read_prediction(d, "o n\na b\nNaN 2\n").qualified);
  EXPECT_FALSE(read_prediction(d, "o n\na b\n1e999 2\n").qualified);
  Predicted r = read_prediction(d, "o n d\na b s\n1.5abc 2 NA\n");
  ASSERT_TRUE(r.qualified);
  EXPECT_EQ(r.p.X[0][0], 1.5);
}
