// The one process-wide random generator and the draws built on it.
//
// Every random choice of a program comes from this single 15-bit sequence, so the order of
// draws across the program fixes its results.
#pragma once

#include <cstdint>

void seed_random(std::uint32_t seed);
std::uint32_t random_state();

// The given seed, or the calendar time in seconds when none was given.
void seed_random_or_clock(bool given, std::uint32_t seed);

// One draw: 0 .. 32767.
int rand_draw();

// Uniform integer 0 .. n-1; bounds of 32767 and more take two draws per try.
int rand_below(int n);

// The one-draw form for every n (wren's prediction reader).
int rand_below_one_draw(int n);

// Permutes a[0..n-1] in place; n-1 calls of rand_below.
void shuffle_ints(int* a, int n);
