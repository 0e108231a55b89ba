// Staged output files and the stop-signal handler that removes their temporaries.
#include "staged_outputs.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "fatal.hpp"
#include "outfile.hpp"

namespace forests {

// One staged file. Entries are never freed: the signal handler may walk the list at any
// moment, so an entry only changes from active to inactive and back, and is used again when
// the same path is staged again.
struct StagedFile {
  std::string given;        // the path as the program names it
  std::string destination;  // where it goes: the file a link points to
  std::string temp;
  const char* temp_name = nullptr;  // temp.c_str(), for the signal handler
  std::atomic<bool> active{false};
  StagedFile* next = nullptr;
};

namespace {

std::atomic<StagedFile*> staged_files{nullptr};
volatile sig_atomic_t committing = 0;
volatile sig_atomic_t pending_signal = 0;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

[[noreturn]] void cannot_write(const std::string& path, const char* message = kOverwriteMessage) {
  fail(format(message ? message : kOverwriteMessage, path.c_str()));
}

StagedFile* find_active(const std::string& given) {
  for (StagedFile* f = staged_files.load(); f; f = f->next)
    if (f->active.load() && f->given == given) return f;
  return nullptr;
}

// A hidden name beside the destination, unique to this process.
std::string temporary_name(const std::string& destination) {
  const std::size_t slash = destination.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : destination.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? destination : destination.substr(slash + 1);
  return folder + "." + name + "." + std::to_string(static_cast<long>(getpid())) + ".tmp";
}

StagedFile* entry_for(const std::string& given, const std::string& destination) {
  const std::string temp = temporary_name(destination);
  for (StagedFile* f = staged_files.load(); f; f = f->next)
    if (!f->active.load() && f->given == given && f->temp == temp && f->destination == destination) return f;
  auto* f = new StagedFile{given, destination, temp};
  f->temp_name = f->temp.c_str();
  f->next = staged_files.load();
  staged_files.store(f);
  return f;
}

// Creates the empty temporary, with the mode of the file it replaces (else the usual mode);
// false when the folder takes no new file.
bool create_temporary(const StagedFile& f, const struct stat* replaced) {
  int fd = open(f.temp_name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST) {  // left by an earlier process of the same number
    unlink(f.temp_name);
    fd = open(f.temp_name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  }
  if (fd < 0) return false;
  if (replaced) (void)fchmod(fd, replaced->st_mode & 07777);
  close(fd);
  return true;
}

// Checks `given` and stages it; nullptr for a destination that is written directly.
StagedFile* stage(const OutputPath& output) {
  const std::string& given = output.path;
  struct stat st;
  std::string destination = given;
  const bool exists = stat(given.c_str(), &st) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode)) cannot_write(given, output.cannot_write);
    if (!S_ISREG(st.st_mode)) return nullptr;
    const int fd = open(given.c_str(), O_WRONLY | O_CLOEXEC);  // protected?
    if (fd < 0) cannot_write(given, output.cannot_write);
    close(fd);
    if (char* real = realpath(given.c_str(), nullptr)) {
      destination = real;
      std::free(real);
    }
  } else if (errno != ENOENT) {
    cannot_write(given, output.cannot_write);
  }
  StagedFile* f = entry_for(given, destination);
  if (!create_temporary(*f, exists ? &st : nullptr)) {
    if (exists) return nullptr;  // a writable file in a folder that takes no new file: in place
    cannot_write(given, output.cannot_write);
  }
  f->active.store(true);
  return f;
}

void remove_temporary(StagedFile* f) {
  unlink(f->temp_name);
  f->active.store(false);
}

extern "C" void on_stop_signal(int sig) {
  if (committing) {  // the files are being moved into place: end once they are
    pending_signal = sig;
    return;
  }
  for (StagedFile* f = staged_files.load(); f; f = f->next)
    if (f->active.load()) unlink(f->temp_name);
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

StagedOutputs::StagedOutputs(const std::vector<OutputPath>& paths) {
  try {
    for (const OutputPath& output : paths) {
      if (find_active(output.path)) continue;  // named twice
      if (StagedFile* f = stage(output)) files_.push_back(f);
    }
  } catch (...) {
    for (StagedFile* f : files_) remove_temporary(f);
    throw;
  }
}

StagedOutputs::~StagedOutputs() {
  if (!committed_)
    for (StagedFile* f : files_) remove_temporary(f);
}

void StagedOutputs::commit() {
  committed_ = true;
  committing = 1;
  const StagedFile* failed = nullptr;
  for (StagedFile* f : files_) {
    if (std::rename(f->temp_name, f->destination.c_str()) != 0) {
      unlink(f->temp_name);
      if (!failed) failed = f;
    }
    f->active.store(false);
  }
  committing = 0;
  if (pending_signal) {
    signal(pending_signal, SIG_DFL);
    raise(pending_signal);
  }
  if (failed) cannot_write(failed->given);
}

std::string staged_path(const std::string& path) {
  const StagedFile* f = find_active(path);
  return f ? f->temp : path;
}

void remove_temporaries_on_stop_signals() {
  for (int sig : kStopSignals) {
    struct sigaction old {};
    sigaction(sig, nullptr, &old);
    if (old.sa_handler == SIG_IGN) continue;
    struct sigaction handler {};
    handler.sa_handler = on_stop_signal;
    sigemptyset(&handler.sa_mask);
    for (int other : kStopSignals) sigaddset(&handler.sa_mask, other);
    sigaction(sig, &handler, nullptr);
  }
}

void forget_staged_files() {
  const StopSignalsBlocked blocked;  // the handler runs on this thread only: it cannot be walking the list
  StagedFile* f = staged_files.exchange(nullptr);
  while (f) {
    StagedFile* next = f->next;
    delete f;
    f = next;
  }
}

StopSignalsBlocked::StopSignalsBlocked() {
  sigset_t block;
  sigemptyset(&block);
  for (int sig : kStopSignals) sigaddset(&block, sig);
  pthread_sigmask(SIG_BLOCK, &block, &saved_);
}

StopSignalsBlocked::~StopSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

}  // namespace forests
