// Reading the data rows of a genotype training file: plain cells eight bytes at a time, the
// others token by token, and tiles of 32 rows turned into columns.
#include "genotype_rows.hpp"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "row_blocks.hpp"

namespace forests {

namespace {

constexpr std::uint64_t kCellLow = 0x0001000100010001ull;  // bit 0 of each cell byte

// Four cells "0 0 0 0 " as a word, each followed by the separator `sep`: xored with it, digits
// '0'-'2' become 0-2 and the separators 0.
constexpr std::uint64_t four_cells(char sep) {
  return 0x0030003000300030ull | static_cast<std::uint64_t>(static_cast<unsigned char>(sep)) * 0x0100010001000100ull;
}

// The four 2-bit values in the cell bytes of v (bits 0, 16, 32 and 48) side by side: the
// products of the other terms fall below bit 40 or past bit 63, without carries.
inline std::uint32_t gather_four(std::uint64_t v) {
  return static_cast<std::uint32_t>((v * 0x0001000400100040ull) >> 48) & 0xFF;
}

// Whether the cells of x, four bytes after the xor, hold 0-2 and the bytes after them 0.
inline bool four_digits(std::uint64_t x) { return ((x & 0xFFFCFFFCFFFCFFFCull) | (x & (x >> 1) & kCellLow)) == 0; }

// The same with some cells '.' (0x1E after the xor), which become 3.
bool four_with_dots(std::uint64_t x, std::uint32_t& bits) {
  constexpr std::uint64_t kCellBytes = 0x00FF00FF00FF00FFull;
  const std::uint64_t not_dot = ((((x ^ 0x001E001E001E001Eull) & kCellBytes) + kCellBytes) >> 8) & kCellLow;
  const std::uint64_t dot = not_dot ^ kCellLow;
  const std::uint64_t v = (x & ~(dot * 0xFF)) | (dot * 3);
  // A '3' among the cells has a message of its own.
  if (((v & 0xFFFCFFFCFFFCFFFCull) | (x & (x >> 1) & kCellLow)) != 0) return false;
  bits = gather_four(v);
  return true;
}

inline bool read_four_cells(const char* p, std::uint64_t pattern, std::uint32_t& bits) {
  static_assert(std::endian::native == std::endian::little, "the cell bytes are read as a little-endian word");
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  const std::uint64_t x = w ^ pattern;
  if (!four_digits(x)) return four_with_dots(x, bits);
  bits = gather_four(x);
  return true;
}

}  // namespace

bool four_plain_genotypes(const char* p, char sep, std::uint32_t& bits) {
  return read_four_cells(p, four_cells(sep), bits);
}

namespace {

constexpr int kTile = 32;
// Tiles turned into columns at once: eight fill a cache line of each column, unless their rows
// would take more than about 2 MB.
constexpr int kTilesAtOnce = 8;
constexpr std::size_t kStagedBytes = std::size_t{1} << 21;

// The rows of the tiles not yet in columns, a word per 32 covariates, and the columns as they
// grow: column r of a group starts at word r * tile_room_ until the end, when the columns are
// cut to their length.
class TileStaging {
 public:
  explicit TileStaging(GenoStore& g)
      : g_(g),
        nrw_((g.ncov + 31) / 32),
        tiles_at_once_(static_cast<int>(
            std::clamp<std::size_t>(kStagedBytes / (kTile * sizeof(std::uint64_t) * std::max(nrw_, 1)), 1, kTilesAtOnce))) {
    g_.column_group.assign(g_.nword, {});
  }

  std::uint64_t* row(int r) { return rows_.data() + static_cast<std::size_t>(r - first_) * nrw_; }

  // Room for the rows before `rows`, zeroed, and for their columns.
  void make_room(int rows) {
    if (rows <= end_) return;
    rows_.resize(static_cast<std::size_t>(rows - first_) * nrw_, 0);
    end_ = rows;
    const int tiles = (rows + kTile - 1) / kTile;
    // At first just the room asked for (expect_rows() may then tell more), later grown by a
    // quarter: few copies, little unused room.
    if (tiles > tile_room_) grow_columns(tile_room_ == 0 ? tiles : std::max({tiles, tile_room_ + tile_room_ / 4, 64}));
  }

  // Room in the columns for `rows` rows, when they have less.
  void expect_rows(int rows) {
    const int tiles = (rows + kTile - 1) / kTile;
    if (tiles > tile_room_) grow_columns(tiles);
  }

  // Turns the tiles whose rows all lie before `done` into columns, once there are enough of
  // them to fill a cache line of each column. The rows stay where they are (rows after them
  // may be read meanwhile) until drop_turned().
  void turn_ready_tiles(int done) {
    const int t0 = first_ / kTile, t1 = done / kTile;
    if (t1 - t0 < tiles_at_once_) return;
    for (int c = 0; c < nrw_; ++c)
      for (int t = t0; t < t1; ++t) tile_to_columns(t, c);
    turned_ = t1 * kTile;
  }

  void drop_turned() {
    rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(turned_ - first_) * nrw_);
    first_ = turned_;
  }

  // The last tile too, its rows past the end left zero, and the columns cut to `ncase` cases.
  void finish(int ncase, WorkerPool* pool) {
    const int whole = (ncase + kTile - 1) / kTile * kTile;
    make_room(whole);
    tiles_to_columns(whole / kTile, pool);
    g_.ncase = ncase;
    g_.stride = whole / kTile;
    for (int w = 0; w < g_.nword; ++w) cut_group(w);
    g_.geno.clear();
  }

 private:
  int group_size(int w) const { return std::min(16, g_.ncov - 16 * w); }

  void grow_columns(int tile_room) {
    const std::size_t kept = static_cast<std::size_t>(first_ / kTile);
    for (int w = 0; w < g_.nword; ++w) {
      std::vector<std::uint64_t> grown(static_cast<std::size_t>(group_size(w)) * tile_room);
      const std::uint64_t* from = g_.column_group[w].data();
      for (int r = 0; r < group_size(w); ++r)
        std::copy_n(from + static_cast<std::size_t>(r) * tile_room_, kept, grown.data() + static_cast<std::size_t>(r) * tile_room);
      g_.column_group[w].swap(grown);
    }
    tile_room_ = tile_room;
  }

  // The tiles before tile t1 into columns.
  void tiles_to_columns(int t1, WorkerPool* pool) {
    const int t0 = first_ / kTile;
    if (t1 <= t0) return;
    const int nchunk = std::min(nrw_, pool ? pool->threads() : 1);
    run_tasks(pool, nchunk, [&](int k, int) {
      for (int c = nrw_ * k / nchunk; c < nrw_ * (k + 1) / nchunk; ++c)
        for (int t = t0; t < t1; ++t) tile_to_columns(t, c);
    });
    turned_ = t1 * kTile;
    drop_turned();
  }

  // Word c of the rows of tile t: a word of covariates 32c .. 32c+31 (groups 2c and 2c+1).
  void tile_to_columns(int t, int c) {
    std::uint64_t a[kTile];
    const std::uint64_t* first = rows_.data() + static_cast<std::size_t>(t * kTile - first_) * nrw_ + c;
    for (int r = 0; r < kTile; ++r) a[r] = first[static_cast<std::size_t>(r) * nrw_];
    transpose_tile(a);
    const int n = std::min(kTile, g_.ncov - kTile * c);
    for (int half = 0; 16 * half < n; ++half) {
      std::uint64_t* to = g_.column_group[2 * c + half].data() + t;
      for (int r = 0; r < std::min(16, n - 16 * half); ++r) to[static_cast<std::size_t>(r) * tile_room_] = a[16 * half + r];
    }
  }

  void cut_group(int w) {
    std::vector<std::uint64_t>& group = g_.column_group[w];
    const std::size_t stride = g_.stride;
    if (static_cast<int>(stride) == tile_room_) return;
    for (int r = 1; r < group_size(w); ++r)
      std::memmove(group.data() + r * stride, group.data() + r * static_cast<std::size_t>(tile_room_),
                   stride * sizeof(std::uint64_t));
    group.resize(static_cast<std::size_t>(group_size(w)) * stride);
    if (group.capacity() - group.size() > group.size() / 16) group.shrink_to_fit();
  }

  GenoStore& g_;
  int nrw_;
  int tiles_at_once_;
  int first_ = 0;      // the first row held: a tile's first
  int turned_ = 0;     // rows before it are in columns
  int end_ = 0;        // rows before it have room
  int tile_room_ = 0;  // tiles the columns have room for
  std::vector<std::uint64_t> rows_;
};

// Puts the genotype of covariate l into a row.
inline void put_genotype(std::uint64_t* words, int l, int genotype) {
  words[l >> 5] |= static_cast<std::uint64_t>(genotype) << (2 * (l & 31));
}

class GenoRowReader {
 public:
  GenoRowReader(const ColumnLayout& layout, const std::vector<int>& cov_of_col, GenoStore& g, std::vector<int>& labels)
      : ncols_(static_cast<int>(layout.col_kind.size())),
        kind_(layout.col_kind),
        cov_(cov_of_col),
        plain_run_(ncols_ + 1, 0),
        staging_(g),
        labels_(labels) {
    for (int col = ncols_ - 1; col >= 0; --col) plain_run_[col] = kind_[col] > 0 ? plain_run_[col + 1] + 1 : 0;
  }

  // Room for the rows before `rows`.
  void make_room(int rows) {
    guarded_grow(
        [&] {
          staging_.make_room(rows);
          if (labels_.size() < static_cast<std::size_t>(rows)) labels_.resize(rows);
        },
        "allocation failure in realloc");
  }

  // Reads the tokens of b[0..len-1], the first one token `first_token` of the file, into
  // rows that have room. Returns the token index after them; a cell in error throws.
  long long read_block(const char* b, std::size_t len, long long first_token) {
    int row = static_cast<int>(first_token / ncols_);
    int col = static_cast<int>(first_token % ncols_);
    std::uint64_t* words = staging_.row(row);
    for (std::size_t i = 0;;) {
      while (i < len && TokenReader::is_space(b[i])) ++i;
      if (i >= len) break;
      if (col == 0) words = staging_.row(row);
      // A cell of one character followed by the separator may start plain cells ("NA", the
      // usual missing cell, and longer ones take the token path at once).
      if (plain_run_[col] >= 4 && i + 1 < len && b[i + 1] == sep_) {
        const std::size_t from = i;
        read_plain_cells(b, len, i, col, words);
        if (i != from) {
          if (col == ncols_) col = 0, ++row;
          continue;
        }
      }
      std::size_t j = i;
      while (j < len && !TokenReader::is_space(b[j])) ++j;
      read_token_cell(row, col, std::string_view(b + i, j - i), words);
      i = j;
      if (++col == ncols_) col = 0, ++row;
    }
    return static_cast<long long>(row) * ncols_ + col;
  }

  // Plain cells are separated as the first two cells of b[0..len-1]: by a tab or a space.
  void take_separator(const char* b, std::size_t len) {
    std::size_t i = 0;
    while (i < len && TokenReader::is_space(b[i])) ++i;
    while (i < len && !TokenReader::is_space(b[i])) ++i;
    sep_ = i < len && b[i] == '\t' ? '\t' : ' ';
    pattern_ = four_cells(sep_);
  }

  void expect_rows(int rows) {
    guarded_grow([&] { staging_.expect_rows(rows); }, "allocation failure in realloc");
  }
  void turn_ready_tiles(int done) { staging_.turn_ready_tiles(done); }
  void drop_turned() { staging_.drop_turned(); }
  void finish(int ncase, WorkerPool* pool) {
    guarded_grow([&] { staging_.finish(ncase, pool); }, "allocation failure in realloc");
  }

 private:
  // Plain genotype cells from b[i], four at a time while they last in the run of genotype
  // columns from `col`; moves i and col past them.
  void read_plain_cells(const char* b, std::size_t end, std::size_t& i, int& col, std::uint64_t* words) const {
    const int l = cov_[col];
    const int most = static_cast<int>(std::min<std::size_t>(plain_run_[col] / 4, (end - i) / 8));
    const char* p = b + i;
    // Each four fill a byte of the row, shifted as the first one lies in its byte: what is
    // shifted out goes into the next byte, which the first covariates of a row already use.
    unsigned char* bytes = reinterpret_cast<unsigned char*>(words) + l / 4;
    const int shift = 2 * (l % 4);
    unsigned carry = bytes[0];
    std::uint32_t bits = 0;
    int n = 0;
    // Eight at a time while all are digits, then four at a time.
    for (; n + 2 <= most; n += 2) {
      std::uint64_t x[2];
      std::memcpy(x, p + 8 * n, sizeof x);
      x[0] ^= pattern_;
      x[1] ^= pattern_;
      if (!four_digits(x[0]) || !four_digits(x[1])) break;
      const unsigned placed = carry | ((gather_four(x[0]) | gather_four(x[1]) << 8) << shift);
      bytes[n] = static_cast<unsigned char>(placed);
      bytes[n + 1] = static_cast<unsigned char>(placed >> 8);
      carry = placed >> 16;
    }
    for (; n < most && read_four_cells(p + 8 * n, pattern_, bits); ++n) {
      const unsigned placed = carry | (bits << shift);
      bytes[n] = static_cast<unsigned char>(placed);
      carry = placed >> 8;
    }
    if (carry != 0) bytes[n] = static_cast<unsigned char>(carry);
    col += 4 * n;
    i += 8 * static_cast<std::size_t>(n);
  }

  void read_token_cell(int row, int col, std::string_view token, std::uint64_t* words) {
    const int kind = kind_[col];
    if (kind > 0) {
      const int l = cov_[col];
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
      put_genotype(words, l, genotype);
      return;
    }
    const bool missing = is_missing_token(token, false);
    double value = 0.0;
    if (!missing && !parse_number(token, value)) invalid_data(row, col, token);
    if (kind == kResponseColumn) labels_[row] = response_label(row, col, token, missing);
  }

  int ncols_;
  const std::vector<int>& kind_;
  const std::vector<int>& cov_;
  std::vector<int> plain_run_;  // genotype columns from this one to the next other column or the row's end
  char sep_ = ' ';
  std::uint64_t pattern_ = four_cells(' ');
  TileStaging staging_;
  std::vector<int>& labels_;
};

}  // namespace

namespace {

// Moves the bytes of `from` past `cut` to the front of `to`, with room for block_size more.
void carry_rest(const Block& from, std::size_t cut, Block& to, std::size_t block_size) {
  to.filled = 0;
  to.reserve(from.filled - cut + block_size);
  std::memcpy(to.data.data(), from.data.data() + cut, from.filled - cut);
  to.filled = from.filled - cut;
}

}  // namespace

RowScan read_genotype_rows(TokenReader& in, const ColumnLayout& layout, const std::vector<int>& cov_of_col,
                           GenoStore& g, std::vector<int>& labels, WorkerPool* pool, std::size_t block_size) {
  const int ncols = static_cast<int>(layout.col_kind.size());
  GenoRowReader reader(layout, cov_of_col, g, labels);
  // Two blocks take turns: while one is read into rows, the next comes from the file and the
  // tiles done before are turned into columns, on another thread when there is one.
  Block blocks[2];
  blocks[0].take(in.take_read_ahead(), block_size);
  const long long rest_of_file = bytes_left(in.file());
  const long long data_bytes = rest_of_file < 0 ? -1 : rest_of_file + static_cast<long long>(blocks[0].filled);
  bool at_end = false;
  std::size_t len = next_block(in.file(), blocks[0], block_size, at_end);
  reader.take_separator(blocks[0].data.data(), len);
  long long tokens = 0;  // before the current block
  std::string last_token;
  for (int cur = 0;; cur = 1 - cur) {
    const Block& block = blocks[cur];
    // A token and the space after it take two bytes at least.
    reader.make_room(static_cast<int>((tokens + static_cast<long long>(len / 2) + 1) / ncols + 1));
    long long after = tokens;
    std::exception_ptr error;
    bool next_at_end = true;
    std::size_t next_len = 0;
    run_tasks(pool, 2, [&](int task, int) {
      if (task == 0) {
        try {
          after = reader.read_block(block.data.data(), len, tokens);
        } catch (...) {
          error = std::current_exception();
        }
        return;
      }
      if (!at_end) {
        carry_rest(block, len, blocks[1 - cur], block_size);
        next_len = next_block(in.file(), blocks[1 - cur], block_size, next_at_end);
      }
      reader.turn_ready_tiles(static_cast<int>(tokens / ncols));
    });
    if (error) std::rethrow_exception(error);
    // Rows like those of the first block fill the file: the columns take room for them at once
    // rather than grow bit by bit.
    if (tokens == 0 && after >= ncols && data_bytes > 0) {
      const double rows = static_cast<double>(after / ncols) * static_cast<double>(data_bytes) / static_cast<double>(len);
      reader.expect_rows(static_cast<int>(std::min(rows * 1.01 + kTile, 1e9)));
    }
    reader.drop_turned();
    if (after > tokens) last_token.assign(last_token_in(block.data.data(), len));
    tokens = after;
    if (at_end) break;
    at_end = next_at_end;
    len = next_len;
  }
  const RowScan scan = rows_scanned(tokens, ncols, last_token);
  if (!scan.unfinished) reader.finish(scan.rows, pool);
  return scan;
}

}  // namespace forests
