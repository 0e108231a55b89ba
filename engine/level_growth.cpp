// The plan of a level's searches, its chunks and the counts its threads wait on.
#include "level_growth.hpp"

#include <algorithm>
#include <numeric>

void LevelGrowth::plan(int count) {
  count_ = count;
  if (static_cast<int>(candidates_.size()) < count) {
    candidates_.resize(count);
    results_.resize(count);
  }
  searches_.clear();
  search_size_.clear();
  work_ = 0;
}

void LevelGrowth::add_search(int node, int k, int size) {
  searches_.push_back({node, k});
  search_size_.push_back(size);
  work_ += size;
}

void LevelGrowth::order_by_covariate() {
  std::vector<int> order(searches_.size());
  std::iota(order.begin(), order.end(), 0);
  auto covariate = [&](int q) { return candidates_[searches_[q].node][searches_[q].k]; };
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return covariate(a) < covariate(b); });
  std::vector<Search> searches(order.size());
  std::vector<int> sizes(order.size());
  for (std::size_t q = 0; q < order.size(); ++q) {
    searches[q] = searches_[order[q]];
    sizes[q] = search_size_[order[q]];
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

void LevelGrowth::prepare_waits(bool masks, int threads) {
  if (waits_size_ < count_) {
    waits_size_ = count_;
    left_ = std::make_unique<std::atomic<int>[]>(count_);
    mask_state_ = std::make_unique<std::atomic<int>[]>(count_);
  }
  for (int node = 0; node < count_; ++node) left_[node].store(0, std::memory_order_relaxed);
  for (const Search& q : searches_) left_[q.node].fetch_add(1, std::memory_order_relaxed);
  if (masks) {
    if (static_cast<int>(masks_.size()) < count_) masks_.resize(count_);
    if (static_cast<int>(copies_.size()) < threads) copies_.resize(threads);
    for (int node = 0; node < count_; ++node) mask_state_[node].store(kMasksToBuild, std::memory_order_relaxed);
  }
  progress_->next_chunk.store(0, std::memory_order_relaxed);
  progress_->failed.store(false, std::memory_order_relaxed);
  next_to_finish_ = 0;
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
    if (left_[node].fetch_sub(done, std::memory_order_acq_rel) == done) left_[node].notify_all();
  }
}
