// The status line of a growing forest on a terminal.
#include "terminal_progress.hpp"

#include <unistd.h>

#include "fatal.hpp"

namespace forests {

std::string duration_text(double seconds) {
  const long long s = static_cast<long long>(seconds + 0.5);
  if (s >= 3600) return format("%lldh %02lldm", s / 3600, s % 3600 / 60);
  if (s >= 60) return format("%lldm %02llds", s / 60, s % 60);
  return format("%llds", s);
}

std::string progress_text(int pass, int npass, long long done_in_pass, long long per_pass, long long done_all,
                          long long all, double elapsed) {
  std::string text = npass > 0 ? format("pass %d/%d  ", pass + 1, npass) : std::string();
  text += format("tree %lld/%lld", npass > 0 ? done_in_pass : done_all, npass > 0 ? per_pass : all);
  if (elapsed <= 0.0 || done_all == 0) return text;
  const double rate = done_all / elapsed;
  text += format("  %.1f trees/s", rate);
  if (done_all < all) text += "  " + duration_text((all - done_all) / rate) + " left";
  return text;
}

TerminalProgress::TerminalProgress(long long all, std::FILE* terminal)
    : out_(terminal ? terminal : (isatty(fileno(stderr)) ? stderr : nullptr)),
      all_(all),
      start_(std::chrono::steady_clock::now()),
      drawn_(start_) {}

TerminalProgress::~TerminalProgress() { finish(); }

void TerminalProgress::set_pass(int pass, int npass, long long per_pass) {
  pass_ = pass;
  npass_ = npass;
  per_pass_ = per_pass;
  done_in_pass_ = 0;
}

void TerminalProgress::tree_done() {
  ++done_;
  ++done_in_pass_;
  if (!out_) return;
  const auto now = std::chrono::steady_clock::now();
  if (shown_ && done_ < all_ && now - drawn_ < std::chrono::milliseconds(200)) return;
  drawn_ = now;
  draw();
}

void TerminalProgress::draw() {
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const std::string text = progress_text(pass_, npass_, done_in_pass_, per_pass_, done_, all_, elapsed);
  std::fprintf(out_, "\r%s\033[K", text.c_str());
  std::fflush(out_);
  shown_ = true;
}

void TerminalProgress::before_output() {
  // Standard output shares the screen with the line only when it is a terminal too.
  if (out_ && shown_ && isatty(fileno(stdout))) clear();
}

void TerminalProgress::clear() {
  if (!out_ || !shown_) return;
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
  shown_ = false;
}

void TerminalProgress::finish() {
  clear();
  out_ = nullptr;
}

}  // namespace forests
