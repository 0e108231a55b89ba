// Output files written under temporary names beside their destinations and moved into place
// only when the run completes, so that a run that fails or is stopped leaves earlier results
// as they were and no temporaries behind.
#pragma once

#include <signal.h>

#include <string>
#include <vector>

namespace forests {

// The outputs of one run. Staging checks every path in order and makes its empty temporary
// in the destination's folder: a path that cannot be created or an existing file that cannot
// be written stops at once with the over-write message. While staged, OutFile opens the
// temporary in place of the path. Destinations that are not regular files (/dev/null, a
// device), and writable files in a folder that takes no new file, are written directly.
struct OutputPath {
  OutputPath(std::string p, const char* message = nullptr) : path(std::move(p)), cannot_write(message) {}
  std::string path;
  const char* cannot_write;  // with %s for the path; by default the over-write message
};

class StagedOutputs {
 public:
  explicit StagedOutputs(const std::vector<OutputPath>& paths);
  ~StagedOutputs();  // removes the temporaries unless committed
  StagedOutputs(const StagedOutputs&) = delete;
  StagedOutputs& operator=(const StagedOutputs&) = delete;

  // Moves every temporary onto its destination, in the order staged.
  void commit();

 private:
  std::vector<struct StagedFile*> files_;
  bool committed_ = false;
};

// The file that an output of name `path` is written to: its temporary while staged.
std::string staged_path(const std::string& path);

// From now on SIGINT, SIGTERM and SIGHUP remove the temporaries of staged outputs and then end
// the process by the same signal (a signal ignored at start stays ignored). Worker threads
// leave these signals to the thread that calls this.
void remove_temporaries_on_stop_signals();

// Frees the record of staged files once no StagedOutputs is left (the end of a run), so that
// a finished run holds no memory.
void forget_staged_files();

// Blocks the stop signals in the calling thread while it lives (threads started meanwhile
// inherit the block).
class StopSignalsBlocked {
 public:
  StopSignalsBlocked();
  ~StopSignalsBlocked();
  StopSignalsBlocked(const StopSignalsBlocked&) = delete;
  StopSignalsBlocked& operator=(const StopSignalsBlocked&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace forests
