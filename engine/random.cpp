// The process-wide generator, its jump-ahead, and the draws and shuffles built on it.
#include "random.hpp"

#include <ctime>

#include "cpu_features.hpp"

namespace forests {

namespace {
RandomStream g_random;
}

int RandomStream::below_large(int n) {
  long long k = n / 32767 + 1;
  for (;;) {
    long long a = draw() * k;
    long long b = static_cast<long long>(draw() / 32768.0 * static_cast<double>(k));
    if (a + b < n) return static_cast<int>(a + b);
  }
}

void RandomStream::shuffle(int* a, int n) {
  for (int m = n; m >= 2; --m) {
    int j = below(m);
    int t = a[j];
    a[j] = a[m - 1];
    a[m - 1] = t;
  }
}

void RandomStream::skip(std::uint64_t draws) {
  // The step x -> a x + c taken `draws` times, composed by squaring: (a, c) twice is
  // (a a, a c + c).
  std::uint32_t mul = 1, add = 0;           // the steps taken so far
  std::uint32_t a = 214013u, c = 2531011u;  // 2^k steps
  for (; draws > 0; draws >>= 1) {
    if (draws & 1) {
      mul *= a;
      add = add * a + c;
    }
    c = c * a + c;
    a *= a;
  }
  state = state * mul + add;
}

namespace {

// Entry j moves a state on j + 1 draws: x -> mul[j] x + add[j].
struct JumpTable {
  std::uint32_t mul[RandomStream::kDrawBlock], add[RandomStream::kDrawBlock];
};

constexpr JumpTable make_jumps() {
  JumpTable t{};
  std::uint32_t mul = 1, add = 0;
  for (int j = 0; j < RandomStream::kDrawBlock; ++j) {
    mul *= 214013u;
    add = add * 214013u + 2531011u;
    t.mul[j] = mul;
    t.add[j] = add;
  }
  return t;
}

constexpr JumpTable kJumps = make_jumps();

// scaled_draw's draw / 32768.0 * n is exact in doubles (a draw and n below 2^15 make a product
// below 2^30), so its whole part is (draw * n) >> 15, which integer lanes compute alike.
[[gnu::always_inline]] inline void peek_scaled_body(std::uint32_t state, std::uint32_t bound, int* out) {
  for (int j = 0; j < RandomStream::kDrawBlock; ++j) {
    const std::uint32_t x = kJumps.mul[j] * state + kJumps.add[j];
    out[j] = static_cast<int>((((x >> 16) & 32767u) * bound) >> 15);
  }
}

// One register of lanes; the portable form multiplies lanes in pieces.
FORESTS_WIDE_VECTORS void peek_scaled_wide(std::uint32_t state, std::uint32_t bound, int* out) {
  peek_scaled_body(state, bound, out);
}

}  // namespace

void RandomStream::peek_scaled_draws(int n, int* out) const {
  if (cpu_has_wide_vectors())
    peek_scaled_wide(state, static_cast<std::uint32_t>(n), out);
  else
    peek_scaled_body(state, static_cast<std::uint32_t>(n), out);
}

void RandomStream::jump(int draws) { state = kJumps.mul[draws - 1] * state + kJumps.add[draws - 1]; }

void seed_random(std::uint32_t seed) { g_random.state = seed; }

std::uint32_t random_state() { return g_random.state; }

std::uint32_t seed_random_or_clock(bool given, std::uint32_t seed) {
  const std::uint32_t used = given ? seed : static_cast<std::uint32_t>(std::time(nullptr));
  seed_random(used);
  return used;
}

RandomStream random_stream() { return g_random; }

void skip_random_draws(std::uint64_t draws) { g_random.skip(draws); }

void resume_random(const RandomStream& stream) { g_random = stream; }

int rand_draw() { return g_random.draw(); }

int rand_scaled_draw(int n) { return g_random.scaled_draw(n); }

int rand_below(int n) { return g_random.below(n); }

void shuffle_ints(int* a, int n) { g_random.shuffle(a, n); }

}  // namespace forests
