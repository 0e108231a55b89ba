// The covariates as the split searches read them: one small integer code per cell, packed in
// as few bits as the covariate's codes need. An ordinal covariate's codes are the ranks of its
// distinct values (the missing code, being the smallest value, has rank 0); a nominal
// covariate's code is its category.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

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

struct CodedCovariates {
  std::vector<CodeCells> cells;            // per covariate
  std::vector<int> ncodes;                 // codes run 0 .. ncodes-1
  std::vector<int> missing_codes;          // code of a missing value (or category), -1 when none
  std::vector<char> is_nominal;            // ncat > 1
  std::vector<std::vector<double>> value;  // ordinal: the value of each code
  bool any_two_bit = false;                // some column has two-bit cells

  CodeColumn column(int v) const { return code_column(cells[v]); }
  int ncode(int v) const { return ncodes[v]; }
  int missing(int v) const { return missing_codes[v]; }
  bool nominal(int v) const { return is_nominal[v] != 0; }
  double cut_value(int v, int code_) const { return value[v][code_]; }

  // Two-bit columns can be counted by bit masks; nullptr for the wider ones.
  const std::uint64_t* two_bit_column(int v) const { return cells[v].bits == 2 ? cells[v].words.data() : nullptr; }
  bool has_two_bit_columns() const { return any_two_bit; }
  void prefetch_column(int v) const {
    const char* p = reinterpret_cast<const char*>(cells[v].words.data());
    const std::size_t bytes = cells[v].words.size() * 8;
    for (std::size_t b = 0; b < bytes; b += 64) __builtin_prefetch(p + b);
  }
};

// The cells of every case of covariate v, as plain integers.
std::vector<int> column_codes(const CodedCovariates& c, int v, int ncase);
