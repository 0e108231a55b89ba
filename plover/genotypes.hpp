// The packed genotype store and the readers of genotype data files.
//
// Genotypes are 0, 1, 2 or 3 (missing), two bits each. The reader of files to classify packs
// them 16 to a 32-bit word as the rows arrive: row w of `geno` holds covariates 16w .. 16w+15
// of every case, the first covariate of the group in the highest used bits; the last row may
// hold fewer covariates and then uses only its low bits.
//
// The forest reads whole covariates at a time, so once a file is read the store is turned
// into columns: covariate j keeps its genotypes in `stride` 64-bit words, 32 cases to a word,
// case i in bits 2(i mod 32) and 2(i mod 32) + 1 of word i / 32. The rows are freed one by
// one as their columns are made, so the store never holds the data twice. The training
// reader makes the columns as it reads (genotype_rows.hpp).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "data_set.hpp"
#include "parallel.hpp"

namespace forests {

constexpr int kMissingGenotype = 3;

struct GenoStore {
  int ncov = 0;
  int ncase = 0;
  int nword = 0;
  std::vector<std::vector<std::uint32_t>> geno;  // while reading: geno[w][i]
  std::vector<int> shift;                        // bit position of each covariate in its word
  int stride = 0;                                // words per column: ncase / 32, rounded up
  std::vector<std::vector<std::uint64_t>> column_group;  // group w: covariates 16w .. 16w+15

  const std::uint64_t* column(int j) const {
    return column_group[j / 16].data() + static_cast<std::size_t>(j % 16) * stride;
  }
};

// An empty store for `ncov` covariates.
GenoStore make_geno_store(int ncov);

// Turns the rows of `geno` into columns, freeing each row once its columns are made.
void columns_from_rows(GenoStore& g, WorkerPool* pool = nullptr);

inline int genotype_in(const std::uint64_t* column, int i) {
  return static_cast<int>((column[i >> 5] >> (2 * (i & 31))) & 3u);
}

// Missing genotypes (both bits set) in the `nword` words of a column.
long long count_missing(const std::uint64_t* column, int nword);

// Genotype of covariate j in case i (the store in columns).
inline int geno_get(const GenoStore& g, int j, int i) { return genotype_in(g.column(j), i); }

// Room for one more case, its words zeroed.
void add_geno_case(GenoStore& g);

// Covariate l of case i arrives in column order: the first of a group starts the word, each
// later one moves the word up two bits and takes the low ones.
inline void pack_genotype_into(std::uint32_t& word, int l, int genotype) {
  word = (l % 16 == 0) ? static_cast<std::uint32_t>(genotype) : 4u * word + static_cast<std::uint32_t>(genotype);
}

inline void pack_genotype(GenoStore& g, int l, int i, int genotype) { pack_genotype_into(g.geno[l / 16][i], l, genotype); }

// The genotype labels: category c of every covariate is written as c.
const std::vector<int>& geno_label();

// One column of the store as the split searches read it.
struct GenoColumn {
  const std::uint64_t* word;
  int operator()(int row) const { return genotype_in(word, row); }
};

// The store seen by the tree grower: four codes per covariate, the highest one missing.
struct GenoCovariates {
  const GenoStore* store;
  const std::vector<int>* ncat;

  GenoColumn column(int v) const { return {store->column(v)}; }
  const std::uint64_t* two_bit_column(int v) const { return store->column(v); }
  bool has_two_bit_columns() const { return true; }
  void prefetch_meta(int) const {}  // columns lie at a fixed stride: no record to fetch
  void prefetch_column(int v) const {
    const char* p = reinterpret_cast<const char*>(store->column(v));
    for (int b = 0; b < store->stride * 8; b += 64) __builtin_prefetch(p + b);
  }
  int ncode(int) const { return 4; }
  int missing(int) const { return kMissingGenotype; }
  bool nominal(int v) const { return (*ncat)[v] > 1; }
  double cut_value(int, int code) const { return code; }
};

// What one genotype cell holds.
enum class GenotypeCell { genotype, missing, not_a_number, out_of_range };

inline GenotypeCell read_other_genotype_cell(std::string_view token, int& genotype) {
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

inline GenotypeCell read_genotype_cell(std::string_view token, int& genotype) {
  if (token.size() == 1 && token[0] >= '0' && token[0] <= '2') {  // by far the most common cell
    genotype = token[0] - '0';
    return GenotypeCell::genotype;
  }
  return read_other_genotype_cell(token, genotype);
}

// Reads a genotype training file into the data set (no covariate matrix) and the store (in
// columns), and writes the data summary of the report: the head and the per-covariate lines.
// The banner of the tree lines is left to the caller. Blocks of block_size bytes and more are
// read at a time.
void read_genotype_file(TokenReader& in, OutFile& report, DataSet& d, GenoStore& g, WorkerPool* pool = nullptr,
                        std::size_t block_size = std::size_t{1} << 20);

// Nominal covariates get their four categories: genotypes 0, 1, 2 and missing.
void set_genotype_categories(DataSet& d);

// The data summary's line of each covariate: the range of an ordinal one, the count of each
// genotype of a nominal one.
void write_genotype_summary(OutFile& report, const DataSet& d, const GenoStore& g);

// Reads a file to classify into `g` (in columns). False, with `g` emptied, when its covariates
// do not line up with the training covariates in number and kind, or when a row is unfinished
// or holds a value that is no genotype. A file that ends inside its head holds no case.
bool read_genotype_prediction(TokenReader& in, const DataSet& train, GenoStore& g);

// Releases the store's memory.
void release_geno(GenoStore& g);

}  // namespace forests
