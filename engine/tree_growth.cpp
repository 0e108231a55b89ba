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

void draw_list_positions(const GrowSettings& g, std::vector<int>& candidates, std::vector<char>& drawn) {
  const auto& list = *g.var_pool;
  const int nusable = static_cast<int>(list.size());
  RandomStream random = random_stream();
  for (int j = 0; j < g.nsplitvar; ++j) {
    int r;
    do r = random.below(nusable);
    while (drawn[r]);
    drawn[r] = 1;
    candidates.push_back(r);
  }
  resume_random(random);
  for (int& r : candidates) {
    drawn[r] = 0;
    r = list[r];
  }
}

void draw_usable_covariates(const GrowSettings& g, std::vector<int>& candidates, std::vector<char>& drawn) {
  const auto& usable = *g.var_usable;
  const int ncov = static_cast<int>(usable.size());
  RandomStream random = random_stream();
  for (int j = 0; j < g.nsplitvar; ++j) {
    int v;
    do v = random.below(ncov);
    while (!usable[v] || drawn[v]);
    drawn[v] = 1;
    candidates.push_back(v);
  }
  resume_random(random);
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
