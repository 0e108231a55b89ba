#include <gtest/gtest.h>

#include "read_text.hpp"

using namespace forests;

namespace {

std::string rows(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += std::to_string(i % 7) + " " + std::to_string(i % 2) + "\n";
  return s;
}

}  // namespace

TEST(Reader, KindLettersInAnyCaseAndOrder) {
  ReadResult r = read_text("R O n d\nstatus a b skip\n1 2.5 3 x1\n0 1 4 7\n");
  EXPECT_EQ(r.error, "Invalid data at line 1 variable number 3 value = x1 !\n");
  r = read_text("R O n d\nstatus a b skip\n1 2.5 3 0\n0 1 4 7\n");
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.d.ncov, 2);
  EXPECT_EQ(r.d.ncat_orig, (std::vector<int>{1, 3}));
  EXPECT_EQ(r.d.name, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(r.d.y, (std::vector<int>{1, 0}));
  EXPECT_EQ(column_values(r.d, 0), (std::vector<double>{2.5, 1}));
}

TEST(Reader, KindLineIsTheFirstLineEvenWhenANameIsAKindLetter) {
  ReadResult r = read_text("o o r\nd x y\n1 2 0\n3 4 1\n");
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.d.name, (std::vector<std::string>{"d", "x"}));
  EXPECT_EQ(r.d.ncase, 2);
  EXPECT_EQ(column_values(r.d, 1), (std::vector<double>{2, 4}));
}

TEST(Reader, CarriageReturnsAndByteOrderMarkAreWhiteSpace) {
  ReadResult r = read_text("\xEF\xBB\xBFo r\r\na y\r\n1 0\r\n2 1");
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.d.ncase, 2);
  EXPECT_EQ(column_values(r.d, 0), (std::vector<double>{1, 2}));
}

TEST(Reader, NumbersMissingTokensAndInvalidTokens) {
  ReadResult r = read_text("o o r\na b y\n1e3 1.5abc 0\nNA . 1\nNaN 2 0\n");
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(cell_value(r.d, 0, 0), 1000);
  EXPECT_EQ(cell_value(r.d, 1, 0), 1.5);
  EXPECT_TRUE(r.d.has_missing);
  EXPECT_EQ(cell_value(r.d, 0, 1), -9.0);
  EXPECT_EQ(cell_value(r.d, 0, 2), -9.0);

  EXPECT_EQ(read_text("o r\na y\n1 0\nna 1\n").error, "Invalid data at line 2 variable number 0 value = na !\n");
  EXPECT_EQ(read_text("o d r\na s y\n1 0 0\n2 abc 1\n").error,
            "Invalid data at line 2 variable number 1 value = abc !\n");
  EXPECT_EQ(read_text("o r\na y\ninf 0\n2 1\n").error, "Invalid data at line 1 variable number 0 value = inf !\n");
  EXPECT_EQ(read_text("o r\na y\n1e999 0\n2 1\n").error, "Invalid data at line 1 variable number 0 value = 1e999 !\n");
  EXPECT_EQ(read_text("o r\na y\n1 99999999999\n2 1\n").error,
            "Invalid data at line 1 variable number 1 value = 99999999999 !\n");
  // wren reads "NaN" as text that is no number.
  EXPECT_EQ(read_text("o r\na y\n1 0\nNaN 1\n", {false, true}).error,
            "Invalid data at line 2 variable number 0 value = NaN !\n");
}

TEST(Reader, UnfinishedLastRowIsAlwaysAnError) {
  EXPECT_EQ(read_text("o o r\na b y\n1 2 0\n3 4 1\n").error, "");
  EXPECT_EQ(read_text("o o r\na b y\n1 2 0\n3\n").error,
            "Data file not complete error at line 2 variable number 1 value = 3 !\n");
  // All covariates of the row but no response: still lost data, so still an error.
  EXPECT_EQ(read_text("o o r\na b y\n1 2 0\n3 4\n").error,
            "Data file not complete error at line 2 variable number 2 value = 4 !\n");
}

TEST(Reader, LastTokenWithoutLineEnd) {
  // The file ends right after its last token: it reads as it would with a line end after it.
  EXPECT_EQ(read_text("o o r\na b y\n1 2 0\n3 4 NA").error, "label missing: 1\n");
  EXPECT_EQ(read_text("o o r\na b y\n1 2 0\n3").error,
            "Data file not complete error at line 2 variable number 1 value = 3 !\n");
  ReadResult r = read_text("o o r\na b y\n1 2 0\n3 NA 1");
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(cell_value(r.d, 1, 1), r.d.missing_code);
}

TEST(Reader, LabelsAreCodedInAscendingOrder) {
  ReadResult r = read_text("o r\na y\n1 5\n2 2\n3 9\n4 2.7\n");
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.d.class_label, (std::vector<int>{2, 5, 9}));
  EXPECT_EQ(r.d.y, (std::vector<int>{1, 0, 2, 0}));
  EXPECT_EQ(r.d.nclass, 3);
}

TEST(Reader, MissingCodeLiesBelowEveryValue) {
  testing::internal::CaptureStdout();
  ReadResult r = read_text("o r\na y\n-12.5 0\nNA 1\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Missing temp value > valid data case!!! \n");
  EXPECT_EQ(r.d.missing_code, -14);
  EXPECT_EQ(cell_value(r.d, 0, 1), -14);

  testing::internal::CaptureStdout();
  r = read_text("o r\na y\n-12.5 0\n3 1\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(r.d.missing_code, -14);  // no missing cell, but a real -9 must never read as missing
  EXPECT_FALSE(r.d.has_missing);

  r = read_text("o r\na y\n-9 0\n3 1\n");
  EXPECT_EQ(r.d.missing_code, -10);
  r = read_text("o r\na y\n-8.5 0\nNA 1\n");
  EXPECT_EQ(r.d.missing_code, -9);
}

TEST(Reader, ManyRowsGrowTheStorage) {
  ReadResult r = read_text("o r\na y\n" + rows(1001));
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.d.ncase, 1001);
  EXPECT_EQ(cell_value(r.d, 0, 1000), 1000 % 7);
}

TEST(Reader, FatalMessages) {
  EXPECT_EQ(read_text("").error, "No data in the file");
  EXPECT_EQ(read_text("  \n\n").error, "No data in the file");
  EXPECT_EQ(read_text("o r r\na b c\n").error,
            "There are multiple responses, please make sure there is only one response column.\n");
  EXPECT_EQ(read_text("o o\na b\n1 2\n").error, "There is no response.\n");
  EXPECT_EQ(read_text("r\ny\n1\n2\n").error, "ERROR: No covariate!\n");
  EXPECT_EQ(read_text("d r\ns y\n1 1\n2 2\n").error, "ERROR: No covariate!\n");
  EXPECT_EQ(read_text("o r\na y\n1 0\n2 NA\n").error, "label missing: 1\n");
  EXPECT_EQ(read_text("o r\na y\n1 3\n2 3\n").error, "only one response.\n");
  EXPECT_EQ(read_text("o r\na y\n").error, "only one response.\n");
  EXPECT_EQ(read_text("o r\n").error, "only one response.\n");
}

TEST(Reader, KeepsCellTextForWren) {
  ReadResult r = read_text("o n r\na b y\n0.50 1 0\nNA 2 1\n", {false, true});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(cell_texts(r.d, 0), (std::vector<std::string>{"0.50", "NA"}));
  EXPECT_EQ(cell_texts(r.d, 1), (std::vector<std::string>{"1", "2"}));
}

TEST(Reader, VeryLongTokensAndWideRows) {
  std::string kinds, names, row1, row2;
  const int ncov = 20000;
  for (int j = 0; j < ncov; ++j) {
    kinds += "o ";
    names += 'c';
    names += std::to_string(j);
    names += ' ';
    row1 += "1 ";
    row2 += "2 ";
  }
  std::string longname(1 << 20, 'x');
  std::string text = kinds;
  for (const std::string& piece : {std::string("r\n"), longname, std::string(" "), names.substr(names.find(' ') + 1),
                                   std::string("y\n"), row1, std::string("0\n"), row2, std::string("1\n")})
    text += piece;
  ReadResult r = read_text(text);
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.d.ncov, ncov);
  EXPECT_EQ(r.d.name[0].size(), longname.size());
  EXPECT_EQ(cell_value(r.d, ncov - 1, 1), 2);
}
