// A run that fails or is stopped never destroys the results of an earlier run: its outputs go
// to temporaries that only a completed run moves into place. And a worker thread that cannot
// be started leaves the same files as one thread.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "programs.hpp"

namespace {

// Every file of the folder but the captured streams, with its bytes (a link: its target).
std::map<std::string, std::string> folder_files(const ScratchDir& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (name == ".stdout" || name == ".stderr") continue;
    files[name] = entry.is_symlink() ? "-> " + std::filesystem::read_symlink(entry.path()).string() : dir.read(name);
  }
  return files;
}

bool has_temporary(const ScratchDir& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) return true;
  }
  return false;
}

// `ncov` ordinal genotypes of `ncase` cases, the class following the first.
std::string wide_data(int ncov, int ncase) {
  std::string s = numbered_header(ncov, [](int) { return 'o'; });
  for (int i = 0; i < ncase; ++i) {
    for (int j = 0; j < ncov; ++j) s += std::to_string((i * (j + 3) + j * j) % 3) + " ";
    s += (i % 3 == 0 ? "1\n" : "2\n");
  }
  return s;
}

struct Setting {
  std::string exe;
  std::vector<std::string> good;     // a short complete run
  std::vector<std::string> long_run;  // one that takes long enough to be stopped
  std::vector<std::string> failing;  // one that stops after the data are read
};

std::vector<Setting> settings() {
  return {
      {KESTREL_EXE,
       {"-t", "d.txt", "-seed", "1", "-n", "5", "-perm", "1"},
       {"-t", "d.txt", "-seed", "2", "-n", "2000000", "-perm", "1", "-threads", "1"},
       {"-t", "d.txt", "-seed", "2", "-n", "5", "-m", "99"}},
      {PLOVER_EXE,
       {"-t", "d.txt", "-seed", "1", "-n", "5", "-p", "p.txt"},
       {"-t", "d.txt", "-seed", "2", "-n", "2000000", "-p", "p.txt", "-threads", "1"},
       {"-t", "d.txt", "-seed", "2", "-n", "5", "-m", "99", "-p", "p.txt"}},
      {WREN_EXE,
       {"-t", "d.txt", "-o", "2", "-n", "2", "-p", "p.txt"},
       {"-t", "d.txt", "-o", "60", "-n", "60", "-p", "p.txt", "-threads", "1"},
       {"-t", "d.txt", "-o", "2", "-n", "2", "-p", "p.txt", "-p", "q.txt"}},
  };
}

// Starts `exe` in `dir` with its streams thrown away.
pid_t start_program(const std::string& exe, const std::vector<std::string>& args, const ScratchDir& dir) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(127);
    if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr)) _exit(127);
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

void prepare(const ScratchDir& dir) {
  dir.write("d.txt", wide_data(60, 90));
  dir.write("p.txt", wide_data(60, 10));
}

}  // namespace

TEST(KeptResults, StoppedBySigtermLeavesEarlierResultsAndNoTemporaries) {
  for (const Setting& s : settings()) {
    ScratchDir dir;
    prepare(dir);
    ASSERT_EQ(run_program(s.exe, s.good, dir).status, 0) << s.exe;
    const auto earlier = folder_files(dir);
    const pid_t pid = start_program(s.exe, s.long_run, dir);
    ASSERT_GT(pid, 0);
    // Stopped while its temporaries are being written.
    for (int k = 0; k < 2000 && !has_temporary(dir); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(has_temporary(dir)) << s.exe;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << s.exe;
    EXPECT_EQ(folder_files(dir), earlier) << s.exe;
  }
}

TEST(KeptResults, FailingRerunLeavesEarlierResultsAndNoTemporaries) {
  for (const Setting& s : settings()) {
    ScratchDir dir;
    prepare(dir);
    ASSERT_EQ(run_program(s.exe, s.good, dir).status, 0) << s.exe;
    const auto earlier = folder_files(dir);
    const ProgramRun r = run_program(s.exe, s.failing, dir);
    EXPECT_EQ(r.status, 255) << s.exe;
    EXPECT_FALSE(r.err.empty()) << s.exe;
    EXPECT_EQ(folder_files(dir), earlier) << s.exe;
  }
}

TEST(KeptResults, FailedWriteAtTheEndLeavesEarlierResults) {
  // The .pre file goes to a full device, written directly: the run fails after the others are
  // complete, and they stay as the earlier run left them.
  for (const Setting& s : settings()) {
    if (s.exe == KESTREL_EXE) continue;
    ScratchDir dir;
    prepare(dir);
    std::vector<std::string> args = s.good;
    ASSERT_EQ(run_program(s.exe, args, dir).status, 0) << s.exe;
    std::filesystem::remove(dir.file("p.txt.pre"));
    std::filesystem::create_symlink("/dev/full", dir.file("p.txt.pre"));
    const auto earlier = folder_files(dir);
    const ProgramRun r = run_program(s.exe, args, dir);
    EXPECT_EQ(r.status, 255) << s.exe;
    EXPECT_EQ(r.err, "Cannot over-write to file p.txt.pre. It seems protected.\n") << s.exe;
    EXPECT_EQ(folder_files(dir), earlier) << s.exe;
  }
}

TEST(KeptResults, SuccessfulRerunReplacesTheFilesAndKeepsTheirMode) {
  ScratchDir dir;
  prepare(dir);
  const Setting s = settings()[1];
  ASSERT_EQ(run_program(s.exe, s.good, dir).status, 0);
  const auto first = folder_files(dir);
  std::filesystem::permissions(dir.file("d.txt.inf"), std::filesystem::perms::owner_read |
                                                          std::filesystem::perms::owner_write |
                                                          std::filesystem::perms::group_read);
  ASSERT_EQ(run_program(s.exe, s.good, dir).status, 0);
  EXPECT_EQ(folder_files(dir), first);
  EXPECT_EQ(std::filesystem::status(dir.file("d.txt.inf")).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
}

TEST(KeptResults, ThreadsThatCannotStartAreDoneWithout) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's memory map does not fit the address-space limit";
#endif
  for (const Setting& s : settings()) {
    ScratchDir dir;
    prepare(dir);
    std::vector<std::string> args = s.good;
    args.insert(args.end(), {"-threads", "1"});
    ASSERT_EQ(run_program(s.exe, args, dir).status, 0) << s.exe;
    const auto one_thread = folder_files(dir);
    // Stacks of 200 MB in 1 GB of address space: a few of the 64 threads start.
    args.back() = "64";
    std::vector<std::string> limited{"-c", "ulimit -s 200000 && ulimit -v 1000000 && exec \"$0\" \"$@\"", s.exe};
    limited.insert(limited.end(), args.begin(), args.end());
    const ProgramRun r = run_program("/bin/sh", limited, dir);
    EXPECT_EQ(r.status, 0) << s.exe << ": " << r.err;
    EXPECT_EQ(folder_files(dir), one_thread) << s.exe;
  }
}

TEST(KeptResults, WritableFilesInAFolderThatTakesNoNewFileAreWrittenInPlace) {
  if (geteuid() == 0) GTEST_SKIP() << "the superuser writes into every folder";
  ScratchDir dir;
  prepare(dir);
  const Setting s = settings()[0];
  ASSERT_EQ(run_program(s.exe, s.good, dir).status, 0);
  const auto first = folder_files(dir);
  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
  const ProgramRun r = run_program(s.exe, s.good, dir);
  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(folder_files(dir), first);
}
