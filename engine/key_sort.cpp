// A bitonic sorting network over up to 64 keys of 16 bits, in one or two 512-bit registers.
#include "key_sort.hpp"

#include <immintrin.h>

#include <array>
#include <bit>

namespace forests {

namespace {

// One compare-exchange step of the network: each lane meets lane ^ partner (partner 32: the
// same lane of the other register) and keeps the larger of the two where its mask bit is set.
struct NetworkStep {
  int partner;
  std::uint32_t larger_low;   // lanes 0..31
  std::uint32_t larger_high;  // lanes 32..63
};

// Lane i, in a merge of blocks of k keys at distance j, keeps the larger key when exactly one
// of (i & j), (i & k) is set: the lower lane of a pair keeps the smaller in an ascending block,
// the larger in a descending one.
constexpr std::uint32_t larger_lanes(int j, int k, int first_lane) {
  std::uint32_t mask = 0;
  for (int lane = 0; lane < 32; ++lane) {
    const int i = first_lane + lane;
    if (((i & j) != 0) != ((i & k) != 0)) mask |= std::uint32_t{1} << lane;
  }
  return mask;
}

template <int Keys>
constexpr auto network_steps() {
  constexpr int count = [] {
    int c = 0;
    for (int k = 2; k <= Keys; k *= 2)
      for (int j = k / 2; j >= 1; j /= 2) ++c;
    return c;
  }();
  std::array<NetworkStep, count> steps{};
  int s = 0;
  for (int k = 2; k <= Keys; k *= 2)
    for (int j = k / 2; j >= 1; j /= 2) steps[s++] = {j, larger_lanes(j, k, 0), larger_lanes(j, k, 32)};
  return steps;
}

constexpr auto kSteps32 = network_steps<32>();
constexpr auto kSteps64 = network_steps<64>();

#define FORESTS_KEY_SORT_TARGET __attribute__((target("avx512f,avx512bw")))

FORESTS_KEY_SORT_TARGET inline __m512i partner_index(int partner) {
  alignas(64) std::array<std::uint16_t, 32> index{};
  for (int lane = 0; lane < 32; ++lane) index[lane] = static_cast<std::uint16_t>(lane ^ partner);
  return _mm512_load_si512(index.data());
}

FORESTS_KEY_SORT_TARGET inline __m512i compare_exchange(__m512i v, __m512i index, std::uint32_t larger) {
  const __m512i partner = _mm512_permutexvar_epi16(index, v);
  return _mm512_mask_blend_epi16(larger, _mm512_min_epu16(v, partner), _mm512_max_epu16(v, partner));
}

FORESTS_KEY_SORT_TARGET inline void partner_indexes(__m512i* index) {
  for (int p = 0; p < 5; ++p) index[p] = partner_index(1 << p);
}

// Lanes beyond n hold the largest key, so they sort to the end and are never stored.
FORESTS_KEY_SORT_TARGET void sort_up_to_32(std::uint16_t* keys, int n) {
  __m512i index[5];
  partner_indexes(index);
  const __mmask32 in = n == 32 ? ~__mmask32{0} : (__mmask32{1} << n) - 1;
  __m512i v = _mm512_mask_loadu_epi16(_mm512_set1_epi16(-1), in, keys);
  for (const NetworkStep& step : kSteps32)
    v = compare_exchange(v, index[std::countr_zero(static_cast<unsigned>(step.partner))], step.larger_low);
  _mm512_mask_storeu_epi16(keys, in, v);
}

FORESTS_KEY_SORT_TARGET void sort_up_to_64(std::uint16_t* keys, int n) {
  __m512i index[5];
  partner_indexes(index);
  const __mmask32 in_high = n == 64 ? ~__mmask32{0} : (__mmask32{1} << (n - 32)) - 1;
  __m512i low = _mm512_loadu_si512(keys);
  __m512i high = _mm512_mask_loadu_epi16(_mm512_set1_epi16(-1), in_high, keys + 32);
  for (const NetworkStep& step : kSteps64) {
    if (step.partner == 32) {  // the final merge: every block ascending
      const __m512i smaller = _mm512_min_epu16(low, high);
      high = _mm512_max_epu16(low, high);
      low = smaller;
      continue;
    }
    const __m512i& idx = index[std::countr_zero(static_cast<unsigned>(step.partner))];
    low = compare_exchange(low, idx, step.larger_low);
    high = compare_exchange(high, idx, step.larger_high);
  }
  _mm512_storeu_si512(keys, low);
  _mm512_mask_storeu_epi16(keys + 32, in_high, high);
}

}  // namespace

bool vector_key_sort_available() {
  static const bool available = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  }();
  return available;
}

void sort_small_keys(std::uint16_t* keys, int n) {
  if (n <= 32)
    sort_up_to_32(keys, n);
  else
    sort_up_to_64(keys, n);
}

}  // namespace forests
