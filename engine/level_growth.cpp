// The plan of a level's searches, its chunks and the counts its threads wait on.
#include "level_growth.hpp"

#include <algorithm>
#include <numeric>

namespace forests {

void LevelGrowth::plan(int count) {
  count_ = count;
  if (static_cast<int>(candidates_.size()) < count) {
    candidates_.resize(count);
    results_.resize(count);
  }
  best_only_.assign(count, 0);
  searches_.clear();
  search_size_.clear();
  work_ = 0;
}

// A counting sort: searches of one covariate keep their order.
void LevelGrowth::order_by_covariate() {
  auto covariate = [&](const Search& q) { return candidates_[q.node][q.k]; };
  int ncov = 0;
  for (const Search& q : searches_) ncov = std::max(ncov, covariate(q) + 1);
  std::vector<int> start(ncov + 1, 0);
  for (const Search& q : searches_) ++start[covariate(q) + 1];
  std::partial_sum(start.begin(), start.end(), start.begin());
  std::vector<Search> searches(searches_.size());
  std::vector<int> sizes(searches_.size());
  for (std::size_t q = 0; q < searches_.size(); ++q) {
    const int at = start[covariate(searches_[q])]++;
    searches[at] = searches_[q];
    sizes[at] = search_size_[q];
  }
  searches_.swap(searches);
  search_size_.swap(sizes);
}

// Searches are handed out in runs of about equal work, so that small nodes do not cost a
// hand-over each.
WorkerPool* LevelGrowth::share_out(WorkerPool* pool) {
  if (work_ < kParallelLevelWork) pool = nullptr;
  const int nsearch = static_cast<int>(searches_.size());
  chunks_.assign(1, 0);
  if (pool) {
    const long long per_chunk = std::max<long long>(work_ / (8LL * pool->threads()), 1024);
    long long acc = 0;
    for (int k = 0; k < nsearch; ++k) {
      acc += search_size_[k];
      if (acc >= per_chunk) {
        chunks_.push_back(k + 1);
        acc = 0;
      }
    }
  }
  if (chunks_.back() != nsearch) chunks_.push_back(nsearch);
  return pool;
}

void LevelGrowth::prepare_masks(bool masks, int threads) {
  if (waits_size_ < count_) {
    waits_size_ = count_;
    left_ = std::make_unique<std::atomic<int>[]>(count_);
    mask_state_ = std::make_unique<std::atomic<int>[]>(count_);
  }
  masks_used_ = masks;
  if (masks) {
    if (static_cast<int>(masks_.size()) < count_) masks_.resize(count_);
    if (static_cast<int>(copies_.size()) < threads) copies_.resize(threads);
    for (int node = 0; node < count_; ++node) mask_state_[node].store(kMasksToBuild, std::memory_order_relaxed);
  }
}

void LevelGrowth::prepare_waits() {
  std::vector<int> left(count_, 0);
  for (const Search& q : searches_) ++left[q.node];
  for (int node = 0; node < count_; ++node) left_[node].store(left[node], std::memory_order_relaxed);
  progress_->next_chunk.store(0, std::memory_order_relaxed);
  progress_->failed.store(false, std::memory_order_relaxed);
  next_to_finish_ = 0;
}

const std::vector<int>* LevelGrowth::class_totals(int node) const {
  if (!masks_used_ || progress_->failed || mask_state_[node].load(std::memory_order_acquire) != kMasksBuilt) return nullptr;
  const NodeMasks& m = masks_[node];
  return m.active || m.listed ? &m.total : nullptr;
}

int LevelGrowth::next_chunk() {
  const int chunk = progress_->next_chunk.fetch_add(1, std::memory_order_relaxed);
  return chunk < static_cast<int>(chunks_.size()) - 1 ? chunk : -1;
}

void LevelGrowth::release(int from, int to) {
  while (from < to) {
    const int node = searches_[from].node;
    int done = 0;
    for (; from < to && searches_[from].node == node; ++from) ++done;
    if (left_[node].fetch_sub(done, std::memory_order_acq_rel) == done) progress_->waits.wake_all();
  }
}

}  // namespace forests
