// What the processor offers beyond the baseline the programs are built for.
#pragma once

namespace forests {

// 512-bit vector registers with 8- to 64-bit lanes and lane masks (AVX-512 F, BW, DQ, VL):
// the searches take their wide paths only where these exist, and the environment variable
// FORESTS_NARROW_VECTORS is not set.
bool cpu_has_wide_vectors();

}  // namespace forests
