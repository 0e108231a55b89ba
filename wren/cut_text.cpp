#include "cut_text.hpp"

namespace forests {

namespace {

enum Level { below = 0, at_cut = 1, above = 2 };

}  // namespace

std::vector<std::vector<int>> uniform_spellings(const DataSet& d, const CodedCovariates& store) {
  std::vector<std::vector<int>> spelling(d.ncov);
  for (int v = 0; v < d.ncov; ++v)
    if (!store.nominal(v)) spelling[v] = d.text[v].code_spelling;
  return spelling;
}

// Only whether a value lies below, at or above the cut decides where the cases of the cut value
// travel: swaps among values on the same side leave that pattern unchanged. A pass whose holder
// is above the cut takes the first case not above it; a holder at the cut then moves to the
// first case below it, which ends the pass. Positions not above the cut (and positions below
// it) ahead of the pass only ever disappear, so each list is walked once.
int exchange_sort_last_of_run(const std::vector<int>& codes, int cut) {
  const int n = static_cast<int>(codes.size());
  std::vector<int> level(n), case_at(n), below_pos, open_pos;
  for (int k = 0; k < n; ++k) {
    level[k] = codes[k] < cut ? below : codes[k] == cut ? at_cut : above;
    case_at[k] = k;
    if (level[k] != above) open_pos.push_back(k);
    if (level[k] == below) below_pos.push_back(k);
  }
  const int p = static_cast<int>(open_pos.size()) - 1;
  std::size_t next_open = 0, next_below = 0;
  auto first_after = [&](const std::vector<int>& pos, std::size_t& at, int i, auto fits) {
    while (at < pos.size() && (pos[at] <= i || !fits(level[pos[at]]))) ++at;
    return at < pos.size() ? pos[at] : -1;
  };
  auto swap_positions = [&](int i, int j) {
    std::swap(level[i], level[j]);
    std::swap(case_at[i], case_at[j]);
  };
  for (int i = 0; i <= p; ++i) {
    if (level[i] == above) swap_positions(i, first_after(open_pos, next_open, i, [](int l) { return l != above; }));
    if (level[i] == at_cut) {
      const int j = first_after(below_pos, next_below, i, [](int l) { return l == below; });
      if (j >= 0) swap_positions(i, j);
    }
  }
  return case_at[p];
}

std::string cut_off_text(const DataSet& d, const CodedCovariates& store, const std::vector<std::vector<int>>& spelling,
                         int v, int cut_code, const int* rows, int n) {
  const CellText& text = d.text[v];
  if (spelling[v][cut_code] >= 0) return text.spelling[spelling[v][cut_code]];
  const auto code = store.column(v);
  const auto cell_spelling = code_column(text.cell_spelling);
  std::vector<int> codes(n);
  int some = -1;
  bool alike = true;
  for (int k = 0; k < n; ++k) {
    codes[k] = code(rows[k]);
    if (codes[k] != cut_code) continue;
    if (some < 0)
      some = cell_spelling(rows[k]);
    else
      alike = alike && cell_spelling(rows[k]) == some;
  }
  if (alike) return text.spelling[some];
  return text.spelling[cell_spelling(rows[exchange_sort_last_of_run(codes, cut_code)])];
}

}  // namespace forests
