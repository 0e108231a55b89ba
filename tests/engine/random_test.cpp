#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "random.hpp"

using namespace forests;

TEST(Random, FirstDrawsFromStateOne) {
  seed_random(1);
  EXPECT_EQ(rand_draw(), 41);
  EXPECT_EQ(rand_draw(), 18467);
  EXPECT_EQ(rand_draw(), 6334);
}

TEST(Random, RandBelowUsesOneDrawBelow32767AndTwoFrom32767) {
  seed_random(1);
  EXPECT_EQ(rand_below(1), 0);  // still consumes a draw
  EXPECT_EQ(rand_draw(), 18467);

  seed_random(5);
  rand_below(32766);
  std::uint32_t after_one = random_state();
  seed_random(5);
  rand_draw();
  EXPECT_EQ(random_state(), after_one);

  // 32767: k = 2, each try takes two draws: a = r1 * 2, b = r2 / 32768 * 2.
  seed_random(1);
  int r = rand_below(32767);
  seed_random(1);
  int a = rand_draw() * 2;
  int b = static_cast<int>(rand_draw() / 32768.0 * 2);
  if (a + b < 32767) {
    EXPECT_EQ(r, a + b);
  }
}

TEST(Random, RandBelowLargeBoundStaysInRange) {
  seed_random(123);
  for (int i = 0; i < 20000; ++i) {
    int r = rand_below(100000);
    ASSERT_GE(r, 0);
    ASSERT_LT(r, 100000);
  }
}

TEST(Random, ShuffleTakesNMinusOneDrawsAndPermutes) {
  int one[1] = {7};
  seed_random(9);
  shuffle_ints(one, 1);
  shuffle_ints(one, 0);
  EXPECT_EQ(random_state(), 9u);
  EXPECT_EQ(one[0], 7);

  int a[6] = {0, 1, 2, 3, 4, 5};
  seed_random(9);
  shuffle_ints(a, 6);
  std::uint32_t after = random_state();
  seed_random(9);
  for (int m = 6; m >= 2; --m) rand_below(m);
  EXPECT_EQ(random_state(), after);
  std::sort(a, a + 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(a[i], i);
}

TEST(Random, SkippingDrawsLandsWhereDrawingThem) {
  for (std::uint64_t draws : {0ull, 1ull, 2ull, 3ull, 1000ull, 65537ull, 1234567ull}) {
    seed_random(77);
    for (std::uint64_t k = 0; k < draws; ++k) rand_draw();
    const std::uint32_t drawn = random_state();
    seed_random(77);
    skip_random_draws(draws);
    EXPECT_EQ(random_state(), drawn) << draws;
  }
  // A copy shuffles exactly as the process-wide generator would.
  seed_random(5);
  RandomStream copy = random_stream();
  int a[300], b[300];
  for (int i = 0; i < 300; ++i) a[i] = b[i] = i;
  shuffle_ints(a, 300);
  copy.shuffle(b, 300);
  EXPECT_TRUE(std::equal(a, a + 300, b));
  EXPECT_EQ(copy.state, random_state());
}

TEST(Random, BlockDrawsAreTheDrawsOneByOne) {
  std::mt19937 gen(11);
  for (int trial = 0; trial < 2000; ++trial) {
    const std::uint32_t seed = static_cast<std::uint32_t>(gen());
    // Bounds at both ends, powers of two and odd ones between.
    const int bounds[] = {1, 2, 3, 7, 100, 1024, 10000, 32765, 32766};
    const int n = trial < 9 ? bounds[trial] : 1 + static_cast<int>(gen() % 32766);
    RandomStream block{seed}, one{seed};
    int drawn[RandomStream::kDrawBlock];
    block.peek_scaled_draws(n, drawn);
    EXPECT_EQ(block.state, seed);  // peeking does not move on
    for (int j = 0; j < RandomStream::kDrawBlock; ++j) ASSERT_EQ(drawn[j], one.scaled_draw(n)) << n << " " << j;
    const int moves = 1 + static_cast<int>(gen() % RandomStream::kDrawBlock);
    RandomStream stepped{seed};
    for (int j = 0; j < moves; ++j) stepped.draw();
    block.jump(moves);
    EXPECT_EQ(block.state, stepped.state) << moves;
  }
}
