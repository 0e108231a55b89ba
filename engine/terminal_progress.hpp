// A status line on standard error, kept up to date while the trees grow, for someone watching
// a terminal: the pass, the trees done out of all, trees per second and the time left. When
// standard error is not a terminal nothing is written.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace forests {

// The line's text: "pass 2/11  tree 300/1000  85.3 trees/s  1m 40s left" (npass 0: no pass).
// `done_all` and `all` count the trees of the whole run; `elapsed` is in seconds.
std::string progress_text(int pass, int npass, long long done_in_pass, long long per_pass, long long done_all,
                          long long all, double elapsed);

// "1h 02m", "3m 05s", "12s".
std::string duration_text(double seconds);

class TerminalProgress {
 public:
  // `all`: the trees of the whole run. The line is written to `terminal` when given, else to
  // standard error when that is a terminal.
  explicit TerminalProgress(long long all, std::FILE* terminal = nullptr);
  ~TerminalProgress();
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  // Passes of `per_pass` trees each, for runs that have them.
  void set_pass(int pass, int npass, long long per_pass);
  // One more tree; the line is redrawn at most five times a second, and at the last tree.
  void tree_done();
  // Takes the line away before a line goes to standard output, when that shares the terminal;
  // the next tree redraws it.
  void before_output();
  // Takes the line away for good.
  void finish();

 private:
  void draw();
  void clear();

  std::FILE* out_ = nullptr;  // nullptr: not a terminal, nothing to do
  bool shown_ = false;
  long long all_ = 0, done_ = 0, per_pass_ = 0, done_in_pass_ = 0;
  int pass_ = 0, npass_ = 0;
  std::chrono::steady_clock::time_point start_, drawn_;
};

}  // namespace forests
