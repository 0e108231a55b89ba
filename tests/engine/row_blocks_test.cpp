#include <gtest/gtest.h>

#include <random>

#include "cpu_features.hpp"
#include "read_text.hpp"
#include "row_blocks.hpp"

using namespace forests;

namespace {

struct Scan {
  RowScan scan;
  std::vector<std::vector<std::pair<int, std::string>>> cells;  // per row: (column, token)
  std::string error;
  bool operator==(const Scan& o) const { return text() == o.text(); }
  std::string text() const {
    std::string t = format("rows %d rejected %d unfinished %d at %d last '%s' error '%s'\n", scan.rows, scan.rejected,
                           scan.unfinished, scan.unfinished_column, scan.last_token.c_str(), error.c_str());
    for (std::size_t row = 0; row < cells.size(); ++row)
      for (const auto& [col, token] : cells[row]) t += format("%zu,%d:%s ", row, col, token.c_str());
    return t;
  }
};

void PrintTo(const Scan& s, std::ostream* os) { *os << s.text(); }

// Reads `text` after its first token, token by token or in blocks. A token "x" stops the read
// with an error naming its place, a token "r" is refused.
Scan scan_text(const std::string& text, int ncols, bool blocks, WorkerPool* pool, std::size_t block_size) {
  Scan r;
  auto grow = [&](int rows) {
    if (r.cells.size() < static_cast<std::size_t>(rows)) r.cells.resize(rows);
  };
  auto on_cell = [&](int row, int col, std::string_view token) {
    if (token == "x") fail(format("x at %d %d\n", row, col));
    if (token == "r") return false;
    r.cells[row].emplace_back(col, std::string(token));
    return true;
  };
  read_through(
      text,
      [&](TokenReader& in, OutFile&) {
        std::string_view first;
        if (!in.next(first)) return;
        if (blocks) {
          r.scan = scan_rows_side_by_side(in, ncols, pool, grow, on_cell, block_size);
        } else {
          r.scan = scan_rows(in, ncols, [&](int row, int col, std::string_view token) {
            grow(row + 1);
            return on_cell(row, col, token);
          });
        }
      },
      r.error);
  // What other parts read past an error or a refusal is never used.
  if (!r.error.empty()) r.cells.clear();
  if (r.scan.rejected) r.cells.resize(r.scan.rows);
  return r;
}

std::string random_text(std::mt19937& gen, int ntokens, bool with_stops) {
  static const char* const kSpaces[] = {" ", " ", " ", "  ", "\t", "\n", "\r\n", "\r", " \n "};
  std::string text = "head";
  for (int k = 0; k < ntokens; ++k) {
    text += kSpaces[gen() % 9];
    const int kind = static_cast<int>(gen() % 100);
    if (with_stops && kind == 0) {
      text += gen() % 2 ? "x" : "r";
    } else {
      const int len = kind < 80 ? 1 : 1 + static_cast<int>(gen() % 12);
      for (int c = 0; c < len; ++c) text += static_cast<char>('0' + gen() % 10);
    }
  }
  if (gen() % 2) text += kSpaces[gen() % 9];
  return text;
}

}  // namespace

TEST(RowBlocks, SameRowsAsTokenByToken) {
  // Blocks of a few bytes to many rows, two and three parts or none, complete and unfinished
  // last rows, every kind of white space; stops by error or refusal anywhere.
  std::mt19937 gen(17);
  WorkerPool two(2), three(3);
  for (int trial = 0; trial < 60; ++trial) {
    const int ncols = 1 + static_cast<int>(gen() % 9);
    const std::string text = random_text(gen, static_cast<int>(gen() % 400), trial % 3 == 0);
    const Scan expected = scan_text(text, ncols, false, nullptr, 0);
    for (std::size_t block_size : {std::size_t{1}, std::size_t{7}, std::size_t{64}, std::size_t{1} << 20}) {
      ASSERT_EQ(scan_text(text, ncols, true, nullptr, block_size), expected) << trial << " " << block_size;
      ASSERT_EQ(scan_text(text, ncols, true, &two, block_size), expected) << trial << " " << block_size;
      ASSERT_EQ(scan_text(text, ncols, true, &three, block_size), expected) << trial << " " << block_size;
    }
  }
}

TEST(RowBlocks, EmptyRestAndOneHugeToken) {
  WorkerPool two(2);
  EXPECT_EQ(scan_text("head", 3, true, &two, 4), scan_text("head", 3, false, nullptr, 0));
  EXPECT_EQ(scan_text("head \n\n ", 3, true, &two, 4), scan_text("head \n\n ", 3, false, nullptr, 0));
  const std::string huge = "head " + std::string(5000, '7') + " 1 2";
  const Scan blocks = scan_text(huge, 3, true, &two, 16);
  EXPECT_EQ(blocks, scan_text(huge, 3, false, nullptr, 0));
  EXPECT_EQ(blocks.scan.rows, 1);
}

TEST(RowBlocks, TokenCursorAsByteByByte) {
  // Every kind of white space in runs, control bytes and bytes past 0x7f inside tokens, tokens
  // across the 64-byte steps and longer than several, texts that end inside a token or after
  // white space, starts at any token: the tokens are those of the plain scan, one by one and
  // (on wide vectors) a row's worth at once.
  std::mt19937 gen(47);
  static const char kSpace[] = " \t\n\v\f\r";
  static const char kToken[] = "09.-Nax\x01\x08\x0e\x1f\x7f\x80\xff!";
  for (int trial = 0; trial < 3000; ++trial) {
    std::string text;
    const int ntokens = 1 + static_cast<int>(gen() % 60);
    for (int k = 0; k < ntokens; ++k) {
      const int len = gen() % 8 == 0 ? 1 + static_cast<int>(gen() % 200) : 1 + static_cast<int>(gen() % 7);
      for (int c = 0; c < len; ++c) text += kToken[gen() % (sizeof kToken - 1)];
      const int spaces = gen() % 6 == 0 ? 1 + static_cast<int>(gen() % 70) : 1;
      for (int c = 0; c < spaces; ++c) text += kSpace[gen() % (sizeof kSpace - 1)];
    }
    if (gen() % 2) text.pop_back();
    std::vector<std::pair<std::size_t, std::size_t>> expected;
    for (std::size_t i = 0; i < text.size();) {
      while (i < text.size() && TokenReader::is_space(text[i])) ++i;
      std::size_t e = i;
      while (e < text.size() && !TokenReader::is_space(text[e])) ++e;
      if (e > i) expected.emplace_back(i, e);
      i = e;
    }
    const std::size_t first = gen() % expected.size();
    const std::size_t len = text.size();
    text.append(kBlockPadding, 'x');  // readable, not part of the text
    TokenCursor cursor(text.data(), expected[first].first, len);
    std::size_t start = 0, end = 0;
    for (std::size_t k = first; k < expected.size(); ++k) {
      ASSERT_TRUE(cursor.next(start, end)) << trial;
      ASSERT_EQ(start, expected[k].first) << trial << " token " << k;
      ASSERT_EQ(end, expected[k].second) << trial << " token " << k;
    }
    ASSERT_FALSE(cursor.next(start, end)) << trial;
    if (!cpu_has_wide_vectors()) continue;
    // The first n tokens at once, as many as there are, fewer, or one too many.
    const auto available = static_cast<int>(expected.size() - first);
    for (const int n : {available, 1 + static_cast<int>(gen() % available), available + 1}) {
      std::vector<std::uint32_t> starts(static_cast<std::size_t>(n) + 64), ends(starts.size());
      const bool found = token_bounds_wide(text.data(), expected[first].first, len, n, starts.data(), ends.data());
      ASSERT_EQ(found, n <= available) << trial << " " << n;
      for (int k = 0; found && k < n; ++k) {
        ASSERT_EQ(starts[k], expected[first + k].first) << trial << " token " << k;
        ASSERT_EQ(ends[k], expected[first + k].second) << trial << " token " << k;
      }
    }
  }
}

// Buffers cross from plain allocations to huge-page ones as they grow: what was written stays,
// whatever the size, and a block larger than a huge page is read whole.
TEST(BigBuffers, KeepTheirBytesAcrossTheHugePageSize) {
  BigBuffer<std::uint32_t> words;
  std::uint32_t next = 1;
  while (words.size() * sizeof(std::uint32_t) < 3 * kHugePage) {
    words.push_back(next);
    next = next * 2654435761u + 1;
  }
  words.resize(words.size() + 1000);  // new elements unfilled: written before they are read
  std::fill(words.end() - 1000, words.end(), 7u);
  next = 1;
  for (std::size_t i = 0; i + 1000 < words.size(); ++i, next = next * 2654435761u + 1) ASSERT_EQ(words[i], next) << i;
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(words.data()) % kHugePage, 0u);

  const std::string text = std::string(kHugePage + 12345, 'a') + " b";
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  Block block;
  bool at_end = false;
  const std::size_t len = next_block(f, block, 4096, at_end);
  std::fclose(f);
  EXPECT_TRUE(at_end);
  ASSERT_EQ(len, text.size());
  EXPECT_EQ(std::string(block.data.data(), len), text);
}
