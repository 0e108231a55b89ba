// The one process-wide random generator and the draws built on it.
//
// Every random choice of a program comes from this single 15-bit sequence, so the order of
// draws across the program fixes its results. A RandomStream is a copy of the sequence from
// some point on: work whose number of draws is known in advance can take its draws from a copy
// on another thread while the process-wide generator jumps past them.
#pragma once

#include <cstdint>

namespace forests {

struct RandomStream {
  std::uint32_t state = 1;

  // One draw: 0 .. 32767.
  int draw() {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 32767u);
  }
  // Uniform integer 0 .. n-1; bounds of 32767 and more take two draws per try.
  int below(int n) { return n < 32767 ? scaled_draw(n) : below_large(n); }
  int below_large(int n);
  // One draw scaled to 0 .. n-1, whatever n: for n of 32767 and more some values never come.
  int scaled_draw(int n) { return static_cast<int>(draw() / 32768.0 * n); }
  // Permutes a[0..n-1] in place; n-1 calls of below(), one draw each when n < 32767.
  void shuffle(int* a, int n);
  // Moves on as `draws` draws would.
  void skip(std::uint64_t draws);

  // Draws taken a block at a time: each of a block's states follows from the block's first one
  // by a jump of its own, so the block's draws do not wait on each other.
  static constexpr int kDrawBlock = 16;
  // The next kDrawBlock values of scaled_draw(n), for n below 32767, without moving on.
  void peek_scaled_draws(int n, int* out) const;
  // Moves on as `draws` draws would, 1 <= draws <= kDrawBlock.
  void jump(int draws);
};

void seed_random(std::uint32_t seed);
std::uint32_t random_state();

// Seeds with the given seed, or the calendar time in seconds when none was given; returns the
// seed used.
std::uint32_t seed_random_or_clock(bool given, std::uint32_t seed);

// The process-wide generator as it stands.
RandomStream random_stream();

// Moves the process-wide generator on as `draws` draws would.
void skip_random_draws(std::uint64_t draws);

// The process-wide generator goes on from where the stream stands: draws taken from a copy in
// a hot loop (where they can be inlined) count as its own.
void resume_random(const RandomStream& stream);

// One draw: 0 .. 32767.
int rand_draw();

// Uniform integer 0 .. n-1; bounds of 32767 and more take two draws per try.
int rand_below(int n);

// One draw scaled to 0 .. n-1, whatever n: for n of 32767 and more some values never come.
int rand_scaled_draw(int n);

// Permutes a[0..n-1] in place; n-1 calls of rand_below.
void shuffle_ints(int* a, int n);

}  // namespace forests
