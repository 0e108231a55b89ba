// The reader's fast paths against their plain forms on random data: decimal parsing, the
// spelling tables, packed code columns and whole files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <random>

#include "cpu_features.hpp"
#include "read_text.hpp"
#include "scaled_cells.hpp"
#include "spellings.hpp"
#include "split_search.hpp"
#include "split_search_reference.hpp"

using namespace forests;

namespace {

std::string random_decimal(std::mt19937& rng) {
  std::string s;
  switch (rng() % 4) {
    case 0: s = "-"; break;
    case 1: s = rng() % 2 ? "+" : ""; break;
    default: break;
  }
  const int before = static_cast<int>(rng() % 9), after = static_cast<int>(rng() % 10) - 2;
  for (int k = 0; k < before; ++k) s += static_cast<char>('0' + rng() % 10);
  if (after >= 0) s += '.';
  for (int k = 0; k < after; ++k) s += static_cast<char>('0' + rng() % 10);
  const int tail = static_cast<int>(rng() % 12);
  if (tail == 0) {
    s += 'e';
    s += std::to_string(static_cast<int>(rng() % 40) - 20);
  }
  if (tail == 1) s += "x";
  return s;
}

}  // namespace

TEST(CodedReading, DecimalsParseAsStrtodReadsThem) {
  std::mt19937 rng(5);
  for (int round = 0; round < 200000; ++round) {
    const std::string token = random_decimal(rng);
    char* stop = nullptr;
    const double expected = std::strtod(token.c_str(), &stop);
    double got = 0.0;
    const bool ok = parse_number(token, got);
    ASSERT_EQ(ok, stop != token.c_str()) << token;
    if (!ok) continue;
    ASSERT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << token;  // bit for bit: -0 stays -0
  }
}

TEST(CodedReading, PaddedDecimalsReadAsByteByByte) {
  // Short tokens of digits, points, signs and other bytes, followed by anything: read a word at
  // a time as byte by byte. A plain decimal is canonical exactly when it is spelled as its
  // scaled cell is printed.
  std::mt19937 rng(11);
  static const char kBytes[] = "0123456789000..-+e x\x01\xb0";
  for (int round = 0; round < 200000; ++round) {
    const std::size_t n = rng() % 10;
    char buffer[24];
    for (char& c : buffer) c = static_cast<char>(rng());
    for (std::size_t i = 0; i < n; ++i) buffer[i] = kBytes[rng() % (sizeof kBytes - 1)];
    const std::string_view token(buffer, n);
    PlainDecimal expected, got;
    const bool ok = read_plain_decimal(token, expected);
    ASSERT_EQ(read_plain_decimal_padded(token, got), ok) << token;
    if (!ok) continue;
    ASSERT_EQ(got.digits, expected.digits) << token;
    ASSERT_EQ(got.decimals, expected.decimals) << token;
    ASSERT_EQ(got.negative, expected.negative) << token;
    ASSERT_EQ(got.canonical, expected.canonical) << token;
    const auto twice = static_cast<std::int32_t>(2 * got.digits);
    const std::int32_t key = !got.negative ? twice : got.digits == 0 ? -1 : -twice;
    ASSERT_EQ(scaled_spelling(key, got.decimals) == token, got.canonical) << token;
  }
}

TEST(CodedReading, PrintedKeysAgreeWithTheKeysOfParsedDecimals) {
  // Tokens of up to 7 bytes, any bytes after them, every scale: a key made from the word is the
  // key own_form_key makes of the parsed token, with spellings kept or not; and every number
  // printed with the scale's decimals gets one.
  std::mt19937 rng(17);
  static const char kBytes[] = "0123456789000..-+e x\x01\xb0";
  for (int round = 0; round < 300000; ++round) {
    const int scale = static_cast<int>(rng() % 8);
    char buffer[8];
    for (char& c : buffer) c = static_cast<char>(rng());
    std::string token;
    if (round % 2) {
      const double v = static_cast<double>(static_cast<int>(rng() % 200001) - 100000) / 1000.0;
      token = format("%.*f", scale, rng() % 20 == 0 ? -0.0 : v);
      if (token.size() > 7) continue;
    } else {
      const std::size_t n = 1 + rng() % 7;
      for (std::size_t i = 0; i < n; ++i) token += kBytes[rng() % (sizeof kBytes - 1)];
    }
    std::memcpy(buffer, token.data(), token.size());
    std::uint64_t word;
    std::memcpy(&word, buffer, 8);
    const std::int32_t key = printed_scaled_key(word, static_cast<int>(token.size()), scale);
    PlainDecimal d;
    if (round % 2) {
      ASSERT_NE(key, kOtherForm) << token << " " << scale;
    }
    if (key == kOtherForm) continue;
    ASSERT_TRUE(read_plain_decimal(token, d)) << token;
    ASSERT_EQ(key, own_form_key(d, scale, true)) << token << " " << scale;
    ASSERT_EQ(key, own_form_key(d, scale, false)) << token << " " << scale;
  }
}

TEST(CodedReading, WideKeysAgreeWithPrintedKeys) {
  // Eight tokens at a time, printed decimals, "NA" and odd bytes of every length up to 9, columns
  // of every scale and without keys: the keys of the wide path are those printed_scaled_key makes,
  // and "NA"'s missing key.
  if (!cpu_has_wide_vectors()) GTEST_SKIP() << "no wide vectors";
  std::mt19937 rng(19);
  static const char kBytes[] = "0123456789000..-+e xN";
  int keyed = 0;
  for (int round = 0; round < 40000; ++round) {
    std::string block;
    std::uint32_t at[16];
    int scale[8];
    for (int q = 0; q < 8; ++q) {
      scale[q] = static_cast<int>(rng() % 11) - 1;
      std::string token;
      if (rng() % 2) {
        const double v = static_cast<double>(static_cast<int>(rng() % 200001) - 100000) / 1000.0;
        const int decimals = static_cast<int>(rng() % 8);
        if (rng() % 4 != 0) scale[q] = decimals;  // mostly of the column's own form
        token = format("%.*f", decimals, rng() % 20 == 0 ? -0.0 : v);
      } else {
        const std::size_t n = rng() % 10;
        for (std::size_t i = 0; i < n; ++i) token += kBytes[rng() % (sizeof kBytes - 1)];
      }
      if (rng() % 30 == 0) token = "NA";
      if (token.size() > 9) token.resize(9);
      at[2 * q] = static_cast<std::uint32_t>(block.size());
      at[2 * q + 1] = static_cast<std::uint32_t>(token.size());
      block += token;
      block += static_cast<char>(rng() % 2 ? ' ' : rng());  // what follows a token: anything
    }
    block.append(8, 'x');
    std::int32_t key[8];
    printed_scaled_keys_wide(block.data(), at, scale, key);
    for (int q = 0; q < 8; ++q) {
      const std::uint32_t n = at[2 * q + 1];
      std::int32_t expected = kOtherForm;
      if (scale[q] >= 0 && n < 8) {
        std::uint64_t word;
        std::memcpy(&word, block.data() + at[2 * q], 8);
        expected = printed_scaled_key(word, static_cast<int>(n), scale[q]);
        if (block.compare(at[2 * q], n, "NA") == 0) expected = kMissingNa;
      }
      ASSERT_EQ(key[q], expected) << block.substr(at[2 * q], n) << " " << scale[q];
      keyed += expected != kOtherForm ? 1 : 0;
    }
  }
  EXPECT_GT(keyed, 40000);
}

TEST(CodedReading, SpellingTableNumbersSpellingsInOrderOfFirstAppearance) {
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    SpellingTable table;
    SpellingCells cells;
    std::map<std::string, int> plain;
    std::vector<std::uint32_t> expected;
    const int range = 1 + static_cast<int>(rng() % 3000);
    const bool stop = round % 5 == 0;
    for (int i = 0; i < 4000; ++i) {
      const int v = static_cast<int>(rng() % range);
      std::string token = std::to_string(v);
      if (v % 3 == 0) token += std::string(static_cast<std::size_t>(v % 13), 'y');  // some longer than 8 bytes
      int k = table.find(token);
      if (k < 0) {
        k = table.add(token);
        if (stop && table.size() == 100) table.stop_finding();
      }
      if (table.finding()) {
        auto [at, fresh] = plain.emplace(token, static_cast<int>(plain.size()));
        ASSERT_EQ(k, at->second) << token;
      }
      ASSERT_EQ(table.spelling(k), token);
      cells.push(static_cast<std::uint32_t>(k));
      expected.push_back(static_cast<std::uint32_t>(k));
    }
    ASSERT_EQ(cells.size(), expected.size());
    cells.for_each([&](std::size_t i, std::uint32_t k) { ASSERT_EQ(k, expected[i]); });
  }
}

TEST(CodedReading, DistinctKeysAndTheirIndicesAsBySorting) {
  // Keys close together (found by bits) and spread widely (found by bisection), the missing keys,
  // -0 beside 0, the extremes that fit; and whether they are fewer than a limit, near as many.
  std::mt19937 rng(13);
  const std::int32_t largest = static_cast<std::int32_t>(2 * kLargestScaled);
  std::vector<std::uint8_t> seen;  // room shared by the rounds, as by a file's columns
  for (int round = 0; round < 200; ++round) {
    ScaledCells s;
    const int n = 1 + static_cast<int>(rng() % 3000);
    const std::int64_t spread = round % 3 == 0   ? largest
                                : round % 3 == 1 ? 100 + static_cast<std::int64_t>(rng() % 600)
                                                 : 1 + static_cast<std::int64_t>(rng() % 20000);
    for (int i = 0; i < n; ++i) {
      const unsigned pick = rng() % 40;
      std::int32_t k = 2 * static_cast<std::int32_t>(static_cast<std::int64_t>(rng() % (spread + 1)) - spread / 2);
      if (pick == 0) k = kMissingNa + static_cast<std::int32_t>(rng() % 3);
      if (pick == 1) k = -1;
      if (pick == 2 && round % 3 == 0) k = rng() % 2 ? largest : -largest;
      append_key(s, k);
    }
    std::vector<std::int32_t> expected = s.key;
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    const DistinctKeys d = distinct_keys(s);
    ASSERT_EQ(d.key, expected) << round;
    const DistinctKeys shared = distinct_keys(s, seen);
    ASSERT_EQ(shared.key, expected) << round;
    ASSERT_EQ(shared.present, d.present) << round;
    ASSERT_EQ(shared.before, d.before) << round;
    ASSERT_TRUE(std::all_of(seen.begin(), seen.end(), [](std::uint8_t b) { return b == 0; })) << round;
    for (std::size_t limit : {std::size_t{2}, std::size_t{200}, std::size_t{256}})
      ASSERT_EQ(fewer_values(s, limit), expected.size() < limit) << round << " " << limit;
    std::vector<std::uint32_t> room(rng() % 2 ? 0 : 1 << 20, 7);  // fresh or used before
    const KeyIndex index(d, s.key.size(), room);
    for (const std::int32_t k : s.key) {
      const auto at = static_cast<std::uint32_t>(std::lower_bound(expected.begin(), expected.end(), k) - expected.begin());
      ASSERT_EQ(key_index(d, k), at) << round;
      ASSERT_EQ(index(k), at) << round;
    }
    // Numbered in one go where the keys lie close (always so for the narrow spreads), the same
    // keys and indexes; cells spread wider left as they were.
    ScaledCells numbered = s;
    DistinctKeys found;
    std::vector<std::uint32_t> slots(rng() % 2 ? 0 : 1 << 16, 7);
    const bool close = number_among_distinct_keys(numbered, found, seen, slots);
    ASSERT_TRUE(close || round % 3 != 1) << round;
    ASSERT_TRUE(std::all_of(seen.begin(), seen.end(), [](std::uint8_t b) { return b == 0; })) << round;
    if (!close) {
      ASSERT_EQ(numbered.key, s.key) << round;
      continue;
    }
    ASSERT_EQ(found.key, expected) << round;
    for (int m = 0; m < 3; ++m)
      ASSERT_TRUE(s.missing[m] == 0 || found.missing_index[m] == d.missing_index[m]) << round << " " << m;
    for (std::size_t i = 0; i < s.key.size(); ++i)
      ASSERT_EQ(static_cast<std::uint32_t>(numbered.key[i]), key_index(d, s.key[i])) << round << " " << i;
  }
}

TEST(CodedReading, ScaledCellsKeepTheirBoundsAndMissingCellsAsTheyCome) {
  // Runs of keys of the column's own form and missing ones, cells of other forms that raise the
  // scale or are missing: the bounds and counts kept on the way are those of the keys held.
  std::mt19937 rng(23);
  for (int round = 0; round < 300; ++round) {
    ScaledCells s;
    const int n = 1 + static_cast<int>(rng() % 400);
    for (int i = 0; i < n; ++i) {
      if (rng() % 4 != 0) {
        std::vector<std::int32_t> run(rng() % 4 == 0 ? rng() % 70 : rng() % 9);
        const unsigned missing_share = rng() % 3;  // none, some, or all missing
        for (std::int32_t& k : run) {
          k = rng() % 50 == 0 ? -1 : 2 * (static_cast<std::int32_t>(rng() % 2001) - 1000);
          if (missing_share == 2 || (missing_share == 1 && rng() % 4 == 0)) k = kMissingNa + static_cast<std::int32_t>(rng() % 3);
        }
        append_own_keys(s, run.data(), static_cast<int>(run.size()));
        continue;
      }
      static const char* const kOthers[] = {"NA", ".", "NaN", "-0", "12.5", "-3.25", "0.125", "7"};
      add_other_scaled_cell(s, kOthers[rng() % 8], false, rng() % 2 == 0);
    }
    std::int32_t low = std::numeric_limits<std::int32_t>::max(), high = std::numeric_limits<std::int32_t>::min();
    std::size_t missing[3] = {0, 0, 0};
    for (const std::int32_t k : s.key) {
      if (k <= kMissingNan) {
        ++missing[k - kMissingNa];
        continue;
      }
      low = std::min(low, k);
      high = std::max(high, k);
    }
    ASSERT_EQ(s.any_number, low <= high) << round;
    if (cpu_has_wide_vectors() && s.key.size() >= 16) {
      const int whole = static_cast<int>(s.key.size()) & ~15;
      const KeyRun wide = measure_key_run_wide(s.key.data(), whole), plain = measure_key_run(s.key.data(), whole);
      ASSERT_EQ(wide.low, plain.low) << round;
      ASSERT_EQ(wide.high, plain.high) << round;
      for (int m = 0; m < 3; ++m) ASSERT_EQ(wide.missing[m], plain.missing[m]) << round;
    }
    ASSERT_EQ(s.low, low) << round;
    ASSERT_EQ(s.high, high) << round;
    for (int m = 0; m < 3; ++m) ASSERT_EQ(s.missing[m], missing[m]) << round;
  }
}

TEST(CodedReading, PackedColumnsReadBackEveryWidth) {
  std::mt19937 rng(9);
  for (long long ncode : {1LL, 3LL, 4LL, 5LL, 200LL, 256LL, 257LL, 65536LL, 70000LL}) {
    const int n = 1 + static_cast<int>(rng() % 300);
    CodeCells cells;
    cells.assign(n, static_cast<int>(ncode));
    std::vector<std::uint32_t> codes(n);
    for (auto& c : codes) c = static_cast<std::uint32_t>(rng() % ncode);
    for (int i = 0; i < n; ++i) cells.set(i, codes[i]);
    const CodeColumn col = code_column(cells);
    for (int i = 0; i < n; ++i) ASSERT_EQ(col(i), static_cast<int>(codes[i])) << ncode << " " << i;
    ASSERT_EQ(cells.bits, bits_for_codes(ncode));
  }
}

// The searches read 8- and 16-bit columns with loads of that width: placed one after another
// in a store, every width reads back the codes the packed reading gives.
TEST(CodedReading, ColumnsOfEveryWidthReadBackFromTheStore) {
  std::mt19937 rng(10);
  const int n = 77;
  CodedCovariates store;
  std::vector<std::vector<int>> codes;
  for (int ncode : {3, 200, 300, 70000, 4, 255, 65536}) {
    CodeCells cells;
    cells.assign(n, ncode);
    codes.emplace_back(n);
    for (int i = 0; i < n; ++i) {
      codes.back()[i] = static_cast<int>(rng() % ncode);
      cells.set(i, static_cast<std::uint32_t>(codes.back()[i]));
    }
    ColumnMeta m;
    m.word = store.words.size();
    m.bits = cells.bits;
    m.ncode = ncode;
    store.meta.push_back(m);
    store.words.insert(store.words.end(), cells.words.begin(), cells.words.end());
  }
  for (int v = 0; v < static_cast<int>(codes.size()); ++v) {
    const std::vector<int> read = with_column(store, v, [&](const auto& col) {
      std::vector<int> cells(n);
      for (int i = 0; i < n; ++i) cells[i] = col(i);
      return cells;
    });
    ASSERT_EQ(read, codes[v]) << "column " << v;
  }
}

TEST(CodedReading, SearchesOverPackedColumnsAgreeWithTheReference) {
  std::mt19937 rng(13);
  for (int round = 0; round < 400; ++round) {
    const int n = 2 + static_cast<int>(rng() % 200);
    const int ncode = 1 + static_cast<int>(rng() % (round % 2 ? 4 : 600));
    const int missing = rng() % 2 ? 0 : -1;
    CodeCells cells;
    cells.assign(n, ncode);
    std::vector<int> y(n), rows(n);
    for (int i = 0; i < n; ++i) {
      cells.set(i, static_cast<std::uint32_t>(rng() % ncode));
      y[i] = static_cast<int>(rng() % 2);
      rows[i] = i;
    }
    const SearchSettings s{2, 1 + static_cast<int>(rng() % 3), static_cast<int>(rng() % 2)};
    SplitScratch w;
    w.prepare(2, ncode);
    const CodeColumn col = code_column(cells);
    const OrdinalSplit fast = ordinal_split(col, ncode, missing, rows.data(), n, y.data(), s, w);
    const OrdinalSplit ref = ordinal_split_reference(col, missing, rows.data(), n, y.data(), s);
    ASSERT_EQ(fast.score, ref.score) << round;
    ASSERT_EQ(fast.cut_code, ref.cut_code) << round;
    ASSERT_EQ(fast.na_right, ref.na_right) << round;
  }
}

TEST(CodedReading, RandomFilesReadBackValueByValueAndSpellingBySpelling) {
  std::mt19937 rng(17);
  for (int round = 0; round < 20; ++round) {
    const int ncase = 2 + static_cast<int>(rng() % 700), ncov = 1 + static_cast<int>(rng() % 6);
    std::vector<int> distinct(ncov);
    std::string text;
    for (int j = 0; j < ncov; ++j) text += j % 3 == 2 ? "n " : "o ";
    text += "r\n";
    for (int j = 0; j < ncov; ++j) text += "c" + std::to_string(j) + " ";
    text += "y\n";
    for (int j = 0; j < ncov; ++j) distinct[j] = 1 + static_cast<int>(rng() % (j % 3 == 2 ? 10 : 1500));
    std::vector<std::vector<std::string>> tokens(ncov);
    for (int i = 0; i < ncase; ++i) {
      for (int j = 0; j < ncov; ++j) {
        const int v = static_cast<int>(rng() % distinct[j]);
        const bool missing = rng() % 50 == 0;
        std::string t = missing ? (rng() % 2 ? "NA" : ".") : std::to_string(v - 5);
        if (j % 3 != 2 && !missing && v % 4 == 1) t += ".0";  // a second spelling of the value
        if (j % 3 != 2 && !missing && v % 4 == 2) t = std::to_string((v - 5) / 8.0);
        if (j % 3 == 1 && round % 2 == 0 && !missing) {
          t = format("%.2f", (v - 5) / 8.0);  // printed numbers, both zeros among them
          if (v == 5 && rng() % 2) t = "-0.00";
        }
        tokens[j].push_back(t);
        text += t + " ";
      }
      text += std::to_string(i % 2) + "\n";
    }
    const bool keep_spellings = round % 4 < 2;
    ReadResult r = read_text(text, {false, keep_spellings});
    ASSERT_EQ(r.error, "") << round;
    for (int j = 0; j < ncov; ++j) {
      if (j % 3 == 2) continue;  // nominal: recoded, see the summary tests
      const std::vector<double> values = column_values(r.d, j);
      const std::vector<std::string> spelled = keep_spellings ? cell_texts(r.d, j) : tokens[j];
      for (int i = 0; i < ncase; ++i) {
        const std::string& t = tokens[j][i];
        const bool missing = t == "NA" || t == ".";
        ASSERT_EQ(values[i], missing ? r.d.missing_code : std::strtod(t.c_str(), nullptr)) << round << " " << j;
        ASSERT_EQ(spelled[i], t);
      }
      long long missing = 0;
      for (const auto& t : tokens[j]) missing += t == "NA" || t == ".";
      ASSERT_EQ(r.d.missing_cells[j], missing);
    }
  }
}

TEST(CodedReading, GenotypeFilesReadBackValueByValueAndSpellingBySpelling) {
  // Rows of short cells: each column's codes come from its cells' slots or two-bit cells, with
  // one or both missing spellings, digits first met late and, in some files, a longer token
  // that ends the slots.
  std::mt19937 rng(23);
  for (int round = 0; round < 60; ++round) {
    const int ncase = 2 + static_cast<int>(rng() % 700), ncov = 1 + static_cast<int>(rng() % 70);
    std::string text;
    for (int j = 0; j < ncov; ++j) text += "o ";
    text += "r\n";
    for (int j = 0; j < ncov; ++j) text += "c" + std::to_string(j) + " ";
    text += "y\n";
    std::vector<std::vector<std::string>> tokens(ncov);
    for (int i = 0; i < ncase; ++i) {
      for (int j = 0; j < ncov; ++j) {
        std::string t = std::to_string(rng() % (j % 4 == 1 ? 2 : 3));
        if (rng() % 30 == 0) t = round % 3 == 1 ? "NA" : round % 3 == 2 || rng() % 2 ? "." : "NA";
        if (j % 4 == 2 && i > ncase / 2 && rng() % 20 == 0) t = std::to_string(3 + rng() % 7);
        if (j % 4 == 3 && round % 3 == 0 && i > ncase / 2 && rng() % 50 == 0) t = "1.0";
        tokens[j].push_back(t);
        text += t + " ";
      }
      text += std::to_string(i % 2) + "\n";
    }
    ReadResult r = read_text(text, {false, round % 2 == 0});
    ASSERT_EQ(r.error, "") << round;
    for (int j = 0; j < ncov; ++j) {
      const std::vector<double> values = column_values(r.d, j);
      const std::vector<std::string> spelled = round % 2 == 0 ? cell_texts(r.d, j) : std::vector<std::string>{};
      long long missing = 0;
      for (int i = 0; i < ncase; ++i) {
        const std::string& t = tokens[j][i];
        const bool is_missing = t == "NA" || t == ".";
        missing += is_missing;
        ASSERT_EQ(values[i], is_missing ? r.d.missing_code : std::strtod(t.c_str(), nullptr)) << round << " " << j;
        if (!spelled.empty()) {
          ASSERT_EQ(spelled[i], t) << round << " " << j << " " << i;
        }
      }
      ASSERT_EQ(r.d.missing_cells[j], missing);
    }
  }
}

TEST(CodedReading, TwoBitFilesReadBackValueByValueAndSpellingBySpelling) {
  // Every column of cells "0", "1", "2" and one missing token, ordinal or nominal, some without
  // a missing cell or with one value only: the codes are recoded where the reader left the
  // cells. Labels of one digit.
  std::mt19937 rng(29);
  for (int round = 0; round < 40; ++round) {
    const int ncase = 1 + static_cast<int>(rng() % 300), ncov = 1 + static_cast<int>(rng() % 70);
    const char* missing = round % 2 ? "NA" : ".";
    std::string text;
    for (int j = 0; j < ncov; ++j) text += rng() % 4 ? "o " : "n ";
    text += "r\n";
    for (int j = 0; j < ncov; ++j) text += "c" + std::to_string(j) + " ";
    text += "y\n";
    std::vector<unsigned> values(ncov);  // a bit per value each column may hold, 3 for missing
    for (unsigned& v : values) v = 1 + rng() % 15;
    std::vector<std::vector<std::string>> tokens(ncov);
    for (int i = 0; i < ncase; ++i) {
      for (int j = 0; j < ncov; ++j) {
        unsigned pick;
        do pick = rng() % 4; while (!((values[j] >> pick) & 1));
        const std::string t = pick == 3 ? missing : std::to_string(pick);
        tokens[j].push_back(t);
        text += t + " ";
      }
      text += std::to_string(i % 2 + (round % 3 == 0 ? 5 : 0)) + "\n";
    }
    const bool keep_spellings = round % 4 < 2;
    ReadResult r = read_text(text, {false, keep_spellings});
    ASSERT_EQ(r.error, "") << round;
    for (int j = 0; j < ncov; ++j) {
      const std::vector<double> values_read = column_values(r.d, j);
      const std::vector<std::string> spelled = keep_spellings ? cell_texts(r.d, j) : std::vector<std::string>{};
      long long nmissing = 0;
      for (int i = 0; i < ncase; ++i) {
        const std::string& t = tokens[j][i];
        const bool is_missing = t == missing;
        nmissing += is_missing;
        if (r.d.ncat_orig[j] == kOrdinal) {
          ASSERT_EQ(values_read[i], is_missing ? r.d.missing_code : std::strtod(t.c_str(), nullptr)) << round << " " << j;
        } else {
          const int category = static_cast<int>(values_read[i]);
          ASSERT_EQ(r.d.ori_catg[j][category], is_missing ? static_cast<int>(r.d.missing_code) : std::stoi(t))
              << round << " " << j;
        }
        if (keep_spellings) {
          ASSERT_EQ(spelled[i], t) << round << " " << j << " " << i;
        }
      }
      ASSERT_EQ(r.d.missing_cells[j], nmissing) << round << " " << j;
    }
  }
}

TEST(CodedReading, ZeroKeepsTheSignThatSortingTheColumnKeeps) {
  std::mt19937 rng(19);
  for (int round = 0; round < 30; ++round) {
    std::string text = "o r\na y\n";
    std::vector<double> column;
    const int n = 5 + static_cast<int>(rng() % 300);
    for (int i = 0; i < n; ++i) {
      const int pick = static_cast<int>(rng() % 6);
      // Odd rounds: every number with two decimals, which the store keeps as keys.
      const char* t = pick == 0 ? "-0.00" : pick == 1 ? "0.00" : pick == 2 ? (round % 2 ? "-0.00" : "-0")
                      : pick == 3 ? (round % 2 ? "1.50" : "1.5") : pick == 4 ? (round % 2 ? "-2.00" : "-2") : "NA";
      text += t;
      text += ' ';
      text += std::to_string(i % 2);
      text += '\n';
      column.push_back(pick == 5 ? -9.0 : std::strtod(t, nullptr));
    }
    ReadResult r = read_text(text);
    ASSERT_EQ(r.error, "");
    std::sort(column.begin(), column.end());
    column.erase(std::unique(column.begin(), column.end()), column.end());
    ASSERT_EQ(r.d.codes.ncode(0), static_cast<int>(column.size()));
    for (std::size_t k = 0; k < column.size(); ++k) {
      ASSERT_EQ(r.d.codes.cut_value(0, static_cast<int>(k)), column[k]) << round << " " << k;
      ASSERT_EQ(std::signbit(r.d.codes.cut_value(0, static_cast<int>(k))), std::signbit(column[k])) << round << " " << k;
    }
  }
}
