// What makes a run easy to place and to repeat: the seed line of runs seeded from the clock.
#pragma once

#include <cstdint>

// A seed drawn from the clock (none given) is told on standard output, with how to repeat the
// run: the first line of a run that got past its input checks.
void tell_drawn_seed(bool given, std::uint32_t seed);
