// The memo of recurring nodes' searches.
#include "search_memo.hpp"

#include <algorithm>

namespace forests {

void SearchMemo::reset(int min_cases) {
  min_size = min_cases;
  entries.clear();
  entries.emplace_back();
  used = sizeof(Entry);
  asked_at_depth.clear();
  answered_at_depth.clear();
}

int SearchMemo::daughter(int entry, int v, int side) {
  const int depth = entries[entry].depth + 1;
  if (!depth_pays(depth)) return -1;
  const int key = 2 * v + side;
  for (auto [k, e] : entries[entry].child)
    if (k == key) return e;
  if (used + sizeof(Entry) > budget) return -1;
  used += sizeof(Entry);
  const int e = static_cast<int>(entries.size());
  entries.emplace_back();
  entries[e].depth = depth;
  entries[entry].child.emplace_back(key, e);
  return e;
}

bool SearchMemo::depth_pays(int depth) const {
  if (least_hit_share <= 0.0 || depth >= static_cast<int>(asked_at_depth.size())) return true;
  const long long asked = asked_at_depth[depth];
  return asked < depth_trial || static_cast<double>(answered_at_depth[depth]) >= least_hit_share * asked;
}

void SearchMemo::count_answers(int depth, long long asked, long long answered) {
  if (least_hit_share <= 0.0) return;
  if (depth >= static_cast<int>(asked_at_depth.size())) {
    asked_at_depth.resize(depth + 1, 0);
    answered_at_depth.resize(depth + 1, 0);
  }
  asked_at_depth[depth] += asked;
  answered_at_depth[depth] += answered;
}

namespace {

constexpr int kFirstSlots = 16;

// The slot of covariate v in a table of `slots` (a power of two) slots: its own or, when absent,
// the empty one where it would go.
int slot_of(const std::vector<int>& slot_covariate, int v) {
  const int mask = static_cast<int>(slot_covariate.size()) - 1;
  int s = v & mask;
  while (slot_covariate[s] != v && slot_covariate[s] >= 0) s = (s + 1) & mask;
  return s;
}

}  // namespace

bool SearchMemo::make_room(Entry& e, int more) {
  const std::size_t slots = e.slot_covariate.size();
  const std::size_t wanted = static_cast<std::size_t>(e.kept) + static_cast<std::size_t>(more);
  if (4 * wanted <= 3 * slots) return true;
  std::size_t grown = std::max<std::size_t>(slots, kFirstSlots);
  while (4 * wanted > 3 * grown) grown *= 2;
  const std::size_t bytes = (grown - slots) * (sizeof(int) + sizeof(Candidate));
  if (used + bytes > budget) return false;
  used += bytes;
  std::vector<int> old_covariate(grown, -1);
  std::vector<Candidate> old_result(grown);
  old_covariate.swap(e.slot_covariate);
  old_result.swap(e.slot_result);
  for (std::size_t k = 0; k < slots; ++k) {
    if (old_covariate[k] < 0) continue;
    const int s = slot_of(e.slot_covariate, old_covariate[k]);
    e.slot_covariate[s] = old_covariate[k];
    e.slot_result[s] = old_result[k];
  }
  return true;
}

void SearchMemo::keep(int entry, int v, const Candidate& c) {
  Entry& e = entries[entry];
  if (!e.slot_covariate.empty()) {
    const int s = slot_of(e.slot_covariate, v);
    if (e.slot_covariate[s] == v) return;  // the same search gave the same result
  }
  if (!make_room(e, 1)) return;
  const int s = slot_of(e.slot_covariate, v);
  e.slot_covariate[s] = v;
  e.slot_result[s] = c;
  ++e.kept;
}

const Candidate* SearchMemo::kept_result(const Entry& e, int v) const {
  if (e.kept == 0) return nullptr;
  const int s = slot_of(e.slot_covariate, v);
  return e.slot_covariate[s] == v ? &e.slot_result[s] : nullptr;
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
  if (!memo || entry[i] < 0) return !candidates.empty();
  const SearchMemo::Entry* e = &memo->entries[entry[i]];
  bool left = false;
  long long answered = 0;
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    const Candidate* kept = memo->kept_result(*e, candidates[k]);
    if (kept) {
      results[k] = *kept;
      known[k] = 1;
      ++answered;
    } else {
      left = true;
    }
  }
  memo->count_answers(e->depth, static_cast<long long>(candidates.size()), answered);
  return left;
}

void MemoPlaces::remember(int i, const std::vector<int>& candidates, const std::vector<Candidate>& results) {
  if (!memo || entry[i] < 0) return;
  // Room for all of them at once: a table grown step by step would be copied at every step.
  memo->make_room(memo->entries[entry[i]], static_cast<int>(candidates.size()));
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
