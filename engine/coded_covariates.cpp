#include "coded_covariates.hpp"

#include <algorithm>

CodedCovariates code_covariates(const DataSet& d) {
  CodedCovariates c;
  c.code.resize(d.ncov);
  c.ncodes.resize(d.ncov);
  c.missing_codes.assign(d.ncov, -1);
  c.is_nominal.resize(d.ncov);
  c.value.resize(d.ncov);
  const int missing_int = trunc_int(d.missing_code);
  for (int v = 0; v < d.ncov; ++v) {
    const auto& x = d.X[v];
    auto& code = c.code[v];
    code.resize(x.size());
    if (d.ncat[v] > 1) {
      c.is_nominal[v] = 1;
      c.ncodes[v] = d.ncat[v];
      for (std::size_t i = 0; i < x.size(); ++i) code[i] = static_cast<int>(x[i]);
      for (int k = 0; k < d.ncat[v]; ++k)
        if (d.ori_catg[v][k] == missing_int) c.missing_codes[v] = k;
      continue;
    }
    auto& value = c.value[v];
    value = x;
    std::sort(value.begin(), value.end());
    value.erase(std::unique(value.begin(), value.end()), value.end());
    c.ncodes[v] = static_cast<int>(value.size());
    for (std::size_t i = 0; i < x.size(); ++i)
      code[i] = static_cast<int>(std::lower_bound(value.begin(), value.end(), x[i]) - value.begin());
    if (!value.empty() && value.front() == d.missing_code) c.missing_codes[v] = 0;
  }
  return c;
}
