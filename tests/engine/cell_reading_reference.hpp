// The plain forms of the cell reader: rows read token by token, every cell pushed to its column
// at once; value tables and the kept zero by sorting. The fast forms must agree with them.
#pragma once

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "cell_reading.hpp"
#include "column_tables.hpp"

namespace forests {

inline RowScan read_rows_reference(TokenReader& in, const CellRules& rules, std::vector<ColumnBeingRead>& columns,
                                   RowsRead& r) {
  const int ncols = static_cast<int>(rules.col_kind.size());
  std::vector<int> digit_spelling(static_cast<std::size_t>(ncols) * 10, -1);
  return scan_rows(in, ncols, [&](int row, int col, std::string_view token) {
    const int kind = rules.col_kind[col];
    if (kind <= 0) {
      read_other_cell(row, col, kind, token, rules.options, r);
      return true;
    }
    ColumnBeingRead& c = columns[rules.cov_of_col[col]];
    const unsigned digit = static_cast<unsigned>(token[0] - '0');
    int k;
    if (token.size() == 1 && digit < 10) {
      int& known = digit_spelling[static_cast<std::size_t>(col) * 10 + digit];
      if (known < 0) known = add_spelling(c, token, row, col, kind, rules.options, c.cells.size(), r);
      k = known;
    } else {
      k = c.spellings.find(token);
      if (k < 0) k = add_spelling(c, token, row, col, kind, rules.options, c.cells.size(), r);
    }
    c.cells.push(static_cast<std::uint32_t>(k));
    return true;
  });
}

inline ValueTable value_table_reference(const ColumnBeingRead& c, double missing_code, std::vector<int>& rank) {
  const int nsp = c.spellings.size();
  std::vector<long long> spelling_count(nsp, 0);
  c.cells.for_each([&](std::size_t, std::uint32_t k) { ++spelling_count[k]; });
  std::vector<std::pair<double, int>> order;
  bool missing = false;
  for (int k = 0; k < nsp; ++k) {
    if (std::isnan(c.value[k]))
      missing = true;
    else
      order.emplace_back(c.value[k], k);
  }
  std::sort(order.begin(), order.end());
  ValueTable t;
  rank.assign(nsp, 0);
  if (missing) {
    t.value.push_back(missing_code);
    t.count.push_back(0);
  }
  for (std::size_t q = 0; q < order.size(); ++q) {
    if (q == 0 || order[q].first != order[q - 1].first) {
      t.value.push_back(c.value[order[q].second]);
      t.count.push_back(0);
    }
    rank[order[q].second] = static_cast<int>(t.value.size()) - 1;
  }
  for (int k = 0; k < nsp; ++k) t.count[rank[k]] += spelling_count[k];
  return t;
}

// The zero that sorting the column's values and dropping repeats keeps (0.0 when none).
inline double zero_as_sorted_reference(const ColumnBeingRead& c, double missing_code) {
  std::vector<double> x(c.cells.size());
  c.cells.for_each([&](std::size_t i, std::uint32_t k) { x[i] = std::isnan(c.value[k]) ? missing_code : c.value[k]; });
  std::sort(x.begin(), x.end());
  x.erase(std::unique(x.begin(), x.end()), x.end());
  const auto zero = std::lower_bound(x.begin(), x.end(), 0.0);
  return zero != x.end() && *zero == 0.0 ? *zero : 0.0;
}

}  // namespace forests
