// The covariates as the split searches read them: one small integer code per cell, packed in
// as few bits as the covariate's codes need. An ordinal covariate's codes are the ranks of its
// distinct values (the missing code, being the smallest value, has rank 0); a nominal
// covariate's code is its category.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "big_buffer.hpp"

namespace forests {

// Cells of one covariate, `bits` (2, 8, 16 or 32) to a cell: case i in bits i*bits ..
// (i+1)*bits - 1 of the little-endian word array. A two-bit column thus holds 32 cases to a
// 64-bit word, case i in bits 2(i mod 32) and 2(i mod 32) + 1 of word i / 32, which bit-mask
// counting reads. One word of room at the end lets a cell be read with one 4-byte load.
struct CodeCells {
  int bits = 8;
  std::vector<std::uint64_t> words;

  // Zeroed room for n cells of codes below `ncode`, as few bits as they need.
  void assign(int n, int ncode);
  void set(int i, std::uint32_t code) {
    const std::size_t bit = static_cast<std::size_t>(i) * bits;
    std::uint64_t& w = words[bit >> 6];
    const std::uint64_t mask = bits == 32 ? 0xffffffffu : (std::uint64_t{1} << bits) - 1;
    w = (w & ~(mask << (bit & 63))) | (static_cast<std::uint64_t>(code) << (bit & 63));
  }
  int get(int i) const;
};

// Bits a cell needs for codes 0 .. ncode-1: 2, 8, 16 or 32.
int bits_for_codes(long long ncode);

// One column as the searches read it: the cell of a data row by a load, a shift and a mask,
// whatever the width.
struct CodeColumn {
  const unsigned char* base;
  unsigned bits;
  std::uint32_t mask;
  int operator()(int row) const {
    const std::size_t bit = static_cast<std::size_t>(row) * bits;
    std::uint32_t w;
    std::memcpy(&w, base + (bit >> 3), 4);
    return static_cast<int>((w >> (bit & 7)) & mask);
  }
};

inline CodeColumn code_column(const CodeCells& c) {
  return {reinterpret_cast<const unsigned char*>(c.words.data()), static_cast<unsigned>(c.bits),
          c.bits == 32 ? 0xffffffffu : (1u << c.bits) - 1};
}

inline int CodeCells::get(int i) const { return code_column(*this)(i); }

inline std::uint32_t code_mask(int bits) { return bits == 32 ? 0xffffffffu : (1u << bits) - 1; }

// Where one covariate lies in the store, and what its codes are.
struct ColumnMeta {
  std::size_t word = 0;   // its first word in CodedCovariates::words
  std::size_t value = 0;  // its value table's first entry in CodedCovariates::values
  int bits = 8;
  int ncode = 0;          // codes run 0 .. ncode-1
  int missing = -1;       // code of a missing value (or category), -1 when none
  int nominal = 0;        // ncat > 1: codes are categories
  int scale = -1;         // >= 0: an ordinal column of decimals, its values in CodedCovariates::keys
};

// Every covariate's cells in one array, each column a CodeCells layout of its own width, and
// one small record per covariate: a search reads its covariate's record, its cells and, for
// the winner's cut-off, its value table, and nothing else.
struct CodedCovariates {
  BigBuffer<std::uint64_t> words;  // the columns one after another
  std::vector<double> values;        // other ordinal columns' tables: the value of each code
  // Per covariate, of an ordinal column of decimals: the key of each code (twice its value times
  // 10^scale, -1 for minus zero), the reader's own list of them, which spares a table of doubles.
  std::vector<std::vector<std::int32_t>> keys;
  double missing_value = 0.0;        // the value of such a column's missing code
  std::vector<ColumnMeta> meta;      // per covariate
  bool any_two_bit = false;          // some column has two-bit cells

  CodeColumn column(int v) const {
    const ColumnMeta& m = meta[v];
    return {reinterpret_cast<const unsigned char*>(words.data() + m.word), static_cast<unsigned>(m.bits),
            code_mask(m.bits)};
  }
  int ncode(int v) const { return meta[v].ncode; }
  int missing(int v) const { return meta[v].missing; }
  bool nominal(int v) const { return meta[v].nominal != 0; }
  double cut_value(int v, int code_) const {
    return meta[v].scale >= 0 ? key_value(v, code_) : values[meta[v].value + static_cast<std::size_t>(code_)];
  }
  double key_value(int v, int code_) const;

  // Two-bit columns can be counted by bit masks; nullptr for the wider ones.
  const std::uint64_t* two_bit_column(int v) const { return meta[v].bits == 2 ? words.data() + meta[v].word : nullptr; }
  bool has_two_bit_columns() const { return any_two_bit; }
  void prefetch_meta(int v) const { __builtin_prefetch(&meta[v]); }
  void prefetch_column(int v) const {
    const std::size_t end = v + 1 < static_cast<int>(meta.size()) ? meta[v + 1].word : words.size();
    const char* p = reinterpret_cast<const char*>(words.data() + meta[v].word);
    const std::size_t bytes = (end - meta[v].word) * 8;
    for (std::size_t b = 0; b < bytes; b += 64) __builtin_prefetch(p + b);
  }
};

// A column of 8- or 16-bit cells read with one load of that width: the hot loops of the
// searches and partitions spare the multiplication and unaligned load of a CodeColumn.
template <class Cell>
struct FixedWidthColumn {
  static constexpr int kCellBits = 8 * sizeof(Cell);
  const unsigned char* base;
  int operator()(int row) const {
    Cell cell;
    std::memcpy(&cell, base + static_cast<std::size_t>(row) * sizeof(Cell), sizeof(Cell));
    return static_cast<int>(cell);
  }
};

// A column of two-bit cells, 32 to a word.
struct TwoBitColumn {
  const std::uint64_t* words;
  int operator()(int row) const { return static_cast<int>((words[row >> 5] >> ((row & 31) * 2)) & 3u); }
};

// read(column) with covariate v's column in the quickest form its width allows.
template <class Read>
decltype(auto) with_column(const CodedCovariates& store, int v, Read&& read) {
  const std::uint64_t* words = store.words.data() + store.meta[v].word;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(words);
  switch (store.meta[v].bits) {
    case 2: return read(TwoBitColumn{words});
    case 8: return read(FixedWidthColumn<std::uint8_t>{bytes});
    case 16: return read(FixedWidthColumn<std::uint16_t>{bytes});
    default: return read(store.column(v));
  }
}

// Words a column of n cells of `bits` bits takes in the store (one of room at the end).
inline std::size_t column_words(int n, int bits) { return (static_cast<std::size_t>(n) * bits + 63) / 64 + 1; }

// The cells of every case of covariate v, as plain integers.
std::vector<int> column_codes(const CodedCovariates& c, int v, int ncase);

}  // namespace forests
