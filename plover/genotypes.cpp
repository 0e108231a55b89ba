// The packed genotype store, and plover's readers of training files and of files to classify.
#include "genotypes.hpp"

#include <algorithm>
#include <cstdio>

#include "genotype_rows.hpp"
#include "prediction_file.hpp"

namespace forests {

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
  // In waves of groups: this thread makes room for a wave's columns, where the rows freed by
  // the wave before lay (other threads would take fresh memory of their own), and the threads
  // fill them.
  constexpr int kWave = 64;
  for (int w0 = 0; w0 < g.nword; w0 += kWave) {
    const int w1 = std::min(g.nword, w0 + kWave);
    for (int w = w0; w < w1; ++w)
      g.column_group[w].assign(static_cast<std::size_t>(std::min(16, g.ncov - 16 * w)) * g.stride, 0);
    run_tasks(pool, w1 - w0, [&](int k, int) {
      const int w = w0 + k;
      const int first = 16 * w;
      const int m = std::min(16, g.ncov - first);
      std::vector<std::uint64_t>& group = g.column_group[w];
      const std::uint32_t* row = g.geno[w].data();
      // 32 cases at a time: each column word is put together in a register.
      for (int b = 0; b < g.stride; ++b) {
        const std::uint32_t* words = row + 32 * b;
        const int n = std::min(32, g.ncase - 32 * b);
        for (int r = 0; r < m; ++r) {
          const int shift = g.shift[first + r];
          std::uint64_t word = 0;
          for (int i = 0; i < n; ++i) word |= static_cast<std::uint64_t>((words[i] >> shift) & 3u) << (2 * i);
          group[static_cast<std::size_t>(r) * g.stride + b] = word;
        }
      }
      std::vector<std::uint32_t>().swap(g.geno[w]);
    });
  }
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

void read_genotype_file(TokenReader& in, OutFile& report, DataSet& d, GenoStore& g, WorkerPool* pool,
                        std::size_t block_size) {
  const ColumnLayout layout = read_kind_line(in, "No data in the file\n");
  bool have_names = true;
  const std::vector<int> cov_of_col = read_column_heads(in, layout, d, have_names);
  g = make_geno_store(d.ncov);

  std::vector<int> labels;
  RowScan scan;
  if (have_names) {
    scan = read_genotype_rows(in, layout, cov_of_col, g, labels, pool, block_size);
    if (scan.unfinished) unfinished_row_error(scan);
  } else {
    columns_from_rows(g);
  }
  d.ncase = scan.rows;
  labels.resize(scan.rows);
  code_classes(labels, d);
  d.has_missing = false;

  set_genotype_categories(d);
  write_summary_head(report, d);
  write_genotype_summary(report, d, g);
}

void set_genotype_categories(DataSet& d) {
  for (int j = 0; j < d.ncov; ++j)
    if (d.ncat[j] != kOrdinal) d.ncat[j] = kMissingGenotype + 1;
}

namespace {

// Byte sums of the 2-bit fields of x, each 0 or 1: up to 4 a byte.
inline std::uint64_t field_sums(std::uint64_t x) {
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  return (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
}

inline long long byte_total(std::uint64_t x) {
  x = (x & 0x00FF00FF00FF00FFull) + ((x >> 8) & 0x00FF00FF00FF00FFull);
  return static_cast<long long>((x * 0x0001000100010001ull) >> 48);
}

// Fields of a column's words set in fields(word) (two-bit fields, each 0 or 1). Byte sums of up
// to 63 words fit a byte, and the loop runs on vector lanes where a popcount instruction may be
// missing.
template <class Fields>
long long count_fields(const std::uint64_t* column, int nword, Fields&& fields) {
  long long total = 0;
  for (int k0 = 0; k0 < nword; k0 += 63) {
    std::uint64_t sums = 0;
    for (int k = k0; k < std::min(nword, k0 + 63); ++k) sums += field_sums(fields(column[k]));
    total += byte_total(sums);
  }
  return total;
}

constexpr std::uint64_t kLowBits = 0x5555555555555555ull;

// The cases of each genotype in a column. The words hold zeros past the last case, which count
// as 0 and are taken off.
void count_genotypes(const std::uint64_t* column, int nword, int ncase, long long count[4]) {
  count[1] = count_fields(column, nword, [](std::uint64_t x) { return x & ~(x >> 1) & kLowBits; });
  count[2] = count_fields(column, nword, [](std::uint64_t x) { return (x >> 1) & ~x & kLowBits; });
  count[3] = count_missing(column, nword);
  count[0] = ncase - count[1] - count[2] - count[3];
}

}  // namespace

long long count_missing(const std::uint64_t* column, int nword) {
  return count_fields(column, nword, [](std::uint64_t x) { return x & (x >> 1) & kLowBits; });
}

void write_genotype_summary(OutFile& report, const DataSet& d, const GenoStore& g) {
  for (int j = 0; j < d.ncov; ++j) {
    if (d.ncat[j] == kOrdinal) {
      report.printf("%s:\t\t 0 2\n", d.name[j].c_str());
      continue;
    }
    long long count[4];
    count_genotypes(g.column(j), g.stride, g.ncase, count);
    report.printf("%s:\t\t", d.name[j].c_str());
    for (int c = 0; c < 3; ++c) report.printf(" %lld(%d)", count[c], c);
    if (count[kMissingGenotype] > 0) report.printf(" %lld(missing)", count[kMissingGenotype]);
    report.puts("\n");
  }
}

bool read_genotype_prediction(TokenReader& in, const DataSet& train, GenoStore& g) {
  g = make_geno_store(train.ncov);
  int ncase = 0;
  const PredictionRead read = read_prediction_rows(
      in, train.ncat_orig,
      [&](int row, int j, std::string_view token) {
        if (row == g.ncase) guarded_grow([&] { add_geno_case(g); }, "allocation failure in realloc");
        int genotype = kMissingGenotype;
        const GenotypeCell cell = read_genotype_cell(token, genotype);
        if (cell == GenotypeCell::not_a_number || cell == GenotypeCell::out_of_range) return false;
        pack_genotype(g, j, row, cell == GenotypeCell::missing ? kMissingGenotype : genotype);
        return true;
      },
      ncase);
  if (read == PredictionRead::no_token) std::fputs("No data in the file! ", stderr);
  // A file that ends before its name line does holds no case, and is classified as such.
  if (read != PredictionRead::qualified && read != PredictionRead::head_cut_short) {
    release_geno(g);
    return false;
  }
  g.ncase = ncase;
  columns_from_rows(g);
  return true;
}

}  // namespace forests
