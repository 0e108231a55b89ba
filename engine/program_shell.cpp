// The programs' main routine, input checks, output names and progress lines.
#include "program_shell.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fatal.hpp"

const char* const kMissingDataFile = "Data file %s does not exist!\n";

int program_main(const std::function<int()>& body) {
  remove_temporaries_on_stop_signals();
  return guarded_main(body);
}

InFile open_data_file(const std::string& path, const char* missing_format) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) fail(format(missing_format, path.c_str()));
    fail(format("Data file %s cannot be read: %s.\n", path.c_str(), std::strerror(errno)));
  }
  if (S_ISDIR(st.st_mode)) fail(format("Data file %s is a folder, not a file.\n", path.c_str()));
  if (!S_ISREG(st.st_mode))
    fail(format("Data file %s is not a regular file (a pipe or a device); a regular file is needed.\n",
                path.c_str()));
  InFile f(open_for_reading(path));
  if (!f) fail(format("Data file %s cannot be read: %s.\n", path.c_str(), std::strerror(errno)));
  return f;
}

void check_prediction_files(const std::vector<std::string>& files) {
  for (const std::string& name : files) open_data_file(name);
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
