// Files to classify: the column check, the outcomes of reading one, and the vote written to the
// ".pre" files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "predict_files.hpp"
#include "prediction_file.hpp"
#include "run_program.hpp"

using namespace forests;

namespace {

struct Read {
  PredictionRead outcome;
  int ncase = 0;
  std::vector<std::pair<int, int>> cells;  // (row, covariate) handed to the program, in order
};

// Reads `text` as a file to classify against training kinds `kinds`; covariate cells other than
// "bad" are taken.
Read read_rows(const std::string& text, const std::vector<int>& kinds) {
  ScratchDir dir;
  dir.write("p.txt", text);
  InFile file(open_for_reading(dir.file("p.txt")));
  TokenReader in(file.get());
  Read r;
  r.outcome = read_prediction_rows(
      in, kinds,
      [&](int row, int j, std::string_view token) {
        r.cells.emplace_back(row, j);
        return token != "bad";
      },
      r.ncase);
  return r;
}

}  // namespace

TEST(PredictionColumns, CovariatesMustLineUpInNumberOrderAndKind) {
  const std::vector<int> training = {kOrdinal, kNominal};
  std::vector<int> cov_of_col;
  // Skipped columns and the response anywhere, or no response at all.
  EXPECT_TRUE(match_prediction_columns({kSkipColumn, kOrdinal, kResponseColumn, kSkipColumn, kNominal}, training,
                                       cov_of_col));
  EXPECT_EQ(cov_of_col, (std::vector<int>{-1, 0, -1, -1, 1}));
  EXPECT_TRUE(match_prediction_columns({kOrdinal, kNominal}, training, cov_of_col));
  EXPECT_FALSE(match_prediction_columns({kNominal, kOrdinal}, training, cov_of_col));
  EXPECT_FALSE(match_prediction_columns({kOrdinal}, training, cov_of_col));
  EXPECT_FALSE(match_prediction_columns({kOrdinal, kNominal, kOrdinal}, training, cov_of_col));
  EXPECT_FALSE(match_prediction_columns({}, training, cov_of_col));
}

TEST(PredictionRows, OutcomesOfReading) {
  const std::vector<int> kinds = {kOrdinal, kNominal};
  Read ok = read_rows("r o d n\ny a x b\n1 2 NA 3\n. 5 7.5 6\n", kinds);
  EXPECT_EQ(ok.outcome, PredictionRead::qualified);
  EXPECT_EQ(ok.ncase, 2);
  // Only covariate cells reach the program, with their training covariate.
  EXPECT_EQ(ok.cells, (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {1, 0}, {1, 1}}));

  EXPECT_EQ(read_rows("", kinds).outcome, PredictionRead::no_token);
  EXPECT_EQ(read_rows("n o\na b\n1 2\n", kinds).outcome, PredictionRead::columns_differ);
  EXPECT_EQ(read_rows("o n\na\n", kinds).outcome, PredictionRead::head_cut_short);
  EXPECT_EQ(read_rows("o n d\na b c\n1 2 x\n", kinds).outcome, PredictionRead::row_rejected);
  EXPECT_EQ(read_rows("o n\na b\n1 bad\n", kinds).outcome, PredictionRead::row_rejected);
  Read cut = read_rows("o n\na b\n1 2\n3\n", kinds);
  EXPECT_EQ(cut.outcome, PredictionRead::row_unfinished);
  EXPECT_EQ(cut.ncase, 0);
  // No row at all is a file of no case.
  EXPECT_EQ(read_rows("o n\na b\n", kinds).outcome, PredictionRead::qualified);
}

TEST(PredictFiles, MajorityLabelsAndFilesThatDoNotQualify) {
  // Three one-node trees of classes 1, 0, 1 on case 0; on case 1 the trees split the votes 1 to
  // 1 between classes 0 and 1 (the third gives class 2), and the tie goes to the lower class.
  const std::vector<StoredTree> trees(3);
  const std::vector<int> labels = {5, 7, 9};
  const VotingForest forest{&trees, 3, &labels};
  const std::vector<std::vector<int>> classes = {{1, 0, 1}, {1, 0, 2}};
  const CaseReader read = [&](TokenReader& in) -> std::optional<CasesToClassify> {
    std::string_view token;
    if (!in.next(token) || token != "ok") return std::nullopt;
    return CasesToClassify{2, [&](const StoredTree& t, int i) { return classes[i][&t - trees.data()]; }};
  };
  ScratchDir dir;
  dir.write("a.txt", "ok\n");
  dir.write("b.txt", "no\n");
  dir.write("b.txt.pre", "");
  const OutputNames output{dir.file("run"), false};
  predict_files({dir.file("a.txt"), dir.file("b.txt")}, output, forest, read, RunClock());
  EXPECT_EQ(dir.read("a.txt.pre"), "The number of samples for prediction is 2\n7\n5\n");
  EXPECT_EQ(dir.read("b.txt.pre"), "");

  CasesToClassify cases{2, [&](const StoredTree& t, int i) { return classes[i][&t - trees.data()]; }};
  EXPECT_EQ(forest_votes(forest, cases), (std::vector<int>{1, 2, 0, 1, 1, 1}));
}
