#include <gtest/gtest.h>

#include <random>

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
