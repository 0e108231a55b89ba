// Sorting the 16-bit keys of a small node (at most kSortableKeys) in vector registers.
#pragma once

#include <cstdint>

namespace forests {

constexpr int kSortableKeys = 64;

// Whether this processor sorts keys in vector registers; without them, small nodes keep the
// searches that need no sort.
bool vector_key_sort_available();

// Sorts keys[0..n-1] ascending, n <= kSortableKeys; keys must have room for kSortableKeys.
// Needs vector_key_sort_available().
void sort_small_keys(std::uint16_t* keys, int n);

}  // namespace forests
