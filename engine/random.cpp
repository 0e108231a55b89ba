#include "random.hpp"

#include <ctime>

namespace {
std::uint32_t g_state = 1;
}

void seed_random(std::uint32_t seed) { g_state = seed; }

std::uint32_t random_state() { return g_state; }

void seed_random_or_clock(bool given, std::uint32_t seed) {
  seed_random(given ? seed : static_cast<std::uint32_t>(std::time(nullptr)));
}

int rand_draw() {
  g_state = g_state * 214013u + 2531011u;
  return static_cast<int>((g_state >> 16) & 32767u);
}

int rand_below_one_draw(int n) {
  int r = rand_draw();
  return static_cast<int>(r / 32768.0 * n);
}

int rand_below(int n) {
  if (n < 32767) return rand_below_one_draw(n);
  long long k = n / 32767 + 1;
  for (;;) {
    long long a = rand_draw() * k;
    long long b = static_cast<long long>(rand_draw() / 32768.0 * static_cast<double>(k));
    if (a + b < n) return static_cast<int>(a + b);
  }
}

void shuffle_ints(int* a, int n) {
  for (int m = n; m >= 2; --m) {
    int j = rand_below(m);
    int t = a[j];
    a[j] = a[m - 1];
    a[m - 1] = t;
  }
}
