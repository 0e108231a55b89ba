// The programs' main routine, input checks, output names and progress lines.
#include "program_shell.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fatal.hpp"

namespace forests {

const char* const kMissingDataFile = "Data file %s does not exist!\n";

int program_main(const std::function<int()>& body) {
  remove_temporaries_on_stop_signals();
  const int status = guarded_main(body);
  forget_staged_files();
  return status;
}

const char* const kStandardInput = "-";

namespace {

[[noreturn]] void unreadable(const std::string& path) {
  fail(format("Data file %s cannot be read: %s.\n", path.c_str(), std::strerror(errno)));
}

// Stops unless the path is a regular file or a pipe; true for a pipe.
bool check_data_path(const std::string& path, const char* missing_format) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) fail(format(missing_format, path.c_str()));
    unreadable(path);
  }
  if (S_ISDIR(st.st_mode)) fail(format("Data file %s is a folder, not a file.\n", path.c_str()));
  if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode))
    fail(format("Data file %s is not a regular file or a pipe (a device); a file is needed.\n", path.c_str()));
  return S_ISFIFO(st.st_mode);
}

}  // namespace

InFile open_data_file(const std::string& path, const char* missing_format) {
  if (path == kStandardInput) {
    const int fd = dup(fileno(stdin));  // closing the data file leaves standard input open
    InFile f(fd >= 0 ? fdopen(fd, "rb") : nullptr);
    if (!f) unreadable("(standard input)");
    return f;
  }
  check_data_path(path, missing_format);
  InFile f(open_for_reading(path));
  if (!f) unreadable(path);
  return f;
}

void check_prediction_files(const std::vector<std::string>& files) {
  for (const std::string& name : files) {
    if (!check_data_path(name, kMissingDataFile))
      open_data_file(name);
    else if (access(name.c_str(), R_OK) != 0)
      unreadable(name);
  }
}

std::string OutputNames::for_file(const std::string& file, const char* suffix) const {
  if (!from_prefix) return file + suffix;
  return base + "." + file.substr(file.find_last_of('/') + 1) + suffix;
}

std::vector<OutputPath> run_outputs(const std::vector<std::string>& training_outputs,
                                    const std::vector<std::string>& prediction_files, const OutputNames& names) {
  std::vector<OutputPath> outputs(training_outputs.begin(), training_outputs.end());
  for (const std::string& f : prediction_files)
    outputs.emplace_back(names.for_file(f, ".pre"), "Cannot over-write to file %s. It seems protected.");
  return outputs;
}

void print_tree_progress(const ProgressRule& rule, int ntree, int done, double seconds, TerminalProgress* line) {
  if (line && (ntree < 10 || done % rule.every == 0)) line->before_output();
  if (ntree < 10)
    std::printf("Number of trees completed: %d.\t\tRunning time: %fs\n", done, seconds);
  else if (done % rule.every == 0)
    std::printf("Number of trees completed: %d.%sRunning time: %fs\n", done, rule.gap, seconds);
  if (line) line->tree_done();
}

}  // namespace forests
