// Reading the data rows of a large file on several threads.
//
// The rest of the file is read a block at a time. Each block is cut at white space into one
// part per thread; the parts count their tokens side by side, which tells the row and column
// of every token, so each part can then be moved on to the start of a row and all of them
// read side by side: no row is shared by two parts of a block, and a row that runs over the
// end of a block is finished by the first part of the next. Tokens, rows and columns are
// exactly those of reading token by token (rows are counted in tokens, not lines).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "big_buffer.hpp"
#include "data_set.hpp"
#include "parallel.hpp"
#include "tokens.hpp"

namespace forests {

// White space as the token reader has it, in a form the compiler can run on vector lanes.
inline bool space_byte(unsigned char c) { return c == ' ' || static_cast<unsigned char>(c - 9) < 5; }

// Swaps the blocks of s x s two-bit elements off the diagonal of each 2s x 2s block of a[32];
// `low` marks the elements whose column has bit s clear.
template <int s>
inline void swap_off_diagonal(std::uint64_t a[32], std::uint64_t low) {
  for (int r0 = 0; r0 < 32; r0 += 2 * s)
    for (int r = r0; r < r0 + s; ++r) {
      const std::uint64_t t = ((a[r] >> (2 * s)) ^ a[r + s]) & low;
      a[r + s] ^= t;
      a[r] ^= t << (2 * s);
    }
}

// Transposes 32 x 32 two-bit elements: element c of a[r] (bits 2c, 2c+1) becomes element r
// of a[c]. Rows of two-bit cells become columns this way, a tile of 32 rows at a time.
inline void transpose_tile(std::uint64_t a[32]) {
  swap_off_diagonal<16>(a, 0x00000000FFFFFFFFull);
  swap_off_diagonal<8>(a, 0x0000FFFF0000FFFFull);
  swap_off_diagonal<4>(a, 0x00FF00FF00FF00FFull);
  swap_off_diagonal<2>(a, 0x0F0F0F0F0F0F0F0Full);
  swap_off_diagonal<1>(a, 0x3333333333333333ull);
}

// The end of the token that starts at b[i]: the first white space after it, or len. Eight
// bytes are looked at in one go: the first byte below '!' among them is found exactly (the
// borrow of the subtraction only ever runs toward later bytes).
inline std::size_t token_end(const char* b, std::size_t i, std::size_t len) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    while (i + 8 <= len) {
      std::uint64_t x;
      std::memcpy(&x, b + i, 8);
      const std::uint64_t below = (x - kOnes * '!') & ~x & kHigh;
      if (below == 0) {
        i += 8;
        continue;
      }
      const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(below) / 8);
      if (space_byte(static_cast<unsigned char>(b[at]))) return at;
      i = at + 1;  // a control byte inside the token
    }
  }
  while (i < len && !space_byte(static_cast<unsigned char>(b[i]))) ++i;
  return i;
}

// A bit per byte of p[0..63] that is white space (bit k for p[k]). Sixteen bytes are compared
// at once; their high bits are gathered by the processor's instruction for it where there is
// one, else by a multiplication per eight.
inline std::uint64_t space_bits(const char* p) {
  using Bytes = unsigned char __attribute__((vector_size(16)));
  std::uint64_t bits = 0;
  for (int q = 0; q < 4; ++q) {
    Bytes v;
    std::memcpy(&v, p + 16 * q, sizeof v);
    const auto space = (v == ' ') | (static_cast<Bytes>(v - 9) < 5);
#if defined(__SSE2__)
    using Chars = char __attribute__((vector_size(16)));
    bits |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(__builtin_ia32_pmovmskb128(reinterpret_cast<Chars>(space))))
            << (16 * q);
#else
    std::uint64_t half[2];
    std::memcpy(half, &space, sizeof half);
    for (int h = 0; h < 2; ++h) {
      if constexpr (std::endian::native == std::endian::big) half[h] = std::byteswap(half[h]);
      const std::uint64_t gathered = (((half[h] >> 7) & 0x0101010101010101ull) * 0x0102040810204080ull) >> 56;
      bits |= gathered << (16 * q + 8 * h);
    }
#endif
  }
  return bits;
}

// As space_bits for the 64 bytes from b[base], the bytes from b[len] on taken as white space.
inline std::uint64_t space_bits_before(const char* b, std::size_t base, std::size_t len) {
  if (len - base >= 64) return space_bits(b + base);
  std::uint64_t bits = ~std::uint64_t{0};
  for (std::size_t k = base; k < len; ++k)
    if (!space_byte(static_cast<unsigned char>(b[k]))) bits &= ~(std::uint64_t{1} << (k - base));
  return bits;
}

// The tokens of b[at..len-1] in order, b[at] starting one. Bytes are classed 64 at a time, so
// that finding a token's start does not wait on finding the end of the one before.
class TokenCursor {
 public:
  TokenCursor(const char* b, std::size_t at, std::size_t len)
      : b_(b), len_(len), base_(at), space_(space_bits_before(b, at, len)), starts_(~space_ & ((space_ << 1) | 1)) {}

  // The next token, b[start..end-1]; false when none is left.
  bool next(std::size_t& start, std::size_t& end) {
    while (starts_ == 0) {
      if (len_ - base_ <= 64) return false;
      const std::uint64_t carry = space_ >> 63;
      base_ += 64;
      space_ = space_bits_before(b_, base_, len_);
      starts_ = ~space_ & ((space_ << 1) | carry);
    }
    const int at = std::countr_zero(starts_);
    starts_ &= starts_ - 1;
    start = base_ + static_cast<std::size_t>(at);
    const std::uint64_t after = space_ >> at;
    end = after != 0 ? start + static_cast<std::size_t>(std::countr_zero(after)) : token_end(b_, base_ + 64, len_);
    return true;
  }

 private:
  const char* b_;
  std::size_t len_, base_;
  std::uint64_t space_, starts_;
};

// Where the first n tokens of b[at..len-1] lie, as a TokenCursor from `at` finds them: token j
// from start[j] to before end[j]. False when fewer than n start before len. Found 64 bytes at a
// time on wide vectors (only where cpu_has_wide_vectors); start and end need room for n + 64.
bool token_bounds_wide(const char* b, std::size_t at, std::size_t len, int n, std::uint32_t* start, std::uint32_t* end);

// Tokens (runs of non-space bytes) that start in b[0..n-1], b[-1] being taken as space.
std::size_t count_tokens(const char* b, std::size_t n);

// The position after `count` tokens from b[from] (or n when fewer remain).
std::size_t skip_tokens_in(const char* b, std::size_t from, std::size_t n, long long count);

// Bytes past a block's capacity that may be read (not written), so that a token near its end
// can be loaded eight bytes at once.
constexpr std::size_t kBlockPadding = 8;

// Bytes of the file read ahead: `filled` bytes in `data`, room for `capacity`.
struct Block {
  BigBuffer<char> data;  // capacity bytes and the padding after them
  std::size_t capacity = 0, filled = 0;

  void reserve(std::size_t n);                          // keeps the bytes held
  void drop_front(std::size_t n);                       // the rest moves to the front
  void take(const std::string& bytes, std::size_t more);  // holds `bytes`, with room for more
};

// The next block of the file: `block` keeps what it held past the last cut and gains up to
// `size` bytes more. Returns the length of the block to read now, which ends at white space or
// at the end of the file; `at_end` tells whether the file is done.
std::size_t next_block(std::FILE* file, Block& block, std::size_t size, bool& at_end);

// Bytes from the position of `file` to its end; -1 when the file cannot seek (a pipe).
long long bytes_left(std::FILE* file);

// One part of a block, read by one thread.
struct BlockPart {
  std::size_t begin = 0, end = 0;
  long long first_token = 0;  // index of its first token in the file
  long long stopped_at = -1;  // token index where on_cell refused or threw
  std::exception_ptr error;
};

// Cuts b[0..len-1] into parts, one per thread of the pool, that start at row starts (all but the
// first), the block starting at token index `tokens`. Returns the token index after the block.
long long plan_block_parts(const char* b, std::size_t len, int ncols, long long tokens, WorkerPool& pool,
                           std::vector<BlockPart>& parts);

// The last token of b[0..len-1], if any.
std::string_view last_token_in(const char* b, std::size_t len);

// The end of a scan that read `tokens` tokens: its complete rows, and the row the file ended in
// (with its last token) when the tokens stop inside one.
RowScan rows_scanned(long long tokens, int ncols, const std::string& last_token);

// The rows of the rest of the file, as scan_rows reads them (without a pool: in one part).
// grow_rows(rows) makes room for rows 0 .. rows-1 before their cells are read: with a pool
// for every row begun in a block before the block is read, so that on_cell(row, col, token)
// may then only touch data of its own row. Errors thrown by on_cell come out as they would
// reading token by token: the first in file order. Blocks hold block_size bytes and more.
template <class GrowRows, class OnCell>
RowScan scan_rows_side_by_side(TokenReader& in, int ncols, WorkerPool* pool, GrowRows&& grow_rows, OnCell&& on_cell,
                               std::size_t block_size = std::size_t{1} << 20) {
  std::vector<BlockPart> parts(pool ? pool->threads() : 1);
  Block block;
  block.take(in.take_read_ahead(), block_size);
  long long tokens = 0;  // before the current block
  std::string last_token;
  RowScan scan;
  for (bool at_end = false; !at_end;) {
    const std::size_t len = next_block(in.file(), block, block_size, at_end);
    const char* b = block.data.data();
    long long after = 0;  // token index after the block
    if (pool) {
      after = plan_block_parts(b, len, ncols, tokens, *pool, parts);
      grow_rows(static_cast<int>((after + ncols - 1) / ncols));
    } else {
      parts[0].begin = 0;
      parts[0].end = len;
      parts[0].first_token = tokens;
    }
    run_tasks(pool, static_cast<int>(parts.size()), [&](int p, int) {
      BlockPart& part = parts[p];
      part.stopped_at = -1;
      long long k = part.first_token;
      int row = static_cast<int>(k / ncols), col = static_cast<int>(k % ncols);
      try {
        for (std::size_t i = part.begin;;) {
          while (i < part.end && TokenReader::is_space(b[i])) ++i;
          if (i >= part.end) break;
          std::size_t j = i;
          while (j < part.end && !TokenReader::is_space(b[j])) ++j;
          if (!pool && col == 0) grow_rows(row + 1);
          if (!on_cell(row, col, std::string_view(b + i, j - i))) {
            part.stopped_at = k;
            return;
          }
          i = j;
          ++k;
          if (++col == ncols) col = 0, ++row;
        }
      } catch (...) {
        part.stopped_at = k;
        part.error = std::current_exception();
      }
      if (!pool) after = k;
    });
    for (const BlockPart& part : parts) {
      if (part.stopped_at < 0) continue;
      if (part.error) std::rethrow_exception(part.error);
      scan.rows = static_cast<int>(part.stopped_at / ncols);
      scan.rejected = true;
      return scan;
    }
    if (after > tokens) last_token.assign(last_token_in(b, len));
    tokens = after;
    block.drop_front(len);
  }
  return rows_scanned(tokens, ncols, last_token);
}

}  // namespace forests
