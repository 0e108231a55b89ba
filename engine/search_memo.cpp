// The memo of recurring nodes' searches.
#include "search_memo.hpp"

namespace forests {

void SearchMemo::reset(int n, int min_cases) {
  ncov = n;
  min_size = min_cases;
  entries.clear();
  entries.emplace_back();
  used = sizeof(Entry);
}

int SearchMemo::daughter(int entry, int v, int side) {
  const int key = 2 * v + side;
  for (auto [k, e] : entries[entry].child)
    if (k == key) return e;
  if (used + sizeof(Entry) > budget) return -1;
  used += sizeof(Entry);
  const int e = static_cast<int>(entries.size());
  entries.emplace_back();
  entries[entry].child.emplace_back(key, e);
  return e;
}

void SearchMemo::keep(int entry, int v, const Candidate& c) {
  Entry& e = entries[entry];
  if (e.result.empty()) {
    const std::size_t bytes = static_cast<std::size_t>(ncov) * (sizeof(Candidate) + 1);
    if (used + bytes > budget) return;
    used += bytes;
    e.result.resize(ncov);
    e.known.assign(ncov, 0);
  }
  e.result[v] = c;
  e.known[v] = 1;
}

void MemoPlaces::start(SearchMemo* m, int capacity) {
  memo = m;
  entry.assign(capacity, -1);
  if (memo && !memo->entries.empty()) entry[0] = 0;
}

void MemoPlaces::follow_split(const TreeRecord& t, int i, int v) {
  if (!memo || entry[i] < 0) return;
  for (int side = 0; side < 2; ++side)
    if (t.count[t.left_daughter[i] + side] >= memo->min_size) entry[t.left_daughter[i] + side] = memo->daughter(entry[i], v, side);
}

bool MemoPlaces::recall(int i, const std::vector<int>& candidates, std::vector<Candidate>& results,
                        std::vector<char>& known) const {
  known.assign(candidates.size(), 0);
  const SearchMemo::Entry* e = memo && entry[i] >= 0 ? &memo->entries[entry[i]] : nullptr;
  if (e && e->result.empty()) e = nullptr;
  bool left = false;
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    if (e && e->known[candidates[k]]) {
      results[k] = e->result[candidates[k]];
      known[k] = 1;
    } else {
      left = true;
    }
  }
  return left;
}

void MemoPlaces::remember(int i, const std::vector<int>& candidates, const std::vector<Candidate>& results) {
  if (!memo || entry[i] < 0) return;
  for (std::size_t k = 0; k < candidates.size(); ++k) memo->keep(entry[i], candidates[k], results[k]);
}

bool MemoPlaces::recall_best(int i, std::vector<int>& candidates, std::vector<Candidate>& results) const {
  if (!memo || entry[i] < 0) return false;
  const SearchMemo::Entry& e = memo->entries[entry[i]];
  if (e.best == SearchMemo::kBestUnknown) return false;
  candidates.clear();
  results.clear();
  if (e.best >= 0) {
    candidates.push_back(e.best);
    results.push_back(e.best_result);
  }
  return true;
}

void MemoPlaces::remember_best(int i, int v, const Candidate& c) {
  if (!memo || entry[i] < 0) return;
  SearchMemo::Entry& e = memo->entries[entry[i]];
  e.best = v;
  e.best_result = c;
}

}  // namespace forests
