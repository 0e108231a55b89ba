// The training data set and the readers of data files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "coded_covariates.hpp"
#include "fatal.hpp"
#include "outfile.hpp"
#include "spellings.hpp"
#include "tokens.hpp"

namespace forests {

// Column kinds of the kind line.
constexpr int kSkipColumn = 0;
constexpr int kOrdinal = 1;
constexpr int kNominal = 3;
constexpr int kResponseColumn = -1;

// A nominal covariate keeps at most kMaxCategories categories: beyond that its rarest ones are
// merged into one, written with the data-file code kMergedCategoryCode.
constexpr int kMaxCategories = 10;
constexpr int kMergedCategoryCode = 999;

// How the data file spelled the cells of one covariate.
struct CellText {
  SpellingList spelling;              // distinct spellings, in order of first appearance (or of value)
  std::vector<int> code_spelling;     // per code: its only spelling, or -1 when spelled in several ways
  CodeCells cell_spelling;            // per case: its spelling; kept only when some code has several
};

struct DataSet {
  int ncov = 0;
  int ncase = 0;
  int nclass = 0;
  CodedCovariates codes;               // covariate j of case i: codes.column(j)(i); missing cells are missing_code
  std::vector<int> y;                  // class 0..nclass-1 of each case
  std::vector<int> class_label;        // distinct response labels, ascending
  std::vector<int> ncat;               // 1 ordinal; number of categories of a nominal covariate
  std::vector<int> ncat_orig;          // kinds as read: 1 or 3
  std::vector<std::string> name;
  double missing_code = -9.0;
  bool has_missing = false;
  std::vector<std::vector<int>> ori_catg;        // nominal: data-file code of each category
  std::vector<CellText> text;                    // per covariate, when kept: the spellings of its cells
  std::vector<long long> missing_cells;          // per covariate: cells missing (nominal: of a missing category)
};

// The value of covariate j in case i, missing cells giving missing_code (nominal: its category).
double cell_value(const DataSet& d, int j, int i);

struct ReadOptions {
  bool nan_token_is_missing = true;  // "NaN" counts as missing; otherwise it is no number
  bool keep_spellings = false;       // keep how the file spelled the cells (DataSet::text)
};

// One covariate between reading and coding: its distinct values ascending (the missing code
// first when a cell is missing) with their numbers of cases, and the final code of each value,
// which the summary fixes (ordinal: the value's rank; nominal: its category).
struct ValueTable {
  std::vector<double> value;
  std::vector<long long> count;
  std::vector<int> code;
};

struct ColumnLayout {
  std::vector<int> col_kind;  // per column: kSkipColumn, kOrdinal, kNominal or kResponseColumn
  int ncov = 0;
};

// Kind code of a one-letter token, or 2 when the token is no kind letter.
int kind_letter(std::string_view token);

// The kind codes of the kind line: the first line, up to the first token that is no kind
// letter. False when the file holds no token at all.
bool read_kind_letters(TokenReader& in, std::vector<int>& kinds);

// Reads the kind line of a training file with its messages. `empty_message` is printed when
// the file holds no token at all.
ColumnLayout read_kind_line(TokenReader& in, const char* empty_message);

// Skips `n` tokens; false when the file ends first.
bool skip_tokens(TokenReader& in, std::size_t n);

bool is_missing_token(std::string_view token, bool nan_is_missing);

// Data rows: on_cell(case_index, column, token) is called for every token in file order and
// returns false to reject the file. A file that ends inside a row is reported in `unfinished`.
struct RowScan {
  int rows = 0;             // complete rows
  bool rejected = false;    // on_cell said no
  bool unfinished = false;  // the file ended inside a row
  int unfinished_column = 0;
  std::string last_token;
};

template <class OnCell>
RowScan scan_rows(TokenReader& in, int ncols, OnCell&& on_cell) {
  RowScan scan;
  std::string_view tok;
  for (;; ++scan.rows) {
    for (int j = 0; j < ncols; ++j) {
      if (!in.next(tok)) {
        if (j > 0) {
          scan.unfinished = true;
          scan.unfinished_column = j;
          scan.last_token.assign(in.last_token());
        }
        return scan;
      }
      if (!on_cell(scan.rows, j, tok)) {
        scan.rejected = true;
        return scan;
      }
    }
  }
}

// The training readers' message for a cell that does not start with a number (row 0-based).
[[noreturn]] void invalid_data(int case_index, int column, std::string_view token);

// The label of a response cell that passed the number check ("label missing" when missing).
int response_label(int case_index, int column, std::string_view token, bool missing);

// Sets ncov, ncat and ncat_orig from the kind line, then rewinds and reads the name line into
// `name`. Returns the covariate index of every column (-1 for the others); `have_names` is
// false when the file ends inside the name line.
std::vector<int> read_column_heads(TokenReader& in, const ColumnLayout& layout, DataSet& d, bool& have_names);

// The training readers' message for a file that ends inside a row.
[[noreturn]] void unfinished_row_error(const RowScan& scan);

// The response label of a token that passed the number check: its leading integer. False when
// it does not fit an int.
bool parse_label(std::string_view token, int& label);

// Builds class_label, nclass and y from the labels of all cases ("only one response.\n" when
// fewer than two distinct labels).
void code_classes(const std::vector<int>& labels, DataSet& d);

// Reads a training data file of numbers, recodes its nominal covariates and writes the
// data summary of the report. The banner of the tree lines is left to the caller.
void read_data_file(TokenReader& in, OutFile& report, const ReadOptions& options, DataSet& d);

// What the data summary says of one covariate, found while recoding.
struct CovariateSummary {
  double smallest = 0.0, largest = 0.0;  // the range of the values that are not missing
  std::vector<int> codes;                 // nominal: data-file code of each category before a merge
  std::vector<long long> counts;          // nominal: cases in each of those categories
  std::vector<int> merged;                // nominal: the codes merged into kMergedCategoryCode, as listed
};

struct DataSummary {
  std::vector<CovariateSummary> covariates;  // in order, up to a covariate that failed
  std::string failure;                        // the message of that failure
};

// Fixes the code of every value of the value tables: an ordinal value's rank; a nominal
// covariate is recoded to categories 0..ncat-1 (the missing one last), ori_catg their
// data-file codes, and more than kMaxCategories are merged. Stops at a nominal covariate whose
// distinct values share a whole part, with the message in `failure`.
DataSummary recode_nominal_covariates(DataSet& d, std::vector<ValueTable>& tables);

// The data summary's head: the star lines down to the column headings.
void write_summary_head(OutFile& report, const DataSet& d);

// The data summary's line of each covariate (range, or counts per category and the merge). At a
// covariate that failed to recode: its name, then the run stops with the failure.
void write_covariate_summary(OutFile& report, const DataSet& d, const DataSummary& summary);

// The banner above the tree lines.
void write_tree_lines_banner(OutFile& report, int ntree);

// The covariate screen by share of missing values: usable when the count of missing cells is
// at most ncase * max_missing truncated. Nominal cells are told missing by their category's
// data-file code.
std::vector<int> screen_missing(const DataSet& d, double max_missing, int& nusable);

// Whether `count` missing cells of `ncase` cases are within the share (no integer overflow).
bool within_missing_share(long long count, int ncase, double max_missing);

// Integer part of a double, saturated at the int range.
int trunc_int(double v);

}  // namespace forests
