// Reading the data rows of a large file in blocks, cut into parts read on several threads.
#include "row_blocks.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <immintrin.h>

#include "cpu_features.hpp"

namespace forests {

FORESTS_WIDE_VECTORS_BEGIN

namespace {

// Appends base + k for every bit k set in `bits`, sixteen places at a time; returns how many.
// Each sixteen are packed in a register and stored whole, which is much faster than storing
// just the packed ones: up to 16 places past those appended are written over (within the room
// token_bounds_wide asks for: a block of 64 bytes lists at most 32 places of each kind). All
// four sixteens are stored, without a branch on which hold places.
FORESTS_WIDE_VECTORS inline std::size_t list_places(std::uint64_t bits, std::size_t base, std::uint32_t* out) {
  const __m512i lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  std::size_t count = 0;
  for (int q = 0; q < 4; ++q, bits >>= 16) {
    const auto some = static_cast<__mmask16>(bits & 0xffff);
    const __m512i places = _mm512_add_epi32(lane, _mm512_set1_epi32(static_cast<int>(base + 16 * static_cast<std::size_t>(q))));
    _mm512_storeu_si512(out + count, _mm512_maskz_compress_epi32(some, places));
    count += static_cast<std::size_t>(__builtin_popcount(some));
  }
  return count;
}

// space_bits_before in one compare of all 64 bytes.
FORESTS_WIDE_VECTORS inline std::uint64_t space_bits_wide(const char* b, std::size_t base, std::size_t len) {
  if (len - base < 64) return space_bits_before(b, base, len);
  const __m512i x = _mm512_loadu_si512(b + base);
  return _mm512_cmpeq_epi8_mask(x, _mm512_set1_epi8(' ')) |
         _mm512_cmplt_epu8_mask(_mm512_sub_epi8(x, _mm512_set1_epi8(9)), _mm512_set1_epi8(5));
}

}  // namespace

// A token starts at a byte that is not space after one that is (b[at - 1] taken as one) and
// ends at a space byte after one that is not.
FORESTS_WIDE_VECTORS bool token_bounds_wide(const char* b, std::size_t at, std::size_t len, int n, std::uint32_t* start,
                                            std::uint32_t* end) {
  const auto want = static_cast<std::size_t>(n);
  std::size_t starts = 0, ends = 0;
  std::uint64_t space_before = 1;
  for (std::size_t base = at; starts < want || ends < want; base += 64) {
    if (base >= len) {
      if (starts < want) return false;
      end[ends++] = static_cast<std::uint32_t>(len);  // the last token runs to len
      break;
    }
    const std::uint64_t space = space_bits_wide(b, base, len);
    const std::uint64_t after_space = (space << 1) | space_before;
    space_before = space >> 63;
    starts += list_places(~space & after_space, base, start + starts);
    ends += list_places(space & ~after_space, base, end + ends);
  }
  return true;
}

FORESTS_WIDE_VECTORS_END

std::size_t count_tokens(const char* b, std::size_t n) {
  if (n == 0) return 0;
  const auto* u = reinterpret_cast<const unsigned char*>(b);
  std::size_t count = space_byte(u[0]) ? 0 : 1;
  for (std::size_t i = 1; i < n; ++i)
    count += static_cast<std::size_t>(static_cast<int>(space_byte(u[i - 1])) & static_cast<int>(!space_byte(u[i])));
  return count;
}

std::size_t skip_tokens_in(const char* b, std::size_t from, std::size_t n, long long count) {
  std::size_t i = from;
  for (long long k = 0; k < count; ++k) {
    while (i < n && TokenReader::is_space(b[i])) ++i;
    if (i >= n) return n;
    while (i < n && !TokenReader::is_space(b[i])) ++i;
  }
  return i;
}

void Block::reserve(std::size_t n) {
  if (n <= capacity) return;
  n = std::max(n, 2 * capacity);  // a token longer than many blocks is still read in linear time
  BigBuffer<char> grown(n + kBlockPadding);  // not cleared: the bytes are read over at once
  std::memset(grown.data() + n, 0, kBlockPadding);
  if (filled > 0) std::memcpy(grown.data(), data.data(), filled);
  data.swap(grown);
  capacity = n;
}

void Block::take(const std::string& bytes, std::size_t more) {
  reserve(bytes.size() + more);
  std::memcpy(data.data(), bytes.data(), bytes.size());
  filled = bytes.size();
}

void Block::drop_front(std::size_t n) {
  std::memmove(data.data(), data.data() + n, filled - n);
  filled -= n;
}

std::size_t next_block(std::FILE* file, Block& block, std::size_t size, bool& at_end) {
  at_end = false;
  std::size_t scanned = 0;  // bytes known to hold no white space, from a pass before
  for (;;) {
    const std::size_t want = block.filled + size;
    block.reserve(want);
    while (block.filled < want) {
      const std::size_t got = std::fread(block.data.data() + block.filled, 1, want - block.filled, file);
      if (got == 0) {
        at_end = true;
        return block.filled;
      }
      block.filled += got;
    }
    // End at the last white space; a block without any (one huge token) reads on.
    std::size_t cut = block.filled;
    while (cut > scanned && !TokenReader::is_space(block.data[cut - 1])) --cut;
    if (cut > scanned) return cut - 1;
    scanned = block.filled;
  }
}

long long plan_block_parts(const char* b, std::size_t len, int ncols, long long tokens, WorkerPool& pool,
                           std::vector<BlockPart>& parts) {
  const int nparts = static_cast<int>(parts.size());
  for (int p = 0; p < nparts; ++p) {
    std::size_t at = len * p / nparts;
    while (p > 0 && at < len && !TokenReader::is_space(b[at])) ++at;
    parts[p].begin = at;
  }
  for (int p = 0; p < nparts; ++p) parts[p].end = p + 1 < nparts ? parts[p + 1].begin : len;
  std::vector<std::size_t> counts(nparts);
  pool.run(nparts, [&](int p, int) { counts[p] = count_tokens(b + parts[p].begin, parts[p].end - parts[p].begin); });
  long long index = tokens;
  for (int p = 0; p < nparts; ++p) {
    parts[p].first_token = index;
    index += static_cast<long long>(counts[p]);
  }
  // The first row start at or after a point moves on with the point, so the parts stay in
  // order; a part without a row start of its own ends up empty.
  for (int p = 1; p < nparts; ++p) {
    const long long to_row_start = (ncols - parts[p].first_token % ncols) % ncols;
    parts[p].begin = skip_tokens_in(b, parts[p].begin, len, to_row_start);
    parts[p].first_token += to_row_start;
  }
  for (int p = 0; p < nparts; ++p) parts[p].end = p + 1 < nparts ? parts[p + 1].begin : len;
  return index;
}

long long bytes_left(std::FILE* file) {
  const long at = std::ftell(file);
  if (at < 0 || std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long end = std::ftell(file);
  std::fseek(file, at, SEEK_SET);  // back where it was: a file that went to its end comes back
  return end < at ? -1 : end - at;
}

RowScan rows_scanned(long long tokens, int ncols, const std::string& last_token) {
  RowScan scan;
  scan.rows = static_cast<int>(tokens / ncols);
  if (tokens % ncols != 0) {
    scan.unfinished = true;
    scan.unfinished_column = static_cast<int>(tokens % ncols);
    scan.last_token = last_token;
  }
  return scan;
}

std::string_view last_token_in(const char* b, std::size_t len) {
  std::size_t e = len;
  while (e > 0 && TokenReader::is_space(b[e - 1])) --e;
  std::size_t s = e;
  while (s > 0 && !TokenReader::is_space(b[s - 1])) --s;
  return std::string_view(b + s, e - s);
}

}  // namespace forests
