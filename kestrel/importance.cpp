// MCC importance statistic and the importance file.
#include <cmath>

#include "kestrel.hpp"
#include "outfile.hpp"

namespace forests {

double split_chisq(const std::vector<int>& table, int nclass, int n) {
  const int cells = 2 * nclass;
  double c = 0.0;
  for (int p = 0; p < cells; ++p)
    if (table[p] < 5) c = 0.5;
  long long right = 0, left = 0;
  for (int p = 0; p < cells; p += 2) {
    right += table[p];
    left += table[p + 1];
  }
  double sum = 0.0;
  for (int p = 0; p < cells; ++p) {
    const long long row = (p % 2 == 0) ? right : left;
    const long long col = table[p - p % 2] + table[p - p % 2 + 1];
    const double expected = static_cast<double>(row) * static_cast<double>(col) / static_cast<double>(n);
    if (expected == 0.0) return 0.0;
    const double d = std::fabs(static_cast<double>(table[p]) - expected) - c;
    sum += d * d / expected;
  }
  return sum;
}

void append_pass0_importance(const std::string& path, const DataSet& d, const std::vector<int>& var_usable,
                             const std::vector<double>& mcc_obs) {
  OutFile f(path, "a");
  f.printf("%d\nindex\tMCC importance\n", d.ncov);
  for (int j = 0; j < d.ncov; ++j) {
    if (var_usable[j]) {
      f.puts(d.name[j]);
      f.puts("\t");
      f.put_fixed(mcc_obs[j], '\n');
    } else {
      f.printf("%s\t0\n", d.name[j].c_str());
    }
  }
  f.close();
}

void append_permuted_max(const std::string& path, int q, double max) {
  OutFile f(path, "a");
  f.printf("max%d\t%f\n", q, max);
  f.close();
}

std::string lcc_list(const DataSet& d, const std::vector<int>& split_var, const std::vector<int>& parent, int node) {
  if (node < 0) return "NA";
  if (node == 0) return " ";
  std::string out;
  for (int a = node; parent[a] != 0;) {
    a = parent[a];
    out += d.name[split_var[a]] + " ";
  }
  return out + d.name[split_var[0]];
}

void write_final_importance(const std::string& path, const DataSet& d, const std::vector<int>& var_usable,
                            const PassResults& r, int nperm) {
  OutFile f(path, "w");
  f.printf("%d\nindex\tMCC importance\tp_value\tLCC\n", d.ncov);
  for (int j = 0; j < d.ncov; ++j) {
    if (!var_usable[j]) {
      f.printf("%s\t0\t1\tNA\n", d.name[j].c_str());
      continue;
    }
    f.puts(d.name[j]);
    f.puts("\t");
    f.put_fixed(r.mcc_obs[j], '\t');
    if (nperm > 0) {
      int above = 0;
      for (double m : r.perm_max) above += m > r.mcc_obs[j];
      f.put_fixed(above * 1.0 / nperm, '\t');
    } else {
      f.puts("NA\t");  // no permuted pass: no p-value
    }
    const int tree = r.where[j][0], node = r.where[j][1];
    if (node < 0)
      f.puts("NA");
    else
      f.puts(lcc_list(d, r.trace_spv[tree], r.trace_parent[tree], node));
    f.puts("\n");
  }
  for (int q = 1; q <= nperm; ++q) f.printf("max%d\t%f\tNA\tNA\n", q, r.perm_max[q - 1]);
  f.close();
}

}  // namespace forests
