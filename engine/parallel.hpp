// A fixed pool of worker threads for the parts of a run that do not draw random numbers.
//
// Work is handed out as numbered tasks; the caller takes part and run() returns when every
// task is done, so results land in tables indexed by task and are used in a fixed order.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class WorkerPool {
 public:
  explicit WorkerPool(int threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int threads() const { return nthreads_; }

  // Runs task(k, thread) for k = 0 .. count-1, thread being 0 .. threads()-1.
  void run(int count, const std::function<void(int task, int thread)>& task);

 private:
  void work(int thread);
  void take_tasks(int thread);

  int nthreads_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable start_, done_;
  const std::function<void(int, int)>* task_ = nullptr;
  int count_ = 0;
  std::atomic<int> next_{0};
  std::atomic<int> active_{0};
  std::atomic<long> generation_{0};
  std::atomic<bool> stop_{false};
  std::exception_ptr error_;
};

// A pause inside a spin-wait loop.
inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Runs task(k, thread) for k = 0 .. count-1: on the pool when there is one, else in order here.
void run_tasks(WorkerPool* pool, int count, const std::function<void(int task, int thread)>& task);

// The "-threads" default: the machine's hardware threads.
int default_threads();

// A pool for `threads` threads; none for one thread.
std::unique_ptr<WorkerPool> make_pool(int threads);
