// Threads change nothing but the time: every program writes the same files with one thread
// and with several.
#include <gtest/gtest.h>

#include <sched.h>

#include <atomic>

#include "parallel.hpp"
#include "run_program.hpp"

using namespace forests;

TEST(WorkerPool, RunsEveryTaskOnceAndPassesErrorsOn) {
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
  WorkerPool pool(2);
  for (int round = 0; round < 50; ++round) {
    // A job that waits until the run after it is over: the run must finish without its worker.
    std::atomic<bool> release{false};
    std::atomic<int> jobs{0};
    pool.post([&](int) {
      while (!release) cpu_relax();
      ++jobs;
    });
    std::atomic<int> tasks{0};
    pool.run(100, [&](int, int) { ++tasks; });
    EXPECT_EQ(tasks.load(), 100);
    release = true;
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
