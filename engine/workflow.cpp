// The seed line of runs seeded from the clock.
#include "workflow.hpp"

#include <cstdio>

#include "random.hpp"

void seed_random_and_tell(bool given, std::uint32_t seed) {
  const std::uint32_t used = seed_random_or_clock(given, seed);
  if (!given) std::printf("Random seed: %u (add -seed %u to repeat this run)\n", used, used);
}
