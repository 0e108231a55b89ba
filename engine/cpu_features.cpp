// What the processor offers, asked once.
#include "cpu_features.hpp"

#include <cstdlib>

namespace forests {

bool cpu_has_wide_vectors() {
  static const bool available = [] {
    // Set, it keeps the portable paths, so that the tests can hold them against the references
    // on any processor.
    if (const char* narrow = std::getenv("FORESTS_NARROW_VECTORS"); narrow && *narrow) return false;
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
  }();
  return available;
}

}  // namespace forests
