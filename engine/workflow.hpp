// What makes a run easy to place and to repeat: the seed line of runs seeded from the clock.
#pragma once

#include <cstdint>

// Seeds the generator with the given seed. Without one the calendar time seeds it, and the
// seed is told as the first line on standard output, with how to repeat the run.
void seed_random_and_tell(bool given, std::uint32_t seed);
