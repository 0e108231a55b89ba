#include "parallel.hpp"

namespace {

// Spins this many rounds before sleeping: levels of a tree follow each other within
// microseconds, far quicker than a sleeping thread wakes.
constexpr int kSpins = 1 << 14;

}  // namespace

WorkerPool::WorkerPool(int threads) : nthreads_(threads < 1 ? 1 : threads) {
  for (int t = 1; t < nthreads_; ++t) workers_.emplace_back([this, t] { work(t); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  start_.notify_all();
  for (auto& w : workers_) w.join();
}

void WorkerPool::take_tasks(int thread) {
  for (int k = next_.fetch_add(1); k < count_; k = next_.fetch_add(1)) {
    try {
      (*task_)(k, thread);
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!error_) error_ = std::current_exception();
    }
  }
}

void WorkerPool::work(int thread) {
  long seen = 0;
  for (;;) {
    for (int spin = 0; generation_.load(std::memory_order_acquire) == seen && !stop_; ++spin) {
      if (spin < kSpins) {
        cpu_relax();
      } else {
        std::unique_lock<std::mutex> lock(mutex_);
        start_.wait(lock, [&] { return generation_.load() != seen || stop_; });
      }
    }
    if (stop_) return;
    seen = generation_.load(std::memory_order_acquire);
    take_tasks(thread);
    if (active_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      std::lock_guard<std::mutex> lock(mutex_);
      done_.notify_one();
    }
  }
}

void WorkerPool::run(int count, const std::function<void(int, int)>& task) {
  if (nthreads_ == 1 || count <= 1) {
    for (int k = 0; k < count; ++k) task(k, 0);
    return;
  }
  task_ = &task;
  count_ = count;
  error_ = nullptr;
  next_.store(0);
  active_.store(nthreads_ - 1);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    generation_.fetch_add(1, std::memory_order_release);
  }
  start_.notify_all();
  take_tasks(0);
  for (int spin = 0; active_.load(std::memory_order_acquire) != 0; ++spin) {
    if (spin < kSpins) {
      cpu_relax();
    } else {
      std::unique_lock<std::mutex> lock(mutex_);
      done_.wait(lock, [&] { return active_.load() == 0; });
    }
  }
  task_ = nullptr;
  if (error_) std::rethrow_exception(error_);
}

void run_tasks(WorkerPool* pool, int count, const std::function<void(int, int)>& task) {
  if (pool)
    pool->run(count, task);
  else
    for (int k = 0; k < count; ++k) task(k, 0);
}

int default_threads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

std::unique_ptr<WorkerPool> make_pool(int threads) {
  return threads > 1 ? std::make_unique<WorkerPool>(threads) : nullptr;
}
