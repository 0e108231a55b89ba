// A bitonic sorting network over up to kSortableKeys keys of 16 bits, held in 512-bit registers
// of 32 keys each.
#include "key_sort.hpp"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>

namespace forests {

namespace {

constexpr int kLanes = 32;

// Key i, in a merge of blocks of k keys at distance j, keeps the larger of itself and key
// i ^ j when exactly one of (i & j), (i & k) is set: the lower key of a pair keeps the smaller
// in an ascending block, the larger in a descending one.
constexpr bool keeps_larger(int i, int j, int k) { return ((i & j) != 0) != ((i & k) != 0); }

// One step of the network over R registers: its distance, and for a distance below kLanes the
// lanes of each register that keep the larger key.
template <int R>
struct NetworkStep {
  int distance;
  std::array<std::uint32_t, R> larger;
};

template <int R>
constexpr auto network_steps() {
  constexpr int count = [] {
    int c = 0;
    for (int k = 2; k <= R * kLanes; k *= 2)
      for (int j = k / 2; j >= 1; j /= 2) ++c;
    return c;
  }();
  std::array<NetworkStep<R>, count> steps{};
  int s = 0;
  for (int k = 2; k <= R * kLanes; k *= 2) {
    for (int j = k / 2; j >= 1; j /= 2) {
      steps[s] = {j, {}};
      for (int r = 0; r < R; ++r)
        for (int lane = 0; lane < kLanes; ++lane)
          if (keeps_larger(r * kLanes + lane, j, k)) steps[s].larger[r] |= std::uint32_t{1} << lane;
      ++s;
    }
  }
  return steps;
}

#define FORESTS_KEY_SORT_TARGET __attribute__((target("avx512f,avx512bw")))

// The index vector that brings each lane its partner lane ^ distance.
FORESTS_KEY_SORT_TARGET inline __m512i partner_index(int distance) {
  alignas(64) std::array<std::uint16_t, kLanes> index{};
  for (int lane = 0; lane < kLanes; ++lane) index[lane] = static_cast<std::uint16_t>(lane ^ distance);
  return _mm512_load_si512(index.data());
}

// Lanes beyond n hold the largest key, so they sort to the end and are never stored.
template <int R>
FORESTS_KEY_SORT_TARGET void sort_in_registers(std::uint16_t* keys, int n) {
  static constexpr auto kSteps = network_steps<R>();
  __m512i index[5];
  for (int p = 0; p < 5; ++p) index[p] = partner_index(1 << p);
  __m512i v[R];
  __mmask32 in[R];
  for (int r = 0; r < R; ++r) {
    const int here = std::clamp(n - r * kLanes, 0, kLanes);
    in[r] = here == kLanes ? ~__mmask32{0} : (__mmask32{1} << here) - 1;
    v[r] = _mm512_mask_loadu_epi16(_mm512_set1_epi16(-1), in[r], keys + r * kLanes);
  }
  for (const NetworkStep<R>& step : kSteps) {
    if (step.distance >= kLanes) {  // partners in another register, each register all one way
      const int apart = step.distance / kLanes;
      for (int r = 0; r < R; ++r) {
        if ((r & apart) != 0 || r + apart >= R) continue;
        const __m512i smaller = _mm512_min_epu16(v[r], v[r + apart]);
        const __m512i larger = _mm512_max_epu16(v[r], v[r + apart]);
        const bool ascending = step.larger[r] == 0;
        v[r] = ascending ? smaller : larger;
        v[r + apart] = ascending ? larger : smaller;
      }
      continue;
    }
    const __m512i& idx = index[std::countr_zero(static_cast<unsigned>(step.distance))];
    for (int r = 0; r < R; ++r) {
      const __m512i partner = _mm512_permutexvar_epi16(idx, v[r]);
      v[r] = _mm512_mask_blend_epi16(step.larger[r], _mm512_min_epu16(v[r], partner),
                                     _mm512_max_epu16(v[r], partner));
    }
  }
  for (int r = 0; r < R; ++r) _mm512_mask_storeu_epi16(keys + r * kLanes, in[r], v[r]);
}

}  // namespace

void sort_small_keys(std::uint16_t* keys, int n) {
  if (n <= kLanes) return sort_in_registers<1>(keys, n);
  if (n <= 2 * kLanes) return sort_in_registers<2>(keys, n);
  if (n <= 4 * kLanes) return sort_in_registers<4>(keys, n);
  sort_in_registers<8>(keys, n);
}

}  // namespace forests
