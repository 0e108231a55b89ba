// The worker pool: numbered tasks shared with the caller, background jobs, the thread default.
#include "parallel.hpp"

#include <sched.h>

#include <exception>
#include <fstream>
#include <string>

#include "staged_outputs.hpp"

namespace forests {

namespace {

// state_: bits 0-19 the next task, 20-39 the task count, 40-63 the run's epoch.
constexpr int kCountBits = 20;
constexpr std::uint64_t kCountMask = (std::uint64_t{1} << kCountBits) - 1;
constexpr int kMaxBatch = static_cast<int>(kCountMask);

std::uint64_t next_of(std::uint64_t s) { return s & kCountMask; }
std::uint64_t count_of(std::uint64_t s) { return (s >> kCountBits) & kCountMask; }

}  // namespace

WorkerPool::WorkerPool(int threads) : nthreads_(threads < 1 ? 1 : threads) {
  const StopSignalsBlocked blocked;  // the workers leave them to the calling thread
  workers_.reserve(nthreads_ - 1);
  for (int t = 1; t < nthreads_; ++t) {
    try {
      workers_.emplace_back([this, t] { work(t); });
    } catch (const std::exception&) {  // no thread, or no memory for its start
      nthreads_ = t;  // go on with the threads that started: no result depends on their number
      break;
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (auto& w : workers_) w.join();
}

bool WorkerPool::task_open() const {
  const std::uint64_t s = state_.load();
  return next_of(s) < count_of(s);
}

void WorkerPool::keep_first_error(std::exception_ptr& first) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!first) first = std::current_exception();
}

bool WorkerPool::take_task(int thread) {
  std::uint64_t s = state_.load(std::memory_order_acquire);
  do {
    if (next_of(s) >= count_of(s)) return false;
  } while (!state_.compare_exchange_weak(s, s + 1, std::memory_order_acq_rel, std::memory_order_acquire));
  try {
    (*task_)(first_ + static_cast<int>(next_of(s)), thread);
  } catch (...) {
    keep_first_error(run_error_);
  }
  done_.fetch_add(1, std::memory_order_release);
  return true;
}

bool WorkerPool::take_job(int thread) {
  if (queued_.load(std::memory_order_acquire) == 0) return false;
  std::function<void(int)> job;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (jobs_.empty()) return false;
    job = std::move(jobs_.front());
    jobs_.pop_front();
    --queued_;
  }
  try {
    job(thread);
  } catch (...) {
    keep_first_error(job_error_);
  }
  if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) background_done_.wake_all();
  return true;
}

void WorkerPool::work(int thread) {
  int idle = 0;
  while (!stop_) {
    if (take_task(thread) || take_job(thread)) {
      idle = 0;
    } else if (++idle < kSpinsBeforeSleep) {
      cpu_relax();
    } else {
      std::unique_lock<std::mutex> lock(mutex_);
      ++sleepers_;
      wake_.wait(lock, [&] { return stop_ || !jobs_.empty() || task_open(); });
      --sleepers_;
      idle = 0;
    }
  }
}

void WorkerPool::run_batch(int first, int count, const std::function<void(int, int)>& task) {
  task_ = &task;
  first_ = first;
  done_.store(0, std::memory_order_relaxed);
  const std::uint64_t epoch = (state_.load() >> (2 * kCountBits)) + 1;
  state_.store(epoch << (2 * kCountBits) | static_cast<std::uint64_t>(count) << kCountBits);
  if (sleepers_.load() > 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_.notify_all();
  }
  while (take_task(0)) {
  }
  while (done_.load(std::memory_order_acquire) < count) cpu_relax();
}

void WorkerPool::run(int count, const std::function<void(int, int)>& task) {
  if (nthreads_ == 1 || count <= 1) {
    for (int k = 0; k < count; ++k) task(k, 0);
    return;
  }
  run_error_ = nullptr;
  for (int first = 0; first < count; first += kMaxBatch) run_batch(first, std::min(kMaxBatch, count - first), task);
  task_ = nullptr;
  if (run_error_) std::rethrow_exception(run_error_);
}

void WorkerPool::post(std::function<void(int)> job) {
  if (workers_.empty()) {
    job(0);
    return;
  }
  pending_.fetch_add(1, std::memory_order_acq_rel);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
    ++queued_;
  }
  if (sleepers_.load() > 0) wake_.notify_all();
}

void WorkerPool::wait_background() {
  while (take_job(0)) {
  }
  // Jobs may run long (writing a file): the caller sleeps rather than spins.
  background_done_.wait_until([this] { return pending_.load(std::memory_order_acquire) == 0; });
  std::exception_ptr error;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::swap(error, job_error_);
  }
  if (error) std::rethrow_exception(error);
}

void run_tasks(WorkerPool* pool, int count, const std::function<void(int, int)>& task) {
  if (pool)
    pool->run(count, task);
  else
    for (int k = 0; k < count; ++k) task(k, 0);
}

namespace {

// Processors a control group's quota allows (quota / period, rounded up); 0 when no quota is set.
int quota_processors() {
  long long quota = 0, period = 0;
  std::ifstream v2("/sys/fs/cgroup/cpu.max");
  std::string text;
  if (v2 >> text >> period) {
    if (text == "max" || period <= 0) return 0;
    quota = std::stoll(text);
  } else {
    std::ifstream q("/sys/fs/cgroup/cpu/cpu.cfs_quota_us"), p("/sys/fs/cgroup/cpu/cpu.cfs_period_us");
    if (!(q >> quota) || !(p >> period) || quota <= 0 || period <= 0) return 0;
  }
  if (quota <= 0) return 0;
  return static_cast<int>(std::max<long long>(1, (quota + period - 1) / period));
}

}  // namespace

int default_threads() {
  int n = 0;
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) n = CPU_COUNT(&set);
  if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
  try {
    const int quota = quota_processors();
    if (quota > 0 && quota < n) n = quota;
  } catch (const std::exception&) {
    // An unreadable quota leaves the affinity count.
  }
  return n < 1 ? 1 : n;
}

std::unique_ptr<WorkerPool> make_pool(int threads) {
  return threads > 1 ? std::make_unique<WorkerPool>(threads) : nullptr;
}

}  // namespace forests
