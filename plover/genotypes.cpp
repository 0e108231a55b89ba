#include "genotypes.hpp"

#include <algorithm>
#include <cstdio>

#include "row_blocks.hpp"

GenoStore make_geno_store(int ncov) {
  GenoStore g;
  g.ncov = ncov;
  g.nword = (ncov + 15) / 16;
  g.geno.assign(g.nword, {});
  g.shift.resize(ncov);
  for (int j = 0; j < ncov; ++j) {
    const int w = j / 16;
    const int m = (w == g.nword - 1) ? ncov - 16 * w : 16;  // covariates in this row
    g.shift[j] = 2 * (m - 1 - j % 16);
  }
  return g;
}

void columns_from_rows(GenoStore& g, WorkerPool* pool) {
  g.stride = (g.ncase + 31) / 32;
  g.column_group.assign(g.nword, {});
  run_tasks(pool, g.nword, [&](int w, int) {
    const int first = 16 * w;
    const int m = std::min(16, g.ncov - first);
    std::vector<std::uint64_t>& group = g.column_group[w];
    group.assign(static_cast<std::size_t>(m) * g.stride, 0);
    const std::uint32_t* row = g.geno[w].data();
    // 32 cases at a time: each column word is put together in a register.
    for (int b = 0; b < g.stride; ++b) {
      const std::uint32_t* words = row + 32 * b;
      const int n = std::min(32, g.ncase - 32 * b);
      for (int r = 0; r < m; ++r) {
        const int shift = g.shift[first + r];
        std::uint64_t word = 0;
        for (int k = 0; k < n; ++k) word |= static_cast<std::uint64_t>((words[k] >> shift) & 3u) << (2 * k);
        group[static_cast<std::size_t>(r) * g.stride + b] = word;
      }
    }
    std::vector<std::uint32_t>().swap(g.geno[w]);
  });
  g.geno.clear();
}

void add_geno_case(GenoStore& g) {
  for (auto& row : g.geno) {
    // Grow by a quarter (at least 500 cases): few copies, little unused room.
    if (row.size() == row.capacity()) row.reserve(row.capacity() + std::max<std::size_t>(500, row.capacity() / 4));
    row.push_back(0);
  }
  ++g.ncase;
}

void release_geno(GenoStore& g) {
  g.geno.clear();
  g.geno.shrink_to_fit();
  g.column_group.clear();
  g.column_group.shrink_to_fit();
  g.ncase = 0;
  g.stride = 0;
}

const std::vector<int>& geno_label() {
  static const std::vector<int> labels{0, 1, 2, 3};
  return labels;
}

GenotypeCell read_other_genotype_cell(std::string_view token, int& genotype) {
  if (token.size() == 1) {
    const char c = token[0];
    if (c == '.') return GenotypeCell::missing;
    if (c >= '3' && c <= '9') return GenotypeCell::out_of_range;
  }
  if (is_missing_token(token, false)) return GenotypeCell::missing;
  double v = 0.0;
  if (!parse_number(token, v)) return GenotypeCell::not_a_number;
  if (v != 0.0 && v != 1.0 && v != 2.0) return GenotypeCell::out_of_range;
  genotype = static_cast<int>(v);
  return GenotypeCell::genotype;
}

void read_genotype_file(TokenReader& in, OutFile& report, DataSet& d, GenoStore& g, WorkerPool* pool) {
  const ColumnLayout layout = read_kind_line(in, "No data in the file\n");
  const int ncols = static_cast<int>(layout.col_kind.size());
  bool have_names = true;
  const std::vector<int> cov_of_col = read_column_heads(in, layout, d, have_names);
  g = make_geno_store(d.ncov);

  std::vector<int> labels;
  auto grow_rows = [&](int rows) {
    guarded_grow(
        [&] {
          while (g.ncase < rows) add_geno_case(g);
          if (labels.size() < static_cast<std::size_t>(rows)) labels.resize(rows);
        },
        "allocation failure in realloc");
  };
  auto on_cell = [&](int row, int col, std::string_view token) {
    if (col == 0)  // the row's words, one in each group, are on their way while its cells are read
      for (auto& words : g.geno) __builtin_prefetch(words.data() + row, 1);
    const int kind = layout.col_kind[col];
    if (kind > 0) {
      const int l = cov_of_col[col];
      int genotype = kMissingGenotype;
      switch (read_genotype_cell(token, genotype)) {
        case GenotypeCell::not_a_number:
          invalid_data(row, col, token);
        case GenotypeCell::out_of_range:
          fail(format("Data error: row %d col %d not in {0, 1, 2, NA/.}\n", row, l));
        case GenotypeCell::missing:
          genotype = kMissingGenotype;
          break;
        case GenotypeCell::genotype:
          break;
      }
      pack_genotype(g, l, row, genotype);
      return true;
    }
    const bool missing = is_missing_token(token, false);
    double value = 0.0;
    if (!missing && !parse_number(token, value)) invalid_data(row, col, token);
    if (kind == kResponseColumn) labels[row] = response_label(row, col, token, missing);
    return true;
  };
  RowScan scan;
  if (have_names) {
    scan = scan_rows_side_by_side(in, ncols, pool, grow_rows, on_cell);
    if (scan.unfinished) unfinished_row_error(scan);
  }
  d.ncase = g.ncase = scan.rows;
  labels.resize(scan.rows);
  columns_from_rows(g, pool);
  code_classes(labels, d);
  d.has_missing = false;

  write_summary_head(report, d);
  genotype_summary(d, g, report);
}

void genotype_summary(DataSet& d, const GenoStore& g, OutFile& report) {
  for (int j = 0; j < d.ncov; ++j) {
    if (d.ncat[j] == kOrdinal) {
      report.printf("%s:\t\t 0 2\n", d.name[j].c_str());
      continue;
    }
    d.ncat[j] = 4;
    const GenoColumn col{g.column(j)};
    long long count[4] = {0, 0, 0, 0};
    for (int i = 0; i < g.ncase; ++i) ++count[col(i)];
    report.printf("%s:\t\t", d.name[j].c_str());
    for (int c = 0; c < 3; ++c) report.printf(" %lld(%d)", count[c], c);
    if (count[kMissingGenotype] > 0) report.printf(" %lld(missing)", count[kMissingGenotype]);
    report.puts("\n");
  }
}

namespace {

// The kind line of a file to classify: its covariate columns must match the training ones in
// number and kind. The response column is read like a skipped one.
bool prediction_columns_match(const std::vector<int>& kinds, const DataSet& train, std::vector<int>& cov_of_col) {
  cov_of_col.assign(kinds.size(), -1);
  int k = 0;
  for (std::size_t c = 0; c < kinds.size(); ++c) {
    if (kinds[c] <= 0) continue;
    if (k >= train.ncov || kinds[c] != train.ncat_orig[k]) return false;
    cov_of_col[c] = k++;
  }
  return k == train.ncov;
}

}  // namespace

bool read_genotype_prediction(TokenReader& in, const DataSet& train, GenoStore& g) {
  std::vector<int> kinds;
  if (!read_kind_letters(in, kinds)) {
    std::fputs("No data in the file! ", stderr);
    return false;
  }
  std::vector<int> cov_of_col;
  if (!prediction_columns_match(kinds, train, cov_of_col)) return false;

  const int ncols = static_cast<int>(kinds.size());
  in.rewind();
  skip_tokens(in, ncols);
  skip_tokens(in, ncols);
  g = make_geno_store(train.ncov);
  RowScan scan = scan_rows(in, ncols, [&](int row, int col, std::string_view token) {
    if (col == 0) guarded_grow([&] { add_geno_case(g); }, "allocation failure in realloc");
    const int l = cov_of_col[col];
    if (l < 0) {
      double value = 0.0;
      return is_missing_token(token, false) || parse_number(token, value);
    }
    int genotype = kMissingGenotype;
    const GenotypeCell cell = read_genotype_cell(token, genotype);
    if (cell == GenotypeCell::not_a_number || cell == GenotypeCell::out_of_range) return false;
    pack_genotype(g, l, row, cell == GenotypeCell::missing ? kMissingGenotype : genotype);
    return true;
  });
  if (scan.rejected || scan.unfinished) {
    release_geno(g);
    return false;
  }
  g.ncase = scan.rows;
  columns_from_rows(g);
  return true;
}
