// The worker pool: numbered tasks shared with the caller, background jobs, the thread default.
#include "parallel.hpp"

#include <sched.h>

#include <chrono>
#include <exception>
#include <fstream>
#include <string>

#include "staged_outputs.hpp"

namespace forests {

namespace {

// How long a waiting thread spins before it sleeps. Levels of a tree follow each other within
// microseconds, quicker than a sleeping thread wakes; waits longer than this cost a sleep and
// a wake-up, but no processor time.
constexpr std::chrono::microseconds kSpin{20};

// state_: bits 0-19 the next task, 20-39 the task count, 40-63 the run's epoch.
constexpr int kCountBits = 20;
constexpr std::uint64_t kCountMask = (std::uint64_t{1} << kCountBits) - 1;
constexpr int kMaxBatch = static_cast<int>(kCountMask);

std::uint64_t next_of(std::uint64_t s) { return s & kCountMask; }
std::uint64_t count_of(std::uint64_t s) { return (s >> kCountBits) & kCountMask; }

void spin_pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Pauses until ready() or for at most `limit`; true when ready.
template <class Ready>
bool spin_until(Ready ready, std::chrono::nanoseconds limit) {
  if (ready()) return true;
  if (limit.count() <= 0) return false;
  const auto end = std::chrono::steady_clock::now() + limit;
  do {
    for (int k = 0; k < 32; ++k) {
      spin_pause();
      if (ready()) return true;
    }
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

}  // namespace

WorkerPool::WorkerPool(int threads) : nthreads_(threads < 1 ? 1 : threads), processors_(default_threads()) {
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
  stop_ = true;
  wake_word_.fetch_add(1);
  wake_word_.notify_all();
  for (auto& w : workers_) w.join();
}

bool WorkerPool::task_open() const {
  const std::uint64_t s = state_.load();
  return next_of(s) < count_of(s);
}

bool WorkerPool::work_waiting() const {
  return task_open() || queued_.load() > 0 || stop_.load();
}

void WorkerPool::keep_first_error(std::exception_ptr& first) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!first) first = std::current_exception();
}

// Wakes a sleeping worker, but keeps only as many threads awake as there are processors: with
// more, a woken worker would take the processor of the thread it helps.
void WorkerPool::wake_one() {
  const int sleepers = sleepers_.load();
  if (sleepers > 0 && nthreads_ - sleepers < processors_) wake_word_.notify_one();
}

// Likewise a thread spins only while no more threads are awake than there are processors.
bool WorkerPool::may_spin() const { return nthreads_ - sleepers_.load() <= processors_; }

// A task claimed while others remain wakes one more sleeping worker: the workers come in one
// by one as long as there is work for them, not all at once for a short run.
bool WorkerPool::take_task(int thread) {
  std::uint64_t s = state_.load(std::memory_order_acquire);
  do {
    if (next_of(s) >= count_of(s)) return false;
  } while (!state_.compare_exchange_weak(s, s + 1, std::memory_order_acq_rel, std::memory_order_acquire));
  if (next_of(s) + 1 < count_of(s)) wake_one();
  try {
    (*task_)(first_ + static_cast<int>(next_of(s)), thread);
  } catch (...) {
    keep_first_error(run_error_);
  }
  if (done_.fetch_add(1) + 1 == static_cast<int>(count_of(s)) && caller_sleeps_.load()) done_.notify_one();
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
  if (pending_.fetch_sub(1) == 1 && caller_sleeps_.load()) pending_.notify_one();
  return true;
}

// The word is read before looking for work: whatever comes later changes it, and the wait
// returns at once when it has changed.
void WorkerPool::work(int thread) {
  for (;;) {
    const std::uint32_t seen = wake_word_.load();
    if (stop_.load()) return;
    if (take_task(thread) || take_job(thread)) continue;
    if (!may_spin() || !spin_until([this] { return work_waiting(); }, kSpin)) sleep_until_woken(seen);
  }
}

// A waker reads sleepers_ after changing the word; this thread counts itself in before it
// reads the word again, so one of the two sees the other.
void WorkerPool::sleep_until_woken(std::uint32_t seen) {
  sleepers_.fetch_add(1);
  if (!work_waiting()) wake_word_.wait(seen);
  sleepers_.fetch_sub(1);
}

// The same handshake with caller_sleeps_: whoever brings the counter to its end wakes the caller.
template <class Done>
void WorkerPool::caller_wait(std::atomic<int>& counter, Done done) {
  if (may_spin() && spin_until([&] { return done(counter.load(std::memory_order_acquire)); }, kSpin)) return;
  caller_sleeps_.store(true);
  for (int seen; !done(seen = counter.load());) counter.wait(seen);
  caller_sleeps_.store(false, std::memory_order_relaxed);
}

void WorkerPool::run_batch(int first, int count, const std::function<void(int, int)>& task) {
  task_ = &task;
  first_ = first;
  done_.store(0, std::memory_order_relaxed);
  const std::uint64_t epoch = (state_.load() >> (2 * kCountBits)) + 1;
  state_.store(epoch << (2 * kCountBits) | static_cast<std::uint64_t>(count) << kCountBits);
  wake_word_.fetch_add(1);  // the first claim wakes a worker
  while (take_task(0)) {
  }
  caller_wait(done_, [count](int done) { return done >= count; });
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
  wake_word_.fetch_add(1);
  wake_one();
}

void WorkerPool::wait_background() {
  while (take_job(0)) {
  }
  caller_wait(pending_, [](int pending) { return pending == 0; });
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
