// The seed line of runs seeded from the clock.
#include "workflow.hpp"

#include <cstdio>

void tell_drawn_seed(bool given, std::uint32_t seed) {
  if (!given) std::printf("Random seed: %u (add -seed %u to repeat this run)\n", seed, seed);
}
