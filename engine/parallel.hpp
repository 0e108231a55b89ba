// A fixed pool of worker threads for the parts of a run that do not draw random numbers.
//
// Work is handed out as numbered tasks; the caller takes part and run() returns when every
// task is done, so results land in tables indexed by task and are used in a fixed order.
// Longer jobs can be posted to run in the background: a worker with no task at hand takes
// them, and run() never waits for a worker busy with one.
//
// Which thread runs what: thread numbers are 0 .. threads()-1. Thread 0 is always the thread
// that called run() or wait_background(), and only it; the workers are threads 1 and up. A task
// may run on any of them, and which one takes which task is not fixed: the caller may take
// every task, or none when the workers are quicker. A task may count on its thread number to
// pick per-thread tables, and thread 0 on being the caller (it may touch what the caller owns).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace forests {

// Rounds a waiting thread spins (each giving way to ready threads) before it sleeps: levels of a
// tree follow each other within microseconds, far quicker than a sleeping thread wakes.
constexpr int kSpinsBeforeSleep = 1 << 8;

// A pause inside a spin-wait loop. The thread also gives way to any other that is ready to
// run: with more threads than processors, the thread waited for may need this one.
inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
  std::this_thread::yield();
}

// Threads waiting for others' progress, which the others mark in atomics. A mutex and a
// condition variable, not the atomics' own wait and notify: in this standard library those
// missed a wake-up now and then, and a run slept until a debugger stirred it.
class ProgressWaits {
 public:
  // Returns once done() holds; done() reads the atomics. It spins a while first, as the pool's
  // workers do: the steps waited for mostly take microseconds, less than a sleeper takes to wake.
  template <class Done>
  void wait_until(Done done) {
    for (int round = 0; round < kSpinsBeforeSleep; ++round) {
      if (done()) return;
      cpu_relax();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, done);
  }
  // Wakes the waiting threads, after an atomic they wait on has changed. Taking the mutex first
  // means a waiter is either before its last look at the atomics or asleep, never between.
  void wake_all() {
    { std::lock_guard<std::mutex> lock(mutex_); }
    wake_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
};

class WorkerPool {
 public:
  explicit WorkerPool(int threads);
  ~WorkerPool();  // drops jobs not yet started and waits for those running
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int threads() const { return nthreads_; }

  // Runs task(k, thread) for k = 0 .. count-1, thread being 0 (this thread) .. threads()-1.
  // Every task runs even when one fails; then the first error is thrown here.
  void run(int count, const std::function<void(int task, int thread)>& task);

  // Queues job(thread) for a worker (thread: the one that runs it); without workers it runs here.
  void post(std::function<void(int thread)> job);

  // Waits until every posted job is done, taking queued ones here (as thread 0); rethrows the
  // first error of a job.
  void wait_background();

 private:
  void work(int thread);
  bool take_task(int thread);
  bool take_job(int thread);
  bool task_open() const;
  // Inside a handler: keeps the error being handled in `first` unless it holds one already.
  void keep_first_error(std::exception_ptr& first);
  void run_batch(int first, int count, const std::function<void(int, int)>& task);

  int nthreads_;
  std::vector<std::thread> workers_;
  // The current run: epoch, task count and next task packed in one word, so that a claim
  // can never take a task of a run that has ended.
  std::atomic<std::uint64_t> state_{0};
  const std::function<void(int, int)>* task_ = nullptr;
  int first_ = 0;
  std::atomic<int> done_{0};
  std::exception_ptr run_error_;
  // Background jobs.
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void(int)>> jobs_;
  std::atomic<int> queued_{0};
  std::atomic<int> pending_{0};  // queued or running
  ProgressWaits background_done_;  // for pending_ to reach zero
  std::exception_ptr job_error_;
  std::atomic<int> sleepers_{0};
  std::atomic<bool> stop_{false};
};

// Runs task(k, thread) for k = 0 .. count-1: on the pool when there is one, else in order here.
void run_tasks(WorkerPool* pool, int count, const std::function<void(int task, int thread)>& task);

// The "-threads" default: the processors this process may use (its affinity mask), fewer when
// a control group's processor quota allows fewer.
int default_threads();

// A pool for `threads` threads; none for one thread.
std::unique_ptr<WorkerPool> make_pool(int threads);

}  // namespace forests
