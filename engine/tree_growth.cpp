// Candidate draws, the number of candidates and the start of a tree.
#include "tree_growth.hpp"

#include <immintrin.h>

#include <algorithm>
#include <cmath>

#include "cpu_features.hpp"
#include "fatal.hpp"
#include "random.hpp"

namespace forests {

int candidates_per_node(bool given, int nsplitvar, int nusable) {
  if (!given) nsplitvar = static_cast<int>(std::sqrt(static_cast<double>(nusable)));
  if (nsplitvar > nusable)
    fail(format("The number of candidate covariates per node (-m %d) exceeds the %d usable covariates.\n", nsplitvar,
                nusable));
  return nsplitvar;
}

GrowWork::GrowWork(int nclass, int max_codes, WorkerPool* p) : pool(p), scratch(p ? p->threads() : 1) {
  for (auto& w : scratch) w.prepare(nclass, max_codes);
}

namespace {

FORESTS_WIDE_VECTORS_BEGIN

// Whether a block's draws are all new: none drawn before (marked), no two alike. The marks are
// read four bytes at a time.
__attribute__((target("avx512f,avx512cd"))) bool all_new(const int* block, const char* mark) {
  static_assert(RandomStream::kDrawBlock == 16);
  const __m512i r = _mm512_loadu_si512(block);
  const __mmask16 seen = _mm512_test_epi32_mask(_mm512_i32gather_epi32(r, mark, 1), _mm512_set1_epi32(0xff));
  const __mmask16 twice = _mm512_test_epi32_mask(_mm512_conflict_epi32(r), _mm512_set1_epi32(-1));
  return (seen | twice) == 0;
}

FORESTS_WIDE_VECTORS_END

bool tells_new_blocks() {
  static const bool available = [] {
    __builtin_cpu_init();
    return cpu_has_wide_vectors() && __builtin_cpu_supports("avx512cd");
  }();
  return available;
}

// Draws positions 0 .. n-1 until `wanted` distinct ones, skipping those `skip` refuses and
// those drawn already, in draw order into `candidates` (marked in `drawn`): below(n) again and
// again, a block of draws at a time where each takes one draw. skips: whether `skip` may refuse.
template <class Skip>
void draw_distinct(int n, int wanted, bool skips, Skip&& skip, std::vector<int>& candidates, std::vector<char>& drawn) {
  candidates.resize(wanted);
  // Plain pointers: stores through `mark` could otherwise be stores to the vectors' own fields.
  int* out = candidates.data();
  char* mark = drawn.data();
  RandomStream random = random_stream();
  if (n < 32767) {
    int block[RandomStream::kDrawBlock];
    // Without unusable draws to skip, a block of new draws is taken whole.
    const bool whole_blocks = !skips && tells_new_blocks();
    while (wanted > 0) {
      random.peek_scaled_draws(n, block);
      if (whole_blocks && wanted >= RandomStream::kDrawBlock && all_new(block, mark)) {
        for (int r : block) mark[r] = 1;
        out = std::copy(block, block + RandomStream::kDrawBlock, out);
        wanted -= RandomStream::kDrawBlock;
        random.jump(RandomStream::kDrawBlock);
        continue;
      }
      int used = 0;
      while (used < RandomStream::kDrawBlock && wanted > 0) {
        const int r = block[used++];
        if (skip(r) || mark[r]) continue;
        mark[r] = 1;
        *out++ = r;
        --wanted;
      }
      random.jump(used);
    }
  } else {
    for (; wanted > 0; --wanted) {
      int r;
      do r = random.below(n);
      while (skip(r) || mark[r]);
      mark[r] = 1;
      *out++ = r;
    }
  }
  resume_random(random);
}

void draw_list_positions(const GrowSettings& g, std::vector<int>& candidates, std::vector<char>& drawn) {
  const auto& list = *g.var_pool;
  draw_distinct(static_cast<int>(list.size()), g.nsplitvar, false, [](int) { return false; }, candidates, drawn);
  char* mark = drawn.data();
  for (int r : candidates) mark[r] = 0;
  // With every covariate usable, position r of the list is covariate r.
  if (list.size() == g.var_usable->size()) return;
  const int* covariate = list.data();
  for (int& r : candidates) r = covariate[r];
}

void draw_usable_covariates(const GrowSettings& g, std::vector<int>& candidates, std::vector<char>& drawn) {
  const auto& usable = *g.var_usable;
  draw_distinct(static_cast<int>(usable.size()), g.nsplitvar, true, [&](int v) { return !usable[v]; }, candidates,
                drawn);
  char* mark = drawn.data();
  for (int v : candidates) mark[v] = 0;
}

}  // namespace

void choose_candidates(const GrowSettings& g, std::vector<int>& candidates, std::vector<char>& drawn) {
  candidates.clear();
  const auto& usable = *g.var_usable;
  // Three marks of room at the end: the draws' marks are read four bytes at a time.
  if (drawn.size() < usable.size() + 3) drawn.assign(usable.size() + 3, 0);
  switch (g.candidates) {
    case CandidateRule::draw_from_usable_list:
      draw_list_positions(g, candidates, drawn);
      break;
    case CandidateRule::draw_redrawing_unusable:
      draw_usable_covariates(g, candidates, drawn);
      break;
    case CandidateRule::every_usable:
      for (int v = 0; v < static_cast<int>(usable.size()); ++v)
        if (usable[v]) candidates.push_back(v);
      break;
  }
}

void start_tree(const int* sample_rows, int n, TreeRecord& t, const GrowSettings& g, GrowWork& work) {
  t.reset(sample_rows, n);
  work.memo.start(g.memo, t.capacity);
}

}  // namespace forests
