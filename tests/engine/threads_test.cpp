// Threads change nothing but the time: every program writes the same files with one thread
// and with several.
#include <gtest/gtest.h>

#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "parallel.hpp"
#include "run_program.hpp"

using namespace forests;

namespace {

// Waits until ready() holds; false after two seconds, so that a lost wake-up fails the test
// instead of hanging it.
template <class Ready>
bool comes_true(Ready ready) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::yield();  // the thread waited for may need this processor
  }
  return true;
}

// Ends the test program when a test hangs, so that a wake-up lost where no one checks shows as
// a failure at once.
class HangGuard {
 public:
  HangGuard()
      : thread_([this] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!over_.wait_for(lock, std::chrono::seconds(20), [this] { return done_; })) {
            std::fputs("hung: a waiting thread was never woken\n", stderr);
            std::abort();
          }
        }) {}
  ~HangGuard() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    over_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable over_;
  bool done_ = false;
  std::thread thread_;
};

// Pauses of the caller between runs: none, a short one that finds the workers spinning, and
// one long enough for them to fall asleep.
void pause_for(int round) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(5);
  if (round % 3 == 1)
    while (std::chrono::steady_clock::now() < end) {
    }
  else if (round % 3 == 2)
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
}

}  // namespace

TEST(WorkerPool, RunsEveryTaskOnceAndPassesErrorsOn) {
  const HangGuard guard;
  WorkerPool pool(3);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::atomic<int>> hits(257);
    pool.run(257, [&](int k, int thread) {
      ASSERT_GE(thread, 0);
      ASSERT_LT(thread, 3);
      ++hits[k];
    });
    for (auto& h : hits) ASSERT_EQ(h.load(), 1);
  }
  EXPECT_THROW(pool.run(10, [](int k, int) { if (k == 7) throw 7; }), int);
  int ran = 0;
  run_tasks(nullptr, 5, [&](int k, int thread) { ran += k + thread; });
  EXPECT_EQ(ran, 10);
}

TEST(WorkerPool, BackgroundJobsRunOnceAndNeverHoldRunsUp) {
  const HangGuard guard;
  WorkerPool pool(2);
  for (int round = 0; round < 50; ++round) {
    // A job that waits until the run after it is over: the run must finish without its worker.
    std::atomic<bool> release{false};
    std::atomic<int> jobs{0};
    pool.post([&](int) {
      release.wait(false);
      ++jobs;
    });
    std::atomic<int> tasks{0};
    pool.run(100, [&](int, int) { ++tasks; });
    EXPECT_EQ(tasks.load(), 100);
    release = true;
    release.notify_all();
    for (int k = 0; k < 5; ++k) pool.post([&](int) { ++jobs; });
    pool.wait_background();
    ASSERT_EQ(jobs.load(), 6);
  }
  pool.post([](int) { throw 3; });
  EXPECT_THROW(pool.wait_background(), int);
  pool.wait_background();  // the error is passed on once
  WorkerPool alone(1);
  int here = 0;
  alone.post([&](int thread) { here = thread + 1; });
  EXPECT_EQ(here, 1);  // no workers: the job ran at once
}

TEST(WorkerPool, SleepingWorkersWakeForEveryRunAndJob) {
  const HangGuard guard;
  for (int threads : {2, 3, 8}) {  // 8: more threads than this machine may have processors
    WorkerPool pool(threads);
    // Workers are woken while there are processors for them.
    const int awake = std::min(threads, default_threads());
    for (int round = 0; round < 12; ++round) {
      pause_for(round);
      // Each task waits for all the others to start: every worker has to come.
      std::atomic<int> started{0};
      bool all_came = true;
      pool.run(awake, [&](int, int) {
        ++started;
        if (!comes_true([&] { return started.load() == awake; })) all_came = false;
      });
      ASSERT_TRUE(all_came) << threads << " threads, round " << round;
      // A job posted to sleeping workers runs without the caller's help; the caller waits for
      // its end (spinning, or asleep when it is long).
      pause_for(round + 1);
      std::atomic<bool> ran{false};
      pool.post([&](int thread) {
        if (awake > 1) {
          EXPECT_GT(thread, 0);
        }
        ran = true;
        pause_for(round);
      });
      if (awake > 1) {
        ASSERT_TRUE(comes_true([&] { return ran.load(); })) << threads << " threads, round " << round;
      }
      pool.wait_background();
    }
  }
}

TEST(WorkerPool, ManyShortRunsBetweenJobsNeitherHangNorLoseTasks) {
  const HangGuard guard;
  for (int threads : {2, 8}) {
    WorkerPool pool(threads);
    std::atomic<long> task_sum{0};
    std::atomic<int> jobs{0};
    long expected = 0;
    int posted = 0;
    for (int round = 0; round < 2000; ++round) {
      const int count = 2 + round % 7;
      if (round % 5 == 0) {
        ++posted;
        pool.post([&](int) {
          // Some jobs outlast several runs: the caller then sleeps in wait_background.
          if (jobs.fetch_add(1) % 50 == 0) std::this_thread::sleep_for(std::chrono::microseconds(500));
        });
      }
      pool.run(count, [&](int k, int) { task_sum += k + 1; });
      expected += count * (count + 1) / 2;
      if (round % 97 == 0) pool.wait_background();
      if (round % 250 == 0) pause_for(2);
    }
    pool.wait_background();
    EXPECT_EQ(task_sum.load(), expected) << threads;
    EXPECT_EQ(jobs.load(), posted) << threads;
  }
}

// Two threads hand a counter back and forth many times, each waiting for the other's step, as
// the searches of a level wait for a node's masks or last searches: no step's wake-up is lost.
TEST(ProgressWaits, EveryStepWakesItsWaiter) {
  const HangGuard guard;
  ProgressWaits waits;
  std::atomic<int> step{0};
  constexpr int kSteps = 20000;
  auto take_turns = [&](int parity) {
    for (int s = parity; s < kSteps; s += 2) {
      waits.wait_until([&] { return step.load(std::memory_order_acquire) == s; });
      step.store(s + 1, std::memory_order_release);
      waits.wake_all();
    }
  };
  std::thread other(take_turns, 1);
  take_turns(0);
  other.join();
  EXPECT_EQ(step.load(), kSteps);
}

TEST(WorkerPool, AFailingTaskLetsTheOthersRunAndThePoolGoOn) {
  const HangGuard guard;
  WorkerPool pool(4);
  const bool helped = default_threads() > 1;  // else the workers are left asleep
  for (int round = 0; round < 100; ++round) {
    std::vector<std::atomic<int>> hits(40);
    const int bad = round % 40;
    std::atomic<bool> worker_came{false};
    try {
      pool.run(40, [&](int k, int thread) {
        ++hits[k];
        // Now and then a worker's task is slow: the caller falls asleep waiting for it.
        if (round % 10 == 0 && thread > 0 && !worker_came.exchange(true))
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (round % 10 == 0 && thread == 0 && helped) {
          EXPECT_TRUE(comes_true([&] { return worker_came.load(); }));
        }
        if (k == bad || k == (bad + 13) % 40) throw k;
      });
      ADD_FAILURE() << "no error passed on";
    } catch (int k) {
      EXPECT_TRUE(k == bad || k == (bad + 13) % 40);
    }
    for (auto& h : hits) ASSERT_EQ(h.load(), 1);
  }
  int sum = 0;
  std::mutex m;
  pool.run(10, [&](int k, int) {
    std::lock_guard<std::mutex> lock(m);
    sum += k;
  });
  EXPECT_EQ(sum, 45);
}

namespace {

// Mixed data with missing cells; the class follows the first covariates.
std::string mixed_data(int ncase, int ncov) {
  std::string s;
  for (int j = 0; j < ncov; ++j) s += j % 4 == 3 ? "n " : "o ";
  s += "r\n";
  for (int j = 0; j < ncov; ++j) {
    s += 'v';
    s += std::to_string(j);
    s += ' ';
  }
  s += "y\n";
  unsigned x = 12345;
  for (int i = 0; i < ncase; ++i) {
    int signal = 0;
    for (int j = 0; j < ncov; ++j) {
      x = x * 1103515245u + 12345u;
      const int v = (x >> 16) % (j % 4 == 3 ? 5 : 40);
      if (j < 3) signal += v;
      s += (x >> 8) % 50 == 0 ? "NA " : std::to_string(v) + " ";
    }
    s += std::to_string(signal > 45 ? 1 : 2) + "\n";
  }
  return s;
}

std::string genotype_data(int ncase, int ncov) {
  std::string s = numbered_header(ncov, [](int j) { return j % 7 == 6 ? 'n' : 'o'; });
  unsigned x = 777;
  for (int i = 0; i < ncase; ++i) {
    int signal = 0;
    for (int j = 0; j < ncov; ++j) {
      x = x * 1103515245u + 12345u;
      const int v = (x >> 16) % 3;
      if (j < 2) signal += v;
      s += (x >> 8) % 40 == 0 ? "NA " : std::to_string(v) + " ";
    }
    s += std::to_string(signal >= 2 ? 1 : 0) + "\n";
  }
  return s;
}

// Runs a program once per thread count and expects the same files each time.
void expect_same_files(const char* exe, const std::string& data, std::vector<std::string> args,
                       const std::vector<std::string>& outputs) {
  std::vector<std::string> first;
  for (const char* threads : {"1", "2", "3"}) {
    ScratchDir dir;
    dir.write("d.txt", data);
    std::vector<std::string> a = args;
    a.insert(a.end(), {"-threads", threads});
    ProgramRun r = run_program(exe, a, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> files;
    for (const auto& name : outputs) files.push_back(dir.read(name));
    if (first.empty())
      first = files;
    else
      for (std::size_t k = 0; k < files.size(); ++k) EXPECT_EQ(files[k], first[k]) << outputs[k] << " " << threads;
  }
}

}  // namespace

TEST(WorkerPool, DefaultIsTheProcessorsThisProcessMayUse) {
  cpu_set_t set;
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  EXPECT_GE(default_threads(), 1);
  EXPECT_LE(default_threads(), CPU_COUNT(&set));
  // One processor allowed: one thread.
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int c = 0; c < CPU_SETSIZE; ++c)
    if (CPU_ISSET(c, &set)) {
      CPU_SET(c, &one);
      break;
    }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(default_threads(), 1);
  ASSERT_EQ(sched_setaffinity(0, sizeof set, &set), 0);
}

TEST(Threads, KestrelFilesDoNotDependOnThreads) {
    // Levels large enough to be searched on the pool (cases times candidates).
  expect_same_files(KESTREL_EXE, mixed_data(3000, 24),
                    {"-t", "d.txt", "-seed", "5", "-n", "6", "-perm", "2", "-minnode", "1", "-m", "12"},
                    {"d.txt.inf", "d.txt.importance"});
}

TEST(Threads, PloverFilesDoNotDependOnThreads) {
  expect_same_files(PLOVER_EXE, genotype_data(2000, 300), {"-t", "d.txt", "-seed", "5", "-n", "8", "-m", "20", "-p", "d.txt"},
                    {"d.txt.inf", "d.txt.importance", "d.txt.pre"});
}

TEST(Threads, WrenFilesDoNotDependOnThreads) {
  expect_same_files(WREN_EXE, mixed_data(400, 10), {"-t", "d.txt", "-o", "5", "-n", "2", "-p", "d.txt"},
                    {"d.txt.inf", "d.txt.count", "d.txt.pre"});
}
