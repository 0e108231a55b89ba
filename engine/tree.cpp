#include "tree.hpp"

#include <algorithm>
#include <cmath>

#include "random.hpp"

TreeRecord::TreeRecord(int cap, int nclass)
    : capacity(cap),
      spv(cap, -1),
      dt(cap, 0),
      na_right(cap, 0),
      parent(cap, 0),
      nodeclass(cap, 0),
      spvl(cap, 0.0),
      spvl_char(cap),
      begin(cap, 0),
      count(cap, 0),
      split_table(2 * nclass, 0) {}

void TreeRecord::reset(const int* sample_rows, int n) {
  rows.assign(sample_rows, sample_rows + n);
  if (scratch_rows.size() < static_cast<std::size_t>(n)) scratch_rows.resize(n);
  std::fill(spv.begin(), spv.end(), -1);
  std::fill(dt.begin(), dt.end(), 0);
  std::fill(spvl.begin(), spvl.end(), 0.0);
  std::fill(na_right.begin(), na_right.end(), 0);
  nnd = 1;
  begin[0] = 0;
  count[0] = n;
}

int node_cases(const TreeRecord& t, int i) {
  const int n = t.count[i];
  if (n == 0) {
    const int p = t.parent[i];
    fail(format("The split using variable %d at a value of %f results in", t.spv[p] + 1, t.spvl[p]) +
         " an empty node\n");
  }
  return n;
}

int candidates_per_node(bool given, int nsplitvar, int nusable) {
  if (!given) nsplitvar = static_cast<int>(std::sqrt(static_cast<double>(nusable)));
  if (nsplitvar > nusable)
    fail(format("The number of candidate covariates per node (-m %d) exceeds the %d usable covariates.\n", nsplitvar,
                nusable));
  return nsplitvar;
}

GrowWork::GrowWork(int nclass, int max_codes, WorkerPool* p)
    : pool(p), scratch(p ? p->threads() : 1) {
  for (auto& w : scratch) w.prepare(nclass, max_codes);
}

void draw_candidates(const GrowSettings& g, std::vector<int>& candidates, std::vector<char>& drawn) {
  candidates.clear();
  const auto& usable = *g.var_usable;
  if (drawn.size() < usable.size()) drawn.assign(usable.size(), 0);
  if (g.draw_from_pool) {
    const auto& pool = *g.var_pool;
    const int nusable = static_cast<int>(pool.size());
    for (int j = 0; j < g.nsplitvar; ++j) {
      int r;
      do r = rand_below(nusable);
      while (drawn[r]);
      drawn[r] = 1;
      candidates.push_back(r);
    }
    for (int& r : candidates) {
      drawn[r] = 0;
      r = pool[r];
    }
  } else {
    const int ncov = static_cast<int>(usable.size());
    for (int j = 0; j < g.nsplitvar; ++j) {
      int v;
      do v = rand_below(ncov);
      while (!usable[v] || drawn[v]);
      drawn[v] = 1;
      candidates.push_back(v);
    }
    for (int v : candidates) drawn[v] = 0;
  }
}

void SearchMemo::reset(int n) {
  ncov = n;
  // About 64 MB of remembered searches at most.
  max_entries = std::max<std::size_t>(1, (std::size_t{64} << 20) / (static_cast<std::size_t>(n) * 26 + 64));
  entries.clear();
  entries.push_back({std::vector<Candidate>(n), std::vector<char>(n, 0), {}});
}

int SearchMemo::daughter(int entry, int v, int side) {
  const int key = 2 * v + side;
  for (auto [k, e] : entries[entry].child)
    if (k == key) return e;
  if (entries.size() >= max_entries) return -1;
  const int e = static_cast<int>(entries.size());
  entries.push_back({std::vector<Candidate>(ncov), std::vector<char>(ncov, 0), {}});
  entries[entry].child.emplace_back(key, e);
  return e;
}
