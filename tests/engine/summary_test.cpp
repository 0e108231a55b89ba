#include <gtest/gtest.h>

#include "read_text.hpp"

using namespace forests;

namespace {

const char* kHead =
    "*******************************************************\n"
    "*                Part I: Data summary                 *\n"
    "*******************************************************\n";

// The per-covariate lines of the report, after the column headings.
std::string summary_lines(const std::string& report) {
  const std::string mark = "---------------  --------------------\n";
  return report.substr(report.find(mark) + mark.size());
}

// A nominal column with the given values (one case each) and alternating labels.
std::string nominal_file(const std::vector<std::string>& values) {
  std::string s = "n r\nc y\n";
  for (std::size_t i = 0; i < values.size(); ++i) s += values[i] + " " + std::to_string(i % 2) + "\n";
  return s;
}

std::vector<std::string> repeat(std::vector<std::pair<std::string, int>> counts) {
  std::vector<std::string> v;
  for (auto& [value, n] : counts)
    for (int i = 0; i < n; ++i) v.push_back(value);
  return v;
}

}  // namespace

TEST(Summary, HeadOfTheReport) {
  ReadResult r = read_text("o n r\nx z y\n3 2 0\n1 5 1\n7 5 0\nNA 9 1\n");
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.report, std::string(kHead) +
                          "There are 2 covariates and the response has 2 levels\n"
                          "Original status of variables are\n"
                          "1 3 \n"
                          "1 refers to as an ordinal covariate and 3 means a nominal one\n"
                          "For an ordinal covariate, the min. and max. will be given;\n"
                          "For a nominal one, the counts corresponding to each level will be listed.\n"
                          "\nVariable Number  Range or Frequencies\n"
                          "---------------  --------------------\n"
                          "x:\t\t 1.000000 7.000000\n"
                          "z:\t\t 1(2) 2(5) 1(9)\n");
  EXPECT_EQ(column_values(r.d, 1), (std::vector<double>{0, 1, 1, 2}));
  EXPECT_EQ(r.d.ori_catg[1], (std::vector<int>{2, 5, 9}));
  EXPECT_EQ(r.d.ncat[1], 3);
}

TEST(Summary, MissingCategoryIsListedLast) {
  ReadResult r = read_text(nominal_file({"1", "2", "NA", "2", "NA"}));
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(summary_lines(r.report), "c:\t\t 1(1) 2(2) 2(missing)\n");
  EXPECT_EQ(column_values(r.d, 0), (std::vector<double>{0, 1, 2, 1, 2}));
  EXPECT_EQ(r.d.ori_catg[0], (std::vector<int>{1, 2, -9}));
}

TEST(Summary, CodesWithoutCasesAreDroppedAndWholePartsMustBeDistinct) {
  ReadResult r = read_text(nominal_file({"0", "2", "2"}));
  EXPECT_EQ(column_values(r.d, 0), (std::vector<double>{0, 1, 1}));
  EXPECT_EQ(read_text(nominal_file({"1.2", "1.7"})).error, "2 is not equal to 1 for variable 1\n");
  // The summary stops at that covariate's name; the lines before it are written.
  ReadResult failed = read_text("o n n r\nx c e y\n1 1.2 1 0\n2 1.7 2 1\n");
  EXPECT_EQ(failed.error, "2 is not equal to 1 for variable 2\n");
  EXPECT_EQ(summary_lines(failed.report), "x:\t\t 1.000000 2.000000\nc:\t\t");
  // A wide range of codes needs no counter per value.
  r = read_text(nominal_file({"0", "1000000000", "-2000000000"}));
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(column_values(r.d, 0), (std::vector<double>{1, 2, 0}));
}

TEST(Summary, ColumnWithoutValues) {
  ReadResult r = read_text("o n o r\na b c y\nNA NA 1 0\nNA NA 2 1\n");
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(summary_lines(r.report), "a:\t\t 0.000000 0.000000\nb:\t\t 2(missing)\nc:\t\t 1.000000 2.000000\n");
  EXPECT_EQ(r.d.ncat[1], 1);
}

TEST(Summary, TenCategoriesAreKept) {
  std::vector<std::pair<std::string, int>> c;
  for (int k = 0; k < 10; ++k) c.push_back({std::to_string(k), k + 1});
  ReadResult r = read_text(nominal_file(repeat(c)));
  EXPECT_EQ(r.d.ncat[0], 10);
  EXPECT_EQ(summary_lines(r.report).find("***Put"), std::string::npos);
}

TEST(Summary, ElevenAndTwelveCategoriesMergeTheRarest) {
  // Counts 12, 11, ..., so the rarest are the highest codes.
  std::vector<std::pair<std::string, int>> c;
  for (int k = 0; k < 12; ++k) c.push_back({std::to_string(10 * k), 20 - k});
  ReadResult r = read_text(nominal_file(repeat(c)));
  ASSERT_EQ(r.error, "");
  std::string lines = summary_lines(r.report);
  EXPECT_NE(lines.find("\n***Put catgories(110) (100) (90) as category 999\n"), std::string::npos) << lines;
  EXPECT_EQ(r.d.ncat[0], 10);
  EXPECT_EQ(r.d.ori_catg[0], (std::vector<int>{0, 10, 20, 30, 40, 50, 60, 70, 80, 999}));
  EXPECT_EQ(column_values(r.d, 0).back(), 9);  // a case of category 110

  c.pop_back();  // 11 categories: the two rarest
  r = read_text(nominal_file(repeat(c)));
  EXPECT_NE(summary_lines(r.report).find("***Put catgories(100) (90) as category 999\n"), std::string::npos);
}

TEST(Summary, MergedCategoryComesBeforeTheMissingOne) {
  // Ten values and missing cells: 11 categories, the two rarest values are merged.
  std::vector<std::pair<std::string, int>> c;
  for (int k = 0; k < 10; ++k) c.push_back({std::to_string(k + 1), k == 3 ? 1 : (k == 6 ? 2 : 5)});
  c.push_back({"NA", 4});
  ReadResult r = read_text(nominal_file(repeat(c)));
  ASSERT_EQ(r.error, "");
  EXPECT_NE(summary_lines(r.report).find("***Put catgories(7) (4) as category 999\n"), std::string::npos);
  EXPECT_EQ(r.d.ori_catg[0], (std::vector<int>{1, 2, 3, 5, 6, 8, 9, 10, 999, -9}));
  EXPECT_EQ(cell_value(r.d, 0, 15), 8);   // the value 4
  EXPECT_EQ(column_values(r.d, 0).back(), 9);  // a missing cell
}

TEST(Summary, EquallyRareCategoriesAreChosenInHeapSortOrder) {
  // Eleven categories of equal counts: the heap sort leaves codes 1, 2, ..., 10, 0, so the
  // two merged ones are codes 1 and 2, not 0 and 1.
  std::vector<std::pair<std::string, int>> c;
  for (int k = 1; k <= 11; ++k) c.push_back({std::to_string(10 * k), 2});
  ReadResult r = read_text(nominal_file(repeat(c)));
  ASSERT_EQ(r.error, "");
  EXPECT_NE(summary_lines(r.report).find("***Put catgories(30) (20) as category 999\n"), std::string::npos);
  EXPECT_EQ(r.d.ori_catg[0], (std::vector<int>{10, 40, 50, 60, 70, 80, 90, 100, 110, 999}));
}

TEST(Summary, RecodingNeedsNoReport) {
  ReadResult r = read_text(nominal_file({"5", "NA", "2", "5"}));
  ASSERT_EQ(r.error, "");
  DataSet d = r.d;  // as read, before the recoding
  std::vector<ValueTable> tables{{{-9, 2, 5}, {1, 1, 2}, {}}};
  d.ncat[0] = kNominal;
  const DataSummary s = recode_nominal_covariates(d, tables);
  EXPECT_EQ(s.failure, "");
  EXPECT_EQ(tables[0].code, (std::vector<int>{2, 0, 1}));  // the missing category last
  EXPECT_EQ(column_values(r.d, 0), (std::vector<double>{1, 2, 0, 1}));
  EXPECT_EQ(d.ori_catg[0], (std::vector<int>{2, 5, -9}));
  EXPECT_EQ(s.covariates[0].counts, (std::vector<long long>{1, 2, 1}));
}

TEST(Summary, MissingShareLimitWithoutOverflow) {
  EXPECT_TRUE(within_missing_share(5, 100, 0.05));
  EXPECT_FALSE(within_missing_share(6, 100, 0.05));
  EXPECT_TRUE(within_missing_share(9, 95, 0.1));
  EXPECT_FALSE(within_missing_share(10, 95, 0.1));
  EXPECT_TRUE(within_missing_share(2'000'000'000, 2'000'000'000, 1e300));  // huge: keeps all
  EXPECT_FALSE(within_missing_share(0, 100, -0.5));                       // negative: keeps none
  EXPECT_TRUE(within_missing_share(0, 100, 0.0));
}
