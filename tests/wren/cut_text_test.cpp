#include <gtest/gtest.h>

#include <random>

#include "cut_text.hpp"
#include "read_text.hpp"

using namespace forests;

namespace {

// The exchange sort run in full on the values, cases travelling with them.
int full_exchange_sort_case_at(std::vector<int> value, int position) {
  const int n = static_cast<int>(value.size());
  std::vector<int> case_at(n);
  for (int k = 0; k < n; ++k) case_at[k] = k;
  for (int i = 0; i < n; ++i) {
    for (int j = i + 1; j < n; ++j) {
      if (value[j] < value[i]) {
        std::swap(value[i], value[j]);
        std::swap(case_at[i], case_at[j]);
      }
    }
  }
  return case_at[position];
}

}  // namespace

TEST(CutText, ExchangeOrderMatchesAFullSimulation) {
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; ++round) {
    const int n = 1 + static_cast<int>(rng() % 40);
    const int range = 1 + static_cast<int>(rng() % 6);  // few values: many ties
    std::vector<int> codes(n);
    for (int& c : codes) c = static_cast<int>(rng() % range);
    const int cut = codes[rng() % n];
    int last = -1;
    for (int c : codes) last += c <= cut;
    ASSERT_EQ(exchange_sort_last_of_run(codes, cut), full_exchange_sort_case_at(codes, last))
        << "round " << round;
  }
}

TEST(CutText, WrittenAsTheDataFileSpelledIt) {
  // Value 0.5 is spelled three ways; 2 only one way.
  ReadResult r = read_text("o r\na y\n0.50 0\n2 1\n.5 0\n0.5e0 1\n2 0\n", {false, true});
  ASSERT_EQ(r.error, "");
  const CodedCovariates& store = r.d.codes;
  const auto spelling = uniform_spellings(r.d, store);
  EXPECT_EQ(spelling[0][0], -1);
  EXPECT_EQ(r.d.text[0].spelling[spelling[0][1]], "2");

  // Alike within the node: that text, whatever the order.
  const int rows_one[] = {1, 2, 4};
  EXPECT_EQ(cut_off_text(r.d, store, spelling, 0, 0, rows_one, 3), ".5");
  EXPECT_EQ(cut_off_text(r.d, store, spelling, 0, 1, rows_one, 3), "2");
  // Spelled differently: the exchange sort of 0.5 2 0.5 0.5 2 leaves case 3 (0.5e0) last.
  const int all[] = {0, 1, 2, 3, 4};
  EXPECT_EQ(cut_off_text(r.d, store, spelling, 0, 0, all, 5), "0.5e0");
}
