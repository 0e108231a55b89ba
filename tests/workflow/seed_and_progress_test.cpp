// Runs seeded from the clock tell their seed and can be repeated with it; a terminal on
// standard error gets a progress line that changes nothing else.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "run_program.hpp"
#include "terminal_progress.hpp"
#include "workflow_data.hpp"

using namespace forests;

namespace {

// The run with standard error on a pseudo-terminal: what the terminal showed.
ProgramRun run_on_terminal(const std::string& exe, const std::vector<std::string>& args, const ScratchDir& dir) {
  ProgramRun r;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return r;
  const std::string slave_name = ptsname(master);
  const pid_t child = fork();
  if (child == 0) {
    const int slave = open(slave_name.c_str(), O_RDWR | O_NOCTTY);
    const int out = open(dir.file(".stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    if (slave < 0 || out < 0 || in < 0 || chdir(dir.path().c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(slave, 2);
    close(master);
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  char buf[4096];
  for (ssize_t got; (got = read(master, buf, sizeof buf)) > 0;) r.err.append(buf, got);
  int raw = 0;
  waitpid(child, &raw, 0);
  close(master);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = dir.read(".stdout");
  return r;
}

}  // namespace

TEST(ProgressLine, Texts) {
  EXPECT_EQ(duration_text(12.4), "12s");
  EXPECT_EQ(duration_text(185), "3m 05s");
  EXPECT_EQ(duration_text(3720), "1h 02m");
  EXPECT_EQ(progress_text(0, 0, 0, 0, 0, 100, 0.0), "tree 0/100");
  EXPECT_EQ(progress_text(0, 0, 25, 0, 25, 100, 5.0), "tree 25/100  5.0 trees/s  15s left");
  EXPECT_EQ(progress_text(1, 11, 300, 1000, 1300, 11000, 10.0), "pass 2/11  tree 300/1000  130.0 trees/s  1m 15s left");
  EXPECT_EQ(progress_text(10, 11, 1000, 1000, 11000, 11000, 10.0), "pass 11/11  tree 1000/1000  1100.0 trees/s");
}

TEST(ProgressLine, DrawnOnATerminalAndClearedAtTheEnd) {
  struct Case {
    const char* exe;
    std::string data;
    std::vector<std::string> args;
    std::string last;
  };
  const std::vector<Case> cases{
      {KESTREL_EXE, kestrel_data(), {"-t", "d.txt", "-n", "4", "-perm", "2", "-seed", "3"}, "pass 3/3  tree 4/4"},
      {PLOVER_EXE, plover_data(), {"-t", "d.txt", "-n", "12", "-seed", "3"}, "tree 12/12"},
      {WREN_EXE, wren_data(), {"-t", "d.txt", "-o", "2", "-n", "2"}, "tree 8/8"},
  };
  for (const Case& c : cases) {
    ScratchDir plain, terminal;
    plain.write("d.txt", c.data);
    terminal.write("d.txt", c.data);
    const ProgramRun without = run_program(c.exe, c.args, plain);
    const ProgramRun with = run_on_terminal(c.exe, c.args, terminal);
    ASSERT_EQ(without.status, 0) << without.err;
    ASSERT_EQ(with.status, 0) << with.err;
    EXPECT_EQ(without.err, "");
    EXPECT_EQ(masked_times(with.out), masked_times(without.out)) << c.exe;
    EXPECT_NE(with.err.find("\r" + c.last), std::string::npos) << with.err;
    EXPECT_EQ(with.err.substr(with.err.size() - 4), "\r\033[K") << c.exe;
    EXPECT_EQ(with.err.find('\n'), std::string::npos) << c.exe;
    EXPECT_EQ(terminal.read("d.txt.inf"), plain.read("d.txt.inf"));
  }
}

TEST(RandomSeed, ToldWhenDrawnAndRepeatsTheRun) {
  struct Case {
    const char* exe;
    std::string data;
    std::vector<std::string> args;
  };
  const std::vector<Case> cases{
      {KESTREL_EXE, kestrel_data(), {"-t", "d.txt", "-n", "3", "-perm", "2"}},
      {PLOVER_EXE, plover_data(), {"-t", "d.txt", "-n", "5"}},
  };
  for (const Case& c : cases) {
    ScratchDir drawn, repeated;
    drawn.write("d.txt", c.data);
    repeated.write("d.txt", c.data);
    const ProgramRun first = run_program(c.exe, c.args, drawn);
    ASSERT_EQ(first.status, 0) << first.err;
    std::smatch m;
    const std::string line = lines_of(first.out).at(0);
    ASSERT_TRUE(std::regex_match(line, m, std::regex(R"(Random seed: (\d+) \(add -seed (\d+) to repeat this run\))")))
        << line;
    EXPECT_EQ(m[1], m[2]);
    std::vector<std::string> again = c.args;
    again.insert(again.end(), {"-seed", m[1]});
    const ProgramRun second = run_program(c.exe, again, repeated);
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(masked_times(second.out), masked_times(first.out.substr(line.size() + 1)));  // no seed line
    EXPECT_EQ(repeated.read("d.txt.inf"), drawn.read("d.txt.inf"));
    EXPECT_EQ(repeated.read("d.txt.importance"), drawn.read("d.txt.importance"));
  }
}
