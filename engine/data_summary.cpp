// Part I of the report: the data summary, with the recoding of nominal covariates.
#include <algorithm>
#include <map>

#include "data_set.hpp"

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

void write_part2_banner(OutFile& report, int ntree) {
  report.puts("\n*******************************************************\n");
  report.printf("*   Part II: Information for each of the %d trees    *\n", ntree);
  report.puts("*******************************************************\n\n");
}

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

namespace {

// Merges the least frequent categories of a nominal covariate with more than 10 into one
// category coded 999, keeping the missing category last. `category` maps each value to its
// category and is rewritten to the new categories.
void merge_rare_categories(DataSet& d, int j, std::vector<long long>& counts, std::vector<int>& category,
                           OutFile& report) {
  auto& ori = d.ori_catg[j];
  const bool has_missing_cat = ori.back() == trunc_int(d.missing_code);
  const int ncat = d.ncat[j];
  const int m = ncat - (has_missing_cat ? 1 : 0);
  const int excess = ncat - 9;
  std::vector<int> key(m + 1), val(m + 1);
  for (int c = 0; c < m; ++c) {
    key[c + 1] = static_cast<int>(counts[c]);
    val[c + 1] = c;
  }
  heap_sort_carry(m, key, val);
  std::vector<int> chosen(val.begin() + 1, val.begin() + 1 + excess);
  std::sort(chosen.begin(), chosen.end());

  report.puts("***Put catgories");
  std::vector<bool> merged(ncat, false);
  for (int k = excess - 1; k >= 0; --k) {
    report.printf("(%d) ", ori[chosen[k]]);
    merged[chosen[k]] = true;
  }
  // New code of every old one: kept categories keep their order, merged ones become 999,
  // which comes just before the missing category.
  const int merged_code = has_missing_cat ? 8 : 9;
  std::vector<int> new_code(ncat);
  std::vector<int> new_ori;
  for (int c = 0, next = 0; c < ncat; ++c) {
    if (merged[c]) {
      new_code[c] = merged_code;
    } else if (has_missing_cat && c == ncat - 1) {
      new_code[c] = 9;
    } else {
      new_code[c] = next++;
      new_ori.push_back(ori[c]);
    }
  }
  new_ori.push_back(999);
  if (has_missing_cat) new_ori.push_back(ori.back());
  for (int& c : category) c = new_code[c];
  ori = new_ori;
  d.ncat[j] = 10;
  report.puts("as category 999\n");
}

void recode_nominal(DataSet& d, int j, ValueTable& t, double smallest, double largest, OutFile& report) {
  const std::vector<double>& distinct = t.value;
  auto& ori = d.ori_catg[j];
  for (double v : distinct) ori.push_back(trunc_int(v));
  if (d.has_missing && !distinct.empty() && distinct.front() == d.missing_code)
    std::rotate(ori.begin(), ori.begin() + 1, ori.end());
  d.ncat[j] = static_cast<int>(distinct.size());

  // Whole-number codes from the smallest valid value up; missing cells get the code above the
  // largest. Codes without cases are dropped, so a cell's code is the rank of its whole part.
  const long long top = static_cast<long long>(largest - smallest);
  std::map<long long, long long> code_counts;
  std::vector<long long> whole(distinct.size());
  for (std::size_t k = 0; k < distinct.size(); ++k) {
    const double v = distinct[k];
    whole[k] = (d.has_missing && v == d.missing_code) ? top + 1 : static_cast<long long>(v - smallest);
    code_counts[whole[k]] += t.count[k];
  }
  report.printf("%s:\t\t", d.name[j].c_str());
  const int kept = static_cast<int>(code_counts.size());
  if (d.ncat[j] != kept) fail(format("%d is not equal to %d for variable %d\n", d.ncat[j], kept, j + 1));

  std::map<long long, int> rank;
  std::vector<long long> counts;
  for (auto [code, count] : code_counts) {
    rank.emplace(code, static_cast<int>(counts.size()));
    counts.push_back(count);
  }
  t.code.resize(distinct.size());
  for (std::size_t k = 0; k < distinct.size(); ++k) t.code[k] = rank[whole[k]];

  const int missing_int = trunc_int(d.missing_code);
  for (int c = 0; c < d.ncat[j]; ++c) {
    if (ori[c] == missing_int)
      report.printf(" %lld(missing)", counts[c]);
    else
      report.printf(" %lld(%d)", counts[c], ori[c]);
  }
  report.puts("\n");
  if (d.ncat[j] > 10) merge_rare_categories(d, j, counts, t.code, report);
}

}  // namespace

void data_summary(DataSet& d, std::vector<ValueTable>& tables, OutFile& report) {
  d.ori_catg.assign(d.ncov, {});
  for (int j = 0; j < d.ncov; ++j) {
    ValueTable& t = tables[j];
    // The values are ascending: the smallest and largest valid ones are the first and last.
    std::size_t first = 0;
    if (!t.value.empty() && t.value.front() == d.missing_code) first = 1;
    const bool seen = first < t.value.size();
    const double smallest = seen ? t.value[first] : 0.0, largest = seen ? t.value.back() : 0.0;
    if (d.ncat[j] == kOrdinal) {
      report.printf("%s:\t\t %f %f\n", d.name[j].c_str(), smallest, largest);
      t.code.resize(t.value.size());
      for (std::size_t k = 0; k < t.code.size(); ++k) t.code[k] = static_cast<int>(k);
    } else {
      recode_nominal(d, j, t, smallest, largest, report);
    }
  }
}
