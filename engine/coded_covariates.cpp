// Packing of covariate codes.
#include "coded_covariates.hpp"

#include "scaled_cells.hpp"

namespace forests {

int bits_for_codes(long long ncode) {
  if (ncode <= 4) return 2;
  if (ncode <= 256) return 8;
  if (ncode <= 65536) return 16;
  return 32;
}

void CodeCells::assign(int n, int ncode) {
  bits = bits_for_codes(ncode);
  words.assign(column_words(n, bits), 0);
}

double CodedCovariates::key_value(int v, int code_) const {
  const ColumnMeta& m = meta[v];
  return code_ == m.missing ? missing_value : scaled_value(keys[v][static_cast<std::size_t>(code_)], m.scale);
}

std::vector<int> column_codes(const CodedCovariates& c, int v, int ncase) {
  std::vector<int> out(ncase);
  const CodeColumn col = c.column(v);
  for (int i = 0; i < ncase; ++i) out[i] = col(i);
  return out;
}

}  // namespace forests
