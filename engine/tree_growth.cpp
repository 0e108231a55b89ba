// Candidate draws, the number of candidates and the start of a tree.
#include "tree_growth.hpp"

#include <cmath>

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

// Draws positions 0 .. n-1 until `wanted` distinct ones, skipping those `skip` refuses and
// those drawn already, in draw order into `candidates` (marked in `drawn`): below(n) again and
// again, a block of draws at a time where each takes one draw.
template <class Skip>
void draw_distinct(int n, int wanted, Skip&& skip, std::vector<int>& candidates, std::vector<char>& drawn) {
  candidates.resize(wanted);
  // Plain pointers: stores through `mark` could otherwise be stores to the vectors' own fields.
  int* out = candidates.data();
  char* mark = drawn.data();
  RandomStream random = random_stream();
  if (n < 32767) {
    int block[RandomStream::kDrawBlock];
    while (wanted > 0) {
      random.peek_scaled_draws(n, block);
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
  draw_distinct(static_cast<int>(list.size()), g.nsplitvar, [](int) { return false; }, candidates, drawn);
  for (int& r : candidates) {
    drawn[r] = 0;
    r = list[r];
  }
}

void draw_usable_covariates(const GrowSettings& g, std::vector<int>& candidates, std::vector<char>& drawn) {
  const auto& usable = *g.var_usable;
  draw_distinct(static_cast<int>(usable.size()), g.nsplitvar, [&](int v) { return !usable[v]; }, candidates, drawn);
  for (int v : candidates) drawn[v] = 0;
}

}  // namespace

void choose_candidates(const GrowSettings& g, std::vector<int>& candidates, std::vector<char>& drawn) {
  candidates.clear();
  const auto& usable = *g.var_usable;
  if (drawn.size() < usable.size()) drawn.assign(usable.size(), 0);
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
