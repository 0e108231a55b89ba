// Sorting the 16-bit keys of a small node (at most kSortableKeys) in vector registers.
#pragma once

#include <cstdint>

namespace forests {

constexpr int kSortableKeys = 256;

// Sorts keys[0..n-1] ascending, n <= kSortableKeys; keys must have room for kSortableKeys.
// Needs cpu_has_wide_vectors().
void sort_small_keys(std::uint16_t* keys, int n);

}  // namespace forests
