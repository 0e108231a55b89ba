// What the processor offers beyond the baseline the programs are built for.
#pragma once

namespace forests {

// 512-bit vector registers with 8- to 64-bit lanes and lane masks (AVX-512 F, BW, DQ, VL):
// the searches take their wide paths only where these exist, and the environment variable
// FORESTS_NARROW_VECTORS is not set.
bool cpu_has_wide_vectors();

}  // namespace forests

// A function on those registers, called only where cpu_has_wide_vectors() says yes.
#define FORESTS_WIDE_VECTORS __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl")))
// g++ 12 takes the deliberately undefined start of some of its own 512-bit intrinsics for an
// uninitialised variable: functions on wide vectors sit between these, without that warning.
#define FORESTS_WIDE_VECTORS_BEGIN                                                            \
  _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wuninitialized\"") \
      _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
#define FORESTS_WIDE_VECTORS_END _Pragma("GCC diagnostic pop")
