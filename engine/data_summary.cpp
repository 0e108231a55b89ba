// The data summary at the head of the report, and the recoding of nominal covariates that
// comes before it.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <map>
#include <string>

#include "data_set.hpp"

namespace forests {

void write_summary_head(OutFile& report, const DataSet& d) {
  report.puts("*******************************************************\n");
  report.puts("*                Part I: Data summary                 *\n");
  report.puts("*******************************************************\n");
  report.printf("There are %d covariates and the response has %d levels\n", d.ncov, d.nclass);
  report.puts("Original status of variables are\n");
  for (int j = 0; j < d.ncov; ++j) report.printf("%d ", d.ncat_orig[j]);
  report.puts("\n");
  report.puts("1 refers to as an ordinal covariate and 3 means a nominal one\n");
  report.puts("For an ordinal covariate, the min. and max. will be given;\n");
  report.puts("For a nominal one, the counts corresponding to each level will be");
  report.puts(" listed.\n");
  report.puts("\nVariable Number  Range or Frequencies\n");
  report.puts("---------------  --------------------\n");
}

void write_tree_lines_banner(OutFile& report, int ntree) {
  report.puts("\n*******************************************************\n");
  report.printf("*   Part II: Information for each of the %d trees    *\n", ntree);
  report.puts("*******************************************************\n\n");
}

namespace {

// Sorts key[1..m] ascending carrying val along, in the heap-sort order that decides which of
// equally rare categories are merged (1-based arrays).
void heap_sort_carry(int m, std::vector<int>& key, std::vector<int>& val) {
  if (m < 2) return;
  int l = m / 2 + 1;
  int ir = m;
  for (;;) {
    int rk, rv;
    if (l > 1) {
      --l;
      rk = key[l];
      rv = val[l];
    } else {
      rk = key[ir];
      rv = val[ir];
      key[ir] = key[1];
      val[ir] = val[1];
      if (--ir == 1) {
        key[1] = rk;
        val[1] = rv;
        return;
      }
    }
    int i = l;
    int j = l + l;
    while (j <= ir) {
      if (j < ir && key[j] < key[j + 1]) ++j;
      if (rk < key[j]) {
        key[i] = key[j];
        val[i] = val[j];
        i = j;
        j += j;
      } else {
        j = ir + 1;
      }
    }
    key[i] = rk;
    val[i] = rv;
  }
}

// Merges the least frequent categories of a nominal covariate with more than kMaxCategories
// into one category coded kMergedCategoryCode, keeping the missing category last; `category`
// (of each value) is recoded along. Returns the data-file codes merged, highest recoded
// category first.
std::vector<int> merge_rare_categories(DataSet& d, int j, const std::vector<long long>& counts,
                                       std::vector<int>& category) {
  auto& ori = d.ori_catg[j];
  const bool has_missing_cat = ori.back() == trunc_int(d.missing_code);
  const int ncat = d.ncat[j];
  const int m = ncat - (has_missing_cat ? 1 : 0);
  const int excess = ncat - (kMaxCategories - 1);
  std::vector<int> key(m + 1), val(m + 1);
  for (int c = 0; c < m; ++c) {
    key[c + 1] = static_cast<int>(counts[c]);
    val[c + 1] = c;
  }
  heap_sort_carry(m, key, val);
  std::vector<int> chosen(val.begin() + 1, val.begin() + 1 + excess);
  std::sort(chosen.begin(), chosen.end());

  std::vector<int> merged_codes;
  std::vector<bool> merged(ncat, false);
  for (int k = excess - 1; k >= 0; --k) {
    merged_codes.push_back(ori[chosen[k]]);
    merged[chosen[k]] = true;
  }
  // New code of every old one: kept categories keep their order, merged ones come just before
  // the missing category, which stays last.
  const int last_category = kMaxCategories - 1;
  const int merged_category = has_missing_cat ? last_category - 1 : last_category;
  std::vector<int> new_code(ncat);
  std::vector<int> new_ori;
  for (int c = 0, next = 0; c < ncat; ++c) {
    if (merged[c]) {
      new_code[c] = merged_category;
    } else if (has_missing_cat && c == ncat - 1) {
      new_code[c] = last_category;
    } else {
      new_code[c] = next++;
      new_ori.push_back(ori[c]);
    }
  }
  new_ori.push_back(kMergedCategoryCode);
  if (has_missing_cat) new_ori.push_back(ori.back());
  for (int& c : category) c = new_code[c];
  ori = new_ori;
  d.ncat[j] = kMaxCategories;
  return merged_codes;
}

// Recodes nominal covariate j to categories 0..ncat-1 (the missing one last) and keeps what
// the summary reports of it. False, with `failure` set, when two distinct values share a whole
// part.
bool recode_nominal(DataSet& d, int j, ValueTable& t, CovariateSummary& s, std::string& failure) {
  const std::vector<double>& distinct = t.value;
  auto& ori = d.ori_catg[j];
  for (double v : distinct) ori.push_back(trunc_int(v));
  if (d.has_missing && !distinct.empty() && distinct.front() == d.missing_code)
    std::rotate(ori.begin(), ori.begin() + 1, ori.end());
  d.ncat[j] = static_cast<int>(distinct.size());

  // Whole-number codes from the smallest valid value up; missing cells get the code above the
  // largest. Codes without cases are dropped, so a cell's code is the rank of its whole part.
  const long long top = static_cast<long long>(s.largest - s.smallest);
  std::map<long long, long long> code_counts;
  std::vector<long long> whole(distinct.size());
  for (std::size_t k = 0; k < distinct.size(); ++k) {
    const double v = distinct[k];
    whole[k] = (d.has_missing && v == d.missing_code) ? top + 1 : static_cast<long long>(v - s.smallest);
    code_counts[whole[k]] += t.count[k];
  }
  const int kept = static_cast<int>(code_counts.size());
  if (d.ncat[j] != kept) {
    failure = format("%d is not equal to %d for variable %d\n", d.ncat[j], kept, j + 1);
    return false;
  }
  std::map<long long, int> rank;
  for (auto [code, count] : code_counts) {
    rank.emplace(code, static_cast<int>(s.counts.size()));
    s.counts.push_back(count);
  }
  t.code.resize(distinct.size());
  for (std::size_t k = 0; k < distinct.size(); ++k) t.code[k] = rank[whole[k]];
  s.codes = ori;
  if (d.ncat[j] > kMaxCategories) s.merged = merge_rare_categories(d, j, s.counts, t.code);
  return true;
}

// The smallest and largest values of a column that are not the missing code: the values are
// ascending, the missing code first when a cell is missing.
void value_range(const DataSet& d, const ValueTable& t, CovariateSummary& s) {
  const std::size_t first = !t.value.empty() && t.value.front() == d.missing_code ? 1 : 0;
  if (first >= t.value.size()) return;
  s.smallest = t.value[first];
  s.largest = t.value.back();
}

void write_nominal_line(OutFile& report, const DataSet& d, const CovariateSummary& s) {
  const int missing_int = trunc_int(d.missing_code);
  for (std::size_t c = 0; c < s.codes.size(); ++c) {
    if (s.codes[c] == missing_int)
      report.printf(" %lld(missing)", s.counts[c]);
    else
      report.printf(" %lld(%d)", s.counts[c], s.codes[c]);
  }
  report.puts("\n");
  if (s.merged.empty()) return;
  report.puts("***Put catgories");
  for (int code : s.merged) report.printf("(%d) ", code);
  report.printf("as category %d\n", kMergedCategoryCode);
}

}  // namespace

DataSummary recode_nominal_covariates(DataSet& d, std::vector<ValueTable>& tables) {
  DataSummary summary;
  d.ori_catg.assign(d.ncov, {});
  for (int j = 0; j < d.ncov; ++j) {
    CovariateSummary& s = summary.covariates.emplace_back();
    ValueTable& t = tables[j];
    value_range(d, t, s);
    if (d.ncat[j] == kOrdinal) {
      t.code.resize(t.value.size());
      for (std::size_t k = 0; k < t.code.size(); ++k) t.code[k] = static_cast<int>(k);
    } else if (!recode_nominal(d, j, t, s, summary.failure)) {
      break;
    }
  }
  return summary;
}

void write_covariate_summary(OutFile& report, const DataSet& d, const DataSummary& summary) {
  const int nwritten = static_cast<int>(summary.covariates.size());
  // Wide files repeat a range over and over (0 to 2 for genotypes): it is printed once.
  std::string range;
  std::uint64_t range_of[2] = {0, 0};
  for (int j = 0; j < nwritten; ++j) {
    const CovariateSummary& s = summary.covariates[j];
    report.printf("%s:\t\t", d.name[j].c_str());
    if (j == nwritten - 1 && !summary.failure.empty()) fail(summary.failure);
    if (d.ncat_orig[j] == kOrdinal) {
      const std::uint64_t bits[2] = {std::bit_cast<std::uint64_t>(s.smallest), std::bit_cast<std::uint64_t>(s.largest)};
      if (range.empty() || bits[0] != range_of[0] || bits[1] != range_of[1]) {
        range = format(" %f %f\n", s.smallest, s.largest);
        range_of[0] = bits[0];
        range_of[1] = bits[1];
      }
      report.puts(range);
    } else {
      write_nominal_line(report, d, s);
    }
  }
}

}  // namespace forests
